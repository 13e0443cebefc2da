// Declared foreign keys: each is kept as a constraint object of type 'RI' (its table in deltrig)
// with a sysreferences row naming the referencing and referenced columns by colid. A child row
// whose key columns are all non-NULL must find its parent row; a parent row's key may not go while
// a child row names it (547). The tests run once the statement has changed its rows, so a row may
// name itself or another row of the same statement; a failure undoes the whole statement.
#include <algorithm>
#include <set>

#include "server/exec/binder.h"
#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/table_status.h"
#include "server/tsql/ast.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

constexpr size_t kMaxKeyColumns = 16;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Whether a referencing column of type `a` can name a key column of type `b`: the same kind of
// value, stored alike, so the two compare as the key does.
bool compatibleKeyTypes(const TypeDesc& a, const TypeDesc& b) {
  auto integer = [](SqlType t) { return t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int; };
  auto decimal = [](SqlType t) { return t == SqlType::Numeric || t == SqlType::Decimal; };
  auto money = [](SqlType t) { return t == SqlType::Money || t == SqlType::SmallMoney; };
  auto date = [](SqlType t) { return t == SqlType::DateTime || t == SqlType::SmallDateTime; };
  auto approx = [](SqlType t) { return t == SqlType::Real || t == SqlType::Float; };
  auto chars = [](SqlType t) { return t == SqlType::Char || t == SqlType::VarChar; };
  auto bytes = [](SqlType t) { return t == SqlType::Binary || t == SqlType::VarBinary; };
  if (integer(a.type)) return integer(b.type);
  if (decimal(a.type)) return decimal(b.type) && a.scale == b.scale;
  if (money(a.type)) return money(b.type);
  if (date(a.type)) return date(b.type);
  if (approx(a.type)) return approx(b.type);
  if (chars(a.type)) return chars(b.type);
  if (bytes(a.type)) return bytes(b.type);
  return a.type == b.type && a.type == SqlType::Bit;
}

int columnIndex(const TableInfo& t, const std::string& name) {
  const CatalogColumn* c = t.findColumn(name);
  return c ? static_cast<int>(c - t.columns.data()) : -1;
}

std::string keyText(const std::vector<std::string>& columns) {
  std::string s;
  for (const auto& c : columns) s += (s.empty() ? "" : ", ") + c;
  return s;
}

SqlError childViolation(const ForeignKey& k) {
  return SqlError(547, 16,
                  "Foreign key constraint violation occurred, dbname = '" + k.database + "', table name = '" +
                      k.childName + "', constraint name = '" + k.name + "'.");
}

SqlError parentViolation(const ForeignKey& k) {
  return SqlError(547, 16,
                  "Dependent foreign key constraint violation in a referential integrity constraint. dbname = '" +
                      k.database + "', table name = '" + k.parentName + "', constraint name = '" + k.name + "'.");
}

// "c.a IS NOT NULL AND c.b IS NOT NULL" and "p.x = c.a AND p.y = c.b".
std::string allPresent(const ForeignKey& k, const std::string& child) {
  std::string s;
  for (const auto& c : k.childColumns) s += (s.empty() ? "" : " AND ") + child + "." + c + " IS NOT NULL";
  return s;
}

std::string matching(const ForeignKey& k, const std::string& parent, const std::string& child) {
  std::string s;
  for (size_t i = 0; i < k.childColumns.size(); ++i)
    s += (i ? " AND " : "") + parent + "." + k.parentColumns[i] + " = " + child + "." + k.childColumns[i];
  return s;
}

bool touches(const std::vector<int>& columns, const std::vector<bool>* changed) {
  if (!changed) return true;
  return std::any_of(columns.begin(), columns.end(),
                     [&](int i) { return i >= 0 && static_cast<size_t>(i) < changed->size() && (*changed)[i]; });
}

}  // namespace

ParentKeys::~ParentKeys() {
  for (auto& k : keys)
    for (auto& row : k.rows)
      for (sqlite3_value* v : row) sqlite3_value_free(v);
}

