#include "core/Accounts.h"
#include "core/BackupGenerations.h"
#include "core/Password.h"
#include "db/SqliteConnection.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace vok;

// The program's scripted set-up, run as its own process.
class TestApplication : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void addUser_data();
    void addUser();
    void addUserTwiceIsRefused();
    void versionAndHelp_data();
    void versionAndHelp();
    void labels_data();
    void labels();
    void fullDiskIsReported_data();
    void fullDiskIsReported();
    void backup_data();
    void backup();
    void backupsStartedTogether();
    void backupKilledPartWay_data();
    void backupKilledPartWay();
    void importFile_data();
    void importFile();

private:
    int run(const QStringList& args, const QByteArray& input, QString* errors = nullptr,
            QString* output = nullptr, qint64 fileSizeLimit = 0);
    std::unique_ptr<test::Sandbox> m_sandbox;
};

int TestApplication::run(const QStringList& args, const QByteArray& input, QString* errors,
                         QString* output, qint64 fileSizeLimit)
{
    QProcess p;
    // A limit on the size of a file written stands for a disk filling up.
    if (fileSizeLimit > 0)
        p.setChildProcessModifier([fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    p.start(QCoreApplication::applicationDirPath() + "/vok",
            QStringList{"--data-dir", m_sandbox->dataDir()} + args);
    if (!p.waitForStarted())
        return -1;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        return -2;
    if (errors)
        *errors = QString::fromUtf8(p.readAllStandardError());
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

void TestApplication::addUser_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    const QStringList good{"--add-user", "张'三", "--class", "2", "--department", "部门B"};
    QTest::newRow("written") << good << QByteArray("p w'd\n") << true << "";
    QTest::newRow("no newline at the end") << good << QByteArray("p w'd") << true << "";
    QTest::newRow("line end of another system") << good << QByteArray("p w'd\r\n") << true << "";
    QTest::newRow("empty password") << good << QByteArray("\n") << false << "密码不能为空";
    QTest::newRow("no input") << good << QByteArray() << false << "读不到密码";
    QTest::newRow("unknown department")
        << QStringList{"--add-user", "张'三", "--class", "2", "--department", "部门X"}
        << QByteArray("pw\n") << false << "部门选择项不正确";
    QTest::newRow("no class") << QStringList{"--add-user", "张'三", "--department", "部门B"}
                              << QByteArray("pw\n") << false << "--class";
}

void TestApplication::addUser()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    QString errors;
    const int rc = run(args, input, &errors);
    auto c = m_sandbox->open("VOK2");
    if (!ok) {
        QVERIFY(rc > 0);
        QVERIFY2(errors.contains(error), qPrintable(errors));
        QVERIFY(!Accounts::any(*c));
        return;
    }
    QCOMPARE(rc, 0);
    const auto rows = test::table(*c, "user");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0], QStringLiteral("张'三"));
    QVERIFY(Password::isHash(rows[0][1]));
    QCOMPARE(Accounts::find(*c, "张'三", "p w'd"), std::optional<QString>("2"));
    QCOMPARE(Accounts::find(*c, "张'三", "p w'd\r"), std::nullopt);
}

void TestApplication::addUserTwiceIsRefused()
{
    const QStringList args{"--add-user", "管理员", "--class", "1", "--department", "部门A"};
    QCOMPARE(run(args, "a\n"), 0);
    QString errors;
    QVERIFY(run(args, "b\n", &errors) > 0);
    QVERIFY(errors.contains("已有用户"));
    auto c = m_sandbox->open("VOK1");
    QCOMPARE(c->count({"user"}), 1);
    QVERIFY(Accounts::find(*c, "管理员", "a"));
}

void TestApplication::versionAndHelp_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("version") << "--version" << QStringList{"vok " VOK_VERSION "\n"};
    QTest::newRow("short version") << "-v" << QStringList{"vok " VOK_VERSION "\n"};
    // Every option, each described in Chinese and in English.
    QTest::newRow("help") << "--help"
                          << QStringList{"--help",
                                         "--version",
                                         "--data-dir <DIR>",
                                         "--init",
                                         "--add-user <NAME>",
                                         "--class <C>",
                                         "--department <DEPARTMENT>",
                                         "--dsn-schema <ENGINE>",
                                         "显示版本后退出。",
                                         "Show the version and exit.",
                                         "部门数据库所在的文件夹。",
                                         "Folder of the department databases."};
}

void TestApplication::versionAndHelp()
{
    QFETCH(QString, option);
    QFETCH(QStringList, shown);
    QString output;
    QCOMPARE(run({option}, {}, nullptr, &output), 0);
    for (const QString& text : shown)
        QVERIFY2(output.contains(text), qPrintable(output));
    if (option != "--help")
        QCOMPARE(output, shown.first());
}

