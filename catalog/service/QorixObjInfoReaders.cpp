// The catalogue readers of TQorixObjInfo: one operation per catalogue question, with its SQL
// for the "Sybase SQL Server" and "SQLAnywhere" families. Every spliced name goes through
// QxSql: "..." and '...' literals double their quote, database names are identifiers, and
// numbers are written as numbers.

#include <QStringList>

#include "access/QorixEnhQuery.h"
#include "access/SysUtils.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QorixObjInfoPrivate.h"
#include "catalog/service/QxSqlText.h"

using objinfo::Cut;
using objinfo::ToInt;

namespace {

// "text" with inner double quotes doubled.
QString Dq(const QString& text) { return QxSql::Literal(text, QLatin1Char('"')); }
// 'text' with inner single quotes doubled.
QString Sq(const QString& text) { return QxSql::Literal(text, QLatin1Char('\'')); }

const QStringList& LastRow(const std::vector<QStringList>& rows) { return rows.back(); }

QString Col(const QStringList& row, int column) {
  return column >= 1 && column <= row.size() ? row.at(column - 1) : QString();
}

// The raw data-format status of a column from the engine's set form (0..10 are 0x1..0x400,
// 11..13 are 0x2000..0x8000), so CS_CANBENULL reads 0x20 and identity 0x8000.
uint16_t StatusBits(const std::bitset<16>& set) {
  uint16_t bits = 0;
  for (int k = 0; k <= 10; ++k)
    if (set.test(static_cast<size_t>(k))) bits |= static_cast<uint16_t>(1u << k);
  for (int k = 11; k <= 13; ++k)
    if (set.test(static_cast<size_t>(k))) bits |= static_cast<uint16_t>(0x2000u << (k - 11));
  return bits;
}

}  // namespace

// ---- GetDatabaseList ----

const QStringList& TQorixObjInfo::GetDatabaseList() {
  SettleConnection();
  ClearResult();
  ReadScope scope(*this);
  SetText(IsAnywhere() ? QStringLiteral("select name = db_name()")
                       : QStringLiteral("SELECT name FROM master.dbo.sysdatabases ORDER BY name"));
  ReadColumnOneIntoResult();
  return resultList_;
}

// ---- GetObjectInfo ----

std::unique_ptr<TQxObject> TQorixObjInfo::GetObjectInfo(const QString& name, bool withColumns, bool withPermissions,
                                                         const QString& owner) {
  SettleConnection();
  // The object is found by owner and name first, so of two same-named objects the one asked
  // for is read.
  const TQxObjectRef ref = FindObject(owner.trimmed().isEmpty()
                                          ? name
                                          : QxSql::NamePart(owner.trimmed()) + QLatin1Char('.') +
                                                QxSql::NamePart(name.trimmed()));
  if (!ref.Found()) return nullptr;
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT Name = so.name, Id = so.id, UId = so.uid, OwnerName = sown.name, "
                           "ObjType = so.type, DelTrigId = so.deltrig, DelTrigName = so_del.name, "
                           "InsTrig = so.instrig, InsTrigName = so_ins.name, UpdTrig = so.updtrig, "
                           "UpdTrigName = so_upd.name, CreateDate = so.crdate, Status = so.sysstat2 FROM ") +
            SysTable(QStringLiteral("sysobjects so,")) + QLatin1Char(' ') +
            SysTable(QStringLiteral("sysobjects so_del,")) + QLatin1Char(' ') +
            SysTable(QStringLiteral("sysobjects so_ins,")) + QLatin1Char(' ') +
            SysTable(QStringLiteral("sysobjects so_upd,")) + QLatin1Char(' ') +
            SysTable(QStringLiteral("sysusers sown ")) + QStringLiteral("WHERE so.name = ") + Dq(ref.Name) +
            QStringLiteral(" AND so.deltrig *= so_del.id AND so.instrig *= so_ins.id AND so.updtrig *= so_upd.id"
                           " AND so.uid *= sown.uid AND so.uid = ") +
            QxSql::Integer(ref.UId));
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  const QStringList& r = LastRow(rows);
  auto obj = std::make_unique<TQxObject>();
  obj->Name = Col(r, 1);
  obj->Id = ToInt(Col(r, 2));
  obj->UId = ToInt(Col(r, 3));
  obj->OwnerName = Col(r, 4);
  obj->ObjType = Cut(Col(r, 5), 2).trimmed();
  obj->DelTrigId = ToInt(Col(r, 6));
  obj->DelTrigName = Col(r, 7);
  obj->InsTrigId = ToInt(Col(r, 8));
  obj->InsTrigName = Col(r, 9);
  obj->UpdTrigId = ToInt(Col(r, 10));
  obj->UpdTrigName = Col(r, 11);
  obj->CreateDate = Cut(Col(r, 12), 28);
  obj->StatusFlags = ObjectStatusFlags(ToInt(Col(r, 13)));
  if (withColumns) {
    // The object lives in SelectDb, the database whose catalogue was just read.
    try {
      obj->Columns = GetColumnList(QxSql::Ident(selectDb_.trimmed()) + QLatin1Char('.') +
                                       QxSql::Ident(obj->OwnerName) + QLatin1Char('.') + QxSql::Ident(obj->Name),
                                   obj->ObjType);
    } catch (const std::exception&) {
      obj->Columns.reset();
    }
  }
  // By the object's id: a same-named object of another owner has permissions of its own.
  if (withPermissions) obj->Permissions = GetPermissions(1, obj->Id, 0);
  return obj;
}

// ---- GetDatabaseInfo ----

