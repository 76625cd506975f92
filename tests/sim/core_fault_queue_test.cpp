// Which queued fault an exchange gets (no line involved).
#include <gtest/gtest.h>

#include "core/fault.h"

namespace {

using readersim::Fault;
using readersim::FaultKind;
using readersim::FaultQueue;
using readersim::parseFault;

Fault make(FaultKind k, std::optional<std::uint8_t> cmd = {}, int count = 1, int skip = 0) {
  Fault f;
  f.kind = k;
  f.command = cmd;
  f.count = count;
  f.skip = skip;
  return f;
}

TEST(CoreFaultQueue, AFrameFaultWithoutFilterTakesTheNextExchange) {
  FaultQueue q;
  q.push(make(FaultKind::NoAck));
  EXPECT_FALSE(q.takeAtSync());
  auto f = q.takeAtFrame(0x22);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, FaultKind::NoAck);
  EXPECT_EQ(q.size(), 0u);
  EXPECT_FALSE(q.takeAtFrame(0x22));
}

TEST(CoreFaultQueue, ACommandFilterWaitsForItsCommand) {
  FaultQueue q;
  q.push(make(FaultKind::BadChecksum, 0x22));
  EXPECT_FALSE(q.takeAtFrame(0x00));
  EXPECT_FALSE(q.takeAtFrame(0xA1));
  ASSERT_TRUE(q.takeAtFrame(0x22));
  EXPECT_EQ(q.size(), 0u);
}

TEST(CoreFaultQueue, SkipLetsMatchingExchangesPass) {
  FaultQueue q;
  q.push(make(FaultKind::NoStatus, 0x22, 1, 2));
  EXPECT_FALSE(q.takeAtFrame(0x22));
  EXPECT_FALSE(q.takeAtFrame(0x00));  // not matching: does not count
  EXPECT_FALSE(q.takeAtFrame(0x22));
  EXPECT_TRUE(q.takeAtFrame(0x22));
}

TEST(CoreFaultQueue, CountAndAll) {
  FaultQueue q;
  q.push(make(FaultKind::NoAck, {}, 2));
  EXPECT_TRUE(q.takeAtFrame(1));
  EXPECT_TRUE(q.takeAtFrame(2));
  EXPECT_FALSE(q.takeAtFrame(3));
  q.push(make(FaultKind::NoAck, {}, -1));
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(q.takeAtFrame(1));
  EXPECT_EQ(q.size(), 1u);
}

TEST(CoreFaultQueue, QueueOrderAndOneFaultPerExchange) {
  FaultQueue q;
  q.push(make(FaultKind::NoAck));
  q.push(make(FaultKind::SilentOnSync));
  q.push(make(FaultKind::WrongAck));
  // Exchange 1: the unfiltered NoAck is due, so the silent fault waits.
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtFrame(0x22)->kind, FaultKind::NoAck);
  // Exchange 2: the silent fault, at the sync byte.
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::SilentOnSync);
  // Exchange 3: WrongAck.
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtFrame(0x22)->kind, FaultKind::WrongAck);
  EXPECT_EQ(q.size(), 0u);
}

TEST(CoreFaultQueue, AFilteredFrameFaultDoesNotHoldBackASyncFault) {
  FaultQueue q;
  q.push(make(FaultKind::NoAck, 0xB9));
  q.push(make(FaultKind::WrongReady));
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::WrongReady);
  EXPECT_FALSE(q.takeAtFrame(0x00));
  EXPECT_TRUE(q.takeAtFrame(0xB9));
}

TEST(CoreFaultQueue, SyncFaultsCountEveryExchangeForTheirSkip) {
  FaultQueue q;
  q.push(make(FaultKind::Unplug, {}, 1, 1));
  EXPECT_FALSE(q.takeAtSync());
  EXPECT_EQ(q.takeAtSync()->kind, FaultKind::Unplug);
}

TEST(CoreFaultParse, KindsByNameAndByLinkError) {
  std::string err;
  struct {
    const char* word;
    FaultKind kind;
  } cases[] = {{"silent", FaultKind::SilentOnSync},
               {"102", FaultKind::SilentOnSync},
               {"wrongready", FaultKind::WrongReady},
               {"103", FaultKind::WrongReady},
               {"noack", FaultKind::NoAck},
               {"nack", FaultKind::NoAck},
               {"108", FaultKind::NoAck},
               {"wrongack", FaultKind::WrongAck},
               {"109", FaultKind::WrongAck},
               {"nostatus", FaultKind::NoStatus},
               {"111", FaultKind::NoStatus},
               {"nolength", FaultKind::NoLength},
               {"112", FaultKind::NoLength},
               {"shortdata", FaultKind::ShortData},
               {"113", FaultKind::ShortData},
               {"nochecksum", FaultKind::NoChecksum},
               {"114", FaultKind::NoChecksum},
               {"badchecksum", FaultKind::BadChecksum},
               {"115", FaultKind::BadChecksum},
               {"delay", FaultKind::Delay},
               {"status", FaultKind::Status},
               {"unplug", FaultKind::Unplug}};
  for (const auto& c : cases) {
    auto f = parseFault({c.word}, err);
    ASSERT_TRUE(f) << c.word << ": " << err;
    EXPECT_EQ(f->kind, c.kind) << c.word;
    EXPECT_EQ(f->count, 1);
    EXPECT_EQ(f->skip, 0);
    EXPECT_FALSE(f->command);
  }
}

TEST(CoreFaultParse, Parameters) {
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
  EXPECT_EQ(f->command, std::optional<std::uint8_t>(0x22));
  f = parseFault({"status", "status=48"}, err);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->status, 48);
}

TEST(CoreFaultParse, Mistakes) {
  std::string err;
  EXPECT_FALSE(parseFault({}, err));
  EXPECT_FALSE(parseFault({"bogus"}, err));
  EXPECT_FALSE(parseFault({"101"}, err));  // a host-side error: no reader fault causes it
  EXPECT_FALSE(parseFault({"noack", "cmd=1FF"}, err));
  EXPECT_FALSE(parseFault({"noack", "count=0"}, err));
  EXPECT_FALSE(parseFault({"noack", "skip=-1"}, err));
  EXPECT_FALSE(parseFault({"noack", "color=red"}, err));
  EXPECT_FALSE(parseFault({"noack", "22"}, err));
  EXPECT_FALSE(parseFault({"status", "status=256"}, err));
  EXPECT_FALSE(parseFault({"silent", "cmd=22"}, err));
  EXPECT_NE(err.find("sync"), std::string::npos);
  EXPECT_FALSE(parseFault({"wrongready", "status=0x45"}, err));
  EXPECT_FALSE(parseFault({"wrongack", "status=0x67"}, err));
}

}  // namespace
