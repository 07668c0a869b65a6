#pragma once

#include "core/LabelSheet.h"

#include <QImage>
#include <QList>
#include <QString>

class QPainter;
class QPrinter;

namespace vok {

// What one device label shows.
struct DeviceLabel
{
    QString code;
    QString name;
};

// Draws a label into a rectangle of device pixels, pxPerMm pixels to the
// millimetre: the code as QR and Code 128 symbols, the code in text and the
// device name, in the report's Chinese font, each fitted to its place.
void drawLabel(QPainter& painter, const QRectF& cell, qreal pxPerMm, const DeviceLabel& label);

// Sets the printer to the sheet's paper, without margins.
void setUpLabelPrinter(QPrinter& printer, const LabelSheet& sheet);

// Prints labels onto a printer set up for the sheet, the first at a
// position of the first page (a half-used sheet). False when the printer
// (or its output file) cannot be opened.
bool printLabels(QPrinter& printer, const LabelSheet& sheet, const QList<DeviceLabel>& labels,
                 int firstPosition = 0);
// The same written to a PDF file on the sheet's paper, drawn without the
// printing system (a command-line action loads none of it). False when
// the file cannot be opened.
bool writeLabelsPdf(const QString& fileName, const LabelSheet& sheet,
                    const QList<DeviceLabel>& labels, int firstPosition = 0);

// One label alone as a picture at a resolution (white ground).
QImage labelImage(const LabelSheet& sheet, const DeviceLabel& label, int dotsPerInch);

} // namespace vok
