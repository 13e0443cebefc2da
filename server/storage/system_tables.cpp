// The definitions of the system tables and the creation of a database's catalogue. Column names,
// types and meanings follow the family's catalogue; object ids of system tables are fixed.
#include "server/storage/system_tables.h"

#include <stdexcept>
#include <string_view>

#include "server/core/message.h"
#include "server/storage/anywhere_views.h"
#include "server/storage/catalog.h"
#include "server/storage/database_files.h"
#include "server/storage/session_tables.h"
#include "server/storage/sql_util.h"
#include "server/types/convert.h"
#include "server/types/datetime.h"
#include "server/types/type_codes.h"

namespace tabsrv::storage {
namespace {

// sysstat values of the object kinds (sysstat & 15).
constexpr int kSysstatSystemTable = 1;
constexpr int kSysstatUserTable = 3;

// The spt_ lookup tables are ordinary user tables of dbo in the family, not system tables.
bool isLookupTable(const char* name) {
  return std::string_view(name).substr(0, 4) == "spt_";
}

struct TypeRow {
  const char* name;
  int32_t usertype;
  int32_t type;
  int32_t length;
  int variable;
  int allownulls;
  int prec;  // -1: NULL
  int scale;
  int hierarchy;
};

// systypes of every database: the family's built-in types.
constexpr TypeRow kSysTypes[] = {
    {"char", 1, 47, 255, 0, 0, -1, -1, 13},
    {"varchar", 2, 39, 255, 1, 0, -1, -1, 14},
    {"binary", 3, 45, 255, 0, 0, -1, -1, 23},
    {"varbinary", 4, 37, 255, 1, 0, -1, -1, 24},
    {"tinyint", 5, 48, 1, 0, 0, -1, -1, 9},
    {"smallint", 6, 52, 2, 0, 0, -1, -1, 8},
    {"int", 7, 56, 4, 0, 0, -1, -1, 7},
    {"float", 8, 62, 8, 0, 0, -1, -1, 1},
    {"numeric", 10, 63, 17, 0, 0, 38, 0, 5},
    {"money", 11, 60, 8, 0, 0, -1, -1, 3},
    {"datetime", 12, 61, 8, 0, 0, -1, -1, 11},
    {"intn", 13, 38, 4, 0, 1, -1, -1, 7},
    {"floatn", 14, 109, 8, 0, 1, -1, -1, 1},
    {"datetimn", 15, 111, 8, 0, 1, -1, -1, 11},
    {"bit", 16, 50, 1, 0, 0, -1, -1, 16},
    {"moneyn", 17, 110, 8, 0, 1, -1, -1, 3},
    {"sysname", 18, 39, 30, 1, 0, -1, -1, 14},
    {"text", 19, 35, 16, 0, 1, -1, -1, 19},
    {"image", 20, 34, 16, 0, 1, -1, -1, 20},
    {"smallmoney", 21, 122, 4, 0, 0, -1, -1, 4},
    {"smalldatetime", 22, 58, 4, 0, 0, -1, -1, 12},
    {"real", 23, 59, 4, 0, 0, -1, -1, 2},
    {"nchar", 24, 47, 255, 0, 0, -1, -1, 13},
    {"nvarchar", 25, 39, 255, 1, 0, -1, -1, 14},
    {"decimal", 26, 55, 17, 0, 0, 38, 0, 6},
    {"decimaln", 27, 106, 17, 0, 1, 38, 0, 6},
    {"numericn", 28, 108, 17, 0, 1, 38, 0, 5},
    {"timestamp", 80, 37, 8, 1, 0, -1, -1, 24},
};

Value defaultFor(const TypeDesc& t) {
  if (isNumericType(t.type)) return int64_t{0};
  if (isDateTimeType(t.type)) return currentDateTime();
  if (isBinaryType(t.type)) return Bytes{};
  return std::string(" ");
}

}  // namespace

const std::vector<SysTableDef>& systemTables() {
  static const std::vector<SysTableDef> kTables = {
      {"sysobjects",
       1,
       false,
       {{"name", "sysname", false},
        {"id", "int", false},
        {"uid", "int", false},
        {"type", "char(2)", false},
        {"userstat", "smallint", false},
        {"sysstat", "smallint", false},
        {"indexdel", "smallint", false},
        {"schemacnt", "smallint", false},
        {"sysstat2", "int", false},
        {"crdate", "datetime", false},
        {"expdate", "datetime", false},
        {"deltrig", "int", false},
        {"instrig", "int", false},
        {"updtrig", "int", false},
        {"seltrig", "int", false},
        {"ckfirst", "int", false},
        {"cache", "smallint", false},
        {"audflags", "int", true},
        {"objspare", "int", false},
        {"versionts", "binary(12)", true},
        {"loginame", "varchar(30)", true}}},
      {"sysindexes",
       2,
       false,
       {{"name", "sysname", true},
        {"id", "int", false},
        {"indid", "smallint", false},
        {"doampg", "int", false},
        {"ioampg", "int", false},
        {"oampgtrans", "int", false},
        {"status2", "int", false},
        {"ipgtrans", "int", false},
        {"first", "int", false},
        {"root", "int", false},
        {"distribution", "int", false},
        {"usagecnt", "smallint", false},
        {"segment", "smallint", false},
        {"status", "smallint", false},
        {"maxrowsperpage", "smallint", false},
        {"minlen", "smallint", false},
        {"maxlen", "smallint", false},
        {"maxirow", "smallint", false},
        {"keycnt", "smallint", false},
        {"keys1", "varbinary(255)", true},
        {"keys2", "varbinary(255)", true},
        {"soid", "tinyint", false},
        {"csid", "tinyint", false},
        {"base_partition", "int", true},
        {"fill_factor", "smallint", true},
        {"res_page_gap", "smallint", true},
        {"exp_rowsize", "smallint", true},
        {"keys3", "varbinary(255)", true},
        {"identitygap", "int", true},
        {"crdate", "datetime", true},
        {"partitiontype", "smallint", true},
        {"conditionid", "int", true}}},
      {"syscolumns", 3, false, {{"id", "int", false},          {"number", "smallint", false},
                                {"colid", "smallint", false},  {"status", "tinyint", false},
                                {"type", "tinyint", false},    {"length", "int", false},
                                {"offset", "smallint", false}, {"usertype", "smallint", false},
                                {"cdefault", "int", false},    {"domain", "int", false},
                                {"name", "sysname", false},    {"printfmt", "varchar(255)", true},
                                {"prec", "tinyint", true},     {"scale", "tinyint", true},
                                {"remote_type", "int", true},  {"remote_name", "varchar(255)", true},
                                {"xstatus", "int", true},      {"xtype", "int", true},
                                {"xdbid", "int", true},        {"accessrule", "int", true},
                                {"status2", "int", true}}},
      {"systypes",
       4,
       false,
       {{"uid", "int", false},
        {"usertype", "smallint", false},
        {"variable", "bit", false},
        {"allownulls", "bit", false},
        {"type", "tinyint", false},
        {"length", "int", false},
        {"tdefault", "int", false},
        {"domain", "int", false},
        {"name", "sysname", false},
        {"printfmt", "varchar(255)", true},
        {"prec", "tinyint", true},
        {"scale", "tinyint", true},
        {"ident", "tinyint", true},
        {"hierarchy", "tinyint", true},
        {"accessrule", "int", true},
        {"xtypeid", "int", true},
        {"xdbid", "int", true}}},
      {"syscomments",
       6,
       false,
       {{"id", "int", false},
        {"number", "smallint", false},
        {"colid", "smallint", false},
        {"texttype", "smallint", false},
        {"language", "smallint", false},
        {"text", "varchar(255)", true},
        {"colid2", "smallint", false},
        {"status", "smallint", true},
        {"partitionid", "int", true}}},
      {"syssegments",
       7,
       false,
       {{"segment", "smallint", false}, {"name", "sysname", false}, {"status", "smallint", true}}},
      {"sysprotects",
       9,
       false,
       {{"id", "int", false},
        {"uid", "int", false},
        {"action", "smallint", false},
        {"protecttype", "tinyint", false},
        {"columns", "varbinary(133)", true},
        {"grantor", "int", false}}},
      {"sysusers",
       10,
       false,
       {{"suid", "int", false},
        {"uid", "int", false},
        {"gid", "int", false},
        {"name", "sysname", false},
        {"environ", "varchar(255)", true}}},
      {"sysdatabases",
       30,
       true,
       {{"name", "sysname", false},
        {"dbid", "smallint", false},
        {"suid", "int", false},
        {"status", "smallint", false},
        {"version", "smallint", false},
        {"logptr", "int", false},
        {"crdate", "datetime", false},
        {"dumptrdate", "datetime", false},
        {"status2", "smallint", false},
        {"audflags", "int", false},
        {"deftabaud", "int", false},
        {"defvwaud", "int", false},
        {"defpraud", "int", false},
        {"def_remote_type", "smallint", true},
        {"def_remote_loc", "varchar(255)", true},
        {"status3", "int", false},
        {"status4", "int", false}}},
      {"syslogins",
       31,
       true,
       {{"suid", "int", false},
        {"status", "smallint", false},
        {"accdate", "datetime", false},
        {"totcpu", "int", false},
        {"totio", "int", false},
        {"spacelimit", "int", false},
        {"timelimit", "int", false},
        {"resultlimit", "int", false},
        {"dbname", "sysname", true},
        {"name", "sysname", false},
        {"password", "varbinary(128)", true},
        {"language", "varchar(30)", true},
        {"pwdate", "datetime", true},
        {"audflags", "int", true},
        {"fullname", "varchar(30)", true},
        {"srvname", "varchar(30)", true},
        {"logincount", "smallint", true},
        {"procid", "int", true}}},
      {"syskeys",
       5,
       false,
       {{"id", "int", false},          {"type", "smallint", false},   {"depid", "int", true},
        {"keycnt", "int", true},       {"size", "int", true},         {"key1", "smallint", true},
        {"key2", "smallint", true},    {"key3", "smallint", true},    {"key4", "smallint", true},
        {"key5", "smallint", true},    {"key6", "smallint", true},    {"key7", "smallint", true},
        {"key8", "smallint", true},    {"depkey1", "smallint", true}, {"depkey2", "smallint", true},
        {"depkey3", "smallint", true}, {"depkey4", "smallint", true}, {"depkey5", "smallint", true},
        {"depkey6", "smallint", true}, {"depkey7", "smallint", true}, {"depkey8", "smallint", true},
        {"spare1", "smallint", true}}},
      {"sysdevices",
       35,
       true,
       {{"low", "int", false},
        {"high", "int", false},
        {"status", "smallint", false},
        {"cntrltype", "smallint", false},
        {"name", "sysname", false},
        {"phyname", "varchar(127)", false},
        {"mirrorname", "varchar(127)", true},
        {"vdevno", "int", true},
        {"crdate", "datetime", true},
        {"resizedate", "datetime", true},
        {"status2", "int", true}}},
      {"sysconfigures",
       36,
       true,
       {{"config", "smallint", false},
        {"value", "int", false},
        {"comment", "varchar(255)", false},
        {"status", "int", false},
        {"name", "varchar(255)", true},
        {"parent", "smallint", true},
        {"value2", "varchar(255)", true},
        {"value3", "int", true},
        {"value4", "int", true}}},
      {"syscurconfigs",
       37,
       true,
       {{"config", "smallint", false},
        {"value", "int", false},
        {"comment", "varchar(255)", false},
        {"status", "int", false},
        {"value2", "varchar(255)", true},
        {"defvalue", "varchar(255)", true},
        {"minimum_value", "int", true},
        {"maximum_value", "int", true},
        {"memory_used", "int", true},
        {"display_level", "int", true},
        {"datatype", "int", true},
        {"message_num", "int", true},
        {"apf_percent", "int", true}}},
      {"sysprocesses",
       12,
       true,
       {{"spid", "smallint", false},
        {"kpid", "int", false},
        {"enginenum", "int", false},
        {"status", "char(12)", false},
        {"suid", "int", false},
        {"hostname", "varchar(10)", true},
        {"program_name", "varchar(16)", true},
        {"hostprocess", "varchar(8)", true},
        {"cmd", "varchar(16)", false},
        {"cpu", "int", false},
        {"physical_io", "int", false},
        {"memusage", "int", false},
        {"blocked", "smallint", false},
        {"dbid", "smallint", false},
        {"uid", "int", false},
        {"gid", "int", false},
        {"tran_name", "varchar(64)", true},
        {"time_blocked", "int", true},
        {"network_pktsz", "int", true},
        {"fid", "smallint", false},
        {"execlass", "varchar(30)", true},
        {"priority", "varchar(10)", true},
        {"affinity", "varchar(30)", true},
        {"id", "int", true},
        {"stmtnum", "int", true},
        {"linenum", "int", true},
        {"origsuid", "int", true},
        {"block_xloid", "int", true},
        {"clientname", "varchar(30)", true},
        {"clienthostname", "varchar(30)", true},
        {"clientapplname", "varchar(30)", true},
        {"loggedindatetime", "datetime", true},
        {"ipaddr", "varchar(64)", true}}},
      {"syslocks",
       13,
       true,
       {{"id", "int", false},
        {"dbid", "smallint", false},
        {"page", "int", false},
        {"type", "smallint", false},
        {"spid", "smallint", false},
        {"class", "varchar(30)", true},
        {"fid", "smallint", false},
        {"context", "tinyint", false},
        {"row", "smallint", false},
        {"loid", "int", false}}},
      // A declared foreign key: the referencing table and columns (fokeyN, colids), the
      // referenced table and its key columns (refkeyN), and the constraint's own object.
      {"sysreferences",
       23,
       false,
       {{"indexid", "smallint", false}, {"constrid", "int", false}, {"tableid", "int", false},
        {"reftabid", "int", false}, {"keycnt", "smallint", false}, {"status", "smallint", false},
        {"frgndbid", "smallint", false}, {"pmrydbid", "smallint", false}, {"spare2", "int", false},
        {"fokey1", "smallint", true}, {"fokey2", "smallint", true}, {"fokey3", "smallint", true}, {"fokey4", "smallint", true}, {"fokey5", "smallint", true}, {"fokey6", "smallint", true}, {"fokey7", "smallint", true}, {"fokey8", "smallint", true}, {"fokey9", "smallint", true}, {"fokey10", "smallint", true}, {"fokey11", "smallint", true}, {"fokey12", "smallint", true}, {"fokey13", "smallint", true}, {"fokey14", "smallint", true}, {"fokey15", "smallint", true}, {"fokey16", "smallint", true}, 
        {"refkey1", "smallint", true}, {"refkey2", "smallint", true}, {"refkey3", "smallint", true}, {"refkey4", "smallint", true}, {"refkey5", "smallint", true}, {"refkey6", "smallint", true}, {"refkey7", "smallint", true}, {"refkey8", "smallint", true}, {"refkey9", "smallint", true}, {"refkey10", "smallint", true}, {"refkey11", "smallint", true}, {"refkey12", "smallint", true}, {"refkey13", "smallint", true}, {"refkey14", "smallint", true}, {"refkey15", "smallint", true}, {"refkey16", "smallint", true},
        {"frgndbname", "varchar(30)", true}, {"pmrydbname", "varchar(30)", true}}},
      {"spt_values",
       100001,
       true,
       {{"name", "varchar(35)", true},
        {"number", "int", false},
        {"type", "char(2)", false},
        {"low", "int", true},
        {"high", "int", true},
        {"msgnum", "int", true}}},
      {"spt_datatype_info",
       100002,
       false,
       {{"ss_dtype", "tinyint", false},
        {"type_name", "varchar(32)", false},
        {"data_type", "smallint", false},
        {"data_precision", "int", true},
        {"numeric_scale", "smallint", true},
        {"numeric_radix", "smallint", true},
        {"length", "int", true},
        {"literal_prefix", "varchar(32)", true},
        {"literal_suffix", "varchar(32)", true},
        {"create_params", "varchar(32)", true},
        {"nullable", "smallint", false},
        {"case_sensitive", "smallint", false},
        {"searchable", "smallint", false},
        {"unsigned_attribute", "smallint", true},
        {"money", "smallint", false},
        {"auto_increment", "smallint", true},
        {"local_type_name", "varchar(128)", false},
        {"aux", "int", true}},
       "sybsystemprocs"},
  };
  return kTables;
}

const SysTableDef* findSystemTable(const std::string& name) {
  for (const SysTableDef& t : systemTables()) {
    if (name == t.name) return &t;
  }
  return nullptr;
}

ColumnType parseColumnType(const std::string& text) {
  if (text == "sysname") return {makeType(SqlType::VarChar, 30), kUserSysname};
  std::string name = text;
  int32_t a = -1, b = -1;
  size_t open = text.find('(');
  if (open != std::string::npos) {
    name = text.substr(0, open);
    std::string args = text.substr(open + 1, text.find(')') - open - 1);
    size_t comma = args.find(',');
    a = std::stoi(args.substr(0, comma));
    if (comma != std::string::npos) b = std::stoi(args.substr(comma + 1));
  }
  bool numeric = name == "numeric" || name == "decimal";
  auto t = typeFromName(name, numeric ? -1 : a, numeric ? a : -1, numeric ? b : -1);
  if (!t) throw std::runtime_error("unknown system column type " + text);
  return {*t, userTypeOf(t->type)};
}

std::string sqliteColumnDecl(const std::string& name, const TypeDesc& type, bool nullable) {
  std::string d = quoteIdent(name);
  if (isCharacterType(type.type)) {
    d += " TEXT";
  } else if (isBinaryType(type.type)) {
    d += " BLOB";
  } else if (isDateTimeType(type.type)) {
    d += " TEXT";
  } else if (type.type == SqlType::Real || type.type == SqlType::Float) {
    d += " REAL";
  } else if (isExactNumericType(type.type) && type.type != SqlType::Numeric &&
             type.type != SqlType::Decimal && type.type != SqlType::Money &&
             type.type != SqlType::SmallMoney) {
    d += " INTEGER";
  } else {
    d += " TEXT";
  }
  if (!nullable) d += " NOT NULL";
  if (isCharacterType(type.type))
    d += " COLLATE RTRIM";
  else if (isExactNumericType(type.type) && d.find(" TEXT") != std::string::npos)
    d += " COLLATE t_decimal";
  return d;
}

void insertSystemRow(sqlite3* db, const std::string& database, const std::string& table,
                     const std::vector<std::pair<std::string, Value>>& values) {
  const SysTableDef* def = findSystemTable(table);
  if (!def) throw std::runtime_error("not a system table: " + table);
  std::string cols, params;
  std::vector<Value> bound;
  for (const SysColumnDef& c : def->columns) {
    ColumnType ct = parseColumnType(c.type);
    const Value* given = nullptr;
    for (const auto& [name, v] : values) {
      if (name == c.name) given = &v;
    }
    Value v = given ? *given : (c.nullable ? Value{} : defaultFor(ct.type));
    if (!isNull(v)) {
      // varchar keeps its trailing blanks here: syscomments chunks must join back exactly.
      if (ct.type.type == SqlType::VarChar) {
        v = convertValue(v, typeOfValue(v), ct.type, ConversionKind::Implicit);
        if (std::get<std::string>(v).empty()) v = std::string(" ");
      } else {
        v = assignValue(v, typeOfValue(v), ct.type, c.nullable);
      }
    }
    if (!cols.empty()) {
      cols += ", ";
      params += ", ";
    }
    cols += quoteIdent(c.name);
    params += "?" + std::to_string(bound.size() + 1);
    bound.push_back(v);
  }
  // A row of an object goes where that object's rows are kept (a #table's to its session's copy).
  int32_t objectId = 0;
  for (const auto& [name, v] : values)
    if (name == "id" && std::holds_alternative<int64_t>(v)) objectId = static_cast<int32_t>(std::get<int64_t>(v));
  Stmt st(db, "INSERT INTO " + systemTableOf(database, table, objectId) + " (" + cols + ") VALUES (" + params +
                  ")");
  for (size_t i = 0; i < bound.size(); ++i) st.bind(static_cast<int>(i) + 1, bound[i]);
  st.run();
}

void createInternalTables(sqlite3* db, const std::string& database) {
  const std::string schema = schemaPrefix(db, database);
  execSql(
      db,
      "CREATE TABLE IF NOT EXISTS " + schema + kCountersTable +
          " (db TEXT NOT NULL, object INTEGER NOT NULL, next INTEGER NOT NULL, PRIMARY KEY (db, object))");
  execSql(db, "CREATE TABLE IF NOT EXISTS " + schema + kViewsTable +
                  " (name TEXT NOT NULL PRIMARY KEY, definition TEXT NOT NULL)");
}

std::string countersTable(sqlite3* db, const std::string& database) {
  return schemaPrefix(db, database) + kCountersTable;
}

int32_t allocateObjectId(sqlite3* db, const std::string& database) {
  const std::string counters = countersTable(db, database);
  Stmt sel(db, "SELECT next FROM " + counters + " WHERE db = ?1 AND object = 0");
  sel.bind(1, database);
  int64_t next = 1000000;
  bool have = sel.step();
  if (have) next = sel.integer(0);
  Stmt up(db, have ? "UPDATE " + counters + " SET next = ?2 WHERE db = ?1 AND object = 0"
                   : "INSERT INTO " + counters + " (db, object, next) VALUES (?1, 0, ?2)");
  up.bind(1, database).bind(2, next + 1);
  up.run();
  return static_cast<int32_t>(next);
}

const std::vector<SystemIndexDef>& systemIndexes() {
  static const std::vector<SystemIndexDef> kSystemIndexes = {
    {"csysobjects", "sysobjects", "id"},
    {"ncsysobjects", "sysobjects", "name, uid"},
    {"ncsysobjects_type", "sysobjects", "type"},
    {"csyscolumns", "syscolumns", "id, number, colid"},
    {"ncsyscolumns_type", "syscolumns", "usertype"},
    {"csysindexes", "sysindexes", "id, indid"},
    {"csyscomments", "syscomments", "id, number, colid2, colid"},
    {"csysprotects", "sysprotects", "id, action, uid"},
    {"ncsysprotects_uid", "sysprotects", "uid"},
    {"csysusers", "sysusers", "suid"},
    {"ncsysusers1", "sysusers", "name"},
    {"ncsysusers2", "sysusers", "uid"},
    {"csystypes", "systypes", "name"},
    {"ncsystypes", "systypes", "usertype"},
    {"csyskeys", "syskeys", "id"},
    {"csysreferences", "sysreferences", "tableid"},
    {"ncsysreferences", "sysreferences", "reftabid"},
    {"ncsyskeys_depid", "syskeys", "depid"},
    {"csysdepends", "sysdepends", "id"},
    {"csysdatabases", "sysdatabases", "name"},
    {"ncsysdatabases", "sysdatabases", "dbid"},
    {"csyslogins", "syslogins", "suid"},
    {"ncsyslogins", "syslogins", "name"},
    {"csysconfigures", "sysconfigures", "config"},
    {"csyscurconfigs", "syscurconfigs", "config"},
  };
  return kSystemIndexes;
}

void ensureSystemIndexes(sqlite3* db, const std::string& database) {
  const std::string schema = schemaName(db, database);
  for (const SystemIndexDef& i : systemIndexes()) {
    const std::string table = plainObjectName(database, "dbo", i.table);
    if (sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) != SQLITE_OK)
      continue;
    execSql(db, "CREATE INDEX IF NOT EXISTS " + quoteIdent(schema) + "." +
                    quoteIdent(plainIndexName(table, i.name)) + " ON " + quoteIdent(table) + " (" +
                    i.columns + ")");
  }
}

