#include "ui/RecordBrowser.h"

#include "db/DbError.h"
#include "db/RowRecord.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"
#include "ui/FieldExchange.h"
#include "ui/ImportDlg.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/QueryGroup.h"
#include "ui/RecordListView.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vok {

namespace {

// A list text read as a number: leading blanks, an optional sign, digits
// with an optional point and exponent; 0 when there is none. Read the same
// whatever the process locale.
float leadingNumber(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digit = [&text](qsizetype at) { return text[at] >= u'0' && text[at] <= u'9'; };
    while (i < n && text[i].isSpace())
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    for (; i < n && digit(i); ++i)
        ++digits;
    if (i < n && text[i] == u'.')
        for (++i; i < n && digit(i); ++i)
            ++digits;
    if (digits == 0)
        return 0;
    qsizetype end = i;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        if (j < n && digit(j)) {
            while (j < n && digit(j))
                ++j;
            end = j;
        }
    }
    return float(text.mid(start, end - start).toLatin1().toDouble());
}

// The table column a list column shows: by its name, or at its position.
int tableColumn(const BrowserDescription& d, int listColumn)
{
    const QStringView source = d.table->columns[size_t(listColumn)].source;
    const int at = source.isEmpty() ? listColumn : d.table->def->indexOf(source);
    return at >= 0 && at < int(d.table->def->columns.size()) ? at : -1;
}

// The object name of a command's button: what it does.
QString actionName(BrowserAction action)
{
    switch (action) {
    case BrowserAction::Modify:
        return QStringLiteral("modify");
    case BrowserAction::Delete:
        return QStringLiteral("delete");
    case BrowserAction::Print:
        return QStringLiteral("print");
    case BrowserAction::Help:
        return QStringLiteral("help");
    case BrowserAction::Exit:
    case BrowserAction::Close:
        return QStringLiteral("exit");
    case BrowserAction::Query:
        return QStringLiteral("query");
    case BrowserAction::Clear:
        return QStringLiteral("clear");
    }
    return QString();
}

bool isDateColumn(const BrowserDescription& d, int listColumn)
{
    const int at = tableColumn(d, listColumn);
    if (at < 0)
        return false;
    const ColumnKind kind = d.table->def->columns[size_t(at)].kind;
    return kind == ColumnKind::DateTime || kind == ColumnKind::Date;
}

} // namespace

RecordBrowser::RecordBrowser(const BrowserDescription& description, const FormContext& context,
                             QWidget* parent)
    : FormDialog(parent), m_d(description), m_context(context)
{
    setObjectName(m_d.objectName.toString());
    setWindowTitle(m_d.title.toString());
    for (const BrowserField& f : m_d.fields) {
        Value v;
        if (holds(f) != Holds::Text)
            v.number = m_d.table->rule(f.column).min;
        m_values.push_back(v);
    }
    buildForm();
    // Dialog units as the templates give them, in pixels of this font.
    resize(m_d.width * 7 / 4, m_d.height * 30 / 17);
    showFields();
    readWhenOpened([this] {
        refill();
        return true;
    });
}

RecordBrowser::~RecordBrowser() = default;

void RecordBrowser::buildForm()
{
    QPushButton* queryButton = nullptr;
    const std::vector<QPushButton*> buttons = makeCommands(queryButton);
    makeList();
    if (m_d.query) {
        m_query = new QueryGroup(*m_d.table, queryButton, this);
        m_query->acceptScannedCodes(*m_context.connection);
    }
    QGroupBox* details = makeDetails(buttons);

    QBoxLayout* layout =
        m_d.listBeside ? static_cast<QBoxLayout*>(new QHBoxLayout(this)) : new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    if (m_query)
        layout->addWidget(m_query);
    layout->addWidget(details, m_d.listBeside ? 1 : 0);
    orderTabs(buttons);
}

