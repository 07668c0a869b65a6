#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

namespace vok {

// The two symbols a device label carries.
enum class SymbolKind
{
    Code128,
    Qr
};

// A barcode symbol as zint lays it out: its dark modules as rectangles in
// the symbol's own units (one unit a module wide), without quiet zones.
struct LabelSymbol
{
    QSizeF size;
    QList<QRectF> bars;
    // Why the text could not be encoded, in Chinese; empty when it was.
    QString problem;

    bool isValid() const { return problem.isEmpty() && !bars.isEmpty(); }
};

// Encodes a text (a device code) as a symbol. Code 128 takes printable
// ASCII only; the QR code takes any text (as UTF-8).
LabelSymbol encodeSymbol(SymbolKind kind, const QString& text);

} // namespace vok
