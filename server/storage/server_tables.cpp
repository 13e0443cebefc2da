// The fixed contents of the server-wide tables made at first start: master's devices, the
// configuration parameters in their groups, the spt_values lookup rows, and sybsystemprocs'
// spt_datatype_info that the column readers join with systypes.
#include <string>

#include "server/core/session.h"
#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"
#include "server/types/datetime.h"

namespace tabsrv::storage {
namespace {

struct DeviceRow {
  const char* name;
  int status;  // 1 default disk, 2 physical disk, 16 dump device
  int cntrltype;
  const char* phyname;
  int low;
  int high;
};

// Every database lives in the one SQLite file, so both disk devices name it.
constexpr DeviceRow kDevices[] = {
    {"master", 3, 0, "tabulon.db", 0, 15359},
    {"sysprocsdev", 2, 0, "tabulon.db", 16777216, 16795647},
    {"tapedump1", 16, 2, "/dev/nst0", 0, 20000},
    {"tapedump2", 16, 3, "/dev/nst1", 0, 20000},
};

// Configuration groups (config below 100, parent 0); 19 is the root the readers leave out.
struct GroupRow {
  int config;
  const char* name;
};
constexpr GroupRow kGroups[] = {
    {1, "Backup/Recovery"},
    {2, "Cache Manager"},
    {3, "Disk I/O"},
    {4, "General Information"},
    {5, "Languages"},
    {6, "Lock Manager"},
    {7, "Memory Use"},
    {8, "Network Communication"},
    {9, "Physical Memory"},
    {10, "Processors"},
    {11, "SQL Server Administration"},
    {12, "User Environment"},
    {19, "Configuration Options"},
};

// One configuration parameter: number, group, name, current and default value, unit text.
struct ParamRow {
  int config;
  int parent;
  const char* name;
  int value;
  int defvalue;
  int minimum;
  int maximum;
  int messageNum;
};
constexpr ParamRow kParams[] = {
    {101, 1, "recovery interval in minutes", 5, 5, 1, 32767, 17401},
    {102, 1, "print recovery information", 0, 0, 0, 1, 17402},
    {103, 1, "tape retention in days", 0, 0, 0, 365, 17403},
    {111, 2, "procedure cache percent", 20, 20, 1, 99, 17411},
    {112, 2, "memory alignment boundary", 2048, 2048, 2048, 262144, 17412},
    {121, 3, "number of devices", 10, 10, 1, 256, 17421},
    {122, 3, "disk i/o structures", 256, 256, 0, 2147483647, 17422},
    {131, 4, "configuration file", 0, 0, 0, 0, 17431},
    {141, 5, "default language id", 0, 0, 0, 32767, 17441},
    {142, 5, "default character set id", 1, 1, 0, 255, 17442},
    {143, 5, "default sortorder id", 50, 50, 0, 255, 17443},
    {151, 6, "number of locks", 5000, 5000, 1000, 2147483647, 17451},
    {152, 6, "deadlock checking period", 500, 500, 0, 2147483647, 17452},
    {153, 6, "lock promotion HWM", 200, 200, 2, 2147483647, 17453},
    {161, 7, "total memory", 7500, 7500, 3850, 2147483647, 17461},
    // No more sessions than the server serves at once (kMostSessions).
    {162, 7, "number of user connections", 256, 256, 5, kMostSessions, 17462},
    {163, 7, "number of open databases", 12, 12, 5, 2147483647, 17463},
    {164, 7, "number of open objects", 500, 500, 100, 2147483647, 17464},
    {165, 7, "stack size", 46080, 46080, 34816, 2147483647, 17465},
    // What one session may hold at once (each prepared statement and open cursor takes memory).
    {166, 7, kSessionPreparedStatements, 1024, 1024, 16, 1000000, 17466},
    {167, 7, kSessionOpenCursors, 256, 256, 16, 100000, 17467},
    {171, 8, "default network packet size", 512, 512, 512, 524288, 17471},
    {172, 8, "max network packet size", 512, 512, 512, 524288, 17472},
    {173, 8, "tcp no delay", 0, 0, 0, 1, 17473},
    {181, 9, "max online engines", 1, 1, 1, 128, 17481},
    {191, 10, "number of engines at startup", 1, 1, 1, 128, 17491},
    {201, 11, "allow updates to system tables", 0, 0, 0, 1, 17501},
    {202, 11, "default database size", 2, 2, 2, 10000, 17502},
    {203, 11, "time slice", 100, 100, 50, 1000, 17503},
    {211, 12, "number of pre-allocated extents", 2, 2, 1, 31, 17511},
    {212, 12, "default fill factor percent", 0, 0, 0, 100, 17512},
};

struct ValueRow {
  const char* name;  // nullptr: NULL
  int number;
  const char* type;
  int low;
  int high;
};
constexpr int kNone = -2147483647 - 1;
// spt_values: 'E' the environment (number 1 holds the page size in low), 'K' the syskeys kinds,
// 'L' the lock types of syslocks (256 added: blocking), 'V' the device status bits, 'T' the
// permission actions of sysprotects.
constexpr ValueRow kValues[] = {
    {nullptr, 1, "E", 2048, kNone},
    {"primary", 1, "K", kNone, kNone},
    {"foreign", 2, "K", kNone, kNone},
    {"common", 3, "K", kNone, kNone},
    {"Ex_table", 1, "L", kNone, kNone},
    {"Sh_table", 2, "L", kNone, kNone},
    {"Ex_intent", 3, "L", kNone, kNone},
    {"Sh_intent", 4, "L", kNone, kNone},
    {"Ex_page", 5, "L", kNone, kNone},
    {"Sh_page", 6, "L", kNone, kNone},
    {"Update_page", 7, "L", kNone, kNone},
    {"Ex_table-blk", 257, "L", kNone, kNone},
    {"Sh_table-blk", 258, "L", kNone, kNone},
    {"Ex_intent-blk", 259, "L", kNone, kNone},
    {"Sh_intent-blk", 260, "L", kNone, kNone},
    {"Ex_page-blk", 261, "L", kNone, kNone},
    {"Sh_page-blk", 262, "L", kNone, kNone},
    {"Update_page-blk", 263, "L", kNone, kNone},
    {"DEVICE STATUS", -1, "V", kNone, kNone},
    {"default disk", 1, "V", kNone, kNone},
    {"physical disk", 2, "V", kNone, kNone},
    {"logical disk", 4, "V", kNone, kNone},
    {"skip header", 8, "V", kNone, kNone},
    {"dump device", 16, "V", kNone, kNone},
    {"serial writes", 32, "V", kNone, kNone},
    {"device mirrored", 64, "V", kNone, kNone},
    {"References", 151, "T", kNone, kNone},
    {"Select", 193, "T", kNone, kNone},
    {"Insert", 195, "T", kNone, kNone},
    {"Delete", 196, "T", kNone, kNone},
    {"Update", 197, "T", kNone, kNone},
    {"Create Table", 198, "T", kNone, kNone},
    {"Create Database", 203, "T", kNone, kNone},
    {"Execute", 224, "T", kNone, kNone},
    {"Create View", 207, "T", kNone, kNone},
    {"Create Procedure", 222, "T", kNone, kNone},
    {"Grant", 205, "T", kNone, kNone},
    {"Revoke", 206, "T", kNone, kNone},
};

// spt_datatype_info: one row per systypes type code. prec/scale/length of a column are
// isnull(syscolumns value, these) + aux; aux is NULL only for the nullable variants (38, 109,
// 110, 111), whose precision the readers derive from the column length.
struct DatatypeRow {
  int ssType;
  const char* name;
  int dataType;   // ODBC type number
  int precision;  // kNone: NULL
  int scale;
  int radix;
  int length;
  const char* prefix;
  const char* suffix;
  const char* params;
  int caseSensitive;
  int money;
  int aux;
};
constexpr DatatypeRow kDatatypes[] = {
    {47, "char", 1, kNone, kNone, kNone, kNone, "'", "'", "length", 1, 0, 0},
    {39, "varchar", 12, kNone, kNone, kNone, kNone, "'", "'", "max length", 1, 0, 0},
    {45, "binary", -2, kNone, kNone, kNone, kNone, "0x", nullptr, "length", 0, 0, 0},
    {37, "varbinary", -3, kNone, kNone, kNone, kNone, "0x", nullptr, "max length", 0, 0, 0},
    {48, "tinyint", -6, 3, 0, 10, 1, nullptr, nullptr, nullptr, 0, 0, 0},
    {52, "smallint", 5, 5, 0, 10, 2, nullptr, nullptr, nullptr, 0, 0, 0},
    {56, "int", 4, 10, 0, 10, 4, nullptr, nullptr, nullptr, 0, 0, 0},
    {38, "intn", 4, 0, 0, 10, kNone, nullptr, nullptr, nullptr, 0, 0, kNone},
    {62, "float", 8, 15, kNone, 10, 8, nullptr, nullptr, nullptr, 0, 0, 0},
    {59, "real", 7, 7, kNone, 10, 4, nullptr, nullptr, nullptr, 0, 0, 0},
    {109, "floatn", 8, 0, kNone, 10, kNone, nullptr, nullptr, nullptr, 0, 0, kNone},
    {63, "numeric", 2, kNone, kNone, 10, kNone, nullptr, nullptr, "precision,scale", 0, 0, 0},
    {55, "decimal", 3, kNone, kNone, 10, kNone, nullptr, nullptr, "precision,scale", 0, 0, 0},
    {108, "numericn", 2, kNone, kNone, 10, kNone, nullptr, nullptr, "precision,scale", 0, 0, 0},
    {106, "decimaln", 3, kNone, kNone, 10, kNone, nullptr, nullptr, "precision,scale", 0, 0, 0},
    {60, "money", 3, 19, 4, 10, 8, "$", nullptr, nullptr, 0, 1, 0},
    {122, "smallmoney", 3, 10, 4, 10, 4, "$", nullptr, nullptr, 0, 1, 0},
    {110, "moneyn", 3, 4, 4, 10, kNone, "$", nullptr, nullptr, 0, 1, kNone},
    {61, "datetime", 11, 23, 3, kNone, 16, "'", "'", nullptr, 0, 0, 0},
    {58, "smalldatetime", 11, 16, 0, kNone, 16, "'", "'", nullptr, 0, 0, 0},
    {111, "datetimn", 11, 4, 3, kNone, kNone, "'", "'", nullptr, 0, 0, kNone},
    {50, "bit", -7, 1, 0, kNone, 1, nullptr, nullptr, nullptr, 0, 0, 0},
    {35, "text", -1, 2147483647, kNone, kNone, 2147483647, "'", "'", nullptr, 1, 0, 0},
    {34, "image", -4, 2147483647, kNone, kNone, 2147483647, "0x", nullptr, nullptr, 0, 0, 0},
};

// syscurconfigs.comment holds the memory a parameter takes, in kilobytes, as text.
int memoryUsed(int config) {
  switch (config) {
    case 151:
      return 586;  // number of locks
    case 161:
      return 15000;  // total memory
    case 162:
      return 2459;  // number of user connections
    case 163:
      return 1056;  // number of open databases
    case 164:
      return 485;  // number of open objects
    case 111:
      return 3014;  // procedure cache percent
    case 122:
      return 26;  // disk i/o structures
    default:
      return 0;
  }
}

Value intOrNull(int v) {
  return v == kNone ? Value() : Value(int64_t{v});
}
Value textOrNull(const char* s) {
  return s ? Value(std::string(s)) : Value();
}

// One configuration parameter's rows in sysconfigures and syscurconfigs.
void insertParameter(sqlite3* db, const ParamRow& p) {
  insertSystemRow(db, "master", "sysconfigures",
                  {{"config", int64_t{p.config}},
                   {"value", int64_t{p.value}},
                   {"comment", std::string(p.name)},
                   {"status", int64_t{1}},
                   {"name", std::string(p.name)},
                   {"parent", int64_t{p.parent}}});
  insertSystemRow(db, "master", "syscurconfigs",
                  {{"config", int64_t{p.config}},
                   {"value", int64_t{p.value}},
                   {"comment", std::to_string(memoryUsed(p.config))},
                   {"status", int64_t{1}},
                   {"defvalue", std::to_string(p.defvalue)},
                   {"minimum_value", int64_t{p.minimum}},
                   {"maximum_value", int64_t{p.maximum}},
                   {"memory_used", int64_t{0}},
                   {"display_level", int64_t{10}},
                   {"datatype", int64_t{1}},
                   {"message_num", int64_t{p.messageNum}}});
}

}  // namespace

void raiseEarlierDefaults(sqlite3* db) {
  // Parameters this version added, and this version's bounds (a value outside them is brought
  // inside: "number of user connections" of an earlier build may exceed what is served now).
  for (const ParamRow& p : kParams) {
    Stmt have(db, "SELECT 1 FROM " + sqliteObjectName("master", "dbo", "syscurconfigs") + " WHERE config = ?1");
    have.bind(1, int64_t{p.config});
    if (!have.step()) {
      insertParameter(db, p);
      continue;
    }
    Stmt bounds(db, "UPDATE " + sqliteObjectName("master", "dbo", "syscurconfigs") +
                        " SET minimum_value = ?2, maximum_value = ?3 WHERE config = ?1");
    bounds.bind(1, int64_t{p.config}).bind(2, int64_t{p.minimum}).bind(3, int64_t{p.maximum});
    bounds.run();
    for (const char* table : {"sysconfigures", "syscurconfigs"}) {
      Stmt clamp(db, "UPDATE " + sqliteObjectName("master", "dbo", table) +
                         " SET value = max(?2, min(?3, value)) WHERE config = ?1");
      clamp.bind(1, int64_t{p.config}).bind(2, int64_t{p.minimum}).bind(3, int64_t{p.maximum});
      clamp.run();
    }
  }
  struct Raised {
    int config;
    int earlier;
  };
  // Defaults earlier versions wrote, by parameter.
  constexpr Raised kRaised[] = {{162, 25}};
  for (const Raised& r : kRaised) {
    const ParamRow* now = nullptr;
    for (const ParamRow& p : kParams)
      if (p.config == r.config) now = &p;
    if (!now) continue;
    // The stored default tells a directory of the earlier version; its value is only raised while
    // it is still that default.
    Stmt old(db, "SELECT 1 FROM " + sqliteObjectName("master", "dbo", "syscurconfigs") +
                     " WHERE config = ?1 AND rtrim(defvalue) = ?2");
    old.bind(1, int64_t{r.config}).bind(2, std::to_string(r.earlier));
    if (!old.step()) continue;
    for (const char* table : {"sysconfigures", "syscurconfigs"}) {
      Stmt up(db, "UPDATE " + sqliteObjectName("master", "dbo", table) +
                      " SET value = ?2 WHERE config = ?1 AND value = ?3");
      up.bind(1, int64_t{r.config}).bind(2, int64_t{now->value}).bind(3, int64_t{r.earlier});
      up.run();
    }
    Stmt def(db, "UPDATE " + sqliteObjectName("master", "dbo", "syscurconfigs") +
                     " SET defvalue = ?2 WHERE config = ?1");
    def.bind(1, int64_t{r.config}).bind(2, std::to_string(now->defvalue));
    def.run();
  }
}

void fillServerTables(sqlite3* db) {
  DateTime now = currentDateTime();
  for (const DeviceRow& d : kDevices) {
    insertSystemRow(db, "master", "sysdevices",
                    {{"low", int64_t{d.low}},
                     {"high", int64_t{d.high}},
                     {"status", int64_t{d.status}},
                     {"cntrltype", int64_t{d.cntrltype}},
                     {"name", std::string(d.name)},
                     {"phyname", std::string(d.phyname)},
                     {"crdate", now}});
  }
  for (const GroupRow& g : kGroups) {
    insertSystemRow(db, "master", "sysconfigures",
                    {{"config", int64_t{g.config}},
                     {"value", int64_t{0}},
                     {"comment", std::string(g.name)},
                     {"status", int64_t{0}},
                     {"name", std::string(g.name)},
                     {"parent", int64_t{0}}});
  }
  for (const ParamRow& p : kParams) insertParameter(db, p);
  for (const ValueRow& v : kValues) {
    insertSystemRow(db, "master", "spt_values",
                    {{"name", textOrNull(v.name)},
                     {"number", int64_t{v.number}},
                     {"type", std::string(v.type)},
                     {"low", intOrNull(v.low)},
                     {"high", intOrNull(v.high)}});
  }
  for (const DatatypeRow& d : kDatatypes) {
    insertSystemRow(db, "sybsystemprocs", "spt_datatype_info",
                    {{"ss_dtype", int64_t{d.ssType}},
                     {"type_name", std::string(d.name)},
                     {"data_type", int64_t{d.dataType}},
                     {"data_precision", intOrNull(d.precision)},
                     {"numeric_scale", intOrNull(d.scale)},
                     {"numeric_radix", intOrNull(d.radix)},
                     {"length", intOrNull(d.length)},
                     {"literal_prefix", textOrNull(d.prefix)},
                     {"literal_suffix", textOrNull(d.suffix)},
                     {"create_params", textOrNull(d.params)},
                     {"nullable", int64_t{1}},
                     {"case_sensitive", int64_t{d.caseSensitive}},
                     {"searchable", int64_t{3}},
                     {"unsigned_attribute", d.ssType == 48 ? Value(int64_t{1}) : Value(int64_t{0})},
                     {"money", int64_t{d.money}},
                     {"auto_increment", int64_t{0}},
                     {"local_type_name", std::string(d.name)},
                     {"aux", intOrNull(d.aux)}});
  }
}

}  // namespace tabsrv::storage
