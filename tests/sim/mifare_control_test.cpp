// The Mifare module's control words: cards entering and leaving the field,
// and Mifare 1 dumps that keep a card's content between runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "core/simulator.h"
#include "core_host.h"
#include "mifare/mifare_module.h"

namespace {

using readersim::MifareModule;
using readersim::Reply;
using namespace readersim::mifare;
using Bytes = std::vector<std::uint8_t>;

class MifareControl : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = readersim::makeStandardSimulator();
    mod = sim->find<MifareModule>();
    ASSERT_NE(mod, nullptr);
    char tmpl[] = "/tmp/mifare-control-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    for (const char* f : {"/card.bin", "/short.bin", "/card.bin.tmp"})
      std::remove((dir + f).c_str());
    rmdir(dir.c_str());
  }
  std::string say(const std::string& line) {
    std::string out;
    EXPECT_TRUE(sim->control(simtest::words(line), out)) << line;
    return out;
  }
  bool isError(const std::string& out) { return out.rfind("error:", 0) == 0; }

  std::unique_ptr<readersim::Simulator> sim;
  MifareModule* mod = nullptr;
  std::string dir;
};

TEST_F(MifareControl, CardsEnterAndLeaveTheField) {
  EXPECT_EQ(say("mifare list"), "1 card(s): classic 12345678 idle");  // the standard reader's
  EXPECT_EQ(say("mifare insert light aabbccdd"), "inserted light AABBCCDD idle");
  EXPECT_EQ(say("mifare list"), "2 card(s): classic 12345678 idle; light AABBCCDD idle");
  EXPECT_TRUE(isError(say("mifare insert classic AABBCCDD")));  // already there
  for (const char* bad : {"mifare insert classic 1234567", "mifare insert classic 12345G78",
                          "mifare insert classic 123456789", "mifare insert desfire 11223344",
                          "mifare remove 1234", "mifare frobnicate", "mifare"})
    EXPECT_TRUE(isError(say(bad))) << bad;
  EXPECT_EQ(say("mifare remove 12345678"), "removed 12345678");
  EXPECT_TRUE(isError(say("mifare remove 12345678")));
  EXPECT_EQ(say("mifare remove"), "removed 1 card(s)");
  EXPECT_EQ(say("mifare list"), "no card in the field");
  std::string out;
  EXPECT_FALSE(sim->control({"card", "insert"}, out));
}

TEST_F(MifareControl, DumpKeepsTheCardBetweenRuns) {
  const std::string file = dir + "/card.bin";
  // Change the card through the reader, as a run would.
  Bytes frame = {9, 0x12, 0x34, 0x56, 0x78};
  for (int i = 0; i < 16; ++i) frame.push_back(static_cast<std::uint8_t>(0xA0 + i));
  ASSERT_EQ(mod->execute(0xAD, frame).status, 0);
  EXPECT_EQ(say("mifare save " + file), "saved classic 12345678 to " + file);
  {
    std::ifstream in(file, std::ios::binary);
    Bytes dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(dump.size(), 1024u);
    EXPECT_EQ(dump[9 * 16], 0xA0);
    EXPECT_EQ(dump[4], 0x12 ^ 0x34 ^ 0x56 ^ 0x78);
  }

  // The next run: a fresh reader, the card loaded from the dump.
  auto next = readersim::makeStandardSimulator();
  std::string out;
  ASSERT_TRUE(next->control({"mifare", "remove"}, out));
  ASSERT_TRUE(next->control({"mifare", "load", file}, out));
  EXPECT_EQ(out, "loaded classic 12345678 idle from " + file);
  auto* m = next->find<MifareModule>();
  const Bytes readFrame = {9, 0x12, 0x34, 0x56, 0x78};
  Reply r = m->execute(0xAC, readFrame);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.data, Bytes(frame.begin() + 5, frame.end()));

  // With a serial the loaded card takes it, check byte included.
  ASSERT_TRUE(next->control({"mifare", "load", file, "01020304"}, out));
  auto* c = dynamic_cast<ClassicCard*>(m->card({1, 2, 3, 4}));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->blockBytes(0)[4], 1 ^ 2 ^ 3 ^ 4);
  EXPECT_EQ(c->blockBytes(9)[0], 0xA0);
  ASSERT_TRUE(next->control({"mifare", "load", file}, out));
  EXPECT_TRUE(isError(out)) << out;  // 12345678 is already in the field
}

TEST_F(MifareControl, BadDumpsAndMissingCardsAreRefused) {
  const std::string shortFile = dir + "/short.bin";
  {
    std::ofstream f(shortFile, std::ios::binary);
    f << std::string(1023, '\0');
  }
  EXPECT_TRUE(isError(say("mifare load " + shortFile)));
  EXPECT_TRUE(isError(say("mifare load " + dir + "/missing.bin")));
  EXPECT_TRUE(isError(say("mifare save " + dir + "/nowhere/card.bin")));
  say("mifare remove");
  say("mifare insert light 11223344");
  EXPECT_TRUE(isError(say("mifare save " + dir + "/card.bin")));  // no Mifare 1 card
  EXPECT_EQ(mod->cardCount(), 1u);
}

}  // namespace
