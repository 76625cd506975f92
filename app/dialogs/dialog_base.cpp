#include "dialog_base.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "conversions.h"
#include "dialog_rules.h"
#include "hex_key_filter.h"
#include "ui_style.h"

namespace cardbench {

namespace {
constexpr int kButtonWidth = 81;   // 1215 twips
constexpr int kButtonHeight = 25;  // 375 twips
constexpr int kStripHeight = 20;
constexpr int kRowHeight = 24;
}  // namespace

BenchDialog::BenchDialog(Module1& state, const QString& name, const QString& heading, int width,
                         int height, QWidget* parent)
    : QDialog(parent), state_(state) {
  setObjectName(name);
  setWindowTitle(kDialogTitle);
  setModal(true);
  setFont(controlFont());
  setFixedSize(width, height);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Image1"));
  picture->setPixmap(cardPicture(36));
  picture->setGeometry(16, 8, 36, 36);

  auto* title = new QLabel(heading, this);
  title->setObjectName(QStringLiteral("Label2"));
  title->setFont(headingFont());
  title->setGeometry(60, 8, width - 76, 30);

  auto* rule = new QFrame(this);
  rule->setObjectName(QStringLiteral("Line1"));
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(60, 40, width - 76, 3);

  auto* strip = new QFrame(this);
  strip->setObjectName(QStringLiteral("StatusBar1"));
  strip->setFrameShape(QFrame::Panel);
  strip->setFrameShadow(QFrame::Sunken);
  strip->setGeometry(0, height - kStripHeight, width, kStripHeight);

  cmdadd_ = new QPushButton(QStringLiteral("确  定"), this);
  cmdadd_->setObjectName(QStringLiteral("cmdadd"));
  cmdadd_->setAutoDefault(false);
  cmdEXIT_ = new QPushButton(QStringLiteral("退  出"), this);
  cmdEXIT_->setObjectName(QStringLiteral("cmdEXIT"));
  cmdEXIT_->setAutoDefault(false);
  connect(cmdadd_, &QPushButton::clicked, this, &BenchDialog::onConfirm);
  connect(cmdEXIT_, &QPushButton::clicked, this, &BenchDialog::reject);
}

void BenchDialog::placeButtons(int top) {
  const int gap = 60;
  const int left = (width() - 2 * kButtonWidth - gap) / 2;
  cmdadd_->setGeometry(left, top, kButtonWidth, kButtonHeight);
  cmdEXIT_->setGeometry(left + kButtonWidth + gap, top, kButtonWidth, kButtonHeight);
}

void BenchDialog::onConfirm() {
  if (!confirm()) return;
  state_.dialogOk = 1;
  accept();
}

void BenchDialog::reject() {
  state_.dialogOk = 0;
  resetOutputs();
  QDialog::reject();
}

void BenchDialog::showError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, kErrorTitle, text, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("errorBox"));
  box.exec();
}

QGroupBox* BenchDialog::frame(QWidget* parent, const QString& name, const QString& caption, int x,
                              int y, int w, int h) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(name);
  box->setGeometry(x, y, w, h);
  return box;
}

QRadioButton* BenchDialog::option(QWidget* parent, const QString& name, const QString& caption,
                                  int x, int y, int w) {
  auto* button = new QRadioButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(x, y, w, kRowHeight);
  return button;
}

QLabel* BenchDialog::label(QWidget* parent, const QString& name, const QString& caption, int x,
                           int y) {
  auto* text = new QLabel(caption, parent);
  text->setObjectName(name);
  text->adjustSize();
  text->move(x, y + (kRowHeight - text->height()) / 2);
  return text;
}

void BenchDialog::sectorOptions(QWidget* parent, int left, int step,
                                std::array<QRadioButton*, 16>& sectors) {
  for (int i = 0; i < 16; ++i) {
    const int column = i / 4;
    const int row = i % 4;
    sectors[static_cast<std::size_t>(i)] =
        option(parent, QStringLiteral("Option%1").arg(i + 1), QStringLiteral("扇区%1").arg(i),
               left + column * step, 24 + row * 26);
  }
}

void BenchDialog::optionColumn(QWidget* parent, int first, std::span<const QString> captions, int x,
                               int y, int step, int w, std::span<QRadioButton*> options) {
  for (std::size_t i = 0; i < captions.size(); ++i) {
    const int n = static_cast<int>(i);
    options[i] =
        option(parent, QStringLiteral("Option%1").arg(first + n), captions[i], x, y + n * step, w);
  }
}

