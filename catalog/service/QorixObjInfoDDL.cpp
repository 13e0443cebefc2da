// Definition text of TQorixObjInfo: CREATE TABLE laid out column for column, CREATE INDEX, the
// stored source of procedures, views, triggers, defaults and rules, and the system-procedure
// calls that recreate a user datatype or a database user.

#include <QStringList>
#include <map>

#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SysUtils.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QorixObjInfoPrivate.h"
#include "catalog/service/QxSqlText.h"

namespace {

const QString kNoData = QStringLiteral("/* Data not available */");

QString TrimRight(const QString& s) {
  int n = static_cast<int>(s.size());
  while (n > 0 && s.at(n - 1).isSpace()) --n;
  return s.left(n);
}

}  // namespace

QString TQorixObjInfo::PadRight(const QString& s, QChar ch, int width) {
  if (s.size() >= width) return s;
  return s + QString(width - static_cast<int>(s.size()), ch);
}

namespace {

// The types whose definition names a length.
bool TakesLength(const QString& type) {
  static const QStringList kTypes{QStringLiteral("char"),    QStringLiteral("varchar"),  QStringLiteral("binary"),
                                  QStringLiteral("varbinary"), QStringLiteral("nchar"),  QStringLiteral("nvarchar"),
                                  QStringLiteral("unichar"), QStringLiteral("univarchar")};
  return kTypes.contains(type);
}

bool TakesPrecision(const QString& type) {
  return type == QLatin1String("numeric") || type == QLatin1String("decimal");
}

// A name as a system procedure's argument: as it stands when it is a regular identifier, else
// as a string literal ('owner.table', 'it''s').
QString ProcArg(const QString& name) {
  return QxSql::IsRegularIdent(name) ? name : QxSql::Literal(name, QLatin1Char('\''));
}

// Table Name of Owner as sp_primarykey and sp_bindrule name it: with its owner unless dbo owns it.
QString OwnedName(const QString& owner, const QString& name) {
  return owner.isEmpty() || owner == QLatin1String("dbo") ? name : owner + QLatin1Char('.') + name;
}

bool StartsWithWord(const QString& text, const QString& word) {
  const QString t = text.trimmed();
  return t.startsWith(word, Qt::CaseInsensitive) && (t.size() == word.size() || !t.at(word.size()).isLetterOrNumber());
}

}  // namespace

QString TQorixObjInfo::FormatColumnDef(int i) const {
  // A column name that is not a regular identifier is bracketed so the text runs as it reads; a
  // name that fills its 30 places still gets one blank before its type.
  const QString name = QxSql::Ident(ColumnName(i));
  QString line = QStringLiteral(" ") + PadRight(name, QLatin1Char(' '), 30);
  if (name.size() >= 30) line += QLatin1Char(' ');
  line += ColumnTypeName(i);
  const QString type = ColumnTypeName(i);
  if (TakesLength(type)) line += QStringLiteral("(%1)").arg(ColumnLength(i));
  if (TakesPrecision(type)) line += QStringLiteral("(%1,%2)").arg(ColumnPrec(i)).arg(ColumnScale(i));
  // The column's own default, before the null keyword as the statement wants it.
  if (const TQxColumnInfo* c = Column(i); c && !c->DefaultText.isEmpty())
    line += QStringLiteral(" DEFAULT ") + c->DefaultText;
  if (ColumnIdentity(i)) line += QStringLiteral(" identity");
  line = PadRight(TrimRight(line), QLatin1Char(' '), 60);
  line += ColumnNullable(i) ? QStringLiteral("NULL") : QStringLiteral("NOT NULL");
  return line;
}

