#pragma once

#include "login/FormContext.h"

#include <QDialog>

class QLineEdit;

namespace vok {

class CommandTable;
class QueryGroup;
class RecordListView;

// The stock-in browser "查看入库信息": lists DEVICE_IN, shows the clicked
// row in the detail fields, corrects or deletes rows by their stock-in
// time, narrows the list with a query and prints what it shows.
class CViewInDlg : public QDialog
{
    Q_OBJECT
public:
    // Control ids of the commands.
    enum : int
    {
        IdModify = 1048,
        IdDelete = 1049,
        IdPrint = 1179,
        IdQuery = 1189,
        IdExit = 2
    };

    CViewInDlg(const FormContext& context, QWidget* parent = nullptr);
    ~CViewInDlg() override;

    RecordListView* list() const { return m_list; }
    CommandTable* commands() const { return m_commands; }
    QueryGroup* queryGroup() const { return m_query; }

    // The commands, as their buttons run them.
    void onModify();
    void onDelete();
    void onQuery();
    void onPrint();
    // Copies a list row into the detail fields.
    void onRowChosen(int row);

    // Fills the list with a SELECT text; failures go to the COM error box.
    void fillList(const QString& select);

private:
    // Takes the detail and query fields from the controls, in order, with
    // their checks. False when one fails (its message is shown).
    bool takeFields();
    void showFields();
    QString keyCondition(QStringView format) const;

    FormContext m_context;
    CommandTable* m_commands;
    RecordListView* m_list;
    QueryGroup* m_query;
    QLineEdit* m_code;
    QLineEdit* m_inDate;
    QLineEdit* m_provider;
    QLineEdit* m_teleno;
    QLineEdit* m_quantityEdit;
    QLineEdit* m_priceEdit;
    QLineEdit* m_buyer;

    // The form's fields, as last taken or shown.
    QString m_telenoText;
    QString m_providerText;
    QString m_inDateText;
    QString m_codeText;
    QString m_buyerText;
    float m_price = 1;
    float m_quantity = 1;
    QString m_queryField;
    QString m_queryOperator;
    QString m_queryValue;
};

} // namespace vok
