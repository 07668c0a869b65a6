#include "app/Maintenance.h"
#include "app/RestoreDlg.h"
#include "app/VOKDlg.h"
#include "core/BackupGenerations.h"
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "db/Backup.h"
#include "db/SqliteConnection.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"
#include "ui/MessageService.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sqlite3.h>

using namespace vok;
using Messages::Answer;

class TestMaintenance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void backupAsksForTheFolderAndCopiesEveryDatabase();
    void backupAsksOnceBeforeReplacingTheCopies();
    void restoreBringsBackTheRowsAndReconnects();
    void restoreOfAnOlderGeneration();
    void restoreRefusesTheReadOnlyClass();
    void damagedCopyIsNotRestored_data();
    void damagedCopyIsNotRestored();
    void emptyBackupFolderRestoresNothing();
    void failedReopenPutsTheDataBack();

private:
    QString folder() const { return m_sandbox->dataDir() + QStringLiteral("/备份"); }
    QString copy(int n) const { return folder() + QStringLiteral("/vok%1.db").arg(n); }
    // The departments a backup copies: all five on the server, else the
    // files that exist (VOK1 and VOK3 here).
    QStringList copies() const;
    QString nowNumber(Connection& c);
    // Runs the restore; its list of generations is answered by choosing
    // the row given (-1: as it opens) and "还原", and what it showed is kept.
    void restore(int row = -1);
    QString generationCopy(int index, int n) const;
    QStringList logged(Connection& c);

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    COperationLog m_log;
    CurrentUser m_user;
    int m_replaced = 0;
    QString m_picture;
    QList<QStringList> m_listed;    // the generations the restore listed
    QList<QStringList> m_tableRows; // table, then rows per department
};

void TestMaintenance::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    BackupFolder::setPath(folder());
    m_db = m_sandbox->open();
    m_sandbox->open(QStringLiteral("VOK3"))->close();
    test::seed(*m_db, "DEVICE", {{"001", 5, 10, 1, 8}});
    m_log.attach(m_db, QStringLiteral("张三"));
    m_user = {QStringLiteral("张三"), QStringLiteral("pw"), QStringLiteral("部门A"),
              QStringLiteral("2"), true};
    m_replaced = 0;
    m_picture = QStringLiteral("restore-generations");
}

void TestMaintenance::cleanup()
{
    BackupFolder::setPath(QString());
    m_log.attach(nullptr, {});
    m_db.reset();
    m_sandbox.reset();
}

QStringList TestMaintenance::copies() const
{
    if (test::onServer())
        return {"vok1.db", "vok2.db", "vok3.db", "vok4.db", "vok5.db"};
    return {"vok1.db", "vok3.db"};
}

QString TestMaintenance::nowNumber(Connection& c)
{
    return test::rows(c, "SELECT now_number FROM DEVICE WHERE code=?", {"001"}).value(0).value(0);
}

QStringList TestMaintenance::logged(Connection& c)
{
    QStringList what;
    for (const QStringList& r : test::rows(c, "SELECT do_what FROM HOWDO"))
        what << r.at(0);
    return what;
}

QString TestMaintenance::generationCopy(int index, int n) const
{
    return BackupGenerations::list().at(index).path + QStringLiteral("/vok%1.db").arg(n);
}

