#include "core/LoanSlip.h"

namespace vok {

namespace {

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString page(const QString& title, const QString& head, const QStringList& headings,
             const QList<QStringList>& rows, const QString& foot)
{
    QString html = QStringLiteral("<html><body style=\"font-family:'AR PL UMing CN'; "
                                  "font-size:11pt\"><h2 align=\"center\">%1</h2>%2"
                                  "<table border=\"1\" cellspacing=\"0\" cellpadding=\"5\" "
                                  "width=\"100%\"><tr>")
                       .arg(esc(title), head);
    for (const QString& h : headings)
        html += QStringLiteral("<th>%1</th>").arg(esc(h));
    html += QStringLiteral("</tr>");
    for (const QStringList& row : rows) {
        html += QStringLiteral("<tr>");
        for (const QString& cell : row)
            html += QStringLiteral("<td>%1</td>").arg(esc(cell));
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>") + foot + QStringLiteral("</body></html>");
}

QString signatures(const QString& left, const QString& right)
{
    return QStringLiteral("<p>&nbsp;</p><table width=\"100%\" cellpadding=\"8\"><tr>"
                          "<td>%1：______________</td><td>%2：______________</td></tr>"
                          "<tr><td>日期：______________</td><td>日期：______________</td></tr>"
                          "</table>")
        .arg(esc(left), esc(right));
}

} // namespace

QString loanSlipHtml(const LoanSlipText& slip)
{
    const QString head =
        QStringLiteral("<p>单号：%1　　借用人：%2　　部门：%3</p><p>借出时间：%4　　应还日期：%5"
                       "　　经手人：%6</p>")
            .arg(slip.loanId)
            .arg(esc(slip.borrower), esc(slip.department), esc(slip.lentAt),
                 slip.due.toString(QStringLiteral("yyyy-MM-dd")), esc(slip.handler));
    QList<QStringList> rows;
    int n = 0;
    for (const SlipLine& l : slip.lines)
        rows << QStringList{QString::number(++n), l.code, l.name, l.quantity};
    QString foot;
    if (!slip.note.isEmpty())
        foot = QStringLiteral("<p>备注：%1</p>").arg(esc(slip.note));
    foot += signatures(QStringLiteral("借用人签字"), QStringLiteral("经手人签字"));
    return page(QStringLiteral("借用单"), head,
                {QStringLiteral("序号"), QStringLiteral("设备号"), QStringLiteral("设备名"),
                 QStringLiteral("数量")},
                rows, foot);
}

QString reminderHtml(const QString& borrower, const QString& department,
                     const std::vector<SlipLine>& lines, const QDate& today)
{
    const QString head =
        QStringLiteral("<p>%1%2：</p><p>截至 %3，您借用的下列设备应归还，"
                       "请尽快送还仓库。</p>")
            .arg(esc(borrower),
                 department.isEmpty() ? QString() : QStringLiteral("（%1）").arg(esc(department)),
                 today.toString(QStringLiteral("yyyy-MM-dd")));
    QList<QStringList> rows;
    for (const SlipLine& l : lines)
        rows << QStringList{l.code, l.name, l.quantity, l.lentAt, l.due, l.overdue};
    return page(QStringLiteral("催还单"), head,
                {QStringLiteral("设备号"), QStringLiteral("设备名"), QStringLiteral("未还数量"),
                 QStringLiteral("借出时间"), QStringLiteral("应还日期"),
                 QStringLiteral("逾期天数")},
                rows, signatures(QStringLiteral("借用人签字"), QStringLiteral("仓库管理员签字")));
}

} // namespace vok
