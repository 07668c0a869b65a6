#include "stock/StocktakeDlg.h"

#include "core/Clock.h"
#include "core/FieldCheck.h"
#include "core/Stocktake.h"
#include "core/TableReport.h"
#include "db/DbError.h"
#include "db/RowRecord.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DeviceScan.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

namespace vok {

namespace {

// The counts are kept this long after the last one typed.
constexpr int kSaveDelayMs = 1500;
// Devices a message names one by one.
constexpr qsizetype kNamed = 12;

// The counted column's editor: Enter and Down take the count and go to the
// next row, Up to the one before; a refused text keeps the editor open.
class CountDelegate : public QStyledItemDelegate
{
public:
    CountDelegate(CStocktakeDlg* form, QTableView* view)
        : QStyledItemDelegate(view), m_form(form), m_view(view)
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override
    {
        auto* edit = new QLineEdit(parent);
        edit->setObjectName(QStringLiteral("countEdit"));
        edit->setFrame(false);
        m_row = index.row();
        return edit;
    }

    // Leaving the cell otherwise keeps a number or an empty text.
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        const QString text = static_cast<QLineEdit*>(editor)->text().trimmed();
        auto* model = static_cast<StocktakeModel*>(m_view->model());
        if (text.isEmpty()) {
            model->setCount(index.row(), std::nullopt);
            return;
        }
        const auto value = FieldText::parseNumber(text);
        if (value && *value >= 0)
            model->setCount(index.row(), *value);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            const int step = key == Qt::Key_Up ? -1 : 1;
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down ||
                key == Qt::Key_Up) {
                const auto next = m_form->takeEntry(m_row, edit->text(), step);
                if (!next) {
                    edit->selectAll();
                    return true;
                }
                emit closeEditor(edit, QAbstractItemDelegate::NoHint);
                const QModelIndex target = m_view->model()->index(*next, StocktakeModel::Counted);
                m_view->setCurrentIndex(target);
                m_view->scrollTo(target);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(watched, event);
    }

private:
    CStocktakeDlg* m_form;
    QTableView* m_view;
    mutable int m_row = -1;
};

QString signedQuantity(double value)
{
    return value > 0 ? QLatin1Char('+') + singleText(value) : singleText(value);
}

// "A、B、C" or "A、B … (共 N 种)".
QString codeList(const QStringList& codes)
{
    if (codes.size() <= kNamed)
        return codes.join(QStringLiteral("、"));
    return QStringLiteral("%1 …（共 %2 种）")
        .arg(codes.mid(0, kNamed).join(QStringLiteral("、")))
        .arg(codes.size());
}

} // namespace

CStocktakeDlg::CStocktakeDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this)),
      m_model(new StocktakeModel(this)), m_saveTimer(new QTimer(this))
{
    setWindowTitle(QStringLiteral("库存盘点"));
    m_prefix = new QLineEdit(this);
    m_prefix->setObjectName(QStringLiteral("prefix"));
    m_prefix->setPlaceholderText(QStringLiteral("空白：全部设备"));
    connect(m_prefix, &QLineEdit::returnPressed, this, [this] { onList(); });
    makeCodeField();
    makeSheet();
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summaryLabel"));
    keepCounts();
    layOut(addCommands());
    showSummary();
    readWhenOpened([this] {
        load();
        return true;
    });
}

void CStocktakeDlg::makeCodeField()
{
    // A code typed or scanned here goes to its row.
    m_code = new QComboBox(this);
    m_code->setObjectName(QStringLiteral("code"));
    m_code->setEditable(true);
    m_code->setInsertPolicy(QComboBox::NoInsert);
    m_code->setModel(m_model);
    m_code->setModelColumn(StocktakeModel::Code);
    m_code->setMinimumContentsLength(10);
    DeviceScan* scan = DeviceScan::attach(m_code, [this] { goToRow(m_code->currentIndex()); });
    scan->setUnknownCodeText([](const QString& code) {
        return QStringLiteral("盘点表中没有设备号“%1”，请核对后重新扫描或输入。").arg(code);
    });
    connect(m_code, &QComboBox::activated, this, [this](int row) { goToRow(row); });
    // A new list leaves the field empty for the next code.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_code->setCurrentIndex(-1);
        m_code->setEditText(QString());
    });
}

