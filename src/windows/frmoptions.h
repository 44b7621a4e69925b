#pragma once
// The options window: translucency switch and level, and the background and text colours.
// Every change applies at once; closing hides it and saves the settings, as shutdown does.
#include "app/session.h"

#include <QWidget>

#include <array>
#include <functional>
#include <string_view>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QScrollBar;

namespace kq {

class frmOptions : public QWidget {
public:
    // `applyColour` paints a colour on its target ("bg" or "text") over all windows; `sweepOn`
    // and `sweepOff` make the three windows translucent or opaque.
    frmOptions(Session& session, std::function<void(int32_t, const char*)> applyColour,
               std::function<void()> sweepOn, std::function<void()> sweepOff);
    // Its controls that take the theme's background ("bg") or text colour ("text").
    std::vector<QWidget*> themeWidgets(std::string_view target);

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

    Session& m_session;
    std::function<void(int32_t, const char*)> m_applyColour;
    std::function<void()> m_sweepOn, m_sweepOff;
    bool m_unloaded = false;
    bool m_placed = false;
};

} // namespace kq
