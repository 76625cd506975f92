// The exchange trace: ORVIX32_TRACE names a file (or '-' for stderr) that
// gets one line per exchange.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "link_helpers.h"

namespace {

using linke2e::fault;
using linke2e::LinkTest;

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  static const std::regex took(R"( \d+\.\d ms$)");
  for (std::string l; std::getline(in, l);)
    if (l.rfind("#", 0) != 0) lines.push_back(std::regex_replace(l, took, ""));
  return lines;
}

// Splits "2024-01-02 03:04:05.678 COM1 …" into the stamp check and the rest.
std::string afterStamp(const std::string& line) {
  static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  std::smatch m;
  if (!std::regex_search(line, m, stamp)) return "NO TIME STAMP: " + line;
  return m.suffix();
}

std::string hexOf(const std::string& text) {
  std::string s;
  char b[4];
  for (unsigned char c : text) {
    std::snprintf(b, sizeof b, " %02X", c);
    s += b;
  }
  return s;
}

class LinkTrace : public LinkTest {
 protected:
  void TearDown() override {
    LinkTest::TearDown();
    if (!file.empty()) std::remove(file.c_str());
  }
  std::string file;
};

TEST_F(LinkTrace, OneLinePerExchangeInTheFile) {
  char tmpl[] = "/tmp/orvix32-trace-XXXXXX";
  int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  file = tmpl;
  setenv("ORVIX32_TRACE", file.c_str(), 1);  // read at the first exchange
  linkUp();
  unsigned char v[8];
  ASSERT_EQ(api->DEVVER(v), 0);
  ASSERT_EQ(api->ALARM(7, 30, 30, 3), 0);
  fault(*sim, "nostatus");
  ASSERT_EQ(api->DEVVER(v), 111);
  fault(*sim, "silent");
  ASSERT_EQ(api->DEVVER(v), 102);
  fault(*sim, "status status=0x30");
  ASSERT_EQ(api->DEVVER(v), 0x30);
  unsetenv("ORVIX32_TRACE");

  auto lines = readLines(file);
  ASSERT_EQ(lines.size(), 6u);
  std::uint8_t sum = 0x00 ^ 0x08;
  for (unsigned char c : std::string("TK61 2.1")) sum ^= c;
  char sumHex[4];
  std::snprintf(sumHex, sizeof sumHex, "%02X", sum);
  EXPECT_EQ(afterStamp(lines[0]), "COM1 cmd 00 > 23 00 00 00 89 < 45 67 00 00 00 status 0 (ok)");
  EXPECT_EQ(afterStamp(lines[1]), "COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 08" + hexOf("TK61 2.1") +
                                      " " + sumHex + " status 0 (ok)");
  EXPECT_EQ(afterStamp(lines[2]),
            "COM1 cmd 7A > 23 7A 04 07 1E 1E 03 7A 89 < 45 67 00 00 00 status 0 (ok)");
  EXPECT_EQ(afterStamp(lines[3]),
            "COM1 cmd 22 > 23 22 00 22 89 < 45 67 status 111 (o no status byte)");
  EXPECT_EQ(afterStamp(lines[4]), "COM1 cmd 22 > 23 < status 102 (f no answer to sync)");
  EXPECT_EQ(afterStamp(lines[5]),
            "COM1 cmd 22 > 23 22 00 22 89 < 45 67 30 00 30 status 48 (reader status)");
}

TEST_F(LinkTrace, DashMeansStandardError) {
  setenv("ORVIX32_TRACE", "-", 1);
  testing::internal::CaptureStderr();
  linkUp();
  unsigned char v[8];
  EXPECT_EQ(api->DEVVER(v), 0);
  std::string err = testing::internal::GetCapturedStderr();
  unsetenv("ORVIX32_TRACE");
  EXPECT_NE(err.find("COM1 cmd 00 > 23 00 00 00 89 < 45 67 00 00 00 status 0 (ok) "),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("COM1 cmd 22 > 23 22 00 22 89 < 45 67 00 08"), std::string::npos) << err;
}

}  // namespace
