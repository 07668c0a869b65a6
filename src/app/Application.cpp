#include "app/Application.h"

#include "app/ImportCommand.h"
#include "app/Termination.h"
#include "app/VOKApp.h"
#include "core/Accounts.h"
#include "core/BackupGenerations.h"
#include "core/Clock.h"
#include "core/CommandLine.h"
#include "core/Departments.h"
#include "db/Backup.h"
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"
#include "ui/ComErrorBox.h"
#include "ui/LabelCommand.h"
#include "ui/ReportCommand.h"
#include "ui/SummaryCommand.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QProgressDialog>
#include <QTranslator>

#include <cstdio>
#include <functional>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif
#include <iostream>
#include <memory>
#include <string>

namespace vok {

void loadTranslations(QCoreApplication& app)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* name : {"qtbase_zh_CN", "qt_zh_CN"}) {
        auto* t = new QTranslator(&app);
        if (t->load(QString::fromLatin1(name), dir))
            app.installTranslator(t);
        else
            delete t;
    }
}

namespace {

void printError(const QString& text)
{
    std::fprintf(stderr, "vok: %s\n", text.toLocal8Bit().constData());
}

// Standard output that cannot be written is a failure of the action.
void flushOutput()
{
    if (std::fflush(stdout) != 0)
        throw DbError(DbError::Kind::File, QStringLiteral("无法写入标准输出。"));
}

// The one boundary of a command-line action: a failure it throws is told
// on standard error and ends the program with the exit code of its kind.
int runAction(const std::function<void()>& action)
{
    try {
        action();
        return CommandLine::Done;
    } catch (const DbError& e) {
        printError(comErrorText(e));
        return CommandLine::exitCode(e);
    }
}

// Creates (or checks) the five department databases.
void initDatabases()
{
    for (const Department& d : departments()) {
        const ConnectionPtr c = openConnection(ConnectionString{d.dsn, {}, {}}.toString());
        c->close();
    }
}

// Writes one account with a hashed password; the password is the first
// line of standard input.
void addUser(const QString& userName, const QString& classText, const QString& department)
{
    if (userName.isEmpty())
        CommandLine::refuse(QStringLiteral("用户名不能为空。"));
    if (classText.isEmpty())
        CommandLine::refuse(QStringLiteral("缺少 --class。"));
    std::string line;
    if (!std::getline(std::cin, line))
        CommandLine::refuse(QStringLiteral("从标准输入读不到密码。"));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const QString password = QString::fromUtf8(line.data(), qsizetype(line.size()));
    if (password.isEmpty())
        CommandLine::refuse(QStringLiteral("密码不能为空。"));
    const std::optional<QString> cs = departmentConnectionString(department, userName, password);
    if (!cs)
        CommandLine::refuse(unknownDepartmentText(department));
    const ConnectionPtr c = openConnection(*cs);
    if (Accounts::exists(*c, userName))
        CommandLine::refuse(QStringLiteral("%1 中已有用户 %2。").arg(department, userName));
    Accounts::add(*c, Accounts::kSettingUp, userName, password, classText);
    c->close();
}

// Prints the script that creates a department database on a server.
void printSchema(const QString& engine)
{
    if (engine.compare(QLatin1String("postgresql"), Qt::CaseInsensitive) != 0)
        CommandLine::refuse(QStringLiteral("不支持的数据库引擎“%1”，可用：postgresql").arg(engine));
    const QByteArray script = schema::createScript(Engine::Postgres).toUtf8();
    std::fwrite(script.constData(), 1, size_t(script.size()), stdout);
    flushOutput();
}

// vok --backup [--backup-dir DIR]: one generation of every department
// database, as the backup at log-in takes it.
void runBackup()
{
    std::optional<BackupGenerations::Taken> taken;
    try {
        taken = BackupGenerations::take(Clock::now());
    } catch (const DbError& e) {
        throw e.prefixed(QStringLiteral("备份没有完成："));
    }
    if (!taken)
        throw DbError(DbError::Kind::Cancelled, QStringLiteral("备份已取消。"));
    if (!taken->notPlaced.isEmpty())
        throw DbError(DbError::Kind::File, BackupGenerations::notPlacedText(*taken));
    const QByteArray line = QStringLiteral("已备份 %1 个部门数据库到 %2（%3）。\n")
                                .arg(QString::number(taken->departments),
                                     QDir::toNativeSeparators(BackupFolder::path()), taken->name)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    flushOutput();
}

// Scripted set-up runs without a display: no widgets are made.
bool isHeadless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--init" || a == "--add-user" || a == "--backup" || a == "--dsn-schema" ||
            a == "--help" || a == "-h" || a == "--version" || a == "-v" || a == "--import")
            return true;
    }
    return false;
}