std::unique_ptr<TQxDatabase> TQorixObjInfo::GetDatabaseInfo(const QString& name) {
  SettleConnection();
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT Name = sd.name, DbId = sd.dbid, SuId = sd.suid, OwnerName = sl.name, "
                           "Status = sd.status, Status2 = sd.status2, Version = sd.version, "
                           "CreateDate = sd.crdate FROM master.dbo.sysdatabases sd, master.dbo.syslogins sl "
                           "WHERE sd.name = ") +
            Dq(name.trimmed()) + QStringLiteral(" AND sd.suid = sl.suid"));
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  const QStringList& r = LastRow(rows);
  auto db = std::make_unique<TQxDatabase>();
  db->Name = Col(r, 1);
  db->DbId = ToInt(Col(r, 2));
  db->SuId = ToInt(Col(r, 3));
  db->OwnerName = Col(r, 4);
  db->StatusFlags = DatabaseStatusFlags(ToInt(Col(r, 5)));
  db->Status2Flags = DatabaseStatus2Flags(ToInt(Col(r, 6)));
  db->Version = ToInt(Col(r, 7));
  db->CreateDate = Cut(Col(r, 8), 28);
  return db;
}

// ---- GetGroupInfo, GetUserInfo ----

namespace {

std::unique_ptr<TQxGroup> GroupOfRow(const QStringList& r) {
  auto g = std::make_unique<TQxGroup>();
  g->Name = Col(r, 1);
  g->SuId = ToInt(Col(r, 2));
  g->UId = ToInt(Col(r, 3));
  g->GId = ToInt(Col(r, 4));
  g->GroupName = Col(r, 5);
  return g;
}

}  // namespace

std::unique_ptr<TQxGroup> TQorixObjInfo::GetGroupInfo(const QString& name) {
  SettleConnection();
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT Name = name, SuId = suid, UId = uid, GId = gid, GroupName = name FROM ") +
            SysTable(QStringLiteral("sysusers ")) + QStringLiteral("WHERE name = ") + Dq(name.trimmed()) +
            QStringLiteral(" AND gid = uid "));
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  return GroupOfRow(LastRow(rows));
}

std::unique_ptr<TQxUser> TQorixObjInfo::GetUserInfo(const QString& name) {
  SettleConnection();
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT Name = a.name, SuId = a.suid, UId = a.uid, GId = a.gid, GroupName = b.name FROM ") +
            SysTable(QStringLiteral("sysusers a, ")) + SysTable(QStringLiteral("sysusers b ")) +
            QStringLiteral("WHERE a.name = ") + Dq(name.trimmed()) +
            QStringLiteral(" AND a.gid = b.gid AND b.uid = b.gid"));
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  return GroupOfRow(LastRow(rows));
}

// ---- GetIndexInfo ----

std::unique_ptr<TQxIndex> TQorixObjInfo::GetIndexInfo(const QString& indexName, const QString& tableName) {
  SettleConnection();
  // The table is found by owner and name, so an index of one of two same-named tables is that
  // table's.
  const TQxObjectRef table = FindObject(tableName);
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    if (IsAnywhere()) {
      // The unique flag comes from the index's own catalogue row ("Y" unique, "U" primary key).
      SetText(QStringLiteral("SELECT Name = si.index_name, Id = st.table_id, TableName = st.table_name, "
                             "IndId = si.index_id, Segment = 0, SegmentName = \"\", MinLen = 0, MaxLen = 0, "
                             "SoId = 0, Status = CASE WHEN si.[unique] IN ('Y','U') THEN 2 ELSE 0 END, "
                             "Status2 = 0 FROM SYSINDEX si, SYSTABLE st WHERE si.index_name = ") +
              Dq(indexName.trimmed()) + QStringLiteral("  AND st.table_name = ") + Dq(table.Name) +
              QStringLiteral(" AND st.table_id = si.table_id"));
    } else {
      SetText(QStringLiteral("SELECT Name = si.name, Id = si.id, TableName = so.name, IndId = si.indid, "
                             "Segment = si.segment, SegmentName = ss.name, MinLen = si.minlen, "
                             "MaxLen = si.maxlen, SoId = si.soid, Status = si.status, Status2 = si.status2 FROM ") +
              SysTable(QStringLiteral("sysindexes si, ")) + SysTable(QStringLiteral("sysobjects so, ")) +
              SysTable(QStringLiteral("syssegments ss ")) + QStringLiteral("WHERE si.name = ") +
              Dq(indexName.trimmed()) + QStringLiteral("  AND so.name = ") + Dq(table.Name) +
              QStringLiteral(" AND so.type in(\"U\",\"S\") AND so.id = si.id AND si.segment = ss.segment") +
              (table.Found() ? QStringLiteral(" AND so.uid = ") + QxSql::Integer(table.UId) : QString()));
    }
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  const QStringList& r = LastRow(rows);
  auto idx = std::make_unique<TQxIndex>();
  idx->Name = Col(r, 1);
  idx->Id = ToInt(Col(r, 2));
  idx->TableName = Col(r, 3);
  idx->IndId = static_cast<int16_t>(ToInt(Col(r, 4)));
  idx->Segment = static_cast<int16_t>(ToInt(Col(r, 5)));
  idx->SegmentName = Col(r, 6);
  idx->MinLen = static_cast<int16_t>(ToInt(Col(r, 7)));
  idx->MaxLen = static_cast<int16_t>(ToInt(Col(r, 8)));
  idx->SoId = static_cast<int16_t>(ToInt(Col(r, 9)));
  idx->StatusFlags = IndexStatusFlags(ToInt(Col(r, 10)));
  idx->Status2Flags = IndexStatus2Flags(ToInt(Col(r, 11)));
  return idx;
}

// ---- GetLoginInfo, GetDeviceInfo ----

