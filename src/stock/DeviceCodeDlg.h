#pragma once

#include "core/FormContext.h"
#include "ui/FormDialog.h"
#include "ui/LabelPrint.h"

class QComboBox;
class QGroupBox;
class QLineEdit;

namespace vok {

class CommandTable;
class RecordListView;

// The device code catalogue: lists DEVICE_CODE, adds, renames and deletes
// codes and lists the codes whose code or name equals a typed value.
class CDeviceCodeDlg : public FormDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_ADD = 1019,
        IDC_RENAME = 1020,
        IDC_DELETE = 1021,
        IDC_QUERY = 1189,
        IDC_LABELS = 1404
    };

    CDeviceCodeDlg(const FormContext& context, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }
    RecordListView* list() const { return m_list; }
    // The labels "打印标签…" prints: of the selected rows, or of every listed
    // row when none is selected.
    QList<DeviceLabel> labelsToPrint() const;

private:
    // The form's parts, left to right: the list, the query group, the
    // change group.
    void makeList();
    QGroupBox* makeQueryGroup();
    QGroupBox* makeChangeGroup();
    void onAdd();
    void onRename();
    void onDelete();
    void onQuery();
    void onLabels();
    void onRowChosen(int row);
    void fillWholeCatalogue();
    // Shows a problem of the typed code; false when there is none.
    bool refuse(const QString& problem);

    FormContext m_context;
    CommandTable* m_commands;
    RecordListView* m_list;
    QLineEdit* m_code;
    QLineEdit* m_name;
    QComboBox* m_queryField;
    QLineEdit* m_queryValue;
};

} // namespace vok
