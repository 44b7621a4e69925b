#pragma once
// Typing through a virtual keyboard of the compositor (zwp_virtual_keyboard_v1): each line goes
// out on a keymap of our own, so every character is a key whatever the user's layout, and our
// keyboard's modifiers are ours alone: what the user holds on a real keyboard does not reach it.
#include "platform/typer.h"

#include <functional>
#include <memory>
#include <string>

namespace kq {

class VirtualKeyboardTyper : public Typer {
public:
    // nullptr, with the reason, when there is no compositor or it offers no virtual keyboard.
    static std::unique_ptr<VirtualKeyboardTyper> open(std::string* error);
    ~VirtualKeyboardTyper() override;

    bool send(const KeyStrokes& strokes) override;
    bool alive() const override;
    // Asked before each line and, between keys, after each fence: true when the compositor has
    // replaced our keymap since it was last asked. The keymap then goes up again before the next
    // key, so the rest of the line is read with the keys we send.
    void watchKeymap(std::function<bool()> replaced);

    struct Impl;

private:
    explicit VirtualKeyboardTyper(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