namespace {

// The SQLite table of system table `t` in `database`.
void createSystemTableStorage(sqlite3* db, const std::string& database, const SysTableDef* t) {
  std::string decl;
  for (const SysColumnDef& c : t->columns) {
    if (!decl.empty()) decl += ", ";
    decl += sqliteColumnDecl(c.name, parseColumnType(c.type).type, c.nullable);
  }
  execSql(db, "CREATE TABLE " + schemaPrefix(db, database) + quoteIdent(plainObjectName(database, "dbo", t->name)) +
                  " (" + decl + ")");
}

// The sysobjects, syscolumns and sysindexes rows of system table `t` (once sysobjects, syscolumns
// and sysindexes themselves exist).
void describeSystemTable(sqlite3* db, const std::string& database, const SysTableDef* t, const DateTime& now) {
  insertSystemRow(db, database, "sysobjects",
                  {{"name", std::string(t->name)},
                   {"id", int64_t{t->id}},
                   {"uid", int64_t{1}},
                   {"type", std::string(isLookupTable(t->name) ? "U" : "S")},
                   {"sysstat", int64_t{isLookupTable(t->name) ? kSysstatUserTable : kSysstatSystemTable}},
                   {"crdate", now},
                   {"expdate", now}});
  int16_t colid = 0, offset = 2;
  int minlen = 0, maxlen = 0;
  for (const SysColumnDef& c : t->columns) {
    ColumnType ct = parseColumnType(c.type);
    bool variable = c.nullable || ct.type.type == SqlType::VarChar || ct.type.type == SqlType::VarBinary;
    bool numeric = ct.type.type == SqlType::Numeric || ct.type.type == SqlType::Decimal;
    insertSystemRow(db, database, "syscolumns",
                    {{"id", int64_t{t->id}},
                     {"colid", int64_t{++colid}},
                     {"status", int64_t{c.nullable ? 8 : 0}},
                     {"type", int64_t{columnTypeCode(ct.type, c.nullable)}},
                     {"length", int64_t{ct.type.length}},
                     {"offset", int64_t{variable ? -1 : offset}},
                     {"usertype", int64_t{ct.userType}},
                     {"name", std::string(c.name)},
                     {"prec", numeric ? Value(int64_t{ct.type.precision}) : Value()},
                     {"scale", numeric ? Value(int64_t{ct.type.scale}) : Value()}});
    if (!variable) {
      offset = static_cast<int16_t>(offset + ct.type.length);
      minlen += ct.type.length;
    }
    maxlen += ct.type.length;
  }
  insertSystemRow(db, database, "sysindexes",
                  {{"name", std::string(t->name)},
                   {"id", int64_t{t->id}},
                   {"indid", int64_t{0}},
                   {"doampg", int64_t{t->id}},
                   {"segment", int64_t{1}},
                   {"minlen", int64_t{minlen}},
                   {"maxlen", int64_t{maxlen}},
                   {"crdate", now}});
}

bool wantedIn(const SysTableDef& t, const std::string& database) {
  return t.onlyIn ? database == t.onlyIn : (!t.masterOnly || database == "master");
}

}  // namespace

