#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QStringView>
#include <span>

namespace vok {

// A kind of label paper, in millimetres: its page, the size of one label
// and how the labels stand on the page, row by row from the top left.
struct LabelSheet
{
    QStringView key;
    QStringView caption;
    QSizeF page;
    QSizeF label;
    int columns = 1;
    int rows = 1;
    // The top-left corner of the first label.
    QPointF origin;

    int perPage() const { return columns * rows; }
    // The label at a position of a page (0 the top-left one).
    QRectF cell(int position) const;
};

namespace labelSheets {
// A4 sheets of 3 × 8 labels of 70 × 37 mm.
extern const LabelSheet a4;
// One label of 50 × 30 mm per page, for a label printer.
extern const LabelSheet single;
} // namespace labelSheets

std::span<const LabelSheet* const> allLabelSheets();
// The sheet of a key ("a4", "label"), or nullptr.
const LabelSheet* findLabelSheet(QStringView key);

// Where the n-th label (from 0) goes when the first is put at a position
// of the first page: a page from 0 and a position on it.
struct LabelPlace
{
    int page = 0;
    int position = 0;
};
LabelPlace labelPlace(const LabelSheet& sheet, int firstPosition, int index);

// Where the parts of a label stand inside it (millimetres from its top-left
// corner): the QR code at the left, the code and the device name beside
// it, the Code 128 symbol across the bottom.
struct LabelParts
{
    QRectF qr;
    QRectF codeText;
    QRectF nameText;
    QRectF code128;
};
LabelParts labelParts(QSizeF label);

} // namespace vok
