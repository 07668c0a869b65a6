#pragma once

#include "core/FormContext.h"
#include "core/RecordListModel.h"
#include "core/StockChange.h"
#include "ui/FormDialog.h"

class QComboBox;
class QLabel;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vok {

class CommandTable;
class QueryGroup;
class RecordListView;

// The columns of a list of DEVICE rows: the code and the four quantities.
std::vector<RecordListModel::Column> stockListColumns();

// The stock form "库存管理": lists DEVICE, adds a device's stock row, sets
// its four quantities as typed, deletes it (each change of the quantity on
// hand recorded as an adjustment), narrows the list with a query and
// prints what the list shows. When the form opens it reads the catalogue's
// codes (the form closes at once when they cannot be read) and the list.
class CStockDlg : public FormDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_ADD = 1087,
        IDC_CHANGE = 1088,
        IDC_DELETE = 1089,
        IDC_QUERY = 1189,
        IDC_PRINT = 1178
    };

    CStockDlg(const FormContext& context, QWidget* parent = nullptr);
    ~CStockDlg() override;

    RecordListView* list() const { return m_list; }
    CommandTable* commands() const { return m_commands; }
    QueryGroup* queryGroup() const { return m_query; }

private:
    // The buttons, in their tab order.
    struct Buttons
    {
        QPushButton* query;
        QPushButton* add;
        QPushButton* change;
        QPushButton* remove;
        QPushButton* print;
        QPushButton* help;
        QPushButton* exit;
    };
    Buttons addCommands();
    void makeQueryGroup(QPushButton* query);
    // The code, the quantities and the buttons that change a stock row.
    QGroupBox* makeChangeGroup(const Buttons& buttons);
    void orderTabs(const Buttons& buttons);
    // Fills the code list from the catalogue and lists the whole table;
    // false when the codes could not be read (the error shown).
    bool readOnOpening();
    void onAdd();
    void onChange();
    void onDelete();
    void onQuery();
    void onPrint();
    void onRowChosen(int row);
    void showDeviceName();
    // Shows the listed stock row of a code, if the list holds one.
    void chooseListedCode(const QString& code);

    // Takes the four quantities and the query fields, in order, with their
    // checks; false when one fails (its message is shown).
    bool takeFields();
    // The opening unit price typed for Add (none when empty); false, with
    // the message shown, when it is no price.
    bool takePrice();
    void showFields();
    // The device code as typed, refused when longer than the stock row
    // holds; false when refused.
    bool takeCode(QString& code);
    // Shows "完成操作！", writes the log entry and lists the whole table.
    void completeChange(const QString& logText);
    // Lists the whole table.
    void fillList();
    Stock::StockFigureSet figures() const;

    FormContext m_context;
    CommandTable* m_commands;
    RecordListView* m_list;
    QueryGroup* m_query;
    QComboBox* m_code;
    QLineEdit* m_deviceName;
    QLabel* m_loanLine = nullptr;
    QLineEdit* m_nowEdit;
    QLineEdit* m_highEdit;
    QLineEdit* m_lowEdit;
    QLineEdit* m_totalEdit;
    QLineEdit* m_priceEdit;

    // The form's fields, as last taken or shown.
    float m_now = 1;
    float m_high = 1;
    float m_low = 1;
    float m_total = 1;
    std::optional<double> m_price; // the opening quantity's, for Add
};

} // namespace vok
