#include "core/BackupGenerations.h"
#include "core/Permission.h"
#include "db/DbError.h"
#include "db/SqliteConnection.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTest>

#include <QMutex>
#include <QProcess>
#include <QScopeGuard>

#include <climits>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <utime.h>

using namespace vok;

// Generations of backups taken over simulated days, on either engine.
class TestBackupGenerations : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_sandbox.reset(); }

    void keepsWhatTheRuleKeeps_data();
    void keepsWhatTheRuleKeeps();
    void damagedGenerationCountsForNothing_data();
    void damagedGenerationCountsForNothing();
    void failedBackupChangesNothing();
    void interruptedBackupLeavesEarlierGenerations_data();
    void interruptedBackupLeavesEarlierGenerations();
    void dueAfterADay();
    void earlierCopiesBecomeAGeneration();
    void backupsAtOnceTakeTurns();
    void fullDiskKeepsTheFolderCopiesTogether();
    void foldersArePrivate();
    void restoreRefusedToReadOnlyClass_data();
    void restoreRefusedToReadOnlyClass();

private:
    // "d3" is day 3 at 17:00, "d3+5m" five minutes later.
    static QDateTime at(const QString& when);
    static QString name(const QString& when) { return generationName(at(when)); }
    void take(const QString& when);
    // Takes the first and puts copies of it in the history under the names
    // of the others, as if taken then.
    void seed(const QStringList& whens);
    void seed(int last); // d0 … dLast
    // The generation names in the history, newest first, and which of
    // them verify.
    QStringList names(bool verifiedOnly = false);
    QString backupFolder() const { return BackupFolder::path(); }

    std::unique_ptr<test::Sandbox> m_sandbox;
    int m_departments = 0;
};

void TestBackupGenerations::init()
{
    m_sandbox = std::make_unique<test::Sandbox>();
    test::seed(*m_sandbox->open(), "DEVICE", {{"001", 5, 10, 1, 8}});
    m_sandbox->open(QStringLiteral("VOK3"))->close();
    m_departments = test::onServer() ? 5 : 2;
}

QDateTime TestBackupGenerations::at(const QString& when)
{
    const QStringList parts = when.mid(1).split(u'+');
    QDateTime t = QDateTime(QDate(2026, 12, 1), QTime(17, 0, 0)).addDays(parts.at(0).toInt());
    if (parts.size() > 1)
        t = t.addSecs(60 * parts.at(1).chopped(1).toInt());
    return t;
}

void TestBackupGenerations::take(const QString& when)
{
    const auto taken = BackupGenerations::take(at(when));
    QVERIFY(taken);
    QCOMPARE(taken->name, name(when));
    QCOMPARE(taken->departments, m_departments);
}

void TestBackupGenerations::seed(int last)
{
    QStringList whens;
    for (int d = 0; d <= last; ++d)
        whens << QStringLiteral("d%1").arg(d);
    seed(whens);
}

void TestBackupGenerations::seed(const QStringList& whens)
{
    take(whens.first());
    const QDir history(BackupFolder::historyPath());
    const QDir first(history.filePath(name(whens.first())));
    for (const QString& when : whens.mid(1)) {
        const QString folder = history.filePath(name(when));
        QVERIFY(QDir().mkpath(folder));
        for (const QString& file : first.entryList(QDir::Files))
            QVERIFY(QFile::copy(first.filePath(file), folder + "/" + file));
    }
}

QStringList TestBackupGenerations::names(bool verifiedOnly)
{
    QStringList out;
    for (const GenerationInfo& g : BackupGenerations::list(BackupGenerations::Verify::Hashes))
        if (!verifiedOnly || g.generation.verified)
            out << g.generation.name;
    return out;
}