// A report or labels to a file draw with fonts and a printer but shows no window.
bool isReport(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--report" || QByteArray(argv[i]) == "--labels" ||
            QByteArray(argv[i]) == "--summary")
            return true;
    return false;
}

// The name of the system user running the program.
QString systemUserName()
{
    for (const char* name : {"USER", "LOGNAME", "USERNAME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
#ifdef Q_OS_UNIX
    if (const passwd* entry = getpwuid(getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    return {};
}

// The application object: a plain core one for scripted set-up, else one
// with widgets (offscreen for a report to a file).
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv)
{
    const bool report = isReport(argc, argv);
    if (report)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (isHeadless(argc, argv) && !report)
        return std::make_unique<QCoreApplication>(argc, argv);
    auto app = std::make_unique<QApplication>(argc, argv);
    // Lets the desktop match the windows to the menu entry vok.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("vok"));
    return app;
}

// The state of an older file's upgrade on opening, in a small window that
// stays while the steps run (they hold the thread: the window is painted
// at each step, and no input reaches the program meanwhile).
void showUpgradeProgress(const QString& status)
{
    static QPointer<QProgressDialog> window;
    if (status.isEmpty()) {
        delete window;
        return;
    }
    if (!window) {
        window = new QProgressDialog;
        window->setWindowTitle(QStringLiteral("仓库管理系统"));
        window->setCancelButton(nullptr);
        window->setRange(0, 0);
        window->setMinimumDuration(0);
        window->setWindowModality(Qt::ApplicationModal);
    }
    window->setLabelText(status);
    window->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The options of starting, the folders and scripted set-up. Help and
// version have descriptions in both languages (Qt's own are in one).
void addSetUpOptions(QCommandLineParser& parser)
{
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")},
                      QStringLiteral("显示这些选项后退出。\nShow these options and exit.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")},
                      QStringLiteral("显示版本后退出。\nShow the version and exit.")});
    parser.addOption(
        {QStringLiteral("data-dir"),
         QStringLiteral("部门数据库所在的文件夹。\nFolder of the department databases."),
         QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("backup-dir"),
         QStringLiteral("备份数据库所用的文件夹（默认 ~/备份）。\nFolder of the database backups "
                        "(default ~/备份)."),
         QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("init"),
         QStringLiteral(
             "建立五个部门的数据库后退出。\nCreate the five department databases and exit.")});
    parser.addOption(
        {QStringLiteral("backup"),
         QStringLiteral("把各部门的数据库备份一次（存入备份文件夹和其中的“历史”）后退出。\n"
                        "Back up every department database once (into the backup folder and "
                        "its history) and exit.")});
    parser.addOption(
        {QStringLiteral("add-user"),
         QStringLiteral("建立一个用户（密码从标准输入读取）后退出；需要 --class 和 --department。\n"
                        "Create an account (password from standard input) and exit; needs "
                        "--class and --department."),
         QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("class"),
         QStringLiteral("新用户的级别（1 管理员，3 只读）。\nClass of the new account (1 "
                        "administrator, 3 read-only)."),
         QStringLiteral("C")});
    parser.addOption(
        {QStringLiteral("department"),
         QStringLiteral("新用户或报表的部门，如 部门A（报表默认为部门A）。\nDepartment of the new "
                        "account or of the report, e.g. 部门A (reports: 部门A by default)."),
         QStringLiteral("DEPARTMENT")});
    parser.addOption(
        {QStringLiteral("dsn-schema"),
         QStringLiteral(
             "输出在数据库服务器上建立一个部门数据库的 SQL 脚本后退出（ENGINE：postgresql）。\n"
             "Print the SQL script that creates a department database on a server and exit "
             "(ENGINE: postgresql)."),
         QStringLiteral("ENGINE")});
}

// The options of a report written to a file.
void addReportOptions(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("report"),
         QStringLiteral("把一个表的报表（如浏览窗口列出的那样）写入 --pdf 指定的文件后退出；"
                        "TABLE：DEVICE_IN 等。\nWrite the report of a table, as its browser lists "
                        "it, to the --pdf file and exit; TABLE: DEVICE_IN, ..."),
         QStringLiteral("TABLE")});
    parser.addOption(
        {QStringLiteral("summary"),
         QStringLiteral("把几个月的收发存汇总表写入 --pdf、--xlsx 或 --csv 指定的文件后退出；"
                        "MONTHS：2026-02 或 2026-01..2026-03。\nWrite the period summary of "
                        "months to the --pdf, --xlsx or --csv file and exit; MONTHS: 2026-02 or "
                        "2026-01..2026-03."),
         QStringLiteral("MONTHS")});
    parser.addOption({QStringLiteral("xlsx"),
                      QStringLiteral("收发存汇总表的工作簿文件。\nThe summary's workbook file."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("csv"),
                      QStringLiteral("收发存汇总表的 CSV 文件。\nThe summary's CSV file."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("pdf"),
                      QStringLiteral("报表或标签的 PDF 文件。\nThe report's or labels' PDF file."),
                      QStringLiteral("FILE")});
    parser.addOption(
        {QStringLiteral("preparer"),
         QStringLiteral("报表的制表人（默认为系统用户名）。\nThe report's preparer (default: the "
                        "system user's name)."),
         QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("query"),
         QStringLiteral("只列出查询结果：--query FIELD OP VALUE，如 --query 供应商c = 公司。\n"
                        "Report only a query's result: --query FIELD OP VALUE."),
         QStringLiteral("FIELD")});
}

// The options of labels written to a file.
void addLabelOptions(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("labels"),
         QStringLiteral("把其后列出的设备号的标签写入 --pdf 指定的文件后退出。\n"
                        "Write labels of the device codes that follow to the --pdf file and "
                        "exit.")});
    parser.addOption(
        {QStringLiteral("layout"),
         QStringLiteral("标签纸：a4（每页 3 × 8 张，默认）或 label（标签打印机，每页 1 张）。\n"
                        "Label paper: a4 (3 x 8 a sheet, the default) or label (one a page)."),
         QStringLiteral("LAYOUT")});
}