void TQorixObjInfo::LoadTableAdditions(const TQxObjectRef& ref, QStringList& constraints, QStringList& bindings) {
  constraints.clear();
  bindings.clear();
  if (!IsSybase() || !ref.Found()) return;
  // The default and rule of each column.
  struct Bound {
    QString column;
    int32_t cdefault = 0;
    int32_t domain = 0;
  };
  std::vector<Bound> bound;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT c.name, c.cdefault, c.domain FROM ") + SysTable(QStringLiteral("syscolumns c")) +
            QStringLiteral(" WHERE c.id = ") + QxSql::Integer(ref.Id) +
            QStringLiteral(" AND (c.cdefault <> 0 OR c.domain <> 0) ORDER BY c.colid"));
    for (const QStringList& r : ReadAll())
      bound.push_back({r.value(0), objinfo::ToInt(r.value(1)), objinfo::ToInt(r.value(2))});
  }
  // Those objects and the table's check constraints (objects of type R whose deltrig is the
  // table), each with its owner and its stored text.
  QStringList ids;
  for (const Bound& b : bound) {
    if (b.cdefault) ids << QxSql::Integer(b.cdefault);
    if (b.domain) ids << QxSql::Integer(b.domain);
  }
  struct Object {
    QString owner, name, type;
    int32_t deltrig = 0;
    QString text;
  };
  std::map<int32_t, Object> objects;
  std::vector<int32_t> checks;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT so.id, su.name, so.name, so.type, so.deltrig, c.text FROM ") +
            SysTable(QStringLiteral("sysobjects so, ")) + SysTable(QStringLiteral("sysusers su, ")) +
            SysTable(QStringLiteral("syscomments c")) +
            QStringLiteral(" WHERE su.uid = so.uid AND c.id = so.id AND (so.type = 'R' AND so.deltrig = ") +
            QxSql::Integer(ref.Id) +
            (ids.isEmpty() ? QString() : QStringLiteral(" OR so.id IN (") + ids.join(QLatin1Char(',')) + QLatin1Char(')')) +
            QStringLiteral(") ORDER BY so.id, c.colid"));
    // Stored text is split across rows at arbitrary points: read untrimmed.
    query_->TrimResults = false;
    try {
      for (const QStringList& r : ReadAll()) {
        const int32_t id = objinfo::ToInt(r.value(0));
        auto [it, added] = objects.try_emplace(id);
        Object& o = it->second;
        if (added) {
          o.owner = r.value(1).trimmed();
          o.name = r.value(2).trimmed();
          o.type = r.value(3).trimmed();
          o.deltrig = objinfo::ToInt(r.value(4));
          if (o.type == QLatin1String("R") && o.deltrig == ref.Id) checks.push_back(id);
        }
        o.text += r.value(5);
      }
    } catch (...) {
      query_->TrimResults = true;
      throw;
    }
    query_->TrimResults = true;
  }
  for (int32_t id : checks) {
    const Object& o = objects[id];
    constraints << QStringLiteral(" CONSTRAINT ") + QxSql::Ident(o.name) + QLatin1Char(' ') + o.text.trimmed();
  }
  // A bound rule or default is named with its owner when dbo does not own it; the column is
  // named table.column, with the owner when dbo does not own the table.
  auto objectName = [](const Object& o) {
    const QString n = QxSql::Ident(o.name);
    return o.owner.isEmpty() || o.owner == QLatin1String("dbo") ? n : QxSql::Ident(o.owner) + QLatin1Char('.') + n;
  };
  const QString table = ref.Owner == QLatin1String("dbo") ? ref.Name : ref.Owner + QLatin1Char('.') + ref.Name;
  for (const Bound& b : bound) {
    const QString target = QxSql::Literal(table + QLatin1Char('.') + b.column, QLatin1Char('\''));
    if (auto it = objects.find(b.cdefault); b.cdefault && it != objects.end()) {
      // A column's own DEFAULT is kept as "DEFAULT expr"; a default made by CREATE DEFAULT and
      // bound to the column keeps its statement.
      if (StartsWithWord(it->second.text, QStringLiteral("DEFAULT"))) {
        for (int i = 1; i <= ColumnCount; ++i)
          if (columns_[static_cast<size_t>(i)].Name == b.column)
            columns_[static_cast<size_t>(i)].DefaultText = it->second.text.trimmed().mid(7).trimmed();
      } else {
        bindings << QStringLiteral("EXECUTE sp_bindefault ") + objectName(it->second) + QStringLiteral(", ") + target;
      }
    }
    if (auto it = objects.find(b.domain); b.domain && it != objects.end())
      bindings << QStringLiteral("EXECUTE sp_bindrule ") + objectName(it->second) + QStringLiteral(", ") + target;
  }
}

