// The embedded database file as other tools and accidents meet it: the
// sqlite3 shell writes it, a file of an earlier version is upgraded in
// place, foreign, incomplete and damaged files are refused untouched, and
// every confirmed change is in the .db file alone.
#include "db/Backup.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMap>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace vok;

namespace {

// Runs SQL in the sqlite3 shell (no function of this program registered);
// its output, or the error text prefixed with "error: ". With keepWal the
// shell leaves its changes in the -wal file beside the file.
QString shell(const QString& file, const QString& sql, bool keepWal = false)
{
    QProcess p;
    QStringList args{QStringLiteral("-bail"), file, sql};
    if (keepWal)
        args =
            QStringList{QStringLiteral("-cmd"), QStringLiteral(".dbconfig no_ckpt_on_close on")} +
            args;
    p.start(QStringLiteral("sqlite3"), args);
    p.waitForFinished(60000);
    const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (p.exitCode() != 0 || !err.isEmpty())
        return QStringLiteral("error: ") + err;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QByteArray digest(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// The department's file and those beside it (-wal, -shm), each with its
// bytes' digest.
QMap<QString, QByteArray> filesOf(const QString& file)
{
    QMap<QString, QByteArray> out;
    const QFileInfo info(file);
    for (const QString& name : info.dir().entryList({info.fileName() + '*'}, QDir::Files))
        out.insert(name, name.endsWith("-shm") ? QByteArray() : digest(info.dir().filePath(name)));
    return out;
}

// A value of each column for the shell's n-th row: dates as given, texts
// distinct per row (a stock row's code is unique).
QString literal(const ColumnDef& c, const QString& date, int n)
{
    if (c.kind == ColumnKind::DateTime || c.kind == ColumnKind::Date)
        return QLatin1Char('\'') + date + QLatin1Char('\'');
    if (c.field == FieldKind::Single)
        return QStringLiteral("1");
    return QLatin1Char('\'') + c.name + QString::number(n) + QLatin1Char('\'');
}

QString insertRow(const TableDef& t, const QString& date, int n)
{
    QStringList values;
    for (const ColumnDef& c : t.columns)
        values << literal(c, date, n);
    return QStringLiteral("INSERT INTO \"%1\" VALUES (%2);").arg(t.name, values.join(','));
}

} // namespace

class TestDatabaseFile : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }
    void fullDiskIsToldInChinese();

