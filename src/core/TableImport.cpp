#include "core/TableImport.h"

#include "core/Clock.h"
#include "core/DeviceCatalogue.h"
#include "core/FieldCheck.h"
#include "core/ImportReader.h"
#include "core/PeriodSummary.h"
#include "core/StockChange.h"
#include "core/TableAccess.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Dialect.h"
#include "db/SqlText.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include <cstring>

namespace vok {

namespace {

constexpr int kProgressEvery = 4096;
// From this many rows an import into a table holding fewer rows makes the
// table's indexes afresh instead of placing each row in them.
constexpr qint64 kRebuildIndexesFrom = 20000;

// The indexes of the table an import of rows into it makes afresh: every
// index of the table when the import brings more rows than the table holds
// (making an index sorts once, where each row placed in it is a search and
// a page written at a random place). Only on the embedded engine: on the
// server, dropping an index would stop every workstation's reads of the
// table until the import ends.
std::vector<const IndexDef*> indexesToRemake(Connection& connection, const TableDef& table,
                                             qint64 rows)
{
    std::vector<const IndexDef*> out;
    if (connection.engine() != Engine::Sqlite || rows < kRebuildIndexesFrom)
        return out;
    for (const IndexDef& index : schema::indexes())
        if (index.table == table.name)
            out.push_back(&index);
    if (out.empty())
        return out;
    // Counted no further than the rows to import.
    auto held = connection.queryWith(
        SqlText::compose("SELECT COUNT(*) FROM (SELECT 1 FROM %1 LIMIT ?) AS held",
                         {SqlText::name(table.name)})
            .toString(),
        {rows});
    if (held->next() && qint64(held->number(0)) >= rows)
        out.clear();
    return out;
}

} // namespace

// A value checked and ready to store: a number (single-precision) or a
// text.
struct TableImport::Value
{
    bool isNumber = false;
    float number = 0;
    QString text;

