// mima: the key dialog of Mifare 1 cards. The operator picks a sector (0-15),
// a key (A, B, or A and B) and types a 6-byte key as 12 hexadecimal digits.
// keyDialogMode: 0 = authenticate (no key typed), 1 = load a key, 2 =
// transfer or change a key (keys A and B only).
#pragma once

#include <array>

#include "dialog_base.h"

namespace cardbench {

class MimaDialog : public KeyDialog {
  Q_OBJECT
 public:
  MimaDialog(Module1& state, QWidget* parent = nullptr);

 protected:
  bool confirm() override;

 private:
  std::array<QRadioButton*, 16> sectors_{};
  std::array<QRadioButton*, 3> keys_{};  // Option17 A, Option18 B, Option19 A and B
  QGroupBox* keyFrame_ = nullptr;
};

}  // namespace cardbench
