// RF5550 tags through the shared library, as a caller sees them, against the
// simulated reader on a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/status.h"
#include "e2e.h"
#include "rf5550/rf5550_module.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace st = readersim::status;

class Rf5550Flow : public e2e::LinkedReaderTest {
 protected:
  std::uint8_t configOnTag() {
    std::lock_guard<std::mutex> lk(sim->mutex());
    return sim->find<readersim::rf5550::Rf5550Module>()->tag().config();
  }
};

const unsigned char kFactory[4] = {0, 0, 0, 0};
const unsigned char kSecret[4] = {0xC0, 0xFF, 0xEE, 0x42};

TEST_F(Rf5550Flow, PlainReadWriteThenPasswordAndWakeModes) {
  using WriteBlk = int(int, const unsigned char*, unsigned char*, int);
  auto* readBlk = lib->fn<int(int, unsigned char*)>("RF5550_ReadBlk");
  auto* writeBlk = lib->fn<WriteBlk>("RF5550_WriteBlk");
  auto* writeAfterWake = lib->fn<WriteBlk>("RF5550_WriteAfterWake");
  auto* init = lib->fn<int(const int*, const unsigned char*, int)>("RF5550_Init");
  auto* wake = lib->fn<int(const unsigned char*)>("RF5550_Wake");
  auto* readAfterWake =
      lib->fn<int(int, const unsigned char*, unsigned char*)>("RF5550_ReadAfterWake");
  auto* mcmno = lib->fn<int(unsigned char*)>("RF5550_Mcmno");

  unsigned char number[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(mcmno(number), 0);
  EXPECT_EQ(Bytes(number, number + 4), Bytes({17, 0, 0, 0}));

  unsigned char data[4] = {0x10, 0x20, 0x30, 0x40};
  ASSERT_EQ(writeBlk(5, kFactory, data, 0), 0);
  EXPECT_EQ(Bytes(data, data + 4), Bytes({0x10, 0x20, 0x30, 0x40}));
  unsigned char buffer[255] = {};
  ASSERT_EQ(readBlk(5, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes({0x10, 0x20, 0x30, 0x40}));

  // Block 0 is refused before anything reaches the reader; -1 writes it.
  const auto before = sim->exchanges();
  EXPECT_EQ(writeBlk(0, kFactory, data, 0), 4);
  EXPECT_EQ(sim->exchanges(), before);
  unsigned char config[4] = {0x67, 0xAB, 0xCD, 0xEF};
  ASSERT_EQ(writeBlk(-1, kFactory, config, 0), 0);
  EXPECT_EQ(configOnTag(), 0x67);
  EXPECT_EQ(readBlk(6, buffer), st::kRf5550BadBlock);  // max block is 3 now

  // Password mode, then wake mode.
  unsigned char password[4] = {kSecret[0], kSecret[1], kSecret[2], kSecret[3]};
  ASSERT_EQ(writeBlk(7, kFactory, password, 0), 0);
  // Item 3 turns password mode on, item 9 = 7 keeps every block readable.
  const int passwordMode[10] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 7};
  ASSERT_EQ(init(passwordMode, kSecret, 0), 0);
  EXPECT_EQ(configOnTag(), 0xF7);

  std::memcpy(data, "\1\2\3\4", 4);
  EXPECT_EQ(writeBlk(2, kFactory, data, 0), st::kRf5550WrongPassword);
  EXPECT_EQ(Bytes(data, data + 4), Bytes({1, 2, 3, 4}));
  ASSERT_EQ(writeBlk(2, kSecret, data, 0), 0);

  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  EXPECT_EQ(readBlk(7, buffer), st::kRf5550ReadProtected);
  EXPECT_EQ(buffer[0], 0xEE);
  ASSERT_EQ(readAfterWake(7, kSecret, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 5), Bytes({0xC0, 0xFF, 0xEE, 0x42, 0xEE}));

  // Item 0 adds wake mode: after leaving the field the tag is silent until
  // woken with its password.
  const int wakeMode[10] = {1, 0, 0, 1, 0, 0, 0, 0, 0, 7};
  ASSERT_EQ(init(wakeMode, kSecret, 0), 0);
  EXPECT_EQ(configOnTag(), 0xFF);
  control({"rf5550", "remove"});
  EXPECT_EQ(readBlk(2, buffer), st::kRf5550NoTag);
  control({"rf5550", "insert"});
  EXPECT_EQ(readBlk(2, buffer), st::kRf5550NoTag);
  EXPECT_EQ(wake(kFactory), st::kRf5550WrongPassword);
  ASSERT_EQ(wake(kSecret), 0);
  ASSERT_EQ(readBlk(2, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes({1, 2, 3, 4}));

  control({"rf5550", "insert"});
  unsigned char update[4] = {9, 8, 7, 6};
  ASSERT_EQ(writeAfterWake(2, kSecret, update, 0), 0);
  EXPECT_EQ(Bytes(update, update + 4), Bytes({9, 8, 7, 6}));
  ASSERT_EQ(readBlk(2, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes({9, 8, 7, 6}));
}

}  // namespace
