#pragma once

#include "app/MainButtons.h"
#include "core/Loans.h"
#include "core/OperationLog.h"
#include "db/Connection.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

#include <atomic>

class QLabel;
class QThread;
class QPushButton;

namespace vok {

class AutoBackup;
class CVOKDlgAutoProxy;

// Who is logged in; replaced as a whole by a re-login.
struct CurrentUser
{
    QString userName;
    QString password;
    QString department;
    QString classText;
    bool ownDepartment = true;
};

// The main window: logs the user in, keeps the current user, the database
// connection and the operation log, shows the date and time of its last
// repaint and opens one form per function button.
class CVOKDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CVOKDlg(std::vector<MainButton> buttons = mainButtons(), QWidget* parent = nullptr);
    ~CVOKDlg() override;

    // Runs the start-up log-in. False when the program is to end.
    bool startUp();

    const CurrentUser& currentUser() const { return m_user; }
    const ConnectionPtr& connection() const { return m_connection; }
    COperationLog& log() { return m_log; }
    // Puts a newly opened connection in place of the current one and points
    // the log at it (the restore of the database does this).
    void replaceConnection(ConnectionPtr connection);
    // After the link to the server broke: opens the current connection
    // again for the user's department and re-attaches the log. Shows the
    // failure and returns false when the server still cannot be reached.
    bool reconnect(QWidget* parent);

    // What a form opened from this row is given.
    FormContext contextFor(const MainButton& row);
    QPushButton* button(const QString& name) const { return m_buttonWidgets.value(name); }

    // Attaches the automation object: while a client holds it, closing only
    // hides the window.
    void setAutoProxy(CVOKDlgAutoProxy* proxy);
    // The date and time line as last drawn.
    const QString& dateLine() const { return m_dateLine; }
    // The line under it: user, department and class of whoever is logged
    // in, read-only users told so; empty before a log-in.
    QString userLine() const;
    // The line at the foot of the window that follows the backup taken at
    // log-in; empty while none was taken.
    QString backupLine() const;
    // The line under it that tells of overdue loans ("有 N 笔借用已逾期，
    // 最长 X 天"), read at log-in; empty when none is overdue. A click on
    // it opens the overdue loans.
    QString overdueLine() const;
    void openOverdueLoans();
    // The line beside it in the receiving department ("有 N 笔调拨待接收"),
    // read at log-in, after the transfers were caught up with and after
    // each form closes; empty when none waits. A click on it opens 调拨入库.
    QString transferLine() const;
    void openWaitingTransfers();
    // The backup taken at log-in, while one is due.
    AutoBackup& autoBackup() { return *m_autoBackup; }

public slots:
    void relogin();
    void showHelp();
    void showAbout();
    // Runs one row's form: the own-department refusal, then the form modally
    // with the main window minimised.
    void openForm(const MainButton& row);
    void done(int result) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Restoring the window repaints it, so that the date line is current.
    void changeEvent(QEvent* event) override;

private:
    // The log-in loop; false when the log-in did not succeed.
    bool logIn(bool again);
    void buildButtons();
    void automationReleased();
    void startAutoBackup();
    // The quick check of every page of the department's file, on a thread
    // of its own after log-in; a damaged file is told at once, refuses
    // writes from then on and the restore is offered.
    void startPageCheck();
    void pageCheckDone(const QString& file, const QString& finding);
    // The transfers' pending steps redone after log-in, quietly, on a
    // thread of its own with a connection of its own; the transfer line is
    // read again when it is done.
    void startTransferRecovery();
    void showTransferLine();

    std::vector<MainButton> m_rows;
    QHash<QString, QPushButton*> m_buttonWidgets;
    CurrentUser m_user;
    QPointer<CVOKDlgAutoProxy> m_proxy;
    ConnectionPtr m_connection;
    COperationLog m_log;
    bool m_closePending = false;
    int m_pendingResult = 0;
    QString m_dateLine;
    AutoBackup* m_autoBackup;
    QThread* m_pageCheck = nullptr;
    std::atomic<bool> m_stopPageCheck = false;
    QLabel* m_backupLine = nullptr;
    QLabel* m_overdueLine = nullptr;
    QLabel* m_transferLine = nullptr;
    QString m_transferText;
    QThread* m_transferRecovery = nullptr;
    Loans::Overdue m_overdue;
    void showOverdueLine();
};

// The program icon.
QIcon programIcon();

} // namespace vok
