// What the dialogs check before they hand the operator's input back, kept
// apart from the widgets.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "conversions.h"
#include "module1.h"

namespace cardbench {

inline const QString kDialogTitle = QStringLiteral("TK61系列MIFARE模块应用程序");
inline const QString kErrorTitle = QStringLiteral("错误信息");
inline const QString kKeyLengthMessage = QStringLiteral("密码长度必须为6个字节!");
inline const QString kAmountNotWholeMessage =
    QStringLiteral("金额必须是十进制整数（只能输入数字0-9），请重新输入。");
inline const QString kAmountRangeMessage =
    QStringLiteral("金额超出范围！电子钱包金额必须在 -2147483648 到 2147483647 之间，请重新输入。");

// `mima` needs a 6-byte key when it loads or transfers a key.
inline bool mimaNeedsKey(std::int16_t keyDialogMode) {
  return keyDialogMode == kKeyLoad || keyDialogMode == kKeyTransfer;
}
// `ML10MIMA` tests the key length only when a key is transferred or changed.
inline bool ml10MimaNeedsKey(std::int16_t keyDialogMode) { return keyDialogMode == kKeyTransfer; }

// The refusal of a key whose byte count is not 6, or nothing.
inline std::optional<QString> keyLengthError(const QString& keyText) {
  if (byteCountText(keyText) != QLatin1String("6")) return kKeyLengthMessage;
  return std::nullopt;
}

// In write mode the byte count shown must be the block's width.
inline std::optional<QString> dataLengthError(std::int16_t dataDialogMode,
                                              const QString& shownLength, int requiredBytes) {
  if (dataDialogMode != kDataWrite) return std::nullopt;
  if (shownLength != QString::number(requiredBytes))
    return QStringLiteral("数据长度必须为%1个字节!").arg(requiredBytes);
  return std::nullopt;
}

// A purse amount must be a whole decimal number that fits a signed 32-bit
// value.
inline std::optional<QString> amountError(const QString& text) {
  if (wholeAmount(text)) return std::nullopt;
  return isWholeDecimalText(text) ? kAmountRangeMessage : kAmountNotWholeMessage;
}

}  // namespace cardbench
