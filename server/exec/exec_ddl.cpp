// CREATE/ALTER/DROP TABLE, CREATE/DROP INDEX and CREATE/DROP VIEW through the catalogue API,
// each inside the statement's transaction so a failure leaves no half-made object.
// #tables are the session's own: tempdb shows them under a name private to the session, and they
// live on its connection (session_tables.h), so they go at logout.
#include <algorithm>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/table_status.h"
#include "server/tsql/parser.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

bool isTemp(const ObjectName& n) {
  return !n.name.empty() && n.name[0] == '#';
}

}  // namespace

void SessionImpl::runCreateTable(const CreateTableStatement& s) {
  TableSpec details;
  bool temp = isTemp(s.table);
  details.database = temp ? "tempdb" : (s.table.database.empty() ? database_ : s.table.database);
  details.owner = temp ? "dbo" : (s.table.owner.empty() ? user_ : s.table.owner);
  details.name = temp ? newTempTableName(s.table.name) : s.table.name;
  if (!databaseExists(db_, details.database)) throw unknownDatabase(details.database);
  std::vector<const Constraint*> checks;
  std::vector<std::string> checkColumns;
  for (const auto& k : s.constraints)
    if (k.kind == ConstraintKind::Check && k.check) {
      checks.push_back(&k);
      checkColumns.emplace_back();
    }
  if (temp) requireIdentifierLength(s.table.name);
  if (!temp) {
    permissions_->requireCreate(details.database, kActionCreateTable, "CREATE TABLE");
    permissions_->requireOwner("CREATE TABLE", details.database, details.owner, details.name);
  }
  for (const auto& c : s.columns) {
    for (const auto& k : c.constraints)
      if (k.kind == ConstraintKind::Check && k.check) {
        checks.push_back(&k);
        checkColumns.push_back(c.name);
      }
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = resolveTypeName(*this, c.type);
    // Without NULL or NOT NULL a column does not allow nulls, as the family's default has it.
    cs.nullable = c.nullability == Nullability::Null;
    // A column of a user type (sp_addtype phone_t, 'varchar(12)') keeps its usertype and, unless
    // it says NULL or NOT NULL, the type's own nullability.
    if (auto user = userTypeOf(*this, c.type)) {
      // A #table lives in tempdb, so its user types must exist there as well.
      if (temp) {
        SqlStatement st(*this, "SELECT 1 FROM " + sqliteObjectName("tempdb", "dbo", "systypes") +
                                   " WHERE name = ?1 AND usertype >= 100",
                        SqlStatement::Access::Internal);
        st.bindAll({Value{c.type.name}});
        if (!st.step()) throw SqlError(2715, 16, "Can't find type '" + c.type.name + "'.");
      }
      if (!temp) cs.userType = user->first;
      if (c.nullability == Nullability::Default) cs.nullable = user->second;
    } else {
      // nchar, nvarchar, sysname and timestamp are stored as char, varchar and varbinary but keep
      // their own usertype: sp_help shows them, and a timestamp column is filled by the server.
      cs.userType = c.type.national ? (c.type.builtin == SqlType::Char ? kUserNChar : kUserNVarChar)
                                    : systemUserTypeOf(c.type.name);
    }
    cs.identity = c.identity;
    if (c.identity) cs.nullable = false;
    if (c.defaultValue) cs.defaultText = c.defaultValue->toSql();
    for (const auto& k : c.constraints) {
      if (k.kind != ConstraintKind::PrimaryKey && k.kind != ConstraintKind::Unique) continue;
      IndexSpec is;
      is.name = k.name;
      is.columns = {c.name};
      is.primaryKey = k.kind == ConstraintKind::PrimaryKey;
      is.unique = true;
      is.clustered = k.clustering == Clustering::Clustered ||
                     (k.clustering == Clustering::Default && k.kind == ConstraintKind::PrimaryKey);
      if (is.primaryKey) cs.nullable = false;
      details.constraints.push_back(std::move(is));
    }
    details.columns.push_back(std::move(cs));
  }
  for (const auto& k : s.constraints) {
    if (k.kind != ConstraintKind::PrimaryKey && k.kind != ConstraintKind::Unique) continue;
    IndexSpec is;
    is.name = k.name;
    is.columns = k.columns;
    is.primaryKey = k.kind == ConstraintKind::PrimaryKey;
    is.unique = true;
    is.clustered = k.clustering == Clustering::Clustered ||
                   (k.clustering == Clustering::Default && k.kind == ConstraintKind::PrimaryKey);
    details.constraints.push_back(std::move(is));
  }
  StatementTransaction tx(*this, temp ? std::string() : details.database);
  TableInfo created = temp ? createTempTable(details, s.table.name) : createTable(db_, details);
  if (!temp) inheritTypeDefaults(created.database, created.id);
  createCheckConstraints(created, checks, checkColumns);
  refreshTableStatus(*this, created.database, created.id);
  // Foreign keys, of the table or of a column, are kept and enforced from now on.
  std::vector<const Constraint*> foreign;
  std::vector<std::string> foreignColumns;
  for (const auto& k : s.constraints)
    if (k.kind == ConstraintKind::ForeignKey) foreign.push_back(&k), foreignColumns.emplace_back();
  for (const auto& c : s.columns)
    for (const auto& k : c.constraints)
      if (k.kind == ConstraintKind::ForeignKey) foreign.push_back(&k), foreignColumns.push_back(c.name);
  if (!foreign.empty()) createForeignKeys(created, foreign, foreignColumns, false);
  tx.commit();
  if (temp) rememberTempTable(details.name);
  done(false, -1);
}

