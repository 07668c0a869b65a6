#include "browse/ListExport.h"

#include "browse/RecordListModel.h"
#include "login/Clock.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

QString folderError(const QString& fileName)
{
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    if (!folder.exists() || !folder.isDir())
        return QStringLiteral("文件夹“%1”不存在。")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    return QStringLiteral("不能在文件夹“%1”中建立文件（没有写入权限或磁盘已满）。")
        .arg(QDir::toNativeSeparators(folder.filePath()));
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

// One CSV field: quoted when it holds a comma, a quote or a line break,
// quotes doubled.
void appendCsvField(QByteArray& out, const QString& text)
{
    const auto* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    const bool quote = std::any_of(
        s, s + n, [](char16_t c) { return c == u',' || c == u'"' || c == u'\n' || c == u'\r'; });
    // At most three bytes a UTF-16 unit, two for a doubled quote.
    const qsizetype at = out.size();
    out.resize(at + 3 * n + 2);
    char* p = out.data() + at;
    if (quote)
        *p++ = '"';
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == u'"')
            *p++ = '"';
        p = putUtf8(p, characterAt(s, n, i));
    }
    if (quote)
        *p++ = '"';
    out.resize(p - out.data());
}

ExportResult writeCsv(const ExportSource& source, const QString& fileName,
                      const ExportProgress& progress)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return {ExportResult::Failed, folderError(fileName)};
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
    auto flush = [&] {
        const bool ok = file.write(chunk) == chunk.size();
        chunk.resize(0); // (keeps the buffer)
        return ok;
    };
    writeRow(-1);
    for (int r = 0; r < source.rows; ++r) {
        writeRow(r);
        if (chunk.size() >= (1 << 20) && !flush())
            break;
        if ((r + 1) % kProgressEvery == 0 && progress && !progress(r + 1)) {
            file.cancelWriting();
            return {ExportResult::Cancelled, {}};
        }
    }
    if (!flush() || !file.commit()) {
        file.cancelWriting();
        return {ExportResult::Failed,
                QStringLiteral("写入文件时出错，磁盘可能已满（%1）。").arg(file.errorString())};
    }
    if (progress)
        progress(source.rows);
    return {};
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

bool writeAll(int fd, const char* data, size_t size, int& error)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// The worksheet's XML, deflated as it is made (ISA-L's fast level, raw
// deflate: a tenth of zlib's time on this XML) and appended to the file.
// It is filled through a raw pointer: reserve() room, write, commit() the
// end; a quarter megabyte is held at a time, whatever the size of the
// sheet.
class SheetStream
{
public:
    explicit SheetStream(int fd)
        : m_fd(fd), m_in(kBufferBytes), m_out(kBufferBytes), m_level(ISAL_DEF_LVL1_DEFAULT)
    {
        isal_deflate_init(&m_z);
        m_z.level = 1;
        m_z.level_buf = m_level.data();
        m_z.level_buf_size = uint32_t(m_level.size());
    }

    // Room for n more bytes.
    char* reserve(size_t n)
    {
        if (m_in.size() - m_used < n) {
            deflateBuffer(false);
            if (m_in.size() < n)
                m_in.resize(n);
        }
        return m_in.data() + m_used;
    }
    void commit(const char* end) { m_used = size_t(end - m_in.data()); }
    // Ends the stream: 0 or the errno of a failed write.
    int finish()
    {
        deflateBuffer(true);
        return m_error;
    }
    bool failed() const { return m_error != 0; }

    quint32 crc() const { return m_crc; }
    quint64 bytesIn() const { return m_z.total_in; }
    quint64 bytesOut() const { return m_written; }

private:
    static constexpr size_t kBufferBytes = size_t(1) << 18;

    void deflateBuffer(bool last)
    {
        if (m_error != 0)
            return;
        auto* in = reinterpret_cast<uint8_t*>(m_in.data());
        m_crc = crc32_gzip_refl(m_crc, in, m_used);
        m_z.next_in = in;
        m_z.avail_in = uint32_t(m_used);
        m_z.end_of_stream = last;
        do {
            m_z.next_out = reinterpret_cast<uint8_t*>(m_out.data());
            m_z.avail_out = uint32_t(m_out.size());
            if (isal_deflate(&m_z) != COMP_OK) {
                m_error = ENOMEM;
                return;
            }
            const size_t produced = m_out.size() - m_z.avail_out;
            if (!writeAll(m_fd, m_out.data(), produced, m_error))
                return;
            m_written += produced;
        } while (m_z.avail_out == 0 || (last && m_z.internal_state.state != ZSTATE_END));
        m_used = 0;
    }

