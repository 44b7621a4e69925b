#include "appearance/modtrans.h"

#include "files/settingsfile.h"

#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

namespace kq {
namespace {

constexpr const char* kLayered = "kqLayered";

QColor toQColor(int32_t colour) {
    const RgbBytes rgb = ColourToRgb(colour);
    return QColor(rgb.Red, rgb.Green, rgb.Blue);
}

} // namespace

int MakeTransparent(QWidget* window, int16_t alpha) {
    if (alpha < 0 || alpha > 255) return 1;
    if (!window) return 2;
    // Asking for the native window creates it, so hidden windows are translucent when shown.
    window->winId();
    window->setProperty(kLayered, true);
    window->setWindowOpacity(alpha / 255.0);
    // Quirk: a window that does not repaint does not send the new opacity by itself.
    QGuiApplication::sync();
    return 0;
}

int MakeOpaque(QWidget* window) {
    if (!window) return 2;
    window->winId();
    window->setProperty(kLayered, false);
    window->setWindowOpacity(1.0);
    QGuiApplication::sync();
    return 0;
}

bool IsLayered(const QWidget* window) {
    return window && window->property(kLayered).toBool();
}

void PaintBackground(QWidget* w, int32_t colour) {
    // Only the widget's own background role: a container's Button role would otherwise pass to
    // the buttons and combo boxes inside it, which keep their colours.
    QPalette p = w->palette();
    p.setColor(w->backgroundRole(), toQColor(colour));
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void PaintText(QWidget* w, int32_t colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, toQColor(colour));
    p.setColor(QPalette::ButtonText, toQColor(colour));
    w->setPalette(p);
}

} // namespace kq
