// The GlobalShortcuts client against a stand-in portal (python-dbusmock, mock_portal.py) on a
// private session bus, once for each desktop whose answers differ: GNOME, Plasma 6, Plasma 5.27.
#include "engine/hotkey.h"
#include "platform/gnome/remotedesktoptyper.h"
#include "platform/portal/portalshortcuts.h"
#include "platform/portal/shortcutplan.h"
#include "platform/wayland/compositorkeymap.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kq {
namespace {

using Ids = std::vector<std::string>;
using Keys = std::vector<std::pair<Hotkey, bool>>; // (key, release)

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kObject[] = "/org/freedesktop/portal/desktop";
constexpr char kControl[] = "org.keyquill.MockPortal";
constexpr char kAppId[] = "keyquill";

// Without the standard service directories: the machine's own xdg-desktop-portal must not be
// activated on the test bus.
constexpr char kBusConfig[] = R"(<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

pid_t Spawn(const std::vector<std::string>& argv, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t* pid) {
    if (*pid <= 0) return;
    kill(*pid, SIGTERM);
    waitpid(*pid, nullptr, 0);
    *pid = -1;
}

std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    while (line.empty() || line.back() != '\n') {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0 || read(fd, &c, 1) != 1) return {};
        line += c;
    }
    line.pop_back();
    return line;
}

struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// A private session bus, and on it (when started) the mock portal playing one desktop.
class MockPortal {
public:
    MockPortal() {
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) m_oldAddress = old;
    }
    ~MockPortal() {
        if (m_bus) sd_bus_flush_close_unref(m_bus);
        stopPortal();
        stopBus();
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
        if (m_oldAddress.empty())
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            setenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress.c_str(), 1);
    }

    // An error, or "" once the bus runs and is this process's session bus.
    std::string startBus() {
        char dir[] = "/tmp/kq-portal-XXXXXX";
        if (!mkdtemp(dir)) return "no temporary directory";
        m_dir = dir;
        const std::string config = m_dir + "/bus.conf";
        std::ofstream(config) << kBusConfig;
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) return "no pipe";
        m_daemon =
            Spawn({"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"}, pipeFds[1]);
        close(pipeFds[1]);
        const std::string address = ReadLine(pipeFds[0]);
        close(pipeFds[0]);
        if (m_daemon < 0 || address.empty()) return "dbus-daemon did not start";
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        return sd_bus_open_user(&m_bus) < 0 ? "the test bus cannot be reached" : "";
    }

    std::string startPortal(const std::string& desktop) {
        const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC); // the mock logs every call
        m_mock = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--session", "--template", KQ_MOCK_PORTAL, "-p",
                        "{\"desktop\": \"" + desktop + "\"}"},
                       devNull);
        close(devNull);
        for (int i = 0; i < 400 && m_mock > 0; ++i) {
            if (portalOwned()) return "";
            if (waitpid(m_mock, nullptr, WNOHANG) == m_mock) m_mock = -1;
            usleep(50000);
        }
        return "the mock portal did not start (python3-dbusmock missing?)";
    }

    void stopPortal() { Stop(&m_mock); }
    void stopBus() { Stop(&m_daemon); }

    bool press(const char* id) { return boolOf(call("Press", "s", id)); }
    bool pressClosed(const char* id) { return boolOf(call("PressClosed", "s", id)); }
    bool release(const char* id) { return boolOf(call("Release", "s", id)); }
    void repeat(const char* id, uint32_t n) { call("Repeat", "su", id, n); }
    uint32_t dialogs() { return uintOf(call("Dialogs", "")); }
    uint32_t sessions() { return uintOf(call("Sessions", "")); }
    void revokeShortcuts() { call("RevokeShortcuts", ""); }

    Ids boundIds() {
        Ids ids;
        char** strv = nullptr;
        if (Message m = call("BoundIds", ""); m && sd_bus_message_read_strv(m.get(), &strv) >= 0 && strv) {
            for (char** s = strv; *s; ++s) {
                ids.emplace_back(*s);
                free(*s);
            }
            free(strv);
        }
        return ids;
    }

    std::string typed() { return stringOf(call("Typed", "")); }
    uint32_t dropped() { return uintOf(call("Dropped", "")); }
    uint32_t remoteDialogs() { return uintOf(call("RemoteDialogs", "")); }
    void declineRemote(bool decline) { call("DeclineRemoteDesktop", "b", decline); }
    void setClipboardFromOtherApp(const char* text) { call("SetClipboardFromOtherApp", "s", text); }
    // The clipboard as an application pasting now gets it. Its owner may be the client, which must
    // go on serving meanwhile: `pump` lets it.
    std::string clipboardText(const std::function<void()>& pump) {
        struct Answer {
            bool done = false;
            std::string text;
        } answer;
        auto onReply = [](sd_bus_message* m, void* data, sd_bus_error*) {
            auto* a = static_cast<Answer*>(data);
            const char* text = nullptr;
            if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "s", &text) >= 0)
                a->text = text;
            a->done = true;
            return 0;
        };
        sd_bus_call_method_async(m_bus, nullptr, kService, kObject, kControl, "ClipboardText", onReply,
                                 &answer, "");
        for (int i = 0; i < 300 && !answer.done; ++i) {
            pump();
            while (sd_bus_process(m_bus, nullptr) > 0) {
            }
            usleep(10000);
        }
        return answer.text;
    }

    std::string registeredApp() {
        const char* app = nullptr;
        Message m = call("RegisteredApp", "");
        return m && sd_bus_message_read(m.get(), "s", &app) >= 0 ? app : "";
    }