std::vector<QPushButton*> RecordBrowser::makeCommands(QPushButton*& queryButton)
{
    m_commands = new CommandTable(this);
    std::vector<QPushButton*> buttons;
    for (const BrowserCommand& c : m_d.commands) {
        QPushButton* b;
        if (c.action == BrowserAction::Help)
            b = m_commands->addHelp(c.caption.toString(), m_d.helpTopic.toString());
        else
            b = m_commands->add(c.id, actionName(c.action), c.caption.toString(),
                                c.menuText.toString(), [this, &c] { runCommand(c); });
        // A focused button takes Enter.
        b->setAutoDefault(true);
        if (c.id == m_d.defaultButton)
            b->setDefault(true);
        if (c.action == BrowserAction::Query)
            queryButton = b;
        else
            buttons.push_back(b);
    }
    if (m_d.menuOrder.empty())
        m_commands->noMenu();
    else
        m_commands->setMenuOrder({m_d.menuOrder.begin(), m_d.menuOrder.end()});
    return buttons;
}

void RecordBrowser::makeList()
{
    m_list = new RecordListView(m_d.table->listColumns(), this);
    m_list->setObjectName(QStringLiteral("list"));
    setColumnWidths();
    connect(m_list, &RecordListView::rowChosen, this, &RecordBrowser::onRowChosen);
    if (!m_d.menuOrder.empty())
        offerListCommands(*m_commands, *m_list, m_d.table->report, m_context.userName);
    // The movement browsers take their history from a file.
    if (!m_d.menuOrder.empty() && m_d.table->imported && m_d.table != &tables::device)
        offerImport(*m_commands, *m_d.table, m_context, this, [this] { refill(); });
}

QWidget* RecordBrowser::makeField(const BrowserField& f, QWidget* parent) const
{
    QWidget* edit;
    if (f.kind == BrowserField::Note) {
        auto* e = new QPlainTextEdit(parent);
        e->setReadOnly(true);
        e->setTabChangesFocus(true);
        edit = e;
    } else {
        auto* e = new QLineEdit(parent);
        if (f.kind == BrowserField::ReadOnly)
            showReadOnly(e);
        else if (holds(f) == Holds::Text)
            limitText(e, *m_d.table, f.column);
        if (f.tall)
            e->setMinimumHeight(e->sizeHint().height() * 3);
        edit = e;
    }
    // A date shows whole.
    if (isDateColumn(m_d, f.column))
        edit->setMinimumWidth(
            edit->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16);
    edit->setObjectName(f.name.toString());
    return edit;
}

QGroupBox* RecordBrowser::makeDetails(const std::vector<QPushButton*>& buttons)
{
    auto* details = new QGroupBox(QStringLiteral("明细"), this);
    details->setObjectName(QStringLiteral("detailGroup"));
    auto* grid = new QGridLayout;
    for (const BrowserField& f : m_d.fields) {
        QWidget* edit = makeField(f, details);
        m_edits.push_back(edit);
        auto* label = new QLabel(f.label.toString(), details);
        label->setBuddy(edit);
        grid->addWidget(label, f.row, f.gridColumn * 2, Qt::AlignLeft | Qt::AlignVCenter);
        // A tall edit spans the rows beside it.
        grid->addWidget(edit, f.row, f.gridColumn * 2 + 1, f.tall ? 4 : 1, 1);
        grid->setColumnStretch(f.gridColumn * 2 + 1, 1);
    }
    auto* buttonGrid = new QGridLayout;
    size_t b = 0;
    for (const BrowserCommand& c : m_d.commands) {
        if (c.action == BrowserAction::Query)
            continue;
        buttons[b]->setParent(details);
        buttonGrid->addWidget(buttons[b++], c.row, c.column);
    }
    QBoxLayout* detailLayout = m_d.buttonsBeside
                                   ? static_cast<QBoxLayout*>(new QHBoxLayout(details))
                                   : new QVBoxLayout(details);
    detailLayout->addLayout(grid, 1);
    if (m_d.buttonsBeside)
        buttonGrid->setRowStretch(buttonGrid->rowCount(), 1);
    detailLayout->addLayout(buttonGrid);
    return details;
}

