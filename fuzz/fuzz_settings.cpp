// The settings reader on any file: no crash; every load ends either with all its steps or with
// the default colours; and any settings the program writes read back as the same values.
#include "files/settingsfile.h"
#include "fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace kq;

namespace {

struct Recorder : SettingsTarget {
    std::vector<int32_t> colours;
    bool checked = false;
    int16_t bar = 0, transparent = 0;
    void ApplyColour(int32_t colour, std::string_view) override { colours.push_back(colour); }
    void SetBackgroundBar(int, int value) override { FUZZ_CHECK(value >= 0 && value <= 255); }
    void SetTextBar(int, int value) override { FUZZ_CHECK(value >= 0 && value <= 255); }
    void CheckTransparent() override { checked = true; }
    // The transparency bar's range.
    bool SetTransparencyBar(int16_t value) override { return value >= 30 && value <= 255 && (bar = value); }
    void MakeWindowsTransparent(int16_t level) override { transparent = level; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        const int32_t background = in.ConsumeIntegral<int32_t>(), text = in.ConsumeIntegral<int32_t>();
        const int16_t on = in.ConsumeBool() ? 1 : 0;
        const auto level = in.ConsumeIntegralInRange<int16_t>(30, 255);
        Recorder r;
        FUZZ_CHECK(ApplySettingsText(SettingsTextOf(FormatSettings(background, text, on, level)), r));
        FUZZ_CHECK((r.colours == std::vector<int32_t>{background, text}));
        FUZZ_CHECK(r.checked == (on == 1));
        FUZZ_CHECK(on == 0 || (r.bar == level && r.transparent == level));
        return 0;
    }
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    Recorder r;
    const bool ok = ApplySettingsText(SettingsTextOf(bytes), r);
    if (!ok) {
        FUZZ_CHECK(r.colours.size() >= 2);
        FUZZ_CHECK(r.colours[r.colours.size() - 2] == kDefaultBackgroundColour);
        FUZZ_CHECK(r.colours.back() == kDefaultTextColour);
    } else {
        FUZZ_CHECK(r.colours.size() == 2);
        FUZZ_CHECK(!r.checked || r.transparent == r.bar);
    }
    return 0;
}
