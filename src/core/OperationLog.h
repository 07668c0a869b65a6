#pragma once

#include "db/Connection.h"

namespace vok {

// Writes one HOWDO row per completed change, log-in, backup and restore:
// who (the user name it holds), what, and when (the clock's local time).
class COperationLog
{
public:
    COperationLog() = default;
    virtual ~COperationLog() = default;

    // Replaces the connection and the user name the log writes with.
    void attach(ConnectionPtr connection, const QString& userName);
    // Appends one row; throws DbError when the database fails. The caller's
    // own change stays done: the form that wrote it shows the failure.
    void write(const QString& text);

    const ConnectionPtr& connection() const { return m_connection; }
    const QString& userName() const { return m_userName; }

private:
    ConnectionPtr m_connection;
    QString m_userName;
};

} // namespace vok
