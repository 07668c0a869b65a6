#pragma once

#include "core/FormContext.h"
#include "ui/FormDialog.h"

#include <QDateTime>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace vok {

class CommandTable;
class StocktakeModel;

// The stocktake "库存盘点": lists the stock of every device (or of the
// codes with a prefix), takes the counted quantities typed into the list,
// prints the count sheet and sets the stock to the counts. Counts not yet
// confirmed are kept in a file and offered again when the form opens.
class CStocktakeDlg : public FormDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_LIST = 1521,
        IDC_CONFIRM = 1522,
        IDC_PRINT = 1523
    };

    CStocktakeDlg(const FormContext& context, QWidget* parent = nullptr);
    ~CStocktakeDlg() override;

    CommandTable* commands() const { return m_commands; }
    QTableView* sheet() const { return m_sheet; }
    StocktakeModel* model() const { return m_model; }

    // What a count typed into a row does: the row the cursor goes to next,
    // or nothing when the text is refused (its message shown). A device
    // code goes to that device's row; a number is the row's count, an
    // empty text clears it; step is +1 (Enter, Down) or -1 (Up).
    std::optional<int> takeEntry(int row, const QString& text, int step);

    // Keeps the counts not yet confirmed (closing included).
    void done(int result) override;

private:
    // The buttons, in their tab order.
    struct Buttons
    {
        QPushButton* list;
        QPushButton* confirm;
        QPushButton* print;
        QPushButton* help;
        QPushButton* exit;
    };
    void makeCodeField();
    void makeSheet();
    // Counts typed are summed up and kept.
    void keepCounts();
    Buttons addCommands();
    void layOut(const Buttons& buttons);
    // Lists the devices, after offering the counts kept from last time.
    void load();
    void onList();
    void onConfirm();
    void onPrint();
    void onExport();
    void onPreview();
    // Lists the devices of the prefix; false (the error shown) on failure.
    bool list(const QString& prefix);
    void showSummary();
    void saveDraft();
    // Puts the cursor in the counted column of a row.
    void goToRow(int row);
    QString draftFile() const;

    FormContext m_context;
    CommandTable* m_commands;
    StocktakeModel* m_model;
    QLineEdit* m_prefix;
    QComboBox* m_code;
    QTableView* m_sheet;
    QLabel* m_summary;
    QTimer* m_saveTimer;
    // What the list shows: the prefix it was made with and when.
    QString m_listedPrefix;
    QDateTime m_listedAt;
    // The list was read: only then are its counts kept.
    bool m_listed = false;
};

} // namespace vok
