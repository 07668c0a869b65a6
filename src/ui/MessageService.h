#pragma once

#include <QList>
#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace vok {

// The application title: the program file's name without its extension.
QString appTitle();

// Every message box of the program goes through here. Tests switch the
// service to test mode: then no box is shown, answers come from a queue
// set in advance (or the box's default button), and every box shown is
// recorded with its text, caption, icon and buttons.
namespace Messages {

enum class Icon
{
    None,
    Information,
    Exclamation,
    Stop,
    Question
};
enum class Buttons
{
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel
};
enum class Answer
{
    Ok,
    Cancel,
    Yes,
    No
};

struct Shown
{
    QString text;
    QString caption;
    Icon icon;
    Buttons buttons;
};

// Shows a box; an empty caption shows the application title. Line breaks
// may be written "\r\n" as in the program's texts.
Answer show(const QString& text, const QString& caption = QString(), Icon icon = Icon::None,
            Buttons buttons = Buttons::Ok, QWidget* parent = nullptr);

// An OK-only notice; by default without an icon under the application title.
void notice(const QString& text, QWidget* parent = nullptr, const QString& caption = QString(),
            Icon icon = Icon::None);

// The box show() runs, made but neither shown nor recorded: for a look at it
// while it stays open (show() waits for the user's answer).
std::unique_ptr<QMessageBox> makeBox(const QString& text, const QString& caption = QString(),
                                     Icon icon = Icon::None, Buttons buttons = Buttons::Ok,
                                     QWidget* parent = nullptr);

// Test hooks.
void setTestMode(bool on);
bool testMode();
void queueAnswer(Answer answer);
const QList<Shown>& shown();
QStringList shownTexts();
void clearShown();

} // namespace Messages

} // namespace vok
