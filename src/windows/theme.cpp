// The colour theme and the settings applied at start-up, across the three windows.
#include "appearance/modtrans.h"
#include "files/settingsfile.h"
#include "windows/dialogs.h"
#include "windows/frmmain.h"
#include "windows/frmmultimacro.h"
#include "windows/frmoptions.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>

namespace kq {

// Each window names its own themed controls; the colour goes over all three.
std::vector<QWidget*> frmOptions::themeWidgets(std::string_view target) {
    if (target == "bg") return {this, frmTrans, chkTransparent, frmColour, frmBGColour, frmTextColour};
    if (target != "text") return {};
    std::vector<QWidget*> w{frmTrans, chkTransparent, frmColour, frmBGColour, frmTextColour, lblTrans};
    for (int i = 0; i < 6; ++i)
        w.insert(w.end(), {lblColour[i], lblValue[i]});
    return w;
}

std::vector<QWidget*> frmMultiMacro::themeWidgets(std::string_view target) {
    std::vector<QWidget*> w;
    if (target == "bg") w.push_back(centralWidget());
    if (target == "bg" || target == "text")
        for (int i = 0; i < 12; ++i)
            w.insert(w.end(), {frmMacro[i], chkEnabled[i], chkAddEnter[i]});
    return w;
}

std::vector<QWidget*> frmMain::themeWidgets(std::string_view target) {
    std::vector<QWidget*> w;
    if (target == "bg") w.push_back(centralWidget());
    if (target == "bg" || target == "text") w.insert(w.end(), {chkEnabled, chkAuto, lblBind});
    for (std::vector<QWidget*> other : {m_options->themeWidgets(target), m_multi->themeWidgets(target)})
        w.insert(w.end(), other.begin(), other.end());
    return w;
}

void frmMain::ApplyColour(int32_t colour, std::string_view target) {
    if (target == "bg") {
        m_session.appearance.BackgroundColour = colour;
        for (QWidget* w : themeWidgets(target))
            PaintBackground(w, colour);
    } else if (target == "text") {
        m_session.appearance.TextColour = colour;
        for (QWidget* w : themeWidgets(target))
            PaintText(w, colour);
    }
}

void frmMain::sweep(bool on) {
    frmOptions& o = options();
    for (QWidget* w :
         {static_cast<QWidget*>(this), static_cast<QWidget*>(&multiMacro()), static_cast<QWidget*>(&o)}) {
        if (on)
            MakeTransparent(w, static_cast<int16_t>(o.HTrans->value())); // read afresh for each window
        else
            MakeOpaque(w);
    }
}

namespace {

// Start-up's settings, applied through the options window's own controls so that their handlers
// run exactly as for a user's change.
class SettingsApplier : public SettingsTarget {
public:
    SettingsApplier(frmMain& main, frmOptions& options) : m_main(main), m_o(options) {}
    void ApplyColour(int32_t colour, std::string_view target) override { m_main.ApplyColour(colour, target); }
    void SetBackgroundBar(int index, int value) override { m_o.HColour[index]->setValue(value); }
    void SetTextBar(int index, int value) override { m_o.HTColour[index]->setValue(value); }
    void CheckTransparent() override { SetCheckValue(m_o.chkTransparent, 1); }
    bool SetTransparencyBar(int16_t value) override {
        if (value < m_o.HTrans->minimum() || value > m_o.HTrans->maximum()) return false;
        m_o.HTrans->setValue(value);
        return true;
    }
    void MakeWindowsTransparent(int16_t level) override {
        for (QWidget* w : {static_cast<QWidget*>(&m_main), static_cast<QWidget*>(&m_main.multiMacro()),
                           static_cast<QWidget*>(&m_o)})
            MakeTransparent(w, level);
    }

private:
    frmMain& m_main;
    frmOptions& m_o;
};

} // namespace

void frmMain::LoadSettings() {
    SettingsApplier applier(*this, options());
    kq::LoadSettings(options().settingsPath(), applier);
}

} // namespace kq
