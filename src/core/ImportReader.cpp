#include "core/ImportReader.h"

#include "core/ListExport.h"
#include "db/DbError.h"

#include <QFile>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <expat.h>
#include <zip.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace vok {

namespace {

constexpr qint64 kBlock = 1 << 20;

// Bounds that keep a hostile file from taking the machine's memory: a cell
// holds at most what a spreadsheet's cell can (32,767 characters), a row
// at most a mebi-character of text, the shared strings of a workbook at
// most kSharedBytes as held here.
constexpr qsizetype kCellChars = 32767;
constexpr qsizetype kRowChars = qsizetype(1) << 20;
constexpr qint64 kSharedBytes = qint64(160) << 20;
// A part read whole (the workbook's list of sheets and its relations).
constexpr qint64 kSmallPart = qint64(16) << 20;
// A part that inflates past kInflateFloor to more than kInflateRatio times
// its compressed size is a compression bomb, not a workbook (sheets of
// spreadsheets inflate some 5 to 30 times).
constexpr qint64 kInflateFloor = qint64(100) << 20;
constexpr qint64 kInflateRatio = 100;

// A file that cannot be read on, or is refused: why, in Chinese.
[[noreturn]] void fileFailure(const QString& why)
{
    throw DbError(DbError::Kind::File, why);
}

[[noreturn]] void cannotOpen(const QString& fileName)
{
    fileFailure(QStringLiteral("无法打开文件“%1”。").arg(fileName));
}

// True when the bytes are UTF-8 throughout (a character cut at the end of
// the block is left for the next one: `carry` says how many bytes).
bool isUtf8(const unsigned char* p, qsizetype n, qsizetype& carry)
{
    qsizetype i = 0;
    carry = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else
            return false;
        if (i + more >= n) {
            carry = n - i;
            for (qsizetype k = i + 1; k < n; ++k)
                if ((p[k] & 0xC0) != 0x80)
                    return false;
            return true;
        }
        for (int k = 1; k <= more; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        i += more + 1;
    }
    return true;
}

// ---- CSV ----

class CsvReader : public ImportReader
{
public:
    void open(const QString& fileName)
    {
        m_file.setFileName(fileName);
        if (!m_file.open(QIODevice::ReadOnly))
            cannotOpen(fileName);
        m_size = m_file.size();
        // UTF-8 when the whole file is, else GBK.
        QByteArray block;
        qsizetype carry = 0;
        bool utf8 = true;
        QByteArray pending;
        while (utf8 && !(block = m_file.read(kBlock)).isEmpty()) {
            pending += block;
            utf8 = isUtf8(reinterpret_cast<const unsigned char*>(pending.constData()),
                          pending.size(), carry);
            pending = pending.right(carry);
        }
        utf8 = utf8 && carry == 0;
        m_utf8 = utf8;
        m_file.seek(0);
        const QByteArray head = m_file.peek(3);
        if (head == QByteArrayLiteral("\xEF\xBB\xBF"))
            m_file.seek(3);
        m_decoder = utf8 ? QStringDecoder(QStringDecoder::Utf8) : QStringDecoder("GBK");
        if (!m_decoder.isValid())
            fileFailure(QStringLiteral("无法识别文件“%1”的编码。").arg(fileName));
        fillBuffer();
        chooseSeparator();
    }

    // A text the export wrote after a quote: '=…, or ''=… for a text of
    // its own beginning with '=.
    static bool guardedFormula(const QString& text)
    {
        const qsizetype quotes = text.startsWith(QLatin1String("''")) ? 2 : 1;
        return text.size() > quotes && text.front() == u'\'' && csvFormulaStart(text.at(quotes));
    }

    QString kind() const override
    {
        return m_utf8 ? QStringLiteral("CSV（UTF-8）") : QStringLiteral("CSV（GBK）");
    }

    int permille() const override { return m_size > 0 ? int(m_file.pos() * 1000 / m_size) : 1000; }

    bool next(ImportRow& row) override
    {
        for (;;) {
            if (!readRecord(row))
                return false;
            ++m_rowNumber;
            // The quote by which an export keeps a text from being run
            // as a formula is not part of the text.
            for (ImportCell& cell : row)
                if (guardedFormula(cell.text))
                    cell.text.remove(0, 1);
            // A blank line holds nothing.
            if (row.size() > 1 || !row.front().text.isEmpty())
                return true;
        }
    }

private:
    bool fillBuffer()
    {
        m_text = QString();
        m_at = 0;
        while (m_text.isEmpty()) {
            const QByteArray block = m_file.read(kBlock);
            if (block.isEmpty())
                return false;
            m_text = m_decoder.decode(block);
        }
        return true;
    }

