// The control words of the core and the hand-over to modules.
#include <gtest/gtest.h>

#include "core/simulator.h"
#include "core_host.h"

namespace {

class CoreControl : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<readersim::Simulator>();
    sim->addModule(std::make_unique<simtest::EchoModule>());
    ASSERT_TRUE(sim->start());
  }
  std::string run(std::vector<std::string> words, bool known = true) {
    std::string out;
    EXPECT_EQ(sim->control(words, out), known);
    return out;
  }
  std::unique_ptr<readersim::Simulator> sim;
};

TEST_F(CoreControl, FaultsQueueListAndClear) {
  EXPECT_EQ(run({"fault", "noack", "cmd=22", "count=2", "skip=1"}),
            "fault queued: noack cmd=22 count=2 skip=1");
  EXPECT_EQ(run({"fault", "delay", "ms=300"}), "fault queued: delay count=1 skip=0 ms=300");
  EXPECT_EQ(sim->pendingFaults(), 2u);
  EXPECT_EQ(run({"faults"}),
            "2 fault(s) queued; noack cmd=22 count=2 skip=1; delay count=1 skip=0 ms=300");
  EXPECT_EQ(run({"faults", "clear"}), "faults cleared");
  EXPECT_EQ(sim->pendingFaults(), 0u);
}

TEST_F(CoreControl, MistakesAnswerError) {
  EXPECT_EQ(run({"fault", "bogus"}).rfind("error:", 0), 0u);
  EXPECT_EQ(run({"fault", "silent", "cmd=22"}).rfind("error:", 0), 0u);
  EXPECT_EQ(run({"speeds", "turbo"}).rfind("error:", 0), 0u);
  EXPECT_EQ(run({"paced"}).rfind("error:", 0), 0u);
  EXPECT_EQ(run({"faults", "drop"}).rfind("error:", 0), 0u);
  EXPECT_EQ(sim->pendingFaults(), 0u);
}

TEST_F(CoreControl, UnknownWordsAreNobodys) {
  run({"frobnicate"}, false);
  run({}, false);
  run({"echo", "pong"}, false);
}

TEST_F(CoreControl, ModulesGetTheRest) { EXPECT_EQ(run({"echo", "ping"}), "pong"); }

TEST_F(CoreControl, SpeedsAndPaced) {
  EXPECT_EQ(run({"speeds", "slow"}), "speeds slow");
  simtest::HostLine h(sim->path(), B57600);
  EXPECT_EQ(h.exchange(0x00).linkError, 102);
  EXPECT_EQ(run({"speeds", "both"}), "speeds both");
  EXPECT_EQ(h.exchange(0x00).linkError, 0);
  EXPECT_EQ(run({"paced", "on"}), "paced on");
  EXPECT_EQ(run({"paced", "off"}), "paced off");
}

TEST_F(CoreControl, StatusTellsExchangesSpeedAndSignals) {
  simtest::HostLine h(sim->path(), B9600);
  ASSERT_EQ(h.exchange(0x7A, {1, 2, 3, 4}).linkError, 0);
  std::string s = run({"status"});
  EXPECT_NE(s.find("exchanges=1"), std::string::npos) << s;
  EXPECT_NE(s.find("last=7A"), std::string::npos) << s;
  EXPECT_NE(s.find("speed=9600"), std::string::npos) << s;
  EXPECT_NE(s.find("speeds=both"), std::string::npos) << s;
  EXPECT_NE(s.find("paced=off"), std::string::npos) << s;
  EXPECT_NE(s.find("plugged=yes"), std::string::npos) << s;
  EXPECT_NE(s.find("signals=01 02 03 04"), std::string::npos) << s;
}

TEST_F(CoreControl, HelpListsCoreAndModuleWords) {
  std::string h = sim->help();
  for (const char* w : {"fault KIND", "faults", "unplug", "replug", "speeds", "paced", "status",
                        "nochecksum (114)", "echo ping"})
    EXPECT_NE(h.find(w), std::string::npos) << w;
  EXPECT_EQ(run({"help"}), h);
}

}  // namespace
