#include "stock/ConsumptionDlg.h"

#include "core/DeviceCatalogue.h"

#include "core/Clock.h"
#include "db/DbError.h"
#include "db/MemoryRowSet.h"
#include "db/RowRecord.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DeviceScan.h"
#include "ui/DialogStyle.h"
#include "ui/FileDialogService.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace vok {

namespace {

const QString kAllDevices = QStringLiteral("（全部设备）");

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-M-d"));
}

QChartView* makeChartView(const QString& name, QWidget* parent)
{
    auto* view = new QChartView(parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(420, 240);
    return view;
}

// A value axis from 0 to a little above the largest value, in whole steps.
QValueAxis* quantityAxis(double largest)
{
    auto* axis = new QValueAxis;
    axis->setRange(0, largest > 0 ? largest * 1.15 : 1);
    axis->applyNiceNumbers();
    axis->setLabelFormat(QStringLiteral("%g"));
    return axis;
}

QChart* newChart(const QString& title)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    QFont font = chart->titleFont();
    font.setPointSize(11);
    font.setBold(true);
    chart->setTitleFont(font);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(4, 4, 4, 4));
    return chart;
}

} // namespace

CConsumptionDlg::CConsumptionDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("消耗统计"));

    const QDate today = Clock::now().date();
    m_from = new QDateEdit(QDate(today.year(), today.month(), 1), this);
    m_from->setObjectName(QStringLiteral("from"));
    m_to = new QDateEdit(QDate(today.year(), today.month(), 1).addMonths(1).addDays(-1), this);
    m_to->setObjectName(QStringLiteral("to"));
    for (QDateEdit* d : {m_from, m_to}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    m_device = new QComboBox(this);
    m_device->setObjectName(QStringLiteral("device"));
    DeviceScan::attach(m_device);
    m_device->addItem(kAllDevices);
    QPushButton* countButton =
        m_commands->add(IDC_COUNT, QStringLiteral("count"), QStringLiteral("统　　计"),
                        QStringLiteral("统计"), [this] { count(); });

    m_departments = new RecordListView({{QStringLiteral("序号")},
                                        {QStringLiteral("部门")},
                                        {QStringLiteral("出库数量")},
                                        {QStringLiteral("需求数量")},
                                        {QStringLiteral("满足率")}},
                                       this);
    m_departments->setObjectName(QStringLiteral("departments"));
    m_departments->setColumnShares({3, 6, 5, 5, 5}, 25);
    m_returns =
        new RecordListView({{QStringLiteral("设备号")}, {QStringLiteral("还库数量")}}, this);
    m_returns->setObjectName(QStringLiteral("returns"));
    m_returns->setColumnShares({1, 1}, 2);
    // The columns fill each list's width; a horizontal bar would only
    // scroll the frame.
    for (RecordListView* list : {m_departments, m_returns})
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* returnsNote =
        new QLabel(QStringLiteral("还库记录不记部门，下表只按设备列出本期还库数量："), this);
    returnsNote->setObjectName(QStringLiteral("returnsNote"));
    returnsNote->setWordWrap(true);

    m_bar = makeChartView(QStringLiteral("barChart"), this);
    m_line = makeChartView(QStringLiteral("lineChart"), this);

    const Buttons buttons = addCommands();
    offerListCommands(*m_commands, *m_departments, &reports::consumption, m_context.userName);
    layOut(countButton, buttons, returnsNote);
    // The device list and the first figures.
    readWhenOpened([this] {
        fillDevices();
        count();
        return true;
    });
}

void CConsumptionDlg::fillDevices()
{
    try {
        for (const auto& [code, name] : catalogueNames(*m_context.connection)) {
            m_device->addItem(code);
            m_device->setItemData(m_device->count() - 1, name, Qt::ToolTipRole);
        }
    } catch (const DbError& e) {
        showComError(e, this);
    }
}