private:
    template <typename... Args> Message call(const char* method, const char* types, Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r =
            sd_bus_call_method(m_bus, kService, kObject, kControl, method, &error, &reply, types, args...);
        EXPECT_GE(r, 0) << method << ": " << (error.message ? error.message : "no bus");
        sd_bus_error_free(&error);
        return Message(reply);
    }

    static std::string stringOf(const Message& m) {
        const char* text = nullptr;
        return m && sd_bus_message_read(m.get(), "s", &text) >= 0 && text ? text : "";
    }
    static bool boolOf(const Message& m) {
        int b = 0;
        return m && sd_bus_message_read(m.get(), "b", &b) >= 0 && b;
    }
    static uint32_t uintOf(const Message& m) {
        uint32_t u = 0;
        if (m) sd_bus_message_read(m.get(), "u", &u);
        return u;
    }

    bool portalOwned() {
        sd_bus_message* reply = nullptr;
        int owned = 0;
        if (sd_bus_call_method(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", kService) >= 0)
            sd_bus_message_read(reply, "b", &owned);
        sd_bus_message_unref(reply);
        return owned;
    }

    std::string m_oldAddress;
    std::string m_dir;
    pid_t m_daemon = -1;
    pid_t m_mock = -1;
    sd_bus* m_bus = nullptr;
};

class PortalMock : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_EQ(portal.startBus(), "");
        ASSERT_EQ(portal.startPortal(GetParam()), "");
        std::string why;
        client = PortalShortcuts::open(kAppId, &why);
        ASSERT_NE(client, nullptr) << why;
    }

    // GNOME and Plasma 6 remember the ids granted last and ask the user about any other.
    bool asksUser() const { return std::string(GetParam()) != "kde5"; }

    // Lets the client handle what arrives until `done` holds; false after five seconds.
    bool pumpUntil(const std::function<bool()>& done, int ms = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (!client->read(&keys)) {
                ADD_FAILURE() << "the client lost its bus connection";
                return false;
            }
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            pollfd p{client->fd(), POLLIN, 0};
            poll(&p, 1, 50);
        }
    }

    bool bindAndWait(const std::vector<Hotkey>& keys) {
        client->bind(keys);
        return pumpUntil([&] { return client->bound() == keys; });
    }

    Keys got() const {
        Keys out;
        for (const auto& k : keys)
            out.emplace_back(k.key, k.release);
        return out;
    }

    MockPortal portal; // outlives the client, which closes its session on the way out
    std::unique_ptr<PortalShortcuts> client;
    std::vector<HotkeyEvent> keys;
};

const std::vector<Hotkey> kTabCaps{Hotkey::Tab, Hotkey::CapsLock};

std::vector<Hotkey> FunctionKeysAndCaps() {
    std::vector<Hotkey> keys;
    for (int i = 0; i < 12; ++i)
        keys.push_back(FunctionKey(i));
    keys.push_back(Hotkey::CapsLock);
    return keys;
}

const Ids kFunctionKeyIds{"caps-lock", "f1", "f10", "f11", "f12", "f2", "f3",
                          "f4",        "f5", "f6",  "f7",  "f8",  "f9"};

