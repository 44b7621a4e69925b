#include "platform/inputmethod/directinput.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kq {
namespace {

constexpr char kIBus[] = "org.freedesktop.IBus";
constexpr char kIBusObject[] = "/org/freedesktop/IBus";

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;

// The address IBus wrote for this display: ~/.config/ibus/bus/<machine id>-<host>-<display>.
std::string IBusAddress() {
    if (const char* address = std::getenv("IBUS_ADDRESS"); address && *address) return address;
    std::ifstream id("/etc/machine-id");
    std::string machine;
    std::getline(id, machine);
    std::string host = "unix", display = "0";
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
        display = wayland;
    } else if (const char* x = std::getenv("DISPLAY"); x && *x) {
        const std::string d = x;
        const size_t colon = d.rfind(':');
        if (colon != std::string::npos && colon > 0) host = d.substr(0, colon);
        display = d.substr(colon + 1, d.find('.', colon) - colon - 1);
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string folder =
        config && *config ? std::string(config) : std::string(home ? home : "") + "/.config";
    std::ifstream file(folder + "/ibus/bus/" + machine + "-" + host + "-" + display);
    for (std::string line; std::getline(file, line);)
        if (line.rfind("IBUS_ADDRESS=", 0) == 0) return line.substr(13);
    return {};
}

// The fields of an engine's description that choose it, from the serialized IBusEngineDesc
// "(sa{sv}ssssssssusssssss)" the message is at (a variant holding it).
struct Engine {
    std::string name, layout, variant;
};
std::optional<Engine> ReadEngine(sd_bus_message* m) {
    Engine e;
    const char *typeName = nullptr, *name = nullptr, *layout = nullptr, *variant = nullptr;
    if (sd_bus_message_enter_container(m, 'v', nullptr) <= 0 ||
        sd_bus_message_enter_container(m, 'r', nullptr) <= 0 || sd_bus_message_read(m, "s", &typeName) < 0 ||
        sd_bus_message_skip(m, "a{sv}") < 0 || sd_bus_message_read(m, "s", &name) < 0 ||
        sd_bus_message_skip(m, "ssssss") < 0 || sd_bus_message_read(m, "s", &layout) < 0 ||
        sd_bus_message_skip(m, "usss") < 0 || sd_bus_message_read(m, "s", &variant) < 0)
        return std::nullopt;
    e = {name, layout, variant};
    // The fields after these differ between IBus versions.
    while (sd_bus_message_at_end(m, 0) == 0)
        if (sd_bus_message_skip(m, nullptr) < 0) return std::nullopt;
    if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0) return std::nullopt;
    return e;
}

// A bus connection kept between lines. What the other side announces (signals) is read at the
// start of each line, from what has arrived meanwhile: no round trip before the first key.
class WatchedBus {
public:
    bool open() const { return m_bus != nullptr; }
    sd_bus* get() const { return m_bus.get(); }
    void reset() { m_bus.reset(); }
    // Without a connection, made again at most every two seconds (it costs round trips).
    bool dueToConnect() {
        const auto now = std::chrono::steady_clock::now();
        if (now < m_lookAgain) return false;
        m_lookAgain = now + std::chrono::seconds(2);
        return true;
    }
    void adopt(sd_bus* bus) { m_bus.reset(bus); }
    // Hands every message that has arrived to its handler; false (and the connection dropped)
    // when the other side went away.
    bool catchUp() {
        for (int r = 1; r > 0;) {
            r = sd_bus_process(m_bus.get(), nullptr);
            if (r < 0 || sd_bus_is_open(m_bus.get()) <= 0) return m_bus.reset(), false;
        }
        return true;
    }

private:
    Bus m_bus;
    std::chrono::steady_clock::time_point m_lookAgain{};
};

