#pragma once

#include "db/Connection.h"

#include <QTemporaryDir>
#include <memory>

namespace vok::test {

// One test's surroundings: a fresh temporary data folder, the message
// service in test mode with nothing recorded, the clock on system time and
// help launches recorded instead of started. Create one in init().
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();

    QString dataDir() const { return m_dir.path(); }
    // The embedded database of a data source (VOK1 …), created on demand.
    ConnectionPtr open(const QString& dsn = QStringLiteral("VOK1"));

    // Help launches since the sandbox was made: program and arguments.
    QList<QStringList> helpLaunches() const { return *m_launches; }

private:
    QTemporaryDir m_dir;
    std::shared_ptr<QList<QStringList>> m_launches;
};

// Runs one SELECT and returns every row as a list of texts.
QList<QStringList> rows(Connection& c, const QString& sql);

} // namespace vok::test
