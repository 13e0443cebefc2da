// The property and summary pages against the local server through real FreeTDS: the rows of
// every object kind for both server families, the summaries of every folder kind with their
// column layouts and widths, the row click into the linked property page (kind-16 rows name
// their table), same-named objects in two databases, names with quotes, blanks and SQL-looking
// text, the connection checks, and one screenshot of each page.
#include <QMap>

#include "access/QorixExceptions.h"
#include "catalog/views/QxListPageView.h"
#include "catalog/views/QxPgProperties.h"
#include "catalog/views/QxPgSummary.h"
#include "views_fixture.h"

namespace {

// The rows of a page as "caption|value" texts.
QStringList Rows(const TQxListPage& page) { return page.Contents().RowTexts(); }

// The value of the row captioned Caption ("<absent>" when the page has no such row).
QString Value(const TQxListPage& page, const QString& caption) {
  for (int r = 0; r < page.Contents().ItemCount(); ++r)
    if (page.Contents().Cell(r, 0) == caption) return page.Contents().Cell(r, 1);
  return QStringLiteral("<absent>");
}

QStringList Captions(const TQxListPage& page) {
  QStringList out;
  for (int r = 0; r < page.Contents().ItemCount(); ++r) out << page.Contents().Cell(r, 0);
  return out;
}

class PagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto db = viewtest::Connect(QStringLiteral("setup"));
    // A second database holding objects named like the sample's, with other shapes, and
    // objects whose names need quoting.
    viewtest::Exec(*db, QStringLiteral("create database pgtwin"));
    viewtest::Exec(*db, QStringLiteral("create table pgtwin..books (twin_id int not null, label varchar(9) null)\n"
                                       "create table pgtwin..keepme (id int)\n"
                                       "create table pgtwin..[a'b] (id int not null, [it's] varchar(5) null)\n"
                                       "create table pgtwin..[x\"; drop table keepme --] ([y\"z] int null)\n"
                                       "create table pgtwin..[Grüße Tabelle] (Straße int null)"));
    viewtest::Exec(*db, QStringLiteral("create index [it's idx] on pgtwin..[a'b] ([it's])\n"
                                       "create index twin_label on pgtwin..books (label)"));
    viewtest::Exec(*db, QStringLiteral("use pgtwin"));
    // Two tables of one name and two owners.
    viewtest::Exec(*db, QStringLiteral("exec sp_adduser clerk"));
    viewtest::Exec(*db, QStringLiteral("create table dbo.pairs (a int)\n"
                                       "create table clerk.pairs (a int, b int)\n"
                                       "insert clerk.pairs values (1, 1) insert clerk.pairs values (2, 2)"));
    viewtest::Exec(*db, QStringLiteral("create procedure shop_order_count @twin_a int, @twin_b int, @twin_c int output\n"
                                       "as select @twin_c = @twin_a + @twin_b"));
    // A table named with a dot, and an index and a procedure on each of the two owners' sides.
    viewtest::Exec(*db, QStringLiteral("create table [dot.ted] ([a.b] int not null, c varchar(3) null)\n"
                                       "create table dot (ted int null)"));
    viewtest::Exec(*db, QStringLiteral("create index dt_idx on [dot.ted] (c, [a.b])\n"
                                       "create index pairs_idx on clerk.pairs (b)\n"
                                       "create index pairs_idx on dbo.pairs (a)"));
    viewtest::Exec(*db, QStringLiteral("create procedure clerk.shop_order_count @clerk_only char(2) as select 1"));
  }

  void SetUp() override {
    db_ = viewtest::Connect(QStringLiteral("pgdb"));
    ASSERT_TRUE(db_->Connected());
    any_ = viewtest::Connect(QStringLiteral("pgany"), QStringLiteral("sample"), QStringLiteral("SQLAnywhere"));
    ASSERT_TRUE(any_->Connected());
    props_.SetName(QStringLiteral("props"));
    props_.SetDatabase(db_.get());
    props_.ShowDbMessages = TShowDbMessages{smDbErr};
    summary_.SetName(QStringLiteral("summary"));
    summary_.SetDatabase(db_.get());
    summary_.ShowDbMessages = TShowDbMessages{smDbErr};
  }

  std::unique_ptr<TQorixDatabase> db_;
  std::unique_ptr<TQorixDatabase> any_;
  TQxPgProperties props_;
  TQxPgSummary summary_;
};

// ---- property page ----

