#include "platform/gnome/remotedesktoptyper.h"

#include "engine/utf8.h"
#include "platform/gnome/keysymemitter.h"
#include "platform/portal/portalbus.h"
#include "platform/wayland/compositorkeymap.h"

#include <systemd/sd-bus.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace kq {
namespace {

constexpr char kRemote[] = "org.freedesktop.portal.RemoteDesktop";
constexpr char kClipboard[] = "org.freedesktop.portal.Clipboard";
constexpr char kText[] = "text/plain;charset=utf-8";
constexpr uint32_t kKeyboard = 1, kPersistUntilRevoked = 2;
constexpr int kAskMs = 10000, kDialogMs = 120000, kTakeMs = 3000;

std::string readAll(int fd, int ms) {
    std::string data;
    char buf[65536];
    for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, ms) == 1;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

void writeAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

} // namespace

struct RemoteDesktopTyper::Impl : KeysymEmitter {
    using KeysymEmitter::KeysymEmitter;
    sd_bus* bus = nullptr;
    std::string session;
    bool clipboard = false;
    sd_bus_slot* clipboardSlot = nullptr;
    std::vector<std::string> othersTypes; // what another application's clipboard offers
    std::string offeredType, offered;     // the clipboard we own (when owning): served on each transfer
    bool owning = false;
    unsigned transfers = 0; // reads of our clipboard answered, the desktop's copies aside
    // Quirk: mutter keeps a copy of any plain text put on the clipboard (what stays when its
    // owner goes), read at once: each such read comes before any application's, and is not one.
    const bool desktopKeepsCopy = [] {
        const char* d = std::getenv("XDG_CURRENT_DESKTOP");
        return d && std::strstr(d, "GNOME");
    }();
    unsigned copiesOwed = 0;
    LineTyper line{*this};
    int tokens = 0;

    ~Impl() override {
        sd_bus_slot_unref(clipboardSlot);
        if (!session.empty())
            sd_bus_call_method(bus, portal::kService, session.c_str(), "org.freedesktop.portal.Session",
                               "Close", nullptr, nullptr, "");
    }

    std::string token() { return "keyquill_rd" + std::to_string(++tokens); }

    // Options with a fresh handle_token; `more` appends further entries inside the a{sv}.
    int options(sd_bus_message* m, const std::string& handle,
                const std::function<int(sd_bus_message*)>& more = {}) {
        int r = sd_bus_message_open_container(m, 'a', "{sv}");
        if (r >= 0 && !handle.empty()) r = portal::AppendStringOption(m, "handle_token", handle);
        if (r >= 0 && more) r = more(m);
        return r >= 0 ? sd_bus_message_close_container(m) : r;
    }

    bool key(uint32_t keysym, bool down) override {
        sd_bus_message* m = nullptr;
        int r = sd_bus_message_new_method_call(bus, &m, portal::kService, portal::kObject, kRemote,
                                               "NotifyKeyboardKeysym");
        if (r >= 0) r = sd_bus_message_append(m, "o", session.c_str());
        if (r >= 0) r = options(m, "");
        if (r >= 0) r = sd_bus_message_append(m, "iu", static_cast<int32_t>(keysym), down ? 1u : 0u);
        // Quirk: the portal handles each call in a thread of its own, so keys sent without waiting
        // reach mutter out of order (a shifted letter before its Shift); each waits for its answer.
        if (r >= 0) r = sd_bus_call(bus, m, 0, nullptr, nullptr);
        sd_bus_message_unref(m);
        return r >= 0;
    }

    // A call answered in order after the keys before it: the portal has passed them on.
    bool roundTrip() override {
        uint32_t version = 0;
        return sd_bus_get_property_trivial(bus, portal::kService, portal::kObject, kRemote, "version",
                                           nullptr, 'u', &version) >= 0;
    }

    // Quirk: this keysym too is dropped where the layout in use has no V (Russian on its own).
    std::optional<EmittedKey> pasteKey() override { return EmittedKey{XKB_KEY_v}; }

    static int onClipboard(sd_bus_message* m, void* data, sd_bus_error*);
    bool setSelection(const std::string& type, std::string data);
    // Handles the portal's signals until `done` or for kTakeMs at most.
    bool waitUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTakeMs);
        while (!done() && std::chrono::steady_clock::now() < end)
            if (sd_bus_process(bus, nullptr) == 0) sd_bus_wait(bus, 20000);
        return done();
    }
    std::pair<std::string, std::string> savedClipboard();
    bool paste(const std::u32string& text, const std::function<bool()>& pressPaste) override;
    bool start(const std::string& tokenFile, std::string* error);
};

