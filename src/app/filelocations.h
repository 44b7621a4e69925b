#pragma once
// Where Keyquill keeps its files. A copy in a folder the user can write (or one that already
// holds config.ini: a portable copy) keeps config.ini beside itself; an installed one, in a
// folder like /usr/bin, keeps it in $XDG_CONFIG_HOME/keyquill/ (~/.config/keyquill/).
#include <QString>

namespace kq {

QString ProgramFolder();
// The settings file, and whether it lives in the program's folder.
QString SettingsFilePath();
// Creates the folder of the settings file when it is the per-user one; false when it cannot.
bool EnsureSettingsFolder(QString* error = nullptr);
// Where the Load and Save dialogs open: the program's folder when writable, else the folder used
// last (remembered beside the settings), else the home folder.
QString DialogStartFolder();
void RememberDialogFolder(const QString& chosenFile);

} // namespace kq
