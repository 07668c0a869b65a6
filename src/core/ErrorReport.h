#pragma once

#include "db/DbError.h"

#include <functional>

namespace vok {

// How core code that must show a database failure itself (the operation
// log) reaches the COM error box, which lives in the widgets library.
void reportDbError(const DbError& error);
void setDbErrorReporter(std::function<void(const DbError&)> reporter);

} // namespace vok