TEST_P(PortalMock, AKeystrokeIsOnePressAndOneReleaseHoweverLongItIsHeld) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    EXPECT_EQ(portal.boundIds(), (Ids{"caps-lock", "tab"}));
    EXPECT_FALSE(portal.press("f1")) << "a key outside the set must reach the application";

    EXPECT_TRUE(portal.press("tab"));
    portal.repeat("tab", 5);
    EXPECT_TRUE(portal.press("caps-lock"));
    EXPECT_TRUE(portal.release("tab"));
    EXPECT_TRUE(portal.release("caps-lock"));
    EXPECT_TRUE(portal.press("tab")); // the next keystroke is a press of its own
    EXPECT_TRUE(portal.release("tab"));
    const Keys want{{Hotkey::Tab, false},     {Hotkey::CapsLock, false}, {Hotkey::Tab, true},
                    {Hotkey::CapsLock, true}, {Hotkey::Tab, false},      {Hotkey::Tab, true}};
    EXPECT_TRUE(pumpUntil([&] { return got().size() >= want.size() && got().back() == want.back(); }));
    EXPECT_EQ(got(), want);
    EXPECT_EQ(client->takeNotice(), "");
}

// Single-list mode: unticking "Enabled" leaves Caps Lock alone watched, which binds nothing; ticking
// it again asks for the very ids granted before, so no desktop asks the user again.
TEST_P(PortalMock, EnabledOffAndOnAgainAsksTheUserNoMore) {
    ASSERT_TRUE(bindAndWait(PortalKeysToBind(kTabCaps)));
    EXPECT_EQ(portal.dialogs(), asksUser() ? 1u : 0u);

    const std::vector<Hotkey> capsAlone = PortalKeysToBind({Hotkey::CapsLock});
    EXPECT_EQ(capsAlone, std::vector<Hotkey>{});
    client->bind(capsAlone);
    EXPECT_TRUE(pumpUntil([&] { return portal.sessions() == 0; }));
    EXPECT_EQ(portal.boundIds(), Ids{});
    EXPECT_EQ(client->bound(), std::vector<Hotkey>{});
    EXPECT_FALSE(portal.press("caps-lock"));

    ASSERT_TRUE(bindAndWait(PortalKeysToBind(kTabCaps)));
    EXPECT_EQ(portal.boundIds(), (Ids{"caps-lock", "tab"}));
    EXPECT_EQ(portal.sessions(), 1u);
    EXPECT_EQ(portal.dialogs(), asksUser() ? 1u : 0u);
    EXPECT_EQ(client->takeNotice(), "");
}

// Each set is bound in a session of its own (GNOME binds once per session); the desktop asks the
// user whenever the set holds an id it did not grant last time.
TEST_P(PortalMock, AModeSwitchRebindsInAFreshSession) {
    const struct {
        std::vector<Hotkey> keys;
        Ids ids;
        uint32_t dialogsWhenAsking;
    } steps[] = {
        {kTabCaps, {"caps-lock", "tab"}, 1},
        {FunctionKeysAndCaps(), kFunctionKeyIds, 2},
        {kTabCaps, {"caps-lock", "tab"}, 3},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& step = steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        ASSERT_TRUE(bindAndWait(step.keys));
        EXPECT_EQ(portal.boundIds(), step.ids);
        EXPECT_EQ(portal.sessions(), 1u);
        EXPECT_EQ(portal.dialogs(), asksUser() ? step.dialogsWhenAsking : 0u);
        EXPECT_EQ(client->takeNotice(), "");
    }
}

// The set changes again before the desktop has answered: the client must not bind a second time
// in the session it is opening (GNOME refuses that), and it ends with the newest set.
TEST_P(PortalMock, ASetChangedWhileTheDesktopIsAnsweringEndsBound) {
    client->bind(kTabCaps);
    const std::vector<Hotkey> latest = FunctionKeysAndCaps();
    ASSERT_TRUE(bindAndWait(latest));
    EXPECT_EQ(portal.boundIds(), kFunctionKeyIds);
    EXPECT_EQ(portal.sessions(), 1u);
    EXPECT_EQ(client->takeNotice(), "");
    EXPECT_TRUE(portal.press("f12"));
    EXPECT_TRUE(pumpUntil([&] { return got() == Keys{{Hotkey::F12, false}}; }));
}

TEST_P(PortalMock, SignalsOfAClosedSessionAreIgnored) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    ASSERT_TRUE(bindAndWait(FunctionKeysAndCaps()));
    EXPECT_FALSE(portal.press("tab")) << "the old session is still open";
    // A late signal of the old session, for a key the new one does not bind. (Sessions share one
    // path, so a late signal for a key both bind cannot be told apart: it is a press like any.)
    EXPECT_TRUE(portal.pressClosed("tab"));
    EXPECT_TRUE(portal.press("f1"));
    EXPECT_TRUE(pumpUntil([&] { return !keys.empty(); }));
    EXPECT_EQ(got(), (Keys{{Hotkey::F1, false}}));
}

