#include "ui/FieldExchange.h"

#include "core/Tables.h"
#include "db/Gbk.h"
#include "ui/MessageService.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QValidator>

#include <algorithm>
#include <cmath>

namespace vok {

FieldExchange::FieldExchange(QWidget* form) : m_form(form) {}

QString FieldExchange::notANumberText()
{
    return FieldCheck::notANumberText();
}

QString FieldExchange::rangeText(double min, double max)
{
    return FieldCheck::rangeText(min, max);
}

QString FieldExchange::notAnIntegerText()
{
    return FieldCheck::notAnIntegerText();
}

QString FieldExchange::typeAnIntegerText()
{
    return FieldCheck::typeAnIntegerText();
}

QString FieldExchange::integerRangeText(int min, int max)
{
    return FieldCheck::integerRangeText(min, max);
}

QString FieldExchange::tooLongText(int maxBytes)
{
    return FieldCheck::tooLongText(maxBytes);
}

QString FieldExchange::notGbkText(const QString& character)
{
    return FieldCheck::notGbkText(character);
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
    return FieldCheck::controlCharacterText(character);
}

bool FieldExchange::checkText(QWidget* control, const QString& text, int maxBytes)
{
    const bool multiLine = qobject_cast<QPlainTextEdit*>(control) != nullptr;
    const QString problem = FieldCheck::textProblem(text, maxBytes, multiLine);
    return problem.isEmpty() || fail(control, problem);
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

bool FieldExchange::text(QLineEdit* edit, QString& out, const TableDescription& table, int column)
{
    return text(edit, out, table.maxBytes(column));
}

bool FieldExchange::text(QComboBox* combo, QString& out, const TableDescription& table, int column)
{
    return text(combo, out, table.maxBytes(column));
}

bool FieldExchange::text(QPlainTextEdit* edit, QString& out, const TableDescription& table,
                         int column)
{
    return text(edit, out, table.maxBytes(column));
}

bool FieldExchange::number(QLineEdit* edit, float& out)
{
    if (!proceed())
        return false;
    const QString problem = FieldCheck::numberProblem(edit->text(), out);
    return problem.isEmpty() || fail(edit, problem);
}

bool FieldExchange::number(QLineEdit* edit, float& out, const TableDescription& table, int column)
{
    if (!proceed())
        return false;
    const QString problem = FieldCheck::numberProblem(edit->text(), out, table.rule(column));
    return problem.isEmpty() || fail(edit, problem);
}

bool FieldExchange::stockFigure(QLineEdit* edit, float& out, int min)
{
    if (!proceed())
        return false;
    const QString problem = FieldCheck::stockFigureProblem(edit->text(), out, min);
    return problem.isEmpty() || fail(edit, problem);
}

bool FieldExchange::integer(QLineEdit* edit, int& out, const TableDescription& table, int column,
                            const QString& notAnInteger)
{
    if (!proceed())
        return false;
    const FieldRule rule = table.rule(column);
    const QString problem =
        FieldCheck::integerProblem(edit->text(), out, int(rule.min), int(rule.max), notAnInteger);
    return problem.isEmpty() || fail(edit, problem);
}

bool FieldExchange::numberText(QLineEdit* edit, QString& out, const TableDescription& table,
                               int column)
{
    if (!proceed())
        return false;
    const QString problem = FieldCheck::numberTextProblem(edit->text(), out, table, column);
    return problem.isEmpty() || fail(edit, problem);
}

QString FieldExchange::tooLargeText(const QString& number)
{
    return FieldCheck::tooLargeText(number);
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

void limitText(QLineEdit* edit, const TableDescription& table, int column)
{
    limitText(edit, table.maxBytes(column));
}

void limitText(QComboBox* combo, int maxBytes)
{
    if (QLineEdit* edit = combo->lineEdit())
        limitText(edit, maxBytes);
}

void limitText(QComboBox* combo, const TableDescription& table, int column)
{
    limitText(combo, table.maxBytes(column));
}

void limitText(QPlainTextEdit* edit, int maxBytes)
{
    new GbkTextLimit(edit, maxBytes);
}

void limitText(QPlainTextEdit* edit, const TableDescription& table, int column)
{
    limitText(edit, table.maxBytes(column));
}

void showNumber(QLineEdit* edit, double value)
{
    edit->setText(FieldText::number(value));
}

} // namespace vok
