#pragma once
// The process-wide values that the windows, the keyboard filter and shutdown share. One instance
// lives for the whole run (created before the first window).
#include "app/formrestrict.h"
#include "engine/macrostate.h"
#include "files/settingsfile.h"
#include "files/slotstore.h"
#include "platform/keyboard.h"

#include <cstdint>

namespace kq {

struct Globals {
    MacroState macro;
    SlotStore slotStore;
    int16_t CurrentConfig = 1;
    bool ShuttingDown = false;
    FormRestrict restrict;

    // Appearance, shared by the options window, the settings file and the colour routines.
    int32_t BackgroundColour = 0;
    int32_t TextColour = 0;
    int16_t TransparencyOn = 0;
    int16_t TransparencyLevel = 0;

    // The platform; a filter or sender may be absent (no X server), and then hotkeys do nothing.
    KeyFilter* filter = nullptr;
    CapsLockControl* capsLock = nullptr;
    KeystrokeSink* sender = nullptr;
};

} // namespace kq