    void otherToolsWriteEveryTable();
    void earlierVersionsFileIsUpgradedInPlace();
    void fileWithoutAdjustmentsGainsThem();
    void fileWithoutIndexesGainsThem();
    void fileWithoutLaterColumnsGainsThem_data();
    void fileWithoutLaterColumnsGainsThem();
    void unusableFilesAreRefusedUntouched_data();
    void unusableFilesAreRefusedUntouched();
    void damagedFileIsRefused_data();
    void damagedFileIsRefused();
    void confirmedChangesAreInTheFileAlone_data();
    void confirmedChangesAreInTheFileAlone();
    void failuresAreToldInChinese();
    void newDatabaseIsPrivate();

private:
    QString file() const { return m_sandbox->dataDir() + "/vok1.db"; }
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void TestDatabaseFile::otherToolsWriteEveryTable()
{
    m_sandbox->open()->close();
    QString sql;
    for (const TableDef* t : schema::all())
        sql += insertRow(*t, "2004-1-5 9:3:7", 1) + insertRow(*t, "2004-01-06 10:00:00", 2);
    QCOMPARE(shell(file(), sql), QString());

    auto c = m_sandbox->open();
    for (const TableDef* t : schema::all()) {
        QCOMPARE(c->count({t->name}), 2);
        for (const ColumnDef& col : t->columns) {
            if (col.kind != ColumnKind::DateTime && col.kind != ColumnKind::Date)
                continue;
            // Found by a date bound as the browsers bind it, changed, then deleted.
            const TableRows dated{
                t->name, SqlText::name(col.name) + SqlText("=?"), {"2004-01-05 09:03:07"}};
            QCOMPARE(c->count(dated), 1);
            if (t->hasRowRecord) {
                test::updateRow(*c, dated, *t, [](RowRecord& r) { r.setText(0, "9"); });
                QCOMPARE(
                    c->count(
                        {t->name, SqlText::name(t->columns.front().name) + SqlText("=?"), {"9"}}),
                    1);
            }
            QCOMPARE(c->remove(dated), 1);
            // The shell changes the other row's date, unpadded: still found.
            QCOMPARE(
                shell(file(),
                      QStringLiteral("UPDATE \"%1\" SET %2='2005-2-3'").arg(t->name, col.name)),
                QString());
            QCOMPARE(
                c->count(
                    {t->name, SqlText::name(col.name) + SqlText("=?"), {"2005-02-03 00:00:00"}}),
                1);
            break;
        }
    }
}

void TestDatabaseFile::earlierVersionsFileIsUpgradedInPlace()
{
    m_sandbox->open()->close();
    // This version's own file is left as it is.
    const QString version = shell(file(), "PRAGMA schema_version");
    m_sandbox->open()->close();
    QCOMPARE(shell(file(), "PRAGMA schema_version"), version);
    // An earlier version's file: its rows as they were, and date triggers
    // calling a function of that program only.
    QCOMPARE(shell(file(), "DROP TRIGGER DEVICE_IN_in_date_ins; DROP TRIGGER DEVICE_IN_in_date_upd;"
                           "INSERT INTO DEVICE_IN (code,in_date) VALUES ('old','2004-1-5 9:3:7');"
                           "CREATE TRIGGER DEVICE_IN_in_date_ins AFTER INSERT ON DEVICE_IN "
                           "WHEN NEW.in_date IS NOT vok_datetime(NEW.in_date) BEGIN UPDATE "
                           "DEVICE_IN SET in_date = vok_datetime(in_date) WHERE rowid = "
                           "NEW.rowid; END;"
                           // and one of another version that normalises nothing
                           "DROP TRIGGER DEVICE_OUT_out_date_ins;"
                           "CREATE TRIGGER DEVICE_OUT_out_date_ins AFTER INSERT ON DEVICE_OUT "
                           "BEGIN SELECT 1; END;"),
             QString());
    QVERIFY(shell(file(), "INSERT INTO DEVICE_IN (code) VALUES ('x')")
                .contains("no such function: vok_datetime"));

    auto c = m_sandbox->open();
    QCOMPARE(test::rows(*c, "SELECT code, in_date FROM DEVICE_IN"),
             (QList<QStringList>{{"old", "2004-1-5 9:3:7"}}));
    QCOMPARE(c->count({"sqlite_master", SqlText("sql LIKE ?"), {"%vok_datetime%"}}), 0);
    QCOMPARE(c->count({"sqlite_master", SqlText("type=?"), {"trigger"}}),
             schema::sqliteTriggers().size());
    QCOMPARE(shell(file(), "INSERT INTO DEVICE_IN (code,in_date) VALUES ('new','2004-2-1 8:0');"
                           "SELECT in_date FROM DEVICE_IN WHERE code='new';"
                           "INSERT INTO DEVICE_OUT (code,out_date) VALUES ('new','2004-2-1 8:0');"
                           "SELECT out_date FROM DEVICE_OUT WHERE code='new'"),
             QStringLiteral("2004-02-01 08:00:00\n2004-02-01 08:00:00"));
}

void TestDatabaseFile::fileWithoutAdjustmentsGainsThem()
{
    m_sandbox->open()->close();
    QString sql = "DROP TABLE DEVICE_ADJUST;";
    for (const TableDef* t : schema::all())
        if (t != &schema::DeviceAdjust)
            sql += insertRow(*t, "2004-1-5 9:3:7", 1);
    QCOMPARE(shell(file(), sql), QString());
    const QString everyRow = "SELECT * FROM DEVICE_CODE; SELECT * FROM DEVICE; SELECT * FROM "
                             "DEVICE_IN; SELECT * FROM HOWDO; SELECT * FROM user;";
    const QString rowsBefore = shell(file(), everyRow);

    auto c = m_sandbox->open();
    QCOMPARE(shell(file(), everyRow), rowsBefore);
    QCOMPARE(c->count({"DEVICE_ADJUST"}), 0);
    QCOMPARE(c->count({"sqlite_master", SqlText("type=?"), {"trigger"}}),
             schema::sqliteTriggers().size());
    test::seed(*c, "DEVICE_ADJUST", {{"a", "2004-2-1 8:0"}});
    QCOMPARE(test::rows(*c, "SELECT adjust_time FROM DEVICE_ADJUST"),
             (QList<QStringList>{{"2004-02-01 08:00:00"}}));
}

// The program's indexes, by lower-case name, as the file has them.
QStringList indexesOf(Connection& c)
{
    QStringList names;
    for (const QStringList& row :
         test::rows(c, "SELECT lower(name) FROM sqlite_master WHERE type='index' AND sql IS NOT "
                       "NULL ORDER BY 1"))
        names << row.first();
    return names;
}

void TestDatabaseFile::fileWithoutIndexesGainsThem()
{
    QStringList want;
    for (const IndexDef& i : schema::indexes())
        want << i.name.toLower();
    want.sort();
    QCOMPARE(indexesOf(*m_sandbox->open()), want);

    // A file of an earlier version: the indexes are made on opening, each
    // told, and a site's own index stays.
    QString sql = "CREATE INDEX site_own ON DEVICE_IN(buyer);";
    for (const IndexDef& i : schema::indexes())
        sql += "DROP INDEX " + i.name + ";";
    sql += insertRow(schema::DeviceIn, "2004-1-5 9:3:7", 1);
    QCOMPARE(shell(file(), sql), QString());
    QStringList told;
    setSchemaUpgradeNotice([&](const QString& status) { told << status; });
    auto c = m_sandbox->open();
    setSchemaUpgradeNotice({});
    QStringList withOwn = QStringList(want) << "site_own";
    withOwn.sort();
    QCOMPARE(indexesOf(*c), withOwn);
    QCOMPARE(told.size(), want.size() + 1);
    QCOMPARE(told.first(),
             QStringLiteral("正在为数据库文件“%1”建立索引 DEVICE_IN_by_code（1/%2），请稍候…")
                 .arg(QDir::toNativeSeparators(file()))
                 .arg(want.size()));
    QCOMPARE(told.last(), QString());
    QCOMPARE(c->count({"DEVICE_IN", SqlText("code=?"), {"code1"}}), 1);
    // The sqlite3 shell reads and writes the file with them.
    QCOMPARE(shell(file(), "INSERT INTO DEVICE_IN (code) VALUES ('code1');"
                           "SELECT COUNT(*) FROM DEVICE_IN WHERE code='code1'"),
             QStringLiteral("2"));
}

// A file made before a table's later columns (the closed months before
// the transfers' figures, the adjustments before the opening price):
// restorable as it is, and on opening the columns are added at the end,
// empty in its rows; the file so changed is restorable too.
void TestDatabaseFile::fileWithoutLaterColumnsGainsThem_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("insert"); // a row of the older table
    QTest::addColumn<QString>("select"); // its columns, some of them later ones
    QTest::addColumn<QStringList>("row");
    QTest::newRow("closed months")
        << "DEVICE_PERIOD"
        << "INSERT INTO DEVICE_PERIOD (period, code, close_number, close_amount) VALUES "
           "('2004-01', 'a', 2, '3.00')"
        << "SELECT code, close_amount, transfer_in_number, transfer_out_amount FROM DEVICE_PERIOD"
        << QStringList{"a", "3.00", "", ""};
    QTest::newRow("adjustments") << "DEVICE_ADJUST"
                                 << "INSERT INTO DEVICE_ADJUST (code, before_number, "
                                    "after_number) VALUES ('a', 0, 2)"
                                 << "SELECT code, after_number, price FROM DEVICE_ADJUST"
                                 << QStringList{"a", "2", ""};
}

