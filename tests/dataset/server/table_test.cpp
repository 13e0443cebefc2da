// TQxTable against the local server: the SELECT it builds from the table's indexes, filter
// and select options; live edits, inserts and deletes read back through a second
// connection; the one-row check; quoted names and values; identity; large text and image.
#include <QRandomGenerator>

#include "access/QorixExceptions.h"
#include "dataset/DataSource.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class TableTest : public ServerDataSetTest {
 protected:
  // A fresh table dataset on "db".
  std::unique_ptr<TQxTable> Table(const QString& name, const QString& component) {
    auto t = std::make_unique<TQxTable>();
    t->SetName(component);
    t->DbName = QStringLiteral("db");
    t->SetTableName(name);
    return t;
  }
  // Positions T on the record whose field Key has the text Value.
  static void Seek(TQxTable& t, const QString& key, const QString& value) {
    t.First();
    while (!t.Eof() && t.FieldByName(key)->AsString().trimmed() != value) t.Next();
    ASSERT_FALSE(t.Eof()) << value.toStdString();
  }
};

TEST_F(TableTest, SelectFollowsIndexFilterAndOptions) {
  auto t = Table(QStringLiteral("books"), QStringLiteral("tb_books"));
  t->Open();
  ASSERT_GE(t->IndexDefs().Count(), 1);
  EXPECT_EQ(t->IndexDefs().Items(0)->Fields, "book_id");
  EXPECT_TRUE(t->CommandText().startsWith("SELECT book_id, title, genre, "));
  EXPECT_TRUE(t->CommandText().endsWith(" FROM sample..books ORDER BY book_id ASC")) << t->CommandText().toStdString();
  EXPECT_EQ(t->Fields().Fields(0)->AsString().trimmed(), "BK1001");
  t->Close();

  t->SetFilter(QStringLiteral(" genre = 'cooking' "));
  t->SetFiltered(true);
  t->SelectOptions.OrderBy = QStringLiteral("title DESC");
  t->Open();
  EXPECT_TRUE(t->CommandText().endsWith(" FROM sample..books WHERE (genre = 'cooking') ORDER BY title DESC"))
      << t->CommandText().toStdString();
  QStringList titles;
  for (t->First(); !t->Eof(); t->Next()) titles << t->FieldByName("title")->AsString();
  EXPECT_EQ(titles, Rows(*check_, QStringLiteral("select title from books where genre = 'cooking' order by title desc")));
  t->SelectOptions.GroupBy = QStringLiteral("genre");
  t->SelectOptions.Having = QStringLiteral("count(*) > 1");
  EXPECT_TRUE(t->BuildSelectSQL(false).endsWith(
      " WHERE (genre = 'cooking') GROUP BY genre HAVING count(*) > 1 ORDER BY title DESC"));
}

TEST_F(TableTest, LiveEditsReachTheServer) {
  Exec(*check_, QStringLiteral("create table t_live (id int not null, name varchar(30) null, price money null, "
                               "born datetime null, flag bit not null, constraint t_live_pk primary key (id))"));
  Exec(*check_, QStringLiteral("insert t_live values (1, 'one', $1.50, '2001-02-03 04:05:06.500', 1) "
                               "insert t_live values (2, 'two', null, null, 0) "
                               "insert t_live values (3, 'three', $3.25, null, 0)"));
  auto t = Table(QStringLiteral("t_live"), QStringLiteral("tb_live"));
  t->Open();
  // Edit: a changed name and an explicit empty string, which is a value and not NULL.
  Seek(*t, "id", "2");
  t->Edit();
  t->FieldByName("name")->SetAsString(QStringLiteral("zwei"));
  t->FieldByName("price")->SetValue(9.75);
  t->Post();
  EXPECT_EQ(t->RowsAffected(), 1);
  Seek(*t, "id", "3");
  t->Edit();
  t->FieldByName("name")->SetAsString(QString(""));
  t->Post();
  // An edit that changes nothing sends nothing.
  Seek(*t, "id", "1");
  const QString before = t->LastStatement();
  t->Edit();
  t->Post();
  EXPECT_EQ(t->LastStatement(), before);
  // Insert and delete.
  t->Append();
  t->FieldByName("id")->SetValue(4);
  t->FieldByName("name")->SetAsString(QStringLiteral("vier"));
  t->FieldByName("flag")->SetValue(true);
  t->Post();
  Seek(*t, "id", "1");
  t->Delete();
  EXPECT_EQ(t->Log().RecordCount(), 0);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, name, price, flag, isnull(name, 'NULL') from t_live order by id")),
            QStringList({"2|zwei|9.7500|0|zwei", "3||3.2500|0|", "4|vier|<null>|1|vier"}));
  // The dataset holds what the server holds.
  QStringList ids;
  for (t->First(); !t->Eof(); t->Next()) ids << t->FieldByName("id")->AsString();
  EXPECT_EQ(ids, QStringList({"2", "3", "4"}));
}

