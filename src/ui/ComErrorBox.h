#pragma once

#include "db/DbError.h"

#include <functional>

class QWidget;

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

// Routes the core's database failure reports (the operation log's) to the
// COM error box. Called once at start-up.
void installComErrorBox();

} // namespace vok
