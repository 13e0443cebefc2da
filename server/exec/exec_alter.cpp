// ALTER TABLE t ADD col type NULL [, ...]: each column is appended through the catalogue with the
// next colid; rows already there read NULL, or the column's DEFAULT evaluated once at ALTER time.
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/table_status.h"
#include "server/exec/type_rules.h"
#include "server/types/convert.h"

namespace tabsrv {

using namespace tsql;

void SessionImpl::runAlterTable(const AlterTableStatement& s) {
  Binder binder(*this);
  TableInfo t = binder.resolveTable(s.table);
  if (t.type != "U")
    throw SqlError(4902, 16,
                   "Cannot alter table '" + t.name + "' because this table does not exist in database '" +
                       t.database + "'.");
  if (!s.addConstraints.empty()) throw notSupported("ALTER TABLE ADD CONSTRAINT");
  requireOwnerOf("ALTER TABLE", t);
  StatementTransaction tx(*this, t);
  for (const auto& c : s.addColumns) {
    if (!c.constraints.empty()) throw notSupported("A constraint in ALTER TABLE ADD");
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = resolveTypeName(*this, c.type);
    // As in CREATE TABLE, a column that says neither NULL nor NOT NULL does not allow nulls; the
    // catalogue then refuses it (4997) unless a DEFAULT fills the rows already there.
    cs.nullable = c.nullability == Nullability::Null;
    if (auto user = userTypeOf(*this, c.type)) {
      // tempdb has no user types of its own: a #table keeps only the base type.
      if (t.database != "tempdb") cs.userType = user->first;
      if (c.nullability == Nullability::Default) cs.nullable = user->second;
    }
    cs.identity = c.identity;
    if (c.identity) cs.nullable = false;
    Value fill;
    if (c.defaultValue) {
      cs.defaultText = c.defaultValue->toSql();
      CatalogColumn probe;
      probe.desc.name = cs.name;
      probe.desc.type = cs.type;
      probe.desc.nullable = cs.nullable;
      probe.defaultText = cs.defaultText;
      auto [dv, dt] = columnDefault(probe);
      fill = padFixedChar(assignValue(dv, dt, cs.type, cs.nullable), cs.type);
    }
    t = addColumn(db_, t, cs, fill);
  }
  // A new column may be the first variable-length or identity one.
  refreshTableStatus(*this, t.database, t.id);
  tx.commit();
  done(false, -1);
}

}  // namespace tabsrv
