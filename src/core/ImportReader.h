#pragma once

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

namespace vok {

// One cell of a file being imported: its text, and for a workbook's number
// cell the number too (a date may be stored as a serial number of days).
struct ImportCell
{
    QString text;
    bool isNumber = false;
    double number = 0;
};
using ImportRow = std::vector<ImportCell>;

// Reads the rows of a workbook (.xlsx: its first sheet) or a CSV file one
// at a time, never holding the file: a workbook's sheet is inflated and
// parsed as it is read, a CSV file decoded in blocks. CSV may be UTF-8
// (with or without a byte order mark) or GBK, told apart by the bytes;
// fields are separated by commas, semicolons or tabs, whichever the first
// line uses, and may be quoted, with line breaks inside the quotes.
// A file made to exhaust memory is refused as it is read, saying where: a
// cell longer than a spreadsheet's (32,767 characters), a row of more text
// than a mebi-character or of more than 16,384 columns, a workbook's shared
// strings past 160 MB held, a part inflating past 100 MB at more than 100
// times its compressed size. So is a workbook's cell that would read as
// empty: a shared string that is not there, a formula without its saved
// result, a part with a document type declaration (its entities).
// A file that cannot be read, or is refused, throws DbError (Kind::File)
// saying why in Chinese.
class ImportReader
{
public:
    virtual ~ImportReader();

    // Opens the file: a workbook when it is a zip archive, else CSV.
    static std::unique_ptr<ImportReader> open(const QString& fileName);

    // The next row that holds anything, its cells by column (an empty cell
    // as empty text; trailing empty cells may be left out). False at the
    // end of the file; throws where the file cannot be read on.
    virtual bool next(ImportRow& row) = 0;
    // The number of the row last read, as a spreadsheet numbers it (the
    // first row 1).
    qint64 rowNumber() const { return m_rowNumber; }
    // How far the reading is, in thousandths of the file.
    virtual int permille() const = 0;
    // What the file was read as: "Excel 工作簿", "CSV（UTF-8）", "CSV（GBK）".
    virtual QString kind() const = 0;

protected:
    qint64 m_rowNumber = 0;
};

// The reader given, read in a thread of its own a few thousand rows ahead
// of the caller: the file is taken apart while the rows before are checked.
std::unique_ptr<ImportReader> readAhead(std::unique_ptr<ImportReader> reader);

// The letters of a sheet's column: A … Z, AA …
QString sheetColumnName(int column);

// The date and time of a workbook's date serial number (days since
// 1899-12-30, the time as the fraction), to the nearest second; invalid
// outside the years 1900 to 9999.
QDateTime serialDateTime(double serial);

} // namespace vok