void SessionImpl::createForeignKeys(const TableInfo& t, const std::vector<const Constraint*>& keys,
                                    const std::vector<std::string>& columns, bool existingRows) {
  Binder binder(*this);
  for (size_t n = 0; n < keys.size(); ++n) {
    const Constraint& k = *keys[n];
    const std::string label = k.name.empty() ? t.name : k.name;
    if (storage::isSessionObject(t.database, t.id))
      throw SqlError(1763, 16, "A temporary table cannot have a foreign key constraint ('" + label + "').");
    ObjectName target = k.refTable;
    if (target.database.empty()) target.database = t.database;
    if (lower(target.database) != lower(t.database))
      throw SqlError(1763, 16,
                     "Cross-database foreign key references are not supported. Foreign key '" + label + "'.");
    std::optional<TableInfo> parent;
    try {
      parent = binder.resolveTable(target);
    } catch (const SqlError& e) {
      if (e.number() != 208) throw;
    }
    if (!parent || parent->type != "U")
      throw SqlError(1767, 16,
                     "Foreign key '" + label + "' references invalid table '" + k.refTable.toSql() + "'.");
    std::vector<std::string> childCols = k.columns;
    if (childCols.empty() && !columns[n].empty()) childCols = {columns[n]};
    std::vector<std::string> parentCols = k.refColumns;
    if (parentCols.empty()) {
      for (const IndexInfo& i : parent->indexes)
        if (i.primaryKey) parentCols = i.columns;
      if (parentCols.empty())
        throw SqlError(1773, 16,
                       "Foreign key '" + label + "' has implicit reference to object '" + parent->name +
                           "' which does not have a primary key defined on it.");
    }
    if (childCols.size() != parentCols.size())
      throw SqlError(8139, 16,
                     "Number of referencing columns in foreign key '" + label +
                         "' differs from the number of referenced columns, table '" + t.name + "'.");
    if (childCols.size() > kMaxKeyColumns)
      throw SqlError(1750, 16, "Foreign key '" + label + "' has more than 16 columns.");
    std::vector<int> childIdx, parentIdx;
    for (size_t i = 0; i < childCols.size(); ++i) {
      int c = columnIndex(t, childCols[i]), p = columnIndex(*parent, parentCols[i]);
      if (c < 0)
        throw SqlError(1769, 16,
                       "Foreign key '" + label + "' references invalid column '" + childCols[i] +
                           "' in referencing table '" + t.name + "'.");
      if (p < 0)
        throw SqlError(1770, 16,
                       "Foreign key '" + label + "' references invalid column '" + parentCols[i] +
                           "' in referenced table '" + parent->name + "'.");
      childIdx.push_back(c);
      parentIdx.push_back(p);
    }
    // The referenced columns must be those of a primary key or unique index, in any order.
    std::set<std::string> wanted;
    for (int p : parentIdx) wanted.insert(lower(parent->columns[static_cast<size_t>(p)].desc.name));
    const IndexInfo* key = nullptr;
    for (const IndexInfo& i : parent->indexes) {
      if (!i.unique || i.columns.size() != wanted.size()) continue;
      std::set<std::string> have;
      for (const auto& c : i.columns) have.insert(lower(c));
      if (have == wanted) key = &i;
    }
    if (!key || wanted.size() != parentIdx.size())
      throw SqlError(1776, 16,
                     "There are no primary or candidate keys in the referenced table '" + parent->name +
                         "' that match the referencing column list in the foreign key '" + label + "'.");
    for (size_t i = 0; i < childIdx.size(); ++i) {
      const CatalogColumn& c = t.columns[static_cast<size_t>(childIdx[i])];
      const CatalogColumn& p = parent->columns[static_cast<size_t>(parentIdx[i])];
      if (!compatibleKeyTypes(c.desc.type, p.desc.type))
        throw SqlError(1778, 16,
                       "Column '" + parent->name + "." + p.desc.name +
                           "' is not the same datatype as referencing column '" + t.name + "." + c.desc.name +
                           "' in foreign key '" + label + "'.");
    }
    // The constraint object; an unnamed one is named after both tables and its own id.
    TextObjectSpec details;
    details.database = t.database;
    details.owner = t.owner;
    details.name = !k.name.empty() ? k.name : " unnamed reference " + std::to_string(n);
    details.type = "RI";
    details.tableId = t.id;
    details.tsqlText = "FOREIGN KEY (" + keyText(childCols) + ") REFERENCES " + parent->name + " (" +
                       keyText(parentCols) + ")";
    int32_t id = createTextObject(db_, details);
    const std::string name =
        !k.name.empty() ? k.name : t.name.substr(0, 10) + "_" + parent->name.substr(0, 10) + "_" + std::to_string(id);
    {
      SqlStatement link(*this,
                        "UPDATE " + storage::systemTableOf(t.database, "sysobjects", id) +
                            " SET deltrig = ?1, name = ?3 WHERE id = ?2",
                        SqlStatement::Access::Internal);
      link.bindAll({Value{int64_t{t.id}}, Value{int64_t{id}}, Value{name}});
      link.step();
    }
    std::string cols = "indexid, constrid, tableid, reftabid, keycnt, status, frgndbid, pmrydbid, spare2",
                marks = "?1, ?2, ?3, ?4, ?5, 0, 0, 0, 0";
    std::vector<Value> values{Value{int64_t{key->indid}}, Value{int64_t{id}}, Value{int64_t{t.id}},
                              Value{int64_t{parent->id}}, Value{static_cast<int64_t>(childIdx.size())}};
    for (size_t i = 0; i < childIdx.size(); ++i) {
      cols += ", fokey" + std::to_string(i + 1) + ", refkey" + std::to_string(i + 1);
      marks += ", ?" + std::to_string(values.size() + 1) + ", ?" + std::to_string(values.size() + 2);
      values.push_back(Value{int64_t{t.columns[static_cast<size_t>(childIdx[i])].colid}});
      values.push_back(Value{int64_t{parent->columns[static_cast<size_t>(parentIdx[i])].colid}});
    }
    SqlStatement ins(*this,
                     "INSERT INTO " + sqliteObjectName(t.database, "dbo", "sysreferences") + " (" + cols +
                         ") VALUES (" + marks + ")",
                     SqlStatement::Access::Internal);
    ins.bindAll(values);
    ins.step();
    addTableStatus(*this, t.database, t.id, kStat2ForeignKey);
    addTableStatus(*this, parent->database, parent->id, kStat2Referential);
    if (existingRows) {
      // ALTER TABLE ADD CONSTRAINT: the rows already there must hold too.
      ForeignKey fk;
      fk.name = name;
      fk.database = t.database;
      fk.childName = t.name;
      fk.parentName = parent->name;
      fk.childSql = t.sqliteName;
      fk.parentSql = parent->sqliteName;
      for (size_t i = 0; i < childIdx.size(); ++i) {
        fk.childColumns.push_back(Binder::quoteIdent(t.columns[static_cast<size_t>(childIdx[i])].sqliteName));
        fk.parentColumns.push_back(
            Binder::quoteIdent(parent->columns[static_cast<size_t>(parentIdx[i])].sqliteName));
      }
      SqlStatement q(*this,
                     "SELECT 1 FROM " + fk.childSql + " AS c WHERE " + allPresent(fk, "c") +
                         " AND NOT EXISTS (SELECT 1 FROM " + fk.parentSql + " AS p WHERE " + matching(fk, "p", "c") +
                         ") LIMIT 1",
                     SqlStatement::Access::Internal);
      if (q.step()) throw childViolation(fk);
    }
  }
}