void RecordBrowser::orderTabs(const std::vector<QPushButton*>& buttons)
{
    // List, query group, the detail fields column by column, the buttons.
    std::vector<QWidget*> order{m_list};
    if (m_query)
        order.insert(order.end(), {m_query->fieldCombo(), m_query->operatorCombo(),
                                   m_query->valueEdit(), m_query->queryButton()});
    std::vector<size_t> byPlace(m_d.fields.size());
    for (size_t i = 0; i < byPlace.size(); ++i)
        byPlace[i] = i;
    std::stable_sort(byPlace.begin(), byPlace.end(), [this](size_t a, size_t b) {
        const BrowserField& x = m_d.fields[a];
        const BrowserField& y = m_d.fields[b];
        return std::pair(x.gridColumn, x.row) < std::pair(y.gridColumn, y.row);
    });
    for (size_t i : byPlace)
        order.push_back(m_edits[i]);
    order.insert(order.end(), buttons.begin(), buttons.end());
    for (size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void RecordBrowser::setColumnWidths()
{
    const int n = int(m_d.table->columns.size());
    std::vector<int> shares(m_d.shares.begin(), m_d.shares.end());
    int denominator = m_d.shareDenominator;
    if (shares.empty()) {
        shares.assign(size_t(n), 1);
        denominator = n;
    }
    m_list->setColumnShares(shares, denominator);
    // Wide enough that each date shows whole in its share: the time is the
    // key of a row.
    int width = 0;
    for (int c = 0; c < n; ++c) {
        if (!isDateColumn(m_d, c))
            continue;
        const ColumnKind kind = m_d.table->def->columns[size_t(tableColumn(m_d, c))].kind;
        const QString sample = kind == ColumnKind::DateTime ? QStringLiteral("0000-00-00 00:00:00")
                                                            : QStringLiteral("0000-00-00");
        const int text = m_list->fontMetrics().horizontalAdvance(sample) + 16;
        width = std::max(width, text * denominator / shares[size_t(c)]);
    }
    if (width > 0)
        m_list->setMinimumWidth(width + 2 * m_list->frameWidth());
}

QWidget* RecordBrowser::field(QStringView name) const
{
    for (size_t i = 0; i < m_d.fields.size(); ++i)
        if (m_d.fields[i].name == name)
            return m_edits[i];
    return nullptr;
}

void RecordBrowser::runCommand(const BrowserCommand& command)
{
    switch (command.action) {
    case BrowserAction::Modify:
        onModify();
        break;
    case BrowserAction::Delete:
        onDelete();
        break;
    case BrowserAction::Print:
        onPrint();
        break;
    case BrowserAction::Query:
        onQuery();
        break;
    case BrowserAction::Clear:
        onClear();
        break;
    case BrowserAction::Exit:
        reject();
        break;
    case BrowserAction::Close:
        accept();
        break;
    case BrowserAction::Help:
        break;
    }
}

void RecordBrowser::fillList(const TableRows& rows)
{
    if (!m_context.connection) {
        m_list->records()->clear();
        return;
    }
    m_list->fill(*m_context.connection, rows);
}

void RecordBrowser::refill()
{
    fillList(TableRows{m_d.table->name()});
}

TableAccess RecordBrowser::access() const
{
    return TableAccess(*m_context.connection, *m_d.table, m_context.classNumber);
}

bool RecordBrowser::takeFields()
{
    FieldExchange dx(this);
    for (size_t i = 0; i < m_d.fields.size(); ++i) {
        const BrowserField& f = m_d.fields[i];
        Value& v = m_values[i];
        QWidget* edit = m_edits[i];
        if (f.kind == BrowserField::Note) {
            dx.text(static_cast<QPlainTextEdit*>(edit), v.text);
            continue;
        }
        auto* line = static_cast<QLineEdit*>(edit);
        switch (holds(f)) {
        case Holds::Text:
            if (f.kind == BrowserField::Edit)
                dx.text(line, v.text, *m_d.table, f.column);
            else
                dx.text(line, v.text);
            break;
        case Holds::Number: {
            float number = float(v.number);
            if (dx.number(line, number, *m_d.table, f.column))
                v.number = number;
            break;
        }
        case Holds::Integer: {
            int number = int(v.number);
            if (dx.integer(line, number, *m_d.table, f.column, FieldExchange::typeAnIntegerText()))
                v.number = number;
            break;
        }
        }
    }
    if (m_query) {
        for (QueryControl c : m_d.queryOrder) {
            switch (c) {
            case QueryControl::Field:
                dx.text(m_query->fieldCombo(), m_queryField);
                break;
            case QueryControl::Operator:
                dx.text(m_query->operatorCombo(), m_queryOperator);
                break;
            case QueryControl::Value:
                dx.text(m_query->valueEdit(), m_queryValue);
                break;
            }
        }
    }
    return dx.ok();
}

void RecordBrowser::showFields()
{
    for (size_t i = 0; i < m_d.fields.size(); ++i) {
        const Value& v = m_values[i];
        QWidget* edit = m_edits[i];
        if (m_d.fields[i].kind == BrowserField::Note) {
            static_cast<QPlainTextEdit*>(edit)->setPlainText(v.text);
            continue;
        }
        auto* line = static_cast<QLineEdit*>(edit);
        switch (holds(m_d.fields[i])) {
        case Holds::Number:
            showNumber(line, v.number);
            break;
        case Holds::Integer:
            line->setText(QString::number(int(v.number)));
            break;
        case Holds::Text:
            line->setText(v.text);
        }
    }
}

void RecordBrowser::onRowChosen(int row)
{
    const RecordListModel* records = m_list->records();
    if (row < 0 || row >= records->rowCount())
        return;
    for (size_t i = 0; i < m_d.fields.size(); ++i) {
        const BrowserField& f = m_d.fields[i];
        const QString text = records->text(row, f.column);
        Value& v = m_values[i];
        switch (holds(f)) {
        case Holds::Number:
            v.number = leadingNumber(text);
            break;
        case Holds::Integer:
            v.number = leadingInteger(text);
            break;
        case Holds::Text:
            v.text = text;
        }
    }
    // The row as listed, for Modify to find it again unchanged.
    m_rowId = records->rowId(row);
    if (m_d.table->def->hasRowRecord) {
        m_listed = std::make_unique<RowRecord>(*m_d.table->def);
        const int n = std::min(m_listed->size(), records->columnCount());
        for (int c = 0; c < n; ++c)
            m_listed->setFromDatabase(c, records->value(row, c));
    }
    showFields();
}

RecordBrowser::Holds RecordBrowser::holds(const BrowserField& field) const
{
    if (field.kind != BrowserField::Edit)
        return Holds::Text;
    switch (m_d.table->rule(field.column).kind) {
    case FieldRule::Number:
    case FieldRule::Figure:
    case FieldRule::AnyNumber:
        return Holds::Number;
    case FieldRule::Integer:
        return Holds::Integer;
    default:
        return Holds::Text;
    }
}

QString RecordBrowser::fieldText(size_t index) const
{
    if (holds(m_d.fields[index]) != Holds::Text)
        return QString::number(m_values[index].number);
    return m_values[index].text;
}

TableRows RecordBrowser::keyRows() const
{
    std::vector<int> columns;
    QStringList values;
    for (int k : m_d.keyFields) {
        columns.push_back(m_d.fields[size_t(k)].column);
        values << fieldText(size_t(k));
    }
    return access().matching(columns, values);
}

void RecordBrowser::storeFields(RowRecord& record) const
{
    for (size_t i = 0; i < m_d.fields.size(); ++i) {
        const BrowserField& f = m_d.fields[i];
        switch (holds(f)) {
        case Holds::Number:
            record.setNumber(f.column, float(m_values[i].number));
            break;
        case Holds::Integer:
            record.setText(f.column, QString::asprintf("%d", int(m_values[i].number)));
            break;
        case Holds::Text:
            record.setText(f.column, m_values[i].text);
        }
    }
}

QString RecordBrowser::recordGoneText()
{
    return QStringLiteral("这条记录已不存在，可能已被其他用户删除。列表已重新读取。");
}

QString RecordBrowser::recordChangedText()
{
    return QStringLiteral("这条记录在列出之后已被其他用户修改，本次修改没有保存。"
                          "列表已重新读取，请重新选择这条记录。");
}

void RecordBrowser::tellAndRefill(const QString& text)
{
    Messages::notice(text, this, QString(), Messages::Icon::Exclamation);
    refill();
}

void RecordBrowser::finishChange(QStringView notice, QStringView logText)
{
    Messages::show(notice.toString(), QString(), Messages::Icon::None, Messages::Buttons::Ok, this);
    if (m_context.log)
        writeLog(*m_context.log, logText.toString(), this);
    refill();
}

bool RecordBrowser::tellUnlessDone(RowOutcome outcome)
{
    if (outcome == RowOutcome::Done)
        return false;
    tellAndRefill(outcome == RowOutcome::Gone ? recordGoneText() : recordChangedText());
    return true;
}

void RecordBrowser::onModify()
{
    if (!takeFields())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::OneLine, this))
        return;
    try {
        // The key of the row, narrowed to the row that was clicked; only the
        // fields that differ from the row as read are written.
        const RowOutcome outcome =
            access().update(keyRows(), {m_rowId, m_listed.get()},
                            [this](RowRecord& record) { storeFields(record); });
        if (tellUnlessDone(outcome))
            return;
    } catch (const DbError& e) {
        showComError(e, this);
        return;
    }
    finishChange(m_d.modifyDone, m_d.modifyLog);
}

