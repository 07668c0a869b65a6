#include "ui/FieldExchange.h"

#include "db/Gbk.h"
#include "db/Schema.h"
#include "ui/MessageService.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>
#include <QValidator>

#include <algorithm>
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
    if (t.isEmpty() || !re.match(t.toString()).hasMatch())
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
    if (t.isEmpty() || !re.match(t.toString()).hasMatch())
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

FieldExchange::FieldExchange(QWidget* form) : m_form(form) {}

int FieldExchange::maxBytes(const TableDef& table, int column)
{
    return table.columns.at(size_t(column)).capacity - 1;
}

QString FieldExchange::notANumberText()
{
    return QStringLiteral("请键入一个数。");
}

QString FieldExchange::rangeText(double min, double max)
{
    return QStringLiteral("“请填入一个在%1和%2之间的数字。”")
        .arg(FieldText::number(min), FieldText::number(max));
}

QString FieldExchange::notAnIntegerText()
{
    return QStringLiteral("“请填入一个正整数。”");
}

QString FieldExchange::typeAnIntegerText()
{
    return QStringLiteral("请键入一个整数。");
}

QString FieldExchange::integerRangeText(int min, int max)
{
    return QStringLiteral("“请填入一个在%1和%2之间的整数。”").arg(min).arg(max);
}

QString FieldExchange::tooLongText(int maxBytes)
{
    return QStringLiteral("“请填入不多于%1个的字符。”").arg(maxBytes);
}

QString FieldExchange::notGbkText(const QString& character)
{
    return QStringLiteral("字符“%1”无法保存到数据库中，请改用其他字符。").arg(character);
}

bool FieldExchange::fail(QWidget* control, const QString& message)
{
    m_ok = false;
    m_failed = control;
    Messages::notice(message, m_form, QString(), Messages::Icon::Exclamation);
    if (control) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->selectAll();
        else if (auto* text = qobject_cast<QPlainTextEdit*>(control))
            text->selectAll();
        else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit())
            combo->lineEdit()->selectAll();
    }
    return false;
}

