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

// Why a device code cannot be printed on a label, in Chinese; empty when
// it can: a control character in it, or a code that its QR code (or, for a
// code of printable ASCII, its Code 128 symbol) cannot hold.
QString labelCodeProblem(const QString& code);

// A code as a message shows it: control and direction characters escaped
// (\x07, U+202E), a long code cut after 40 characters with its length
// told, so that nothing reaches a terminal raw.
QString shownCode(const QString& code);

} // namespace vok
