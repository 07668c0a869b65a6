#include "ui/QueryGroup.h"

#include "core/DeviceCatalogue.h"
#include "core/TableAccess.h"

#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/DeviceScan.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vok {

QueryGroup::QueryGroup(const TableDescription& table, QPushButton* button, QWidget* parent)
    : QGroupBox(QStringLiteral("查询"), parent), m_table(table)
{
    m_field = new QComboBox(this);
    m_field->setObjectName(QStringLiteral("queryField"));
    m_field->setEditable(true);
    m_field->setInsertPolicy(QComboBox::NoInsert);
    for (const QueryField& f : table.queryFields)
        m_field->addItem(f.text.toString());
    m_field->setCurrentIndex(-1);
    m_field->setEditText(QString());

    m_operator = new QComboBox(this);
    m_operator->setObjectName(QStringLiteral("queryOperator"));
    m_operator->setEditable(true);
    m_operator->setInsertPolicy(QComboBox::NoInsert);
    // A sorted combo: the entries "=", "<", ">", "<>" are offered in order.
    QStringList ops{QStringLiteral("="), QStringLiteral("<"), QStringLiteral(">"),
                    QStringLiteral("<>")};
    ops.sort();
    m_operator->addItems(ops);
    m_operator->setCurrentIndex(-1);
    m_operator->setEditText(QString());

    m_value = new QLineEdit(this);
    m_value->setObjectName(QStringLiteral("queryValue"));

    m_button = button ? button : new QPushButton(QStringLiteral("查　询"), this);
    m_button->setParent(this);

    auto* fieldLabel = m_fieldLabel = new QLabel(QStringLiteral("查询的项"), this);
    fieldLabel->setBuddy(m_field);
    auto* opLabel = new QLabel(QStringLiteral("符号"), this);
    opLabel->setBuddy(m_operator);
    auto* valueLabel = m_valueLabel = new QLabel(QStringLiteral("查询的内容"), this);
    valueLabel->setBuddy(m_value);

    auto* row = new QHBoxLayout(this);
    row->addWidget(fieldLabel);
    row->addWidget(m_field, 3);
    row->addWidget(opLabel);
    row->addWidget(m_operator, 1);
    row->addWidget(valueLabel);
    row->addWidget(m_value, 3);
    row->addWidget(m_button);

    setTabOrder(m_field, m_operator);
    setTabOrder(m_operator, m_value);
    setTabOrder(m_value, m_button);
}

void QueryGroup::acceptScannedCodes(Connection& connection)
{
    m_catalogue = &connection;
    m_value->installEventFilter(this);
}

bool QueryGroup::codeFieldChosen() const
{
    const QString field = fieldText();
    for (const QueryField& f : m_table.queryFields)
        if (f.text == field)
            return f.column == u"code";
    return false;
}

bool QueryGroup::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_value)
        return false;
    if (event->type() == QEvent::FocusIn)
        m_valueBefore = m_value->text();
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key != Qt::Key_Return && key != Qt::Key_Enter) || !codeFieldChosen())
        return false;
    checkScannedCode();
    return true;
}

void QueryGroup::checkScannedCode()
{
    const QString code = m_value->text().trimmed();
    if (!code.isEmpty()) {
        bool known = false;
        try {
            known = inCatalogue(*m_catalogue, code);
        } catch (const DbError& e) {
            showComError(e, window());
            return;
        }
        if (!known) {
            m_value->setText(m_valueBefore);
            Messages::notice(DeviceScan::unknownCodeText(code), window(), QString(),
                             Messages::Icon::Exclamation);
            return;
        }
        m_value->setText(code);
        m_valueBefore = code;
    }
    m_button->setFocus(Qt::TabFocusReason);
}

void QueryGroup::setLabels(const QString& field, const QString& value)
{
    m_fieldLabel->setText(field);
    m_valueLabel->setText(value);
}

QString QueryGroup::fieldText() const
{
    return m_field->currentText();
}

QString QueryGroup::operatorText() const
{
    return m_operator->currentText();
}

QString QueryGroup::valueText() const
{
    return m_value->text();
}

void QueryGroup::fillList(RecordListView& list, Connection& connection) const
{
    TableRows select;
    try {
        const auto rows =
            TableAccess(connection, m_table).query(fieldText(), operatorText(), valueText());
        if (!rows)
            throw DbError(DbError::Kind::BadInput,
                          QStringLiteral("“%1”不是可以查询的项。").arg(fieldText()));
        select = *rows;
    } catch (const DbError& e) {
        list.records()->clear();
        showComError(e, &list);
        return;
    }
    list.fill(connection, select);
}

} // namespace vok
