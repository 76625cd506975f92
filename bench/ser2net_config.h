// The ser2net configuration of bench/ser2net.yaml (the README's) with a
// device and two ports of the caller's put in.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace ser2net {

inline std::string config(const std::string& device, int raw, int rfc2217) {
  std::ifstream in(SER2NET_YAML);
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  const std::pair<std::string, std::string> swaps[] = {
      {"/dev/ttyUSB0", device},
      {",3001\n", "," + std::to_string(raw) + "\n"},
      {",2217\n", "," + std::to_string(rfc2217) + "\n"}};
  for (const auto& [from, to] : swaps)
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  return text;
}

}  // namespace ser2net
