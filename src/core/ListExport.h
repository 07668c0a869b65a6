#pragma once

#include <QString>
#include <functional>

class QAbstractItemModel;

namespace vok {

class RecordListModel;

// What a list shows, as an export reads it: its headings and the text of
// each cell, top row first; numeric columns are written to a workbook as
// numbers.
struct ExportSource
{
    int rows = 0;
    int columns = 0;
    std::function<QString(int column)> heading;
    std::function<QString(int row, int column)> text;
    std::function<bool(int column)> numeric;
    // Optional: the value of a numeric column's cell, whose text is that
    // value printed "%f" (a record list's numbers); the workbook then
    // formats it itself instead of reading the text back.
    std::function<float(int row, int column)> number;
};

// A record list: its single-precision columns are numeric.
ExportSource exportSourceOf(const RecordListModel& list);
// Any list model: the display texts, every column text.
ExportSource exportSourceOf(const QAbstractItemModel& model);

enum class ExportFormat
{
    Xlsx,
    Csv
};
// By the file name's suffix: ".csv" is CSV, anything else a workbook.
ExportFormat exportFormatFor(const QString& fileName);

// The most rows a worksheet takes below its header row.
constexpr int kMaxWorkbookRows = 1048575;

// Told how many rows are written, now and then; returning false cancels.
using ExportProgress = std::function<bool(int rowsWritten)>;

// Writes the list to the file, row by row, without holding it in memory:
// a workbook (.xlsx) with a bold frozen header row, columns as wide as
// their texts and numeric columns as numbers, or CSV (UTF-8 with a byte
// order mark, fields quoted where needed, CRLF line ends). The file is
// written beside its final name and put in place only when complete, so
// a cancelled or failed export leaves no file (and an earlier file of
// that name as it was). False when cancelled; a failure (no room, no
// such folder, too many rows for a worksheet) throws DbError.
bool exportList(const ExportSource& source, const QString& fileName, ExportFormat format,
                const ExportProgress& progress = {});

// How wide a text is in a worksheet's character units: a Chinese (wide)
// character counts two.
int displayWidth(const QString& text);

// True for the characters by which a spreadsheet takes a CSV field for a
// formula (=, +, -, @, a tab, a carriage return): the export writes such a
// text after a single quote, the import takes that quote away.
bool csvFormulaStart(QChar c);

} // namespace vok