std::unique_ptr<TQxLogin> TQorixObjInfo::GetLoginInfo(const QString& name) {
  SettleConnection();
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetText(QStringLiteral("SELECT Name = name, SuId = suid, Status = status,TotCpu = totcpu, TotIo = totio, "
                           "DbName = dbname, Language = language, PwDate = pwdate, FullName = fullname "
                           "FROM master.dbo.syslogins WHERE name = ") +
            Dq(name.trimmed()));
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  const QStringList& r = LastRow(rows);
  auto login = std::make_unique<TQxLogin>();
  login->Name = Col(r, 1);
  login->SuId = ToInt(Col(r, 2));
  login->StatusFlags = LoginStatusFlags(ToInt(Col(r, 3)));
  login->TotCpu = ToInt(Col(r, 4));
  login->TotIo = ToInt(Col(r, 5));
  login->DbName = Col(r, 6);
  login->Language = Col(r, 7);
  login->PwDate = Cut(Col(r, 8), 28);
  login->FullName = Col(r, 9);
  return login;
}

std::unique_ptr<TQxDevice> TQorixObjInfo::GetDeviceInfo(const QString& name) {
  SettleConnection();
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetLines({QStringLiteral("SELECT Name = name, "), QStringLiteral("Status = status, "),
              QStringLiteral("PhysName = phyname, "), QStringLiteral("MirrorName = mirrorname, "),
              QStringLiteral("CntrlType = cntrltype "), QStringLiteral("FROM master.dbo.sysdevices "),
              QStringLiteral("WHERE name = ") + Dq(name.trimmed())});
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  const QStringList& r = LastRow(rows);
  auto dev = std::make_unique<TQxDevice>();
  dev->Name = Col(r, 1);
  dev->StatusFlags = DeviceStatusFlags(ToInt(Col(r, 2)));
  dev->PhysName = Col(r, 3);
  dev->MirrorName = Col(r, 4);
  dev->CntrlType = static_cast<int16_t>(ToInt(Col(r, 5)));
  return dev;
}

// ---- GetIndexColumns, GetTableIndexes ----

const QStringList& TQorixObjInfo::GetIndexColumns(const QString& tableIndex) {
  SettleConnection();
  ClearResult();
  if (IsAnywhere()) {
    ReadScope scope(*this);
    SetLines({QStringLiteral("SELECT sc.column_name"), QStringLiteral(" FROM SYSTABLE st,"),
              QStringLiteral(" SYSIXCOL sic,"), QStringLiteral(" SYSCOLUMN sc,"), QStringLiteral(" SYSINDEX si"),
              QStringLiteral(" WHERE st.table_id = sc.table_id"), QStringLiteral(" AND si.table_id = sc.table_id"),
              QStringLiteral(" AND si.index_id = sic.index_id"), QStringLiteral(" AND sc.table_id = sic.table_id"),
              QStringLiteral(" AND sc.column_id = sic.column_id"),
              QStringLiteral(" AND st.table_name + '.' + si.index_name = ") + Sq(tableIndex),
              QStringLiteral(" ORDER BY sequence")});
    ReadColumnOneIntoResult();
    return resultList_;
  }
  if (!IsSybase()) return resultList_;
  // TableIndex is cut at its last dot: the table (owner-qualified or holding dots of its own)
  // is found first, and index_col is given its full name in SelectDb, so a table of another
  // owner or database lists its columns too.
  QString container, index;
  SplitLeafName(tableIndex, container, index);
  const TQxObjectRef table = FindObject(container);
  if (!table.Found()) return resultList_;
  const QString object = ObjectIdText(table);
  ReadScope scope(*this);
  SetLines({QStringLiteral("SELECT INDEX_COL(") + object + QStringLiteral(", x.indid, c.colid)"),
            QStringLiteral(" FROM ") + SysTable(QStringLiteral("sysindexes x,")),
            QStringLiteral(" ") + SysTable(QStringLiteral("syscolumns c")),
            QStringLiteral(" WHERE x.id = object_id (") + object + QStringLiteral(")"),
            QStringLiteral(" AND indid BETWEEN 1 AND 254"), QStringLiteral(" AND x.id = c.id"),
            QStringLiteral(" AND c.colid <= x.keycnt"),
            QStringLiteral(" AND INDEX_COL(") + object + QStringLiteral(", x.indid, c.colid)<>''"),
            QStringLiteral(" AND x.name = ") + Sq(index), QStringLiteral(" ORDER BY x.name, x.indid,"),
            QStringLiteral(" c.colid ASC")});
  ReadColumnOneIntoResult();
  return resultList_;
}

const QStringList& TQorixObjInfo::GetTableIndexes(const QString& tableName) {
  SettleConnection();
  const TQxObjectRef table = FindObject(tableName);
  ownerText_ = table.Owner;
  ClearResult();
  ReadScope scope(*this);
  if (IsAnywhere()) {
    SetText(QStringLiteral("SELECT si.index_name FROM SYS.SYSINDEX si, SYS.SYSTABLE st WHERE si.table_id = "
                           "st.table_id  AND st.table_name = ") +
            Dq(table.Name) + QStringLiteral(" ORDER BY si.index_id"));
  } else {
    if (!table.Found()) return resultList_;
    // indid 255 is a table's text chain, not an index.
    SetText(QStringLiteral("SELECT name FROM ") + SysTable(QStringLiteral("sysindexes")) +
            QStringLiteral(" WHERE id = object_id(") + ObjectIdText(table) +
            QStringLiteral(") and indid BETWEEN 1 AND 254"));
  }
  ReadColumnOneIntoResult();
  return resultList_;
}

// ---- GetColumnList ----

