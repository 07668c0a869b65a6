#include "ui/PrintReport.h"

#include "core/Clock.h"
#include "core/RecordListModel.h"
#include "ui/MessageService.h"

#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>

#include <malloc.h>
#include <memory>

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
    const QFont& font = m_painter.font();
    const QString key = font.key() + QChar(0) + text;
    if (const auto it = m_inks.constFind(key); it != m_inks.constEnd())
        return *it;
    // The tight box covers glyphs of fallback fonts too (Chinese in the
    // Latin body font), which the font's own ascent and descent do not.
    const QFontMetrics fm(font, m_painter.device());
    const QRect r = fm.tightBoundingRect(text);
    const int top = fm.ascent() + r.top();
    const Ink ink{r.left(), std::max(r.left() + r.width(), fm.horizontalAdvance(text)), top,
                  top + r.height()};
    // Kept small: most texts of a long report (dates, codes) come once.
    if (m_inks.size() >= 4096)
        m_inks.clear();
    m_inks.insert(key, ink);
    return ink;
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

namespace {

const QString kDocumentName = QStringLiteral("仓库管理系统");

bool drawReport(QPagedPaintDevice& device, const ReportLayout& layout, int rowCount,
                const ReportCell& cell, const QString& userName, const QDateTime& printTime,
                const ReportProgress& progress)
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    bool drawn = false;
    {
        PainterReportCanvas canvas(painter);
        drawn = drawTableReport(canvas, layout, rowCount, cell, userName, printTime, progress);
    }
    return painter.end() && drawn;
}

} // namespace

bool printTableReport(QPrinter& printer, const ReportLayout& layout, int rowCount,
                      const ReportCell& cell, const QString& userName, const QDateTime& printTime,
                      const ReportProgress& progress)
{
    printer.setDocName(kDocumentName);
    return drawReport(printer, layout, rowCount, cell, userName, printTime, progress);
}

bool writeTableReportPdf(const QString& fileName, const ReportLayout& layout, int rowCount,
                         const ReportCell& cell, const QString& userName,
                         const QDateTime& printTime)
{
    QPdfWriter writer(fileName);
    writer.setTitle(kDocumentName);
    writer.setResolution(1200);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(10, 10, 10, 10), QPageLayout::Point));
    return drawReport(writer, layout, rowCount, cell, userName, printTime, {});
}

namespace {

// Only the fonts' heights, for counting a report's pages before any
// drawing (no painter may be opened on a printer without starting a job).
class MetricsCanvas : public ReportCanvas
{
public:
    explicit MetricsCanvas(QPaintDevice& device) : m_device(device) {}

    void setFont(const QString& face, double points) override
    {
        m_font = QFont(familyFor(face));
        m_font.setPixelSize(int(points * 1000 / 72));
    }
    int textHeight(const QString&) override { return QFontMetrics(m_font, &m_device).height(); }
    Ink measure(const QString&) override { return {}; }
    void drawText(int, int, const QString&) override {}
    void setPen(Pen) override {}
    void drawLine(int, int, int, int) override {}
    void newPage() override {}

protected:
    const QFont& font() const { return m_font; }
    QPaintDevice& device() const { return m_device; }

private:
    QPaintDevice& m_device;
    QFont m_font;
};

// The texts of a page measured as the drawing measures them, which loads
// their glyphs, fallback fonts included; nothing is drawn.
class FontLoadingCanvas : public MetricsCanvas
{
public:
    using MetricsCanvas::MetricsCanvas;

    Ink measure(const QString& text) override
    {
        load(text);
        return {};
    }
    void drawText(int, int, const QString& text) override { load(text); }

private:
    void load(const QString& text) { QFontMetrics(font(), &device()).tightBoundingRect(text); }
};

} // namespace

ReportFontLoader::ReportFontLoader(const ReportLayout& layout)
    : m_thread([&layout] {
          // Painting on images is allowed on any thread once the
          // application exists; so is measuring text with its fonts.
          QImage image(1, 1, QImage::Format_Mono);
          FontLoadingCanvas canvas(image);
          drawTableReport(canvas, layout, 0, {}, QString(), QDateTime(), {});
      })
{
}

