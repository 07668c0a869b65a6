#include "core/ImportReader.h"

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
#include <mutex>
#include <thread>

namespace vok {

namespace {

constexpr qint64 kBlock = 1 << 20;

QString openError(const QString& fileName)
{
    return QStringLiteral("无法打开文件“%1”。").arg(fileName);
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
    bool open(const QString& fileName, QString* error)
    {
        m_file.setFileName(fileName);
        if (!m_file.open(QIODevice::ReadOnly)) {
            *error = openError(fileName);
            return false;
        }
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
        if (!m_decoder.isValid()) {
            *error = QStringLiteral("无法识别文件“%1”的编码。").arg(fileName);
            return false;
        }
        fillBuffer();
        chooseSeparator();
        return true;
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
                if (i == n)
                    continue;
                m_at = i + 1;
                if (s[i] == m_separator) {
                    ++column;
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
                ++column;
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
    // A small part read whole; empty when missing.
    QByteArray read(const QString& name) const
    {
        zip_file_t* f = zip_fopen(m_zip, name.toUtf8().constData(), 0);
        if (!f)
            return {};
        QByteArray out;
        char buffer[65536];
        zip_int64_t n;
        while ((n = zip_fread(f, buffer, sizeof buffer)) > 0)
            out.append(buffer, qsizetype(n));
        zip_fclose(f);
        return out;
    }
    zip_t* get() const { return m_zip; }

private:
    zip_t* m_zip = nullptr;
};

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

class XlsxReader : public ImportReader
{
public:
    ~XlsxReader() override
    {
        if (m_sheet)
            zip_fclose(m_sheet);
    }

    bool open(const QString& fileName, QString* error)
    {
        const QString broken =
            QStringLiteral("文件“%1”不是可以读取的 Excel 工作簿（.xlsx）。").arg(fileName);
        if (!m_zip.open(fileName)) {
            *error = broken;
            return false;
        }
        const QString sheet = firstSheet();
        zip_stat_t st;
        zip_stat_init(&st);
        if (sheet.isEmpty() || zip_stat(m_zip.get(), sheet.toUtf8().constData(), 0, &st) != 0) {
            *error = broken;
            return false;
        }
        m_size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
        if (!readSharedStrings()) {
            *error = broken;
            return false;
        }
        m_sheet = zip_fopen(m_zip.get(), sheet.toUtf8().constData(), 0);
        if (!m_sheet || !m_xml.p) {
            *error = broken;
            return false;
        }
        XML_SetUserData(m_xml.p, this);
        XML_SetElementHandler(m_xml.p, &XlsxReader::started, &XlsxReader::ended);
        XML_SetCharacterDataHandler(m_xml.p, &XlsxReader::characters);
        return true;
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
                if (!buffer) {
                    failed();
                    return false;
                }
                const zip_int64_t n =
                    m_sheet ? zip_fread(m_sheet, buffer, zip_uint64_t(kBlock)) : 0;
                if (n < 0) {
                    m_error = QStringLiteral("工作表第%1行之后的内容无法读取（压缩数据损坏）。")
                                  .arg(m_rowsEnded);
                    return false;
                }
                m_read += n;
                m_finished = n == 0;
                status = XML_ParseBuffer(m_xml.p, int(n), m_finished);
            }
            if (status == XML_STATUS_ERROR) {
                failed();
                return false;
            }
            if (status == XML_STATUS_SUSPENDED) {
                m_suspended = true;
                return true;
            }
        }
    }

private:
    enum class CellType
    {
        Number,
        Shared,
        Text // an inline string, a formula's text, a truth value, an error
    };

    void failed()
    {
        m_error = QStringLiteral("工作表第%1行之后的内容无法读取（%2）。")
                      .arg(m_rowsEnded)
                      .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(m_xml.p))));
    }

    static void XMLCALL started(void* data, const char* name, const char** attributes)
    {
        static_cast<XlsxReader*>(data)->start(localName(name), attributes);
    }
    static void XMLCALL ended(void* data, const char* name)
    {
        static_cast<XlsxReader*>(data)->end(localName(name));
    }
    static void XMLCALL characters(void* data, const char* text, int length)
    {
        auto* self = static_cast<XlsxReader*>(data);
        if (self->m_collect)
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
        } else if (m_cell && std::strcmp(name, "t") == 0) {
            // An inline string, plain or in runs.
            m_text.clear();
            m_collect = true;
        } else if (std::strcmp(name, "rPh") == 0 || std::strcmp(name, "f") == 0) {
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
            m_cell = nullptr;
            ++m_column;
        } else if (m_collect && std::strcmp(name, "v") == 0) {
            m_collect = false;
            readValue();
        } else if (m_collect && std::strcmp(name, "t") == 0) {
            m_collect = false;
            m_cell->text += unescapeWorkbookText(QString::fromUtf8(m_text));
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
            char* end = nullptr;
            const long long i = std::strtoll(m_text.c_str(), &end, 10);
            cell.text = end != m_text.c_str() && i >= 0 && i < qsizetype(m_shared.size())
                            ? m_shared[size_t(i)]
                            : QString();
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

    // The table of shared strings, read in blocks; false when it is there
    // but cannot be read.
    bool readSharedStrings()
    {
        const char* part = "xl/sharedStrings.xml";
        if (zip_name_locate(m_zip.get(), part, 0) < 0)
            return true;
        zip_file_t* f = zip_fopen(m_zip.get(), part, 0);
        XmlParser xml;
        if (!f || !xml.p)
            return false;
        struct State
        {
            std::vector<QString>* out;
            std::string text;
            int phonetic = 0;
            bool collect = false;
        } state{&m_shared, {}};
        XML_SetUserData(xml.p, &state);
        XML_SetElementHandler(
            xml.p,
            [](void* data, const char* name, const char**) {
                auto& s = *static_cast<State*>(data);
                name = localName(name);
                if (std::strcmp(name, "si") == 0)
                    s.text.clear();
                else if (std::strcmp(name, "rPh") == 0)
                    ++s.phonetic;
                else if (std::strcmp(name, "t") == 0 && !s.phonetic)
                    s.collect = true;
            },
            [](void* data, const char* name) {
                auto& s = *static_cast<State*>(data);
                name = localName(name);
                if (std::strcmp(name, "si") == 0)
                    s.out->push_back(unescapeWorkbookText(QString::fromUtf8(s.text)));
                else if (std::strcmp(name, "rPh") == 0)
                    --s.phonetic;
                else if (std::strcmp(name, "t") == 0)
                    s.collect = false;
            });
        XML_SetCharacterDataHandler(xml.p, [](void* data, const char* text, int length) {
            auto& s = *static_cast<State*>(data);
            if (s.collect)
                s.text.append(text, size_t(length));
        });
        bool fine = true;
        for (;;) {
            void* buffer = XML_GetBuffer(xml.p, int(kBlock));
            const zip_int64_t n = buffer ? zip_fread(f, buffer, zip_uint64_t(kBlock)) : -1;
            if (n < 0 || XML_ParseBuffer(xml.p, int(n), n == 0) != XML_STATUS_OK) {
                fine = false;
                break;
            }
            if (n == 0)
                break;
        }
        zip_fclose(f);
        return fine;
    }

    Zip m_zip;
    zip_file_t* m_sheet = nullptr;
    qint64 m_size = 0;
    qint64 m_read = 0;
    std::vector<QString> m_shared;
    XmlParser m_xml;
    bool m_suspended = false;
    bool m_finished = false;
    // Where the parse is: the row being filled, its cell, the text of the
    // element being read, and the depth of an element skipped.
    ImportRow* m_row = nullptr;
    ImportCell* m_cell = nullptr;
    bool m_inRow = false;
    qint64 m_rowsEnded = 0; // the number of the last row read to its end
    int m_column = 0;
    CellType m_type = CellType::Number;
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
            if (m_current.last)
                return false;
            std::unique_lock lock(m_mutex);
            if (!m_current.rows.empty())
                m_free.push_back(std::move(m_current));
            m_changed.wait(lock, [this] { return !m_full.empty(); });
            m_current = std::move(m_full.front());
            m_full.pop_front();
            m_at = 0;
            if (m_current.last)
                m_error = m_current.error;
            lock.unlock();
            m_changed.notify_all();
        }
    }

private:
    static constexpr size_t kRows = 1024;
    static constexpr size_t kBlocks = 4;

    struct Block
    {
        std::vector<ImportRow> rows;
        std::vector<qint64> numbers;
        size_t size = 0; // the rows filled
        bool last = false;
        QString error;
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
            while (block.size < kRows && m_inner->next(block.rows[block.size]))
                block.numbers[block.size++] = m_inner->rowNumber();
            block.last = block.size < kRows;
            block.error = block.last ? m_inner->error() : QString();
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

std::unique_ptr<ImportReader> ImportReader::open(const QString& fileName, QString* error)
{
    QFile probe(fileName);
    if (!probe.open(QIODevice::ReadOnly)) {
        *error = openError(fileName);
        return nullptr;
    }
    const bool zip = probe.peek(4) == QByteArrayLiteral("PK\x03\x04");
    probe.close();
    if (zip) {
        auto reader = std::make_unique<XlsxReader>();
        if (!reader->open(fileName, error))
            return nullptr;
        return reader;
    }
    auto reader = std::make_unique<CsvReader>();
    if (!reader->open(fileName, error))
        return nullptr;
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
