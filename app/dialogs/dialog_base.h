// What the five dialogs share: the window title, the heading with its picture
// and rule, the confirm and exit buttons, the empty status strip, and the
// protocol with the main window. The confirm button `cmdadd` hands the
// dialog's outputs to Module1 and sets dialogOk to 1 when confirm() accepts;
// the exit button `cmdEXIT`, Escape and the window's close box all leave the
// dialog the same way: dialogOk 0 and the dialog's reset values.
#pragma once

#include <QDialog>
#include <QString>

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

}  // namespace cardbench
