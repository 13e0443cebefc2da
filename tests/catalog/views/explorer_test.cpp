// The explorer tree model against the local server: the databases with their twelve folders,
// every folder's listing of the sample database, lazy listing (a second expansion reads
// nothing), a folder of more than 100 objects and an empty one, sub-folders, the click decoding,
// a failed listing that a later expansion retries, the other family's index listing, names
// with quotes and SQL-looking text, and the widget's screenshot.
#include "access/QorixExceptions.h"
#include "catalog/views/QxSvrExplore.h"
#include "catalog/views/QxExplorerIcons.h"
#include "catalog/views/QxSvrExploreView.h"

#include <QCoreApplication>
#include <QImage>
#include <chrono>
#include <malloc.h>
#include <QScrollBar>
#include "views_fixture.h"

namespace {

class ExplorerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = viewtest::Connect(QStringLiteral("db"));
    ASSERT_TRUE(db_->Connected());
    tree_.SetDatabase(db_.get());
    tree_.ShowDbMessages = TShowDbMessages{smDbErr};
  }
  // The folder at Position under database node Db (expanded).
  TQxTreeNode* Folder(TQxTreeNode* db, int position) {
    TQxTreeNode* folder = db->Child(position);
    tree_.NodeExpanding(folder);
    return folder;
  }
  static QStringList Texts(const TQxTreeNode* node) {
    QStringList out;
    for (int i = 0; i < node->Count(); ++i) out << node->Child(i)->Text;
    return out;
  }
  static TQxTreeNode* Find(TQxTreeNode* node, const QString& text) {
    for (int i = 0; i < node->Count(); ++i)
      if (node->Child(i)->Text == text) return node->Child(i);
    return nullptr;
  }
  void ClickOn(TQxTreeNode* node) {
    tree_.Selected = node;
    tree_.Click();
  }
  // Database, object, kind and flag of the selection as one text.
  QString Selection() const {
    return QStringLiteral("%1|%2|%3|%4")
        .arg(tree_.SelectedDb, tree_.SelectedObject)
        .arg(int(tree_.SelectedKind))
        .arg(tree_.SingleObject ? "single" : "folder");
  }

  std::unique_ptr<TQorixDatabase> db_;
  TQxSvrExplore tree_;
};

TEST_F(ExplorerTest, DatabasesEachWithTwelveFoldersAndPlaceholders) {
  tree_.LoadServer(QString());
  QStringList names;
  for (const auto& node : tree_.Items()) names << node->Text;
  EXPECT_TRUE(names.contains(QStringLiteral("master")));
  EXPECT_TRUE(names.contains(QStringLiteral("sample")));
  ASSERT_GE(tree_.Count(), 2);
  const QStringList captions{"Users",    "Groups",   "System Tables", "User Tables",    "Views",
                             "Indexes",  "Triggers", "Procedures",    "Rules",          "User Datatypes",
                             "System Datatypes", "Segments"};
  for (const auto& node : tree_.Items()) {
    SCOPED_TRACE(node->Text.toStdString());
    EXPECT_EQ(Texts(node.get()), captions);
    for (int i = 0; i < node->Count(); ++i) {
      EXPECT_TRUE(node->Child(i)->HoldsOnlyPlaceholder());
      EXPECT_EQ(node->Child(i)->ImageIndex, i + 1);
    }
  }
  // A named database gives exactly that node, whatever the server holds.
  tree_.LoadServer(QStringLiteral("sample"));
  ASSERT_EQ(tree_.Count(), 1);
  EXPECT_EQ(tree_.Item(0)->Text, QStringLiteral("sample"));
  // No connection at all is refused by name.
  TQxSvrExplore lonely;
  lonely.SetName(QStringLiteral("tree"));
  try {
    lonely.LoadServer(QString());
    ADD_FAILURE() << "loaded without a connection";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("tree: Database or DbName required"));
  }
}

