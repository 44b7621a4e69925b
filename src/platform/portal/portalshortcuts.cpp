#include "platform/portal/portalshortcuts.h"

#include "platform/portal/portalbus.h"
#include "platform/portal/shortcutplan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace kq {
namespace {

constexpr char kShortcuts[] = "org.freedesktop.portal.GlobalShortcuts";

int appendShortcuts(sd_bus_message* m, const std::vector<Hotkey>& keys) {
    int r = sd_bus_message_open_container(m, 'a', "(sa{sv})");
    for (Hotkey key : keys) {
        const PortalShortcut s = PortalShortcutFor(key);
        if (r >= 0) r = sd_bus_message_open_container(m, 'r', "sa{sv}");
        if (r >= 0) r = sd_bus_message_append(m, "s", s.id.c_str());
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
        if (r >= 0) r = portal::AppendStringOption(m, "description", s.description);
        if (r >= 0) r = portal::AppendStringOption(m, "preferred_trigger", s.trigger);
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
    }
    return r >= 0 ? sd_bus_message_close_container(m) : r;
}

// Reads a Response signal: its code, the session handle and whether the results list shortcuts.
struct Response {
    uint32_t code = 2;
    std::string session;
    bool listsShortcuts = false;
};

int readResponse(sd_bus_message* m, Response* out) {
    const int r = sd_bus_message_read(m, "u", &out->code);
    return r < 0 ? r : portal::ForEachOption(m, [&](const char* key, sd_bus_message* v) {
        if (std::strcmp(key, "session_handle") == 0) return portal::ReadStringVariant(v, &out->session);
        if (std::strcmp(key, "shortcuts") != 0) return sd_bus_message_skip(v, "v");
        int q = sd_bus_message_enter_container(v, 'v', "a(sa{sv})");
        if (q > 0) q = sd_bus_message_enter_container(v, 'a', "(sa{sv})");
        while (q > 0 && (q = sd_bus_message_skip(v, "(sa{sv})")) > 0)
            out->listsShortcuts = true;
        if (q >= 0) q = sd_bus_message_exit_container(v);
        return q >= 0 ? sd_bus_message_exit_container(v) : q;
    });
}

} // namespace

struct PortalShortcuts::Impl {
    sd_bus* bus = nullptr;
    std::string session; // the live session's object path; empty when none
    std::vector<Hotkey> sessionKeys;
    std::vector<Hotkey> wanted;
    std::vector<Hotkey> refused; // not asked again until the wanted set changes
    enum class Step { None, Create, Bind } step = Step::None;
    std::vector<Hotkey> stepKeys;
    sd_bus_slot* responseSlot = nullptr;
    std::vector<sd_bus_slot*> retired; // released outside their own callbacks
    int tokens = 0;
    std::set<Hotkey> held;
    std::vector<HotkeyEvent> arrived; // also while another conversation on the bus waits for its answer
    std::string notice;
    bool lost = false;

    ~Impl() {
        closeSession();
        retire();
        for (sd_bus_slot* s : retired)
            sd_bus_slot_unref(s);
        if (bus) sd_bus_flush_close_unref(bus);
    }

    void retire() {
        if (responseSlot) retired.push_back(std::exchange(responseSlot, nullptr));
    }

    void closeSession() {
        if (session.empty()) return;
        sd_bus_call_method_async(bus, nullptr, portal::kService, session.c_str(),
                                 "org.freedesktop.portal.Session", "Close", nullptr, nullptr, "");
        sd_bus_flush(bus);
        session.clear();
        sessionKeys.clear();
        held.clear();
    }

    void reconcile() {
        if (step != Step::None || lost) return;
        if (wanted == (session.empty() ? std::vector<Hotkey>{} : sessionKeys)) return;
        closeSession();
        if (wanted.empty() || wanted == refused) return;
        refused.clear();
        ask(Step::Create, wanted);
    }

