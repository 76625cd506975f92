#include "hex_key_filter.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

#include "conversions.h"

namespace cardbench {

namespace {
bool allHex(const QString& text) {
  for (QChar c : text)
    if (!isHexKey(c)) return false;
  return true;
}
}  // namespace

bool HexKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Escape:
      case Qt::Key_Delete:
        return QObject::eventFilter(watched, event);
      default:
        break;
    }
    const QString text = key->text();
    if (key->key() == Qt::Key_Backspace) return QObject::eventFilter(watched, event);
    // A key that types something other than hexadecimal digits is discarded,
    // control characters (such as Ctrl+V) included.
    if (!text.isEmpty() && !allHex(text)) return true;
    return QObject::eventFilter(watched, event);
  }
  if (event->type() == QEvent::InputMethod) {
    auto* im = static_cast<QInputMethodEvent*>(event);
    if (!allHex(im->commitString())) return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace cardbench
