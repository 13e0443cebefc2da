// ALTER TABLE t ADD col type NULL [, ...]: each column is appended through the catalogue with the
// next colid; rows already there read NULL, or the column's DEFAULT evaluated once at ALTER time.
// ALTER TABLE t ADD [CONSTRAINT name] CHECK (...) and DROP CONSTRAINT name keep CHECK constraints.
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/table_status.h"
#include "server/exec/type_rules.h"
#include "server/types/convert.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

void SessionImpl::runAlterTable(const AlterTableStatement& s) {
  Binder binder(*this);
  TableInfo t = binder.resolveTable(s.table);
  if (t.type != "U")
    throw SqlError(4902, 16,
                   "Cannot alter table '" + t.name + "' because this table does not exist in database '" +
                       t.database + "'.");
  // CHECK constraints and foreign keys, of the table or of a column added, are kept; the index
  // constraints (PRIMARY KEY, UNIQUE) are made only with the table.
  std::vector<const Constraint*> checks, foreign;
  std::vector<std::string> checkColumns, foreignColumns;
  auto noteConstraint = [&](const Constraint& k, const std::string& column) {
    if (k.kind == ConstraintKind::ForeignKey) {
      foreign.push_back(&k);
      foreignColumns.push_back(column);
      return;
    }
    if (k.kind != ConstraintKind::Check || !k.check)
      throw notSupported("A PRIMARY KEY or UNIQUE constraint in ALTER TABLE");
    checks.push_back(&k);
    checkColumns.push_back(column);
  };
  for (const auto& k : s.addConstraints) noteConstraint(k, "");
  for (const auto& c : s.addColumns)
    for (const auto& k : c.constraints) noteConstraint(k, c.name);
  requireOwnerOf("ALTER TABLE", t);
  StatementTransaction tx(*this, t);
  if (!s.dropConstraint.empty()) {
    dropConstraint(t, s.dropConstraint);
    tx.commit();
    done(false, -1);
    return;
  }
  for (const auto& c : s.addColumns) {
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
    } else {
      cs.userType = c.type.national ? (c.type.builtin == SqlType::Char ? kUserNChar : kUserNVarChar)
                                    : systemUserTypeOf(c.type.name);
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
  if (!s.addColumns.empty() && t.database != "tempdb") inheritTypeDefaults(t.database, t.id);
  // A constraint added holds for rows from now on: the rows already there are not tested, nor is
  // the default that fills a new column, as the family does.
  createCheckConstraints(t, checks, checkColumns);
  // A foreign key added must hold for the rows already there (547 otherwise, and nothing is kept).
  if (!foreign.empty()) createForeignKeys(t, foreign, foreignColumns, true);
  // A new column may be the first variable-length or identity one.
  refreshTableStatus(*this, t.database, t.id);
  tx.commit();
  done(false, -1);
}

}  // namespace tabsrv
