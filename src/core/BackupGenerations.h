#pragma once

#include "core/BackupRetention.h"
#include "db/Backup.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace vok {

// One department's copy in a generation, as recorded when it was taken.
struct GenerationCopy
{
    QString dsn;  // "VOK1"
    QString file; // "vok1.db"
    qint64 size = 0;
    QByteArray sha256; // hex
    // Rows of each table, in the schema's order.
    QList<std::pair<QString, qint64>> rows;
};

// A generation folder of the history and what it holds.
struct GenerationInfo
{
    BackupGeneration generation;
    QString path;
    QList<GenerationCopy> copies;
    // Why it does not verify (the first fault found); empty when it does.
    QString problem;

    qint64 size() const;
    // "部门A、部门C"
    QString departmentNames() const;
};

// The dated generations of backup copies in the history of the backup
// folder (备份/历史/2026-12-09_173045/vok1.db …). A generation is written
// into a temporary folder, each copy checked, its record ("内容.json":
// size, SHA-256 and rows per table of every copy) written last, and only
// then renamed to its time's name; the copies directly in the backup folder
// are then replaced by its files, so they are always the newest
// generation. Earlier generations are removed by the retention rule, and
// only after a new one has been verified.
namespace BackupGenerations {

// Reports a step: the department being copied (index of count) and how far
// its copy has got. Returning false cancels the whole generation.
struct Progress
{
    std::function<void(int index, int count, const QString& department)> started;
    Backup::Progress copy;
    // Called every tenth of a second while another backup (of this or
    // another program) holds the backup folder; returning false cancels.
    // Without it the backup simply waits its turn.
    std::function<bool()> waiting;
};

// What a generation taken wrote.
struct Taken
{
    QString name;
    int departments = 0;
    QStringList removed; // generations the retention rule let go
    // Why the copies in the backup folder itself are still the previous
    // backup's, every one of them (the disk full, say); empty when they
    // are this generation's.
    QString notPlaced;
};

// How closely list() looks at the copies of each generation.
enum class Verify
{
    Sizes,       // each copy's recorded size
    Hashes,      // and its recorded SHA-256, read now
    CachedHashes // the same, read again only for a file whose size or time
                 // changed since this program last read it (for a list shown)
};

// Every generation folder of the history, newest first. A generation is
// verified when its record is there, names every copy by its department's
// file name once, and every copy is there as recorded and (when the copy
// says it) taken of that department.
QList<GenerationInfo> list(Verify how = Verify::Sizes);

// Checks a generation's copies as list() with Verify::Hashes does, read
// now; returns the fault, or an empty text when it is sound.
QString verify(const GenerationInfo& generation);

// Takes one generation of every department database that exists, at the
// time now (or the first free second after it). Backups of several
// programs at once take their turns: each holds a lock on the backup
// folder while it works. Throws DbError with the user's text when a copy
// fails or does not verify; then no generation is added and nothing is
// removed or replaced. Nothing when cancelled (the same holds). Should the
// generation be kept but its copies not fit into the backup folder itself,
// those stay the previous backup's, every one of them, and notPlaced says
// why.
std::optional<Taken> take(const QDateTime& now, const Progress& progress = {});

// What a generation taken whose folder copies could not be replaced says:
// where it was kept, that the copies are still the previous backup's, and
// why.
QString notPlacedText(const Taken& taken);

// True when the newest verified generation is older than a day, or there
// is none.
bool due(const QDateTime& now);

// Puts a copy into a department database (Backup::restore) for a user of
// classNumber: a class that may change nothing is refused with DbError
// before anything is read or written.
bool restore(int classNumber, const QString& copy, const Backup::DepartmentDb& department,
             const Backup::Progress& progress = {}, const QByteArray& sha256 = {});

} // namespace BackupGenerations

} // namespace vok
