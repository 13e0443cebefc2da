// The reporting system procedures a DBA types first: sp_help (objects of the database, or one
// object with its columns, indexes and constraints, or a user datatype), sp_helpindex,
// sp_helpconstraint, sp_helprotect (the permissions sysprotects holds), sp_spaceused (a table, or the database), sp_helpdb, and sp_rename of a
// column. Sizes come from SQLite's dbstat table: the pages of each table's b-tree and of its
// indexes' b-trees.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/sysproc_support.h"
#include "server/types/datetime.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

ColumnDesc dateColumn(const std::string& name) {
  ColumnDesc c;
  c.name = name;
  c.type = makeType(SqlType::DateTime);
  c.nullable = true;
  return c;
}

Value text(const unsigned char* t) {
  if (!t) return Value();
  std::string s(reinterpret_cast<const char*>(t));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return Value{s};
}

bool sameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// What sp_help calls an object of sysobjects.type (a CHECK constraint is a type 'R' object too).
std::string objectTypeText(const std::string& type, bool checkConstraint) {
  if (checkConstraint) return "check constraint";
  if (type == "U") return "user table";
  if (type == "S") return "system table";
  if (type == "V") return "view";
  if (type == "P") return "stored procedure";
  if (type == "TR") return "trigger";
  if (type == "R") return "rule";
  if (type == "D") return "default";
  return type;
}

std::string kilobytes(int64_t bytes) {
  return std::to_string((bytes + 1023) / 1024) + " KB";
}

std::string megabytes(int64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return buf;
}

std::string unquoted(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"') return quoted;
  std::string out;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    out += quoted[i];
    if (quoted[i] == '"' && quoted[i + 1] == '"') ++i;
  }
  return out;
}

// A precision or scale column of a syscolumns row: shown for numeric and decimal only (type codes
// 63 and 55 and their nullable forms 108 and 106), NULL for every other type.
Value exactPart(sqlite3_stmt* q, int column, int typeCode) {
  bool exact = typeCode == 63 || typeCode == 55 || typeCode == 108 || typeCode == 106;
  if (!exact || sqlite3_column_type(q, column) == SQLITE_NULL) return Value();
  return Value{int64_t{sqlite3_column_int(q, column)}};
}

// "Mon dd, yyyy" as sp_helpdb shows a creation date.
std::string dayText(const Value& v) {
  const auto* dt = std::get_if<DateTime>(&v);
  if (!dt) return {};
  DateParts p = splitDateTime(*dt);
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %02d, %04d", kMonths[(p.month + 11) % 12], p.day, p.year);
  return buf;
}

}  // namespace

namespace {

// Adds the pages of the SQLite b-tree `name` (unquoted), wherever it is stored, to `space`.
void addBtree(sqlite3* db, const std::string& name, bool index, SpaceUsed& space) {
  std::vector<std::string> schemas;
  {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA database_list", -1, &st, nullptr) == SQLITE_OK)
      while (sqlite3_step(st) == SQLITE_ROW)
        schemas.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    sqlite3_finalize(st);
  }
  for (const std::string& schema : schemas) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT pgsize, unused FROM dbstat(?1, 1) WHERE name = ?2", -1, &st, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(st);
      continue;
    }
    sqlite3_bind_text(st, 1, schema.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) {
      int64_t bytes = sqlite3_column_int64(st, 0), unused = sqlite3_column_int64(st, 1);
      (index ? space.index : space.data) += bytes - unused;
      space.unused += unused;
    }
    sqlite3_finalize(st);
  }
}

SpaceUsed spaceOf(sqlite3* db, const TableInfo& t) {
  SpaceUsed s;
  addBtree(db, unquoted(t.sqliteName), false, s);
  for (const IndexInfo& i : t.indexes) addBtree(db, unquoted(i.sqliteName), true, s);
  return s;
}

}  // namespace

std::optional<TableInfo> SessionImpl::tableOfCurrentDatabase(const std::string& objname) {
  ObjectName on = splitDottedName(objname);
  if (!on.database.empty() && on.database != database_)
    throw SqlError(17460, 16, "Object must be in the current database.");
  std::optional<TableInfo> t = resolveTable(db_, ObjectRef{on.database, on.owner, on.name}, database_, user_);
  if (!t || (t->type != "U" && t->type != "S"))
    throw SqlError(17461, 16, "Object '" + objname + "' does not exist in this database.");
  return t;
}