void TestApplication::labels_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("printed"); // texts on the pages
    QTest::addColumn<QString>("paper");       // pdfinfo's page size
    QTest::newRow("a4") << QStringList{"--labels", "D001", "AB-1/2"} << 0 << ""
                        << QStringList{"D001", "投影仪", "AB-1/2", "交换机"}
                        << "595 x 842 pts (A4)";
    QTest::newRow("label printer") << QStringList{"--labels", "AB-1/2", "--layout", "label"} << 0
                                   << "" << QStringList{"AB-1/2", "交换机"} << "142 x 85 pts";
    QTest::newRow("unknown code") << QStringList{"--labels", "D001", "X9", "Y8"} << 2
                                  << "vok: 设备代码中没有设备号：X9、Y8\n"
                                  << QStringList{} << "";
    QTest::newRow("unknown layout") << QStringList{"--labels", "D001", "--layout", "a5"} << 2
                                    << "vok: 没有标签格式“a5”，可用：a4 label\n"
                                    << QStringList{} << "";
    QTest::newRow("no code") << QStringList{"--labels"} << 2 << "vok: 没有给出设备号。\n"
                             << QStringList{} << "";
    // Codes no label can carry are refused; nothing reaches the terminal raw.
    QTest::newRow("control character")
        << QStringList{"--labels", "D001", "AB\x07\x1b[2J"} << 2
        << "vok: 设备号“AB\\x07\\x1b[2J”含有控制字符，不能打印标签。\n"
        << QStringList{} << "";
    QTest::newRow("too long for its symbols")
        << QStringList{"--labels", QString(5000, 'A')} << 2
        << "vok: 设备号“" + QString(40, 'A') +
               "…（共5000个字符）”不能生成条码：Error 561: Input too long for selected error "
               "correction level\n"
        << QStringList{} << "";
    QTest::newRow("unknown, direction override")
        << QStringList{"--labels", "X\u202E9"} << 2 << "vok: 设备代码中没有设备号：XU+202E9\n"
        << QStringList{} << "";
}

void TestApplication::labels()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QFETCH(QStringList, printed);
    QFETCH(QString, paper);
    {
        const ConnectionPtr db = m_sandbox->open("VOK1");
        test::seed(*db, "DEVICE_CODE", {{"D001", "投影仪"}, {"AB-1/2", "交换机"}});
        db->close();
    }
    const QString pdf = m_sandbox->dataDir() + "/labels.pdf";
    QString errors;
    QCOMPARE(run(args + QStringList{"--pdf", pdf}, {}, &errors), exitCode);
    // The program's own lines, without what Qt may say of the session.
    QString own;
    for (const QString& line : errors.split('\n', Qt::SkipEmptyParts))
        if (line.startsWith("vok: "))
            own += line + '\n';
    QCOMPARE(own, error);
    QVERIFY(!errors.contains(QChar(7)) && !errors.contains(QChar(0x1b)) &&
            !errors.contains(QChar(0x202E)));
    QCOMPARE(QFileInfo::exists(pdf), exitCode == 0);
    if (exitCode != 0)
        return;
    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    QVERIFY(text.waitForFinished(60000));
    const QString pages = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString& t : printed)
        QVERIFY2(pages.contains(t), qPrintable(t));
    QProcess info;
    info.start("pdfinfo", {pdf});
    QVERIFY(info.waitForFinished(60000));
    const QString details = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(details.contains(
                 QRegularExpression("Page size: +" + QRegularExpression::escape(paper) + "\\n")),
             qPrintable(details));
}

// A PDF that cannot be written whole ends in the full-disk message and
// exit code 1, with no file left behind (and the device left a device).
void TestApplication::fullDiskIsReported_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("device");
    QStringList labels{"--labels"};
    for (int i = 0; i < 300; ++i)
        labels << QStringLiteral("D%1").arg(i, 3, 10, QLatin1Char('0'));
    const QStringList report{"--report", "DEVICE_IN"};
    QTest::newRow("labels, /dev/full") << labels << true;
    QTest::newRow("report, /dev/full") << report << true;
    QTest::newRow("labels, disk filling up") << labels << false;
    QTest::newRow("report, disk filling up") << report << false;
}

