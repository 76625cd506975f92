// Reader identity and signalling through the library and the reader.
#include <cstring>

#include "core/status.h"
#include "link_helpers.h"

namespace {

using linke2e::fault;
using linke2e::LinkTest;

TEST_F(LinkTest, DllverNeedsNoReader) { EXPECT_EQ(api->DLLVER(), 7321); }

TEST_F(LinkTest, DevverGetDeviceNumberAndAlarmThroughTheReader) {
  linkUp();
  unsigned char v[8] = {};
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(v), 8), "TK61 2.1");
  unsigned char n[8] = {};
  EXPECT_EQ(api->GetDeviceNumber(n), 0);
  readersim::Options def;
  EXPECT_EQ(std::memcmp(n, def.deviceNumber.data(), 8), 0);
  EXPECT_EQ(api->ALARM(7, 30, 30, 3), 0);
  auto s = sim->signalOutputs();
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(*s, (std::array<std::uint8_t, 4>{7, 30, 30, 3}));
  EXPECT_EQ(api->ALARM(1, 0x1FF, -1, 256), 0);  // low 8 bits go out
  EXPECT_EQ(*sim->signalOutputs(), (std::array<std::uint8_t, 4>{1, 0xFF, 0xFF, 0x00}));
  EXPECT_EQ(sim->exchanges(), 5u);
  EXPECT_EQ(sim->lastCommand(), 0x7A);
}

TEST_F(LinkTest, AlarmOutOfRangeSendsNothing) {
  linkUp();
  auto before = sim->exchanges();
  EXPECT_EQ(api->ALARM(0, 30, 30, 3), 4);
  EXPECT_EQ(api->ALARM(8, 30, 30, 3), 4);
  EXPECT_EQ(api->ALARM(-1, 30, 30, 3), 4);
  EXPECT_EQ(sim->exchanges(), before);
  EXPECT_FALSE(sim->signalOutputs().has_value());
}

TEST_F(LinkTest, AReaderStatusIsPassedThrough) {
  linkUp();
  fault(*sim, "status status=0x30 cmd=22");
  unsigned char v[8];
  std::memset(v, 0xEE, sizeof v);
  EXPECT_EQ(api->DEVVER(v), 0x30);
  for (auto b : v) EXPECT_EQ(b, 0xEE);  // left untouched
  fault(*sim, "status status=0x31 cmd=20");
  unsigned char n[8];
  std::memset(n, 0xEE, sizeof n);
  EXPECT_EQ(api->GetDeviceNumber(n), 0x31);
  for (auto b : n) EXPECT_EQ(b, 0);  // zeroed first
  fault(*sim, "status status=0x32 cmd=7A");
  EXPECT_EQ(api->ALARM(7, 30, 30, 3), 0x32);
  EXPECT_FALSE(sim->signalOutputs().has_value());
}

class LinkOtherIdentity : public LinkTest {
  readersim::Options options() override {
    readersim::Options o;
    o.deviceNumber = {1, 2, 3, 4, 5, 6, 7, 8};
    o.firmwareVersion = {'X', 'Y', 0, 0xFF, 1, 2, 3, 4};
    return o;
  }
};

TEST_F(LinkOtherIdentity, BytesPassThroughUnchanged) {
  linkUp();
  unsigned char v[8] = {}, n[8] = {};
  EXPECT_EQ(api->DEVVER(v), 0);
  EXPECT_EQ(api->GetDeviceNumber(n), 0);
  const unsigned char wantV[8] = {'X', 'Y', 0, 0xFF, 1, 2, 3, 4};
  const unsigned char wantN[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(v, wantV, 8), 0);
  EXPECT_EQ(std::memcmp(n, wantN, 8), 0);
}

}  // namespace
