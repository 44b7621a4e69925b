#include "platform/kde/kwinlayouts.h"

#include <systemd/sd-bus.h>

namespace kq {
namespace {

constexpr char kService[] = "org.kde.keyboard";
constexpr char kObject[] = "/Layouts";
constexpr char kInterface[] = "org.kde.KeyboardLayouts";

} // namespace

std::optional<uint32_t> KwinLayouts::active() const {
    if (!m_bus) return std::nullopt;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    uint32_t index = 0;
    // Quirk: KWin before 5.19 answers with the layout's name; that is taken as no answer.
    int r = sd_bus_call_method(m_bus, kService, kObject, kInterface, "getLayout", &error, &reply, "");
    if (r >= 0) r = sd_bus_message_read(reply, "u", &index);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0 ? std::optional<uint32_t>(index) : std::nullopt;
}

bool KwinLayouts::activate(uint32_t index) const {
    if (!m_bus) return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int switched = 0;
    int r = sd_bus_call_method(m_bus, kService, kObject, kInterface, "setLayout", &error, &reply, "u", index);
    if (r >= 0) r = sd_bus_message_read(reply, "b", &switched);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0 && switched;
}

} // namespace kq
