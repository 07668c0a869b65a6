#include "ui/HtmlPrint.h"

#include "ui/PrintReport.h"

#include <QPrinter>
#include <QTextDocument>

namespace vok {

bool printHtml(const QString& html, QWidget* parent)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("仓库管理系统"));
    if (!PrintService::choosePrinter(printer, parent))
        return false;
    QTextDocument doc;
    doc.setHtml(html);
    doc.print(&printer);
    return true;
}

} // namespace vok
