// TQxPgProperties: the rows of each object kind.

#include "catalog/views/QxPgProperties.h"

#include <memory>

#include "access/QorixEnhQuery.h"
#include "access/QorixUtils.h"
#include "catalog/service/QorixObjInfo.h"

namespace {

QString YesNo(bool set) { return set ? QStringLiteral("Yes") : QStringLiteral("No"); }

}  // namespace

TQxPgProperties::TQxPgProperties(TComponent* owner) : TQxListPage(owner) {
  GridLines = true;
  Contents().AddColumn(QStringLiteral("Property"), Width / 2);
  Contents().AddColumn(QStringLiteral("Value"), Width / 2);
}

void TQxPgProperties::AddRow(const QString& caption, const QString& value) {
  Contents().AddItem(caption).SubItems << value;
}

void TQxPgProperties::AddFlag(const QString& caption, bool set) { AddRow(caption, YesNo(set)); }

void TQxPgProperties::AddSeparator() { AddRow(QString(), QString()); }

void TQxPgProperties::Clear() {
  TQxListUpdate update(Contents());
  Contents().ClearItems();
}

void TQxPgProperties::Resize(int newWidth) {
  Width = newWidth;
  TQxListUpdate update(Contents());
  for (TQxListColumn& column : Contents().Columns()) column.Width = Width / 2;
  Contents().Changed();
}

void TQxPgProperties::Show(const QString& db, TQxObjectKind kind, const QString& name) {
  SetSelectDb(db);
  ShowProperties(kind, name);
}

void TQxPgProperties::ShowProperties(TQxObjectKind kind, const QString& name) {
  CheckDatabase();
  StoreShown(kind, name);
  // The catalogue service lives for this call; its query reports with the page's settings.
  TQorixObjInfo info;
  info.MsgDialogs = MsgDialogs();
  info.ShowDbMessages = ShowDbMessages;
  info.OnDbError = OnDbError;
  info.AfterDbError = AfterDbError;
  info.OnDbMessage = OnDbMessage;
  info.AfterDbMessage = AfterDbMessage;
  info.Query()->SetMsgDialogs(MsgDialogs());
  info.Query()->SetShowDbMessages(ShowDbMessages);
  info.Query()->OnDbError = OnDbError;
  info.Query()->AfterDbError = AfterDbError;
  info.Query()->OnDbMessage = OnDbMessage;
  info.Query()->AfterDbMessage = AfterDbMessage;
  info.UseExecCursor = false;  // the page shows its own cursor for the whole call
  info.SetSelectDb(SelectDb());
  info.DbName = DbName;
  info.SetDatabase(Database());

  TCursorGuard cursor(ExecCursor, UseExecCursor);
  TQxListUpdate update(Contents());
  Contents().ClearItems();
  FillRows(info, kind, name);
}

