#pragma once

#include "core/FormContext.h"
#include "core/TableImport.h"

#include <QDialog>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace vok {

class CommandTable;

// The preview of an import: how the file's columns go into the table's
// (each can be chosen again), the first rows as they will be stored and
// every problem the whole file has, by row and column. "导入" writes the
// rows, all or none, once the file has no problem. The constructor reads
// nothing; load() checks the file (with a progress dialog that can cancel).
class CImportDlg : public QDialog
{
public:
    CImportDlg(TableImport& import, const FormContext& context, QWidget* parent = nullptr);

    // Checks the whole file against the database and shows the outcome
    // (as far as it went when cancelled); false when the file or the
    // database failed (then told).
    bool load();
    // Rows written by the confirm, 0 until then.
    qint64 written() const { return m_written; }

private:
    void mappingChanged(int tableColumn, int index);
    void showOutcome();
    void confirm();

    TableImport& m_import;
    FormContext m_context;
    std::vector<QComboBox*> m_columns;
    QLabel* m_ignored;
    QLabel* m_summary;
    QTableWidget* m_preview;
    QListWidget* m_problems;
    QPushButton* m_confirm;
    qint64 m_written = 0;
};

// "导入…": asks for a workbook or CSV file, shows its preview and writes it
// on confirmation. True when rows were written (the caller lists them).
bool importWithDialog(const TableDescription& table, const FormContext& context, QWidget* parent);

// Gives a form's menu "导入…" for a table; done runs after rows were written.
void offerImport(CommandTable& commands, const TableDescription& table, const FormContext& context,
                 QWidget* form, std::function<void()> done);

} // namespace vok
