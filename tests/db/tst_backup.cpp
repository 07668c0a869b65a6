#include "db/Backup.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>

using namespace vok;

namespace {

const Backup::DepartmentDb kVok1{QStringLiteral("VOK1")};

// A row in every table, with quotes, Chinese text, dates and numbers.
void fill(Connection& c)
{
    test::seed(c, "DEVICE_CODE", {{"001", "显示器'17寸'"}});
    test::seed(c, "DEVICE", {{"001", 5, 10, 1, 8}});
    test::seed(c, "DEVICE_IN", {{"001", "2004-1-5 9:3:7", "华强", "12345", 3, 1200.5, "王五"}});
    test::seed(c, "DEVICE_OUT",
               {{"001", "部门B", "2004-2-1 10:0:0", "完好", "李四", 1, "赵六", "办公"}});
    test::seed(c, "DEVICE_RETURN", {{"001", "2004-3-1 8:0:0", "张三", 1, "赵六"}});
    test::seed(c, "DEVICE_NEED", {{"001", "部门C", "2004-4-1", "2004-5-1", "7"}});
    test::seed(c, "DEVICE_WANTBUY",
               {{"001", "5", "8", "10", "5", "华强", "1200", "2004-6-1 12:0:0"}});
    test::seed(c, "HOWDO", {{"张三", "登录数据库", "2004-1-5 9:0:0"}});
    test::seed(c, "user", {{"张三", "p'w", "1"}});
    test::seed(c, "DEVICE_ADJUST", {{"001", "2004-1-5 8:0:0", 0, 5, "期初库存", "张三"}});
    test::seed(c, "DEVICE_LOAN",
               {{"1-1", 1, "001", 2, "赵六", "部门B", "2004-2-2 9:0:0", "2004-2-9", "李四", "测量",
                 1, 1, 0, 1, "已还"}});
    test::seed(c, "DEVICE_LOAN_EVENT",
               {{"1-1", "001", "2004-2-5 9:0:0", "报废", 1, "摔坏", "张三"}});
}

// Every row of every table, in schema column order, as texts.
QList<QStringList> dump(Connection& c)
{
    QList<QStringList> out;
    for (const TableDef* t : schema::all()) {
        for (QStringList row : test::table(c, t->name)) {
            row.prepend(t->name);
            out << row;
        }
    }
    return out;
}

// Runs SQL on a file through SQLite alone, as another tool would.
void RawSql(const QString& file, const QString& sql)
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    const QString why = QString::fromUtf8(error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(why));
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void roundTripRestoresTheRowsBackedUp();
    void copyIsConsistentWhileAnotherConnectionWrites();
    void badCopyIsRefusedAndChangesNothing_data();
    void badCopyIsRefusedAndChangesNothing();
    void cancelledOrFailedBackupKeepsThePreviousCopy();
    void copyRestoresOnTheOtherEngine();
    void copyOfAnEarlierVersionRestores_data();
    void copyOfAnEarlierVersionRestores();
    void earlierVersionsTriggersAreReplaced();
    void copyOfAnotherDepartmentOrChangedIsRefused();
    void engineFailureIsToldInChinese();
    void copiesArePrivate();
    void leftoversOfKilledCopiesAreRemoved();

private:
    QString copyFile() const { return m_backupDir.filePath(QStringLiteral("vok1.db")); }

    std::unique_ptr<test::Sandbox> m_sandbox;
    ConnectionPtr m_db;
    QTemporaryDir m_backupDir;
};

void TestBackup::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    m_db = m_sandbox->open();
    fill(*m_db);
    QDir(m_backupDir.path()).removeRecursively();
    QDir().mkpath(m_backupDir.path());
}

void TestBackup::cleanup()
{
    m_db.reset();
    m_sandbox.reset();
}

