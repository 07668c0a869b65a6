#pragma once

#include "core/OperationLog.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"

namespace vok::test {

// A browser's test: the department's database in a fresh sandbox holding
// the rows the test starts from, the operation log of the user, and the
// browser opened on them as the main window opens it. Asking a query and
// reading the list: test::query and test::listedColumn.
class BrowserTest
{
protected:
    // In init(): the sandbox, its database seeded by seedRows, the log.
    void openDatabase(void (*seedRows)(Connection&), const QString& user = QStringLiteral("admin"))
    {
        m_sandbox = std::make_unique<Sandbox>();
        m_c = m_sandbox->open();
        seedRows(*m_c);
        m_user = user;
        m_log.attach(m_c, user);
    }
    // In cleanup().
    void closeDatabase()
    {
        m_c.reset();
        m_sandbox.reset();
    }
    template <class Form> std::unique_ptr<Form> openBrowser(int classNumber = 1)
    {
        return openForm<Form>(formContext(m_c, &m_log, classNumber, m_user));
    }

    std::unique_ptr<Sandbox> m_sandbox;
    ConnectionPtr m_c;
    COperationLog m_log;
    QString m_user;
};

} // namespace vok::test