QStringList TQorixObjInfo::TableKeyCalls(const TQxObjectRef& ref) {
  if (!IsSybase() || !ref.Found()) return {};
  // The table's primary key first (a foreign key of another table may name it), then its foreign
  // keys, each with its own key columns. Ids are named from SelectDb's own catalogue, since
  // col_name() and object_name() read the current database.
  std::vector<QStringList> keys;
  {
    ReadScope scope(*this);
    QString columns;
    for (int k = 1; k <= 8; ++k) columns += QStringLiteral(", key%1").arg(k);
    SetText(QStringLiteral("SELECT type, depid") + columns + QStringLiteral(" FROM ") +
            SysTable(QStringLiteral("syskeys")) + QStringLiteral(" WHERE id = ") + QxSql::Integer(ref.Id) +
            QStringLiteral(" AND type IN (1, 2) ORDER BY type"));
    keys = ReadAll();
  }
  if (keys.empty()) return {};
  std::map<int32_t, QString> columns;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT colid, name FROM ") + SysTable(QStringLiteral("syscolumns")) +
            QStringLiteral(" WHERE id = ") + QxSql::Integer(ref.Id));
    for (const QStringList& r : ReadAll()) columns[objinfo::ToInt(r.value(0))] = r.value(1);
  }
  QStringList referenced;
  for (const QStringList& k : keys)
    if (objinfo::ToInt(k.value(0)) == 2 && objinfo::ToInt(k.value(1)) != 0) referenced << QxSql::Integer(objinfo::ToInt(k.value(1)));
  std::map<int32_t, QString> tables;
  if (!referenced.isEmpty()) {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT so.id, su.name, so.name FROM ") + SysTable(QStringLiteral("sysobjects so, ")) +
            SysTable(QStringLiteral("sysusers su")) + QStringLiteral(" WHERE su.uid = so.uid AND so.id IN (") +
            referenced.join(QLatin1Char(',')) + QLatin1Char(')'));
    for (const QStringList& r : ReadAll())
      tables[objinfo::ToInt(r.value(0))] = ProcArg(OwnedName(r.value(1), r.value(2)));
  }
  QStringList calls;
  const QString table = ProcArg(OwnedName(ref.Owner, ref.Name));
  for (const QStringList& k : keys) {
    QStringList args{table};
    const bool foreign = objinfo::ToInt(k.value(0)) == 2;
    if (foreign) {
      const auto pk = tables.find(objinfo::ToInt(k.value(1)));
      if (pk == tables.end()) continue;  // the primary-key table is gone
      args << pk->second;
    }
    for (int c = 2; c < 10; ++c) {
      const auto column = columns.find(objinfo::ToInt(k.value(c)));
      if (column != columns.end()) args << ProcArg(column->second);
    }
    calls << (foreign ? QStringLiteral("EXECUTE sp_foreignkey ") : QStringLiteral("EXECUTE sp_primarykey ")) +
                 args.join(QStringLiteral(", "));
  }
  return calls;
}

