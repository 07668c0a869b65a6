#pragma once

#include <QDateTime>

namespace vok {

// The program's source of the current local time. Tests set it.
namespace Clock {
QDateTime now();
// Fixes the time that now() returns; an invalid value goes back to the
// system clock.
void setNow(const QDateTime& fixed);
} // namespace Clock

// "%d-%d-%d %d:%d:%d", none zero-padded: 2004-1-5 9:3:7.
QString unpaddedDateTime(const QDateTime& t);
// "%d-%d-%d", none zero-padded: 2004-1-5.
QString unpaddedDate(const QDate& d);

} // namespace vok
