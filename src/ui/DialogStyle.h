#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLineEdit;
class QWidget;

namespace vok {

// The background of the main window and the log-in dialogs, RGB(136,196,196).
inline QColor programBackground()
{
    return QColor(136, 196, 196);
}

// The one interface font of every window and box: a legible CJK sans face
// (the printed 宋体 keeps its own mapping in the reports).
QFont dialogFont();

// Makes dialogFont() the application's font and draws password masks with
// a bullet of text size. Called once when the program starts.
void applyInterfaceStyle();

// A field the user reads but does not edit, drawn on the window colour so
// that it looks read-only.
void showReadOnly(QLineEdit* edit);

// Paints the dialog and every control on it (edits included) on the program
// background; texts are drawn without a background of their own. The
// dialog opens centred over its parent, or on the screen when the parent
// is hidden or minimised.
void applyProgramStyle(QWidget* dialog);

} // namespace vok
