// The simulated RF5550 tag: what the reader answers to each command as the
// tag's password, configuration, locks and wake state allow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/simulator.h"
#include "core/status.h"
#include "core_host.h"
#include "rf5550/rf5550_module.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using readersim::Reply;
using readersim::rf5550::Rf5550Module;
using readersim::rf5550::Tag;
using simtest::cat;
namespace st = readersim::status;

const Bytes kPassword{0x12, 0x34, 0x56, 0x78};
const Bytes kWrong{0x12, 0x34, 0x56, 0x79};

class Rf5550Tag : public ::testing::Test {
 protected:
  Reply run(std::uint8_t cmd, const Bytes& data) { return m.execute(cmd, data); }
  Reply read(int block) { return run(0x64, {static_cast<std::uint8_t>(block)}); }
  Reply readAfterWake(const Bytes& pw, int block) {
    return run(0x68, cat(pw, {static_cast<std::uint8_t>(block)}));
  }
  Reply write(const Bytes& pw, int block, const Bytes& data, int option = 0,
              std::uint8_t cmd = 0x65) {
    return run(cmd, cat(cat(pw, {static_cast<std::uint8_t>(block)}),
                        cat(data, {static_cast<std::uint8_t>(option)})));
  }
  Reply configure(const Bytes& pw, std::uint8_t config, int option = 0) {
    return run(0x66, cat(pw, {config, static_cast<std::uint8_t>(option)}));
  }
  // A tag with the test password and the given configuration byte.
  void insertTag(std::uint8_t config) {
    Tag t = Tag::factory();
    t.blocks[0][0] = config;
    t.blocks[7] = {kPassword[0], kPassword[1], kPassword[2], kPassword[3]};
    t.blocks[3] = {0x33, 0x33, 0x33, 0x33};
    m.insert(t);
  }

  Rf5550Module m;
};

TEST_F(Rf5550Tag, FactoryTagReadsAndWritesEveryBlock) {
  EXPECT_EQ(read(0).data, Bytes({0xE7, 0, 0, 0}));
  for (int b = 1; b <= 7; ++b) {
    const Bytes data{static_cast<std::uint8_t>(b), 0xA5, 0x5A, 0xFF};
    const Bytes pw = b == 7 ? Bytes{0, 0, 0, 0} : kWrong;  // no password mode
    Reply w = write(pw, b, data);
    EXPECT_EQ(w.status, st::kOk) << b;
    EXPECT_EQ(w.data, data) << "a write answers the block as it stands";
    EXPECT_EQ(read(b).data, data) << b;
  }
}

TEST_F(Rf5550Tag, MalformedAndOutOfRangeCommands) {
  struct Case {
    std::uint8_t cmd;
    Bytes data;
    std::uint8_t status;
  } cases[] = {
      {0x64, {}, st::kWrongLength},
      {0x64, {1, 2}, st::kWrongLength},
      {0x65, Bytes(9, 0), st::kWrongLength},
      {0x66, Bytes(5, 0), st::kWrongLength},
      {0x67, Bytes(3, 0), st::kWrongLength},
      {0x68, Bytes(4, 0), st::kWrongLength},
      {0x69, Bytes(11, 0), st::kWrongLength},
      {0x64, {8}, st::kRf5550BadBlock},
      {0x64, {0xFF}, st::kRf5550BadBlock},
      {0x65, {0, 0, 0, 0, 8, 1, 2, 3, 4, 0}, st::kRf5550BadBlock},
      {0x67, {1, 1, 1, 1}, st::kRf5550WrongPassword},
  };
  for (const auto& c : cases) {
    Reply r = run(c.cmd, c.data);
    EXPECT_EQ(r.status, c.status) << "command " << int(c.cmd) << " with " << c.data.size();
    EXPECT_TRUE(r.data.empty());
  }
}

TEST_F(Rf5550Tag, PasswordModeGuardsWritesConfigurationAndThePasswordBlock) {
  insertTag(0xF7);  // max block 7, password mode
  EXPECT_EQ(write(kWrong, 3, {9, 9, 9, 9}).status, st::kRf5550WrongPassword);
  EXPECT_EQ(read(3).data, Bytes({0x33, 0x33, 0x33, 0x33}));
  EXPECT_EQ(configure(kWrong, 0xE7).status, st::kRf5550WrongPassword);
  EXPECT_EQ(read(0).data[0], 0xF7);
  EXPECT_EQ(read(7).status, st::kRf5550ReadProtected);
  EXPECT_EQ(readAfterWake(kWrong, 7).status, st::kRf5550WrongPassword);
  EXPECT_EQ(readAfterWake(kPassword, 7).data, kPassword);

  EXPECT_EQ(write(kPassword, 3, {9, 9, 9, 9}).status, st::kOk);
  EXPECT_EQ(read(3).data, Bytes({9, 9, 9, 9}));
  // Changing the password: the old one no longer opens the tag.
  EXPECT_EQ(write(kPassword, 7, {1, 2, 3, 4}).status, st::kOk);
  EXPECT_EQ(write(kPassword, 3, {8, 8, 8, 8}).status, st::kRf5550WrongPassword);
  EXPECT_EQ(write({1, 2, 3, 4}, 3, {8, 8, 8, 8}).status, st::kOk);
  // Leaving password mode makes the password block readable again.
  EXPECT_EQ(configure({1, 2, 3, 4}, 0xE7).status, st::kOk);
  EXPECT_EQ(read(7).data, Bytes({1, 2, 3, 4}));
}

