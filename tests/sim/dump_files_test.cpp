// Mifare 1 dumps from hostile paths: everything that is not a regular
// 1024-byte file is refused with an error line, at once, and the reader
// keeps serving.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/simulator.h"
#include "core_host.h"

namespace {

TEST(DumpFiles, OnlyARegularFileOfTheRightSizeIsRead) {
  auto sim = readersim::makeStandardSimulator();
  char tmpl[] = "/tmp/dump-files-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  std::ofstream(dir + "/big").close();
  ASSERT_EQ(truncate((dir + "/big").c_str(), 3LL << 30), 0);  // sparse: no disk used
  auto say = [&](const std::string& line) {
    std::string out;
    EXPECT_TRUE(sim->control(simtest::words(line), out)) << line;
    return out;
  };
  struct Case {
    std::string path, answer;
  } cases[] = {
      {dir, "not a regular file"},
      {dir + "/fifo", "not a regular file"},  // nobody writes it: must not wait
      {dir + "/big", "3221225472 bytes; a Mifare 1 dump is 1024"},
      {dir + "/missing", "No such file or directory"},
  };
  for (const auto& c : cases) {
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(say("mifare load " + c.path), "error: " + c.path + ": " + c.answer);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500)) << c.path;
  }
  // Still serving: the card in the field round-trips through a dump.
  EXPECT_EQ(say("mifare save " + dir + "/card.bin"),
            "saved classic 12345678 to " + dir + "/card.bin");
  say("mifare remove");
  EXPECT_EQ(say("mifare load " + dir + "/card.bin").rfind("loaded classic 12345678", 0), 0u);
  std::filesystem::remove_all(dir);
}

}  // namespace
