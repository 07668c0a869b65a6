#pragma once

#include "core/FormContext.h"
#include "core/StockLedger.h"
#include "ui/FormDialog.h"

class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;

namespace vok {

class CommandTable;
class RecordListView;

// Consumption by department and period: issued, demanded and the share of
// demand met per department, returns per device, a bar chart of the issued
// quantities and a line chart of one device's last twelve months.
class CConsumptionDlg : public FormDialog
{
    Q_OBJECT
public:
    // The form's own commands.
    enum : int
    {
        IDC_COUNT = 1433,
        IDC_EXPORT_BAR = 1438,
        IDC_EXPORT_LINE = 1439,
        IDC_PRINT = 1440
    };

    CConsumptionDlg(const FormContext& context, QWidget* parent = nullptr);

    CommandTable* commands() const { return m_commands; }
    const Consumption& figures() const { return m_figures; }
    const std::vector<double>& months() const { return m_months; }

    // Reads the period's figures and redraws the lists and charts; false
    // (and a message) when the period or the database refuses.
    bool count();
    enum class Chart
    {
        Bar,
        Line
    };
    // Writes the chart as a PNG file;
    // false when it cannot be written.
    bool exportChart(Chart chart, const QString& path);

private:
    // The buttons below the lists, in their tab order.
    struct Buttons
    {
        QPushButton* exportBar;
        QPushButton* exportLine;
        QPushButton* print;
        QPushButton* help;
        QPushButton* exit;
    };
    Buttons addCommands();
    void layOut(QPushButton* countButton, const Buttons& buttons, QLabel* returnsNote);
    void fillDevices();
    void askAndExport(Chart chart, const QString& title, const QString& fileName);
    void showBarChart();
    void showLineChart(const QString& code);
    void onPrint();

    FormContext m_context;
    CommandTable* m_commands;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QComboBox* m_device;
    RecordListView* m_departments;
    RecordListView* m_returns;
    QChartView* m_bar;
    QChartView* m_line;
    Consumption m_figures;
    std::vector<double> m_months;
    QDate m_lastMonth;
};

} // namespace vok
