// sysobjects.sysstat2 of user tables, worked out from syscolumns (identity status 0x80; a
// variable-length column has a negative offset), sysindexes (status 0x800: the index of a primary
// key constraint) and the table's check constraint objects (type 'R' whose deltrig is the table).
#include "server/exec/table_status.h"

#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"

namespace tabsrv {

namespace {

// sysobjects.sysstat2 of a check constraint object (as exec_constraints keeps it).
constexpr int64_t kCheckConstraintStat2 = 0x2000;

bool exists(SessionImpl& s, const std::string& sql, int32_t tableId) {
  SqlStatement q(s, sql, SqlStatement::Access::Internal);
  q.bindAll({Value{int64_t{tableId}}});
  return q.step() && sqlite3_column_int64(q.get(), 0) != 0;
}

}  // namespace

void refreshTableStatus(SessionImpl& s, const std::string& database, int32_t tableId) {
  const std::string columns = sqliteObjectName(database, "dbo", "syscolumns");
  const std::string indexes = sqliteObjectName(database, "dbo", "sysindexes");
  const std::string objects = sqliteObjectName(database, "dbo", "sysobjects");
  int64_t status = 0;
  if (exists(s, "SELECT count(*) FROM " + columns + " WHERE id = ?1 AND (status & 128) <> 0", tableId))
    status |= kStat2Identity;
  if (!exists(s, "SELECT count(*) FROM " + columns + " WHERE id = ?1 AND offset < 0", tableId))
    status |= kStat2FixedLength;
  if (exists(s, "SELECT count(*) FROM " + indexes + " WHERE id = ?1 AND (status & 2048) <> 0", tableId))
    status |= kStat2PrimaryKey;
  {
    SqlStatement q(s,
                   "SELECT count(*) FROM " + objects + " WHERE type = 'R' AND deltrig = ?1 AND (sysstat2 & ?2) <> 0",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{tableId}}, Value{kCheckConstraintStat2}});
    if (q.step() && sqlite3_column_int64(q.get(), 0) > 1) status |= kStat2ManyChecks;
  }
  SqlStatement up(s,
                  "UPDATE " + storage::systemTableOf(database, "sysobjects", tableId) +
                      " SET sysstat2 = (sysstat2 & ?1) | ?2 WHERE id = ?3 AND type = 'U'",
                  SqlStatement::Access::Internal);
  up.bindAll({Value{kStat2Referential | kStat2ForeignKey}, Value{status}, Value{int64_t{tableId}}});
  up.step();
}

void addTableStatus(SessionImpl& s, const std::string& database, int32_t tableId, int64_t bits) {
  SqlStatement up(s,
                  "UPDATE " + storage::systemTableOf(database, "sysobjects", tableId) +
                      " SET sysstat2 = sysstat2 | ?1 WHERE id = ?2 AND type = 'U'",
                  SqlStatement::Access::Internal);
  up.bindAll({Value{bits}, Value{int64_t{tableId}}});
  up.step();
}

}  // namespace tabsrv