    // The separator the first line uses most, outside quotes.
    void chooseSeparator()
    {
        int counts[3] = {0, 0, 0};
        bool quoted = false;
        for (const QChar c : std::as_const(m_text)) {
            if (c == u'"')
                quoted = !quoted;
            else if (!quoted && (c == u'\n' || c == u'\r'))
                break;
            else if (!quoted && c == u',')
                ++counts[0];
            else if (!quoted && c == u';')
                ++counts[1];
            else if (!quoted && c == u'\t')
                ++counts[2];
        }
        m_separator = u',';
        if (counts[1] > counts[0] && counts[1] >= counts[2])
            m_separator = u';';
        else if (counts[2] > counts[0] && counts[2] > counts[1])
            m_separator = u'\t';
    }

    ImportCell& cellAt(ImportRow& row, size_t column)
    {
        if (row.size() <= column)
            row.resize(column + 1);
        return row[column];
    }

    // A spreadsheet's widest row: a line of endless separators is refused.
    static constexpr size_t kColumns = 16384;

    // One record; false at the end of the file.
    bool readRecord(ImportRow& row)
    {
        enum
        {
            FieldStart,
            Unquoted,
            Quoted,
            QuoteInQuoted
        } state = FieldStart;
        size_t column = 0;
        bool any = false;
        // The cells are reused row after row, keeping their buffers.
        const auto done = [&] {
            row.resize(column + 1);
            return true;
        };
        for (;;) {
            if (m_at >= m_text.size() && !fillBuffer()) {
                if (!any)
                    return false;
                if (state == FieldStart)
                    cellAt(row, column).text.truncate(0);
                return done();
            }
            any = true;
            const char16_t* s = reinterpret_cast<const char16_t*>(m_text.constData());
            const qsizetype n = m_text.size();
            qsizetype i = m_at;
            ImportCell& cell = cellAt(row, column);
            if (state == FieldStart) {
                cell.text.truncate(0);
                if (s[i] == u'"') {
                    state = Quoted;
                    ++i;
                } else {
                    state = Unquoted;
                }
            }
            if (state == Unquoted) {
                const qsizetype from = i;
                while (i < n && s[i] != m_separator && s[i] != u'\n' && s[i] != u'\r')
                    ++i;
                cell.text.append(QStringView(s + from, i - from));
                m_at = i;
                bounded(cell, column);
                if (i == n)
                    continue;
                m_at = i + 1;
                if (s[i] == m_separator) {
                    nextField(cell, column);
                    state = FieldStart;
                    continue;
                }
                endLine(s[i]);
                return done();
            }
            if (state == Quoted) {
                const qsizetype from = i;
                while (i < n && s[i] != u'"')
                    ++i;
                cell.text.append(QStringView(s + from, i - from));
                m_at = i;
                bounded(cell, column);
                if (i == n)
                    continue;
                m_at = i + 1;
                state = QuoteInQuoted;
                continue;
            }
            // After a quote inside a quoted field: a doubled quote, the
            // field's end, or (leniently) more text.
            const char16_t c = s[i];
            m_at = i + 1;
            if (c == u'"') {
                cell.text.append(u'"');
                state = Quoted;
            } else if (c == m_separator) {
                nextField(cell, column);
                state = FieldStart;
            } else if (c == u'\n' || c == u'\r') {
                endLine(c);
                return done();
            } else {
                cell.text.append(QChar(c));
                state = Unquoted;
            }
        }
    }

    // Refuses the file when the cell has grown past a cell's size: a file
    // with one endless field is refused, not held.
    void bounded(const ImportCell& cell, size_t column) const
    {
        if (cell.text.size() > kCellChars)
            fileFailure(QStringLiteral("第%1行%2列的单元格长于%3个字符，不能导入。")
                            .arg(m_rowNumber + 1)
                            .arg(sheetColumnName(int(column)))
                            .arg(kCellChars));
    }

    // Goes on to the next field; refuses the file when the row has grown
    // too wide or too long.
    void nextField(const ImportCell& cell, size_t& column)
    {
        m_rowChars = column == 0 ? cell.text.size() : m_rowChars + cell.text.size();
        if (++column < kColumns && m_rowChars <= kRowChars)
            return;
        fileFailure(
            column < kColumns
                ? QStringLiteral("第%1行的单元格共长于%2个字符，不能导入。")
                      .arg(m_rowNumber + 1)
                      .arg(kRowChars)
                : QStringLiteral("第%1行多于%2列，不能导入。").arg(m_rowNumber + 1).arg(kColumns));
    }

    // Takes the \n of a \r\n line end.
    void endLine(char16_t c)
    {
        if (c != u'\r')
            return;
        if (m_at >= m_text.size() && !fillBuffer())
            return;
        if (m_text.at(m_at) == u'\n')
            ++m_at;
    }