void TestDatabaseFile::fileWithoutLaterColumnsGainsThem()
{
    QFETCH(QString, table);
    QFETCH(QString, insert);
    QFETCH(QString, select);
    QFETCH(QStringList, row);
    m_sandbox->open()->close();
    TableDef older = *schema::find(table);
    older.columns.resize(older.columns.size() - size_t(older.laterColumns));
    older.laterColumns = 0;
    QCOMPARE(shell(file(), "DROP TABLE " + table + ";" +
                               schema::createTable(older, Engine::Sqlite) + ";" + insert),
             QString());
    QCOMPARE(Backup::checkCopy(file()), QString());
    auto c = m_sandbox->open();
    QCOMPARE(test::rows(*c, select), QList<QStringList>{row});
    c->close();
    QCOMPARE(Backup::checkCopy(file()), QString());
    // Opened again, nothing more is added.
    c = m_sandbox->open();
    QCOMPARE(test::rows(*c, "SELECT COUNT(*) FROM pragma_table_info('" + table + "')"),
             (QList<QStringList>{{QString::number(schema::find(table)->columns.size())}}));
}

void TestDatabaseFile::unusableFilesAreRefusedUntouched_data()
{
    QTest::addColumn<QString>("sql"); // run on a new database; "" empty file, "text" a text file
    QTest::addColumn<QString>("what");
    const QString way =
        "\n程序没有打开这个文件，也没有改动它。请用备份恢复数据库，或检查数据文件夹中的文件。";
    QTest::newRow("0 字节") << ""
                            << "数据库文件“%1”是空文件（0 字节），不是本系统的数据库。" + way;
    QTest::newRow("文本文件") << "text"
                              << "文件“%1”不是 SQLite 数据库文件。" + way;
    QTest::newRow("缺少表") << "DROP TABLE DEVICE"
                            << "数据库文件“%1”中没有表 DEVICE，不是完整的本系统数据库。" + way;
    QTest::newRow("列的顺序") << "DROP TABLE DEVICE_CODE; CREATE TABLE DEVICE_CODE (name, code)"
                              << "数据库文件“%1”中表 DEVICE_CODE的列是 name, code，本系统要求的是 "
                                 "code, name（顺序也不能变）。" +
                                     way;
    // A file in rollback-journal mode keeps that mode: its header is
    // among the bytes compared.
    QTest::newRow("回滚日志，缺少表")
        << "PRAGMA journal_mode=DELETE; DROP TABLE DEVICE"
        << "数据库文件“%1”中没有表 DEVICE，不是完整的本系统数据库。" + way;
    // Changes another program left in the -wal file stay there: the
    // refused file is not checkpointed on closing.
    QTest::newRow("日志中的修改，缺少表")
        << "wal:DROP TABLE DEVICE"
        << "数据库文件“%1”中没有表 DEVICE，不是完整的本系统数据库。" + way;
    QTest::newRow("回滚日志，列的顺序")
        << "PRAGMA journal_mode=DELETE; DROP TABLE DEVICE_CODE; CREATE TABLE DEVICE_CODE (name, "
           "code)"
        << "数据库文件“%1”中表 DEVICE_CODE的列是 name, code，本系统要求的是 "
           "code, name（顺序也不能变）。" +
               way;
}

