// ml10input: asks for a Mifare Light 10 page (0-11) and, by dataDialogMode,
// for data: 0 = 4 bytes to write, 1 = page only, 2 = a text taken as it is
// (a purse amount when amountEntry is set, which must fit a signed 32-bit
// value). blockNo is left alone.
#pragma once

#include <array>

#include "dialog_base.h"

namespace cardbench {

class Ml10InputDialog : public DataDialog {
  Q_OBJECT
 public:
  Ml10InputDialog(Module1& state, bool amountEntry, QWidget* parent = nullptr);

 protected:
  bool confirm() override;

 private:
  std::array<QRadioButton*, 12> pages_{};
};

}  // namespace cardbench
