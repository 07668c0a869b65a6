#include "ui/LabelPrint.h"

#include "core/LabelSymbol.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

namespace vok {

namespace {

// Quiet zones: ten modules beside a Code 128 symbol, four around a QR code.
constexpr qreal kLinearQuiet = 10;
constexpr qreal kQrQuiet = 4;
// Bars no wider than half a millimetre, however short the code.
constexpr qreal kWidestModuleMm = 0.5;

void drawSymbol(QPainter& p, const LabelSymbol& symbol, const QPointF& origin, qreal moduleX,
                qreal moduleY)
{
    for (const QRectF& bar : symbol.bars) {
        p.drawRect(QRectF(origin.x() + bar.x() * moduleX, origin.y() + bar.y() * moduleY,
                          bar.width() * moduleX, bar.height() * moduleY));
    }
}

void drawCode128(QPainter& p, const QRectF& place, qreal pxPerMm, const QString& code)
{
    const LabelSymbol symbol = encodeSymbol(SymbolKind::Code128, code);
    if (!symbol.isValid())
        return;
    const qreal module = std::min(kWidestModuleMm * pxPerMm,
                                  place.width() / (symbol.size.width() + 2 * kLinearQuiet));
    const qreal width = module * symbol.size.width();
    const QPointF origin(place.center().x() - width / 2, place.top());
    drawSymbol(p, symbol, origin, module, place.height() / symbol.size.height());
}

void drawQr(QPainter& p, const QRectF& place, const QString& code)
{
    const LabelSymbol symbol = encodeSymbol(SymbolKind::Qr, code);
    if (!symbol.isValid())
        return;
    const qreal module =
        std::min(place.width(), place.height()) / (symbol.size.width() + 2 * kQrQuiet);
    const qreal side = module * symbol.size.width();
    drawSymbol(p, symbol, place.center() - QPointF(side / 2, side / 2), module, module);
}

// The largest pixel size at which the text fits the place, on at most the
// lines a wrapped text takes there.
int fittedSize(const QFont& base, const QString& text, const QRectF& place, int flags, int start)
{
    QFont f = base;
    for (int size = start; size > 4; size = size * 9 / 10) {
        f.setPixelSize(size);
        const QRectF need = QFontMetricsF(f).boundingRect(place, flags, text);
        if (need.width() <= place.width() && need.height() <= place.height())
            return size;
    }
    return 4;
}

void drawFitted(QPainter& p, QFont font, const QRectF& place, int flags, const QString& text,
                int start)
{
    font.setPixelSize(fittedSize(font, text, place, flags, start));
    p.setFont(font);
    p.drawText(place, flags, text);
}

QRectF scaled(const QRectF& mm, const QPointF& origin, qreal pxPerMm)
{
    return QRectF(origin + mm.topLeft() * pxPerMm, mm.size() * pxPerMm);
}

} // namespace

void drawLabel(QPainter& painter, const QRectF& cell, qreal pxPerMm, const DeviceLabel& label)
{
    const LabelParts parts = labelParts(cell.size() / pxPerMm);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    drawQr(painter, scaled(parts.qr, cell.topLeft(), pxPerMm), label.code);
    drawCode128(painter, scaled(parts.code128, cell.topLeft(), pxPerMm), pxPerMm, label.code);

    painter.setPen(Qt::black);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    QFont font(QStringLiteral("AR PL UKai CN"));
    const QRectF codePlace = scaled(parts.codeText, cell.topLeft(), pxPerMm);
    QFont bold = font;
    bold.setBold(true);
    drawFitted(painter, bold, codePlace, Qt::AlignLeft | Qt::AlignVCenter, label.code,
               int(codePlace.height() * 0.8));
    const QRectF namePlace = scaled(parts.nameText, cell.topLeft(), pxPerMm);
    drawFitted(painter, font, namePlace, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere,
               label.name, int(codePlace.height() * 0.6));
    painter.restore();
}

void setUpLabelPrinter(QPrinter& printer, const LabelSheet& sheet)
{
    printer.setFullPage(true);
    printer.setPageSize(
        QPageSize(sheet.page, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

namespace {

bool drawLabels(QPagedPaintDevice& device, int dotsPerInch, const LabelSheet& sheet,
                const QList<DeviceLabel>& labels, int firstPosition)
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const qreal pxPerMm = dotsPerInch / 25.4;
    int page = 0;
    for (int i = 0; i < labels.size(); ++i) {
        const LabelPlace place = labelPlace(sheet, firstPosition, i);
        for (; page < place.page; ++page)
            device.newPage();
        const QRectF cell = sheet.cell(place.position);
        drawLabel(painter, QRectF(cell.topLeft() * pxPerMm, cell.size() * pxPerMm), pxPerMm,
                  labels[i]);
    }
    return painter.end();
}

} // namespace

bool printLabels(QPrinter& printer, const LabelSheet& sheet, const QList<DeviceLabel>& labels,
                 int firstPosition)
{
    return drawLabels(printer, printer.resolution(), sheet, labels, firstPosition);
}

bool writeLabelsPdf(const QString& fileName, const LabelSheet& sheet,
                    const QList<DeviceLabel>& labels, int firstPosition)
{
    constexpr int dotsPerInch = 1200;
    QPdfWriter writer(fileName);
    writer.setResolution(dotsPerInch);
    QPageLayout page(QPageSize(sheet.page, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch),
                     QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    page.setMode(QPageLayout::FullPageMode);
    writer.setPageLayout(page);
    return drawLabels(writer, dotsPerInch, sheet, labels, firstPosition);
}

QImage labelImage(const LabelSheet& sheet, const DeviceLabel& label, int dotsPerInch)
{
    const qreal pxPerMm = dotsPerInch / 25.4;
    QImage image((sheet.label * pxPerMm).toSize(), QImage::Format_RGB32);
    image.setDotsPerMeterX(int(pxPerMm * 1000));
    image.setDotsPerMeterY(int(pxPerMm * 1000));
    image.fill(Qt::white);
    QPainter painter(&image);
    drawLabel(painter, QRectF(QPointF(0, 0), QSizeF(image.size())), pxPerMm, label);
    painter.end();
    return image;
}

} // namespace vok
