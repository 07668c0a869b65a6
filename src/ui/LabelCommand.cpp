#include "ui/LabelCommand.h"

#include "core/CommandLine.h"
#include "core/DeviceCatalogue.h"
#include "core/LabelSymbol.h"
#include "core/OutputFile.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/LabelPrint.h"

#include <QDir>
#include <QHash>

namespace vok {

void writeLabels(const LabelRequest& request)
{
    const LabelSheet* sheet = findLabelSheet(request.layout);
    if (!sheet)
        CommandLine::refuse(QStringLiteral("没有标签格式“%1”，可用：a4 label").arg(request.layout));
    if (request.codes.isEmpty())
        CommandLine::refuse(QStringLiteral("没有给出设备号。"));
    for (const QString& code : request.codes)
        if (const QString problem = labelCodeProblem(code); !problem.isEmpty())
            CommandLine::refuse(problem);
    const CommandLine::Department department(request.department, QString());
    QHash<QString, QString> names;
    {
        const ConnectionPtr connection = department.open();
        for (const auto& [code, name] : catalogueNames(*connection))
            names.insert(code, name);
        connection->close();
    }
    QList<DeviceLabel> labels;
    QStringList unknown;
    for (const QString& code : request.codes) {
        if (!names.contains(code))
            unknown << shownCode(code);
        labels << DeviceLabel{code, names.value(code)};
    }
    if (!unknown.isEmpty())
        CommandLine::refuse(
            QStringLiteral("设备代码中没有设备号：%1").arg(unknown.join(QStringLiteral("、"))));
    OutputFile out(request.pdfFile);
    if (!writeLabelsPdf(out.writingName(), *sheet, labels, request.firstPosition - 1))
        throw DbError(
            DbError::Kind::File,
            QStringLiteral("无法写入文件“%1”。").arg(QDir::toNativeSeparators(request.pdfFile)));
    out.commitPdf();
}

} // namespace vok