// The options of an import from a file.
void addImportOptions(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("import"),
         QStringLiteral("检查一个 Excel 工作簿或 CSV 文件并导入到表中后退出：--import TABLE FILE；"
                        "TABLE：DEVICE_CODE、DEVICE、DEVICE_IN 等；有问题时列出问题，"
                        "不写入任何记录。\nCheck a workbook or CSV file and import it into a "
                        "table, then exit: --import TABLE FILE; with problems, list them and "
                        "write nothing."),
         QStringLiteral("TABLE")});
    parser.addOption(
        {QStringLiteral("columns"),
         QStringLiteral(
             "导入时这样对应列：\"表中的列=文件中的列,…\"，如 \"设备号=编号,数量=件数\"；"
             "文件中的列写标题或列字母（C），“=”后不写表示不导入。\nWith --import: "
             "match columns as \"table column=file column,…\", e.g. "
             "\"设备号=编号,数量=件数\"; a file column by heading or letter (C), "
             "nothing after = for none."),
         QStringLiteral("PAIRS")});
    parser.addOption({QStringLiteral("dry-run"),
                      QStringLiteral("导入时只检查，不写入。\nWith --import: check only, "
                                     "write nothing.")});
}

// vok --import TABLE FILE [--department D] [--columns PAIRS] [--dry-run].
void runImportCommand(const QCommandLineParser& parser)
{
    ImportRequest request;
    request.table = parser.value(QStringLiteral("import"));
    const QStringList rest = parser.positionalArguments();
    if (rest.size() != 1)
        CommandLine::refuse(QStringLiteral("--import 需要两个值：TABLE FILE。"));
    request.file = rest.front();
    if (parser.isSet(QStringLiteral("department")))
        request.department = parser.value(QStringLiteral("department"));
    request.userName = systemUserName();
    request.dryRun = parser.isSet(QStringLiteral("dry-run"));
    request.columns = parser.value(QStringLiteral("columns"));
    runImport(request);
}

// vok --labels CODE… --pdf FILE [--layout a4|label] [--department D]:
// labels of devices written to a file.
void runLabels(const QCommandLineParser& parser)
{
    LabelRequest request;
    request.codes = parser.positionalArguments();
    request.pdfFile = parser.value(QStringLiteral("pdf"));
    if (request.pdfFile.isEmpty())
        CommandLine::refuse(QStringLiteral("缺少 --pdf FILE。"));
    if (parser.isSet(QStringLiteral("layout")))
        request.layout = parser.value(QStringLiteral("layout"));
    if (parser.isSet(QStringLiteral("department")))
        request.department = parser.value(QStringLiteral("department"));
    writeLabels(request);
}

