#pragma once
// Every way out of the program ends here. Safe to enter again while it runs: the unloads it
// causes deliver close notifications that call it once more.
#include "app/globals.h"

namespace kq {

class ShutdownTarget {
public:
    virtual ~ShutdownTarget() = default;
    virtual QWidget* mainWindow() = 0;
    virtual QWidget* multiSlotWindow() = 0;
    // Each unload does nothing for a window already unloaded or being unloaded.
    virtual void unloadOptions() = 0; // writes the settings file
    virtual void unloadMultiSlot() = 0;
    virtual void unloadMain() = 0;
    virtual void removeTrayIcon() = 0;
};

void ShutdownProgram(Globals& g, ShutdownTarget& target);

} // namespace kq
