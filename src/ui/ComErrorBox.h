#pragma once

#include "db/DbError.h"

#include <functional>

class QWidget;

namespace vok {
class COperationLog;
struct FormContext;
} // namespace vok

namespace vok {

// Shows a database failure: its text, an OK button, the exclamation icon,
// the application title as caption. A lost server connection is told
// with a question instead: "是" reconnects through the reconnect handler
// (when one is set) and says so, so that the action can be repeated.
void showComError(const DbError& error, QWidget* parent = nullptr);

// Reopens the current user's connection after its link broke; true when it
// works again. The handler shows its own failure. Set by the main window;
// an empty handler means there is nobody to reconnect.
void setReconnectHandler(std::function<bool(QWidget* parent)> handler);

// The question shown for a lost connection, and what is said after a
// reconnection.
QString reconnectQuestion(const DbError& error);
QString reconnectedText();

// Writes the operation log's row of a change that is done: a failure is
// shown in the box (false), and the change stays done.
bool writeLog(COperationLog& log, const QString& text, QWidget* parent = nullptr);
// The same for a form, when it has a log (true when it has none).
bool writeLog(const FormContext& context, const QString& text, QWidget* parent);

// The box's text of a failure: its text without a trailing line break;
// without a text, "IDispatch error #n" for codes just above 0x80040200,
// else "Unknown error 0x%08X".
QString comErrorText(quint32 code, const QString& text);
// The HRESULT the box tells a failure by when it has no text of its own.
quint32 comErrorCode(const DbError& error);
inline QString comErrorText(const DbError& error)
{
    return comErrorText(comErrorCode(error), error.text());
}

} // namespace vok
