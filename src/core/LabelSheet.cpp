#include "core/LabelSheet.h"

#include <algorithm>

namespace vok {

QRectF LabelSheet::cell(int position) const
{
    const int row = position / columns;
    const int column = position % columns;
    return QRectF(origin + QPointF(column * label.width(), row * label.height()), label);
}

namespace labelSheets {
// 3 × 70 mm fill the A4 width; 8 × 37 mm leave half a millimetre above and
// below.
const LabelSheet a4{u"a4",
                    u"A4 标签纸（每页 3 × 8 张，70 × 37 毫米）",
                    QSizeF(210, 297),
                    QSizeF(70, 37),
                    3,
                    8,
                    QPointF(0, 0.5)};
const LabelSheet single{
    u"label",     u"标签打印机（每页 1 张，50 × 30 毫米）", QSizeF(50, 30), QSizeF(50, 30), 1, 1,
    QPointF(0, 0)};
} // namespace labelSheets

std::span<const LabelSheet* const> allLabelSheets()
{
    static const LabelSheet* const all[] = {&labelSheets::a4, &labelSheets::single};
    return all;
}

const LabelSheet* findLabelSheet(QStringView key)
{
    for (const LabelSheet* s : allLabelSheets()) {
        if (s->key == key)
            return s;
    }
    return nullptr;
}

LabelPlace labelPlace(const LabelSheet& sheet, int firstPosition, int index)
{
    const int first = std::clamp(firstPosition, 0, sheet.perPage() - 1);
    const int n = first + index;
    return {n / sheet.perPage(), n % sheet.perPage()};
}

LabelParts labelParts(QSizeF label)
{
    const qreal margin = 2;
    const qreal gap = 1.5;
    const qreal band = label.height() * 0.28;
    const qreal top = label.height() - 2 * margin - band - gap;
    const qreal textLeft = margin + top + gap;
    const qreal textWidth = label.width() - textLeft - margin;
    LabelParts p;
    p.qr = QRectF(margin, margin, top, top);
    p.codeText = QRectF(textLeft, margin, textWidth, top * 0.4);
    p.nameText = QRectF(textLeft, margin + top * 0.4, textWidth, top * 0.6);
    p.code128 = QRectF(margin, label.height() - margin - band, label.width() - 2 * margin, band);
    return p;
}

} // namespace vok
