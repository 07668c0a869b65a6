#include "ui/ListCommands.h"

#include "core/TableReport.h"
#include "db/DbError.h"
#include "ui/CommandTable.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"
#include "ui/RecordListView.h"

#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QProgressDialog>
#include <QStandardPaths>

namespace vok {

namespace {

const QString kWorkbookFilter = QStringLiteral("Excel 工作簿 (*.xlsx)");
const QString kCsvFilter = QStringLiteral("CSV 文件（逗号分隔，UTF-8）(*.csv)");

// The folder of the last export, where the next one starts.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

QString startFolder()
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir())
        return lastFolder();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace

void exportWithDialog(const ExportSource& source, const QString& suggestedName, QWidget* parent)
{
    QString filter;
    QString path = FileDialogs::saveFileName(
        parent, QStringLiteral("导出列表"),
        QDir(startFolder()).filePath(suggestedName + QStringLiteral(".xlsx")),
        {kWorkbookFilter, kCsvFilter}, &filter);
    if (path.isEmpty())
        return;
    // A name without a suffix gets the one of the chosen type.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != u"xlsx" && suffix != u"csv")
        path += filter == kCsvFilter ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    lastFolder() = QFileInfo(path).absolutePath();

    QProgressDialog progress(QStringLiteral("正在导出到“%1”…").arg(QFileInfo(path).fileName()),
                             QStringLiteral("取消"), 0, std::max(source.rows, 1), parent);
    progress.setWindowTitle(QStringLiteral("导出"));
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    bool written = false;
    try {
        written = exportList(source, path, exportFormatFor(path), [&](int rows) {
            progress.setValue(rows);
            return !progress.wasCanceled();
        });
    } catch (const DbError& e) {
        progress.close();
        Messages::show(
            QStringLiteral("无法导出到“%1”：\r\n%2").arg(QDir::toNativeSeparators(path), e.text()),
            QString(), Messages::Icon::Exclamation, Messages::Buttons::Ok, parent);
        return;
    }
    progress.close();
    if (written)
        Messages::show(QStringLiteral("已将%1行导出到“%2”。")
                           .arg(source.rows)
                           .arg(QDir::toNativeSeparators(path)),
                       QString(), Messages::Icon::None, Messages::Buttons::Ok, parent);
}

void offerListCommands(CommandTable& commands, RecordListView& list, const ReportLayout* report,
                       const QString& userName)
{
    QWidget* form = list.window();
    if (report)
        commands.addMenuExtra(QStringLiteral("打印预览…"), QKeySequence(),
                              [&list, report, userName, form] {
                                  previewTableReport(*list.records(), *report, userName, form);
                              });
    commands.addMenuExtra(
        QStringLiteral("导出…"), QKeySequence(Qt::CTRL | Qt::Key_E), [&list, report, form] {
            const QString name = report ? report->title.toString() : form->windowTitle();
            exportWithDialog(exportSourceOf(*list.records()), name, form);
        });
}

} // namespace vok
