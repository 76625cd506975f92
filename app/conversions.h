// The text conversions of cardbench: hexadecimal key and block texts to bytes,
// bytes and serial numbers to hexadecimal text, and purse amounts between
// decimal text and the card's signed 32-bit value.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

namespace cardbench {

// Reads n bytes out of a hexadecimal text: leading and trailing blanks are
// removed, then byte i is read from the characters 2i+1 and 2i+2 (1-based).
// Each pair gives the value of its leading run of hexadecimal digits (either
// case); an empty run, or a pair past the end of the text, gives 0. Writes
// out[0 … n-1]; `counter` is the loop counter (0 … n), left at n.
void hexTextToBytes(const QString& text, std::span<std::uint8_t> out, int n, std::int32_t& counter);
void hexTextToBytes(const QString& text, std::span<std::uint8_t> out, int n);

// A byte as two upper-case hexadecimal digits ("0A", "FF").
QString byteHex(std::uint8_t value);

// A 32-bit value as exactly eight upper-case hexadecimal digits; negative
// values as their two's complement ("FFFFFFFF" for -1).
QString zeroPaddedHex(std::int32_t value);

// The whole number of bytes that a hexadecimal text holds: characters / 2.
QString byteCountText(const QString& text);

// One blank before each byte of data[0 … n-1] as two hexadecimal digits
// (" 12 0A FF"); `counter` as for hexTextToBytes.
QString hexDumpLine(std::span<const std::uint8_t> data, int n, std::int32_t& counter);

// The firmware version line: a blank, then each of the 8 bytes in upper-case
// hexadecimal without leading zero and without separator (" 102A...").
QString versionLine(std::span<const std::uint8_t> bytes);

// Reads a decimal text as a numeric literal: blanks anywhere are skipped, an
// optional sign, digits, an optional fraction, an optional exponent brought
// in by E or D (either case); reading stops at the first character that
// cannot continue the number, and nothing readable gives 0. The number is
// rounded to the nearest integer, halves to the even neighbour. Returns
// nothing when the result lies outside the signed 32-bit range.
std::optional<std::int32_t> decimalTextToAmount(const QString& text);

// Whether a purse amount is typed as a whole decimal number: blanks aside,
// digits with an optional sign in front (no hexadecimal letters, no exponent,
// no fraction). An empty or blank text is no amount: it is refused, never
// taken as 0.
bool isWholeDecimalText(const QString& text);
// The amount of such a text; nothing for any other text (the empty one too)
// or for a value outside the signed 32-bit range.
std::optional<std::int32_t> wholeAmount(const QString& text);

// An amount or status in decimal: a blank before zero and positive values, a
// minus sign before negative ones (" 250", "-5").
QString amountText(std::int32_t value);

// Whether a typed character may enter a key or data box: 0-9, a-f, A-F and
// backspace.
bool isHexKey(QChar c);

}  // namespace cardbench