void TestDatabaseFile::unusableFilesAreRefusedUntouched()
{
    QFETCH(QString, sql);
    QFETCH(QString, what);
    QFile f(file());
    if (sql.isEmpty() || sql == "text") {
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (sql == "text")
            f.write("code,name\n1,仓库\n");
        f.close();
    } else {
        m_sandbox->open()->close();
        const bool keepWal = sql.startsWith("wal:");
        QVERIFY(!shell(file(), sql.mid(keepWal ? 4 : 0), keepWal).startsWith("error: "));
    }
    const QMap<QString, QByteArray> before = filesOf(file());
    QCOMPARE(before.contains("vok1.db-wal"), sql.startsWith("wal:"));
    try {
        m_sandbox->open();
        QFAIL("opened");
    } catch (const DbError& e) {
        QCOMPARE(e.text(), what.arg(QDir::toNativeSeparators(file())));
    }
    QCOMPARE(filesOf(file()), before);
}

void TestDatabaseFile::damagedFileIsRefused_data()
{
    // Where the bytes are overwritten; whether opening, which reads the
    // header and the schema alone, already refuses the file.
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("refusedOnOpening");
    QTest::newRow("文件头") << "header" << true;
    QTest::newRow("表的定义") << "schema" << true;
    QTest::newRow("深处的一页") << "deep" << false;
}

