// Moving Values in and out of SQLite in the canonical storage forms of server/core/types.h:
// reading a column or function argument as a given type and binding a Value to a statement.
#pragma once

#include <sqlite3.h>

#include "server/core/types.h"

namespace tabsrv {

// Reads a SQLite value as `type`: INTEGER/REAL/TEXT/BLOB are converted to the Value kind of
// `type` (TEXT decimals to Decimal, TEXT datetimes to DateTime, REAL results of numeric
// expressions to Decimal at the type's scale ...). SQL NULL gives monostate. Throws SqlError
// when the stored value cannot be converted.
Value valueFromSqlite(sqlite3_value* value, const TypeDesc& type);

// The same for a result column of a stepped statement.
Value columnValue(sqlite3_stmt* stmt, int column, const TypeDesc& type);
// The same into `out`, reusing the string or byte storage `out` already holds (a row loop reads
// each column into the same Value row after row).
void readColumnValue(sqlite3_stmt* stmt, int column, const TypeDesc& type, Value& out);

// Reads a SQLite value by its storage class alone: INTEGER -> int64, REAL -> double,
// TEXT -> string, BLOB -> Bytes, NULL -> monostate.
Value rawValueFromSqlite(sqlite3_value* value);

// Binds a Value in its canonical form: integers as INTEGER, doubles as REAL, Decimal and DateTime
// as their canonical TEXT, strings as TEXT, Bytes as BLOB, NULL as NULL. `index` is 1-based.
// Returns SQLite's result code.
int bindValue(sqlite3_stmt* stmt, int index, const Value& v);

// Sets a user function's result to a Value in canonical form.
void resultValue(sqlite3_context* ctx, const Value& v);

}  // namespace tabsrv
