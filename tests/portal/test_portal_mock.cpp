// The GlobalShortcuts client against a stand-in portal (python-dbusmock, mock_portal.py) on a
// private session bus, once for each desktop whose answers differ: GNOME, Plasma 6, Plasma 5.27.
#include "../common/private_bus.h"
#include "engine/hotkey.h"
#include "platform/portal/portalbus.h"
#include "platform/portal/portalshortcuts.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kq {
namespace {

using Ids = std::vector<std::string>;
using Keys = std::vector<std::pair<Hotkey, bool>>; // (key, release)

constexpr char kControl[] = "org.keyquill.MockPortal";
constexpr char kAppId[] = "keyquill";

// A private session bus, and on it (when started) the mock portal playing one desktop.
class MockPortal {
public:
    ~MockPortal() {
        if (m_bus) sd_bus_flush_close_unref(m_bus);
        if (m_mock > 0 && kill(m_mock, SIGTERM) == 0) waitpid(m_mock, nullptr, 0);
        stopBus();
    }

    // An error, or "" once a bus runs as this process's session bus, with the mock portal playing
    // `desktop` on it unless that is null.
    std::string start(const char* desktop) {
        // Without the standard service directories: the machine's own xdg-desktop-portal must not be
        // activated on the test bus.
        const std::string address = e2e::StartPrivateBus(&m_daemon);
        if (address.empty()) return "dbus-daemon did not start";
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        if (sd_bus_open_user(&m_bus) < 0) return "the test bus cannot be reached";
        if (!desktop) return "";
        const std::string parameters = std::string("{\"desktop\": \"") + desktop + "\"}";
        if ((m_mock = fork()) == 0) {
            execl("/usr/bin/python3", "python3", "-m", "dbusmock", "--session", "--logfile", "/dev/null",
                  "--template", KQ_MOCK_PORTAL, "-p", parameters.c_str(), nullptr);
            _exit(127);
        }
        // Ready once it answers; given up on when it ends first.
        for (int i = 0; i < 400 && m_mock > 0; ++i) {
            if (sd_bus_call_method(m_bus, portal::kService, portal::kObject, kControl, "Sessions", nullptr,
                                   nullptr, "") >= 0)
                return "";
            if (waitpid(m_mock, nullptr, WNOHANG) == m_mock) m_mock = -1;
            usleep(50000);
        }
        return "the mock portal did not start (python3-dbusmock missing?)";
    }

    void stopBus() {
        if (m_daemon > 0) kill(std::exchange(m_daemon, -1), SIGTERM);
    }

    // Calls a method of the mock's control interface and reads its answer: a uint32_t or Ids (a
    // method without one reads as 0).
    template <typename Out = uint32_t, typename... Args>
    Out call(const char* method, const char* types = "", Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r = sd_bus_call_method(m_bus, portal::kService, portal::kObject, kControl, method, &error,
                                         &reply, types, args...);
        EXPECT_GE(r, 0) << method << ": " << (error.message ? error.message : "no bus");
        sd_bus_error_free(&error);
        Out out{};
        if (r >= 0) read(reply, &out);
        sd_bus_message_unref(reply);
        return out;
    }

    // How many sessions the desktop sent the key's signal to: none when it binds no such key.
    uint32_t press(const char* id) { return call("Press", "s", id); }
    uint32_t release(const char* id) { return call("Release", "s", id); }
    uint32_t dialogs() { return call("Dialogs"); }
    uint32_t sessions() { return call("Sessions"); }
    Ids boundIds() { return call<Ids>("BoundIds"); }

private:
    static void read(sd_bus_message* m, uint32_t* out) { sd_bus_message_read(m, "u", out); }
    static void read(sd_bus_message* m, Ids* out) {
        const char* id = nullptr;
        sd_bus_message_enter_container(m, 'a', "s");
        while (sd_bus_message_read(m, "s", &id) > 0)
            out->emplace_back(id);
    }

    pid_t m_daemon = -1;
    pid_t m_mock = -1;
    sd_bus* m_bus = nullptr;
};

class PortalMock : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_EQ(portal.start(GetParam()), "");
        std::string why;
        client = PortalShortcuts::open(kAppId, &why);
        ASSERT_NE(client, nullptr) << why;
    }

    // GNOME and Plasma 6 remember the ids granted last and ask the user about any other.
    bool asksUser() const { return std::string(GetParam()) != "kde5"; }

    // Lets the client handle what arrives, and collects its keys, until `done` holds; false after
    // `ms`, or at once when the client has lost its bus connection (`lost`).
    bool pumpUntil(const std::function<bool()>& done, int ms = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            std::vector<HotkeyEvent> events;
            lost = !client->read(&events);
            for (const HotkeyEvent& e : events)
                keys.emplace_back(e.key, e.release);
            if (lost) return false;
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

    MockPortal portal; // outlives the client, which closes its session on the way out
    std::unique_ptr<PortalShortcuts> client;
    Keys keys;
    bool lost = false;
};

