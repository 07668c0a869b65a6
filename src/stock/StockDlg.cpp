#include "stock/StockDlg.h"

#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/Loans.h"
#include "core/StockChange.h"
#include "core/TableAccess.h"
#include "core/Tables.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DeviceScan.h"
#include "ui/DialogStyle.h"
#include "ui/EntryForm.h"
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
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

namespace {

template <typename W> W* named(W* widget, const char16_t* name)
{
    widget->setObjectName(QString::fromUtf16(name));
    return widget;
}

// A quantity as the list shows it ("%f"), read back; 0 for anything else.
float listQuantity(const QString& text)
{
    return float(FieldText::parseNumber(text).value_or(0));
}

} // namespace

std::vector<RecordListModel::Column> stockListColumns()
{
    return tables::device.listColumns();
}

CStockDlg::CStockDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("库存管理"));
    const Buttons buttons = addCommands();
    m_list = named(new RecordListView(stockListColumns(), this), u"list");
    m_list->setColumnShares({1, 1, 1, 1, 1}, 5);
    connect(m_list, &RecordListView::rowChosen, this, &CStockDlg::onRowChosen);
    offerListCommands(*m_commands, *m_list, &reports::stock, m_context.userName);
    offerImport(*m_commands, tables::device, m_context, this, [this] { fillList(); });
    makeQueryGroup(buttons.query);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_query);
    layout->addWidget(makeChangeGroup(buttons));
    // Units lent out and units back damaged are no part of the stock on
    // hand: the device's line tells of them apart.
    m_loanLine = named(new QLabel(this), u"loanLine");
    layout->addWidget(m_loanLine);
    orderTabs(buttons);
    resize(690, 530);
    showFields();
    readWhenOpened([this] { return readOnOpening(); });
}

CStockDlg::~CStockDlg() = default;

CStockDlg::Buttons CStockDlg::addCommands()
{
    const auto command = [this](int id, const char16_t* name, const char16_t* caption,
                                const char16_t* menu, void (CStockDlg::*handler)()) {
        QPushButton* b =
            m_commands->add(id, QString::fromUtf16(name), QString::fromUtf16(caption),
                            QString::fromUtf16(menu), [this, handler] { (this->*handler)(); });
        // A focused button takes Enter.
        b->setAutoDefault(true);
        return b;
    };
    Buttons b;
    b.query = command(IDC_QUERY, u"query", u"查　　询", u"查询", &CStockDlg::onQuery);
    b.add = command(IDC_ADD, u"add", u"新　增", u"新增", &CStockDlg::onAdd);
    b.change = command(IDC_CHANGE, u"change", u"修　改", u"修改", &CStockDlg::onChange);
    b.remove = command(IDC_DELETE, u"delete", u"删　除", u"删除", &CStockDlg::onDelete);
    b.print = command(IDC_PRINT, u"print", u"打　印", u"打印", &CStockDlg::onPrint);
    b.help = m_commands->addHelp(QStringLiteral("帮　助"), QStringLiteral("device.htm"));
    b.help->setAutoDefault(true);
    b.exit = m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　出"),
                             QStringLiteral("退出"), [this] { reject(); });
    b.exit->setAutoDefault(true);
    m_commands->setMenuOrder({IDC_ADD, IDC_CHANGE, IDC_DELETE, IDC_PRINT, CommandTable::kHelp,
                              CommandTable::kExit, CommandTable::kSeparator, IDC_QUERY});
    return b;
}

void CStockDlg::makeQueryGroup(QPushButton* query)
{
    m_query = new QueryGroup(tables::device, query, this);
    m_query->setObjectName(QStringLiteral("queryGroup"));
    m_query->setLabels(QStringLiteral("要查询的项"), QStringLiteral("要查询的内容"));
    named(m_query->fieldCombo(), u"queryField");
    named(m_query->operatorCombo(), u"queryOperator");
    named(m_query->valueEdit(), u"queryValue");
    m_query->acceptScannedCodes(*m_context.connection);
}

