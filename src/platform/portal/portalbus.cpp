#include "platform/portal/portalbus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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

namespace {

struct Waiting {
    bool done = false;
    uint32_t code = 2;
    const std::function<void(sd_bus_message*)>* results = nullptr;
};

int onResponse(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* w = static_cast<Waiting*>(data);
    if (sd_bus_message_read(m, "u", &w->code) >= 0 && w->code == 0 && *w->results) (*w->results)(m);
    w->done = true;
    return 0;
}

} // namespace

uint32_t CallAndWait(sd_bus* bus, const char* interface, const char* method, const std::string& token,
                     const std::function<int(sd_bus_message*)>& args, int timeoutMs,
                     const std::function<void(sd_bus_message*)>& results) {
    Waiting w;
    w.results = &results;
    const std::string path = RequestPath(bus, token);
    sd_bus_slot* slot = nullptr;
    sd_bus_message* m = nullptr;
    int r = path.empty() ? -ENOTCONN
                         : sd_bus_match_signal(bus, &slot, nullptr, path.c_str(),
                                               "org.freedesktop.portal.Request", "Response", onResponse, &w);
    if (r >= 0) r = sd_bus_message_new_method_call(bus, &m, kService, kObject, interface, method);
    if (r >= 0) r = args(m);
    if (r >= 0) r = sd_bus_call(bus, m, 0, nullptr, nullptr);
    sd_bus_message_unref(m);
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (r >= 0 && !w.done && Clock::now() < end) {
        r = sd_bus_process(bus, nullptr);
        if (r == 0) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now());
            r = sd_bus_wait(bus, static_cast<uint64_t>(std::max<int64_t>(left.count(), 0)));
        }
    }
    sd_bus_slot_unref(slot);
    return w.done ? w.code : r < 0 ? 2 : 3;
}

int ForEachOption(sd_bus_message* m, const std::function<int(const char* key, sd_bus_message* m)>& each) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read(m, "s", &key);
        if (r >= 0) r = each(key, m);
        if (r >= 0) r = sd_bus_message_exit_container(m);
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

} // namespace kq::portal
