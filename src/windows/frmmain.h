#pragma once
// The single-list window: the command list, its hotkey and options. It creates the other windows
// and answers for them to the session.
#include "app/session.h"
#include "engine/playback.h"

#include <QMainWindow>

#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;

namespace kq {

class InstanceLock;
class frmMultiMacro;
class frmOptions;
class frmPopup;

class frmMain : public QMainWindow, public SingleListView, public UserInterface, public SessionWindows {
public:
    explicit frmMain(Session& session);
    ~frmMain() override;

    // The start-up of the whole program. False when the user chose not to run a second copy:
    // then nothing has been installed and the program should end.
    bool Form_Load(InstanceLock& lock);

    void InitiateMacro(int16_t Dimention);
    void LoadCommandList(const QString& path);
    void SaveCommandList(QString& path);
    frmMultiMacro& multiMacro();
    frmOptions& options();
    frmPopup& popup() { return *m_popup; }
    // Paints a colour on every control of the theme's list for "bg" or "text"; any other target
    // does nothing.
    void ApplyColour(int32_t colour, std::string_view target);
    // The themed controls of all three windows, each window naming its own.
    std::vector<QWidget*> themeWidgets(std::string_view target);
    void showOptions();
    // The tray menu's items act on the window of the current mode.
    void trayMinimize();
    void trayRestore();
    void shutdown() { m_session.shutdown(); }

    // SingleListView
    int16_t AutoBackspaceValue() const override;
    bool AddEnterChecked() const override;
    int LineCount() const override;
    std::string Line(int index) const override;
    uint64_t LinesRevision() const override { return m_revision; }
    void SelectLine(int16_t index) override;
    // UserInterface
    void YieldEvents() override { m_session.YieldEvents(); }
    Answer ShowMessage(std::string_view text, MessageKind kind, std::string_view title) override;
    // SessionWindows
    QWidget* singleListWindow() override { return this; }
    QWidget* multiSlotWindow() override;
    void showMultiSlot() override;
    void untickEnabled() override;
    void unloadOptions() override;
    void unloadMultiSlot() override;
    void unloadMain() override;
    void removeTrayIcon() override;

    QCheckBox* chkEnabled = nullptr;
    QCheckBox* chkAuto = nullptr;
    QLabel* lblBind = nullptr;
    QComboBox* cmbBind = nullptr;
    QListWidget* lstCommands = nullptr;
    QMenu* mnuMode = nullptr;
    QAction *mnuLoad = nullptr, *mnuSave = nullptr, *mnuOptions = nullptr, *mnurestore = nullptr;
    QAction *mnuCommandTool = nullptr, *mnuSpeechTool = nullptr, *mnuAddEnter = nullptr;
    QAction *mnuSwitch = nullptr, *mnuExit = nullptr;

    void chkEnabled_Click();
    void cmbBind_Click();
    void lstCommands_Click();
    void lstCommands_DblClick();
    void mnuAddEnter_Click();
    void mnuCommandTool_Click();
    void mnuSpeechTool_Click();
    void mnuLoad_Click();
    void mnuSave_Click();
    void mnuSwitch_Click();
    void mnurestore_Click();
    void Form_Resize();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    void setCommandTool(bool commandTool);
    void LoadSettings();
    QWidget* modeWindow();
    void sweep(bool on);

    Session& m_session;
    frmMultiMacro* m_multi = nullptr;
    frmOptions* m_options = nullptr;
    std::unique_ptr<frmPopup> m_popup;
    uint64_t m_revision = 1;
    bool m_unloaded = false;
    bool m_placed = false;
};

} // namespace kq
