// Keyquill: types prepared lines into the focused application at the press of a hotkey.
#include "app/filelocations.h"
#include "app/instancelock.h"
#include "app/keyboardbridge.h"
#include "app/session.h"
#include "appearance/modtrans.h"
#include "platform/inputmethod/directinput.h"
#include "platform/openkeyboard.h"
#include "platform/sessiongone.h"
#include "platform/trigger/triggerhotkeys.h"
#include "windows/dialogs.h"
#include "windows/frmmain.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Logging off or a plain `kill` asks the program to close, like the close box: the settings are
// saved and the hotkeys released. The handler only writes a byte; the event loop does the rest.
void onTerminate(int) {
    const char byte = 1;
    (void)!write(g_signalPipe[1], &byte, 1);
}

void closeOnSignals(kq::frmMain* main) {
    if (pipe(g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, main);
    QObject::connect(notifier, &QSocketNotifier::activated, main, [main] {
        char byte = 0;
        (void)!read(g_signalPipe[0], &byte, 1);
        main->shutdown();
    });
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        std::signal(sig, onTerminate);
}

// Quirk: when the X server goes away (a logout on many desktops, a crashed session) Qt reports it
// in its own words and exits, and Xlib (our keyboard connection) may notice first. It is an
// ordinary end for a desktop program: one line, status 1, the same whoever notices. Every file
// was saved whole or not at all, so nothing is damaged.
QtMessageHandler g_defaultHandler = nullptr;

void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("X11 connection broke"))) kq::ExitSessionGone("the X server");
    g_defaultHandler(type, context, text);
}

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

int main(int argc, char** argv) {
    // A compositor's key binding runs `keyquill --press tab`: hand it to the running Keyquill.
    if (argc == 3 && argv[1][0] == '-' && argv[1][1] == '-') {
        const std::string verb = argv[1] + 2;
        if (verb == "press" || verb == "release" || verb == "tap") {
            std::string error;
            if (kq::SendTrigger(verb, argv[2], &error)) return 0;
            std::fprintf(stderr, "keyquill: %s\n", error.c_str());
            return 1;
        }
    }
    // Without any display Qt would abort with a core dump; say what is missing instead.
    if (!envSet("DISPLAY") && !envSet("WAYLAND_DISPLAY") && !envSet("QT_QPA_PLATFORM")) {
        std::fputs(
            "keyquill: no display to show its windows on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
            stderr);
        return 1;
    }
    g_defaultHandler = qInstallMessageHandler(onQtMessage);
    QApplication app(argc, argv);
    // The program ends through its own shutdown, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<kq::PlatformKeyboard> keyboard;
    std::unique_ptr<kq::KeyboardBridge> bridge;
    kq::PlatformChoice choice =
        kq::OpenPlatformKeyboard(QGuiApplication::platformName().toStdString(),
                                 QFileInfo(kq::SettingsFilePath()).absolutePath().toStdString());
    keyboard = std::move(choice.keyboard);
    if (!keyboard) std::fprintf(stderr, "keyquill: no global hotkeys: %s\n", choice.error.c_str());
    kq::SessionPlatform platform;
    std::unique_ptr<kq::DirectInputSink> sender;
    if (keyboard) {
        sender = std::make_unique<kq::DirectInputSink>(keyboard->typer(),
                                                       [k = keyboard.get()] { return k->layoutName(); });
        platform = {keyboard.get(), keyboard.get(), sender.get()};
    }
    kq::Session session(platform);
    if (keyboard) {
        bridge = std::make_unique<kq::KeyboardBridge>(*keyboard, session.macro);
        session.useBridge(bridge.get());
        bridge->addUpkeep([s = sender.get()] { return s->msUntilGiveBack(); },
                          [s = sender.get()] { s->giveBack(false); });
        kq::UseCompositorOpacity(keyboard->windowOpacity());
    }

    kq::InstanceLock lock;
    auto* main = new kq::frmMain(session);
    if (!main->Form_Load(lock)) {
        delete main;
        return 0;
    }
    closeOnSignals(main);
    main->show();
    if (!choice.notice.empty())
        kq::ShowMessageBox(main, choice.notice, kq::MessageKind::Information, kq::kProgramTitle);
    const int rc = app.exec();
    delete main;
    return rc;
}
