#pragma once
// Input methods (IBus, Fcitx5) turn the keys they get into other text: with a Pinyin engine on,
// the letters of "hello" become Chinese characters. A line must arrive as written, so for the
// line the input method is put to direct input, confirmed before the first key, and given back as
// it was afterwards (same engine, same on/off state), so the user's own typing goes through it
// again.
#include "engine/keystroke.h"
#include "platform/keyboard.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kq {

class InputMethodSwitch {
public:
    virtual ~InputMethodSwitch() = default;
    // Puts the input method to direct input when it is on; true when it changed something
    // (and restore() must follow). `layout` is asked only when needed: it may cost round trips.
    virtual bool direct(const std::function<LayoutName()>& layout) = 0;
    virtual void restore() = 0;
    // How long to wait between keys while this input method sees them, direct or not.
    virtual std::chrono::milliseconds keyGap() const { return {}; }
};

// IBus on its own bus (IBUS_ADDRESS, or the address file IBus writes for this display) and
// Fcitx5 on the session bus, each asked at every line whether it is running and on.
std::unique_ptr<InputMethodSwitch> OpenInputMethodSwitch();

// Hands every send to `inner` with the input method at direct input. It is given back a while
// after the last line, not at its end: an application hands the keys it has received to its input
// method later than they are sent (a busy one much later), and each must still find direct input.
class DirectInputSink : public KeystrokeSink {
public:
    static constexpr std::chrono::milliseconds kGiveBackAfter{1000};

    DirectInputSink(KeystrokeSink& inner, std::function<LayoutName()> layout,
                    std::unique_ptr<InputMethodSwitch> methods = OpenInputMethodSwitch())
        : m_inner(inner), m_layout(std::move(layout)), m_methods(std::move(methods)) {}
    ~DirectInputSink() override { giveBack(); }
    bool send(const KeyStrokes& strokes) override;
    // Milliseconds until the input method is due back; -1 when it was not switched.
    int msUntilGiveBack() const;
    // Gives the input method back when that is due (at once when `now` is set).
    void giveBack(bool now = true);

private:
    KeystrokeSink& m_inner;
    std::function<LayoutName()> m_layout;
    std::unique_ptr<InputMethodSwitch> m_methods;
    bool m_switched = false;
    std::chrono::steady_clock::time_point m_due{};
};

} // namespace kq
