#include "login/ComErrorBox.h"

#include "login/ErrorReport.h"
#include "login/MessageService.h"

namespace vok {

void showComError(const DbError& error, QWidget* parent)
{
    Messages::notice(comErrorText(error), parent, QString(), Messages::Icon::Exclamation);
}

void installComErrorBox()
{
    setDbErrorReporter([](const DbError& e) { showComError(e); });
}

} // namespace vok
