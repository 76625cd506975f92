#include "ml10input_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_rules.h"

namespace cardbench {

Ml10InputDialog::Ml10InputDialog(Module1& state, bool amountEntry, QWidget* parent)
    : DataDialog(state, QStringLiteral("ml10input"), 440, 304, amountEntry, parent) {
  QGroupBox* pageFrame =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 页 号 "), 16, 52, 408, 110);
  for (int i = 0; i < 12; ++i) {
    const int row = i / 4;
    const int column = i % 4;
    pages_[static_cast<std::size_t>(i)] =
        option(pageFrame, QStringLiteral("Option%1").arg(i + 1), QStringLiteral("页号%1").arg(i),
               24 + column * 96, 24 + row * 26, 88);
  }

  dataEntry(170, 408, 120, 8);

  placeButtons(246);

  startEntry();
  pages_[0]->setChecked(true);
  data_->clear();
}

bool Ml10InputDialog::confirm() {
  if (!dataAccepted(4)) return false;
  for (int i = 0; i < 12; ++i)
    if (pages_[static_cast<std::size_t>(i)]->isChecked()) state_.sectorNo = i;
  takeDataText();
  return true;
}

}  // namespace cardbench