TEST_F(PagesTest, PropertyRowsOfEveryKind) {
  const QStringList objectRows{"Name", "Id", "UId", "Owner Name"};
  const QStringList tableRows = objectRows + QStringList{"RowCount", "", "Delete trigger", "Update trigger",
                                                         "Insert trigger", "",
                                                         "Table has a foreign key constraint",
                                                         "Table has a referential constraint",
                                                         "Table has more than one check constraint",
                                                         "Table has a primary key constraint",
                                                         "Table has an IDENTITY field",
                                                         "Table contains variable-length columns", "", "Date created"};
  const QStringList plainObject = objectRows + QStringList{"", "Date created"};
  const QStringList procedure = objectRows + QStringList{"", "Execute only in chained transaction mode",
                                                         "Execute in any transaction mode", "", "Date created"};
  const QStringList index{"Name", "Table Id", "Table Name", "Index Id", "Index type", "Columns", "",
                          "Supports foreign key constraint", "Supports primary key/unique key constraint",
                          "Includes an IDENTITY column", "Constraint name specified",
                          "Large I/O's enabled for table, index or text chain",
                          "MRU cache strategy enabled for table, index or text chain",
                          "Ascending inserts turned on for the table",
                          "Abort current command or trigger if duplicate key",
                          "Abort current command or trigger if duplicate row", "Unique", "Clustered",
                          "Duplicate rows allowed", "Sorted object", "Sorted data option used when created",
                          "Being created", "Index on primary key", "Suspect"};
  const QStringList database{"Name", "DbId", "SuId", "Owner Name", "Date created", "",
                             "Select into/bulkcopy", "Trunc log on chkpt", "No chkpt on recovery",
                             "Created with \"for load\" option; or crashed while loading",
                             "Suspect; Not recovered; Cannot be opened or used", "Ddl in tran", "Read only",
                             "Dbo use only", "Single user", "Allow nulls by default", "Abort tran on log full",
                             "No free space acctg", "Auto identity", "Identity in nonunique index", "Offline",
                             "Offline until recovery completes", "Being recovered", "Has a decicated log device"};
  const QStringList group{"Name", "SuId", "UId", "Group ID", "Group Name"};
  const QStringList login{"Name", "SuId", "Total CPU", "Total I/O", "Default Language", "Default Database",
                          "Password Changed Date", "Full Name", "", "Expired", "Locked", "Password NULL"};
  const QStringList userType{"Name", "Type Name", "Length", "Precision", "Scale", "Allow NULL", "Default Name",
                             "Rule Name", "Identity"};
  const QStringList column{"Name", "Type", "Precision", "Scale", "Length", "Identity", "Allow NULL"};
  const QStringList device{"Name", "Physical Name", "Mirror Name", "Controller Type", "", "Default Disk",
                           "Physical Disk", "Logical Disk", "Skip Header", "Dump Device", "Serial Writes",
                           "Mirrored", "Reads Mirrored", "Secondary Mirror Only", "Mirror Enabled",
                           "Master Device Mirrored", "Primary Device on Mirror", "Secondary Device on Mirror"};
  struct Case {
    TQxObjectKind kind;
    const char* name;
    QStringList captions;
    QMap<QString, QString> values;
  };
  const Case cases[] = {
      {okDatabase, "sample", database, {{"Name", "sample"}, {"Owner Name", "sa"}}},
      {okGroup, "editors", group, {{"Name", "editors"}, {"Group Name", "editors"}}},
      {okUser, "clerk", group, {{"Name", "clerk"}, {"Group Name", "editors"}}},
      {okIndex,
       "writers.writers_name",
       index,
       {{"Table Name", "writers"}, {"Index type", "Non Clustered"}, {"Columns", "last_name, first_name"},
        {"Unique", "Yes"}, {"Clustered", "No"}}},
      {okTableIndex,
       "books.books_pk",
       index,
       {{"Index Id", "1"}, {"Index type", "Clustered"}, {"Columns", "book_id"}, {"Unique", "Yes"}}},
      {okLogin, "sa", login, {{"Name", "sa"}, {"Default Database", "master"}}},
      {okProcedure, "dbo.shop_order_count", procedure, {{"Name", "shop_order_count"}, {"Owner Name", "dbo"}}},
      {okRule, "dbo.qty_rule", plainObject, {{"Name", "qty_rule"}}},
      {okSystemTable, "dbo.sysusers", tableRows, {{"Name", "sysusers"}}},
      {okTrigger, "dbo.orders_ins", plainObject, {{"Name", "orders_ins"}}},
      {okUserTable,
       "dbo.orders",
       tableRows,
       {{"RowCount", "20"}, {"Insert trigger", "orders_ins"}, {"Delete trigger", ""}}},
      {okUserTable, "clerk.shelf_notes", tableRows, {{"Owner Name", "clerk"}, {"RowCount", "2"}}},
      {okView, "dbo.user_tables", plainObject, {{"Name", "user_tables"}}},
      {okUserDatatype, "phone_t", userType, {{"Name", "phone_t"}}},
      {okUserDatatype, "zip_t", userType, {{"Name", "zip_t"}}},
      {okColumn,
       "books.title",
       column,
       {{"Type", "varchar"}, {"Length", "80"}, {"Identity", "No"}, {"Allow NULL", "No"}}},
      {okColumn, "books.advance", column, {{"Precision", "10"}, {"Scale", "2"}, {"Allow NULL", "Yes"}}},
      {okColumn, "shelf_notes.note_id", column, {{"Identity", "Yes"}}},
      {okColumn, "books.no_such_column", {}, {}},
      {okDevice,
       "master",
       device,
       {{"Physical Name", "tabulon.db"}, {"Default Disk", "Yes"}, {"Physical Disk", "Yes"}, {"Dump Device", "No"}}},
      {okDumpDevice, "tapedump1", device, {{"Controller Type", "2"}, {"Dump Device", "Yes"}}},
      {okUserTable, "dbo.no_such_table", {}, {}},
      {okNone, "books", {}, {}},
      {okSystemDatatype, "int", {}, {}},
      {okSegment, "default", {}, {}},
      {okPrimaryKeyColumn, "book_id", {}, {}},
      {okParameter, "shop_order_count.@orders", {}, {}},
      {okPrimaryKey, "books", {}, {}},
      {static_cast<TQxObjectKind>(23), "books", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(int(c.kind)).arg(QLatin1String(c.name)).toStdString());
    props_.Show(QStringLiteral("sample"), c.kind, QString::fromUtf8(c.name));
    EXPECT_EQ(Captions(props_), c.captions);
    for (auto it = c.values.cbegin(); it != c.values.cend(); ++it) EXPECT_EQ(Value(props_, it.key()), it.value());
    // Separators have one empty value; every row has exactly one value.
    for (const TQxListItem& item : props_.Contents().Items()) EXPECT_EQ(item.SubItems.size(), 1);
    for (const QString& row : Rows(props_))
      if (row.startsWith(QLatin1Char('|'))) {
        EXPECT_EQ(row, QStringLiteral("|"));
      }
    EXPECT_EQ(props_.ShownKind, c.kind);
    EXPECT_EQ(props_.ShownObject, QString::fromUtf8(c.name));
    EXPECT_FALSE(props_.Contents().Updating());
  }
  // Flags are "Yes" or "No", nothing else.
  props_.Show(QStringLiteral("sample"), okUserTable, QStringLiteral("dbo.books"));
  for (int r = 10; r < props_.Contents().ItemCount() - 2; ++r) {
    const QString v = props_.Contents().Cell(r, 1);
    EXPECT_TRUE(v == QLatin1String("Yes") || v == QLatin1String("No")) << v.toStdString();
  }
}

