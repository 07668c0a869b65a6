#pragma once

#include "core/FormContext.h"

#include <QAbstractItemModel>
#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>

class QPrinter;

namespace vok {
class QueryGroup;
class RecordListView;
} // namespace vok

// Driving a form in a test as a user would. The controls are found by
// their object names, which say what they are ("code", "confirm"). The
// checks return false and say why in a warning, so that a test stops at
// them:
//
//     auto form = test::openForm<CDeviceCodeDlg>(test::formContext(db, &log, 1));
//     QVERIFY(test::type(*form, {{"code", "004"}, {"name", "投影仪"}}));
//     QVERIFY(test::press(*form, "add"));
//     QCOMPARE(test::logged(*db), QStringList{"添加设备记录。"});
namespace vok::test {

// The control of type T named name, or nullptr (with a warning).
template <class T> T* control(const QWidget& form, const QString& name)
{
    T* c = form.findChild<T*>(name);
    if (!c)
        qWarning("no %s \"%s\" in the form", T::staticMetaObject.className(), qPrintable(name));
    return c;
}

// The context the main window hands a form.
FormContext formContext(ConnectionPtr connection, COperationLog* log, int classNumber = 1,
                        const QString& userName = QString());

// Shows a form as the main window does: not modally, the active window.
void showOpened(QWidget& form);

// The one way a test opens a form: made with the context the main window
// would hand it, and shown.
template <class Form> std::unique_ptr<Form> openForm(const FormContext& context)
{
    auto form = std::make_unique<Form>(context);
    showOpened(*form);
    return form;
}

// Clicks the button named name; false when the form has none or it is
// disabled (nothing is clicked then).
[[nodiscard]] bool press(QWidget& form, const QString& name);

// Types a text into the control named name: an edit (one line or several) gets the
// text, an editable combo box its edit text, a fixed combo box chooses the
// item of that text. False when there is no such control or no such item.
[[nodiscard]] bool type(QWidget& form, const QString& name, const QString& text);
// Presses a key for each character of text on the focused widget w, as
// typing does (Chinese characters included).
void typeKeys(QWidget* w, const QString& text);

// Types text as a keyboard or a hand scanner does: each key goes to the
// window w belongs to and reaches the widget with the focus, Shift pressed
// before a capital or a shifted sign and released after it (text of ASCII
// characters). After each key, afterKey is called (when given).
void keyboardTypes(QWidget* w, const QString& text, const std::function<void()>& afterKey = {});

// The names assistive technology announces for the controls named names.
QStringList accessibleNames(const QWidget& form, const QStringList& names);

// Typed texts by control name, typed in the order written.
using Typed = QList<std::pair<QString, QString>>;
[[nodiscard]] bool type(QWidget& form, const Typed& typed);

// The texts of the rows a list shows, top row first.
QList<QStringList> listed(const RecordListView& list);
QList<QStringList> listed(const QAbstractItemModel& model);
// One column of a list, top row first.
QStringList listedColumn(const RecordListView& list, int column = 0);
// The rows of the table widget named name, top row first.
QList<QStringList> tableRows(const QWidget& form, const QString& name);
// A query as the user asks it in a form's query group: field, operator
// and value chosen, then the query button clicked.
void query(QueryGroup& group, const QString& field, const QString& op, const QString& value);

// The print dialog answered as a user who prints to a PDF file: the file
// named by file() when the dialog is asked (so that a test may name
// another meanwhile), or cancelled when print is false. Each time it is
// asked adds one to *asked; setUp may change the printer after the choice
// (a paper of its own).
void printToPdf(std::function<QString()> file, bool print = true, int* asked = nullptr,
                std::function<void(QPrinter&)> setUp = {});
inline void printToPdf(const QString& file, bool print = true, int* asked = nullptr)
{
    printToPdf([file] { return file; }, print, asked);
}

// What the operation log holds: do_what of every HOWDO row, in order.
QStringList logged(Connection& c);

// With VOK_SHOT_DIR set, saves a picture of the window as <name>.png and,
// on a real display, the screen part its frame covers (title bar included,
// as the window manager draws it) as <name>-screen.png.
void savePicture(QWidget& window, const QString& name);

} // namespace vok::test
