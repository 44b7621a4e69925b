// The real keyquill on a headless KWin (Plasma 5.27) with the desktop portal: hotkeys as portal
// shortcuts, lines typed through KWin's fake input in KWin's layout, and the clipboard for what
// the layout lacks. Keyquill's windows are on the private Xvfb, as in the sway tests.
#include "backend.h"
#include "kwin_session.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

using namespace kq::e2e;

namespace {

constexpr int kTab = 15;

class KwinE2E : public BackendE2E {
protected:
    Backend& backend() const override { return TheDesktop(Desk::Kwin); }
    KwinSession& kwin() const { return TheKwinSession(); }
    void TearDown() override {
        EXPECT_TRUE(!layoutsChanged || kwin().setLayouts("us", 0));
        BackendE2E::TearDown();
    }
    bool layoutsChanged = false;
};

// What no layout has is pasted in its place in the line (the journeys check the lines), and the
// clipboard the user had is back afterwards.
TEST_F(KwinE2E, TheUsersClipboardIsBackAfterAPaste) {
    loadList({"caf\xc3\xa9 \xe2\x86\x92 end"});
    runCaptureWith(kwin().env(), "wl-copy 'what the user copied'");
    openTarget(Client::Qt);
    ASSERT_TRUE(tap(kTab));
    ASSERT_TRUE(waitForText("caf\xc3\xa9 \xe2\x86\x92 end")) << "got: " << text();
    EXPECT_EQ(runCaptureWith(kwin().env(), "timeout 5 wl-paste --no-newline"), "what the user copied");
}

// KWin fires a shortcut for the keys of fake input too: the tab a line types while Tab is the
// hotkey comes back as a press of it, which is Keyquill's own key, swallowed like the user's, and
// must not start the next line.
TEST_F(KwinE2E, ATabInALineStartsNoLine) {
    loadList({"a{TAB}b", "c"}, true);
    openTarget(Client::Qt);
    ASSERT_TRUE(tap(kTab));
    ASSERT_TRUE(waitForText("ab")) << "got: " << text();
    ASSERT_TRUE(tap(kTab));
    EXPECT_TRUE(waitForText("abc")) << "got: " << text();
}

// The user's layouts us+ru with ru in use, then us+de with de in use: lines of Latin, Cyrillic and
// German characters arrive exactly (each typed in a layout that has it, or pasted), and the
// layout the user had is in use again afterwards.
TEST_F(KwinE2E, LinesAreExactWithSeveralLayouts) {
    const std::vector<std::string> lines{"Hello, world! (x) [y] {z} @#$%^&*", "Привет, мир! Ёж",
                                         "mixed: abc жэ xyz ЖЭ 42", "äöü ÄÖÜ ß € @ µ ~|"};
    loadList(lines);
    layoutsChanged = true;
    for (const char* list : {"us,ru", "us,de"}) {
        SCOPED_TRACE(list);
        ASSERT_TRUE(kwin().setLayouts(list, 1)) << kwin().layoutCall("getLayoutsList");
        openTarget(Client::Qt);
        std::string expected;
        for (const std::string& line : lines) {
            ASSERT_TRUE(tap(kTab));
            expected += line;
            ASSERT_TRUE(waitForText(expected, 30000)) << "got: " << text();
        }
        EXPECT_EQ(kwin().layoutCall("getLayout"), "u 1\n") << "the user's layout is in use again";
    }
}

} // namespace
