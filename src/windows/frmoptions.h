#pragma once
// The options window: translucency switch and level, and the background and text colours.
// Every change applies at once; closing hides it and saves the settings, as shutdown does.
#include "app/globals.h"

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QScrollBar;

namespace kq {

class frmOptions : public QWidget {
public:
    // `applyColour` paints a colour on its target ("bg" or "text") over all windows; `sweepOn`
    // and `sweepOff` make the three windows translucent or opaque.
    frmOptions(Globals& g, std::function<void(int32_t, const char*)> applyColour,
               std::function<void()> sweepOn, std::function<void()> sweepOff);

    void chkTransparent_Click();
    void HTrans_Change();
    void HColour_Change(int index);
    void HTColour_Change(int index);
    // Unloads the window; at shutdown this writes the settings file. Returns false with a
    // reason when the file could not be written.
    bool unload(std::string* error);
    // Writes the settings file now; false with a reason when it could not.
    bool saveSettings(std::string* error);
    std::string settingsPath() const;

    QGroupBox *frmTrans = nullptr, *frmColour = nullptr, *frmBGColour = nullptr, *frmTextColour = nullptr;
    QCheckBox* chkTransparent = nullptr;
    QScrollBar* HTrans = nullptr;
    QLabel* lblTrans = nullptr;
    std::array<QScrollBar*, 3> HColour{};
    std::array<QScrollBar*, 3> HTColour{};
    std::array<QLabel*, 6> lblColour{};
    std::array<QLabel*, 6> lblValue{};

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QScrollBar* makeBar(QWidget* parent, int min, int max, int value);
    QLabel* makeLabel(QWidget* parent, const QString& text);
    void buildColourRows(QGroupBox* frame, std::array<QScrollBar*, 3>& bars, int labelBase, int initial[3]);

    Globals& m_g;
    std::function<void(int32_t, const char*)> m_applyColour;
    std::function<void()> m_sweepOn, m_sweepOff;
    bool m_unloaded = false;
    bool m_placed = false;
};

} // namespace kq
