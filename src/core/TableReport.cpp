#include "core/TableReport.h"

#include "core/QueryField.h"

#include <algorithm>

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

// The count sheet: the counted column is left wide enough to write in.
constexpr ReportColumn stocktakeColumns[] = {{u"设备号", 300},
                                             {u"设备名", 1500},
                                             {u"账面数量", 3700},
                                             {u"实盘数量", 4700},
                                             {u"盘盈盘亏", 6300}};
constexpr int stocktakeRules[] = {200, 1400, 3600, 4600, 6200, 7600};

constexpr ReportColumn consumptionColumns[] = {{u"序号", 1300},
                                               {u"部　门", 2300},
                                               {u"出库数量", 3300},
                                               {u"需求数量", 4300},
                                               {u"满足率", 5300}};
constexpr int consumptionRules[] = {1200, 2200, 3200, 4200, 5200, 6200};

constexpr ReportColumn operationLogColumns[] = {
    {u"操作员", 300}, {u"操　作　日　期", 1500}, {u"操　作　内　容", 3100}};
constexpr int operationLogRules[] = {200, 1400, 3000, 7600};

constexpr ReportColumn adjustmentColumns[] = {{u"设备号", 300},      {u"　调　整　时　间", 1200},
                                              {u"调整前数量", 3100}, {u"调整后数量", 4200},
                                              {u"原　　因", 5400},   {u"操作员", 6700}};
constexpr int adjustmentRules[] = {200, 1100, 3000, 4100, 5200, 6500, 7600};

constexpr ReportColumn loanColumns[] = {{u"单号", 300},      {u"设备号", 800}, {u"借用数量", 1400},
                                        {u"借用人", 2100},   {u"部门", 2950},  {u"借出时间", 3900},
                                        {u"应还日期", 5050}, {u"已还", 6000},  {u"损坏", 6600},
                                        {u"状态", 7200}};
constexpr int loanRules[] = {200, 750, 1350, 1950, 2750, 3550, 4950, 5850, 6450, 7050, 7700};
// The transfers' first six list columns: the id, the other department, the
// time sent, the sender, the note and the state.
constexpr ReportColumn transferOutColumns[] = {{u"调拨单号", 300},  {u"调入部门", 2500},
                                               {u"调出时间", 3300}, {u"调出人", 4550},
                                               {u"备注", 5350},     {u"状态", 7000}};
constexpr ReportColumn transferInColumns[] = {{u"调拨单号", 300},  {u"调出部门", 2500},
                                              {u"调出时间", 3300}, {u"调出人", 4550},
                                              {u"备注", 5350},     {u"状态", 7000}};
constexpr int transferRules[] = {200, 2400, 3200, 4450, 5250, 6900, 7700};

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
const ReportLayout stocktake{
    u"库存盘点表", 14,   stocktakeColumns, stocktakeRules, 1200, 2200, 5800, 7500, 300, 4800,
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

const ReportLayout operationLog{
    u"操作日志表", 10,   operationLogColumns, operationLogRules, 1200, 2200, 6200, 7500, 300, 5300,
    4500,          false};

const ReportLayout adjustments{
    u"库存调整表", 10,   adjustmentColumns, adjustmentRules, 1200, 2200, 6200, 7500, 300, 5300,
    4500,          false};
const ReportLayout loans{u"借用信息表", 8,    loanColumns, loanRules, 1200, 2200,
                         6200,          7500, 300,         5300,      4500, false};
const ReportLayout transfersOut{
    u"调出信息表", 8,    transferOutColumns, transferRules, 1200, 2200, 6200, 7500, 300, 5300,
    4500,          false};
const ReportLayout transfersIn{
    u"调入信息表", 8,    transferInColumns, transferRules, 1200, 2200, 6200, 7500, 300, 5300,
    4500,          false};

} // namespace reports

QString reportTime(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime h = t.time();
    return QString::asprintf("%d-%d-%d  %d-%d-%d", d.year(), d.month(), d.day(), h.hour(),
                             h.minute(), h.second());
}