TEST_F(PagesTest, InvertedFlagsAndTheRowCountSwitch) {
  // status2 bit 32768 (a smallint column: -32768): the database's log has no device of its own.
  viewtest::Exec(*db_, QStringLiteral("exec sp_configure 'allow updates to system tables', 1"));
  viewtest::Exec(*db_, QStringLiteral("update master.dbo.sysdatabases set status2 = -32768 where name = 'pgtwin'"));
  props_.Show(QStringLiteral("master"), okDatabase, QStringLiteral("pgtwin"));
  EXPECT_EQ(Value(props_, QStringLiteral("Has a decicated log device")), QStringLiteral("No"));
  viewtest::Exec(*db_, QStringLiteral("update master.dbo.sysdatabases set status2 = 0 where name = 'pgtwin'"));
  viewtest::Exec(*db_, QStringLiteral("exec sp_configure 'allow updates to system tables', 0"));
  props_.Show(QStringLiteral("master"), okDatabase, QStringLiteral("pgtwin"));
  EXPECT_EQ(Value(props_, QStringLiteral("Has a decicated log device")), QStringLiteral("Yes"));

  // An index made by CREATE INDEX (no constraint name) shows "Yes" for the inverted flag.
  props_.Show(QStringLiteral("sample"), okIndex, QStringLiteral("books.books_pub"));
  EXPECT_EQ(Value(props_, QStringLiteral("Constraint name specified")), QStringLiteral("Yes"));
  EXPECT_EQ(Value(props_, QStringLiteral("Columns")), QStringLiteral("pub_id"));

  // Without the row count the separator follows "Owner Name".
  props_.ShowRowCount = false;
  props_.Show(QStringLiteral("sample"), okUserTable, QStringLiteral("dbo.books"));
  EXPECT_EQ(Captions(props_).mid(3, 2), (QStringList{"Owner Name", ""}));
  props_.ShowRowCount = true;
  props_.Show(QStringLiteral("sample"), okUserTable, QStringLiteral("dbo.books"));
  EXPECT_EQ(Captions(props_).mid(3, 3), (QStringList{"Owner Name", "RowCount", ""}));
  EXPECT_EQ(Value(props_, QStringLiteral("RowCount")), QStringLiteral("16"));
}

// The flags the family keeps in sysobjects.sysstat2 and in the clustered bit (16) of
// sysindexes.status.
TEST_F(PagesTest, TableAndIndexFlagsFromTheStatusWords) {
  viewtest::Exec(*db_, QStringLiteral("create table pgtwin..pg_fixed (a int not null, b char(2) not null,"
                                      " constraint pg_fixed_pk primary key nonclustered (a))"));
  viewtest::Exec(*db_, QStringLiteral("create table pgtwin..pg_refs (x int null references pg_fixed (a), n int null,"
                                      " check (n > 0), constraint pg_small check (n < 9))"));
  viewtest::Exec(*db_, QStringLiteral("create clustered index pg_refs_n on pgtwin..pg_refs (n)"));
  struct Case {
    const char* db;
    TQxObjectKind kind;
    const char* name;
    const char* flag;
    const char* value;
  };
  const Case cases[] = {
      {"sample", okUserTable, "dbo.books", "Table has a primary key constraint", "Yes"},
      {"sample", okUserTable, "dbo.books", "Table contains variable-length columns", "Yes"},
      {"sample", okUserTable, "dbo.books", "Table has an IDENTITY field", "No"},
      {"sample", okUserTable, "clerk.shelf_notes", "Table has an IDENTITY field", "Yes"},
      {"sample", okUserTable, "clerk.shelf_notes", "Table has a primary key constraint", "No"},
      {"pgtwin", okUserTable, "dbo.pg_fixed", "Table contains variable-length columns", "No"},
      {"pgtwin", okUserTable, "dbo.pg_fixed", "Table has a referential constraint", "Yes"},
      {"pgtwin", okUserTable, "dbo.pg_fixed", "Table has a foreign key constraint", "No"},
      {"pgtwin", okUserTable, "dbo.pg_refs", "Table has a foreign key constraint", "Yes"},
      {"pgtwin", okUserTable, "dbo.pg_refs", "Table has more than one check constraint", "Yes"},
      {"pgtwin", okUserTable, "dbo.pg_fixed", "Table has more than one check constraint", "No"},
      {"sample", okIndex, "books.books_pk", "Clustered", "Yes"},
      {"sample", okIndex, "books.books_pk", "Index on primary key", "Yes"},
      {"sample", okIndex, "books.books_pub", "Clustered", "No"},
      {"sample", okTableIndex, "clerk.shelf_notes.shelf_notes_shop", "Clustered", "Yes"},
      {"sample", okTableIndex, "clerk.shelf_notes.shelf_notes_shop", "Unique", "No"},
      {"pgtwin", okIndex, "pg_fixed.pg_fixed_pk", "Clustered", "No"},
      {"pgtwin", okIndex, "pg_fixed.pg_fixed_pk", "Unique", "Yes"},
      {"pgtwin", okIndex, "pg_refs.pg_refs_n", "Clustered", "Yes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.name, c.flag).toStdString());
    props_.Show(QString::fromUtf8(c.db), c.kind, QString::fromUtf8(c.name));
    EXPECT_EQ(Value(props_, QString::fromUtf8(c.flag)), QString::fromUtf8(c.value));
  }
}

TEST_F(PagesTest, PropertyRowsOnTheOtherFamily) {
  TQxPgProperties page;
  page.DbName = QStringLiteral("pgany");
  page.ShowDbMessages = TShowDbMessages{smDbErr};
  // No row count on this family: the separator follows "Owner Name".
  page.ShowProperties(okUserTable, QStringLiteral("dbo.books"));
  EXPECT_EQ(page.SelectDb(), QStringLiteral("sample"));
  EXPECT_EQ(Captions(page).mid(2, 3), (QStringList{"UId", "Owner Name", ""}));
  EXPECT_EQ(Value(page, QStringLiteral("RowCount")), QStringLiteral("<absent>"));
  // The unique flag is read from the family's index catalogue.
  page.ShowProperties(okIndex, QStringLiteral("writers.writers_name"));
  EXPECT_EQ(Value(page, QStringLiteral("Unique")), QStringLiteral("Yes"));
  page.ShowProperties(okIndex, QStringLiteral("books.books_pub"));
  EXPECT_EQ(Value(page, QStringLiteral("Unique")), QStringLiteral("No"));
  // Devices have no rows on this family.
  for (TQxObjectKind kind : {okDevice, okDatabaseDevice, okDumpDevice}) {
    page.ShowProperties(kind, QStringLiteral("master"));
    EXPECT_EQ(page.Contents().ItemCount(), 0) << int(kind);
  }
}

TEST_F(PagesTest, ColumnPropertiesOnTheOtherFamily) {
  TQxPgProperties page;
  page.DbName = QStringLiteral("pgany");
  page.ShowDbMessages = TShowDbMessages{smDbErr};
  // Columns come from the family's own catalogue, a plain-domain column included.
  page.ShowProperties(okColumn, QStringLiteral("books.title"));
  EXPECT_EQ(Value(page, QStringLiteral("Name")), QStringLiteral("title"));
  EXPECT_EQ(Value(page, QStringLiteral("Allow NULL")), QStringLiteral("No"));
  page.ShowProperties(okColumn, QStringLiteral("shelf_notes.note_id"));
  EXPECT_EQ(Value(page, QStringLiteral("Identity")), QStringLiteral("Yes"));
}

TEST_F(PagesTest, SameNamedObjectsInTwoDatabasesAreTwoObjects) {
  props_.Show(QStringLiteral("sample"), okUserTable, QStringLiteral("dbo.books"));
  const QString sampleId = Value(props_, QStringLiteral("Id"));
  EXPECT_TRUE(props_.IsShown(QStringLiteral("sample"), okUserTable, QStringLiteral("dbo.books")));
  EXPECT_FALSE(props_.IsShown(QStringLiteral("pgtwin"), okUserTable, QStringLiteral("dbo.books")));
  EXPECT_FALSE(props_.IsShown(QStringLiteral("sample"), okView, QStringLiteral("dbo.books")));
  props_.Show(QStringLiteral("pgtwin"), okUserTable, QStringLiteral("dbo.books"));
  EXPECT_TRUE(props_.IsShown(QStringLiteral("pgtwin"), okUserTable, QStringLiteral("dbo.books")));
  EXPECT_NE(Value(props_, QStringLiteral("Id")), sampleId);
  // The rows of pgtwin's books, not of the connection's database.
  EXPECT_EQ(Value(props_, QStringLiteral("RowCount")), QStringLiteral("0"));
  props_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("books.label"));
  EXPECT_EQ(Value(props_, QStringLiteral("Length")), QStringLiteral("9"));
  props_.Show(QStringLiteral("sample"), okColumn, QStringLiteral("books.label"));
  EXPECT_EQ(props_.Contents().ItemCount(), 0);
}

