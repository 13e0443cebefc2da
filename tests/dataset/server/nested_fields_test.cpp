// Declared dataset fields of a server dataset, a nested dataset's cached apply through an
// update object, and the record numbers the cached-apply events receive, against the local
// server.
#include "access/QorixExceptions.h"
#include "dataset/server/QorixUpdateSQL.h"
#include "dataset/server/QxNestedDataSet.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/DataSetFixture.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

class NestedFieldsTest : public ServerDataSetTest {
 protected:
  // Table (id primary key, name) with the rows 1 to Count named n1, n2, ...
  void MakeTable(const QString& table, int count) {
    Exec(*check_, QStringLiteral("create table %1 (id int not null, name varchar(20) null, "
                                 "constraint %1_pk primary key (id))")
                      .arg(table));
    for (int i = 1; i <= count; ++i)
      Exec(*check_, QStringLiteral("insert %1 values (%2, 'n%2')").arg(table).arg(i));
  }
  QStringList Server(const QString& table) {
    return Rows(*check_, QStringLiteral("select id, name from %1 order by id").arg(table));
  }
};

// A table with a declared dataset field "lines": the field follows the columns, every row
// starts with it NULL, a nested dataset fills it while the row is edited, and the live UPDATE
// never names it.
TEST_F(NestedFieldsTest, ADeclaredDataSetFieldHoldsNestedRowsBesideTheServerColumns) {
  const QString table = QStringLiteral("nf_orders");
  MakeTable(table, 2);
  TQxTable orders;
  orders.SetName(QStringLiteral("nf_orders_ds"));
  orders.DbName = QStringLiteral("db");
  orders.SetTableName(table);
  TQxNestedFieldItem& lines = orders.NestedFields().Add();
  lines.FieldName = QStringLiteral("lines");
  lines.SetActive(true);
  orders.NestedFields().Add().FieldName = QStringLiteral("inactive");
  orders.Open();

  ASSERT_EQ(orders.FieldCount(), 3) << "an inactive item declares nothing";
  auto* field = dynamic_cast<TDataSetField*>(orders.Fields().Fields(2));
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->FieldName, "lines");
  for (orders.First(); !orders.Eof(); orders.Next()) EXPECT_TRUE(field->IsNull());

  // The nested dataset of the field is the class the memory datasets name.
  auto* nested = dynamic_cast<TQxNestedDataSet*>(field->EnsureNestedDataSet());
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(field->EnsureNestedDataSet(), nested) << "the field makes one nested dataset only";
  EXPECT_EQ(nested->Parent(), &orders);
  nested->FieldDefs().Add(QStringLiteral("no"), ftInteger);
  nested->FieldDefs().Add(QStringLiteral("text"), ftString, 10);

  orders.First();
  nested->Open();
  EXPECT_EQ(nested->RecordCount(), 0) << "a NULL field opens the nested dataset empty";
  nested->AppendRecord({1, "a"});
  nested->AppendRecord({2, "b"});
  EXPECT_EQ(orders.State(), TDataSetState::dsEdit);
  orders.Post();  // only the dataset field changed: no statement reaches the server
  EXPECT_EQ(Server(table), QStringList({"1|n1", "2|n2"}));
  EXPECT_FALSE(field->IsNull());

  orders.Next();
  EXPECT_EQ(nested->RecordCount(), 0) << "the second row has no nested rows";
  orders.Edit();
  orders.FieldByName("name")->SetAsString(QStringLiteral("two"));
  nested->AppendRecord({1, "c"});
  orders.Post();  // the UPDATE names the server column only
  EXPECT_EQ(Server(table), QStringList({"1|n1", "2|two"}));

  orders.First();
  EXPECT_EQ(Column(*nested, "text"), QStringList({"a", "b"}));
  orders.Next();
  EXPECT_EQ(Column(*nested, "text"), QStringList({"c"}));
}

