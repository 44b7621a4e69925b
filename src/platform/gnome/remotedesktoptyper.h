#pragma once
// Typing through the desktop's RemoteDesktop portal (GNOME): keysyms, which the compositor types
// in the user's layout, and the portal's clipboard for characters that layout lacks (the
// compositor drops keysyms it has no key for). The user allows it once; the permission is kept
// as a restore token in a file of ours, so later starts ask nothing.
#include "platform/typer.h"

#include <memory>
#include <string>

typedef struct sd_bus sd_bus;

namespace kq {

class CompositorKeymap;

class RemoteDesktopTyper : public Typer {
public:
    // Opens a session on `bus` and waits while the user answers the portal's dialog, if it shows
    // one. `tokenFile` keeps the permission between runs. `layout` tells which keysyms the user's
    // layout has. nullptr, with the reason, when the portal lacks the service or the user declined.
    static std::unique_ptr<RemoteDesktopTyper> open(sd_bus* bus, const std::string& tokenFile,
                                                    std::unique_ptr<CompositorKeymap> layout,
                                                    std::string* error);
    ~RemoteDesktopTyper() override;
    // Whether the bus's portal has a RemoteDesktop interface at all (asks the user nothing).
    static bool offered(sd_bus* bus);

    bool send(const KeyStrokes& strokes) override;

    struct Impl;

private:
    explicit RemoteDesktopTyper(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
