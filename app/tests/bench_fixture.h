// A simulated reader on a pty for the window tests: COM1 maps to it, COM2 …
// COM10 to paths that do not exist. Every exchange the reader sees is kept, so
// tests can check the exact command bytes a button sent.
#pragma once

#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/simulator.h"
#include "main_window.h"
#include "modal_driver.h"

namespace cbtest {

inline void mapPorts(const std::string& com1) {
  for (int i = 1; i <= 10; ++i) {
    const std::string name = "ORVIX32_COM" + std::to_string(i);
    const std::string value =
        i == 1 && !com1.empty() ? com1 : "/nonexistent/cardbench-test-com" + std::to_string(i);
    setenv(name.c_str(), value.c_str(), 1);
  }
}

class Reader {
 public:
  explicit Reader(readersim::Options options = {}) {
    options.log = [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      log_.push_back(line);
      if (onExchange_) onExchange_(line);
    };
    sim = readersim::makeStandardSimulator(std::move(options));
    started = sim->start();
  }
  ~Reader() { sim->stop(); }

  // The data bytes of the last exchange of this command ("04 05 FF …"), or
  // "<none>" when the command was not sent since the last mark().
  // The reader logs an exchange just after its answer has gone out, so the
  // line may trail the host's return by a moment.
  QString lastSent(std::uint8_t cmd) {
    char tag[16];
    std::snprintf(tag, sizeof tag, " cmd %02X [", cmd);
    for (int tries = 0; tries < 50; ++tries) {
      {
        std::lock_guard lock(mutex_);
        for (std::size_t i = log_.size(); i-- > mark_;) {
          const std::string& line = log_[i];
          const auto at = line.find(tag);
          if (at == std::string::npos) continue;
          const auto from = at + std::strlen(tag);
          return QString::fromStdString(line.substr(from, line.find(']', from) - from));
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return QStringLiteral("<none>");
  }
  // Commands exchanged since the last mark().
  int exchangesSinceMark() {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (std::size_t i = mark_; i < log_.size(); ++i)
      if (log_[i].find(" cmd ") != std::string::npos) ++n;
    return n;
  }
  void mark() {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the last line arrive
    std::lock_guard lock(mutex_);
    mark_ = log_.size();
  }
  void onExchange(std::function<void(const std::string&)> f) {
    std::lock_guard lock(mutex_);
    onExchange_ = std::move(f);
  }

  std::string control(std::vector<std::string> words) {
    std::string out;
    sim->control(words, out);
    return out;
  }
  // One card in the field, fresh.
  void onlyCard(const std::string& kind, const std::string& serial = "12345678") {
    control({"mifare", "remove"});
    control({"mifare", "insert", kind, serial});
  }
  void noCard() { control({"mifare", "remove"}); }
  void failNext(std::uint8_t cmd, std::uint8_t status) {
    sim->inject(readersim::Fault{readersim::FaultKind::Status, cmd, 1, 0, status});
  }

  std::unique_ptr<readersim::Simulator> sim;
  bool started = false;

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::size_t mark_ = 0;
  std::function<void(const std::string&)> onExchange_;
};

inline QStringList listLines(cardbench::MainWindow& w) {
  QStringList lines;
  auto* list = w.findChild<QListWidget*>(QStringLiteral("List1"));
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

inline void setList(cardbench::MainWindow& w, const QStringList& lines) {
  w.clearList();
  for (const QString& l : lines) w.addLine(l);
}

// Clicks a button of the window; the steps handle the dialogs it opens.
// Returns false when a step did not run or an unexpected dialog appeared.
inline bool press(cardbench::MainWindow& w, const QString& button,
                  std::vector<ModalDriver::Step> steps = {}) {
  ModalDriver driver(std::move(steps));
  QPushButton* b = w.button(button);
  if (!b) return false;
  b->click();
  return driver.finished() && driver.unexpected() == 0;
}

}  // namespace cbtest
