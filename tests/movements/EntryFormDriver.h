#pragma once

// Driving an entry form as a user would: the form opened on a sandboxed
// database holding a few catalogue codes, fields typed by control name, the
// device chosen from the opened list, buttons pressed.
#include "support/FormTest.h"
#include "support/ScriptedConnection.h"

#include "core/Clock.h"
#include "core/FormContext.h"
#include "core/OperationLog.h"
#include "db/Schema.h"
#include "support/TestSupport.h"
#include "ui/CommandTable.h"
#include "ui/MessageService.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace vok::test {

inline const QString kRefusal = QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!");
inline const QString kRange = QStringLiteral("“请填入一个在1和10000之间的数字。”");
inline const QString kNotANumber = QStringLiteral("请键入一个数。");
inline const QString kDone = QStringLiteral("完成操作！");

class EntryFormDriver
{
public:
    EntryFormDriver()
        : m_sandbox(std::make_unique<Sandbox>()), db(m_sandbox->open()),
          scripted(std::make_shared<ScriptedConnection>(db))
    {
        log.attach(db, QStringLiteral("张三"));
        test::seed(*db, "DEVICE_CODE", {{"B2", "名B2"}, {"a1", "名a1"}, {"C3", "名C3"}});
        Clock::setNow(QDateTime(QDate(2004, 1, 5), QTime(9, 3, 7)));
    }

    template <typename Form> std::unique_ptr<Form> open(int classNumber = 1)
    {
        return openForm<Form>(formContext(scripted, &log, classNumber));
    }

    void stock(const QString& code, float now, float high = 20, float low = 2, float total = 50)
    {
        db->append(QStringLiteral("DEVICE"), schema::Device.columnNames(),
                   {code, now, high, low, total});
    }

    static QWidget* control(QWidget* form, const QString& name)
    {
        return form->findChild<QWidget*>(name);
    }

    // Types into edits; a device list entry is chosen with the list closed.
    static void type(QWidget* form, const Typed& typed) { QVERIFY(test::type(*form, typed)); }

    // Opens the device list, picks the code with the keyboard and lets the
    // list close up.
    static void choose(QWidget* form, const QString& code)
    {
        auto* list = qobject_cast<QComboBox*>(control(form, QStringLiteral("device")));
        QVERIFY(list);
        list->showPopup();
        QTRY_VERIFY(list->view()->isVisible());
        list->view()->setCurrentIndex(list->model()->index(list->findText(code), 0));
        QTest::keyClick(list->view(), Qt::Key_Return);
        QTRY_VERIFY(!list->view()->isVisible());
        QCOMPARE(list->currentText(), code);
        QCoreApplication::processEvents();
    }

    static QString text(QWidget* form, const QString& name)
    {
        QWidget* w = control(form, name);
        if (auto* t = qobject_cast<QPlainTextEdit*>(w))
            return t->toPlainText();
        return qobject_cast<QLineEdit*>(w)->text();
    }

    static void press(QWidget* form, const QString& name) { QVERIFY(test::press(*form, name)); }

    // The help topic the form's help button opens.
    QString helpTopicOf(QWidget* form)
    {
        const qsizetype before = m_sandbox->helpLaunches().size();
        press(form, QStringLiteral("help"));
        if (!QTest::qWaitFor([&] { return m_sandbox->helpLaunches().size() == before + 1; }))
            return QString();
        return m_sandbox->helpLaunches().last().join(u' ');
    }

    static QString focused()
    {
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
    }

    QList<QStringList> rows(const QString& sql) { return test::rows(*db, sql); }
    QList<QStringList> stockRows() { return rows(QStringLiteral("SELECT * FROM DEVICE")); }
    QStringList logged() { return test::logged(*db); }

    // Saves a picture of the form to $VOK_GRAB_DIR/<name>.png when set.
    static void grab(QWidget* form, const QString& name)
    {
        const QString dir = qEnvironmentVariable("VOK_GRAB_DIR");
        if (!dir.isEmpty())
            form->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

private:
    std::unique_ptr<Sandbox> m_sandbox;

public:
    ConnectionPtr db;
    std::shared_ptr<ScriptedConnection> scripted;
    COperationLog log;
};

// The test of one entry form: a fresh driver for each test function.
class EntryFormTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { d = std::make_unique<EntryFormDriver>(); }
    void cleanup() { d.reset(); }

protected:
    static void confirm(QWidget& form) { EntryFormDriver::press(&form, QStringLiteral("confirm")); }
    // Opened for classNumber, typed and confirmed, the form says message,
    // adds no row to table and stays open.
    template <typename Form>
    void expectRefused(int classNumber, const Typed& typed, const QString& message,
                       const QString& table)
    {
        auto f = d->open<Form>(classNumber);
        EntryFormDriver::type(f.get(), typed);
        confirm(*f);
        QCOMPARE(Messages::shownTexts(), QStringList{message});
        QVERIFY(test::table(*d->db, table).isEmpty());
        QVERIFY(f->isVisible());
    }

    std::unique_ptr<EntryFormDriver> d;
};

} // namespace vok::test
