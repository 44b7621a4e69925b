#include "platform/x11/x11keyboard.h"

#include "engine/hotkey.h"
#include "platform/readahead.h"
#include "platform/serialqueue.h"
#include "platform/x11/x11capskey.h"
#include "platform/x11/x11errors.h"
#include "platform/x11/x11hotkeygrabs.h"
#include "platform/x11/x11records.h"
#include "platform/x11/x11typer.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

namespace kq {

struct X11Keyboard::Impl {
    Display* dpy = nullptr;
    Window root = 0;
    int xiOpcode = 0;
    int xkbEventBase = 0;
    bool installed = false;
    std::unique_ptr<X11Records> records;
    std::unique_ptr<X11CapsKey> capsKey;
    std::unique_ptr<X11Typer> typer;
    Callbacks callbacks;
    std::unique_ptr<X11HotkeyGrabs> grabs;
    std::multiset<KeyCode> awaitingRelease; // swallowed presses whose key-up is still owed
    std::optional<unsigned> capsLockBefore; // to put back at a swallowed Caps press's release
    XkbStateRec xkbState{};                 // as of the last XKB state notification read

    // Events read from the connection but not yet acted on. A grabbed press is decided and its
    // freeze released as soon as it is read; the decision waits here for its actions. Raw
    // XInput events are kept as plain records: their data lives only until the next read.
    struct Queued {
        XEvent ev{};
        bool raw = false;
        X11Typer::RawKey key{};
        // The modifiers as of the raw event, by the state notifications read before it: a raw
        // key-up read mid-line and acted on after it must not take the Alt the line held later.
        unsigned mods = 0;
        std::optional<HotkeyDecision> decision;
    };
    SerialQueue<Queued> stash;

    // Reading ahead (keyboard.h): the thread, what it calls when it leaves events to act on,
    // whether the program's typeAhead data is current, and whether a press that starts
    // playback keeps its freeze's release for the line's first keys.
    std::unique_ptr<ReadAhead> reader;
    std::function<void()> wake;
    bool prepared = false;
    bool holdRelease = false;

    void act(const HotkeyDecision& d) { callbacks.act(d); }

    ~Impl() {
        reader.reset();
        if (typer) typer->removeBindingsAtExit();
        typer.reset();
        capsKey.reset();
        records.reset();
        if (dpy) XCloseDisplay(dpy);
    }

    // Reads everything the connection has, without sending what is queued to go out (see
    // settlePress). `typing`: our own keys are being sent right now.
    std::vector<X11Typer::RawKey> collect(bool typing) {
        std::vector<X11Typer::RawKey> added;
        // The connection is read again only once the queue is empty: each read is a system call,
        // and most find nothing more.
        for (int n = XEventsQueued(dpy, QueuedAfterReading); n > 0;
             n = XQLength(dpy) > 0 ? XQLength(dpy) : XEventsQueued(dpy, QueuedAfterReading)) {
            Queued q;
            XNextEvent(dpy, &q.ev);
            XGenericEventCookie* cookie = &q.ev.xcookie;
            if (q.ev.type == GenericEvent && cookie->extension == xiOpcode && XGetEventData(dpy, cookie)) {
                if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
                    const auto* raw = static_cast<XIRawEvent*>(cookie->data);
                    q.raw = true;
                    q.key = {static_cast<KeyCode>(raw->detail), cookie->evtype == XI_RawKeyRelease};
                    q.mods = xkbState.mods;
                    added.push_back(q.key);
                }
                XFreeEventData(dpy, cookie);
            }
            if (q.ev.type == xkbEventBase) {
                const auto* xkbev = reinterpret_cast<const XkbEvent*>(&q.ev);
                if (xkbev->any.xkb_type == XkbStateNotify) {
                    trackState(xkbev->state);
                    continue;
                }
            }
            // The typer must not type from a keymap it knows is stale, even before the change
            // itself is handled (the regrab waits its turn in the queue).
            if (q.ev.type == MappingNotify || q.ev.type == xkbEventBase) typer->invalidate();
            if (q.ev.type == KeyPress) q.decision = settlePress(q.ev.xkey, typing);
            // At once, not in turn: a hotkey pressed in the newly focused window before its grab
            // is there would reach the application.
            if (X11HotkeyGrabs::focusMayHaveMoved(q.ev)) grabs->followFocus();
            if (q.ev.type >= FocusIn && q.ev.type <= CirculateRequest) continue; // nothing else to do
            // Of the raw events (ours are thousands a line) only owed key-ups matter later.
            const bool owed = q.raw && q.key.release && awaitingRelease.count(q.key.keycode);
            if (owed || (!q.raw && q.ev.type != GenericEvent)) stash.push(q);
        }
        return added;
    }

