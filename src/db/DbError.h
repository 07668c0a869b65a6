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

    DbError(quint32 code, QString text);

    quint32 code() const { return m_code; }
    const QString& text() const { return m_text; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    quint32 m_code;
    QString m_text;
    QByteArray m_what;
};

// The text the COM error box shows for an error: the message without a
// trailing line break; without a message, "IDispatch error #n" for codes
// just above 0x80040200, else "Unknown error 0x%08X".
QString comErrorText(quint32 code, const QString& text);

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