TEST_F(PagesTest, OwnerDotNameShowsThatOwnersObject) {
  for (const QString& db : {QStringLiteral("pgtwin"), QStringLiteral("sample")}) {
    // From the connection's own database (rowcnt) and from another one (counted).
    auto conn = viewtest::Connect(QStringLiteral("pgowner"), db);
    TQxPgProperties page;
    page.SetDatabase(conn.get());
    page.ShowDbMessages = TShowDbMessages{smDbErr};
    SCOPED_TRACE(db.toStdString());
    page.Show(QStringLiteral("pgtwin"), okUserTable, QStringLiteral("clerk.pairs"));
    EXPECT_EQ(Value(page, QStringLiteral("Owner Name")), QStringLiteral("clerk"));
    EXPECT_EQ(Value(page, QStringLiteral("RowCount")), QStringLiteral("2"));
    const QString clerkId = Value(page, QStringLiteral("Id"));
    page.Show(QStringLiteral("pgtwin"), okUserTable, QStringLiteral("dbo.pairs"));
    EXPECT_EQ(Value(page, QStringLiteral("Owner Name")), QStringLiteral("dbo"));
    EXPECT_EQ(Value(page, QStringLiteral("RowCount")), QStringLiteral("0"));
    EXPECT_NE(Value(page, QStringLiteral("Id")), clerkId);
    page.Show(QStringLiteral("pgtwin"), okUserTable, QStringLiteral("editors.pairs"));
    EXPECT_EQ(page.Contents().ItemCount(), 0);
  }
}

TEST_F(PagesTest, NamesThatNeedQuotingShowWithoutRunningAnything) {
  struct Case {
    TQxObjectKind kind;
    QString name;
    QString field;
    QString value;
  };
  const Case cases[] = {
      {okUserTable, "dbo.a'b", "Name", "a'b"},
      {okUserTable, "dbo.x\"; drop table keepme --", "Name", "x\"; drop table keepme --"},
      {okUserTable, "dbo.Grüße Tabelle", "Name", "Grüße Tabelle"},
      {okColumn, "a'b.it's", "Length", "5"},
      {okColumn, "x\"; drop table keepme --.y\"z", "Type", "int"},
      {okColumn, "Grüße Tabelle.Straße", "Allow NULL", "Yes"},
      {okIndex, "a'b.it's idx", "Columns", "it's"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    props_.Show(QStringLiteral("pgtwin"), c.kind, c.name);
    EXPECT_EQ(Value(props_, c.field), c.value);
  }
  for (TQxObjectKind kind : {okUserTable, okGroup, okLogin, okUserDatatype, okDatabase}) {
    props_.Show(QStringLiteral("pgtwin"), kind, QStringLiteral("z' or 1=1 --"));
    EXPECT_EQ(props_.Contents().ItemCount(), 0) << int(kind);
  }
  EXPECT_EQ(viewtest::Rows(*db_, QStringLiteral("select count(*) from pgtwin..keepme")), (QStringList{"0"}));
}

TEST_F(PagesTest, ConnectionChecksAndResize) {
  TQxPgProperties lonely;
  lonely.SetName(QStringLiteral("pp"));
  lonely.Contents().AddItem(QStringLiteral("kept"));
  try {
    lonely.ShowProperties(okUserTable, QStringLiteral("books"));
    ADD_FAILURE() << "no connection accepted";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("pp: Database or DbName required"));
  }
  // Refused before the rows were touched.
  EXPECT_EQ(lonely.Contents().ItemCount(), 1);
  lonely.DbName = QStringLiteral("nosuchconnection");
  EXPECT_THROW(lonely.ShowProperties(okUserTable, QStringLiteral("books")), EQxMissingException);
  TQxPgSummary lonelySummary;
  lonelySummary.SetName(QStringLiteral("ps"));
  try {
    lonelySummary.ShowSummary(okUserTable, QString());
    ADD_FAILURE() << "no connection accepted";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("ps: Database or DbName required"));
  }
  EXPECT_EQ(lonelySummary.Contents().ColumnCaptions(), (QStringList{"Name", "Owner", "Date Created"}));

  // A blank SelectDb takes the connection's database.
  props_.SetSelectDb(QString());
  props_.ShowProperties(okUserTable, QStringLiteral("books"));
  EXPECT_EQ(props_.SelectDb(), QStringLiteral("sample"));
  EXPECT_EQ(props_.ShownDb, QStringLiteral("sample"));
  props_.Resize(437);
  EXPECT_EQ(props_.Contents().ColumnWidths(), (std::vector<int>{218, 218}));
  EXPECT_GT(props_.Contents().ItemCount(), 0);
  props_.Clear();
  EXPECT_EQ(props_.Contents().ItemCount(), 0);
  EXPECT_EQ(props_.Contents().ColumnCount(), 2);

  // A failing read reaches the page's own error events, leaves the update ended and the
  // connection usable.
  viewtest::Exec(*db_, QStringLiteral("create database pgdropped"));
  viewtest::Exec(*db_, QStringLiteral("drop database pgdropped"));
  int pageErrors = 0, summaryErrors = 0;
  props_.OnDbError = [&](TComponent*) { ++pageErrors; };
  summary_.OnDbError = [&](TComponent*) { ++summaryErrors; };
  EXPECT_ANY_THROW(props_.Show(QStringLiteral("pgdropped"), okUserTable, QStringLiteral("books")));
  EXPECT_ANY_THROW(summary_.Show(QStringLiteral("pgdropped"), okUserTable, QString()));
  EXPECT_EQ(pageErrors, 1);
  EXPECT_EQ(summaryErrors, 1);
  EXPECT_FALSE(props_.Contents().Updating());
  EXPECT_FALSE(summary_.Contents().Updating());
  props_.Show(QStringLiteral("sample"), okUserTable, QStringLiteral("books"));
  EXPECT_EQ(Value(props_, QStringLiteral("Name")), QStringLiteral("books"));
}

