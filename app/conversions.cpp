#include "conversions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace cardbench {
namespace {

int hexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

// Removes blanks (not other white space) at both ends.
QString trimBlanks(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && text[first] == u' ') ++first;
  while (last > first && text[last - 1] == u' ') --last;
  return text.mid(first, last - first);
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

}  // namespace

void hexTextToBytes(const QString& text, std::span<std::uint8_t> out, int n,
                    std::int32_t& counter) {
  const QString trimmed = trimBlanks(text);
  for (counter = 0; counter < n; ++counter) {
    const QString pair = trimmed.mid(2 * counter, 2);
    int value = 0;
    for (QChar c : pair) {
      const int d = hexDigit(c);
      if (d < 0) break;
      value = value * 16 + d;
    }
    if (static_cast<std::size_t>(counter) < out.size())
      out[static_cast<std::size_t>(counter)] = static_cast<std::uint8_t>(value);
  }
}

void hexTextToBytes(const QString& text, std::span<std::uint8_t> out, int n) {
  std::int32_t counter = 0;
  hexTextToBytes(text, out, n, counter);
}

QString byteHex(std::uint8_t value) {
  return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString zeroPaddedHex(std::int32_t value) {
  return QStringLiteral("%1")
      .arg(static_cast<std::uint32_t>(value), 8, 16, QLatin1Char('0'))
      .toUpper();
}

QString byteCountText(const QString& text) { return QString::number(text.size() / 2); }

QString hexDumpLine(std::span<const std::uint8_t> data, int n, std::int32_t& counter) {
  QString line;
  for (counter = 0; counter < n && static_cast<std::size_t>(counter) < data.size(); ++counter)
    line += u' ' + byteHex(data[static_cast<std::size_t>(counter)]);
  return line;
}

QString versionLine(std::span<const std::uint8_t> bytes) {
  QString line = QStringLiteral(" ");
  for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i)
    line += QString::number(bytes[i], 16).toUpper();
  return line;
}

std::optional<std::int32_t> decimalTextToAmount(const QString& text) {
  // Gather the longest prefix that reads as a numeric literal, blanks skipped.
  std::string literal;
  qsizetype i = 0;
  const qsizetype size = text.size();
  auto skipBlanks = [&] {
    while (i < size && isBlank(text[i].unicode())) ++i;
  };
  auto isDigitAt = [&](qsizetype at) {
    return at < size && text[at].unicode() >= u'0' && text[at].unicode() <= u'9';
  };
  auto takeDigits = [&] {
    bool any = false;
    for (;;) {
      skipBlanks();
      if (!isDigitAt(i)) break;
      literal += static_cast<char>(text[i].unicode());
      ++i;
      any = true;
    }
    return any;
  };

  skipBlanks();
  if (i < size && (text[i] == u'+' || text[i] == u'-')) {
    literal += static_cast<char>(text[i].unicode());
    ++i;
  }
  bool mantissa = takeDigits();
  skipBlanks();
  if (i < size && text[i] == u'.') {
    literal += '.';
    ++i;
    mantissa = takeDigits() || mantissa;
  }
  if (!mantissa) return 0;

  skipBlanks();
  if (i < size) {
    const char16_t e = text[i].unicode();
    if (e == u'E' || e == u'e' || e == u'D' || e == u'd') {
      // The exponent counts only when digits follow (after an optional sign).
      const qsizetype save = i;
      const std::size_t keep = literal.size();
      ++i;
      std::string exponent = "e";
      skipBlanks();
      if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        exponent += static_cast<char>(text[i].unicode());
        ++i;
      }
      literal += exponent;
      if (!takeDigits()) {
        literal.resize(keep);
        i = save;
      }
    }
  }

  errno = 0;
  const double value = std::strtod(literal.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  // The default rounding mode rounds halves to the even neighbour.
  const double rounded = std::nearbyint(value);
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

bool isWholeDecimalText(const QString& text) {
  QString compact = text;
  compact.remove(u' ');
  qsizetype i = !compact.isEmpty() && (compact[0] == u'+' || compact[0] == u'-') ? 1 : 0;
  if (compact.size() == i) return false;  // nothing, or a sign alone
  for (; i < compact.size(); ++i)
    if (compact[i].unicode() < u'0' || compact[i].unicode() > u'9') return false;
  return true;
}

std::optional<std::int32_t> wholeAmount(const QString& text) {
  if (!isWholeDecimalText(text)) return std::nullopt;
  return decimalTextToAmount(text);
}

QString amountText(std::int32_t value) {
  return value < 0 ? QString::number(value) : u' ' + QString::number(value);
}

bool isHexKey(QChar c) { return hexDigit(c) >= 0 || c == u'\b'; }

}  // namespace cardbench
