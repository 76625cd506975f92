// The arguments of card work, read from text: one parser and one message
// for each, whichever door the text came through. name is the argument as
// the door spells it ("--sectors", "sectors"); a malformed or out-of-range
// text throws a Fault::Argument Error "NAME: what is expected, not TEXT".
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "orvix/ops/mifare_rules.h"

namespace orvix::ops {

// A Mifare 1 block 0-63.
int parseBlock(std::string_view text, const std::string& name = "block");
// "1,3-5": sectors 0-15; an empty text is every sector.
std::set<int> parseSectors(std::string_view text, const std::string& name = "sectors");
// 12 hexadecimal digits.
Key parseKey(std::string_view text, const std::string& name = "key");
// 16 bytes as 32 hexadecimal digits (blanks allowed between bytes).
Block parseBlockData(std::string_view text, const std::string& name = "data");
// A decimal amount in [min, max].
std::int64_t parseAmount(std::string_view text, std::int64_t min, std::int64_t max,
                         const std::string& name = "amount");
// "YYYY-MM-DD" (a real calendar day): {year, month, day}.
std::array<int, 3> parseDate(std::string_view text, const std::string& name = "date");
// "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (seconds 0 when left out):
// {year, month, day, hour, minute, second}.
std::array<int, 6> parseClock(std::string_view text, const std::string& name = "clock");
// A reader port: "COM1" … "COM10" in any case or an index 0-9 (0 = COM1)
// give "COMn"; "auto", a device path or a network URL are kept as given.
std::string parsePort(std::string_view text, const std::string& name = "port");
// True for a network port's URL (tcp://, rfc2217://).
bool isNetworkPort(std::string_view port);

}  // namespace orvix::ops