    void trackState(const XkbStateNotifyEvent& e) {
        xkbState.group = static_cast<unsigned char>(e.group);
        xkbState.locked_group = static_cast<unsigned char>(e.locked_group);
        xkbState.base_group = static_cast<unsigned short>(e.base_group);
        xkbState.latched_group = static_cast<unsigned short>(e.latched_group);
        xkbState.mods = e.mods;
        xkbState.base_mods = e.base_mods;
        xkbState.latched_mods = e.latched_mods;
        xkbState.locked_mods = e.locked_mods;
    }

    // A grabbed press froze the keyboard: decide, and release the freeze at once. The actions
    // run later, from the stash. Read ahead, the release of a press whose line starts at once goes
    // out with the line's first keys: one write, so the server is woken once, when the keys are
    // there.
    std::optional<HotkeyDecision> settlePress(const XKeyEvent& ev, bool typing) {
        const auto kc = static_cast<KeyCode>(ev.keycode);
        const std::optional<Hotkey> key = grabs->hotkeyFor(kc);
        // A hotkey that a line types itself is swallowed like any other, but starts nothing:
        // otherwise a line holding its own hotkey would type the next one, and so on. Counted off
        // here even when it goes on (Alt+Tab typed by a line), or the user's next press would be
        // taken for it.
        const bool own = key && typer->claimOwnPress(kc);
        // Grabbed for any modifiers: a press with one the hotkeys do not take (Alt, Super, AltGr)
        // goes on to the window, as if it had never been grabbed.
        if (!installed || !key || !grabs->takes(ev.state)) {
            XAllowEvents(dpy, ReplayKeyboard, ev.time);
            XFlush(dpy);
            return std::nullopt;
        }
        HotkeyDecision d = callbacks.decide({*key, false, (ev.state & Mod1Mask) != 0});
        if (own && d.action == HotkeyAction::Playback) d.action = HotkeyAction::NoAction;
        if (d.verdict != Verdict::Swallow) {
            XAllowEvents(dpy, ReplayKeyboard, ev.time);
        } else {
            // Quirk: where the Caps Lock key still has its XKB action (x11capskey.h), a grabbed,
            // swallowed press toggles the lock all the same. The event's state is the state
            // before the press: put it back, and again at the release. Mid-line the lock is off
            // for the line, which puts the user's state back itself; the release changes nothing.
            if (key == Hotkey::CapsLock) {
                XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, ev.state & LockMask);
                capsLockBefore = typing ? std::nullopt : std::optional<unsigned>(ev.state & LockMask);
            }
            // Ungrabbing while still frozen hands everything queued behind the press (our own
            // typed keys too, when the press came mid-line, and the keys pressed while this one
            // is held) to the focused window, in order. The key-up then reaches us as a raw
            // XInput event.
            grabs->ungrabUnheard(ev.time);
            awaitingRelease.insert(kc);
            if (d.action == HotkeyAction::Playback && holdRelease) return d;
        }
        XFlush(dpy);
        return d;
    }

    bool takeAwaited(KeyCode kc) {
        const auto it = awaitingRelease.find(kc);
        if (it == awaitingRelease.end()) return false;
        awaitingRelease.erase(it);
        return true;
    }

    void deliverRelease(KeyCode kc, unsigned state) {
        const std::optional<Hotkey> key = grabs->hotkeyFor(kc);
        if (key == Hotkey::CapsLock && capsLockBefore)
            XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, *std::exchange(capsLockBefore, std::nullopt));
        if (!installed || !key) return;
        act(callbacks.decide({*key, true, (state & Mod1Mask) != 0}));
    }

    void onCoreRelease(const XKeyEvent& ev) {
        const auto kc = static_cast<KeyCode>(ev.keycode);
        if (takeAwaited(kc)) deliverRelease(kc, ev.state);
    }

    void onRawKey(const Queued& q) {
        if (!q.key.release || !takeAwaited(q.key.keycode)) return;
        deliverRelease(q.key.keycode, q.mods);
    }

    void dispatch(Queued& q);

    // On the reading thread, the UI thread waiting: the events are read and the presses settled
    // as the UI thread would; a press that starts playback, with nothing before it to act on, has
    // its line started here and then. True when the UI thread was woken to act on what was read.
    bool readAhead() {
        const bool idle = prepared && stash.empty() && !stash.busy() && callbacks.typeAhead;
        holdRelease = idle;
        collect(false);
        holdRelease = false;
        if (idle && !stash.empty()) {
            const Queued& q = stash.front();
            if (!q.raw && q.ev.type == KeyPress && q.decision &&
                q.decision->action == HotkeyAction::Playback) {
                prepared = false; // the press changes the state its data was prepared from
                callbacks.typeAhead(*q.decision);
            }
        }
        XFlush(dpy);
        if (stash.empty() || !wake) return false;
        wake();
        return true;
    }

    // Raw key-ups bring the key-up of a swallowed hotkey after the ungrab. Raw presses are wanted
    // only while a line lifts held modifiers (the typer counts the user's presses of them then): at
    // other times each would wake the program just before the hotkey's own press arrives.
    // Master-device raw events are held in the same freeze as core events, so a raw release
    // never overtakes its press; slave-device ones can.
    void selectRawKeys(bool presses) {
        unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
        if (installed) XISetMask(mask, XI_RawKeyRelease);
        if (installed && presses) XISetMask(mask, XI_RawKeyPress);
        XIEventMask em{XIAllMasterDevices, sizeof mask, mask};
        XISelectEvents(dpy, root, &em, 1);
    }

    void onMappingChanged(XEvent& ev) {
        if (ev.type == MappingNotify) XRefreshKeyboardMapping(&ev.xmapping);
        auto* xkbev = reinterpret_cast<XkbEvent*>(&ev);
        if (ev.type == xkbEventBase && xkbev->any.xkb_type == XkbMapNotify)
            XkbRefreshKeyboardMapping(&xkbev->map);
        typer->invalidate();
        // A new keymap brings the Caps Lock key's action back, and keycodes may have moved.
        if (installed && mayTouchCapsKey(ev)) capsKey->neutralise();
        grabs->sync();
    }

    // Whether a keymap change can have reached the Caps Lock key: not the changes of our own
    // spare keycodes after each line that binds characters, which need no server grab for it.
    bool mayTouchCapsKey(const XEvent& ev) const {
        const int kc = XKeysymToKeycode(dpy, XK_Caps_Lock);
        const auto in = [kc](int first, int count) { return kc >= first && kc < first + count; };
        if (ev.type == MappingNotify)
            return ev.xmapping.request == MappingKeyboard && in(ev.xmapping.first_keycode, ev.xmapping.count);
        const auto& m = reinterpret_cast<const XkbEvent*>(&ev)->map;
        return (m.changed & XkbKeyTypesMask) ||
               ((m.changed & XkbKeySymsMask) && in(m.first_key_sym, m.num_key_syms)) ||
               ((m.changed & XkbKeyActionsMask) && in(m.first_key_act, m.num_key_acts)) ||
               ((m.changed & XkbExplicitComponentsMask) && in(m.first_key_explicit, m.num_key_explicit));
    }
};

