#pragma once

#include <QDate>
#include <QString>
#include <vector>

namespace vok {

// The two slips of the loans, as HTML for the printer (ui/HtmlPrint): the
// 借用单 given with a loan and the 催还单 that reminds a borrower of what is
// due. Both end with places for the signatures.
struct SlipLine
{
    QString code;
    QString name;
    QString quantity;
    QString lentAt;  // the reminder's lines only
    QString due;     // the reminder's lines only
    QString overdue; // the reminder's lines only: days late
};

struct LoanSlipText
{
    int loanId = 0;
    QString borrower;
    QString department;
    QString lentAt;
    QDate due;
    QString handler;
    QString note;
    std::vector<SlipLine> lines;
};

QString loanSlipHtml(const LoanSlipText& slip);
QString reminderHtml(const QString& borrower, const QString& department,
                     const std::vector<SlipLine>& lines, const QDate& today);

} // namespace vok