// GNOME and Plasma 6 learn the app id from the host registry; Plasma 5.27 has none, and the
// failed call must not keep the client from its shortcuts.
TEST_P(PortalMock, TheAppIdIsRegisteredWhereThePortalTakesIt) {
    EXPECT_EQ(portal.registeredApp(), asksUser() ? kAppId : "");
    ASSERT_TRUE(bindAndWait(kTabCaps));
    EXPECT_EQ(portal.boundIds(), (Ids{"caps-lock", "tab"}));
}

// The user takes the shortcuts back: the keys pass, the user is told, and Keyquill asks again
// only when its hotkeys change.
TEST_P(PortalMock, ShortcutsTheDesktopEndsAreLetGoUntilTheHotkeysChange) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    portal.revokeShortcuts();
    EXPECT_TRUE(pumpUntil([&] { return client->bound().empty(); }));
    EXPECT_NE(client->takeNotice(), "");
    client->bind(kTabCaps);
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(portal.sessions(), 0u) << "asked again at once";
    EXPECT_TRUE(bindAndWait(FunctionKeysAndCaps()));
}

INSTANTIATE_TEST_SUITE_P(Desktops, PortalMock, testing::Values("gnome", "kde6", "kde5"));

TEST(PortalMockBus, NoPortalMeansNoClientAndAReason) {
    MockPortal portal;
    ASSERT_EQ(portal.startBus(), "");
    std::string why;
    EXPECT_EQ(PortalShortcuts::open(kAppId, &why), nullptr);
    EXPECT_NE(why, "");
}

TEST(PortalMockBus, ReadFailsOnceTheBusHasGone) {
    MockPortal portal;
    ASSERT_EQ(portal.startBus(), "");
    ASSERT_EQ(portal.startPortal("kde6"), "");
    std::string why;
    auto client = PortalShortcuts::open(kAppId, &why);
    ASSERT_NE(client, nullptr) << why;
    portal.stopBus();
    std::vector<HotkeyEvent> keys;
    bool alive = true;
    for (int i = 0; i < 100 && alive; ++i) {
        pollfd p{client->fd(), POLLIN, 0};
        poll(&p, 1, 50);
        alive = client->read(&keys);
    }
    EXPECT_FALSE(alive);
}

// Typing through the RemoteDesktop portal (GNOME): keysyms of the user's layout, the portal's
// clipboard for the rest. The mock's compositor types a keysym only when its (US) layout has it.
class RemoteDesktopMock : public PortalMock {
protected:
    std::unique_ptr<RemoteDesktopTyper> openTyper(std::string* why) {
        auto keymap = std::make_unique<CompositorKeymap>();
        keymap->layout().loadNames("us");
        return RemoteDesktopTyper::open(client->bus(), tokenFile, std::move(keymap), why);
    }
    static KeyStrokes strokes(const std::u32string& text) {
        KeyStrokes out;
        for (char32_t c : text)
            out.push_back(c == U'\r' ? KeyStroke::namedKey(NamedKey::Enter) : KeyStroke::character(c));
        return out;
    }

    const std::string tokenFile =
        std::filesystem::temp_directory_path() / ("kq-rd-token-" + std::to_string(getpid()));
};

TEST_P(RemoteDesktopMock, LinesAreExactAndThePreviousClipboardIsBack) {
    portal.setClipboardFromOtherApp("what the user copied");
    std::string why;
    auto typer = openTyper(&why);
    ASSERT_NE(typer, nullptr) << why;
    ASSERT_TRUE(typer->send(strokes(U"hi caf\u00e9 \u2192 \u65e5\u672c \U0001F600 end {x}\r")));
    ASSERT_TRUE(typer->send(strokes(U"\u00fcber")));
    EXPECT_EQ(portal.typed(), "hi caf\u00e9 \u2192 \u65e5\u672c \U0001F600 end {x}\n\u00fcber");
    EXPECT_EQ(portal.dropped(), 0u) << "no keysym the layout lacks was sent";
    EXPECT_EQ(portal.clipboardText([&] { client->read(&keys); }), "what the user copied");
}

TEST_P(RemoteDesktopMock, TheUserIsAskedOnceAndTheKeptPermissionSkipsTheDialog) {
    std::filesystem::remove(tokenFile);
    std::string why;
    ASSERT_NE(openTyper(&why), nullptr) << why;
    EXPECT_EQ(portal.remoteDialogs(), 1u);
    ASSERT_NE(openTyper(&why), nullptr) << why;
    EXPECT_EQ(portal.remoteDialogs(), 1u) << "the restore token was not kept or not used";
    std::filesystem::remove(tokenFile);
    portal.declineRemote(true);
    EXPECT_EQ(openTyper(&why), nullptr);
    EXPECT_NE(why.find("not allowed"), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(Gnome, RemoteDesktopMock, testing::Values("gnome"));

} // namespace
} // namespace kq
