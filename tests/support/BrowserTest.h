#pragma once

#include "core/OperationLog.h"
#include "support/FormTest.h"
#include "support/TestSupport.h"

namespace vok {
class QueryGroup;
class RecordListModel;
} // namespace vok

namespace vok::test {

// A browser's test: the department's database in a fresh sandbox holding
// the rows the test starts from, the operation log of the user, and the
// browser opened on them as the main window opens it.
class BrowserTest
{
protected:
    // In init(): the sandbox, its database seeded by seedRows, the log.
    void openDatabase(const std::function<void(Connection&)>& seedRows,
                      const QString& user = QStringLiteral("admin"));
    // In cleanup().
    void closeDatabase();

    template <class Form> std::unique_ptr<Form> openBrowser(int classNumber = 1)
    {
        return openForm<Form>(formContext(m_c, &m_log, classNumber, m_user));
    }

    std::unique_ptr<Sandbox> m_sandbox;
    ConnectionPtr m_c;
    COperationLog m_log;
    QString m_user;
};

// A query as the user asks it: field, operator and value chosen, then the
// query button clicked.
void query(QueryGroup& group, const QString& field, const QString& op, const QString& value);

// One column of a list, top row first.
QStringList listedColumn(const RecordListModel& list, int column = 0);

} // namespace vok::test