SpaceUsed SessionImpl::databaseSpace(const std::string& database) {
  SpaceUsed total;
  std::vector<std::pair<std::string, std::string>> names;
  {
    SqlStatement st(*this,
                    "SELECT o.name, coalesce(u.name, 'dbo') FROM " + sqliteObjectName(database, "dbo", "sysobjects") +
                        " o LEFT JOIN " + sqliteObjectName(database, "dbo", "sysusers") +
                        " u ON u.uid = o.uid WHERE rtrim(o.type) IN ('U', 'S')",
                    SqlStatement::Access::Internal);
    while (st.step())
      names.emplace_back(std::get<std::string>(text(sqlite3_column_text(st.get(), 0))),
                         std::get<std::string>(text(sqlite3_column_text(st.get(), 1))));
  }
  for (const auto& [name, owner] : names) {
    std::optional<TableInfo> t = resolveTable(db_, ObjectRef{database, owner, name}, database, "dbo");
    if (!t) continue;
    SpaceUsed s = spaceOf(db_, *t);
    total.data += s.data;
    total.index += s.index;
    total.unused += s.unused;
  }
  return total;
}

void SessionImpl::spHelp(const std::optional<std::string>& objname) {
  auto inform = [this](const std::string& t) { sendMessage(ServerMessage{0, 1, 10, t, {}, 1}); };
  const std::string sysobjects = sqliteObjectName(database_, "dbo", "sysobjects");
  const std::string sysusers = sqliteObjectName(database_, "dbo", "sysusers");
  const std::string systypes = sqliteObjectName(database_, "dbo", "systypes");
  const std::string syscolumns = sqliteObjectName(database_, "dbo", "syscolumns");
  const int64_t checkStat = 0x2000;

  // A datatype's line: one type by its name (a system type such as int as well), or every user
  // type of the database.
  auto typeRows = [&](std::optional<std::string> only) {
    SqlStatement st(*this,
                    "SELECT t.name, t.type, t.variable, t.length, t.prec, t.scale, t.allownulls, d.name, r.name, "
                    "coalesce(t.ident, 0) FROM " +
                        systypes + " t LEFT JOIN " + sysobjects + " d ON d.id = t.tdefault AND t.tdefault <> 0 LEFT JOIN " +
                        sysobjects + " r ON r.id = t.domain AND t.domain <> 0 WHERE " +
                        (only ? "rtrim(t.name) = ?1" : "t.usertype >= 100") + " ORDER BY t.name",
                    SqlStatement::Access::Internal);
    if (only) st.bindAll({Value{*only}});
    std::vector<std::vector<Value>> rows;
    while (st.step()) {
      sqlite3_stmt* q = st.get();
      // The physical type: a nullable char keeps the varchar code with variable = 0, and the
      // N-codes say their width by the length.
      std::string storage;
      if (auto base = typeFromCode(sqlite3_column_int(q, 1), sqlite3_column_int(q, 3))) {
        SqlType physical = base->type;
        if (!sqlite3_column_int(q, 2) && physical == SqlType::VarChar) physical = SqlType::Char;
        if (!sqlite3_column_int(q, 2) && physical == SqlType::VarBinary) physical = SqlType::Binary;
        storage = std::string(typeName(physical));
      }
      bool exact = storage == "numeric" || storage == "decimal";
      auto intOrNull = [&](int i) {
        return !exact || sqlite3_column_type(q, i) == SQLITE_NULL ? Value() : Value{int64_t{sqlite3_column_int(q, i)}};
      };
      rows.push_back({text(sqlite3_column_text(q, 0)), storage.empty() ? Value() : Value{storage},
                      Value{int64_t{sqlite3_column_int(q, 3)}}, intOrNull(4), intOrNull(5),
                      Value{int64_t{sqlite3_column_int(q, 6)}}, text(sqlite3_column_text(q, 7)),
                      text(sqlite3_column_text(q, 8)), Value{int64_t{sqlite3_column_int(q, 9)}}});
    }
    return rows;
  };
  auto sendTypes = [&](const std::vector<std::vector<Value>>& rows) {
    sink_->rowFormat({textColumn("Type_name", 30), textColumn("Storage_type", 30), intColumn("Length"),
                      intColumn("Prec", true), intColumn("Scale", true), intColumn("Nulls"),
                      textColumn("Default_name", 30), textColumn("Rule_name", 30), intColumn("Identity")});
    for (const auto& r : rows) sink_->row(r);
    done(false, static_cast<int32_t>(rows.size()));
  };

  if (!objname) {
    // Every object of the database, then its user datatypes.
    sink_->rowFormat({textColumn("Name", 30), textColumn("Owner", 30), textColumn("Object_type", 22)});
    SqlStatement st(*this,
                    "SELECT o.name, u.name, rtrim(o.type), (o.sysstat2 & ?1) <> 0 FROM " + sysobjects +
                        " o LEFT JOIN " + sysusers + " u ON u.uid = o.uid ORDER BY rtrim(o.type), o.name",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{checkStat}});
    int32_t n = 0;
    while (st.step()) {
      std::string type = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 2));
      sink_->row({text(sqlite3_column_text(st.get(), 0)), text(sqlite3_column_text(st.get(), 1)),
                  Value{objectTypeText(type, type == "R" && sqlite3_column_int(st.get(), 3))}});
      ++n;
    }
    done(false, n);
    auto types = typeRows(std::nullopt);
    if (!types.empty()) sendTypes(types);
    return;
  }

  ObjectName on = splitDottedName(*objname);
  if (!on.database.empty() && on.database != database_)
    throw SqlError(17460, 16, "Object must be in the current database.");
  std::optional<int32_t> id = resolveObjectId(db_, ObjectRef{on.database, on.owner, on.name}, database_, user_);
  if (!id) {
    // Not an object: perhaps a datatype.
    auto types = typeRows(on.name);
    if (types.empty())
      throw SqlError(17461, 16, "Object '" + *objname + "' does not exist in this database.");
    sendTypes(types);
    return;
  }
  std::string type;
  bool check = false;
  {
    SqlStatement st(*this,
                    "SELECT o.name, u.name, rtrim(o.type), (o.sysstat2 & ?2) <> 0, o.crdate FROM " + sysobjects +
                        " o LEFT JOIN " + sysusers + " u ON u.uid = o.uid WHERE o.id = ?1",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{*id}}, Value{checkStat}});
    if (!st.step()) throw SqlError(17461, 16, "Object '" + *objname + "' does not exist in this database.");
    type = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 2));
    check = type == "R" && sqlite3_column_int(st.get(), 3);
    sink_->rowFormat({textColumn("Name", 30), textColumn("Owner", 30), textColumn("Object_type", 22),
                      dateColumn("Create_date")});
    sink_->row({text(sqlite3_column_text(st.get(), 0)), text(sqlite3_column_text(st.get(), 1)),
                Value{objectTypeText(type, check)}, columnValue(st.get(), 4, makeType(SqlType::DateTime))});
    done(false, 1);
  }
  if (type == "U" || type == "S" || type == "V") {
    // The columns, with the types as declared (user datatypes by name) and bound rules and defaults.
    sink_->rowFormat({textColumn("Column_name", 30), textColumn("Type", 30), intColumn("Length"),
                      intColumn("Prec", true), intColumn("Scale", true), intColumn("Nulls"),
                      textColumn("Default_name", 30), textColumn("Rule_name", 30),
                      textColumn("Access_Rule_name", 30), intColumn("Identity")});
    SqlStatement st(*this,
                    "SELECT c.name, t.name, c.length, c.prec, c.scale, (c.status & 8) <> 0, d.name, r.name, "
                    "(c.status & 128) <> 0, t.type FROM " +
                        syscolumns + " c LEFT JOIN " + systypes + " t ON t.usertype = c.usertype LEFT JOIN " +
                        sysobjects + " d ON d.id = c.cdefault AND c.cdefault <> 0 LEFT JOIN " + sysobjects +
                        " r ON r.id = c.domain AND c.domain <> 0 WHERE c.id = ?1 AND c.number = 0 ORDER BY c.colid",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{*id}}});
    int32_t n = 0;
    while (st.step()) {
      sqlite3_stmt* q = st.get();
      auto intOrNull = [&](int i) { return exactPart(q, i, sqlite3_column_int(q, 9)); };
      sink_->row({text(sqlite3_column_text(q, 0)), text(sqlite3_column_text(q, 1)),
                  Value{int64_t{sqlite3_column_int(q, 2)}}, intOrNull(3), intOrNull(4),
                  Value{int64_t{sqlite3_column_int(q, 5)}}, text(sqlite3_column_text(q, 6)),
                  text(sqlite3_column_text(q, 7)), Value(), Value{int64_t{sqlite3_column_int(q, 8)}}});
      ++n;
    }
    done(false, n);
    if (type == "V") return;
    ObjectRef ref{on.database, on.owner, on.name};
    std::optional<TableInfo> t = resolveTable(db_, ref, database_, user_);
    if (!t) return;
    if (t->indexes.empty())
      inform("Object does not have any indexes.");
    else
      spHelpIndex(*objname);
    spHelpConstraint(*objname);
    return;
  }
  if (type == "P") {
    sink_->rowFormat({textColumn("Parameter_name", 30), textColumn("Type", 30), intColumn("Length"),
                      intColumn("Prec", true), intColumn("Scale", true), intColumn("Param_order"),
                      textColumn("Mode", 6)});
    SqlStatement st(*this,
                    "SELECT c.name, t.name, c.length, c.prec, c.scale, c.colid, (c.status & 64) <> 0, t.type FROM " +
                        syscolumns + " c LEFT JOIN " + systypes +
                        " t ON t.usertype = c.usertype WHERE c.id = ?1 ORDER BY c.colid",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{*id}}});
    std::vector<std::vector<Value>> rows;
    while (st.step()) {
      sqlite3_stmt* q = st.get();
      auto intOrNull = [&](int i) { return exactPart(q, i, sqlite3_column_int(q, 7)); };
      rows.push_back({text(sqlite3_column_text(q, 0)), text(sqlite3_column_text(q, 1)),
                      Value{int64_t{sqlite3_column_int(q, 2)}}, intOrNull(3), intOrNull(4),
                      Value{int64_t{sqlite3_column_int(q, 5)}},
                      Value{std::string(sqlite3_column_int(q, 6) ? "output" : "in")}});
    }
    for (const auto& r : rows) sink_->row(r);
    done(false, static_cast<int32_t>(rows.size()));
  }
}

