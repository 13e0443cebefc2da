// TQxPgSummary: the statement of each kind and family, the column layouts and the row click.
// Every spliced name goes through QxSql: the database as an identifier, names as literals
// with their quote character doubled, so no catalogue name can end a literal or a statement.

#include "catalog/views/QxPgSummary.h"

#include <QSet>
#include <memory>

#include "access/QorixEnhQuery.h"
#include "access/QorixUtils.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QxSqlText.h"
#include "catalog/views/QxPgProperties.h"

namespace {

QString Q(const QString& text) { return QxSql::Literal(text, QLatin1Char('"')); }
QString Sq(const QString& text) { return QxSql::Literal(text, QLatin1Char('\'')); }

// Object Name of database Db as object_id takes it ('db.owner.name', a part holding a dot
// between brackets), so it is not looked up in the connection's current database. Without a
// found object the name is taken as written.
QString ObjectIdName(const QString& db, const QString& name, const TQxObjectRef* object) {
  if (object && object->Found())
    return QxSql::NamePart(db) + QLatin1Char('.') + QxSql::NamePart(object->Owner) + QLatin1Char('.') +
           QxSql::NamePart(object->Name);
  const QString n = name.trimmed();
  return n.contains(QLatin1Char('.')) ? db + QLatin1Char('.') + n : db + QStringLiteral("..") + n;
}

// " AND alias.uid = N" for a found object, so a same-named object of another owner stays out.
QString OwnerCondition(const char* alias, const TQxObjectRef* object) {
  if (!object || !object->Found()) return {};
  return QStringLiteral(" AND %1.uid = %2").arg(QLatin1String(alias), QxSql::Integer(object->UId));
}

QStringList SybaseColumnLines(const QString& s, const QString& table, const TQxObjectRef* object) {
  return {QStringLiteral("SELECT column_name = c.name,"),
          QStringLiteral(" type_name = rtrim(t.name),"),
          QStringLiteral(" prec = isnull(isnull(convert(int, c.prec),isnull(convert(int, d.data_precision),convert(int,c.length)))"),
          QStringLiteral("+isnull(d.aux, convert(int,ascii(substring(\"???AAAFFFCKFOLS\",2*(d.ss_dtype%35+1)+2-8/c.length,1))-60)), 0),"),
          QStringLiteral(" scale = isnull(isnull(convert(smallint, c.scale),"),
          QStringLiteral("convert(smallint, d.numeric_scale)) + convert(smallint, isnull(d.aux, ascii(substring(\"<<<<<<<<<<<<<<?\", 2*(d.ss_dtype%35+1)+2-8/c.length,1))-60)), 0),"),
          QStringLiteral(" length = isnull(isnull(convert(int, c.length), 0),"),
          QStringLiteral("convert(int, d.length)) + convert(int, isnull(d.aux, ascii(substring(\"AAA<BB<DDDHJSPP\", 2*(d.ss_dtype%35+1)+2-8/c.length,1))-64)),"),
          QStringLiteral(" ident = convert(bit, (c.status & 0x80))"),
          QStringLiteral(" FROM ") + s + QStringLiteral(".dbo.syscolumns c,"),
          QStringLiteral(" ") + s + QStringLiteral(".dbo.sysobjects o,"),
          QStringLiteral(" sybsystemprocs.dbo.spt_datatype_info d,"),
          QStringLiteral(" ") + s + QStringLiteral(".dbo.systypes t"),
          QStringLiteral(" WHERE o.name = ") + Q(table) + OwnerCondition("o", object),
          QStringLiteral(" AND o.id = c.id"),
          QStringLiteral(" AND c.usertype = t.usertype"),
          QStringLiteral(" AND t.type = d.ss_dtype"),
          QStringLiteral(" AND o.type != \"P\""),
          QStringLiteral(" AND (d.ss_dtype NOT IN (111, 109, 38, 110)"),
          QStringLiteral(" OR c.usertype >= 100)"),
          QStringLiteral(" ORDER BY colid")};
}

// The same six facts from the other family's catalogue. The user type is outer-joined on both
// of its columns, so a column of a plain domain is listed too; identity is a column whose
// default is autoincrement.
QStringList AnywhereColumnLines(const QString& table) {
  return {QStringLiteral("SELECT column_name = sc.column_name,"),
          QStringLiteral(" type_name = ISNULL(sut.type_name, sd.domain_name),"),
          QStringLiteral(" prec = isnull(sc.width, 0),"),
          QStringLiteral(" scale = isnull(sc.scale, 0),"),
          QStringLiteral(" lngth = isnull(sc.width, 0),"),
          QStringLiteral(" ident = CASE WHEN sc.[default] = 'autoincrement' THEN 1 ELSE 0 END"),
          QStringLiteral(" FROM SYSTABLE st,"),
          QStringLiteral(" SYSCOLUMN sc,"),
          QStringLiteral(" SYSDOMAIN sd,"),
          QStringLiteral(" SYSUSERTYPE sut"),
          QStringLiteral(" WHERE st.table_id = sc.table_id"),
          QStringLiteral(" AND sc.domain_id *= sut.domain_id"),
          QStringLiteral(" AND sc.user_type *= sut.type_id"),
          QStringLiteral(" AND sc.domain_id = sd.domain_id"),
          QStringLiteral(" AND st.table_name = ") + Q(table),
          QStringLiteral(" ORDER BY sc.column_id")};
}

QStringList SybaseParameterLines(const QString& s, const QString& db, const QString& proc,
                                 const TQxObjectRef* object) {
  return {QStringLiteral("SELECT c.name,"),
          QStringLiteral(" t.name,"),
          QStringLiteral(" ISNULL(c.length,0),"),
          QStringLiteral(" \"??\""),
          QStringLiteral(" FROM ") + s + QStringLiteral(".dbo.syscolumns c,"),
          QStringLiteral(" ") + s + QStringLiteral(".dbo.systypes t"),
          QStringLiteral(" WHERE c.usertype = t.usertype"),
          QStringLiteral(" AND c.id = object_id (") + Q(ObjectIdName(db, proc, object)) + QStringLiteral(")"),
          QStringLiteral(" AND c.number = 1"),
          QStringLiteral(" ORDER BY colid ASC")};
}

QStringList AnywhereParameterLines(const QString& proc) {
  return {QStringLiteral("SELECT"),
          QStringLiteral(" sproc.parm_name,"),
          QStringLiteral(" ISNULL(sut.type_name, sd.domain_name),"),
          QStringLiteral(" ISNULL(sproc.width,0),"),
          QStringLiteral(" \"??\""),
          QStringLiteral(" FROM SYS.SYSPROCPARM sproc,"),
          QStringLiteral(" SYS.SYSPROCEDURE sp,"),
          QStringLiteral(" SYS.SYSUSERTYPE sut,"),
          QStringLiteral(" SYS.SYSDOMAIN sd"),
          QStringLiteral(" WHERE sproc.proc_id = sp.proc_id"),
          QStringLiteral(" AND sp.proc_name = ") + Sq(proc),
          QStringLiteral(" AND sproc.parm_type = 0"),
          QStringLiteral(" AND sproc.domain_id = sd.domain_id"),
          QStringLiteral(" AND sproc.domain_id *= sut.domain_id"),
          QStringLiteral(" AND sproc.user_type *= sut.type_id"),
          QStringLiteral(" ORDER BY sproc.parm_id")};
}

}  // namespace

