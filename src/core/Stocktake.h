#pragma once

#include "db/Connection.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <optional>
#include <vector>

namespace vok {

// One device of a stocktake: its stock as listed and what was counted.
struct StocktakeLine
{
    QString code;
    QString name;
    bool inCatalogue = true;
    // DEVICE rows of the code; only a device with exactly one is counted.
    int stockRows = 1;
    // now_number when the device was listed (summed over its rows).
    double book = 0;
    std::optional<double> counted;

    bool countable() const { return stockRows == 1; }
    // Counted, and the count differs from the book in single precision.
    bool differs() const;
    // Counted minus book; 0 when uncounted.
    double difference() const;
};

// What a count sheet adds up to.
struct StocktakeSummary
{
    int devices = 0;
    int counted = 0;
    int differing = 0;
    double difference = 0; // the sum of every counted device's difference
};

namespace Stocktake {

// The devices of the stock table whose code begins with prefix (every one
// when it is empty), by code, with their names from the catalogue and
// nothing counted. Throws DbError.
std::vector<StocktakeLine> list(Connection& connection, const QString& prefix);

StocktakeSummary summarize(const std::vector<StocktakeLine>& lines);

// A counted device whose stock another workstation changed after it was
// listed.
struct BookChange
{
    QString code;
    double listed = 0;
    double now = 0;
    double counted = 0;
};

// What the storekeeper decided about devices whose stock changed meanwhile:
// the count is applied to the stock as it was when asked (accepted: code to
// that stock), or the device is left out of this stocktake.
struct Decisions
{
    QHash<QString, double> accepted;
    QSet<QString> leftOut;
};

struct Confirmation
{
    // Devices whose stock changed since they were listed and that no
    // decision covers. When there are any, nothing was written.
    std::vector<BookChange> changed;
    // Devices whose stock was set to their count.
    int adjusted = 0;
    // Counted devices that no longer have exactly one stock row: left out.
    QStringList noSingleRow;
};

// Confirms the counts: in one transaction, every counted device whose
// stock row is locked and whose now_number differs from its count gets the
// count as now_number and one adjustment "盘点" (before: the stock found,
// after: the count) by user. A counted device whose stock is no longer the
// listed one stops the whole confirmation (it is returned in changed and
// nothing is written) unless decisions covers it. Uncounted devices change
// nothing. Throws DbError, also for a class that may not write; then
// nothing is written.
Confirmation confirm(Connection& connection, int classNumber, const QString& user,
                     const std::vector<StocktakeLine>& lines, const Decisions& decisions = {});

// The counts not yet confirmed, kept in a file between two openings of the
// form: the prefix listed and each counted device with its listed stock.
struct Draft
{
    QString prefix;
    QDateTime listed;
    struct Count
    {
        QString code;
        double book = 0;
        double counted = 0;
    };
    std::vector<Count> counts;
};

// The draft file of a department in the data folder.
QString draftFile(const QString& department);
// Writes the counted lines (none: removes the file). False when the file
// cannot be written.
bool saveDraft(const QString& file, const QString& prefix, const QDateTime& listed,
               const std::vector<StocktakeLine>& lines);
// The draft of the file; nothing when there is none or it cannot be read.
std::optional<Draft> loadDraft(const QString& file);
// Puts the draft's counts onto the lines of the same code, with the stock
// the counts were taken against; returns how many were put.
int applyDraft(const Draft& draft, std::vector<StocktakeLine>& lines);

} // namespace Stocktake

// The count sheet as the stocktake form lists it: code, name, book, the
// count (edited) and the difference in words ("盘盈 2", "盘亏 1", "相符").
class StocktakeModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        Code,
        Name,
        Book,
        Counted,
        Difference,
        ColumnCount
    };

    explicit StocktakeModel(QObject* parent = nullptr);

    void setLines(std::vector<StocktakeLine> lines);
    const std::vector<StocktakeLine>& lines() const { return m_lines; }
    // Sets or clears a count; false for a device that cannot be counted.
    bool setCount(int row, std::optional<double> counted);
    // The row of a code; -1 when it is not listed.
    int rowOf(const QString& code) const;

    QString text(int row, int column) const;
    static QString heading(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void countsChanged();

private:
    std::vector<StocktakeLine> m_lines;
    QHash<QString, int> m_rows;
};

} // namespace vok
