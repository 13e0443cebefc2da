// TQxSvrExplore: building the tree, the lazy listings and the click decoding.

#include "catalog/views/QxSvrExplore.h"

#include <QSet>

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

// A user table's three sub-folders, each with its placeholder.
void AddTableSubFolders(TQxTreeNode* table) {
  table->AddChild(QStringLiteral("Fields"), TQxSvrExplore::imFields)->AddPlaceholder();
  table->AddChild(QStringLiteral("Indexes"), TQxSvrExplore::imIndexes)->AddPlaceholder();
  table->AddChild(QStringLiteral("Primary Fields"), TQxSvrExplore::imPrimaryFields)->AddPlaceholder();
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

TQxSvrExplore::~TQxSvrExplore() {
  // A view over the nodes forgets them before they go.
  if (Listener) {
    Clear();
    Listener->ExplorerDestroyed();
  }
}

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
      // Index ids 1 to 254 are indexes; 255 is a table's text chain. The table's owner and name
      // follow, to tell the indexes of same-named tables apart.
      return QStringLiteral("SELECT so.name + '.' + si.name, su.name, so.name FROM ") + d + QStringLiteral(".dbo.sysobjects so,") +
             d + QStringLiteral(".dbo.sysindexes si, ") + d +
             QStringLiteral(".dbo.sysusers su WHERE so.id = si.id AND si.indid between 1 and 254 AND so.type IN "
                            "('U','S') AND su.uid = so.uid ORDER BY so.name,si.indid");
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
  // The tree is emptied before the list is read, so a failed read leaves it empty.
  Clear();
  const QStringList databases =
      databaseName.trimmed().isEmpty() ? QStringList(objInfo_->GetDatabaseList()) : QStringList{databaseName};
  if (Listener) Listener->TreeAboutToReset();
  for (const QString& name : databases) {
    TQxTreeNode* db = TQxTreeNode::AddTop(items_, name, imDatabase);
    for (const TFolder& folder : kFolders)
      db->AddChild(QString::fromLatin1(folder.Caption), folder.Image)->AddPlaceholder();
  }
  if (Listener) Listener->TreeReset();
  Changed(nullptr);
}

void TQxSvrExplore::Clear() {
  if (Listener) Listener->TreeAboutToReset();
  Selected = nullptr;
  items_.clear();
  if (Listener) Listener->TreeReset();
  Changed(nullptr);
}

void TQxSvrExplore::ReplaceChildren(TQxTreeNode* node, TQxTreeNode::Children&& children) {
  if (node->Count() > 0) {
    if (Listener) Listener->ChildrenAboutToBeRemoved(node, 0, node->Count() - 1);
    node->DeleteChildren();
    if (Listener) Listener->ChildrenRemoved();
  }
  if (!children.empty()) {
    if (Listener) Listener->ChildrenAboutToBeInserted(node, 0, static_cast<int>(children.size()) - 1);
    node->Adopt(std::move(children));
    if (Listener) Listener->ChildrenInserted();
  }
  Changed(node);
}

void TQxSvrExplore::MarkSharedNames(TQxTreeNode::Children& objects, const QStringList& shared, bool indexes) {
  const QSet<QString> names(shared.begin(), shared.end());
  for (auto& object : objects) {
    object->SharedName = !object->Owner.isEmpty() && names.contains(object->Name);
    if (!indexes) continue;
    // table.index would find another owner's table of that name: owner.table.index names it.
    if (object->SharedName) object->Text = object->Owner + QLatin1Char('.') + object->Text;
    object->Owner.clear();
    object->Name.clear();
  }
}

QString TQxSvrExplore::ObjectOfNode(const TQxTreeNode* object) {
  if (object->Owner.isEmpty()) return QxSql::NamePart(StripOwnerPrefix(object->Text));
  return QxSql::NamePart(object->Owner) + QLatin1Char('.') + QxSql::NamePart(object->Name);
}

