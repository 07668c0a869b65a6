#pragma once

#include <QString>
#include <exception>

namespace vok {

// The one failure of the core and the database layer. It says what kind of
// failure it is, the user's text in Chinese and the detail under it (the
// engine's or the system's own words). The entry point that asked (a form's
// action, a command-line action, the automation object) catches it: a form
// shows it in the COM error box, the command line prints it and ends with
// the exit code of its kind.
class DbError : public std::exception
{
public:
    enum class Kind
    {
        Refused,        // a rule said no (a read-only class writes, a request not served)
        BadInput,       // a value that cannot be used (not a date, not an operator)
        Engine,         // the database engine failed: failure() says how
        File,           // a file cannot be read or written
        ConnectionLost, // the server connection broke off
        Cancelled       // the user stopped it; nothing was changed
    };

    // The engine failures a user meets, each shown with a text of its own
    // that says the cause and what to do.
    enum class Failure
    {
        Other,
        Busy,            // locked by another program beyond the wait
        DiskFull,        // no room left on the disk (or the server's)
        ReadOnly,        // file or folder cannot be written
        CannotOpen,      // the file cannot be opened at all
        Damaged,         // the file is corrupt or not a database of ours
        Unique,          // a unique key refused the row
        Unreachable,     // the server cannot be reached
        ConnectionLost,  // the server connection broke off
        LoginRefused,    // the server refused the database account
        BadValue,        // the engine refused a value (a date, a number)
        NoCurrentRecord, // a row to store whose reading found none
        RowChanged       // a row to store that another connection changed or removed
    };

    // A failure of that kind: the user's text, the detail on a line under it.
    DbError(Kind kind, QString text, QString detail = QString());
    // An engine failure: the user's text for the failure, then the
    // engine's own text on a second line for whoever supports the site.
    // The file, when known, is named in the texts about files.
    DbError(Failure failure, const QString& engineText, const QString& file = QString());

    Kind kind() const { return m_kind; }
    Failure failure() const { return m_failure; }
    // A request refused or input that cannot be used: the command line ends
    // with 2 for these, 1 for the others.
    bool isRefusal() const { return m_kind == Kind::Refused || m_kind == Kind::BadInput; }
    // The whole text shown: the user's text, then the detail.
    const QString& text() const { return m_text; }
    const QString& userText() const { return m_userText; }
    const QString& detail() const { return m_detail; }
    // The same error with its user's text put after a prefix (which step
    // of a longer action failed).
    DbError prefixed(const QString& prefix) const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    Failure m_failure = Failure::Other;
    QString m_userText;
    QString m_detail;
    QString m_text;
    QByteArray m_what;
};

// The user's text of a failure (empty for Other), naming the file when
// one is given.
QString failureText(DbError::Failure failure, const QString& file = QString());

// The errors of the row update pattern, the same on every engine: storing a
// row whose SELECT found none, and storing a row another connection changed
// or removed since it was read.
DbError noCurrentRecordError();
DbError rowChangedError();

} // namespace vok
