#include "app/Maintenance.h"

#include "app/RestoreDlg.h"
#include "app/VOKDlg.h"
#include "core/BackupGenerations.h"
#include "core/Clock.h"
#include "core/Departments.h"
#include "core/OperationLog.h"
#include "db/Backup.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "ui/ComErrorBox.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>

namespace vok {

namespace {

using Messages::Answer;
using Messages::Buttons;
using Messages::Icon;

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The progress window of one run of copies: the share of each file in
// the whole bar, the file's own progress within it.
class CopyProgress
{
public:
    CopyProgress(int files, QWidget* parent)
        : m_dialog(QString(), QStringLiteral("取消"), 0, kScale * std::max(files, 1), parent)
    {
        m_dialog.setWindowTitle(QStringLiteral("文件拷贝"));
        m_dialog.setObjectName(QStringLiteral("copyProgress"));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(300);
        m_dialog.setMinimumWidth(360);
        m_dialog.setAutoReset(false);
        m_dialog.setValue(0);
    }

    // Starts the index-th file.
    void start(int index, const QString& label)
    {
        m_base = index * kScale;
        m_dialog.setLabelText(label);
        m_dialog.setValue(m_base);
    }

    Backup::Progress callback()
    {
        return [this](qint64 done, qint64 total) {
            const int part = total > 0 ? int(done * kScale / total) : kScale;
            m_dialog.setValue(m_base + std::min(part, kScale));
            return !m_dialog.wasCanceled();
        };
    }

    bool cancelled() const { return m_dialog.wasCanceled(); }

private:
    static constexpr int kScale = 1000;
    QProgressDialog m_dialog;
    int m_base = 0;
};

QString departmentLabel(const Department& d, const QString& file)
{
    return QStringLiteral("%1（%2）").arg(d.name, file);
}

void report(const QString& text, Icon icon, QWidget* parent)
{
    Messages::notice(text, parent, QString(), icon);
}

} // namespace

QString Maintenance::keptCopyFile(const QString& dsn)
{
    return QDir(DataFolder::path()).filePath(dsn.toLower() + QStringLiteral("-还原前.db"));
}

void Maintenance::backupDatabases(COperationLog& log, QWidget* parent)
{
    // Written first, so that the entry is in the copy.
    writeLog(log, QStringLiteral("备份数据库"), parent);

    const QString folder = BackupFolder::path();
    if (!QFileInfo(folder).isDir()) {
        if (Messages::show(
                QStringLiteral("文件夹“%1”不存在。\r\n\r\n是否创建该文件夹？").arg(native(folder)),
                QStringLiteral("确认创建文件夹"), Icon::Question, Buttons::YesNo,
                parent) != Answer::Yes)
            return;
        if (!Backup::makePrivateFolder(folder)) {
            report(QStringLiteral("无法创建文件夹“%1”，没有备份任何数据库。").arg(native(folder)),
                   Icon::Exclamation, parent);
            return;
        }
    }

    // One question for all the copies of the last backup; they stay in the
    // history whatever the answer.
    QStringList present;
    int count = 0;
    for (const Department& d : departments()) {
        const Backup::DepartmentDb db{d.dsn};
        if (QFileInfo::exists(QDir(folder).filePath(db.copyName())))
            present << db.copyName();
        if (db.exists())
            ++count;
    }
    if (!present.isEmpty() &&
        Messages::show(QStringLiteral("文件夹“%1”中已经有上一次的备份（%2）。\r\n\r\n"
                                      "是否用现在的数据替换它们？上一次的备份仍保存在“%3”中。")
                           .arg(native(folder), present.join(QStringLiteral("、")),
                                native(BackupFolder::historyPath())),
                       QStringLiteral("确认文件替换"), Icon::Question, Buttons::YesNo,
                       parent) != Answer::Yes)
        return;

    std::optional<BackupGenerations::Taken> taken;
    QString why;
    {
        CopyProgress progress(count, parent);
        BackupGenerations::Progress steps;
        steps.started = [&progress](int index, int, const QString& department) {
            progress.start(index, QStringLiteral("正在备份 %1…").arg(department));
        };
        steps.copy = progress.callback();
        steps.waiting = [&progress] {
            progress.start(0, QStringLiteral("正在等待另一个备份完成…"));
            return !progress.cancelled();
        };
        try {
            taken = BackupGenerations::take(Clock::now(), steps);
            if (!taken)
                why = QStringLiteral("已取消。");
        } catch (const DbError& e) {
            why = e.text();
        }
    }
    if (taken && !taken->notPlaced.isEmpty())
        report(BackupGenerations::notPlacedText(*taken), Icon::Exclamation, parent);
    else if (taken)
        report(QStringLiteral("已备份 %1 个部门数据库到 %2。")
                   .arg(QString::number(taken->departments), native(folder)),
               Icon::Information, parent);
    else
        report(QStringLiteral("备份没有完成：%1\r\n备份文件夹中原有的副本和历史备份保持不变。")
                   .arg(why),
               Icon::Exclamation, parent);
}

namespace {

// A copy of a generation and the department it goes into.
struct RestoreItem
{
    Department department;
    Backup::DepartmentDb db;
    QString copy;
    QByteArray sha256; // as recorded; empty for copies from before the history
    bool hadData = false;