    QFile m_file;
    qint64 m_size = 0;
    bool m_utf8 = true;
    QStringDecoder m_decoder;
    QString m_text;
    qsizetype m_at = 0;
    qsizetype m_rowChars = 0; // of the fields of the record before the one read
    char16_t m_separator = u',';
};

// ---- Workbook ----

// Undoes the escapes by which workbooks hold characters XML cannot:
// _xHHHH_ (and _x005F_ for an underscore that would read as one).
QString unescapeWorkbookText(QString text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    const auto hex = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'_' && i + 6 < text.size() && text.at(i + 1) == u'x' &&
            hex(text.at(i + 2)) && hex(text.at(i + 3)) && hex(text.at(i + 4)) &&
            hex(text.at(i + 5)) && text.at(i + 6) == u'_') {
            out += QChar(char16_t(text.mid(i + 2, 4).toUShort(nullptr, 16)));
            i += 6;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

// The column of a cell reference ("B12": 1); -1 when it has none.
int referenceColumn(const char* reference)
{
    int column = 0;
    const char* p = reference;
    for (; *p && column < (1 << 20); ++p) {
        if (*p >= 'A' && *p <= 'Z')
            column = column * 26 + (*p - 'A' + 1);
        else if (*p >= 'a' && *p <= 'z')
            column = column * 26 + (*p - 'a' + 1);
        else
            break;
    }
    return p == reference ? -1 : column - 1;
}

class Zip
{
public:
    ~Zip()
    {
        if (m_zip)
            zip_discard(m_zip);
    }
    bool open(const QString& fileName)
    {
        int error = 0;
        m_zip = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &error);
        return m_zip != nullptr;
    }
    bool has(const QString& name) const
    {
        return zip_name_locate(m_zip, name.toUtf8().constData(), 0) >= 0;
    }
    // A small part read whole; empty when missing or past kSmallPart.
    QByteArray read(const QString& name) const
    {
        zip_file_t* f = zip_fopen(m_zip, name.toUtf8().constData(), 0);
        if (!f)
            return {};
        QByteArray out;
        char buffer[65536];
        zip_int64_t n;
        while ((n = zip_fread(f, buffer, sizeof buffer)) > 0 && out.size() <= kSmallPart)
            out.append(buffer, qsizetype(n));
        zip_fclose(f);
        return out.size() <= kSmallPart ? out : QByteArray();
    }
    // The compressed size of a part; 0 when not known.
    qint64 packedSize(const char* name) const
    {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat(m_zip, name, 0, &st) != 0 || !(st.valid & ZIP_STAT_COMP_SIZE))
            return 0;
        return qint64(st.comp_size);
    }
    zip_t* get() const { return m_zip; }

private:
    zip_t* m_zip = nullptr;
};

// Why a part inflated this far is refused as a compression bomb; empty
// while it is not.
QString inflateProblem(const QByteArray& part, qint64 inflated, qint64 packed)
{
    if (inflated <= kInflateFloor || inflated <= packed * kInflateRatio)
        return {};
    return QStringLiteral(
               "工作簿的部件“%1”解压后超过%2 MB，是其压缩大小的%3倍以上，不是正常的工作簿，"
               "不能导入。")
        .arg(QString::fromUtf8(part))
        .arg(kInflateFloor >> 20)
        .arg(kInflateRatio);
}

// The local name of an element ("x:row": "row"); workbooks may write the
// sheet's elements with a prefix.
const char* localName(const char* name)
{
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

const char* attribute(const char** attributes, const char* name)
{
    for (const char** a = attributes; *a; a += 2)
        if (std::strcmp(localName(a[0]), name) == 0)
            return a[1];
    return nullptr;
}

// Sets s to the UTF-8 text, reusing its buffer (the cells of a row are
// filled again row after row).
void assignUtf8(QString& s, const char* p, qsizetype n)
{
    qsizetype i = 0;
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80)
        ++i;
    if (i < n) {
        s = QString::fromUtf8(p, n);
        return;
    }
    s.resize(n);
    char16_t* out = reinterpret_cast<char16_t*>(s.data());
    for (qsizetype k = 0; k < n; ++k)
        out[k] = char16_t(static_cast<unsigned char>(p[k]));
}

// An expat parser, freed with its owner.
struct XmlParser
{
    XmlParser() : p(XML_ParserCreate("UTF-8")) {}
    ~XmlParser() { XML_ParserFree(p); }
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;
    XML_Parser p;
};

