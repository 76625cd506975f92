// End-to-end fixture: the shared library loaded by name, as callers load it,
// and a simulated reader on a pty that COM1 maps to. COM2 … COM10 map to paths
// that do not exist, so no test can ever reach a real serial port.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/simulator.h"

namespace e2e {

// The library, bound by name at run time; each function resolved by name.
class Library {
 public:
  Library() : handle_(dlopen(ORVIX32_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL), &dlclose) {
    if (!handle_) ADD_FAILURE() << "dlopen: " << dlerror();
  }
  template <class F>
  F* fn(const char* name) const {
    void* p = handle_ ? dlsym(handle_.get(), name) : nullptr;
    if (!p) ADD_FAILURE() << "missing export " << name;
    return reinterpret_cast<F*>(p);
  }

 private:
  std::unique_ptr<void, int (*)(void*)> handle_;  // closed once, never copied
};

// Points COM<n> (1-based) at path; every other port at a missing path.
inline void mapPorts(const std::string& com1, const std::string& com2 = {}) {
  for (int i = 1; i <= 10; ++i) {
    const std::string& mapped = i == 1 ? com1 : com2;
    const std::string value =
        i <= 2 && !mapped.empty() ? mapped : "/nonexistent/orvix32-test-com" + std::to_string(i);
    setenv(("ORVIX32_COM" + std::to_string(i)).c_str(), value.c_str(), 1);
  }
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("ORVIX32_TRACE");
    sim = readersim::makeStandardSimulator(options());
    ASSERT_TRUE(sim->start());
    mapPorts(sim->path());
    lib = std::make_unique<Library>();
  }
  void TearDown() override {
    if (lib) {
      if (auto* unlink = lib->fn<int()>("UnLinkCom")) unlink();
    }
    lib.reset();
    if (sim) sim->stop();
  }
  virtual readersim::Options options() { return {}; }

  // Links on COM1 and fails the test when the reader does not answer.
  void linkUp() {
    auto* linkCom = lib->fn<int(int)>("LinkCom");
    ASSERT_NE(linkCom, nullptr);
    ASSERT_EQ(linkCom(0), 0);
  }
  // A control command ({"contact", "rack"}) the simulator must take without
  // an error.
  void control(const std::vector<std::string>& words) {
    std::string out;
    ASSERT_TRUE(sim->control(words, out));
    ASSERT_NE(out.rfind("error:", 0), 0u) << out;
  }
  // Queues a fault with the control words ("nostatus cmd=A1 count=2").
  void fault(const std::string& what) {
    std::vector<std::string> words{"fault"};
    std::istringstream in(what);
    for (std::string w; in >> w;) words.push_back(w);
    std::string out;
    ASSERT_TRUE(sim->control(words, out));
    ASSERT_EQ(out.rfind("fault queued", 0), 0u) << out;
  }
  template <class F>
  F* fn(const char* name) {
    return lib->fn<F>(name);
  }

  std::unique_ptr<readersim::Simulator> sim;
  std::unique_ptr<Library> lib;
};

// Linked on COM1 from the start.
class LinkedReaderTest : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    linkUp();
  }
};

}  // namespace e2e
