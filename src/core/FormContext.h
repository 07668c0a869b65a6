#pragma once

#include "core/OperationLog.h"
#include "db/Connection.h"

#include <QString>
#include <functional>

namespace vok {

// What the main window hands to every form it opens.
struct FormContext
{
    // The first character of the user's class text read as a number.
    int classNumber = 3;
    // Shared with the main window; a form never closes it.
    ConnectionPtr connection;
    // The main window's log; none for the log browser.
    COperationLog* log = nullptr;
    // Only for the forms that are given the user name.
    QString userName;
    // The department whose database the connection opens.
    QString department;
    // Opens another department's database by its name ("部门C") as the
    // user logged in (nullptr or DbError: out of reach); the transfers
    // between departments use it. None: no other department is reached.
    std::function<ConnectionPtr(const QString& department)> openDepartment;
};

} // namespace vok
