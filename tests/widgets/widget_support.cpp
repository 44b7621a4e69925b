#include "widget_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kq::test {

Program::Program() {
    g.filter = &keyboard;
    g.capsLock = &keyboard;
    g.sender = &keyboard;
    lock = std::make_unique<InstanceLock>(TempPath("instance.lock"));
    main = new frmMain(g);
    started = main->Form_Load(*lock);
}

Program::~Program() {
    delete main;
    if (g.ShuttingDown) {
        // Shutdown asked the application to end; with no loop running that leaves Qt's quit flag
        // set and every later modal dialog would return at once. Run the loop once to clear it.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
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

void AnswerFileDialog(const QString& path, bool* seen) {
    AnswerNextDialog(
        [path](QWidget* w) {
            auto* edit = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!edit) return w->close(), void();
            edit->setText(path);
            QTest::keyClick(edit, Qt::Key_Return);
        },
        seen);
}

void AnswerMessageBox(const QString& button, QString* text) {
    AnswerNextDialog([button, text](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) return w->close(), void();
        if (text) *text = box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove(QLatin1Char('&')) == button) return b->click(), void();
        box->close();
    });
}

Verdict Press(Program& p, uint32_t vk) {
    const Verdict down = p.keyboard.inject(MsgKeyDown, vk);
    EXPECT_EQ(p.keyboard.inject(MsgKeyUp, vk), down);
    return down;
}

std::string TakeTyped(Program& p) {
    std::string typed = p.keyboard.typedText();
    p.keyboard.sends.clear();
    return typed;
}

std::string TempPath(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() / ("kq-widgets-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace kq::test