// ---- summary page ----

TEST_F(PagesTest, SummaryOfEveryKind) {
  struct Case {
    TQxObjectKind kind;
    QString name;
    QStringList columns;
    QStringList rows;  // exact when `exact`, else rows that must be there (leading columns)
    bool exact;
  };
  const QStringList objectColumns{"Name", "Owner", "Date created"};
  const Case cases[] = {
      {okProcedure, "", objectColumns, {"books_by_genre|dbo", "shop_order_count|dbo"}, true},
      {okRule, "", objectColumns, {"qty_rule|dbo"}, false},
      {okSystemTable, "", objectColumns, {"syscolumns|dbo", "sysusers|dbo"}, false},
      {okTrigger, "", objectColumns, {"orders_ins|dbo"}, true},
      {okUserTable, "", objectColumns, {"books|dbo", "shelf_notes|clerk", "writers|dbo"}, false},
      {okView, "", objectColumns, {"book_authors|dbo", "priced_books|dbo", "user_tables|dbo"}, true},
      {okNone, "", objectColumns, {"terms_default|dbo", "orders_ins|dbo"}, false},
      {okPrimaryKeyColumn, "", objectColumns, {"terms_default|dbo"}, false},
      {okDatabase, "", objectColumns, {"master|sa", "sample|sa", "pgtwin|sa"}, false},
      {okGroup, "", {"Name"}, {"editors", "public"}, true},
      {okIndex,
       "",
       {"Name", "Table"},
       {"book_writers_pk|book_writers", "books_pk|books", "books_pub|books", "orders_pk|orders",
        "orders_shop|orders", "publishers_pk|publishers", "shelf_notes_shop|shelf_notes", "shops_pk|shops",
        "writers_pk|writers", "writers_name|writers"},
       true},
      {okLogin, "", {"Name", "Default Database", "Date Created", "Pwd Date"}, {"clerk|sample", "sa|master"}, true},
      {okSystemDatatype, "", {"Name"}, {"char", "int", "varchar"}, false},
      // phone_t has usertype 100 exactly: a user type.
      {okUserDatatype, "", {"Name"}, {"phone_t", "zip_t"}, true},
      {okUser, "", {"Name"}, {"clerk", "dbo"}, true},
      {okSegment, "", {"Name", "Segment", "Status"}, {"default|1|1", "logsegment|2|0", "system|0|0"}, true},
      {okTableIndex, "books", {"Name", "Table"}, {"books_pk|books", "books_pub|books"}, true},
      {okColumn,
       "books",
       {"Name", "Type", "Precision", "Scale", "Length", "Identity"},
       {"book_id|char|6|0|6|0", "title|varchar|80|0|80|0", "genre|char|12|0|12|0", "pub_id|char|4|0|4|0",
        "price|money|19|4|8|0", "advance|numeric|10|2|6|0", "pages|smallint|5|0|2|0",
        "published|datetime|23|3|8|0", "notes|varchar|200|0|200|0"},
       true},
      {okColumn, "shelf_notes", {"Name", "Type", "Precision", "Scale", "Length", "Identity"}, {"note_id|numeric|8|0|5|1"}, false},
      {okParameter, "shop_order_count", {"Name", "Type", "Length", "Output"}, {"@shop_id|char|4|??", "@orders|int|4|??"}, true},
      {okPrimaryKey, "books", objectColumns, {}, true},
      {okDevice, "", {"Name", "Physical Name"}, {"master|tabulon.db", "sysprocsdev|tabulon.db", "tapedump1|/dev/nst0",
                                                 "tapedump2|/dev/nst1"}, true},
      {okDatabaseDevice, "", {"Name", "Physical Name"}, {"master|tabulon.db", "sysprocsdev|tabulon.db"}, true},
      {okDumpDevice, "", {"Name", "Physical Name"}, {"tapedump1|/dev/nst0", "tapedump2|/dev/nst1"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(int(c.kind)).arg(c.name).toStdString());
    summary_.Show(QStringLiteral("sample"), c.kind, c.name);
    EXPECT_EQ(summary_.Contents().ColumnCaptions(), c.columns);
    QStringList got;
    for (const TQxListItem& item : summary_.Contents().Items()) {
      EXPECT_EQ(item.ImageIndex, -1);
      QStringList cells = QStringList{item.Caption} + item.SubItems;
      // The date columns of object summaries change from run to run: compare the names only.
      if (c.columns == objectColumns || c.kind == okLogin) cells = cells.mid(0, 2);
      got << cells.join(QLatin1Char('|'));
    }
    if (c.exact) {
      EXPECT_EQ(got, c.rows);
    } else {
      for (const QString& row : c.rows) EXPECT_TRUE(got.contains(row)) << row.toStdString();
    }
    EXPECT_EQ(summary_.ShownKind, c.kind);
    EXPECT_FALSE(summary_.Contents().Updating());
  }
  // Index ids 1 to 254 only: the text chain of book_blurbs is no index.
  summary_.Show(QStringLiteral("sample"), okIndex, QString());
  for (const TQxListItem& item : summary_.Contents().Items()) EXPECT_NE(item.SubItems.value(0), "book_blurbs");
}

TEST_F(PagesTest, SummaryOnTheOtherFamily) {
  TQxPgSummary page;
  page.SetDatabase(any_.get());
  page.ShowDbMessages = TShowDbMessages{smDbErr};
  page.ShowSummary(okDatabase, QString());
  EXPECT_EQ(page.Contents().RowTexts(), (QStringList{"sample"}));
  for (TQxObjectKind kind : {okDatabaseDevice, okDumpDevice}) {
    page.ShowSummary(kind, QString());
    EXPECT_EQ(page.Contents().ColumnCaptions(), (QStringList{"Name", "Physical Name"}));
    EXPECT_EQ(page.Contents().ItemCount(), 0);
  }
  page.ShowSummary(okDevice, QString());
  EXPECT_EQ(page.Contents().ItemCount(), 4);
  page.ShowSummary(okTableIndex, QStringLiteral("books"));
  EXPECT_EQ(page.Contents().RowTexts(), (QStringList{"books_pk|books", "books_pub|books"}));
  page.ShowSummary(okParameter, QStringLiteral("shop_order_count"));
  ASSERT_EQ(page.Contents().ItemCount(), 2);
  EXPECT_EQ(page.Contents().Cell(0, 0), QStringLiteral("@shop_id"));
  for (int r = 0; r < 2; ++r) EXPECT_EQ(page.Contents().Cell(r, 3), QStringLiteral("??"));
}

TEST_F(PagesTest, ColumnSummaryOnTheOtherFamily) {
  TQxPgSummary page;
  page.SetDatabase(any_.get());
  page.ShowDbMessages = TShowDbMessages{smDbErr};
  // Every column of the table, plain-domain ones included, identity from the default.
  page.ShowSummary(okColumn, QStringLiteral("books"));
  QStringList names;
  for (const TQxListItem& item : page.Contents().Items()) names << item.Caption;
  EXPECT_EQ(names, (QStringList{"book_id", "title", "genre", "pub_id", "price", "advance", "pages", "published",
                                "notes"}));
  page.ShowSummary(okColumn, QStringLiteral("shelf_notes"));
  ASSERT_GE(page.Contents().ItemCount(), 2);
  EXPECT_EQ(page.Contents().Cell(0, 5), QStringLiteral("1"));
  EXPECT_EQ(page.Contents().Cell(1, 5), QStringLiteral("0"));
}

TEST_F(PagesTest, ColumnWidthsByKindAndAfterResize) {
  summary_.Width = 437;
  struct Case {
    TQxObjectKind kind;
    std::vector<int> widths;
  };
  const Case cases[] = {
      {okColumn, {62, 62, 62, 62, 62, 62}},
      {okGroup, {437}},
      {okSystemDatatype, {437}},
      {okUserDatatype, {437}},
      {okUser, {437}},
      {okUserTable, {135, 135, 135}},
      {okPrimaryKey, {135, 135, 135}},
      {okIndex, {208, 208}},
      {okLogin, {135, 135, 135, 135}},
      {okParameter, {99, 99, 99, 99}},
      {okDevice, {208, 437}},
      {okDatabaseDevice, {208, 437}},
      {okDumpDevice, {208, 437}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.kind));
    summary_.BuildColumns(c.kind);
    EXPECT_EQ(summary_.Contents().ColumnWidths(), c.widths);
  }
  summary_.BuildColumns(okColumn);
  summary_.Resize(500);
  EXPECT_EQ(summary_.Contents().ColumnWidths(), (std::vector<int>(6, 83)));
  // Clear keeps the columns of a page without rows, and empties a page with rows.
  summary_.Clear();
  EXPECT_EQ(summary_.Contents().ColumnCount(), 6);
  summary_.Show(QStringLiteral("sample"), okUser, QString());
  ASSERT_GT(summary_.Contents().ItemCount(), 0);
  summary_.Clear();
  EXPECT_EQ(summary_.Contents().ColumnCount(), 0);
  EXPECT_EQ(summary_.Contents().ItemCount(), 0);
  summary_.Resize(300);  // no columns: nothing to lay out
  EXPECT_EQ(summary_.Contents().ColumnCount(), 0);
}

