#include "login/Permission.h"

#include "login/MessageService.h"

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

void showRefusal(RefusalText text, QWidget* parent)
{
    Messages::notice(text == RefusalText::WithLineBreak
                         ? QStringLiteral("你无权执行此项操作!\r\n请重新登录数据库!")
                         : QStringLiteral("你无权执行此项操作!请重新登录数据库!"),
                     parent, QStringLiteral("警告!"), Messages::Icon::Stop);
}

bool refuseIfReadOnly(int classNumber, RefusalText text, QWidget* parent)
{
    if (!isReadOnlyClass(classNumber))
        return false;
    showRefusal(text, parent);
    return true;
}

} // namespace vok
