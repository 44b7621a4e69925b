#include "app/filelocations.h"

#include "files/settingsfile.h"
#include "files/textcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace kq {
namespace {

bool writableFolder(const QString& dir) {
    return ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

QString settingsName() {
    return QString::fromLatin1(kSettingsFileName.data(), static_cast<qsizetype>(kSettingsFileName.size()));
}

QString userFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/keyquill");
}

bool portable() {
    const QString dir = ProgramFolder();
    return QFileInfo::exists(dir + QLatin1Char('/') + settingsName()) || writableFolder(dir);
}

QString lastFolderFile() {
    return userFolder() + QStringLiteral("/lastfolder");
}

} // namespace

QString ProgramFolder() {
    return QCoreApplication::applicationDirPath();
}

QString SettingsFilePath() {
    return (portable() ? ProgramFolder() : userFolder()) + QLatin1Char('/') + settingsName();
}

bool EnsureSettingsFolder(QString* error) {
    if (portable() || QDir().mkpath(userFolder())) return true;
    if (error) *error = QStringLiteral("cannot create the folder ") + userFolder();
    return false;
}

QString DialogStartFolder() {
    if (writableFolder(ProgramFolder())) return ProgramFolder();
    if (const auto bytes = ReadFileBytes(lastFolderFile().toStdString())) {
        const QString dir = QString::fromUtf8(bytes->data(), static_cast<qsizetype>(bytes->size())).trimmed();
        if (QFileInfo(dir).isDir()) return dir;
    }
    return QDir::homePath();
}

void RememberDialogFolder(const QString& chosenFile) {
    if (chosenFile.isEmpty() || writableFolder(ProgramFolder()) || !QDir().mkpath(userFolder())) return;
    WriteFileBytes(lastFolderFile().toStdString(), QFileInfo(chosenFile).absolutePath().toStdString() + "\n");
}

} // namespace kq
