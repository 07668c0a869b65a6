#include "ui/SummaryCommand.h"

#include "core/Clock.h"
#include "core/CommandLine.h"
#include "core/ListExport.h"
#include "core/PeriodSummary.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/PrintReport.h"

#include <QDate>
#include <QDir>
#include <QFile>

#include <optional>

namespace vok {

namespace {

QDate monthOf(const QString& text)
{
    const QDate d =
        QDate::fromString(text.trimmed() + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd"));
    return d.isValid() ? d
                       : QDate::fromString(text.trimmed() + QStringLiteral("-01"),
                                           QStringLiteral("yyyy-M-dd"));
}

} // namespace

void writeSummaryReport(const SummaryRequest& request)
{
    const QStringList parts = request.months.split(QStringLiteral(".."));
    const QDate first = monthOf(parts.value(0));
    const QDate last = parts.size() == 2 ? monthOf(parts.value(1)) : first;
    if (parts.size() > 2 || !first.isValid() || !last.isValid())
        CommandLine::refuse(QStringLiteral("“%1”不是月份，应写作 YYYY-MM 或 YYYY-MM..YYYY-MM。")
                                .arg(request.months));
    if (last < first)
        CommandLine::refuse(QStringLiteral("结束的月份不能早于开始的月份。"));
    const int files = int(!request.pdfFile.isEmpty()) + int(!request.xlsxFile.isEmpty()) +
                      int(!request.csvFile.isEmpty());
    if (files != 1)
        CommandLine::refuse(QStringLiteral("需要 --pdf、--xlsx 或 --csv 中的一个（及文件名）。"));
    const CommandLine::Department department(request.department, request.preparer);

    const QDate to = last.addMonths(1).addDays(-1);
    const QString title = PeriodSummary::rangeName(first, to) + QStringLiteral("收发存汇总表");
    ReportLayout layout = PeriodSummary::report();
    layout.title = title;
    layout.underlineEnd = PeriodSummary::titleEnd(title);
    // The PDF's fonts load while the movements are summed.
    std::optional<ReportFontLoader> fonts;
    if (!request.pdfFile.isEmpty())
        fonts.emplace(layout);
    const ConnectionPtr connection = department.open();
    const QList<QStringList> rows =
        PeriodSummary::texts(PeriodSummary::read(*connection, first, to));
    if (fonts) {
        fonts->wait();
        if (!writeTableReportPdf(
                request.pdfFile, layout, int(rows.size()),
                [&rows](int r, int c) { return rows.at(r).value(c); }, request.preparer,
                Clock::now())) {
            QFile::remove(request.pdfFile);
            throw DbError(DbError::Kind::File, QStringLiteral("无法写入文件“%1”。")
                                                   .arg(QDir::toNativeSeparators(request.pdfFile)));
        }
        return;
    }
    const bool csv = !request.csvFile.isEmpty();
    exportList(PeriodSummary::exportSource(PeriodSummary::columns(), rows),
               csv ? request.csvFile : request.xlsxFile,
               csv ? ExportFormat::Csv : ExportFormat::Xlsx);
}

} // namespace vok
