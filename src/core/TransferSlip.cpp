#include "core/TransferSlip.h"

#include <QLocale>

namespace vok {

namespace {

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString quantityText(double q)
{
    return QLocale::c().toString(q, 'g', 12);
}

// The amount of a line in yuan to the cent; empty without a unit cost.
QString amountText(const QString& unitCost, double quantity, double* total)
{
    bool ok = false;
    const double cost = unitCost.toDouble(&ok);
    if (!ok)
        return {};
    const double amount = cost * quantity;
    *total += amount;
    return QString::number(amount, 'f', 2);
}

QString cell(const QString& text, bool right = false)
{
    return right ? QStringLiteral("<td align=\"right\">%1</td>").arg(esc(text))
                 : QStringLiteral("<td>%1</td>").arg(esc(text));
}

} // namespace

QString transferSlipHtml(const transfer::Transfer& t)
{
    QString html =
        QStringLiteral("<html><body style=\"font-family:'AR PL UMing CN'; font-size:11pt\">"
                       "<h2 align=\"center\">调拨单</h2>"
                       "<table width=\"100%\" cellpadding=\"3\">"
                       "<tr><td colspan=\"2\">调拨单号：%1</td></tr>"
                       "<tr><td>调出部门：%2</td><td>调入部门：%3</td></tr>"
                       "<tr><td>调出时间：%4</td><td>经手人：%5</td></tr></table><p></p>"
                       "<table border=\"1\" cellspacing=\"0\" cellpadding=\"5\" width=\"100%\">"
                       "<tr><th>序号</th><th>设备号</th><th>设备名</th><th>数量</th>"
                       "<th>单价（元）</th><th>金额（元）</th></tr>")
            .arg(esc(t.id), esc(t.from), esc(t.to), esc(t.sentAt), esc(t.sender));
    double units = 0;
    double total = 0;
    bool anyAmount = false;
    for (const transfer::Line& l : t.lines) {
        const QString amount = amountText(l.unitCost, l.quantity, &total);
        anyAmount = anyAmount || !amount.isEmpty();
        units += l.quantity;
        html += QStringLiteral("<tr>") + cell(QString::number(l.number), true) + cell(l.code) +
                cell(l.name) + cell(quantityText(l.quantity), true) + cell(l.unitCost, true) +
                cell(amount, true) + QStringLiteral("</tr>");
    }
    html += QStringLiteral("<tr><td colspan=\"3\" align=\"center\">合计</td>") +
            cell(quantityText(units), true) + cell(QString()) +
            cell(anyAmount ? QString::number(total, 'f', 2) : QString(), true) +
            QStringLiteral("</tr></table>");
    if (!t.note.isEmpty())
        html += QStringLiteral("<p>备注：%1</p>").arg(esc(t.note));
    html +=
        QStringLiteral("<p>&nbsp;</p><table width=\"100%\" cellpadding=\"8\"><tr>"
                       "<td>发货人：______________</td><td>收货人：______________</td></tr>"
                       "<tr><td>日期：______________</td><td>日期：______________</td></tr></table>"
                       "</body></html>");
    return html;
}

} // namespace vok
