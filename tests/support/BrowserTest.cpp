#include "support/BrowserTest.h"

#include "core/RecordListModel.h"
#include "ui/QueryGroup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace vok::test {

void BrowserTest::openDatabase(const std::function<void(Connection&)>& seedRows,
                               const QString& user)
{
    m_sandbox = std::make_unique<Sandbox>();
    m_c = m_sandbox->open();
    seedRows(*m_c);
    m_user = user;
    m_log.attach(m_c, user);
}

void BrowserTest::closeDatabase()
{
    m_c.reset();
    m_sandbox.reset();
}

void query(QueryGroup& group, const QString& field, const QString& op, const QString& value)
{
    group.fieldCombo()->setCurrentText(field);
    group.operatorCombo()->setCurrentText(op);
    group.valueEdit()->setText(value);
    QTest::mouseClick(group.queryButton(), Qt::LeftButton);
}

QStringList listedColumn(const RecordListModel& list, int column)
{
    QStringList out;
    for (int r = 0; r < list.rowCount(); ++r)
        out << list.text(r, column);
    return out;
}

} // namespace vok::test
