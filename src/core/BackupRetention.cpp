#include "core/BackupRetention.h"

#include <algorithm>

namespace vok {

namespace {

const QString kNameFormat = QStringLiteral("yyyy-MM-dd_HHmmss");
constexpr int kKeepDays = 7;
constexpr int kKeepNewest = 10;

} // namespace

QString generationName(const QDateTime& time)
{
    return time.toString(kNameFormat);
}

QDateTime generationTime(const QString& name)
{
    return name.size() == kNameFormat.size() ? QDateTime::fromString(name, kNameFormat)
                                             : QDateTime();
}

QList<QString> generationsToRemove(const QList<BackupGeneration>& generations, const QDateTime& now)
{
    QList<BackupGeneration> newestFirst = generations;
    std::sort(newestFirst.begin(), newestFirst.end(),
              [](const BackupGeneration& a, const BackupGeneration& b) { return a.time > b.time; });
    const QDateTime weekAgo = now.addDays(-kKeepDays);
    const QDateTime dayAgo = now.addDays(-1);
    int verifiedSeen = 0;
    bool olderThanADayKept = false;
    QList<QString> remove;
    for (const BackupGeneration& g : newestFirst) {
        if (!g.verified) {
            if (g.time < weekAgo)
                remove << g.name;
            continue;
        }
        ++verifiedSeen;
        bool keep = g.time >= weekAgo || verifiedSeen <= kKeepNewest;
        if (g.time < dayAgo && !olderThanADayKept) {
            olderThanADayKept = true;
            keep = true;
        }
        if (!keep)
            remove << g.name;
    }
    return remove;
}

} // namespace vok
