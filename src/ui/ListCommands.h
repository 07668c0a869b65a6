#pragma once

#include "core/ListExport.h"

#include <QString>

class QWidget;

namespace vok {

class CommandTable;
class RecordListView;
struct ReportLayout;

// Gives a form's list the commands every list has, after the form's own
// context-menu items: "打印预览…" when the form prints the list as a
// report (the report with the user name as preparer), and "导出…"
// (Ctrl+E), which saves what the list shows as a workbook or CSV file.
void offerListCommands(CommandTable& commands, RecordListView& list,
                       const ReportLayout* report = nullptr, const QString& userName = {});

// The export command: asks for the file (a workbook, or CSV), writes the
// list with a progress dialog that can cancel it and tells the user how
// it ended. suggestedName is the file name the dialog starts with,
// without its suffix.
void exportWithDialog(const ExportSource& source, const QString& suggestedName, QWidget* parent);

} // namespace vok
