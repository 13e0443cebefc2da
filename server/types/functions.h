// The SQLite side of T-SQL: the collation t_decimal, the assignment function t_assign, and the
// built-in T-SQL functions registered as SQLite user functions named t_<name>, with a table that
// gives the binder each built-in's SQLite name, argument counts and result type.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/types.h"
#include "server/types/convert.h"

namespace tabsrv {

// What the session-dependent functions (user_name(), db_name(), suser_name(), host_name(),
// object_id() ...) read. The session owns it, keeps it current (USE changes `database`) and
// hands its address to setSessionInfo once; the functions read it on each call.
struct SessionInfo {
  std::string database = "master";  // current database
  std::string user = "dbo";         // user name in the current database
  int32_t uid = 1;                  // sysusers.uid in the current database
  std::string login = "sa";         // login name (suser_name())
  int32_t suid = 1;
  std::string host;  // host_name()
  std::string program;
  int32_t spid = 0;
  // Where the session keeps its #table of a name (a procedure's own hides its caller's); empty:
  // tempTableStoredName(name, spid).
  std::function<std::string(const std::string&)> tempTableName;
  std::string dateFormat = "mdy";  // set dateformat, for text -> datetime conversions
  int dateFirst = 7;               // set datefirst, for datepart(dw, ...)
  // set arithabort arith_overflow off with set arithignore on: a zero divisor or an overflow in
  // arithmetic gives NULL without a message instead of an error.
  bool arithmeticErrorsAreNull = false;
  // set arithabort numeric_truncation: what an implicit conversion does with decimals its
  // target cannot hold (on: error 241, off: they are dropped).
  ScaleLoss implicitScaleLoss = ScaleLoss::Error;
};

// The name a session's #table is kept under in tempdb: "#t" of spid 12 is "#t_00012", private to
// the session as the family's tempdb names are.
inline std::string tempTableStoredName(const std::string& name, int spid) {
  std::string suffix = std::to_string(spid);
  while (suffix.size() < 5) suffix = "0" + suffix;
  return name + "_" + suffix;
}

// True when `table` of `database` also holds rows of the sessions' #tables: tempdb's sysobjects,
// sysindexes, syscolumns, syscomments, sysprotects and syskeys. A #table lives on its session's
// connection, and each connection reads these through a view that adds its session's rows.
inline bool isSessionSplitTable(std::string_view database, std::string_view table) {
  if (database != "tempdb") return false;
  for (std::string_view t : {"sysobjects", "sysindexes", "syscolumns", "syscomments", "sysprotects", "syskeys"})
    if (table == t) return true;
  return false;
}

// The SQLite name (unquoted) statements read system table `table` of `database` under:
// "db.dbo.table", or for the tables above that view: "tempdb.dbo.sysobjects", 0x1F, "session".
inline std::string systemTableReadName(const std::string& database, const std::string& table) {
  std::string name = database + ".dbo." + table;
  if (isSessionSplitTable(database, table)) name += "\x1fsession";
  return name;
}

// True when an arithmetic error of a user function with `info` as its user data (may be null)
// is to give NULL instead (see SessionInfo::arithmeticErrorsAreNull).
inline bool arithmeticErrorsAreNull(const SessionInfo* info) {
  return info && info->arithmeticErrorsAreNull;
}

// Registers the collation t_decimal, t_assign, t_convert and every built-in on a connection.
// Returns SQLite's result code. Session functions use defaults until setSessionInfo.
int registerFunctions(sqlite3* db);

// Points the session-dependent functions of `db` at `info` (re-registering them); `info` must
// outlive the connection or be replaced first. Call it before running statements.
int setSessionInfo(sqlite3* db, SessionInfo* info);

// How the binder passes an argument that is not an ordinary expression.
enum class ArgKind : uint8_t {
  Value,     // an expression
  DataType,  // convert(varchar(10), ...): the binder passes typecode, length, precision, scale
  DatePart,  // dateadd(mm, ...): the binder passes the part's name as a string literal
};

// One built-in T-SQL function.
struct BuiltinFunction {
  std::string_view tsqlName;    // lower-case T-SQL name: "substring"
  std::string_view sqliteName;  // the user function: "t_substring"
  int minArgs;                  // T-SQL argument counts
  int maxArgs;
  ArgKind firstArg;  // kind of the first argument (the others are values)
  // The result type from the arguments' bound types; for DataType the first entry is the
  // target type. `args` has between minArgs and maxArgs entries.
  TypeDesc (*resultType)(const std::vector<TypeDesc>& args);
  bool deterministic;  // false for getdate() and session functions
};

// The built-in with this T-SQL name (case-insensitive), or nullptr.
const BuiltinFunction* findBuiltin(std::string_view tsqlName);

// Every built-in, in the table's order (for sp_help-like listings and tests).
const std::vector<BuiltinFunction>& builtinFunctions();

// The canonical datepart name for a name or abbreviation ("yy", "yyyy", "year" -> "year"; "dw" ->
// "weekday"); empty when unknown. Names: year quarter month dayofyear day week weekday hour
// minute second millisecond.
std::string_view canonicalDatePart(std::string_view name);

// How the generator calls the conversion functions, all argument lists in this order:
//   t_convert(value, typecode, length, precision, scale [, style [, sourcetypecode]])
//     CONVERT(): explicit conversion; style applies to datetime -> char (0-12, 100-112) and
//     money -> char (0, 1, 2). sourcetypecode (a TypeCode) says what the value is when its
//     storage form is ambiguous (a datetime or money travels as TEXT): pass it when known.
//   t_assign(value, typecode, length, precision, scale [, nullable [, sourcetypecode]])
//     the conversion into a column's storage form (assignValue): char(n) padded, '' -> ' ',
//     numerics rounded to the scale, overflow and syntax errors raised as server errors.
// Typecodes are those of type_codes.h (fixed or N-variants).

}  // namespace tabsrv
