#include "ui/LabelCommand.h"

#include "core/Departments.h"
#include "core/DeviceCatalogue.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/LabelPrint.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QPrinter>

namespace vok {

int writeLabels(const LabelRequest& request, QString* error)
{
    const LabelSheet* sheet = findLabelSheet(request.layout);
    if (!sheet) {
        *error = QStringLiteral("没有标签格式“%1”，可用：a4 label").arg(request.layout);
        return 2;
    }
    if (request.codes.isEmpty()) {
        *error = QStringLiteral("没有给出设备号。");
        return 2;
    }
    const std::optional<QString> cs =
        departmentConnectionString(request.department, QString(), QString());
    if (!cs) {
        *error = unknownDepartmentText(request.department);
        return 2;
    }
    QList<DeviceLabel> labels;
    QStringList unknown;
    try {
        const ConnectionPtr connection = openConnection(*cs);
        QHash<QString, QString> names;
        for (const auto& [code, name] : catalogueNames(*connection))
            names.insert(code, name);
        connection->close();
        for (const QString& code : request.codes) {
            if (!names.contains(code))
                unknown << code;
            labels << DeviceLabel{code, names.value(code)};
        }
    } catch (const DbError& e) {
        *error = comErrorText(e);
        return 1;
    }
    if (!unknown.isEmpty()) {
        *error = QStringLiteral("设备代码中没有设备号：%1").arg(unknown.join(QStringLiteral("、")));
        return 2;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(request.pdfFile);
    setUpLabelPrinter(printer, *sheet);
    if (!printLabels(printer, *sheet, labels, request.firstPosition - 1)) {
        QFile::remove(request.pdfFile);
        *error =
            QStringLiteral("无法写入文件“%1”。").arg(QDir::toNativeSeparators(request.pdfFile));
        return 1;
    }
    return 0;
}

} // namespace vok