void TestMaintenance::restore(int row)
{
    m_listed.clear();
    m_tableRows.clear();
    // Gone with the call when no list was shown.
    QTimer answer;
    answer.setSingleShot(true);
    answer.callOnTimeout([this, row] {
        auto* dlg = qobject_cast<CRestoreDlg*>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        auto* list = dlg->findChild<QTreeWidget*>("generations");
        if (row >= 0)
            list->setCurrentItem(list->topLevelItem(row));
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QStringList texts;
            for (int c = 0; c < list->columnCount(); ++c)
                texts << list->topLevelItem(i)->text(c);
            m_listed << texts;
        }
        auto* rows = dlg->findChild<QTableWidget*>("tableRows");
        for (int r = 0; r < rows->rowCount(); ++r) {
            QStringList texts{rows->verticalHeaderItem(r)->text()};
            for (int c = 0; c < rows->columnCount(); ++c)
                texts << rows->item(r, c)->text();
            m_tableRows << texts;
        }
        test::savePicture(*dlg, m_picture);
        dlg->findChild<QPushButton*>("confirm")->click();
    });
    answer.start(0);
    Maintenance::restoreDatabases(
        m_user, m_log,
        [this](ConnectionPtr c) {
            ++m_replaced;
            m_db = c;
            m_log.attach(c, m_user.userName);
        },
        nullptr);
}

void TestMaintenance::backupAsksForTheFolderAndCopiesEveryDatabase()
{
    Messages::queueAnswer(Answer::No);
    Maintenance::backupDatabases(m_log, nullptr);
    QCOMPARE(
        Messages::shownTexts(),
        QStringList{QStringLiteral("文件夹“%1”不存在。\r\n\r\n是否创建该文件夹？").arg(folder())});
    QVERIFY(!QFileInfo::exists(folder()));

    Messages::clearShown();
    Maintenance::backupDatabases(m_log, nullptr);
    // The folder question, answered yes, and the word of what was done.
    QCOMPARE(Messages::shownTexts().last(), QStringLiteral("已备份 %1 个部门数据库到 %2。")
                                                .arg(QString::number(copies().size()), folder()));
    QCOMPARE(Messages::shown().size(), 2);
    QCOMPARE(Messages::shown().first().buttons, Messages::Buttons::YesNo);
    QCOMPARE(QDir(folder()).entryList(QDir::Files), copies());
    for (const QString& name : copies())
        QCOMPARE(Backup::checkCopy(folder() + "/" + name), QString());
    // The log entry is written first, so the copy holds it.
    QVERIFY(Backup::restoreEmbedded(copy(1), m_sandbox->dataDir() + "/read.db"));
    QCOMPARE(logged(*openSqliteConnection(m_sandbox->dataDir() + "/read.db")),
             QStringList({"备份数据库", "备份数据库"}));
}

void TestMaintenance::backupAsksOnceBeforeReplacingTheCopies()
{
    Clock::setNow(QDateTime(QDate(2026, 12, 9), QTime(17, 30, 45)));
    Maintenance::backupDatabases(m_log, nullptr);
    QFile f(copy(1));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray first = f.readAll();
    f.close();

    // Declined: nothing is copied, nothing is said after.
    Clock::setNow(Clock::now().addSecs(3600));
    Messages::clearShown();
    Messages::queueAnswer(Answer::No);
    Maintenance::backupDatabases(m_log, nullptr);
    const QString question =
        QStringLiteral("文件夹“%1”中已经有上一次的备份（%2）。\r\n\r\n"
                       "是否用现在的数据替换它们？上一次的备份仍保存在“%3”中。")
            .arg(folder(), copies().join("、"), folder() + "/历史");
    QCOMPARE(Messages::shownTexts(), QStringList{question});
    QCOMPARE(Messages::shown().first().buttons, Messages::Buttons::YesNo);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), first);
    f.close();
    QCOMPARE(BackupGenerations::list().size(), 1);

    // Agreed: one question for every department, then the word.
    Messages::clearShown();
    Maintenance::backupDatabases(m_log, nullptr);
    QCOMPARE(Messages::shownTexts(),
             QStringList({question, QStringLiteral("已备份 %1 个部门数据库到 %2。")
                                        .arg(QString::number(copies().size()), folder())}));
    QStringList names;
    for (const GenerationInfo& g : BackupGenerations::list())
        names << g.generation.name;
    QCOMPARE(names, QStringList({"2026-12-09_183045", "2026-12-09_173045"}));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() != first);
}