int RemoteDesktopTyper::Impl::onClipboard(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* d = static_cast<Impl*>(data);
    const char* sessionPath = nullptr;
    if (sd_bus_message_read(m, "o", &sessionPath) < 0 || d->session != sessionPath) return 0;
    if (sd_bus_message_is_signal(m, kClipboard, "SelectionOwnerChanged")) {
        std::vector<std::string> types;
        bool ours = false;
        portal::ForEachOption(m, [&](const char* key, sd_bus_message* v) {
            if (std::strcmp(key, "session_is_owner") == 0) {
                int b = 0;
                const int r = sd_bus_message_read(v, "v", "b", &b);
                ours = b;
                return r;
            }
            if (std::strcmp(key, "mime_types") != 0) return sd_bus_message_skip(v, "v");
            // Quirk: GNOME's portal (48) sends the list inside a struct, "(as)", not as "as".
            const char* inside = nullptr;
            int r = sd_bus_message_peek_type(v, nullptr, &inside);
            const bool wrapped = r >= 0 && inside && std::strcmp(inside, "(as)") == 0;
            if (r >= 0) r = sd_bus_message_enter_container(v, 'v', wrapped ? "(as)" : "as");
            if (r >= 0 && wrapped) r = sd_bus_message_enter_container(v, 'r', "as");
            char** strv = nullptr;
            if (r >= 0) r = sd_bus_message_read_strv(v, &strv);
            for (char** t = strv; t && *t; ++t) {
                types.emplace_back(*t);
                free(*t);
            }
            free(strv);
            if (r >= 0 && wrapped) r = sd_bus_message_exit_container(v);
            return r >= 0 ? sd_bus_message_exit_container(v) : r;
        });
        d->owning = ours;
        if (!ours) d->othersTypes = types;
    } else if (sd_bus_message_is_signal(m, kClipboard, "SelectionTransfer")) {
        const char* type = nullptr;
        uint32_t serial = 0;
        if (sd_bus_message_read(m, "su", &type, &serial) < 0) return 0;
        sd_bus_message* reply = nullptr;
        int fd = -1;
        bool ok = sd_bus_call_method(d->bus, portal::kService, portal::kObject, kClipboard, "SelectionWrite",
                                     nullptr, &reply, "ou", d->session.c_str(), serial) >= 0 &&
                  sd_bus_message_read(reply, "h", &fd) >= 0;
        if (ok) writeAll(fd, d->offered);
        sd_bus_message_unref(reply); // closes the descriptor: the reader sees the end
        sd_bus_call_method_async(d->bus, nullptr, portal::kService, portal::kObject, kClipboard,
                                 "SelectionWriteDone", nullptr, nullptr, "oub", d->session.c_str(), serial,
                                 ok);
        if (d->copiesOwed > 0)
            --d->copiesOwed;
        else if (ok) // not one that the clipboard's next owner cancelled
            ++d->transfers;
    }
    return 0;
}

bool RemoteDesktopTyper::Impl::setSelection(const std::string& type, std::string data) {
    offeredType = type;
    offered = std::move(data);
    owning = true;
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, portal::kService, portal::kObject, kClipboard,
                                           "SetSelection");
    if (r >= 0) r = sd_bus_message_append(m, "o", session.c_str());
    if (r >= 0)
        r = options(m, "", [&](sd_bus_message* o) {
            return sd_bus_message_append(o, "{sv}", "mime_types", "as", 1, type.c_str());
        });
    if (r >= 0) r = sd_bus_call(bus, m, 0, nullptr, nullptr);
    sd_bus_message_unref(m);
    if (r < 0 || !desktopKeepsCopy || (type != "text/plain" && type != kText)) return r >= 0;
    // Quirk: the desktop's copy is read before the clipboard changes again: GNOME's portal (48)
    // ends when told to write a read that a later owner cancelled.
    ++copiesOwed;
    waitUntil([&] { return copiesOwed == 0; });
    return true;
}

// The clipboard as one type (its text when it has text); empty when there is none or it cannot be
// read.
std::pair<std::string, std::string> RemoteDesktopTyper::Impl::savedClipboard() {
    if (owning) return {offeredType, offered}; // what an earlier paste put back
    std::string type;
    for (const char* preferred : {kText, "UTF8_STRING", "text/plain"})
        for (const std::string& t : othersTypes)
            if (type.empty() && t == preferred) type = t;
    // Quirk: GNOME's portal (48) ends when asked to read a clipboard that nobody holds, taking
    // the session with it; it tells of the one there is as the session starts.
    if (othersTypes.empty()) return {};
    if (type.empty()) type = othersTypes.front();
    sd_bus_message* reply = nullptr;
    int fd = -1;
    std::string data;
    const bool read = sd_bus_call_method(bus, portal::kService, portal::kObject, kClipboard, "SelectionRead",
                                         nullptr, &reply, "os", session.c_str(), type.c_str()) >= 0 &&
                      sd_bus_message_read(reply, "h", &fd) >= 0;
    if (read) data = readAll(fd, 1000);
    sd_bus_message_unref(reply);
    if (!read) return {};
    return {type, data};
}