    // Starts CreateSession or BindShortcuts; the answer arrives as the request's Response signal.
    void ask(Step what, const std::vector<Hotkey>& keys) {
        const std::string token = "keyquill" + std::to_string(++tokens);
        const std::string path = portal::RequestPath(bus, token);
        sd_bus_message* m = nullptr;
        // The match goes out before the call, and the bus keeps their order.
        int r = path.empty() ? -ENOTCONN
                             : sd_bus_match_signal_async(bus, &responseSlot, nullptr, path.c_str(),
                                                         "org.freedesktop.portal.Request", "Response",
                                                         &Impl::onResponse, nullptr, this);
        if (r >= 0)
            r = sd_bus_message_new_method_call(bus, &m, portal::kService, portal::kObject, kShortcuts,
                                               what == Step::Create ? "CreateSession" : "BindShortcuts");
        if (r >= 0 && what == Step::Bind) r = sd_bus_message_append(m, "o", session.c_str());
        if (r >= 0 && what == Step::Bind) r = appendShortcuts(m, keys);
        if (r >= 0 && what == Step::Bind) r = sd_bus_message_append(m, "s", ""); // no parent window
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
        if (r >= 0) r = portal::AppendStringOption(m, "handle_token", token);
        if (r >= 0 && what == Step::Create) {
            // Quirk: Plasma 5.27 names the shortcuts' owner after this token and keeps its keys
            // assigned after the session ends; under a new name for each session, the keys would
            // be held by the last one and not given again.
            r = portal::AppendStringOption(m, "session_handle_token", "keyquill");
            // Quirk: Plasma 5.27 binds only what CreateSession's undocumented "shortcuts" option
            // lists (its BindShortcuts answers with nothing bound); later portals drop the option.
            if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
            if (r >= 0) r = sd_bus_message_append(m, "s", "shortcuts");
            if (r >= 0) r = sd_bus_message_open_container(m, 'v', "a(sa{sv})");
            if (r >= 0) r = appendShortcuts(m, keys);
            if (r >= 0) r = sd_bus_message_close_container(m);
            if (r >= 0) r = sd_bus_message_close_container(m);
        }
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_call_async(bus, nullptr, m, &Impl::onReply, this, 0);
        sd_bus_message_unref(m);
        if (r >= 0) r = sd_bus_flush(bus);
        step = what;
        stepKeys = keys;
        if (r < 0) fail("the portal could not be asked (" + std::string(std::strerror(-r)) + ")");
    }

    void fail(const std::string& why) {
        retire();
        step = Step::None;
        refused = stepKeys;
        closeSession();
        notice = "The desktop did not give Keyquill its hotkeys: " + why +
                 ". The keys reach the applications as usual until the hotkeys change.";
    }

    static int onReply(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* d = static_cast<Impl*>(data);
        if (const sd_bus_error* e = sd_bus_message_get_error(m); e && d->step != Step::None)
            d->fail(e->message ? e->message : "the portal answered with an error");
        return 0;
    }

    static int onResponse(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* d = static_cast<Impl*>(data);
        Response resp;
        const bool readable = readResponse(m, &resp) >= 0;
        d->retire();
        if (d->step == Step::None) return 0;
        // Quirk: GNOME 48 answers BindShortcuts with 2 both when the user clicked Add and when
        // they cancelled; only the shortcuts listed in the results tell the two apart.
        const bool granted =
            resp.code == 0 || (resp.code == 2 && resp.listsShortcuts && d->step == Step::Bind);
        if (!readable || !granted) {
            d->fail(resp.code == 1 ? "the request was declined" : "the portal refused the request");
        } else if (d->step == Step::Create) {
            d->session = resp.session;
            d->step = Step::None;
            if (resp.listsShortcuts)
                d->sessionKeys = d->stepKeys;
            else // the keys wanted by now: a session takes one BindShortcuts on GNOME
                d->ask(Step::Bind, d->wanted.empty() ? d->stepKeys : d->wanted);
        } else {
            d->sessionKeys = d->stepKeys;
            d->step = Step::None;
        }
        d->reconcile();
        return 0;
    }