void CStocktakeDlg::makeSheet()
{
    m_sheet = new QTableView(this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    m_sheet->setModel(m_model);
    m_sheet->setItemDelegateForColumn(StocktakeModel::Counted, new CountDelegate(this, m_sheet));
    m_sheet->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_sheet->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sheet->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                             QAbstractItemView::EditKeyPressed);
    m_sheet->verticalHeader()->hide();
    m_sheet->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_sheet->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    m_sheet->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {100, 220, 90, 90};
    for (int c = 0; c < int(std::size(widths)); ++c)
        m_sheet->setColumnWidth(c, widths[c]);
    // The cursor stays in the counted column, where typing goes.
    connect(m_sheet->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && current.column() != StocktakeModel::Counted)
                    m_sheet->setCurrentIndex(
                        m_model->index(current.row(), StocktakeModel::Counted));
            });
}

void CStocktakeDlg::keepCounts()
{
    // Each count shows in the summary and is kept a little after the last.
    connect(m_model, &StocktakeModel::countsChanged, this, [this] {
        showSummary();
        m_saveTimer->start();
    });
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kSaveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, [this] { saveDraft(); });
}

CStocktakeDlg::Buttons CStocktakeDlg::addCommands()
{
    Buttons b;
    b.list = m_commands->add(IDC_LIST, QStringLiteral("list"), QStringLiteral("列　　出"),
                             QStringLiteral("列出"), [this] { onList(); });
    b.confirm = m_commands->add(IDC_CONFIRM, QStringLiteral("confirm"), QStringLiteral("确认盘点"),
                                QStringLiteral("确认盘点"), [this] { onConfirm(); });
    b.print = m_commands->add(IDC_PRINT, QStringLiteral("print"), QStringLiteral("打　　印"),
                              QStringLiteral("打印"), [this] { onPrint(); });
    b.help = m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("stocktake.htm"));
    b.exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    m_commands->setMenuOrder({IDC_LIST, IDC_CONFIRM, IDC_PRINT, CommandTable::kSeparator,
                              CommandTable::kHelp, CommandTable::kExit});
    m_commands->addMenuExtra(QStringLiteral("打印预览…"), QKeySequence(), [this] { onPreview(); });
    m_commands->addMenuExtra(QStringLiteral("导出…"), QKeySequence(Qt::CTRL | Qt::Key_E),
                             [this] { onExport(); });
    return b;
}

