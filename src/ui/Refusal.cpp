#include "ui/Refusal.h"

#include "ui/MessageService.h"

namespace vok {

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
