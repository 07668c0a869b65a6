#include "core/ListExport.h"

#include "core/OutputFile.h"
#include "core/RecordListModel.h"
#include "core/ZipWriter.h"
#include "db/DbError.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <cerrno>
#include <unistd.h>

namespace vok {

namespace {

constexpr int kProgressEvery = 4096;
constexpr int kMaxColumnWidth = 60;

bool isWide(char32_t c)
{
    // East Asian wide and full-width ranges.
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The file cannot be made or put in place in its folder.
[[noreturn]] void failInFolder(const QString& fileName)
{
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    if (!folder.exists() || !folder.isDir())
        throw DbError(
            DbError::Kind::File,
            QStringLiteral("文件夹“%1”不存在。").arg(QDir::toNativeSeparators(folder.filePath())));
    throw DbError(DbError::Kind::File,
                  QStringLiteral("不能在文件夹“%1”中建立文件（没有写入权限或磁盘已满）。")
                      .arg(QDir::toNativeSeparators(folder.filePath())));
}

// A character in UTF-8.
char* putUtf8(char* p, char32_t c)
{
    if (c < 0x80) {
        *p++ = char(c);
    } else if (c < 0x800) {
        *p++ = char(0xC0 | (c >> 6));
        *p++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *p++ = char(0xE0 | (c >> 12));
        *p++ = char(0x80 | ((c >> 6) & 0x3F));
        *p++ = char(0x80 | (c & 0x3F));
    } else {
        *p++ = char(0xF0 | (c >> 18));
        *p++ = char(0x80 | ((c >> 12) & 0x3F));
        *p++ = char(0x80 | ((c >> 6) & 0x3F));
        *p++ = char(0x80 | (c & 0x3F));
    }
    return p;
}

// The character at s[i] (a surrogate pair read whole, i moved past its
// first half; a lone surrogate as U+FFFD).
char32_t characterAt(const char16_t* s, qsizetype n, qsizetype& i)
{
    const char32_t c = s[i];
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]))
        return QChar::surrogateToUcs4(char16_t(c), s[++i]);
    return QChar::isSurrogate(c) ? 0xFFFD : c;
}

// A number as a list prints it ("%f" in Qt's way): six decimals, a value
// exactly halfway between two of them rounded away from zero.
char* printFixed6(char* first, char* last, float number)
{
    auto value = double(number);
    // Halfway when value × 2·10⁶ is an odd integer (exact in double for a
    // single-precision value).
    const double scaled = value * 2e6;
    if (scaled == std::trunc(scaled) && std::fmod(scaled, 2.0) != 0)
        value = std::nextafter(value, value > 0 ? HUGE_VAL : -HUGE_VAL);
    return std::to_chars(first, last, value, std::chars_format::fixed, 6).ptr;
}

// True when a text begins as a spreadsheet's formula does (=, +, -, @, a
// tab or a carriage return) and is no number: written as it is, a spreadsheet
// opening the file would run it.
bool formulaLike(QStringView text)
{
    if (text.isEmpty() || !csvFormulaStart(text.front()))
        return false;
    bool number = false;
    (void)text.toDouble(&number);
    return !number;
}

// One CSV field: quoted when it holds a comma, a quote or a line break,
// quotes doubled; a text that a spreadsheet would take for a formula (or
// that begins with the quote that marks one) after a single quote, so that
// it opens as text.
void appendCsvField(QByteArray& out, const QString& text)
{
    const auto* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    const bool quote = std::any_of(
        s, s + n, [](char16_t c) { return c == u',' || c == u'"' || c == u'\n' || c == u'\r'; });
    const bool guard =
        formulaLike(text) || (n > 1 && s[0] == u'\'' && csvFormulaStart(QChar(s[1])));
    // At most three bytes a UTF-16 unit, two for a doubled quote.
    const qsizetype at = out.size();
    out.resize(at + 3 * n + 3);
    char* p = out.data() + at;
    if (quote)
        *p++ = '"';
    if (guard)
        *p++ = '\'';
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == u'"')
            *p++ = '"';
        p = putUtf8(p, characterAt(s, n, i));
    }
    if (quote)
        *p++ = '"';
    out.resize(p - out.data());
}