CConsumptionDlg::Buttons CConsumptionDlg::addCommands()
{
    Buttons b;
    b.exportBar = m_commands->add(IDC_EXPORT_BAR, QStringLiteral("exportBar"),
                                  QStringLiteral("导出柱状图..."),
                                  QStringLiteral("导出柱状图(PNG)..."), [this] {
                                      askAndExport(Chart::Bar, QStringLiteral("导出柱状图"),
                                                   QStringLiteral("部门出库柱状图.png"));
                                  });
    b.exportLine = m_commands->add(IDC_EXPORT_LINE, QStringLiteral("exportLine"),
                                   QStringLiteral("导出折线图..."),
                                   QStringLiteral("导出折线图(PNG)..."), [this] {
                                       askAndExport(Chart::Line, QStringLiteral("导出折线图"),
                                                    QStringLiteral("设备月出库折线图.png"));
                                   });
    b.print = m_commands->add(IDC_PRINT, QStringLiteral("print"), QStringLiteral("打　　印"),
                              QStringLiteral("打印"), [this] { onPrint(); });
    b.help = m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("consumption.htm"));
    b.exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    b.exit->setDefault(true);
    m_commands->setMenuOrder({IDC_COUNT, IDC_PRINT, CommandTable::kSeparator, IDC_EXPORT_BAR,
                              IDC_EXPORT_LINE, CommandTable::kSeparator, CommandTable::kHelp,
                              CommandTable::kExit});
    return b;
}

