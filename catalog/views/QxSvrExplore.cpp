// TQxSvrExplore: building the tree, the lazy listings and the click decoding.

#include "catalog/views/QxSvrExplore.h"

#include "access/QorixDatabase.h"
#include "access/QorixUtils.h"
#include "catalog/service/QxSqlText.h"

const TQxSvrExplore::TFolder TQxSvrExplore::kFolders[12] = {
    {"Users", 1, okUser},           {"Groups", 2, okGroup},
    {"System Tables", 3, okSystemTable}, {"User Tables", 4, okUserTable},
    {"Views", 5, okView},           {"Indexes", 6, okIndex},
    {"Triggers", 7, okTrigger},     {"Procedures", 8, okProcedure},
    {"Rules", 9, okRule},           {"User Datatypes", 10, okUserDatatype},
    {"System Datatypes", 11, okSystemDatatype}, {"Segments", 12, okSegment}};

namespace {

enum { kImageFields = 13, kImageIndexes = 6, kImagePrimary = 15, kImageParameters = 14, kImageColumn = 12 };

void AddTableSubFolders(TQxTreeNode* table) {
  table->AddChild(QStringLiteral("Fields"), kImageFields)->AddPlaceholder();
  table->AddChild(QStringLiteral("Indexes"), kImageIndexes)->AddPlaceholder();
  table->AddChild(QStringLiteral("Primary Fields"), kImagePrimary)->AddPlaceholder();
}

// The connection's current database, when the connection is the full component.
QString ConnectionDbName(TQorixDatabaseBase* db) {
  if (auto* full = dynamic_cast<TQorixDatabase*>(db)) return full->DbName();
  return {};
}

}  // namespace

TQxSvrExplore::TQxSvrExplore(TComponent* owner)
    : TQxViewComponent(owner), query_(std::make_unique<TQorixEnhQuery>()),
      objInfo_(std::make_unique<TQorixObjInfo>()) {
  SetMsgDialogs({});
}

TQxSvrExplore::~TQxSvrExplore() = default;

void TQxSvrExplore::EnsureSelectDb() {
  if (selectDb_.trimmed().isEmpty()) selectDb_ = ConnectionDbName(Database());
}

void TQxSvrExplore::Changed(TQxTreeNode* node) {
  if (OnNodesChanged) OnNodesChanged(node);
}

QString TQxSvrExplore::ListingSQL(int position, const QString& db, const QString& rdbms) {
  // Every catalogue table is named database.dbo.table; the database name passes the quoting
  // helper so no name can end the statement early.
  const QString d = QxSql::Ident(db);
  const QString objects = QStringLiteral(" FROM ") + d + QStringLiteral(".dbo.sysobjects so, ") + d +
                          QStringLiteral(".dbo.sysusers su WHERE so.type=");
  const QString ownerName = QStringLiteral("SELECT su.name + \".\" + so.name");
  switch (position) {
    case 0:
      return QStringLiteral("SELECT name FROM ") + d + QStringLiteral(".dbo.sysusers WHERE gid<>uid ORDER BY name");
    case 1:
      return QStringLiteral("SELECT name FROM ") + d + QStringLiteral(".dbo.sysusers WHERE gid=uid ORDER BY name");
    case 2:
      return ownerName + objects + QStringLiteral("'S' AND so.uid = su.uid ORDER BY so.name");
    case 3:
      return QStringLiteral("SELECT name = convert(varchar(61),su.name + \".\" + so.name)") + objects +
             QStringLiteral("'U' AND so.uid = su.uid ORDER BY so.name");
    case 4:
      return ownerName + objects + QStringLiteral("'V' AND so.uid = su.uid ORDER BY so.name");
    case 5:
      if (rdbms == kRdbmsSqlAnywhere)
        return QStringLiteral("SELECT trim(st.table_name + '.' + si.index_name) FROM SYSINDEX si, SYSTABLE st "
                              "WHERE st.table_id = si.table_id ORDER BY si.index_id");
      // Index ids 1 to 254 are indexes; 255 is a table's text chain.
      return QStringLiteral("SELECT so.name + '.' + si.name FROM ") + d + QStringLiteral(".dbo.sysobjects so,") + d +
             QStringLiteral(".dbo.sysindexes si WHERE so.id = si.id AND si.indid between 1 and 254 AND so.type IN "
                            "('U','S') ORDER BY so.name,si.indid");
    case 6:
      return ownerName + objects + QStringLiteral("'TR' AND so.uid = su.uid AND so.name IS NOT NULL ORDER BY so.name");
    case 7:
      return ownerName + objects + QStringLiteral("'P' AND so.uid = su.uid ORDER BY so.name");
    case 8:
      return ownerName + objects + QStringLiteral("'R' AND so.uid = su.uid ORDER BY so.name");
    case 9:
      // User types start at usertype 100 (100 itself included).
      return QStringLiteral("SELECT name FROM ") + d + QStringLiteral(".dbo.systypes WHERE usertype >= 100 ORDER BY name");
    case 10:
      return QStringLiteral("SELECT name FROM ") + d + QStringLiteral(".dbo.systypes WHERE usertype < 100 ORDER BY name");
    case 11:
      return QStringLiteral("SELECT name FROM ") + d + QStringLiteral(".dbo.syssegments ORDER BY name");
  }
  return {};
}