std::unique_ptr<TQxColumnList> TQorixObjInfo::GetColumnList(const QString& name, const QString& objType) {
  SettleConnection();
  const QString type = objType.trimmed().toUpper();
  const bool described = type == QLatin1String("U") || type == QLatin1String("S") || type == QLatin1String("V");
  if (!described && type != QLatin1String("P")) return nullptr;
  // A procedure is found by owner and name first; object_id then names it in SelectDb, not in
  // the connection's current database.
  const TQxObjectRef proc = described ? TQxObjectRef{} : FindObject(name);
  ReadScope scope(*this);
  PrepareQuery();
  query_->ClearSQL();
  auto list = std::make_unique<TQxColumnList>();
  if (described) {
    query_->SetSQL(QStringLiteral("SELECT * FROM ") + QxSql::QualifiedIdent(name.trimmed()) +
                   QStringLiteral(" WHERE 1=2"));
    query_->DescribeColumns();
    const int n = query_->ColumnCount();
    for (int i = 1; i <= n; ++i) {
      TQxColumn c;
      c.Name = query_->GetFieldName(i);
      c.Length = query_->GetFieldMaxLength(i);
      c.Scale = query_->GetFieldScale(i);
      c.Prec = query_->GetFieldPrecision(i);
      c.TypeName = query_->GetFieldTypeName(i);
      c.Status = StatusBits(query_->GetFieldStatus(i));
      list->append(c);
    }
    return list;
  }
  if (IsSybase()) {
    if (!proc.Found()) return list;
    SetLines({QStringLiteral("SELECT c.name,"), QStringLiteral(" ISNULL(c.length,0),"),
              QStringLiteral(" ISNULL(c.scale,0),"), QStringLiteral(" ISNULL(c.prec,0),"), QStringLiteral(" t.name,"),
              QStringLiteral(" ISNULL(c.status,0)"), QStringLiteral(" FROM ") + SysTable(QStringLiteral("syscolumns c,")),
              QStringLiteral(" ") + SysTable(QStringLiteral("systypes t")),
              QStringLiteral(" WHERE c.usertype = t.usertype"),
              QStringLiteral(" AND c.id = object_id (") + ObjectIdText(proc) + QStringLiteral(")"),
              QStringLiteral(" AND c.number = 1"), QStringLiteral(" ORDER BY colid ASC")});
  } else if (IsAnywhere()) {
    SetLines({QStringLiteral("SELECT"), QStringLiteral(" sproc.parm_name,"), QStringLiteral(" ISNULL(sproc.width,0),"),
              QStringLiteral(" ISNULL(sproc.scale,0),"), QStringLiteral(" ISNULL(sproc.width,0),"),
              QStringLiteral(" ISNULL(sut.type_name, sd.domain_name),"), QStringLiteral(" 0"),
              QStringLiteral(" FROM SYS.SYSPROCPARM sproc,"), QStringLiteral(" SYS.SYSPROCEDURE sp,"),
              QStringLiteral(" SYS.SYSUSERTYPE sut,"), QStringLiteral(" SYS.SYSDOMAIN sd"),
              QStringLiteral(" WHERE sproc.proc_id = sp.proc_id"),
              QStringLiteral(" AND sp.proc_name = ") + Sq(proc.Name), QStringLiteral(" AND sproc.parm_type = 0"),
              QStringLiteral(" AND sproc.domain_id = sd.domain_id"),
              QStringLiteral(" AND sproc.domain_id *= sut.domain_id"),
              QStringLiteral(" AND sproc.user_type *= sut.type_id"), QStringLiteral(" ORDER BY sproc.parm_id")});
  } else {
    return list;
  }
  for (const QStringList& r : ReadAll()) {
    TQxColumn c;
    c.Name = Col(r, 1);
    c.Length = ToInt(Col(r, 2));
    c.Scale = ToInt(Col(r, 3));
    c.Prec = ToInt(Col(r, 4));
    c.TypeName = Col(r, 5);
    c.Status = 0;
    list->append(c);
  }
  return list;
}

// ---- GetPermissions ----

std::unique_ptr<TQxProtectList> TQorixObjInfo::GetPermissions(uint8_t filterKind, const QVariant& filterValue,
                                                             uint8_t action) {
  SettleConnection();
  // Ids are integers: anything else is refused before a text is built.
  auto integer = [&]() {
    bool ok = false;
    const qlonglong v = filterValue.toString().trimmed().toLongLong(&ok);
    if (!ok) throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(filterValue.toString()));
    return QxSql::Integer(v);
  };
  QString filter;
  switch (filterKind) {
    case 1: filter = QStringLiteral(" AND sp.id = ") + integer(); break;
    case 2: filter = QStringLiteral(" AND so.name = ") + Dq(filterValue.toString()); break;
    case 3: filter = QStringLiteral(" AND sp.uid = ") + integer(); break;
    // user_name() names the users of the connection's current database: the grantee is looked
    // up among SelectDb's users instead.
    case 4:
      filter = QStringLiteral(" AND sp.uid IN (SELECT uid FROM ") + SysTable(QStringLiteral("sysusers")) +
               QStringLiteral(" WHERE name = ") + Dq(filterValue.toString()) + QStringLiteral(")");
      break;
    case 5: filter = QStringLiteral(" AND action = ") + QxSql::Integer(ActionNumberOfProtect(action)); break;
    default: break;
  }
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetLines({QStringLiteral("SELECT Id = sp.id, "), QStringLiteral("ObjectName = so.name, "),
              QStringLiteral("UId = sp.uid, "), QStringLiteral("UserName = su.name, "),
              QStringLiteral("Action = sp.action, "), QStringLiteral("ProtectType = sp.protecttype, "),
              QStringLiteral("Grantor = sp.grantor, "), QStringLiteral("GrantorName = sug.name "),
              QStringLiteral("FROM ") + SysTable(QStringLiteral("sysprotects sp,")),
              QStringLiteral(" ") + SysTable(QStringLiteral("sysobjects so,")),
              QStringLiteral(" ") + SysTable(QStringLiteral("sysusers su,")),
              QStringLiteral(" ") + SysTable(QStringLiteral("sysusers sug")), QStringLiteral(" WHERE so.id = sp.id"),
              QStringLiteral(" AND sp.uid *= su.uid"), QStringLiteral(" AND sp.grantor *= sug.uid"), filter});
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  auto list = std::make_unique<TQxProtectList>();
  for (const QStringList& r : rows) {
    TQxProtect p;
    p.Id = ToInt(Col(r, 1));
    p.ObjectName = Col(r, 2);
    p.UId = ToInt(Col(r, 3));
    p.UserName = Col(r, 4);
    p.Action = ProtectActionOfNumber(ToInt(Col(r, 5)));
    p.ProtectType = ProtectTypeOfNumber(ToInt(Col(r, 6)));
    p.Grantor = ToInt(Col(r, 7));
    p.GrantorName = Col(r, 8);
    list->append(p);
  }
  return list;
}