void SessionImpl::spHelpIndex(const std::string& objname) {
  std::optional<TableInfo> t = tableOfCurrentDatabase(objname);
  if (t->indexes.empty()) {
    sendMessage(ServerMessage{0, 1, 10, "Object does not have any indexes.", {}, 1});
    return;
  }
  std::map<int32_t, std::pair<Value, Value>> extra;  // indid -> fill factor, created
  {
    SqlStatement st(*this,
                    "SELECT indid, coalesce(fill_factor, 0), maxrowsperpage, coalesce(res_page_gap, 0), crdate FROM " +
                        sqliteObjectName(t->database, "dbo", "sysindexes") + " WHERE id = ?1",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{t->id}}});
    while (st.step())
      extra[sqlite3_column_int(st.get(), 0)] = {Value{int64_t{sqlite3_column_int(st.get(), 1)}},
                                                columnValue(st.get(), 4, makeType(SqlType::DateTime))};
  }
  sink_->rowFormat({textColumn("index_name", 30), textColumn("index_description", 68),
                    textColumn("index_keys", 1023), intColumn("index_max_rows_per_page"),
                    intColumn("index_fillfactor"), intColumn("index_reservepagegap"), dateColumn("index_created")});
  std::vector<IndexInfo> indexes = t->indexes;
  std::sort(indexes.begin(), indexes.end(), [](const IndexInfo& a, const IndexInfo& b) { return a.indid < b.indid; });
  for (const IndexInfo& i : indexes) {
    std::string description = std::string(i.clustered ? "clustered" : "nonclustered") +
                              (i.unique ? ", unique" : "") + " located on default";
    std::string keys;
    for (const std::string& c : i.columns) keys += (keys.empty() ? "" : ", ") + c;
    auto more = extra[i.indid];
    sink_->row({Value{i.name}, Value{description}, Value{keys}, Value{int64_t{0}},
                isNull(more.first) ? Value{int64_t{0}} : more.first, Value{int64_t{0}}, more.second});
  }
  done(false, static_cast<int32_t>(indexes.size()));
}

