// A Qt 6 text editor that records what it holds: the toolkit's own key handling (keymap refresh,
// compose, input method) is what the tests exercise. Same protocol as the other targets:
// TEXT_FILE gets the whole text after every change, EVENTS_FILE "MAPPED 0x<window>".
// Usage: kq_e2e_qt_target TEXT_FILE EVENTS_FILE [TITLE]
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    const QString textPath = QString::fromLocal8Bit(argv[1]);
    const QString eventsPath = QString::fromLocal8Bit(argv[2]);
    QPlainTextEdit edit;
    edit.setWindowTitle(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("kq-qt-target"));
    edit.resize(400, 200);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        QFile f(textPath);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(edit.toPlainText().toUtf8());
    });
    edit.show();
    QTimer::singleShot(0, [&] {
        QFile f(eventsPath);
        if (f.open(QIODevice::Append))
            f.write(QStringLiteral("MAPPED 0x%1\n").arg(edit.winId(), 0, 16).toUtf8());
    });
    return app.exec();
}
