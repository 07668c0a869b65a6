#include "app/AutoBackup.h"

#include "core/Clock.h"
#include "db/DbError.h"
#include "ui/MessageService.h"

#include <QDir>
#include <QThread>
#include <QWidget>

namespace vok {

namespace {

bool& enabledFlag()
{
    static bool on = true;
    return on;
}

} // namespace

AutoBackup::AutoBackup(QWidget* window) : QObject(window), m_window(window) {}

AutoBackup::~AutoBackup()
{
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

void AutoBackup::setEnabled(bool on)
{
    enabledFlag() = on;
}

bool AutoBackup::enabled()
{
    return enabledFlag();
}

bool AutoBackup::startIfDue()
{
    const QDateTime now = Clock::now();
    if (!enabled() || m_thread || !BackupGenerations::due(now))
        return false;
    m_cancel = false;
    m_taken.reset();
    m_error.clear();
    m_folder = QDir::toNativeSeparators(BackupFolder::path());
    emit lineChanged(QStringLiteral("正在自动备份数据库…"));

    // The steps are told to the window through its event loop.
    BackupGenerations::Progress steps;
    steps.started = [this](int index, int count, const QString& department) {
        const QString line =
            QStringLiteral("正在自动备份数据库：%1（%2/%3）…")
                .arg(department, QString::number(index + 1), QString::number(count));
        QMetaObject::invokeMethod(
            this, [this, line] { emit lineChanged(line); }, Qt::QueuedConnection);
    };
    steps.copy = [this](qint64, qint64) { return !m_cancel; };
    steps.waiting = [this] { return !m_cancel.load(); };
    m_thread = QThread::create([this, now, steps] {
        try {
            m_taken = BackupGenerations::take(now, steps);
        } catch (const DbError& e) {
            m_error = e.text();
        }
    });
    connect(m_thread, &QThread::finished, this, &AutoBackup::done);
    m_thread->start();
    return true;
}

void AutoBackup::done()
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    if (m_taken && !m_taken->notPlaced.isEmpty()) {
        emit lineChanged(QStringLiteral("自动备份已保存到历史，但备份文件夹中的副本没有更新。"));
        if (!m_failureShown) {
            m_failureShown = true;
            Messages::notice(BackupGenerations::notPlacedText(*m_taken), m_window, QString(),
                             Messages::Icon::Exclamation);
        }
    } else if (m_taken) {
        emit lineChanged(QStringLiteral("已自动备份 %1 个部门数据库到 %2。")
                             .arg(QString::number(m_taken->departments), m_folder));
    } else if (!m_cancel) {
        emit lineChanged(QStringLiteral("自动备份没有完成。"));
        if (!m_failureShown) {
            m_failureShown = true;
            Messages::notice(
                QStringLiteral("自动备份数据库没有完成：%1\r\n\r\n"
                               "请检查备份文件夹“%2”能否写入、磁盘空间是否足够（使用数据库"
                               "服务器时，服务器能否连接），然后按“备份数据库”再备份一次。")
                    .arg(m_error, m_folder),
                m_window, QString(), Messages::Icon::Exclamation);
        }
    }
    emit finished();
}

} // namespace vok
