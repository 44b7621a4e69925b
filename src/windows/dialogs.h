#pragma once
// Modal message box and file dialogs, in one place so every window asks the same way.
#include "engine/messages.h"

#include <QString>

#include <cstdint>
#include <string_view>

class QCheckBox;
class QWidget;

namespace kq {

Answer ShowMessageBox(QWidget* parent, std::string_view text, MessageKind kind, std::string_view title);
// Qt's own dialogs (not the desktop's), starting in the program's folder with the filter
// "Macro tool (*.txt)". Empty when cancelled.
QString AskOpenFileName(QWidget* parent);
QString AskSaveFileName(QWidget* parent);
// The program's font: Tahoma 8.25 pt, or a font with its metrics, else a sans serif at that size.
void ApplyProgramFont(QWidget* w, bool bold = false);

// A check box's value as the program counts it: 0 unticked, 1 ticked, 2 greyed.
int16_t CheckValue(const QCheckBox* box);
void SetCheckValue(QCheckBox* box, int value);

} // namespace kq
