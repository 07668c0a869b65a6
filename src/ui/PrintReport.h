#pragma once

#include "core/TableReport.h"

#include <QDateTime>
#include <QHash>
#include <functional>
#include <thread>

class QPagedPaintDevice;
class QPainter;
class QPrintPreviewDialog;
class QPrinter;
class QWidget;

namespace vok {

class RecordListModel;

// The report canvas on a painter that draws on a printer (or a PDF): sets
// up 0.001-inch units with y upward from the bottom edge of the printable
// area and maps the report's font faces to the installed ones.
class PainterReportCanvas : public ReportCanvas
{
public:
    explicit PainterReportCanvas(QPainter& painter);
    ~PainterReportCanvas() override;

    void setFont(const QString& face, double points) override;
    int textHeight(const QString& text) override;
    Ink measure(const QString& text) override;
    void drawText(int x, int y, const QString& text) override;
    void setPen(Pen pen) override;
    void drawLine(int x1, int y1, int x2, int y2) override;
    void newPage() override;

private:
    QPainter& m_painter;
    // The ink of the texts measured, by font and text: a report repeats
    // its texts (a supplier, a buyer) and fits each cell in a few sizes.
    QHash<QString, Ink> m_inks;
};

namespace PrintService {
// Chooses the printer: the print dialog with page ranges and the selection
// disabled. Returns false when the user cancels. Tests replace it.
using Chooser = std::function<bool(QPrinter& printer, QWidget* parent)>;
void setChooser(Chooser chooser);
bool choosePrinter(QPrinter& printer, QWidget* parent);
} // namespace PrintService

// Sizes a preview to the screen's free area, centred, showing a whole
// page width.
void fitPreviewToScreen(QPrintPreviewDialog& dialog);

// Prints the rows a list shows as the layout's table report, with the
// user name as preparer and the clock's time. Cancelling the print dialog
// prints nothing. Shows no message.
void printTableReport(const RecordListModel& list, const ReportLayout& layout,
                      const QString& userName, QWidget* parent = nullptr);
// The same report in a preview window (zoom, pages, print). Laying out the
// pages shows their progress; 取消 stops it and shows no preview. A report
// of more than kLongPreviewPages pages asks first whether to print (or
// write a PDF file) instead. The pages' memory is given back on closing.
constexpr int kLongPreviewPages = 2000;
void previewTableReport(const RecordListModel& list, const ReportLayout& layout,
                        const QString& userName, QWidget* parent = nullptr);
// The same for any rows: the text of each cell. Printing shows the pages'
// progress too; 取消 stops it (a partly written file is removed).
void printTableReport(int rowCount, const ReportCell& cell, const ReportLayout& layout,
                      const QString& userName, QWidget* parent = nullptr);
void previewTableReport(int rowCount, const ReportCell& cell, const ReportLayout& layout,
                        const QString& userName, QWidget* parent = nullptr);
// The same for any rows, onto a printer already chosen. False when the
// printer (or its output file) cannot be opened or the progress stopped it.
bool printTableReport(QPrinter& printer, const ReportLayout& layout, int rowCount,
                      const ReportCell& cell, const QString& userName, const QDateTime& printTime,
                      const ReportProgress& progress = {});
// The same written to a PDF file, on the page a printer's PDF has (A4,
// 10-point margins, 1,200 dots an inch). Drawn without the printing
// system, which a command-line action would otherwise load for nothing.
// False when the file cannot be opened.
bool writeTableReportPdf(const QString& fileName, const ReportLayout& layout, int rowCount,
                         const ReportCell& cell, const QString& userName,
                         const QDateTime& printTime);

// Loads the fonts a report draws with on a thread of its own, measuring
// what every page draws (the title, the headings, the preparer line), while
// the caller opens the database and reads the rows: on a cold disk the
// font files and the rows are then read at once. The fonts' files stay in
// memory for the drawing, which finds them there; wait() returns once they
// are loaded, and the destructor waits too. The layout is read on the
// thread: it stays unchanged until then.
class ReportFontLoader
{
public:
    explicit ReportFontLoader(const ReportLayout& layout);
    ~ReportFontLoader();
    ReportFontLoader(const ReportFontLoader&) = delete;
    ReportFontLoader& operator=(const ReportFontLoader&) = delete;

    void wait();

private:
    std::thread m_thread;
};

} // namespace vok