TEST_F(Rf5550Tag, WakeModeKeepsTheTagSilentUntilWokenWithItsPassword) {
  insertTag(0xEF);  // max block 7, wake mode
  EXPECT_EQ(read(3).status, st::kRf5550NoTag);
  EXPECT_EQ(write(kPassword, 3, {1, 1, 1, 1}).status, st::kRf5550NoTag);
  EXPECT_EQ(configure(kPassword, 0xE7).status, st::kRf5550NoTag);
  EXPECT_EQ(run(0x67, kWrong).status, st::kRf5550WrongPassword);
  EXPECT_EQ(read(3).status, st::kRf5550NoTag);
  EXPECT_EQ(run(0x67, kPassword).status, st::kOk);
  EXPECT_EQ(read(3).data, Bytes({0x33, 0x33, 0x33, 0x33}));

  // Out of the field and back: asleep again. The wake-and-write command
  // wakes it on its own.
  m.remove();
  EXPECT_EQ(run(0x67, kPassword).status, st::kRf5550NoTag);
  m.insert();
  EXPECT_EQ(read(3).status, st::kRf5550NoTag);
  EXPECT_EQ(write(kWrong, 3, {4, 4, 4, 4}, 0, 0x69).status, st::kRf5550WrongPassword);
  EXPECT_EQ(write(kPassword, 3, {4, 4, 4, 4}, 0, 0x69).data, Bytes({4, 4, 4, 4}));
  EXPECT_EQ(read(3).data, Bytes({4, 4, 4, 4}));
}

TEST_F(Rf5550Tag, MaxBlockLimitsReadsAndTheLockBitFreezesABlock) {
  insertTag(0x27);  // max block 1
  EXPECT_EQ(read(0).status, st::kOk);
  EXPECT_EQ(read(1).status, st::kOk);
  EXPECT_EQ(read(2).status, st::kRf5550BadBlock);
  EXPECT_EQ(readAfterWake(kPassword, 3).status, st::kRf5550BadBlock);
  EXPECT_EQ(write(kPassword, 3, {5, 5, 5, 5}).status, st::kOk);
  EXPECT_EQ(configure(kPassword, 0x67).status, st::kOk);  // max block 3
  EXPECT_EQ(read(3).data, Bytes({5, 5, 5, 5}));

  // Bit 0 of the option locks a block, and the configuration block.
  ASSERT_EQ(configure(kPassword, 0xE7).status, st::kOk);
  EXPECT_EQ(write(kPassword, 2, {1, 2, 3, 4}, 0x01).status, st::kOk);
  EXPECT_EQ(write(kPassword, 2, {5, 6, 7, 8}).status, st::kRf5550Locked);
  EXPECT_EQ(write(kPassword, 2, {5, 6, 7, 8}, 0, 0x69).status, st::kRf5550Locked);
  EXPECT_EQ(read(2).data, Bytes({1, 2, 3, 4}));
  EXPECT_EQ(write(kPassword, 3, {5, 6, 7, 8}, 0x02).status, st::kOk);  // bit 0 only
  EXPECT_EQ(write(kPassword, 3, {5, 6, 7, 9}).status, st::kOk);
  EXPECT_EQ(configure(kPassword, 0xE7, 0x01).status, st::kOk);
  EXPECT_EQ(configure(kPassword, 0xF7).status, st::kRf5550Locked);
  EXPECT_EQ(read(0).data[0], 0xE7);
}

TEST_F(Rf5550Tag, NoTagInTheFieldAnswersNothing) {
  m.remove();
  for (std::uint8_t cmd = 0x64; cmd <= 0x69; ++cmd) {
    const std::size_t sizes[] = {1, 10, 6, 4, 5, 10};
    Reply r = run(cmd, Bytes(sizes[cmd - 0x64], 0));
    EXPECT_EQ(r.status, st::kRf5550NoTag) << int(cmd);
  }
}

TEST(Rf5550Control, InsertRemoveAndShowThroughTheSimulator) {
  auto sim = readersim::makeStandardSimulator();
  std::string out;
  ASSERT_TRUE(sim->control({"rf5550", "insert", "3F000000", "01020304", "00000000", "00000000",
                            "00000000", "00000000", "00000000", "AABBCCDD"},
                           out));
  EXPECT_NE(out.find("config 3F"), std::string::npos) << out;
  EXPECT_NE(out.find("password mode on"), std::string::npos) << out;
  auto* m = sim->find<Rf5550Module>();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->tag().blocks[7][0], 0xAA);
  EXPECT_EQ(m->tag().maxBlock(), 1);

  ASSERT_TRUE(sim->control({"rf5550", "remove"}, out));
  EXPECT_FALSE(m->inField());
  ASSERT_TRUE(sim->control({"rf5550", "show"}, out));
  EXPECT_EQ(out.rfind("rf5550: no tag in field", 0), 0u) << out;
  ASSERT_TRUE(sim->control({"rf5550", "insert"}, out));
  EXPECT_TRUE(m->inField());
  EXPECT_EQ(m->tag().blocks[1][3], 0x04) << "the same tag comes back";
  ASSERT_TRUE(sim->control({"rf5550", "insert", "new"}, out));
  EXPECT_EQ(m->tag().config(), 0xE7);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"rf5550", "insert", "1", "2"},
        std::vector<std::string>{"rf5550", "insert", "XX000000", "0", "0", "0", "0", "0", "0", "0"},
        std::vector<std::string>{"rf5550", "fly"}}) {
    ASSERT_TRUE(sim->control(bad, out));
    EXPECT_EQ(out.rfind("error:", 0), 0u) << out;
  }
  EXPECT_NE(sim->help().find("rf5550 insert"), std::string::npos);
}

}  // namespace
