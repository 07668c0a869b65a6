#include "support/TestSupport.h"

#include "db/DataFolder.h"
#include "login/Clock.h"
#include "login/ComErrorBox.h"
#include "login/HelpLauncher.h"
#include "login/MessageService.h"

namespace vok::test {

Sandbox::Sandbox() : m_launches(std::make_shared<QList<QStringList>>())
{
    DataFolder::setPath(m_dir.path());
    Messages::setTestMode(true);
    Messages::clearShown();
    Clock::setNow(QDateTime());
    installComErrorBox();
    auto launches = m_launches;
    HelpLauncher::setLauncher([launches](const QString& program, const QStringList& args) {
        launches->append(QStringList{program} + args);
    });
}

Sandbox::~Sandbox()
{
    HelpLauncher::setLauncher({});
    DataFolder::setPath(QString());
}

ConnectionPtr Sandbox::open(const QString& dsn)
{
    return openConnection(ConnectionString{dsn, {}, {}}.toString());
}

QList<QStringList> rows(Connection& c, const QString& sql)
{
    QList<QStringList> out;
    auto rs = c.query(sql);
    while (rs->next()) {
        QStringList row;
        for (int i = 0; i < rs->columnCount(); ++i)
            row << rs->text(i);
        out << row;
    }
    return out;
}

} // namespace vok::test
