// A value command is carried out by the reader at most once per call: after a
// link error that came once its frame was on the line, the call relinks and
// returns the error without sending the command again; before that, the
// command is repeated as every Mifare command is.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "e2e.h"

namespace {

struct Command {
  const char* hex;  // command byte as the fault filter takes it
  const char* name;
  bool oneShot;  // by serial (block, serial, value in/out), or on the selected card
  int delta;     // what one run does to the purse
};

const Command kCommands[] = {{"B1", "RFMifare_IncrementValue", true, 50},
                             {"B2", "RFMifare_DecrementValue", true, -30},
                             {"BB", "RFMifare_Increment", false, 50},
                             {"BC", "RFMifare_Decrment", false, -30}};

class ValueOnce : public e2e::LinkedReaderTest, public ::testing::WithParamInterface<Command> {
 protected:
  readersim::Options options() override {
    readersim::Options o;
    o.log = [this](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mu);
      if (line.find(std::string(" cmd ") + GetParam().hex + " [") != std::string::npos) ++frames;
    };
    return o;
  }
  std::mutex mu;
  int frames = 0;  // command frames of the parameter's command the reader took
};

TEST_P(ValueOnce, RepeatedOnlyWhenTheReaderCannotHaveActed) {
  const Command& c = GetParam();
  const unsigned char serialBytes[4] = {0x12, 0x34, 0x56, 0x78};
  int serial = 0;
  std::memcpy(&serial, serialBytes, 4);
  const struct {
    std::string fault;
    int want, carriedOut;
  } cases[] = {
      {"noack cmd=", 108, 0},       {"wrongack cmd=", 109, 1},  {"nostatus cmd=", 111, 1},
      {"nolength cmd=", 112, 1},    {"shortdata cmd=", 113, 1}, {"nochecksum cmd=", 114, 1},
      {"badchecksum cmd=", 115, 1}, {"silent", 0, 1},           {"wrongready", 0, 1},
  };
  for (const auto& k : cases) {
    int purse = 100;
    ASSERT_EQ(fn<int(int, int, int*)>("RFMifare_WriteValue")(4, serial, &purse), 0);
    {
      const std::lock_guard<std::mutex> lock(mu);
      frames = 0;
    }
    fault(k.fault + (k.fault.back() == '=' ? c.hex : ""));
    int amount = std::abs(c.delta);
    const int st = c.oneShot ? fn<int(int, int, int*)>(c.name)(4, serial, &amount)
                             : fn<int(int, int)>(c.name)(4, amount);
    EXPECT_EQ(st, k.want) << c.hex << " " << k.fault;
    ASSERT_EQ(fn<int(int, int, int*)>("RFMifare_ReadValue")(4, serial, &purse), 0);
    EXPECT_EQ(purse, 100 + k.carriedOut * c.delta) << c.hex << " " << k.fault;
    const std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(frames, 1) << c.hex << " " << k.fault;  // sent once, never again
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, ValueOnce, ::testing::ValuesIn(kCommands),
                         [](const auto& p) { return std::string(p.param.hex); });

}  // namespace