TEST_F(TableTest, RefreshShowsWhatTheServerHoldsNow) {
  Exec(*check_, QStringLiteral("create table t_refresh (id int not null, v int null, constraint t_refresh_pk primary key (id)) "
                               "insert t_refresh values (1, 1)"));
  auto t = Table(QStringLiteral("t_refresh"), QStringLiteral("tb_refresh"));
  t->Open();
  Exec(*check_, QStringLiteral("update t_refresh set v = 5 insert t_refresh values (2, 2)"));
  t->Refresh();
  QStringList rows;
  for (t->First(); !t->Eof(); t->Next()) rows << t->FieldByName("id")->AsString() + "|" + t->FieldByName("v")->AsString();
  EXPECT_EQ(rows, QStringList({"1|5", "2|2"}));
  // Edits after the refresh compare with the refreshed values.
  t->First();
  t->Edit();
  t->FieldByName("v")->SetValue(6);
  t->Post();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select v from t_refresh where id = 1")), QStringList({"6"}));
}

TEST_F(TableTest, DetailTableFollowsItsMasterAndTakesItsKey) {
  auto shops = Table(QStringLiteral("shops"), QStringLiteral("tb_shops"));
  auto orders = Table(QStringLiteral("orders"), QStringLiteral("tb_orders"));
  TDataSource src;
  src.SetDataSet(shops.get());
  orders->SetMasterSource(&src);
  orders->SetMasterFields(QStringLiteral("shop_id"));
  orders->SetIndexFieldNames(QStringLiteral("shop_id"));
  orders->FetchMasterKeyValues = true;
  shops->Open();
  orders->Open();
  EXPECT_TRUE(orders->CommandText().contains(" WHERE shop_id = 'S001'")) << orders->CommandText().toStdString();
  for (shops->First(); !shops->Eof(); shops->Next()) {
    const QString shop = shops->FieldByName("shop_id")->AsString().trimmed();
    QStringList got;
    for (orders->First(); !orders->Eof(); orders->Next()) got << orders->FieldByName("order_no")->AsString();
    std::sort(got.begin(), got.end());
    QStringList want = Rows(*check_, QStringLiteral("select order_no from orders where shop_id = '%1'").arg(shop));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << shop.toStdString();
  }
  // A new detail record takes the master's key.
  shops->First();
  orders->Append();
  EXPECT_EQ(orders->FieldByName("shop_id")->AsString().trimmed(), shops->FieldByName("shop_id")->AsString().trimmed());
  orders->Cancel();
}

TEST_F(TableTest, EveryUserAndSystemTableOfTheSampleOpens) {
  const QStringList tables = Rows(*check_, QStringLiteral("select u.name + '.' + o.name from sysobjects o, sysusers u "
                                                          "where o.uid = u.uid and o.type in ('U', 'S') order by o.name"));
  ASSERT_GT(tables.size(), 10);
  for (const QString& name : tables) {
    SCOPED_TRACE(name.toStdString());
    TQxTable t;
    t.SetName(QStringLiteral("tb_every"));
    t.DbName = QStringLiteral("db");
    t.MaxRows = 10000;
    t.FetchRows = 250;
    t.SetTableName(name);
    try {
      t.Open();
      t.Last();
      // MaxRows bounds what the store takes.
      const int count = Rows(*check_, QStringLiteral("select count(*) from ") + name).first().toInt();
      EXPECT_EQ(t.RecordCount(), std::min(count, 10000));
    } catch (const Exception& e) {
      ADD_FAILURE() << e.Message().toStdString();
    }
  }
}

