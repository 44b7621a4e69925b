#include "app/session.h"

#include "app/instancelock.h"
#include "app/keyboardbridge.h"
#include "engine/messages.h"

#include <QCoreApplication>
#include <QWidget>

namespace kq {
namespace {

// Without a display server nothing can be typed: every send fails like text the sender refuses.
struct RefusingSink : KeystrokeSink {
    bool send(const KeyStrokes&) override { return false; }
};

} // namespace

Session::Session(SessionPlatform platform)
    : m_platform(platform), m_refusing(std::make_unique<RefusingSink>()) {}

Session::~Session() = default;

void Session::attach(SingleListView& list, SlotRowsView& rows, UserInterface& ui, SessionWindows& windows) {
    m_list = &list;
    m_ui = &ui;
    m_windows = &windows;
    m_ahead = std::make_unique<TypeAhead>(m_platform.sender ? *m_platform.sender : *m_refusing);
    m_playback = std::make_unique<Playback>(macro, list, rows, *m_ahead, ui);
}

bool Session::start(InstanceLock& lock) {
    if (!lock.acquire() &&
        m_ui->ShowMessage(kMsgSecondInstance, MessageKind::Question, kProgramTitle) == Answer::No)
        return false;
    if (m_platform.capsLock && m_platform.capsLock->CapsLockOn()) m_platform.capsLock->switchCapsLockOff();
    if (m_platform.filter)
        m_platform.filter->install({[this](const KeyEvent& e) { return DecideHotkey(macro, e); },
                                    [this](const HotkeyDecision& d) {
                                        RunHotkeyActions(macro, d, *this);
                                        m_ahead->endPress();
                                    },
                                    [this](const HotkeyDecision& d) { m_ahead->typeFor(d); }});
    if (KeyboardBridge* bridge = m_bridge) {
        bridge->setPrepare([this] { prepareTypeAhead(); });
        bridge->setRefusedHandler([this](Hotkey key) {
            m_ui->ShowMessage(HotkeyHeldElsewhere(HotkeyText(key)), MessageKind::Warning, kProgramTitle);
        });
        bridge->setNoticeHandler([this](const std::string& notice) {
            m_ui->ShowMessage(notice, MessageKind::Warning, kProgramTitle);
        });
    }
    QWidget* main = m_windows->singleListWindow();
    FormRestrict& r = restrict;
    FormRestrict::measureScreen(r.ScreenTwipsX, r.ScreenTwipsY);
    r.FormWidthPx = r.outerWidthPx(main);
    r.FormHeightPx = r.outerHeightPx(main);
    r.RestrictFormSize(main);
    r.MinTrackWidth = r.FormWidthPx;
    r.MinTrackHeight = r.FormHeightPx;
    r.MaxTrackWidth = r.screenWidthPx();
    r.MaxTrackHeight = r.screenHeightPx();
    macro.BindKey = Hotkey::Tab;
    macro.MacroMode = ModeSingleList;
    CurrentConfig = 1;
    return true;
}

void Session::switchMode(int16_t mode) {
    if (mode == macro.MacroMode) return;
    QWidget* main = m_windows->singleListWindow();
    QWidget* multi = m_windows->multiSlotWindow();
    FormRestrict& r = restrict;
    macro.MacroEnabled = false;
    if (mode == ModeMultiSlot) {
        r.ReleaseFormSize(main);
        main->hide();
        macro.MacroMode = ModeMultiSlot;
        r.FormWidthPx = r.MinTrackWidth = r.MaxTrackWidth = r.outerWidthPx(multi);
        r.FormHeightPx = r.MinTrackHeight = r.MaxTrackHeight = r.outerHeightPx(multi);
        m_windows->showMultiSlot();
        r.RestrictFormSize(multi);
        return;
    }
    m_windows->untickEnabled();
    r.ReleaseFormSize(multi);
    multi->hide();
    macro.MacroMode = ModeSingleList;
    r.FormWidthPx = r.MinTrackWidth = r.outerWidthPx(main);
    r.FormHeightPx = r.MinTrackHeight = r.outerHeightPx(main);
    r.MaxTrackWidth = r.screenWidthPx();
    r.MaxTrackHeight = r.screenHeightPx();
    main->show();
    r.RestrictFormSize(main);
}

void Session::shutdown() {
    ++m_shutdownDepth;
    ShuttingDown = true;
    // The filter goes first, so no hotkey can start typing while the windows close.
    if (m_platform.filter) m_platform.filter->remove();
    if (macro.MacroMode == ModeSingleList)
        restrict.ReleaseFormSize(m_windows->singleListWindow());
    else if (macro.MacroMode == ModeMultiSlot)
        restrict.ReleaseFormSize(m_windows->multiSlotWindow());
    m_windows->unloadOptions();
    m_windows->unloadMultiSlot();
    m_windows->unloadMain();
    m_windows->removeTrayIcon();
    // The program ends once the outermost call has closed every window.
    if (--m_shutdownDepth == 0) QCoreApplication::exit(0);
}

void Session::NextCommand() {
    m_playback->NextCommand();
}

void Session::NextCommand2(int16_t functionkey) {
    m_playback->NextCommand2(functionkey);
}

void Session::prepareTypeAhead() {
    std::vector<TypeAhead::Press> presses;
    // A latched key types nothing until its release has been acted on.
    if (!macro.HotkeyDown && !ShuttingDown)
        for (Hotkey key : KeysThatMaySwallow(macro)) {
            const HotkeyDecision d = DecideHotkey(macro, {key, false, false});
            if (d.verdict != Verdict::Swallow || d.action != HotkeyAction::Playback) continue;
            auto texts = d.mode == ModeSingleList ? m_playback->NextCommandTexts()
                                                  : m_playback->NextCommand2Texts(d.functionKey);
            if (texts) presses.push_back({d.mode, d.functionKey, std::move(*texts)});
        }
    m_ahead->prepare(std::move(presses));
}

void Session::SelectListIndex(int16_t index) {
    m_list->SelectLine(index);
}

void Session::YieldEvents() {
    if (m_bridge) m_bridge->drain();
    QCoreApplication::processEvents();
}

} // namespace kq
