#include "browse/TableReport.h"

#include "browse/QueryField.h"

namespace vok {

ReportCanvas::~ReportCanvas() = default;

namespace reports {
namespace {

constexpr ReportColumn stockColumns[] = {{u"设备号", 1300},
                                         {u"现在数量", 2300},
                                         {u"最大数量", 3300},
                                         {u"最小数量", 4300},
                                         {u"总　数", 5300}};
constexpr int stockRules[] = {1200, 2200, 3200, 4200, 5200, 6200};

constexpr ReportColumn stockInColumns[] = {
    {u"设备号", 300},  {u"入库时间", 1000}, {u"供　应　商", 3000}, {u"供应商电话", 4000},
    {u"数　量", 5300}, {u"价　格", 6100},   {u"采购员", 6900}};
constexpr int stockInRules[] = {200, 900, 2900, 3900, 5200, 6000, 6800, 7600};

constexpr ReportColumn stockOutColumns[] = {
    {u"设备号", 300},  {u"使用部门", 1000}, {u"出　库　时　间", 2000}, {u"出库状况", 3400},
    {u"经手人", 4300}, {u"出库数量", 5000}, {u"领取人", 6000},         {u"用　　　途", 6700}};
constexpr int stockOutRules[] = {200, 900, 1900, 3300, 4200, 4900, 5900, 6600, 7600};

constexpr ReportColumn returnColumns[] = {{u"设备号", 1300},
                                          {u"　还　库　时　间", 2300},
                                          {u"管　理　员", 4300},
                                          {u"数　　　量", 5300},
                                          {u"归　还　人", 6300}};
constexpr int returnRules[] = {1200, 2200, 4200, 5200, 6200, 7200};

constexpr ReportColumn demandColumns[] = {{u"设备号", 700},
                                          {u"需求部门", 1700},
                                          {u"　开　始　时　间", 2700},
                                          {u"　结　束　时　间", 4700},
                                          {u"数　　量", 6700}};
constexpr int demandRules[] = {700, 1600, 2600, 4600, 6600, 7600};

constexpr ReportColumn purchasePlanColumns[] = {
    {u"设备号", 300},    {u"现有库存", 1000}, {u"总库存", 1800}, {u"最大库存", 2600},
    {u"购买数量", 3400}, {u"供应商", 4200},   {u"价　格", 5000}, {u"　计　划　时　间", 5800}};
constexpr int purchasePlanRules[] = {200, 900, 1700, 2500, 3300, 4100, 4900, 5700, 7600};

constexpr ReportColumn reconcileColumns[] = {
    {u"设备号", 300},  {u"设备名", 1000}, {u"现在数量", 2600}, {u"流水结存", 3400},
    {u"数量差", 4200}, {u"总　数", 5000}, {u"入库合计", 5800}, {u"总数差", 6700}};
constexpr int reconcileRules[] = {200, 900, 2500, 3300, 4100, 4900, 5700, 6600, 7600};

constexpr ReportColumn consumptionColumns[] = {{u"序号", 1300},
                                               {u"部　门", 2300},
                                               {u"出库数量", 3300},
                                               {u"需求数量", 4300},
                                               {u"满足率", 5300}};
constexpr int consumptionRules[] = {1200, 2200, 3200, 4200, 5200, 6200};

} // namespace

const ReportLayout stock{u"库存信息表", 12,   stockColumns, stockRules, 2200, 3200,
                         4200,          6200, 1300,         3300,       5000, true};
const ReportLayout stockIn{u"入库信息表", 8,   stockInColumns, stockInRules, 1200, 2200, 6200,
                           7500,          300, 5300,           4500,         false};
const ReportLayout stockOut{
    u"出库信息表", 8,    stockOutColumns, stockOutRules, 1200, 2200, 6200, 7500, 300, 5300,
    4500,          false};
const ReportLayout returns{u"还库信息表", 10,   returnColumns, returnRules, 2200, 3200,
                           4200,          6200, 1300,          3300,        5000, false};
const ReportLayout demand{u"需求信息表", 10,   demandColumns, demandRules, 1200, 2200,
                          6200,          7500, 600,           5300,        5000, false};
const ReportLayout purchasePlan{u"采购计划报表",
                                10,
                                purchasePlanColumns,
                                purchasePlanRules,
                                1200,
                                2200,
                                6200,
                                7500,
                                300,
                                5300,
                                4500,
                                false};

const ReportLayout reconcile{
    u"库存核对表", 8,    reconcileColumns, reconcileRules, 1200, 2200, 6200, 7500, 300, 5300,
    4500,          false};
const ReportLayout consumption{u"部门消耗统计表",
                               10,
                               consumptionColumns,
                               consumptionRules,
                               2200,
                               3200,
                               4200,
                               6200,
                               1300,
                               3300,
                               5100,
                               false};

} // namespace reports

QString reportTime(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime h = t.time();
    return QString::asprintf("%d-%d-%d  %d-%d-%d", d.year(), d.month(), d.day(), h.hour(),
                             h.minute(), h.second());
}

void drawTableReport(ReportCanvas& canvas, const ReportLayout& layout, const ReportCell& cell,
                     const QString& userName, const QDateTime& printTime)
{
    canvas.setFont(QStringLiteral("Arial"), layout.bodyPoints);
    const int cy = canvas.textHeight(QStringLiteral("00"));
    const int step = cy + 20;
    const int ruleLeft = layout.rules.front();
    const int ruleRight = layout.rules.back();
    const int columns = int(layout.columns.size());

    // Rows until the first whose code is not a non-zero integer. Rows
    // whose top lies below the bottom edge are counted, not drawn: they
    // would fall off the single page anyway.
    int y = 9000;
    int n = 0;
    while (leadingInteger(cell(n, 0)) != 0) {
        if (y >= 0) {
            for (int c = 0; c < columns; ++c) {
                QString text = cell(n, c);
                if (layout.integerCells)
                    text = QString::asprintf("%d", leadingInteger(text));
                // One text line per row: line breaks are shown as blanks.
                text.replace(QLatin1String("\r\n"), QLatin1String(" "));
                text.replace(QLatin1Char('\n'), QLatin1Char(' '));
                text.replace(QLatin1Char('\r'), QLatin1Char(' '));
                canvas.drawText(layout.columns[size_t(c)].x, y, text);
            }
        }
        y -= step;
        ++n;
    }

    for (const ReportColumn& column : layout.columns)
        canvas.drawText(column.x, 9020 + cy, column.heading.toString());

    canvas.drawLine(ruleLeft, 9030 + cy, ruleRight, 9030 + cy);
    canvas.drawLine(ruleLeft, 9040, ruleRight, 9040);
    for (int k = 0; k < n; ++k) {
        const int ruleY = 8990 - cy - k * step;
        if (ruleY < 0)
            break;
        canvas.drawLine(ruleLeft, ruleY, ruleRight, ruleY);
    }
    const int bottom = n == 0 ? 9010 : 8990 - (n - 1) * step - cy;
    for (int x : layout.rules)
        canvas.drawLine(x, 9030 + cy, x, bottom);

    canvas.setPen(ReportCanvas::Pen::Dashed);
    canvas.drawLine(layout.dashFrom1, 9100 + cy, layout.dashTo1, 9100 + cy);
    canvas.drawLine(layout.dashFrom2, 9100 + cy, layout.dashTo2, 9100 + cy);
    canvas.setPen(ReportCanvas::Pen::Default);

    const int preparerY = 9150 + 2 * cy;
    canvas.drawText(layout.preparerX, preparerY, QStringLiteral("制表人："));
    canvas.drawText(layout.preparerX + 1000, preparerY, userName);
    canvas.drawText(layout.timeLabelX, preparerY, QStringLiteral("制表时间："));
    canvas.drawText(layout.timeLabelX + 1000, preparerY, reportTime(printTime));

    canvas.setFont(QStringLiteral("楷体"), 22);
    canvas.drawText(3000, 10500, layout.title.toString());
    canvas.drawLine(3000, 10100, layout.underlineEnd, 10100);
}

} // namespace vok
