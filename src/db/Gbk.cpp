#include "db/Gbk.h"

#include <QStringEncoder>

#include <array>
#include <optional>

namespace vok {

namespace {

// GBK length of one code point, or 0 when GBK cannot encode it.
int codePointLength(char32_t cp)
{
    if (cp < 0x80)
        return 1;
    // Every encodable non-ASCII character is two bytes, except the euro
    // sign, which code page 936 puts at 0x80.
    if (cp == 0x20AC)
        return 1;
    if (cp > 0xFFFF)
        return 0;
    // Each character is asked of the encoder once: long texts (an import of
    // a million rows) repeat the same few thousand characters.
    thread_local std::array<signed char, 0x10000> known = [] {
        std::array<signed char, 0x10000> a;
        a.fill(-1);
        return a;
    }();
    signed char& length = known[cp];
    if (length >= 0)
        return length;
    // An encoder that has met a character it cannot encode is not trusted
    // again (this Qt's GBK encoder refuses everything after it, reset or
    // not): the next character gets a fresh one.
    thread_local std::optional<QStringEncoder> encoder;
    if (!encoder)
        encoder.emplace("GBK", QStringConverter::Flag::Stateless);
    const QChar ch(static_cast<char16_t>(cp));
    const QByteArray bytes = encoder->encode(QStringView(&ch, 1));
    if (encoder->hasError()) {
        encoder.reset();
        length = 0;
    } else {
        // GB18030 four-byte sequences are outside GBK.
        length = bytes.size() == 2 ? 2 : 0;
    }
    return length;
}

template <typename F> void forEachCodePoint(QStringView text, F&& f)
{
    for (qsizetype i = 0; i < text.size();) {
        char32_t cp = text[i].unicode();
        qsizetype len = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
            len = 2;
        }
        if (!f(cp, i, len))
            return;
        i += len;
    }
}

bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

int gbkLength(QStringView text)
{
    if (isAscii(text))
        return int(text.size());
    int total = 0;
    forEachCodePoint(text, [&](char32_t cp, qsizetype, qsizetype) {
        const int l = codePointLength(cp);
        total += l == 0 ? 1 : l;
        return true;
    });
    return total;
}

QString firstNonGbkCharacter(QStringView text)
{
    QString bad;
    forEachCodePoint(text, [&](char32_t cp, qsizetype i, qsizetype len) {
        if (codePointLength(cp) == 0) {
            bad = text.mid(i, len).toString();
            return false;
        }
        return true;
    });
    return bad;
}

QString gbkCut(const QString& text, int maxBytes)
{
    // A UTF-16 unit never takes more than two GBK bytes.
    if (text.size() * 2 <= maxBytes || (text.size() <= maxBytes && isAscii(text)))
        return text;
    int total = 0;
    qsizetype end = text.size();
    forEachCodePoint(text, [&](char32_t cp, qsizetype i, qsizetype) {
        const int l = codePointLength(cp);
        total += l == 0 ? 1 : l;
        if (total > maxBytes) {
            end = i;
            return false;
        }
        return true;
    });
    return text.left(end);
}

} // namespace vok
