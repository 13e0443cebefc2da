// User datatypes: systypes rows numbered from 100 that name a physical type with its nullability
// (sp_addtype phone_t, "varchar(12)", "not null"). Columns of such a type keep its usertype in
// syscolumns, so dropping it is refused while any column uses it.
#include "server/core/message.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"
#include "server/types/type_codes.h"

namespace tabsrv {

int32_t createUserType(sqlite3* db, const UserTypeSpec& details) {
  if (!databaseExists(db, details.database))
    throw SqlError(911, 11,
                   "Attempt to locate entry in sysdatabases for database '" + details.database +
                       "' by name failed - no entry found under that name. Make sure that name is "
                       "entered properly.");
  requireIdentifierLength(details.name);
  std::string systypes = sqliteObjectName(details.database, "dbo", "systypes");
  {
    storage::Stmt st(db, "SELECT name FROM " + systypes + " WHERE name = ?1");
    st.bind(1, details.name);
    while (st.step()) {
      if (storage::rtrimmed(st.text(0)) == details.name)
        throw SqlError(17331, 16, "Type name already exists.");
    }
  }
  storage::Stmt next(
      db, "SELECT max(100, coalesce(max(usertype) + 1, 100)) FROM " + systypes + " WHERE usertype >= 100");
  next.step();
  int32_t usertype = static_cast<int32_t>(next.integer(0));
  const TypeDesc& t = details.base;
  bool numeric = t.type == SqlType::Numeric || t.type == SqlType::Decimal;
  bool variable = t.type == SqlType::VarChar || t.type == SqlType::VarBinary;
  storage::insertSystemRow(db, details.database, "systypes",
                           {{"uid", int64_t{details.ownerUid}},
                            {"usertype", int64_t{usertype}},
                            {"variable", int64_t{variable ? 1 : 0}},
                            {"allownulls", int64_t{details.nullable ? 1 : 0}},
                            {"type", int64_t{columnTypeCode(t, details.nullable)}},
                            {"length", int64_t{t.length}},
                            {"name", details.name},
                            {"prec", numeric ? Value(int64_t{t.precision}) : Value()},
                            {"scale", numeric ? Value(int64_t{t.scale}) : Value()},
                            {"ident", int64_t{details.identity ? 1 : 0}}});
  return usertype;
}

void dropUserType(sqlite3* db, const std::string& database, const std::string& name) {
  std::string systypes = sqliteObjectName(database, "dbo", "systypes");
  int64_t usertype = -1;
  {
    storage::Stmt st(db, "SELECT usertype, name FROM " + systypes + " WHERE name = ?1 AND usertype >= 100");
    st.bind(1, name);
    while (st.step()) {
      if (storage::rtrimmed(st.text(1)) == name) usertype = st.integer(0);
    }
  }
  if (usertype < 0) throw SqlError(17332, 16, "Type name does not exist.");
  storage::Stmt used(
      db, "SELECT 1 FROM " + sqliteObjectName(database, "dbo", "syscolumns") + " WHERE usertype = ?1");
  used.bind(1, usertype);
  if (used.step()) throw SqlError(17333, 16, "Type is being used. You cannot drop it.");
  storage::Stmt del(db, "DELETE FROM " + systypes + " WHERE usertype = ?1");
  del.bind(1, usertype);
  del.run();
}

}  // namespace tabsrv