std::unique_ptr<X11Keyboard> X11Keyboard::open(const char* displayName, std::string* error,
                                               SpareTimings timings) {
    auto fail = [&](const char* why) -> std::unique_ptr<X11Keyboard> {
        if (error) *error = why;
        return nullptr;
    };
    int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion, xkbError = 0, reason = 0;
    auto impl = std::make_unique<Impl>();
    impl->dpy = XkbOpenDisplay(const_cast<char*>(displayName), &impl->xkbEventBase, &xkbError, &xkbMajor,
                               &xkbMinor, &reason);
    if (!impl->dpy) return fail("cannot open the X display (or it has no XKB)");
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(impl->dpy, &ev, &err, &major, &minor)) return fail("the X server has no XTest");
    if (!XQueryExtension(impl->dpy, "XInputExtension", &impl->xiOpcode, &ev, &err))
        return fail("the X server has no XInput");
    int xiMajor = 2, xiMinor = 2;
    if (XIQueryVersion(impl->dpy, &xiMajor, &xiMinor) != Success || xiMinor < 2)
        return fail("the X server has no XInput 2.2");
    impl->root = DefaultRootWindow(impl->dpy);
    InstallSurvivableErrorHandler();
    // Held hotkeys must not look like release+press pairs (each would be a new press).
    XkbSetDetectableAutoRepeat(impl->dpy, True, nullptr);
    XkbSelectEvents(impl->dpy, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
    // The state is followed from notifications, so typing a line needs no round trip for it.
    constexpr unsigned long stateParts = XkbModifierStateMask | XkbModifierBaseMask | XkbModifierLatchMask |
                                         XkbModifierLockMask | XkbGroupStateMask | XkbGroupBaseMask |
                                         XkbGroupLatchMask | XkbGroupLockMask;
    XkbSelectEventDetails(impl->dpy, XkbUseCoreKbd, XkbStateNotify, stateParts, stateParts);
    XkbGetState(impl->dpy, XkbUseCoreKbd, &impl->xkbState);
    impl->records = std::make_unique<X11Records>(impl->dpy);
    impl->capsKey = std::make_unique<X11CapsKey>(impl->dpy, *impl->records);
    impl->typer = std::make_unique<X11Typer>(impl->dpy, *impl->records, timings);
    // Before anything is typed: a Keyquill that was killed may have left bindings, mid-line keys
    // held down and the Caps Lock key without its action.
    impl->typer->removeLeftovers();
    impl->capsKey->removeLeftovers();
    Impl* raw = impl.get();
    impl->grabs = std::make_unique<X11HotkeyGrabs>(impl->dpy, [raw] { raw->typer->forgetFocus(); });
    impl->typer->setPump([raw] { return raw->collect(true); });
    impl->typer->setGrabbed([raw](KeyCode kc) { return raw->grabs->grabbed(kc); });
    impl->typer->setStateSource([raw] { return raw->xkbState; });
    impl->typer->setLineObserver([raw](bool inLine) { raw->selectRawKeys(inLine); });
    return std::unique_ptr<X11Keyboard>(new X11Keyboard(std::move(impl)));
}