TEST_F(TableTest, AnywhereFamilyOpensAndEdits) {
  Exec(*check_, QStringLiteral("create table t_any (id int not null, v int null, constraint t_any_pk primary key (id)) "
                               "insert t_any values (1, 1) insert t_any values (2, 2)"));
  db_->Rdbms = QStringLiteral("SQLAnywhere");
  auto t = Table(QStringLiteral("t_any"), QStringLiteral("tb_any"));
  t->FetchRows = 1;
  t->Open();
  EXPECT_EQ(t->ServerType(), qstAnywhere);
  // The family's catalogue gives the index and its key: the rows come in key order and a
  // key-only edit names its row by it.
  ASSERT_EQ(t->IndexDefs().Count(), 1);
  EXPECT_EQ(t->IndexDefs().Items(0)->Fields, "id");
  EXPECT_EQ(t->KeyFields(), QStringList({"id"}));
  EXPECT_TRUE(t->CommandText().endsWith(" ORDER BY id ASC")) << t->CommandText().toStdString();
  t->UpdateMode = upWhereKeyOnly;
  t->Edit();
  t->FieldByName("v")->SetValue(10);
  t->Post();
  EXPECT_TRUE(t->LastStatement().endsWith(" WHERE 1=1 AND id=1")) << t->LastStatement().toStdString();
  t->Close();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select v from t_any order by id")), QStringList({"10", "2"}));
  db_->Rdbms = QStringLiteral("Sybase SQL Server");
}

TEST_F(TableTest, OneRowCheckRefusesZeroOrSeveralMatchesAndKeepsTheEdit) {
  Exec(*check_, QStringLiteral("create table t_dups (k int not null, v varchar(10) null)"));
  Exec(*check_, QStringLiteral("insert t_dups values (1, 'a') insert t_dups values (1, 'a') insert t_dups values (2, 'b') "
                               "insert t_dups values (3, 'c')"));
  auto t = Table(QStringLiteral("t_dups"), QStringLiteral("tb_dups"));
  t->Open();
  const QStringList start = Rows(*check_, QStringLiteral("select k, v from t_dups order by k, v"));
  struct Case {
    const char* name;
    const char* key;
    const char* serverChange;  // run through the second connection before the post
    const char* message;       // empty: the post goes through
  } cases[] = {
      {"two matching rows", "1", "", "Multiple records found, but only one expected"},
      {"changed meanwhile: no matching row", "2", "update t_dups set v = 'B' where k = 2", "No record found, but one expected"},
      {"one matching row", "3", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Seek(*t, "k", c.key);
    if (*c.serverChange) Exec(*check_, QString::fromUtf8(c.serverChange));
    const QStringList server = Rows(*check_, QStringLiteral("select k, v from t_dups order by k, v"));
    t->Edit();
    t->FieldByName("v")->SetAsString(QStringLiteral("new"));
    if (*c.message) {
      try {
        t->Post();
        ADD_FAILURE() << "post went through";
      } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QString::fromUtf8(c.message))) << e.Message().toStdString();
      }
      // Refused: the server is as it was, the edit is still there to correct or cancel.
      EXPECT_EQ(Rows(*check_, QStringLiteral("select k, v from t_dups order by k, v")), server);
      EXPECT_EQ(t->State(), TDataSetState::dsEdit);
      EXPECT_EQ(t->FieldByName("v")->AsString(), "new");
      t->Cancel();
      EXPECT_EQ(t->Log().RecordCount(), 0);
    } else {
      t->Post();
      EXPECT_EQ(Rows(*check_, QStringLiteral("select v from t_dups where k = 3")), QStringList({"new"}));
    }
  }
  // A delete of a duplicated row is refused the same way and removes nothing.
  Seek(*t, "k", "1");
  EXPECT_THROW(t->Delete(), EQxDataSetException);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from t_dups where k = 1")), QStringList({"2"}));
  Q_UNUSED(start);
}

TEST_F(TableTest, QuotedNamesAndValues) {
  Exec(*check_, QStringLiteral("create table [odd items] ([item key] varchar(20) not null, [the value] int null, "
                               "constraint odd_pk primary key ([item key]))"));
  Exec(*check_, QStringLiteral("insert [odd items] values ('O''Neil', 1) insert [odd items] values ('plain', 2)"));
  auto t = Table(QStringLiteral("odd items"), QStringLiteral("tb_odd"));
  t->Open();
  ASSERT_EQ(t->FieldCount(), 2);
  Seek(*t, "item key", "O'Neil");
  t->Edit();
  t->FieldByName("the value")->SetValue(10);
  t->Post();
  t->Append();
  t->FieldByName("item key")->SetAsString(QStringLiteral("x'; drop t --"));
  t->FieldByName("the value")->SetValue(3);
  t->Post();
  Seek(*t, "item key", "plain");
  t->Delete();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select [item key], [the value] from [odd items] order by [item key]")),
            QStringList({"O'Neil|10", "x'; drop t --|3"}));
}