const std::vector<Hotkey> kTabCaps{Hotkey::Tab, Hotkey::CapsLock};
// F1..F12 and Caps Lock: every key but Tab.
const std::vector<Hotkey> kFunctionKeysAndCaps(AllHotkeys.begin() + 1, AllHotkeys.end());
const Ids kFunctionKeyIds{"caps-lock", "f1", "f10", "f11", "f12", "f2", "f3",
                          "f4",        "f5", "f6",  "f7",  "f8",  "f9"};

TEST_P(PortalMock, AKeystrokeIsOnePressAndOneReleaseHoweverLongItIsHeld) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    EXPECT_EQ(portal.boundIds(), (Ids{"caps-lock", "tab"}));
    EXPECT_FALSE(portal.press("f1")) << "a key outside the set must reach the application";

    EXPECT_TRUE(portal.press("tab"));
    for (int i = 0; i < 5; ++i) // the desktop repeats Activated while the key is held
        portal.press("tab");
    EXPECT_TRUE(portal.press("caps-lock"));
    EXPECT_TRUE(portal.release("tab"));
    EXPECT_TRUE(portal.release("caps-lock"));
    EXPECT_TRUE(portal.press("tab")); // the next keystroke is a press of its own
    EXPECT_TRUE(portal.release("tab"));
    const Keys want{{Hotkey::Tab, false},     {Hotkey::CapsLock, false}, {Hotkey::Tab, true},
                    {Hotkey::CapsLock, true}, {Hotkey::Tab, false},      {Hotkey::Tab, true}};
    EXPECT_TRUE(pumpUntil([&] { return keys.size() >= want.size() && keys.back() == want.back(); }));
    EXPECT_EQ(keys, want);
    EXPECT_EQ(client->takeNotice(), "");
}

// Single-list mode: unticking "Enabled" leaves Caps Lock alone watched, which binds nothing; ticking
// it again asks for the very ids granted before, so no desktop asks the user again.
TEST_P(PortalMock, EnabledOffAndOnAgainAsksTheUserNoMore) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    EXPECT_EQ(portal.dialogs(), asksUser() ? 1u : 0u);

    client->bind({Hotkey::CapsLock});
    EXPECT_TRUE(pumpUntil([&] { return portal.sessions() == 0; }));
    EXPECT_EQ(portal.boundIds(), Ids{});
    EXPECT_EQ(client->bound(), std::vector<Hotkey>{});
    EXPECT_FALSE(portal.press("caps-lock"));

    ASSERT_TRUE(bindAndWait(kTabCaps));
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
        {kFunctionKeysAndCaps, kFunctionKeyIds, 2},
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
    ASSERT_TRUE(bindAndWait(kFunctionKeysAndCaps));
    EXPECT_EQ(portal.boundIds(), kFunctionKeyIds);
    EXPECT_EQ(portal.sessions(), 1u);
    EXPECT_EQ(client->takeNotice(), "");
    EXPECT_TRUE(portal.press("f12"));
    EXPECT_TRUE(pumpUntil([&] { return keys == Keys{{Hotkey::F12, false}}; }));
}

TEST_P(PortalMock, SignalsOfAClosedSessionAreIgnored) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    ASSERT_TRUE(bindAndWait(kFunctionKeysAndCaps));
    EXPECT_FALSE(portal.press("tab")) << "the old session is still open";
    // A late signal of the old session, for a key the new one does not bind. (Sessions share one
    // path, so a late signal for a key both bind cannot be told apart: it is a press like any.)
    EXPECT_TRUE(portal.call("PressClosed", "s", "tab"));
    EXPECT_TRUE(portal.press("f1"));
    EXPECT_TRUE(pumpUntil([&] { return !keys.empty(); }));
    EXPECT_EQ(keys, (Keys{{Hotkey::F1, false}}));
}

// The user takes the shortcuts back: the keys pass, the user is told, and Keyquill asks again
// only when its hotkeys change.
TEST_P(PortalMock, ShortcutsTheDesktopEndsAreLetGoUntilTheHotkeysChange) {
    ASSERT_TRUE(bindAndWait(kTabCaps));
    portal.call("RevokeShortcuts");
    EXPECT_TRUE(pumpUntil([&] { return client->bound().empty(); }));
    EXPECT_NE(client->takeNotice(), "");
    client->bind(kTabCaps);
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(portal.sessions(), 0u) << "asked again at once";
    EXPECT_TRUE(bindAndWait(kFunctionKeysAndCaps));
}

TEST_P(PortalMock, ReadFailsOnceTheBusHasGone) {
    EXPECT_TRUE(pumpUntil([] { return true; }));
    portal.stopBus();
    pumpUntil([] { return false; });
    EXPECT_TRUE(lost);
}

INSTANTIATE_TEST_SUITE_P(Desktops, PortalMock, testing::Values("gnome", "kde6", "kde5"));

TEST(PortalMockBus, NoPortalMeansNoClientAndAReason) {
    MockPortal portal;
    ASSERT_EQ(portal.start(nullptr), "");
    std::string why;
    EXPECT_EQ(PortalShortcuts::open(kAppId, &why), nullptr);
    EXPECT_NE(why, "");
}

} // namespace
} // namespace kq
