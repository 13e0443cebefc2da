// The sample's books and orders edited row by row through a table dataset set up as the main
// window's Data page sets its table up (live updates, one transaction per statement, all
// columns in the WHERE): every row edited, every row deleted, every row inserted again, each
// step read back through a second connection. The tables end as they began.
#include "access/QorixExceptions.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Rows;
using dstest::ServerDataSetTest;

namespace {
struct SampleTable {
  const char* name;
  const char* key;
  const char* text;      // a text column each edit changes
  const char* number;    // a number column each edit changes
  const char* newNumber; // its new value
};
const SampleTable kTables[] = {
    {"books", "book_id", "notes", "price", "1234.5678"},
    {"orders", "order_no", "terms", "discount", "0.125"},
};
}  // namespace

class DataPageTest : public ServerDataSetTest {
 protected:
  // The table as the Data page opens it.
  std::unique_ptr<TQxTable> DataPageTable(const QString& name) {
    auto t = std::make_unique<TQxTable>();
    t->SetName(QStringLiteral("tbl_sql_data"));
    t->SetDatabase(db_.get());
    t->MaxRows = 10000;
    t->FetchRows = 250;
    t->SQLOptions = TSQLOptions{soUseTransaction, soUseTransactionOnCache};
    t->UpdateMode = upWhereAll;
    t->CachedUpdates = false;
    t->SetTableName(name);
    return t;
  }
  QStringList All(const SampleTable& s) {
    return Rows(*check_, QStringLiteral("select * from %1 order by %2").arg(s.name, s.key));
  }
};

TEST_F(DataPageTest, EveryRowOfBooksAndOrdersEditedDeletedAndInsertedAgain) {
  for (const SampleTable& s : kTables) {
    SCOPED_TRACE(s.name);
    const QStringList original = All(s);
    ASSERT_GT(original.size(), 5);
    auto t = DataPageTable(QString::fromUtf8(s.name));
    t->Open();
    // The values of every row as the dataset holds them, to insert them again later.
    std::vector<std::vector<QVariant>> values;
    for (t->First(); !t->Eof(); t->Next()) {
      std::vector<QVariant> row;
      for (int i = 0; i < t->FieldCount(); ++i) row.push_back(t->Fields().Fields(i)->Value());
      values.push_back(row);
    }
    ASSERT_EQ(int(values.size()), original.size());

    // Every row edited: a text and a number column; each edit is on the server at once.
    for (t->First(); !t->Eof(); t->Next()) {
      const QString key = t->FieldByName(QString::fromUtf8(s.key))->AsString().trimmed();
      SCOPED_TRACE(key.toStdString());
      t->Edit();
      t->FieldByName(QString::fromUtf8(s.text))->SetAsString(QStringLiteral("edited"));
      t->FieldByName(QString::fromUtf8(s.number))->SetAsString(QString::fromUtf8(s.newNumber));
      ASSERT_NO_THROW(t->Post()) << t->LastStatement().toStdString();
      EXPECT_EQ(Rows(*check_, QStringLiteral("select %1, convert(varchar(30), convert(numeric(19,4), %2)) from %3 "
                                             "where %4 = %5")
                                  .arg(s.text, s.number, s.name, s.key,
                                       key.at(0).isDigit() ? key : QLatin1Char('\'') + key + QLatin1Char('\''))),
                QStringList({QStringLiteral("edited|") +
                             QString::number(QString::fromUtf8(s.newNumber).toDouble(), 'f', 4)}));
    }
    // Every row deleted.
    while (!t->IsEmpty()) {
      t->First();
      ASSERT_NO_THROW(t->Delete()) << t->LastStatement().toStdString();
    }
    EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from %1").arg(s.name)), QStringList({"0"}));
    // Every row inserted again with its first values: the table is as it was.
    for (const std::vector<QVariant>& row : values) {
      t->Append();
      for (int i = 0; i < t->FieldCount(); ++i) t->Fields().Fields(i)->SetValue(row[size_t(i)]);
      ASSERT_NO_THROW(t->Post()) << t->LastStatement().toStdString();
    }
    EXPECT_EQ(All(s), original);
    // What the dataset shows after a refresh is what it was given.
    t->Refresh();
    int n = 0;
    for (t->First(); !t->Eof(); t->Next(), ++n)
      for (int i = 0; i < t->FieldCount(); ++i)
        EXPECT_EQ(t->Fields().Fields(i)->Value(), values[size_t(n)][size_t(i)]) << t->Fields().Fields(i)->FieldName.toStdString();
    EXPECT_EQ(n, int(values.size()));
  }
}

// A row inserted into a table with an identity column learns the id the server gave it, so it
// can be edited and deleted at once, without a refresh; each step read back through a second
// connection. Two rows in a row get their own ids, and an id already taken by a deleted row
// is not reused.
TEST_F(DataPageTest, FreshIdentityRowIsEditedAndDeletedWithoutARefresh) {
  dstest::Exec(*check_, QStringLiteral("create table ident_probe (id int identity, name varchar(20) not null, "
                                       "qty int not null, constraint ident_probe_pk primary key (id))"));
  std::shared_ptr<void> drop(nullptr, [&](void*) { dstest::Exec(*check_, QStringLiteral("drop table ident_probe")); });
  dstest::Exec(*check_, QStringLiteral("insert ident_probe (name, qty) values ('old', 1)"));
  auto t = DataPageTable(QStringLiteral("ident_probe"));
  t->Open();
  ASSERT_EQ(t->IdentityColumn(), QStringLiteral("id"));
  for (const char* name : {"first", "second"}) {
    SCOPED_TRACE(name);
    t->Append();
    t->FieldByName(QStringLiteral("name"))->SetAsString(QString::fromLatin1(name));
    t->FieldByName(QStringLiteral("qty"))->SetValue(5);
    ASSERT_NO_THROW(t->Post()) << t->LastStatement().toStdString();
    const QStringList id = Rows(*check_, QStringLiteral("select id from ident_probe where name = '%1'").arg(name));
    ASSERT_EQ(id.size(), 1);
    EXPECT_EQ(t->FieldByName(QStringLiteral("id"))->AsString(), id[0]);
    // Edited at once: the row is found by the id it was given.
    t->Edit();
    t->FieldByName(QStringLiteral("qty"))->SetValue(6);
    ASSERT_NO_THROW(t->Post()) << t->LastStatement().toStdString();
    EXPECT_EQ(Rows(*check_, QStringLiteral("select qty from ident_probe where id = %1").arg(id[0])), QStringList{"6"});
  }
  // Deleted at once, the other rows kept.
  ASSERT_TRUE(t->Locate(QStringLiteral("name"), QStringLiteral("first"), {}));
  ASSERT_NO_THROW(t->Delete()) << t->LastStatement().toStdString();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select name, qty from ident_probe order by id")),
            (QStringList{"old|1", "second|6"}));
  ASSERT_TRUE(t->Locate(QStringLiteral("name"), QStringLiteral("second"), {}));
  ASSERT_NO_THROW(t->Delete()) << t->LastStatement().toStdString();
  EXPECT_EQ(Rows(*check_, QStringLiteral("select name from ident_probe")), QStringList{"old"});
}
