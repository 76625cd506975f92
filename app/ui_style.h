// Fonts and small pictures shared by the main window and its dialogs.
#pragma once

#include <QFont>
#include <QPixmap>

namespace cardbench {

// Twips (1/1440 inch) to pixels, 15 twips a pixel.
constexpr int tw(int twips) { return twips / 15; }

// The controls' font: 宋体 10.5 pt, or an installed CJK Song face.
QFont controlFont();
// The headings' font: 楷体_GB2312 bold 14.25 pt, or an installed CJK face.
QFont headingFont();
// The small picture beside the headings: a contactless card.
QPixmap cardPicture(int size);

}  // namespace cardbench
