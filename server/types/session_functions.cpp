// The built-ins that read the session or the catalogue: user_name, user_id, suser_name, suser_id,
// db_name, db_id, host_name, object_id, object_name, col_name, index_col, rowcnt. They query the system
// tables of the storage naming scheme ("db.dbo.sysobjects") on the calling connection, so they see
// the session's own uncommitted DDL.
#include <optional>
#include <string>
#include <vector>

#include "server/types/function_support.h"
#include "server/types/sqlite_prepare.h"

namespace tabsrv::fn {
namespace {

SessionInfo kDefaults;

const SessionInfo& infoOf(sqlite3_context* ctx) {
  auto* info = static_cast<SessionInfo*>(sqlite3_user_data(ctx));
  return info ? *info : kDefaults;
}

// The quoted SQLite name of a system table: "db.dbo.table".
std::string systemTable(const std::string& db, const char* table) {
  std::string n = systemTableReadName(db, table);
  std::string q = "\"";
  for (char c : n) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

using Param = std::variant<std::monostate, int64_t, std::string>;

// Runs a one-value query; nothing when it fails (unknown database) or returns no row.
std::optional<Value> queryOne(sqlite3* db, const std::string& sql, const std::vector<Param>& params) {
  sqlite3_stmt* st = nullptr;
  if (prepareSql(db, sql, &st) != SQLITE_OK) {
    sqlite3_finalize(st);
    return std::nullopt;
  }
  for (size_t i = 0; i < params.size(); ++i) {
    int idx = static_cast<int>(i) + 1;
    if (const auto* n = std::get_if<int64_t>(&params[i]))
      sqlite3_bind_int64(st, idx, *n);
    else if (const auto* s = std::get_if<std::string>(&params[i]))
      sqlite3_bind_text(st, idx, s->c_str(), -1, SQLITE_TRANSIENT);
  }
  std::optional<Value> r;
  if (sqlite3_step(st) == SQLITE_ROW) {
    switch (sqlite3_column_type(st, 0)) {
      case SQLITE_INTEGER:
        r = static_cast<int64_t>(sqlite3_column_int64(st, 0));
        break;
      case SQLITE_NULL:
        r = std::monostate{};
        break;
      case SQLITE_BLOB: {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
        r = Bytes(p, p + sqlite3_column_bytes(st, 0));
        break;
      }
      default:
        r = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        break;
    }
  }
  sqlite3_finalize(st);
  return r;
}

void resultOptional(sqlite3_context* ctx, const std::optional<Value>& v) {
  if (!v) return sqlite3_result_null(ctx);
  if (const auto* i = std::get_if<int64_t>(&*v)) return sqlite3_result_int64(ctx, *i);
  if (const auto* s = std::get_if<std::string>(&*v)) {
    // Names are stored without trailing blanks, but char columns may pad.
    std::string t = *s;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return resultText(ctx, t);
  }
  sqlite3_result_null(ctx);
}

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

// An object name as object_id() takes it: 'name', 'owner.name', 'db..name', 'db.owner.name'; a
// part between brackets may hold dots of its own ('dbo.[dot.ted]', "]]" inside is one "]").
struct ParsedName {
  std::string db, owner, name;
};

std::optional<ParsedName> parseObjectName(const std::string& text, const SessionInfo& info) {
  std::vector<std::string> parts;
  std::string cur;
  const std::string t = trimmed(text);
  bool bracketed = false;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (bracketed) {
      if (c != ']') {
        cur += c;
      } else if (i + 1 < t.size() && t[i + 1] == ']') {
        cur += c;
        ++i;
      } else {
        bracketed = false;
      }
    } else if (c == '[' && cur.empty()) {
      bracketed = true;
    } else if (c == '.') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  ParsedName p;
  if (parts.size() == 1)
    p.name = parts[0];
  else if (parts.size() == 2)
    p.owner = parts[0], p.name = parts[1];
  else if (parts.size() == 3)
    p.db = parts[0], p.owner = parts[1], p.name = parts[2];
  else
    return std::nullopt;
  if (p.name.empty()) return std::nullopt;
  if (p.db.empty()) p.db = p.name[0] == '#' ? "tempdb" : info.database;
  // object_id('#t') and object_id('tempdb..#t') name this session's own #t.
  if (p.name[0] == '#' && p.db == "tempdb")
    p.name = info.tempTableName ? info.tempTableName(p.name) : tempTableStoredName(p.name, info.spid);
  return p;
}

std::optional<int64_t> uidOf(sqlite3* db, const std::string& database, const std::string& user) {
  auto v = queryOne(db, "SELECT uid FROM " + systemTable(database, "sysusers") + " WHERE name = ?1", {user});
  if (v && std::holds_alternative<int64_t>(*v)) return std::get<int64_t>(*v);
  return std::nullopt;
}

std::optional<int64_t> objectIdOf(sqlite3* db, const std::string& text, const SessionInfo& info) {
  auto p = parseObjectName(text, info);
  if (!p) return std::nullopt;
  std::vector<int64_t> uids;
  if (!p->owner.empty()) {
    auto u = uidOf(db, p->db, p->owner);
    if (!u) return std::nullopt;
    uids.push_back(*u);
  } else {
    if (auto u = uidOf(db, p->db, info.user)) uids.push_back(*u);
    uids.push_back(1);  // dbo
  }
  for (int64_t uid : uids) {
    auto v =
        queryOne(db, "SELECT id FROM " + systemTable(p->db, "sysobjects") + " WHERE name = ?1 AND uid = ?2",
                 {p->name, uid});
    if (v && std::holds_alternative<int64_t>(*v)) return std::get<int64_t>(*v);
  }
  return std::nullopt;
}

std::optional<std::string> dbNameOf(sqlite3* db, int64_t dbid) {
  auto v =
      queryOne(db, "SELECT name FROM " + systemTable("master", "sysdatabases") + " WHERE dbid = ?1", {dbid});
  if (v && std::holds_alternative<std::string>(*v)) return trimmed(std::get<std::string>(*v));
  return std::nullopt;
}

void userNameFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  const SessionInfo& info = infoOf(ctx);
  if (argc == 0) return resultText(ctx, info.user);
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  int64_t uid = sqlite3_value_int64(a[0]);
  resultOptional(
      ctx, queryOne(sqlite3_context_db_handle(ctx),
                    "SELECT name FROM " + systemTable(info.database, "sysusers") + " WHERE uid = ?1", {uid}));
}

void userIdFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  const SessionInfo& info = infoOf(ctx);
  if (argc == 0) return sqlite3_result_int64(ctx, info.uid);
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  auto u = uidOf(sqlite3_context_db_handle(ctx), info.database, trimmed(argText(a[0])));
  if (!u) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, *u);
}

void suserNameFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  const SessionInfo& info = infoOf(ctx);
  if (argc == 0) return resultText(ctx, info.login);
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  resultOptional(ctx, queryOne(sqlite3_context_db_handle(ctx),
                               "SELECT name FROM " + systemTable("master", "syslogins") + " WHERE suid = ?1",
                               {static_cast<int64_t>(sqlite3_value_int64(a[0]))}));
}

void suserIdFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  const SessionInfo& info = infoOf(ctx);
  if (argc == 0) return sqlite3_result_int64(ctx, info.suid);
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  resultOptional(ctx, queryOne(sqlite3_context_db_handle(ctx),
                               "SELECT suid FROM " + systemTable("master", "syslogins") + " WHERE name = ?1",
                               {trimmed(argText(a[0]))}));
}

void dbNameFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  const SessionInfo& info = infoOf(ctx);
  if (argc == 0) return resultText(ctx, info.database);
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  auto n = dbNameOf(sqlite3_context_db_handle(ctx), sqlite3_value_int64(a[0]));
  if (!n) return sqlite3_result_null(ctx);
  resultText(ctx, *n);
}

void dbIdFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  const SessionInfo& info = infoOf(ctx);
  std::string name = argc == 0 ? info.database : (argNull(a[0]) ? std::string() : trimmed(argText(a[0])));
  if (name.empty()) return sqlite3_result_null(ctx);
  resultOptional(
      ctx,
      queryOne(sqlite3_context_db_handle(ctx),
               "SELECT dbid FROM " + systemTable("master", "sysdatabases") + " WHERE name = ?1", {name}));
}

