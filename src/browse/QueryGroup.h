#pragma once

#include "browse/QueryField.h"

#include <QGroupBox>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vok {

// The query group of a browser: "查询的项" (the field combo with the form's
// field texts), "符号" (the operator combo, sorted), "查询的内容" and the
// button "查　询". It composes the SELECT text; the form runs it.
class QueryGroup : public QGroupBox
{
public:
    // The query button may be made by the form (from its command table);
    // without one the group makes its own.
    QueryGroup(std::span<const QueryField> table, QPushButton* button = nullptr,
               QWidget* parent = nullptr);

    QComboBox* fieldCombo() const { return m_field; }
    QComboBox* operatorCombo() const { return m_operator; }
    QLineEdit* valueEdit() const { return m_value; }
    QPushButton* queryButton() const { return m_button; }

    // The three values as they stand in the controls.
    QString fieldText() const;
    QString operatorText() const;
    QString valueText() const;

    // The SELECT text for the values; empty when the field matches no
    // entry. Throws DbError for an operator or a date that cannot be used.
    QString compose() const;

private:
    std::span<const QueryField> m_table;
    QComboBox* m_field;
    QComboBox* m_operator;
    QLineEdit* m_value;
    QPushButton* m_button;
};

} // namespace vok
