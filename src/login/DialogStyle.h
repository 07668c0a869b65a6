#pragma once

#include <QColor>
#include <QFont>

class QWidget;

namespace vok {

// The background of the main window and the log-in dialogs, RGB(136,196,196).
inline QColor programBackground()
{
    return QColor(136, 196, 196);
}

// The dialogs' own font: 宋体 9, installed here as AR PL UMing CN.
QFont dialogFont();

// Paints the dialog and every control on it (edits included) on the program
// background; texts are drawn without a background of their own.
void applyProgramStyle(QWidget* dialog);

} // namespace vok