// A part with a document type declaration is refused before its entities
// are read: a workbook's parts have none, and an entity (an external one
// above all) would stand for text from elsewhere or for nothing. Owner is
// the parser's user data; its refuse() stops the parse.
template <class Owner> void refuseDocumentType(XML_Parser p)
{
    XML_SetStartDoctypeDeclHandler(
        p, [](void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
            static_cast<Owner*>(data)->refuse(
                QStringLiteral("工作簿的部件“%1”含有文档类型声明（DOCTYPE）或实体，不能导入。")
                    .arg(QString::fromUtf8(static_cast<Owner*>(data)->partName())));
        });
}

// The characters of a UTF-8 text of n bytes are at least n / 3 (a UTF-16
// unit takes at most three bytes).
constexpr qsizetype kCellBytes = 3 * kCellChars;

// The shared strings of a workbook, held as pages of text (no buffer of
// its own for each string) and where each string lies in them.
class SharedStrings
{
public:
    // False when the strings held would pass kSharedBytes.
    bool add(QStringView s)
    {
        if (m_pages.empty() || m_pages.back().size() + s.size() > kPage) {
            m_pages.emplace_back();
            m_pages.back().reserve(kPage);
        }
        QString& page = m_pages.back();
        m_where.push_back(quint64(m_pages.size() - 1) << 36 | quint64(page.size()) << 16 |
                          quint64(s.size()));
        page.append(s);
        return heldBytes() <= kSharedBytes;
    }
    qsizetype size() const { return qsizetype(m_where.size()); }
    QStringView at(qsizetype i) const
    {
        const quint64 w = m_where[size_t(i)];
        return QStringView(m_pages[size_t(w >> 36)])
            .mid(qsizetype(w >> 16 & 0xFFFFF), qsizetype(w & 0xFFFF));
    }

private:
    static constexpr qsizetype kPage = qsizetype(1) << 20; // characters
    qint64 heldBytes() const
    {
        return qint64(m_pages.size()) * kPage * 2 + qint64(m_where.size()) * 8;
    }
    std::deque<QString> m_pages;
    std::deque<quint64> m_where; // page, offset in it, length
};

class XlsxReader : public ImportReader
{
public:
    ~XlsxReader() override
    {
        if (m_sheet)
            zip_fclose(m_sheet);
    }

    void open(const QString& fileName)
    {
        const QString broken =
            QStringLiteral("文件“%1”不是可以读取的 Excel 工作簿（.xlsx）。").arg(fileName);
        if (!m_zip.open(fileName))
            fileFailure(broken);
        const QString sheet = firstSheet();
        m_part = sheet.toUtf8();
        zip_stat_t st;
        zip_stat_init(&st);
        if (sheet.isEmpty() || zip_stat(m_zip.get(), m_part.constData(), 0, &st) != 0)
            fileFailure(broken);
        m_size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
        m_packed = m_zip.packedSize(m_part.constData());
        if (const auto shared = readSharedStrings(); shared)
            fileFailure(shared->isEmpty() ? broken : *shared);
        m_sheet = zip_fopen(m_zip.get(), m_part.constData(), 0);
        if (!m_sheet || !m_xml.p)
            fileFailure(broken);
        XML_SetUserData(m_xml.p, this);
        XML_SetElementHandler(m_xml.p, &XlsxReader::started, &XlsxReader::ended);
        XML_SetCharacterDataHandler(m_xml.p, &XlsxReader::characters);
        refuseDocumentType<XlsxReader>(m_xml.p);
    }

    QString kind() const override { return QStringLiteral("Excel 工作簿"); }

    int permille() const override
    {
        return m_size > 0 ? int(std::min<qint64>(1000, m_read * 1000 / m_size)) : 1000;
    }

    // The parser stops after each row that holds anything and goes on
    // from there on the next call.
    bool next(ImportRow& row) override
    {
        m_row = &row;
        for (;;) {
            XML_Status status;
            if (m_suspended) {
                m_suspended = false;
                status = XML_ResumeParser(m_xml.p);
            } else if (m_finished) {
                return false;
            } else {
                void* buffer = XML_GetBuffer(m_xml.p, int(kBlock));
                if (!buffer)
                    failed();
                const zip_int64_t n =
                    m_sheet ? zip_fread(m_sheet, buffer, zip_uint64_t(kBlock)) : 0;
                if (n < 0) {
                    m_finished = true;
                    fileFailure(QStringLiteral("工作表第%1行之后的内容无法读取（压缩数据损坏）。")
                                    .arg(m_rowsEnded));
                }
                m_read += n;
                if (const QString bomb = inflateProblem(m_part, m_read, m_packed);
                    !bomb.isEmpty()) {
                    m_finished = true;
                    fileFailure(bomb);
                }
                m_finished = n == 0;
                status = XML_ParseBuffer(m_xml.p, int(n), m_finished);
            }
            if (status == XML_STATUS_ERROR)
                failed();
            if (status == XML_STATUS_SUSPENDED) {
                m_suspended = true;
                return true;
            }
        }
    }