TEST_F(ExplorerTest, EveryFolderOfTheSampleDatabaseListsItsObjects) {
  tree_.LoadServer(QStringLiteral("sample"));
  TQxTreeNode* sample = tree_.Item(0);
  struct Case {
    int position;
    QStringList mustHold;
  };
  const Case cases[] = {
      {0, {"clerk", "dbo"}},
      {1, {"editors", "public"}},
      {2, {"dbo.syscolumns", "dbo.sysobjects", "dbo.sysusers"}},
      {3, {"dbo.books", "clerk.shelf_notes", "dbo.writers"}},
      {4, {"dbo.book_authors", "dbo.priced_books", "dbo.user_tables"}},
      {5, {"books.books_pk", "books.books_pub", "shelf_notes.shelf_notes_shop"}},
      {6, {"dbo.orders_ins"}},
      {7, {"dbo.books_by_genre", "dbo.shop_order_count"}},
      {8, {"dbo.qty_rule"}},
      // phone_t has usertype 100 exactly: it is a user type, not a system one.
      {9, {"phone_t", "zip_t"}},
      {10, {"char", "int", "varchar"}},
      {11, {"default", "logsegment", "system"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    TQxTreeNode* folder = Folder(sample, c.position);
    const QStringList got = Texts(folder);
    for (const QString& name : c.mustHold) EXPECT_TRUE(got.contains(name)) << name.toStdString();
    for (int i = 0; i < folder->Count(); ++i) EXPECT_EQ(folder->Child(i)->ImageIndex, c.position + 1);
    EXPECT_EQ(tree_.SelectedDb, QStringLiteral("sample"));
  }
  EXPECT_FALSE(Texts(sample->Child(10)).contains(QStringLiteral("phone_t")));
  // Index ids 1 to 254 only: the text chain of book_blurbs is no index.
  for (const QString& index : Texts(sample->Child(5))) EXPECT_FALSE(index.startsWith(QStringLiteral("book_blurbs.")));
  // User tables carry their three sub-folders, procedures their parameters.
  TQxTreeNode* books = Find(sample->Child(3), QStringLiteral("dbo.books"));
  ASSERT_TRUE(books);
  EXPECT_EQ(Texts(books), (QStringList{"Fields", "Indexes", "Primary Fields"}));
  TQxTreeNode* proc = Find(sample->Child(7), QStringLiteral("dbo.shop_order_count"));
  ASSERT_TRUE(proc);
  EXPECT_EQ(Texts(proc), (QStringList{"Parameters"}));
  EXPECT_EQ(Find(sample->Child(4), QStringLiteral("dbo.priced_books"))->Count(), 0);

  // A second expansion reads nothing: an object made since does not appear.
  const QStringList before = Texts(sample->Child(8));
  viewtest::Exec(*db_, QStringLiteral("create rule late_rule as @v > 1"));
  tree_.NodeExpanding(sample->Child(8));
  EXPECT_EQ(Texts(sample->Child(8)), before);
}

TEST_F(ExplorerTest, SubFoldersAndTheClickDecoding) {
  tree_.LoadServer(QStringLiteral("sample"));
  TQxTreeNode* sample = tree_.Item(0);
  TQxTreeNode* tables = Folder(sample, 3);
  TQxTreeNode* books = Find(tables, QStringLiteral("dbo.books"));
  ASSERT_TRUE(books);
  for (int i = 0; i < 3; ++i) tree_.NodeExpanding(books->Child(i));
  EXPECT_EQ(Texts(books->Child(0)), (QStringList{"book_id", "title", "genre", "pub_id", "price", "advance", "pages",
                                                 "published", "notes"}));
  EXPECT_EQ(Texts(books->Child(1)), (QStringList{"books_pk", "books_pub"}));
  EXPECT_EQ(Texts(books->Child(2)), (QStringList{"book_id"}));
  TQxTreeNode* shelf = Find(tables, QStringLiteral("clerk.shelf_notes"));
  ASSERT_TRUE(shelf);
  tree_.NodeExpanding(shelf->Child(0));
  EXPECT_EQ(Texts(shelf->Child(0)), (QStringList{"note_id", "shop_id", "shelf", "note"}));
  TQxTreeNode* procs = Folder(sample, 7);
  TQxTreeNode* proc = Find(procs, QStringLiteral("dbo.shop_order_count"));
  ASSERT_TRUE(proc);
  // Parameters list whichever node was clicked before.
  ClickOn(books);
  tree_.NodeExpanding(proc->Child(0));
  EXPECT_EQ(Texts(proc->Child(0)), (QStringList{"@shop_id", "@orders"}));
  TQxTreeNode* indexes = Folder(sample, 5);

  int clicks = 0;
  tree_.OnClick = [&](TComponent*) { ++clicks; };
  struct Case {
    const char* name;
    TQxTreeNode* node;
    QString expected;
  };
  const Case cases[] = {
      {"database", sample, "sample|sample|1|single"},
      {"folder", tables, "sample|User Tables|11|folder"},
      {"table", books, "sample|dbo.books|11|single"},
      {"other owner", shelf, "sample|clerk.shelf_notes|11|single"},
      {"fields", books->Child(0), "sample|books|16|folder"},
      {"column", books->Child(0)->Child(1), "sample|books.title|16|single"},
      {"table indexes", books->Child(1), "sample|books|15|folder"},
      {"table index", books->Child(1)->Child(1), "sample|books.books_pub|15|single"},
      {"primary key", books->Child(2), "sample|books|19|folder"},
      {"key column", books->Child(2)->Child(0), "sample|book_id|17|single"},
      {"parameters", proc->Child(0), "sample|shop_order_count|18|folder"},
      {"parameter", proc->Child(0)->Child(1), "sample|shop_order_count.@orders|18|single"},
      {"database index", Find(indexes, QStringLiteral("books.books_pub")), "sample|books.books_pub|3|single"},
      {"procedure", proc, "sample|dbo.shop_order_count|5|single"},
      {"segment folder", sample->Child(11), "sample|Segments|14|folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.node);
    ClickOn(c.node);
    EXPECT_EQ(Selection(), c.expected);
  }
  EXPECT_EQ(clicks, static_cast<int>(std::size(cases)));

  // Nothing selected: kind 0, not single, OnClick still fires.
  ClickOn(nullptr);
  EXPECT_EQ(tree_.SelectedKind, okNone);
  EXPECT_FALSE(tree_.SingleObject);
  EXPECT_EQ(clicks, static_cast<int>(std::size(cases)) + 1);
  // Double-clicking a sub-folder leaves the kind 0 and keeps the clicked object.
  ClickOn(books->Child(0));
  tree_.Selected = books->Child(0);
  tree_.DblClick();
  EXPECT_EQ(Selection(), QStringLiteral("sample|books|0|folder"));
}

TEST_F(ExplorerTest, ABigFolderAnEmptyOneAndARetriedListing) {
  viewtest::Exec(*db_, QStringLiteral("create database treedb"));
  QString batch;
  for (int i = 0; i < 120; ++i) batch += QStringLiteral("create table treedb..t%1 (id int)\n").arg(i, 3, 10, QLatin1Char('0'));
  viewtest::Exec(*db_, batch);
  tree_.LoadServer(QStringLiteral("treedb"));
  TQxTreeNode* tables = Folder(tree_.Item(0), 3);
  ASSERT_EQ(tables->Count(), 120);
  EXPECT_EQ(tables->Child(0)->Text, QStringLiteral("dbo.t000"));
  EXPECT_EQ(tables->Child(119)->Text, QStringLiteral("dbo.t119"));
  TQxTreeNode* rules = Folder(tree_.Item(0), 8);
  EXPECT_EQ(rules->Count(), 0);

  // A database that does not exist yet: the listing fails and the folder keeps its
  // placeholder; once the database is there, the next expansion lists it.
  tree_.LoadServer(QStringLiteral("laterdb"));
  TQxTreeNode* users = tree_.Item(0)->Child(0);
  EXPECT_ANY_THROW(tree_.NodeExpanding(users));
  EXPECT_TRUE(users->HoldsOnlyPlaceholder());
  viewtest::Exec(*db_, QStringLiteral("create database laterdb"));
  tree_.NodeExpanding(users);
  EXPECT_TRUE(Texts(users).contains(QStringLiteral("dbo")));
}

TEST_F(ExplorerTest, NamesWithQuotesBlanksAndSqlListAndExpand) {
  viewtest::Exec(*db_, QStringLiteral("create database oddnames"));
  viewtest::Exec(*db_, QStringLiteral("create table oddnames..keepme (id int)\n"
                                      "create table oddnames..[a'b] (id int, [it's] int)\n"
                                      "create table oddnames..[x\"; drop table keepme --] (id int)\n"
                                      "create table oddnames..[Grüße Tabelle] (Straße int)"));
  tree_.LoadServer(QStringLiteral("oddnames"));
  TQxTreeNode* tables = Folder(tree_.Item(0), 3);
  const QStringList got = Texts(tables);
  EXPECT_TRUE(got.contains(QStringLiteral("dbo.a'b")));
  EXPECT_TRUE(got.contains(QStringLiteral("dbo.x\"; drop table keepme --")));
  EXPECT_TRUE(got.contains(QStringLiteral("dbo.Grüße Tabelle")));
  TQxTreeNode* ab = Find(tables, QStringLiteral("dbo.a'b"));
  ASSERT_TRUE(ab);
  tree_.NodeExpanding(ab->Child(0));
  EXPECT_EQ(Texts(ab->Child(0)), (QStringList{"id", "it's"}));
  TQxTreeNode* sqlish = Find(tables, QStringLiteral("dbo.x\"; drop table keepme --"));
  tree_.NodeExpanding(sqlish->Child(0));
  tree_.NodeExpanding(sqlish->Child(1));
  tree_.NodeExpanding(sqlish->Child(2));
  EXPECT_EQ(Texts(sqlish->Child(0)), (QStringList{"id"}));
  TQxTreeNode* umlaut = Find(tables, QStringLiteral("dbo.Grüße Tabelle"));
  tree_.NodeExpanding(umlaut->Child(0));
  EXPECT_EQ(Texts(umlaut->Child(0)), (QStringList{"Straße"}));
  ClickOn(umlaut->Child(0)->Child(0));
  EXPECT_EQ(Selection(), QStringLiteral("oddnames|Grüße Tabelle.Straße|16|single"));
  EXPECT_EQ(viewtest::Rows(*db_, QStringLiteral("select count(*) from oddnames..keepme")), (QStringList{"0"}));
}

TEST_F(ExplorerTest, TheOtherFamilyListsIndexesFromItsOwnCatalogue) {
  auto any = viewtest::Connect(QStringLiteral("anydb"), QStringLiteral("sample"), QStringLiteral("SQLAnywhere"));
  ASSERT_TRUE(any->Connected());
  TQxSvrExplore tree;
  tree.DbName = QStringLiteral("anydb");
  tree.LoadServer(QString());
  ASSERT_EQ(tree.Count(), 1);
  EXPECT_EQ(tree.Item(0)->Text, QStringLiteral("sample"));
  tree.NodeExpanding(tree.Item(0)->Child(5));
  const QStringList got = Texts(tree.Item(0)->Child(5));
  ASSERT_FALSE(got.isEmpty());
  EXPECT_EQ(got.first(), QStringLiteral("publishers.publishers_pk"));
  EXPECT_TRUE(got.contains(QStringLiteral("orders.orders_shop")));
}

TEST_F(ExplorerTest, SubFoldersReadTheBrowsedDatabaseFromAConnectionInMaster) {
  auto master = viewtest::Connect(QStringLiteral("trmaster"), QStringLiteral("master"));
  TQxSvrExplore tree;
  tree.SetDatabase(master.get());
  tree.ShowDbMessages = TShowDbMessages{smDbErr};
  tree.LoadServer(QString());
  TQxTreeNode* sample = nullptr;
  for (const auto& node : tree.Items())
    if (node->Text == QStringLiteral("sample")) sample = node.get();
  ASSERT_TRUE(sample);
  tree.NodeExpanding(sample->Child(3));
  TQxTreeNode* books = Find(sample->Child(3), QStringLiteral("dbo.books"));
  ASSERT_TRUE(books);
  for (int i = 0; i < 3; ++i) tree.NodeExpanding(books->Child(i));
  EXPECT_EQ(Texts(books->Child(0)).size(), 9);
  EXPECT_EQ(Texts(books->Child(1)), (QStringList{"books_pk", "books_pub"}));
  EXPECT_EQ(Texts(books->Child(2)), (QStringList{"book_id"}));
  tree.NodeExpanding(sample->Child(7));
  TQxTreeNode* proc = Find(sample->Child(7), QStringLiteral("dbo.shop_order_count"));
  ASSERT_TRUE(proc);
  tree.NodeExpanding(proc->Child(0));
  EXPECT_EQ(Texts(proc->Child(0)), (QStringList{"@shop_id", "@orders"}));
}

TEST_F(ExplorerTest, SameNamedObjectsOfTwoOwnersAndADottedNameKeepTheirOwnMembers) {
  viewtest::Exec(*db_, QStringLiteral("create database treeown"));
  auto own = viewtest::Connect(QStringLiteral("treeowndb"), QStringLiteral("treeown"));
  viewtest::Exec(*own, QStringLiteral("exec sp_adduser clerk"));
  viewtest::Exec(*own, QStringLiteral("create table dbo.dup (a int not null)\n"
                                      "create table clerk.dup (x int not null, y int null)\n"
                                      "create table [dot.ted] ([a.b] int not null, c int null)"));
  viewtest::Exec(*own, QStringLiteral("create index dup_idx on dbo.dup (a)\n"
                                      "create index dup_idx on clerk.dup (y)\n"
                                      "create index dt_idx on [dot.ted] (c)"));
  viewtest::Exec(*own, QStringLiteral("exec sp_primarykey 'clerk.dup', x"));
  // Names shared where only one side shows in the folder: an index of clerk's solo only, and
  // clerk's table vv beside dbo's view vv.
  viewtest::Exec(*own, QStringLiteral("create table clerk.solo (s int null)\n"
                                      "create table dbo.solo (t int null)\n"
                                      "create index solo_idx on clerk.solo (s)\n"
                                      "create table clerk.vv (q int null)"));
  viewtest::Exec(*own, QStringLiteral("create view dbo.vv as select a from dbo.dup"));
  viewtest::Exec(*own, QStringLiteral("create procedure dbo.dupproc @p int as select @p"));
  viewtest::Exec(*own, QStringLiteral("create procedure clerk.dupproc @q1 int, @q2 int as select @q1"));
  tree_.LoadServer(QStringLiteral("treeown"));
  TQxTreeNode* db = tree_.Item(0);
  TQxTreeNode* tables = Folder(db, 3);
  TQxTreeNode* dboDup = Find(tables, QStringLiteral("dbo.dup"));
  TQxTreeNode* clerkDup = Find(tables, QStringLiteral("clerk.dup"));
  TQxTreeNode* dotted = Find(tables, QStringLiteral("dbo.dot.ted"));
  TQxTreeNode* clerkVv = Find(tables, QStringLiteral("clerk.vv"));
  ASSERT_TRUE(dboDup && clerkDup && dotted && clerkVv);
  for (TQxTreeNode* t : {dboDup, clerkDup, dotted, clerkVv})
    for (int i = 0; i < 3; ++i) tree_.NodeExpanding(t->Child(i));
  EXPECT_EQ(Texts(dboDup->Child(0)), (QStringList{"a"}));
  EXPECT_EQ(Texts(clerkDup->Child(0)), (QStringList{"x", "y"}));
  EXPECT_EQ(Texts(dboDup->Child(1)), (QStringList{"dup_idx"}));
  EXPECT_EQ(Texts(dboDup->Child(2)), QStringList());
  EXPECT_EQ(Texts(clerkDup->Child(2)), (QStringList{"x"}));
  EXPECT_EQ(Texts(dotted->Child(0)), (QStringList{"a.b", "c"}));
  EXPECT_EQ(Texts(dotted->Child(1)), (QStringList{"dt_idx"}));
  TQxTreeNode* procs = Folder(db, 7);
  TQxTreeNode* clerkProc = Find(procs, QStringLiteral("clerk.dupproc"));
  ASSERT_TRUE(clerkProc);
  tree_.NodeExpanding(clerkProc->Child(0));
  EXPECT_EQ(Texts(clerkProc->Child(0)), (QStringList{"@q1", "@q2"}));
  // The database's Indexes folder names the owner where another owner's object shares the
  // table's name, whether or not that one has indexes.
  const QStringList indexes = Texts(Folder(db, 5));
  EXPECT_TRUE(indexes.contains(QStringLiteral("dbo.dup.dup_idx")));
  EXPECT_TRUE(indexes.contains(QStringLiteral("clerk.dup.dup_idx")));
  EXPECT_TRUE(indexes.contains(QStringLiteral("clerk.solo.solo_idx")));
  EXPECT_TRUE(indexes.contains(QStringLiteral("dot.ted.dt_idx")));
  TQxTreeNode* soloIndex = Find(db->Child(5), QStringLiteral("clerk.solo.solo_idx"));
  ASSERT_TRUE(soloIndex);
  // A selection names the table with its owner where its name alone is ambiguous, and
  // brackets a member holding a dot.
  struct Case {
    const char* name;
    TQxTreeNode* node;
    QString expected;
  };
  const Case cases[] = {
      {"clerk's fields", clerkDup->Child(0), "treeown|clerk.dup|16|folder"},
      {"clerk's column", clerkDup->Child(0)->Child(1), "treeown|clerk.dup.y|16|single"},
      {"clerk's index", clerkDup->Child(1)->Child(0), "treeown|clerk.dup.dup_idx|15|single"},
      {"dbo's column", dboDup->Child(0)->Child(0), "treeown|dbo.dup.a|16|single"},
      {"dotted fields", dotted->Child(0), "treeown|dot.ted|16|folder"},
      {"dotted column", dotted->Child(0)->Child(0), "treeown|dot.ted.[a.b]|16|single"},
      {"dotted index", dotted->Child(1)->Child(0), "treeown|dot.ted.dt_idx|15|single"},
      {"clerk's parameters", clerkProc->Child(0), "treeown|clerk.dupproc|18|folder"},
      {"clerk's table beside dbo's view", clerkVv->Child(0), "treeown|clerk.vv|16|folder"},
      {"its column", clerkVv->Child(0)->Child(0), "treeown|clerk.vv.q|16|single"},
      {"clerk's solo index", soloIndex, "treeown|clerk.solo.solo_idx|3|single"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClickOn(c.node);
    EXPECT_EQ(Selection(), c.expected);
  }
}

TEST_F(ExplorerTest, EveryImageHasItsOwnIconAndEveryNodeShowsItsImage) {
  // Each image of the list is drawn differently: no two share a picture (Segments is no column).
  QList<QImage> images;
  for (int i = 0; i < TQxSvrExplore::imImageCount; ++i) {
    const QImage image = ExplorerIcon(i).pixmap(16, 16).toImage();
    ASSERT_FALSE(image.isNull()) << i;
    for (int k = 0; k < images.size(); ++k) EXPECT_NE(image, images[k]) << "images " << k << " and " << i;
    images << image;
  }
  EXPECT_TRUE(ExplorerIcon(-1).isNull());
  // One icon per image, whatever the number of nodes that show it.
  EXPECT_EQ(ExplorerIcon(TQxSvrExplore::imUserTables).cacheKey(), ExplorerIcon(TQxSvrExplore::imUserTables).cacheKey());
  tree_.LoadServer(QStringLiteral("sample"));
  TQxSvrExploreView view(&tree_);
  TQxTreeNode* sample = tree_.Item(0);
  TQxTreeNode* books = Find(Folder(sample, 3), QStringLiteral("dbo.books"));
  ASSERT_TRUE(books);
  for (int i = 0; i < 3; ++i) tree_.NodeExpanding(books->Child(i));
  TQxTreeNode* proc = Find(Folder(sample, 7), QStringLiteral("dbo.shop_order_count"));
  tree_.NodeExpanding(proc->Child(0));
  struct Case {
    const TQxTreeNode* node;
    int image;
  };
  const Case cases[] = {{sample, TQxSvrExplore::imDatabase},
                        {sample->Child(11), TQxSvrExplore::imSegments},
                        {books, TQxSvrExplore::imUserTables},
                        {books->Child(0), TQxSvrExplore::imFields},
                        {books->Child(0)->Child(0), TQxSvrExplore::imColumn},
                        {books->Child(1)->Child(0), TQxSvrExplore::imIndexes},
                        {books->Child(2)->Child(0), TQxSvrExplore::imPrimaryFields},
                        {proc->Child(0), TQxSvrExplore::imParameters},
                        {proc->Child(0)->Child(0), TQxSvrExplore::imParameter}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node->Text.toStdString());
    EXPECT_EQ(c.node->ImageIndex, c.image);
    const QIcon shown = view.model()->data(view.IndexOf(c.node), Qt::DecorationRole).value<QIcon>();
    EXPECT_EQ(shown.cacheKey(), ExplorerIcon(c.image).cacheKey());
  }
}

TEST_F(ExplorerTest, ALongNameScrollsInANarrowTreeThatTracksTheMouse) {
  viewtest::Exec(*db_, QStringLiteral("create database treelong"));
  viewtest::Exec(*db_, QStringLiteral("create table treelong..a_table_name_of_thirty_chars_ (id int)"));
  tree_.LoadServer(QStringLiteral("treelong"));
  TQxSvrExploreView view(&tree_);
  view.resize(260, 300);
  view.show();
  EXPECT_TRUE(tree_.HotTrack);
  EXPECT_TRUE(view.hasMouseTracking());
  view.ExpandNode(tree_.Item(0));
  view.ExpandNode(tree_.Item(0)->Child(3));
  TQxTreeNode* table = tree_.Item(0)->Child(3)->Child(0);
  view.ExpandNode(table);
  view.ExpandNode(table->Child(0));
  QCoreApplication::processEvents();
  // The name is not cut: the column is as wide as the name and the tree scrolls sideways.
  EXPECT_GE(view.columnWidth(0), view.visualRect(view.IndexOf(table)).left() +
                                     view.fontMetrics().horizontalAdvance(table->Text));
  EXPECT_GT(view.horizontalScrollBar()->maximum(), 0);
  EXPECT_TRUE(view.horizontalScrollBar()->isVisible());
  QCoreApplication::processEvents();  // the scroll area lays its bars out
  viewtest::Screenshot(view, QStringLiteral("explorer_long_name"));
}

// The heap the program holds, in bytes.
size_t HeapBytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

TEST_F(ExplorerTest, AFolderOfThousandsOfTablesCostsTheWidgetLittleMoreThanTheModel) {
  // The fault this guards against cost the widget a thousand times the model's time and some
  // hundred times its memory for each table (an item and an icon each); the bounds are far
  // above what the view over the model costs, far below the fault.
  constexpr int kTables = 1500;
  viewtest::Exec(*db_, QStringLiteral("create database treebig"));
  auto big = viewtest::Connect(QStringLiteral("treebigdb"), QStringLiteral("treebig"));
  for (int first = 0; first < kTables; first += 500) {
    QString batch;
    for (int i = first; i < first + 500; ++i) batch += QStringLiteral("create table t%1 (id int null)\n").arg(i, 4, 10, QLatin1Char('0'));
    viewtest::Exec(*big, batch);
  }
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); };
  double modelSeconds = 1e9, widgetSeconds = 1e9;
  size_t modelHeap = 0, widgetHeap = 0;
  for (int round = 0; round < 3; ++round) {
    {
      TQxSvrExplore tree;
      tree.SetDatabase(db_.get());
      tree.LoadServer(QStringLiteral("treebig"));
      const size_t heap = HeapBytes();
      const auto start = Clock::now();
      tree.NodeExpanding(tree.Item(0)->Child(3));
      modelSeconds = std::min(modelSeconds, seconds(start));
      modelHeap = HeapBytes() - heap;
      ASSERT_EQ(tree.Item(0)->Child(3)->Count(), kTables);
    }
    {
      TQxSvrExplore tree;
      tree.SetDatabase(db_.get());
      tree.LoadServer(QStringLiteral("treebig"));
      TQxSvrExploreView view(&tree);
      view.resize(260, 600);
      view.show();
      view.ExpandNode(tree.Item(0));
      view.repaint();
      const size_t heap = HeapBytes();
      const auto start = Clock::now();
      view.ExpandNode(tree.Item(0)->Child(3));
      view.repaint();
      widgetSeconds = std::min(widgetSeconds, seconds(start));
      widgetHeap = HeapBytes() - heap;
      ASSERT_EQ(view.model()->rowCount(view.IndexOf(tree.Item(0)->Child(3))), kTables);
    }
  }
  EXPECT_LT(widgetSeconds, 40 * modelSeconds + 0.5) << widgetSeconds << " s against the model's " << modelSeconds;
  // mallinfo2 counts nothing under a sanitizer's allocator.
  if (modelHeap > 0) EXPECT_LT(widgetHeap, 10 * modelHeap) << widgetHeap << " bytes against the model's " << modelHeap;
}

TEST_F(ExplorerTest, TheWidgetShowsTheTreeAndExpandsLazily) {
  tree_.LoadServer(QStringLiteral("sample"));
  TQxSvrExploreView view(&tree_);
  view.resize(320, 520);
  TQxTreeNode* sample = tree_.Item(0);
  view.ExpandNode(sample);
  view.ExpandNode(sample->Child(3));
  // The widget's expansion ran the listing.
  ASSERT_GT(sample->Child(3)->Count(), 1);
  EXPECT_TRUE(view.isExpanded(view.IndexOf(sample->Child(3))));
  TQxTreeNode* books = Find(sample->Child(3), QStringLiteral("dbo.books"));
  ASSERT_TRUE(books);
  view.ExpandNode(books);
  // The expanded node is the explorer's selected node, and the view shows it selected.
  EXPECT_EQ(tree_.Selected, books);
  EXPECT_EQ(view.currentIndex(), view.IndexOf(books));
  EXPECT_TRUE(view.selectionModel()->isSelected(view.IndexOf(books)));
  view.ExpandNode(books->Child(0));
  ASSERT_EQ(books->Child(0)->Count(), 9);
  EXPECT_EQ(view.model()->rowCount(view.IndexOf(books->Child(0))), 9);
  EXPECT_EQ(view.TextOf(books->Child(0)->Child(0)), QStringLiteral("book_id"));
  view.SetCurrentNode(books->Child(0)->Child(1));
  viewtest::Screenshot(view, QStringLiteral("explorer_tree"));

  // An explorer destroyed before its view leaves the view empty, not pointing at freed nodes.
  auto gone = std::make_unique<TQxSvrExplore>();
  gone->SetDatabase(db_.get());
  gone->LoadServer(QStringLiteral("sample"));
  TQxSvrExploreView orphan(gone.get());
  orphan.ExpandNode(gone->Item(0));
  gone.reset();
  EXPECT_EQ(orphan.model()->rowCount(), 0);
  orphan.grab();
}

}  // namespace
