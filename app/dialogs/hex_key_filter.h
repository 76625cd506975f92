// Keeps every typed character but 0-9, a-f, A-F and backspace out of a key or
// data box. Keys that type nothing (arrows, Delete, Tab, Enter, Escape) pass.
#pragma once

#include <QObject>

namespace cardbench {

class HexKeyFilter : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace cardbench
