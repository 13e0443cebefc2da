// The "SQLAnywhere" family's catalogue views: each is one SELECT over sysobjects, syscolumns,
// sysindexes, systypes and sysusers, so every DDL statement that keeps those true keeps the views
// true too. Built-in types map to that family's domains (SYSDOMAIN); named built-in types such as
// money and datetime, and every user datatype, appear in SYSUSERTYPE.
#include "server/storage/anywhere_views.h"

#include <cctype>
#include <vector>

#include "server/storage/database_files.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"

namespace tabsrv::storage {
namespace {

struct ViewColumn {
  const char* name;
  const char* type;
  bool nullable;
};

struct ViewDef {
  const char* name;
  int32_t id;
  std::vector<ViewColumn> columns;
  // The SELECT, given the quoted SQLite name of a system table of the same database.
  std::string (*select)(const std::string& database);
};

// The view is kept in the database's file and reads that file's own table (tempdb's, without the
// sessions' #tables, which live on their connections).
std::string tbl(const std::string& database, const char* table) {
  return quoteIdent(plainObjectName(database, "dbo", table));
}

std::string domainOfCode(const std::string& type, const std::string& length);

// The domain of a built-in usertype, else of the storage type code and length (intn and floatn
// take their size from the length).
std::string domainOf(const std::string& usertype, const std::string& type, const std::string& length) {
  return "(CASE " + usertype +
         " WHEN 1 THEN 7 WHEN 2 THEN 9 WHEN 3 THEN 11 WHEN 4 THEN 28 WHEN 5 THEN 19 WHEN 6 THEN 1 WHEN 7 "
         "THEN 2"
         " WHEN 8 THEN 5 WHEN 10 THEN 3 WHEN 11 THEN 3 WHEN 12 THEN 13 WHEN 16 THEN 24 WHEN 18 THEN 9"
         " WHEN 19 THEN 10 WHEN 20 THEN 12 WHEN 21 THEN 3 WHEN 22 THEN 13 WHEN 23 THEN 4 WHEN 24 THEN 7"
         " WHEN 25 THEN 9 WHEN 26 THEN 27 WHEN 80 THEN 28 ELSE " +
         domainOfCode(type, length) + " END)";
}

std::string domainOfCode(const std::string& type, const std::string& length) {
  return "(CASE " + type +
         " WHEN 47 THEN 7 WHEN 39 THEN 9 WHEN 45 THEN 11 WHEN 37 THEN 28 WHEN 48 THEN 19"
         " WHEN 52 THEN 1 WHEN 56 THEN 2 WHEN 38 THEN (CASE " +
         length +
         " WHEN 1 THEN 19 WHEN 2 THEN 1 ELSE 2 END) WHEN 62 THEN 5 WHEN 59 THEN 4 WHEN 109 THEN (CASE " +
         length +
         " WHEN 4 THEN 4 ELSE 5 END) WHEN 63 THEN 3 WHEN 108 THEN 3 WHEN 55 THEN 27 WHEN 106 THEN 27"
         " WHEN 60 THEN 3 WHEN 122 THEN 3 WHEN 110 THEN 3 WHEN 61 THEN 13 WHEN 58 THEN 13 WHEN 111 THEN 13"
         " WHEN 50 THEN 24 WHEN 35 THEN 10 WHEN 34 THEN 12 ELSE 9 END)";
}

// Width: the precision for exact numerics (money as numeric(19,4) / (10,4)), else the length.
std::string widthOf(const std::string& type, const std::string& length, const std::string& prec) {
  return "(CASE WHEN " + type + " IN (63, 55, 106, 108) THEN " + prec + " WHEN " + type + " = 60 OR (" +
         type + " = 110 AND " + length + " = 8) THEN 19 WHEN " + type + " = 122 OR (" + type + " = 110 AND " +
         length + " = 4) THEN 10 ELSE " + length + " END)";
}

std::string scaleOf(const std::string& type, const std::string& scale) {
  return "(CASE WHEN " + type + " IN (60, 122, 110) THEN 4 ELSE coalesce(" + scale + ", 0) END)";
}

// usertypes that show as SYSUSERTYPE rows: user datatypes and the named built-ins.
constexpr const char* kNamedUserTypes = "(11, 12, 18, 21, 22)";

// The n-th (0-based) key colid in sysindexes.keys1 (16-bit little endian), from its hex text.
std::string keyColid(const std::string& keys, const std::string& n) {
  auto byteAt = [&](const std::string& pos) {
    std::string h = "hex(" + keys + ")";
    return "((instr('0123456789ABCDEF', substr(" + h + ", 2 * (" + pos +
           ") + 1, 1)) - 1) * 16 + instr('0123456789ABCDEF', substr(" + h + ", 2 * (" + pos +
           ") + 2, 1)) - 1)";
  };
  return "(" + byteAt("2 * " + n) + " + 256 * " + byteAt("2 * " + n + " + 1") + ")";
}

// 0 .. 30: more keys than an index can have.
constexpr const char* kKeyNumbers =
    "(WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 30) SELECT k FROM n)";

std::string selectTable(const std::string& d) {
  return "SELECT o.id AS table_id, 0 AS file_id, 0 AS count, o.uid AS creator, "
         "CASE WHEN o.type = 'V' THEN 'VIEW' ELSE 'BASE' END AS table_type, o.name AS table_name, "
         "NULL AS remarks FROM " +
         tbl(d, "sysobjects") + " o WHERE o.type IN ('U', 'S', 'V')";
}

// The text of a column's default as that family keeps it: "autoincrement" for an identity
// column, else the default's expression, joined from its syscomments chunks, without the
// "DEFAULT " of an inline default or the "create default <name> as " of a bound one.
std::string defaultOf(const std::string& d) {
  const std::string blanksAsSpace = "lower(replace(replace(replace(x, char(10), ' '), char(13), ' '), char(9), ' '))";
  const std::string asAt = "instr(" + blanksAsSpace + ", ' as ')";
  return "(CASE WHEN (c.status & 128) <> 0 THEN 'autoincrement' WHEN c.cdefault <> 0 THEN (SELECT substr(CASE WHEN "
         "upper(substr(x, 1, 8)) = 'DEFAULT ' THEN substr(x, 9) WHEN " +
         asAt + " > 0 THEN ltrim(substr(x, " + asAt +
         " + 4), ' ' || char(9) || char(10) || char(13)) ELSE x END, 1, 255) FROM (SELECT group_concat(t.text, '') "
         "AS x FROM (SELECT cm.text FROM " +
         tbl(d, "syscomments") + " cm WHERE cm.id = c.cdefault ORDER BY cm.colid) t)) END)";
}

std::string selectColumn(const std::string& d) {
  return "SELECT c.id AS table_id, c.colid AS column_id, "
         "CASE WHEN EXISTS (SELECT 1 FROM " +
         tbl(d, "sysindexes") + " i, " + kKeyNumbers +
         " kn WHERE i.id = c.id AND (i.status & 2048) <> 0 AND kn.k < length(i.keys1) / 2 AND " +
         keyColid("i.keys1", "kn.k") + " = c.colid) THEN 'Y' ELSE 'N' END AS pkey, " +
         domainOf("c.usertype", "c.type", "c.length") +
         " AS domain_id, CASE WHEN (c.status & 8) <> 0 THEN 'Y' ELSE 'N' END AS nulls, " +
         widthOf("c.type", "c.length", "c.prec") + " AS width, " + scaleOf("c.type", "c.scale") +
         " AS scale, c.name AS column_name, "
         "CASE WHEN c.usertype >= 100 OR c.usertype IN " +
         kNamedUserTypes + " THEN c.usertype END AS user_type, NULL AS remarks, " + defaultOf(d) +
         " AS \"default\" FROM " + tbl(d, "syscolumns") +
         " c, " + tbl(d, "sysobjects") + " o WHERE o.id = c.id AND o.type IN ('U', 'S', 'V')";
}

std::string selectDomain(const std::string&) {
  return "SELECT column1 AS domain_id, column2 AS domain_name, column3 AS type_id, column4 AS \"precision\" "
         "FROM (VALUES (1, 'smallint', 5, 5), (2, 'integer', 4, 10), (3, 'numeric', 2, NULL), "
         "(4, 'float', 7, 7), (5, 'double', 8, 15), (6, 'date', 9, NULL), (7, 'char', 1, NULL), "
         "(9, 'varchar', 12, NULL), (10, 'long varchar', -1, NULL), (11, 'binary', -2, NULL), "
         "(12, 'long binary', -4, NULL), (13, 'timestamp', 11, NULL), (14, 'time', 10, NULL), "
         "(19, 'tinyint', -6, 3), (24, 'bit', -7, 1), (27, 'decimal', 3, NULL), (28, 'varbinary', -3, NULL))";
}

std::string selectUserType(const std::string& d) {
  return "SELECT t.usertype AS type_id, t.uid AS creator, " + domainOf("t.usertype", "t.type", "t.length") +
         " AS domain_id, CASE WHEN t.allownulls <> 0 THEN 'Y' ELSE 'N' END AS nulls, " +
         widthOf("t.type", "t.length", "t.prec") + " AS width, " + scaleOf("t.type", "t.scale") +
         " AS scale, t.name AS type_name, NULL AS \"default\", NULL AS \"check\", NULL AS format_str FROM " +
         tbl(d, "systypes") + " t WHERE t.usertype >= 100 OR t.usertype IN " + kNamedUserTypes;
}

std::string selectIndex(const std::string& d) {
  return "SELECT i.id AS table_id, i.indid AS index_id, 0 AS root, 0 AS file_id, "
         "CASE WHEN (i.status & 2048) <> 0 THEN 'U' WHEN (i.status & 2) <> 0 THEN 'Y' ELSE 'N' END AS "
         "\"unique\", o.uid AS creator, i.name AS index_name, NULL AS remarks FROM " +
         tbl(d, "sysindexes") + " i, " + tbl(d, "sysobjects") +
         " o WHERE o.id = i.id AND i.indid BETWEEN 1 AND 250";
}

std::string selectIxCol(const std::string& d) {
  return "SELECT i.id AS table_id, i.indid AS index_id, kn.k AS sequence, " + keyColid("i.keys1", "kn.k") +
         " AS column_id, 'A' AS \"order\" FROM " + tbl(d, "sysindexes") + " i, " + kKeyNumbers +
         " kn WHERE i.indid BETWEEN 1 AND 250 AND kn.k < length(i.keys1) / 2";
}

std::string selectProcedure(const std::string& d) {
  return "SELECT o.id AS proc_id, o.uid AS creator, o.name AS proc_name, NULL AS proc_defn, NULL AS remarks "
         "FROM " +
         tbl(d, "sysobjects") + " o WHERE o.type = 'P'";
}

// Procedure parameters are syscolumns rows of the procedure ("@name", status 0x40 for OUTPUT).
std::string selectProcParm(const std::string& d) {
  return "SELECT c.id AS proc_id, c.colid AS parm_id, 0 AS parm_type, 'Y' AS parm_mode_in, "
         "CASE WHEN (c.status & 64) <> 0 THEN 'Y' ELSE 'N' END AS parm_mode_out, " +
         domainOf("c.usertype", "c.type", "c.length") + " AS domain_id, " +
         widthOf("c.type", "c.length", "c.prec") + " AS width, " + scaleOf("c.type", "c.scale") +
         " AS scale, CASE WHEN c.usertype >= 100 OR c.usertype IN " + kNamedUserTypes +
         " THEN c.usertype END AS user_type, c.name AS parm_name, NULL AS \"default\", NULL AS remarks "
         "FROM " +
         tbl(d, "syscolumns") + " c, " + tbl(d, "sysobjects") + " o WHERE o.id = c.id AND o.type = 'P'";
}

// Groups are the rows whose uid equals their gid (public); dbo holds the DBA authority.
std::string selectUserPerm(const std::string& d) {
  return "SELECT u.uid AS user_id, NULL AS password, CASE WHEN u.uid = 1 THEN 'Y' ELSE 'N' END AS "
         "resourceauth, "
         "CASE WHEN u.uid = 1 THEN 'Y' ELSE 'N' END AS dbaauth, 'N' AS scheduleauth, "
         "CASE WHEN u.uid = u.gid THEN 'Y' ELSE 'N' END AS user_group, 'N' AS publishauth, "
         "'N' AS remotedbaauth, u.name AS user_name, NULL AS remarks FROM " +
         tbl(d, "sysusers") + " u";
}

const std::vector<ViewDef>& views() {
  static const std::vector<ViewDef> kViews = {
      {"SYSTABLE",
       90,
       {{"table_id", "int", false},
        {"file_id", "smallint", false},
        {"count", "int", false},
        {"creator", "int", false},
        {"table_type", "varchar(10)", false},
        {"table_name", "varchar(128)", false},
        {"remarks", "varchar(255)", true}},
       selectTable},
      {"SYSCOLUMN",
       91,
       {{"table_id", "int", false},
        {"column_id", "int", false},
        {"pkey", "varchar(1)", false},
        {"domain_id", "smallint", false},
        {"nulls", "varchar(1)", false},
        {"width", "int", false},
        {"scale", "smallint", false},
        {"column_name", "varchar(128)", false},
        {"user_type", "smallint", true},
        {"remarks", "varchar(255)", true},
        {"default", "varchar(255)", true}},
       selectColumn},
      {"SYSDOMAIN",
       92,
       {{"domain_id", "smallint", false},
        {"domain_name", "varchar(128)", false},
        {"type_id", "smallint", false},
        {"precision", "smallint", true}},
       selectDomain},
      {"SYSUSERTYPE",
       93,
       {{"type_id", "smallint", false},
        {"creator", "int", false},
        {"domain_id", "smallint", false},
        {"nulls", "varchar(1)", false},
        {"width", "int", false},
        {"scale", "smallint", false},
        {"type_name", "varchar(128)", false},
        {"default", "varchar(255)", true},
        {"check", "varchar(255)", true},
        {"format_str", "varchar(128)", true}},
       selectUserType},
      {"SYSINDEX",
       94,
       {{"table_id", "int", false},
        {"index_id", "int", false},
        {"root", "int", false},
        {"file_id", "smallint", false},
        {"unique", "varchar(1)", false},
        {"creator", "int", false},
        {"index_name", "varchar(128)", false},
        {"remarks", "varchar(255)", true}},
       selectIndex},
      {"SYSIXCOL",
       95,
       {{"table_id", "int", false},
        {"index_id", "int", false},
        {"sequence", "smallint", false},
        {"column_id", "int", false},
        {"order", "varchar(1)", false}},
       selectIxCol},
      {"SYSPROCEDURE",
       96,
       {{"proc_id", "int", false},
        {"creator", "int", false},
        {"proc_name", "varchar(128)", false},
        {"proc_defn", "varchar(255)", true},
        {"remarks", "varchar(255)", true}},
       selectProcedure},
      {"SYSPROCPARM",
       97,
       {{"proc_id", "int", false},
        {"parm_id", "smallint", false},
        {"parm_type", "smallint", false},
        {"parm_mode_in", "varchar(1)", false},
        {"parm_mode_out", "varchar(1)", false},
        {"domain_id", "smallint", false},
        {"width", "int", false},
        {"scale", "smallint", false},
        {"user_type", "smallint", true},
        {"parm_name", "varchar(128)", false},
        {"default", "varchar(255)", true},
        {"remarks", "varchar(255)", true}},
       selectProcParm},
      {"SYSUSERPERM",
       98,
       {{"user_id", "int", false},
        {"password", "varbinary(128)", true},
        {"resourceauth", "varchar(1)", false},
        {"dbaauth", "varchar(1)", false},
        {"scheduleauth", "varchar(1)", false},
        {"user_group", "varchar(1)", false},
        {"publishauth", "varchar(1)", false},
        {"remotedbaauth", "varchar(1)", false},
        {"user_name", "varchar(128)", false},
        {"remarks", "varchar(255)", true}},
       selectUserPerm},
  };
  return kViews;
}

bool sameName(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return i == a.size() && !b[i];
}

}  // namespace

void createAnywhereViews(sqlite3* db, const std::string& database) {
  for (const ViewDef& v : views()) {
    execSql(db, "CREATE VIEW " + schemaPrefix(db, database) +
                    sqliteObjectName(database, kAnywhereOwner, v.name) + " AS " + v.select(database));
  }
}

void replaceAnywhereViews(sqlite3* db, const std::string& database) {
  for (const ViewDef& v : views())
    execSql(db, "DROP VIEW IF EXISTS " + schemaPrefix(db, database) +
                    sqliteObjectName(database, kAnywhereOwner, v.name));
  createAnywhereViews(db, database);
}

std::optional<TableInfo> anywhereView(const std::string& database, const std::string& name) {
  for (const ViewDef& v : views()) {
    if (!sameName(name, v.name)) continue;
    TableInfo t;
    t.database = database;
    t.owner = kAnywhereOwner;
    t.name = v.name;
    t.id = v.id;
    t.uid = 1;
    t.type = "V";
    t.sqliteName = sqliteObjectName(database, kAnywhereOwner, v.name);
    int32_t colid = 0;
    for (const ViewColumn& c : v.columns) {
      CatalogColumn col;
      col.colid = ++colid;
      col.desc.name = c.name;
      col.desc.type = parseColumnType(c.type).type;
      col.desc.nullable = c.nullable;
      col.desc.userType = parseColumnType(c.type).userType;
      col.desc.tableName = v.name;
      col.sqliteName = c.name;
      t.columns.push_back(std::move(col));
    }
    return t;
  }
  return std::nullopt;
}

}  // namespace tabsrv::storage
