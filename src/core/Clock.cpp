#include "core/Clock.h"

namespace vok {

namespace {
QDateTime& fixedTime()
{
    static QDateTime t;
    return t;
}
} // namespace

QDateTime Clock::now()
{
    return fixedTime().isValid() ? fixedTime() : QDateTime::currentDateTime();
}

void Clock::setNow(const QDateTime& fixed)
{
    fixedTime() = fixed;
}

QString unpaddedDate(const QDate& d)
{
    return QString::asprintf("%d-%d-%d", d.year(), d.month(), d.day());
}

QString unpaddedDateTime(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    return QString::asprintf("%d-%d-%d %d:%d:%d", d.year(), d.month(), d.day(), tm.hour(),
                             tm.minute(), tm.second());
}

} // namespace vok
