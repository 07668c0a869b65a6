#include "app/Application.h"

#include "db/Connection.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "login/ComErrorBox.h"
#include "login/Departments.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace vok {

namespace {

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
        if (a == "--init" || a == "--add-user" || a == "--dsn-schema" || a == "--help"
            || a == "-h")
            return true;
    }
    return false;
}

} // namespace

int runApplication(int argc, char** argv)
{
    std::unique_ptr<QCoreApplication> app;
    if (isHeadless(argc, argv)) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        installComErrorBox();
    }
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    loadTranslations(*app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("仓库管理系统"));
    parser.addHelpOption();
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("部门数据库所在的文件夹。"),
                                     QStringLiteral("DIR"));
    const QCommandLineOption init(QStringLiteral("init"),
                                  QStringLiteral("建立五个部门的数据库后退出。"));
    const QCommandLineOption dsnSchema(
        QStringLiteral("dsn-schema"),
        QStringLiteral("输出在数据库服务器上建立一个部门数据库的 SQL 脚本后退出（ENGINE：postgresql）。"),
        QStringLiteral("ENGINE"));
    parser.addOption(dataDir);
    parser.addOption(init);
    parser.addOption(dsnSchema);
    parser.process(*app);

    if (parser.isSet(dsnSchema))
        return printSchema(parser.value(dsnSchema));

    if (parser.isSet(dataDir))
        DataFolder::setPath(parser.value(dataDir));
    if (parser.isSet(init))
        return initDatabases();
    return 0;
}

} // namespace vok
