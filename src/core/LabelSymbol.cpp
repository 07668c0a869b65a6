#include "core/LabelSymbol.h"

#include <memory>
#include <zint.h>

namespace vok {

namespace {

struct SymbolDeleter
{
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};

bool isPrintableAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

} // namespace

LabelSymbol encodeSymbol(SymbolKind kind, const QString& text)
{
    LabelSymbol result;
    if (text.isEmpty()) {
        result.problem = QStringLiteral("设备号为空，不能生成条码。");
        return result;
    }
    if (kind == SymbolKind::Code128 && !isPrintableAscii(text)) {
        result.problem =
            QStringLiteral("设备号“%1”含有字母、数字和常用符号以外的字符，不能生成一维条码。")
                .arg(shownCode(text));
        return result;
    }
    std::unique_ptr<zint_symbol, SymbolDeleter> symbol(ZBarcode_Create());
    symbol->symbology = kind == SymbolKind::Code128 ? BARCODE_CODE128 : BARCODE_QRCODE;
    symbol->input_mode = UNICODE_MODE;
    symbol->show_hrt = 0;
    symbol->output_options |= BARCODE_NO_QUIET_ZONES;
    const QByteArray utf8 = text.toUtf8();
    const int rc = ZBarcode_Encode_and_Buffer_Vector(
        symbol.get(), reinterpret_cast<const unsigned char*>(utf8.constData()), int(utf8.size()),
        0);
    if (rc >= ZINT_ERROR || !symbol->vector || symbol->vector->width <= 0) {
        result.problem = QStringLiteral("设备号“%1”不能生成条码：%2")
                             .arg(shownCode(text), QString::fromLatin1(symbol->errtxt));
        return result;
    }
    // The vector's units are scaled; the symbol's own width is in modules.
    const qreal unit = qreal(symbol->width) / symbol->vector->width;
    result.size = QSizeF(symbol->vector->width * unit, symbol->vector->height * unit);
    for (const zint_vector_rect* r = symbol->vector->rectangles; r; r = r->next) {
        if (r->colour == -1)
            result.bars << QRectF(r->x * unit, r->y * unit, r->width * unit, r->height * unit);
    }
    return result;
}

QString shownCode(const QString& code)
{
    constexpr qsizetype kShown = 40;
    QString out;
    for (qsizetype i = 0; i < code.size() && i < kShown; ++i) {
        const char16_t c = code.at(i).unicode();
        if (c < 0x20 || c == 0x7f)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if ((c >= 0x80 && c < 0xa0) || (c >= 0x200b && c <= 0x200f) ||
                 (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0xfeff)
            out += QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += QChar(c);
    }
    if (code.size() > kShown)
        out += QStringLiteral("…（共%1个字符）").arg(code.size());
    return out;
}

QString labelCodeProblem(const QString& code)
{
    for (const QChar c : code)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("设备号“%1”含有控制字符，不能打印标签。").arg(shownCode(code));
    for (const SymbolKind kind : {SymbolKind::Qr, SymbolKind::Code128}) {
        if (kind == SymbolKind::Code128 && !isPrintableAscii(code))
            continue;
        if (const LabelSymbol symbol = encodeSymbol(kind, code); !symbol.isValid())
            return symbol.problem;
    }
    return QString();
}

} // namespace vok
