// TQxSvrExplore: the server explorer as a plain tree model. The databases of one connection,
// under each the twelve category folders, under each folder the objects of that kind, listed
// the first time the folder is expanded; a click is decoded into the database, the object or
// folder name, the object-kind code and whether it names one object. TQxSvrExploreView shows it.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "catalog/service/QorixObjInfo.h"
#include "catalog/views/QxObjectKind.h"
#include "catalog/views/QxTreeNodes.h"
#include "catalog/views/QxViewComponent.h"

// Told of every change of the explorer's nodes, before and after it, so a view over the nodes
// (TQxSvrExploreModel) can follow them row by row.
class TQxTreeListener {
 public:
  virtual ~TQxTreeListener() = default;
  // The whole tree is about to be rebuilt or cleared / has been.
  virtual void TreeAboutToReset() = 0;
  virtual void TreeReset() = 0;
  // Node's children First..Last are about to go / have gone.
  virtual void ChildrenAboutToBeRemoved(TQxTreeNode* node, int first, int last) = 0;
  virtual void ChildrenRemoved() = 0;
  // Children First..Last are about to be added to Node / have been.
  virtual void ChildrenAboutToBeInserted(TQxTreeNode* node, int first, int last) = 0;
  virtual void ChildrenInserted() = 0;
  // The explorer is being destroyed (its tree was cleared just before).
  virtual void ExplorerDestroyed() = 0;
};

// The explorer tree model.
class TQxSvrExplore : public TQxViewComponent {
 public:
  // The image list, in order: 0 database, 1 to 12 the category folders, 13 a table's "Fields",
  // 14 a procedure's "Parameters", 15 "Primary Fields" and its key columns; a column leaf and a
  // parameter leaf have images of their own after them.
  enum TImage : int {
    imDatabase = 0,
    imUsers,
    imGroups,
    imSystemTables,
    imUserTables,
    imViews,
    imIndexes,
    imTriggers,
    imProcedures,
    imRules,
    imUserDatatypes,
    imSystemDatatypes,
    imSegments,
    imFields,
    imParameters,
    imPrimaryFields,
    imColumn,
    imParameter,
    imImageCount
  };

  // The twelve category folders, in order: caption, image and the kind of their objects.
  struct TFolder {
    const char* Caption;
    int Image;
    TQxObjectKind Kind;
  };
  static const TFolder kFolders[12];

  explicit TQxSvrExplore(TComponent* owner = nullptr);
  ~TQxSvrExplore() override;

  // The database the catalogue service starts in; blank takes the connection's DbName.
  const QString& SelectDb() const { return selectDb_; }
  void SetSelectDb(const QString& value) { selectDb_ = value; }

  // ---- the tree ----
  const std::vector<std::unique_ptr<TQxTreeNode>>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TQxTreeNode* Item(int i) const { return items_[static_cast<size_t>(i)].get(); }
  // The selected node, or null; a click or an expansion selects.
  TQxTreeNode* Selected = nullptr;
  // Told after Node's children changed (null: the whole tree was rebuilt or cleared).
  std::function<void(TQxTreeNode* node)> OnNodesChanged;
  // Told before and after every change of the nodes (null: none); not owned.
  TQxTreeListener* Listener = nullptr;
  // Items are highlighted under the mouse (the view reads it).
  bool HotTrack = true;

  // ---- selection, written by Click, DblClick and (SelectedDb only) expansion ----
  TQxObjectKind SelectedKind = okNone;
  QString SelectedDb;
  QString SelectedObject;
  bool SingleObject = false;
  // Fired by Click and DblClick after the fields are decoded.
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;

  // (Re)builds the tree: every database of the server when DatabaseName is blank, else that one.
  void LoadServer(const QString& databaseName);
  // Removes every node (the selection fields stay).
  virtual void Clear();
  // Decodes the selected node into the selection fields, then fires OnClick.
  void Click();
  // The double-click decoding, then OnDblClick.
  void DblClick();
  // The expansion handler: selects Node and lists a folder or sub-folder on its first expansion.
  void NodeExpanding(TQxTreeNode* node);
  // Sub-folder fillers (a level-3 node); each acts only while the node holds its placeholder.
  void LoadFields(TQxTreeNode* node);
  void LoadIndexes(TQxTreeNode* node);
  void LoadPrimaryFields(TQxTreeNode* node);
  void LoadParameters(TQxTreeNode* node);
  // Sets SelectDb to the connection's DbName when it is blank.
  void EnsureSelectDb();

  // The listing statement of the folder at Position for database Db on the family Rdbms.
  static QString ListingSQL(int position, const QString& db, const QString& rdbms);

  // The private listing engine and catalogue service (for tests that look at what was sent).
  TQorixEnhQuery& ListingQuery() { return *query_; }
  TQorixObjInfo& ObjInfo() { return *objInfo_; }

 private:
  void Decode(bool doubleClick);
  void ListFolder(TQxTreeNode* folder);
  void FillSubFolder(TQxTreeNode* node, const std::function<void(TQxTreeNode::Children&)>& fill);
  void Changed(TQxTreeNode* node);
  // Marks the objects whose name another owner's object shares (Shared: those names), and
  // gives an index of such a table the text owner.table.index.
  static void MarkSharedNames(TQxTreeNode::Children& objects, const QStringList& shared, bool indexes);
  // Node's children become Children, the listener told row by row.
  void ReplaceChildren(TQxTreeNode* node, TQxTreeNode::Children&& children);
  // The table or procedure a sub-folder or leaf belongs to, as the catalogue service takes it
  // (owner.[name]).
  static QString ObjectOfNode(const TQxTreeNode* object);
  // The name a sub-folder or leaf calls its table or procedure by: its own name, or owner.name
  // when another owner's object of the database has that name too.
  static QString ShownObjectName(const TQxTreeNode* object);

  QString selectDb_;
  std::vector<std::unique_ptr<TQxTreeNode>> items_;
  std::unique_ptr<TQorixEnhQuery> query_;
  std::unique_ptr<TQorixObjInfo> objInfo_;
};
