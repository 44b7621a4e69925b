// Keyquill: types prepared lines into the focused application at the press of a hotkey.
#include "app/globals.h"
#include "app/instancelock.h"
#include "app/keyboardbridge.h"
#include "platform/x11/x11keyboard.h"
#include "windows/frmmain.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The program ends through its own shutdown, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    kq::Globals g;
    std::unique_ptr<kq::X11Keyboard> keyboard;
    std::unique_ptr<kq::KeyboardBridge> bridge;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        std::string error;
        keyboard = kq::X11Keyboard::open(nullptr, &error);
        if (!keyboard) std::fprintf(stderr, "keyquill: no global hotkeys: %s\n", error.c_str());
    } else {
        std::fprintf(stderr, "keyquill: global hotkeys need an X11 session (platform is %s)\n",
                     qPrintable(QGuiApplication::platformName()));
    }
    if (keyboard) {
        g.filter = keyboard.get();
        g.capsLock = keyboard.get();
        g.sender = &keyboard->typer();
        bridge = std::make_unique<kq::KeyboardBridge>(*keyboard, g.macro);
    }

    kq::InstanceLock lock;
    auto* main = new kq::frmMain(g, bridge.get());
    if (!main->Form_Load(lock)) {
        delete main;
        return 0;
    }
    main->show();
    const int rc = app.exec();
    delete main;
    return rc;
}