// ---- GetRowCount ----

int64_t TQorixObjInfo::GetRowCount(const QString& name, const QString& owner) {
  CheckDatabase();
  if (IsAnywhere()) return -1;
  SettleConnection();
  const TQxObjectRef table = FindObject(owner.trimmed().isEmpty() ? name
                                                                 : QxSql::NamePart(owner.trimmed()) + QLatin1Char('.') +
                                                                       QxSql::NamePart(name.trimmed()));
  if (!table.Found()) return -1;
  std::vector<QStringList> rows;
  // rowcnt() finds a table's data pages in the connection's current database only: for a table
  // of another database it would count whichever table of the current one has those pages.
  // There the rows are counted.
  if (selectDb_.trimmed() != ConnectionDbName().trimmed()) {
    {
      ReadScope scope(*this);
      SetText(QStringLiteral("SELECT rowtotal = count(*) FROM ") + QxSql::Ident(selectDb_.trimmed()) +
              QLatin1Char('.') + QxSql::Ident(table.Owner) + QLatin1Char('.') + QxSql::Ident(table.Name));
      rows = ReadAll();
    }
    if (rows.empty() || Col(LastRow(rows), 1).trimmed().isEmpty()) return -1;
    return ToInt(Col(LastRow(rows), 1));
  }
  {
    ReadScope scope(*this);
    SetLines({QStringLiteral(" SELECT  rowtotal = sum(rowcnt(i.doampg)) "),
              QStringLiteral(" FROM ") + SysTable(QStringLiteral("sysobjects o,")),
              QStringLiteral(" ") + SysTable(QStringLiteral("sysindexes i,")),
              QStringLiteral(" master.dbo.spt_values d"), QStringLiteral(" WHERE i.id = o.id"),
              QStringLiteral(" AND o.name = ") + Dq(table.Name), QStringLiteral(" AND d.number = 1"),
              QStringLiteral(" AND d.type = \"E\""), QStringLiteral(" AND o.uid = ") + QxSql::Integer(table.UId)});
    rows = ReadAll();
  }
  // The sum always answers one row: NULL (no such table) means no count.
  if (rows.empty() || Col(LastRow(rows), 1).trimmed().isEmpty()) return -1;
  return ToInt(Col(LastRow(rows), 1));
}

// ---- GetObjectOwner, FindObject ----

void TQorixObjInfo::GetObjectOwner(const QString& name, QString& owner) { owner = FindObject(name).Owner; }

TQxObjectRef TQorixObjInfo::FindObject(const QString& text) {
  SettleConnection();
  if (!workList_) workList_ = std::make_unique<QStringList>();
  // It runs inside other readers: whatever the query still holds is ended first.
  CancelQuery();
  bool bracketed = false;
  const QStringList parts = QxSql::SplitName(text, &bracketed);
  const QString whole = text.trimmed();
  TQxObjectRef ref;
  ref.Name = bracketed ? parts.back() : whole;
  // The owner and name of the reading "owner.name", when the text can be read so.
  QString owner, name;
  QString where;
  if (bracketed) {
    if (parts.size() == 1) {
      where = QStringLiteral(" AND so.name = ") + Dq(parts[0]);
    } else if (parts.size() == 2 || parts.size() == 3) {
      owner = parts[parts.size() - 2];
      name = parts.back();
      where = QStringLiteral(" AND su.name = ") + Dq(owner) + QStringLiteral(" AND so.name = ") + Dq(name);
    } else {
      return ref;
    }
  } else {
    if (whole.isEmpty()) return ref;
    where = QStringLiteral(" AND so.name = ") + Dq(whole);
    const qsizetype dot = whole.indexOf(QLatin1Char('.'));
    if (dot > 0) {
      owner = whole.left(dot).trimmed();
      name = whole.mid(dot + 1).trimmed();
      where = QStringLiteral(" AND (so.name = ") + Dq(whole) + QStringLiteral(" OR (su.name = ") + Dq(owner) +
              QStringLiteral(" AND so.name = ") + Dq(name) + QStringLiteral("))");
    }
  }
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetLines({QStringLiteral("SELECT su.name, so.name, so.id, so.uid, so.type"),
              QStringLiteral(" FROM ") + SysTable(QStringLiteral("sysusers su,")),
              QStringLiteral(" ") + SysTable(QStringLiteral("sysobjects so")),
              QStringLiteral(" WHERE su.uid = so.uid") + where});
    rows = ReadAll();
  }
  // The owner.name reading wins; of same-named objects dbo's, else the lowest uid.
  const QStringList* best = nullptr;
  int64_t bestRank = 0;
  for (const QStringList& r : rows) {
    const int32_t uid = ToInt(Col(r, 4));
    const int64_t rank = !owner.isEmpty() && Col(r, 1) == owner && Col(r, 2) == name ? -2
                         : uid == 1                                                   ? -1
                                                                                      : uid;
    if (!best || rank < bestRank) {
      best = &r;
      bestRank = rank;
    }
  }
  if (!best) return ref;
  ref.Owner = Col(*best, 1);
  ref.Name = Col(*best, 2);
  ref.Id = ToInt(Col(*best, 3));
  ref.UId = ToInt(Col(*best, 4));
  ref.Type = Col(*best, 5).trimmed();
  return ref;
}