void hostNameFn(sqlite3_context* ctx, int, sqlite3_value**) {
  resultText(ctx, infoOf(ctx).host);
}

void objectIdFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  auto id = objectIdOf(sqlite3_context_db_handle(ctx), argText(a[0]), infoOf(ctx));
  if (!id) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, *id);
}

// The database a (id [, dbid]) pair refers to: the session's when dbid is absent.
std::optional<std::string> databaseArg(sqlite3_context* ctx, int argc, sqlite3_value** a, int at) {
  if (argc > at) {
    if (argNull(a[at])) return std::nullopt;
    return dbNameOf(sqlite3_context_db_handle(ctx), sqlite3_value_int64(a[at]));
  }
  return infoOf(ctx).database;
}

void objectNameFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  auto database = databaseArg(ctx, argc, a, 1);
  if (!database) return sqlite3_result_null(ctx);
  resultOptional(ctx, queryOne(sqlite3_context_db_handle(ctx),
                               "SELECT name FROM " + systemTable(*database, "sysobjects") + " WHERE id = ?1",
                               {static_cast<int64_t>(sqlite3_value_int64(a[0]))}));
}

void colNameFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
  auto database = databaseArg(ctx, argc, a, 2);
  if (!database) return sqlite3_result_null(ctx);
  resultOptional(ctx, queryOne(sqlite3_context_db_handle(ctx),
                               "SELECT name FROM " + systemTable(*database, "syscolumns") +
                                   " WHERE id = ?1 AND colid = ?2",
                               {static_cast<int64_t>(sqlite3_value_int64(a[0])),
                                static_cast<int64_t>(sqlite3_value_int64(a[1]))}));
}

// col_length('table', 'column'): the column's defined length in bytes (syscolumns.length);
// NULL when there is no such table or column.
void colLengthFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
  sqlite3* db = sqlite3_context_db_handle(ctx);
  const SessionInfo& info = infoOf(ctx);
  std::string text = argText(a[0]);
  auto parsed = parseObjectName(text, info);
  auto id = objectIdOf(db, text, info);
  if (!parsed || !id) return sqlite3_result_null(ctx);
  std::string column = argText(a[1]);
  while (!column.empty() && column.back() == ' ') column.pop_back();
  resultOptional(ctx, queryOne(db,
                               "SELECT length FROM " + systemTable(parsed->db, "syscolumns") +
                                   " WHERE id = ?1 AND number = 0 AND rtrim(name) = ?2",
                               {*id, column}));
}

// index_col('table', indid, keyno): the name of the keyno-th key column of the index. The key
// columns are kept in sysindexes.keys1 as 16-bit little-endian colids, in key order.
void indexColFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0]) || argNull(a[1]) || argNull(a[2])) return sqlite3_result_null(ctx);
  sqlite3* db = sqlite3_context_db_handle(ctx);
  const SessionInfo& info = infoOf(ctx);
  std::string text = argText(a[0]);
  auto parsed = parseObjectName(text, info);
  auto id = objectIdOf(db, text, info);
  if (!parsed || !id) return sqlite3_result_null(ctx);
  auto keys = queryOne(
      db, "SELECT keys1 FROM " + systemTable(parsed->db, "sysindexes") + " WHERE id = ?1 AND indid = ?2",
      {*id, static_cast<int64_t>(sqlite3_value_int64(a[1]))});
  int64_t keyno = sqlite3_value_int64(a[2]);
  if (!keys || !std::holds_alternative<Bytes>(*keys)) return sqlite3_result_null(ctx);
  const Bytes& b = std::get<Bytes>(*keys);
  if (keyno < 1 || static_cast<size_t>(keyno) * 2 > b.size()) return sqlite3_result_null(ctx);
  int64_t colid = b[(keyno - 1) * 2] | (b[(keyno - 1) * 2 + 1] << 8);
  resultOptional(ctx, queryOne(db,
                               "SELECT name FROM " + systemTable(parsed->db, "syscolumns") +
                                   " WHERE id = ?1 AND colid = ?2",
                               {*id, colid}));
}