// sp_helprotect [name [, username]]: the permissions of the current database, one row per
// sysprotects row, statement permissions (object 0) first. `name` is an object (its permissions)
// or a user or group (what it was granted); `username` keeps the rows of that grantee.
void SessionImpl::spHelpProtect(const std::optional<std::string>& name, const std::optional<std::string>& username) {
  std::optional<int32_t> objectId, granteeId;
  if (name && !name->empty()) {
    ObjectName on = splitDottedName(*name);
    if (!on.database.empty() && on.database != database_)
      throw SqlError(17460, 16, "Object must be in the current database.");
    objectId = resolveObjectId(db_, ObjectRef{on.database, on.owner, on.name}, database_, user_);
    if (!objectId) {
      std::optional<DbUser> u = on.owner.empty() ? findUser(db_, database_, on.name) : std::nullopt;
      if (!u) throw SqlError(17461, 16, "Object '" + *name + "' does not exist in this database.");
      granteeId = u->uid;
    }
  }
  if (username && !username->empty()) {
    std::optional<DbUser> u = findUser(db_, database_, *username);
    if (!u) throw SqlError(15008, 16, "User '" + *username + "' does not exist in the current database.");
    if (granteeId && *granteeId != u->uid) granteeId = -1;  // two different grantees: no row
    granteeId = granteeId ? granteeId : u->uid;
  }
  static const std::map<int32_t, std::string> kActions = {
      {kActionReferences, "References"},     {kActionSelect, "Select"},
      {kActionInsert, "Insert"},             {kActionDelete, "Delete"},
      {kActionUpdate, "Update"},             {kActionExecute, "Execute"},
      {kActionCreateTable, "Create Table"},  {kActionCreateView, "Create View"},
      {kActionCreateProcedure, "Create Procedure"}, {kActionCreateDefault, "Create Default"},
      {kActionCreateRule, "Create Rule"}};
  std::string sql = "SELECT coalesce(g.name, 'dbo'), coalesce(u.name, ''), p.protecttype, p.action, p.id, "
                    "coalesce(o.name, '') FROM " +
                    sqliteObjectName(database_, "dbo", "sysprotects") + " p LEFT JOIN " +
                    sqliteObjectName(database_, "dbo", "sysusers") + " u ON u.uid = p.uid LEFT JOIN " +
                    sqliteObjectName(database_, "dbo", "sysusers") + " g ON g.uid = p.grantor LEFT JOIN " +
                    sqliteObjectName(database_, "dbo", "sysobjects") + " o ON o.id = p.id WHERE 1 = 1";
  std::vector<Value> params;
  if (objectId) {
    sql += " AND p.id = ?" + std::to_string(params.size() + 1);
    params.push_back(Value{int64_t{*objectId}});
  }
  if (granteeId) {
    sql += " AND p.uid = ?" + std::to_string(params.size() + 1);
    params.push_back(Value{int64_t{*granteeId}});
  }
  sql += " ORDER BY p.id <> 0, o.name, u.name, p.action";
  std::vector<std::vector<Value>> rows;
  {
    SqlStatement st(*this, sql, SqlStatement::Access::Internal);
    st.bindAll(params);
    while (st.step()) {
      const int type = sqlite3_column_int(st.get(), 2);
      const int32_t action = sqlite3_column_int(st.get(), 3);
      auto known = kActions.find(action);
      const bool statement = sqlite3_column_int(st.get(), 4) == 0;
      rows.push_back({text(sqlite3_column_text(st.get(), 0)), text(sqlite3_column_text(st.get(), 1)),
                      Value{std::string(type == 2 ? "Revoke" : "Grant")},
                      Value{known != kActions.end() ? known->second : std::to_string(action)},
                      statement ? Value{std::string("All")} : text(sqlite3_column_text(st.get(), 5)),
                      Value{std::string("All")}, Value{std::string(type == 0 ? "TRUE" : "FALSE")}});
    }
  }
  sink_->rowFormat({textColumn("grantor", 30), textColumn("grantee", 30), textColumn("type", 8),
                    textColumn("action", 30), textColumn("object", 30), textColumn("column", 30),
                    textColumn("grantable", 5)});
  for (const auto& r : rows) sink_->row(r);
  done(false, static_cast<int32_t>(rows.size()));
}

