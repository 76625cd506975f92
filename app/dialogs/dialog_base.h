// What the five dialogs share: the window title, the heading with its picture
// and rule, the confirm and exit buttons, the empty status strip, and the
// protocol with the main window. The confirm button `cmdadd` hands the
// dialog's outputs to Module1 and sets dialogOk to 1 when confirm() accepts;
// the exit button `cmdEXIT`, Escape and the window's close box all leave the
// dialog the same way: dialogOk 0 and the dialog's reset values.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <span>

#include "module1.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace cardbench {

class BenchDialog : public QDialog {
  Q_OBJECT
 public:
  void reject() override;

 protected:
  BenchDialog(Module1& state, const QString& name, const QString& heading, int width, int height,
              QWidget* parent);

  // Validates and writes the outputs; false keeps the dialog open.
  virtual bool confirm() = 0;
  // Writes the values the exit button leaves behind (besides dialogOk 0).
  virtual void resetOutputs() {}

  // The confirm and exit buttons side by side, centred, at this height.
  void placeButtons(int top);
  // A modal error box titled "错误信息" with the error icon and one OK button.
  void showError(const QString& text);

  // Helpers for laying out the form.
  QGroupBox* frame(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                   int w, int h);
  QRadioButton* option(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                       int w = 76);
  QLabel* label(QWidget* parent, const QString& name, const QString& caption, int x, int y);
  // The sixteen sector options "Option1" … "Option16" ("扇区0" … "扇区15"),
  // four columns of four, the first column at `left`, columns `step` apart.
  void sectorOptions(QWidget* parent, int left, int step, std::array<QRadioButton*, 16>& sectors);
  // Options "Option<first>", "Option<first + 1>", … with these captions, one
  // under the other from (x, y), `step` apart.
  void optionColumn(QWidget* parent, int first, std::span<const QString> captions, int x, int y,
                    int step, int w, std::span<QRadioButton*> options);
  // A hexadecimal entry box with its read-only byte-count box and labels:
  // "<prompt>" [box] "<countPrompt>" [count] "字节". The count box shows "0".
  void hexEntry(QWidget* parent, const QString& prompt, const QString& boxName, int boxWidth,
                int maxLength, const QString& countPrompt, const QString& countName,
                QLineEdit** box, QLineEdit** count);

  Module1& state_;
  QPushButton* cmdadd_ = nullptr;
  QPushButton* cmdEXIT_ = nullptr;

 private:
  void onConfirm();
};

// What the two data dialogs (inputdata, ml10input) share: the "数据值" frame
// with its entry, its start by dataDialogMode and its checks.
class DataDialog : public BenchDialog {
  Q_OBJECT
 protected:
  DataDialog(Module1& state, const QString& name, int width, int height, bool amountEntry,
             QWidget* parent);

  // The data frame "Frame3" at this height and width, holding the entry box
  // "dataa" of this width and length and its byte count "length".
  void dataEntry(int top, int frameWidth, int boxWidth, int maxLength);
  // A showing starts with the count "0"; reads ask for no data.
  void startEntry();
  // The byte count in write mode and the amount's range; false after the
  // error box.
  bool dataAccepted(int requiredBytes);
  // Hands the typed text over in the modes that take data.
  void takeDataText();

  bool amountEntry_;
  QGroupBox* dataFrame_ = nullptr;
  QLineEdit* data_ = nullptr;
  QLineEdit* length_ = nullptr;
};

// What the two key dialogs (mima, ML10MIMA) share: the heading, the "密码值"
// frame with its entry, the key check and the values the exit leaves behind.
class KeyDialog : public BenchDialog {
  Q_OBJECT
 protected:
  KeyDialog(Module1& state, const QString& name, int height, QWidget* parent);

  // The key frame "Frame3" at this height, holding the entry box "mima" and
  // its byte count "mimalength".
  QGroupBox* keyEntry(int top);
  // When `needsKey`, shows the key's byte count and refuses one that is not
  // 6 bytes (false after the error box); otherwise, or then, hands the key
  // text over.
  bool keyAccepted(bool needsKey);
  void resetOutputs() override;

  QLineEdit* key_ = nullptr;
  QLineEdit* length_ = nullptr;
};

}  // namespace cardbench
