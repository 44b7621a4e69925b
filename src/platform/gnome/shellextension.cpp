#include "platform/gnome/shellextension.h"

#include "engine/utf8.h"
#include "platform/gnome/keysymemitter.h"
#include "platform/portal/portalbus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace kq {
namespace {

constexpr char kName[] = "io.github.wrenfield.Keyquill.Shell";
constexpr char kPath[] = "/io/github/wrenfield/Keyquill/Shell";
constexpr char kInterface[] = "io.github.wrenfield.Keyquill.Shell1";
constexpr uint32_t kKeyUp = 0x80000000u;
constexpr uint64_t kCallUs = 10'000'000; // a line's keys: answered once the shell has taken them

// Quirk: mutter kills a GTK client whose keys come faster than it reads them (it sends its
// surrounding text back on every key), so keys go out at most 400 at once and then at 2,000 a
// second; longer lines are pasted whole, which is instant and safe.
constexpr KeyPacer::Limits kPace{128, 400, 2000};
constexpr size_t kLongestTypedLine = 1000;

// The shell's accelerator name of a key.
std::string acceleratorOf(Hotkey key) {
    if (key == Hotkey::Tab) return "Tab";
    if (key == Hotkey::CapsLock) return "Caps_Lock";
    return "F" + std::to_string(FunctionKeyIndex(key) + 1);
}

std::optional<Hotkey> hotkeyOf(std::string_view accelerator) {
    for (Hotkey key : AllHotkeys)
        if (acceleratorOf(key) == accelerator) return key;
    return std::nullopt;
}

bool installedOnDisk() {
    std::string dirs =
        std::getenv("XDG_DATA_DIRS") ? std::getenv("XDG_DATA_DIRS") : "/usr/local/share:/usr/share";
    const char* home = std::getenv("XDG_DATA_HOME");
    const char* user = std::getenv("HOME");
    dirs += ":" + (home && *home ? std::string(home) : std::string(user ? user : "") + "/.local/share");
    std::stringstream list(dirs);
    std::error_code ec;
    for (std::string dir; std::getline(list, dir, ':');)
        if (!dir.empty() &&
            std::filesystem::exists(dir + "/gnome-shell/extensions/" + ShellExtension::kUuid, ec))
            return true;
    return false;
}

// What the user can do when the extension is installed but does not answer.
std::string adviceFor(sd_bus* bus) {
    const std::string enable = std::string("\"gnome-extensions enable ") + ShellExtension::kUuid + "\"";
    sd_bus_message* reply = nullptr;
    double state = 0;
    std::string error;
    if (sd_bus_call_method(bus, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                           "GetExtensionInfo", nullptr, &reply, "s", ShellExtension::kUuid) < 0)
        return {}; // not GNOME
    portal::ForEachOption(reply, [&](const char* key, sd_bus_message* v) {
        if (std::strcmp(key, "state") == 0) return sd_bus_message_read(v, "v", "d", &state);
        if (std::strcmp(key, "error") == 0) return portal::ReadStringVariant(v, &error);
        return sd_bus_message_skip(v, "v");
    });
    sd_bus_message_unref(reply);
    if (state == 3 || state == 4)
        return "Keyquill's GNOME Shell extension could not run in this GNOME Shell" +
               (error.empty() ? std::string(".") : " (" + error + ").");
    if (state != 0)
        return "Keyquill's GNOME Shell extension is turned off. Turn it on with " + enable +
               " (or in the Extensions app), then start Keyquill again.";
    if (!installedOnDisk()) return {};
    return "GNOME Shell has not loaded Keyquill's extension yet, as after a first install. Log out and in "
           "again, turn it on with " +
           enable + " (or in the Extensions app), then start Keyquill again.";
}

} // namespace

struct ShellExtension::Bus {
    sd_bus* bus = nullptr;
    sd_bus_slot* signals = nullptr;
    sd_bus_slot* owner = nullptr;
    std::vector<HotkeyEvent> arrived;
    bool gone = false;

    ~Bus() {
        sd_bus_slot_unref(signals);
        sd_bus_slot_unref(owner);
        sd_bus_flush_close_unref(bus);
    }

    static int onKey(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* b = static_cast<Bus*>(data);
        const char* accelerator = nullptr;
        if (sd_bus_message_read(m, "s", &accelerator) < 0) return 0;
        if (const auto key = hotkeyOf(accelerator))
            b->arrived.push_back({*key, sd_bus_message_is_signal(m, kInterface, "Released") > 0});
        return 0;
    }

    // The shell restarted or the extension was turned off: its grabs are gone with it.
    static int onOwner(sd_bus_message* m, void* data, sd_bus_error*) {
        const char *name = nullptr, *from = nullptr, *to = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &from, &to) >= 0 && std::strcmp(name, kName) == 0 && !*to)
            static_cast<Bus*>(data)->gone = true;
        return 0;
    }
};

ShellExtension::ShellExtension(std::unique_ptr<Bus> bus) : m_bus(std::move(bus)) {}
ShellExtension::~ShellExtension() = default;

std::unique_ptr<ShellExtension> ShellExtension::open(std::string* error, std::string* advice) {
    auto b = std::make_unique<Bus>();
    if (sd_bus_open_user(&b->bus) < 0) return *error = "there is no session bus", nullptr;
    sd_bus_message* reply = nullptr;
    uint32_t version = 0;
    const int r = sd_bus_call_method(b->bus, kName, kPath, kInterface, "Claim", nullptr, &reply, "");
    if (r >= 0) sd_bus_message_read(reply, "u", &version);
    sd_bus_message_unref(reply);
    if (r < 0 || version < 1) {
        *advice = adviceFor(b->bus);
        return *error = "Keyquill's GNOME Shell extension is not running", nullptr;
    }
    sd_bus_match_signal(b->bus, &b->signals, kName, kPath, kInterface, nullptr, Bus::onKey, b.get());
    sd_bus_match_signal(b->bus, &b->owner, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                        "org.freedesktop.DBus", "NameOwnerChanged", Bus::onOwner, b.get());
    return std::unique_ptr<ShellExtension>(new ShellExtension(std::move(b)));
}