TQxPgSummary::TQxPgSummary(TComponent* owner) : TQxListPage(owner) {
  Contents().AddColumn(QStringLiteral("Name"), Width / 3);
  Contents().AddColumn(QStringLiteral("Owner"), Width / 3);
  Contents().AddColumn(QStringLiteral("Date Created"), Width / 3);
}

TQxPgSummary::~TQxPgSummary() { SetQxPgProperties(nullptr); }

void TQxPgSummary::SetQxPgProperties(TQxPgProperties* page) {
  if (page == properties_) return;
  if (properties_) RemoveFreeNotification(properties_);
  properties_ = page;
  if (properties_) FreeNotification(properties_);
}

void TQxPgSummary::Notification(TComponent* component, TOperation operation) {
  TQxListPage::Notification(component, operation);
  if (operation == TOperation::opRemove && component == properties_) properties_ = nullptr;
}

QStringList TQxPgSummary::SummarySQL(TQxObjectKind kind, const QString& name, const QString& db,
                                     const QString& rdbms, const TQxObjectRef* object) {
  const bool anywhere = rdbms == kRdbmsSqlAnywhere;
  const QString dbName = db.trimmed();
  const QString s = QxSql::Ident(dbName);
  // The table or procedure by its own name once found (Name may carry its owner).
  const QString n = object && object->Found() ? object->Name : name.trimmed();
  const QStringList base{QStringLiteral("SELECT so.name, su.name,"), QStringLiteral(" so.crdate"),
                         QStringLiteral(" FROM ") + s + QStringLiteral(".dbo.sysusers su, "),
                         s + QStringLiteral(".dbo.sysobjects so"), QStringLiteral(" WHERE su.uid = so.uid")};
  auto withType = [&](const char* type) {
    return base + QStringList{QStringLiteral("AND so.type = \"%1\" ORDER BY so.name").arg(QLatin1String(type))};
  };
  switch (kind) {
    case okProcedure: return withType("P");
    case okRule: return withType("R");
    case okSystemTable: return withType("S");
    case okTrigger:
      return base + QStringList{QStringLiteral("AND so.type = \"TR\" AND so.name IS NOT NULL ORDER BY so.name")};
    case okUserTable: return withType("U");
    case okView: return withType("V");
    case okDatabase:
      if (anywhere) return {QStringLiteral("SELECT db_name()")};
      return {QStringLiteral("SELECT sd.name,"), QStringLiteral(" sl.name,"), QStringLiteral(" sd.crdate"),
              QStringLiteral(" FROM master..syslogins sl,"), QStringLiteral(" master..sysdatabases sd"),
              QStringLiteral(" WHERE sl.suid = sd.suid")};
    case okGroup:
      return {QStringLiteral("SELECT name FROM ") + s + QStringLiteral(".dbo.sysusers WHERE gid=uid ORDER BY name")};
    case okIndex:
      if (anywhere)
        return {QStringLiteral("SELECT si.index_name, st.table_name FROM SYSINDEX si, SYSTABLE st WHERE st.table_id = "
                               "si.table_id ORDER BY st.table_name, si.index_id")};
      // Index ids 1 to 254 are indexes; 255 is a table's text chain. The table's owner comes
      // third (not shown), to tell the indexes of same-named tables apart.
      return {QStringLiteral("SELECT si.name, so.name, su.name FROM ") + s + QStringLiteral(".dbo.sysobjects so,") + s +
              QStringLiteral(".dbo.sysindexes si, ") + s +
              QStringLiteral(".dbo.sysusers su WHERE so.id = si.id  AND si.indid BETWEEN 1 AND 254 AND so.type IN "
                             "('U','S') AND su.uid = so.uid ORDER BY so.name,si.indid")};
    case okLogin:
      return {QStringLiteral("SELECT name, dbname, accdate, pwdate FROM master.dbo.syslogins ORDER BY name")};
    case okSystemDatatype:
      return {QStringLiteral("SELECT name FROM ") + s + QStringLiteral(".dbo.systypes WHERE usertype < 100 ORDER BY name")};
    case okUserDatatype:
      // User types start at usertype 100 (100 itself included).
      return {QStringLiteral("SELECT name FROM ") + s +
              QStringLiteral(".dbo.systypes WHERE usertype >= 100 ORDER BY name")};
    case okUser:
      return {QStringLiteral("SELECT name FROM ") + s + QStringLiteral(".dbo.sysusers WHERE gid<>uid ORDER BY name")};
    case okSegment:
      return {QStringLiteral("SELECT name, segment, status FROM ") + s +
              QStringLiteral(".dbo.syssegments ORDER BY name")};
    case okTableIndex:
      if (anywhere)
        return {QStringLiteral("SELECT si.index_name, st.table_name FROM SYSINDEX si, SYSTABLE st WHERE st.table_id = "
                               "si.table_id AND st.table_name = ") +
                Q(n) + QStringLiteral(" ORDER BY si.index_id")};
      return {QStringLiteral("SELECT si.name, so.name FROM ") + s + QStringLiteral(".dbo.sysobjects so,") + s +
              QStringLiteral(".dbo.sysindexes si WHERE so.id = si.id  AND si.indid BETWEEN 1 AND 254 AND so.name = ") +
              Q(n) + OwnerCondition("so", object) + QStringLiteral(" ORDER BY si.indid")};
    case okColumn:
      return anywhere ? AnywhereColumnLines(n) : SybaseColumnLines(s, n, object);
    case okParameter:
      if (rdbms == kRdbmsSybase) return SybaseParameterLines(s, dbName, name, object);
      if (anywhere) return AnywhereParameterLines(n);
      // No parameter text exists for another family: nothing is sent.
      return {};
    case okPrimaryKey:
      return {};
    case okDevice:
      return {QStringLiteral("SELECT name, phyname FROM master.dbo.sysdevices ORDER BY name")};
    case okDatabaseDevice:
      if (anywhere) return {};
      return {QStringLiteral("SELECT DISTINCT d.name, d.phyname FROM master.dbo.sysdevices d, master.dbo.spt_values v "
                             "WHERE v.type = \"V\" and v.number > -1 AND (d.status & v.number) in (1, 2, 4, 8) ORDER "
                             "BY d.name")};
    case okDumpDevice:
      if (anywhere) return {};
      return {QStringLiteral("SELECT d.name, d.phyname FROM master.dbo.sysdevices d, master.dbo.spt_values v WHERE "
                             "v.type = \"V\" AND v.number > -1 AND d.status & v.number = 16 ORDER BY d.name")};
    default:
      // Kinds 0, 17 and unknown codes: every object of the database with owner and date.
      return base;
  }
}