const QStringList& TQorixObjInfo::GetTableDDL(const QString& tableName) {
  LoadColumns(tableName);
  if (ColumnCount < 1) {
    resultList_ << kNoData;
  } else {
    const TQxObjectRef ref = FindObject(tableName);
    ownerText_ = ref.Owner;
    QStringList constraints, bindings;
    LoadTableAdditions(ref, constraints, bindings);
    const QString db = PrefixDbName.trimmed().isEmpty() ? selectDb_ : PrefixDbName;
    // Names that are not regular identifiers are bracketed, so the text runs as it reads.
    const QString table = QxSql::Ident(ref.Name);
    const QString header = PrefixWithDbName ? QStringLiteral("CREATE TABLE ") + QxSql::Ident(db.trimmed()) +
                                                  QLatin1Char('.') + QxSql::Ident(ref.Owner) + QLatin1Char('.') + table
                                            : QStringLiteral("CREATE TABLE ") + QxSql::Ident(ref.Owner) + QLatin1Char('.') + table;
    QStringList lines{header, QStringLiteral("(")};
    for (int i = 1; i < ColumnCount; ++i) lines << TrimRight(FormatColumnDef(i)) + QLatin1Char(',');
    lines << TrimRight(FormatColumnDef(ColumnCount));
    // The check constraints follow the columns, each as a named table constraint.
    for (const QString& c : constraints) {
      lines.last() += QLatin1Char(',');
      lines << c;
    }
    lines << QStringLiteral(")");
    // The rules and defaults bound to columns, then the keys, after the statement that makes the
    // table.
    lines << bindings;
    lines << TableKeyCalls(ref);
    resultList_ = lines;
  }
  ClearColumns();
  return resultList_;
}

const QStringList& TQorixObjInfo::GetIndexDDL(const QString& indexName, const QString& tableName) {
  std::unique_ptr<TQxIndex> idx = GetIndexInfo(indexName, tableName);
  auto work = std::make_unique<QStringList>();
  if (!idx) {
    *work << kNoData;
  } else {
    QString first = QStringLiteral("CREATE ");
    if (idx->StatusFlags.test(ixUnique)) first += QStringLiteral("UNIQUE ");
    // Index id 1 is a table's clustered index whether or not its status says so.
    if (idx->StatusFlags.test(ixClustered) || (IsSybase() && idx->IndId == 1)) first += QStringLiteral("CLUSTERED ");
    // A table another user owns is named with its owner, so the text finds it when dbo runs it.
    QString table = QxSql::Ident(idx->TableName);
    if (IsSybase()) {
      const QString owner = FindObject(tableName).Owner;
      if (!owner.isEmpty() && owner != QLatin1String("dbo")) table = QxSql::Ident(owner) + QLatin1Char('.') + table;
    }
    first += QStringLiteral("INDEX ") + QxSql::Ident(idx->Name) + QStringLiteral(" ON ") + table;
    const QStringList columns =
        GetIndexColumns(tableName.trimmed() + QLatin1Char('.') + QxSql::NamePart(indexName.trimmed()));
    if (columns.isEmpty()) {
      *work << kNoData;
    } else {
      QStringList quoted;
      for (const QString& c : columns) quoted << QxSql::Ident(c);
      *work << first << QStringLiteral("(") + quoted.join(QLatin1Char(',')) + QStringLiteral(")");
      if (IsSybase()) {
        QString options = QStringLiteral("WITH");
        auto add = [&](bool set, const QString& option) {
          if (!set) return;
          if (options != QLatin1String("WITH")) options += QLatin1Char(',');
          options += option;
        };
        add(idx->StatusFlags.test(ixIgnoreDupKey), QStringLiteral(" IGNORE_DUP_KEY"));
        add(idx->StatusFlags.test(ixSortedData), QStringLiteral(" SORTED_DATA"));
        add(idx->StatusFlags.test(ixIgnoreDupRow), QStringLiteral(" IGNORE_DUP_ROW"));
        add(idx->StatusFlags.test(ixAllowDupRow), QStringLiteral(" ALLOW_DUP_ROW"));
        if (options != QLatin1String("WITH")) *work << options;
        *work << QStringLiteral("ON ") + QxSql::Literal(idx->SegmentName, QLatin1Char('\''));
      }
    }
  }
  resultList_ = *work;
  workList_ = std::make_unique<QStringList>();
  return resultList_;
}