QGroupBox* CStockDlg::makeChangeGroup(const Buttons& b)
{
    auto* changeBox = new QGroupBox(QStringLiteral("操作"), this);
    changeBox->setObjectName(QStringLiteral("changeGroup"));
    m_code = named(new QComboBox(changeBox), u"code");
    m_code->setEditable(true);
    m_code->setInsertPolicy(QComboBox::NoInsert);
    limitText(m_code, tables::device, DeviceCol::code);
    // A scanned code shows its stock row, when the list holds one.
    DeviceScan::attach(m_code, [this] { chooseListedCode(m_code->currentText()); });
    // The catalogue's name of the code shown, so that nobody has to know
    // the codes by heart.
    m_deviceName = named(new QLineEdit(changeBox), u"deviceName");
    m_deviceName->setReadOnly(true);
    m_deviceName->setFocusPolicy(Qt::NoFocus);
    connect(m_code, &QComboBox::editTextChanged, this, &CStockDlg::showDeviceName);
    m_nowEdit = named(new QLineEdit(changeBox), u"now");
    m_highEdit = named(new QLineEdit(changeBox), u"high");
    m_lowEdit = named(new QLineEdit(changeBox), u"low");
    m_totalEdit = named(new QLineEdit(changeBox), u"total");
    // The opening quantity's unit price, taken by Add only; empty: none.
    m_priceEdit = named(new QLineEdit(changeBox), u"price");
    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(QStringLiteral("设备号"), m_code);
    fields->addRow(QStringLiteral("设备名"), m_deviceName);
    fields->addRow(QStringLiteral("现存数量"), m_nowEdit);
    fields->addRow(QStringLiteral("最大数量"), m_highEdit);
    fields->addRow(QStringLiteral("最小数量"), m_lowEdit);
    fields->addRow(QStringLiteral("总数"), m_totalEdit);
    fields->addRow(QStringLiteral("单价"), m_priceEdit);
    // Buttons in two columns: add, change, help; delete, print, exit.
    auto* buttons = new QGridLayout;
    QPushButton* const grid[2][3] = {{b.add, b.change, b.help}, {b.remove, b.print, b.exit}};
    for (int column = 0; column < 2; ++column)
        for (int row = 0; row < 3; ++row) {
            grid[column][row]->setParent(changeBox);
            buttons->addWidget(grid[column][row], row, column);
        }
    buttons->setRowStretch(3, 1);
    auto* changeLayout = new QHBoxLayout(changeBox);
    changeLayout->addLayout(fields, 3);
    changeLayout->addSpacing(24);
    changeLayout->addLayout(buttons, 2);
    return changeBox;
}