void TestBackup::roundTripRestoresTheRowsBackedUp()
{
    QCOMPARE(kVok1.onServer(), test::onServer());
    const QList<QStringList> before = dump(*m_db);
    QCOMPARE(before.size(), 12);
    QVERIFY(Backup::backup(kVok1, copyFile()));
    QCOMPARE(Backup::checkCopy(copyFile()), QString());

    test::exec(*m_db, "UPDATE DEVICE SET now_number=99 WHERE code=?", {"001"});
    m_db->remove({"user"});
    test::seed(*m_db, "DEVICE_CODE", {{"002", "打印机"}});

    qint64 lastDone = -1, lastTotal = -1;
    QVERIFY(Backup::restore(copyFile(), kVok1, [&](qint64 done, qint64 total) {
        lastDone = done;
        lastTotal = total;
        return true;
    }));
    QVERIFY(lastTotal > 0);
    QCOMPARE(lastDone, lastTotal);
    // The connection that stayed open reads the restored rows.
    QCOMPARE(dump(*m_db), before);
    QCOMPARE(dump(*m_sandbox->open()), before);
}

void TestBackup::copyIsConsistentWhileAnotherConnectionWrites()
{
    QList<QVariantList> rows;
    for (int i = 0; i < 3000; ++i)
        rows << QVariantList{"张三", QString(100, QChar(u'记')) + QString::number(i),
                             "2004-1-5 9:0:0"};
    test::seed(*m_db, "HOWDO", rows);
    const qint64 rowsAtStart = m_db->count({"HOWDO"});
    const ConnectionPtr writer = m_sandbox->open();
    int written = 0;
    QVERIFY(Backup::backup(kVok1, copyFile(), [&](qint64, qint64) {
        test::seed(*writer, "HOWDO", {{"李四", "备份时写入", "2004-1-6 9:0:0"}});
        ++written;
        return true;
    }));
    QVERIFY(written >= 2);
    QCOMPARE(Backup::checkCopy(copyFile()), QString());
    QCOMPARE(m_db->count({"HOWDO"}), rowsAtStart + written);

    QVERIFY(QFile::copy(copyFile(), m_sandbox->dataDir() + "/copy.db"));
    const auto read = openSqliteConnection(m_sandbox->dataDir() + "/copy.db");
    QCOMPARE(read->count({"HOWDO"}), rowsAtStart);
    QCOMPARE(read->count({"HOWDO", SqlText("do_user=?"), {"李四"}}), 0);
}

void TestBackup::badCopyIsRefusedAndChangesNothing_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("problem");
    QTest::newRow("not a database") << "garbage"
                                    << "不是有效的数据库文件";
    QTest::newRow("cut short") << "truncate"
                               << "";
    QTest::newRow("page overwritten") << "overwrite"
                                      << "";
    QTest::newRow("table missing") << "drop"
                                   << "缺少表格 DEVICE_OUT。";
    QTest::newRow("columns reordered")
        << "reorder"
        << "数据库文件“%1”中表 DEVICE的列是 now_number, code, high_number, low_number, "
           "total_number，本系统要求的是 code, now_number, high_number, low_number, "
           "total_number（顺序也不能变）。";
    QTest::newRow("no file") << "remove"
                             << "不存在";
    // Passes every check of opening: more than the program's schema.
    QTest::newRow("foreign trigger")
        << "CREATE TRIGGER wipe AFTER INSERT ON howdo BEGIN DELETE FROM device; END"
        << "副本中有本系统不建立的触发器“wipe”：CREATE TRIGGER wipe AFTER INSERT ON howdo "
           "BEGIN DELETE FROM device; END";
    QTest::newRow("extra column") << "ALTER TABLE DEVICE ADD COLUMN extra TEXT"
                                  << "副本中的表格 DEVICE 有本系统没有的列“extra”。";
    QTest::newRow("changed type")
        << "DROP TABLE DEVICE_CODE; CREATE TABLE DEVICE_CODE (code INTEGER UNIQUE, name TEXT)"
        << "副本中表格 DEVICE_CODE 的列“code”的类型是 INTEGER，本系统要求的是 TEXT。";
    QTest::newRow("check added")
        << "DROP TABLE DEVICE_CODE; CREATE TABLE DEVICE_CODE (code TEXT UNIQUE, name TEXT "
           "CHECK (name <> ''))"
        << "副本中表格 DEVICE_CODE 的定义与本系统的不同：CREATE TABLE DEVICE_CODE (code TEXT "
           "UNIQUE, name TEXT CHECK (name <> ''))";
    QTest::newRow("extra index") << "CREATE INDEX byname ON DEVICE_CODE(name)"
                                 << "副本中有本系统不建立的索引“byname”：CREATE INDEX byname ON "
                                    "DEVICE_CODE(name)";
    QTest::newRow("extra view") << "CREATE VIEW v AS SELECT * FROM user"
                                << "副本中有本系统不建立的视图“v”：CREATE VIEW v AS SELECT * "
                                   "FROM user";
    QTest::newRow("extra table") << "CREATE TABLE notes (t TEXT)"
                                 << "副本中有本系统不建立的表格“notes”：CREATE TABLE notes (t "
                                    "TEXT)";
}