ReportFontLoader::~ReportFontLoader()
{
    wait();
}

void ReportFontLoader::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

namespace {

// A progress box over a report's pages, shown once the work takes more than
// a moment, modal to the form; 取消 stops the report at the next page.
class PageProgress
{
public:
    PageProgress(const QString& title, const QString& format, QWidget* parent)
        : m_format(format), m_dialog(QString(), QStringLiteral("取消"), 0, 1, parent)
    {
        m_dialog.setWindowTitle(title);
        m_dialog.setObjectName(QStringLiteral("reportProgress"));
        m_dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
    }

    ReportProgress callback()
    {
        return [this](int page, int pages) {
            if (m_dialog.maximum() != pages)
                m_dialog.setMaximum(pages);
            m_dialog.setLabelText(m_format.arg(page).arg(pages));
            m_dialog.setValue(page - 1);
            return !m_dialog.wasCanceled();
        };
    }

    bool cancelled() const { return m_dialog.wasCanceled(); }

private:
    QString m_format;
    QProgressDialog m_dialog;
};

int reportPages(QPrinter& printer, const ReportLayout& layout, int rowCount)
{
    MetricsCanvas canvas(printer);
    return tableReportPages(canvas, layout, rowCount);
}

// Lays the report out in a preview window and waits until it is closed.
void runPreview(QPrinter& printer, int rowCount, const ReportCell& cell, const ReportLayout& layout,
                const QString& userName, QWidget* parent)
{
    const QDateTime time = Clock::now();
    // Owned here so that the pages it drew go with it when it closes.
    auto dialog = std::make_unique<QPrintPreviewDialog>(&printer, parent);
    dialog->setObjectName(QStringLiteral("printPreview"));
    dialog->setWindowTitle(QStringLiteral("打印预览 - %1").arg(layout.title));
    QPrintPreviewDialog* shown = dialog.get();
    QObject::connect(shown, &QPrintPreviewDialog::paintRequested, shown, [&](QPrinter* target) {
        PageProgress progress(QStringLiteral("打印预览"),
                              QStringLiteral("正在准备第 %1 页，共 %2 页…"), parent);
        printTableReport(*target, layout, rowCount, cell, userName, time, progress.callback());
        if (progress.cancelled()) {
            // The pages come before the window shows: it never appears.
            shown->setAttribute(Qt::WA_DontShowOnScreen);
            QMetaObject::invokeMethod(shown, &QDialog::reject, Qt::QueuedConnection);
        }
    });
    fitPreviewToScreen(*dialog);
    dialog->exec();
}

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
    PageProgress progress(QStringLiteral("打印"), QStringLiteral("正在打印第 %1 页，共 %2 页…"),
                          parent);
    printTableReport(printer, layout, rowCount, cell, userName, Clock::now(), progress.callback());
    if (progress.cancelled() && printer.outputFormat() == QPrinter::PdfFormat &&
        !printer.outputFileName().isEmpty())
        QFile::remove(printer.outputFileName());
}

void previewTableReport(int rowCount, const ReportCell& cell, const ReportLayout& layout,
                        const QString& userName, QWidget* parent)
{
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(QStringLiteral("仓库管理系统"));
        const int pages = reportPages(printer, layout, rowCount);
        if (pages > kLongPreviewPages) {
            const Messages::Answer answer = Messages::show(
                QStringLiteral("列表共有%1页，预览需要较长时间。\r\n"
                               "是否改为打印或输出为 PDF 文件？（选“否”仍然预览。）")
                    .arg(pages),
                QString(), Messages::Icon::Question, Messages::Buttons::YesNoCancel, parent);
            if (answer == Messages::Answer::Yes) {
                printTableReport(rowCount, cell, layout, userName, parent);
                return;
            }
            if (answer != Messages::Answer::No)
                return;
        }
        runPreview(printer, rowCount, cell, layout, userName, parent);
    }
    // The pages were many small blocks: hand the freed ones back to the
    // system rather than keep them in the process.
    malloc_trim(0);
}

} // namespace vok
