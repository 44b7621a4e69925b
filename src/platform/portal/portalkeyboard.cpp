#include "platform/portal/portalkeyboard.h"

#include "platform/portal/fakeinputtyper.h"
#include "platform/portal/portalshortcuts.h"
#include "platform/portal/shortcutplan.h"

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
    std::vector<PortalShortcuts::Key> keys;
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

void PortalKeyboard::bind(const std::vector<uint32_t>& keys) {
    m_impl->shortcuts->bind(PortalKeysToBind(keys));
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
    m_queue.keepOnly(d.shortcuts->bound());
    for (const PortalShortcuts::Key& k : d.keys)
        m_queue.push(k.vk, k.release);
    d.keys.clear();
    if (const std::string notice = d.shortcuts->takeNotice(); !notice.empty())
        std::fprintf(stderr, "keyquill: %s\n", notice.c_str());
    runQueue();
}

} // namespace kq