    QString label() const { return departmentLabel(department, db.copyName()); }
};

// The copies of a generation and the departments they go into.
QList<RestoreItem> copiesIn(const GenerationInfo& generation)
{
    QList<RestoreItem> found;
    for (const Department& d : departments())
        for (const GenerationCopy& c : generation.copies)
            if (c.dsn == d.dsn)
                found.append({d, Backup::DepartmentDb{d.dsn},
                              QDir(generation.path).filePath(c.file), c.sha256});
    return found;
}

// The generations a restore offers, newest first, each verified against
// its record (the SHA-256 of copies read before in this program taken
// from then, when the file has not changed). With none, the copies in the
// backup folder itself (a backup from before the history) stand as one.
QList<GenerationInfo> restorable(const QString& folder)
{
    QList<GenerationInfo> offered =
        BackupGenerations::list(BackupGenerations::Verify::CachedHashes);
    if (!offered.isEmpty())
        return offered;
    GenerationInfo copies;
    copies.path = folder;
    copies.generation.verified = true;
    for (const Department& d : departments()) {
        const QString name = Backup::DepartmentDb{d.dsn}.copyName();
        const QFileInfo file(QDir(folder).filePath(name));
        if (!file.isFile())
            continue;
        QList<std::pair<QString, qint64>> rows;
        try {
            rows = Backup::rowCounts(file.filePath());
        } catch (const DbError&) {
            // Named by the checks before any copying.
            copies.generation.verified = false;
        }
        copies.copies.append({d.dsn, name, file.size(), {}, rows});
        copies.generation.time = std::max(copies.generation.time, file.lastModified());
    }
    if (!copies.copies.isEmpty())
        offered << copies;
    return offered;
}

// Why the chosen generation may not be restored: it did not verify when
// listed, or does not now, its copies read again; or one of its copies
// fails the checks of a department database. Empty when it may.
QString refusalOf(const GenerationInfo& chosen, const QList<RestoreItem>& found)
{
    QString problem = chosen.problem;
    // A generation of the history is read through once more: the list may
    // have taken a copy's SHA-256 from an earlier reading.
    if (problem.isEmpty() && !chosen.generation.name.isEmpty())
        problem = BackupGenerations::verify(chosen);
    for (const RestoreItem& item : found) {
        if (!problem.isEmpty())
            break;
        const QString why = Backup::checkCopy(item.copy);
        if (!why.isEmpty())
            problem = QStringLiteral("%1：%2").arg(item.label(), why);
    }
    if (problem.isEmpty())
        return {};
    return QStringLiteral("所选的备份已损坏，不能还原：\r\n%1\r\n\r\n没有还原任何数据。"
                          "请选择另一个备份。")
        .arg(problem);
}

// One question for every department the restore replaces.
bool confirmed(QList<RestoreItem>& todo, const GenerationInfo& chosen, QWidget* parent)
{
    QStringList replaced, kept;
    for (RestoreItem& item : todo) {
        item.hadData = item.db.exists();
        if (!item.hadData)
            continue;
        replaced << item.department.name;
        kept << QFileInfo(Maintenance::keptCopyFile(item.db.dsn)).fileName();
    }
    if (replaced.isEmpty())
        return true;
    return Messages::show(
               QStringLiteral("是否用 %1 的备份替换 %2 现在的数据？\r\n\r\n"
                              "现在的数据将另存在文件夹“%3”中（%4）。")
                   .arg(chosen.generation.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                        replaced.join(QStringLiteral("、")), native(DataFolder::path()),
                        kept.join(QStringLiteral("、"))),
               QStringLiteral("确认文件替换"), Icon::Question, Buttons::YesNo,
               parent) == Answer::Yes;
}

// Keeps each department's data and puts its copy in; returns those done.
QList<RestoreItem> restoreCopies(int classNumber, const QList<RestoreItem>& todo,
                                 QStringList& failed, QWidget* parent)
{
    QList<RestoreItem> restored;
    CopyProgress progress(int(todo.size()), parent);
    for (int i = 0; i < todo.size(); ++i) {
        const RestoreItem& item = todo.at(i);
        progress.start(i, QStringLiteral("正在还原 %1…").arg(item.label()));
        try {
            if (item.hadData && !Backup::backup(item.db, Maintenance::keptCopyFile(item.db.dsn),
                                                progress.callback())) {
                failed << QStringLiteral("%1：已取消。").arg(item.label());
                break;
            }
            if (!BackupGenerations::restore(classNumber, item.copy, item.db, progress.callback(),
                                            item.sha256)) {
                failed << QStringLiteral("%1：已取消。").arg(item.label());
                break;
            }
            restored << item;
        } catch (const DbError& e) {
            failed << QStringLiteral("%1：%2").arg(item.label(), e.text());
        }
    }
    return restored;
}

ConnectionPtr reopenDepartment(const CurrentUser& user)
{
    const std::optional<QString> text =
        departmentConnectionString(user.department, user.userName, user.password);
    if (!text)
        throw DbError(DbError::Kind::Refused,
                      QStringLiteral("部门“%1”不是可以连接的部门。").arg(user.department));
    return openConnection(*text);
}

// The current department could not be opened again: every restored
// department gets its data back, and the user is told.
void putBack(int classNumber, const QList<RestoreItem>& restored, const DbError& why,
             QWidget* parent)
{
    QStringList notBack;
    for (const RestoreItem& item : restored) {
        try {
            if (item.hadData)
                BackupGenerations::restore(classNumber, Maintenance::keptCopyFile(item.db.dsn),
                                           item.db);
            else
                QFile::remove(item.db.file());
        } catch (const DbError& again) {
            notBack << QStringLiteral("%1：%2").arg(item.department.name, again.text());
        }
    }
    QString text = QStringLiteral("无法重新连接数据库：%1\r\n").arg(why.text());
    if (notBack.isEmpty())
        text += QStringLiteral("还原前的数据已经放回，程序继续使用原来的连接。");
    else
        text += QStringLiteral("以下数据库的还原前数据没有放回，它保存在文件夹“%1”中：\r\n%2")
                    .arg(native(DataFolder::path()), notBack.join(QStringLiteral("\r\n")));
    report(text, Icon::Exclamation, parent);
}

void reportRestored(const QList<RestoreItem>& restored, const QStringList& failed, QWidget* parent)
{
    QStringList lines;
    if (!restored.isEmpty()) {
        QStringList names, kept;
        for (const RestoreItem& item : restored) {
            names << item.department.name;
            if (item.hadData)
                kept << QFileInfo(Maintenance::keptCopyFile(item.db.dsn)).fileName();
        }
        lines << QStringLiteral("已还原：%1。").arg(names.join(QStringLiteral("、")));
        if (!kept.isEmpty())
            lines << QStringLiteral("还原前的数据另存在文件夹“%1”中：%2。")
                         .arg(native(DataFolder::path()), kept.join(QStringLiteral("、")));
    }
    if (!failed.isEmpty())
        lines << QStringLiteral("以下数据库没有还原，数据保持不变：\r\n%1")
                     .arg(failed.join(QStringLiteral("\r\n")));
    if (!lines.isEmpty())
        report(lines.join(QStringLiteral("\r\n")),
               failed.isEmpty() ? Icon::Information : Icon::Exclamation, parent);
}

} // namespace

void Maintenance::restoreDatabases(const CurrentUser& user, COperationLog& log,
                                   const std::function<void(ConnectionPtr)>& replace,
                                   QWidget* parent)
{
    // A user who may change nothing may not replace everything either.
    const int classNumber = classNumberOf(user.classText);
    if (refuseIfReadOnly(classNumber, RefusalText::WithLineBreak, parent))
        return;

    const QString folder = BackupFolder::path();
    const QList<GenerationInfo> offered = restorable(folder);
    QList<RestoreItem> todo;
    if (offered.isEmpty()) {
        report(
            QStringLiteral("备份文件夹“%1”中没有备份文件，没有还原任何数据。").arg(native(folder)),
            Icon::Information, parent);
    } else {
        CRestoreDlg choice(offered, parent);
        if (choice.exec() != QDialog::Accepted)
            return;
        // The whole generation is checked and the question asked first,
        // then the copying; a damaged generation restores nothing.
        todo = copiesIn(choice.chosen());
        const QString refusal = refusalOf(choice.chosen(), todo);
        if (!refusal.isEmpty()) {
            report(refusal, Icon::Exclamation, parent);
            return;
        }
        if (!confirmed(todo, choice.chosen(), parent))
            return;
    }

    QStringList failed;
    const QList<RestoreItem> restored = restoreCopies(classNumber, todo, failed, parent);

    // The current user's department is opened again; until that has
    // worked the old connection stays in use.
    ConnectionPtr fresh;
    try {
        fresh = reopenDepartment(user);
    } catch (const DbError& e) {
        putBack(classNumber, restored, e, parent);
        return;
    }
    replace(fresh);
    writeLog(log, QStringLiteral("还原数据库"), parent);
    reportRestored(restored, failed, parent);
}

} // namespace vok