void TestMaintenance::restoreBringsBackTheRowsAndReconnects()
{
    Maintenance::backupDatabases(m_log, nullptr);
    test::exec(*m_db, "UPDATE DEVICE SET now_number=77 WHERE code=?", {"001"});
    const ConnectionPtr before = m_db;
    Messages::clearShown();
    restore();
    QCOMPARE(m_replaced, 1);
    QVERIFY(m_db != before);
    QCOMPARE(nowNumber(*m_db), QString("5"));
    // The server keeps no row order after the restore's refill: compare as a set.
    QStringList entries = logged(*m_db);
    entries.sort();
    QCOMPARE(entries, QStringList({"备份数据库", "还原数据库"}));
    // One question for every department, then the note of what was done
    // and where the replaced data is.
    const QStringList shown = Messages::shownTexts();
    QCOMPARE(shown.size(), 2);
    QStringList names, kept;
    for (const QString& c : copies()) {
        names << QString("部门") + QChar(u'A' + c.mid(3, 1).toInt() - 1);
        kept << c.chopped(3) + "-还原前.db";
    }
    QCOMPARE(shown.first(), QStringLiteral("是否用 %1 的备份替换 %2 现在的数据？\r\n\r\n"
                                           "现在的数据将另存在文件夹“%3”中（%4）。")
                                .arg(BackupGenerations::list().first().generation.time.toString(
                                         "yyyy-MM-dd HH:mm:ss"),
                                     names.join("、"), m_sandbox->dataDir(), kept.join("、")));
    QVERIFY2(shown.last().startsWith("已还原：部门A、"), qPrintable(shown.last()));
    QVERIFY(shown.last().contains(m_sandbox->dataDir()));
    QVERIFY(shown.last().contains("vok1-还原前.db"));
    // The data as it stood is kept.
    QVERIFY(Backup::restoreEmbedded(Maintenance::keptCopyFile("VOK1"),
                                    m_sandbox->dataDir() + "/kept.db"));
    QCOMPARE(nowNumber(*openSqliteConnection(m_sandbox->dataDir() + "/kept.db")), QString("77"));
}

void TestMaintenance::restoreOfAnOlderGeneration()
{
    Clock::setNow(QDateTime(QDate(2026, 12, 8), QTime(9, 0, 0)));
    Maintenance::backupDatabases(m_log, nullptr);
    test::exec(*m_db, "UPDATE DEVICE SET now_number=77 WHERE code=?", {"001"});
    test::seed(*m_db, "DEVICE_CODE", {{"001", "投影仪"}});
    Clock::setNow(QDateTime(QDate(2026, 12, 9), QTime(17, 30, 45)));
    Maintenance::backupDatabases(m_log, nullptr);
    test::exec(*m_db, "UPDATE DEVICE SET now_number=99 WHERE code=?", {"001"});

    Messages::clearShown();
    restore(1);
    QCOMPARE(nowNumber(*m_db), QString("5"));
    QCOMPARE(test::rows(*m_db, "SELECT code FROM DEVICE_CODE").size(), 0);
    QVERIFY(Backup::restoreEmbedded(Maintenance::keptCopyFile("VOK1"),
                                    m_sandbox->dataDir() + "/kept.db"));
    QCOMPARE(nowNumber(*openSqliteConnection(m_sandbox->dataDir() + "/kept.db")), QString("99"));

    // Listed newest first; the rows of the chosen one under the list.
    const QString departments =
        test::onServer() ? "部门A、部门B、部门C、部门D、部门E" : "部门A、部门C";
    QCOMPARE(m_listed.size(), 2);
    QCOMPARE(m_listed.at(0).mid(0, 2), QStringList({"2026-12-09 17:30:45", departments}));
    QCOMPARE(m_listed.at(1).mid(0, 2), QStringList({"2026-12-08 09:00:00", departments}));
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9.]+ [KM]B$"))
                 .match(m_listed.at(1).at(2))
                 .hasMatch(),
             qPrintable(m_listed.at(1).at(2)));
    QCOMPARE(m_listed.at(1).at(3), QString("完好"));
    const auto rowsOf = [this](const QString& table) {
        for (const QStringList& r : std::as_const(m_tableRows))
            if (r.first() == table)
                return r.mid(1);
        return QStringList();
    };
    QCOMPARE(rowsOf("设备代码"), QStringList(copies().size(), "0"));
    QCOMPARE(rowsOf("设备库存"), QStringList{"1"} + QStringList(copies().size() - 1, "0"));
    QCOMPARE(rowsOf("操作日志").first(), QString("1")); // "备份数据库"
}