    // Stops the parse for good, keeping why for next() to throw (the
    // parser's handlers cannot).
    void refuse(const QString& why)
    {
        if (m_refused)
            return;
        m_refused = true;
        m_refusal = why;
        XML_StopParser(m_xml.p, XML_FALSE);
    }
    const QByteArray& partName() const { return m_part; }

private:
    enum class CellType
    {
        Number,
        Shared,
        Text // an inline string, a formula's text, a truth value, an error
    };

    // The parse stopped: refused, or the sheet cannot be read on.
    [[noreturn]] void failed()
    {
        m_finished = true;
        if (m_refused)
            fileFailure(m_refusal);
        fileFailure(QStringLiteral("工作表第%1行之后的内容无法读取（%2）。")
                        .arg(m_rowsEnded)
                        .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(m_xml.p)))));
    }

    // "工作表第5行C列": the cell being read.
    QString cellName() const
    {
        return QStringLiteral("工作表第%1行%2列").arg(m_rowNumber).arg(sheetColumnName(m_column));
    }
    void refuseLongCell()
    {
        refuse(
            QStringLiteral("%1的单元格长于%2个字符，不能导入。").arg(cellName()).arg(kCellChars));
    }

    static void XMLCALL started(void* data, const char* name, const char** attributes)
    {
        auto* self = static_cast<XlsxReader*>(data);
        if (!self->m_refused)
            self->start(localName(name), attributes);
    }
    static void XMLCALL ended(void* data, const char* name)
    {
        auto* self = static_cast<XlsxReader*>(data);
        if (!self->m_refused)
            self->end(localName(name));
    }
    static void XMLCALL characters(void* data, const char* text, int length)
    {
        auto* self = static_cast<XlsxReader*>(data);
        if (!self->m_collect || self->m_refused)
            return;
        if (qsizetype(self->m_text.size()) + length > kCellBytes)
            self->refuseLongCell();
        else
            self->m_text.append(text, size_t(length));
    }

    void start(const char* name, const char** attributes)
    {
        if (m_skip) {
            ++m_skip;
            return;
        }
        if (std::strcmp(name, "row") == 0) {
            m_inRow = true;
            m_column = 0;
            m_rowChars = 0;
            clearRow(*m_row);
            const char* r = attribute(attributes, "r");
            char* end = nullptr;
            const long long n = r ? std::strtoll(r, &end, 10) : 0;
            m_rowNumber = r && end != r && n > 0 ? n : m_rowNumber + 1;
        } else if (m_inRow && std::strcmp(name, "c") == 0) {
            if (const char* r = attribute(attributes, "r"); r) {
                const int at = referenceColumn(r);
                if (at >= 0)
                    m_column = at;
            }
            const char* t = attribute(attributes, "t");
            m_type = !t || !*t || std::strcmp(t, "n") == 0 ? CellType::Number
                     : std::strcmp(t, "s") == 0            ? CellType::Shared
                                                           : CellType::Text;
            m_cell = nullptr;
            m_formula = false;
            m_value = false;
            if (m_column < 16384) {
                if (m_row->size() <= size_t(m_column))
                    m_row->resize(size_t(m_column) + 1);
                m_cell = &(*m_row)[size_t(m_column)];
                m_cell->text.truncate(0);
                m_cell->isNumber = false;
            }
        } else if (m_cell && std::strcmp(name, "v") == 0) {
            m_text.clear();
            m_collect = true;
            m_value = true;
        } else if (m_cell && std::strcmp(name, "t") == 0) {
            // An inline string, plain or in runs.
            m_text.clear();
            m_collect = true;
        } else if (std::strcmp(name, "rPh") == 0 || std::strcmp(name, "f") == 0) {
            m_formula = m_formula || (m_cell && name[0] == 'f');
            m_skip = 1;
        }
    }

    void end(const char* name)
    {
        if (m_skip) {
            --m_skip;
            return;
        }
        if (!m_collect && std::strcmp(name, "c") == 0) {
            // A formula whose result was never saved would read as empty.
            if (m_cell && m_formula && !m_value)
                return refuse(QStringLiteral("%1的公式没有保存计算结果，请在电子表格程序中"
                                             "重新计算并保存后再导入。")
                                  .arg(cellName()));
            m_rowChars += m_cell ? m_cell->text.size() : 0;
            if (m_rowChars > kRowChars)
                return refuse(QStringLiteral("工作表第%1行的单元格共长于%2个字符，不能导入。")
                                  .arg(m_rowNumber)
                                  .arg(kRowChars));
            m_cell = nullptr;
            ++m_column;
        } else if (m_collect && std::strcmp(name, "v") == 0) {
            m_collect = false;
            readValue();
        } else if (m_collect && std::strcmp(name, "t") == 0) {
            m_collect = false;
            m_cell->text += unescapeWorkbookText(QString::fromUtf8(m_text));
            if (m_cell->text.size() > kCellChars)
                refuseLongCell();
        } else if (m_inRow && std::strcmp(name, "row") == 0) {
            m_inRow = false;
            m_rowsEnded = m_rowNumber;
            bool any = false;
            for (const ImportCell& c : *m_row)
                any = any || !c.text.isEmpty();
            if (any)
                XML_StopParser(m_xml.p, XML_TRUE);
        }
    }

    // The <v> of a cell: a shared string's number, a number, or a text.
    void readValue()
    {
        ImportCell& cell = *m_cell;
        switch (m_type) {
        case CellType::Shared: {
            const char* b = m_text.data();
            const char* e = b + m_text.size();
            qsizetype i = -1;
            const auto [at, ec] = std::from_chars(b, e, i);
            if (ec != std::errc() || at != e || i < 0 || i >= m_shared.size())
                return refuse(
                    QStringLiteral("%1引用的共享字符串“%2”在工作簿中不存在"
                                   "（工作簿共有%3个共享字符串），不能导入。")
                        .arg(cellName(), QString::fromUtf8(m_text.data(), qsizetype(m_text.size())))
                        .arg(m_shared.size()));
            cell.text.truncate(0);
            cell.text.append(m_shared.at(i));
            break;
        }
        case CellType::Number: {
            assignUtf8(cell.text, m_text.data(), qsizetype(m_text.size()));
            const char* b = m_text.data();
            const char* e = b + m_text.size();
            while (b < e && *b == ' ')
                ++b;
            double v = 0;
            const auto [at, ec] = std::from_chars(b, e, v);
            cell.isNumber = ec == std::errc() && at == e && b != e;
            cell.number = cell.isNumber ? v : 0;
            break;
        }
        case CellType::Text:
            cell.text = unescapeWorkbookText(QString::fromUtf8(m_text));
            break;
        }
        if (cell.text.size() > kCellChars)
            refuseLongCell();
    }

    // Empties the cells, keeping their buffers.
    static void clearRow(ImportRow& row)
    {
        for (ImportCell& c : row) {
            c.text.truncate(0);
            c.isNumber = false;
        }
    }

    // The part of the workbook's first sheet.
    QString firstSheet() const
    {
        QString id;
        QXmlStreamReader workbook(m_zip.read(QStringLiteral("xl/workbook.xml")));
        while (!workbook.atEnd() && id.isEmpty())
            if (workbook.readNext() == QXmlStreamReader::StartElement &&
                workbook.name() == u"sheet")
                for (const QXmlStreamAttribute& a : workbook.attributes())
                    if (a.name() == u"id")
                        id = a.value().toString();
        QString target;
        QXmlStreamReader rels(m_zip.read(QStringLiteral("xl/_rels/workbook.xml.rels")));
        while (!rels.atEnd() && target.isEmpty())
            if (rels.readNext() == QXmlStreamReader::StartElement &&
                rels.name() == u"Relationship" &&
                rels.attributes().value(QLatin1String("Id")) == id)
                target = rels.attributes().value(QLatin1String("Target")).toString();
        if (target.isEmpty())
            return m_zip.has(QStringLiteral("xl/worksheets/sheet1.xml"))
                       ? QStringLiteral("xl/worksheets/sheet1.xml")
                       : QString();
        return target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target;
    }

    // The parse of the shared strings' part.
    struct SharedParse
    {
        XML_Parser parser = nullptr;
        SharedStrings* out = nullptr;
        QByteArray part;
        std::string text;
        int phonetic = 0;
        bool collect = false;
        QString error;
        void refuse(const QString& why)
        {
            if (!error.isEmpty())
                return;
            error = why;
            XML_StopParser(parser, XML_FALSE);
        }
        const QByteArray& partName() const { return part; }
        void refuseLong()
        {
            refuse(
                QStringLiteral("工作簿的共享字符串表（%1）中第%2个字符串长于%3个字符，不能导入。")
                    .arg(QString::fromUtf8(part))
                    .arg(out->size() + 1)
                    .arg(kCellChars));
        }
    };

    // The table of shared strings, read in blocks. Nothing when it is
    // missing or read; else why it cannot be read (empty: it is broken).
    std::optional<QString> readSharedStrings()
    {
        const char* part = "xl/sharedStrings.xml";
        if (zip_name_locate(m_zip.get(), part, 0) < 0)
            return std::nullopt;
        zip_file_t* f = zip_fopen(m_zip.get(), part, 0);
        XmlParser xml;
        if (!f || !xml.p) {
            if (f)
                zip_fclose(f);
            return QString();
        }
        SharedParse state;
        state.parser = xml.p;
        state.out = &m_shared;
        state.part = part;
        XML_SetUserData(xml.p, &state);
        refuseDocumentType<SharedParse>(xml.p);
        XML_SetElementHandler(
            xml.p,
            [](void* data, const char* name, const char**) {
                auto& s = *static_cast<SharedParse*>(data);
                if (!s.error.isEmpty())
                    return;
                name = localName(name);
                if (std::strcmp(name, "si") == 0)
                    s.text.clear();
                else if (std::strcmp(name, "rPh") == 0)
                    ++s.phonetic;
                else if (std::strcmp(name, "t") == 0 && !s.phonetic)
                    s.collect = true;
            },
            [](void* data, const char* name) {
                auto& s = *static_cast<SharedParse*>(data);
                if (!s.error.isEmpty())
                    return;
                name = localName(name);
                if (std::strcmp(name, "si") == 0) {
                    const QString text = unescapeWorkbookText(QString::fromUtf8(s.text));
                    if (text.size() > kCellChars)
                        s.refuseLong();
                    else if (!s.out->add(text))
                        s.refuse(QStringLiteral("工作簿的共享字符串表（%1）超过%2 MB，不能导入。")
                                     .arg(QString::fromUtf8(s.part))
                                     .arg(kSharedBytes >> 20));
                } else if (std::strcmp(name, "rPh") == 0) {
                    --s.phonetic;
                } else if (std::strcmp(name, "t") == 0) {
                    s.collect = false;
                }
            });
        XML_SetCharacterDataHandler(xml.p, [](void* data, const char* text, int length) {
            auto& s = *static_cast<SharedParse*>(data);
            if (!s.collect || !s.error.isEmpty())
                return;
            if (qsizetype(s.text.size()) + length > kCellBytes)
                s.refuseLong();
            else
                s.text.append(text, size_t(length));
        });
        const qint64 packed = m_zip.packedSize(part);
        qint64 inflated = 0;
        std::optional<QString> problem;
        for (;;) {
            void* buffer = XML_GetBuffer(xml.p, int(kBlock));
            const zip_int64_t n = buffer ? zip_fread(f, buffer, zip_uint64_t(kBlock)) : -1;
            inflated += std::max<zip_int64_t>(n, 0);
            if (const QString bomb = inflateProblem(state.part, inflated, packed);
                !bomb.isEmpty()) {
                problem = bomb;
                break;
            }
            if (n < 0 || XML_ParseBuffer(xml.p, int(n), n == 0) != XML_STATUS_OK) {
                problem = state.error;
                break;
            }
            if (n == 0)
                break;
        }
        zip_fclose(f);
        return problem;
    }

    Zip m_zip;
    QByteArray m_part; // the sheet's
    zip_file_t* m_sheet = nullptr;
    qint64 m_size = 0;
    qint64 m_packed = 0;
    qint64 m_read = 0;
    SharedStrings m_shared;
    XmlParser m_xml;
    bool m_suspended = false;
    bool m_finished = false;
    bool m_refused = false;
    QString m_refusal;
    // Where the parse is: the row being filled, its cell, the text of the
    // element being read, and the depth of an element skipped.
    ImportRow* m_row = nullptr;
    ImportCell* m_cell = nullptr;
    bool m_inRow = false;
    qint64 m_rowsEnded = 0; // the number of the last row read to its end
    qsizetype m_rowChars = 0;
    int m_column = 0;
    CellType m_type = CellType::Number;
    bool m_formula = false; // the cell has a formula
    bool m_value = false;   // and a value
    bool m_collect = false;
    std::string m_text;
    int m_skip = 0;
};

