#pragma once
// Shared pieces of the widget tests: a program with fake keyboard services, and a way to answer
// the modal dialogs a handler opens.
#include "app/instancelock.h"
#include "app/session.h"
#include "files/textcodec.h"
#include "platform/fake/fakekeyboard.h"
#include "windows/frmmain.h"
#include "windows/frmmultimacro.h"

#include <QString>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kq::test {

// A started program: frmMain after its start-up, on the fake keyboard. `before` sets the keyboard
// up before the start-up runs.
struct Program {
    explicit Program(const std::string& lockName = "instance.lock",
                     const std::function<void(FakeKeyboard&)>& before = {});
    ~Program();
    FakeKeyboard keyboard;
    Session session;
    std::unique_ptr<InstanceLock> lock;
    frmMain* main = nullptr;
    bool started = false;
    frmMultiMacro& multi() { return main->multiMacro(); }
    std::vector<QWidget*> windows(); // the single-list, multi-slot and options windows
};

// Arranges for the next modal dialog to be handled by `answer` once it shows; `seen` is set when
// it was. The answer gets the dialog widget.
void AnswerNextDialog(std::function<void(QWidget*)> answer, bool* seen = nullptr);
// Answers the next file dialog with a path (Return in its file name box). With `message`, the
// message box that follows is answered OK and its text kept there.
void AnswerFileDialog(const std::string& path, QString* message = nullptr);
// Presses the button with this text in the next message box, and records its text.
void AnswerMessageBox(const QString& button, QString* text = nullptr);
// What one tap of a key (down and up, which must get the same verdict) typed, named keys as
// <NAME> and Enter as a line break.
std::string Typed(Program& p, Hotkey key);
std::string TempPath(const std::string& name);
inline std::string ReadAll(const std::string& path) {
    return ReadFileBytes(path).value_or("(unreadable)");
}
inline void WriteAll(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
}

} // namespace kq::test