void CStocktakeDlg::layOut(const Buttons& b)
{
    auto* prefixLabel = new QLabel(QStringLiteral("设备号开头(&P)："), this);
    prefixLabel->setBuddy(m_prefix);
    auto* codeLabel = new QLabel(QStringLiteral("设备号(&D)："), this);
    codeLabel->setBuddy(m_code);
    auto* sheetLabel = new QLabel(QStringLiteral("盘点表(&L)：输入实盘数量后按 Enter 或 ↓ "
                                                 "到下一行；输入或扫描设备号可跳到该设备"),
                                  this);
    sheetLabel->setBuddy(m_sheet);
    auto* top = new QHBoxLayout;
    top->addWidget(prefixLabel);
    top->addWidget(m_prefix);
    top->addWidget(b.list);
    top->addSpacing(24);
    top->addWidget(codeLabel);
    top->addWidget(m_code, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {b.confirm, b.print, b.help, b.exit})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(sheetLabel);
    layout->addWidget(m_sheet, 1);
    layout->addWidget(m_summary);
    layout->addLayout(buttons);
    resize(720, 560);

    // After a scanned code the focus goes on to the list.
    const QList<QWidget*> order{m_prefix,  b.list,  m_code, m_sheet,
                                b.confirm, b.print, b.help, b.exit};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

CStocktakeDlg::~CStocktakeDlg()
{
    if (m_saveTimer->isActive())
        saveDraft();
}

QString CStocktakeDlg::draftFile() const
{
    return Stocktake::draftFile(m_context.department);
}

void CStocktakeDlg::load()
{
    const auto draft = Stocktake::loadDraft(draftFile());
    if (draft) {
        const QString when = draft->listed.isValid()
                                 ? draft->listed.toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                 : QStringLiteral("上次");
        const auto answer = Messages::show(
            QStringLiteral("%1 开始的盘点还有 %2 种设备的实盘数量没有确认。\r\n"
                           "是否接着这次盘点？选“否”将放弃这些数量。")
                .arg(when)
                .arg(draft->counts.size()),
            QStringLiteral("提示!"), Messages::Icon::Question, Messages::Buttons::YesNo, this);
        if (answer == Messages::Answer::Yes) {
            m_prefix->setText(draft->prefix);
            if (!list(draft->prefix))
                return;
            std::vector<StocktakeLine> lines = m_model->lines();
            Stocktake::applyDraft(*draft, lines);
            m_model->setLines(std::move(lines));
            m_listedAt = draft->listed;
            m_saveTimer->stop();
            return;
        }
        QFile::remove(draftFile());
    }
    list(QString());
}

bool CStocktakeDlg::list(const QString& prefix)
{
    std::vector<StocktakeLine> lines;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool read =
        runChange(this, [&] { lines = Stocktake::list(*m_context.connection, prefix); });
    QApplication::restoreOverrideCursor();
    if (!read)
        return false;
    m_model->setLines(std::move(lines));
    m_saveTimer->stop();
    m_listed = true;
    m_listedPrefix = prefix;
    m_listedAt = Clock::now();
    if (m_model->rowCount() > 0)
        m_sheet->setCurrentIndex(m_model->index(0, StocktakeModel::Counted));
    return true;
}

void CStocktakeDlg::onList()
{
    const int counted = Stocktake::summarize(m_model->lines()).counted;
    if (counted > 0 &&
        Messages::show(
            QStringLiteral("重新列出将清除已输入的 %1 个实盘数量，是否继续?").arg(counted),
            QStringLiteral("提示!"), Messages::Icon::Question, Messages::Buttons::YesNo,
            this) != Messages::Answer::Yes)
        return;
    if (list(m_prefix->text().trimmed()))
        saveDraft();
}

void CStocktakeDlg::goToRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(row, StocktakeModel::Counted);
    m_sheet->setCurrentIndex(index);
    m_sheet->scrollTo(index);
}

std::optional<int> CStocktakeDlg::takeEntry(int row, const QString& typed, int step)
{
    const QString text = typed.trimmed();
    const int next = std::clamp(row + step, 0, std::max(m_model->rowCount() - 1, 0));
    if (text.isEmpty()) {
        m_model->setCount(row, std::nullopt);
        return next;
    }
    // A scanner types the code into whatever cell has the cursor.
    const int coded = m_model->rowOf(text);
    if (coded >= 0)
        return coded;
    const auto value = FieldText::parseNumber(text);
    if (!value) {
        Messages::notice(QStringLiteral("请键入一个数。"), this, QString(),
                         Messages::Icon::Exclamation);
        return std::nullopt;
    }
    if (*value < 0) {
        Messages::notice(QStringLiteral("实盘数量不能是负数。"), this, QString(),
                         Messages::Icon::Exclamation);
        return std::nullopt;
    }
    m_model->setCount(row, *value);
    return next;
}

void CStocktakeDlg::showSummary()
{
    const StocktakeSummary s = Stocktake::summarize(m_model->lines());
    m_summary->setText(QStringLiteral("共 %1 种设备，已盘点 %2 种，其中 %3 种有差异，差异合计 %4。")
                           .arg(s.devices)
                           .arg(s.counted)
                           .arg(s.differing)
                           .arg(signedQuantity(s.difference)));
}

void CStocktakeDlg::saveDraft()
{
    m_saveTimer->stop();
    if (m_listed)
        Stocktake::saveDraft(draftFile(), m_listedPrefix, m_listedAt, m_model->lines());
}

void CStocktakeDlg::done(int result)
{
    // A count still in its editor counts too.
    if (QWidget* editor = m_sheet->indexWidget(m_sheet->currentIndex()))
        m_sheet->itemDelegateForColumn(StocktakeModel::Counted)
            ->setModelData(editor, m_model, m_sheet->currentIndex());
    saveDraft();
    QDialog::done(result);
}

