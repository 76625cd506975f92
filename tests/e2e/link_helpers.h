// Shared bits of the link end-to-end tests: the link exports bound by name,
// fault injection through the simulator's control words, timing.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace linke2e {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct LinkApi {
  explicit LinkApi(const e2e::Library& lib)
      : LinkCom(lib.fn<int(int)>("LinkCom")),
        AutoLinkCom(lib.fn<int(int*)>("AutoLinkCom")),
        UnLinkCom(lib.fn<int()>("UnLinkCom")),
        ComBaudRate(lib.fn<int()>("ComBaudRate")),
        DLLVER(lib.fn<int()>("DLLVER")),
        GetDeviceNumber(lib.fn<int(unsigned char*)>("GetDeviceNumber")),
        DEVVER(lib.fn<int(unsigned char*)>("DEVVER")),
        ALARM(lib.fn<int(int, int, int, int)>("ALARM")) {}
  int (*LinkCom)(int);
  int (*AutoLinkCom)(int*);
  int (*UnLinkCom)();
  int (*ComBaudRate)();
  int (*DLLVER)();
  int (*GetDeviceNumber)(unsigned char*);
  int (*DEVVER)(unsigned char*);
  int (*ALARM)(int, int, int, int);
};

// Queues a fault with the control word ("noack cmd=22 count=2").
inline void fault(readersim::Simulator& sim, const std::string& what) {
  std::vector<std::string> words{"fault"};
  std::istringstream in(what);
  for (std::string w; in >> w;) words.push_back(w);
  std::string out;
  ASSERT_TRUE(sim.control(words, out));
  ASSERT_EQ(out.rfind("fault queued", 0), 0u) << out;
}

// The fixture with the link exports at hand.
class LinkTest : public e2e::ReaderTest {
 protected:
  void SetUp() override {
    e2e::ReaderTest::SetUp();
    if (HasFatalFailure()) return;
    api = std::make_unique<LinkApi>(*lib);
  }
  void TearDown() override {
    e2e::ReaderTest::TearDown();
    sim2.reset();  // after the library let go of its port
  }
  std::unique_ptr<readersim::Simulator> startSecond(readersim::Options o = {}) {
    auto s = std::make_unique<readersim::Simulator>(std::move(o));
    EXPECT_TRUE(s->start());
    return s;
  }
  std::unique_ptr<LinkApi> api;
  std::unique_ptr<readersim::Simulator> sim2;
};

}  // namespace linke2e