void CStockDlg::orderTabs(const Buttons& b)
{
    // The list, the query group, the code and quantities, the buttons.
    QWidget* order[] = {m_list,
                        m_query->fieldCombo(),
                        m_query->operatorCombo(),
                        m_query->valueEdit(),
                        b.query,
                        m_code,
                        m_nowEdit,
                        m_highEdit,
                        m_lowEdit,
                        m_totalEdit,
                        m_priceEdit,
                        b.add,
                        b.change,
                        b.remove,
                        b.print,
                        b.help,
                        b.exit};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void CStockDlg::showDeviceName()
{
    const QString code = codeAsStored(m_code->currentText());
    QString name;
    if (!code.isEmpty() &&
        !runChange(this, [&] { name = deviceName(*m_context.connection, code); }))
        return;
    m_deviceName->setText(name);
    m_deviceName->setCursorPosition(0);
}

bool CStockDlg::readOnOpening()
{
    QStringList codes;
    if (!runChange(this, [&] { codes = catalogueCodes(*m_context.connection); }))
        return false;
    m_code->addItems(codes);
    m_code->setCurrentIndex(-1);
    m_code->setEditText(QString());
    fillList();
    return true;
}

void CStockDlg::fillList()
{
    m_list->fill(*m_context.connection, TableRows{tables::device.name()});
}

Stock::StockFigureSet CStockDlg::figures() const
{
    return {m_now, m_high, m_low, m_total, m_price};
}

bool CStockDlg::takeFields()
{
    FieldExchange dx(this);
    // The stock on hand and the total are what the movements made of
    // them (a device issued to its last unit has 0 on hand); the limits
    // are typed and keep their range.
    dx.number(m_nowEdit, m_now, tables::device, DeviceCol::now_number);
    dx.number(m_highEdit, m_high, tables::device, DeviceCol::high_number);
    dx.number(m_lowEdit, m_low, tables::device, DeviceCol::low_number);
    dx.number(m_totalEdit, m_total, tables::device, DeviceCol::total_number);
    return dx.ok();
}

bool CStockDlg::takePrice()
{
    m_price.reset();
    const QString typed = m_priceEdit->text();
    if (typed.trimmed().isEmpty())
        return true;
    float price = 0;
    const QString problem =
        FieldCheck::numberProblem(typed, price, tables::deviceAdjust.rule(DeviceAdjustCol::price));
    if (!problem.isEmpty()) {
        Messages::notice(QStringLiteral("单价：") + problem, this, QString(),
                         Messages::Icon::Exclamation);
        m_priceEdit->setFocus(Qt::OtherFocusReason);
        m_priceEdit->selectAll();
        return false;
    }
    m_price = price;
    return true;
}

void CStockDlg::showFields()
{
    showNumber(m_nowEdit, m_now);
    showNumber(m_highEdit, m_high);
    showNumber(m_lowEdit, m_low);
    showNumber(m_totalEdit, m_total);
}

bool CStockDlg::takeCode(QString& code)
{
    // A code longer than the stock row holds is refused rather than cut to
    // what may be another device's code.
    FieldExchange dx(this);
    return dx.text(m_code, code, tables::device, DeviceCol::code);
}

void CStockDlg::chooseListedCode(const QString& code)
{
    const RecordListModel* records = m_list->records();
    // Every listed row, those not read yet included.
    const int n = records->countAll();
    for (int row = 0; row < n; ++row) {
        if (records->text(row, DeviceCol::code) == code) {
            m_list->chooseRow(row);
            onRowChosen(row);
            return;
        }
    }
}

void CStockDlg::onRowChosen(int row)
{
    const RecordListModel* records = m_list->records();
    if (row < 0 || row >= records->rowCount())
        return;
    // The code is chosen in the combo when the catalogue has it.
    const QString code = records->text(row, DeviceCol::code);
    const int entry = m_code->findText(code, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_code->setCurrentIndex(entry);
    m_code->setEditText(code);
    m_now = listQuantity(records->text(row, DeviceCol::now_number));
    m_high = listQuantity(records->text(row, DeviceCol::high_number));
    m_low = listQuantity(records->text(row, DeviceCol::low_number));
    m_total = listQuantity(records->text(row, DeviceCol::total_number));
    showFields();
    Loans::DeviceLoans lent;
    runChange(this, [&] { lent = Loans::deviceLoans(*m_context.connection, code); });
    m_loanLine->setText(
        lent.out > 0 || lent.awaitingRepair > 0
            ? QStringLiteral("设备 %1：借出未还 %2，待修 %3（均不在现存数量中）")
                  .arg(code, FieldText::number(lent.out), FieldText::number(lent.awaitingRepair))
            : QString());
}

void CStockDlg::completeChange(const QString& logText)
{
    Messages::notice(QStringLiteral("完成操作！"), this);
    writeLog(m_context, logText, this);
    fillList();
}

void CStockDlg::onAdd()
{
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    if (!takeFields() || !takePrice())
        return;
    // Chosen: the combo shows one of its entries (blanks around it aside),
    // not another text typed over it.
    if (m_code->findText(codeAsStored(m_code->currentText()),
                         Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        Messages::notice(QStringLiteral("请选择一个设备"), this);
        return;
    }
    QString code;
    if (!takeCode(code))
        return;
    code = codeAsStored(code);

    // One stock row per device, written with its opening stock.
    bool added = false;
    if (!runChange(this, [&] {
            added = Stock::addStockRow(*m_context.connection, m_context.classNumber, code,
                                       figures(), m_context.userName);
        }))
        return;
    if (!added) {
        Messages::notice(
            QStringLiteral("设备号“%1”已有库存记录，不能再新增。\r\n请在列表中选中它后修改。")
                .arg(code),
            this, QString(), Messages::Icon::Exclamation);
        return;
    }
    m_priceEdit->clear();
    completeChange(QStringLiteral("修改库存信息"));
}

void CStockDlg::onChange()
{
    if (!takeFields())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    QString code;
    if (!takeCode(code))
        return;
    if (code.isEmpty()) {
        Messages::notice(QStringLiteral("请选择一个设备"), this);
        return;
    }
    // The quantities as typed, not added to the old ones; the store fails
    // when the code has no stock row or another workstation changed it
    // since it was read.
    if (!runChange(this, [&] {
            Stock::changeStockRow(*m_context.connection, m_context.classNumber, code, figures(),
                                  m_context.userName);
        }))
        return;
    completeChange(QStringLiteral("修改库存信息"));
}

void CStockDlg::onDelete()
{
    if (!takeFields())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    QString code;
    if (!takeCode(code))
        return;
    if (!runChange(this, [&] {
            Stock::deleteStockRows(*m_context.connection, m_context.classNumber, code,
                                   m_context.userName);
        }))
        return;
    completeChange(QStringLiteral("删除库存记录。"));
}

void CStockDlg::onQuery()
{
    // A quantity that fails its check stops the query too.
    if (!takeFields())
        return;
    m_query->fillList(*m_list, *m_context.connection);
}

void CStockDlg::onPrint()
{
    printTableReport(*m_list->records(), reports::stock, m_context.userName, this);
}

} // namespace vok