void TestBackup::badCopyIsRefusedAndChangesNothing()
{
    QFETCH(QString, damage);
    QFETCH(QString, problem);
    QList<QVariantList> rows;
    for (int i = 0; i < 300; ++i)
        rows << QVariantList{QString::number(i), QString(200, QChar(u'设'))};
    test::seed(*m_db, "DEVICE_CODE", rows);
    QVERIFY(Backup::backup(kVok1, copyFile()));
    QFile f(copyFile());
    if (damage == "garbage") {
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(8192, 'x'));
    } else if (damage == "truncate") {
        QVERIFY(f.resize(f.size() / 2));
    } else if (damage == "overwrite") {
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(4096); // the root page of the first table
        f.write(QByteArray(100, '\xff'));
    } else if (damage.contains(' ')) {
        RawSql(copyFile(), damage);
    } else if (damage == "drop" || damage == "reorder") {
        const QString scratch = m_sandbox->dataDir() + "/scratch.db";
        QVERIFY(QFile::copy(copyFile(), scratch));
        auto c = openSqliteConnection(scratch);
        if (damage == "drop") {
            test::exec(*c, "DROP TABLE DEVICE_OUT");
        } else {
            // Passes SQLite's integrity check; the program refuses to open it.
            test::exec(*c, "DROP TABLE DEVICE");
            test::exec(*c, "CREATE TABLE DEVICE (now_number REAL, code TEXT, high_number REAL, "
                           "low_number REAL, total_number REAL)");
            problem = problem.arg(QDir::toNativeSeparators(copyFile()));
        }
        test::exec(*c, "PRAGMA journal_mode=DELETE");
        c->close();
        QFile::remove(copyFile());
        QVERIFY(QFile::rename(scratch, copyFile()));
    } else if (damage == "remove") {
        QVERIFY(f.remove());
    }
    f.close();
    test::exec(*m_db, "UPDATE DEVICE SET now_number=42");
    const QList<QStringList> before = dump(*m_db);

    const QString found = Backup::checkCopy(copyFile());
    QVERIFY2(!found.isEmpty(), qPrintable(damage));
    QVERIFY2(found.contains(problem), qPrintable(found));
    try {
        Backup::restore(copyFile(), kVok1);
        QFAIL("a damaged copy was restored");
    } catch (const DbError& e) {
        QCOMPARE(e.text(), found);
    }
    QCOMPARE(dump(*m_db), before);
}

void TestBackup::cancelledOrFailedBackupKeepsThePreviousCopy()
{
    QVERIFY(Backup::backup(kVok1, copyFile()));
    QFile f(copyFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray previous = f.readAll();
    f.close();
    m_db->remove({"DEVICE_CODE"});

    // Cancelled half-way, then the database gone (on the server: a table).
    QVERIFY(!Backup::backup(kVok1, copyFile(),
                            [](qint64 done, qint64 total) { return done == 0 || done < total; }));
    if (test::onServer())
        test::exec(*m_db, "DROP TABLE DEVICE_OUT");
    else
        QVERIFY(QFile::rename(kVok1.file(), kVok1.file() + ".moved"));
    QVERIFY_THROWS_EXCEPTION(DbError, Backup::backup(kVok1, copyFile()));

    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), previous);
    QCOMPARE(QDir(m_backupDir.path()).entryList(QDir::Files), QStringList{"vok1.db"});
}

