// The simulated RF5550 tag: what the reader answers to each command as the
// tag's password, configuration, locks and wake state allow.
#include <gtest/gtest.h>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"
#include "rf5550/rf5550_module.h"

namespace {
// clang-format off

using namespace simtest;
namespace st = readersim::status;
const std::string kPw = "12345678", kWrong = "12345679", kNoPw = "00000000";
// A tag with the test password in block 7, 33 33 33 33 in block 3 and the
// given configuration byte.
std::string tag(const char* config) {
  const std::string z = " 00000000";
  return std::string("rf5550 insert ") + config + "000000" + z + z + " 33333333" + z + z + z + " " +
         kPw;
}
std::string write(const std::string& pw, const char* rest) { return pw + rest; }

TEST(Rf5550Tag, FactoryTagAndMalformedCommands) {
  readersim::rf5550::Rf5550Module m;
  std::vector<Step> steps = {{0x64, "00", 0, "E7000000"}};
  for (int b = 1; b <= 7; ++b) {  // no password mode: any password writes
    const std::string data = toHex({std::uint8_t(b), 0xA5, 0x5A, 0xFF});
    steps.push_back(
        {0x65, (b == 7 ? kNoPw : kWrong) + toHex({std::uint8_t(b)}) + data + "00", 0, data});
    steps.push_back({0x64, toHex({std::uint8_t(b)}), 0, data});
  }
  steps.insert(steps.end(), {
    {0x64, "", st::kWrongLength, ""}, {0x64, "0102", st::kWrongLength, ""}, {0x65, "000000000000000000",
     st::kWrongLength, ""},
    {0x66, "0000000000", st::kWrongLength, ""}, {0x67, "000000", st::kWrongLength, ""}, {0x68, "00000000",
     st::kWrongLength, ""},
    {0x69, "0000000000000000000000", st::kWrongLength, ""}, {0x64, "08", st::kRf5550BadBlock, ""},
    {0x64, "FF", st::kRf5550BadBlock, ""}, {0x65, "00000000080102030400", st::kRf5550BadBlock, ""},
    {0x67, "01010101", st::kRf5550WrongPassword, ""},
    {-1, "rf5550 remove", 0, ""}, {0x64, "01", st::kRf5550NoTag, ""}, {0x65, std::string(20, '0'), st::kRf5550NoTag,
     ""},
    {0x66, std::string(12, '0'), st::kRf5550NoTag, ""}, {0x67, kNoPw, st::kRf5550NoTag, ""},
    {0x68, std::string(10, '0'), st::kRf5550NoTag, ""}, {0x69, std::string(20, '0'), st::kRf5550NoTag, ""},
  });
  play(m, steps);
}

TEST(Rf5550Tag, PasswordWakeMaxBlockAndLocks) {
  readersim::rf5550::Rf5550Module m;
  play(m, {
    {-1, tag("F7"), 0, "rf5550:"},  // max block 7, password mode
    {0x65, write(kWrong, "030909090900"), st::kRf5550WrongPassword, ""}, {0x64, "03", 0, "33333333"},
    {0x66, write(kWrong, "E700"), st::kRf5550WrongPassword, ""}, {0x64, "00", 0, "F7*"},
    {0x64, "07", st::kRf5550ReadProtected, ""}, {0x68, write(kWrong, "07"), st::kRf5550WrongPassword, ""},
    {0x68, write(kPw, "07"), 0, kPw}, {0x65, write(kPw, "030909090900"), 0, "09090909"}, {0x64, "03", 0, "09090909"},
    // Changing the password: the old one no longer opens the tag.
    {0x65, write(kPw, "070102030400"), 0, "*"}, {0x65, write(kPw, "030808080800"), st::kRf5550WrongPassword, ""},
    {0x65, "01020304030808080800", 0, "*"},
    // Leaving password mode makes the password block readable again.
    {0x66, "01020304E700", 0, ""}, {0x64, "07", 0, "01020304"},

    {-1, tag("EF"), 0, ""},  // max block 7, wake mode: silent until woken with its password
    {0x64, "03", st::kRf5550NoTag, ""}, {0x65, write(kPw, "030101010100"), st::kRf5550NoTag, ""},
    {0x66, write(kPw, "E700"), st::kRf5550NoTag, ""}, {0x67, kWrong, st::kRf5550WrongPassword, ""},
    {0x64, "03", st::kRf5550NoTag, ""}, {0x67, kPw, 0, ""}, {0x64, "03", 0, "33333333"},
    // Out of the field and back: asleep again; wake-and-write wakes it on its own.
    {-1, "rf5550 remove", 0, ""}, {0x67, kPw, st::kRf5550NoTag, ""}, {-1, "rf5550 insert", 0, ""},
    {0x64, "03", st::kRf5550NoTag, ""}, {0x69, write(kWrong, "030404040400"), st::kRf5550WrongPassword, ""},
    {0x69, write(kPw, "030404040400"), 0, "04040404"}, {0x64, "03", 0, "04040404"},

    {-1, tag("27"), 0, ""},  // max block 1
    {0x64, "00", 0, "*"}, {0x64, "01", 0, "*"}, {0x64, "02", st::kRf5550BadBlock, ""},
    {0x68, write(kPw, "03"), st::kRf5550BadBlock, ""}, {0x65, write(kPw, "030505050500"), 0, "*"},
    {0x66, write(kPw, "6700"), 0, ""}, {0x64, "03", 0, "05050505"},  // max block 3
    // Bit 0 of the option locks a block, and the configuration block.
    {0x66, write(kPw, "E700"), 0, ""}, {0x65, write(kPw, "020102030401"), 0, "*"},
    {0x65, write(kPw, "020506070800"), st::kRf5550Locked, ""}, {0x69, write(kPw, "020506070800"), st::kRf5550Locked,
     ""},
    {0x64, "02", 0, "01020304"}, {0x65, write(kPw, "030506070802"), 0, "*"},  // bit 0 only
    {0x65, write(kPw, "030506070900"), 0, "*"}, {0x66, write(kPw, "E701"), 0, ""},
    {0x66, write(kPw, "F700"), st::kRf5550Locked, ""}, {0x64, "00", 0, "E7*"},
  });
}

TEST(Rf5550Tag, ControlWordsThroughTheSimulator) {
  auto sim = readersim::makeStandardSimulator();
  auto* m = sim->find<readersim::rf5550::Rf5550Module>();
  ASSERT_NE(m, nullptr);
  std::string out;
  ASSERT_TRUE(sim->control(
      words(
          "rf5550 insert 3F000000 01020304 00000000 00000000 00000000 00000000 00000000 AABBCCDD"),
      out));
  EXPECT_TRUE(matches("~config 3F", out) && matches("~password mode on", out)) << out;
  play(*m, {
    {0x67, "AABBCCDD", 0, ""}, {0x64, "01", 0, "01020304"}, {0x64, "02", st::kRf5550BadBlock, ""},  // max block 1
    {-1, "rf5550 remove", 0, ""}, {-1, "rf5550 show", 0, "rf5550: no tag in field"},
    {-1, "rf5550 insert", 0, ""}, {0x67, "AABBCCDD", 0, ""}, {0x64, "01", 0, "01020304"},  // the same tag
    {-1, "rf5550 insert new", 0, ""}, {0x64, "00", 0, "E7000000"},
    {-1, "rf5550 insert 1 2", 0, "error:"}, {-1,
     "rf5550 insert XX000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000", 0, "error:"},
    {-1, "rf5550 fly", 0, "error:"},
  });
  EXPECT_NE(sim->help().find("rf5550 insert"), std::string::npos);
}

// clang-format on
}  // namespace