void SessionImpl::runDrop(const DropStatement& s) {
  if (s.object == DropObject::Procedure) return runDropProcedure(s);
  if (s.object == DropObject::Rule || s.object == DropObject::Default || s.object == DropObject::Trigger)
    return runDropTextObject(s);
  if (s.object != DropObject::Table && s.object != DropObject::View) throw notSupported("This DROP");
  Binder binder(*this);
  StatementTransaction tx(*this, databaseOf(s.names.front()));
  for (const auto& name : s.names) {
    std::optional<TableInfo> t;
    try {
      t = binder.resolveTable(name);
    } catch (const SqlError& e) {
      if (e.number() != 208) throw;
    }
    bool view = s.object == DropObject::View;
    if (!t || (view ? t->type != "V" : t->type != "U"))
      throw SqlError(3701, 11,
                     std::string("Cannot drop the ") + (view ? "view" : "table") + " '" + name.toSql() +
                         "', because it doesn't exist in the system catalogs.");
    requireOwnerOf(view ? "DROP VIEW" : "DROP TABLE", *t);
    if (!storage::isSessionObject(t->database, t->id)) lockDatabase(t->database);
    if (view) {
      dropView(db_, *t);
    } else {
      dropForeignKeys(*t);
      dropCheckConstraints(*t);
      dropTable(db_, *t);
      if (isTemp(name)) forgetTempTable(tempTableName(name.name));
    }
  }
  tx.commit();
  done(false, -1);
}

void SessionImpl::runCreateIndex(const CreateIndexStatement& s) {
  Binder binder(*this);
  TableInfo t = binder.resolveTable(s.table);
  if (t.type != "U")
    throw SqlError(1921, 16, "Cannot create an index on '" + t.name + "': it is not a user table.");
  requireOwnerOf("CREATE INDEX", t);
  IndexSpec details;
  details.name = s.name;
  for (const auto& c : s.columns) details.columns.push_back(c.name);
  details.unique = s.unique;
  details.clustered = s.clustering == Clustering::Clustered;
  StatementTransaction tx(*this, t);
  createIndex(db_, t, details);
  refreshTableStatus(*this, t.database, t.id);
  tx.commit();
  done(false, -1);
}

void SessionImpl::runMaintenance(const MaintenanceStatement& s) {
  // SQLite plans from its own knowledge of the tables and keeps its write-ahead log checkpointed
  // by itself: UPDATE STATISTICS only checks that the table (and index) exist, CHECKPOINT does
  // nothing more, so scripts that run them after a load go on.
  if (s.action == MaintenanceAction::UpdateStatistics) {
    TableInfo t = Binder(*this).resolveTable(s.table);
    if (t.type != "U" && t.type != "S")
      throw SqlError(208, 16, t.name + " is not a table: UPDATE STATISTICS reads tables only.");
    if (!s.index.empty() && std::none_of(t.indexes.begin(), t.indexes.end(),
                                         [&](const IndexInfo& i) { return i.name == s.index; }))
      throw SqlError(2727, 11, "Cannot find index '" + s.index + "'.");
  }
  done(false, -1);
}

