#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace vok {

// One generation of backup copies: a folder named by the time it was taken
// ("2026-12-09_173045") holding a copy of every department database.
struct BackupGeneration
{
    QString name;
    QDateTime time;
    // Every copy in it passed the checks a department database must pass.
    bool verified = false;
};

// The folder name of a generation taken at a time, and the time of a
// folder name (invalid for any other name).
QString generationName(const QDateTime& time);
QDateTime generationTime(const QString& name);

// Which generations may go once a new one has been verified. Kept are every
// verified generation of the last seven days, the newest ten verified ones
// in any case, and the newest verified one older than a day, so that no
// run of backups (of damaged data, say) can remove the last good copy from
// before it. A generation that did not verify counts for nothing and goes
// only when it is older than seven days.
QList<QString> generationsToRemove(const QList<BackupGeneration>& generations,
                                   const QDateTime& now);

} // namespace vok