    const int m_fd;
    std::vector<char> m_in;
    size_t m_used = 0;
    std::vector<char> m_out;
    std::vector<uint8_t> m_level;
    isal_zstream m_z{};
    quint32 m_crc = 0;
    quint64 m_written = 0;
    int m_error = 0;
};

void putLe(std::string& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

// Sizes and offsets from here on are held in zip64 fields; the 32-bit field
// then reads kInZip64.
constexpr quint64 kZip32Limit = 0xFFFFFFFFu;
constexpr quint64 kInZip64 = 0xFFFFFFFFu;

// A zip archive of deflated entries, zip64 where an entry or the archive
// outgrows four gigabytes. One entry may be streamed through
// SheetStream; its first bytes are stored (not compressed) so that they
// can be rewritten once the entry is complete: a worksheet's column widths
// stand before its rows but are known only after them.
class ZipWriter
{
public:
    explicit ZipWriter(int fd) : m_fd(fd)
    {
        const QDateTime now = Clock::now();
        const QDate d = now.date();
        const QTime t = now.time();
        m_dosDate = quint16(((std::max(d.year(), 1980) - 1980) << 9) | (d.month() << 5) | d.day());
        m_dosTime = quint16((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
    }

    bool add(const char* name, std::string_view data)
    {
        std::string packed(compressBound(uLong(data.size())) + 16, '\0');
        z_stream z{};
        if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return fail(ENOMEM);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = uInt(data.size());
        z.next_out = reinterpret_cast<Bytef*>(packed.data());
        z.avail_out = uInt(packed.size());
        const int status = deflate(&z, Z_FINISH);
        deflateEnd(&z);
        if (status != Z_STREAM_END)
            return fail(ENOMEM);
        packed.resize(z.total_out);
        Entry e{name, m_offset,
                quint32(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size())),
                packed.size(), data.size()};
        const std::string header = localHeader(e, false);
        m_entries.push_back(e);
        return writeOut(header) && writeOut(packed);
    }

    // Starts the streamed entry: its header, then the placeholder of its
    // rewritable head as stored blocks. A SheetStream writes the rest.
    bool beginStream(const char* name, std::string_view placeholder)
    {
        m_stream = Entry{name, m_offset, 0, 0, 0};
        m_headLength = placeholder.size();
        return writeOut(localHeader(m_stream, true)) && writeOut(storedBlocks(placeholder));
    }
    // Ends it: head is the final head, as long as the placeholder.
    bool endStream(std::string_view head, const SheetStream& rest)
    {
        Q_ASSERT(head.size() == m_headLength);
        const std::string stored = storedBlocks(head);
        const quint32 headCrc =
            quint32(crc32_z(0, reinterpret_cast<const Bytef*>(head.data()), head.size()));
        m_stream.crc = quint32(crc32_combine(headCrc, rest.crc(), z_off_t(rest.bytesIn())));
        m_stream.packed = stored.size() + rest.bytesOut();
        m_stream.size = head.size() + rest.bytesIn();
        const std::string header = localHeader(m_stream, true);
        if (!writeAt(header, m_stream.offset) ||
            !writeAt(stored, m_stream.offset + quint64(header.size())))
            return false;
        m_offset += rest.bytesOut();
        m_entries.push_back(m_stream);
        return true;
    }

    // The central directory and its end records.
    bool finish()
    {
        const quint64 directoryOffset = m_offset;
        std::string directory;
        for (const Entry& e : m_entries) {
            const bool big = e.size >= kZip32Limit || e.packed >= kZip32Limit;
            const bool far = e.offset >= kZip32Limit;
            std::string extra;
            if (big || far) {
                putLe(extra, 0x0001, 2);
                putLe(extra, (big ? 16 : 0) + (far ? 8 : 0), 2);
                if (big) {
                    putLe(extra, e.size, 8);
                    putLe(extra, e.packed, 8);
                }
                if (far)
                    putLe(extra, e.offset, 8);
            }
            putLe(directory, 0x02014b50, 4);
            putLe(directory, big || far ? 45 : 20, 2); // made by (MS-DOS attributes)
            putLe(directory, big || far ? 45 : 20, 2); // needed to extract
            putLe(directory, 0, 2);
            putLe(directory, 8, 2);
            putLe(directory, m_dosTime, 2);
            putLe(directory, m_dosDate, 2);
            putLe(directory, e.crc, 4);
            putLe(directory, big ? kInZip64 : e.packed, 4);
            putLe(directory, big ? kInZip64 : e.size, 4);
            putLe(directory, e.name.size(), 2);
            putLe(directory, extra.size(), 2);
            putLe(directory, 0, 2); // comment
            putLe(directory, 0, 2); // disk
            putLe(directory, 0, 2); // internal attributes
            putLe(directory, 0, 4); // external attributes
            putLe(directory, far ? kInZip64 : e.offset, 4);
            directory += e.name;
            directory += extra;
        }
        const quint64 directoryEnd = directoryOffset + directory.size();
        const bool zip64 = directoryOffset >= kZip32Limit;
        if (zip64) {
            putLe(directory, 0x06064b50, 4);
            putLe(directory, 44, 8);
            putLe(directory, 45, 2);
            putLe(directory, 45, 2);
            putLe(directory, 0, 4);
            putLe(directory, 0, 4);
            putLe(directory, m_entries.size(), 8);
            putLe(directory, m_entries.size(), 8);
            putLe(directory, directoryEnd - directoryOffset, 8);
            putLe(directory, directoryOffset, 8);
            putLe(directory, 0x07064b50, 4);
            putLe(directory, 0, 4);
            putLe(directory, directoryEnd, 8);
            putLe(directory, 1, 4);
        }
        putLe(directory, 0x06054b50, 4);
        putLe(directory, 0, 2);
        putLe(directory, 0, 2);
        putLe(directory, m_entries.size(), 2);
        putLe(directory, m_entries.size(), 2);
        putLe(directory, directoryEnd - directoryOffset, 4);
        putLe(directory, zip64 ? kInZip64 : directoryOffset, 4);
        putLe(directory, 0, 2);
        return writeOut(directory);
    }

    int error() const { return m_error; }

private:
    struct Entry
    {
        std::string name;
        quint64 offset = 0;
        quint32 crc = 0;
        quint64 packed = 0;
        quint64 size = 0;
    };

    // The local header; a streamed entry's has room for the zip64 sizes,
    // which is padding (an extra field readers skip) while it is small.
    std::string localHeader(const Entry& e, bool streamed) const
    {
        const bool big = e.size >= kZip32Limit || e.packed >= kZip32Limit;
        std::string h;
        putLe(h, 0x04034b50, 4);
        putLe(h, big ? 45 : 20, 2);
        putLe(h, 0, 2);
        putLe(h, 8, 2);
        putLe(h, m_dosTime, 2);
        putLe(h, m_dosDate, 2);
        putLe(h, e.crc, 4);
        putLe(h, big ? kInZip64 : e.packed, 4);
        putLe(h, big ? kInZip64 : e.size, 4);
        putLe(h, e.name.size(), 2);
        putLe(h, streamed ? 20 : 0, 2);
        h += e.name;
        if (streamed) {
            putLe(h, big ? 0x0001 : 0xD935, 2);
            putLe(h, 16, 2);
            putLe(h, big ? e.size : 0, 8);
            putLe(h, big ? e.packed : 0, 8);
        }
        return h;
    }

    // Deflate's stored (uncompressed, not final) blocks of the bytes.
    static std::string storedBlocks(std::string_view bytes)
    {
        std::string out;
        do {
            const size_t n = std::min<size_t>(bytes.size(), 0xFFFF);
            out += '\0';
            putLe(out, n, 2);
            putLe(out, ~n & 0xFFFF, 2);
            out.append(bytes.substr(0, n));
            bytes.remove_prefix(n);
        } while (!bytes.empty());
        return out;
    }

    bool writeOut(std::string_view bytes)
    {
        if (!writeAll(m_fd, bytes.data(), bytes.size(), m_error))
            return false;
        m_offset += bytes.size();
        return true;
    }
    bool writeAt(std::string_view bytes, quint64 offset)
    {
        if (::pwrite(m_fd, bytes.data(), bytes.size(), off_t(offset)) != ssize_t(bytes.size()))
            return fail(errno ? errno : EIO);
        return true;
    }
    bool fail(int error)
    {
        m_error = error;
        return false;
    }

    const int m_fd;
    quint16 m_dosDate = 0;
    quint16 m_dosTime = 0;
    quint64 m_offset = 0;
    int m_error = 0;
    std::vector<Entry> m_entries;
    Entry m_stream;
    size_t m_headLength = 0;
};

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

QString writeError(int error)
{
    return QStringLiteral("写入文件时出错，磁盘可能已满（%1）。")
        .arg(QString::fromLocal8Bit(std::strerror(error)));
}

ExportResult writeXlsx(const ExportSource& source, const QString& fileName,
                       const ExportProgress& progress)
{
    if (source.rows > kMaxWorkbookRows)
        return {ExportResult::Failed,
                QStringLiteral("列表有%1行，超过了 Excel 工作表能容纳的%2行，请导出为 CSV 文件。")
                    .arg(source.rows)
                    .arg(kMaxWorkbookRows)};
    const QFileInfo target(fileName);
    // Written beside the target under a temporary name, renamed when done.
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                             QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        return {ExportResult::Failed, folderError(fileName)};
    const int fd = temporary.handle();

    const int columns = source.columns;
    std::vector<std::string> names(static_cast<size_t>(columns));
    std::vector<int> widths(size_t(columns), 0);
    std::vector<bool> numeric(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        names[size_t(c)] = columnName(c);
        numeric[size_t(c)] = source.numeric && source.numeric(c);
    }
    ZipWriter zip(fd);
    const std::string placeholder =
        sheetHead(names, source.rows, std::vector<int>(size_t(columns), kMaxColumnWidth));
    const auto part = [](const char* xml) { return std::string(kXmlDeclaration) + xml; };
    if (!zip.add("[Content_Types].xml", part(kContentTypes)) ||
        !zip.add("_rels/.rels", part(kPackageRelations)) ||
        !zip.add("xl/workbook.xml", part(kWorkbook)) ||
        !zip.add("xl/_rels/workbook.xml.rels", part(kWorkbookRelations)) ||
        !zip.add("xl/styles.xml", part(kStyles)) ||
        !zip.beginStream("xl/worksheets/sheet1.xml", placeholder))
        return {ExportResult::Failed, writeError(zip.error())};

    SheetStream sheet(fd);
    RowWriter cells(sheet, names);
    cells.begin(0);
    for (int c = 0; c < columns; ++c)
        cells.text(c, source.heading(c), '1', widths[size_t(c)]);
    cells.end();
    char number[64];
    for (int r = 0; r < source.rows; ++r) {
        cells.begin(r + 1);
        for (int c = 0; c < columns; ++c) {
            int& width = widths[size_t(c)];
            if (numeric[size_t(c)] && source.number) {
                const float value = source.number(r, c);
                if (std::isfinite(value)) {
                    // The text the list shows is the cell's value, written
                    // without its trailing zeros.
                    const char* end = printFixed6(number, number + sizeof number, value);
                    width = std::max(width, int(end - number));
                    while (end[-1] == '0')
                        --end;
                    if (end[-1] == '.')
                        --end;
                    cells.number(c, std::string_view(number, size_t(end - number)));
                    continue;
                }
            }
            const QString text = source.text(r, c);
            if (numeric[size_t(c)] && !text.isEmpty()) {
                bool ok = false;
                const double value = text.toDouble(&ok);
                if (ok && std::isfinite(value)) {
                    width = std::max(width, displayWidth(text));
                    const auto end = std::to_chars(number, number + sizeof number, value).ptr;
                    cells.number(c, std::string_view(number, size_t(end - number)));
                    continue;
                }
            }
            int textWidth = 0;
            cells.text(c, text, 0, textWidth);
            width = std::max(width, textWidth);
        }
        cells.end();
        if (sheet.failed())
            break;
        if ((r + 1) % kProgressEvery == 0 && progress && !progress(r + 1))
            return {ExportResult::Cancelled, {}};
    }
    char* end = sheet.reserve(sizeof kSheetEnd);
    sheet.commit(put(end, kSheetEnd));
    if (const int error = sheet.finish())
        return {ExportResult::Failed, writeError(error)};
    if (!zip.endStream(sheetHead(names, source.rows, widths, placeholder.size()), sheet) ||
        !zip.finish())
        return {ExportResult::Failed, writeError(zip.error())};
    temporary.close();

    const QByteArray path = QFile::encodeName(temporary.fileName());
    if (std::rename(path.constData(), QFile::encodeName(target.absoluteFilePath()).constData()) !=
        0)
        return {ExportResult::Failed, folderError(fileName)};
    temporary.setAutoRemove(false);
    QFile::setPermissions(target.absoluteFilePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (progress)
        progress(source.rows);
    return {};
}

} // namespace

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
    s.rows = list.rowCount();
    s.columns = list.columnCount();
    s.heading = [&list](int c) { return list.columns()[size_t(c)].heading; };
    s.text = [&list](int r, int c) { return list.text(r, c); };
    s.numeric = [&list](int c) { return list.columns()[size_t(c)].kind == ListColumn::Single; };
    s.number = [&list](int r, int c) { return list.value(r, c).toFloat(); };
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

ExportResult exportList(const ExportSource& source, const QString& fileName, ExportFormat format,
                        const ExportProgress& progress)
{
    return format == ExportFormat::Csv ? writeCsv(source, fileName, progress)
                                       : writeXlsx(source, fileName, progress);
}

} // namespace vok