const QStringList& TQorixObjInfo::GetSharedObjectNames() {
  SettleConnection();
  ClearResult();
  ReadScope scope(*this);
  SetText(QStringLiteral("SELECT name FROM ") + SysTable(QStringLiteral("sysobjects")) +
          QStringLiteral(" GROUP BY name HAVING count(*) > 1 ORDER BY name"));
  ReadColumnOneIntoResult();
  return resultList_;
}

void TQorixObjInfo::SplitLeafName(const QString& text, QString& container, QString& leaf) {
  // The last dot outside brackets.
  const QString t = text.trimmed();
  qsizetype cut = -1;
  bool inBrackets = false;
  for (qsizetype i = 0; i < t.size(); ++i) {
    const QChar c = t.at(i);
    if (inBrackets) {
      if (c == QLatin1Char(']')) {
        if (i + 1 < t.size() && t.at(i + 1) == QLatin1Char(']'))
          ++i;
        else
          inBrackets = false;
      }
    } else if (c == QLatin1Char('[')) {
      inBrackets = true;
    } else if (c == QLatin1Char('.')) {
      cut = i;
    }
  }
  if (cut < 0) {
    container.clear();
    leaf = QxSql::SplitName(t).back();
    return;
  }
  container = t.left(cut);
  leaf = QxSql::SplitName(t.mid(cut + 1)).back();
}

// ---- GetConfigGroups, GetConfigValues ----

const QStringList& TQorixObjInfo::GetConfigGroups() {
  SettleConnection();
  ClearResult();
  if (IsAnywhere()) return resultList_;
  ReadScope scope(*this);
  SetLines({QStringLiteral("SELECT  convert(char(60), name) "), QStringLiteral("FROM master.dbo.sysconfigures"),
            QStringLiteral(" WHERE config < 100"), QStringLiteral(" AND parent != 19"),
            QStringLiteral(" AND config != 19"), QStringLiteral(" ORDER BY name")});
  ReadColumnOneIntoResult();
  return resultList_;
}

std::unique_ptr<TQxServerConfigList> TQorixObjInfo::GetConfigValues(const QString& group) {
  SettleConnection();
  if (IsAnywhere()) return nullptr;
  const QString filter =
      group.trimmed().isEmpty()
          ? QString()
          : QStringLiteral(" and parent = (SELECT config FROM master.dbo.sysconfigures d WHERE upper(rtrim(name)) = ") +
                Dq(group.trimmed().toUpper()) + QStringLiteral(")");
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    SetLines({QStringLiteral("SELECT \"parameter_name\" = convert(char(30), name),"),
              QStringLiteral(" \"default\" = convert(char(11), space(11-char_length("),
              QStringLiteral(" convert(varchar(11), defvalue))) +"), QStringLiteral(" convert(varchar(11), defvalue)),"),
              QStringLiteral(" \"memory_used\" = convert(char(11), space(11-char_length("),
              QStringLiteral(" convert(varchar(11), c.comment))) +"),
              QStringLiteral(" convert(varchar(11), c.comment)),"),
              QStringLiteral(" \"config_value\" = convert(char(11),space(11-char_length("),
              QStringLiteral(" isnull(b.value2, convert(char(32), b.value)))) +"),
              QStringLiteral(" isnull(b.value2, convert(char(32), b.value))),"),
              QStringLiteral(" \"run_value\"  = convert(char(11), space(11-char_length("),
              QStringLiteral(" isnull(c.value2, convert(char(32), c.value)))) +"),
              QStringLiteral(" isnull(c.value2, convert(char(32), c.value))),"),
              QStringLiteral(" \"message_number\" = c.message_num"), QStringLiteral(" FROM master.dbo.sysconfigures b,"),
              QStringLiteral(" master.dbo.syscurconfigs c"), QStringLiteral(" WHERE b.config = c.config"), filter,
              QStringLiteral(" ORDER BY name")});
    rows = ReadAll();
  }
  auto list = std::make_unique<TQxServerConfigList>();
  for (const QStringList& r : rows)
    list->append(TQxServerConfig{Col(r, 1), Col(r, 2), Col(r, 3), Col(r, 4), Col(r, 5)});
  return list;
}

// ---- LoadColumns, LoadColumn ----