namespace {

// Space kept between a text's ink and a rule.
constexpr int kClearance = 3;
// Fitting makes a text smaller in steps of half a point down to this.
constexpr double kFloorPoints = 6;
constexpr double kPointStep = 0.5;
// The page line: its size and its distance under the table's last rule.
constexpr int kPageLinePoints = 8;
constexpr int kPageLineGap = 40;

const QString kBodyFace = QStringLiteral("Arial");

// The area a text may use: between two rules across, between two rules
// (or the page's edges) down the page.
struct Cell
{
    int left, right; // x of the rules left and right of the text
    int top, bottom; // y of the rules above and below
};

class Fitter
{
public:
    Fitter(ReportCanvas& canvas, double points) : m_canvas(canvas), m_points(points) {}

    // Draws text with its top-left at (x, y) as the layout places it, moved
    // only as far as its ink needs to stand clear of the cell's rules, in
    // the body font or smaller, cut with "…" when even the floor size is
    // too wide.
    void draw(int x, int y, QString text, const Cell& cell)
    {
        if (text.isEmpty())
            return;
        const int height = cell.top - cell.bottom - 2 * kClearance;
        double points = m_points;
        ReportCanvas::Ink ink = m_canvas.measure(text);
        const int bodyBottom = ink.bottom;
        auto fits = [&] {
            const int shift = std::max(0, cell.left + kClearance - (x + ink.left));
            return x + shift + ink.right <= cell.right - kClearance &&
                   ink.bottom - ink.top <= height;
        };
        while (!fits() && points - kPointStep >= kFloorPoints - 1e-9) {
            points -= kPointStep;
            select(points);
            ink = m_canvas.measure(text);
        }
        if (!fits()) {
            // Cut at the floor size, a character at a time from the end.
            const QString ellipsis = QStringLiteral("…");
            while (!text.isEmpty()) {
                text.chop(text.size() >= 2 && text.back().isLowSurrogate() ? 2 : 1);
                ink = m_canvas.measure(text + ellipsis);
                if (fits())
                    break;
            }
            text += ellipsis;
            ink = m_canvas.measure(text);
        }
        // A smaller text sits on the line the body-size one would have.
        y -= bodyBottom - ink.bottom;
        x += std::max(0, cell.left + kClearance - (x + ink.left));
        // Ink from y - ink.top down to y - ink.bottom (y upward).
        if (y - ink.top > cell.top - kClearance)
            y = cell.top - kClearance + ink.top;
        if (y - ink.bottom < cell.bottom + kClearance)
            y = cell.bottom + kClearance + ink.bottom;
        m_canvas.drawText(x, y, text);
        if (points != m_points)
            select(m_points);
    }

private:
    void select(double points) { m_canvas.setFont(kBodyFace, points); }

