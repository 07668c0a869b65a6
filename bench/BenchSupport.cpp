#include "BenchSupport.h"

#include "db/DataFolder.h"
#include "db/RowRecord.h"
#include "db/SqliteConnection.h"
#include "ui/MessageService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vok::bench {

QString sourceOfFile(const QString& file)
{
    const QFileInfo info(file);
    DataFolder::setPath(info.absolutePath());
    return info.absoluteFilePath();
}

ConnectionPtr openSource(const QString& source)
{
    if (source.contains(QLatin1Char('/')))
        return openSqliteConnection(source);
    return openConnection(ConnectionString{source, {}, {}}.toString());
}

qint64 rowCount(Connection& c, const QString& table)
{
    return c.count({table});
}

void refill(Connection& c, const QStringList& tables, const std::function<void()>& add)
{
    Transaction t(c);
    for (const QString& table : tables)
        c.remove({table});
    add();
    t.commit();
}

bool buildInChild(const char* program, const std::function<void()>& build)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        try {
            build();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", program, e.what());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

FormContext benchContext(const QString& source)
{
    Messages::setTestMode(true);
    FormContext context;
    context.classNumber = 1;
    context.userName = QStringLiteral("bench");
    context.connection = openSource(source);
    return context;
}

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double commandSeconds(const QByteArray& command)
{
    QElapsedTimer timer;
    timer.start();
    if (std::system(command.constData()) != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

namespace {

QByteArray shellQuoted(const QString& s)
{
    QByteArray b = s.toLocal8Bit();
    b.replace('\'', "'\\''");
    return '\'' + b + '\'';
}

} // namespace

QByteArray ServerSource::psql() const
{
    qputenv("PGPASSWORD", password.toLocal8Bit());
    return "psql -X -q -v ON_ERROR_STOP=1 -h " + shellQuoted(host) + " -p " + shellQuoted(port) +
           " -U " + shellQuoted(user) + " -d " + shellQuoted(database);
}

bool ServerSource::copy(const QString& table, const QStringList& columns,
                        const std::function<void(std::FILE*)>& write) const
{
    const QByteArray command =
        psql() + " -c " +
        shellQuoted(QStringLiteral("\\copy %1 (%2) FROM STDIN WITH (FORMAT csv)")
                        .arg(table, columns.join(QLatin1Char(','))));
    std::FILE* pipe = popen(command.constData(), "w");
    if (!pipe)
        return false;
    write(pipe);
    return pclose(pipe) == 0;
}

std::optional<ServerSource> serverSource(const QString& dsn)
{
    QStringList files;
    if (qEnvironmentVariableIsSet("ODBCINI"))
        files << qEnvironmentVariable("ODBCINI");
    files << QDir::homePath() + QStringLiteral("/.odbc.ini") << QStringLiteral("/etc/odbc.ini");
    for (const QString& file : files) {
        if (!QFileInfo::exists(file))
            continue;
        const QSettings ini(file, QSettings::IniFormat);
        const auto value = [&](const char* key) {
            return ini.value(dsn + QLatin1Char('/') + QLatin1String(key)).toString();
        };
        if (value("Database").isEmpty())
            continue;
        ServerSource s{value("Servername"), value("Port"), value("Database"), value("Username"),
                       value("Password")};
        if (s.port.isEmpty())
            s.port = QStringLiteral("5432");
        return s;
    }
    return std::nullopt;
}

QByteArray csvField(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return {};
    QByteArray b;
    if (value.typeId() == QMetaType::Float || value.typeId() == QMetaType::Double)
        return singleText(value.toDouble()).toUtf8();
    b = value.toString().toUtf8();
    if (b.isEmpty() || b.contains(',') || b.contains('"') || b.contains('\n') || b.contains('\r')) {
        b.replace("\"", "\"\"");
        b = '"' + b + '"';
    }
    return b;
}

} // namespace vok::bench