TEST_F(PagesTest, ARowClickShowsTheMemberInTheLinkedPage) {
  int clicks = 0;
  summary_.OnClick = [&](TComponent* sender) { clicks += sender == &summary_; };
  // Without a linked page a click only fires OnClick.
  summary_.Show(QStringLiteral("sample"), okUserTable, QString());
  summary_.Contents().Selected = 0;
  summary_.Click();
  EXPECT_EQ(clicks, 1);

  TQxPgProperties linked;
  summary_.SetQxPgProperties(&linked);
  struct Case {
    TQxObjectKind kind;
    QString folder;
    QString row;
    QString shown;
    QString field;
    QString value;
  };
  const Case cases[] = {
      {okIndex, "", "writers_name", "writers.writers_name", "Columns", "last_name, first_name"},
      {okTableIndex, "books", "books_pub", "books.books_pub", "Columns", "pub_id"},
      {okUserTable, "", "shelf_notes", "shelf_notes", "Owner Name", "clerk"},
      {okColumn, "books", "advance", "books.advance", "Precision", "10"},
      {okParameter, "shop_order_count", "@orders", "shop_order_count.@orders", "Name", "<absent>"},
      {okUser, "", "clerk", "clerk", "Group Name", "editors"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown.toStdString());
    summary_.Show(QStringLiteral("sample"), c.kind, c.folder);
    int row = -1;
    for (int r = 0; r < summary_.Contents().ItemCount(); ++r)
      if (summary_.Contents().Cell(r, 0) == c.row) row = r;
    ASSERT_GE(row, 0);
    summary_.Contents().Selected = row;
    summary_.Click();
    EXPECT_EQ(linked.ShownKind, c.kind);
    EXPECT_EQ(linked.ShownObject, c.shown);
    EXPECT_EQ(linked.SelectDb(), QStringLiteral("sample"));
    EXPECT_EQ(linked.Database(), db_.get());
    EXPECT_EQ(Value(linked, c.field), c.value);
  }
  // The linked page shows the member of the summary's database, not the connection's.
  summary_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("books"));
  summary_.Contents().Selected = 1;
  summary_.Click();
  EXPECT_EQ(linked.ShownObject, QStringLiteral("books.label"));
  EXPECT_EQ(Value(linked, QStringLiteral("Length")), QStringLiteral("9"));
  // No selection: nothing shown.
  linked.Clear();
  summary_.Contents().Selected = -1;
  summary_.Click();
  EXPECT_EQ(linked.Contents().ItemCount(), 0);
  // A destroyed linked page is forgotten.
  {
    TQxPgProperties shortLived;
    summary_.SetQxPgProperties(&shortLived);
  }
  EXPECT_EQ(summary_.QxPgProperties(), nullptr);
  summary_.Contents().Selected = 0;
  summary_.Click();
}

