#pragma once

#include "core/FormContext.h"
#include "core/PeriodSummary.h"
#include "ui/FormDialog.h"

#include <QPointer>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace vok {

class CommandTable;
class RecordListView;

// One device's ledger (明细账) for a range: the opening line, every
// movement and adjustment in time order with the running balance;
// printable and exportable.
class CDeviceLedgerDlg : public FormDialog
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_PRINT = 1461,
        IDC_EXPORT = 1462
    };

    CDeviceLedgerDlg(const FormContext& context, const QString& code, const QString& name,
                     const QDate& from, const QDate& to, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }
    const QList<QStringList>& rows() const { return m_rows; }
    // The report's title: the range.
    const QString& title() const { return m_title; }
    void print();

private:
    bool read();

    FormContext m_context;
    QString m_code;
    QString m_device; // code and name
    QDate m_from, m_to;
    QString m_title;
    CommandTable* m_commands;
    RecordListView* m_list;
    QList<QStringList> m_rows;
};

// The period summary (收发存汇总): per device the opening, stock-in,
// stock-out, returns, adjustments and closing of a month or a range of
// days in quantity and value, a total line, the device ledger of a row,
// print and export; the month-end close (月结) and its reopening (反结账).
class CPeriodSummaryDlg : public FormDialog
{
    Q_OBJECT
public:
    enum : int
    {
        IDC_COUNT = 1451,
        IDC_LEDGER = 1452,
        IDC_PRINT = 1453,
        IDC_EXPORT = 1454,
        IDC_CLOSE_MONTH = 1455,
        IDC_REOPEN = 1456
    };

    CPeriodSummaryDlg(const FormContext& context, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }
    const PeriodSummaryResult& summary() const { return m_summary; }
    // The ledger last opened (it shows beside the form), or null.
    CDeviceLedgerDlg* ledger() const { return m_ledger; }

    // Reads the figures of the chosen range; false (and a message) when
    // the range or the database refuses.
    bool count();
    // Opens the ledger of a row of the list (not the total line).
    void openLedger(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Range
    {
        QDate from, to;
    };
    Range range() const;
    void showClosed();
    void closeMonth();
    void reopenMonth();
    void print();

    FormContext m_context;
    CommandTable* m_commands;
    QRadioButton* m_byMonth;
    QRadioButton* m_byDays;
    QDateEdit* m_month;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QLineEdit* m_prefix;
    QCheckBox* m_includeIdle;
    QLabel* m_closed;
    RecordListView* m_list;
    PeriodSummaryResult m_summary;
    Range m_counted;
    QList<QStringList> m_rows;
    QString m_title;
    QPointer<CDeviceLedgerDlg> m_ledger;
};

} // namespace vok
