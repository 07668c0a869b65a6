#include "browse/ViewInDlg.h"

#include "browse/BrowserTables.h"
#include "browse/ListCommands.h"
#include "browse/PrintReport.h"
#include "browse/QueryField.h"
#include "browse/QueryGroup.h"
#include "browse/RecordListView.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqlFormat.h"
#include "forms/CommandTable.h"
#include "forms/FieldExchange.h"
#include "login/ComErrorBox.h"
#include "login/DialogStyle.h"
#include "login/MessageService.h"
#include "login/Permission.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

namespace {

const QString kSelectAll = QStringLiteral("SELECT * FROM DEVICE_IN");

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

QLineEdit* makeEdit(QWidget* parent, const char* name, bool readOnly = false)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    if (readOnly)
        showReadOnly(e);
    return e;
}

} // namespace

CViewInDlg::CViewInDlg(const FormContext& context, QWidget* parent)
    : QDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("查看入库信息"));
    setObjectName(QStringLiteral("CViewInDlg"));

    m_commands = new CommandTable(this);
    QPushButton* modify = m_commands->add(IdModify, QStringLiteral("修　　改"),
                                          QStringLiteral("修改"), [this] { onModify(); });
    QPushButton* remove = m_commands->add(IdDelete, QStringLiteral("删　　除"),
                                          QStringLiteral("删除"), [this] { onDelete(); });
    QPushButton* print = m_commands->add(IdPrint, QStringLiteral("打　　印"),
                                         QStringLiteral("打印"), [this] { onPrint(); });
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　助"), QStringLiteral("viewdevin.htm"));
    QPushButton* exit = m_commands->add(IdExit, QStringLiteral("退　　出"), QStringLiteral("退出"),
                                        [this] { reject(); });
    QPushButton* query = m_commands->add(IdQuery, QStringLiteral("查　询"), QStringLiteral("查询"),
                                         [this] { onQuery(); });
    m_commands->setMenuOrder({IdModify, IdDelete, IdPrint, CommandTable::kHelp, IdExit,
                              CommandTable::kSeparator, IdQuery});
    // A focused button takes Enter; otherwise Enter closes the form.
    for (QPushButton* b : {modify, remove, print, help, query})
        b->setAutoDefault(true);
    exit->setDefault(true);

    m_list = new RecordListView(tables::stockIn.columns(), this);
    m_list->setObjectName(QStringLiteral("list"));
    m_list->setColumnShares({2, 3, 2, 3, 2, 2, 2}, 16);
    // Wide enough that the stock-in time, the key of a row, shows whole in
    // its 3/16 share.
    m_list->setMinimumWidth(
        (m_list->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16) * 16 /
            3 +
        2 * m_list->frameWidth());
    connect(m_list, &RecordListView::rowChosen, this, &CViewInDlg::onRowChosen);
    offerListCommands(*m_commands, *m_list, &reports::stockIn, m_context.userName);

    m_query = new QueryGroup(tables::stockIn.queryFields, query, this);

    m_code = makeEdit(this, "code", true);
    m_inDate = makeEdit(this, "inDate", true);
    m_provider = makeEdit(this, "provider");
    m_teleno = makeEdit(this, "teleno");
    m_quantityEdit = makeEdit(this, "quantity");
    m_priceEdit = makeEdit(this, "price");
    m_buyer = makeEdit(this, "buyer");
    limitText(m_provider, schema::DeviceIn, DeviceInCol::provider);
    limitText(m_teleno, schema::DeviceIn, DeviceInCol::teleno);
    limitText(m_buyer, schema::DeviceIn, DeviceInCol::buyer);

    auto* details = new QGroupBox(QStringLiteral("明细"), this);
    auto* grid = new QGridLayout;
    auto addField = [details, grid](int row, int column, const char16_t* caption, QLineEdit* edit) {
        auto* label = new QLabel(QString::fromUtf16(caption), details);
        label->setBuddy(edit);
        edit->setParent(details);
        grid->addWidget(label, row, column * 2);
        grid->addWidget(edit, row, column * 2 + 1);
    };
    addField(0, 0, u"设备号", m_code);
    addField(1, 0, u"入库日期", m_inDate);
    addField(2, 0, u"供应商", m_provider);
    addField(0, 1, u"供应商电话", m_teleno);
    addField(1, 1, u"数量", m_quantityEdit);
    addField(2, 1, u"价格", m_priceEdit);
    addField(3, 1, u"采购员", m_buyer);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {modify, remove, print, help, exit}) {
        b->setParent(details);
        buttons->addWidget(b);
    }
    auto* detailLayout = new QVBoxLayout(details);
    detailLayout->addLayout(grid);
    detailLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_query);
    layout->addWidget(details);

    // Tab order: list, query group, detail fields, buttons.
    QWidget* order[] = {m_list,
                        m_query->fieldCombo(),
                        m_query->operatorCombo(),
                        m_query->valueEdit(),
                        query,
                        m_code,
                        m_inDate,
                        m_provider,
                        m_teleno,
                        m_quantityEdit,
                        m_priceEdit,
                        m_buyer,
                        modify,
                        remove,
                        print,
                        help,
                        exit};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    resize(726, 540);
    showFields();
    fillList(kSelectAll);
}

