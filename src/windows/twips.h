#pragma once
// Window designs are kept in twips (1440 to the inch): 15 twips to the pixel at 96 DPI.
#include <QIcon>
#include <QWidget>

namespace kq {

inline int TwipsToPx(int twips) {
    return (twips + 7) / 15;
}

inline void PlaceTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(TwipsToPx(left), TwipsToPx(top), TwipsToPx(width), TwipsToPx(height));
}

// The program's icon, drawn for Keyquill: a quill over a key cap.
QIcon ProgramIcon();

} // namespace kq
