// The values of timestamp columns: eight bytes that grow with every row the server inserts or
// updates in such a column, across sessions and restarts (they start from the clock).
#pragma once

#include <sqlite3.h>

#include "server/core/types.h"

namespace tabsrv {

// A new timestamp value, greater than every one handed out before by this process.
Bytes nextTimestamp();

// The last value nextTimestamp() handed out (eight zero bytes before the first): @@dbts.
Bytes lastTimestamp();

// Registers t_timestamp(), the SQL form of nextTimestamp(), on a connection.
int registerTimestampFunction(sqlite3* db);

}  // namespace tabsrv
