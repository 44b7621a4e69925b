#include "platform/x11/x11keyboard.h"

#include "engine/hotkey.h"
#include "platform/readahead.h"
#include "platform/serialqueue.h"
#include "platform/x11/x11capskey.h"
#include "platform/x11/x11errors.h"
#include "platform/x11/x11records.h"
#include "platform/x11/x11typer.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace kq {

struct X11Keyboard::Impl {
    Display* dpy = nullptr;
    Window root = 0;
    Window grabWindow = 0; // where the keys are grabbed: the focused window, else the root
    int xiOpcode = 0;
    int xkbEventBase = 0;
    bool installed = false;
    std::unique_ptr<X11Records> records;
    std::unique_ptr<X11CapsKey> capsKey;
    std::unique_ptr<X11Typer> typer;
    Callbacks callbacks;
    std::vector<Hotkey> watched;            // keys wanted
    std::map<KeyCode, Hotkey> grabbed;      // keycode -> key, as grabbed now
    std::vector<unsigned> grabMods;         // the modifier sets they are grabbed under
    std::set<Hotkey> reported;              // keys found held by another client, told once
    std::vector<Hotkey> refused;            // of those, not yet handed to the owner
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
        while (XEventsQueued(dpy, QueuedAfterReading)) {
            Queued q;
            XNextEvent(dpy, &q.ev);
            XGenericEventCookie* cookie = &q.ev.xcookie;
            if (q.ev.type == GenericEvent && cookie->extension == xiOpcode && XGetEventData(dpy, cookie)) {
                if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
                    const auto* raw = static_cast<XIRawEvent*>(cookie->data);
                    q.raw = true;
                    q.key = {static_cast<KeyCode>(raw->detail), cookie->evtype == XI_RawKeyRelease};
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
            if (focusMayHaveMoved(q.ev)) followFocus();
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

    static KeySym keysymFor(Hotkey key) {
        if (key == Hotkey::Tab) return XK_Tab;
        if (key == Hotkey::CapsLock) return XK_Caps_Lock;
        return XK_F1 + FunctionKeyIndex(key);
    }

    // Quirk: a passive grab matches the exact modifier state, so every combination of the lock
    // modifiers (Caps, Num, Scroll) must be grabbed too. Alt and Super are left out on purpose:
    // those events belong to the applications and the window manager (Alt+F4).
    std::vector<unsigned> grabModifierSets() const {
        const unsigned num = XkbKeysymToModifiers(dpy, XK_Num_Lock);
        const unsigned scroll = XkbKeysymToModifiers(dpy, XK_Scroll_Lock);
        std::vector<unsigned> locks{0};
        for (unsigned lockBit : {static_cast<unsigned>(LockMask), num, scroll}) {
            if (!lockBit) continue;
            const size_t n = locks.size();
            for (size_t i = 0; i < n; ++i)
                if (!(locks[i] & lockBit)) locks.push_back(locks[i] | lockBit);
        }
        std::set<unsigned> sets;
        for (unsigned base : {0u, static_cast<unsigned>(ShiftMask), static_cast<unsigned>(ControlMask),
                              static_cast<unsigned>(ShiftMask | ControlMask)})
            for (unsigned l : locks)
                sets.insert(base | l);
        return {sets.begin(), sets.end()};
    }

    void ungrab(KeyCode kc, Window w) {
        for (unsigned m : grabMods)
            XUngrabKey(dpy, kc, m, w);
    }

    // Quirk: each grab a press starts and ends sends focus events (modes Grab and Ungrab) from the
    // focused window to the grab window through every window between. Grabbed on the root, under a
    // reparenting window manager they pass its frame, which woke the window manager on every
    // hotkey (measured: more CPU per press than Keyquill's own). Grabbed on the focused window,
    // only that window hears of it. So the grabs follow the focus; where no window has it, they
    // sit on the root.
    void followFocus() {
        typer->forgetFocus();
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(dpy, &focus, &revert);
        const Window want = (!installed || focus == None || focus == PointerRoot) ? root : focus;
        if (want == grabWindow || moveGrabs(grabWindow, want) || want == root || grabWindow == root) return;
        moveGrabs(grabWindow, root);
    }

    // The focused window's focus and structure events are selected: it may lose the focus without
    // a focus event of its own when it is destroyed.
    static bool focusMayHaveMoved(const XEvent& ev) {
        if (ev.type == FocusIn || ev.type == FocusOut)
            return ev.xfocus.mode == NotifyNormal || ev.xfocus.mode == NotifyWhileGrabbed;
        return ev.type == UnmapNotify || ev.type == DestroyNotify;
    }

    // Grabs every grabbed key on `to` before letting go of them on `from`, so that no press falls
    // between. False, with nothing changed, when `to` refuses a grab (gone, or a key another
    // client grabbed there).
    bool moveGrabs(Window from, Window to) {
        XErrorTrap trap(dpy);
        if (to != root) XSelectInput(dpy, to, FocusChangeMask | StructureNotifyMask);
        for (const auto& [kc, key] : grabbed)
            for (unsigned m : grabMods)
                XGrabKey(dpy, kc, m, to, True, GrabModeAsync, GrabModeSync);
        if (trap.errors()) {
            if (to != root) {
                for (const auto& [kc, key] : grabbed)
                    ungrab(kc, to);
                XSelectInput(dpy, to, NoEventMask);
            }
            return false;
        }
        for (const auto& [kc, key] : grabbed)
            ungrab(kc, from);
        if (from != root) XSelectInput(dpy, from, NoEventMask);
        grabWindow = to;
        trap.errors(); // the old window may be gone: its ungrab fails, harmlessly
        return true;
    }

    // Grabs the watched keys where the keymap has them now, touching only what changed: a key
    // ungrabbed even for a moment lets a press through to the application.
    void syncGrabs() {
        std::map<KeyCode, Hotkey> want;
        if (installed)
            for (Hotkey key : watched)
                if (const KeyCode kc = XKeysymToKeycode(dpy, keysymFor(key)); kc && !want.count(kc))
                    want[kc] = key;
        const auto mods = installed ? grabModifierSets() : grabMods;
        if (want == grabbed && mods == grabMods) return;
        for (const auto& [kc, key] : grabbed)
            if (mods != grabMods || !want.count(kc)) ungrab(kc, grabWindow);
        for (auto it = want.begin(); it != want.end();) {
            const auto [kc, key] = *it;
            if (mods == grabMods && grabbed.count(kc)) {
                ++it;
                continue;
            }
            // Quirk: a key another client has grabbed already answers with BadAccess. That key
            // is not ours: it stays out of the set (and is tried again when the keymap or the
            // watched keys change), and the user is told once.
            XErrorTrap trap(dpy);
            for (unsigned m : mods)
                XGrabKey(dpy, kc, m, grabWindow, True, GrabModeAsync, GrabModeSync);
            if (trap.errors() == 0) {
                ++it;
                continue;
            }
            ungrab(kc, grabWindow);
            if (reported.insert(key).second) refused.push_back(key);
            it = want.erase(it);
        }
        grabbed = std::move(want);
        grabMods = mods;
        // In force before anything else happens: the user may press the key next.
        XSync(dpy, False);
    }

    std::optional<Hotkey> hotkeyFor(KeyCode kc) const {
        const auto it = grabbed.find(kc);
        if (it != grabbed.end()) return it->second;
        const KeySym sym = XkbKeycodeToKeysym(dpy, kc, 0, 0);
        if (sym == XK_Tab) return Hotkey::Tab;
        if (sym == XK_Caps_Lock) return Hotkey::CapsLock;
        if (sym >= XK_F1 && sym <= XK_F12) return FunctionKey(static_cast<int>(sym - XK_F1));
        return std::nullopt;
    }

    // A grabbed press froze the keyboard: decide, and release the freeze at once. The actions
    // run later, from the stash. Read ahead, the release of a press whose line starts at once goes
    // out with the line's first keys: one write, so the server is woken once, when the keys are
    // there.
    std::optional<HotkeyDecision> settlePress(const XKeyEvent& ev, bool typing) {
        const auto kc = static_cast<KeyCode>(ev.keycode);
        const std::optional<Hotkey> key = hotkeyFor(kc);
        if (!installed || !key) {
            XAllowEvents(dpy, ReplayKeyboard, ev.time);
            XFlush(dpy);
            return std::nullopt;
        }
        HotkeyDecision d = callbacks.decide({*key, false, (ev.state & Mod1Mask) != 0});
        // A hotkey that a line types itself is swallowed like any other, but starts nothing:
        // otherwise a line holding its own hotkey would type the next one, and so on.
        if (typer->claimOwnPress(kc) && d.action == HotkeyAction::Playback) d.action = HotkeyAction::NoAction;
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
            XUngrabKeyboard(dpy, ev.time);
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
        const std::optional<Hotkey> key = hotkeyFor(kc);
        if (key == Hotkey::CapsLock && capsLockBefore)
            XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, *std::exchange(capsLockBefore, std::nullopt));
        if (!installed || !key) return;
        act(callbacks.decide({*key, true, (state & Mod1Mask) != 0}));
    }

    void onCoreRelease(const XKeyEvent& ev) {
        const auto kc = static_cast<KeyCode>(ev.keycode);
        if (takeAwaited(kc)) deliverRelease(kc, ev.state);
    }

    void onRawKey(const X11Typer::RawKey& key) {
        if (!key.release || !takeAwaited(key.keycode)) return;
        deliverRelease(key.keycode, xkbState.mods);
    }

    void dispatch(Queued& q);

    // On the reading thread, the UI thread waiting: the events are read and the presses settled
    // as the UI thread would; a press that starts playback, with nothing before it to act on, has
    // its line started here and then.
    void readAhead() {
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
        if (!stash.empty() && wake) wake();
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
        syncGrabs();
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
    impl->grabWindow = impl->root;
    // Focus moving to the root, or to no window, is seen here; elsewhere, on the focused window.
    XSelectInput(impl->dpy, impl->root, FocusChangeMask);
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
    impl->typer->setPump([raw] { return raw->collect(true); });
    impl->typer->setGrabbed([raw](KeyCode kc) { return raw->grabbed.count(kc) > 0; });
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
    if (!d.reader) d.reader = std::make_unique<ReadAhead>(ConnectionNumber(d.dpy), [&d] { d.readAhead(); });
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
    d.capsKey->neutralise();
    d.selectRawKeys(false);
    d.syncGrabs();
    d.followFocus();
    XSync(d.dpy, False);
    return true;
}

void X11Keyboard::remove() {
    Impl& d = *m_impl;
    if (!d.installed) return;
    d.installed = false;
    d.followFocus();
    d.syncGrabs();
    d.capsKey->restore();
    d.awaitingRelease.clear();
    d.selectRawKeys(false);
    XSync(d.dpy, False);
}

void X11Keyboard::setWatchedKeys(const std::vector<Hotkey>& keys) {
    Impl& d = *m_impl;
    std::vector<Hotkey> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == d.watched) return;
    d.watched = std::move(sorted);
    d.syncGrabs();
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
    if (q.raw) return onRawKey(q.key);
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
    return std::exchange(m_impl->refused, {});
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
