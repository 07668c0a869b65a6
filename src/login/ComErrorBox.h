#pragma once

#include "db/DbError.h"

class QWidget;

namespace vok {

// Shows a database failure: its text, an OK button, the exclamation icon,
// the application title as caption.
void showComError(const DbError& error, QWidget* parent = nullptr);

// Routes the core's database failure reports (the operation log's) to the
// COM error box. Called once at start-up.
void installComErrorBox();

} // namespace vok