void TQxPgSummary::BuildColumns(TQxObjectKind kind) {
  TQxListUpdate update(Contents());
  Contents().ClearItems();
  rowOwners_.clear();
  rowTables_.clear();
  Contents().ClearColumns();
  const int w = Width;
  auto add = [&](std::initializer_list<const char*> captions, int width) {
    for (const char* caption : captions) Contents().AddColumn(QString::fromLatin1(caption), width);
  };
  switch (kind) {
    case okGroup:
    case okSystemDatatype:
    case okUserDatatype:
    case okUser:
      add({"Name"}, w);
      break;
    case okIndex:
    case okTableIndex:
      add({"Name", "Table"}, w / 2 - 10);
      break;
    case okLogin:
      add({"Name", "Default Database", "Date Created", "Pwd Date"}, w / 3 - 10);
      break;
    case okSegment:
      add({"Name", "Segment", "Status"}, w / 3 - 10);
      break;
    case okColumn:
      add({"Name", "Type", "Precision", "Scale", "Length", "Identity"}, w / 6 - 10);
      break;
    case okParameter:
      add({"Name", "Type", "Length", "Output"}, w / 4 - 10);
      break;
    case okDevice:
    case okDatabaseDevice:
    case okDumpDevice:
      add({"Name"}, w / 2 - 10);
      add({"Physical Name"}, w);
      break;
    default:
      add({"Name", "Owner", "Date created"}, w / 3 - 10);
      break;
  }
}