void TestDatabaseFile::damagedFileIsRefused()
{
    QFETCH(QString, where);
    QFETCH(bool, refusedOnOpening);
    {
        auto c = m_sandbox->open();
        Transaction t(*c);
        for (int i = 0; i < 3000; ++i)
            c->append("DEVICE_IN", {"code", "provider"}, {QString::number(i), "北京华信科技"});
        t.commit();
    }
    QFile f(file());
    QVERIFY(f.open(QIODevice::ReadWrite));
    if (where == "header") {
        QVERIFY(f.seek(16)); // the page size and what follows it
        f.write(QByteArray(84, '\xA5'));
    } else if (where == "schema") {
        QVERIFY(f.seek(100)); // the first page holds the tables' definitions
        f.write(QByteArray(4096 - 100, '\xA5'));
    } else {
        // The last page, rows written last (the schema's pages come first).
        QVERIFY(f.seek(f.size() - 4096));
        f.write(QByteArray(4096, '\xA5'));
    }
    f.close();
    const QString told = "数据库文件“" + QDir::toNativeSeparators(file()) +
                         "”已损坏，不能使用。请用备份恢复数据库。\n";
    const auto failure = [&](const std::function<void()>& f) -> std::optional<DbError> {
        try {
            f();
        } catch (const DbError& e) {
            return e;
        }
        return std::nullopt;
    };
    const auto refused = failure([&] { m_sandbox->open(); });
    QCOMPARE(refused.has_value(), refusedOnOpening);
    if (refused) {
        QCOMPARE(refused->failure(), DbError::Failure::Damaged);
        QVERIFY2(refused->text().startsWith(told), qPrintable(refused->text()));
        return;
    }
    // A page deep in the file: the page check finds it, and so does a backup.
    const auto found = failure([&] { checkDepartmentPages(file()); });
    QVERIFY(found);
    QCOMPARE(found->failure(), DbError::Failure::Damaged);
    QVERIFY2(found->text().startsWith(told) && found->text().count('\n') >= 1,
             qPrintable(found->text()));
    // Told to stop (the program is closed), the check ends without a finding.
    const std::atomic<bool> stop = true;
    const auto stopped = failure([&] { checkDepartmentPages(file(), &stop); });
    QVERIFY(stopped);
    QVERIFY2(stopped->failure() != DbError::Failure::Damaged, qPrintable(stopped->text()));
    const QString copy = m_sandbox->dataDir() + "/copy.db";
    const auto copied = failure([&] { Backup::copyEmbedded(file(), copy, {}); });
    QVERIFY(copied);
    QVERIFY2(copied->text().startsWith("新的副本检查未通过"), qPrintable(copied->text()));
    QVERIFY(!QFileInfo::exists(copy));

    // Once found, every connection to it reads but writes nothing.
    auto c = m_sandbox->open();
    QVERIFY(!writesStopped(file()));
    stopWrites(file(), found->detail());
    QVERIFY(writesStopped(file()));
    QCOMPARE(test::rows(*c, "SELECT COUNT(*) FROM DEVICE_CODE"), (QList<QStringList>{{"0"}}));
    for (const auto& write : std::initializer_list<std::function<void()>>{
             [&] { c->append("DEVICE_IN", {"code"}, {"x"}); }, [&] { c->remove({"DEVICE_CODE"}); },
             [&] {
                 m_sandbox->open()->executeWith("INSERT INTO HOWDO (do_user) VALUES (?)", {"a"});
             }}) {
        const auto e = failure(write);
        QVERIFY(e);
        QCOMPARE(e->failure(), DbError::Failure::Damaged);
        QVERIFY2(e->text().startsWith(told), qPrintable(e->text()));
    }
    allowWrites(file());
    c->append("DEVICE_CODE", {"code"}, {"x"});
}

void TestDatabaseFile::confirmedChangesAreInTheFileAlone_data()
{
    // How the reader's snapshot ends before the copy is taken.
    QTest::addColumn<QString>("reader");
    QTest::newRow("无人读") << "";
    QTest::newRow("读者走后程序空闲") << "idle";
    QTest::newRow("读者走后程序被终止") << "terminated";
    QTest::newRow("读者走后关闭连接") << "closed";
    QTest::newRow("关闭时读者仍在读") << "reading at close";
    QTest::newRow("终止时读者仍在读") << "reading at termination";
}

void TestDatabaseFile::confirmedChangesAreInTheFileAlone()
{
    QFETCH(QString, reader);
    auto c = m_sandbox->open();
    QCOMPARE(test::rows(*c, "PRAGMA journal_mode"), (QList<QStringList>{{"wal"}}));
    QCOMPARE(test::rows(*c, "PRAGMA synchronous"), (QList<QStringList>{{"2"}}));
    c->append("DEVICE_IN", {"code"}, {"a"});
    c->append("DEVICE_IN", {"code"}, {"b"});
    // Another instance (or a backup, or the sqlite3 shell) reads an older
    // snapshot while the changes are committed.
    auto other = m_sandbox->open();
    std::unique_ptr<RowSet> snapshot;
    if (!reader.isEmpty()) {
        snapshot = other->queryWith("SELECT * FROM DEVICE_IN", {});
        QVERIFY(snapshot->next());
    }
    for (int i = 0; i < 50; ++i) {
        Transaction t(*c);
        c->append("DEVICE_IN", {"code", "in_date"}, {QString::number(i), "2004-1-5 9:3:7"});
        t.commit();
    }
    if (reader.startsWith("reading at")) {
        // The reader lets go a moment after the program began to leave.
        std::thread letGo([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            snapshot.reset();
        });
        if (reader == "reading at close")
            c->close();
        else
            finishPendingCheckpoints();
        letGo.join();
    }
    snapshot.reset();
    if (reader == "idle")
        QTest::qWait(500);
    else if (reader == "terminated")
        finishPendingCheckpoints();
    else if (reader == "closed")
        c->close();
    // A copy of the .db file alone holds them all.
    const QString copy = m_sandbox->dataDir() + "/copy/vok1.db";
    QVERIFY(QDir().mkpath(m_sandbox->dataDir() + "/copy"));
    QVERIFY(QFile::copy(file(), copy));
    QCOMPARE(shell(copy, "SELECT COUNT(*) FROM DEVICE_IN"), QStringLiteral("52"));
}

