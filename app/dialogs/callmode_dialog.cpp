#include "callmode_dialog.h"

#include <QGroupBox>
#include <QRadioButton>

namespace cardbench {

CallModeDialog::CallModeDialog(Module1& state, QWidget* parent)
    : BenchDialog(state, QStringLiteral("CALLMODE"), QStringLiteral("呼叫方式"), 320, 196, parent) {
  QGroupBox* modes =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 呼叫方式 "), 16, 56, 288, 64);
  all_ = option(modes, QStringLiteral("Option1"), QStringLiteral("ALL"), 48, 28, 80);
  idle_ = option(modes, QStringLiteral("Option2"), QStringLiteral("IDLE"), 176, 28, 80);
  placeButtons(134);
  // Each showing starts with "ALL" selected.
  all_->setChecked(true);
}

bool CallModeDialog::confirm() {
  state_.modeChoice = all_->isChecked() ? 1 : 0;
  return true;
}

void CallModeDialog::resetOutputs() { state_.modeChoice = 2; }

}  // namespace cardbench
