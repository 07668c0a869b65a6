#include "movements/TransferOutDlg.h"

#include "core/Departments.h"
#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/StockChange.h"
#include "core/Tables.h"
#include "core/TransferSlip.h"
#include "core/Transfers.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/HtmlPrint.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

namespace vok {

namespace {

enum Column
{
    Code,
    Name,
    Quantity,
    OnHand
};

} // namespace

CTransferOutDlg::CTransferOutDlg(const FormContext& context, QWidget* parent)
    : EntryForm(context, QStringLiteral("调拨出库"), QStringLiteral("调往其他部门的设备"), parent)
{
    m_target = new QComboBox(this);
    m_target->setObjectName(QStringLiteral("target"));
    m_target->setAccessibleName(QStringLiteral("调入部门"));
    for (const QString& name : departmentNames())
        if (name != context.department)
            m_target->addItem(name);
    m_target->setCurrentIndex(-1);
    addRow(QStringLiteral("调入部门"), m_target);

    addDeviceList(QStringLiteral("调拨设备"));

    m_lines = new QTableWidget(0, 4, this);
    m_lines->setObjectName(QStringLiteral("lines"));
    m_lines->setAccessibleName(QStringLiteral("调拨清单"));
    m_lines->setHorizontalHeaderLabels({QStringLiteral("设备号"), QStringLiteral("设备名"),
                                        QStringLiteral("数量"), QStringLiteral("现有库存")});
    m_lines->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_lines->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    m_lines->verticalHeader()->hide();
    m_lines->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lines->setMinimumSize(420, 170);
    addRow(QStringLiteral("调拨清单"), m_lines);
    auto* remove = new QPushButton(QStringLiteral("移除所选行"), this);
    remove->setObjectName(QStringLiteral("removeLine"));
    remove->setAutoDefault(false);
    connect(remove, &QPushButton::clicked, this, &CTransferOutDlg::removeLine);
    addRow(QString(), remove);

    m_note = addMultiLineEdit(QStringLiteral("note"), QStringLiteral("备注"));
    limitText(m_note, tables::transferOut, schema::TransferOut.indexOf(u"note"));
    addButtons(IDC_CONFIRM, QStringLiteral("transferout.htm"));
}

// A scan (or a choice from the list) adds one unit; the scan field keeps
// the focus for the next.
void CTransferOutDlg::deviceListClosedUp()
{
    const QString code = lookUpCode();
    if (code.isEmpty())
        return;
    addUnit(code);
    QTimer::singleShot(0, deviceList(), [list = deviceList()] { list->setFocus(); });
}

void CTransferOutDlg::addUnit(const QString& code)
{
    for (int row = 0; row < m_lines->rowCount(); ++row) {
        if (m_lines->item(row, Code)->text() != code)
            continue;
        QTableWidgetItem* quantity = m_lines->item(row, Quantity);
        const auto n = FieldText::parseNumber(quantity->text());
        quantity->setText(FieldText::number(n.value_or(0) + 1));
        m_lines->selectRow(row);
        return;
    }
    QString name;
    float onHand = 0;
    if (!runChange(this, [&] {
            name = deviceName(connection(), code);
            onHand = readStock(connection(), code).now;
        }))
        return;
    const int row = m_lines->rowCount();
    m_lines->insertRow(row);
    auto fixed = [](const QString& text, bool right = false) {
        auto* item = new QTableWidgetItem(text);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        if (right)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return item;
    };
    m_lines->setItem(row, Code, fixed(code));
    m_lines->setItem(row, Name, fixed(name));
    auto* quantity = new QTableWidgetItem(QStringLiteral("1"));
    quantity->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lines->setItem(row, Quantity, quantity);
    m_lines->setItem(row, OnHand, fixed(FieldText::number(onHand), true));
    m_lines->selectRow(row);
}

void CTransferOutDlg::removeLine()
{
    const int row = m_lines->currentRow();
    if (row >= 0)
        m_lines->removeRow(row);
}

void CTransferOutDlg::confirm()
{
    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    transfer::SendSlip slip;
    slip.target = m_target->currentText();
    slip.note = m_note->toPlainText();
    slip.user = context().userName;
    for (int row = 0; row < m_lines->rowCount(); ++row) {
        const QString code = m_lines->item(row, Code)->text();
        float quantity = 0;
        const QString problem =
            FieldCheck::numberProblem(m_lines->item(row, Quantity)->text(), quantity, 1, 10000);
        if (!problem.isEmpty()) {
            Messages::notice(QStringLiteral("设备 %1 的数量：%2").arg(code, problem), this);
            m_lines->setCurrentCell(row, Quantity);
            m_lines->setFocus();
            return;
        }
        slip.lines.push_back({code, quantity});
    }
    const transfer::Site own{context().department, context().connection};
    if (const QString problem = transfer::slipProblem(own, slip); !problem.isEmpty()) {
        Messages::notice(problem, this);
        (slip.target.isEmpty() ? static_cast<QWidget*>(m_target) : deviceList())->setFocus();
        return;
    }

    const transfer::Opener open = context().openDepartment
                                      ? transfer::Opener(context().openDepartment)
                                      : transfer::Opener([](const QString&) { return nullptr; });
    transfer::SendResult sent;
    transfer::Transfer slipText;
    if (!runChange(this, [&] {
            sent = transfer::send(own, context().classNumber, slip, open);
            if (sent.problem.isEmpty())
                slipText = transfer::sent(connection(), sent.id);
        }))
        return;
    if (!sent.problem.isEmpty()) {
        Messages::notice(sent.problem, this);
        return;
    }
    slipText.from = context().department;
    printHtml(transferSlipHtml(slipText), this);
    // The log entry is the core's, written with the transfer.
    Messages::notice(sent.delivered ? QStringLiteral("完成操作！")
                                    : QStringLiteral("完成操作！\r\n%1暂时无法连接，调拨单将在"
                                                     "下次登录或调拨操作时自动送达。")
                                          .arg(slip.target),
                     this);
    done(0);
}

} // namespace vok
