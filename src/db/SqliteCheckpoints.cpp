#include "db/SqliteCheckpoints.h"

#include "db/SqliteConnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <set>

#include <sqlite3.h>

namespace vok {

namespace sqlite {

namespace {

// Checkpoints that a reader's snapshot kept from finishing. Every
// commit is followed by a checkpoint; while another connection (a second
// instance, a backup, the sqlite3 shell) still reads an older snapshot,
// the frames after it stay in the log. They are tried again on a timer
// until the readers let them through, on closing, and on the way out.
class PendingCheckpoints
{
public:
    static PendingCheckpoints& instance()
    {
        static PendingCheckpoints p;
        return p;
    }

    // Copies the log into the file as far as readers allow; true when
    // all of it is in. Never waits for a reader.
    static bool checkpoint(sqlite3* db)
    {
        int frames = 0, done = 0;
        if (sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, &frames, &done) !=
            SQLITE_OK)
            return false;
        return frames <= 0 || done >= frames;
    }

    void add(sqlite3* db)
    {
        m_pending.insert(db);
        if (!m_timer && QCoreApplication::instance()) {
            m_timer = new QTimer(QCoreApplication::instance());
            m_timer->setInterval(kRetryMs);
            QObject::connect(m_timer, &QTimer::timeout, [this] { retry(); });
        }
        if (m_timer && !m_timer->isActive())
            m_timer->start();
    }

    void remove(sqlite3* db) { m_pending.erase(db); }

    // On the way out nothing will try again: a reader's snapshot is
    // waited for a while (a backup or another instance lets go within
    // moments), so that the file alone holds every commit once the
    // program is gone.
    static bool checkpointBeforeLeaving(sqlite3* db)
    {
        const QDeadlineTimer deadline(kLeavingWaitMs);
        while (!checkpoint(db)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(kLeavingRetryMs);
        }
        return true;
    }

    void finish()
    {
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (sqlite3_get_autocommit(*it) && checkpointBeforeLeaving(*it))
                it = m_pending.erase(it);
            else
                ++it;
        }
    }

    // One more try for each; a connection inside a transaction waits for
    // its commit, which checkpoints anyway.
    void retry()
    {
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (sqlite3_get_autocommit(*it) && checkpoint(*it))
                it = m_pending.erase(it);
            else
                ++it;
        }
        if (m_pending.empty() && m_timer)
            m_timer->stop();
    }

private:
    static constexpr int kRetryMs = 200;
    static constexpr int kLeavingWaitMs = 10 * 1000;
    static constexpr int kLeavingRetryMs = 20;
    std::set<sqlite3*> m_pending;
    QPointer<QTimer> m_timer;
};

} // namespace

int afterCommit(void*, sqlite3* db, const char*, int)
{
    if (!PendingCheckpoints::checkpoint(db))
        PendingCheckpoints::instance().add(db);
    return SQLITE_OK;
}

void checkpointOnClosing(sqlite3* db)
{
    PendingCheckpoints::instance().remove(db);
    if (sqlite3_get_autocommit(db))
        PendingCheckpoints::checkpointBeforeLeaving(db);
}

} // namespace sqlite

void finishPendingCheckpoints()
{
    sqlite::PendingCheckpoints::instance().finish();
}

} // namespace vok