X11Keyboard::X11Keyboard(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

X11Keyboard::~X11Keyboard() {
    remove();
}

bool X11Keyboard::startReadingAhead(std::function<void()> wake) {
    Impl& d = *m_impl;
    d.wake = std::move(wake);
    if (!d.reader)
        d.reader = std::make_unique<ReadAhead>(ConnectionNumber(d.dpy), [&d] { return d.readAhead(); });
    return true;
}

void X11Keyboard::stopReadingAhead() {
    m_impl->reader.reset();
}

void X11Keyboard::waiting(bool now, bool prepared) {
    Impl& d = *m_impl;
    if (!d.reader) return;
    if (now) d.prepared = prepared;
    d.reader->waiting(now);
    if (!now) d.prepared = false;
}

int X11Keyboard::eventFd() const {
    return ConnectionNumber(m_impl->dpy);
}

KeystrokeSink& X11Keyboard::typer() {
    return *m_impl->typer;
}

LayoutName X11Keyboard::layoutName() {
    Display* dpy = m_impl->dpy;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom names = XInternAtom(dpy, "_XKB_RULES_NAMES", True);
    if (!names ||
        XGetWindowProperty(dpy, DefaultRootWindow(dpy), names, 0, 1024, False, XA_STRING, &type, &format,
                           &count, &after, &data) != Success ||
        !data)
        return {};
    // rules, model, layouts, variants, options: strings one after the other, each ended by a NUL.
    std::vector<std::string> fields;
    for (unsigned long at = 0; at < count && fields.size() < 4; at += fields.back().size() + 1)
        fields.emplace_back(reinterpret_cast<const char*>(data) + at);
    XFree(data);
    XkbStateRec state{};
    XkbGetState(dpy, XkbUseCoreKbd, &state);
    const auto nth = [&](size_t field) {
        std::string list = field < fields.size() ? fields[field] : "";
        for (unsigned g = 0; g < state.group && list.find(',') != std::string::npos; ++g)
            list.erase(0, list.find(',') + 1);
        return list.substr(0, list.find(','));
    };
    return {nth(2), nth(3)};
}

std::string X11Keyboard::takeNotice() {
    return m_impl->typer->takeNotice();
}

bool X11Keyboard::installed() const {
    return m_impl->installed;
}

bool X11Keyboard::install(Callbacks callbacks) {
    Impl& d = *m_impl;
    d.callbacks = std::move(callbacks);
    d.installed = true;
    d.grabs->setActive(true);
    d.capsKey->neutralise();
    d.selectRawKeys(false);
    d.grabs->sync();
    d.grabs->followFocus();
    XSync(d.dpy, False);
    return true;
}

void X11Keyboard::remove() {
    Impl& d = *m_impl;
    if (!d.installed) return;
    d.installed = false;
    d.grabs->setActive(false);
    d.grabs->followFocus();
    d.grabs->sync();
    d.capsKey->restore();
    d.awaitingRelease.clear();
    d.selectRawKeys(false);
    XSync(d.dpy, False);
}

void X11Keyboard::setWatchedKeys(const std::vector<Hotkey>& keys) {
    Impl& d = *m_impl;
    std::vector<Hotkey> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    if (d.grabs->watch(std::move(sorted))) d.grabs->sync();
}

void X11Keyboard::processPendingEvents() {
    Impl& d = *m_impl;
    // Events are acted on one after another, never inside the yields of an action (a line typed,
    // the list selection a key-up makes): a next tap of the hotkey taken there would find the
    // latch of the press before still set and type nothing, or a second function key would type
    // its line before the first's. The outermost call carries on with them. Grabbed presses are
    // read (and so settled) first, whatever waits to be acted on: a freeze left in place would
    // hold the whole keyboard until the action before it ends.
    d.stash.run([&d](Impl::Queued& q) { d.dispatch(q); },
                [&d] {
                    if (XEventsQueued(d.dpy, QueuedAfterReading)) d.collect(false);
                });
    // Whatever the actions left queued (a freeze's release where the line typed nothing, a grab
    // that followed the focus) goes out before the program waits again.
    XFlush(d.dpy);
    d.typer->housekeeping();
}

void X11Keyboard::Impl::dispatch(Queued& q) {
    if (q.raw) return onRawKey(q);
    switch (q.ev.type) {
    case KeyPress:
        if (q.decision) act(*q.decision);
        break;
    case KeyRelease:
        onCoreRelease(q.ev.xkey);
        break;
    case MappingNotify:
        onMappingChanged(q.ev);
        break;
    default:
        if (q.ev.type == xkbEventBase &&
            reinterpret_cast<const XkbEvent*>(&q.ev)->any.xkb_type == XkbMapNotify)
            onMappingChanged(q.ev);
        break;
    }
}

std::vector<Hotkey> X11Keyboard::takeRefusedKeys() {
    return m_impl->grabs->takeRefused();
}

int X11Keyboard::msUntilHousekeeping() const {
    return m_impl->typer->msUntilHousekeeping();
}

bool X11Keyboard::CapsLockOn() {
    XkbStateRec st{};
    if (XkbGetState(m_impl->dpy, XkbUseCoreKbd, &st) != Success) return false;
    if (!(st.locked_mods & LockMask)) return false;
    // Held down at this moment: not "exactly on".
    char keys[32];
    XQueryKeymap(m_impl->dpy, keys);
    const KeyCode kc = XKeysymToKeycode(m_impl->dpy, XK_Caps_Lock);
    return !(kc && (keys[kc / 8] & (1 << (kc % 8))));
}

void X11Keyboard::switchCapsLockOff() {
    XkbLockModifiers(m_impl->dpy, XkbUseCoreKbd, LockMask, 0);
    XSync(m_impl->dpy, False);
}

} // namespace kq
