#pragma once

#include "core/Tables.h"

#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vok {

class Connection;
class RecordListView;

// The query group of a browser: "查询的项" (the field combo with the form's
// field texts), "符号" (the operator combo, sorted), "查询的内容" and the
// button "查　询". The table's operations read the rows it names.
class QueryGroup : public QGroupBox
{
public:
    // The query button may be made by the form (from its command table);
    // without one the group makes its own.
    QueryGroup(const TableDescription& table, QPushButton* button = nullptr,
               QWidget* parent = nullptr);

    QComboBox* fieldCombo() const { return m_field; }
    QComboBox* operatorCombo() const { return m_operator; }
    QLineEdit* valueEdit() const { return m_value; }
    QPushButton* queryButton() const { return m_button; }
    // Other captions for the field and value labels (the stock form's
    // "要查询的项", "要查询的内容").
    void setLabels(const QString& field, const QString& value);

    // The three values as they stand in the controls.
    QString fieldText() const;
    QString operatorText() const;
    QString valueText() const;

    // Lets a scanner fill the value while the field is a device code: a
    // code and Enter checks the code against the catalogue and moves the
    // focus on to the query button; a code the catalogue does not hold is
    // named in a message and the value is left as it was. Enter there never
    // reaches the form's default button.
    void acceptScannedCodes(Connection& connection);

    // Runs the query into a list: its rows, or the COM error box and an
    // empty list when the query cannot be composed or run.
    void fillList(RecordListView& list, Connection& connection) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool codeFieldChosen() const;
    void checkScannedCode();

    const TableDescription& m_table;
    Connection* m_catalogue = nullptr;
    // The value before the scan, given back when the code is unknown.
    QString m_valueBefore;
    QComboBox* m_field;
    QComboBox* m_operator;
    QLineEdit* m_value;
    QPushButton* m_button;
    QLabel* m_fieldLabel;
    QLabel* m_valueLabel;
};

} // namespace vok
