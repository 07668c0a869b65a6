#pragma once

#include "core/BackupGenerations.h"

#include <QObject>
#include <atomic>
#include <optional>

class QThread;
class QWidget;

namespace vok {

// The backup taken at log-in, without a question, when the newest
// generation is older than a day or there is none. It runs on a thread of
// its own while the user works; its progress and outcome are one line of
// the main window, and a failure is told once in a box that says what to
// do.
class AutoBackup : public QObject
{
    Q_OBJECT
public:
    explicit AutoBackup(QWidget* window);
    // Cancels a backup under way and waits for it to stop.
    ~AutoBackup() override;

    // Starts a backup when one is due and none is under way; true when it
    // started.
    bool startIfDue();
    bool running() const { return m_thread != nullptr; }

    // Off in test sandboxes; on otherwise.
    static void setEnabled(bool on);
    static bool enabled();

signals:
    // The text of the main window's backup line.
    void lineChanged(const QString& line);
    void finished();

private:
    void done();

    QWidget* m_window;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel = false;
    std::optional<BackupGenerations::Taken> m_taken;
    QString m_error;
    QString m_folder;
    bool m_failureShown = false;
};

} // namespace vok