void TestBackup::copyRestoresOnTheOtherEngine()
{
    // A copy of either engine restores into an embedded file and, on the
    // server run, into another server database, with equal rows.
    const QList<QStringList> before = dump(*m_db);
    QVERIFY(Backup::backup(kVok1, copyFile()));
    const QString file = m_sandbox->dataDir() + "/other.db";
    QVERIFY(Backup::restoreEmbedded(copyFile(), file));
    QCOMPARE(dump(*openSqliteConnection(file)), before);

    const ConnectionPtr other = m_sandbox->open(QStringLiteral("VOK2"));
    test::seed(*other, "DEVICE_CODE", {{"999", "旧"}});
    QVERIFY(Backup::restoreIntoConnection(copyFile(), *other));
    QCOMPARE(dump(*other), before);
}

void TestBackup::copyOfAnEarlierVersionRestores_data()
{
    QTest::addColumn<QString>("sql"); // run on the copy
    QString indexes;
    for (const IndexDef& i : schema::indexes())
        indexes += "DROP INDEX " + i.name + ";";
    QTest::newRow("without adjustments") << "DROP TABLE DEVICE_ADJUST";
    QTest::newRow("without the indexes") << indexes;
    QTest::newRow("one index missing") << "DROP INDEX DEVICE_IN_by_code_in_date";
}

void TestBackup::copyOfAnEarlierVersionRestores()
{
    // A copy made before the adjustments were recorded or before the
    // indexes: sound, and its restore leaves the adjustments empty, every
    // other row as copied, and the database with the program's indexes.
    QFETCH(QString, sql);
    QVERIFY(Backup::backup(kVok1, copyFile()));
    RawSql(copyFile(), sql + ";PRAGMA journal_mode=DELETE");
    QCOMPARE(Backup::checkCopy(copyFile()), QString());
    QList<QStringList> expected = dump(*m_db);
    if (sql.startsWith("DROP TABLE DEVICE_ADJUST"))
        expected.removeIf([](const QStringList& row) { return row.first() == "DEVICE_ADJUST"; });
    test::seed(*m_db, "DEVICE_CODE", {{"002", "打印机"}});

    QVERIFY(Backup::restore(copyFile(), kVok1));
    m_db->close();
    m_db = m_sandbox->open();
    QCOMPARE(dump(*m_db), expected);
    QStringList want, have;
    for (const IndexDef& i : schema::indexes())
        want << i.name.toLower();
    for (const QStringList& r :
         test::rows(*m_db, test::onServer() ? "SELECT indexname FROM pg_indexes WHERE indexname "
                                              "LIKE '%\\_by\\_%'"
                                            : "SELECT lower(name) FROM sqlite_master WHERE "
                                              "type='index' AND sql IS NOT NULL"))
        have << r.first();
    want.sort();
    have.sort();
    QCOMPARE(have, want);
}

void TestBackup::earlierVersionsTriggersAreReplaced()
{
    // A copy of an earlier version: a trigger calling that program's own
    // function, another of the program's name with an older text. It
    // restores, and the database gets this version's triggers alone.
    QVERIFY(Backup::backup(kVok1, copyFile()));
    RawSql(copyFile(), "DROP TRIGGER DEVICE_IN_in_date_ins; DROP TRIGGER DEVICE_OUT_out_date_ins;"
                       "CREATE TRIGGER DEVICE_IN_in_date_ins AFTER INSERT ON DEVICE_IN WHEN "
                       "NEW.in_date IS NOT vok_datetime(NEW.in_date) BEGIN UPDATE DEVICE_IN SET "
                       "in_date = vok_datetime(in_date) WHERE rowid = NEW.rowid; END;"
                       "CREATE TRIGGER DEVICE_OUT_out_date_ins AFTER INSERT ON DEVICE_OUT "
                       "BEGIN DELETE FROM DEVICE; END;");
    QCOMPARE(Backup::checkCopy(copyFile()), QString());
    const QList<QStringList> before = dump(*m_db);
    const QString file = m_sandbox->dataDir() + "/other.db";
    QVERIFY(Backup::restoreEmbedded(copyFile(), file));
    const ConnectionPtr restored = openSqliteConnection(file);
    QCOMPARE(dump(*restored), before);
    QStringList triggers, expected;
    for (const QStringList& r : test::rows(*restored, "SELECT sql FROM sqlite_master WHERE "
                                                      "type='trigger' ORDER BY name"))
        triggers << r.first();
    for (QString sql : schema::sqliteTriggers())
        expected << sql.replace("CREATE TRIGGER IF NOT EXISTS ", "CREATE TRIGGER ");
    triggers.sort();
    expected.sort();
    QCOMPARE(triggers, expected);
}

