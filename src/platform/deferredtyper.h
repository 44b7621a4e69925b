#pragma once
// A typer opened at the first line rather than at start-up. Where opening asks the user in a
// dialog of the desktop's (GNOME's "Remote Desktop"), the dialog then comes after Keyquill's
// window and its notice, when the user has pressed the hotkey and expects typing.
#include "platform/typer.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace kq {

class DeferredTyper : public Typer {
public:
    using Open = std::function<std::unique_ptr<Typer>(std::string* error)>;
    explicit DeferredTyper(Open open) : m_open(std::move(open)) {}

    // A failed opening fails the line (the user sees the line's message) and is tried again at
    // the next one: the user may allow it then.
    bool send(const KeyStrokes& strokes) override {
        if (!m_typer) {
            std::string error;
            m_typer = m_open(&error);
            if (!m_typer) std::fprintf(stderr, "keyquill: %s\n", error.c_str());
        }
        return m_typer && m_typer->send(strokes);
    }
    bool alive() const override { return !m_typer || m_typer->alive(); }
    std::optional<bool> capsLocked() override { return m_typer ? m_typer->capsLocked() : std::nullopt; }
    void tapCapsLock() override {
        if (m_typer) m_typer->tapCapsLock();
    }

private:
    Open m_open;
    std::unique_ptr<Typer> m_typer;
};

} // namespace kq
