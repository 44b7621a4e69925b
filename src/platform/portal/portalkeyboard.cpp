#include "platform/portal/portalkeyboard.h"

#include "platform/gnome/remotedesktoptyper.h"
#include "platform/kde/fakeinputtyper.h"
#include "platform/portal/portalshortcuts.h"
#include "platform/portal/shortcutplan.h"
#include "platform/wayland/compositorkeymap.h"

#include <unistd.h>

namespace kq {
namespace {

[[noreturn]] void exitSessionGone() {
    static const char line[] = "keyquill: the desktop session went away; exiting\n";
    (void)!::write(2, line, sizeof line - 1);
    ::_exit(1);
}

} // namespace

struct PortalKeyboard::Impl {
    std::unique_ptr<PortalShortcuts> shortcuts;
    std::unique_ptr<FakeInputTyper> fakeInput; // on KWin, which also tells the Caps Lock state
    std::unique_ptr<CompositorKeymap> keymap;
    std::unique_ptr<RemoteDesktopTyper> remote;
    KeystrokeSink* typer = nullptr;
    std::vector<PortalShortcuts::Key> keys;
};

std::unique_ptr<PortalKeyboard> PortalKeyboard::open(const std::string& stateDir, std::string* error) {
    auto d = std::make_unique<Impl>();
    d->shortcuts = PortalShortcuts::open(kAppId, error);
    if (!d->shortcuts) return nullptr;
    std::string fakeInputError, remoteError;
    d->fakeInput = FakeInputTyper::open(d->shortcuts->bus(), &fakeInputError);
    d->typer = d->fakeInput.get();
    if (!d->typer) {
        d->keymap = CompositorKeymap::connect();
        if (d->keymap)
            d->remote = RemoteDesktopTyper::open(d->shortcuts->bus(), stateDir + "/remote-desktop-token",
                                                 d->keymap.get(), &remoteError);
        d->typer = d->remote.get();
    }
    if (!d->typer) {
        if (error)
            *error = d->keymap ? fakeInputError + "; " + remoteError
                               : fakeInputError + "; the compositor sends no keymap to type with";
        return nullptr;
    }
    return std::unique_ptr<PortalKeyboard>(new PortalKeyboard(std::move(d)));
}

PortalKeyboard::PortalKeyboard(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

PortalKeyboard::~PortalKeyboard() {
    remove();
}

int PortalKeyboard::eventFd() const {
    return m_impl->shortcuts->fd();
}

KeystrokeSink& PortalKeyboard::typer() {
    return *m_impl->typer;
}

void PortalKeyboard::bind(const std::vector<Hotkey>& keys) {
    m_impl->shortcuts->bind(PortalKeysToBind(keys));
}

std::string PortalKeyboard::takeNotice() {
    return m_impl->shortcuts->takeNotice();
}

// Quirk: only KWin tells a client the lock state; elsewhere the compositor types keysyms, which
// come out the same whatever the lock.
bool PortalKeyboard::CapsLockOn() {
    return m_impl->fakeInput && m_impl->fakeInput->capsLocked();
}

void PortalKeyboard::switchCapsLockOff() {
    if (CapsLockOn()) m_impl->fakeInput->tapCapsLock();
}

void PortalKeyboard::processPendingEvents() {
    Impl& d = *m_impl;
    if (!d.shortcuts->read(&d.keys) || (d.fakeInput && !d.fakeInput->alive())) exitSessionGone();
    m_queue.keepOnly(d.shortcuts->bound());
    for (const PortalShortcuts::Key& k : d.keys)
        m_queue.push(k.key, k.release);
    d.keys.clear();
    runQueue();
}

} // namespace kq
