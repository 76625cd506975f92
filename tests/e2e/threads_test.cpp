// Four threads call the library at once against one simulated reader: each
// call is carried out whole, so every reply is its caller's own. Each thread
// writes and reads back its own block and asks for the reader's identities.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Threads = e2e::LinkedReaderTest;

TEST_F(Threads, FourCallersEachGetTheirOwnReplies) {
  auto writeBlock = fn<int(int, int, unsigned char*)>("RFMifare_WriteBlock");
  auto readBlock = fn<int(int, int, unsigned char*)>("RFMifare_ReadBlock");
  auto devver = fn<int(unsigned char*)>("DEVVER");
  auto deviceNumber = fn<int(unsigned char*)>("GetDeviceNumber");
  const readersim::Options defaults{};
  const Bytes identities[] = {
      Bytes(defaults.firmwareVersion.begin(), defaults.firmwareVersion.end()),
      Bytes(defaults.deviceNumber.begin(), defaults.deviceNumber.end())};
  const unsigned char serialBytes[4] = {0x12, 0x34, 0x56, 0x78};  // the card in the field
  int serial = 0;
  std::memcpy(&serial, serialBytes, 4);
  constexpr int kRounds = 20;
  const int blocks[4] = {1, 2, 4, 5};

  auto caller = [&](int t) {
    const std::string who = "thread " + std::to_string(t);
    for (int round = 0; round < kRounds; ++round) {
      Bytes data(16);
      for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(t << 6 | round << 1 | i);
      Bytes reply = data;
      EXPECT_EQ(writeBlock(blocks[t], serial, reply.data()), 0) << who;
      EXPECT_EQ(reply, data) << who << ", write reply of round " << round;
      Bytes back(16, 0xEE);
      EXPECT_EQ(readBlock(blocks[t], serial, back.data()), 0) << who;
      EXPECT_EQ(back, data) << who << ", read of round " << round;
      Bytes id(8, 0xEE);
      EXPECT_EQ((t % 2 ? deviceNumber : devver)(id.data()), 0) << who;
      EXPECT_EQ(id, identities[t % 2]) << who;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(caller, t);
  for (auto& th : threads) th.join();
}

}  // namespace
