#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <functional>
#include <span>
#include <vector>

namespace vok {

// A drawing surface for the printed reports: 0.001-inch units, x to the
// right and y upward from the bottom-left corner of the printable area;
// texts are placed by their top-left corner.
class ReportCanvas
{
public:
    enum class Pen
    {
        Default,
        Dashed
    };

    // Where a text's ink lies when it is placed at (0, 0): left and right
    // to the right of the point (right at least the text's advance), top
    // and bottom below it (y downward from the placement point). Glyphs
    // taken from a fallback font may reach above or below the selected
    // font's own line.
    struct Ink
    {
        int left, right, top, bottom;
    };

    virtual ~ReportCanvas();

    // Selects a font by face name ("楷体", "Arial") and point size.
    virtual void setFont(const QString& face, double points) = 0;
    // Height of a text in the selected font.
    virtual int textHeight(const QString& text) = 0;
    virtual Ink measure(const QString& text) = 0;
    virtual void drawText(int x, int y, const QString& text) = 0;
    virtual void setPen(Pen pen) = 0;
    virtual void drawLine(int x1, int y1, int x2, int y2) = 0;
    // Ends the page and starts the next.
    virtual void newPage() = 0;
};

struct ReportColumn
{
    QStringView heading;
    int x;
};

// The description of one printed table report, built with named fields;
// what most reports share is the default.
struct ReportLayout
{
    // A dashed line's ends, either side of the title.
    struct Dash
    {
        int from, to;
    };

    QStringView title;
    int bodyPoints = 10;
    std::vector<ReportColumn> columns = {};
    // x of each vertical rule, left to right; the first and the last bound
    // the horizontal rules.
    std::span<const int> rules = {};
    Dash leftDash = {1200, 2200};
    Dash rightDash = {6200, 7500};
    int preparerX = 300;   // "制表人："; the user name stands 1000 to its right
    int timeLabelX = 5300; // "制表时间："; the time stands 1000 to its right
    int underlineEnd = 4500;
    // Cells after the first (the code) printed as integers ("%d"): the
    // stock report's quantities.
    bool integerQuantities = false;
};

// The reports of the tables are built from their descriptions (core/Tables);
// these print what other forms list.
namespace reports {
extern const ReportLayout stock;
extern const ReportLayout stockIn;
extern const ReportLayout stockOut;
extern const ReportLayout returns;
extern const ReportLayout demand;
extern const ReportLayout purchasePlan;
extern const ReportLayout operationLog;
extern const ReportLayout adjustments;
extern const ReportLayout loans;
extern const ReportLayout reconcile;
extern const ReportLayout stocktake;
extern const ReportLayout consumption;
extern const ReportLayout transfersOut;
extern const ReportLayout transfersIn;
} // namespace reports

// The rows a report prints: the list's text of a row and column.
using ReportCell = std::function<QString(int row, int column)>;

// The print time: "%d-%d-%d  %d-%d-%d", nothing zero-padded.
QString reportTime(const QDateTime& t);

// Told before each page is drawn: the page (from 1) and the page count.
// Returning false stops the report before that page.
using ReportProgress = std::function<bool(int page, int pages)>;

// The pages a report of that many rows takes on the canvas (its fonts).
int tableReportPages(ReportCanvas& canvas, const ReportLayout& layout, int rowCount);

// Draws a report of every row onto the canvas. Page 1 has the layout's
// geometry; when the rows do not fit on it, each further page repeats the
// title, the preparer line and the header row and continues the rows, and
// every page gets the page line "第 N 页，共 M 页" under its table. A text
// wider than its cell is drawn smaller, down to a floor, then cut with
// "…"; every text is placed by its ink clear of the rules around it.
// False when the progress stopped it.
bool drawTableReport(ReportCanvas& canvas, const ReportLayout& layout, int rowCount,
                     const ReportCell& cell, const QString& userName, const QDateTime& printTime,
                     const ReportProgress& progress = {});

} // namespace vok