void SessionImpl::dropForeignKeys(const TableInfo& t) {
  const std::string refs = sqliteObjectName(t.database, "dbo", "sysreferences");
  const std::string objects = sqliteObjectName(t.database, "dbo", "sysobjects");
  {
    SqlStatement q(*this,
                   "SELECT rtrim(o.name), rtrim(c.name) FROM " + refs + " r JOIN " + objects + " o ON o.id = r.tableid JOIN " +
                       objects + " c ON c.id = r.constrid WHERE r.reftabid = ?1 AND r.tableid <> ?1 ORDER BY r.constrid",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}});
    if (q.step())
      throw SqlError(3712, 16,
                     "Cannot drop table '" + t.name + "' because it is still referenced by table '" +
                         reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0)) + "' (constraint '" +
                         reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 1)) + "').");
  }
  std::vector<std::pair<int32_t, int32_t>> own;  // constraint, referenced table
  {
    SqlStatement q(*this, "SELECT constrid, reftabid FROM " + refs + " WHERE tableid = ?1",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}});
    while (q.step()) own.emplace_back(sqlite3_column_int(q.get(), 0), sqlite3_column_int(q.get(), 1));
  }
  for (auto [id, parent] : own) {
    dropTextObject(db_, t.database, id);
    // The referenced table is no longer marked once nothing references it.
    if (parent != t.id) unmarkUnlessReferenced(t.database, "reftabid", parent, kStat2Referential);
  }
}