void TestDatabaseFile::failuresAreToldInChinese()
{
    auto c = m_sandbox->open();
    const auto failure = [&](Connection& on, const QString& sql, const QVariantList& values) {
        try {
            test::exec(on, sql, values);
        } catch (const DbError& e) {
            return e.text();
        }
        return QString();
    };
    test::exec(*c, "CREATE UNIQUE INDEX one_code ON DEVICE_CODE(code)");
    test::seed(*c, "DEVICE_CODE", {{"1", "a"}});
    QCOMPARE(failure(*c, "INSERT INTO DEVICE_CODE VALUES (?,?)", {"1", "b"}),
             failureText(DbError::Failure::Unique) +
                 "\nUNIQUE constraint failed: DEVICE_CODE.code");

    // Another instance holds the write lock beyond the wait.
    auto other = m_sandbox->open();
    test::exec(*other, "PRAGMA busy_timeout=50");
    {
        Transaction t(*c);
        test::seed(*c, "HOWDO", {{"a"}});
        QCOMPARE(failure(*other, "INSERT INTO HOWDO (do_user) VALUES (?)", {"b"}),
                 "数据库正被另一个程序或另一位用户使用，等待超时，操作没有完成。请稍后再试一次。"
                 "\ndatabase is locked");
    }

    // No room left: the file may not grow.
    const QString pages = test::value(*c, "PRAGMA page_count");
    test::exec(*c, "PRAGMA max_page_count=" + pages); // a pragma binds no value
    QCOMPARE(failure(*c, "INSERT INTO HOWDO (do_what) VALUES (zeroblob(?))", {100000}),
             "磁盘已满，无法写入数据库，操作没有完成。请腾出磁盘空间后再试。"
             "\ndatabase or disk is full");
}

// The stock and the password hashes are not for every local user: a new
// database, its journals and a data folder the program makes are the
// owner's alone.
void TestDatabaseFile::newDatabaseIsPrivate()
{
    const QString folder = m_sandbox->dataDir() + "/new/vok";
    auto c = openSqliteConnection(folder + "/vok1.db");
    c->append("DEVICE_IN", {"code"}, {"a"});
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    for (const char* name : {"", "/vok1.db", "/vok1.db-wal", "/vok1.db-shm"}) {
        QVERIFY2(QFileInfo::exists(folder + name), name);
        QCOMPARE(QFileInfo(folder + name).permissions() & others, QFileDevice::Permissions());
    }
}

void TestDatabaseFile::fullDiskIsToldInChinese()
{
    // A department's file on a disk of its own, which then fills up.
    const QString disk = m_sandbox->dataDir() + "/disk";
    QVERIFY(QDir().mkpath(disk));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", disk}) != 0)
        QSKIP("Mounting a small disk is not permitted here.");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
    const QString db = disk + "/vok1.db";
    openSqliteConnection(db)->close();
    const int fd =
        ::open(QFile::encodeName(disk + "/filler").constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    const QByteArray block(4096, 'x');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    while (::write(fd, block.constData(), 1) > 0) {
    }
    ::close(fd);
    try {
        auto c = openSqliteConnection(db);
        test::seed(*c, "HOWDO", {{"张三", "登录", "2004-1-5"}});
        QFAIL("written to a full disk");
    } catch (const DbError& e) {
        QVERIFY2(e.failure() == DbError::Failure::DiskFull, qPrintable(e.text()));
        QVERIFY2(e.text().startsWith(failureText(DbError::Failure::DiskFull) + '\n'),
                 qPrintable(e.text()));
    }
}

QTEST_MAIN(TestDatabaseFile)
#include "tst_databasefile.moc"
