#include "app/formrestrict.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace kq {
namespace {

double twipsPerPixelX() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return 1440.0 / (s ? s->logicalDotsPerInchX() : 96.0);
}
double twipsPerPixelY() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return 1440.0 / (s ? s->logicalDotsPerInchY() : 96.0);
}

} // namespace

void FormRestrict::measureScreen(int16_t& twipsX, int16_t& twipsY) {
    twipsX = static_cast<int16_t>(std::nearbyint(twipsPerPixelX()));
    twipsY = static_cast<int16_t>(std::nearbyint(twipsPerPixelY()));
}

int32_t FormRestrict::outerWidthPx(const QWidget* w) const {
    const int px = w->isVisible() ? w->frameGeometry().width() : w->width();
    return static_cast<int32_t>(std::nearbyint(px * twipsPerPixelX())) / ScreenTwipsX;
}

int32_t FormRestrict::outerHeightPx(const QWidget* w) const {
    const int px = w->isVisible() ? w->frameGeometry().height() : w->height();
    return static_cast<int32_t>(std::nearbyint(px * twipsPerPixelY())) / ScreenTwipsY;
}

int32_t FormRestrict::screenWidthPx() const {
    const QScreen* s = QGuiApplication::primaryScreen();
    return static_cast<int32_t>(std::nearbyint((s ? s->size().width() : 0) * twipsPerPixelX())) /
           ScreenTwipsX;
}

int32_t FormRestrict::screenHeightPx() const {
    const QScreen* s = QGuiApplication::primaryScreen();
    return static_cast<int32_t>(std::nearbyint((s ? s->size().height() : 0) * twipsPerPixelY())) /
           ScreenTwipsY;
}

void FormRestrict::RestrictFormSize(QWidget* window) {
    if (!window) return;
    m_window = window;
    window->installEventFilter(this);
    apply();
}

void FormRestrict::ReleaseFormSize(QWidget* window) {
    if (!m_window) return;
    if (window) {
        window->removeEventFilter(this);
        window->setMinimumSize(0, 0);
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    m_window = nullptr;
}

void FormRestrict::apply() {
    if (!m_window) return;
    // The limits are outer sizes; Qt limits the client area, so take the frame off.
    const QSize frame =
        m_window->isVisible() ? m_window->frameGeometry().size() - m_window->size() : QSize(0, 0);
    const int minW = std::max(0, MinTrackWidth - frame.width());
    const int minH = std::max(0, MinTrackHeight - frame.height());
    const int maxW = std::max(minW, MaxTrackWidth - frame.width());
    const int maxH = std::max(minH, MaxTrackHeight - frame.height());
    m_window->setMinimumSize(minW, minH);
    m_window->setMaximumSize(maxW, maxH);
}

bool FormRestrict::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Show) apply();
    return false;
}

} // namespace kq