void CConsumptionDlg::layOut(QPushButton* countButton, const Buttons& b, QLabel* returnsNote)
{
    auto* fromLabel = new QLabel(QStringLiteral("从(&F)"), this);
    fromLabel->setBuddy(m_from);
    auto* toLabel = new QLabel(QStringLiteral("到(&T)"), this);
    toLabel->setBuddy(m_to);
    auto* deviceLabel = new QLabel(QStringLiteral("设备(&D)"), this);
    deviceLabel->setBuddy(m_device);
    auto* period = new QHBoxLayout;
    period->addWidget(fromLabel);
    period->addWidget(m_from);
    period->addWidget(toLabel);
    period->addWidget(m_to);
    period->addSpacing(16);
    period->addWidget(deviceLabel);
    period->addWidget(m_device, 1);
    period->addWidget(countButton);

    auto* left = new QVBoxLayout;
    left->addWidget(m_departments, 3);
    left->addWidget(returnsNote);
    left->addWidget(m_returns, 2);
    auto* charts = new QVBoxLayout;
    charts->addWidget(m_bar, 1);
    charts->addWidget(m_line, 1);
    auto* middle = new QHBoxLayout;
    middle->addLayout(left, 2);
    middle->addLayout(charts, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(b.exportBar);
    buttons->addWidget(b.exportLine);
    buttons->addStretch(1);
    for (QPushButton* button : {b.print, b.help, b.exit})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(period);
    layout->addLayout(middle, 1);
    layout->addLayout(buttons);
    resize(980, 660);

    const QList<QWidget*> order{m_from,        m_to,      m_device,    countButton,
                                m_departments, m_returns, b.exportBar, b.exportLine,
                                b.print,       b.help,    b.exit};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

bool CConsumptionDlg::count()
{
    const QDate from = m_from->date();
    const QDate to = m_to->date();
    if (from > to) {
        Messages::notice(QStringLiteral("开始日期不能晚于结束日期!"), this, QStringLiteral("警告!"),
                         Messages::Icon::Exclamation);
        return false;
    }
    const QString code = m_device->currentIndex() > 0 ? m_device->currentText() : QString();
    try {
        m_figures = ConsumptionStats::read(*m_context.connection, from, to, code);
        m_lastMonth = QDate(to.year(), to.month(), 1);
        m_months = code.isEmpty()
                       ? std::vector<double>()
                       : ConsumptionStats::monthlyIssued(*m_context.connection, code, to);
    } catch (const DbError& e) {
        showComError(e, this);
        return false;
    }

    // The lists put every row read at the top: the last row goes first.
    QList<QStringList> departments;
    for (size_t i = m_figures.departments.size(); i-- > 0;) {
        const DepartmentUse& use = m_figures.departments[i];
        departments.append(
            {QString::number(i + 1),
             use.department.isEmpty() ? QStringLiteral("（未填部门）") : use.department,
             singleText(use.issued), use.hasDemand ? singleText(use.demanded) : QStringLiteral("—"),
             use.shareText()});
    }
    MemoryRowSet departmentRows(std::move(departments));
    m_departments->records()->fill(departmentRows);
    QList<QStringList> returns;
    for (auto it = m_figures.returns.rbegin(); it != m_figures.returns.rend(); ++it)
        returns.append({it->code, singleText(it->returned)});
    MemoryRowSet returnRows(std::move(returns));
    m_returns->records()->fill(returnRows);

    showBarChart();
    showLineChart(code);
    return true;
}

void CConsumptionDlg::showBarChart()
{
    QChart* chart =
        newChart(QStringLiteral("%1 至 %2 各部门出库数量%3")
                     .arg(dayText(m_from->date()), dayText(m_to->date()),
                          m_device->currentIndex() > 0
                              ? QStringLiteral("（设备 %1）").arg(m_device->currentText())
                              : QString()));
    auto* set = new QBarSet(QStringLiteral("出库数量"));
    QStringList names;
    double largest = 0;
    for (const DepartmentUse& use : m_figures.departments) {
        *set << use.issued;
        names << (use.department.isEmpty() ? QStringLiteral("（未填部门）") : use.department);
        largest = std::max(largest, use.issued);
    }
    auto* series = new QBarSeries;
    series->append(set);
    series->setLabelsVisible(true);
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    chart->addSeries(series);
    auto* categories = new QBarCategoryAxis;
    categories->append(names.isEmpty() ? QStringList{QStringLiteral("本期没有出库")} : names);
    chart->addAxis(categories, Qt::AlignBottom);
    series->attachAxis(categories);
    QValueAxis* values = quantityAxis(largest);
    chart->addAxis(values, Qt::AlignLeft);
    series->attachAxis(values);

    QChart* old = m_bar->chart();
    m_bar->setChart(chart);
    delete old;
}

void CConsumptionDlg::showLineChart(const QString& code)
{
    QChart* chart = newChart(
        code.isEmpty() ? QStringLiteral("在“设备”中选一种设备，这里显示它近 12 个月的出库数量")
                       : QStringLiteral("设备 %1 每月出库数量（%2年%3月至%4年%5月）")
                             .arg(code)
                             .arg(m_lastMonth.addMonths(-11).year())
                             .arg(m_lastMonth.addMonths(-11).month())
                             .arg(m_lastMonth.year())
                             .arg(m_lastMonth.month()));
    auto* series = new QLineSeries;
    series->setPointsVisible(true);
    series->setPointLabelsVisible(true);
    series->setPointLabelsFormat(QStringLiteral("@yPoint"));
    QStringList months;
    double largest = 0;
    const QDate first = m_lastMonth.addMonths(1 - 12);
    for (int m = 0; m < 12; ++m) {
        const QDate month = first.addMonths(m);
        months << QStringLiteral("%1月").arg(month.month());
        if (size_t(m) < m_months.size()) {
            series->append(m, m_months[size_t(m)]);
            largest = std::max(largest, m_months[size_t(m)]);
        }
    }
    chart->addSeries(series);
    auto* axis = new QBarCategoryAxis;
    axis->append(months);
    chart->addAxis(axis, Qt::AlignBottom);
    series->attachAxis(axis);
    QValueAxis* values = quantityAxis(largest);
    chart->addAxis(values, Qt::AlignLeft);
    series->attachAxis(values);

    QChart* old = m_line->chart();
    m_line->setChart(chart);
    delete old;
}

bool CConsumptionDlg::exportChart(Chart chart, const QString& path)
{
    QChartView* view = chart == Chart::Line ? m_line : m_bar;
    // A chart lays itself out on posted events: draw it as it will stand.
    QCoreApplication::sendPostedEvents();
    return view->grab().save(path, "PNG");
}

void CConsumptionDlg::askAndExport(Chart chart, const QString& title, const QString& fileName)
{
    const QString path =
        FileDialogs::saveFileName(this, title, fileName, {QStringLiteral("PNG 图片 (*.png)")});
    if (path.isEmpty())
        return;
    if (!exportChart(chart, path))
        Messages::notice(QStringLiteral("无法写入文件 %1 !").arg(path), this,
                         QStringLiteral("警告!"), Messages::Icon::Exclamation);
}

void CConsumptionDlg::onPrint()
{
    printTableReport(*m_departments->records(), reports::consumption, m_context.userName, this);
}

} // namespace vok