// ---- Reading ahead ----

// Runs another reader in a thread of its own, a few blocks of rows ahead
// of the caller, so that the file is taken apart while the rows before
// are checked. The rows' buffers go back and forth and are reused.
class AheadReader : public ImportReader
{
public:
    explicit AheadReader(std::unique_ptr<ImportReader> inner)
        : m_inner(std::move(inner)), m_kind(m_inner->kind())
    {
        m_rowNumber = m_inner->rowNumber();
        m_permille.store(m_inner->permille());
        m_thread = std::thread([this] { produce(); });
    }

    ~AheadReader() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    QString kind() const override { return m_kind; }
    int permille() const override { return m_permille.load(std::memory_order_relaxed); }

    bool next(ImportRow& row) override
    {
        for (;;) {
            if (m_at < m_current.size) {
                std::swap(row, m_current.rows[m_at]);
                m_rowNumber = m_current.numbers[m_at];
                ++m_at;
                return true;
            }
            if (m_current.last) {
                // The rows before a failure are handed out first.
                if (const std::exception_ptr failure = std::exchange(m_current.failure, nullptr))
                    std::rethrow_exception(failure);
                return false;
            }
            std::unique_lock lock(m_mutex);
            if (!m_current.rows.empty())
                m_free.push_back(std::move(m_current));
            m_changed.wait(lock, [this] { return !m_full.empty(); });
            m_current = std::move(m_full.front());
            m_full.pop_front();
            m_at = 0;
            lock.unlock();
            m_changed.notify_all();
        }
    }

private:
    static constexpr size_t kRows = 1024;
    static constexpr size_t kBlocks = 4;
    // Weights in characters; a cell counts as twenty.
    static constexpr qsizetype kBlockWeight = qsizetype(4) << 20;
    static constexpr qsizetype kLightRow = 4096;