TEST_F(PagesTest, SummariesOfTheShownDatabaseAndOfOddNames) {
  // The connection stays in sample; the summary reads pgtwin's catalogue.
  summary_.Show(QStringLiteral("pgtwin"), okParameter, QStringLiteral("shop_order_count"));
  EXPECT_EQ(summary_.Contents().RowTexts(),
            (QStringList{"@twin_a|int|4|??", "@twin_b|int|4|??", "@twin_c|int|4|??"}));
  summary_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("books"));
  EXPECT_EQ(summary_.Contents().RowTexts(), (QStringList{"twin_id|int|10|0|4|0", "label|varchar|9|0|9|0"}));
  summary_.Show(QStringLiteral("pgtwin"), okTableIndex, QStringLiteral("books"));
  EXPECT_EQ(summary_.Contents().RowTexts(), (QStringList{"twin_label|books"}));

  summary_.Show(QStringLiteral("pgtwin"), okUserTable, QString());
  QStringList tables;
  for (const TQxListItem& item : summary_.Contents().Items()) tables << item.Caption;
  EXPECT_TRUE(tables.contains(QStringLiteral("a'b")));
  EXPECT_TRUE(tables.contains(QStringLiteral("x\"; drop table keepme --")));
  EXPECT_TRUE(tables.contains(QStringLiteral("Grüße Tabelle")));
  summary_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("a'b"));
  EXPECT_EQ(summary_.Contents().RowTexts(), (QStringList{"id|int|10|0|4|0", "it's|varchar|5|0|5|0"}));
  summary_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("x\"; drop table keepme --"));
  EXPECT_EQ(summary_.Contents().RowTexts(), (QStringList{"y\"z|int|10|0|4|0"}));
  summary_.Show(QStringLiteral("pgtwin"), okTableIndex, QStringLiteral("a'b"));
  EXPECT_EQ(summary_.Contents().RowTexts(), (QStringList{"it's idx|a'b"}));
  summary_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("Grüße Tabelle"));
  EXPECT_EQ(summary_.Contents().RowTexts(), (QStringList{"Straße|int|10|0|4|0"}));
  summary_.Show(QStringLiteral("pgtwin"), okParameter, QStringLiteral("x\" or 1=1 --"));
  EXPECT_EQ(summary_.Contents().ItemCount(), 0);
  EXPECT_EQ(viewtest::Rows(*db_, QStringLiteral("select count(*) from pgtwin..keepme")), (QStringList{"0"}));
}

TEST_F(PagesTest, DottedAndSameNamedTablesShowTheirOwnMembers) {
  struct Props {
    TQxObjectKind kind;
    QString name, field, value;
  };
  const Props props[] = {
      {okColumn, "dot.ted.c", "Type", "varchar"},
      {okColumn, "[dot.ted].[a.b]", "Type", "int"},
      {okColumn, "dbo.[dot.ted].c", "Length", "3"},
      {okColumn, "dot.ted", "Type", "int"},  // the table dot's column ted
      {okIndex, "dot.ted.dt_idx", "Columns", "c, a.b"},
      {okTableIndex, "[dot.ted].dt_idx", "Table Name", "dot.ted"},
      {okUserTable, "dbo.dot.ted", "Name", "dot.ted"},
      {okUserTable, "dot.ted", "Name", "dot.ted"},
      {okColumn, "clerk.pairs.b", "Name", "b"},
      {okColumn, "pairs.b", "Name", "<absent>"},
      {okTableIndex, "clerk.pairs.pairs_idx", "Columns", "b"},
      {okTableIndex, "pairs.pairs_idx", "Columns", "a"},
  };
  for (const Props& c : props) {
    SCOPED_TRACE(c.name.toStdString());
    props_.Show(QStringLiteral("pgtwin"), c.kind, c.name);
    EXPECT_EQ(Value(props_, c.field), c.value);
  }
  struct Summary {
    TQxObjectKind kind;
    QString name;
    QStringList rows;
  };
  const Summary summaries[] = {
      {okColumn, "dot.ted", {"a.b|int|10|0|4|0", "c|varchar|3|0|3|0"}},
      {okTableIndex, "dot.ted", {"dt_idx|dot.ted"}},
      {okColumn, "clerk.pairs", {"a|int|10|0|4|0", "b|int|10|0|4|0"}},
      {okColumn, "pairs", {"a|int|10|0|4|0"}},
      {okTableIndex, "clerk.pairs", {"pairs_idx|pairs"}},
      {okParameter, "clerk.shop_order_count", {"@clerk_only|char|2|??"}},
      {okParameter, "shop_order_count", {"@twin_a|int|4|??", "@twin_b|int|4|??", "@twin_c|int|4|??"}},
  };
  // From the sample and from master: the browsed database is pgtwin either way.
  for (const QString& current : {QStringLiteral("sample"), QStringLiteral("master")}) {
    auto conn = viewtest::Connect(QStringLiteral("pgdot"), current);
    TQxPgSummary summary;
    summary.SetDatabase(conn.get());
    summary.ShowDbMessages = TShowDbMessages{smDbErr};
    for (const Summary& c : summaries) {
      SCOPED_TRACE((c.name + QStringLiteral(" from ") + current).toStdString());
      summary.Show(QStringLiteral("pgtwin"), c.kind, c.name);
      EXPECT_EQ(summary.Contents().RowTexts(), c.rows);
    }
  }
  // A row click names the member with its table as shown, brackets around a dotted part.
  summary_.SetQxPgProperties(&props_);
  summary_.Show(QStringLiteral("pgtwin"), okColumn, QStringLiteral("dot.ted"));
  EXPECT_EQ(summary_.MemberName(0), QStringLiteral("dot.ted.[a.b]"));
  summary_.Contents().Selected = 0;
  summary_.Click();
  EXPECT_EQ(Value(props_, QStringLiteral("Name")), QStringLiteral("a.b"));
  summary_.Show(QStringLiteral("pgtwin"), okTableIndex, QStringLiteral("clerk.pairs"));
  summary_.Contents().Selected = 0;
  summary_.Click();
  EXPECT_EQ(Value(props_, QStringLiteral("Columns")), QStringLiteral("b"));
  summary_.SetQxPgProperties(nullptr);
}

