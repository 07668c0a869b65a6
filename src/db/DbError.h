#pragma once

#include <QString>
#include <exception>

namespace vok {

// A failure of the database layer: an error code (HRESULT-like) and the
// engine's own message. Every database operation reports failures this way;
// the form that ran the SQL catches it and shows it in the COM error box.
class DbError : public std::exception
{
public:
    // Generic failure code, used for engine errors that carry a message.
    static constexpr quint32 kFail = 0x80004005u;
    // The row to update was changed or removed by another connection.
    static constexpr quint32 kConcurrency = 0x80040E38u;
    // A typed value that cannot be put into SQL (not a date, not an operator).
    static constexpr quint32 kBadValue = 0x80040E07u;

    // The engine failures a user meets, each shown with a text of its own
    // that says the cause and what to do.
    enum class Failure
    {
        Other,
        Busy,           // locked by another program beyond the wait
        DiskFull,       // no room left on the disk (or the server's)
        ReadOnly,       // file or folder cannot be written
        CannotOpen,     // the file cannot be opened at all
        Damaged,        // the file is corrupt or not a database of ours
        Unique,         // a unique key refused the row
        Unreachable,    // the server cannot be reached
        ConnectionLost, // the server connection broke off
        LoginRefused,   // the server refused the database account
        BadValue        // the engine refused a value (a date, a number)
    };

    DbError(quint32 code, QString text);
    // An engine failure: the user's text for the failure, then the
    // engine's own text on a second line for whoever supports the site.
    // The file, when known, is named in the texts about files.
    DbError(Failure failure, const QString& engineText, const QString& file = QString());

    quint32 code() const { return m_code; }
    Failure failure() const { return m_failure; }
    const QString& text() const { return m_text; }
    // The engine's own text alone (the whole text for Failure::Other).
    const QString& engineText() const { return m_engineText; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    quint32 m_code;
    Failure m_failure = Failure::Other;
    QString m_text;
    QString m_engineText;
    QByteArray m_what;
};

// The text the COM error box shows for an error: the message without a
// trailing line break; without a message, "IDispatch error #n" for codes
// just above 0x80040200, else "Unknown error 0x%08X".
QString comErrorText(quint32 code, const QString& text);

// The user's text of a failure (empty for Other), naming the file when
// one is given.
QString failureText(DbError::Failure failure, const QString& file = QString());

// The errors of the row update pattern, the same on every engine: storing a
// row whose SELECT found none, and storing a row another connection changed
// or removed since it was read.
DbError noCurrentRecordError();
DbError rowChangedError();
inline QString comErrorText(const DbError& e)
{
    return comErrorText(e.code(), e.text());
}

} // namespace vok
