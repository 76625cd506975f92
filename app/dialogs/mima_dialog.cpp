#include "mima_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_rules.h"

namespace cardbench {

MimaDialog::MimaDialog(Module1& state, QWidget* parent)
    : KeyDialog(state, QStringLiteral("mima"), 330, parent) {
  QGroupBox* sectorFrame =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 扇区号 "), 16, 52, 336, 136);
  sectorOptions(sectorFrame, 14, 80, sectors_);

  QGroupBox* keyArea =
      frame(this, QStringLiteral("Frame1"), QStringLiteral(" 密码区 "), 360, 52, 144, 136);
  const QString keyCaptions[3] = {QStringLiteral("密码A"), QStringLiteral("密码B"),
                                  QStringLiteral("密码A、B")};
  optionColumn(keyArea, 17, keyCaptions, 24, 28, 32, 104, keys_);

  keyFrame_ = keyEntry(196);

  placeButtons(272);

  // Each showing starts from sector 0, key A and an empty key; then the mode
  // decides what may be chosen.
  sectors_[0]->setChecked(true);
  keys_[0]->setChecked(true);
  key_->clear();
  length_->setText(QStringLiteral("0"));
  switch (state_.keyDialogMode) {
    case kKeyAuthenticate:
      keyFrame_->setEnabled(false);
      keys_[1]->setEnabled(true);
      keys_[2]->setEnabled(false);
      break;
    case kKeyLoad:
      keyFrame_->setEnabled(true);
      keys_[0]->setChecked(true);
      keys_[0]->setEnabled(true);
      keys_[2]->setEnabled(false);
      break;
    case kKeyTransfer:
      keyFrame_->setEnabled(true);
      keys_[2]->setChecked(true);
      keys_[0]->setEnabled(false);
      keys_[1]->setEnabled(false);
      break;
    default:
      break;
  }
}

bool MimaDialog::confirm() {
  if (!keyAccepted(mimaNeedsKey(state_.keyDialogMode))) return false;
  for (int i = 0; i < 16; ++i)
    if (sectors_[static_cast<std::size_t>(i)]->isChecked()) state_.sectorNo = i;
  for (int i = 0; i < 3; ++i)
    if (keys_[static_cast<std::size_t>(i)]->isChecked()) state_.keyChoice = i;
  return true;
}

}  // namespace cardbench
