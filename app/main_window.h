// The main window of cardbench ("cardbench"): the reader's system commands,
// the basic and advanced card commands, the message list List1 and the two
// card boxes. Every button runs one handler of BenchCommands; the window
// shows the dialogs the handlers ask for and reports a missing library or
// function in an error box instead of ending.
#pragma once

#include <QHash>
#include <QWidget>
#include <memory>

#include "bench_commands.h"
#include "module1.h"
#include "orvix_binding.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace cardbench {

class MainWindow : public QWidget, public BenchView, public BenchDialogs {
  Q_OBJECT
 public:
  // Binds the library in the program's folder, else on the system path.
  explicit MainWindow(QWidget* parent = nullptr);
  // Uses the given binding (tests bind a library that cannot be found).
  explicit MainWindow(std::unique_ptr<OrvixBinding> binding, QWidget* parent = nullptr);
  ~MainWindow() override;

  Module1& state() { return state_; }
  WindowState& fields() { return fields_; }
  const OrvixBinding& binding() const { return *binding_; }
  QPushButton* button(const QString& name) const { return buttons_.value(name); }

  // BenchView
  void clearList() override;
  void addLine(const QString& line) override;
  void setCardNo(const QString& text) override;
  void setCardType(const QString& text) override;
  void setButtonEnabled(const QString& name, bool enabled) override;
  void setBusy(bool busy) override;
  void closeWindow() override;

  // BenchDialogs
  void callMode() override;
  void mima() override;
  void ml10Mima() override;
  void inputData(bool amountEntry) override;
  void ml10Input(bool amountEntry) override;

 private:
  void build();
  QPushButton* addButton(QWidget* frame, const QString& name, const QString& caption, int left,
                         int top, void (BenchCommands::*handler)());
  void run(void (BenchCommands::*handler)());

  Module1 state_;
  WindowState fields_;
  std::unique_ptr<OrvixBinding> binding_;
  std::unique_ptr<BenchCommands> commands_;
  QHash<QString, QPushButton*> buttons_;
  QListWidget* list_ = nullptr;
  QLineEdit* cardno_ = nullptr;
  QLineEdit* cardtype_ = nullptr;
};

}  // namespace cardbench
