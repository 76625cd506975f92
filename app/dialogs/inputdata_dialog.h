// inputdata: asks for a Mifare 1 block (sector 0-15 and block 0-3, block 3
// being the sector's trailer "控制块") and, by dataDialogMode, for data:
// 0 = 16 bytes to write, 1 = location only, 2 = a text taken as it is (a
// purse amount when amountEntry is set, which must fit a signed 32-bit value).
#pragma once

#include <array>

#include "dialog_base.h"

namespace cardbench {

class InputDataDialog : public DataDialog {
  Q_OBJECT
 public:
  InputDataDialog(Module1& state, bool amountEntry, QWidget* parent = nullptr);

 protected:
  bool confirm() override;

 private:
  std::array<QRadioButton*, 16> sectors_{};
  std::array<QRadioButton*, 4> blocks_{};
};

}  // namespace cardbench
