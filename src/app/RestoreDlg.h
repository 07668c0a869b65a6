#pragma once

#include "core/BackupGenerations.h"

#include <QDialog>

class QLabel;
class QTableWidget;
class QTreeWidget;

namespace vok {

// The choice of the backup "还原数据库" puts back: the generations newest
// first with their time, departments, size and whether they verify, and
// under them the rows of each table of the one chosen (by the tables'
// Chinese names). The newest that verifies is chosen when it opens; for a
// damaged one chosen, why it is damaged is shown under the list.
class CRestoreDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CRestoreDlg(QList<GenerationInfo> generations, QWidget* parent = nullptr);

    const GenerationInfo& chosen() const;

private:
    void showRows();

    QList<GenerationInfo> m_generations;
    QTreeWidget* m_list;
    QLabel* m_problem;
    QTableWidget* m_rows;
};

// "1.5 MB", "12.0 KB", "800 字节".
QString sizeText(qint64 bytes);

} // namespace vok