void TestBackupGenerations::keepsWhatTheRuleKeeps_data()
{
    QTest::addColumn<QStringList>("seeded"); // as if taken before
    QTest::addColumn<QStringList>("backups");
    QTest::addColumn<QStringList>("kept"); // newest first
    QStringList daily, dailyKept;
    for (int d = 0; d < 12; ++d)
        daily << QStringLiteral("d%1").arg(d);
    for (int d = 11; d >= 2; --d)
        dailyKept << QStringLiteral("d%1").arg(d);
    QTest::newRow("twelve days") << QStringList() << daily << dailyKept;
    QStringList burst, burstKept{"d8"};
    for (int m = 0; m < 12; ++m)
        burst << QStringLiteral("d0+%1m").arg(m * 5);
    for (int m = 11; m >= 3; --m)
        burstKept << QStringLiteral("d0+%1m").arg(m * 5);
    QTest::newRow("twelve in an hour, one more eight days later")
        << burst << QStringList{"d8"} << burstKept;
}

void TestBackupGenerations::keepsWhatTheRuleKeeps()
{
    QFETCH(QStringList, seeded);
    QFETCH(QStringList, backups);
    QFETCH(QStringList, kept);
    if (!seeded.isEmpty())
        seed(seeded);
    for (const QString& when : backups)
        take(when);
    QStringList expected;
    for (const QString& when : kept)
        expected << name(when);
    QCOMPARE(names(true), expected);
    QCOMPARE(names(), expected);

    // The copies in the backup folder are those of the newest generation.
    const GenerationInfo newest = BackupGenerations::list().first();
    QCOMPARE(newest.copies.size(), m_departments);
    for (const GenerationCopy& c : newest.copies) {
        QFile folderCopy(QDir(backupFolder()).filePath(c.file));
        QVERIFY(folderCopy.open(QIODevice::ReadOnly));
        QCOMPARE(QCryptographicHash::hash(folderCopy.readAll(), QCryptographicHash::Sha256).toHex(),
                 c.sha256);
    }
    // Rows per table, as recorded.
    QCOMPARE(newest.copies.first().dsn, QString("VOK1"));
    QCOMPARE(newest.copies.first().rows.value(1), (std::pair<QString, qint64>("DEVICE", 1)));
}

void TestBackupGenerations::damagedGenerationCountsForNothing_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("a copy lost its tail") << "truncate";
    QTest::newRow("a byte changed in a copy") << "flip";
}

void TestBackupGenerations::damagedGenerationCountsForNothing()
{
    QFETCH(QString, damage);
    seed(10);

    QFile copy(QDir(BackupFolder::historyPath()).filePath(name("d9") + "/vok1.db"));
    if (damage == "truncate") {
        QVERIFY(copy.resize(copy.size() - 1024));
    } else {
        QVERIFY(copy.open(QIODevice::ReadWrite));
        QVERIFY(copy.seek(copy.size() / 2));
        const char byte = copy.peek(1).at(0);
        QVERIFY(copy.putChar(char(~byte)));
        copy.close();
    }

    // d9 does not count among the newest ten: d0 goes, d1 stays, as the
    // rule keeps it while only nine good ones are newer; d9 stays too,
    // being of this week.
    take("d11");
    QStringList expected;
    for (int d = 11; d >= 1; --d)
        expected << name(QStringLiteral("d%1").arg(d));
    QCOMPARE(names(), expected);
    expected.removeOne(name("d9"));
    QCOMPARE(names(true), expected);
}

void TestBackupGenerations::failedBackupChangesNothing()
{
    seed(10);
    const QStringList before = names();
    QFile copy(QDir(backupFolder()).filePath("vok1.db"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    const QByteArray folderCopy = copy.readAll();
    copy.close();

    // A department database that lacks a table gives no sound copy.
    test::exec(*m_sandbox->open(), "DROP TABLE DEVICE_NEED");
    try {
        BackupGenerations::take(at("d11"));
        QFAIL("a backup of a damaged database went through");
    } catch (const DbError& e) {
        QVERIFY2(e.text().startsWith("部门A（vok1.db）："), qPrintable(e.text()));
    }
    QCOMPARE(names(), before);
    QCOMPARE(QDir(BackupFolder::historyPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList(before.rbegin(), before.rend()));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), folderCopy);
}

void TestBackupGenerations::interruptedBackupLeavesEarlierGenerations_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("cancelled at the second department") << "cancel";
    QTest::newRow("a killed backup's temporary folder") << "leftover";
}

