#include "ui_style.h"

#include <QPainter>
#include <QPainterPath>
#include <QStringList>

namespace cardbench {

// Sizes in pixels at 96 dots an inch, so the layout in pixels holds whatever
// the display reports.
QFont controlFont() {
  QFont font;
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                    QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(14);  // 10.5 pt
  return font;
}

QFont headingFont() {
  QFont font;
  font.setFamilies({QStringLiteral("楷体_GB2312"), QStringLiteral("KaiTi"),
                    QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Serif CJK SC"),
                    QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(19);  // 14.25 pt
  font.setBold(true);
  return font;
}

QPixmap cardPicture(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // The card.
  QRectF card(s * 0.06, s * 0.2, s * 0.88, s * 0.6);
  p.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), s / 24.0));
  p.setBrush(QColor(0x6f, 0xa8, 0xdc));
  p.drawRoundedRect(card, s * 0.08, s * 0.08);
  // Its chip.
  p.setPen(QPen(QColor(0x8a, 0x6d, 0x1e), s / 32.0));
  p.setBrush(QColor(0xf1, 0xc2, 0x32));
  p.drawRoundedRect(QRectF(s * 0.16, s * 0.36, s * 0.2, s * 0.16), s * 0.03, s * 0.03);
  // The field lines of a contactless card.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, s / 20.0, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i) {
    const qreal r = s * (0.1 + 0.08 * i);
    QRectF arc(s * 0.62 - r, s * 0.5 - r, 2 * r, 2 * r);
    p.drawArc(arc, -45 * 16, 90 * 16);
  }
  return pixmap;
}

}  // namespace cardbench
