#pragma once
// The one way a line is typed on a desktop that takes key events one at a time (the virtual
// keyboard, KWin's fake input, the RemoteDesktop portal): each stroke is resolved to a key, or
// gathered with its neighbours into text to paste; a key is wrapped in the modifiers it needs,
// outermost first and released in reverse; the events are paced and fenced. A KeyEmitter says
// what each step means on its desktop.
#include "engine/keystroke.h"
#include "platform/keypacer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kq {

// A key that types a stroke: its code as the emitter sends it, the levels it needs, and the
// layout group it is found in.
struct EmittedKey {
    uint32_t code = 0;
    bool shift = false;
    bool level3 = false; // AltGr
    uint32_t group = 0;
};

// The modifier keys the pipeline holds; the emitter gives each one's code.
enum class HeldKey { Control, Alt, Shift, Level3 };

class KeyEmitter {
public:
    virtual ~KeyEmitter() = default;
    // Before a line: what the desktop's keymap and state are now, and the layout group it reads
    // keys with. False when it has gone.
    virtual bool begin(uint32_t* /*activeGroup*/) { return true; }
    // Makes the strokes from `from` on resolvable and returns where that part ends (a virtual
    // keyboard's keymap holds so many keys at once). False when it could not.
    virtual bool prepare(const KeyStrokes& strokes, size_t /*from*/, size_t* to) {
        *to = strokes.size();
        return true;
    }
    // The key that types a stroke; nullopt when no key does and it must be pasted.
    virtual std::optional<EmittedKey> resolve(const KeyStroke& stroke) = 0;
    // Before any key of a line: whether the stroke can be typed at all once its part is
    // prepared. By default, what resolves now.
    virtual bool resolvable(const KeyStroke& stroke) { return resolve(stroke).has_value(); }
    // The code of a modifier key; 0 when the desktop has none (AltGr on a US layout).
    virtual uint32_t heldKeyCode(HeldKey key) = 0;
    // One key event.
    virtual bool key(uint32_t code, bool pressed) = 0;
    // After the modifiers held by the pipeline changed (a set of ModShift, ModControl, ModAlt):
    // for desktops that do not derive them from the keys.
    virtual bool modifiersHeld(uint8_t /*mods*/) { return true; }
    // A round trip: the desktop has handled every event sent before it.
    virtual bool roundTrip() = 0;
    // Between strokes, after a fence: a chance to notice that the desktop changed the keymap.
    virtual bool betweenStrokes() { return true; }
    // Makes `group` the layout group the desktop reads the next keys with (every key sent before
    // has been handled). False when it cannot.
    virtual bool useGroup(uint32_t /*group*/) { return false; }
    // The key pressed with Control to paste: V, in a group that has it.
    virtual std::optional<EmittedKey> pasteKey() { return resolve(KeyStroke::character(U'v')); }
    // Text no key types: through the clipboard, `pressPaste` pressing the paste keys. False, with
    // a line on standard error, when the text did not arrive.
    virtual bool paste(const std::u32string& /*text*/, const std::function<bool()>& /*pressPaste*/) {
        return false;
    }
    // After a line (also a failed one): what begin() changed is put back.
    virtual bool finish() { return true; }
};

class LineTyper {
public:
    explicit LineTyper(KeyEmitter& emitter, KeyPacer::Limits pace = {}) : m_emitter(emitter), m_pacer(pace) {}
    // Types the strokes in order. A stroke that needs a key no layout has fails the line before
    // any key is sent when it carries modifiers or is a named key (neither can be pasted).
    bool type(const KeyStrokes& strokes);
    // Paces the events sent since the last fence, then waits for the round trip.
    bool fence();

private:
    bool typePart(const KeyStrokes& strokes, size_t from, size_t to);
    bool stroke(const EmittedKey& key, uint8_t mods);
    bool send(uint32_t code, bool pressed);
    bool pasteRun(const std::u32string& run);
    bool useGroup(uint32_t group);

    KeyEmitter& m_emitter;
    KeyPacer m_pacer;
    uint32_t m_group = 0;
    bool m_fenced = false;
};

} // namespace kq