bool writeCsv(const ExportSource& source, const QString& fileName, const ExportProgress& progress)
{
    // Written under a temporary name and renamed when whole; a target that
    // is no plain file (a device, a pipe) is written into. Unbuffered, so
    // that every write that fails is seen.
    const QFileInfo info(fileName);
    const bool inPlace = info.exists() && !info.isFile();
    QSaveFile saved(fileName);
    QFile direct(fileName);
    QFileDevice& file = inPlace ? static_cast<QFileDevice&>(direct) : saved;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        failInFolder(fileName);
    const auto cancel = [&] {
        if (!inPlace)
            saved.cancelWriting();
    };
    QByteArray chunk("\xEF\xBB\xBF");
    chunk.reserve(1 << 20);
    // Numbers the list holds as values are printed here, as the list does.
    std::vector<bool> printed(size_t(source.columns), false);
    for (int c = 0; c < source.columns && source.number; ++c)
        printed[size_t(c)] = source.numeric && source.numeric(c);
    char number[64];
    auto writeRow = [&](int r) {
        for (int c = 0; c < source.columns; ++c) {
            if (c)
                chunk += ',';
            if (r < 0) {
                appendCsvField(chunk, source.heading(c));
                continue;
            }
            const float value = printed[size_t(c)] ? source.number(r, c) : 0.0f;
            if (printed[size_t(c)] && std::isfinite(value))
                chunk.append(number, printFixed6(number, number + sizeof number, value) - number);
            else
                appendCsvField(chunk, source.text(r, c));
        }
        chunk += "\r\n";
    };
    QString why;
    auto flush = [&] {
        errno = 0;
        const bool ok = file.write(chunk) == chunk.size();
        if (!ok)
            why = errno ? qt_error_string(errno) : file.errorString();
        chunk.resize(0); // (keeps the buffer)
        return ok;
    };
    bool written = true;
    writeRow(-1);
    for (int r = 0; r < source.rows; ++r) {
        writeRow(r);
        if (chunk.size() >= (1 << 20) && !(written = flush()))
            break;
        if ((r + 1) % kProgressEvery == 0 && progress && !progress(r + 1)) {
            cancel();
            return false;
        }
    }
    written = written && flush();
    // On the disk before it replaces the file before: a full disk may be
    // told only now.
    if (written && !inPlace && ::fsync(saved.handle()) != 0) {
        why = qt_error_string(errno);
        written = false;
    }
    if (written && !inPlace && !saved.commit()) {
        why = saved.errorString();
        written = false;
    }
    if (!written) {
        cancel();
        throw DbError(DbError::Kind::File, writeFailureText(why));
    }
    if (progress)
        progress(source.rows);
    return true;
}

// ---- Workbook (.xlsx): a zip archive of XML parts (zlib, ISA-L) ----

template <size_t N> char* put(char* p, const char (&s)[N])
{
    std::memcpy(p, s, N - 1);
    return p + N - 1;
}

char* put(char* p, std::string_view s)
{
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

char* putHex4(char* p, char32_t c)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        *p++ = digits[(c >> shift) & 0xF];
    return p;
}

// The escape by which workbooks hold characters that XML cannot: _xHHHH_.
char* putCharEscape(char* p, char32_t c)
{
    p = put(p, "_x");
    p = putHex4(p, c);
    *p++ = '_';
    return p;
}

bool isHexDigit(char16_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The most bytes putXmlText() writes for one UTF-16 unit.
constexpr size_t kXmlBytesPerUnit = 7;

// Appends a text as XML character data in UTF-8 and adds its display width:
// &, < and > as entities; control characters other than tab and line feed,
// and U+FFFE/U+FFFF, as _xHHHH_; an underscore that would read as the
// start of such an escape as _x005F_ (so "_x0041_" stays itself); a lone
// surrogate as U+FFFD.
char* putXmlText(char* p, const char16_t* s, qsizetype n, int& width)
{
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            ++width;
            if (c >= 0x20 && c != '&' && c != '<' && c != '>' && c != '_') {
                *p++ = char(c);
            } else if (c == '&') {
                p = put(p, "&amp;");
            } else if (c == '<') {
                p = put(p, "&lt;");
            } else if (c == '>') {
                p = put(p, "&gt;");
            } else if (c == '\t' || c == '\n') {
                *p++ = char(c);
            } else if (c == '_') {
                const bool escapeLike = i + 6 < n && s[i + 1] == 'x' && isHexDigit(s[i + 2]) &&
                                        isHexDigit(s[i + 3]) && isHexDigit(s[i + 4]) &&
                                        isHexDigit(s[i + 5]) && s[i + 6] == '_';
                p = escapeLike ? putCharEscape(p, c) : put(p, "_");
            } else {
                p = putCharEscape(p, c);
            }
            continue;
        }
        c = characterAt(s, n, i);
        width += isWide(c) ? 2 : 1;
        p = c == 0xFFFE || c == 0xFFFF ? putCharEscape(p, c) : putUtf8(p, c);
    }
    return p;
}

