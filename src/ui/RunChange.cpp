#include "ui/RunChange.h"

#include "db/DbError.h"
#include "ui/ComErrorBox.h"

namespace vok {

bool runChange(QWidget* form, const std::function<void()>& change)
{
    try {
        change();
    } catch (const DbError& e) {
        showComError(e, form);
        return false;
    }
    return true;
}

} // namespace vok