CViewInDlg::~CViewInDlg() = default;

void CViewInDlg::fillList(const QString& select)
{
    if (!m_context.connection) {
        m_list->records()->clear();
        return;
    }
    m_list->fill(*m_context.connection, select);
}

bool CViewInDlg::takeFields()
{
    FieldExchange dx(this);
    dx.text(m_teleno, m_telenoText, schema::DeviceIn, DeviceInCol::teleno);
    dx.text(m_provider, m_providerText, schema::DeviceIn, DeviceInCol::provider);
    dx.text(m_inDate, m_inDateText);
    dx.text(m_code, m_codeText);
    dx.text(m_buyer, m_buyerText, schema::DeviceIn, DeviceInCol::buyer);
    dx.number(m_priceEdit, m_price, 1, 10000);
    dx.number(m_quantityEdit, m_quantity, 1, 10000);
    dx.text(m_query->fieldCombo(), m_queryField);
    dx.text(m_query->operatorCombo(), m_queryOperator);
    dx.text(m_query->valueEdit(), m_queryValue);
    return dx.ok();
}

void CViewInDlg::showFields()
{
    m_teleno->setText(m_telenoText);
    m_provider->setText(m_providerText);
    m_inDate->setText(m_inDateText);
    m_code->setText(m_codeText);
    m_buyer->setText(m_buyerText);
    showNumber(m_priceEdit, m_price);
    showNumber(m_quantityEdit, m_quantity);
}

void CViewInDlg::onRowChosen(int row)
{
    const RecordListModel* records = m_list->records();
    if (row < 0 || row >= records->rowCount())
        return;
    m_codeText = records->text(row, DeviceInCol::code);
    m_inDateText = records->text(row, DeviceInCol::in_date);
    m_providerText = records->text(row, DeviceInCol::provider);
    m_telenoText = records->text(row, DeviceInCol::teleno);
    m_quantity = leadingNumber(records->text(row, DeviceInCol::in_number));
    m_price = leadingNumber(records->text(row, DeviceInCol::price));
    m_buyerText = records->text(row, DeviceInCol::buyer);
    showFields();
}

QString CViewInDlg::keyCondition(QStringView format) const
{
    return sqlFormat(format, {SqlArg::date(m_inDateText)});
}

void CViewInDlg::onModify()
{
    if (!takeFields())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::OneLine, this))
        return;
    try {
        const QString select = keyCondition(u"SELECT * FROM DEVICE_IN WHERE in_date=#%s#");
        m_context.connection->updateRow(select, schema::DeviceIn, [this](RowRecord& r) {
            r.setText(DeviceInCol::code, m_codeText);
            r.setText(DeviceInCol::in_date, m_inDateText);
            r.setText(DeviceInCol::provider, m_providerText);
            r.setText(DeviceInCol::teleno, m_telenoText);
            r.setNumber(DeviceInCol::in_number, m_quantity);
            r.setNumber(DeviceInCol::price, m_price);
            r.setText(DeviceInCol::buyer, m_buyerText);
        });
    } catch (const DbError& e) {
        showComError(e, this);
        return;
    }
    Messages::show(QStringLiteral("完成修改入库信息操作！"), QString(), Messages::Icon::None,
                   Messages::Buttons::Ok, this);
    if (m_context.log)
        m_context.log->Write(QStringLiteral("修改入库信息"));
    fillList(kSelectAll);
}

void CViewInDlg::onDelete()
{
    if (!takeFields())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::OneLine, this))
        return;
    try {
        // Several rows can share one stock-in time; all of them would go,
        // so the user is asked first.
        const qint64 count = m_context.connection->recordCount(
            keyCondition(u"SELECT * FROM DEVICE_IN WHERE in_date=#%s#"));
        if (count > 1) {
            const QString question =
                QStringLiteral("有%1条入库信息的入库时间都是%2，将全部删除。\r\n确定删除吗？")
                    .arg(count)
                    .arg(m_inDateText);
            if (Messages::show(question, QString(), Messages::Icon::Stop,
                               Messages::Buttons::OkCancel, this) != Messages::Answer::Ok)
                return;
        }
        m_context.connection->execute(keyCondition(u"DELETE FROM DEVICE_IN WHERE in_date=#%s#"));
    } catch (const DbError& e) {
        showComError(e, this);
        return;
    }
    Messages::show(QStringLiteral("完成删除入库信息操作！"), QString(), Messages::Icon::None,
                   Messages::Buttons::Ok, this);
    if (m_context.log)
        m_context.log->Write(QStringLiteral("删除入库信息"));
    fillList(kSelectAll);
}

void CViewInDlg::onQuery()
{
    // A detail field that fails its check stops the query too: its message
    // is shown and the list stays as it is.
    if (!takeFields())
        return;
    if (m_context.connection)
        m_query->fillList(*m_list, *m_context.connection);
}

void CViewInDlg::onPrint()
{
    PrintTableReport(*m_list->records(), reports::stockIn, m_context.userName, this);
}

} // namespace vok