    ReportCanvas& m_canvas;
    double m_points;
};

// The cell of a column: the rule at or left of its text and the next rule
// right of it.
Cell columnCell(const ReportLayout& layout, int x, int top, int bottom)
{
    int left = layout.rules.front();
    int right = layout.rules.back();
    for (int r : layout.rules) {
        if (r <= x)
            left = r;
        else {
            right = r;
            break;
        }
    }
    return {left, right, top, bottom};
}

QString oneLine(QString text)
{
    // One text line per row: line breaks are shown as blanks.
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

struct Paging
{
    int cy;
    int firstPageRows; // rows the table holds on a page without a page line
    int pagedRows;     // rows a page holds above its page line
    int pageLineHeight;
};

Paging paging(ReportCanvas& canvas, const ReportLayout& layout)
{
    canvas.setFont(kBodyFace, kPageLinePoints);
    const int lineHeight = canvas.textHeight(QStringLiteral("00"));
    canvas.setFont(kBodyFace, layout.bodyPoints);
    const int cy = canvas.textHeight(QStringLiteral("00"));
    const int step = cy + 20;
    // Row k's rule lies at 8990 - cy - k * step; it must stay on the page,
    // and with a page line the line must fit under it.
    const int firstRule = 8990 - cy;
    const int fit = firstRule >= 0 ? firstRule / step + 1 : 0;
    const int paged = firstRule - kPageLineGap - lineHeight >= 0
                          ? (firstRule - kPageLineGap - lineHeight) / step + 1
                          : 0;
    return {cy, std::max(fit, 1), std::max(paged, 1), lineHeight};
}

int pagesFor(const Paging& p, int rowCount)
{
    if (rowCount <= p.firstPageRows)
        return 1;
    return (rowCount + p.pagedRows - 1) / p.pagedRows;
}

} // namespace

int tableReportPages(ReportCanvas& canvas, const ReportLayout& layout, int rowCount)
{
    return pagesFor(paging(canvas, layout), rowCount);
}

bool drawTableReport(ReportCanvas& canvas, const ReportLayout& layout, int rowCount,
                     const ReportCell& cell, const QString& userName, const QDateTime& printTime,
                     const ReportProgress& progress)
{
    const Paging p = paging(canvas, layout);
    const int cy = p.cy;
    const int step = cy + 20;
    const int ruleLeft = layout.rules.front();
    const int ruleRight = layout.rules.back();
    const int columns = int(layout.columns.size());
    const int pages = pagesFor(p, rowCount);
    const int perPage = pages == 1 ? std::max(rowCount, 0) : p.pagedRows;
    const QString time = reportTime(printTime);

    for (int page = 0; page < pages; ++page) {
        if (progress && !progress(page + 1, pages))
            return false;
        if (page > 0)
            canvas.newPage();
        canvas.setFont(kBodyFace, layout.bodyPoints);
        Fitter fitter(canvas, layout.bodyPoints);
        const int first = page * perPage;
        const int n = std::min(perPage, rowCount - first);

        // Row k stands between the rule above it (the header frame's lower
        // rule for the first) and its own rule.
        for (int k = 0; k < n; ++k) {
            const int y = 9000 - k * step;
            const int top = k == 0 ? 9040 : 8990 - cy - (k - 1) * step;
            const int bottom = 8990 - cy - k * step;
            for (int c = 0; c < columns; ++c) {
                QString text = cell(first + k, c);
                if (layout.integerQuantities && c > 0)
                    text = QString::asprintf("%d", leadingInteger(text));
                const int x = layout.columns[size_t(c)].x;
                fitter.draw(x, y, oneLine(text), columnCell(layout, x, top, bottom));
            }
        }

        for (const ReportColumn& column : layout.columns)
            fitter.draw(column.x, 9020 + cy, column.heading.toString(),
                        columnCell(layout, column.x, 9030 + cy, 9040));

        canvas.drawLine(ruleLeft, 9030 + cy, ruleRight, 9030 + cy);
        canvas.drawLine(ruleLeft, 9040, ruleRight, 9040);
        for (int k = 0; k < n; ++k) {
            const int ruleY = 8990 - cy - k * step;
            canvas.drawLine(ruleLeft, ruleY, ruleRight, ruleY);
        }
        const int bottom = n <= 0 ? 9010 : 8990 - (n - 1) * step - cy;
        for (int x : layout.rules)
            canvas.drawLine(x, 9030 + cy, x, bottom);

        canvas.setPen(ReportCanvas::Pen::Dashed);
        canvas.drawLine(layout.dashFrom1, 9100 + cy, layout.dashTo1, 9100 + cy);
        canvas.drawLine(layout.dashFrom2, 9100 + cy, layout.dashTo2, 9100 + cy);
        canvas.setPen(ReportCanvas::Pen::Default);

        // The preparer line: the name may use the space up to the time label.
        const int preparerY = 9150 + 2 * cy;
        const int lineTop = preparerY + cy + 200;
        canvas.drawText(layout.preparerX, preparerY, QStringLiteral("制表人："));
        const int nameX = layout.preparerX + 1000;
        fitter.draw(nameX, preparerY, oneLine(userName),
                    {nameX - kClearance, std::max(layout.timeLabelX, nameX), lineTop, 9100 + cy});
        canvas.drawText(layout.timeLabelX, preparerY, QStringLiteral("制表时间："));
        canvas.drawText(layout.timeLabelX + 1000, preparerY, time);

        if (pages > 1) {
            canvas.setFont(kBodyFace, kPageLinePoints);
            const QString line = QStringLiteral("第 %1 页，共 %2 页").arg(page + 1).arg(pages);
            const ReportCanvas::Ink ink = canvas.measure(line);
            canvas.drawText((ruleLeft + ruleRight - ink.right) / 2, bottom - kPageLineGap, line);
        }

        canvas.setFont(QStringLiteral("楷体"), 22);
        canvas.drawText(3000, 10500, layout.title.toString());
        canvas.drawLine(3000, 10100, layout.underlineEnd, 10100);
    }
    return true;
}

} // namespace vok
