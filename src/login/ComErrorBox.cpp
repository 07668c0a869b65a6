#include "login/ComErrorBox.h"

#include "login/ErrorReport.h"
#include "login/MessageService.h"

namespace vok {

void showComError(const DbError& error, QWidget* parent)
{
    Messages::show(comErrorText(error), QString(), Messages::Icon::Exclamation,
                   Messages::Buttons::Ok, parent);
}

void installComErrorBox()
{
    setDbErrorReporter([](const DbError& e) { showComError(e); });
}

} // namespace vok
