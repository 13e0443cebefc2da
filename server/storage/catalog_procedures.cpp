// Stored procedures in the catalogue: creation with parameter rows and text chunks, lookup by
// name (the text is read back joined from its syscomments chunks) and removal.
#include "server/storage/catalog_procedures.h"

#include <algorithm>

#include "server/core/message.h"
#include "server/storage/catalog_internal.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"
#include "server/types/datetime.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using storage::insertSystemRow;
using storage::Stmt;

namespace {

constexpr int kSysstatProcedure = 4;
constexpr int kOutputParameter = 0x40;
constexpr int kProcedureNumber = 1;
constexpr size_t kCommentChunk = 255;

std::string sysTable(const std::string& database, const char* table) {
  return sqliteObjectName(database, "dbo", table);
}

std::optional<int32_t> findObject(sqlite3* db, const std::string& database, int32_t uid,
                                  const std::string& name, std::string* type) {
  Stmt st(db,
          "SELECT id, name, type FROM " + sysTable(database, "sysobjects") + " WHERE name = ?1 AND uid = ?2");
  st.bind(1, name).bind(2, uid);
  while (st.step()) {
    if (storage::rtrimmed(st.text(1)) != name) continue;
    if (type) *type = storage::rtrimmed(st.text(2));
    return static_cast<int32_t>(st.integer(0));
  }
  return std::nullopt;
}

}  // namespace

int32_t createProcedure(sqlite3* db, const ProcedureSpec& details) {
  if (!databaseExists(db, details.database))
    throw SqlError(911, 11,
                   "Attempt to locate entry in sysdatabases for database '" + details.database +
                       "' by name failed - no entry found under that name. Make sure that the name is "
                       "entered properly.");
  requireIdentifierLength(details.name);
  for (const ProcedureParameter& p : details.params) requireIdentifierLength(p.name);
  std::string owner = details.owner.empty() ? std::string("dbo") : details.owner;
  auto user = findUser(db, details.database, owner);
  if (!user)
    throw SqlError(15008, 16, "User '" + owner + "' does not exist in database '" + details.database + "'.");
  if (findObject(db, details.database, user->uid, details.name, nullptr))
    throw SqlError(2714, 16, "There is already an object named '" + details.name + "' in the database.");
  int32_t id = storage::allocateObjectId(db, details.database);
  DateTime now = currentDateTime();
  insertSystemRow(db, details.database, "sysobjects",
                  {{"name", details.name},
                   {"id", int64_t{id}},
                   {"uid", int64_t{user->uid}},
                   {"type", std::string("P")},
                   {"sysstat", int64_t{kSysstatProcedure}},
                   {"crdate", now},
                   {"expdate", now}});
  int colid = 0;
  for (const ProcedureParameter& p : details.params) {
    bool numeric = p.type.type == SqlType::Numeric || p.type.type == SqlType::Decimal;
    // Parameters take the nullable codes (intn, datetimn ...) except char and binary, which keep
    // 47 and 45: a char(12) parameter is not a varchar.
    bool fixed = p.type.type == SqlType::Char || p.type.type == SqlType::Binary;
    int32_t code = fixed ? typeCode(p.type.type) : columnTypeCode(p.type, true);
    insertSystemRow(db, details.database, "syscolumns",
                    {{"id", int64_t{id}},
                     {"number", int64_t{kProcedureNumber}},
                     {"colid", int64_t{++colid}},
                     {"status", int64_t{p.output ? kOutputParameter : 0}},
                     {"type", int64_t{code}},
                     {"length", int64_t{p.type.length}},
                     {"offset", int64_t{0}},
                     {"usertype", int64_t{userTypeOf(p.type.type)}},
                     {"cdefault", int64_t{0}},
                     {"domain", int64_t{0}},
                     {"name", p.name},
                     {"prec", numeric ? Value(int64_t{p.type.precision}) : Value()},
                     {"scale", numeric ? Value(int64_t{p.type.scale}) : Value()}});
  }
  // The text in 255-byte chunks that never split a UTF-8 character.
  const std::string& text = details.text;
  size_t at = 0;
  int chunk = 1;
  do {
    size_t n = std::min(kCommentChunk, text.size() - at);
    while (n > 0 && at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80) --n;
    insertSystemRow(db, details.database, "syscomments",
                    {{"id", int64_t{id}},
                     {"number", int64_t{kProcedureNumber}},
                     {"colid", int64_t{chunk++}},
                     {"texttype", int64_t{0}},
                     {"language", int64_t{0}},
                     {"text", text.substr(at, n)},
                     {"colid2", int64_t{0}}});
    at += n;
    if (n == 0) break;
  } while (at < text.size());
  return id;
}

std::optional<ProcedureInfo> resolveProcedure(sqlite3* db, const ObjectRef& ref, const std::string& currentDb,
                                              const std::string& currentUser) {
  std::string database = storage::effectiveDatabase(ref, currentDb);
  if (ref.name.empty() || !databaseExists(db, database)) return std::nullopt;
  for (int32_t uid : storage::candidateOwners(db, database, ref.owner, currentUser)) {
    std::string type;
    auto id = findObject(db, database, uid, ref.name, &type);
    if (!id || type != "P") continue;
    ProcedureInfo info;
    info.id = *id;
    info.database = database;
    info.name = ref.name;
    Stmt owner(db, "SELECT name FROM " + sysTable(database, "sysusers") + " WHERE uid = ?1");
    owner.bind(1, uid);
    info.owner = owner.step() ? storage::rtrimmed(owner.text(0)) : std::string("dbo");
    Stmt text(db, "SELECT text FROM " + sysTable(database, "syscomments") + " WHERE id = ?1 ORDER BY colid");
    text.bind(1, *id);
    while (text.step())
      if (!text.isNull(0)) info.text += text.text(0);
    return info;
  }
  return std::nullopt;
}

void dropProcedure(sqlite3* db, const ProcedureInfo& proc) {
  for (const char* table : {"sysobjects", "syscolumns", "syscomments"}) {
    Stmt st(db, "DELETE FROM " + sysTable(proc.database, table) + " WHERE id = ?1");
    st.bind(1, proc.id);
    st.run();
  }
}

}  // namespace tabsrv
