#pragma once
// The keysym of each key the notation names, shared by every backend that types through keysyms.
#include "engine/keystroke.h"

#include <cstdint>

namespace kq {

// 0 when the key has none.
uint32_t KeysymForNamedKey(NamedKey key);

} // namespace kq