// A column's letters: A … Z, AA …
std::string columnName(int column)
{
    std::string name;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), char('A' + (n - 1) % 26));
    return name;
}

constexpr char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr char kContentTypes[] =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/xl/workbook.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
    "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
    "<Override PartName=\"/xl/styles.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
    "</Types>";

constexpr char kPackageRelations[] =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"xl/workbook.xml\"/></Relationships>";

constexpr char kWorkbookRelations[] =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
    "Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
    "Target=\"styles.xml\"/></Relationships>";

constexpr char kWorkbook[] =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
    "<bookViews><workbookView xWindow=\"240\" yWindow=\"15\" windowWidth=\"16095\" "
    "windowHeight=\"9660\"/></bookViews>"
    "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";

// Cell styles: 0 plain, 1 bold (the header row), 2 numbers with six
// decimals.
constexpr char kStyles[] =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"0.000000\"/></numFmts>"
    "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
    "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
    "borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
    "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
    "applyNumberFormat=\"1\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

constexpr char kSheetEnd[] = "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" "
                             "bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/></worksheet>";

// The worksheet up to its first row: the frozen header row and the column
// widths (a width in characters, plus the padding spreadsheets add),
// padded with blanks to `length` when given.
std::string sheetHead(const std::vector<std::string>& names, int rows,
                      const std::vector<int>& widths, size_t length = 0)
{
    std::string head = kXmlDeclaration;
    head += "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
    const std::string last = names.empty() ? "A" : names.back();
    head += "<dimension ref=\"A1";
    if (names.size() > 1 || rows > 0)
        head += ':' + last + std::to_string(rows + 1);
    head +=
        "\"/><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"><pane ySplit=\"1\" "
        "topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/><selection "
        "pane=\"bottomLeft\"/></sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    if (!widths.empty()) {
        head += "<cols>";
        for (size_t c = 0; c < widths.size(); ++c) {
            const std::string n = std::to_string(c + 1);
            head += "<col min=\"" + n + "\" max=\"" + n + "\" width=\"" +
                    std::to_string(std::min(widths[c], kMaxColumnWidth) + 2) +
                    ".7109375\" customWidth=\"1\"/>";
        }
        head += "</cols>";
    }
    head += "<sheetData";
    if (head.size() + 1 < length)
        head.append(length - head.size() - 1, ' ');
    head += '>';
    return head;
}

// Appends the rows of the sheet, cell by cell, each with its reference.
class RowWriter
{
public:
    RowWriter(SheetStream& out, const std::vector<std::string>& names) : m_out(out), m_names(names)
    {
    }
    void begin(int row)
    {
        m_row.assign(std::to_string(row + 1));
        char* p = m_out.reserve(32);
        p = put(p, "<row r=\"");
        p = put(p, m_row);
        p = put(p, "\">");
        m_out.commit(p);
    }
    void end()
    {
        char* p = m_out.reserve(8);
        m_out.commit(put(p, "</row>"));
    }
    // A text cell (an empty one is left out, unless styled: a blank).
    void text(int column, const QString& text, char style, int& width)
    {
        if (text.isEmpty() && !style)
            return;
        const auto n = size_t(text.size());
        char* p = m_out.reserve(n * kXmlBytesPerUnit + 96);
        p = start(p, column);
        if (style) {
            p = put(p, " s=\"");
            *p++ = style;
            *p++ = '"';
        }
        if (text.isEmpty()) {
            m_out.commit(put(p, "/>"));
            return;
        }
        const QChar first = text.front();
        const QChar last = text.back();
        const bool keepSpaces = first == u' ' || first == u'\t' || first == u'\n' || last == u' ' ||
                                last == u'\t' || last == u'\n';
        p = keepSpaces ? put(p, " t=\"inlineStr\"><is><t xml:space=\"preserve\">")
                       : put(p, " t=\"inlineStr\"><is><t>");
        p = putXmlText(p, reinterpret_cast<const char16_t*>(text.utf16()), text.size(), width);
        m_out.commit(put(p, "</t></is></c>"));
    }
    // A number cell with six decimals; value is its text in XML's number
    // form.
    void number(int column, std::string_view value)
    {
        char* p = m_out.reserve(value.size() + 64);
        p = start(p, column);
        p = put(p, " s=\"2\"><v>");
        p = put(p, value);
        m_out.commit(put(p, "</v></c>"));
    }

private:
    char* start(char* p, int column) const
    {
        p = put(p, "<c r=\"");
        p = put(p, m_names[size_t(column)]);
        p = put(p, m_row);
        return put(p, "\"");
    }

