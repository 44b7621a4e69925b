#include "appearance/modtrans.h"

#include "files/settingsfile.h"
#include "platform/windowopacity.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QPalette>
#include <QWidget>

namespace kq {
namespace {

constexpr const char* kLayered = "kqLayered";
constexpr const char* kOpacity = "kqOpacity";

WindowOpacity* g_compositor = nullptr;

// A compositor sets the opacity of mapped windows only: each window gets it again once shown.
class ReapplyOnShow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        QPointer<QWidget> w = static_cast<QWidget*>(watched);
        // Quirk: shown is not yet mapped; sway maps a window at its first drawn frame.
        for (int ms : {100, 500})
            QTimer::singleShot(ms, this, [w] {
                if (w && w->isVisible()) sendOpacity(w);
            });
        return false;
    }
    static void sendOpacity(QWidget* w) {
        g_compositor->setOpacity(w->windowTitle().toStdString(), w->property(kOpacity).toDouble());
    }
};

void setOpacity(QWidget* window, double opacity) {
    window->setProperty(kOpacity, opacity);
    if (!g_compositor) {
        window->setWindowOpacity(opacity);
        return;
    }
    static auto* reapply = new ReapplyOnShow(qApp);
    if (!window->property("kqOpacityWatched").toBool()) {
        window->setProperty("kqOpacityWatched", true);
        window->installEventFilter(reapply);
    }
    ReapplyOnShow::sendOpacity(window);
}

QColor toQColor(int32_t colour) {
    const RgbBytes rgb = ColourToRgb(colour);
    return QColor(rgb.Red, rgb.Green, rgb.Blue);
}

} // namespace

void UseCompositorOpacity(WindowOpacity* opacity) {
    g_compositor = opacity;
}

int MakeTransparent(QWidget* window, int16_t alpha) {
    if (alpha < 0 || alpha > 255) return 1;
    if (!window) return 2;
    // Asking for the native window creates it, so hidden windows are translucent when shown.
    window->winId();
    window->setProperty(kLayered, true);
    setOpacity(window, alpha / 255.0);
    // Quirk: a window that does not repaint does not send the new opacity by itself.
    QGuiApplication::sync();
    return 0;
}

int MakeOpaque(QWidget* window) {
    if (!window) return 2;
    window->winId();
    window->setProperty(kLayered, false);
    setOpacity(window, 1.0);
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
