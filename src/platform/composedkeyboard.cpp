#include "platform/composedkeyboard.h"

#include "platform/sessiongone.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kq {

namespace {
// Quirk: the echo of a key we typed comes back through the compositor (and, for a binding that
// runs a command, a process it starts) within tens of milliseconds after the line's last key.
constexpr std::chrono::milliseconds kEchoWithin{300};
} // namespace

ComposedKeyboard::ComposedKeyboard(std::unique_ptr<HotkeySource> source, std::unique_ptr<Typer> typer,
                                   std::string desktop, WindowOpacity* opacity)
    : m_source(std::move(source)), m_typer(std::move(typer)), m_desktop(std::move(desktop)),
      m_opacity(opacity) {}

ComposedKeyboard::~ComposedKeyboard() {
    remove();
}

bool ComposedKeyboard::install(Callbacks callbacks) {
    m_callbacks = std::move(callbacks);
    m_run = {[this](const KeyEvent& e) { return m_callbacks.decide(m_deciding = e); },
             [this](const HotkeyDecision& d) {
                 m_callbacks.act(d);
                 if (d.verdict == Verdict::Pass && !m_deciding.release && m_source->retypesPassedKeys())
                     typeKey(m_deciding.key);
             },
             nullptr};
    m_installed = true;
    bindNow();
    return true;
}

void ComposedKeyboard::remove() {
    if (!m_installed) return;
    m_installed = false;
    bindNow();
    m_queue.clear();
}

void ComposedKeyboard::setWatchedKeys(const std::vector<Hotkey>& keys) {
    std::vector<Hotkey> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == m_watched) return;
    m_watched = std::move(sorted);
    bindNow();
}

void ComposedKeyboard::bindNow() {
    m_source->bind(m_installed ? m_watched : std::vector<Hotkey>{});
    m_queue.keepOnly(m_source->bound());
}

void ComposedKeyboard::typeKey(Hotkey key) {
    if (key == Hotkey::CapsLock) return;
    const NamedKey named =
        key == Hotkey::Tab ? NamedKey::Tab
                           : static_cast<NamedKey>(static_cast<int>(NamedKey::F1) + FunctionKeyIndex(key));
    m_noting.send({KeyStroke::namedKey(named)});
}

bool ComposedKeyboard::NotingTyper::send(const KeyStrokes& strokes) {
    const bool ok = typer.send(strokes);
    const auto now = std::chrono::steady_clock::now();
    for (const KeyStroke& s : strokes) {
        std::optional<Hotkey> key;
        if ((s.named && s.key == NamedKey::Tab) || (!s.named && s.ch == U'\t')) key = Hotkey::Tab;
        if (s.named && s.key >= NamedKey::F1 && s.key <= NamedKey::F12)
            key = FunctionKey(static_cast<int>(s.key) - static_cast<int>(NamedKey::F1));
        if (!key) continue;
        Echoes& e = echoes[*key];
        e.pending = now - e.last < kEchoWithin ? e.pending + 1 : 1;
        e.last = now;
    }
    return ok;
}

bool ComposedKeyboard::NotingTyper::takeEcho(Hotkey key) {
    const auto it = echoes.find(key);
    if (it == echoes.end() || it->second.pending == 0) return false;
    if (std::chrono::steady_clock::now() - it->second.last >= kEchoWithin) {
        echoes.erase(it);
        return false;
    }
    --it->second.pending;
    return true;
}

// Quirk: only some desktops tell a client the lock state (KWin does); elsewhere the typer's keys
// come out the same whatever the lock, and the lock is taken as off.
bool ComposedKeyboard::CapsLockOn() {
    return m_typer->capsLocked().value_or(false);
}

void ComposedKeyboard::switchCapsLockOff() {
    if (CapsLockOn()) m_typer->tapCapsLock();
}

// As on X11: events are acted on one after another, never inside another's yields.
void ComposedKeyboard::processPendingEvents() {
    if (!m_source->read(&m_arrived) || !m_typer->alive()) ExitSessionGone(m_desktop);
    m_queue.keepOnly(m_source->bound());
    for (const HotkeyEvent& e : std::exchange(m_arrived, {}))
        if (e.release || !m_source->reportsTypedKeys() || !m_noting.takeEcho(e.key))
            m_queue.push(e.key, e.release);
    if (m_installed) m_queue.run(m_run);
}

} // namespace kq
