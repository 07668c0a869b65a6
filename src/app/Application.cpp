#include "app/Application.h"

#include "app/Termination.h"
#include "app/VOKApp.h"
#include "core/Accounts.h"
#include "core/Departments.h"
#include "db/Backup.h"
#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/ReportCommand.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif
#include <iostream>
#include <memory>
#include <string>

namespace vok {

namespace {

} // namespace

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

// Creates (or checks) the five department databases.
int initDatabases()
{
    try {
        for (const Department& d : departments()) {
            const ConnectionPtr c = openConnection(ConnectionString{d.dsn, {}, {}}.toString());
            c->close();
        }
    } catch (const DbError& e) {
        printError(comErrorText(e));
        return 1;
    }
    return 0;
}

// Writes one account with a hashed password; the password is the first
// line of standard input.
int addUser(const QString& userName, const QString& classText, const QString& department)
{
    if (userName.isEmpty()) {
        printError(QStringLiteral("用户名不能为空。"));
        return 2;
    }
    if (classText.isEmpty()) {
        printError(QStringLiteral("缺少 --class。"));
        return 2;
    }
    std::string line;
    if (!std::getline(std::cin, line)) {
        printError(QStringLiteral("从标准输入读不到密码。"));
        return 2;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const QString password = QString::fromUtf8(line.data(), qsizetype(line.size()));
    if (password.isEmpty()) {
        printError(QStringLiteral("密码不能为空。"));
        return 2;
    }
    const std::optional<QString> cs = departmentConnectionString(department, userName, password);
    if (!cs) {
        printError(QStringLiteral("部门选择项不正确: %1（可选: %2）")
                       .arg(department, departmentNames().join(QLatin1Char(' '))));
        return 2;
    }
    try {
        const ConnectionPtr c = openConnection(*cs);
        if (Accounts::exists(*c, userName)) {
            printError(QStringLiteral("%1 中已有用户 %2。").arg(department, userName));
            return 1;
        }
        Accounts::add(*c, userName, password, classText);
        c->close();
    } catch (const DbError& e) {
        printError(comErrorText(e));
        return 1;
    }
    return 0;
}

// Prints the script that creates a department database on a server.
int printSchema(const QString& engine)
{
    if (engine.compare(QLatin1String("postgresql"), Qt::CaseInsensitive) != 0) {
        printError(QStringLiteral("不支持的数据库引擎“%1”，可用：postgresql").arg(engine));
        return 2;
    }
    const QByteArray script = schema::createScript(Engine::Postgres).toUtf8();
    std::fwrite(script.constData(), 1, size_t(script.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Scripted set-up runs without a display: no widgets are made.
bool isHeadless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--init" || a == "--add-user" || a == "--dsn-schema" || a == "--help" ||
            a == "-h" || a == "--version" || a == "-v")
            return true;
    }
    return false;
}

// A report to a file draws with fonts and a printer but shows no window.
bool isReport(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--report")
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

} // namespace

int runApplication(int argc, char** argv)
{
    std::unique_ptr<QCoreApplication> app;
    const bool report = isReport(argc, argv);
    if (report)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (isHeadless(argc, argv) && !report) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        // Lets the desktop match the windows to the menu entry vok.desktop.
        QGuiApplication::setDesktopFileName(QStringLiteral("vok"));
        installComErrorBox();
    }
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    loadTranslations(*app);
    installTerminationHandler();

    QCoreApplication::setApplicationVersion(QStringLiteral(VOK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("仓库管理系统\nWarehouse management"));
    // Help and version with descriptions in both languages (Qt's own are
    // in one).
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help")},
        QStringLiteral("显示这些选项后退出。\nShow these options and exit."));
    const QCommandLineOption version(
        QStringList{QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("显示版本后退出。\nShow the version and exit."));
    const QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("部门数据库所在的文件夹。\nFolder of the department databases."),
        QStringLiteral("DIR"));
    const QCommandLineOption backupDir(
        QStringLiteral("backup-dir"),
        QStringLiteral("备份数据库所用的文件夹（默认 ~/备份）。\nFolder of the database backups "
                       "(default ~/备份)."),
        QStringLiteral("DIR"));
    const QCommandLineOption init(
        QStringLiteral("init"),
        QStringLiteral(
            "建立五个部门的数据库后退出。\nCreate the five department databases and exit."));
    const QCommandLineOption dsnSchema(
        QStringLiteral("dsn-schema"),
        QStringLiteral(
            "输出在数据库服务器上建立一个部门数据库的 SQL 脚本后退出（ENGINE：postgresql）。\n"
            "Print the SQL script that creates a department database on a server and exit "
            "(ENGINE: postgresql)."),
        QStringLiteral("ENGINE"));
    const QCommandLineOption addUserOption(
        QStringLiteral("add-user"),
        QStringLiteral("建立一个用户（密码从标准输入读取）后退出；需要 --class 和 --department。\n"
                       "Create an account (password from standard input) and exit; needs --class "
                       "and --department."),
        QStringLiteral("NAME"));
    const QCommandLineOption classOption(
        QStringLiteral("class"),
        QStringLiteral("新用户的级别（1 管理员，3 只读）。\nClass of the new account (1 "
                       "administrator, 3 read-only)."),
        QStringLiteral("C"));
    const QCommandLineOption departmentOption(
        QStringLiteral("department"),
        QStringLiteral("新用户或报表的部门，如 部门A（报表默认为部门A）。\nDepartment of the new "
                       "account or of the report, e.g. 部门A (reports: 部门A by default)."),
        QStringLiteral("DEPARTMENT"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("把一个表的报表（如浏览窗口列出的那样）写入 --pdf 指定的文件后退出；"
                       "TABLE：DEVICE_IN 等。\nWrite the report of a table, as its browser lists "
                       "it, to the --pdf file and exit; TABLE: DEVICE_IN, ..."),
        QStringLiteral("TABLE"));
    const QCommandLineOption pdfOption(QStringLiteral("pdf"),
                                       QStringLiteral("报表的 PDF 文件。\nThe report's PDF file."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption preparerOption(
        QStringLiteral("preparer"),
        QStringLiteral("报表的制表人（默认为系统用户名）。\nThe report's preparer (default: the "
                       "system user's name)."),
        QStringLiteral("NAME"));
    const QCommandLineOption queryOption(
        QStringLiteral("query"),
        QStringLiteral("只列出查询结果：--query FIELD OP VALUE，如 --query 供应商c = 公司。\n"
                       "Report only a query's result: --query FIELD OP VALUE."),
        QStringLiteral("FIELD"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(dataDir);
    parser.addOption(backupDir);
    parser.addOption(init);
    parser.addOption(addUserOption);
    parser.addOption(classOption);
    parser.addOption(departmentOption);
    parser.addOption(dsnSchema);
    parser.addOption(reportOption);
    parser.addOption(pdfOption);
    parser.addOption(preparerOption);
    parser.addOption(queryOption);
    parser.process(*app);
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();

    if (parser.isSet(dsnSchema))
        return printSchema(parser.value(dsnSchema));

    if (parser.isSet(dataDir))
        DataFolder::setPath(parser.value(dataDir));
    if (parser.isSet(backupDir))
        BackupFolder::setPath(parser.value(backupDir));
    if (parser.isSet(init))
        return initDatabases();
    if (parser.isSet(reportOption)) {
        ReportRequest request;
        request.table = parser.value(reportOption);
        request.pdfFile = parser.value(pdfOption);
        if (request.pdfFile.isEmpty()) {
            printError(QStringLiteral("缺少 --pdf FILE。"));
            return 2;
        }
        if (parser.isSet(departmentOption))
            request.department = parser.value(departmentOption);
        request.preparer =
            parser.isSet(preparerOption) ? parser.value(preparerOption) : systemUserName();
        const QStringList rest = parser.positionalArguments();
        if (parser.isSet(queryOption)) {
            if (rest.size() != 2) {
                printError(QStringLiteral("--query 需要三个值：FIELD OP VALUE。"));
                return 2;
            }
            request.query = true;
            request.field = parser.value(queryOption);
            request.op = rest.at(0);
            request.value = rest.at(1);
        } else if (!rest.isEmpty()) {
            printError(QStringLiteral("多余的参数：%1").arg(rest.join(QLatin1Char(' '))));
            return 2;
        }
        QString error;
        const int rc = writeTableReport(request, &error);
        if (rc != 0)
            printError(error);
        return rc;
    }
    if (parser.isSet(addUserOption))
        return addUser(parser.value(addUserOption), parser.value(classOption),
                       parser.value(departmentOption));
    Backup::removeStaleTemporaries();
    return CVOKApp().run();
}

} // namespace vok