void TestMaintenance::restoreRefusesTheReadOnlyClass()
{
    Maintenance::backupDatabases(m_log, nullptr);
    test::exec(*m_db, "UPDATE DEVICE SET now_number=77");
    Messages::clearShown();
    m_user.classText = "3";
    restore();
    QCOMPARE(Messages::shownTexts(), QStringList{"你无权执行此项操作!\r\n请重新登录数据库!"});
    QCOMPARE(m_replaced, 0);
    QCOMPARE(nowNumber(*m_db), QString("77"));
}

void TestMaintenance::damagedCopyIsNotRestored_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("problem");
    QTest::newRow("截短") << "truncate"
                          << "已损坏"
                          << "部门A的副本 vok1.db 的大小与记录不符。";
    const QString changed = "部门A的副本 vok1.db 的内容与记录不符（SHA-256 不同），"
                            "它在备份之后被改动过。";
    QTest::newRow("改了一个字节") << "byte"
                                  << "已损坏" << changed;
    // Listed from an earlier reading of the file, read again before any
    // copying.
    QTest::newRow("改动后时间不变") << "byte, time kept"
                                    << "完好" << changed;
    QTest::newRow("记录中部门互换")
        << "departments swapped"
        << "已损坏"
        << "记录把文件 vok1.db 记作部门C的副本，部门C的副本应是 vok3.db。";
    QTest::newRow("文件和记录都互换")
        << "files swapped"
        << "已损坏"
        << "文件 vok1.db 中是部门C的数据，记录却把它记作部门A的副本。";
    // A record written anew for the changed copy: the copy's own check.
    QTest::newRow("外来的触发器")
        << "trigger"
        << "完好"
        << "部门A（vok1.db）：副本中有本系统不建立的触发器“wipe”：CREATE TRIGGER wipe AFTER "
           "INSERT ON howdo BEGIN DELETE FROM device; END";
}

