#pragma once
// Shared pieces of the widget tests: a program with fake keyboard services, and a way to answer
// the modal dialogs a handler opens.
#include "app/globals.h"
#include "app/instancelock.h"
#include "platform/fake/fakekeyboard.h"
#include "windows/frmmain.h"
#include "windows/frmmultimacro.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace kq::test {

// A started program: frmMain after its start-up, on the fake keyboard.
struct Program {
    Program();
    ~Program();
    Globals g;
    FakeKeyboard keyboard;
    std::unique_ptr<InstanceLock> lock;
    frmMain* main = nullptr;
    bool started = false;
    frmMultiMacro& multi() { return main->multiMacro(); }
};

// Arranges for the next modal dialog to be handled by `answer` once it shows; returns a
// function that reports whether it was seen. The answer gets the dialog widget.
void AnswerNextDialog(std::function<void(QWidget*)> answer, bool* seen = nullptr);
// Answers the next file dialog with a path (Return in its file name box).
void AnswerFileDialog(const QString& path, bool* seen = nullptr);
// Presses the button with this text in the next message box, and records its text.
void AnswerMessageBox(const QString& button, QString* text = nullptr);
// One tap of a key through the filter (down and up); both halves must get the same verdict.
Verdict Press(Program& p, uint32_t vk);
// What was typed since the last call, named keys as <NAME> and Enter as a line break.
std::string TakeTyped(Program& p);
std::string TempPath(const std::string& name);
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);

} // namespace kq::test