    SheetStream& m_out;
    const std::vector<std::string>& m_names;
    std::string m_row;
};

// The parts of the package before the sheet, then the start of the sheet
// (its head a placeholder of the widest columns, rewritten at the end).
void beginPackage(ZipWriter& zip, const std::string& placeholder)
{
    const auto part = [](const char* xml) { return std::string(kXmlDeclaration) + xml; };
    zip.add("[Content_Types].xml", part(kContentTypes));
    zip.add("_rels/.rels", part(kPackageRelations));
    zip.add("xl/workbook.xml", part(kWorkbook));
    zip.add("xl/_rels/workbook.xml.rels", part(kWorkbookRelations));
    zip.add("xl/styles.xml", part(kStyles));
    zip.beginStream("xl/worksheets/sheet1.xml", placeholder);
}

// One cell of a numeric column as a number, when it is one: the value a
// record list holds, else the text read as a number (a figure kept as
// text). False when the cell is to be written as text.
bool writeNumber(RowWriter& cells, const ExportSource& source, int r, int c, int& width)
{
    char number[64];
    if (source.number) {
        const float value = source.number(r, c);
        if (std::isfinite(value)) {
            // The text the list shows is the cell's value, written without
            // its trailing zeros.
            const char* end = printFixed6(number, number + sizeof number, value);
            width = std::max(width, int(end - number));
            while (end[-1] == '0')
                --end;
            if (end[-1] == '.')
                --end;
            cells.number(c, std::string_view(number, size_t(end - number)));
            return true;
        }
    }
    const QString text = source.text(r, c);
    bool ok = false;
    const double value = text.isEmpty() ? 0 : text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return false;
    width = std::max(width, displayWidth(text.trimmed()));
    const auto end = std::to_chars(number, number + sizeof number, value).ptr;
    cells.number(c, std::string_view(number, size_t(end - number)));
    return true;
}

// The header row and every row of the list; false when cancelled.
bool writeRows(SheetStream& sheet, const ExportSource& source,
               const std::vector<std::string>& names, std::vector<int>& widths,
               const ExportProgress& progress)
{
    const int columns = source.columns;
    std::vector<bool> numeric(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c)
        numeric[size_t(c)] = source.numeric && source.numeric(c);
    RowWriter cells(sheet, names);
    cells.begin(0);
    for (int c = 0; c < columns; ++c)
        cells.text(c, source.heading(c), '1', widths[size_t(c)]);
    cells.end();
    for (int r = 0; r < source.rows; ++r) {
        cells.begin(r + 1);
        for (int c = 0; c < columns; ++c) {
            int& width = widths[size_t(c)];
            if (numeric[size_t(c)] && writeNumber(cells, source, r, c, width))
                continue;
            int textWidth = 0;
            cells.text(c, source.text(r, c), 0, textWidth);
            width = std::max(width, textWidth);
        }
        cells.end();
        if ((r + 1) % kProgressEvery == 0 && progress && !progress(r + 1))
            return false;
    }
    return true;
}

