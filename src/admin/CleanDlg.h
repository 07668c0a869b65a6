#pragma once

#include "core/FormContext.h"

#include <QDialog>

class QCheckBox;

namespace vok {

// "清理数据库": empties the tables whose boxes are checked, after a warning.
class CCleanDlg : public QDialog
{
    Q_OBJECT
public:
    CCleanDlg(const FormContext& context, QWidget* parent = nullptr);

private:
    void onConfirm();

    struct Box
    {
        // Emptied together: the stock and its adjustments, so that the
        // ledger starts again from nothing.
        QStringList tables;
        QCheckBox* box;
    };

    FormContext m_context;
    // In the order the tables are emptied.
    std::vector<Box> m_boxes;
};

} // namespace vok