class IBusSwitch {
public:
    bool direct(const std::function<LayoutName()>& layout) {
        if (!connect() || !m_bus.catchUp()) return false;
        // The engine IBus announced last: a keyboard engine (most desktops with IBus, GNOME's
        // among them) or none needs nothing, and costs the line no call to IBus.
        if (m_engineName.empty() || m_engineName.rfind("xkb:", 0) == 0) return false;
        const auto engine = globalEngine();
        if (!engine || engine->name.rfind("xkb:", 0) == 0) return false;
        // The keyboard engine of the layout the keys are typed in, so nothing else changes.
        const LayoutName want = engine->layout != "default" && !engine->layout.empty()
                                    ? LayoutName{engine->layout, engine->variant}
                                    : (layout ? layout() : LayoutName{});
        const std::string keyboard = keyboardEngine(want);
        if (keyboard.empty() || !setGlobalEngine(keyboard)) return false;
        m_previous = engine->name;
        return true;
    }
    void restore() {
        if (!m_previous.empty() && m_bus.open()) setGlobalEngine(m_previous);
        m_previous.clear();
    }

private:
    // Connected, the engine is followed through IBus's announcements of each change, asked once.
    bool connect() {
        if (m_bus.open()) return true;
        if (!m_bus.dueToConnect()) return false;
        const std::string address = IBusAddress();
        sd_bus* bus = nullptr;
        if (address.empty() || sd_bus_new(&bus) < 0) return false;
        m_bus.adopt(bus);
        if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
            sd_bus_start(bus) < 0 ||
            sd_bus_match_signal(bus, nullptr, nullptr, kIBusObject, kIBus, "GlobalEngineChanged",
                                &IBusSwitch::engineChanged, this) < 0)
            return m_bus.reset(), false;
        const auto engine = globalEngine();
        m_engineName = engine ? engine->name : "";
        return m_bus.open();
    }
    static int engineChanged(sd_bus_message* m, void* self, sd_bus_error*) {
        const char* name = nullptr;
        if (sd_bus_message_read(m, "s", &name) > 0) static_cast<IBusSwitch*>(self)->m_engineName = name;
        return 0;
    }
    std::optional<Engine> globalEngine() {
        sd_bus_message* reply = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        std::optional<Engine> e;
        if (sd_bus_call_method(m_bus.get(), kIBus, kIBusObject, kIBus, "GetGlobalEngine", &error, &reply,
                               "") >= 0)
            e = ReadEngine(reply);
        // IBus went away; an answer of no engine yet keeps the connection.
        else if (!sd_bus_error_has_name(&error, SD_BUS_ERROR_FAILED))
            m_bus.reset();
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return e;
    }
    // Switched, and confirmed by asking which engine is in use now.
    bool setGlobalEngine(const std::string& name) {
        if (sd_bus_call_method(m_bus.get(), kIBus, kIBusObject, kIBus, "SetGlobalEngine", nullptr, nullptr,
                               "s", name.c_str()) < 0)
            return false;
        const auto now = m_bus.open() ? globalEngine() : std::nullopt;
        return now && now->name == name;
    }
    std::string keyboardEngine(const LayoutName& layout) {
        sd_bus_message* reply = nullptr;
        std::string found, fallback;
        if (sd_bus_call_method(m_bus.get(), kIBus, kIBusObject, kIBus, "ListEngines", nullptr, &reply, "") >=
                0 &&
            sd_bus_message_enter_container(reply, 'a', "v") > 0) {
            while (found.empty()) {
                const auto e = ReadEngine(reply);
                if (!e) break;
                if (e->name.rfind("xkb:", 0) != 0 || e->layout != layout.layout) continue;
                if (e->variant == layout.variant) found = e->name;
            }
        }
        sd_bus_message_unref(reply);
        return found;
    }

    WatchedBus m_bus;
    std::string m_engineName; // as IBus announced it; "" for none
    std::string m_previous;
};