int ShellExtension::fd() const {
    return sd_bus_get_fd(m_bus->bus);
}

void ShellExtension::bind(const std::vector<Hotkey>& keys) {
    std::vector<std::string> names;
    for (Hotkey key : keys)
        names.push_back(acceleratorOf(key));
    sd_bus_message *m = nullptr, *reply = nullptr;
    int r = sd_bus_message_new_method_call(m_bus->bus, &m, kName, kPath, kInterface, "Bind");
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
    for (const std::string& name : names)
        if (r >= 0) r = sd_bus_message_append(m, "s", name.c_str());
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_call(m_bus->bus, m, kCallUs, nullptr, &reply);
    m_bound.clear();
    char** bound = nullptr;
    if (r >= 0 && sd_bus_message_read_strv(reply, &bound) >= 0)
        for (char** s = bound; s && *s; ++s) {
            if (const auto key = hotkeyOf(*s)) m_bound.push_back(*key);
            free(*s);
        }
    free(bound);
    std::sort(m_bound.begin(), m_bound.end());
    sd_bus_message_unref(m);
    sd_bus_message_unref(reply);
}

bool ShellExtension::read(std::vector<HotkeyEvent>* events) {
    int r;
    while ((r = sd_bus_process(m_bus->bus, nullptr)) > 0) {
    }
    events->insert(events->end(), m_bus->arrived.begin(), m_bus->arrived.end());
    m_bus->arrived.clear();
    return r >= 0 && !m_bus->gone;
}

namespace {

struct ExtensionKeys : KeysymEmitter {
    ExtensionKeys(ShellExtension::Bus& b, std::unique_ptr<CompositorKeymap> layout)
        : KeysymEmitter(std::move(layout)), bus(b) {}

    bool key(uint32_t keysym, bool down) override {
        events.push_back(keysym | (down ? 0 : kKeyUp));
        return true;
    }
    bool roundTrip() override {
        sd_bus_message *m = nullptr, *reply = nullptr;
        int r = sd_bus_message_new_method_call(bus.bus, &m, kName, kPath, kInterface, "Keys");
        if (r >= 0) r = sd_bus_message_append_array(m, 'u', events.data(), events.size() * sizeof(uint32_t));
        if (r >= 0) r = sd_bus_call(bus.bus, m, kCallUs, nullptr, &reply);
        events.clear();
        sd_bus_message_unref(m);
        sd_bus_message_unref(reply);
        return r >= 0;
    }
    // A long line is pasted whole; one within the limit has its keys typed.
    bool prepare(const KeyStrokes& strokes, size_t from, size_t* to) override {
        pasteAll = strokes.size() > kLongestTypedLine;
        return KeysymEmitter::prepare(strokes, from, to);
    }
    std::optional<EmittedKey> resolve(const KeyStroke& s) override {
        if (pasteAll && !s.named && s.modifiers == ModNone) return std::nullopt;
        return KeysymEmitter::resolve(s);
    }
    // The extension presses the paste keys itself, by key codes: they are found in every layout.
    std::optional<EmittedKey> pasteKey() override { return EmittedKey{XKB_KEY_v}; }
    bool paste(const std::u32string& text, const std::function<bool()>&) override {
        sd_bus_message* reply = nullptr;
        int taken = 0;
        const int r = sd_bus_call_method(bus.bus, kName, kPath, kInterface, "Paste", nullptr, &reply, "s",
                                         EncodeUtf8(text).c_str());
        if (r >= 0) sd_bus_message_read(reply, "b", &taken);
        sd_bus_message_unref(reply);
        return taken;
    }
    bool finish() override {
        pasteAll = false;
        return true;
    }

    ShellExtension::Bus& bus;
    std::vector<uint32_t> events;
    bool pasteAll = false;
};

class ExtensionTyper : public Typer {
public:
    ExtensionTyper(ShellExtension::Bus& bus, std::unique_ptr<CompositorKeymap> layout)
        : m_bus(bus), m_keys(bus, std::move(layout)), m_line(m_keys, kPace) {}

    bool send(const KeyStrokes& strokes) override { return m_line.type(strokes); }
    bool alive() const override { return !m_bus.gone; }
    std::optional<bool> capsLocked() override {
        sd_bus_message* reply = nullptr;
        int on = 0;
        const int r =
            sd_bus_call_method(m_bus.bus, kName, kPath, kInterface, "CapsLock", nullptr, &reply, "");
        if (r >= 0) sd_bus_message_read(reply, "b", &on);
        sd_bus_message_unref(reply);
        return r >= 0 ? std::optional<bool>(on) : std::nullopt;
    }
    void tapCapsLock() override {
        sd_bus_call_method(m_bus.bus, kName, kPath, kInterface, "TapCapsLock", nullptr, nullptr, "");
    }

private:
    ShellExtension::Bus& m_bus;
    ExtensionKeys m_keys;
    LineTyper m_line;
};

} // namespace

std::unique_ptr<Typer> ShellExtension::typer(std::unique_ptr<CompositorKeymap> layout) {
    return std::make_unique<ExtensionTyper>(*m_bus, std::move(layout));
}

} // namespace kq
