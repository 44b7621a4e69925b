#pragma once
// The program's own texts shown to the user, used exactly as they stand.
#include <string>
#include <string_view>

namespace kq {

inline constexpr std::string_view kProgramTitle = "Keyquill";
inline constexpr std::string_view kMsgIllegalCharacters =
    "This is usually due to illegal characters within the config";
inline constexpr std::string_view kMsgSecondInstance =
    "It is not recommended that you run this program more than once, would you like to continue";
inline constexpr std::string_view kMsgBadFormat = "Error loading file, not valid format";

// Texts of this port's own, where the Linux desktop asks for more than the original program said.
inline std::string SettingsSaveFailure(const std::string& path, const std::string& reason) {
    return "Keyquill could not save its settings to " + path + ": " + reason;
}
inline std::string HotkeyHeldElsewhere(std::string_view key) {
    return "Another program holds " + std::string(key) + "; Keyquill cannot use it.";
}

// What a message box says by its icon and buttons.
enum class MessageKind {
    Information, // OK
    Warning,     // OK
    Critical,    // OK
    Question,    // Yes and No
};
enum class Answer { Ok, Yes, No };

} // namespace kq