TEST_F(TableTest, IdentityComesBackAfterAnInsert) {
  auto t = Table(QStringLiteral("clerk.shelf_notes"), QStringLiteral("tb_notes"));
  t->FetchIdentity = true;
  t->Open();
  EXPECT_EQ(t->IdentityColumn(), "note_id");
  t->Append();
  t->FieldByName("shop_id")->SetAsString(QStringLiteral("S002"));
  t->FieldByName("shelf")->SetAsString(QStringLiteral("Z9"));
  t->Post();
  const QStringList server = Rows(*check_, QStringLiteral("select note_id from clerk.shelf_notes where shelf = 'Z9'"));
  ASSERT_EQ(server.size(), 1);
  EXPECT_EQ(QString::number(t->LastIdentity()), server.first().section('.', 0, 0));
  EXPECT_EQ(t->FieldByName("note_id")->AsString().section('.', 0, 0), server.first().section('.', 0, 0));
}

TEST_F(TableTest, LargeTextAndImageRoundTripByteForByte) {
  Exec(*check_, QStringLiteral("create table t_big (id int not null, memo text null, pic image null, "
                               "constraint t_big_pk primary key (id))"));
  Exec(*check_, QStringLiteral("insert t_big values (1, 'small', 0x00ff)"));
  db_->SetTextSize(4 * 1024 * 1024);
  QByteArray text(1024 * 1024, 'x');
  QByteArray image(1024 * 1024, '\0');
  QRandomGenerator gen(7);
  for (int i = 0; i < text.size(); ++i) text[i] = char('a' + gen.bounded(26));
  for (int i = 0; i < image.size(); ++i) image[i] = char(gen.bounded(256));
  text[100] = '\'';
  {
    auto t = Table(QStringLiteral("t_big"), QStringLiteral("tb_big"));
    t->Open();
    EXPECT_EQ(static_cast<TBlobField*>(t->FieldByName("pic"))->AsBytes(), QByteArray("\x00\xff", 2));
    t->Edit();
    static_cast<TBlobField*>(t->FieldByName("memo"))->SetAsBytes(text);
    static_cast<TBlobField*>(t->FieldByName("pic"))->SetAsBytes(image);
    t->Post();
  }
  // A second connection reads back the very bytes.
  auto other = dstest::Connect(QStringLiteral("other"));
  other->SetTextSize(4 * 1024 * 1024);
  TQxTable back;
  back.SetName(QStringLiteral("tb_back"));
  back.DbName = QStringLiteral("other");
  back.SetTableName(QStringLiteral("t_big"));
  back.Open();
  EXPECT_EQ(static_cast<TBlobField*>(back.FieldByName("memo"))->AsBytes(), text);
  EXPECT_EQ(static_cast<TBlobField*>(back.FieldByName("pic"))->AsBytes(), image);
}

// The key-setting state: SetKey starts with empty key values, EditKey with the last ones;
// writes reach the key values, never the record; Post keeps them, Cancel restores them; GotoKey
// moves to the record of the key columns' values (several columns too) or stays.
TEST_F(TableTest, KeyValuesFindTheirRecord) {
  auto t = Table(QStringLiteral("book_writers"), QStringLiteral("tb_keys"));
  t->Open();
  const QStringList pairs =
      Rows(*check_, QStringLiteral("select writer_id, book_id from book_writers order by book_id desc, writer_id desc"));
  ASSERT_GE(pairs.size(), 3);
  const QStringList target = pairs[1].split(QLatin1Char('|'));
  const QString firstBook = t->FieldByName("book_id")->AsString();

  t->SetKey();
  EXPECT_EQ(t->State(), TDataSetState::dsSetKey);
  EXPECT_TRUE(t->FieldByName("book_id")->IsNull());
  t->FieldByName("writer_id")->SetAsString(target[0]);
  t->FieldByName("book_id")->SetAsString(target[1]);
  t->Post();
  EXPECT_EQ(t->State(), TDataSetState::dsBrowse);
  // The record itself did not change.
  EXPECT_EQ(t->FieldByName("book_id")->AsString(), firstBook);
  ASSERT_TRUE(t->GotoKey());
  EXPECT_EQ(t->FieldByName("writer_id")->AsString(), target[0]);
  EXPECT_EQ(t->FieldByName("book_id")->AsString().trimmed(), target[1]);

  // EditKey shows the kept values; Cancel restores them after a change.
  t->EditKey();
  EXPECT_EQ(t->FieldByName("book_id")->AsString().trimmed(), target[1]);
  t->FieldByName("book_id")->SetAsString(QStringLiteral("NOBOOK"));
  t->Cancel();
  EXPECT_EQ(t->State(), TDataSetState::dsBrowse);
  t->EditKey();
  EXPECT_EQ(t->FieldByName("book_id")->AsString().trimmed(), target[1]);
  // A key that matches nothing: GotoKey answers false and the dataset stays.
  t->FieldByName("book_id")->SetAsString(QStringLiteral("NOBOOK"));
  t->Post();
  EXPECT_FALSE(t->GotoKey());
  EXPECT_EQ(t->FieldByName("book_id")->AsString().trimmed(), target[1]);

  // An open edit is posted before the key-setting state begins.
  t->Edit();
  t->FieldByName("writer_order")->SetAsInteger(t->FieldByName("writer_order")->AsInteger());
  t->SetKey();
  EXPECT_EQ(t->State(), TDataSetState::dsSetKey);
  t->Cancel();
  EXPECT_EQ(t->State(), TDataSetState::dsBrowse);
}

