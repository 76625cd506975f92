#include "ml10mima_dialog.h"

#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_rules.h"

namespace cardbench {

Ml10MimaDialog::Ml10MimaDialog(Module1& state, QWidget* parent)
    : KeyDialog(state, QStringLiteral("ML10MIMA"), 252, parent) {
  QGroupBox* keyArea =
      frame(this, QStringLiteral("Frame1"), QStringLiteral(" 密码区 "), 16, 52, 488, 60);
  keyA_ = option(keyArea, QStringLiteral("Option17"), QStringLiteral("密码A"), 96, 26, 100);
  keyB_ = option(keyArea, QStringLiteral("Option18"), QStringLiteral("密码B"), 296, 26, 100);

  keyEntry(120);
  key_->installEventFilter(this);

  placeButtons(196);

  // Each showing starts with an empty key and key A, whatever the mode.
  key_->clear();
  keyA_->setChecked(true);
}

bool Ml10MimaDialog::eventFilter(QObject* watched, QEvent* event) {
  // Leaving the key box turns its text into upper case.
  if (watched == key_ && event->type() == QEvent::FocusOut) key_->setText(key_->text().toUpper());
  return KeyDialog::eventFilter(watched, event);
}

bool Ml10MimaDialog::confirm() {
  if (!keyAccepted(ml10MimaNeedsKey(state_.keyDialogMode))) return false;
  state_.sectorNo = keyA_->isChecked() ? 0 : 1;
  return true;
}

}  // namespace cardbench
