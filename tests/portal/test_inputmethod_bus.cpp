// The input-method switch against a stand-in IBus and Fcitx5 (a child process) on a private bus:
// it follows what they announce instead of asking before every line, and still switches to
// direct input when the user has turned an engine on.
#include "../common/private_bus.h"
#include "platform/inputmethod/directinput.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace kq {
namespace {

constexpr char kIBus[] = "org.freedesktop.IBus";
constexpr char kIBusPath[] = "/org/freedesktop/IBus";
constexpr char kFake[] = "org.keyquill.FakeInputMethods";
constexpr char kFakePath[] = "/fake";
constexpr char kFcitx[] = "org.fcitx.Fcitx5";

// The stand-in's state; it lives in the child process.
struct FakeState {
    std::string engine = "xkb:us::eng";
    uint32_t engineAsked = 0; // GetGlobalEngine calls
    int32_t fcitxState = 2;   // on
};
FakeState g_fake;

int AppendEngine(sd_bus_message* m, const std::string& name) {
    const bool keyboard = name.rfind("xkb:", 0) == 0;
    const std::string layout = keyboard ? name.substr(4, name.find(':', 4) - 4) : "default";
    return sd_bus_message_append(m, "v", "(sa{sv}ssssssssusssssss)", "IBusEngineDesc", 0, name.c_str(), "",
                                 "", "", "", "", "", layout.c_str(), 0u, "", "", "", "", "", "", "");
}

int Reply(sd_bus_message* call, const std::function<int(sd_bus_message*)>& fill) {
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(call, &reply);
    if (r >= 0 && fill) r = fill(reply);
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

int SwitchEngine(sd_bus_message* m, const char* name) {
    g_fake.engine = name;
    return sd_bus_emit_signal(sd_bus_message_get_bus(m), kIBusPath, kIBus, "GlobalEngineChanged", "s", name);
}

int GetGlobalEngine(sd_bus_message* m, void*, sd_bus_error* error) {
    ++g_fake.engineAsked;
    if (g_fake.engine.empty()) return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, "No global engine.");
    return Reply(m, [](sd_bus_message* r) { return AppendEngine(r, g_fake.engine); });
}
int SetGlobalEngine(sd_bus_message* m, void*, sd_bus_error*) {
    const char* name = nullptr;
    if (sd_bus_message_read(m, "s", &name) < 0) return -EINVAL;
    SwitchEngine(m, name);
    return Reply(m, nullptr);
}
int ListEngines(sd_bus_message* m, void*, sd_bus_error*) {
    return Reply(m, [](sd_bus_message* r) {
        int e = sd_bus_message_open_container(r, 'a', "v");
        for (const char* name : {"libpinyin", "xkb:de::ger", "xkb:us::eng"})
            if (e >= 0) e = AppendEngine(r, name);
        return e >= 0 ? sd_bus_message_close_container(r) : e;
    });
}

// The test's handles: Fcitx5 started or stopped, and what the stand-ins saw. (The user switches
// IBus's engine as its panel does, with SetGlobalEngine.)
int FcitxRuns(sd_bus_message* m, void*, sd_bus_error*) {
    int runs = 0;
    if (sd_bus_message_read(m, "b", &runs) < 0) return -EINVAL;
    sd_bus* bus = sd_bus_message_get_bus(m);
    runs ? sd_bus_request_name(bus, kFcitx, 0) : sd_bus_release_name(bus, kFcitx);
    return Reply(m, nullptr);
}
int Seen(sd_bus_message* m, void*, sd_bus_error*) {
    return Reply(m, [](sd_bus_message* r) {
        return sd_bus_message_append(r, "sui", g_fake.engine.c_str(), g_fake.engineAsked, g_fake.fcitxState);
    });
}

int FcitxState(sd_bus_message* m, void*, sd_bus_error*) {
    return Reply(m, [](sd_bus_message* r) { return sd_bus_message_append(r, "i", g_fake.fcitxState); });
}
int FcitxSet(sd_bus_message* m, int32_t state) {
    g_fake.fcitxState = state;
    return Reply(m, nullptr);
}

const sd_bus_vtable kIBusTable[] = {SD_BUS_VTABLE_START(0),
                                    SD_BUS_METHOD("GetGlobalEngine", "", "v", GetGlobalEngine, 0),
                                    SD_BUS_METHOD("SetGlobalEngine", "s", "", SetGlobalEngine, 0),
                                    SD_BUS_METHOD("ListEngines", "", "av", ListEngines, 0),
                                    SD_BUS_SIGNAL("GlobalEngineChanged", "s", 0),
                                    SD_BUS_VTABLE_END};
const sd_bus_vtable kFcitxTable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_METHOD("State", "", "i", FcitxState, 0),
    SD_BUS_METHOD(
        "Activate", "", "", [](sd_bus_message* m, void*, sd_bus_error*) { return FcitxSet(m, 2); }, 0),
    SD_BUS_METHOD(
        "Deactivate", "", "", [](sd_bus_message* m, void*, sd_bus_error*) { return FcitxSet(m, 1); }, 0),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kFakeTable[] = {SD_BUS_VTABLE_START(0), SD_BUS_METHOD("FcitxRuns", "b", "", FcitxRuns, 0),
                                    SD_BUS_METHOD("Seen", "", "sui", Seen, 0), SD_BUS_VTABLE_END};

[[noreturn]] void ServeFakes() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, kIBusPath, kIBus, kIBusTable, nullptr) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, "/controller", "org.fcitx.Fcitx.Controller1", kFcitxTable,
                                 nullptr) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, kFakePath, kFake, kFakeTable, nullptr) < 0 ||
        sd_bus_request_name(bus, kIBus, 0) < 0 || sd_bus_request_name(bus, kFake, 0) < 0)
        _exit(1);
    for (;;) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) _exit(0); // the bus has gone
        if (r == 0) sd_bus_wait(bus, UINT64_MAX);
    }
}