// The table's provider operations and the detail link fields.
TEST_F(TableTest, ProviderOperationsAndDetailLinkFields) {
  auto books = Table(QStringLiteral("books"), QStringLiteral("tb_ps_books"));
  books->Open();
  EXPECT_TRUE(books->StoreDefs);  // the index definitions were read
  EXPECT_EQ(books->PSGetTableName(), "books");
  EXPECT_EQ(books->PSGetKeyFields(), "book_id");
  const QList<TIndexDef*> unique = books->PSGetIndexDefs(TIndexOptions(TIndexOption::ixUnique));
  ASSERT_FALSE(unique.isEmpty());
  EXPECT_EQ(unique.first()->Fields, "book_id");
  books->PrimeFields = QStringList{QStringLiteral("title")};
  EXPECT_EQ(books->PSGetKeyFields(), "title");
  books->PSSetCommandText(QString());
  EXPECT_EQ(books->TableName(), "books");
  books->Close();
  books->PSSetCommandText(QStringLiteral("orders"));
  EXPECT_EQ(books->TableName(), "orders");

  auto shops = Table(QStringLiteral("shops"), QStringLiteral("tb_ps_shops"));
  auto orders = Table(QStringLiteral("orders"), QStringLiteral("tb_ps_orders"));
  TDataSource src;
  src.SetDataSet(shops.get());
  orders->SetMasterSource(&src);
  orders->SetMasterFields(QStringLiteral("shop_id"));
  orders->SetIndexFieldNames(QStringLiteral("shop_id"));
  QList<TField*> master, detail;
  orders->GetDetailLinkFields(master, detail);
  EXPECT_TRUE(master.isEmpty());  // the master is closed
  shops->Open();
  orders->Open();
  orders->GetDetailLinkFields(master, detail);
  ASSERT_EQ(master.size(), 1);
  ASSERT_EQ(detail.size(), 1);
  EXPECT_EQ(master.first(), shops->FieldByName("shop_id"));
  EXPECT_EQ(detail.first(), orders->FieldByName("shop_id"));
}

// A filtered table's live UPDATE changes only a row its filter still shows (the filter joins the
// WHERE), so a row another user moved out of the filter is refused and keeps that user's
// values; a DELETE names its row without the filter.
TEST_F(TableTest, AFilteredTableUpdatesOnlyRowsItsFilterShows) {
  Exec(*check_, QStringLiteral("create table t_filt (id int not null, kind char(4) not null, v int null, "
                               "constraint t_filt_pk primary key (id)) "
                               "insert t_filt values (1, 'keep', 1) insert t_filt values (2, 'keep', 2) "
                               "insert t_filt values (3, 'drop', 3)"));
  auto t = Table(QStringLiteral("t_filt"), QStringLiteral("tb_filt"));
  t->CheckDups = false;
  t->UpdateMode = upWhereKeyOnly;
  t->SetFilter(QStringLiteral(" kind = 'keep' "));
  t->SetFiltered(true);
  t->Open();
  Seek(*t, QStringLiteral("id"), QStringLiteral("1"));
  t->Edit();
  t->FieldByName("v")->SetValue(10);
  t->Post();
  EXPECT_EQ(t->LastStatement(), "UPDATE sample..t_filt SET v=10 WHERE 1=1 AND id=1 AND (kind = 'keep')");
  // Another user moves row 2 out of the filter: this user's edit of it is refused.
  Exec(*check_, QStringLiteral("update t_filt set kind = 'gone' where id = 2"));
  Seek(*t, QStringLiteral("id"), QStringLiteral("2"));
  t->Edit();
  t->FieldByName("v")->SetValue(20);
  EXPECT_THROW(t->Post(), Exception);
  t->Cancel();
  Seek(*t, QStringLiteral("id"), QStringLiteral("1"));
  t->Delete();
  EXPECT_EQ(t->LastStatement(), "DELETE sample..t_filt WHERE 1=1 AND id=1");
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, kind, v from t_filt order by id")),
            QStringList({"2|gone|2", "3|drop|3"}));
}