void BenchDialog::hexEntry(QWidget* parent, const QString& prompt, const QString& boxName,
                           int boxWidth, int maxLength, const QString& countPrompt,
                           const QString& countName, QLineEdit** box, QLineEdit** count) {
  const int top = 26;
  int x = 12;
  QLabel* first = label(parent, QStringLiteral("Label3"), prompt, x, top);
  x += first->width() + 4;

  auto* entry = new QLineEdit(parent);
  entry->setObjectName(boxName);
  entry->setMaxLength(maxLength);
  entry->setGeometry(x, top, boxWidth, kRowHeight);
  entry->installEventFilter(new HexKeyFilter(entry));
  x += boxWidth + 12;

  QLabel* second = label(parent, QStringLiteral("Label4"), countPrompt, x, top);
  x += second->width() + 4;

  auto* length = new QLineEdit(QStringLiteral("0"), parent);
  length->setObjectName(countName);
  length->setReadOnly(true);
  length->setFocusPolicy(Qt::NoFocus);
  length->setAlignment(Qt::AlignCenter);
  length->setGeometry(x, top, 36, kRowHeight);
  x += 36 + 4;

  label(parent, QStringLiteral("Label5"), QStringLiteral("字节"), x, top);

  // Every change of the box shows its byte count.
  connect(entry, &QLineEdit::textChanged, length,
          [length](const QString& text) { length->setText(byteCountText(text)); });
  *box = entry;
  *count = length;
}

DataDialog::DataDialog(Module1& state, const QString& name, int width, int height, bool amountEntry,
                       QWidget* parent)
    : BenchDialog(state, name, QStringLiteral("卡片数据区数据输入"), width, height, parent),
      amountEntry_(amountEntry) {}

void DataDialog::dataEntry(int top, int frameWidth, int boxWidth, int maxLength) {
  dataFrame_ =
      frame(this, QStringLiteral("Frame3"), QStringLiteral(" 数据值 "), 16, top, frameWidth, 64);
  hexEntry(dataFrame_, QStringLiteral("数据值："), QStringLiteral("dataa"), boxWidth, maxLength,
           QStringLiteral("数据长度："), QStringLiteral("length"), &data_, &length_);
}

void DataDialog::startEntry() {
  length_->setText(QStringLiteral("0"));
  if (state_.dataDialogMode == kDataRead) dataFrame_->setEnabled(false);
  if (state_.dataDialogMode == kDataWrite) dataFrame_->setEnabled(true);
}

bool DataDialog::dataAccepted(int requiredBytes) {
  if (auto error = dataLengthError(state_.dataDialogMode, length_->text(), requiredBytes)) {
    showError(*error);
    return false;
  }
  if (amountEntry_ && state_.dataDialogMode == kDataText) {
    if (auto error = amountError(data_->text())) {
      showError(*error);
      return false;
    }
  }
  return true;
}

void DataDialog::takeDataText() {
  if (state_.dataDialogMode == kDataWrite || state_.dataDialogMode == kDataText)
    state_.dataText = data_->text();
}

KeyDialog::KeyDialog(Module1& state, const QString& name, int height, QWidget* parent)
    : BenchDialog(state, name, QStringLiteral("卡片密码设置"), 520, height, parent) {}

QGroupBox* KeyDialog::keyEntry(int top) {
  QGroupBox* keyFrame =
      frame(this, QStringLiteral("Frame3"), QStringLiteral(" 密码值 "), 16, top, 488, 64);
  hexEntry(keyFrame, QStringLiteral("请输入密码值："), QStringLiteral("mima"), 132, 12,
           QStringLiteral("密码长度："), QStringLiteral("mimalength"), &key_, &length_);
  return keyFrame;
}

bool KeyDialog::keyAccepted(bool needsKey) {
  if (needsKey) {
    length_->setText(byteCountText(key_->text()));
    if (auto error = keyLengthError(key_->text())) {
      showError(*error);
      return false;
    }
  }
  state_.keyText = key_->text();
  return true;
}

void KeyDialog::resetOutputs() {
  state_.keyChoice = 0;
  state_.keyText = QString();
  state_.sectorNo = 0;
}

}  // namespace cardbench
