// Module1: the program-wide variables of cardbench. The main window's
// handlers set a dialog's mode variable, open the dialog modally, and read
// what it left here once it has closed; the card's identity found by one
// command is kept here for the commands that follow.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace cardbench {

// A text of fixed width: a shorter text is padded with blanks on the right,
// a longer one keeps its first Width characters. Starts as NUL characters.
template <int Width>
class FixedText {
 public:
  FixedText() : text_(Width, QChar(u'\0')) {}
  FixedText& operator=(const QString& text) {
    text_ = text.left(Width).leftJustified(Width, QLatin1Char(' '));
    return *this;
  }
  const QString& text() const { return text_; }

 private:
  QString text_;
};

struct Module1 {
  std::uint8_t dialogOk = 0;      // 1 = the dialog was confirmed, 0 = left with exit
  std::int32_t cardSerial = 0;    // the 4 serial bytes as the library wrote them
  std::int32_t cardTypeCode = 0;  // 4 = Mifare 1, 16 = Mifare Light 10
  std::int32_t keySectorNo = 0;
  std::int32_t blockAddr = 0;
  FixedText<12> keyText;
  std::int32_t purseValue = 0;
  FixedText<32> dataText;
  std::int32_t keyChoice = 0;   // 0 = key A, 1 = key B, 2 = keys A and B
  std::int32_t modeChoice = 0;  // 1 = ALL, 0 = IDLE, 2 = left with exit
  std::int16_t keyDialogMode = 0;
  std::int16_t dataDialogMode = 0;
  std::int32_t sectorNo = 0;
  std::int32_t blockNo = 0;
};

// Card type codes as the reader reports them.
inline constexpr std::int32_t kMifare1 = 4;
inline constexpr std::int32_t kMifareLight10 = 16;

// Modes of the key dialogs (keyDialogMode).
inline constexpr std::int16_t kKeyAuthenticate = 0;
inline constexpr std::int16_t kKeyLoad = 1;
inline constexpr std::int16_t kKeyTransfer = 2;

// Modes of the data dialogs (dataDialogMode).
inline constexpr std::int16_t kDataWrite = 0;
inline constexpr std::int16_t kDataRead = 1;
inline constexpr std::int16_t kDataText = 2;

// Fields of the main window that every card command uses.
struct WindowState {
  std::int32_t cmdStatus = 0;
  std::int32_t loopIndex = 0;
  std::array<std::uint8_t, 17> dataBytes{};  // block buffer: bytes 0 … 15 used
};

}  // namespace cardbench
