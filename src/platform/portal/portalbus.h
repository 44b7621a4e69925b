#pragma once
// Small pieces of the portals' D-Bus conventions over sd-bus: options dictionaries, the request
// object a call answers through, and the results of its Response signal.
#include <systemd/sd-bus.h>

#include <functional>
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

// Calls a portal method that answers through a Request object, then runs the bus until its
// Response arrives (the user may be answering a dialog meanwhile) or `timeoutMs` pass. `args`
// appends the arguments, options included: their handle_token must be `token`. `results` reads
// the Response's a{sv}. Returns its code: 0 granted, 1 declined, 2 failed (3 when no answer came).
uint32_t CallAndWait(sd_bus* bus, const char* interface, const char* method, const std::string& token,
                     const std::function<int(sd_bus_message*)>& args, int timeoutMs,
                     const std::function<void(sd_bus_message*)>& results = {});

// Calls `each(key, m)` for every entry of the a{sv} the message is at; `each` reads the variant.
int ForEachOption(sd_bus_message* m, const std::function<int(const char* key, sd_bus_message* m)>& each);

} // namespace kq::portal