// vok --report TABLE --pdf FILE [--department D] [--preparer P]
// [--query FIELD OP VALUE]: the report of one table written to a file.
void runReport(const QCommandLineParser& parser)
{
    ReportRequest request;
    request.table = parser.value(QStringLiteral("report"));
    request.pdfFile = parser.value(QStringLiteral("pdf"));
    if (request.pdfFile.isEmpty())
        CommandLine::refuse(QStringLiteral("缺少 --pdf FILE。"));
    if (parser.isSet(QStringLiteral("department")))
        request.department = parser.value(QStringLiteral("department"));
    request.preparer = parser.isSet(QStringLiteral("preparer"))
                           ? parser.value(QStringLiteral("preparer"))
                           : systemUserName();
    const QStringList rest = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("query"))) {
        if (rest.size() != 2)
            CommandLine::refuse(QStringLiteral("--query 需要三个值：FIELD OP VALUE。"));
        request.query = true;
        request.field = parser.value(QStringLiteral("query"));
        request.op = rest.at(0);
        request.value = rest.at(1);
    } else if (!rest.isEmpty()) {
        CommandLine::refuse(QStringLiteral("多余的参数：%1").arg(rest.join(QLatin1Char(' '))));
    }
    writeTableReport(request);
}

// vok --summary MONTHS (--pdf | --xlsx | --csv) FILE [--department D]
// [--preparer P]: the period summary written to a file.
void runSummary(const QCommandLineParser& parser)
{
    SummaryRequest request;
    request.months = parser.value(QStringLiteral("summary"));
    request.pdfFile = parser.value(QStringLiteral("pdf"));
    request.xlsxFile = parser.value(QStringLiteral("xlsx"));
    request.csvFile = parser.value(QStringLiteral("csv"));
    if (parser.isSet(QStringLiteral("department")))
        request.department = parser.value(QStringLiteral("department"));
    request.preparer = parser.isSet(QStringLiteral("preparer"))
                           ? parser.value(QStringLiteral("preparer"))
                           : systemUserName();
    if (!parser.positionalArguments().isEmpty())
        CommandLine::refuse(QStringLiteral("多余的参数：%1")
                                .arg(parser.positionalArguments().join(QLatin1Char(' '))));
    writeSummaryReport(request);
}

} // namespace

int runApplication(int argc, char** argv)
{
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    loadTranslations(*app);
    installTerminationHandler();
    // A file of an earlier version gains the indexes it lacks on opening;
    // on a large one that takes a while, and each step is told: in a window
    // of its own in the windowed program, else on standard error.
    if (qobject_cast<QApplication*>(app.get()) && !isReport(argc, argv))
        setSchemaUpgradeNotice(showUpgradeProgress);
    else
        setSchemaUpgradeNotice([](const QString& status) {
            if (!status.isEmpty())
                std::fprintf(stderr, "%s\n", status.toLocal8Bit().constData());
        });

    QCoreApplication::setApplicationVersion(QStringLiteral(VOK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("仓库管理系统\nWarehouse management"));
    addSetUpOptions(parser);
    addReportOptions(parser);
    addLabelOptions(parser);
    addImportOptions(parser);
    parser.process(*app);
    const auto option = [&parser](const char* name) {
        return parser.isSet(QString::fromLatin1(name));
    };
    const auto value = [&parser](const char* name) {
        return parser.value(QString::fromLatin1(name));
    };
    if (option("help"))
        parser.showHelp(0);
    if (option("version"))
        parser.showVersion();
    if (option("dsn-schema"))
        return runAction([&] { printSchema(value("dsn-schema")); });

    if (option("data-dir"))
        DataFolder::setPath(value("data-dir"));
    if (option("backup-dir"))
        BackupFolder::setPath(value("backup-dir"));
    if (option("init"))
        return runAction(initDatabases);
    if (option("backup"))
        return runAction(runBackup);
    if (option("report"))
        return runAction([&] { runReport(parser); });
    if (option("summary"))
        return runAction([&] { runSummary(parser); });
    if (option("labels"))
        return runAction([&] { runLabels(parser); });
    if (option("import"))
        return runAction([&] { runImportCommand(parser); });
    if (option("add-user"))
        return runAction([&] { addUser(value("add-user"), value("class"), value("department")); });
    Backup::removeStaleTemporaries();
    return CVOKApp().run();
}

} // namespace vok
