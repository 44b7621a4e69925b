#pragma once
// Keeps the visible working window between a minimum and a maximum outer size. Only one window
// is restricted at a time: the window of the current mode.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>

namespace kq {

class FormRestrict : public QObject {
public:
    int16_t ScreenTwipsX = 15, ScreenTwipsY = 15;
    int32_t MinTrackWidth = 0, MinTrackHeight = 0, MaxTrackWidth = 0, MaxTrackHeight = 0;
    int32_t FormWidthPx = 0, FormHeightPx = 0;

    void RestrictFormSize(QWidget* window);
    // Does nothing unless a window is restricted.
    void ReleaseFormSize(QWidget* window);
    QWidget* restricted() const { return m_window; }
    // Applies the current limits to the restricted window (they are read afresh each time, as a
    // size query would).
    void apply();

    // Twips per pixel of the primary screen, rounded half to even.
    static void measureScreen(int16_t& twipsX, int16_t& twipsY);
    // Outer (frame included) size of a window, in twips made whole, then divided with integer
    // division: the conversion the limits use.
    int32_t outerWidthPx(const QWidget* w) const;
    int32_t outerHeightPx(const QWidget* w) const;
    int32_t screenWidthPx() const;
    int32_t screenHeightPx() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
};

} // namespace kq
