#include "ml10input_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_rules.h"

namespace cardbench {

Ml10InputDialog::Ml10InputDialog(Module1& state, bool amountEntry, QWidget* parent)
    : BenchDialog(state, QStringLiteral("ml10input"), QStringLiteral("卡片数据区数据输入"), 440,
                  304, parent),
      amountEntry_(amountEntry) {
  QGroupBox* pageFrame =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 页 号 "), 16, 52, 408, 110);
  for (int i = 0; i < 12; ++i) {
    const int row = i / 4;
    const int column = i % 4;
    pages_[static_cast<std::size_t>(i)] =
        option(pageFrame, QStringLiteral("Option%1").arg(i + 1), QStringLiteral("页号%1").arg(i),
               24 + column * 96, 24 + row * 26, 88);
  }

  dataFrame_ = frame(this, QStringLiteral("Frame3"), QStringLiteral(" 数据值 "), 16, 170, 408, 64);
  hexEntry(dataFrame_, QStringLiteral("数据值："), QStringLiteral("dataa"), 120, 8,
           QStringLiteral("数据长度："), QStringLiteral("length"), &data_, &length_);

  placeButtons(246);

  length_->setText(QStringLiteral("0"));
  if (state_.dataDialogMode == kDataRead) dataFrame_->setEnabled(false);
  if (state_.dataDialogMode == kDataWrite) dataFrame_->setEnabled(true);
  pages_[0]->setChecked(true);
  data_->clear();
}

bool Ml10InputDialog::confirm() {
  if (auto error = dataLengthError(state_.dataDialogMode, length_->text(), 4)) {
    showError(*error);
    return false;
  }
  if (amountEntry_ && state_.dataDialogMode == kDataText) {
    if (auto error = amountError(data_->text())) {
      showError(*error);
      return false;
    }
  }
  for (int i = 0; i < 12; ++i)
    if (pages_[static_cast<std::size_t>(i)]->isChecked()) state_.sectorNo = i;
  if (state_.dataDialogMode == kDataWrite || state_.dataDialogMode == kDataText)
    state_.dataText = data_->text();
  return true;
}

}  // namespace cardbench
