#pragma once

#include "core/Tables.h"
#include "db/Connection.h"

#include <QStringEncoder>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vok {

class ImportReader;

// One problem found in a file: where (a row and a column of the file; 0
// and -1 for the file as a whole) and what, in Chinese.
struct ImportProblem
{
    qint64 row = 0;
    int column = -1;
    QString heading;
    QString text;

    // "第9000行，F列“价格”：…" as the lists show it.
    QString describe() const;
};

// Told how far a step is (done of total); returning false cancels it.
using ImportProgress = std::function<bool(qint64 done, qint64 total)>;

// An import of a workbook or CSV file into one table: the catalogue, the
// stock (as opening stock) or a movement table (as history, which leaves
// the stock alone). The file's columns are matched to the table's columns
// by heading (the list's heading or the column's name), and may be matched
// again by hand. check() reads the whole file and checks every cell as the
// entry forms check what is typed, with the same code and the same rules
// (the table's description), and the device
// codes against the catalogue and each other; write() then writes every
// row in one transaction with one log entry, or nothing.
// A file that cannot be read throws DbError (Kind::File), a failure of the
// database the engine's DbError; a cancel returns false.
class TableImport
{
public:
    explicit TableImport(const TableDescription& table);
    ~TableImport();

    const TableDescription& table() const { return m_table; }
    // What the table's rows are called in texts: "设备代码", "入库记录", …
    QString title() const;
    // A word on what the import does to the stock; empty when nothing to say.
    QString note() const;

    // Opens the file and reads its heading row; throws when it cannot be
    // read or holds nothing.
    void open(const QString& fileName);
    const QString& fileName() const { return m_fileName; }
    QString fileKind() const;
    QStringList fileHeadings() const { return m_headings; }

    // The file column of each table column (-1: none), matched by heading
    // when the file is opened.
    const std::vector<int>& mapping() const { return m_mapping; }
    void setMapping(int tableColumn, int fileColumn);
    // Matches columns as "数量=件数,价格=单价": a table column (its heading
    // or name) = a file column (its heading, or its letter "C"); nothing
    // after "=": the column is not imported. Returns the problem in
    // Chinese, nothing changed; empty when matched. With onlyPresent, a pair
    // naming a file column this file lacks is passed over (a choice made
    // for an earlier file).
    QString matchColumns(const QString& pairs, bool onlyPresent = false);
    // The columns matched otherwise than by their headings, as
    // matchColumns() takes them; empty when none.
    QString matchedByHand() const;
    // The matching chosen by hand for a table, kept in vok.ini in the data
    // folder for the next import into it.
    static QString rememberedColumns(const TableDescription& table);
    static void rememberColumns(const TableDescription& table, const QString& pairs);
    // The table's columns: the list's headings, and whether one is required.
    QString columnHeading(int tableColumn) const;
    bool isRequired(int tableColumn) const;
    // The file's columns that go nowhere, and the required columns missing.
    QStringList ignoredHeadings() const;
    QStringList missingHeadings() const;

    // Reads and checks the whole file against the database (read only);
    // false when progress cancelled it.
    bool check(Connection& connection, const ImportProgress& progress = {});
    // Rows read and checked, the problems found (the first kListedProblems
    // of them kept) and how many there were.
    qint64 rowCount() const { return qint64(m_rowStart.size()); }
    const std::vector<ImportProblem>& problems() const { return m_problems; }
    qint64 problemCount() const { return m_problemCount; }
    static constexpr int kListedProblems = 1000;
    // The first rows as they will be stored, texts as the list shows them;
    // when the file gives the stock's opening unit price, each ends with it
    // (empty where the row has none).
    QList<QStringList> preview(int rows = 20) const;
    bool hasOpeningPrice() const { return m_priceColumn >= 0; }

    // Writes the rows checked in one transaction with one log entry; the
    // file's top row ends at the top of the list. False when progress
    // cancelled it; refused (BadInput) when the check found problems. A
    // failure or a cancel leaves the database as it was.
    bool write(Connection& connection, int classNumber, const QString& userName,
               const ImportProgress& progress = {});
    // The log entry's text for n rows.
    QString logText(qint64 rows) const;

    // A value checked (TableImport.cpp).
    struct Value;

private:
    void addProblem(qint64 row, int fileColumn, const QString& text);
    void storeRow(const std::vector<Value>& values);
    // The adjustments the rows written bring (TableImport.cpp).
    void recordStockEffect(Connection& connection, const QString& userName) const;
    bool readStoredRow(qint64 index, QVariantList& values) const;

    const TableDescription& m_table;
    QString m_fileName;
    QString m_fileKind;
    QStringList m_headings;
    std::vector<int> m_mapping;
    std::vector<int> m_headingMapping; // as matched by heading at open()
    // The stock table's optional opening unit price: its file column (-1:
    // none) and each stored row's price (none: an empty cell).
    int m_priceColumn = -1;
    std::vector<std::optional<double>> m_openingPrices;
    std::vector<ImportProblem> m_problems;
    qint64 m_problemCount = 0;
    // The rows checked, each value as stored: a float, or UTF-8 text.
    std::string m_store;
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    std::vector<size_t> m_rowStart;
};

} // namespace vok
