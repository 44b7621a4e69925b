// Keyquill's helper inside GNOME Shell: it takes the keys Keyquill watches, reports their presses
// and releases, and types for Keyquill. It serves the one connection that claimed it and lets
// every key go the moment that connection leaves the bus (also when Keyquill is killed).
//
// This file is shared by two forms of the extension (GNOME 43-44 scripts, GNOME 45+ modules); the
// form's own header brings Clutter, Gio, GLib, GObject, Meta, Shell, St and Main into scope.

const BUS_NAME = 'io.github.wrenfield.Keyquill.Shell';
const OBJECT_PATH = '/io/github/wrenfield/Keyquill/Shell';
const INTERFACE = `<node><interface name="io.github.wrenfield.Keyquill.Shell1">
  <method name="Claim"><arg type="u" direction="out" name="version"/></method>
  <method name="Bind"><arg type="as" direction="in" name="keys"/><arg type="as" direction="out" name="bound"/></method>
  <method name="Keys"><arg type="au" direction="in" name="events"/></method>
  <method name="Paste"><arg type="s" direction="in" name="text"/><arg type="b" direction="out" name="taken"/></method>
  <method name="CapsLock"><arg type="b" direction="out" name="on"/></method>
  <method name="TapCapsLock"/>
  <property name="Bound" type="as" access="read"/>
  <signal name="Pressed"><arg type="s" name="key"/></signal>
  <signal name="Released"><arg type="s" name="key"/></signal>
</interface></node>`;
const VERSION = 1;
const KEY_UP = 0x80000000; // high bit of an event: the key goes up
const EVDEV_LEFTSHIFT = 42, EVDEV_INSERT = 110;
const SELECTIONS = [St.ClipboardType.CLIPBOARD, St.ClipboardType.PRIMARY];
// A key nobody presses, typed after ours to learn when they have gone through.
const MARKER_KEY = 'XF86Launch9', MARKER_KEYSYM = 0x1008ff49;
const PASTE_SETTLE_MS = 300, PASTE_KEEP_MS = 2000;
// How long the rest of a line waits for the user to let go of a key it types.
const HELD_KEY_WAIT_MS = 1000;

function seatOf() {
    // Quirk: GNOME 47 moved the backend from Clutter's global into the stage's context.
    const backend = global.stage.context?.get_backend?.() ?? Clutter.get_default_backend();
    return backend.get_default_seat();
}

