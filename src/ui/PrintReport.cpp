#include "ui/PrintReport.h"

#include "core/Clock.h"
#include "core/RecordListModel.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>

namespace vok {

namespace {

PrintService::Chooser& chooser()
{
    static PrintService::Chooser c;
    return c;
}

// The installed equivalents of the report's faces.
QString familyFor(const QString& face)
{
    if (face == u"楷体")
        return QStringLiteral("AR PL UKai CN");
    if (face == QLatin1String("Arial"))
        return QStringLiteral("Liberation Sans");
    return face;
}

} // namespace

PainterReportCanvas::PainterReportCanvas(QPainter& painter) : m_painter(painter)
{
    QPaintDevice* device = painter.device();
    // Logical units of 0.001 inch, y upward; the origin at the bottom-left
    // corner of the printable area.
    const double sx = device->logicalDpiX() / 1000.0;
    const double sy = device->logicalDpiY() / 1000.0;
    const double height = device->height() / sy;
    m_painter.save();
    m_painter.resetTransform();
    m_painter.scale(sx, -sy);
    m_painter.translate(0, -height);
    m_painter.setPen(QPen(Qt::black, 0));
}

PainterReportCanvas::~PainterReportCanvas()
{
    m_painter.restore();
}

void PainterReportCanvas::setFont(const QString& face, double points)
{
    QFont font(familyFor(face));
    // Sized in logical units: under the 0.001-inch transform a point size
    // would come out too large.
    font.setPixelSize(int(points * 1000 / 72));
    m_painter.setFont(font);
}

int PainterReportCanvas::textHeight(const QString& text)
{
    const QFontMetrics fm(m_painter.font(), m_painter.device());
    Q_UNUSED(text);
    return fm.height();
}

ReportCanvas::Ink PainterReportCanvas::measure(const QString& text)
{
    // The tight box covers glyphs of fallback fonts too (Chinese in the
    // Latin body font), which the font's own ascent and descent do not.
    const QFontMetrics fm(m_painter.font(), m_painter.device());
    const QRect r = fm.tightBoundingRect(text);
    const int top = fm.ascent() + r.top();
    return {r.left(), std::max(r.left() + r.width(), fm.horizontalAdvance(text)), top,
            top + r.height()};
}

void PainterReportCanvas::newPage()
{
    if (auto* paged = dynamic_cast<QPagedPaintDevice*>(m_painter.device()))
        paged->newPage();
}

void PainterReportCanvas::drawText(int x, int y, const QString& text)
{
    const QFontMetrics fm(m_painter.font(), m_painter.device());
    m_painter.save();
    m_painter.translate(x, y);
    m_painter.scale(1, -1);
    m_painter.drawText(QPointF(0, fm.ascent()), text);
    m_painter.restore();
}

void PainterReportCanvas::setPen(Pen pen)
{
    if (pen == Pen::Dashed)
        m_painter.setPen(QPen(QColor(50, 50, 50), 5, Qt::DashLine));
    else
        m_painter.setPen(QPen(Qt::black, 0));
}

void PainterReportCanvas::drawLine(int x1, int y1, int x2, int y2)
{
    m_painter.drawLine(QPoint(x1, y1), QPoint(x2, y2));
}

namespace PrintService {

void setChooser(Chooser c)
{
    chooser() = std::move(c);
}

bool choosePrinter(QPrinter& printer, QWidget* parent)
{
    if (chooser())
        return chooser()(printer, parent);
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace PrintService

bool printTableReport(QPrinter& printer, const ReportLayout& layout, int rowCount,
                      const ReportCell& cell, const QString& userName, const QDateTime& printTime)
{
    printer.setDocName(QStringLiteral("仓库管理系统"));
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    {
        PainterReportCanvas canvas(painter);
        drawTableReport(canvas, layout, rowCount, cell, userName, printTime);
    }
    return painter.end();
}

namespace {

ReportCell listCells(const RecordListModel& list)
{
    return [&list](int row, int column) { return list.text(row, column); };
}

} // namespace

void fitPreviewToScreen(QPrintPreviewDialog& dialog)
{
    QSize size(900, 1000);
    if (const QScreen* screen = dialog.screen()) {
        const QRect free = screen->availableGeometry();
        size = size.boundedTo(free.size() * 9 / 10);
        dialog.resize(size);
        dialog.move(free.center() - QPoint(size.width() / 2, size.height() / 2));
    } else {
        dialog.resize(size);
    }
    if (auto* preview = dialog.findChild<QPrintPreviewWidget*>())
        preview->fitToWidth();
}

void printTableReport(const RecordListModel& list, const ReportLayout& layout,
                      const QString& userName, QWidget* parent)
{
    printTableReport(list.countAll(), listCells(list), layout, userName, parent);
}

void previewTableReport(const RecordListModel& list, const ReportLayout& layout,
                        const QString& userName, QWidget* parent)
{
    previewTableReport(list.countAll(), listCells(list), layout, userName, parent);
}

void printTableReport(int rowCount, const ReportCell& cell, const ReportLayout& layout,
                      const QString& userName, QWidget* parent)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("仓库管理系统"));
    if (!PrintService::choosePrinter(printer, parent))
        return;
    printTableReport(printer, layout, rowCount, cell, userName, Clock::now());
}

void previewTableReport(int rowCount, const ReportCell& cell, const ReportLayout& layout,
                        const QString& userName, QWidget* parent)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("仓库管理系统"));
    const QDateTime time = Clock::now();
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("printPreview"));
    dialog.setWindowTitle(QStringLiteral("打印预览 - %1").arg(layout.title));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* target) {
        printTableReport(*target, layout, rowCount, cell, userName, time);
    });
    fitPreviewToScreen(dialog);
    dialog.exec();
}

} // namespace vok