void TQxSvrExplore::LoadServer(const QString& databaseName) {
  CheckDatabase();
  EnsureSelectDb();
  HandOn(*query_);
  objInfo_->MsgDialogs = MsgDialogs();
  objInfo_->ShowDbMessages = ShowDbMessages;
  objInfo_->OnDbError = OnDbError;
  objInfo_->AfterDbError = AfterDbError;
  objInfo_->OnDbMessage = OnDbMessage;
  objInfo_->AfterDbMessage = AfterDbMessage;
  objInfo_->SetSelectDb(selectDb_);
  objInfo_->DbName = DbName;
  objInfo_->SetDatabase(Database());

  TCursorGuard cursor(ExecCursor, UseExecCursor);
  struct Finally {
    TQxSvrExplore* self;
    ~Finally() { self->Changed(nullptr); }
  } finally{this};
  Selected = nullptr;
  items_.clear();
  const QStringList databases =
      databaseName.trimmed().isEmpty() ? QStringList(objInfo_->GetDatabaseList()) : QStringList{databaseName};
  for (const QString& name : databases) {
    TQxTreeNode* db = TQxTreeNode::AddTop(items_, name, 0);
    for (const TFolder& folder : kFolders)
      db->AddChild(QString::fromLatin1(folder.Caption), folder.Image)->AddPlaceholder();
  }
}

void TQxSvrExplore::Clear() {
  Selected = nullptr;
  items_.clear();
  Changed(nullptr);
}

void TQxSvrExplore::NodeExpanding(TQxTreeNode* node) {
  if (!node) return;
  Selected = node;
  TCursorGuard cursor(ExecCursor, UseExecCursor);
  query_->Cancel(CS_CANCEL_ALL);
  switch (node->Level()) {
    case 0:
      SelectedDb = node->Text;
      break;
    case 1:
      ListFolder(node);
      break;
    case 3: {
      SelectedDb = node->Root()->Text;
      const QString text = node->Text.toUpper();
      if (node->Index() == 0 && text == QLatin1String("FIELDS"))
        LoadFields(node);
      else if (node->Index() == 0 && text == QLatin1String("PARAMETERS"))
        LoadParameters(node);
      else if (node->Index() == 1)
        LoadIndexes(node);
      else if (node->Index() == 2 && text == QLatin1String("PRIMARY FIELDS"))
        LoadPrimaryFields(node);
      query_->Cancel(CS_CANCEL_ALL);
      break;
    }
    default:
      break;
  }
}

void TQxSvrExplore::ListFolder(TQxTreeNode* folder) {
  if (!folder->HoldsOnlyPlaceholder()) return;
  folder->DeleteChildren();
  SelectedDb = folder->Parent()->Text;
  const TFolder& kind = kFolders[folder->Index()];
  const QString rdbms = Database() ? Database()->GetRdbms() : QString();
  try {
    query_->SetSQL(ListingSQL(folder->Index(), SelectedDb, rdbms));
    query_->Open();
    // The rows are read to the end before anything else goes to the server.
    while (query_->Next()) {
      TQxTreeNode* object = folder->AddChild(query_->GetFieldValue(1), kind.Image);
      if (kind.Kind == okUserTable) AddTableSubFolders(object);
      if (kind.Kind == okProcedure) object->AddChild(QStringLiteral("Parameters"), kImageParameters)->AddPlaceholder();
    }
    query_->Cancel(CS_CANCEL_ALL);
  } catch (...) {
    // A failed listing leaves the folder as it was before, so a later expansion tries again.
    folder->DeleteChildren();
    folder->AddPlaceholder();
    Changed(folder);
    throw;
  }
  Changed(folder);
}

void TQxSvrExplore::FillSubFolder(TQxTreeNode* node, const std::function<void()>& fill) {
  if (!node->HoldsOnlyPlaceholder()) return;
  node->DeleteChildren();
  objInfo_->SetSelectDb(SelectedDb);
  try {
    fill();
  } catch (...) {
    node->DeleteChildren();
    node->AddPlaceholder();
    Changed(node);
    throw;
  }
  Changed(node);
}

