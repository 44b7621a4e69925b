#include "platform/portal/portalbus.h"

#include <cstring>

namespace kq::portal {

std::string RequestPath(sd_bus* bus, std::string_view token) {
    const char* unique = nullptr;
    if (sd_bus_get_unique_name(bus, &unique) < 0 || !unique) return {};
    std::string sender(unique + (unique[0] == ':' ? 1 : 0));
    for (char& c : sender)
        if (c == '.') c = '_';
    return std::string(kObject) + "/request/" + sender + "/" + std::string(token);
}

int AppendStringOption(sd_bus_message* m, const char* key, const std::string& value) {
    return sd_bus_message_append(m, "{sv}", key, "s", value.c_str());
}

int AppendUintOption(sd_bus_message* m, const char* key, uint32_t value) {
    return sd_bus_message_append(m, "{sv}", key, "u", value);
}

int ReadStringVariant(sd_bus_message* m, std::string* out) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r <= 0 || type != SD_BUS_TYPE_VARIANT || !contents) return r < 0 ? r : -EINVAL;
    if (std::strcmp(contents, "s") != 0 && std::strcmp(contents, "o") != 0)
        return sd_bus_message_skip(m, "v");
    const char* value = nullptr;
    r = sd_bus_message_read(m, "v", contents, &value);
    if (r >= 0 && value) *out = value;
    return r;
}

} // namespace kq::portal
