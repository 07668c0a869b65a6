#include "core/TableReport.h"

#include "core/QueryField.h"

#include <algorithm>

namespace vok {

ReportCanvas::~ReportCanvas() = default;

namespace reports {
namespace {

constexpr int reconcileRules[] = {200, 900, 2500, 3300, 4100, 4900, 5700, 6600, 7600};
constexpr int stocktakeRules[] = {200, 1400, 3600, 4600, 6200, 7600};
constexpr int consumptionRules[] = {1200, 2200, 3200, 4200, 5200, 6200};

} // namespace

const ReportLayout reconcile{.title = u"库存核对表",
                             .bodyPoints = 8,
                             .columns = {{u"设备号", 300},
                                         {u"设备名", 1000},
                                         {u"现在数量", 2600},
                                         {u"流水结存", 3400},
                                         {u"数量差", 4200},
                                         {u"总　数", 5000},
                                         {u"入库合计", 5800},
                                         {u"总数差", 6700}},
                             .rules = reconcileRules};
// The count sheet: the counted column is left wide enough to write in.
const ReportLayout stocktake{.title = u"库存盘点表",
                             .bodyPoints = 14,
                             .columns = {{u"设备号", 300},
                                         {u"设备名", 1500},
                                         {u"账面数量", 3700},
                                         {u"实盘数量", 4700},
                                         {u"盘盈盘亏", 6300}},
                             .rules = stocktakeRules,
                             .rightDash = {5800, 7500},
                             .timeLabelX = 4800};
const ReportLayout consumption{.title = u"部门消耗统计表",
                               .columns = {{u"序号", 1300},
                                           {u"部　门", 2300},
                                           {u"出库数量", 3300},
                                           {u"需求数量", 4300},
                                           {u"满足率", 5300}},
                               .rules = consumptionRules,
                               .leftDash = {2200, 3200},
                               .rightDash = {4200, 6200},
                               .preparerX = 1300,
                               .timeLabelX = 3300,
                               .underlineEnd = 5100};

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
        canvas.drawLine(layout.leftDash.from, 9100 + cy, layout.leftDash.to, 9100 + cy);
        canvas.drawLine(layout.rightDash.from, 9100 + cy, layout.rightDash.to, 9100 + cy);
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