void SessionImpl::spHelpConstraint(const std::string& objname) {
  std::optional<TableInfo> t = tableOfCurrentDatabase(objname);
  std::vector<std::vector<Value>> rows;
  {
    // PRIMARY KEY and UNIQUE constraints are the indexes that enforce them (sysindexes.status2 & 2).
    std::map<int32_t, bool> constraintIndex;
    SqlStatement st(*this,
                    "SELECT indid FROM " + sqliteObjectName(t->database, "dbo", "sysindexes") +
                        " WHERE id = ?1 AND (status2 & 2) <> 0",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{t->id}}});
    while (st.step()) constraintIndex[sqlite3_column_int(st.get(), 0)] = true;
    std::vector<IndexInfo> indexes = t->indexes;
    std::sort(indexes.begin(), indexes.end(), [](const IndexInfo& a, const IndexInfo& b) { return a.indid < b.indid; });
    for (const IndexInfo& i : indexes) {
      if (!constraintIndex.count(i.indid)) continue;
      std::string keys;
      for (const std::string& c : i.columns) keys += (keys.empty() ? " " : ", ") + c;
      rows.push_back({Value{i.name}, Value{std::string(i.primaryKey ? "PRIMARY KEY" : "UNIQUE") + " INDEX (" + keys +
                                           ") : " + (i.clustered ? "CLUSTERED" : "NONCLUSTERED")}});
    }
  }
  {
    // CHECK constraints are constraint objects of the table holding their text.
    std::vector<std::pair<int32_t, std::string>> checks;
    SqlStatement st(*this,
                    "SELECT id, rtrim(name) FROM " + sqliteObjectName(t->database, "dbo", "sysobjects") +
                        " WHERE type = 'R' AND deltrig = ?1 AND (sysstat2 & 8192) <> 0 ORDER BY name",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{t->id}}});
    while (st.step())
      checks.emplace_back(sqlite3_column_int(st.get(), 0),
                          reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1)));
    for (const auto& [id, name] : checks) rows.push_back({Value{name}, Value{objectText(db_, t->database, id).value_or("")}});
  }
  if (std::shared_ptr<const TableReferences> references = referencesOf(*t)) {
    // Foreign keys the table declares, then those of other tables that reference it.
    for (const ForeignKey& k : references->outgoing) rows.push_back({Value{k.name}, Value{k.definition}});
    for (const ForeignKey& k : references->incoming)
      if (k.childName != t->name) rows.push_back({Value{k.name}, Value{k.definition}});
  }
  if (rows.empty()) {
    sendMessage(ServerMessage{0, 1, 10, "Object does not have any declarative constraints.", {}, 1});
    return;
  }
  sink_->rowFormat({textColumn("name", 30), textColumn("definition", 1023)});
  for (const auto& r : rows) sink_->row(r);
  done(false, static_cast<int32_t>(rows.size()));
}

