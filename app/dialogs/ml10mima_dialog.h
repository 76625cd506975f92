// ML10MIMA: the key dialog of Mifare Light 10 cards. The operator picks key A
// or B (handed back in sectorNo, 0 or 1) and types a key; only in
// keyDialogMode 2 must the key be 6 bytes.
#pragma once

#include "dialog_base.h"

namespace cardbench {

class Ml10MimaDialog : public KeyDialog {
  Q_OBJECT
 public:
  Ml10MimaDialog(Module1& state, QWidget* parent = nullptr);

 protected:
  bool confirm() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QRadioButton* keyA_ = nullptr;
  QRadioButton* keyB_ = nullptr;
};

}  // namespace cardbench
