#include "mima_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "conversions.h"
#include "dialog_rules.h"

namespace cardbench {

MimaDialog::MimaDialog(Module1& state, QWidget* parent)
    : BenchDialog(state, QStringLiteral("mima"), QStringLiteral("卡片密码设置"), 520, 330, parent) {
  QGroupBox* sectorFrame =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 扇区号 "), 16, 52, 336, 136);
  for (int i = 0; i < 16; ++i) {
    const int column = i / 4;
    const int row = i % 4;
    sectors_[static_cast<std::size_t>(i)] =
        option(sectorFrame, QStringLiteral("Option%1").arg(i + 1), QStringLiteral("扇区%1").arg(i),
               14 + column * 80, 24 + row * 26);
  }

  QGroupBox* keyArea =
      frame(this, QStringLiteral("Frame1"), QStringLiteral(" 密码区 "), 360, 52, 144, 136);
  const QString keyCaptions[3] = {QStringLiteral("密码A"), QStringLiteral("密码B"),
                                  QStringLiteral("密码A、B")};
  for (int i = 0; i < 3; ++i)
    keys_[static_cast<std::size_t>(i)] = option(keyArea, QStringLiteral("Option%1").arg(17 + i),
                                                keyCaptions[i], 24, 28 + i * 32, 104);

  keyFrame_ = frame(this, QStringLiteral("Frame3"), QStringLiteral(" 密码值 "), 16, 196, 488, 64);
  hexEntry(keyFrame_, QStringLiteral("请输入密码值："), QStringLiteral("mima"), 132, 12,
           QStringLiteral("密码长度："), QStringLiteral("mimalength"), &key_, &length_);

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
  if (mimaNeedsKey(state_.keyDialogMode)) {
    length_->setText(byteCountText(key_->text()));
    if (auto error = keyLengthError(key_->text())) {
      showError(*error);
      return false;
    }
  }
  state_.keyText = key_->text();
  for (int i = 0; i < 16; ++i)
    if (sectors_[static_cast<std::size_t>(i)]->isChecked()) state_.sectorNo = i;
  for (int i = 0; i < 3; ++i)
    if (keys_[static_cast<std::size_t>(i)]->isChecked()) state_.keyChoice = i;
  return true;
}

void MimaDialog::resetOutputs() {
  state_.keyChoice = 0;
  state_.keyText = QString();
  state_.sectorNo = 0;
}

}  // namespace cardbench
