#pragma once

#include "db/Connection.h"

namespace vok {

// Opens a data source that unixODBC defines (a site's shared server).
ConnectionPtr openOdbcConnection(const ConnectionString& cs);

} // namespace vok