void SessionImpl::unmarkUnlessReferenced(const std::string& database, const char* column, int32_t table,
                                         int64_t bit) {
  SqlStatement left(*this,
                    "SELECT 1 FROM " + sqliteObjectName(database, "dbo", "sysreferences") + " WHERE " + column +
                        " = ?1",
                    SqlStatement::Access::Internal);
  left.bindAll({Value{int64_t{table}}});
  if (left.step()) return;
  SqlStatement up(*this,
                  "UPDATE " + sqliteObjectName(database, "dbo", "sysobjects") +
                      " SET sysstat2 = sysstat2 & ~?1 WHERE id = ?2 AND type = 'U'",
                  SqlStatement::Access::Internal);
  up.bindAll({Value{bit}, Value{int64_t{table}}});
  up.step();
}

std::shared_ptr<const TableReferences> SessionImpl::referencesOf(const TableInfo& t) {
  if (t.type != "U") return nullptr;
  const uint64_t stamp = catalogStamp();
  const std::string key = t.database + '\x1f' + std::to_string(t.id);
  auto it = references_.find(key);
  if (it != references_.end() && it->second->stamp == stamp) return it->second->outgoing.empty() && it->second->incoming.empty() ? nullptr : it->second;
  auto r = std::make_shared<TableReferences>();
  r->stamp = stamp;
  if (!storage::isSessionObject(t.database, t.id)) {
    const std::string refs = sqliteObjectName(t.database, "dbo", "sysreferences");
    const std::string objects = sqliteObjectName(t.database, "dbo", "sysobjects");
    std::string cols;
    for (size_t i = 1; i <= kMaxKeyColumns; ++i)
      cols += ", r.fokey" + std::to_string(i) + ", r.refkey" + std::to_string(i);
    SqlStatement q(*this,
                   "SELECT r.tableid, r.reftabid, r.keycnt, rtrim(o.name)" + cols + " FROM " + refs + " r JOIN " +
                       objects + " o ON o.id = r.constrid WHERE r.tableid = ?1 OR r.reftabid = ?1 ORDER BY r.constrid",
                   SqlStatement::Access::Internal);
    q.bindAll({Value{int64_t{t.id}}});
    struct Row {
      int32_t child, parent;
      std::string name;
      std::vector<std::pair<int, int>> colids;
    };
    std::vector<Row> rows;
    while (q.step()) {
      Row row;
      row.child = sqlite3_column_int(q.get(), 0);
      row.parent = sqlite3_column_int(q.get(), 1);
      int n = sqlite3_column_int(q.get(), 2);
      row.name = reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 3));
      for (int i = 0; i < n && i < static_cast<int>(kMaxKeyColumns); ++i)
        row.colids.emplace_back(sqlite3_column_int(q.get(), 4 + 2 * i), sqlite3_column_int(q.get(), 5 + 2 * i));
      rows.push_back(std::move(row));
    }
    // The other table of each key, by id.
    auto tableById = [&](int32_t id) -> std::optional<TableInfo> {
      if (id == t.id) return t;
      SqlStatement n(*this,
                     "SELECT rtrim(o.name), rtrim(u.name) FROM " + objects + " o JOIN " +
                         sqliteObjectName(t.database, "dbo", "sysusers") + " u ON u.uid = o.uid WHERE o.id = ?1",
                     SqlStatement::Access::Internal);
      n.bindAll({Value{int64_t{id}}});
      if (!n.step()) return std::nullopt;
      ObjectName name{t.database, reinterpret_cast<const char*>(sqlite3_column_text(n.get(), 1)),
                      reinterpret_cast<const char*>(sqlite3_column_text(n.get(), 0))};
      try {
        return Binder(*this).resolveTable(name);
      } catch (const SqlError&) {
        return std::nullopt;
      }
    };
    auto indexOfColid = [](const TableInfo& table, int colid) {
      for (size_t i = 0; i < table.columns.size(); ++i)
        if (table.columns[i].colid == colid) return static_cast<int>(i);
      return -1;
    };
    for (const Row& row : rows) {
      std::optional<TableInfo> child = tableById(row.child), parent = tableById(row.parent);
      if (!child || !parent || row.colids.empty()) continue;
      ForeignKey k;
      k.name = row.name;
      k.database = t.database;
      k.childName = child->name;
      k.parentName = parent->name;
      k.childSql = child->sqliteName;
      k.parentSql = parent->sqliteName;
      bool ok = true;
      for (auto [c, p] : row.colids) {
        int ci = indexOfColid(*child, c), pi = indexOfColid(*parent, p);
        if (ci < 0 || pi < 0) {
          ok = false;
          break;
        }
        k.childIndexes.push_back(ci);
        k.parentIndexes.push_back(pi);
        k.childColumns.push_back(Binder::quoteIdent(child->columns[static_cast<size_t>(ci)].sqliteName));
        k.parentColumns.push_back(Binder::quoteIdent(parent->columns[static_cast<size_t>(pi)].sqliteName));
      }
      if (!ok) continue;
      std::vector<std::string> childNames, parentNames;
      for (size_t i = 0; i < k.childIndexes.size(); ++i) {
        childNames.push_back(child->columns[static_cast<size_t>(k.childIndexes[i])].desc.name);
        parentNames.push_back(parent->columns[static_cast<size_t>(k.parentIndexes[i])].desc.name);
      }
      k.definition = child->name + " FOREIGN KEY (" + keyText(childNames) + ") REFERENCES " + parent->name + "(" +
                     keyText(parentNames) + ")";
      if (row.child == t.id) r->outgoing.push_back(k);
      if (row.parent == t.id) r->incoming.push_back(std::move(k));
    }
  }
  references_[key] = r;
  if (references_.size() > 256) references_.clear(), references_[key] = r;
  return r->outgoing.empty() && r->incoming.empty() ? nullptr : r;
}

