#include "core/FieldCheck.h"

#include "core/Tables.h"
#include "db/Gbk.h"

#include <QRegularExpression>

#include <cmath>

namespace vok {

namespace FieldText {

namespace {

// The blanks printf-style scanning skips around a number.
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n') || c == QLatin1Char('\v') || c == QLatin1Char('\f');
}

QStringView trimBlanks(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text.at(b)))
        ++b;
    while (e > b && isBlank(text.at(e - 1)))
        --e;
    return text.mid(b, e - b);
}

} // namespace

std::optional<double> parseNumber(QStringView text)
{
    static const QRegularExpression re(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QStringView t = trimBlanks(text);
    if (t.isEmpty() || !re.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<qint64> parseInteger(QStringView text)
{
    static const QRegularExpression re(QStringLiteral("^[+-]?\\d+$"));
    const QStringView t = trimBlanks(text);
    if (t.isEmpty() || !re.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QString number(double value)
{
    return QString::asprintf("%.*g", 6, value);
}

QString listNumber(double value)
{
    return QString::asprintf("%f", value);
}

} // namespace FieldText

namespace FieldCheck {

QString textProblem(const QString& text, int maxBytes, bool multiLine)
{
    // NUL and the other control characters never reach the database (one
    // engine would cut the text there); a multi-line field keeps its breaks.
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control &&
            !(multiLine && (c == QLatin1Char('\n') || c == QLatin1Char('\r'))))
            return controlCharacterText(c);
    }
    const QString bad = firstNonGbkCharacter(text);
    if (!bad.isEmpty())
        return notGbkText(bad);
    if (maxBytes >= 0 && gbkLength(text) > maxBytes)
        return tooLongText(maxBytes);
    return {};
}

QString numberProblem(QStringView text, float& out)
{
    const auto v = FieldText::parseNumber(text);
    if (!v || !std::isfinite(float(*v)))
        return notANumberText();
    out = float(*v);
    return {};
}

QString numberProblem(QStringView text, float& out, double min, double max)
{
    float v = 0;
    if (QString problem = numberProblem(text, v); !problem.isEmpty())
        return problem;
    // The value is held single-precision, so that is what is compared.
    if (double(v) < double(float(min)) || double(v) > double(float(max)))
        return rangeText(min, max);
    out = v;
    return {};
}

QString stockFigureProblem(QStringView text, float& out, int min)
{
    float v = 0;
    if (QString problem = numberProblem(text, v); !problem.isEmpty())
        return problem;
    if (v < float(min))
        return atLeastText(min);
    out = v;
    return {};
}

QString numberProblem(QStringView text, float& out, const FieldRule& rule)
{
    switch (rule.kind) {
    case FieldRule::Number:
        return numberProblem(text, out, rule.min, rule.max);
    case FieldRule::Figure:
        return stockFigureProblem(text, out, int(rule.min));
    default:
        return numberProblem(text, out);
    }
}

QString integerProblem(QStringView text, int& out, int min, int max, const QString& notAnInteger)
{
    const auto v = FieldText::parseInteger(text);
    if (!v)
        return notAnInteger;
    if (*v < min || *v > max)
        return integerRangeText(min, max);
    out = int(*v);
    return {};
}

QString numberTextProblem(QStringView text, QString& out, const TableDescription& table, int column)
{
    float v = 0;
    if (QString problem = numberProblem(text, v); !problem.isEmpty())
        return problem;
    const QString t = FieldText::listNumber(v);
    if (t.size() > table.maxBytes(column))
        return tooLargeText(text.trimmed().toString());
    out = t;
    return {};
}

QString notANumberText()
{
    return QStringLiteral("请键入一个数。");
}

QString rangeText(double min, double max)
{
    return QStringLiteral("“请填入一个在%1和%2之间的数字。”")
        .arg(FieldText::number(min), FieldText::number(max));
}

QString atLeastText(double min)
{
    return QStringLiteral("“请填入一个不小于%1的数字。”").arg(FieldText::number(min));
}

QString notAnIntegerText()
{
    return QStringLiteral("“请填入一个正整数。”");
}

QString typeAnIntegerText()
{
    return QStringLiteral("请键入一个整数。");
}

QString integerRangeText(int min, int max)
{
    return QStringLiteral("“请填入一个在%1和%2之间的整数。”").arg(min).arg(max);
}

QString tooLongText(int maxBytes)
{
    return QStringLiteral("“请填入不多于%1个的字符。”").arg(maxBytes);
}

QString notGbkText(const QString& character)
{
    return QStringLiteral("字符“%1”无法保存到数据库中，请改用其他字符。").arg(character);
}

QString tooLargeText(const QString& number)
{
    return QStringLiteral("数值 %1 太大，无法保存到数据库中。").arg(number);
}

QString controlCharacterText(QChar character)
{
    return QStringLiteral("“文字中有不能保存的控制字符（U+%1），请删除它。”")
        .arg(
            QString::number(character.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

} // namespace FieldCheck

} // namespace vok