// A nested dataset has no connection of its own: its change log goes to the server through the
// update object's connection, and without one nothing is applied and nothing is lost.
TEST_F(NestedFieldsTest, ANestedDataSetAppliesItsLogThroughTheUpdateObject) {
  const QString table = QStringLiteral("nf_lines");
  MakeTable(table, 3);
  TQxMemDataSet parent;
  parent.FieldDefs().Add(QStringLiteral("lines"), ftDataSet);
  parent.Open();
  auto* field = static_cast<TDataSetField*>(parent.FieldByName(QStringLiteral("lines")));
  TQxNestedDataSet nested;
  nested.SetName(QStringLiteral("nf_nested"));
  nested.FieldDefs().Add(QStringLiteral("id"), ftInteger);
  nested.FieldDefs().Add(QStringLiteral("name"), ftString, 20);
  nested.SetDataSetField(field);
  nested.CachedUpdates = false;  // the first rows are the server's already
  parent.Append();
  nested.Open();
  for (int i = 1; i <= 3; ++i) nested.AppendRecord({i, QStringLiteral("n%1").arg(i)});
  parent.Post();

  TQorixUpdateSQL upd;
  upd.ModifySQL = QStringList{QStringLiteral("update %1 set name = :name where id = :OLD_id").arg(table)};
  upd.InsertSQL = QStringList{QStringLiteral("insert %1 (id, name) values (:id, :name)").arg(table)};
  upd.DeleteSQL = QStringList{QStringLiteral("delete %1 where id = :OLD_id").arg(table)};
  nested.SetUpdateObject(&upd);
  nested.CachedUpdates = true;
  nested.First();
  nested.Edit();
  nested.FieldByName(QStringLiteral("name"))->SetAsString(QStringLiteral("one"));
  nested.Post();
  nested.AppendRecord({4, "four"});
  nested.Locate(QStringLiteral("id"), 2, {});
  nested.Delete();
  ASSERT_EQ(nested.Log().RecordCount(), 3);

  try {
    nested.ApplyUpdates();
    FAIL() << "applied without a connection";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), "nf_nested: Database or DbName required");
  }
  EXPECT_EQ(nested.Log().RecordCount(), 3);
  EXPECT_EQ(Server(table), QStringList({"1|n1", "2|n2", "3|n3"}));

  upd.DbName = QStringLiteral("db");
  nested.ApplyUpdates();
  EXPECT_EQ(Server(table), QStringList({"1|one", "3|n3", "4|four"}));
  EXPECT_EQ(nested.Log().RecordCount(), 0);
  EXPECT_EQ(Column(nested, "name"), QStringList({"one", "n3", "four"}));
}

// Each cached-apply event receives the record number the applied record has in the dataset;
// a deletion leaves the dataset where it stands.
TEST_F(NestedFieldsTest, CachedApplyEventsReceiveTheRecordNumber) {
  const QString table = QStringLiteral("nf_recno");
  MakeTable(table, 5);
  TQxTable t;
  t.SetName(QStringLiteral("nf_recno_ds"));
  TQorixUpdateSQL upd;
  upd.ModifySQL = QStringList{QStringLiteral("update %1 set name = :name where id = :OLD_id").arg(table)};
  upd.InsertSQL = QStringList{QStringLiteral("insert %1 (id, name) values (:id, :name)").arg(table)};
  upd.DeleteSQL = QStringList{QStringLiteral("delete %1 where id = :OLD_id").arg(table)};
  t.DbName = QStringLiteral("db");
  t.SetTableName(table);
  t.CachedUpdates = true;
  t.SetUpdateObject(&upd);
  t.Open();
  t.Last();
  ASSERT_EQ(t.RecordCount(), 5);

  QStringList seen;
  auto record = [&](const char* kind) {
    return [&seen, kind](TDataSet& ds, int recNo) {
      seen << QStringLiteral("%1 %2 %3").arg(kind).arg(recNo).arg(ds.FieldByName("id")->AsInteger());
      EXPECT_EQ(recNo, ds.RecNo()) << kind;
    };
  };
  t.AfterCachedRecPost = record("post");
  t.AfterCachedRecInsert = record("insert");
  t.AfterCachedRecDelete = record("delete");

  t.Locate(QStringLiteral("id"), 4, {});
  t.Edit();
  t.FieldByName("name")->SetAsString(QStringLiteral("four"));
  t.Post();
  t.Append();
  t.FieldByName("id")->SetValue(6);
  t.FieldByName("name")->SetAsString(QStringLiteral("six"));
  t.Post();
  t.Locate(QStringLiteral("id"), 2, {});
  t.Delete();
  t.ApplyUpdates();
  // After the deletion of id 2: 1, 3, 4, 5, 6.
  EXPECT_EQ(seen, QStringList({"post 3 4", "insert 5 6", "delete 5 6"}));
  EXPECT_EQ(Server(table), QStringList({"1|n1", "3|n3", "4|four", "5|n5", "6|six"}));
}