void TestBackupGenerations::interruptedBackupLeavesEarlierGenerations()
{
    QFETCH(QString, how);
    seed(2);
    const QStringList before = names(true);
    const QDir history(BackupFolder::historyPath());

    if (how == "cancel") {
        BackupGenerations::Progress progress;
        int started = 0;
        progress.started = [&started](int, int, const QString&) { ++started; };
        progress.copy = [&started](qint64, qint64) { return started < 2; };
        QVERIFY(!BackupGenerations::take(at("d3"), progress));
        QCOMPARE(names(true), before);
        QCOMPARE(history.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 3);
        return;
    }
    // What a backup killed while copying the second department left: one
    // copy and no record, under a temporary name.
    const QString leftover = history.filePath(name("d3") + ".Ab3dEf.tmp");
    QVERIFY(QDir().mkpath(leftover));
    QVERIFY(QFile::copy(history.filePath(before.first() + "/vok1.db"), leftover + "/vok1.db"));
    QCOMPARE(names(), before);
    utimbuf aged{};
    aged.actime = aged.modtime = QDateTime::currentSecsSinceEpoch() - 60;
    QCOMPARE(::utime(QFile::encodeName(leftover).constData(), &aged), 0);

    take("d4");
    QVERIFY(!QFileInfo::exists(leftover));
    QCOMPARE(names(true), QStringList{name("d4")} + before);
}

void TestBackupGenerations::dueAfterADay()
{
    QVERIFY(BackupGenerations::due(at("d0")));
    take("d0");
    QVERIFY(!BackupGenerations::due(at("d1")));
    QVERIFY(BackupGenerations::due(at("d1+1m")));
    // A generation that does not verify is no backup.
    QFile::remove(QDir(BackupFolder::historyPath()).filePath(name("d0") + "/vok1.db"));
    QVERIFY(BackupGenerations::due(at("d0+1m")));
}

void TestBackupGenerations::earlierCopiesBecomeAGeneration()
{
    // A backup of a version without a history: vok1.db alone in the folder.
    QVERIFY(Backup::backup(Backup::DepartmentDb{"VOK1"}, backupFolder() + "/vok1.db"));
    utimbuf then{};
    then.actime = then.modtime = at("d0").toSecsSinceEpoch();
    QCOMPARE(::utime(QFile::encodeName(backupFolder() + "/vok1.db").constData(), &then), 0);
    test::exec(*m_sandbox->open(), "UPDATE DEVICE SET now_number=77");

    take("d3");
    const QList<GenerationInfo> generations =
        BackupGenerations::list(BackupGenerations::Verify::Hashes);
    QCOMPARE(generations.size(), 2);
    const GenerationInfo& earlier = generations.at(1);
    QCOMPARE(earlier.generation.name, name("d0"));
    QVERIFY(earlier.generation.verified);
    QCOMPARE(earlier.departmentNames(), QString("部门A"));
    // It holds the data as that backup had it.
    const QString restored = m_sandbox->dataDir() + "/earlier.db";
    QVERIFY(Backup::restoreEmbedded(earlier.path + "/vok1.db", restored));
    QCOMPARE(test::rows(*openSqliteConnection(restored), "SELECT now_number FROM DEVICE"),
             QList<QStringList>{{"5"}});
}

void TestBackupGenerations::backupsAtOnceTakeTurns()
{
    // Four at the same moment: each its own generation, every one sound,
    // the copies in the folder those of the newest.
    std::vector<std::thread> threads;
    QStringList taken;
    QMutex lock;
    QStringList errors;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            try {
                const auto t = BackupGenerations::take(at("d0"));
                const QMutexLocker hold(&lock);
                taken << (t ? t->name : QString());
            } catch (const DbError& e) {
                const QMutexLocker hold(&lock);
                errors << e.text();
            }
        });
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(errors, QStringList());
    taken.sort();
    QCOMPARE(taken, QStringList({name("d0"), generationName(at("d0").addSecs(1)),
                                 generationName(at("d0").addSecs(2)),
                                 generationName(at("d0").addSecs(3))}));
    QCOMPARE(names(true).size(), 4);
    const QList<GenerationInfo> generations = BackupGenerations::list();
    for (const GenerationCopy& c : generations.first().copies)
        QCOMPARE(Backup::sha256Of(QDir(backupFolder()).filePath(c.file)), c.sha256);
}