void TQorixObjInfo::GetObjectText(const QString& name, QString& text) {
  SettleConnection();
  const QString object = name.trimmed();
  // The object is found by owner and name, so of two same-named objects the one asked for is
  // read; its type comes with it.
  const TQxObjectRef ref = FindObject(object);
  ownerText_ = ref.Owner;
  ReadScope scope(*this);
  const QString type = ref.Type.left(2);
  static const QStringList kTextTypes{QStringLiteral("P"), QStringLiteral("V"), QStringLiteral("R"),
                                      QStringLiteral("D"), QStringLiteral("TR")};
  if (!kTextTypes.contains(type)) DatabaseError(Format(LoadResString(QorixRes::SNotTextObject), {object}), this);
  CancelQuery();
  if (IsAnywhere())
    SetText(QStringLiteral("SELECT text FROM syscomments WHERE id=object_id(") +
            QxSql::Literal(ref.Name, QLatin1Char('\'')) + QStringLiteral(")"));
  else
    SetText(QStringLiteral("SELECT text FROM ") + SysTable(QStringLiteral("syscomments")) +
            QStringLiteral(" WHERE id=object_id(") + ObjectIdText(ref) + QStringLiteral(")"));
  // The source is split across rows at arbitrary points: blanks and line ends at a row's edge
  // belong to the source, so rows are read untrimmed and only the whole text is trimmed.
  query_->TrimResults = false;
  QString source;
  try {
    for (const QStringList& row : ReadAll())
      if (!row.isEmpty()) source += row.front();
  } catch (...) {
    query_->TrimResults = true;
    throw;
  }
  query_->TrimResults = true;
  text = source.trimmed();
}

void TQorixObjInfo::GetUserTypeDDL(const QString& name, QString& text) {
  SettleConnection();
  text = kNoData;
  std::unique_ptr<TQxUserTypeInfo> info = GetUserTypeInfo(name);
  if (!info) return;
  const QString storage = info->StorageType.trimmed();
  QString type = storage;
  if (TakesLength(storage))
    type += QStringLiteral("(%1)").arg(info->Length);
  else if (TakesPrecision(storage))
    type += QStringLiteral("(%1,%2)").arg(info->Prec).arg(info->Scale);
  text = QStringLiteral("EXECUTE sp_addtype ") + QxSql::Ident(name.trimmed()) + QLatin1Char(',') +
         QxSql::Literal(type, QLatin1Char('"')) +
         (info->Identity ? QStringLiteral(",\"identity\"") : QStringLiteral(",NULL")) +
         (info->AllowNulls ? QStringLiteral(",\"NULL\"") : QStringLiteral(",\"NONULL\""));
  // The rule and the default bound to the type follow, each on its own line, so a column of the
  // recreated type refuses and fills as the original's do.
  const QString typeArg = ProcArg(info->TypeName.trimmed());
  if (!info->RuleName.trimmed().isEmpty())
    text += QStringLiteral("\nEXECUTE sp_bindrule ") + ProcArg(info->RuleName.trimmed()) + QStringLiteral(", ") + typeArg;
  if (!info->DefaultName.trimmed().isEmpty())
    text += QStringLiteral("\nEXECUTE sp_bindefault ") + ProcArg(info->DefaultName.trimmed()) + QStringLiteral(", ") +
            typeArg;
}

void TQorixObjInfo::GetUserDDL(const QString& name, QString& text) {
  SettleConnection();
  text = kNoData;
  std::unique_ptr<TQxUser> user = GetUserInfo(name);
  if (!user) return;
  const QString n = QxSql::Literal(name.trimmed(), QLatin1Char('"'));
  text = QStringLiteral("EXECUTE sp_adduser ") + n + QLatin1Char(',') + n + QLatin1Char(',') +
         QxSql::Literal(user->GroupName, QLatin1Char('"'));
}
