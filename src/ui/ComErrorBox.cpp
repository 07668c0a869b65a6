#include "ui/ComErrorBox.h"

#include "core/ErrorReport.h"
#include "ui/MessageService.h"

namespace vok {

namespace {

std::function<bool(QWidget*)>& reconnectHandler()
{
    static std::function<bool(QWidget*)> handler;
    return handler;
}

} // namespace

QString reconnectQuestion(const DbError& error)
{
    QString text = failureText(DbError::Failure::ConnectionLost) +
                   QStringLiteral("\r\n是否重新连接数据库服务器？");
    if (!error.engineText().isEmpty())
        text += QStringLiteral("\r\n\r\n") + comErrorText(0, error.engineText());
    return text;
}

QString reconnectedText()
{
    return QStringLiteral("已重新连接数据库服务器，请再做一次刚才的操作。");
}

void showComError(const DbError& error, QWidget* parent)
{
    const auto& reconnect = reconnectHandler();
    if (error.failure() == DbError::Failure::ConnectionLost && reconnect) {
        if (Messages::show(reconnectQuestion(error), QString(), Messages::Icon::Question,
                           Messages::Buttons::YesNo, parent) == Messages::Answer::Yes &&
            reconnect(parent))
            Messages::notice(reconnectedText(), parent, QString(), Messages::Icon::Information);
        return;
    }
    Messages::notice(comErrorText(error), parent, QString(), Messages::Icon::Exclamation);
}

void setReconnectHandler(std::function<bool(QWidget*)> handler)
{
    reconnectHandler() = std::move(handler);
}

void installComErrorBox()
{
    setDbErrorReporter([](const DbError& e) { showComError(e); });
}

} // namespace vok