void TQxSvrExplore::LoadFields(TQxTreeNode* node) {
  FillSubFolder(node, [&] {
    objInfo_->LoadColumns(StripOwnerPrefix(node->Parent()->Text));
    for (int i = 1; i <= objInfo_->ColumnCount; ++i) node->AddChild(objInfo_->ColumnName(i), kImageColumn);
    objInfo_->ClearColumns();
  });
}

void TQxSvrExplore::LoadIndexes(TQxTreeNode* node) {
  FillSubFolder(node, [&] {
    const QStringList indexes = objInfo_->GetTableIndexes(StripOwnerPrefix(node->Parent()->Text));
    for (const QString& index : indexes) node->AddChild(index, kImageIndexes);
  });
}

void TQxSvrExplore::LoadPrimaryFields(TQxTreeNode* node) {
  FillSubFolder(node, [&] {
    // The catalogue service finds the owner itself and builds owner-qualified names from the
    // bare table name; handing it owner.name would qualify the owner twice.
    std::unique_ptr<TQxTableKeys> keys = objInfo_->GetPrimaryKeys(StripOwnerPrefix(node->Parent()->Text.trimmed()));
    if (keys) {
      QStringList columns;
      SplitString(keys->Keys, QLatin1Char(';'), columns);
      for (const QString& column : columns) node->AddChild(column, kImagePrimary);
    }
    objInfo_->ClearColumns();
  });
}

void TQxSvrExplore::LoadParameters(TQxTreeNode* node) {
  FillSubFolder(node, [&] {
    std::unique_ptr<TQxColumnList> list =
        objInfo_->GetColumnList(StripOwnerPrefix(node->Parent()->Text), QStringLiteral("P"));
    if (list)
      for (const TQxColumn& column : *list) node->AddChild(column.Name, kImageColumn);
    TQorixObjInfo::FreeColumnList(list, true);
  });
}

void TQxSvrExplore::Decode(bool doubleClick) {
  SelectedKind = okNone;
  SingleObject = false;
  TQxTreeNode* node = Selected;
  if (!node) return;
  if (!doubleClick) SelectedObject = node->Text;
  switch (node->Level()) {
    case 0:
      SelectedDb = node->Text;
      SelectedKind = okDatabase;
      SingleObject = true;
      break;
    case 1:
      SelectedDb = node->Parent()->Text;
      SelectedKind = kFolders[node->Index() % 12].Kind;
      break;
    case 2:
      SelectedDb = node->Parent()->Parent()->Text;
      SelectedKind = kFolders[node->Parent()->Index() % 12].Kind;
      SingleObject = true;
      break;
    case 3: {
      SelectedDb = node->Root()->Text;
      if (doubleClick) break;
      SelectedObject = StripOwnerPrefix(node->Parent()->Text);
      if (node->Index() == 1) SelectedKind = okTableIndex;
      if (node->Index() == 2) SelectedKind = okPrimaryKeyColumn;
      const QString text = node->Text.toUpper();
      if (text == QLatin1String("FIELDS")) SelectedKind = okColumn;
      if (text == QLatin1String("PARAMETERS")) SelectedKind = okParameter;
      if (text == QLatin1String("PRIMARY FIELDS")) SelectedKind = okPrimaryKey;
      break;
    }
    case 4: {
      SelectedDb = node->Root()->Text;
      SingleObject = true;
      const TQxTreeNode* sub = node->Parent();
      const QString g = StripOwnerPrefix(sub->Parent()->Text);
      const QString qualified = g + QLatin1Char('.') + node->Text;
      const QString text = sub->Text.toUpper();
      if (sub->Index() == 0) {
        if (text == QLatin1String("FIELDS")) SelectedKind = okColumn;
        if (text == QLatin1String("PARAMETERS")) SelectedKind = okParameter;
        if (text == QLatin1String("PRIMARY FIELDS")) SelectedKind = okPrimaryKey;
        if (SelectedKind != okNone) SelectedObject = qualified;
      } else if (sub->Index() == 1) {
        SelectedKind = okTableIndex;
        SelectedObject = qualified;
      } else if (sub->Index() == 2) {
        SelectedKind = okPrimaryKeyColumn;
        if (!doubleClick) SelectedObject = node->Text;
      }
      break;
    }
    default:
      break;
  }
}

void TQxSvrExplore::Click() {
  Decode(false);
  if (OnClick) OnClick(this);
}

void TQxSvrExplore::DblClick() {
  Decode(true);
  if (OnDblClick) OnDblClick(this);
}