namespace {

// Table is found by owner and name first; its uid keeps a same-named table of another owner out.
QStringList SybaseColumnLines(const QString& selectDbIdent, const TQxObjectRef& table, const QString* column) {
  auto sys = [&](const QString& t) { return selectDbIdent + QStringLiteral(".dbo.") + t; };
  QStringList lines{
      QStringLiteral("SELECT column_name = c.name,"),
      QStringLiteral(" type_name = rtrim(t.name),"),
      QStringLiteral(" prec = isnull(isnull(convert(int, c.prec),isnull(convert(int, d.data_precision),convert(int,c.length)))"),
      QStringLiteral("+isnull(d.aux, convert(int,ascii(substring(\"???AAAFFFCKFOLS\",2*(d.ss_dtype%35+1)+2-8/c.length,1))-60)), 0),"),
      QStringLiteral(" scale = isnull(isnull(convert(smallint, c.scale),"),
      QStringLiteral("convert(smallint, d.numeric_scale)) + convert(smallint, isnull(d.aux, ascii(substring(\"<<<<<<<<<<<<<<?\", 2*(d.ss_dtype%35+1)+2-8/c.length,1))-60)), 0),"),
      QStringLiteral(" length = isnull(isnull(convert(int, c.length), 0),"),
      QStringLiteral("convert(int, d.length)) + convert(int, isnull(d.aux, ascii(substring(\"AAA<BB<DDDHJSPP\", 2*(d.ss_dtype%35+1)+2-8/c.length,1))-64)),"),
      QStringLiteral(" ident = convert(bit, (c.status & 0x80)),"),
      QStringLiteral(" nullable = convert(smallint, convert(bit, c.status&8))"),
      QStringLiteral(" FROM ") + sys(QStringLiteral("syscolumns c,")),
      QStringLiteral(" ") + sys(QStringLiteral("sysobjects o,")),
      QStringLiteral(" sybsystemprocs.dbo.spt_datatype_info d,"),
      QStringLiteral(" ") + sys(QStringLiteral("systypes t")),
      QStringLiteral(" WHERE o.name = ") + Dq(table.Name)};
  if (column) lines << QStringLiteral(" AND c.name = ") + Dq(column->trimmed());
  if (table.Found()) lines << QStringLiteral(" AND o.uid = ") + QxSql::Integer(table.UId);
  lines << QStringLiteral(" AND o.id = c.id") << QStringLiteral(" AND c.usertype = t.usertype")
        << QStringLiteral(" AND t.type = d.ss_dtype") << QStringLiteral(" AND o.type != \"P\"")
        << QStringLiteral(" AND (d.ss_dtype NOT IN (111, 109, 38, 110)") << QStringLiteral(" OR c.usertype >= 100)")
        << QStringLiteral(" ORDER BY colid");
  return lines;
}

// The user type is outer-joined on both of its columns, so columns of a plain domain (no user
// type) are listed too; identity is read from the column's default ("autoincrement").
QStringList AnywhereColumnLines(const TQxObjectRef& table, const QString* column) {
  QStringList lines{QStringLiteral("SELECT column_name = sc.column_name,"),
                    QStringLiteral(" type_name = ISNULL(sut.type_name, sd.domain_name),"),
                    QStringLiteral(" prec = isnull(sc.width, 0),"),
                    QStringLiteral(" scale = isnull(sc.scale, 0),"),
                    QStringLiteral(" lngth = isnull(sc.width, 0),"),
                    QStringLiteral(" ident = isnull(sc.[default], ''),"),
                    QStringLiteral(" nullable = sc.nulls"),
                    QStringLiteral(" FROM SYSTABLE st,"),
                    QStringLiteral(" SYSCOLUMN sc,"),
                    QStringLiteral(" SYSDOMAIN sd,"),
                    QStringLiteral(" SYSUSERTYPE sut"),
                    QStringLiteral(" WHERE st.table_id = sc.table_id"),
                    QStringLiteral(" AND sc.domain_id *= sut.domain_id"),
                    QStringLiteral(" AND sc.user_type *= sut.type_id"),
                    QStringLiteral(" AND sc.domain_id = sd.domain_id"),
                    QStringLiteral(" AND st.table_name = ") + Dq(table.Name)};
  if (column)
    lines << QStringLiteral(" AND sc.column_name = ") + Dq(column->trimmed());
  else
    lines << QStringLiteral(" ORDER BY sc.column_id");
  return lines;
}

}  // namespace

void TQorixObjInfo::FillColumnArray() {
  columns_.clear();
  columns_.emplace_back();  // entry 0 stays empty
  ColumnCount = 0;
  for (const QStringList& r : ReadAll()) {
    TQxColumnInfo c;
    c.Name = Cut(Col(r, 1), 30);
    c.TypeName = Cut(Col(r, 2), 30);
    c.Prec = ToInt(Col(r, 3));
    c.Scale = ToInt(Col(r, 4));
    c.Length = ToInt(Col(r, 5));
    const QString ident = Col(r, 6).trimmed();
    c.Identity = ident == QLatin1String("1") || ident.compare(QLatin1String("autoincrement"), Qt::CaseInsensitive) == 0;
    const QString nullable = Col(r, 7).trimmed();
    c.Nullable = nullable == QLatin1String("1") || nullable == QLatin1String("Y");
    columns_.push_back(c);
  }
  ColumnCount = static_cast<int>(columns_.size()) - 1;
}

void TQorixObjInfo::LoadColumns(const QString& tableName) {
  SettleConnection();
  ClearResult();
  ClearColumns();
  const TQxObjectRef table = FindObject(tableName);
  ReadScope scope(*this);
  PrepareQuery();
  query_->ClearSQL();
  if (IsSybase())
    SetLines(SybaseColumnLines(QxSql::Ident(selectDb_.trimmed()), table, nullptr));
  else if (IsAnywhere())
    SetLines(AnywhereColumnLines(table, nullptr));
  else
    return;
  FillColumnArray();
}

void TQorixObjInfo::LoadColumn(const QString& tableName, const QString& columnName) {
  SettleConnection();
  ClearResult();
  ClearColumns();
  const TQxObjectRef table = FindObject(tableName);
  ReadScope scope(*this);
  PrepareQuery();
  query_->ClearSQL();
  if (IsSybase())
    SetLines(SybaseColumnLines(QxSql::Ident(selectDb_.trimmed()), table, &columnName));
  else if (IsAnywhere())
    SetLines(AnywhereColumnLines(table, &columnName));
  else
    return;
  FillColumnArray();
}

// ---- GetUserTypeInfo ----