void TQxPgProperties::FillRows(TQorixObjInfo& info, TQxObjectKind kind, const QString& name) {
  const QString rdbms = Database() ? Database()->GetRdbms() : QString();
  const bool anywhere = rdbms == kRdbmsSqlAnywhere;
  switch (kind) {
    case okDatabase: {
      std::unique_ptr<TQxDatabase> db = info.GetDatabaseInfo(name);
      if (!db) return;
      AddRow(QStringLiteral("Name"), db->Name);
      AddRow(QStringLiteral("DbId"), QString::number(db->DbId));
      AddRow(QStringLiteral("SuId"), QString::number(db->SuId));
      AddRow(QStringLiteral("Owner Name"), db->OwnerName);
      AddRow(QStringLiteral("Date created"), db->CreateDate);
      AddSeparator();
      static const char* const kStatus[] = {"Select into/bulkcopy",
                                            "Trunc log on chkpt",
                                            "No chkpt on recovery",
                                            "Created with \"for load\" option; or crashed while loading",
                                            "Suspect; Not recovered; Cannot be opened or used",
                                            "Ddl in tran",
                                            "Read only",
                                            "Dbo use only",
                                            "Single user",
                                            "Allow nulls by default"};
      for (size_t bit = 0; bit < std::size(kStatus); ++bit)
        AddFlag(QString::fromLatin1(kStatus[bit]), db->StatusFlags.test(bit));
      static const char* const kStatus2[] = {"Abort tran on log full",
                                             "No free space acctg",
                                             "Auto identity",
                                             "Identity in nonunique index",
                                             "Offline",
                                             "Offline until recovery completes",
                                             "Being recovered"};
      for (size_t bit = 0; bit < std::size(kStatus2); ++bit)
        AddFlag(QString::fromLatin1(kStatus2[bit]), db->Status2Flags.test(bit));
      // The flag records a log without a device of its own.
      AddFlag(QStringLiteral("Has a decicated log device"), !db->Status2Flags.test(7));
      return;
    }
    case okGroup:
    case okUser: {
      std::unique_ptr<TQxGroup> g = kind == okGroup ? info.GetGroupInfo(name) : info.GetUserInfo(name);
      if (!g) return;
      AddRow(QStringLiteral("Name"), g->Name);
      AddRow(QStringLiteral("SuId"), QString::number(g->SuId));
      AddRow(QStringLiteral("UId"), QString::number(g->UId));
      AddRow(QStringLiteral("Group ID"), QString::number(g->GId));
      AddRow(QStringLiteral("Group Name"), g->GroupName);
      return;
    }
    case okIndex:
    case okTableIndex: {
      // table.index (owner.table.index) is cut at its last dot, so a table named with a dot of
      // its own keeps it.
      QString table, index;
      TQorixObjInfo::SplitLeafName(name, table, index);
      std::unique_ptr<TQxIndex> idx = info.GetIndexInfo(index, table);
      if (!idx) return;
      AddRow(QStringLiteral("Name"), idx->Name);
      AddRow(QStringLiteral("Table Id"), QString::number(idx->Id));
      AddRow(QStringLiteral("Table Name"), idx->TableName);
      AddRow(QStringLiteral("Index Id"), QString::number(idx->IndId));
      QString type;
      if (idx->IndId == 0)
        type = QStringLiteral("Table");
      else if (idx->IndId == 1)
        type = QStringLiteral("Clustered");
      else if (idx->IndId > 1)
        type = QStringLiteral("Non Clustered");
      AddRow(QStringLiteral("Index type"), type);
      AddRow(QStringLiteral("Columns"), QStringList(info.GetIndexColumns(name)).join(QStringLiteral(", ")));
      AddSeparator();
      AddFlag(QStringLiteral("Supports foreign key constraint"), idx->Status2Flags.test(0));
      AddFlag(QStringLiteral("Supports primary key/unique key constraint"), idx->Status2Flags.test(1));
      AddFlag(QStringLiteral("Includes an IDENTITY column"), idx->Status2Flags.test(2));
      AddFlag(QStringLiteral("Constraint name specified"), !idx->Status2Flags.test(3));
      AddFlag(QStringLiteral("Large I/O's enabled for table, index or text chain"), idx->Status2Flags.test(4));
      AddFlag(QStringLiteral("MRU cache strategy enabled for table, index or text chain"), idx->Status2Flags.test(5));
      AddFlag(QStringLiteral("Ascending inserts turned on for the table"), idx->Status2Flags.test(6));
      AddFlag(QStringLiteral("Abort current command or trigger if duplicate key"), idx->StatusFlags.test(ixIgnoreDupKey));
      AddFlag(QStringLiteral("Abort current command or trigger if duplicate row"), idx->StatusFlags.test(ixIgnoreDupRow));
      AddFlag(QStringLiteral("Unique"), idx->StatusFlags.test(ixUnique));
      AddFlag(QStringLiteral("Clustered"), idx->StatusFlags.test(ixClustered));
      AddFlag(QStringLiteral("Duplicate rows allowed"), idx->StatusFlags.test(ixAllowDupRow));
      AddFlag(QStringLiteral("Sorted object"), idx->StatusFlags.test(ixSorted));
      AddFlag(QStringLiteral("Sorted data option used when created"), idx->StatusFlags.test(ixSortedData));
      AddFlag(QStringLiteral("Being created"), idx->StatusFlags.test(ixBeingCreated));
      AddFlag(QStringLiteral("Index on primary key"), idx->StatusFlags.test(ixPrimaryKey));
      AddFlag(QStringLiteral("Suspect"), idx->StatusFlags.test(ixSuspect));
      return;
    }
    case okLogin: {
      std::unique_ptr<TQxLogin> login = info.GetLoginInfo(name);
      if (!login) return;
      AddRow(QStringLiteral("Name"), login->Name);
      AddRow(QStringLiteral("SuId"), QString::number(login->SuId));
      AddRow(QStringLiteral("Total CPU"), QString::number(login->TotCpu));
      AddRow(QStringLiteral("Total I/O"), QString::number(login->TotIo));
      AddRow(QStringLiteral("Default Language"), login->Language);
      AddRow(QStringLiteral("Default Database"), login->DbName);
      AddRow(QStringLiteral("Password Changed Date"), login->PwDate);
      AddRow(QStringLiteral("Full Name"), login->FullName);
      AddSeparator();
      AddFlag(QStringLiteral("Expired"), login->StatusFlags.test(2));
      AddFlag(QStringLiteral("Locked"), login->StatusFlags.test(1));
      AddFlag(QStringLiteral("Password NULL"), login->StatusFlags.test(0));
      return;
    }
    case okProcedure:
    case okRule:
    case okSystemTable:
    case okTrigger:
    case okUserTable:
    case okView: {
      // owner.name picks that owner's object among same-named ones; a plain name takes dbo's.
      std::unique_ptr<TQxObject> obj = info.GetObjectInfo(name, false, false);
      if (!obj) return;
      const bool table = kind == okSystemTable || kind == okUserTable;
      AddRow(QStringLiteral("Name"), obj->Name);
      AddRow(QStringLiteral("Id"), QString::number(obj->Id));
      AddRow(QStringLiteral("UId"), QString::number(obj->UId));
      AddRow(QStringLiteral("Owner Name"), obj->OwnerName);
      if (table) {
        if (ShowRowCount && !anywhere)
          AddRow(QStringLiteral("RowCount"), QString::number(info.GetRowCount(obj->Name, obj->OwnerName)));
        AddSeparator();
        AddRow(QStringLiteral("Delete trigger"), obj->DelTrigName);
        AddRow(QStringLiteral("Update trigger"), obj->UpdTrigName);
        AddRow(QStringLiteral("Insert trigger"), obj->InsTrigName);
        AddSeparator();
        AddFlag(QStringLiteral("Table has a foreign key constraint"), obj->StatusFlags.test(1));
        AddFlag(QStringLiteral("Table has a referential constraint"), obj->StatusFlags.test(0));
        AddFlag(QStringLiteral("Table has more than one check constraint"), obj->StatusFlags.test(2));
        AddFlag(QStringLiteral("Table has a primary key constraint"), obj->StatusFlags.test(3));
        AddFlag(QStringLiteral("Table has an IDENTITY field"), obj->StatusFlags.test(6));
        AddFlag(QStringLiteral("Table contains variable-length columns"), !obj->StatusFlags.test(7));
      }
      if (kind == okProcedure) {
        AddSeparator();
        AddFlag(QStringLiteral("Execute only in chained transaction mode"), obj->StatusFlags.test(4));
        AddFlag(QStringLiteral("Execute in any transaction mode"), obj->StatusFlags.test(5));
      }
      AddSeparator();
      AddRow(QStringLiteral("Date created"), obj->CreateDate);
      return;
    }
    case okUserDatatype: {
      std::unique_ptr<TQxUserTypeInfo> type = info.GetUserTypeInfo(name);
      if (!type) return;
      AddRow(QStringLiteral("Name"), type->TypeName);
      AddRow(QStringLiteral("Type Name"), type->StorageType);
      AddRow(QStringLiteral("Length"), QString::number(type->Length));
      AddRow(QStringLiteral("Precision"), QString::number(type->Prec));
      AddRow(QStringLiteral("Scale"), QString::number(type->Scale));
      AddFlag(QStringLiteral("Allow NULL"), type->AllowNulls != 0);
      AddRow(QStringLiteral("Default Name"), type->DefaultName);
      AddRow(QStringLiteral("Rule Name"), type->RuleName);
      AddFlag(QStringLiteral("Identity"), type->Identity != 0);
      return;
    }
    case okColumn: {
      QString table, column;
      TQorixObjInfo::SplitLeafName(name, table, column);
      info.LoadColumn(table, column);
      if (info.ColumnCount < 1) return;
      AddRow(QStringLiteral("Name"), info.ColumnName(1));
      AddRow(QStringLiteral("Type"), info.ColumnTypeName(1));
      AddRow(QStringLiteral("Precision"), QString::number(info.ColumnPrec(1)));
      AddRow(QStringLiteral("Scale"), QString::number(info.ColumnScale(1)));
      AddRow(QStringLiteral("Length"), QString::number(info.ColumnLength(1)));
      AddFlag(QStringLiteral("Identity"), info.ColumnIdentity(1));
      AddFlag(QStringLiteral("Allow NULL"), info.ColumnNullable(1));
      return;
    }
    case okDevice:
    case okDatabaseDevice:
    case okDumpDevice: {
      if (anywhere) return;
      std::unique_ptr<TQxDevice> dev = info.GetDeviceInfo(name);
      if (!dev) return;
      AddRow(QStringLiteral("Name"), dev->Name);
      AddRow(QStringLiteral("Physical Name"), dev->PhysName);
      AddRow(QStringLiteral("Mirror Name"), dev->MirrorName);
      AddRow(QStringLiteral("Controller Type"), QString::number(dev->CntrlType));
      AddSeparator();
      static const std::pair<int, const char*> kBits[] = {
          {0, "Default Disk"},        {1, "Physical Disk"},           {2, "Logical Disk"},
          {3, "Skip Header"},         {4, "Dump Device"},             {5, "Serial Writes"},
          {6, "Mirrored"},            {7, "Reads Mirrored"},          {8, "Secondary Mirror Only"},
          {9, "Mirror Enabled"},      {10, "Master Device Mirrored"}, {12, "Primary Device on Mirror"},
          {13, "Secondary Device on Mirror"}};
      for (const auto& [bit, caption] : kBits)
        AddFlag(QString::fromLatin1(caption), dev->StatusFlags.test(static_cast<size_t>(bit)));
      return;
    }
    default:
      // Kinds 0, 7, 14, 17, 18, 19 and unknown codes have no properties.
      return;
  }
}
