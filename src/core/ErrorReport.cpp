#include "core/ErrorReport.h"

#include <QDebug>

namespace vok {

namespace {
std::function<void(const DbError&)>& reporter()
{
    static std::function<void(const DbError&)> r;
    return r;
}
} // namespace

void reportDbError(const DbError& error)
{
    if (reporter())
        reporter()(error);
    else
        qWarning().noquote() << comErrorText(error);
}

void setDbErrorReporter(std::function<void(const DbError&)> r)
{
    reporter() = std::move(r);
}

} // namespace vok
