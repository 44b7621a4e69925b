#include "windows/dialogs.h"

#include "app/filelocations.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QWidget>

namespace kq {
namespace {

QString toQ(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString askFile(QWidget* parent, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, QStringLiteral("Keyquill"), DialogStartFolder(),
                       QStringLiteral("Macro tool (*.txt)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    RememberDialogFolder(dialog.selectedFiles().first());
    return dialog.selectedFiles().first();
}

} // namespace

Answer ShowMessageBox(QWidget* parent, std::string_view text, MessageKind kind, std::string_view title) {
    QMessageBox box(parent);
    box.setWindowTitle(toQ(title));
    box.setText(toQ(text));
    if (kind == MessageKind::Question) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::No ? Answer::No : Answer::Yes;
    }
    box.setIcon(kind == MessageKind::Critical  ? QMessageBox::Critical
                : kind == MessageKind::Warning ? QMessageBox::Warning
                                               : QMessageBox::Information);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

int16_t CheckValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void SetCheckValue(QCheckBox* box, int value) {
    box->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

QString AskOpenFileName(QWidget* parent) {
    return askFile(parent, QFileDialog::AcceptOpen);
}
QString AskSaveFileName(QWidget* parent) {
    return askFile(parent, QFileDialog::AcceptSave);
}

void ApplyProgramFont(QWidget* w, bool bold) {
    // The windows are laid out for Tahoma's widths. Debian's fonts-wine has a font with those
    // metrics but does not register it with fontconfig, so it is loaded from its file. Without
    // either, a condensed sans serif keeps most captions whole, and the system's own sans serif
    // is the last resort.
    static const QString family = [] {
        const QString tahoma = QStringLiteral("Tahoma");
        if (QFontDatabase::hasFamily(tahoma)) return tahoma;
        for (const char* file : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
            if (QFile::exists(QString::fromLatin1(file)))
                QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        if (QFontDatabase::hasFamily(tahoma)) return tahoma;
        if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans Condensed")))
            return QStringLiteral("DejaVu Sans Condensed");
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    QFont font(family);
    font.setPointSizeF(8.25);
    font.setBold(bold);
    w->setFont(font);
}

} // namespace kq
