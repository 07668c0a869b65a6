#include "stock/DeviceCardDlg.h"

#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/DeviceScan.h"
#include "ui/DialogStyle.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace vok {

namespace {

const QStringList kMovementHeadings = {QStringLiteral("时间"), QStringLiteral("类别"),
                                       QStringLiteral("数量"), QStringLiteral("来源或去向")};

QString figure(double value)
{
    return QString::number(value, 'f', 0);
}

QLineEdit* readOnlyField(QWidget* parent, const QString& name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    showReadOnly(edit);
    return edit;
}

} // namespace

CDeviceCardDlg::CDeviceCardDlg(const FormContext& context, QWidget* parent)
    : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("deviceCard"));
    setWindowTitle(QStringLiteral("扫码查看"));
    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("code"));
    auto* lookUp = new QPushButton(QStringLiteral("查看(&F)"), this);
    lookUp->setObjectName(QStringLiteral("lookUp"));
    lookUp->setDefault(true);
    m_name = readOnlyField(this, QStringLiteral("name"));
    m_now = readOnlyField(this, QStringLiteral("now"));
    m_high = readOnlyField(this, QStringLiteral("high"));
    m_low = readOnlyField(this, QStringLiteral("low"));
    m_total = readOnlyField(this, QStringLiteral("total"));
    m_lent = readOnlyField(this, QStringLiteral("lent"));
    m_awaitingRepair = readOnlyField(this, QStringLiteral("awaitingRepair"));

    auto* form = new QFormLayout;
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(m_code);
    codeRow->addWidget(lookUp);
    auto* codeLabel = new QLabel(QStringLiteral("设备号(&C)："), this);
    codeLabel->setBuddy(m_code);
    form->addRow(codeLabel, codeRow);
    const std::pair<QString, QLineEdit*> fields[] = {
        {QStringLiteral("设备名称："), m_name},      {QStringLiteral("现存数量："), m_now},
        {QStringLiteral("最大数量："), m_high},      {QStringLiteral("最小数量："), m_low},
        {QStringLiteral("总数："), m_total},         {QStringLiteral("借出未还："), m_lent},
        {QStringLiteral("待修："), m_awaitingRepair}};
    for (const auto& [caption, edit] : fields) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(edit);
        form->addRow(label, edit);
    }

    m_movements = new QTableWidget(0, int(kMovementHeadings.size()), this);
    m_movements->setObjectName(QStringLiteral("movements"));
    m_movements->setAccessibleName(QStringLiteral("最近的出入库记录"));
    m_movements->setHorizontalHeaderLabels(kMovementHeadings);
    m_movements->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_movements->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_movements->verticalHeader()->hide();
    m_movements->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* print =
        buttons->addButton(QStringLiteral("打印(&P)…"), QDialogButtonBox::ActionRole);
    print->setObjectName(QStringLiteral("print"));
    print->setAutoDefault(false);
    QPushButton* close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    close->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("最近的出入库记录（最新的在上）："), this));
    layout->addWidget(m_movements, 1);
    layout->addWidget(buttons);

    connect(lookUp, &QPushButton::clicked, this, &CDeviceCardDlg::onLookUp);
    connect(print, &QPushButton::clicked, this, &CDeviceCardDlg::onPrint);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    print->setEnabled(false);
    m_printButton = print;
    resize(560, 520);
    applyProgramStyle(this);
}

void CDeviceCardDlg::onLookUp()
{
    const QString code = m_code->text().trimmed();
    m_code->selectAll();
    if (code.isEmpty())
        return;
    try {
        std::optional<DeviceCard> card = readDeviceCard(*m_context.connection, code);
        if (!card) {
            Messages::notice(DeviceScan::unknownCodeText(code), this, QString(),
                             Messages::Icon::Exclamation);
            return;
        }
        m_card = std::move(card);
    } catch (const DbError& e) {
        showComError(e, this);
        return;
    }
    showCard();
}

void CDeviceCardDlg::showCard()
{
    const DeviceCard& c = *m_card;
    m_name->setText(c.name);
    m_now->setText(figure(c.stock.now));
    m_high->setText(figure(c.stock.high));
    m_low->setText(figure(c.stock.low));
    m_total->setText(figure(c.stock.total));
    m_lent->setText(QStringLiteral("%1（%2 笔）").arg(figure(c.loans.out)).arg(c.loans.openLines));
    m_awaitingRepair->setText(figure(c.loans.awaitingRepair));
    m_movements->setRowCount(int(c.movements.size()));
    for (int row = 0; row < c.movements.size(); ++row) {
        const DeviceCard::Movement& m = c.movements[row];
        const QString cells[] = {m.time, m.kind, figure(m.quantity), m.party};
        for (int column = 0; column < 4; ++column)
            m_movements->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_movements->resizeColumnsToContents();
    m_printButton->setEnabled(true);
}

QString CDeviceCardDlg::cardHtml(const DeviceCard& c)
{
    QString html = QStringLiteral("<h2>设备卡片：%1</h2><p>设备名称：%2<br>现存数量：%3　"
                                  "最大数量：%4　最小数量：%5　总数：%6</p>")
                       .arg(c.code.toHtmlEscaped(), c.name.toHtmlEscaped(), figure(c.stock.now),
                            figure(c.stock.high), figure(c.stock.low), figure(c.stock.total));
    html += QStringLiteral("<p>借出未还：%1（%2 笔）　待修：%3</p>")
                .arg(figure(c.loans.out))
                .arg(c.loans.openLines)
                .arg(figure(c.loans.awaitingRepair));
    html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\"><tr>");
    for (const QString& h : kMovementHeadings)
        html += QStringLiteral("<th>%1</th>").arg(h);
    html += QStringLiteral("</tr>");
    for (const DeviceCard::Movement& m : c.movements) {
        html +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td align=\"right\">%3</td><td>%4</td></tr>")
                .arg(m.time, m.kind, figure(m.quantity), m.party.toHtmlEscaped());
    }
    return html + QStringLiteral("</table>");
}

void CDeviceCardDlg::onPrint()
{
    if (!m_card)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("设备卡片"));
    if (!PrintService::choosePrinter(printer, this))
        return;
    QTextDocument document;
    QFont font(QStringLiteral("AR PL UMing CN"));
    font.setPointSize(11);
    document.setDefaultFont(font);
    document.setHtml(cardHtml(*m_card));
    document.print(&printer);
}

} // namespace vok