namespace {

// The type a user datatype was declared with, from the system type that shares its storage
// code: a nullable base is kept under its "n" code (intn, floatn, datetimn, moneyn, numericn,
// decimaln) and a fixed-length char or binary under the varchar or varbinary code, so the
// code alone names the wrong type ("sp_addtype t, 'numericn'" does not run).
QString DeclaredStorageType(const QString& storage, int32_t length, bool variable) {
  const QString s = storage.trimmed();
  if (s == QLatin1String("intn"))
    return length == 1 ? QStringLiteral("tinyint") : length == 2 ? QStringLiteral("smallint")
                                                   : length == 8 ? QStringLiteral("bigint")
                                                                 : QStringLiteral("int");
  if (s == QLatin1String("floatn")) return length == 4 ? QStringLiteral("real") : QStringLiteral("float");
  if (s == QLatin1String("datetimn"))
    return length == 4 ? QStringLiteral("smalldatetime") : QStringLiteral("datetime");
  if (s == QLatin1String("moneyn")) return length == 4 ? QStringLiteral("smallmoney") : QStringLiteral("money");
  if (s == QLatin1String("numericn")) return QStringLiteral("numeric");
  if (s == QLatin1String("decimaln")) return QStringLiteral("decimal");
  if (!variable && s == QLatin1String("varchar")) return QStringLiteral("char");
  if (!variable && s == QLatin1String("varbinary")) return QStringLiteral("binary");
  return s;
}

}  // namespace

std::unique_ptr<TQxUserTypeInfo> TQorixObjInfo::GetUserTypeInfo(const QString& name) {
  SettleConnection();
  std::vector<QStringList> rows;
  {
    ReadScope scope(*this);
    // char(30): the record keeps names of up to 30 characters. timestamp shares varbinary's
    // storage code and is no base of a user type; the type's variable flag tells char from
    // varchar and binary from varbinary.
    SetText(QStringLiteral("SELECT Type_name = CONVERT(char(30), s.name),Storage_type = CONVERT(char(30), st.name),"
                           "Length = ISNULL(s.length,0),Prec = ISNULL(s.prec,0),Scale = ISNULL(s.scale,0),"
                           "Nulls = ISNULL(s.allownulls,0),Default_name = CONVERT(char(30), so_def.name),"
                           "Rule_name = CONVERT(char(30), so_rul.name),\"Identity\" = s.ident,"
                           "Variable = s.variable FROM ") +
            SysTable(QStringLiteral("systypes s,")) + QLatin1Char(' ') + SysTable(QStringLiteral("systypes st,")) +
            QLatin1Char(' ') + SysTable(QStringLiteral("sysobjects so_rul,")) + QLatin1Char(' ') +
            SysTable(QStringLiteral("sysobjects so_def ")) +
            QStringLiteral(" WHERE s.type = st.type AND st.name NOT IN (\"sysname\", \"nchar\", \"nvarchar\","
                           " \"timestamp\", \"longsysname\")"
                           " AND st.usertype < 100 AND s.domain *= so_rul.id AND s.tdefault *= so_def.id"
                           " AND s.name = ") +
            Dq(name.trimmed()) + QLatin1Char(' '));
    rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  const QStringList& r = LastRow(rows);
  auto info = std::make_unique<TQxUserTypeInfo>();
  info->TypeName = Cut(Col(r, 1), 30);
  info->Length = ToInt(Col(r, 3));
  info->StorageType = Cut(DeclaredStorageType(Col(r, 2), info->Length, ToInt(Col(r, 10)) != 0), 30);
  info->Prec = ToInt(Col(r, 4));
  info->Scale = ToInt(Col(r, 5));
  info->AllowNulls = static_cast<uint8_t>(ToInt(Col(r, 6)) != 0);
  info->DefaultName = Cut(Col(r, 7), 30);
  info->RuleName = Cut(Col(r, 8), 30);
  info->Identity = static_cast<uint8_t>(ToInt(Col(r, 9)) != 0);
  return info;
}

// ---- GetPrimaryKeys ----

std::unique_ptr<TQxTableKeys> TQorixObjInfo::GetPrimaryKeys(const QString& tableName) {
  SettleConnection();
  const TQxObjectRef table = FindObject(tableName);
  ownerText_ = table.Owner;
  std::vector<QStringList> rows;
  const bool anywhere = IsAnywhere();
  {
    ReadScope scope(*this);
    PrepareQuery();
    query_->ClearSQL();
    if (IsSybase()) {
      if (!table.Found()) return nullptr;
      // object_name and col_name read the connection's current database unless given one:
      // both name SelectDb.
      const QString db = DbIdText();
      QStringList lines{QStringLiteral("SELECT related_object = object_name(k.depid, %1), ").arg(db),
                        QStringLiteral("keys = col_name(k.id, key1, %1) ").arg(db)};
      for (int k = 2; k <= 8; ++k)
        lines << QStringLiteral(" + substring(';', 1, char_length(col_name(k.id, key%1, %2))) + col_name(k.id, key%1, %2) ")
                     .arg(k)
                     .arg(db);
      lines << QStringLiteral("FROM ") + SysTable(QStringLiteral("syskeys k, master.dbo.spt_values v "))
            << QStringLiteral("WHERE k.type = v.number AND v.type = 'K'  ") << QStringLiteral("AND v.number = 1 ")
            << QStringLiteral("AND k.id = object_id(") + ObjectIdText(table) + QStringLiteral(")");
      SetLines(lines);
    } else if (anywhere) {
      SetLines({QStringLiteral("SELECT sc.column_name "), QStringLiteral("FROM SYSCOLUMN sc, SYSTABLE st "),
                QStringLiteral("WHERE sc.table_id = st.table_id "), QStringLiteral("AND sc.pkey IN('Y','M') "),
                QStringLiteral("AND st.table_name = ") + Sq(table.Name) + QStringLiteral(" "),
                QStringLiteral("ORDER BY sc.column_id")});
    } else {
      return nullptr;
    }
  rows = ReadAll();
  }
  if (rows.empty()) return nullptr;
  auto keys = std::make_unique<TQxTableKeys>();
  keys->TableName = tableName;
  if (anywhere) {
    QStringList names;
    for (const QStringList& r : rows) names << Col(r, 1);
    keys->Keys = names.join(QLatin1Char(';'));
  } else {
    keys->RelatedObject = Col(LastRow(rows), 1);
    keys->Keys = Col(LastRow(rows), 2);
  }
  return keys;
}
