#pragma once
// Typing on KWin through its fake-input protocol, which KWin grants to a program whose desktop
// file asks for it. KWin runs these keys through the user's own keymap, so each character is
// looked up in that layout; what the layout lacks is pasted (ClipboardPaste), never dropped.
#include "platform/typer.h"

#include <memory>
#include <string>

struct sd_bus;

namespace kq {

class FakeInputTyper : public Typer {
public:
    // nullptr, with the reason, when there is no compositor or it does not grant fake input.
    // `bus` reaches KWin's layout service, through which keys of the user's other layouts are
    // typed (nullptr: the first layout alone).
    static std::unique_ptr<FakeInputTyper> open(sd_bus* bus, std::string* error);
    ~FakeInputTyper() override;

    bool send(const KeyStrokes& strokes) override;
    bool alive() const override;
    // The lock state KWin reports (off where it reports none).
    std::optional<bool> capsLocked() override;
    void tapCapsLock() override;

    struct Impl;

private:
    explicit FakeInputTyper(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