void TestBackup::copyOfAnotherDepartmentOrChangedIsRefused()
{
    // The copy says whose it is; a restore checks it, and the SHA-256
    // given, on what it reads.
    QVERIFY(Backup::backup(kVok1, copyFile()));
    QCOMPARE(Backup::departmentOfCopy(copyFile()), 1);
    test::exec(*m_db, "UPDATE DEVICE SET now_number=42");
    const QList<QStringList> before = dump(*m_db);
    const QString native = QDir::toNativeSeparators(copyFile());
    const auto refusal = [](const std::function<void()>& restore) {
        try {
            restore();
        } catch (const DbError& e) {
            return e.text();
        }
        return QString();
    };
    const Backup::DepartmentDb vok2{QStringLiteral("VOK2")};
    QCOMPARE(refusal([&] { Backup::restore(copyFile(), vok2); }),
             "备份文件“" + native + "”是数据库 VOK1 的副本，不能还原到 VOK2。");
    QCOMPARE(refusal([&] { Backup::restore(copyFile(), kVok1, {}, QByteArray(64, '0')); }),
             "备份文件“" + native +
                 "”的内容与备份记录不符（SHA-256 不同）：它在备份之后被改动过或已损坏。");
    QCOMPARE(dump(*m_db), before);
    QVERIFY(Backup::restore(copyFile(), kVok1, {}, Backup::sha256Of(copyFile())));
    QVERIFY(dump(*m_db) != before);
}

void TestBackup::engineFailureIsToldInChinese()
{
    const QString file = m_sandbox->dataDir() + "/vok9.db";
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();
    try {
        Backup::copyEmbedded(file, copyFile());
        QFAIL("copied");
    } catch (const DbError& e) {
        QCOMPARE(e.text(), "数据库文件“" + QDir::toNativeSeparators(file) +
                               "”已损坏，不能使用。请用备份恢复数据库。\nfile is not a database");
    }
    QVERIFY(!QFileInfo::exists(copyFile()));
}

// Copies hold the password hashes: readable by their owner alone, on
// either engine (the server's copy is made through the embedded engine).
void TestBackup::copiesArePrivate()
{
    QVERIFY(Backup::backup(kVok1, copyFile()));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther;
    QCOMPARE(QFileInfo(copyFile()).permissions() & others, QFileDevice::Permissions());
}

void TestBackup::leftoversOfKilledCopiesAreRemoved()
{
    BackupFolder::setPath(m_backupDir.path());
    const qint64 hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
    const utimbuf aged{hourAgo, hourAgo};
    const auto make = [&](const QString& path, bool old) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("SQLite format 3");
        f.close();
        if (old)
            ::utime(QFile::encodeName(path).constData(), &aged);
    };
    const QString killed = copyFile() + ".Ab3dEf.tmp";
    const QString writing = copyFile() + ".Xy9zQw.tmp"; // another instance holds it
    const QString fresh = copyFile() + ".Fr35hh.tmp";   // just made, not yet held
    const QString other = m_backupDir.filePath("notes.tmp");
    make(killed, true);
    make(killed + "-journal", true);
    make(writing, true);
    make(fresh, false);
    make(other, true);
    const int held = ::open(QFile::encodeName(writing).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    QTemporaryDir scratch(QDir::tempPath() + "/vok-restore-XXXXXX");
    make(scratch.filePath("copy.db"), true);
    QCOMPARE(::utime(QFile::encodeName(scratch.path()).constData(), &aged), 0);

    Backup::removeStaleTemporaries();
    ::close(held);
    BackupFolder::setPath(QString());
    QCOMPARE(QDir(m_backupDir.path()).entryList(QDir::Files),
             (QStringList{"notes.tmp", "vok1.db.Fr35hh.tmp", "vok1.db.Xy9zQw.tmp"}));
    QVERIFY(!QFileInfo::exists(scratch.path()));
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