void CStocktakeDlg::onConfirm()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    const StocktakeSummary s = Stocktake::summarize(m_model->lines());
    if (s.counted == 0) {
        Messages::notice(QStringLiteral("还没有输入实盘数量。"), this, QStringLiteral("提示!"),
                         Messages::Icon::Information);
        return;
    }
    const QString question =
        s.differing == 0
            ? QStringLiteral("已盘点的 %1 种设备都与账面数量相符，是否确认盘点?").arg(s.counted)
            : QStringLiteral("将按实盘数量调整 %1 种设备的库存（已盘点 %2 种），是否继续?")
                  .arg(s.differing)
                  .arg(s.counted);
    if (Messages::show(question, QStringLiteral("提示!"), Messages::Icon::Question,
                       Messages::Buttons::YesNo, this) != Messages::Answer::Yes)
        return;

    Stocktake::Decisions decisions;
    Stocktake::Confirmation outcome;
    for (;;) {
        if (!runChange(this, [&] {
                outcome = Stocktake::confirm(*m_context.connection, m_context.classNumber,
                                             m_context.userName, m_model->lines(), decisions);
            }))
            return;
        if (outcome.changed.empty())
            break;
        // Another workstation moved some of the devices since they were
        // listed: the storekeeper says, for all of them at once, which
        // figure stands.
        QStringList named;
        for (const Stocktake::BookChange& c : outcome.changed) {
            if (named.size() == kNamed) {
                named << QStringLiteral("……（共 %1 种）").arg(outcome.changed.size());
                break;
            }
            named << QStringLiteral("%1：列出时 %2，现在 %3，实盘 %4")
                         .arg(c.code, singleText(c.listed), singleText(c.now),
                              singleText(c.counted));
        }
        const auto answer = Messages::show(
            QStringLiteral("下列 %1 种设备的账面数量在列出之后已被其他操作改变：\r\n%2\r\n"
                           "是否仍把它们的库存改为实盘数量?\r\n"
                           "选“是”改为实盘数量；选“否”这些设备本次不调整，其余照常确认；"
                           "选“取消”本次不确认。")
                .arg(outcome.changed.size())
                .arg(named.join(QStringLiteral("\r\n"))),
            QStringLiteral("提示!"), Messages::Icon::Question, Messages::Buttons::YesNoCancel,
            this);
        if (answer == Messages::Answer::Cancel)
            return;
        for (const Stocktake::BookChange& c : outcome.changed) {
            if (answer == Messages::Answer::Yes)
                decisions.accepted.insert(c.code, c.now);
            else
                decisions.leftOut.insert(c.code);
        }
    }
    writeLog(m_context, QStringLiteral("库存盘点"), this);

    // The counts are in the stock now: nothing is kept of them.
    m_model->setLines({});
    m_listed = false;
    QFile::remove(draftFile());

    QString text =
        QStringLiteral("完成库存盘点操作，共调整 %1 种设备的库存!").arg(outcome.adjusted);
    QStringList leftOut(decisions.leftOut.begin(), decisions.leftOut.end());
    leftOut.sort();
    if (!leftOut.isEmpty())
        text += QStringLiteral("\r\n下列设备未调整，请重新盘点：%1").arg(codeList(leftOut));
    if (!outcome.noSingleRow.isEmpty())
        text += QStringLiteral("\r\n下列设备在库存表中已没有或有多行库存记录，未调整：%1")
                    .arg(codeList(outcome.noSingleRow));
    Messages::notice(text, this, QStringLiteral("提示!"), Messages::Icon::Information);
    list(m_listedPrefix);
}

void CStocktakeDlg::onPrint()
{
    printTableReport(
        m_model->rowCount(), [this](int row, int column) { return m_model->text(row, column); },
        reports::stocktake, m_context.userName, this);
}

void CStocktakeDlg::onPreview()
{
    previewTableReport(
        m_model->rowCount(), [this](int row, int column) { return m_model->text(row, column); },
        reports::stocktake, m_context.userName, this);
}

void CStocktakeDlg::onExport()
{
    ExportSource source;
    source.rows = m_model->rowCount();
    source.columns = StocktakeModel::ColumnCount;
    source.heading = [](int column) { return StocktakeModel::heading(column); };
    source.text = [this](int row, int column) { return m_model->text(row, column); };
    source.numeric = [](int column) {
        return column == StocktakeModel::Book || column == StocktakeModel::Counted;
    };
    exportWithDialog(source, reports::stocktake.title.toString(), this);
}

} // namespace vok