// rowcnt(doampg): the rows of the table whose data row (sysindexes indid 0 or 1) holds that
// doampg in the current database; the storage keeps the table's id there. 0 for index rows.
void rowcntFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  int64_t doampg = sqlite3_value_int64(a[0]);
  if (doampg == 0) return sqlite3_result_int64(ctx, 0);
  sqlite3* db = sqlite3_context_db_handle(ctx);
  const std::string& database = infoOf(ctx).database;
  auto table =
      queryOne(db,
               "SELECT o.name FROM " + systemTable(database, "sysindexes") + " i, " +
                   systemTable(database, "sysobjects") +
                   " o WHERE i.doampg = ?1 AND i.indid IN (0, 1) AND o.id = i.id AND o.type IN ('U', 'S')",
               {doampg});
  auto owner = queryOne(db,
                        "SELECT u.name FROM " + systemTable(database, "sysobjects") + " o, " +
                            systemTable(database, "sysusers") + " u WHERE o.id = ?1 AND u.uid = o.uid",
                        {doampg});
  if (!table || !owner || !std::holds_alternative<std::string>(*table) ||
      !std::holds_alternative<std::string>(*owner))
    return sqlite3_result_int64(ctx, 0);
  // A table made by DDL is stored as "db<0x1F>id<0x1F>owner.name"; the server's own tables, and
  // tables an earlier version made, as "db.owner.name".
  auto trimmed = [](std::string v) {
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
  };
  const std::string readable =
      trimmed(std::get<std::string>(*owner)) + "." + trimmed(std::get<std::string>(*table));
  std::string name = database + '\x1f' + std::to_string(doampg) + '\x1f' + readable;
  // No schema: the table is looked for in every attached database file (the database's own is
  // attached by the catalogue reads above).
  if (sqlite3_table_column_metadata(db, nullptr, name.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr) != SQLITE_OK)
    name = database + "." + readable;
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += "\"";
  auto count = queryOne(db, "SELECT count(*) FROM " + quoted, {});
  if (!count || !std::holds_alternative<int64_t>(*count)) return sqlite3_result_int64(ctx, 0);
  sqlite3_result_int64(ctx, std::get<int64_t>(*count));
}

}  // namespace

int registerSessionFunctions(sqlite3* db, SessionInfo* info) {
  struct Def {
    const char* name;
    int nargs;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Def kDefs[] = {
      {"t_user_name", 0, userNameFn},
      {"t_user_name", 1, userNameFn},
      {"t_user_id", 0, userIdFn},
      {"t_user_id", 1, userIdFn},
      {"t_suser_name", 0, suserNameFn},
      {"t_suser_name", 1, suserNameFn},
      {"t_suser_id", 0, suserIdFn},
      {"t_suser_id", 1, suserIdFn},
      {"t_db_name", 0, dbNameFn},
      {"t_db_name", 1, dbNameFn},
      {"t_db_id", 0, dbIdFn},
      {"t_db_id", 1, dbIdFn},
      {"t_host_name", 0, hostNameFn},
      {"t_object_id", 1, objectIdFn},
      {"t_col_length", 2, colLengthFn},
      {"t_object_name", 1, objectNameFn},
      {"t_object_name", 2, objectNameFn},
      {"t_col_name", 2, colNameFn},
      {"t_col_name", 3, colNameFn},
      {"t_index_col", 3, indexColFn},
      {"t_index_col", 4, indexColFn},
      {"t_rowcnt", 1, rowcntFn},
  };
  for (const Def& d : kDefs) {
    if (int rc = define(db, d.name, d.nargs, d.fn, false, info); rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

}  // namespace tabsrv::fn