void SessionImpl::spSpaceUsed(const std::optional<std::string>& objname, bool listIndexes) {
  if (objname) {
    std::optional<TableInfo> t = tableOfCurrentDatabase(*objname);
    if (listIndexes) {
      // `sp_spaceused t, 1`: each index's own size first, then the table's line.
      sink_->rowFormat({textColumn("index_name", 30), textColumn("size", 15), textColumn("reserved", 15),
                        textColumn("unused", 15)});
      for (const IndexInfo& i : t->indexes) {
        SpaceUsed s;
        addBtree(db_, unquoted(i.sqliteName), true, s);
        sink_->row({Value{i.name}, Value{kilobytes(s.index)}, Value{kilobytes(s.reserved())},
                    Value{kilobytes(s.unused)}});
      }
      done(false, static_cast<int32_t>(t->indexes.size()));
    }
    int64_t rows = 0;
    {
      SqlStatement count(*this, "SELECT count(*) FROM " + t->sqliteName, SqlStatement::Access::Internal);
      if (count.step()) rows = sqlite3_column_int64(count.get(), 0);
    }
    SpaceUsed s = spaceOf(db_, *t);
    sink_->rowFormat({textColumn("name", 30), intColumn("rowtotal"), textColumn("reserved", 15),
                      textColumn("data", 15), textColumn("index_size", 15), textColumn("unused", 15)});
    sink_->row({Value{t->name}, Value{rows}, Value{kilobytes(s.reserved())}, Value{kilobytes(s.data)},
                Value{kilobytes(s.index)}, Value{kilobytes(s.unused)}});
    done(false, 1);
    return;
  }
  // The whole database: every table of it, the system tables included.
  SpaceUsed total = databaseSpace(database_);
  sink_->rowFormat({textColumn("database_name", 30), textColumn("database_size", 20)});
  sink_->row({Value{database_}, Value{megabytes(std::max<int64_t>(total.reserved(), 1024 * 1024))}});
  done(false, 1);
  sink_->rowFormat({textColumn("reserved", 15), textColumn("data", 15), textColumn("index_size", 15),
                    textColumn("unused", 15)});
  sink_->row({Value{kilobytes(total.reserved())}, Value{kilobytes(total.data)}, Value{kilobytes(total.index)},
              Value{kilobytes(total.unused)}});
  done(false, 1);
}