class InputMethodBus : public testing::Test {
protected:
    void SetUp() override {
        const std::string address = e2e::StartPrivateBus(&m_daemon);
        ASSERT_FALSE(address.empty()) << "dbus-daemon did not start";
        // IBus and the session bus are the same bus here.
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        setenv("IBUS_ADDRESS", address.c_str(), 1);
        if ((m_fakes = fork()) == 0) ServeFakes();
        ASSERT_GE(sd_bus_open_user(&m_bus), 0);
        ASSERT_TRUE(watchQuestions(address));
        for (int i = 0; i < 200 && !seen(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(seen()) << "the stand-ins did not start";
    }
    void TearDown() override {
        if (m_bus) sd_bus_flush_close_unref(m_bus);
        if (m_monitor) sd_bus_close_unref(m_monitor);
        if (m_fakes > 0) kill(m_fakes, SIGTERM), waitpid(m_fakes, nullptr, 0);
        if (m_daemon > 0) kill(m_daemon, SIGTERM);
    }

    struct Seen {
        std::string engine;
        uint32_t engineAsked = 0;
        int32_t fcitxState = 0;
    };
    std::optional<Seen> seen() {
        sd_bus_message* reply = nullptr;
        std::optional<Seen> out;
        const char* engine = nullptr;
        Seen s;
        if (sd_bus_call_method(m_bus, kFake, kFakePath, kFake, "Seen", nullptr, &reply, "") >= 0 &&
            sd_bus_message_read(reply, "sui", &engine, &s.engineAsked, &s.fcitxState) > 0)
            s.engine = engine, out = s;
        sd_bus_message_unref(reply);
        return out;
    }
    void userSwitches(const char* engine) {
        ASSERT_GE(sd_bus_call_method(m_bus, kIBus, kIBusPath, kIBus, "SetGlobalEngine", nullptr, nullptr, "s",
                                     engine),
                  0);
    }
    void fcitxRuns(bool runs) {
        ASSERT_GE(
            sd_bus_call_method(m_bus, kFake, kFakePath, kFake, "FcitxRuns", nullptr, nullptr, "b", runs), 0);
    }
    // A line's switch, tried until what the stand-ins announced has reached it (a signal on its way).
    static bool directSoon(InputMethodSwitch& s) {
        const auto layout = [] { return LayoutName{"us", ""}; };
        for (int i = 0; i < 1000; ++i) {
            if (s.direct(layout)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Each NameHasOwner call on the bus costs a line a round trip before its first key: a monitor
    // of the bus counts them. A question of the test's own marks where a count ends (every call
    // the switch made returned before it was asked).
    static constexpr char kMark[] = "org.keyquill.Mark";
    bool watchQuestions(const std::string& address) {
        if (sd_bus_new(&m_monitor) < 0 || sd_bus_set_address(m_monitor, address.c_str()) < 0 ||
            sd_bus_set_bus_client(m_monitor, 1) < 0 || sd_bus_set_monitor(m_monitor, 1) < 0 ||
            sd_bus_start(m_monitor) < 0 ||
            sd_bus_add_filter(m_monitor, nullptr, &InputMethodBus::heard, this) < 0)
            return false;
        return sd_bus_call_method(m_monitor, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus.Monitoring", "BecomeMonitor", nullptr, nullptr, "asu",
                                  1, "type='method_call',member='NameHasOwner'", 0u) >= 0;
    }
    static int heard(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* t = static_cast<InputMethodBus*>(self);
        const char* name = nullptr;
        if (sd_bus_message_is_method_call(m, nullptr, "NameHasOwner") &&
            sd_bus_message_read(m, "s", &name) > 0)
            ++(std::string(name) == kMark ? t->m_marks : t->m_questions);
        return 1;
    }
    uint32_t nameOwnerQuestions() {
        const uint32_t mark = m_marks + 1;
        sd_bus_call_method(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, nullptr, "s", kMark);
        for (int i = 0; i < 1000 && m_marks < mark;)
            if (sd_bus_process(m_monitor, nullptr) == 0) sd_bus_wait(m_monitor, 10000), ++i;
        EXPECT_EQ(m_marks, mark) << "the monitor did not hear the mark";
        return m_questions;
    }

    pid_t m_daemon = 0, m_fakes = 0;
    sd_bus* m_bus = nullptr;
    sd_bus* m_monitor = nullptr;
    uint32_t m_questions = 0, m_marks = 0;
};

// GNOME and most desktops with IBus run it with a keyboard engine: each line used to ask IBus which
// engine it had before its first key (measured: 450 us a press). Asked once now; the user's switch
// to Pinyin is followed from IBus's announcement, and given back after the line.
TEST_F(InputMethodBus, IBusIsAskedOnceAndItsEngineFollowed) {
    const auto sw = OpenInputMethodSwitch();
    for (int line = 0; line < 5; ++line)
        EXPECT_FALSE(sw->direct([] { return LayoutName{"us", ""}; })) << "line " << line;
    EXPECT_EQ(seen()->engineAsked, 1u);

    userSwitches("libpinyin");
    ASSERT_TRUE(directSoon(*sw)) << "the switch to Pinyin was not followed";
    EXPECT_EQ(seen()->engine, "xkb:us::eng");
    sw->restore();
    EXPECT_EQ(seen()->engine, "libpinyin");

    // Back to a keyboard engine: a line before the announcement arrives asks IBus (and finds the
    // keyboard engine), none after.
    userSwitches("xkb:de::ger");
    const auto de = [] { return LayoutName{"de", ""}; };
    bool quiet = false;
    for (int i = 0; i < 1000 && !quiet; ++i) {
        const uint32_t before = seen()->engineAsked;
        EXPECT_FALSE(sw->direct(de));
        quiet = seen()->engineAsked == before;
        if (!quiet) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(quiet) << "the switch back to a keyboard engine was not followed";
    const uint32_t asked = seen()->engineAsked;
    for (int line = 0; line < 5; ++line)
        EXPECT_FALSE(sw->direct(de));
    EXPECT_EQ(seen()->engineAsked, asked);
}

// Fcitx5 started and stopped while Keyquill runs is followed from the bus's announcements; on, it
// is turned off for the line and on again after.
TEST_F(InputMethodBus, FcitxIsFollowedAsItStartsAndStops) {
    userSwitches("xkb:us::eng"); // IBus out of the way
    const auto sw = OpenInputMethodSwitch();
    EXPECT_FALSE(sw->direct({}));
    EXPECT_EQ(sw->keyGap().count(), 0);

    fcitxRuns(true);
    ASSERT_TRUE(directSoon(*sw)) << "Fcitx5 starting was not followed";
    EXPECT_EQ(seen()->fcitxState, 1);
    EXPECT_GT(sw->keyGap().count(), 0);
    sw->restore();
    EXPECT_EQ(seen()->fcitxState, 2);
    // Running, it is not asked about again line after line.
    const uint32_t asked = nameOwnerQuestions();
    EXPECT_EQ(asked, 1u) << "asked once, when it connected";
    for (int line = 0; line < 5; ++line) {
        EXPECT_TRUE(sw->direct({}));
        sw->restore();
    }
    EXPECT_EQ(nameOwnerQuestions(), asked) << "lines asked the bus whether Fcitx5 runs";

    fcitxRuns(false);
    for (int i = 0; i < 1000 && sw->keyGap().count() > 0; ++i) {
        sw->direct({}), sw->restore();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(sw->keyGap().count(), 0) << "Fcitx5 stopping was not followed";
}

} // namespace
} // namespace kq