bool writeXlsx(const ExportSource& source, const QString& fileName, const ExportProgress& progress)
{
    if (source.rows > kMaxWorkbookRows)
        throw DbError(
            DbError::Kind::Refused,
            QStringLiteral("列表有%1行，超过了 Excel 工作表能容纳的%2行，请导出为 CSV 文件。")
                .arg(source.rows)
                .arg(kMaxWorkbookRows));
    // Written beside the target under a temporary name and put in place
    // when whole and on the disk.
    OutputFile output(fileName);
    QFile made(output.writingName());
    if (!made.open(QIODevice::WriteOnly))
        failInFolder(fileName);
    const int fd = made.handle();

    const int columns = source.columns;
    std::vector<std::string> names(static_cast<size_t>(columns));
    std::vector<int> widths(size_t(columns), 0);
    for (int c = 0; c < columns; ++c)
        names[size_t(c)] = columnName(c);
    ZipWriter zip(fd);
    const std::string placeholder =
        sheetHead(names, source.rows, std::vector<int>(size_t(columns), kMaxColumnWidth));
    beginPackage(zip, placeholder);

    SheetStream sheet(fd);
    if (!writeRows(sheet, source, names, widths, progress))
        return false;
    char* end = sheet.reserve(sizeof kSheetEnd);
    sheet.commit(put(end, kSheetEnd));
    sheet.finish();
    zip.endStream(sheetHead(names, source.rows, widths, placeholder.size()), sheet);
    zip.finish();
    made.close();
    output.commit();
    if (progress)
        progress(source.rows);
    return true;
}

} // namespace

bool csvFormulaStart(QChar c)
{
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

int displayWidth(const QString& text)
{
    int width = 0;
    for (char32_t c : text.toUcs4())
        width += isWide(c) ? 2 : 1;
    return width;
}

ExportSource exportSourceOf(const RecordListModel& list)
{
    ExportSource s;
    s.rows = list.countAll();
    s.columns = list.columnCount();
    s.heading = [&list](int c) { return list.columns()[size_t(c)].heading; };
    s.text = [&list](int r, int c) { return list.text(r, c); };
    s.numeric = [&list](int c) { return list.columns()[size_t(c)].kind != ListColumn::Text; };
    // A figure's text is read as a number by the workbook itself.
    s.number = [&list](int r, int c) {
        return list.columns()[size_t(c)].kind == ListColumn::Single
                   ? list.value(r, c).toFloat()
                   : std::numeric_limits<float>::quiet_NaN();
    };
    return s;
}

ExportSource exportSourceOf(const QAbstractItemModel& model)
{
    ExportSource s;
    s.rows = model.rowCount();
    s.columns = model.columnCount();
    s.heading = [&model](int c) { return model.headerData(c, Qt::Horizontal).toString(); };
    s.text = [&model](int r, int c) { return model.index(r, c).data().toString(); };
    s.numeric = [](int) { return false; };
    return s;
}

ExportFormat exportFormatFor(const QString& fileName)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
               ? ExportFormat::Csv
               : ExportFormat::Xlsx;
}

namespace {

// Rows of a list taken ahead of the file's writer: the calling thread reads
// the list (a long list reads its rows from the database) while the writer,
// on a thread of its own, formats and compresses them. The blocks are as
// long as the writer's progress steps, so the writer asks whether to go on
// exactly when it would need a block the reader may have held back.
class RowsAhead
{
public:
    struct Block
    {
        int first = 0;
        int rows = 0;
        // Row by row, every column: a cell's text is chars[starts[i],
        // starts[i + 1]) (one buffer, so that the writer allocates nothing).
        std::vector<char16_t> chars;
        std::vector<size_t> starts;
        std::vector<float> numbers;

        QString text(size_t cell) const
        {
            return QString::fromRawData(reinterpret_cast<const QChar*>(chars.data()) + starts[cell],
                                        qsizetype(starts[cell + 1] - starts[cell]));
        }
    };

    // The reader's side: false once the writer has stopped.
    bool put(Block block)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_blocks.size() < kBlocksAhead || m_stopped; });
        if (m_stopped)
            return false;
        m_blocks.push_back(std::move(block));
        m_changed.notify_all();
        return true;
    }
    void close(bool cancelled)
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_cancelled = cancelled;
        m_changed.notify_all();
    }
    // The writer's side.
    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }
    // Waits for the next block or the end; false when the reader was
    // cancelled.
    bool goOn()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_blocks.empty() || m_closed; });
        return m_blocks.empty() ? !m_cancelled : true;
    }
    const Block& blockOf(int row)
    {
        if (row >= m_current.first + m_current.rows) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_blocks.empty() || m_closed; });
            if (m_blocks.empty())
                return m_current = Block{row, 0, {}, {}, {}};
            m_current = std::move(m_blocks.front());
            m_blocks.pop_front();
            m_changed.notify_all();
        }
        return m_current;
    }

