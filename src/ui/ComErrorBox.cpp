#include "ui/ComErrorBox.h"

#include "core/FormContext.h"
#include "core/OperationLog.h"
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
    if (!error.detail().isEmpty())
        text += QStringLiteral("\r\n\r\n") + comErrorText(0, error.detail());
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

bool writeLog(COperationLog& log, const QString& text, QWidget* parent)
{
    try {
        log.write(text);
        return true;
    } catch (const DbError& e) {
        showComError(e, parent);
        return false;
    }
}

bool writeLog(const FormContext& context, const QString& text, QWidget* parent)
{
    return !context.log || writeLog(*context.log, text, parent);
}

void setReconnectHandler(std::function<bool(QWidget*)> handler)
{
    reconnectHandler() = std::move(handler);
}

QString comErrorText(quint32 code, const QString& text)
{
    QString t = text;
    if (t.endsWith(QLatin1String("\r\n")))
        t.chop(2);
    else if (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    if (!t.isEmpty())
        return t;
    if (code > 0x80040200u && code < 0x80050000u)
        return QString::asprintf("IDispatch error #%d", int(code - 0x80040200u));
    return QString::asprintf("Unknown error 0x%08X", code);
}

quint32 comErrorCode(const DbError& error)
{
    if (error.failure() == DbError::Failure::RowChanged)
        return 0x80040E38u; // DB_E_CONCURRENCYVIOLATION
    if (error.failure() == DbError::Failure::NoCurrentRecord)
        return 0x800A0BCDu; // adErrNoCurrentRecord
    if (error.kind() == DbError::Kind::BadInput)
        return 0x80040E07u; // DB_E_CANTCONVERTVALUE
    return 0x80004005u;     // E_FAIL
}

} // namespace vok
