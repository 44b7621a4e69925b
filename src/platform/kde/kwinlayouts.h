#pragma once
// The keyboard layouts the user has on KWin and which of them is active, through KWin's own
// D-Bus service. KWin runs fake-input keys through the active layout only, and it tells the
// active layout (the keymap's group) to the focused window alone, so this is the way to know it.
#include <cstdint>
#include <optional>

struct sd_bus;

namespace kq {

class KwinLayouts {
public:
    explicit KwinLayouts(sd_bus* bus) : m_bus(bus) {}
    // The active layout's index (the keymap's group). nullopt when KWin offers no layout
    // service, as with a single layout: the first group is the only one then.
    std::optional<uint32_t> active() const;
    // Makes another layout active; true once KWin has switched, so the next key is read with it.
    bool activate(uint32_t index) const;

private:
    sd_bus* m_bus;
};

} // namespace kq
