// Drives the modal dialogs and message boxes that a click opens. A timer looks
// for the modal window on top; each step runs once for a modal window that the
// previous step did not handle, records what it sees and queues its clicks
// (a click that opens another modal window must not run inside the timer).
// The test asserts after the click that opened the first window returns.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <vector>

namespace cbtest {

class ModalDriver : public QObject {
 public:
  using Step = std::function<void(QWidget*)>;

  explicit ModalDriver(std::vector<Step> steps = {}) : steps_(std::move(steps)) {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
    timer_.start();
  }

  // Every step ran.
  bool finished() const { return next_ == steps_.size(); }
  // Modal windows that appeared when no step was left (closed by the driver).
  int unexpected() const { return unexpected_; }

 private:
  void poll() {
    QWidget* top = QApplication::activeModalWidget();
    if (!top || !top->isVisible() || top == last_.data()) return;
    last_ = top;
    if (next_ < steps_.size()) {
      steps_[next_++](top);
      return;
    }
    ++unexpected_;
    if (auto* dialog = qobject_cast<QDialog*>(top)) QTimer::singleShot(0, dialog, &QDialog::reject);
  }

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int unexpected_ = 0;
  QPointer<QWidget> last_;
  QTimer timer_;
};

template <class T>
T* child(QWidget* parent, const QString& name) {
  return parent ? parent->findChild<T*>(name) : nullptr;
}

// Clicks a button once control is back in the event loop.
inline void clickLater(QWidget* dialog, const QString& name) {
  if (auto* b = child<QAbstractButton>(dialog, name))
    QTimer::singleShot(0, b, &QAbstractButton::click);
}

// Types keys into a box, as the keyboard would.
inline void typeInto(QWidget* dialog, const QString& box, const QString& keys) {
  if (auto* edit = child<QLineEdit>(dialog, box)) QTest::keyClicks(edit, keys);
}

inline void choose(QWidget* dialog, const QString& option) {
  if (auto* b = child<QRadioButton>(dialog, option)) b->click();
}

// What a message box showed.
struct MessageSeen {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
};

// A step that records a message box and presses its OK button.
inline ModalDriver::Step acceptMessage(MessageSeen* seen) {
  return [seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return;
    seen->seen = true;
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->buttons = static_cast<int>(box->buttons().size());
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
      QTimer::singleShot(0, ok, &QAbstractButton::click);
  };
}

// A step that confirms a dialog after an optional set-up.
inline ModalDriver::Step confirmWith(std::function<void(QWidget*)> setup = {}) {
  return [setup](QWidget* w) {
    if (setup) setup(w);
    clickLater(w, QStringLiteral("cmdadd"));
  };
}

}  // namespace cbtest
