#include "widget_support.h"

#include "windows/frmoptions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace kq::test {

Program::Program(const std::string& lockName, const std::function<void(FakeKeyboard&)>& before)
    : session({&keyboard, &keyboard, &keyboard}) {
    if (before) before(keyboard);
    lock = std::make_unique<InstanceLock>(TempPath(lockName));
    main = new frmMain(session);
    started = main->Form_Load(*lock);
}

Program::~Program() {
    delete main;
    if (session.ShuttingDown) {
        // Shutdown asked the application to end; with no loop running that leaves Qt's quit flag
        // set and every later modal dialog would return at once. Run the loop once to clear it.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
}

std::vector<QWidget*> Program::windows() {
    return {main, &multi(), &main->options()};
}

void AnswerNextDialog(std::function<void(QWidget*)> answer, bool* seen) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, seen, tries] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && ++*tries < 500) return;
        timer->stop();
        timer->deleteLater();
        if (!modal) return;
        if (seen) *seen = true;
        answer(modal);
    });
    timer->start(10);
}

void AnswerFileDialog(const std::string& path, QString* message) {
    AnswerNextDialog([path = QString::fromStdString(path), message](QWidget* w) {
        // Armed only now, so it cannot take the file dialog for the message box.
        if (message) AnswerMessageBox(QStringLiteral("OK"), message);
        auto* edit = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return ADD_FAILURE() << "no file name box", w->close(), void();
        edit->setText(path);
        QTest::keyClick(edit, Qt::Key_Return);
    });
}

void AnswerMessageBox(const QString& button, QString* text) {
    AnswerNextDialog([button, text](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return ADD_FAILURE() << "not a message box", w->close(), void();
        if (text) *text = box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove(QLatin1Char('&')) == button) return b->click(), void();
        ADD_FAILURE() << "no button " << button.toStdString();
        box->close();
    });
}

std::string Typed(Program& p, Hotkey key) {
    p.keyboard.sends.clear();
    const Verdict down = p.keyboard.inject({key, false});
    EXPECT_EQ(p.keyboard.inject({key, true}), down);
    return p.keyboard.typedText();
}

std::string TempPath(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() / ("kq-widgets-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

} // namespace kq::test
