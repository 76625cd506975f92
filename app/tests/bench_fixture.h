// What the bench's tests share: a driver for the modal dialogs and message
// boxes a click opens, and a simulated reader on a pty that COM1 maps to
// (COM2 … COM10 map to paths that do not exist). The reader keeps every
// exchange it sees, so tests check the exact command bytes a button sent.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/simulator.h"
#include "main_window.h"

namespace cbtest {

template <class T>
T* child(QWidget* parent, const QString& name) {
  return parent ? parent->findChild<T*>(name) : nullptr;
}

// Runs one step for each modal window that appears on top (a click that opens
// another modal window is queued, never run inside the timer). Windows that
// appear when no step is left count as unexpected and are closed.
class ModalDriver : public QObject {
 public:
  using Step = std::function<void(QWidget*)>;
  explicit ModalDriver(std::vector<Step> steps) : steps_(std::move(steps)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      QWidget* top = QApplication::activeModalWidget();
      if (!top || !top->isVisible() || top == last_.data()) return;
      last_ = top;
      if (next_ < steps_.size()) return steps_[next_++](top);
      ++unexpected_;
      if (auto* d = qobject_cast<QDialog*>(top)) QTimer::singleShot(0, d, &QDialog::reject);
    });
    timer_.start(5);
  }
  bool clean() const { return next_ == steps_.size() && unexpected_ == 0; }

 private:
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int unexpected_ = 0;
  QPointer<QWidget> last_;
  QTimer timer_;
};
using Step = ModalDriver::Step;

inline void clickLater(QWidget* w, const QString& name) {
  if (auto* b = child<QAbstractButton>(w, name)) QTimer::singleShot(0, b, &QAbstractButton::click);
}

// What an error box showed: "title|text", with the icon and the button count
// checked on the way (anything else gives "bad box").
inline Step acceptMessage(QString* seen) {
  return [seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return;
    const bool plain = box->icon() == QMessageBox::Critical && box->buttons().size() == 1;
    *seen = plain ? box->windowTitle() + u'|' + box->text() : QStringLiteral("bad box");
    QTimer::singleShot(0, box->button(QMessageBox::Ok), &QAbstractButton::click);
  };
}

// Dialog steps written as words: "oN" clicks OptionN, "+oN" enables it
// first, "=text" types text as the keyboard would, "paste=text" inserts it;
// true when the words end the dialog with "!" (its exit button).
inline bool applyWords(QWidget* d, const QString& words) {
  const bool data = d->objectName().contains(QLatin1String("input"), Qt::CaseInsensitive);
  auto* box = child<QLineEdit>(d, data ? QStringLiteral("dataa") : QStringLiteral("mima"));
  bool leave = false;
  for (const QString& w : words.split(u' ', Qt::SkipEmptyParts)) {
    leave = leave || w == u'!';
    if (w.startsWith(u'o') || w.startsWith(QLatin1String("+o"))) {
      auto* b = child<QRadioButton>(d, QStringLiteral("Option") + w.mid(w.indexOf(u'o') + 1));
      if (b && w.startsWith(u'+')) b->setEnabled(true);
      if (b) b->click();
    }
    if (w.startsWith(u'=') && box) QTest::keyClicks(box, w.mid(1));
    if (w.startsWith(QLatin1String("paste=")) && box) box->insert(w.mid(6));
  }
  return leave;
}

// A step that applies the words, then confirms the dialog or leaves it by
// its exit button; the dialog's name is noted in `opened`.
inline Step dialogStep(const QString& words, QStringList* opened) {
  return [words, opened](QWidget* d) {
    if (opened) *opened << d->objectName();
    const bool leave = applyWords(d, words);
    clickLater(d, leave ? QStringLiteral("cmdEXIT") : QStringLiteral("cmdadd"));
  };
}

inline bool runModal(const std::function<void()>& open, std::vector<Step> steps) {
  ModalDriver driver(std::move(steps));
  open();
  return driver.clean();
}

inline void mapPorts(const std::string& com1) {
  for (int i = 1; i <= 10; ++i) {
    const std::string value =
        i == 1 && !com1.empty() ? com1 : "/nonexistent/cardbench-test-com" + std::to_string(i);
    setenv(("ORVIX32_COM" + std::to_string(i)).c_str(), value.c_str(), 1);
  }
}

class Reader {
 public:
  explicit Reader(readersim::Options options = {}) {
    // The reader logs an exchange before its answer goes out: the host is
    // still inside the library call when onExchange runs.
    options.log = [this](const std::string& line) {
      if (line.find(" cmd ") == std::string::npos) return;
      std::lock_guard lock(mutex_);
      log_.push_back(line);
      if (onExchange) onExchange(line);
    };
    sim = readersim::makeStandardSimulator(std::move(options));
    started = sim->start();
  }
  ~Reader() { sim->stop(); }

  // The data bytes of the last exchange of cmd since mark() ("04 05 FF …"),
  // or "<none>".
  QString lastSent(int cmd) {
    const std::string tag =
        " cmd " + QString::number(cmd, 16).toUpper().rightJustified(2, u'0').toStdString() + " [";
    std::lock_guard lock(mutex_);
    for (std::size_t i = log_.size(); i-- > mark_;)
      if (const auto at = log_[i].find(tag); at != std::string::npos) {
        const auto from = at + tag.size();
        return QString::fromStdString(log_[i].substr(from, log_[i].find(']', from) - from));
      }
    return QStringLiteral("<none>");
  }
  std::size_t sinceMark() {
    std::lock_guard lock(mutex_);
    return log_.size() - mark_;
  }
  void mark() {
    std::lock_guard lock(mutex_);
    mark_ = log_.size();
  }
  std::string control(std::vector<std::string> words) {
    std::string out;
    sim->control(words, out);
    return out;
  }
  void failNext(std::uint8_t cmd, std::uint8_t status) {
    sim->inject(readersim::Fault{readersim::FaultKind::Status, cmd, 1, 0, status});
  }

  std::unique_ptr<readersim::Simulator> sim;
  bool started = false;
  std::function<void(const std::string&)> onExchange;  // set while no exchange runs

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::size_t mark_ = 0;
};

inline QStringList listLines(cardbench::MainWindow& w) {
  QStringList lines;
  auto* list = w.findChild<QListWidget*>(QStringLiteral("List1"));
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// Clicks a window button; the steps handle the dialogs it opens.
inline bool press(cardbench::MainWindow& w, const QString& button, std::vector<Step> steps = {}) {
  QPushButton* b = w.button(button);
  return b && runModal([b] { b->click(); }, std::move(steps));
}

}  // namespace cbtest