void SessionImpl::checkChildRows(const TableReferences& r, const std::vector<int64_t>& rowids,
                                 const std::vector<bool>* changed) {
  for (const ForeignKey& k : r.outgoing) {
    if (!touches(k.childIndexes, changed)) continue;
    SqlStatement q(*this,
                   "SELECT 1 FROM " + k.childSql + " AS c WHERE c.rowid = ?1 AND " + allPresent(k, "c") +
                       " AND NOT EXISTS (SELECT 1 FROM " + k.parentSql + " AS p WHERE " + matching(k, "p", "c") + ")",
                   SqlStatement::Access::Internal);
    for (int64_t id : rowids) {
      q.reset();
      q.bindAll({Value{id}});
      if (q.step()) throw childViolation(k);
    }
  }
}

void SessionImpl::captureParentKeys(const TableReferences& r, const std::string& pick,
                                    const std::vector<Value>& params, const std::vector<bool>* changed,
                                    ParentKeys& out) {
  for (const ForeignKey& k : r.incoming) {
    if (!touches(k.parentIndexes, changed)) continue;
    std::string cols, present;
    for (size_t i = 0; i < k.parentColumns.size(); ++i) {
      cols += (i ? ", p." : "p.") + k.parentColumns[i];
      present += std::string(i ? " AND p." : "p.") + k.parentColumns[i] + " IS NOT NULL";
    }
    SqlStatement q(*this,
                   "SELECT DISTINCT " + cols + " FROM " + k.parentSql + " AS p WHERE p.rowid IN (SELECT rowid FROM (" +
                       pick + ")) AND " + present,
                   SqlStatement::Access::Internal);
    q.bindAll(params);
    ParentKeys::Keys keys;
    keys.key = &k;
    while (q.step()) {
      std::vector<sqlite3_value*> row;
      for (int i = 0; i < static_cast<int>(k.parentColumns.size()); ++i)
        row.push_back(sqlite3_value_dup(sqlite3_column_value(q.get(), i)));
      keys.rows.push_back(std::move(row));
    }
    if (!keys.rows.empty()) out.keys.push_back(std::move(keys));
  }
}

void SessionImpl::checkParentKeys(const ParentKeys& keys) {
  for (const ParentKeys::Keys& kept : keys.keys) {
    const ForeignKey& k = *kept.key;
    std::string child, parent;
    for (size_t i = 0; i < k.childColumns.size(); ++i) {
      const std::string mark = "?" + std::to_string(i + 1);
      child += (i ? " AND c." : "c.") + k.childColumns[i] + " = " + mark;
      parent += (i ? " AND p." : "p.") + k.parentColumns[i] + " = " + mark;
    }
    SqlStatement q(*this,
                   "SELECT 1 FROM " + k.childSql + " AS c WHERE " + child + " AND NOT EXISTS (SELECT 1 FROM " +
                       k.parentSql + " AS p WHERE " + parent + ") LIMIT 1",
                   SqlStatement::Access::Internal);
    for (const auto& row : kept.rows) {
      q.reset();
      for (size_t i = 0; i < row.size(); ++i) sqlite3_bind_value(q.get(), static_cast<int>(i + 1), row[i]);
      if (q.step()) throw parentViolation(k);
    }
  }
}

}  // namespace tabsrv
