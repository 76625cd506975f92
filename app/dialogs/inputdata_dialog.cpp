#include "inputdata_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_rules.h"

namespace cardbench {

InputDataDialog::InputDataDialog(Module1& state, bool amountEntry, QWidget* parent)
    : BenchDialog(state, QStringLiteral("inputdata"), QStringLiteral("卡片数据区数据输入"), 600,
                  330, parent),
      amountEntry_(amountEntry) {
  QGroupBox* sectorFrame =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 扇区号 "), 16, 52, 400, 136);
  for (int i = 0; i < 16; ++i) {
    const int column = i / 4;
    const int row = i % 4;
    sectors_[static_cast<std::size_t>(i)] =
        option(sectorFrame, QStringLiteral("Option%1").arg(i + 1), QStringLiteral("扇区%1").arg(i),
               24 + column * 94, 24 + row * 26);
  }

  QGroupBox* blockFrame =
      frame(this, QStringLiteral("Frame1"), QStringLiteral(" 数据块号 "), 424, 52, 160, 136);
  const QString blockCaptions[4] = {QStringLiteral("数据块0"), QStringLiteral("数据块1"),
                                    QStringLiteral("数据块2"), QStringLiteral("控制块")};
  for (int i = 0; i < 4; ++i)
    blocks_[static_cast<std::size_t>(i)] = option(
        blockFrame, QStringLiteral("Option%1").arg(17 + i), blockCaptions[i], 36, 24 + i * 26, 100);

  dataFrame_ = frame(this, QStringLiteral("Frame3"), QStringLiteral(" 数据值 "), 16, 196, 568, 64);
  hexEntry(dataFrame_, QStringLiteral("数据值："), QStringLiteral("dataa"), 300, 32,
           QStringLiteral("数据长度："), QStringLiteral("length"), &data_, &length_);

  placeButtons(272);

  // Each showing starts from sector 0, block 0 and empty data; reads ask for
  // the location only.
  length_->setText(QStringLiteral("0"));
  if (state_.dataDialogMode == kDataRead) dataFrame_->setEnabled(false);
  if (state_.dataDialogMode == kDataWrite) dataFrame_->setEnabled(true);
  sectors_[0]->setChecked(true);
  blocks_[0]->setChecked(true);
  data_->clear();
}

bool InputDataDialog::confirm() {
  if (auto error = dataLengthError(state_.dataDialogMode, length_->text(), 16)) {
    showError(*error);
    return false;
  }
  if (amountEntry_ && state_.dataDialogMode == kDataText) {
    if (auto error = amountError(data_->text())) {
      showError(*error);
      return false;
    }
  }
  for (int i = 0; i < 16; ++i)
    if (sectors_[static_cast<std::size_t>(i)]->isChecked()) state_.sectorNo = i;
  for (int i = 0; i < 4; ++i)
    if (blocks_[static_cast<std::size_t>(i)]->isChecked()) state_.blockNo = i;
  if (state_.dataDialogMode == kDataWrite || state_.dataDialogMode == kDataText)
    state_.dataText = data_->text();
  return true;
}

}  // namespace cardbench
