// CALLMODE: asks for the request mode, "ALL" (1) or "IDLE" (0), and leaves it
// in modeChoice; the exit button leaves modeChoice 2.
#pragma once

#include "dialog_base.h"

namespace cardbench {

class CallModeDialog : public BenchDialog {
  Q_OBJECT
 public:
  CallModeDialog(Module1& state, QWidget* parent = nullptr);

 protected:
  bool confirm() override;
  void resetOutputs() override;

 private:
  QRadioButton* all_ = nullptr;
  QRadioButton* idle_ = nullptr;
};

}  // namespace cardbench
