#include "core/Permission.h"

namespace vok {

int classNumberOf(const QString& classText)
{
    if (classText.isEmpty())
        return 3;
    const QChar c = classText.at(0);
    if (c.unicode() < '0' || c.unicode() > '9')
        return 3;
    return c.unicode() - '0';
}

} // namespace vok