TEST_F(PagesTest, ARowClickNamesTheOwnerOfANameTwoOwnersShare) {
  viewtest::Exec(*db_, QStringLiteral("create database pgshared"));
  auto shared = viewtest::Connect(QStringLiteral("pgshareddb"), QStringLiteral("pgshared"));
  viewtest::Exec(*shared, QStringLiteral("exec sp_adduser clerk"));
  // Two owners' tables of one name with an index each; an index on clerk's solo only; clerk's
  // table vv beside dbo's view vv; a name nobody else has.
  viewtest::Exec(*shared, QStringLiteral("create table dbo.pairs (a int null)\n"
                                         "create table clerk.pairs (a int null, b int null)\n"
                                         "create index pairs_idx on dbo.pairs (a)\n"
                                         "create index pairs_idx on clerk.pairs (b)\n"
                                         "create table dbo.solo (t int null)\n"
                                         "create table clerk.solo (s int null)\n"
                                         "create index solo_idx on clerk.solo (s)\n"
                                         "create table clerk.vv (q int null)\n"
                                         "create table clerk.alone (z int null)"));
  viewtest::Exec(*shared, QStringLiteral("create view dbo.vv as select a from dbo.pairs"));
  TQxPgProperties linked;
  summary_.SetQxPgProperties(&linked);
  struct Case {
    TQxObjectKind kind;
    QString row;  // caption|second column
    QString shown, field, value;
  };
  const Case cases[] = {
      {okUserTable, "pairs|dbo", "dbo.pairs", "Id", "<pairs of dbo>"},
      {okUserTable, "pairs|clerk", "clerk.pairs", "Id", "<pairs of clerk>"},
      {okUserTable, "vv|clerk", "clerk.vv", "Owner Name", "clerk"},
      {okUserTable, "solo|clerk", "clerk.solo", "Owner Name", "clerk"},
      {okUserTable, "alone|clerk", "alone", "Owner Name", "clerk"},
      {okView, "vv|dbo", "dbo.vv", "Owner Name", "dbo"},
      // The index summary shows such a table as owner.table.
      {okIndex, "pairs_idx|dbo.pairs", "dbo.pairs.pairs_idx", "Columns", "a"},
      {okIndex, "pairs_idx|clerk.pairs", "clerk.pairs.pairs_idx", "Columns", "b"},
      {okIndex, "solo_idx|clerk.solo", "clerk.solo.solo_idx", "Columns", "s"},
  };
  const QString dboPairs = viewtest::Rows(*shared, QStringLiteral("select object_id('dbo.pairs')")).value(0);
  const QString clerkPairs = viewtest::Rows(*shared, QStringLiteral("select object_id('clerk.pairs')")).value(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row.toStdString());
    summary_.Show(QStringLiteral("pgshared"), c.kind, QString());
    int row = -1;
    for (int r = 0; r < summary_.Contents().ItemCount(); ++r)
      if (summary_.Contents().Cell(r, 0) + QLatin1Char('|') + summary_.Contents().Cell(r, 1) == c.row) row = r;
    ASSERT_GE(row, 0) << summary_.Contents().RowTexts().join('\n').toStdString();
    summary_.Contents().Selected = row;
    summary_.Click();
    EXPECT_EQ(linked.ShownObject, c.shown);
    QString value = c.value;
    value.replace(QStringLiteral("<pairs of dbo>"), dboPairs).replace(QStringLiteral("<pairs of clerk>"), clerkPairs);
    EXPECT_EQ(Value(linked, c.field), value);
  }
  summary_.SetQxPgProperties(nullptr);
}

TEST_F(PagesTest, ScreenshotsOfBothPages) {
  TQxListPageView propsView(&props_);
  propsView.resize(760, 560);
  props_.Show(QStringLiteral("sample"), okUserTable, QStringLiteral("dbo.books"));
  viewtest::Screenshot(propsView, QStringLiteral("property_page"));
  // The widget handed its client width to the page.
  EXPECT_EQ(props_.Width, propsView.viewport()->width());
  EXPECT_EQ(propsView.columnWidth(0), propsView.viewport()->width() / 2);
  EXPECT_EQ(propsView.topLevelItemCount(), props_.Contents().ItemCount());
  props_.Show(QStringLiteral("sample"), okIndex, QStringLiteral("books.books_pk"));
  viewtest::Screenshot(propsView, QStringLiteral("property_page_index"));
  // The property page draws grid lines and no hot tracking; the summary page neither.
  EXPECT_TRUE(propsView.GridLines());
  EXPECT_FALSE(propsView.hasMouseTracking());

  TQxListPageView summaryView(&summary_);
  summaryView.resize(640, 360);
  EXPECT_FALSE(summaryView.GridLines());
  summary_.SetQxPgProperties(&props_);
  summary_.Show(QStringLiteral("sample"), okColumn, QStringLiteral("books"));
  viewtest::Screenshot(summaryView, QStringLiteral("summary_page"));
  EXPECT_EQ(summaryView.topLevelItemCount(), 9);
  EXPECT_EQ(summaryView.headerItem()->text(5), QStringLiteral("Identity"));
  // A click in the widget reaches the linked page.
  QTreeWidgetItem* advance = summaryView.topLevelItem(5);
  ASSERT_TRUE(advance);
  emit summaryView.itemClicked(advance, 0);
  EXPECT_EQ(props_.ShownObject, QStringLiteral("books.advance"));
  summary_.Show(QStringLiteral("sample"), okUserTable, QString());
  viewtest::Screenshot(summaryView, QStringLiteral("summary_page_tables"));

  // A click whose property read fails is reported by the widget, not thrown through Qt.
  TRecordingUiServices ui;
  viewtest::Exec(*db_, QStringLiteral("create database pgvanishing"));
  summary_.Show(QStringLiteral("pgvanishing"), okUser, QString());
  ASSERT_GT(summaryView.topLevelItemCount(), 0);
  viewtest::Exec(*db_, QStringLiteral("drop database pgvanishing"));
  emit summaryView.itemClicked(summaryView.topLevelItem(0), 0);
  bool reported = false;
  for (const auto& event : ui.Events()) reported |= event.kind == TRecordingUiServices::Event::kMessageBox;
  EXPECT_TRUE(reported);
  EXPECT_FALSE(props_.Contents().Updating());
}

}  // namespace