    static qsizetype weight(const ImportRow& row, bool capacity)
    {
        qsizetype w = qsizetype(capacity ? row.capacity() : row.size()) * 20;
        for (const ImportCell& c : row)
            w += capacity ? c.text.capacity() : c.text.size();
        return w;
    }

    struct Block
    {
        std::vector<ImportRow> rows;
        std::vector<qint64> numbers;
        size_t size = 0; // the rows filled
        bool last = false;
        std::exception_ptr failure; // of the last block: why the reading stopped
    };

    void produce()
    {
        for (;;) {
            Block block;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || m_full.size() < kBlocks; });
                if (m_stop)
                    return;
                if (!m_free.empty()) {
                    block = std::move(m_free.back());
                    m_free.pop_back();
                }
            }
            block.rows.resize(kRows);
            block.numbers.resize(kRows);
            block.size = 0;
            // Rows whose buffers grew large give them back: a block holds
            // at most kBlockWeight of text and cells, and its other rows
            // little, whatever rows went through it before.
            for (ImportRow& r : block.rows)
                if (weight(r, true) > kLightRow)
                    r = ImportRow();
            qsizetype held = 0;
            bool more = true;
            block.failure = nullptr;
            while (block.size < kRows && held < kBlockWeight) {
                ImportRow& r = block.rows[block.size];
                try {
                    more = m_inner->next(r);
                } catch (...) {
                    // Thrown again to the caller once the rows read are taken.
                    block.failure = std::current_exception();
                    more = false;
                }
                if (!more)
                    break;
                held += weight(r, false);
                block.numbers[block.size++] = m_inner->rowNumber();
            }
            block.last = !more;
            m_permille.store(m_inner->permille(), std::memory_order_relaxed);
            const bool last = block.last;
            {
                std::lock_guard lock(m_mutex);
                m_full.push_back(std::move(block));
            }
            m_changed.notify_all();
            if (last)
                return;
        }
    }

    std::unique_ptr<ImportReader> m_inner;
    const QString m_kind;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_full;
    std::vector<Block> m_free;
    bool m_stop = false;
    std::atomic<int> m_permille{0};
    // The block being handed out, and its next row.
    Block m_current;
    size_t m_at = 0;
    std::thread m_thread; // last: started once the rest is made
};

} // namespace