void TQxPgSummary::Show(const QString& db, TQxObjectKind kind, const QString& name) {
  SetSelectDb(db);
  ShowSummary(kind, name);
}

void TQxPgSummary::ShowSummary(TQxObjectKind kind, const QString& name) {
  CheckDatabase();
  StoreShown(kind, name);
  auto query = std::make_unique<TQorixEnhQuery>();
  query->IsCursor = true;
  query->CurFetchRows = 100;
  query->ReadOnly = true;
  query->TrimResults = true;
  HandOn(*query);
  BuildColumns(kind);

  TCursorGuard cursor(ExecCursor, UseExecCursor);
  TQxListUpdate update(Contents());
  Contents().ClearItems();
  const QString rdbms = Database() ? Database()->GetRdbms() : QString();
  // The table or procedure of kinds 15, 16 and 18 is found by owner and name first (a name
  // holding a dot, or one of two same-named objects, is then the one meant).
  // The catalogue service that finds objects for this page reports with the page's settings.
  TQorixObjInfo info;
  info.MsgDialogs = MsgDialogs();
  info.ShowDbMessages = ShowDbMessages;
  info.Query()->SetMsgDialogs(MsgDialogs());
  info.Query()->SetShowDbMessages(ShowDbMessages);
  info.Query()->OnDbError = OnDbError;
  info.Query()->AfterDbError = AfterDbError;
  info.Query()->OnDbMessage = OnDbMessage;
  info.Query()->AfterDbMessage = AfterDbMessage;
  info.UseExecCursor = false;
  info.SetSelectDb(SelectDb());
  info.DbName = DbName;
  info.SetDatabase(Database());
  TQxObjectRef object;
  if ((kind == okTableIndex || kind == okColumn || kind == okParameter) && !name.trimmed().isEmpty())
    object = info.FindObject(name);
  const QStringList sql = SummarySQL(kind, name, SelectDb(), rdbms, &object);
  if (sql.isEmpty()) return;
  query->SetSQL(sql);
  struct CancelAtEnd {
    TQorixEnhQuery& q;
    ~CancelAtEnd() {
      try {
        q.Cancel(CS_CANCEL_ALL);
      } catch (...) {
        // A cancel on a broken connection must not hide the read's own outcome.
      }
    }
  } cancel{*query};
  if (query->Open() == 0) return;
  // Every row is read before anything else is sent on the connection. The index summary's third
  // column is the table's owner, kept beside the rows rather than shown.
  bool indexOwners = false;
  while (query->Next()) {
    indexOwners = kind == okIndex && rdbms != kRdbmsSqlAnywhere && query->ColumnCount() >= 3;
    TQxListItem& item = Contents().AddItem(query->GetFieldValue(1));
    const int shown = indexOwners ? 2 : query->ColumnCount();
    for (int c = 2; c <= shown; ++c) item.SubItems << query->GetFieldValue(c);
    if (indexOwners) {
      rowOwners_.push_back(query->GetFieldValue(3));
      rowTables_.push_back(query->GetFieldValue(2));
    }
  }
  query->Cancel(CS_CANCEL_ALL);
  const bool owned = kind == okProcedure || kind == okRule || kind == okSystemTable || kind == okTrigger ||
                     kind == okUserTable || kind == okView;
  if (owned)
    for (const TQxListItem& item : Contents().Items()) rowOwners_.push_back(item.SubItems.value(0));
  if ((owned || indexOwners) && Contents().ItemCount() > 0) MarkSharedNames(info);
}

