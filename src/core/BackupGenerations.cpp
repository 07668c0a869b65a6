#include "core/BackupGenerations.h"

#include "core/Departments.h"
#include "core/Permission.h"
#include "db/DbError.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vok {

namespace {

const QString kRecordName = QStringLiteral("内容.json");

DbError failure(const QString& text)
{
    return DbError(DbError::Kind::File, text);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

using Backup::sha256Of;
using Verify = BackupGenerations::Verify;

// The SHA-256 of a file, read again only when its size or time changed
// since it was last read.
QByteArray cachedSha256Of(const QString& file)
{
    struct Seen
    {
        qint64 size;
        QDateTime modified;
        QByteArray sha256;
    };
    static QMutex lock;
    static QHash<QString, Seen> seen;
    const QFileInfo info(file);
    {
        const QMutexLocker hold(&lock);
        const auto it = seen.constFind(file);
        if (it != seen.constEnd() && it->size == info.size() && it->modified == info.lastModified())
            return it->sha256;
    }
    const QByteArray sha = sha256Of(file);
    const QMutexLocker hold(&lock);
    seen.insert(file, {info.size(), info.lastModified(), sha});
    return sha;
}

QString departmentName(const QString& dsn)
{
    for (const Department& d : departments())
        if (d.dsn == dsn)
            return d.name;
    return dsn;
}

// The first fault of a generation's copies against its record.
QString copiesProblem(const GenerationInfo& info, Verify how)
{
    if (info.copies.isEmpty())
        return QStringLiteral("没有备份记录“%1”。").arg(kRecordName);
    QStringList seen;
    for (const GenerationCopy& c : info.copies) {
        const Backup::DepartmentDb db{c.dsn};
        const QString name = departmentName(c.dsn);
        if (db.number() == 0 || name == c.dsn)
            return QStringLiteral("记录中的“%1”不是本系统的部门数据库。").arg(c.dsn);
        if (seen.contains(c.dsn))
            return QStringLiteral("记录中%1出现了不止一次。").arg(name);
        seen << c.dsn;
        // The record binds each department to its own file name, so that
        // a record whose entries were exchanged does not verify.
        if (c.file != db.copyName())
            return QStringLiteral("记录把文件 %1 记作%2的副本，%2的副本应是 %3。")
                .arg(c.file, name, db.copyName());
        const QString file = QDir(info.path).filePath(c.file);
        const QFileInfo fileInfo(file);
        if (!fileInfo.isFile())
            return QStringLiteral("缺少%1的副本 %2。").arg(name, c.file);
        if (fileInfo.size() != c.size)
            return QStringLiteral("%1的副本 %2 的大小与记录不符。").arg(name, c.file);
        if (how != Verify::Sizes &&
            (how == Verify::Hashes ? sha256Of(file) : cachedSha256Of(file)) != c.sha256)
            return QStringLiteral("%1的副本 %2 的内容与记录不符（SHA-256 不同），"
                                  "它在备份之后被改动过。")
                .arg(name, c.file);
        const int of = Backup::departmentOfCopy(file);
        if (of != 0 && of != db.number())
            return QStringLiteral("文件 %1 中是%2的数据，记录却把它记作%3的副本。")
                .arg(c.file, departmentName(QStringLiteral("VOK%1").arg(of)), name);
    }
    return {};
}

void syncPath(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QJsonObject toJson(const GenerationCopy& c)
{
    QJsonArray rows;
    for (const auto& [table, n] : c.rows)
        rows.append(QJsonArray{table, n});
    return {{QStringLiteral("dsn"), c.dsn},
            {QStringLiteral("file"), c.file},
            {QStringLiteral("size"), c.size},
            {QStringLiteral("sha256"), QString::fromLatin1(c.sha256)},
            {QStringLiteral("rows"), rows}};
}

GenerationCopy fromJson(const QJsonObject& o)
{
    GenerationCopy c;
    c.dsn = o.value(QStringLiteral("dsn")).toString();
    c.file = o.value(QStringLiteral("file")).toString();
    c.size = o.value(QStringLiteral("size")).toInteger(-1);
    c.sha256 = o.value(QStringLiteral("sha256")).toString().toLatin1();
    for (const QJsonValue& r : o.value(QStringLiteral("rows")).toArray()) {
        const QJsonArray pair = r.toArray();
        c.rows.append({pair.at(0).toString(), pair.at(1).toInteger()});
    }
    return c;
}

// Reads a generation's record; verified when every copy it names is there
// as recorded.
void readRecord(GenerationInfo& info, Verify how)
{
    QFile f(QDir(info.path).filePath(kRecordName));
    if (f.open(QIODevice::ReadOnly)) {
        const QJsonDocument doc = QJsonDocument::fromJson(f.readAll());
        for (const QJsonValue& v : doc.object().value(QStringLiteral("copies")).toArray())
            info.copies.append(fromJson(v.toObject()));
    }
    info.problem = copiesProblem(info, how);
    info.generation.verified = info.problem.isEmpty();
}

void writeRecord(const QString& folder, const QList<GenerationCopy>& copies)
{
    QJsonArray list;
    for (const GenerationCopy& c : copies)
        list.append(toJson(c));
    const QString path = QDir(folder).filePath(kRecordName);
    QFile f(path);
    const QByteArray data = QJsonDocument(QJsonObject{{QStringLiteral("copies"), list}}).toJson();
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.flush())
        throw failure(QStringLiteral("无法写入“%1”。").arg(native(path)));
    f.close();
    syncPath(path);
}

// A generation name not yet taken: two backups within one second get
// consecutive seconds.
QDateTime freeTime(const QDir& history, QDateTime t)
{
    t = t.addMSecs(-t.time().msec());
    while (QFileInfo::exists(history.filePath(generationName(t))))
        t = t.addSecs(1);
    return t;
}

QStringList prune(const QDateTime& now, const QString& newest)
{
    const auto generations = [](Verify how) {
        QList<BackupGeneration> g;
        for (const GenerationInfo& info : BackupGenerations::list(how))
            g << info.generation;
        return g;
    };
    // The cheap look first; when it would remove anything, every
    // generation that lets it go is read through once more.
    if (generationsToRemove(generations(Verify::Sizes), now).isEmpty())
        return {};
    QStringList removed;
    const QDir history(BackupFolder::historyPath());
    for (const QString& name : generationsToRemove(generations(Verify::Hashes), now)) {
        if (name == newest)
            continue;
        if (QDir(history.filePath(name)).removeRecursively())
            removed << name;
    }
    return removed;
}

// Copies in the backup folder from before there was a history (or from a
// program that keeps none) become a generation of their own before the
// first generation replaces them, dated by their files.
void keepEarlierCopies(const QString& folder, const QDir& history)
{
    if (!BackupGenerations::list().isEmpty())
        return;
    QStringList sound;
    QDateTime newest;
    for (const Department& d : departments()) {
        const QString file = QDir(folder).filePath(Backup::DepartmentDb{d.dsn}.copyName());
        if (!QFileInfo(file).isFile() || !Backup::checkCopy(file).isEmpty())
            continue;
        sound << file;
        newest = std::max(newest, QFileInfo(file).lastModified());
    }
    if (sound.isEmpty())
        return;
    const QString name = generationName(freeTime(history, newest));
    QTemporaryDir temp(history.filePath(name + QStringLiteral(".XXXXXX.tmp")));
    if (!temp.isValid())
        return;
    const Backup::InUse inUse(temp.path());
    QList<GenerationCopy> copies;
    for (const QString& file : std::as_const(sound)) {
        const QString fileName = QFileInfo(file).fileName();
        const QString copy = QDir(temp.path()).filePath(fileName);
        Backup::placeCopy(file, copy);
        copies.append({fileName.section(QLatin1Char('.'), 0, 0).toUpper(), fileName,
                       QFileInfo(copy).size(), sha256Of(copy), Backup::rowCounts(copy)});
    }
    writeRecord(temp.path(), copies);
    syncPath(temp.path());
    if (std::rename(QFile::encodeName(temp.path()).constData(),
                    QFile::encodeName(history.filePath(name)).constData()) == 0)
        temp.setAutoRemove(false);
    syncPath(history.path());
}

} // namespace

qint64 GenerationInfo::size() const
{
    qint64 n = 0;
    for (const GenerationCopy& c : copies)
        n += c.size;
    return n;
}

QString GenerationInfo::departmentNames() const
{
    QStringList names;
    for (const GenerationCopy& c : copies) {
        QString name = c.dsn;
        for (const Department& d : departments())
            if (d.dsn == c.dsn)
                name = d.name;
        names << name;
    }
    return names.join(QStringLiteral("、"));
}

QList<GenerationInfo> BackupGenerations::list(Verify how)
{
    const QDir history(BackupFolder::historyPath());
    QList<GenerationInfo> found;
    for (const QString& name : history.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDateTime time = generationTime(name);
        if (!time.isValid())
            continue;
        GenerationInfo info{{name, time, false}, history.filePath(name), {}, {}};
        readRecord(info, how);
        found << info;
    }
    std::sort(found.begin(), found.end(), [](const GenerationInfo& a, const GenerationInfo& b) {
        return a.generation.time > b.generation.time;
    });
    return found;
}

std::optional<BackupGenerations::Taken> BackupGenerations::take(const QDateTime& now,
                                                                const Progress& progress)
{
    const QString folder = BackupFolder::path();
    const QDir history(BackupFolder::historyPath());
    if (!Backup::makePrivateFolder(history.path()))
        throw failure(QStringLiteral("无法创建文件夹“%1”。").arg(native(history.path())));
    const std::optional<Backup::FolderLock> turn =
        Backup::FolderLock::wait(folder, progress.waiting);
    if (!turn)
        return std::nullopt;
    Backup::removeStaleTemporaries();

    keepEarlierCopies(folder, history);

    QList<std::pair<Department, Backup::DepartmentDb>> todo;
    for (const Department& d : departments()) {
        const Backup::DepartmentDb db{d.dsn};
        if (db.exists())
            todo.append({d, db});
    }
    if (todo.isEmpty())
        throw failure(QStringLiteral("没有可以备份的部门数据库。"));

    // Written under a name that never counts as a generation, and renamed
    // only when every copy in it has verified.
    const QString name = generationName(freeTime(history, now));
    QTemporaryDir temp(history.filePath(name + QStringLiteral(".XXXXXX.tmp")));
    if (!temp.isValid())
        throw failure(
            QStringLiteral("无法在“%1”中写入：%2").arg(native(history.path()), temp.errorString()));
    const Backup::InUse inUse(temp.path());

    QList<GenerationCopy> copies;
    for (int i = 0; i < todo.size(); ++i) {
        const auto& [department, db] = todo.at(i);
        if (progress.started)
            progress.started(int(i), int(todo.size()), department.name);
        const QString file = QDir(temp.path()).filePath(db.copyName());
        try {
            if (!Backup::backup(db, file, progress.copy))
                return std::nullopt;
            copies.append({db.dsn, db.copyName(), QFileInfo(file).size(), sha256Of(file),
                           Backup::rowCounts(file)});
        } catch (const DbError& e) {
            throw e.prefixed(QStringLiteral("%1（%2）：").arg(department.name, db.copyName()));
        }
    }
    writeRecord(temp.path(), copies);
    syncPath(temp.path());
    // A folder of that name made meanwhile by a program that takes no
    // turns: the next free second.
    QString placed = history.filePath(name);
    while (::rename(QFile::encodeName(temp.path()).constData(),
                    QFile::encodeName(placed).constData()) != 0) {
        if (errno != EEXIST && errno != ENOTEMPTY)
            throw failure(QStringLiteral("无法把备份存为“%1”：%2")
                              .arg(native(placed), Backup::systemErrorText(errno)));
        placed = history.filePath(generationName(freeTime(history, generationTime(name))));
    }
    temp.setAutoRemove(false);
    syncPath(history.path());

    // The copies in the backup folder itself are the newest generation:
    // all of them, or (the disk full, say) none.
    QStringList files;
    for (const GenerationCopy& c : std::as_const(copies))
        files << c.file;
    QString notPlaced;
    try {
        Backup::placeCopies(placed, files, folder);
    } catch (const DbError& e) {
        notPlaced = e.text();
    }

    const QString placedName = QFileInfo(placed).fileName();
    return Taken{placedName, int(copies.size()), prune(now, placedName), notPlaced};
}

QString BackupGenerations::verify(const GenerationInfo& generation)
{
    return copiesProblem(generation, Verify::Hashes);
}

QString BackupGenerations::notPlacedText(const Taken& taken)
{
    return QStringLiteral("这次的备份已完整保存在“%1”中，但备份文件夹中的副本没有换成它，"
                          "仍全部是上一次的备份：%2")
        .arg(native(QDir(BackupFolder::historyPath()).filePath(taken.name)), taken.notPlaced);
}

bool BackupGenerations::due(const QDateTime& now)
{
    for (const GenerationInfo& info : list())
        if (info.generation.verified)
            return info.generation.time.secsTo(now) > 24 * 3600;
    return true;
}

bool BackupGenerations::restore(int classNumber, const QString& copy,
                                const Backup::DepartmentDb& department,
                                const Backup::Progress& progress, const QByteArray& sha256)
{
    checkMayWrite(classNumber);
    return Backup::restore(copy, department, progress, sha256);
}

} // namespace vok