private:
    static constexpr size_t kBlocksAhead = 4;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_blocks;
    Block m_current;
    bool m_closed = false;
    bool m_cancelled = false;
    bool m_stopped = false;
};

// What the writer reads: the blocks, and the source's headings and kinds
// taken before it starts.
ExportSource aheadOf(const ExportSource& source, RowsAhead& ahead,
                     std::shared_ptr<std::vector<QString>> headings)
{
    ExportSource s;
    s.rows = source.rows;
    s.columns = source.columns;
    std::vector<bool> numeric(size_t(source.columns), false);
    for (int c = 0; c < source.columns; ++c)
        numeric[size_t(c)] = source.numeric && source.numeric(c);
    s.heading = [headings](int c) { return headings->at(size_t(c)); };
    s.numeric = [numeric](int c) { return bool(numeric[size_t(c)]); };
    const int columns = source.columns;
    s.text = [&ahead, columns](int r, int c) {
        const RowsAhead::Block& b = ahead.blockOf(r);
        return r < b.first + b.rows ? b.text(size_t((r - b.first) * columns + c)) : QString();
    };
    if (source.number)
        s.number = [&ahead, columns](int r, int c) {
            const RowsAhead::Block& b = ahead.blockOf(r);
            return r < b.first + b.rows ? b.numbers[size_t((r - b.first) * columns + c)]
                                        : std::numeric_limits<float>::quiet_NaN();
        };
    return s;
}

// Reads the source's rows into blocks for the writer; false when cancelled
// or the writer stopped.
bool readAhead(const ExportSource& source, RowsAhead& ahead, const ExportProgress& progress)
{
    const int columns = source.columns;
    std::vector<bool> valued(size_t(columns), false);
    for (int c = 0; c < columns; ++c)
        valued[size_t(c)] = source.number && source.numeric && source.numeric(c);
    for (int first = 0; first < source.rows; first += kProgressEvery) {
        RowsAhead::Block block;
        block.first = first;
        block.rows = std::min(kProgressEvery, source.rows - first);
        const size_t cells = size_t(block.rows) * size_t(columns);
        block.numbers.assign(cells, std::numeric_limits<float>::quiet_NaN());
        block.starts.reserve(cells + 1);
        block.starts.push_back(0);
        block.chars.reserve(cells * 8);
        for (int r = 0; r < block.rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const size_t at = size_t(r) * size_t(columns) + size_t(c);
                if (valued[size_t(c)])
                    block.numbers[at] = source.number(first + r, c);
                // A value the list holds is written from the number.
                if (!std::isfinite(block.numbers[at])) {
                    const QString text = source.text(first + r, c);
                    const auto* utf16 = reinterpret_cast<const char16_t*>(text.utf16());
                    block.chars.insert(block.chars.end(), utf16, utf16 + text.size());
                }
                block.starts.push_back(block.chars.size());
            }
        const int end = first + block.rows;
        if (end % kProgressEvery == 0 && progress && !progress(end))
            return false;
        if (!ahead.put(std::move(block)))
            return false;
    }
    return true;
}

} // namespace

bool exportList(const ExportSource& source, const QString& fileName, ExportFormat format,
                const ExportProgress& progress)
{
    RowsAhead ahead;
    auto headings = std::make_shared<std::vector<QString>>();
    for (int c = 0; c < source.columns; ++c)
        headings->push_back(source.heading(c));
    const ExportSource rows = aheadOf(source, ahead, headings);
    bool written = false;
    std::exception_ptr failure;
    std::thread writer([&] {
        try {
            const ExportProgress goOn = [&ahead](int) { return ahead.goOn(); };
            written = format == ExportFormat::Csv ? writeCsv(rows, fileName, goOn)
                                                  : writeXlsx(rows, fileName, goOn);
        } catch (...) {
            failure = std::current_exception();
        }
        ahead.stop();
    });
    bool read = false;
    try {
        read = readAhead(source, ahead, progress);
    } catch (...) {
        ahead.close(true);
        writer.join();
        throw;
    }
    ahead.close(!read);
    writer.join();
    if (failure)
        std::rethrow_exception(failure);
    if (written && progress)
        progress(source.rows);
    return written && read;
}

} // namespace vok