void TestApplication::fullDiskIsReported()
{
    QFETCH(QStringList, args);
    QFETCH(bool, device);
    if (device && !QFileInfo(QStringLiteral("/dev/full")).exists())
        QSKIP("no /dev/full");
    {
        const ConnectionPtr db = m_sandbox->open("VOK1");
        QList<QVariantList> codes, in;
        for (int i = 0; i < 300; ++i) {
            const QString code = QStringLiteral("D%1").arg(i, 3, 10, QLatin1Char('0'));
            codes << QVariantList{code, "投影仪"};
            in << QVariantList{code, "2004-1-5 9:3:7", "公司", "1", 1, 1, "王"};
        }
        test::seed(*db, "DEVICE_CODE", codes);
        test::seed(*db, "DEVICE_IN", in);
        db->close();
    }
    const QString folder = m_sandbox->dataDir() + "/out";
    QVERIFY(QDir().mkpath(folder));
    const QString pdf = device ? QStringLiteral("/dev/full") : folder + "/a.pdf";
    QString errors;
    // (The database's shared memory file takes 32 kB.)
    QCOMPARE(run(args + QStringList{"--pdf", pdf}, {}, &errors, nullptr, device ? 0 : 40000), 1);
    QVERIFY2(errors.contains(QStringLiteral("vok: 写入文件时出错，磁盘可能已满（")),
             qPrintable(errors));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
}

void TestApplication::backup_data()
{
    QTest::addColumn<bool>("folderIsAFile");
    QTest::newRow("one generation") << false;
    QTest::newRow("the folder cannot be made") << true;
}

void TestApplication::backup()
{
    QFETCH(bool, folderIsAFile);
    test::seed(*m_sandbox->open("VOK2"), "DEVICE_CODE", {{"D1", "投影仪"}});
    const QString folder = m_sandbox->dataDir() + "/nightly";
    if (folderIsAFile) {
        QFile f(folder);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QString errors, output;
    const int rc = run({"--backup", "--backup-dir", folder}, {}, &errors, &output);
    BackupFolder::setPath(folder);
    const QList<GenerationInfo> generations =
        BackupGenerations::list(BackupGenerations::Verify::Hashes);
    if (folderIsAFile) {
        QCOMPARE(rc, 1);
        QCOMPARE(errors,
                 QStringLiteral("vok: 备份没有完成：无法创建文件夹“%1/历史”。\n").arg(folder));
        QVERIFY(generations.isEmpty());
        return;
    }
    QCOMPARE(rc, 0);
    QCOMPARE(generations.size(), 1);
    QVERIFY(generations.first().generation.verified);
    QCOMPARE(output, QStringLiteral("已备份 1 个部门数据库到 %1（%2）。\n")
                         .arg(folder, generations.first().generation.name));
    // The generation's copy restores.
    const QString restored = m_sandbox->dataDir() + "/restored.db";
    QVERIFY(Backup::restoreEmbedded(generations.first().path + "/vok2.db", restored));
    QCOMPARE(test::rows(*openSqliteConnection(restored), "SELECT code, name FROM DEVICE_CODE"),
             (QList<QStringList>{{"D1", "投影仪"}}));
}

void TestApplication::backupsStartedTogether()
{
    // Four at once, as several timers or users may start them: each waits
    // its turn and makes a generation of its own.
    m_sandbox->open("VOK2")->close();
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < 4; ++i) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(
            QCoreApplication::applicationDirPath() + "/vok",
            {"--data-dir", m_sandbox->dataDir(), "--backup", "--backup-dir", BackupFolder::path()});
    }
    for (const auto& p : runs) {
        QVERIFY(p->waitForFinished(60000));
        QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
    }
    const QList<GenerationInfo> generations =
        BackupGenerations::list(BackupGenerations::Verify::Hashes);
    QCOMPARE(generations.size(), 4);
    for (const GenerationInfo& g : generations)
        QVERIFY2(g.generation.verified, qPrintable(g.problem));
}

void TestApplication::backupKilledPartWay_data()
{
    QTest::addColumn<int>("percent"); // of a whole backup's time
    for (const int p : {20, 50, 80, 95})
        QTest::newRow(qPrintable(QStringLiteral("%1 %").arg(p))) << p;
}

void TestApplication::backupKilledPartWay()
{
    QFETCH(int, percent);
    // Enough rows in two departments that a backup takes a while.
    for (const QString& dsn : {QStringLiteral("VOK1"), QStringLiteral("VOK2")}) {
        const ConnectionPtr c = m_sandbox->open(dsn);
        test::seed(*c, "HOWDO", {{"张三", QString(60, QChar(u'记')), "2004-1-5 9:0:0"}});
        for (int i = 0; i < 15; ++i) // 32768 rows
            test::exec(*c, "INSERT INTO HOWDO (do_user,do_what,do_date) "
                           "SELECT do_user,do_what,do_date FROM HOWDO");
    }
    QElapsedTimer whole;
    whole.start();
    const QStringList backup{"--data-dir", m_sandbox->dataDir(), "--backup", "--backup-dir",
                             BackupFolder::path()};
    QCOMPARE(run(backup.mid(2), {}), 0);
    const qint64 duration = whole.elapsed();
    QTest::qWait(1000); // the next generation's name is a second later
    const QList<GenerationInfo> before = BackupGenerations::list(BackupGenerations::Verify::Hashes);
    QCOMPARE(before.size(), 1);

    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + "/vok", backup);
    QVERIFY(p.waitForStarted());
    QTest::qSleep(int(duration * percent / 100));
    p.kill();
    QVERIFY(p.waitForFinished());

    // The earlier generation is as it was; a new one counts only whole.
    const QList<GenerationInfo> after = BackupGenerations::list(BackupGenerations::Verify::Hashes);
    QVERIFY(after.size() == 1 || after.size() == 2);
    QCOMPARE(after.last().generation.name, before.first().generation.name);
    for (const GenerationInfo& g : after)
        QVERIFY2(g.generation.verified, qPrintable(g.generation.name));
    QCOMPARE(after.last().copies.first().sha256, before.first().copies.first().sha256);
}

