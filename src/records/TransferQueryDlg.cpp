#include "records/TransferQueryDlg.h"

#include "core/Tables.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QTabWidget>

namespace vok {

namespace {

constexpr QueryControl kQueryOrder[] = {QueryControl::Field, QueryControl::Operator,
                                        QueryControl::Value};

using F = BrowserField;
// Each shows a column of the list.
constexpr BrowserField kSentFields[] = {
    {u"transferId", u"调拨单号", F::ReadOnly, 0, 0, 0},
    {u"department", u"调入部门", F::ReadOnly, 1, 1, 0},
    {u"sentAt", u"调出时间", F::ReadOnly, 2, 2, 0},
    {u"state", u"状态", F::ReadOnly, 5, 0, 1},
    {u"receivedAt", u"接收时间", F::ReadOnly, 7, 1, 1},
    {u"receiver", u"接收人", F::ReadOnly, 8, 2, 1},
};
constexpr BrowserField kReceivedFields[] = {
    {u"transferId", u"调拨单号", F::ReadOnly, 0, 0, 0},
    {u"department", u"调出部门", F::ReadOnly, 1, 1, 0},
    {u"sentAt", u"调出时间", F::ReadOnly, 2, 2, 0},
    {u"state", u"状态", F::ReadOnly, 5, 0, 1},
    {u"receivedAt", u"接收时间", F::ReadOnly, 6, 1, 1},
    {u"receiver", u"接收人", F::ReadOnly, 7, 2, 1},
};

using A = BrowserAction;
constexpr BrowserCommand kCommands[] = {
    {CTransferListDlg::IDC_QUERY, u"查　询", u"查询", A::Query},
    {CTransferListDlg::IDC_PRINT, u"打　印", u"打印", A::Print, 0, 0},
    {CommandTable::kHelp, u"帮　助", u"帮助", A::Help, 1, 0},
    {CommandTable::kExit, u"退　出", u"退出", A::Exit, 2, 0},
};
constexpr int kMenu[] = {CTransferListDlg::IDC_PRINT, CommandTable::kHelp, CommandTable::kExit,
                         CommandTable::kSeparator, CTransferListDlg::IDC_QUERY};

constexpr BrowserDescription kSent{
    .objectName = u"CTransferListDlg",
    .title = u"调出的调拨",
    .width = 440,
    .height = 300,
    .table = &tables::transferOut,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kSentFields,
    .buttonsBeside = true,
    .commands = kCommands,
    .menuOrder = kMenu,
    .defaultButton = CommandTable::kExit,
    .helpTopic = u"transferquery.htm",
};
constexpr BrowserDescription kReceived{
    .objectName = u"CTransferListDlg",
    .title = u"调入的调拨",
    .width = 440,
    .height = 300,
    .table = &tables::transferIn,
    .query = true,
    .queryOrder = kQueryOrder,
    .fields = kReceivedFields,
    .buttonsBeside = true,
    .commands = kCommands,
    .menuOrder = kMenu,
    .defaultButton = CommandTable::kExit,
    .helpTopic = u"transferquery.htm",
};

} // namespace

CTransferListDlg::CTransferListDlg(const FormContext& context, Side side, QWidget* parent)
    : RecordBrowser(side == Side::Sent ? kSent : kReceived, context, parent), m_side(side)
{
    using L = transfer::Listed;
    auto* row = new QHBoxLayout;
    const std::pair<QString, L> filters[] = {
        {QStringLiteral("全部"), L::All},
        {side == Side::Sent ? QStringLiteral("在途") : QStringLiteral("待接收"), L::Pending},
        {QStringLiteral("已接收"), L::Received},
        {QStringLiteral("有差异"), L::Differing}};
    const char* names[] = {"allTransfers", "pendingTransfers", "receivedTransfers",
                           "differingTransfers"};
    int n = 0;
    for (const auto& [caption, which] : filters) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(names[n++]));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, which = which] { showTransfers(which); });
        row->addWidget(b);
    }
    row->addStretch();
    if (auto* box = qobject_cast<QBoxLayout*>(layout()))
        box->insertLayout(0, row);
    readWhenOpened([this] {
        showTransfers(L::All);
        return true;
    });
}

void CTransferListDlg::showTransfers(transfer::Listed which)
{
    fillList(m_side == Side::Sent ? transfer::sentRows(which) : transfer::receivedRows(which));
}

CTransferQueryDlg::CTransferQueryDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_pages(new QTabWidget(this))
{
    setObjectName(QStringLiteral("CTransferQueryDlg"));
    setWindowTitle(QStringLiteral("调拨查询"));
    applyProgramStyle(this);
    m_pages->setObjectName(QStringLiteral("pages"));
    m_sent = new CTransferListDlg(context, CTransferListDlg::Side::Sent, m_pages);
    m_received = new CTransferListDlg(context, CTransferListDlg::Side::Received, m_pages);
    for (auto [page, caption, name] :
         {std::tuple{m_sent, QStringLiteral("调出"), "sent"},
          std::tuple{m_received, QStringLiteral("调入"), "received"}}) {
        // A page is a part of this window; its exit closes the window.
        page->setWindowFlags(Qt::Widget);
        page->setObjectName(QString::fromLatin1(name));
        m_pages->addTab(page, caption);
        connect(page, &QDialog::finished, this, [this](int result) { done(result); });
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_pages);
    resize(m_sent->size().expandedTo(QSize(760, 520)));
}

CTransferListDlg* CTransferQueryDlg::page(CTransferListDlg::Side side) const
{
    return side == CTransferListDlg::Side::Sent ? m_sent : m_received;
}

} // namespace vok