var KeyquillShell = class {
    enable() {
        this._grabs = new Map(); // action -> key name
        this._down = new Set(); // names of grabbed keys reported pressed and not yet released
        this._upWait = null;
        this._owner = null;
        this._watch = 0;
        this._saved = undefined; // the user's clipboard while a paste of ours is on it
        this._putBack = 0;
        this._marker = 0;
        this._markerWaits = []; // in the order of their markers
        this._inputMethodHeld = 0;
        // Quirk: the shell's input method takes its source back whenever the source is announced
        // again, as it is when the engine registers or updates its properties (at a window's
        // focus, say); while keys of ours are on their way, it is taken away again at once.
        const sources = Main.inputMethod?._inputSourceManager;
        this._sourceWatch = sources?.connect('current-source-changed', () => {
            if (this._inputMethodHeld > 0)
                Main.inputMethod._currentSource = null;
        }) ?? 0;
        this._keyboard = seatOf().create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        // GNOME 48 and later report a grabbed key's release; before, none is seen anywhere, so the
        // release is reported with the press (a held key repeats nothing: repeats are dropped).
        this._releases = GObject.signal_lookup('accelerator-deactivated', Meta.Display) !== 0;
        this._signals = [global.display.connect('accelerator-activated', (d, action) => this._activated(action, false))];
        if (this._releases)
            this._signals.push(global.display.connect('accelerator-deactivated', (d, action) => this._activated(action, true)));
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME, Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        if (this._upWait?.timeout)
            GLib.source_remove(this._upWait.timeout);
        this._upWait = null;
        this._markerWaits.forEach(w => w.timeout && GLib.source_remove(w.timeout));
        this._markerWaits = [];
        if (this._sourceWatch)
            Main.inputMethod._inputSourceManager.disconnect(this._sourceWatch);
        if (this._inputMethodHeld > 0)
            Main.inputMethod._currentSource = Main.inputMethod._inputSourceManager.currentSource;
        this._release();
        this._signals.forEach(id => global.display.disconnect(id));
        this._object.unexport();
        Gio.bus_unown_name(this._name);
        this._keyboard = null;
    }

    _activated(action, up) {
        if (action === this._marker) {
            if (!up)
                this._markerWaits[0]?.finish();
            return;
        }
        const key = this._grabs.get(action);
        if (key === undefined)
            return;
        const event = Clutter.get_current_event();
        if (!up && event && (event.get_flags() & Clutter.EventFlags.FLAG_REPEATED) !== 0)
            return;
        if (up && !this._down.delete(key))
            return; // reported already, when its grab was let go for a line
        this._object.emit_signal(up ? 'Released' : 'Pressed', new GLib.Variant('(s)', [key]));
        if (!this._releases)
            this._object.emit_signal('Released', new GLib.Variant('(s)', [key]));
        else if (!up)
            this._down.add(key);
        else if (this._upWait && !this._upWait.keys.some(k => this._down.has(k)))
            this._upWait.finish();
    }

    // A key whose grab is let go while it is down would have its release go to the window, and
    // Keyquill would take the next press for the held key repeating: its release is reported now.
    _releaseDown(keys) {
        for (const key of keys.filter(k => this._down.delete(k)))
            this._object.emit_signal('Released', new GLib.Variant('(s)', [key]));
    }

    // Everything Keyquill was given goes back: its keys pass again.
    _release() {
        this._bind([]);
        if (this._marker)
            global.display.ungrab_accelerator(this._marker);
        this._marker = 0;
        if (this._watch)
            Gio.bus_unwatch_name(this._watch);
        this._watch = 0;
        this._owner = null;
    }

    _bind(keys) {
        for (const [action, key] of this._grabs) {
            if (keys.includes(key))
                continue;
            global.display.ungrab_accelerator(action);
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action), Shell.ActionMode.NONE);
            this._grabs.delete(action);
            this._down.delete(key);
        }
        const held = [...this._grabs.values()];
        // Quirk: mutter reports a release only for a grab with TRIGGER_RELEASE, a flag its
        // introspection data may lack (GNOME's own portal passes the bare bit).
        const release = this._releases ? (Meta.KeyBindingFlags.TRIGGER_RELEASE ?? 1 << 7) : 0;
        const flags = Meta.KeyBindingFlags.IGNORE_AUTOREPEAT | release;
        for (const key of keys.filter(k => !held.includes(k))) {
            const action = global.display.grab_accelerator(key, flags);
            if (action === Meta.KeyBindingAction.NONE)
                continue;
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action), Shell.ActionMode.ALL);
            this._grabs.set(action, key);
        }
        return [...this._grabs.values()];
    }

    get Bound() {
        return [...this._grabs.values()];
    }

    // Only the connection that claimed the helper may use it.
    _mine(invocation) {
        if (invocation.get_sender() === this._owner)
            return true;
        invocation.return_dbus_error('io.github.wrenfield.Keyquill.Shell.NotClaimed', 'Claim the helper first');
        return false;
    }

    ClaimAsync(params, invocation) {
        this._release();
        this._owner = invocation.get_sender();
        this._watch = Gio.bus_watch_name_on_connection(Gio.DBus.session, this._owner, Gio.BusNameWatcherFlags.NONE,
            null, () => this._release());
        invocation.return_value(new GLib.Variant('(u)', [VERSION]));
    }

    BindAsync([keys], invocation) {
        if (this._mine(invocation))
            invocation.return_value(new GLib.Variant('(as)', [this._bind(keys)]));
    }

    // Key events in order: a keysym each, KEY_UP set for a release. Answered once mutter has
    // taken them all, so the answer is a fence for the caller.
    KeysAsync([events], invocation) {
        if (!this._mine(invocation))
            return;
        const done = () => invocation.return_value(null);
        const grabbed = this._grabbedAmong(events);
        if (grabbed.length === 0) {
            this._send(events);
            GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => done());
            return;
        }
        // Quirk: mutter passes on one press of a key for the whole seat, so a key we type while
        // the user still holds it (a tab in a line, moments after the user pressed Tab) never
        // reaches the window. The keys before it go now, the rest once the user has let go.
        const held = grabbed.filter(k => this._down.has(k));
        const at = events.findIndex(e => held.some(k => e === Clutter[`KEY_${k}`]));
        if (at > 0)
            this._send(events.slice(0, at));
        this._whenUp(held, () => this._sendGrabbed(at > 0 ? events.slice(at) : events, grabbed, done));
    }

    // Quirk: a key we type while it is grabbed fires the grab and never reaches the window (a tab
    // in a line while Tab is the hotkey). Its grab is let go for the keys, and taken again once a
    // marker key typed after them has come back through mutter's input thread.
    _sendGrabbed(events, grabbed, done) {
        if (this._owner === null) {
            done(); // Keyquill left while the line waited
            return;
        }
        const keep = [...this._grabs.values()];
        this._releaseDown(grabbed);
        this._bind(keep.filter(k => !grabbed.includes(k)));
        this._send(events);
        this._afterOurKeys(() => {
            if (this._owner !== null)
                this._bind(keep);
            done();
        });
    }

    // Runs `then` once none of these keys is down, or after HELD_KEY_WAIT_MS all the same.
    _whenUp(keys, then) {
        if (!keys.some(k => this._down.has(k))) {
            then();
            return;
        }
        const wait = {keys, timeout: 0};
        wait.finish = () => {
            if (wait.timeout)
                GLib.source_remove(wait.timeout);
            this._upWait = null;
            then();
        };
        wait.timeout = this._later(HELD_KEY_WAIT_MS, () => {
            wait.timeout = 0;
            wait.finish();
        });
        this._upWait = wait;
    }

    _send(events) {
        this._pastInputMethod(() => this._notify(events));
    }

    _notify(events) {
        const t = GLib.get_monotonic_time();
        for (const e of events) {
            this._keyboard.notify_keyval(t, e & ~KEY_UP >>> 0,
                (e & KEY_UP) ? Clutter.KeyState.RELEASED : Clutter.KeyState.PRESSED);
        }
    }

    // Quirk: the shell hands each key of a window that takes text to the input method (IBus), and
    // on to the window once IBus answers. An engine such as Pinyin would make our keys into text
    // of its own, and GNOME 43 and 44 send the modifiers on at once, so that fast keys took the
    // Shift of their neighbours. The shell's input method lets every key by while it has no input
    // source: it has none while keys of ours are on their way, and gets it back once they are past.
    _pastInputMethod(send) {
        const im = Main.inputMethod;
        // From the moment IBus is connected: the shell's context with it may come mid-line.
        const hold = (im?._context || im?._ibus?.is_connected()) && '_currentSource' in im;
        if (hold && this._inputMethodHeld++ === 0)
            im._currentSource = null;
        send();
        if (hold) {
            this._afterOurKeys(() => {
                if (--this._inputMethodHeld === 0)
                    im._currentSource = im._inputSourceManager.currentSource;
            });
        }
    }

    // The names of grabbed keys that the events press.
    _grabbedAmong(events) {
        const names = [...this._grabs.values()];
        return names.filter(name => events.includes(Clutter[`KEY_${name}`]));
    }

    _afterOurKeys(then) {
        if (!this._marker) {
            const action = global.display.grab_accelerator(MARKER_KEY, Meta.KeyBindingFlags.NONE);
            if (action !== Meta.KeyBindingAction.NONE) {
                Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action), Shell.ActionMode.ALL);
                this._marker = action;
            }
        }
        const wait = {timeout: 0};
        wait.finish = () => {
            this._markerWaits = this._markerWaits.filter(w => w !== wait);
            if (wait.timeout)
                GLib.source_remove(wait.timeout);
            then();
        };
        // Without the marker (another program holds it), a fixed wait measured to be enough.
        wait.timeout = this._later(this._marker ? 2000 : 100, () => {
            wait.timeout = 0;
            wait.finish();
        });
        this._markerWaits.push(wait);
        if (this._marker)
            this._notify([MARKER_KEYSYM, (MARKER_KEYSYM | KEY_UP) >>> 0]);
    }

    // Text no key of the layout types: on the clipboard and the primary selection, then
    // Shift+Insert by key codes. Shift+Insert pastes in GTK, Qt, browsers, office suites and
    // terminals alike (xterm from the primary selection), where Ctrl+V does not. Quirk: mutter
    // tells an extension nothing when an application reads a selection (and GJS cannot implement
    // a selection source of its own), so the answer comes PASTE_SETTLE_MS after the keys, and the
    // user's selections are put back PASTE_KEEP_MS after the last paste.
    PasteAsync([text], invocation) {
        if (!this._mine(invocation))
            return;
        const clipboard = St.Clipboard.get_default();
        const paste = () => {
            for (const type of SELECTIONS)
                clipboard.set_text(type, text);
            const t = GLib.get_monotonic_time();
            this._pastInputMethod(() => {
                for (const [code, down] of [[EVDEV_LEFTSHIFT, 1], [EVDEV_INSERT, 1], [EVDEV_INSERT, 0], [EVDEV_LEFTSHIFT, 0]])
                    this._keyboard.notify_key(t, code, down ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
            });
            this._later(PASTE_SETTLE_MS, () => invocation.return_value(new GLib.Variant('(b)', [true])));
            if (this._putBack)
                GLib.source_remove(this._putBack);
            this._putBack = this._later(PASTE_KEEP_MS, () => {
                this._putBack = 0;
                SELECTIONS.forEach((type, i) => {
                    if (this._saved[i] !== null)
                        clipboard.set_text(type, this._saved[i]);
                });
                this._saved = undefined;
            });
        };
        if (this._saved !== undefined) {
            paste(); // the user's selections are still kept from the paste before
            return;
        }
        const saved = [];
        let read = 0;
        SELECTIONS.forEach((type, i) => clipboard.get_text(type, (c, t) => {
            saved[i] = t;
            if (++read === SELECTIONS.length) {
                this._saved = saved;
                paste();
            }
        }));
    }

    _later(ms, then) {
        return GLib.timeout_add(GLib.PRIORITY_DEFAULT, ms, () => {
            then();
            return GLib.SOURCE_REMOVE;
        });
    }

    CapsLock() {
        return seatOf().get_keymap().get_caps_lock_state();
    }

    TapCapsLockAsync(params, invocation) {
        if (!this._mine(invocation))
            return;
        const t = GLib.get_monotonic_time();
        this._keyboard.notify_keyval(t, Clutter.KEY_Caps_Lock, Clutter.KeyState.PRESSED);
        this._keyboard.notify_keyval(t, Clutter.KEY_Caps_Lock, Clutter.KeyState.RELEASED);
        invocation.return_value(null);
    }
};