void RecordBrowser::onDelete()
{
    if (m_d.deleteTakesFields && !takeFields())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::OneLine, this))
        return;
    try {
        const TableAccess table = access();
        const TableRows rows = keyRows();
        const qint64 count = table.count(rows);
        if (count == 0) {
            tellAndRefill(recordGoneText());
            return;
        }
        // All rows of the key go: with several, the user is asked first.
        if (count > 1) {
            const QString n = QString::number(count);
            const QString format = m_d.deleteQuestion.toString();
            const size_t keys = m_d.keyFields.size();
            const QString question = keys >= 2 ? format.arg(n, fieldText(size_t(m_d.keyFields[0])),
                                                            fieldText(size_t(m_d.keyFields[1])))
                                               : format.arg(n, fieldText(size_t(m_d.keyFields[0])));
            if (Messages::show(question, QString(), Messages::Icon::Stop,
                               Messages::Buttons::OkCancel, this) != Messages::Answer::Ok)
                return;
        }
        if (tellUnlessDone(table.remove(rows, {m_rowId, m_listed.get()})))
            return;
    } catch (const DbError& e) {
        showComError(e, this);
        return;
    }
    // The fields showed the row that is gone now.
    clearFields();
    finishChange(m_d.deleteDone, m_d.deleteLog);
}

void RecordBrowser::clearFields()
{
    for (size_t i = 0; i < m_d.fields.size(); ++i) {
        m_values[i] = Value();
        if (m_d.fields[i].kind == BrowserField::Note)
            static_cast<QPlainTextEdit*>(m_edits[i])->clear();
        else
            static_cast<QLineEdit*>(m_edits[i])->clear();
    }
    m_rowId = 0;
    m_listed.reset();
}

void RecordBrowser::onQuery()
{
    // A detail field that fails its check stops the query too: its message
    // is shown and the list stays as it is.
    if (!takeFields())
        return;
    if (m_context.connection)
        m_query->fillList(*m_list, *m_context.connection);
}

void RecordBrowser::onPrint()
{
    if (m_d.table->report)
        printTableReport(*m_list->records(), *m_d.table->report, m_context.userName, this);
}

void RecordBrowser::onClear()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::OneLine, this))
        return;
    if (!runChange(this, [this] { access().clear(); }))
        return;
    refill();
}

void RecordBrowser::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && m_d.defaultButton == 0 &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // No button has the focus (a focused button takes Enter itself).
        if (takeFields())
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace vok