QString TQxSvrExplore::ShownObjectName(const TQxTreeNode* object) {
  if (object->SharedName) return object->Text;
  return object->Owner.isEmpty() ? StripOwnerPrefix(object->Text) : object->Name;
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
  ReplaceChildren(folder, {});
  SelectedDb = folder->Parent()->Text;
  const TFolder& kind = kFolders[folder->Index()];
  const QString rdbms = Database() ? Database()->GetRdbms() : QString();
  // Folders whose objects are listed as owner.name (owner names hold no dot).
  const bool owned = kind.Kind == okSystemTable || kind.Kind == okUserTable || kind.Kind == okView ||
                     kind.Kind == okTrigger || kind.Kind == okProcedure || kind.Kind == okRule;
  TQxTreeNode::Children objects;
  // Whether the listing names each object's owner (the other family's index listing does not).
  bool withOwners = owned;
  try {
    query_->SetSQL(ListingSQL(folder->Index(), SelectedDb, rdbms));
    query_->Open();
    // The rows are read to the end before anything else goes to the server; the nodes join the
    // tree once the listing is complete.
    while (query_->Next()) {
      auto object = TQxTreeNode::MakeChild(folder, query_->GetFieldValue(1), kind.Image);
      if (owned) {
        const qsizetype dot = object->Text.indexOf(QLatin1Char('.'));
        if (dot > 0) {
          object->Owner = object->Text.left(dot);
          object->Name = object->Text.mid(dot + 1);
        }
      }
      if (kind.Kind == okIndex && query_->ColumnCount() >= 3) {
        withOwners = true;
        object->Owner = query_->GetFieldValue(2);
        object->Name = query_->GetFieldValue(3);
      }
      if (kind.Kind == okUserTable) AddTableSubFolders(object.get());
      if (kind.Kind == okProcedure) object->AddChild(QStringLiteral("Parameters"), imParameters)->AddPlaceholder();
      objects.push_back(std::move(object));
    }
    query_->Cancel(CS_CANCEL_ALL);
    // Of objects that share a name with another owner's, a plain name finds only one: those are
    // marked so that they are named with their owner.
    if (withOwners && !objects.empty()) {
      objInfo_->SetSelectDb(SelectedDb);
      MarkSharedNames(objects, objInfo_->GetSharedObjectNames(), kind.Kind == okIndex);
    }
  } catch (...) {
    // A failed listing leaves the folder as it was before, so a later expansion tries again.
    TQxTreeNode::Children placeholder;
    placeholder.push_back(TQxTreeNode::MakeChild(folder, QString(), -1));
    ReplaceChildren(folder, std::move(placeholder));
    throw;
  }
  ReplaceChildren(folder, std::move(objects));
}

void TQxSvrExplore::FillSubFolder(TQxTreeNode* node, const std::function<void(TQxTreeNode::Children&)>& fill) {
  if (!node->HoldsOnlyPlaceholder()) return;
  ReplaceChildren(node, {});
  objInfo_->SetSelectDb(SelectedDb);
  TQxTreeNode::Children children;
  try {
    fill(children);
  } catch (...) {
    TQxTreeNode::Children placeholder;
    placeholder.push_back(TQxTreeNode::MakeChild(node, QString(), -1));
    ReplaceChildren(node, std::move(placeholder));
    throw;
  }
  ReplaceChildren(node, std::move(children));
}

// The fillers name the table or procedure with its owner, so of two same-named objects each
// sub-folder lists its own object's members.
void TQxSvrExplore::LoadFields(TQxTreeNode* node) {
  FillSubFolder(node, [&](TQxTreeNode::Children& out) {
    objInfo_->LoadColumns(ObjectOfNode(node->Parent()));
    for (int i = 1; i <= objInfo_->ColumnCount; ++i)
      out.push_back(TQxTreeNode::MakeChild(node, objInfo_->ColumnName(i), imColumn));
    objInfo_->ClearColumns();
  });
}

void TQxSvrExplore::LoadIndexes(TQxTreeNode* node) {
  FillSubFolder(node, [&](TQxTreeNode::Children& out) {
    const QStringList indexes = objInfo_->GetTableIndexes(ObjectOfNode(node->Parent()));
    for (const QString& index : indexes) out.push_back(TQxTreeNode::MakeChild(node, index, imIndexes));
  });
}

void TQxSvrExplore::LoadPrimaryFields(TQxTreeNode* node) {
  FillSubFolder(node, [&](TQxTreeNode::Children& out) {
    std::unique_ptr<TQxTableKeys> keys = objInfo_->GetPrimaryKeys(ObjectOfNode(node->Parent()));
    if (keys) {
      QStringList columns;
      SplitString(keys->Keys, QLatin1Char(';'), columns);
      for (const QString& column : columns) out.push_back(TQxTreeNode::MakeChild(node, column, imPrimaryFields));
    }
    objInfo_->ClearColumns();
  });
}

void TQxSvrExplore::LoadParameters(TQxTreeNode* node) {
  FillSubFolder(node, [&](TQxTreeNode::Children& out) {
    std::unique_ptr<TQxColumnList> list = objInfo_->GetColumnList(ObjectOfNode(node->Parent()), QStringLiteral("P"));
    if (list)
      for (const TQxColumn& column : *list) out.push_back(TQxTreeNode::MakeChild(node, column.Name, imParameter));
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
      SelectedObject = ShownObjectName(node->Parent());
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
      // G.L; a leaf holding a dot is bracketed so the text is cut at the right dot.
      const QString g = ShownObjectName(sub->Parent());
      const QString qualified = g + QLatin1Char('.') + QxSql::NamePart(node->Text);
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
