#include "movements/TransferOutDlg.h"

#include "core/Departments.h"
#include "core/Tables.h"
#include "core/TransferSlip.h"
#include "core/Transfers.h"
#include "db/Schema.h"
#include "ui/FieldExchange.h"
#include "ui/HtmlPrint.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"
#include "ui/ScannedLines.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace vok {

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

    m_lines = new ScannedLines(context.connection, QStringLiteral("调拨清单"), this);
    m_lines->setMinimumSize(420, 170);
    addRow(QStringLiteral("调拨清单"), m_lines);
    addRow(QString(), m_lines->removeButton());

    m_note = addMultiLineEdit(QStringLiteral("note"), QStringLiteral("备注"));
    limitText(m_note, tables::transferOut, schema::TransferOut.indexOf(u"note"));
    addButtons(IDC_CONFIRM, QStringLiteral("transferout.htm"));
}

// A scan (or a choice from the list) adds one unit; the scan field keeps
// the focus for the next.
void CTransferOutDlg::deviceListClosedUp()
{
    m_lines->addScanned(lookUpCode(), deviceList());
}

void CTransferOutDlg::confirm()
{
    if (refuseIfReadOnly(context().classNumber, RefusalText::WithLineBreak, this))
        return;
    transfer::SendSlip slip;
    slip.target = m_target->currentText();
    slip.note = m_note->toPlainText();
    slip.user = context().userName;
    const auto lines = m_lines->checkedLines(
        tables::transferOutLine.rule(schema::TransferOutLine.indexOf(u"quantity")));
    if (!lines)
        return;
    for (const ScannedLines::Line& line : *lines)
        slip.lines.push_back({line.code, line.quantity});
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