    // The desktop ended the session (the user took the shortcuts back in its settings): the keys
    // pass again, and are not asked for until the hotkeys change.
    static int onClosed(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* d = static_cast<Impl*>(data);
        const char* path = sd_bus_message_get_path(m);
        if (!path || d->session.empty() || d->session != path) return 0;
        d->session.clear();
        d->sessionKeys.clear();
        d->held.clear();
        d->refused = d->wanted;
        d->notice = "The desktop has ended Keyquill's hotkeys. They come back when the hotkeys change "
                    "(a mode switch, \"Bind on:\" or \"Enabled\").";
        return 0;
    }

    // Activated repeats while a key is held (about 25 a second on KWin): one press until the
    // Deactivated that ends it. Signals of a session already closed are old news.
    static int onSignal(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* d = static_cast<Impl*>(data);
        const char* member = sd_bus_message_get_member(m);
        const char* sessionPath = nullptr;
        const char* id = nullptr;
        if (!member || sd_bus_message_read(m, "os", &sessionPath, &id) < 0) return 0;
        const std::optional<Hotkey> key = HotkeyFromId(id);
        // Sessions reuse one path, so a late signal of the last one is told apart by its key.
        if (!key || d->session != sessionPath ||
            !std::binary_search(d->sessionKeys.begin(), d->sessionKeys.end(), *key))
            return 0;
        const bool release = std::strcmp(member, "Deactivated") == 0;
        if (!release && std::strcmp(member, "Activated") != 0) return 0;
        if (release ? d->held.erase(*key) == 0 : !d->held.insert(*key).second) return 0;
        d->arrived.push_back({*key, release});
        return 0;
    }
};

std::unique_ptr<PortalShortcuts> PortalShortcuts::open(const std::string& appId, std::string* error) {
    auto d = std::make_unique<Impl>();
    auto failWith = [&](const char* why) {
        if (error) *error = why;
        return nullptr;
    };
    if (sd_bus_open_user(&d->bus) < 0) return failWith("there is no D-Bus session bus");
    // Quirk: a program outside a sandbox names its desktop file only by registering before any
    // other portal call (portal 1.19.4 and later); older portals lack the call and guess.
    sd_bus_call_method(d->bus, portal::kService, portal::kObject, "org.freedesktop.host.portal.Registry",
                       "Register", nullptr, nullptr, "sa{sv}", appId.c_str(), 0);
    uint32_t version = 0;
    if (sd_bus_get_property_trivial(d->bus, portal::kService, portal::kObject, kShortcuts, "version", nullptr,
                                    'u', &version) < 0)
        return failWith("the desktop portal offers no global shortcuts");
    if (sd_bus_match_signal(d->bus, nullptr, nullptr, portal::kObject, kShortcuts, nullptr, &Impl::onSignal,
                            d.get()) < 0 ||
        sd_bus_match_signal(d->bus, nullptr, nullptr, nullptr, "org.freedesktop.portal.Session", "Closed",
                            &Impl::onClosed, d.get()) < 0)
        return failWith("the desktop portal's shortcut signals cannot be received");
    return std::unique_ptr<PortalShortcuts>(new PortalShortcuts(std::move(d)));
}

PortalShortcuts::PortalShortcuts(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
PortalShortcuts::~PortalShortcuts() = default;

int PortalShortcuts::fd() const {
    return sd_bus_get_fd(m_impl->bus);
}

void PortalShortcuts::bind(const std::vector<Hotkey>& keys) {
    m_impl->wanted = PortalKeysToBind(keys);
    m_impl->reconcile();
}

sd_bus* PortalShortcuts::bus() const {
    return m_impl->bus;
}

std::vector<Hotkey> PortalShortcuts::bound() const {
    return m_impl->sessionKeys;
}

bool PortalShortcuts::read(std::vector<HotkeyEvent>* keys) {
    Impl& d = *m_impl;
    int r = 0;
    while (!d.lost && (r = sd_bus_process(d.bus, nullptr)) > 0) {
    }
    if (r < 0) d.lost = true;
    keys->insert(keys->end(), d.arrived.begin(), d.arrived.end());
    d.arrived.clear();
    for (sd_bus_slot* s : d.retired)
        sd_bus_slot_unref(s);
    d.retired.clear();
    return !d.lost;
}

std::string PortalShortcuts::takeNotice() {
    return std::exchange(m_impl->notice, std::string());
}

} // namespace kq