void SessionImpl::spHelpDb(const std::optional<std::string>& dbname) {
  std::vector<DatabaseInfo> databases;
  for (const DatabaseInfo& d : listDatabases(db_))
    if (!dbname || d.name == *dbname) databases.push_back(d);
  if (dbname && databases.empty())
    throw SqlError(15010, 16, "The specified database does not exist.");
  // status bits of sysdatabases as sp_helpdb names them.
  static const std::vector<std::pair<int, const char*>> kOptions = {
      {0x04, "select into/bulkcopy/pllsort"}, {0x08, "trunc log on chkpt"}, {0x10, "no chkpt on recovery"},
      {0x200, "single user"},                 {0x400, "read only"},         {0x800, "dbo use only"}};
  struct Row {
    DatabaseInfo d;
    int status = 0;
    Value created;
    std::string owner;
  };
  std::vector<Row> rows;
  for (const DatabaseInfo& d : databases) {
    Row r;
    r.d = d;
    SqlStatement st(*this,
                    "SELECT d.status, d.crdate, l.name FROM " + sqliteObjectName("master", "dbo", "sysdatabases") +
                        " d LEFT JOIN " + sqliteObjectName("master", "dbo", "syslogins") +
                        " l ON l.suid = d.suid WHERE d.dbid = ?1",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{d.dbid}}});
    if (st.step()) {
      r.status = sqlite3_column_int(st.get(), 0);
      r.created = columnValue(st.get(), 1, makeType(SqlType::DateTime));
      Value owner = text(sqlite3_column_text(st.get(), 2));
      r.owner = isNull(owner) ? std::string() : std::get<std::string>(owner);
    }
    rows.push_back(std::move(r));
  }
  // The size a database takes: the pages of its tables and indexes (at least 1 MB is shown).
  auto sizeOf = [&](const std::string& database) {
    return std::max<int64_t>(databaseSpace(database).reserved(), 1024 * 1024);
  };
  sink_->rowFormat({textColumn("name", 30), textColumn("db_size", 13), textColumn("owner", 30), intColumn("dbid"),
                    textColumn("created", 14), textColumn("status", 255)});
  std::vector<int64_t> sizes;
  for (const Row& r : rows) {
    std::string status;
    for (const auto& [bit, option] : kOptions)
      if (r.status & bit) status += (status.empty() ? "" : ", ") + std::string(option);
    if (status.empty()) status = "no options set";
    sizes.push_back(sizeOf(r.d.name));
    sink_->row({Value{r.d.name}, Value{megabytes(sizes.back())}, r.owner.empty() ? Value() : Value{r.owner},
                Value{int64_t{r.d.dbid}}, Value{dayText(r.created)}, Value{status}});
  }
  done(false, static_cast<int32_t>(rows.size()));
  if (!dbname) return;
  // One database: where it lives. All of it is on one device, data and log together.
  sink_->rowFormat({textColumn("device_fragments", 30), textColumn("size", 13), textColumn("usage", 20),
                    textColumn("created", 20), textColumn("free kbytes", 15)});
  const Row& r = rows[0];
  sink_->row({Value{std::string("master")}, Value{megabytes(sizes[0])}, Value{std::string("data and log")},
              Value{dayText(r.created)}, Value{std::string("not applicable")}});
  done(false, 1);
  // The segments of the database on that device, as sp_helpdb lists them last.
  sink_->rowFormat({textColumn("device", 30), textColumn("segment", 30)});
  int32_t segments = 0;
  SqlStatement st(*this, "SELECT name FROM " + sqliteObjectName(r.d.name, "dbo", "syssegments") + " ORDER BY name",
                  SqlStatement::Access::Internal);
  while (st.step()) {
    sink_->row({Value{std::string("master")}, text(sqlite3_column_text(st.get(), 0))});
    ++segments;
  }
  done(false, segments);
}

