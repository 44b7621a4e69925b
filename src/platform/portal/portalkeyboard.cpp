#include "platform/portal/portalkeyboard.h"

#include "platform/hotkeyqueue.h"
#include "platform/portal/fakeinputtyper.h"
#include "platform/portal/portalshortcuts.h"
#include "platform/portal/shortcutplan.h"

#include <algorithm>
#include <cstdio>
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
    std::unique_ptr<FakeInputTyper> typer;
    Callbacks callbacks;
    bool isInstalled = false;
    std::vector<uint32_t> watched; // sorted
    HotkeyQueue queue;
    std::vector<PortalShortcuts::Key> keys;

    void sync() { shortcuts->bind(isInstalled ? PortalKeysToBind(watched) : std::vector<uint32_t>{}); }
};

std::unique_ptr<PortalKeyboard> PortalKeyboard::open(std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->shortcuts = PortalShortcuts::open(kAppId, error);
    if (!impl->shortcuts) return nullptr;
    impl->typer = FakeInputTyper::open(error);
    if (!impl->typer) return nullptr;
    return std::unique_ptr<PortalKeyboard>(new PortalKeyboard(std::move(impl)));
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

bool PortalKeyboard::installed() const {
    return m_impl->isInstalled;
}

bool PortalKeyboard::install(Callbacks callbacks) {
    m_impl->callbacks = std::move(callbacks);
    m_impl->isInstalled = true;
    m_impl->sync();
    return true;
}

void PortalKeyboard::remove() {
    if (!m_impl->isInstalled) return;
    m_impl->isInstalled = false;
    m_impl->sync();
    m_impl->queue.clear();
}

void PortalKeyboard::setWatchedKeys(const std::vector<uint32_t>& vks) {
    std::vector<uint32_t> sorted = vks;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == m_impl->watched) return;
    m_impl->watched = std::move(sorted);
    m_impl->sync();
}

std::vector<uint32_t> PortalKeyboard::takeRefusedKeys() {
    return {};
}

std::string PortalKeyboard::takeNotice() {
    return m_impl->shortcuts->takeNotice();
}

bool PortalKeyboard::CapsLockOn() {
    return m_impl->typer->capsLocked();
}

void PortalKeyboard::switchCapsLockOff() {
    if (m_impl->typer->capsLocked()) m_impl->typer->tapCapsLock();
}

void PortalKeyboard::processPendingEvents() {
    Impl& d = *m_impl;
    if (!d.shortcuts->read(&d.keys) || !d.typer->alive()) exitSessionGone();
    d.queue.keepOnly(d.shortcuts->bound());
    for (const PortalShortcuts::Key& k : d.keys)
        d.queue.push(k.vk, k.release);
    d.keys.clear();
    if (const std::string notice = d.shortcuts->takeNotice(); !notice.empty())
        std::fprintf(stderr, "keyquill: %s\n", notice.c_str());
    // As on X11: events are acted on one after another, never inside another's yields.
    if (d.isInstalled) d.queue.run(d.callbacks);
}

} // namespace kq