// Characters the layout lacks: on the clipboard, Ctrl+V, and once the application has taken
// them (the portal asks us for the data), the clipboard it had is put back.
bool RemoteDesktopTyper::Impl::paste(const std::u32string& text, const std::function<bool()>& pressPaste) {
    if (!clipboard) {
        std::fprintf(stderr, "keyquill: the desktop gave no clipboard for characters the layout lacks\n");
        return false;
    }
    // What the portal said meanwhile (the clipboard's owner; a read of what it held before, such
    // as the desktop's copy) is dealt with first.
    while (sd_bus_process(bus, nullptr) > 0) {
    }
    const auto saved = savedClipboard();
    copiesOwed = 0; // a copy the desktop never read (the wait gave up) is not waited for again
    const unsigned before = transfers;
    if (!setSelection(kText, EncodeUtf8(text)) || !line.fence() || !pressPaste()) return false;
    const bool taken = waitUntil([&] { return transfers != before; });
    if (!taken) std::fprintf(stderr, "keyquill: no application took the pasted text\n");
    if (!saved.first.empty()) setSelection(saved.first, saved.second);
    return taken;
}

bool RemoteDesktopTyper::Impl::start(const std::string& tokenFile, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::string restore;
    std::getline(std::ifstream(tokenFile), restore);
    std::string t = token();
    uint32_t code = portal::CallAndWait(
        bus, kRemote, "CreateSession", t,
        [&](sd_bus_message* m) {
            return options(m, t, [](sd_bus_message* o) {
                return portal::AppendStringOption(o, "session_handle_token", "keyquill_rd");
            });
        },
        kAskMs,
        [&](sd_bus_message* m) {
            portal::ForEachOption(m, [&](const char* key, sd_bus_message* v) {
                return std::strcmp(key, "session_handle") == 0 ? portal::ReadStringVariant(v, &session)
                                                               : sd_bus_message_skip(v, "v");
            });
        });
    if (code != 0 || session.empty())
        return fail("the desktop portal has no remote desktop session to type with");
    t = token();
    code = portal::CallAndWait(
        bus, kRemote, "SelectDevices", t,
        [&](sd_bus_message* m) {
            int r = sd_bus_message_append(m, "o", session.c_str());
            return r < 0 ? r : options(m, t, [&](sd_bus_message* o) {
                int q = portal::AppendUintOption(o, "types", kKeyboard);
                if (q >= 0) q = portal::AppendUintOption(o, "persist_mode", kPersistUntilRevoked);
                if (q >= 0 && !restore.empty()) q = portal::AppendStringOption(o, "restore_token", restore);
                return q;
            });
        },
        kAskMs);
    if (code != 0) return fail("the desktop portal would not give a keyboard");
    sd_bus_match_signal(bus, &clipboardSlot, nullptr, portal::kObject, kClipboard, nullptr, onClipboard,
                        this);
    const bool askedClipboard =
        sd_bus_call_method(bus, portal::kService, portal::kObject, kClipboard, "RequestClipboard", nullptr,
                           nullptr, "oa{sv}", session.c_str(), 0) >= 0;
    t = token();
    std::string issued;
    code = portal::CallAndWait(
        bus, kRemote, "Start", t,
        [&](sd_bus_message* m) {
            int r = sd_bus_message_append(m, "os", session.c_str(), "");
            return r < 0 ? r : options(m, t);
        },
        kDialogMs,
        [&](sd_bus_message* m) {
            portal::ForEachOption(m, [&](const char* key, sd_bus_message* v) {
                if (std::strcmp(key, "restore_token") == 0) return portal::ReadStringVariant(v, &issued);
                if (std::strcmp(key, "clipboard_enabled") != 0) return sd_bus_message_skip(v, "v");
                int b = 0;
                const int r = sd_bus_message_read(v, "v", "b", &b);
                clipboard = askedClipboard && b;
                return r;
            });
        });
    if (code == 1) return fail("typing was not allowed in the desktop's dialog");
    if (code != 0) return fail("the desktop portal did not start typing");
    if (!issued.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(tokenFile).parent_path(), ec);
        std::ofstream(tokenFile, std::ios::trunc) << issued << "\n";
    }
    return true;
}

std::unique_ptr<RemoteDesktopTyper> RemoteDesktopTyper::open(sd_bus* bus, const std::string& tokenFile,
                                                             std::unique_ptr<CompositorKeymap> layout,
                                                             std::string* error) {
    auto d = std::make_unique<Impl>(std::move(layout));
    d->bus = bus;
    if (!d->start(tokenFile, error)) return nullptr;
    return std::unique_ptr<RemoteDesktopTyper>(new RemoteDesktopTyper(std::move(d)));
}

bool RemoteDesktopTyper::offered(sd_bus* bus) {
    uint32_t version = 0;
    return sd_bus_get_property_trivial(bus, portal::kService, portal::kObject, kRemote, "version", nullptr,
                                       'u', &version) >= 0;
}

RemoteDesktopTyper::RemoteDesktopTyper(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
RemoteDesktopTyper::~RemoteDesktopTyper() = default;

bool RemoteDesktopTyper::send(const KeyStrokes& strokes) {
    return m_impl->line.type(strokes);
}

} // namespace kq