void SessionImpl::runDropIndex(const DropIndexStatement& s) {
  Binder binder(*this);
  StatementTransaction tx(*this, databaseOf(s.indexes.front().table));
  for (const auto& ref : s.indexes) {
    TableInfo t = binder.resolveTable(ref.table);
    requireOwnerOf("DROP INDEX", t);
    if (!storage::isSessionObject(t.database, t.id)) lockDatabase(t.database);
    dropIndex(db_, t, ref.index);
    refreshTableStatus(*this, t.database, t.id);
  }
  tx.commit();
  done(false, -1);
}

void SessionImpl::runCreateView(const CreateViewStatement& s) {
  Binder binder(*this);
  binder.setNoVariables(true);
  // Rename the result columns first when the view lists its own names.
  BoundQuery q = binder.bindQuery(*s.query, nullptr, false);
  if (!s.columns.empty() && s.columns.size() != q.columns.size())
    throw SqlError(8158, 16,
                   "'" + s.view.name + "' has more columns than were specified in the column list.");
  for (size_t i = 0; i < s.columns.size(); ++i) q.columns[i].name = s.columns[i];
  for (size_t i = 0; i < q.columns.size(); ++i) {
    if (q.columns[i].name.empty())
      throw SqlError(4511, 16,
                     "Create View failed because no column name was specified for column " +
                         std::to_string(i + 1) + ".");
    for (size_t k = 0; k < i; ++k)
      if (q.columns[k].name == q.columns[i].name)
        throw SqlError(4506, 16,
                       "Column names in each view must be unique. Column name '" + q.columns[i].name +
                           "' in view '" + s.view.name + "' is specified more than once.");
    q.columns[i].identity = false;
  }
  // The SQLite view names its columns as the client sees them: "c1".."cN" are wrapped.
  std::string select = "SELECT ";
  for (size_t i = 0; i < q.columns.size(); ++i)
    select += (i ? ", " : "") + std::string("v.\"c") + std::to_string(i + 1) + "\" AS " +
              Binder::quoteIdent(q.columns[i].name);
  select += " FROM (" + q.sql + ") AS v";
  ViewSpec details;
  details.database = s.view.database.empty() ? database_ : s.view.database;
  details.owner = s.view.owner.empty() ? user_ : s.view.owner;
  details.name = s.view.name;
  details.sqliteSelect = select;
  details.tsqlText = std::string(s.sourceText(batch_));
  details.columns = q.columns;
  if (!databaseExists(db_, details.database)) throw unknownDatabase(details.database);
  permissions_->requireCreate(details.database, kActionCreateView, "CREATE VIEW");
  permissions_->requireOwner("CREATE VIEW", details.database, details.owner, details.name);
  StatementTransaction tx(*this, details.database);
  createView(db_, details);
  tx.commit();
  done(false, -1);
}

void SessionImpl::dropTempTablesCreatedSince(const std::set<std::string>& before) {
  std::vector<std::string> created;
  for (const std::string& stored : tempTables_)
    if (!before.count(stored)) created.push_back(stored);
  if (created.empty()) return;
  CatalogChange change(*this);
  StatementTransaction tx(*this, std::string());
  for (const std::string& stored : created) {
    auto t = tabsrv::resolveTable(db_, ObjectRef{"tempdb", "dbo", stored}, "tempdb", "dbo");
    if (t) {
      dropCheckConstraints(*t);
      dropTable(db_, *t);
    }
  }
  tx.commit();
  for (const std::string& stored : created) forgetTempTable(stored);
}

TableInfo SessionImpl::createTempTable(const TableSpec& details, const std::string& name) {
  try {
    return createTable(db_, details);
  } catch (const SqlError& e) {
    // The name the user wrote, not the one the table is stored under.
    if (e.number() != 2714) throw;
    throw SqlError(2714, 16, "There is already an object named '" + name + "' in the database.");
  }
}

}  // namespace tabsrv