    void setNumber(float v)
    {
        isNumber = true;
        number = v;
    }
    void setText(const QString& t)
    {
        isNumber = false;
        text = t;
    }
};

namespace {

// The headings other lists give the device code, first in every table.
constexpr QStringView kCodeHeadings[] = {u"设备编号", u"设备代码"};

// The names a file's heading may give a column: the list's heading, the
// column's name, the query field's heading without its letter, and the
// headings the program gives the column elsewhere (its description's).
bool headingNames(const TableDescription& table, int column, QStringView heading)
{
    const QStringView h = heading.trimmed();
    if (h.isEmpty())
        return false;
    if (column == 0 &&
        std::find(std::begin(kCodeHeadings), std::end(kCodeHeadings), h) != std::end(kCodeHeadings))
        return true;
    if (const TableColumn* c = table.describing(column))
        for (const QStringView other : c->otherHeadings.tokenize(u'|'))
            if (other == h)
                return true;
    if (size_t(column) < table.columns.size() &&
        table.columns[size_t(column)].heading.compare(h, Qt::CaseInsensitive) == 0)
        return true;
    const QString& name = table.def->columns.at(size_t(column)).name;
    if (name.compare(h, Qt::CaseInsensitive) == 0)
        return true;
    for (const QueryField& f : table.queryFields)
        if (f.column.compare(name, Qt::CaseInsensitive) == 0 &&
            f.text.chopped(1).compare(h, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// What the file already gave and what the database holds, for the checks
// of the codes.
struct Seen
{
    QSet<QString> catalogue;
    QSet<QString> stocked;
    QHash<QString, qint64> inFile;
};

QString codeProblem(const FieldRule& r, const QString& code, int maxBytes, Seen& seen, qint64 row)
{
    if (QString problem = FieldCheck::textProblem(code, maxBytes); !problem.isEmpty())
        return problem;
    if (code.trimmed().isEmpty())
        return blankCodeText();
    if (r.kind == FieldRule::NewCode) {
        if (seen.catalogue.contains(code))
            return codeInCatalogueText(code);
    } else if (!seen.catalogue.contains(code)) {
        return QStringLiteral("设备号“%1”不在设备代码表中。").arg(code);
    }
    if (r.kind == FieldRule::StockCode && seen.stocked.contains(code))
        return QStringLiteral("设备号“%1”已有库存记录。").arg(code);
    if (r.kind != FieldRule::Code) {
        const auto it = seen.inFile.constFind(code);
        if (it != seen.inFile.constEnd())
            return QStringLiteral("设备号“%1”在文件中重复（第%2行已有）。").arg(code).arg(*it);
        seen.inFile.insert(code, row);
    }
    return {};
}

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" of a date read, into out's
// buffer.
void putNormalDate(const DateTimeValue& v, bool dateOnly, QString& out)
{
    const int fields[] = {v.year, v.month, v.day, v.hour, v.minute, v.second};
    const char separators[] = {'-', '-', ' ', ':', ':'};
    out.resize(dateOnly ? 10 : 19);
    char16_t* p = reinterpret_cast<char16_t*>(out.data());
    for (int i = 0; i < (dateOnly ? 3 : 6); ++i) {
        if (i > 0)
            *p++ = char16_t(separators[i - 1]);
        int f = fields[i];
        if (i == 0) {
            *p++ = char16_t(u'0' + f / 1000 % 10);
            *p++ = char16_t(u'0' + f / 100 % 10);
        }
        *p++ = char16_t(u'0' + f / 10 % 10);
        *p++ = char16_t(u'0' + f % 10);
    }
}

// A date cell: a date text, or a workbook's serial number.
QString dateProblem(const ImportCell& cell, bool dateOnly, TableImport::Value& out)
{
    std::optional<DateTimeValue> value;
    const std::optional<double> serial =
        cell.isNumber ? std::optional<double>(cell.number) : FieldText::parseNumber(cell.text);
    if (serial) {
        // A workbook's date serial, or one written as text (a workbook saved
        // as CSV).
        const QDateTime t = serialDateTime(*serial);
        if (t.isValid())
            value = DateTimeValue{t.date().year(),
                                  t.date().month(),
                                  t.date().day(),
                                  t.time().hour(),
                                  t.time().minute(),
                                  t.time().second(),
                                  true};
    } else {
        value = parseDateTime(cell.text);
    }
    if (!value || (dateOnly && (value->hour || value->minute || value->second)))
        return QStringLiteral("“%1”不是有效的日期。").arg(cell.text.trimmed());
    out.isNumber = false;
    putNormalDate(*value, dateOnly, out.text);
    return {};
}

// A value's problem told with the value as the file gives it: a number
// that is none or out of its range (max < min: no upper bound), a text
// too long for its column.
QString numberCellText(const QString& problem, const QString& text, double min, double max)
{
    if (problem.isEmpty())
        return problem;
    const QString v = text.trimmed();
    if (v.isEmpty())
        return QStringLiteral("没有填数。");
    const std::optional<double> number = FieldText::parseNumber(v);
    if (!number)
        return QStringLiteral("“%1”不是一个数。").arg(v);
    if (max < min)
        return QStringLiteral("“%1”小于%2。").arg(v).arg(min);
    return QStringLiteral("“%1”不在%2和%3之间。").arg(v).arg(min).arg(max);
}

QString textCellText(const QString& problem, const QString& text, int maxBytes)
{
    if (maxBytes < 0 || problem != FieldCheck::tooLongText(maxBytes))
        return problem;
    // A long text is quoted by its beginning.
    constexpr int kQuoted = 30;
    const QString quoted = text.size() > kQuoted ? text.left(kQuoted) + QStringLiteral("…") : text;
    return QStringLiteral("“%1”太长：这一列最多%2个字符（一个汉字算两个）。")
        .arg(quoted)
        .arg(maxBytes);
}

// Checks one cell as the entry form checks its field and gives the value
// to store.
QString checkCell(const TableDescription& table, int column, const ImportCell& cell, Seen& seen,
                  qint64 row, TableImport::Value& out)
{
    const FieldRule r = table.rule(column);
    const ColumnDef& def = table.def->columns.at(size_t(column));
    const int maxBytes = table.maxBytes(column);
    // A number the table keeps as text is stored as its "%f" text.
    const bool asText = def.field == FieldKind::Text;
    QString problem;
    switch (r.kind) {
    case FieldRule::Code:
    case FieldRule::NewCode:
    case FieldRule::StockCode: {
        const QString code = codeAsStored(cell.text);
        problem = textCellText(codeProblem(r, code, maxBytes, seen, row), code, maxBytes);
        out.setText(code);
        break;
    }
    case FieldRule::Text:
        problem = textCellText(FieldCheck::textProblem(cell.text, maxBytes, r.multiLine), cell.text,
                               maxBytes);
        // The one text that must be given is the demand's department.
        if (problem.isEmpty() && r.required && cell.text.isEmpty())
            problem = QStringLiteral("部门一项不能为空！");
        out.setText(cell.text);
        break;
    case FieldRule::Number: {
        float v = 0;
        problem =
            numberCellText(FieldCheck::numberProblem(cell.text, v, r), cell.text, r.min, r.max);
        if (asText)
            out.setText(FieldText::listNumber(v));
        else
            out.setNumber(v);
        break;
    }
    case FieldRule::Figure: {
        float v = 0;
        problem = numberCellText(FieldCheck::numberProblem(cell.text, v, r), cell.text, r.min, -1);
        out.setNumber(v);
        break;
    }
    case FieldRule::AnyNumber: {
        QString v;
        problem = FieldCheck::numberTextProblem(cell.text, v, table, column);
        if (problem == FieldCheck::notANumberText())
            problem = numberCellText(problem, cell.text, 0, -1);
        out.setText(v);
        break;
    }
    case FieldRule::Integer: {
        int v = 0;
        problem = FieldCheck::integerProblem(cell.text, v, int(r.min), int(r.max),
                                             FieldCheck::notAnIntegerText());
        if (!problem.isEmpty())
            problem = QStringLiteral("“%1”不是%2到%3之间的整数。")
                          .arg(cell.text.trimmed())
                          .arg(r.min)
                          .arg(r.max);
        out.setText(QString::number(v));
        break;
    }
    case FieldRule::Date:
        problem = dateProblem(cell, def.kind == ColumnKind::Date, out);
        break;
    }
    return problem;
}

void putBytes(std::string& out, const void* p, size_t n)
{
    out.append(static_cast<const char*>(p), n);
}

} // namespace

QString ImportProblem::describe() const
{
    if (row <= 0)
        return text;
    if (column < 0)
        return QStringLiteral("第%1行：%2").arg(row).arg(text);
    return QStringLiteral("第%1行，%2列“%3”：%4")
        .arg(row)
        .arg(sheetColumnName(column), heading, text);
}

TableImport::TableImport(const TableDescription& table)
    : m_table(table), m_mapping(table.def->columns.size(), -1)
{
}

TableImport::~TableImport() = default;

QString TableImport::title() const
{
    return m_table.rowsCaption.toString();
}

QString TableImport::note() const
{
    if (&m_table == &tables::deviceCode)
        return {};
    if (&m_table == &tables::device)
        return QStringLiteral("导入的库存作为期初库存写入，每个设备记一笔库存调整（总数与现存数量不"
                              "同时另记期初总数）；“单价”一列（可空）为期初数量的单价。");
    return QStringLiteral("导入的记录只作为历史记录，不改变库存（库存由库存导入或盘点设定），"
                          "也不计入库存核对的流水结存。");
}

QString TableImport::fileKind() const
{
    return m_fileKind;
}

QString TableImport::columnHeading(int tableColumn) const
{
    return size_t(tableColumn) < m_table.columns.size()
               ? m_table.columns[size_t(tableColumn)].heading.toString()
               : m_table.def->columns.at(size_t(tableColumn)).name;
}

bool TableImport::isRequired(int tableColumn) const
{
    return m_table.rule(tableColumn).required;
}

void TableImport::open(const QString& fileName)
{
    m_fileName = fileName;
    m_headings.clear();
    std::fill(m_mapping.begin(), m_mapping.end(), -1);
    const auto reader = ImportReader::open(fileName);
    m_fileKind = reader->kind();
    ImportRow row;
    if (!reader->next(row))
        throw DbError(DbError::Kind::File, QStringLiteral("文件“%1”中没有数据。").arg(fileName));
    for (const ImportCell& c : row)
        m_headings << c.text.trimmed();
    for (int column = 0; column < int(m_mapping.size()); ++column)
        for (int f = 0; f < m_headings.size(); ++f)
            if (headingNames(m_table, column, m_headings.at(f)) &&
                std::find(m_mapping.begin(), m_mapping.end(), f) == m_mapping.end()) {
                m_mapping[size_t(column)] = f;
                break;
            }
    m_headingMapping = m_mapping;
    m_priceColumn = -1;
    if (&m_table == &tables::device)
        for (int f = 0; f < m_headings.size() && m_priceColumn < 0; ++f)
            if (headingNames(tables::deviceAdjust, DeviceAdjustCol::price, m_headings.at(f)))
                m_priceColumn = f;
}

void TableImport::setMapping(int tableColumn, int fileColumn)
{
    m_mapping.at(size_t(tableColumn)) = fileColumn;
}

QString TableImport::matchColumns(const QString& pairs, bool onlyPresent)
{
    std::vector<int> mapping = m_mapping;
    const QStringList parts =
        pairs.split(QRegularExpression(QStringLiteral("[,，]")), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const qsizetype eq = part.indexOf(QRegularExpression(QStringLiteral("[=＝]")));
        if (eq < 0)
            return QStringLiteral("“%1”中缺少“=”：请写成“表中的列=文件中的列”。")
                .arg(part.trimmed());
        const QString to = part.left(eq).trimmed();
        const QString from = part.mid(eq + 1).trimmed();
        int column = -1;
        for (int c = 0; c < int(mapping.size()) && column < 0; ++c)
            if (columnHeading(c) == to ||
                m_table.def->columns.at(size_t(c)).name.compare(to, Qt::CaseInsensitive) == 0)
                column = c;
        if (column < 0) {
            QStringList headings;
            for (int c = 0; c < int(mapping.size()); ++c)
                headings << columnHeading(c);
            return QStringLiteral("%1中没有“%2”列；它的列是：%3。")
                .arg(title(), to, headings.join(QStringLiteral("、")));
        }
        int file = from.isEmpty() ? -1 : int(m_headings.indexOf(from));
        if (file < 0 && !from.isEmpty())
            for (int f = 0; f < m_headings.size() && file < 0; ++f)
                if (sheetColumnName(f).compare(from, Qt::CaseInsensitive) == 0)
                    file = f;
        if (file < 0 && !from.isEmpty()) {
            if (onlyPresent)
                continue;
            return QStringLiteral("文件中没有“%1”列。").arg(from);
        }
        mapping[size_t(column)] = file;
    }
    m_mapping = std::move(mapping);
    return {};
}

QString TableImport::matchedByHand() const
{
    QStringList pairs;
    for (size_t c = 0; c < m_mapping.size(); ++c) {
        const int f = m_mapping[c];
        if (c >= m_headingMapping.size() || f == m_headingMapping[c])
            continue;
        const QString from = f < 0                           ? QString()
                             : m_headings.value(f).isEmpty() ? sheetColumnName(f)
                                                             : m_headings.value(f);
        pairs << columnHeading(int(c)) + QLatin1Char('=') + from;
    }
    return pairs.join(QLatin1Char(','));
}

namespace {

QSettings settings()
{
    return QSettings(QDir(DataFolder::path()).filePath(QStringLiteral("vok.ini")),
                     QSettings::IniFormat);
}

QString columnsKey(const TableDescription& table)
{
    return QStringLiteral("import/%1").arg(table.name());
}

} // namespace

QString TableImport::rememberedColumns(const TableDescription& table)
{
    return settings().value(columnsKey(table)).toString();
}

void TableImport::rememberColumns(const TableDescription& table, const QString& pairs)
{
    QSettings s = settings();
    if (pairs.isEmpty())
        s.remove(columnsKey(table));
    else
        s.setValue(columnsKey(table), pairs);
}

QStringList TableImport::ignoredHeadings() const
{
    QStringList out;
    for (int f = 0; f < m_headings.size(); ++f)
        if (f != m_priceColumn &&
            std::find(m_mapping.begin(), m_mapping.end(), f) == m_mapping.end())
            out << (m_headings.at(f).isEmpty() ? sheetColumnName(f) + QStringLiteral("列")
                                               : m_headings.at(f));
    return out;
}

QStringList TableImport::missingHeadings() const
{
    QStringList out;
    for (int c = 0; c < int(m_mapping.size()); ++c)
        if (isRequired(c) && m_mapping[size_t(c)] < 0)
            out << columnHeading(c);
    return out;
}

void TableImport::addProblem(qint64 row, int fileColumn, const QString& text)
{
    ++m_problemCount;
    if (m_problems.size() < size_t(kListedProblems))
        m_problems.push_back(
            {row, fileColumn, fileColumn >= 0 ? m_headings.value(fileColumn) : QString(), text});
}

void TableImport::storeRow(const std::vector<Value>& values)
{
    m_rowStart.push_back(m_store.size());
    for (const Value& v : values) {
        if (v.isNumber) {
            m_store += 'f';
            putBytes(m_store, &v.number, sizeof v.number);
            continue;
        }
        // The text's UTF-8 straight into the store, its length before it.
        const size_t at = m_store.size();
        m_store.resize(at + 1 + sizeof(quint32) + size_t(m_utf8.requiredSpace(v.text.size())));
        char* begin = m_store.data() + at + 1 + sizeof(quint32);
        const auto n = quint32(m_utf8.appendToBuffer(begin, v.text) - begin);
        m_store[at] = 't';
        std::memcpy(m_store.data() + at + 1, &n, sizeof n);
        m_store.resize(at + 1 + sizeof n + n);
    }
}

bool TableImport::readStoredRow(qint64 index, QVariantList& values) const
{
    if (index < 0 || index >= rowCount())
        return false;
    const char* p = m_store.data() + m_rowStart[size_t(index)];
    const size_t columns = m_table.def->columns.size();
    values.resize(qsizetype(columns));
    for (size_t c = 0; c < columns; ++c) {
        if (*p++ == 'f') {
            float f;
            std::memcpy(&f, p, sizeof f);
            p += sizeof f;
            values[qsizetype(c)] = f;
        } else {
            quint32 n;
            std::memcpy(&n, p, sizeof n);
            p += sizeof n;
            values[qsizetype(c)] = QString::fromUtf8(p, qsizetype(n));
            p += n;
        }
    }
    return true;
}

bool TableImport::check(Connection& connection, const ImportProgress& progress)
{
    m_problems.clear();
    m_problemCount = 0;
    m_store.clear();
    m_rowStart.clear();
    m_openingPrices.clear();
    for (const QString& heading : missingHeadings())
        addProblem(0, -1, QStringLiteral("缺少必需的列“%1”。").arg(heading));
    if (m_problemCount > 0)
        return true;

    Seen seen;
    for (const QString& code : catalogueCodes(connection))
        seen.catalogue.insert(code);
    if (&m_table == &tables::device) {
        auto rows = TableAccess(connection, tables::device).list(TableRows{m_table.name()});
        while (rows->next())
            seen.stocked.insert(rows->text(DeviceCol::code));
    }

    auto file = ImportReader::open(m_fileName);
    ImportRow row;
    file->next(row); // the headings
    const auto reader = readAhead(std::move(file));
    const TableDef& def = *m_table.def;
    std::vector<Value> values(def.columns.size());
    qint64 read = 0;
    while (reader->next(row)) {
        const qint64 at = reader->rowNumber();
        bool fine = true;
        for (int c = 0; c < int(values.size()); ++c) {
            const int f = m_mapping[size_t(c)];
            Value& out = values[size_t(c)];
            if (f < 0) {
                if (def.columns[size_t(c)].field == FieldKind::Single)
                    out.setNumber(0);
                else
                    out.setText(m_table.rule(c).absent.toString());
                continue;
            }
            static const ImportCell empty;
            const ImportCell& cell = size_t(f) < row.size() ? row[size_t(f)] : empty;
            const QString problem = checkCell(m_table, c, cell, seen, at, out);
            if (!problem.isEmpty()) {
                addProblem(at, f, problem);
                fine = false;
            }
        }
        // Without a total, what is on hand is all that was taken in.
        if (&m_table == &tables::device && m_mapping[DeviceCol::total_number] < 0)
            values[DeviceCol::total_number] = values[DeviceCol::now_number];
        // The opening unit price, when the file gives one for the row.
        std::optional<double> price;
        if (m_priceColumn >= 0 && size_t(m_priceColumn) < row.size() &&
            !row[size_t(m_priceColumn)].text.trimmed().isEmpty()) {
            Value v;
            const QString problem = checkCell(tables::deviceAdjust, DeviceAdjustCol::price,
                                              row[size_t(m_priceColumn)], seen, at, v);
            if (problem.isEmpty()) {
                price = v.number;
            } else {
                addProblem(at, m_priceColumn, problem);
                fine = false;
            }
        }
        if (fine) {
            storeRow(values);
            if (m_priceColumn >= 0)
                m_openingPrices.push_back(price);
        }
        if (++read % kProgressEvery == 0 && progress && !progress(reader->permille(), 1000))
            return false;
    }
    if (progress)
        progress(1000, 1000);
    return true;
}

QList<QStringList> TableImport::preview(int rows) const
{
    QList<QStringList> out;
    QVariantList values;
    for (qint64 i = 0; i < rows && readStoredRow(i, values); ++i) {
        QStringList texts;
        for (const QVariant& v : std::as_const(values))
            texts << (v.typeId() == QMetaType::Float ? FieldText::listNumber(v.toFloat())
                                                     : v.toString());
        if (hasOpeningPrice()) {
            const auto price =
                size_t(i) < m_openingPrices.size() ? m_openingPrices[size_t(i)] : std::nullopt;
            texts << (price ? FieldText::listNumber(*price) : QString());
        }
        out << texts;
    }
    return out;
}

QString TableImport::logText(qint64 rows) const
{
    return QStringLiteral("从文件导入%1%2行（%3）。").arg(title()).arg(rows).arg(m_table.name());
}

void TableImport::recordStockEffect(Connection& connection, const QString& userName) const
{
    const qint64 total = rowCount();
    QVariantList values;
    // The stock is the devices' opening stock: one adjustment each, from
    // nothing to the quantity on hand, and the opening total of those
    // whose total is more than that.
    if (&m_table == &tables::device) {
        std::vector<Stock::Adjustment> opening;
        std::vector<Stock::OpeningTotal> totals;
        opening.reserve(size_t(total));
        for (qint64 i = 0; i < total && readStoredRow(i, values); ++i) {
            const QString code = values.at(DeviceCol::code).toString();
            const float now = values.at(DeviceCol::now_number).toFloat();
            const float sum = values.at(DeviceCol::total_number).toFloat();
            opening.push_back(
                {code, 0, now,
                 size_t(i) < m_openingPrices.size() ? m_openingPrices[size_t(i)] : std::nullopt});
            if (sum > now)
                totals.push_back({code, sum});
        }
        Stock::recordAdjustments(connection, opening, Stock::openingReason(), userName);
        Stock::recordOpeningTotals(connection, totals, userName);
        return;
    }
    // Movements are history, already in the stock: each device's imported
    // quantity is taken out of the ledger again.
    int quantity = -1;
    Stock::Movement movement = Stock::Movement::In;
    if (&m_table == &tables::deviceIn) {
        quantity = DeviceInCol::in_number;
    } else if (&m_table == &tables::deviceOut) {
        quantity = DeviceOutCol::out_number;
        movement = Stock::Movement::Out;
    } else if (&m_table == &tables::deviceReturn) {
        quantity = DeviceReturnCol::return_number;
        movement = Stock::Movement::Return;
    }
    if (quantity < 0)
        return;
    std::vector<std::pair<QString, double>> sums;
    QHash<QString, size_t> at;
    for (qint64 i = 0; i < total && readStoredRow(i, values); ++i) {
        const QString code = values.at(0).toString(); // the code comes first
        auto it = at.constFind(code);
        if (it == at.constEnd()) {
            it = at.insert(code, sums.size());
            sums.emplace_back(code, 0.0);
        }
        sums[*it].second += values.at(quantity).toFloat();
    }
    Stock::recordImportedHistory(connection, movement, sums, userName);
}

bool TableImport::write(Connection& connection, int classNumber, const QString& userName,
                        const ImportProgress& progress)
{
    if (m_problemCount > 0)
        throw DbError(DbError::Kind::BadInput,
                      QStringLiteral("文件中有%1个问题，没有导入任何记录。").arg(m_problemCount));
    const qint64 total = rowCount();
    bool cancelled = false;
    {
        const TableAccess table(connection, m_table, classNumber);
        Transaction transaction(connection);
        // The file's last row first: the lists show the newest row at the
        // top, so the file's top row is listed at the top, as exported.
        qint64 next = total - 1;
        const auto closed = PeriodClose::valuesCheck(connection, *m_table.def);
        const std::vector<const IndexDef*> remade =
            indexesToRemake(connection, *m_table.def, total);
        for (const IndexDef* index : remade)
            connection.executeWith(
                SqlText::compose("DROP INDEX IF EXISTS %1", {SqlText::name(index->name)})
                    .toString(),
                {});
        // Making an index afresh counts as a sixth of the rows' writing.
        const qint64 perIndex = total / 6;
        const qint64 work = total + perIndex * qint64(remade.size());
        connection.appendRows(
            m_table.name(), m_table.def->columnNames(), [&](QVariantList& values) {
                if (next < 0 || cancelled)
                    return false;
                readStoredRow(next--, values);
                closed(values);
                const qint64 done = total - 1 - next;
                if (done % kProgressEvery == 0 && progress && !progress(done, work))
                    cancelled = true;
                return true;
            });
        for (size_t i = 0; i < remade.size() && !cancelled; ++i) {
            connection.executeWith(schema::createIndex(*remade[i], Engine::Sqlite), {});
            if (progress && !progress(total + perIndex * qint64(i + 1), work))
                cancelled = true;
        }
        if (cancelled)
            return false;
        recordStockEffect(connection, userName);
        TableAccess(connection, tables::howdo, classNumber)
            .append({userName, logText(total), unpaddedDateTime(Clock::now())});
        transaction.commit();
    }
    if (progress)
        progress(total, total);
    return true;
}

} // namespace vok