// Fcitx5 keeps an on/off state per window: off is direct input.
class FcitxSwitch {
public:
    bool direct() {
        if (!running()) return false;
        int32_t state = 0;
        sd_bus_message* reply = nullptr;
        const int r = sd_bus_call_method(m_bus.get(), kFcitx, kController, kControllerInterface, "State",
                                         nullptr, &reply, "");
        if (r >= 0) sd_bus_message_read(reply, "i", &state);
        sd_bus_message_unref(reply);
        if (state != 2) return false; // not running, or already off
        m_wasOn = call("Deactivate") && stateIs(1);
        return m_wasOn;
    }
    void restore() {
        if (m_wasOn && m_bus.open()) call("Activate");
        m_wasOn = false;
    }
    bool seenRunning() const { return m_running; }

private:
    // Whether Fcitx5 has its name on the session bus, followed through the bus's announcements of
    // its owner changing: asked once, and without starting it (the bus would start Fcitx5 for a
    // call to its name).
    bool running() {
        if (!m_bus.open() && !connect()) return m_running = false;
        if (!m_bus.catchUp()) return m_running = false;
        return m_running;
    }
    bool connect() {
        if (!m_bus.dueToConnect()) return false;
        sd_bus* bus = nullptr;
        if (sd_bus_open_user(&bus) < 0) return false;
        m_bus.adopt(bus);
        if (sd_bus_add_match(
                bus, nullptr,
                "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.fcitx.Fcitx5'",
                &FcitxSwitch::ownerChanged, this) < 0)
            return m_bus.reset(), false;
        int has = 0;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", kFcitx) >= 0)
            sd_bus_message_read(reply, "b", &has);
        sd_bus_message_unref(reply);
        m_running = has;
        return true;
    }
    static int ownerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
        const char *name = nullptr, *before = nullptr, *now = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &before, &now) > 0)
            static_cast<FcitxSwitch*>(self)->m_running = now && *now;
        return 0;
    }

    static constexpr char kFcitx[] = "org.fcitx.Fcitx5";
    static constexpr char kController[] = "/controller";
    static constexpr char kControllerInterface[] = "org.fcitx.Fcitx.Controller1";
    bool call(const char* method) {
        return sd_bus_call_method(m_bus.get(), kFcitx, kController, kControllerInterface, method, nullptr,
                                  nullptr, "") >= 0;
    }
    bool stateIs(int32_t want) {
        int32_t state = -1;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(m_bus.get(), kFcitx, kController, kControllerInterface, "State", nullptr,
                               &reply, "") >= 0)
            sd_bus_message_read(reply, "i", &state);
        sd_bus_message_unref(reply);
        return state == want;
    }
    WatchedBus m_bus;
    bool m_wasOn = false, m_running = false;
};

class BothSwitches : public InputMethodSwitch {
public:
    bool direct(const std::function<LayoutName()>& layout) override {
        const bool ibus = m_ibus.direct(layout);
        const bool fcitx = m_fcitx.direct();
        return ibus || fcitx;
    }
    void restore() override {
        m_ibus.restore();
        m_fcitx.restore();
    }
    // Quirk: a GTK window with Fcitx5's module got the keys of a line out of order now and then
    // (measured: 3 runs in 14 at full speed, Fcitx5 switched to direct input for the line), some
    // of them overtaking others on their way through Fcitx5 and back; a millisecond between keys
    // made it exact (26 runs in 26).
    std::chrono::milliseconds keyGap() const override {
        return m_fcitx.seenRunning() ? std::chrono::milliseconds(1) : std::chrono::milliseconds(0);
    }

private:
    IBusSwitch m_ibus;
    FcitxSwitch m_fcitx;
};

} // namespace

std::unique_ptr<InputMethodSwitch> OpenInputMethodSwitch() {
    return std::make_unique<BothSwitches>();
}

bool DirectInputSink::send(const KeyStrokes& strokes) {
    if (!m_switched && m_methods) m_switched = m_methods->direct(m_layout);
    const auto gap = m_methods ? m_methods->keyGap() : std::chrono::milliseconds(0);
    bool ok = gap.count() > 0 || m_inner.send(strokes);
    for (size_t i = 0; gap.count() > 0 && ok && i < strokes.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(gap);
        ok = m_inner.send({strokes[i]});
    }
    m_due = std::chrono::steady_clock::now() + kGiveBackAfter;
    return ok;
}

int DirectInputSink::msUntilGiveBack() const {
    if (!m_switched) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_due - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

void DirectInputSink::giveBack(bool now) {
    if (!m_switched || (!now && msUntilGiveBack() > 0)) return;
    m_methods->restore();
    m_switched = false;
}

} // namespace kq
