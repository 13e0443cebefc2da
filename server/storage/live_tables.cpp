// Filling the per-connection TEMP copies of master..sysprocesses and master..syslocks. SQLite
// looks an unqualified name up in temp first, so once a connection has made its TEMP table every
// statement it runs reads the copy; the shared tables stay empty and are never written.
#include "server/storage/live_tables.h"

#include "server/storage/catalog.h"
#include "server/storage/sql_util.h"
#include "server/storage/system_tables.h"

namespace tabsrv {
namespace {

// Creates temp."master.dbo.<table>" with the shared table's columns, or empties it.
void prepareTempTable(sqlite3* db, const char* table) {
  const storage::SysTableDef* def = storage::findSystemTable(table);
  std::string decl;
  for (const storage::SysColumnDef& c : def->columns) {
    if (!decl.empty()) decl += ", ";
    decl += storage::sqliteColumnDecl(c.name, storage::parseColumnType(c.type).type, c.nullable);
  }
  std::string name = storage::quoteIdent(plainObjectName("master", "dbo", table));
  storage::execSql(db, "CREATE TEMP TABLE IF NOT EXISTS " + name + " (" + decl + ")");
  storage::execSql(db, "DELETE FROM temp." + name);
}

Value textOrNull(const std::string& s, size_t max) {
  if (s.empty()) return Value();
  return Value(s.substr(0, max));
}

}  // namespace

void refreshLiveTables(sqlite3* db, const std::vector<LiveProcess>& processes,
                       const std::vector<LiveLock>& locks) {
  prepareTempTable(db, "sysprocesses");
  prepareTempTable(db, "syslocks");
  for (const LiveProcess& p : processes) {
    storage::insertSystemRow(db, "master", "sysprocesses",
                             {{"spid", int64_t{p.spid}},
                              {"kpid", int64_t{p.kpid}},
                              {"enginenum", int64_t{0}},
                              {"status", p.status.empty() ? std::string("sleeping") : p.status.substr(0, 12)},
                              {"suid", int64_t{p.suid}},
                              {"hostname", textOrNull(p.hostname, 10)},
                              {"program_name", textOrNull(p.programName, 16)},
                              {"hostprocess", textOrNull(p.hostProcess, 8)},
                              {"cmd", p.cmd.empty() ? std::string("AWAITING COMMAND") : p.cmd.substr(0, 16)},
                              {"cpu", int64_t{p.cpu}},
                              {"physical_io", int64_t{p.physicalIo}},
                              {"memusage", int64_t{p.memusage}},
                              {"blocked", int64_t{p.blocked}},
                              {"dbid", int64_t{p.dbid}},
                              {"uid", int64_t{p.uid}},
                              {"gid", int64_t{p.gid}},
                              {"tran_name", textOrNull(p.tranName, 64)},
                              {"time_blocked", p.blocked ? Value(int64_t{p.timeBlocked}) : Value()},
                              {"network_pktsz", int64_t{p.networkPacketSize}},
                              {"fid", int64_t{0}},
                              {"clientname", textOrNull(p.loginName, 30)},
                              {"loggedindatetime", p.loggedIn ? Value(*p.loggedIn) : Value()},
                              {"ipaddr", textOrNull(p.ipAddress, 64)}});
  }
  for (const LiveLock& l : locks) {
    storage::insertSystemRow(
        db, "master", "syslocks",
        {{"id", int64_t{l.id}},
         {"dbid", int64_t{l.dbid}},
         {"page", int64_t{l.page}},
         {"type", int64_t{l.type}},
         {"spid", int64_t{l.spid}},
         {"class", textOrNull(l.lockClass.empty() ? "Non Cursor Lock" : l.lockClass, 30)},
         {"fid", int64_t{0}},
         {"context", int64_t{0}},
         {"row", int64_t{0}},
         {"loid", int64_t{l.spid * 2}}});
  }
}

}  // namespace tabsrv