void TestMaintenance::damagedCopyIsNotRestored()
{
    QFETCH(QString, damage);
    QFETCH(QString, listed);
    QFETCH(QString, problem);
    Maintenance::backupDatabases(m_log, nullptr);
    const QString damaged = generationCopy(0, 1);
    const QString record = QFileInfo(damaged).path() + "/内容.json";
    QFile f(damaged);
    const auto editRecord = [&](const std::function<void(QJsonArray&)>& edit) {
        QFile r(record);
        QVERIFY(r.open(QIODevice::ReadOnly));
        QJsonObject o = QJsonDocument::fromJson(r.readAll()).object();
        r.close();
        QJsonArray copies = o["copies"].toArray();
        edit(copies);
        o["copies"] = copies;
        QVERIFY(r.open(QIODevice::WriteOnly | QIODevice::Truncate));
        r.write(QJsonDocument(o).toJson());
    };
    // The entries of VOK1 and VOK3.
    const auto swap = [](QJsonArray& copies, const QStringList& fields) {
        QJsonObject a = copies[0].toObject(), b = copies[1].toObject();
        QCOMPARE(b["dsn"].toString(), QString("VOK3"));
        for (const QString& field : fields) {
            const QJsonValue v = a[field];
            a[field] = b[field];
            b[field] = v;
        }
        copies[0] = a;
        copies[1] = b;
    };
    if (test::onServer()) // the entry of VOK3 second, as on the embedded engine
        editRecord([](QJsonArray& copies) { copies.removeAt(1); });
    if (damage == "truncate") {
        QVERIFY(f.resize(f.size() / 2));
    } else if (damage.startsWith("byte")) {
        BackupGenerations::list(BackupGenerations::Verify::CachedHashes);
        const QDateTime modified = QFileInfo(damaged).lastModified();
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() - 100);
        const char byte = f.read(1).at(0);
        f.seek(f.size() - 100);
        f.write(QByteArray(1, char(byte ^ 1)));
        f.close();
        // Kept as it was, or clearly later.
        QVERIFY(f.open(QIODevice::ReadWrite) &&
                f.setFileTime(damage.endsWith("time kept") ? modified : modified.addSecs(5),
                              QFileDevice::FileModificationTime));
        f.close();
    } else if (damage == "departments swapped") {
        editRecord([&](QJsonArray& copies) { swap(copies, {"dsn"}); });
    } else if (damage == "files swapped") {
        const QString other = generationCopy(0, 3);
        QVERIFY(QFile::rename(damaged, damaged + ".x") && QFile::rename(other, damaged) &&
                QFile::rename(damaged + ".x", other));
        editRecord([&](QJsonArray& copies) { swap(copies, {"size", "sha256", "rows"}); });
    } else {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(damaged).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TRIGGER wipe AFTER INSERT ON howdo BEGIN DELETE FROM "
                              "device; END",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        editRecord([&](QJsonArray& copies) {
            QJsonObject a = copies[0].toObject();
            a["size"] = QFileInfo(damaged).size();
            a["sha256"] = QString::fromLatin1(Backup::sha256Of(damaged));
            copies[0] = a;
        });
    }
    test::exec(*m_db, "UPDATE DEVICE SET now_number=77");
    Messages::clearShown();
    m_picture = QStringLiteral("restore-damaged-") + QTest::currentDataTag();
    restore();
    QCOMPARE(m_listed.first().at(3), listed);
    QCOMPARE(Messages::shownTexts(), QStringList{"所选的备份已损坏，不能还原：\r\n" + problem +
                                                 "\r\n\r\n没有还原任何数据。请选择另一个备份。"});
    QCOMPARE(Messages::shown().last().icon, Messages::Icon::Exclamation);
    QCOMPARE(m_replaced, 0);
    QCOMPARE(nowNumber(*m_db), QString("77"));
    QVERIFY(!QFileInfo::exists(Maintenance::keptCopyFile("VOK1")));
    QCOMPARE(nowNumber(*m_sandbox->open()), QString("77"));
}

void TestMaintenance::emptyBackupFolderRestoresNothing()
{
    QDir().mkpath(folder());
    restore();
    QCOMPARE(Messages::shownTexts(),
             QStringList{
                 QStringLiteral("备份文件夹“%1”中没有备份文件，没有还原任何数据。").arg(folder())});
    QCOMPARE(m_replaced, 1);
    QCOMPARE(nowNumber(*m_db), QString("5"));
    QCOMPARE(logged(*m_db), QStringList{"还原数据库"});
}

void TestMaintenance::failedReopenPutsTheDataBack()
{
    Maintenance::backupDatabases(m_log, nullptr);
    test::exec(*m_db, "UPDATE DEVICE SET now_number=77");
    m_user.department = "部门X";
    Messages::clearShown();
    restore();
    QCOMPARE(m_replaced, 0);
    QVERIFY(m_db->isOpen());
    QCOMPARE(nowNumber(*m_db), QString("77"));
    QCOMPARE(Messages::shownTexts().last(),
             QStringLiteral("无法重新连接数据库：部门“部门X”不是可以连接的部门。\r\n"
                            "还原前的数据已经放回，程序继续使用原来的连接。"));
    QCOMPARE(logged(*m_db), QStringList{"备份数据库"});
}

QTEST_MAIN(TestMaintenance)
#include "tst_maintenance.moc"
