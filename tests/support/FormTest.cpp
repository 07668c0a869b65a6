#include "support/FormTest.h"

#include "support/TestSupport.h"
#include "ui/PrintReport.h"
#include "ui/QueryGroup.h"
#include "ui/RecordListView.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QWindow>

namespace vok::test {

FormContext formContext(ConnectionPtr connection, COperationLog* log, int classNumber,
                        const QString& userName)
{
    FormContext context;
    context.classNumber = classNumber;
    context.connection = std::move(connection);
    context.log = log;
    context.userName = userName;
    return context;
}

void showOpened(QWidget& form)
{
    form.show();
    QApplication::setActiveWindow(&form);
}

bool press(QWidget& form, const QString& name)
{
    auto* b = control<QPushButton>(form, name);
    if (!b)
        return false;
    if (!b->isEnabled()) {
        qWarning("button \"%s\" is disabled", qPrintable(name));
        return false;
    }
    QTest::mouseClick(b, Qt::LeftButton);
    return true;
}

bool type(QWidget& form, const QString& name, const QString& text)
{
    QWidget* w = form.findChild<QWidget*>(name);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(text);
        return true;
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
        edit->setPlainText(text);
        return true;
    }
    if (auto* edit = qobject_cast<QDateEdit*>(w)) {
        edit->setDate(QDate::fromString(text, QStringLiteral("yyyy-M-d")));
        return edit->date().isValid();
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable()) {
            combo->setEditText(text);
            return true;
        }
        combo->setCurrentIndex(combo->findText(text));
        if (combo->currentIndex() >= 0)
            return true;
        qWarning("\"%s\" lists no \"%s\"", qPrintable(name), qPrintable(text));
        return false;
    }
    qWarning("no edit or combo box \"%s\" in the form", qPrintable(name));
    return false;
}

bool type(QWidget& form, const Typed& typed)
{
    for (const auto& [name, text] : typed)
        if (!type(form, name, text))
            return false;
    return true;
}

QList<QStringList> listed(const RecordListView& list)
{
    QList<QStringList> rows;
    const RecordListModel* model = list.records();
    // Every row, those of a long list not read yet included.
    const int n = model->countAll();
    for (int r = 0; r < n; ++r)
        rows << model->rowTexts(r);
    return rows;
}

QList<QStringList> listed(const QAbstractItemModel& model)
{
    QList<QStringList> rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList texts;
        for (int c = 0; c < model.columnCount(); ++c)
            texts << model.index(r, c).data().toString();
        rows << texts;
    }
    return rows;
}

QStringList listedColumn(const RecordListView& list, int column)
{
    QStringList texts;
    for (const QStringList& row : listed(list))
        texts << row.value(column);
    return texts;
}

QList<QStringList> tableRows(const QWidget& form, const QString& name)
{
    const auto* table = control<QTableView>(form, name);
    return table ? listed(*table->model()) : QList<QStringList>();
}

void query(QueryGroup& group, const QString& field, const QString& op, const QString& value)
{
    group.fieldCombo()->setCurrentText(field);
    group.operatorCombo()->setCurrentText(op);
    group.valueEdit()->setText(value);
    QTest::mouseClick(group.queryButton(), Qt::LeftButton);
}

QStringList logged(Connection& c)
{
    QStringList what;
    for (const QStringList& r : table(c, QStringLiteral("HOWDO")))
        what << r.value(1); // in the order written
    return what;
}

void typeKeys(QWidget* w, const QString& text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void keyboardTypes(QWidget* w, const QString& text, const std::function<void()>& afterKey)
{
    static const QString shifted = QStringLiteral("~!@#$%^&*()_+{}|:\"<>?");
    QWindow* window = w->window()->windowHandle();
    for (QChar c : text) {
        const char ascii = c.toLatin1();
        const bool shift = c.isUpper() || shifted.contains(c);
        if (shift)
            QTest::keyPress(window, Qt::Key_Shift);
        QTest::keyClick(window, ascii, shift ? Qt::ShiftModifier : Qt::NoModifier);
        if (shift)
            QTest::keyRelease(window, Qt::Key_Shift, Qt::ShiftModifier);
        if (afterKey)
            afterKey();
    }
}

QStringList accessibleNames(const QWidget& form, const QStringList& names)
{
    QStringList announced;
    for (const QString& name : names) {
        QAccessibleInterface* a =
            QAccessible::queryAccessibleInterface(form.findChild<QWidget*>(name));
        announced << (a ? a->text(QAccessible::Name) : QStringLiteral("(no %1)").arg(name));
    }
    return announced;
}

void printToPdf(std::function<QString()> file, bool print, int* asked,
                std::function<void(QPrinter&)> setUp)
{
    PrintService::setChooser([file = std::move(file), print, asked,
                              setUp = std::move(setUp)](QPrinter& printer, QWidget*) {
        if (asked)
            ++*asked;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file());
        if (setUp)
            setUp(printer);
        return print;
    });
}

void savePicture(QWidget& window, const QString& name)
{
    const QString dir = qEnvironmentVariable("VOK_SHOT_DIR");
    if (dir.isEmpty())
        return;
    window.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // The window manager's frame, then a first paint inside it.
    if (!QTest::qWaitFor([&] { return window.frameGeometry() != window.geometry(); }, 2000))
        qWarning("no window manager frame around %s", qPrintable(name));
    QTest::qWait(200);
    const QRect frame = window.frameGeometry();
    window.screen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(dir + QLatin1Char('/') + name + QStringLiteral("-screen.png"));
}

} // namespace vok::test