void SessionImpl::spRename(const std::string& objname, const std::string& newname) {
  // 'table.column' or 'owner.table.column': the part after the last dot is the column.
  size_t lastDot = objname.rfind('.');
  if (lastDot == std::string::npos)
    throw SqlError(17471, 16,
                   "sp_rename renames a column here: name it as 'table.column' (tables, views and procedures "
                   "keep their names on this server).");
  ObjectName table = splitDottedName(objname.substr(0, lastDot));
  std::string column = objname.substr(lastDot + 1);
  if (!table.database.empty() && table.database != database_)
    throw SqlError(17460, 16, "Object must be in the current database.");
  std::optional<TableInfo> t =
      resolveTable(db_, ObjectRef{table.database, table.owner, table.name}, database_, user_);
  if (!t || t->type != "U")
    throw SqlError(17461, 16, "Object '" + table.name + "' does not exist in this database.");
  requireOwnerOf("sp_rename", *t);
  const CatalogColumn* c = t->findColumn(column);
  if (!c) throw SqlError(15248, 16, "Column '" + column + "' does not exist in table '" + t->name + "'.");
  requireIdentifierLength(newname);
  if (newname.empty() || (!std::isalpha(static_cast<unsigned char>(newname[0])) && newname[0] != '_'))
    throw SqlError(15244, 16, "'" + newname + "' is not a valid identifier.");
  for (const CatalogColumn& other : t->columns)
    if (&other != c && sameName(other.desc.name, newname))
      throw SqlError(15335, 16, "There is already a column named '" + newname + "' in table '" + t->name + "'.");
  // A CHECK constraint is kept as text naming the column, and would no longer bind.
  {
    SqlStatement st(*this,
                    "SELECT id, rtrim(name) FROM " + sqliteObjectName(t->database, "dbo", "sysobjects") +
                        " WHERE type = 'R' AND deltrig = ?1 AND (sysstat2 & 8192) <> 0",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{int64_t{t->id}}});
    std::vector<std::pair<int32_t, std::string>> checks;
    while (st.step())
      checks.emplace_back(sqlite3_column_int(st.get(), 0),
                          reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1)));
    for (const auto& [id, name] : checks) {
      std::string definition = objectText(db_, t->database, id).value_or("");
      for (size_t at = 0; (at = definition.find(c->desc.name, at)) != std::string::npos; at += c->desc.name.size()) {
        auto identChar = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; };
        bool startOk = at == 0 || !identChar(definition[at - 1]);
        size_t end = at + c->desc.name.size();
        bool endOk = end >= definition.size() || !identChar(definition[end]);
        if (startOk && endOk)
          throw SqlError(15250, 16,
                         "Column '" + c->desc.name + "' is named by the CHECK constraint '" + name +
                             "'; drop the constraint before renaming the column.");
      }
    }
  }
  CatalogChange change(*this);
  StatementTransaction tx(*this, *t);
  execSql("ALTER TABLE " + t->sqliteName + " RENAME COLUMN " + Binder::quoteIdent(c->sqliteName) + " TO " +
          Binder::quoteIdent(newname));
  {
    SqlStatement st(*this,
                    "UPDATE " + storage::systemTableOf(t->database, "syscolumns", t->id) +
                        " SET name = ?1 WHERE id = ?2 AND colid = ?3 AND number = 0",
                    SqlStatement::Access::Internal);
    st.bindAll({Value{newname}, Value{int64_t{t->id}}, Value{int64_t{c->colid}}});
    st.step();
  }
  tx.commit();
  sendMessage(ServerMessage{0, 1, 10, "Column name has been changed.", {}, 1});
}

}  // namespace tabsrv
