#include "files/settingsfile.h"

#include "files/conversions.h"
#include "files/delimited.h"
#include "files/textcodec.h"

namespace kq {

RgbBytes ColourToRgb(int32_t colour) {
    const auto u = static_cast<uint32_t>(colour);
    return {static_cast<uint8_t>(u & 0xFF), static_cast<uint8_t>((u >> 8) & 0xFF),
            static_cast<uint8_t>((u >> 16) & 0xFF)};
}

int32_t ComposeColour(int red, int green, int blue) {
    return static_cast<int32_t>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

std::optional<std::string> ReadSettingsText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return bytes ? SettingsTextOf(*bytes) : std::nullopt;
}

std::optional<std::string> SettingsTextOf(std::string_view bytes) {
    DelimitedReader reader(DecodeFileText(bytes), DelimitedReader::Style::Runtime);
    auto field = reader.readField();
    if (!field) return std::nullopt;
    while (!reader.atEnd())
        field = reader.readField();
    return field;
}

std::vector<std::string> SplitAtSpaces(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t space = text.find(' ', start);
        fields.push_back(text.substr(start, space == std::string::npos ? std::string::npos : space - start));
        if (space == std::string::npos) return fields;
        start = space + 1;
    }
}

namespace {

// The steps of the load, in order; false at the first step that fails.
bool applySettings(const std::vector<std::string>& f, SettingsTarget& target) {
    auto field = [&](size_t n) -> std::optional<std::string_view> {
        if (n > f.size()) return std::nullopt;
        return std::string_view(f[n - 1]);
    };
    for (int which = 0; which < 2; ++which) {
        const auto text = field(static_cast<size_t>(which + 1));
        const auto colour = text ? ToLong(*text) : std::nullopt;
        if (!colour) return false;
        target.ApplyColour(*colour, which == 0 ? "bg" : "text");
        const RgbBytes rgb = ColourToRgb(*colour);
        const int parts[3] = {rgb.Red, rgb.Green, rgb.Blue};
        for (int i = 0; i < 3; ++i) {
            if (which == 0)
                target.SetBackgroundBar(i, parts[i]);
            else
                target.SetTextBar(i, parts[i]);
        }
    }
    const auto onText = field(3);
    const auto on = onText ? ToInteger(*onText) : std::nullopt;
    if (!on) return false;
    if (*on != 1) return true;
    target.CheckTransparent();
    const auto levelText = field(4);
    const auto level = levelText ? FloorToInteger(*levelText) : std::nullopt;
    if (!level || !target.SetTransparencyBar(*level)) return false;
    target.MakeWindowsTransparent(*level);
    return true;
}

} // namespace

bool LoadSettings(const std::string& path, SettingsTarget& target) {
    return ApplySettingsText(ReadSettingsText(path), target);
}

bool ApplySettingsText(const std::optional<std::string>& text, SettingsTarget& target) {
    if (text && applySettings(SplitAtSpaces(*text), target)) return true;
    target.ApplyColour(kDefaultBackgroundColour, "bg");
    target.ApplyColour(kDefaultTextColour, "text");
    return false;
}

std::string FormatSettings(int32_t background, int32_t text, int16_t transparencyOn, int16_t level) {
    return std::to_string(background) + ' ' + std::to_string(text) + ' ' + std::to_string(transparencyOn) +
           ' ' + std::to_string(level) + "\r\n";
}

bool WriteSettingsFile(const std::string& path, int32_t background, int32_t text, int16_t transparencyOn,
                       int16_t level, std::string* error) {
    return WriteFileBytes(path, FormatSettings(background, text, transparencyOn, level), error);
}

} // namespace kq