ImportReader::~ImportReader() = default;

std::unique_ptr<ImportReader> ImportReader::open(const QString& fileName)
{
    QFile probe(fileName);
    if (!probe.open(QIODevice::ReadOnly))
        cannotOpen(fileName);
    const bool zip = probe.peek(4) == QByteArrayLiteral("PK\x03\x04");
    probe.close();
    if (zip) {
        auto reader = std::make_unique<XlsxReader>();
        reader->open(fileName);
        return reader;
    }
    auto reader = std::make_unique<CsvReader>();
    reader->open(fileName);
    return reader;
}

std::unique_ptr<ImportReader> readAhead(std::unique_ptr<ImportReader> reader)
{
    return std::make_unique<AheadReader>(std::move(reader));
}

QString sheetColumnName(int column)
{
    QString name;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        name.prepend(QChar(u'A' + (n - 1) % 26));
    return name;
}

QDateTime serialDateTime(double serial)
{
    if (!std::isfinite(serial) || serial < 1 || serial > 2958466)
        return {};
    const auto seconds = qint64(std::llround(serial * 86400.0));
    const QDate day = QDate(1899, 12, 30).addDays(seconds / 86400);
    return QDateTime(day, QTime(0, 0).addSecs(int(seconds % 86400)));
}

} // namespace vok
