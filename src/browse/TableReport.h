#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <functional>
#include <span>

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

    virtual ~ReportCanvas();

    // Selects a font by face name ("楷体", "Arial") and point size.
    virtual void setFont(const QString& face, int points) = 0;
    // Height of a text in the selected font.
    virtual int textHeight(const QString& text) = 0;
    virtual void drawText(int x, int y, const QString& text) = 0;
    virtual void setPen(Pen pen) = 0;
    virtual void drawLine(int x1, int y1, int x2, int y2) = 0;
};

struct ReportColumn
{
    QStringView heading;
    int x;
};

// The constant description of one printed table report.
struct ReportLayout
{
    QStringView title;
    int bodyPoints;
    std::span<const ReportColumn> columns;
    // x of each vertical rule, left to right; the first and the last bound
    // the horizontal rules.
    std::span<const int> rules;
    int dashFrom1, dashTo1, dashFrom2, dashTo2;
    int preparerX;  // "制表人："; the user name stands 1000 to its right
    int timeLabelX; // "制表时间："; the time stands 1000 to its right
    int underlineEnd;
    // Cells printed as integers ("%d"): the stock report.
    bool integerCells = false;
};

namespace reports {
extern const ReportLayout stock;
extern const ReportLayout stockIn;
extern const ReportLayout stockOut;
extern const ReportLayout returns;
extern const ReportLayout demand;
extern const ReportLayout purchasePlan;
extern const ReportLayout reconcile;
extern const ReportLayout consumption;
} // namespace reports

// The rows a report prints: the list's text of a row and column; a row
// past the last gives an empty text.
using ReportCell = std::function<QString(int row, int column)>;

// The print time: "%d-%d-%d  %d-%d-%d", nothing zero-padded.
QString reportTime(const QDateTime& t);

// Draws one report onto the canvas (the whole page).
void drawTableReport(ReportCanvas& canvas, const ReportLayout& layout, const ReportCell& cell,
                     const QString& userName, const QDateTime& printTime);

} // namespace vok