void TestApplication::importFile_data()
{
    QTest::addColumn<QStringList>("args"); // after --import DEVICE_IN FILE
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors"); // the program's own lines
    QTest::addColumn<int>("written");
    const QByteArray good =
        "设备号,入库时间,数量,价格,备注\nA1,2024-3-5,2,3,x\nA1,2024-3-6 8:00,4,5.5,y\n";
    QTest::newRow("written") << QStringList{} << good << 0 << "已导入2行到 DEVICE_IN。\n"
                             << "vok: 这些列不导入：备注\n"
                             << 2;
    QTest::newRow("other department")
        << QStringList{"--department", "部门B"} << good << 0 << "已导入2行到 DEVICE_IN。\n"
        << "vok: 这些列不导入：备注\n"
        << 2;
    QTest::newRow("dry run") << QStringList{"--dry-run"} << good << 0
                             << "检查了2行，没有发现问题；没有写入（--dry-run）。\n"
                             << "vok: 这些列不导入：备注\n"
                             << 0;
    QTest::newRow("problems")
        << QStringList{}
        << QByteArray("设备号,入库时间,数量,价格\nA1,2024-3-5,2,3\nZ9,2024-3-6,20000,5\n") << 1
        << ""
        << "vok: 第3行，A列“设备号”：设备号“Z9”不在设备代码表中。\n"
           "vok: 第3行，C列“数量”：“20000”不在1和10000之间。\n"
           "vok: 文件中有2个问题，没有导入任何记录。\n"
        << 0;
    QTest::newRow("problems, dry run")
        << QStringList{"--dry-run"} << QByteArray("设备号,数量,价格\nA1,2,3\n") << 1 << ""
        << "vok: 缺少必需的列“入库时间”。\nvok: 文件中有1个问题，没有导入任何记录。\n"
        << 0;
    const QByteArray otherHeadings = "设备编号,日期,件数,价格\nA1,2024-3-5,2,3\nA1,2024-3-6,4,5\n";
    QTest::newRow("columns") << QStringList{"--columns", "入库时间=日期, 数量=C"} << otherHeadings
                             << 0 << "已导入2行到 DEVICE_IN。\n"
                             << "" << 2;
    QTest::newRow("columns unknown")
        << QStringList{"--columns", "件数=数量"} << otherHeadings << 2 << ""
        << "vok: --columns：入库记录中没有“件数”列；它的列是：设备号、入库时间、供应商、"
           "供应商电话、数量、价格、采购员。\n"
        << 0;
    QTest::newRow("unknown department")
        << QStringList{"--department", "部门Z"} << good << 2 << ""
        << "vok: 部门选择项不正确: 部门Z（可选: 部门A 部门B 部门C 部门D 部门E）\n"
        << 0;
}

void TestApplication::importFile()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, csv);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    QFETCH(int, written);
    for (const char* dsn : {"VOK1", "VOK2"}) {
        const ConnectionPtr db = m_sandbox->open(dsn);
        test::seed(*db, "DEVICE_CODE", {{"A1", "投影仪"}});
        db->close();
    }
    const QString file = m_sandbox->dataDir() + "/in.csv";
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(csv);
    f.close();
    QString err, out;
    QCOMPARE(run(QStringList{"--import", "DEVICE_IN", file} + args, {}, &err, &out), exitCode);
    QString own;
    for (const QString& line : err.split('\n', Qt::SkipEmptyParts))
        if (line.startsWith("vok: "))
            own += line + '\n';
    QCOMPARE(own, errors);
    QCOMPARE(out, output);
    const ConnectionPtr db = m_sandbox->open(args.contains("部门B") ? "VOK2" : "VOK1");
    QCOMPARE(db->count({"DEVICE_IN"}), written);
    QCOMPARE(test::logged(*db),
             written ? QStringList{"从文件导入入库记录2行（DEVICE_IN）。"} : QStringList{});
}

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
