#pragma once
// Small pieces of the portals' D-Bus conventions over sd-bus: options dictionaries, the request
// object a call answers through, and the results of its Response signal.
#include <systemd/sd-bus.h>

#include <string>
#include <string_view>

namespace kq::portal {

inline constexpr char kService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kObject[] = "/org/freedesktop/portal/desktop";

// The object path the portal answers a call on, from the caller's unique name and the call's
// handle_token (the portals fix it, so the match can be made before the call).
std::string RequestPath(sd_bus* bus, std::string_view token);

// One `{sv}` entry holding a string, inside an open a{sv} container.
int AppendStringOption(sd_bus_message* m, const char* key, const std::string& value);
int AppendUintOption(sd_bus_message* m, const char* key, uint32_t value);

// The string (or object path) held by the variant the message is at; the variant is consumed.
int ReadStringVariant(sd_bus_message* m, std::string* out);

} // namespace kq::portal