void TQxPgSummary::MarkSharedNames(TQorixObjInfo& info) {
  // A plain name finds one object of a name that several owners' objects share: those rows keep
  // their owner so that a click names it; the others keep none. An index of such a table shows
  // its table as owner.table.
  const QStringList sharedList = info.GetSharedObjectNames();
  const QSet<QString> shared(sharedList.begin(), sharedList.end());
  for (size_t row = 0; row < rowOwners_.size() && row < Contents().Items().size(); ++row) {
    TQxListItem& item = Contents().Items()[row];
    const bool index = row < rowTables_.size();
    const QString object = index ? rowTables_[row] : item.Caption;
    if (!shared.contains(object)) {
      rowOwners_[row].clear();
    } else if (index && !item.SubItems.isEmpty()) {
      item.SubItems[0] = rowOwners_[row] + QLatin1Char('.') + object;
    }
  }
  Contents().Changed();
}

void TQxPgSummary::Clear() {
  if (Contents().ItemCount() == 0) return;
  rowOwners_.clear();
  rowTables_.clear();
  TQxListUpdate update(Contents());
  Contents().ClearItems();
  Contents().ClearColumns();
}

void TQxPgSummary::Resize(int newWidth) {
  Width = newWidth;
  TQxListUpdate update(Contents());
  const int n = Contents().ColumnCount();
  if (n > 0) {
    for (TQxListColumn& column : Contents().Columns()) column.Width = Width / n;
    Contents().Changed();
  }
}

QString TQxPgSummary::MemberName(int row) const {
  if (row < 0 || row >= Contents().ItemCount()) return {};
  const QString caption = Contents().Cell(row, 0);
  const size_t r = static_cast<size_t>(row);
  const QString owner = r < rowOwners_.size() ? rowOwners_[r] : QString();
  const QString ownerPrefix = owner.isEmpty() ? QString() : QxSql::NamePart(owner) + QLatin1Char('.');
  switch (ShownKind) {
    case okIndex:
      return ownerPrefix + QxSql::NamePart(r < rowTables_.size() ? rowTables_[r] : Contents().Cell(row, 1)) +
             QLatin1Char('.') + QxSql::NamePart(caption);
    case okProcedure:
    case okRule:
    case okSystemTable:
    case okTrigger:
    case okUserTable:
    case okView:
      return owner.isEmpty() ? caption : ownerPrefix + QxSql::NamePart(caption);
    case okTableIndex:
    case okColumn:
    case okParameter:
      // The property page takes an index or column as table.member, the table as it was shown
      // (with its owner when it came with one); a parameter names its procedure too.
      return ShownObject.trimmed() + QLatin1Char('.') + QxSql::NamePart(caption);
    default:
      return caption;
  }
}

QStringList TQxPgSummary::SelectedRow() const {
  const int row = Contents().Selected;
  if (row < 0 || row >= Contents().ItemCount()) return {};
  const TQxListItem& item = Contents().Items()[static_cast<size_t>(row)];
  return QStringList{item.Caption} + item.SubItems;
}

void TQxPgSummary::Click() {
  TQxListPage::Click();
  const int row = Contents().Selected;
  if (row < 0 || row >= Contents().ItemCount() || !properties_) return;
  properties_->DbName = DbName;
  properties_->SetDatabase(Database());
  properties_->SetSelectDb(SelectDb());
  properties_->ShowProperties(ShownKind, MemberName(row));
}