QString FieldExchange::controlCharacterText(QChar character)
{
    return QStringLiteral("“文字中有不能保存的控制字符（U+%1），请删除它。”")
        .arg(
            QString::number(character.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

bool FieldExchange::checkText(QWidget* control, const QString& text, int maxBytes)
{
    // NUL and the other control characters never reach the database (one
    // engine would cut the text there); a multi-line edit keeps its breaks.
    const bool multiLine = qobject_cast<QPlainTextEdit*>(control) != nullptr;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control &&
            !(multiLine && (c == QLatin1Char('\n') || c == QLatin1Char('\r'))))
            return fail(control, controlCharacterText(c));
    }
    const QString bad = firstNonGbkCharacter(text);
    if (!bad.isEmpty())
        return fail(control, notGbkText(bad));
    if (maxBytes >= 0 && gbkLength(text) > maxBytes)
        return fail(control, tooLongText(maxBytes));
    return true;
}

bool FieldExchange::text(QLineEdit* edit, QString& out, int maxBytes)
{
    if (!proceed())
        return false;
    const QString t = edit->text();
    if (!checkText(edit, t, maxBytes))
        return false;
    out = t;
    return true;
}

bool FieldExchange::text(QComboBox* combo, QString& out, int maxBytes)
{
    if (!proceed())
        return false;
    const QString t = combo->currentText();
    if (!checkText(combo, t, maxBytes))
        return false;
    out = t;
    return true;
}

bool FieldExchange::text(QPlainTextEdit* edit, QString& out, int maxBytes)
{
    if (!proceed())
        return false;
    const QString t = edit->toPlainText();
    if (!checkText(edit, t, maxBytes))
        return false;
    out = t;
    return true;
}

bool FieldExchange::text(QLineEdit* edit, QString& out, const TableDef& table, int column)
{
    return text(edit, out, maxBytes(table, column));
}

bool FieldExchange::text(QComboBox* combo, QString& out, const TableDef& table, int column)
{
    return text(combo, out, maxBytes(table, column));
}

bool FieldExchange::text(QPlainTextEdit* edit, QString& out, const TableDef& table, int column)
{
    return text(edit, out, maxBytes(table, column));
}

bool FieldExchange::number(QLineEdit* edit, float& out)
{
    if (!proceed())
        return false;
    const auto v = FieldText::parseNumber(edit->text());
    if (!v || !std::isfinite(float(*v)))
        return fail(edit, notANumberText());
    out = float(*v);
    return true;
}

bool FieldExchange::number(QLineEdit* edit, float& out, double min, double max)
{
    float v = 0;
    if (!number(edit, v))
        return false;
    // The value is held single-precision, so that is what is compared.
    if (double(v) < double(float(min)) || double(v) > double(float(max)))
        return fail(edit, rangeText(min, max));
    out = v;
    return true;
}

bool FieldExchange::stockFigure(QLineEdit* edit, float& out, int min)
{
    float v = 0;
    if (!number(edit, v))
        return false;
    if (v < float(min))
        return fail(edit, rangeText(min, 10000));
    out = v;
    return true;
}

bool FieldExchange::integer(QLineEdit* edit, int& out, int min, int max,
                            const QString& notAnInteger)
{
    if (!proceed())
        return false;
    const auto v = FieldText::parseInteger(edit->text());
    if (!v)
        return fail(edit, notAnInteger);
    if (*v < min || *v > max)
        return fail(edit, integerRangeText(min, max));
    out = int(*v);
    return true;
}

bool FieldExchange::numberText(QLineEdit* edit, QString& out, const TableDef& table, int column)
{
    float v = 0;
    if (!number(edit, v))
        return false;
    const QString t = FieldText::listNumber(v);
    if (t.size() > maxBytes(table, column))
        return fail(edit, tooLargeText(edit->text().trimmed()));
    out = t;
    return true;
}

QString FieldExchange::tooLargeText(const QString& number)
{
    return QStringLiteral("数值 %1 太大，无法保存到数据库中。").arg(number);
}

namespace {

// Keeps the text after the cursor and cuts what was just typed or pasted
// before it, so that the whole fits the limit.
class GbkLimit : public QValidator
{
public:
    GbkLimit(QLineEdit* edit, int maxBytes) : QValidator(edit), m_edit(edit), m_max(maxBytes) {}

    State validate(QString& input, int& pos) const override
    {
        if (gbkLength(input) <= m_max)
            return Acceptable;
        // No undo history: the program set the text; leave it whole.
        if (!m_edit->isUndoAvailable())
            return Intermediate;
        const QString after = input.mid(pos);
        const int room = m_max - gbkLength(after);
        if (room < 0)
            return Intermediate;
        const QString before = gbkCut(input.left(pos), room);
        input = before + after;
        pos = int(before.size());
        return Acceptable;
    }

private:
    QLineEdit* m_edit;
    int m_max;
};

// A document has no validator: what a change inserted past the limit is
// taken out again at once, inside the change's own undo step.
class GbkTextLimit : public QObject
{
public:
    GbkTextLimit(QPlainTextEdit* edit, int maxBytes) : QObject(edit), m_edit(edit), m_max(maxBytes)
    {
        connect(edit->document(), &QTextDocument::contentsChange, this, &GbkTextLimit::changed);
    }

private:
    void changed(int position, int removed, int added)
    {
        Q_UNUSED(removed);
        QTextDocument* doc = m_edit->document();
        if (m_cutting || added <= 0 || !doc->isUndoAvailable())
            return; // nothing inserted, or the program set the text
        const QString text = doc->toPlainText();
        const int length = gbkLength(text);
        if (length <= m_max)
            return;
        // The document reports its closing paragraph mark in a change
        // that reaches its end; the text has none.
        const int end = std::min(position + added, int(text.size()));
        const QString inserted = text.mid(position, end - position);
        const int room = std::max(0, m_max - (length - gbkLength(inserted)));
        QTextCursor cursor(doc);
        cursor.setPosition(position + int(gbkCut(inserted, room).size()));
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        m_cutting = true;
        cursor.joinPreviousEditBlock();
        cursor.removeSelectedText();
        cursor.endEditBlock();
        m_cutting = false;
    }

    QPlainTextEdit* m_edit;
    int m_max;
    bool m_cutting = false;
};

} // namespace

void limitText(QLineEdit* edit, int maxBytes)
{
    edit->setValidator(new GbkLimit(edit, maxBytes));
}

void limitText(QLineEdit* edit, const TableDef& table, int column)
{
    limitText(edit, FieldExchange::maxBytes(table, column));
}

void limitText(QComboBox* combo, int maxBytes)
{
    if (QLineEdit* edit = combo->lineEdit())
        limitText(edit, maxBytes);
}

void limitText(QComboBox* combo, const TableDef& table, int column)
{
    limitText(combo, FieldExchange::maxBytes(table, column));
}

void limitText(QPlainTextEdit* edit, int maxBytes)
{
    new GbkTextLimit(edit, maxBytes);
}

void limitText(QPlainTextEdit* edit, const TableDef& table, int column)
{
    limitText(edit, FieldExchange::maxBytes(table, column));
}

void showNumber(QLineEdit* edit, double value)
{
    edit->setText(FieldText::number(value));
}

} // namespace vok