void ensureSystemTables(sqlite3* db, const std::string& database) {
  const std::string schema = schemaName(db, database);
  DateTime now = currentDateTime();
  for (const SysTableDef& t : systemTables()) {
    if (!wantedIn(t, database)) continue;
    const std::string table = plainObjectName(database, "dbo", t.name);
    if (sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) == SQLITE_OK)
      continue;
    createSystemTableStorage(db, database, &t);
    describeSystemTable(db, database, &t, now);
  }
}

void createSystemTables(sqlite3* db, const std::string& database, int32_t ownerSuid, bool withGuest) {
  std::vector<const SysTableDef*> tables;
  for (const SysTableDef& t : systemTables())
    if (wantedIn(t, database)) tables.push_back(&t);
  DateTime now = currentDateTime();
  for (const SysTableDef* t : tables) createSystemTableStorage(db, database, t);
  for (const SysTableDef* t : tables) describeSystemTable(db, database, t, now);
  for (const TypeRow& r : kSysTypes) {
    insertSystemRow(db, database, "systypes",
                    {{"uid", int64_t{1}},
                     {"usertype", int64_t{r.usertype}},
                     {"variable", int64_t{r.variable}},
                     {"allownulls", int64_t{r.allownulls}},
                     {"type", int64_t{r.type}},
                     {"length", int64_t{r.length}},
                     {"name", std::string(r.name)},
                     {"prec", r.prec < 0 ? Value() : Value(int64_t{r.prec})},
                     {"scale", r.scale < 0 ? Value() : Value(int64_t{r.scale})},
                     {"ident", int64_t{0}},
                     {"hierarchy", int64_t{r.hierarchy}}});
  }
  const std::pair<int, const char*> kSegments[] = {{0, "system"}, {1, "default"}, {2, "logsegment"}};
  for (const auto& [seg, name] : kSegments) {
    insertSystemRow(
        db, database, "syssegments",
        {{"segment", int64_t{seg}}, {"name", std::string(name)}, {"status", int64_t{seg == 1 ? 1 : 0}}});
  }
  insertSystemRow(
      db, database, "sysusers",
      {{"suid", int64_t{-2}}, {"uid", int64_t{0}}, {"gid", int64_t{0}}, {"name", std::string("public")}});
  insertSystemRow(
      db, database, "sysusers",
      {{"suid", int64_t{ownerSuid}}, {"uid", int64_t{1}}, {"gid", int64_t{0}}, {"name", std::string("dbo")}});
  if (withGuest) {
    insertSystemRow(
        db, database, "sysusers",
        {{"suid", int64_t{-1}}, {"uid", int64_t{2}}, {"gid", int64_t{0}}, {"name", std::string("guest")}});
  }
  createAnywhereViews(db, database);
  createInternalTables(db, database);
  ensureSystemIndexes(db, database);
}

}  // namespace tabsrv::storage
