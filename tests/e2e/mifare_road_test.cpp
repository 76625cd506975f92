// Mifare cards through the shared library, as a caller sees them, against the
// simulated reader on a pty: the test bench's typical road, then the one-shot
// commands that name the card by serial.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "core/status.h"
#include "e2e.h"
#include "mifare/mifare_module.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace st = readersim::status;

class MifareRoad : public e2e::LinkedReaderTest {
 protected:
  int serialInt(const unsigned char* s) {
    int v;
    std::memcpy(&v, s, 4);
    return v;
  }
  readersim::mifare::CardState cardState() {
    std::lock_guard<std::mutex> lk(sim->mutex());
    return sim->find<readersim::MifareModule>()->card({0x12, 0x34, 0x56, 0x78})->state();
  }
};

const unsigned char kTransport[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

TEST_F(MifareRoad, TypicalRoadThenOneShotCommands) {
  auto request = fn<int(int, unsigned char*)>("RFMifare_Request");
  auto antiColl = fn<int(unsigned char*)>("RFMifare_AntiColl");
  auto select = fn<int(int)>("RFMifare_Select");
  auto loadKey = fn<int(int, int, const unsigned char*)>("RFMifare_LoadKey");
  auto auth = fn<int(int, int, int)>("RFMifare_Authentication");
  auto read = fn<int(int, unsigned char*)>("RFMifare_Read");
  auto write = fn<int(int, const unsigned char*)>("RFMifare_Write");
  auto increment = fn<int(int, int)>("RFMifare_Increment");
  auto readValue = fn<int(int, int, int*)>("RFMifare_ReadValue");
  auto writeValue = fn<int(int, int, int*)>("RFMifare_WriteValue");
  auto halt = fn<int()>("RFMifare_Halt");
  auto mcmno = fn<int(unsigned char*)>("RFMifare_Mcmno");

  unsigned char info[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(mcmno(info), 0);
  EXPECT_EQ(Bytes(info, info + 4), Bytes({17, 0, 0, 0}));

  unsigned char type[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(request(1, type), 0);
  EXPECT_EQ(Bytes(type, type + 4), Bytes({4, 0, 0, 0}));
  unsigned char serial4[4] = {};
  ASSERT_EQ(antiColl(serial4), 0);
  EXPECT_EQ(Bytes(serial4, serial4 + 4), Bytes({0x12, 0x34, 0x56, 0x78}));
  ASSERT_EQ(select(serialInt(serial4)), 0);
  ASSERT_EQ(loadKey(0, 1, kTransport), 0);
  ASSERT_EQ(auth(0, 1, 7), 0);
  EXPECT_EQ(cardState(), readersim::mifare::CardState::Authenticated);

  unsigned char data[16];
  ASSERT_EQ(read(5, data), 0);
  EXPECT_EQ(Bytes(data, data + 16), Bytes(16, 0));
  const unsigned char text[16] = {'O', 'R', 'V', 'I', 'X', ' ', 'b', 'l',
                                  'o', 'c', 'k', ' ', 'f', 'i', 'v', 'e'};
  ASSERT_EQ(write(5, text), 0);
  ASSERT_EQ(read(5, data), 0);
  EXPECT_EQ(Bytes(data, data + 16), Bytes(text, text + 16));

  int value = -250;
  ASSERT_EQ(writeValue(6, serialInt(serial4), &value), 0);
  EXPECT_EQ(value, -250);
  ASSERT_EQ(increment(6, 1000), 0);
  value = 0;
  ASSERT_EQ(readValue(6, serialInt(serial4), &value), 0);
  EXPECT_EQ(value, 750);

  ASSERT_EQ(halt(), 0);
  EXPECT_EQ(cardState(), readersim::mifare::CardState::Halted);
  // The halted card is gone for the card's own commands; the output takes
  // what the last response left (the value 750 = EE 02 00 00).
  std::memset(data, 0xAA, sizeof data);
  EXPECT_EQ(read(5, data), st::kMifareNoCard);
  EXPECT_EQ(Bytes(data, data + 4), Bytes({0xEE, 0x02, 0x00, 0x00}));
  EXPECT_EQ(request(0, type), st::kMifareNoCard);
  EXPECT_EQ(request(1, type), 0);

  // One-shot commands wake the card and name it by serial.
  auto readBlock = fn<int(int, int, unsigned char*)>("RFMifare_ReadBlock");
  auto writeBlock = fn<int(int, int, unsigned char*)>("RFMifare_WriteBlock");
  auto incrementValue = fn<int(int, int, int*)>("RFMifare_IncrementValue");
  auto decrementValue = fn<int(int, int, int*)>("RFMifare_DecrementValue");
  const int serial = serialInt(serial4);

  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xF0 + i);
  ASSERT_EQ(writeBlock(9, serial, data), 0);
  unsigned char back[16] = {};
  ASSERT_EQ(readBlock(9, serial, back), 0);
  EXPECT_EQ(Bytes(back, back + 16), Bytes(data, data + 16));

  value = 100;
  ASSERT_EQ(writeValue(10, serial, &value), 0);
  value = 50;
  ASSERT_EQ(incrementValue(10, serial, &value), 0);
  EXPECT_EQ(value, 150);
  value = 400;
  ASSERT_EQ(decrementValue(10, serial, &value), 0);
  EXPECT_EQ(value, -250);

  const unsigned char wrong[4] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(readBlock(9, serialInt(wrong), back), st::kMifareWrongSerial);
  std::string out;
  ASSERT_TRUE(sim->control({"mifare", "remove"}, out));
  EXPECT_EQ(readBlock(9, serial, back), st::kMifareNoCard);
}

}  // namespace
