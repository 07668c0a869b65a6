#include "core/ImportReader.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <zip.h>

#include <cmath>

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
int referenceColumn(QStringView reference)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < reference.size(); ++i) {
        const char16_t c = reference.at(i).unicode();
        if (c >= u'A' && c <= u'Z')
            column = column * 26 + (c - u'A' + 1);
        else if (c >= u'a' && c <= u'z')
            column = column * 26 + (c - u'a' + 1);
        else
            break;
    }
    return i == 0 ? -1 : column - 1;
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
        readSharedStrings();
        m_sheet = zip_fopen(m_zip.get(), sheet.toUtf8().constData(), 0);
        if (!m_sheet) {
            *error = broken;
            return false;
        }
        return true;
    }

    QString kind() const override { return QStringLiteral("Excel 工作簿"); }

    int permille() const override
    {
        return m_size > 0 ? int(std::min<qint64>(1000, m_read * 1000 / m_size)) : 1000;
    }

    bool next(ImportRow& row) override
    {
        clearRow(row);
        bool inRow = false;
        int column = 0;
        for (;;) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                    continue;
                if (m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError || inRow)
                    m_error = QStringLiteral("工作表第%1行之后的内容无法读取（%2）。")
                                  .arg(m_rowNumber)
                                  .arg(m_xml.errorString());
                return false;
            }
            if (token == QXmlStreamReader::EndDocument)
                return false;
            if (token == QXmlStreamReader::StartElement) {
                const QStringView name = m_xml.name();
                if (name == u"row") {
                    inRow = true;
                    column = 0;
                    bool ok = false;
                    const qint64 r = m_xml.attributes().value(QLatin1String("r")).toLongLong(&ok);
                    m_rowNumber = ok ? r : m_rowNumber + 1;
                } else if (inRow && name == u"c") {
                    const QXmlStreamAttributes a = m_xml.attributes();
                    const int at = referenceColumn(a.value(QLatin1String("r")));
                    if (at >= 0)
                        column = at;
                    const QString type = a.value(QLatin1String("t")).toString();
                    if (column >= 16384) {
                        m_xml.skipCurrentElement();
                        continue;
                    }
                    if (row.size() <= size_t(column))
                        row.resize(size_t(column) + 1);
                    readCell(row[size_t(column)], type);
                    ++column;
                }
            } else if (token == QXmlStreamReader::EndElement && inRow && m_xml.name() == u"row") {
                bool any = false;
                for (const ImportCell& c : row)
                    any = any || !c.text.isEmpty();
                if (any)
                    return true;
                inRow = false;
                clearRow(row);
            }
        }
    }

private:
    // Empties the cells, keeping their buffers.
    static void clearRow(ImportRow& row)
    {
        for (ImportCell& c : row) {
            c.text.truncate(0);
            c.isNumber = false;
        }
    }

    // Gives the parser the next block of the sheet; false at its end.
    bool feed()
    {
        if (!m_sheet)
            return false;
        QByteArray block(kBlock, Qt::Uninitialized);
        const zip_int64_t n = zip_fread(m_sheet, block.data(), zip_uint64_t(block.size()));
        if (n <= 0) {
            zip_fclose(m_sheet);
            m_sheet = nullptr;
            return false;
        }
        block.truncate(qsizetype(n));
        m_read += n;
        m_xml.addData(block);
        return true;
    }

    // Reads the text of the element the parser is in, feeding it more of
    // the sheet as it needs.
    QString elementText()
    {
        for (;;) {
            const QString t = m_xml.readElementText(QXmlStreamReader::IncludeChildElements);
            if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                continue;
            return t;
        }
    }

    // Reads one cell: <v> (a shared string's number, a number, a formula's
    // text) or <is> (an inline string).
    void readCell(ImportCell& cell, const QString& type)
    {
        cell.text.truncate(0);
        cell.isNumber = false;
        for (;;) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                    continue;
                return;
            }
            if (token == QXmlStreamReader::EndElement && m_xml.name() == u"c")
                return;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (m_xml.name() == u"v") {
                const QString v = textOfElement();
                if (type == u"s") {
                    const qsizetype i = v.toLongLong();
                    cell.text = i >= 0 && i < m_shared.size() ? m_shared.at(i) : QString();
                } else if (type.isEmpty() || type == u"n") {
                    bool ok = false;
                    cell.number = v.toDouble(&ok);
                    cell.isNumber = ok;
                    cell.text = v;
                } else {
                    cell.text = unescapeWorkbookText(v);
                }
            } else if (m_xml.name() == u"t") {
                // Inline string, plain or in runs.
                cell.text += unescapeWorkbookText(textOfElement());
            } else if (m_xml.name() == u"rPh" || m_xml.name() == u"f") {
                skipElement();
            }
        }
    }

    // The character data of the element just started, up to its end.
    QString textOfElement()
    {
        QString out;
        for (;;) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                    continue;
                return out;
            }
            if (token == QXmlStreamReader::Characters)
                out += m_xml.text();
            else if (token == QXmlStreamReader::EndElement)
                return out;
        }
    }

    void skipElement()
    {
        int depth = 1;
        while (depth > 0) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                    continue;
                return;
            }
            if (token == QXmlStreamReader::StartElement)
                ++depth;
            else if (token == QXmlStreamReader::EndElement)
                --depth;
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

    void readSharedStrings()
    {
        const QByteArray data = m_zip.read(QStringLiteral("xl/sharedStrings.xml"));
        if (data.isEmpty())
            return;
        QXmlStreamReader xml(data);
        QString current;
        int phonetic = 0;
        while (!xml.atEnd()) {
            switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                if (xml.name() == u"si")
                    current.clear();
                else if (xml.name() == u"rPh")
                    ++phonetic;
                else if (xml.name() == u"t" && !phonetic)
                    current += xml.readElementText();
                break;
            case QXmlStreamReader::EndElement:
                if (xml.name() == u"si")
                    m_shared << unescapeWorkbookText(current);
                else if (xml.name() == u"rPh")
                    --phonetic;
                break;
            default:
                break;
            }
        }
    }

    Zip m_zip;
    zip_file_t* m_sheet = nullptr;
    qint64 m_size = 0;
    qint64 m_read = 0;
    QStringList m_shared;
    QXmlStreamReader m_xml;
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
