#include "ml10mima_dialog.h"

#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "conversions.h"
#include "dialog_rules.h"

namespace cardbench {

Ml10MimaDialog::Ml10MimaDialog(Module1& state, QWidget* parent)
    : BenchDialog(state, QStringLiteral("ML10MIMA"), QStringLiteral("卡片密码设置"), 520, 252,
                  parent) {
  QGroupBox* keyArea =
      frame(this, QStringLiteral("Frame1"), QStringLiteral(" 密码区 "), 16, 52, 488, 60);
  keyA_ = option(keyArea, QStringLiteral("Option17"), QStringLiteral("密码A"), 96, 26, 100);
  keyB_ = option(keyArea, QStringLiteral("Option18"), QStringLiteral("密码B"), 296, 26, 100);

  QGroupBox* keyFrame =
      frame(this, QStringLiteral("Frame3"), QStringLiteral(" 密码值 "), 16, 120, 488, 64);
  hexEntry(keyFrame, QStringLiteral("请输入密码值："), QStringLiteral("mima"), 132, 12,
           QStringLiteral("密码长度："), QStringLiteral("mimalength"), &key_, &length_);
  key_->installEventFilter(this);

  placeButtons(196);

  // Each showing starts with an empty key and key A, whatever the mode.
  key_->clear();
  keyA_->setChecked(true);
}

bool Ml10MimaDialog::eventFilter(QObject* watched, QEvent* event) {
  // Leaving the key box turns its text into upper case.
  if (watched == key_ && event->type() == QEvent::FocusOut) key_->setText(key_->text().toUpper());
  return BenchDialog::eventFilter(watched, event);
}

bool Ml10MimaDialog::confirm() {
  if (ml10MimaNeedsKey(state_.keyDialogMode)) {
    length_->setText(byteCountText(key_->text()));
    if (auto error = keyLengthError(key_->text())) {
      showError(*error);
      return false;
    }
  }
  state_.keyText = key_->text();
  state_.sectorNo = keyA_->isChecked() ? 0 : 1;
  return true;
}

void Ml10MimaDialog::resetOutputs() {
  state_.keyChoice = 0;
  state_.keyText = QString();
  state_.sectorNo = 0;
}

}  // namespace cardbench