void TestBackupGenerations::fullDiskKeepsTheFolderCopiesTogether()
{
    if (test::onServer())
        QSKIP("The folder copies are placed by the same code on either engine.");
    // A small disk of its own for the backup folder.
    const QString disk = m_sandbox->dataDir() + "/disk";
    QVERIFY(QDir().mkpath(disk));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=4m", "tmpfs", disk}) != 0)
        QSKIP("Mounting a small disk is not permitted here.");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
    BackupFolder::setPath(disk);
    take("d0");
    const QList<GenerationInfo> first = BackupGenerations::list();
    // Room left for one more generation and half a copy.
    qint64 generation = 0, smallest = LLONG_MAX;
    for (const GenerationCopy& c : first.first().copies) {
        generation += c.size;
        smallest = std::min(smallest, c.size);
    }
    struct statvfs fs
    {
    };
    QCOMPARE(::statvfs(QFile::encodeName(disk).constData(), &fs), 0);
    const qint64 spare =
        qint64(fs.f_bavail) * qint64(fs.f_frsize) - generation - 4 * 4096 - smallest / 2;
    QVERIFY(spare > 0);
    QFile filler(disk + "/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    QCOMPARE(filler.write(QByteArray(spare, 'x')), spare);
    filler.close();

    const auto taken = BackupGenerations::take(at("d1"));
    QVERIFY(taken);
    const QString text = BackupGenerations::notPlacedText(*taken);
    QVERIFY2(text.startsWith(QStringLiteral("这次的备份已完整保存在“%1/历史/%2”中，但备份文件夹中"
                                            "的副本没有换成它，仍全部是上一次的备份：无法写入“")
                                 .arg(disk, name("d1"))),
             qPrintable(text));
    QVERIFY2(text.endsWith("”：磁盘已满。请腾出磁盘空间后再试。"), qPrintable(text));
    // The new generation is sound; the copies in the folder are all those
    // of the one before, and no temporary file is left.
    QCOMPARE(names(true), QStringList({name("d1"), name("d0")}));
    for (const GenerationCopy& c : first.first().copies)
        QCOMPARE(Backup::sha256Of(QDir(disk).filePath(c.file)), c.sha256);
    QCOMPARE(QDir(disk).entryList({"*.tmp"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestBackupGenerations::foldersArePrivate()
{
    const QString folder = m_sandbox->dataDir() + "/new/备份";
    BackupFolder::setPath(folder);
    take("d0");
    for (const QString& path : {m_sandbox->dataDir() + "/new", folder, folder + "/历史",
                                folder + "/历史/" + name("d0")}) {
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }
}

// Whatever window asks, a class that may change nothing restores nothing.
void TestBackupGenerations::restoreRefusedToReadOnlyClass_data()
{
    QTest::addColumn<int>("byClass");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("class 1") << 1 << true;
    QTest::newRow("class 2") << 2 << true;
    QTest::newRow("class 3") << 3 << false;
}

void TestBackupGenerations::restoreRefusedToReadOnlyClass()
{
    QFETCH(int, byClass);
    QFETCH(bool, allowed);
    take("d0");
    test::exec(*m_sandbox->open(), "DELETE FROM DEVICE");
    const QString copy = QDir(backupFolder()).filePath("vok1.db");
    try {
        QVERIFY(BackupGenerations::restore(byClass, copy, Backup::DepartmentDb{"VOK1"}));
        QVERIFY(allowed);
    } catch (const DbError& e) {
        QVERIFY2(!allowed, qPrintable(e.text()));
        QCOMPARE(e.text(), readOnlyClassText());
    }
    QCOMPARE(test::rows(*m_sandbox->open(), "SELECT code FROM DEVICE").size(), allowed ? 1 : 0);
}

QTEST_MAIN(TestBackupGenerations)
#include "tst_backupgenerations.moc"
