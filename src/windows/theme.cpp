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

std::vector<QWidget*> frmMain::themeWidgets(std::string_view target) {
    frmOptions& o = options();
    frmMultiMacro& m = multiMacro();
    std::vector<QWidget*> w;
    if (target == "bg") {
        w = {&o,
             o.frmTrans,
             o.chkTransparent,
             o.frmColour,
             o.frmBGColour,
             o.frmTextColour,
             centralWidget(),
             chkEnabled,
             chkAuto,
             lblBind,
             m.centralWidget()};
        for (int i = 0; i < 12; ++i)
            w.insert(w.end(), {m.frmMacro[i], m.chkEnabled[i], m.chkAddEnter[i]});
    } else if (target == "text") {
        w = {o.frmTrans, o.chkTransparent, o.frmColour, o.frmBGColour, o.frmTextColour, o.lblTrans};
        for (int i = 0; i < 6; ++i)
            w.insert(w.end(), {o.lblColour[i], o.lblValue[i]});
        w.insert(w.end(), {chkEnabled, chkAuto, lblBind});
        for (int i = 0; i < 12; ++i)
            w.insert(w.end(), {m.frmMacro[i], m.chkEnabled[i], m.chkAddEnter[i]});
    }
    return w;
}

void frmMain::ApplyColour(int32_t colour, std::string_view target) {
    if (target == "bg") {
        m_g.BackgroundColour = colour;
        for (QWidget* w : themeWidgets(target))
            PaintBackground(w, colour);
    } else if (target == "text") {
        m_g.TextColour = colour;
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
