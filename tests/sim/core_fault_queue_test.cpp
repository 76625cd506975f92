// Which queued fault an exchange gets, and how the fault words are read
// (no line involved).
#include <gtest/gtest.h>

#include "core/fault.h"

namespace {

using readersim::Fault;
using readersim::FaultKind;
using readersim::FaultQueue;
using readersim::parseFault;

Fault make(FaultKind k, std::optional<std::uint8_t> cmd = {}, int skip = 0) {
  Fault f;
  f.kind = k;
  f.command = cmd;
  f.skip = skip;
  return f;
}

TEST(CoreFaultQueue, OneFaultPerExchangeInQueueOrder) {
  FaultQueue q;
  q.push(make(FaultKind::NoAck));
  q.push(make(FaultKind::SilentOnSync));
  q.push(make(FaultKind::WrongAck));
  // Exchange 1: the unfiltered NoAck is due, so the silent fault waits.
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtFrame(0x22)->kind, FaultKind::NoAck);
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::SilentOnSync);
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtFrame(0x22)->kind, FaultKind::WrongAck);
  EXPECT_EQ(q.size(), 0u);
  // A filtered frame fault does not hold back a sync fault behind it.
  q.push(make(FaultKind::NoAck, 0xB9));
  q.push(make(FaultKind::WrongReady));
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::WrongReady);
  EXPECT_FALSE(q.takeAtFrame(0x00));
  EXPECT_TRUE(q.takeAtFrame(0xB9));
  // Sync faults count every exchange for their skip.
  q.push(make(FaultKind::Unplug, {}, 1));
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::Unplug);
}

TEST(CoreFaultParse, ParametersAndMistakes) {
  std::string err;
  auto f = parseFault({"delay", "cmd=b9", "count=3", "skip=2", "ms=750"}, err);
  ASSERT_TRUE(f) << err;
  EXPECT_EQ(f->kind, FaultKind::Delay);
  EXPECT_EQ(f->command, std::optional<std::uint8_t>(0xB9));
  EXPECT_EQ(f->count, 3);
  EXPECT_EQ(f->skip, 2);
  EXPECT_EQ(f->delayMs, 750);
  f = parseFault({"status", "status=0x30", "count=all", "cmd=0x22"}, err);
  ASSERT_TRUE(f) << err;
  EXPECT_EQ(f->status, 0x30);
  EXPECT_EQ(f->count, -1);
  f = parseFault({"status", "status=48"}, err);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->status, 48);

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"bogus"},
      {"101"},  // a host-side error: no reader fault causes it
      {"noack", "cmd=1FF"},
      {"noack", "count=0"},
      {"noack", "skip=-1"},
      {"noack", "color=red"},
      {"noack", "22"},
      {"status", "status=256"},
      {"wrongready", "status=0x45"},
      {"wrongack", "status=0x67"},
      {"silent", "cmd=22"},
  };
  for (const auto& words : bad)
    EXPECT_FALSE(parseFault(words, err)) << testing::PrintToString(words);
  EXPECT_NE(err.find("sync"), std::string::npos);
}

}  // namespace
