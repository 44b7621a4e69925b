#pragma once
// The way to type what the user's layout has no key for, on a desktop that types only through
// that layout: put the text on the clipboard, press the paste key, and once the application has
// taken it, put the previous clipboard back. Uses wl-clipboard's wl-copy and wl-paste.
#include <functional>
#include <string>

namespace kq {

class ClipboardPaste {
public:
    // False, with nothing pasted, when the tools are missing, the clipboard cannot be set, or no
    // application took the text within a few seconds (then the previous clipboard is back too).
    static bool paste(const std::string& utf8, const std::function<bool()>& pressPaste, std::string* error);
};

} // namespace kq
