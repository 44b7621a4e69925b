#pragma once
// The multi-slot window: twelve rows bound to F1..F12 showing one of twelve configs.
#include "app/session.h"
#include "engine/playback.h"
#include "files/slotstore.h"

#include <QMainWindow>

#include <array>
#include <string_view>
#include <vector>

class QAction;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace kq {

class frmMain;

class frmMultiMacro : public QMainWindow, public SlotRowsView {
public:
    frmMultiMacro(Session& session, frmMain& main);

    // SlotRowsView: what the rows show at this moment, edits not yet stored included.
    int16_t EnabledValue(int row) const override;
    int16_t AddEnterValue(int row) const override;
    std::string CommandText(int row) const override;

    // Shows config Index after storing the rows into config CurrentConfig.
    void cmdConfig_Click(int16_t Index);
    void mnuConfig_Click(int16_t Index);
    void mnuLoad_Click();
    void mnuSave_Click();
    void LoadSlotSet(const QString& path);
    void SaveSlotSet(const QString& path);
    void mnurestore_Click();
    void mnuSwitch_Click();
    void showWindow();
    void unload();
    // Its controls that take the theme's background ("bg") or text colour ("text").
    std::vector<QWidget*> themeWidgets(std::string_view target);

    std::array<QPushButton*, 13> cmdConfig{}; // 1..12
    std::array<QAction*, 13> mnuConfig{};     // 1..12
    std::array<QGroupBox*, 12> frmMacro{};
    std::array<QCheckBox*, 12> chkEnabled{};
    std::array<QLineEdit*, 12> txtCommand{};
    std::array<QCheckBox*, 12> chkAddEnter{};
    QAction *mnuLoad = nullptr, *mnuSave = nullptr, *mnuOptions = nullptr, *mnurestore = nullptr;
    QAction *mnuSwitch = nullptr, *mnuExit = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildRows();
    void buildMenu();
    SlotRows rows() const;
    void showRows(const SlotRows& rows);
    void setBold(int n, bool bold);
    void switchConfig(int16_t n, bool byMenu);

    Session& m_session;
    frmMain& m_main;
    bool m_unloaded = false;
    bool m_placed = false;
};

} // namespace kq
