#pragma once
// The settings file "config.ini": one line of four numbers - background colour, text colour,
// transparency on (0/1) and transparency level - separated by single spaces, ending in CR LF.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

inline constexpr int32_t kDefaultBackgroundColour = 0xC87800;
inline constexpr int32_t kDefaultTextColour = 0xFFFFFF;
inline constexpr std::string_view kSettingsFileName = "config.ini";

// A colour is 0x00BBGGRR: red in the low byte.
struct RgbBytes {
    uint8_t Red = 0, Green = 0, Blue = 0;
    bool operator==(const RgbBytes&) const = default;
};
RgbBytes ColourToRgb(int32_t colour);
int32_t ComposeColour(int red, int green, int blue);

// What loading the settings does to the program. Each call is one step of the load; a step
// that cannot take its value reports false and the load takes its failure path.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    virtual void ApplyColour(int32_t colour, std::string_view target) = 0; // "bg" or "text"
    virtual void SetBackgroundBar(int index, int value) = 0;               // red 0, green 1, blue 2
    virtual void SetTextBar(int index, int value) = 0;
    virtual void CheckTransparent() = 0;                    // tick "Enable Transparency"
    virtual bool SetTransparencyBar(int16_t value) = 0;     // false when outside the bar's range
    virtual void MakeWindowsTransparent(int16_t level) = 0; // the three working windows, in order
};

// The last field of the file as the runtime's delimited input reads it; nullopt when the file
// cannot be opened or holds no field.
std::optional<std::string> ReadSettingsText(const std::string& path);
// The same from the file's bytes.
std::optional<std::string> SettingsTextOf(std::string_view bytes);
// Split at every single space; consecutive spaces give empty fields.
std::vector<std::string> SplitAtSpaces(const std::string& text);

// Reads the file and applies it step by step. On any failure the default colours are applied
// over whatever was done; the steps already taken stay done. Returns true when nothing failed.
bool LoadSettings(const std::string& path, SettingsTarget& target);
// The same from the text ReadSettingsText gave.
bool ApplySettingsText(const std::optional<std::string>& text, SettingsTarget& target);

std::string FormatSettings(int32_t background, int32_t text, int16_t transparencyOn, int16_t level);
bool WriteSettingsFile(const std::string& path, int32_t background, int32_t text, int16_t transparencyOn,
                       int16_t level, std::string* error = nullptr);

} // namespace kq
