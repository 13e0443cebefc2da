// The catalogue readers against the local server's sample database, for both families: one
// table of (reader, family, object) -> rows, then the faults that matter one by one: index
// rows 1 to 254 only, the index columns of a table dbo does not own, a table of more than 255
// columns, the row count of a missing table, the user type of usertype 100, names longer than
// 15 characters, the column list of the selected database, a DbName that names no connection,
// and the quoting helpers with the names they must survive.
#include <QCoreApplication>
#include <functional>

#include "access/QorixExceptions.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QxSqlText.h"
#include "service_fixture.h"

namespace {

enum Family { kSybase, kAnywhere };

class ReadersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto db = svctest::Connect(QStringLiteral("rdsetup"));
    svctest::Exec(*db, QStringLiteral("create database rdwide"));
    // 300 columns: positions past 255 must keep their order and names.
    QString wide = QStringLiteral("create table rdwide..wide (");
    for (int i = 1; i <= 300; ++i)
      wide += QStringLiteral("%1c%2 int null").arg(i > 1 ? ", " : "").arg(i, 3, 10, QLatin1Char('0'));
    svctest::Exec(*db, wide + QLatin1Char(')'));
    svctest::Exec(*db, QStringLiteral("create table rdwide..books (other_id int not null, other_name char(3) null)"));
    svctest::Exec(*db, QStringLiteral("use rdwide"));
    svctest::Exec(*db, QStringLiteral("exec sp_addtype a_type_name_of_thirty_letters_, 'char(3)'"));
  }

  void SetUp() override {
    syb_ = svctest::Connect(QStringLiteral("rdsyb"));
    ASSERT_TRUE(syb_->Connected());
    any_ = svctest::Connect(QStringLiteral("rdany"), QStringLiteral("sample"), QStringLiteral("SQLAnywhere"));
    ASSERT_TRUE(any_->Connected());
  }

  std::unique_ptr<TQorixObjInfo> Info(Family family, const QString& selectDb = QStringLiteral("sample")) {
    auto info = std::make_unique<TQorixObjInfo>();
    info->SetDatabase(family == kSybase ? syb_.get() : any_.get());
    info->SetSelectDb(selectDb);
    info->ShowDbMessages = TShowDbMessages{smDbErr};
    return info;
  }

  std::unique_ptr<TQorixDatabase> syb_;
  std::unique_ptr<TQorixDatabase> any_;
};

QString Join(const QStringList& list) { return list.join(QLatin1Char(',')); }

QString ObjectRow(const std::unique_ptr<TQxObject>& o) {
  if (!o) return QStringLiteral("<none>");
  return QStringLiteral("%1|%2|%3|del=%4|ins=%5|upd=%6")
      .arg(o->Name, o->OwnerName, o->ObjType, o->DelTrigName, o->InsTrigName, o->UpdTrigName);
}

QString ColumnsText(const std::unique_ptr<TQxColumnList>& list) {
  if (!list) return QStringLiteral("<none>");
  QStringList out;
  for (const TQxColumn& c : *list)
    out << QStringLiteral("%1 %2 %3 %4.%5 0x%6")
               .arg(c.Name, c.TypeName)
               .arg(c.Length)
               .arg(c.Prec)
               .arg(c.Scale)
               .arg(c.Status, 0, 16);
  return out.join(QStringLiteral("; "));
}

QString LoadedColumns(TQorixObjInfo& info) {
  QStringList out;
  for (int i = 1; i <= info.ColumnCount; ++i)
    out << QStringLiteral("%1 %2 %3 %4.%5%6%7")
               .arg(info.ColumnName(i), info.ColumnTypeName(i))
               .arg(info.ColumnLength(i))
               .arg(info.ColumnPrec(i))
               .arg(info.ColumnScale(i))
               .arg(info.ColumnNullable(i) ? " null" : "")
               .arg(info.ColumnIdentity(i) ? " identity" : "");
  return out.join(QStringLiteral("; "));
}

TEST_F(ReadersTest, EveryReaderOfTheSampleDatabase) {
  using Reader = std::function<QString(TQorixObjInfo&)>;
  struct Case {
    const char* reader;
    Family family;
    const char* object;
    Reader read;
    QString expected;
  };
  const Case cases[] = {
      {"GetDatabaseList", kAnywhere, "", [](TQorixObjInfo& i) { return Join(i.GetDatabaseList()); }, "sample"},
      {"GetObjectInfo", kSybase, "orders (trigger)",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("orders", false, false)); },
       "orders|dbo|U|del=|ins=orders_ins|upd="},
      {"GetObjectInfo", kSybase, "shelf_notes (owner clerk)",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("shelf_notes", false, false)); },
       "shelf_notes|clerk|U|del=|ins=|upd="},
      {"GetObjectInfo", kAnywhere, "user_tables (view over a system table)",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("user_tables", false, false)); },
       "user_tables|dbo|V|del=|ins=|upd="},
      {"GetObjectInfo", kSybase, "orders_ins (trigger)",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("orders_ins", false, false)); },
       // A trigger's row keeps its table's id where a table keeps its delete trigger.
       "orders_ins|dbo|TR|del=orders|ins=|upd="},
      {"GetObjectInfo", kSybase, "qty_rule (rule)",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("qty_rule", false, false)); },
       "qty_rule|dbo|R|del=|ins=|upd="},
      {"GetObjectInfo", kSybase, "terms_default (default)",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("terms_default", false, false)); },
       "terms_default|dbo|D|del=|ins=|upd="},
      {"GetObjectInfo", kSybase, "no such object",
       [](TQorixObjInfo& i) { return ObjectRow(i.GetObjectInfo("no_such_object", false, false)); }, "<none>"},
      {"GetObjectInfo+columns", kSybase, "priced_books",
       [](TQorixObjInfo& i) { return ColumnsText(i.GetObjectInfo("priced_books", true, false)->Columns); },
       // varchar is described as char; numeric-like money keeps its own; CS_CANBENULL is 0x20.
       "book_id char 6 0.0 0x0; title char 80 0.0 0x0; genre char 12 0.0 0x0; price money 8 0.0 0x20"},
      {"GetDatabaseInfo", kSybase, "sample",
       [](TQorixObjInfo& i) {
         auto d = i.GetDatabaseInfo("sample");
         return d ? d->Name + "|" + d->OwnerName : QString("<none>");
       },
       "sample|sa"},
      {"GetGroupInfo", kSybase, "editors",
       [](TQorixObjInfo& i) {
         auto g = i.GetGroupInfo("editors");
         return g ? g->Name + "|" + g->GroupName : QString("<none>");
       },
       "editors|editors"},
      {"GetGroupInfo", kSybase, "clerk (a user)",
       [](TQorixObjInfo& i) { return i.GetGroupInfo("clerk") ? QString("found") : QString("<none>"); }, "<none>"},
      {"GetUserInfo", kAnywhere, "clerk",
       [](TQorixObjInfo& i) {
         auto u = i.GetUserInfo("clerk");
         return u ? u->Name + "|" + u->GroupName : QString("<none>");
       },
       "clerk|editors"},
      {"GetIndexInfo", kSybase, "writers.writers_name",
       [](TQorixObjInfo& i) {
         auto x = i.GetIndexInfo("writers_name", "writers");
         return x ? QStringLiteral("%1|%2|%3|unique=%4").arg(x->Name, x->TableName).arg(x->IndId).arg(x->StatusFlags.test(ixUnique))
                  : QString("<none>");
       },
       "writers_name|writers|2|unique=1"},
      {"GetIndexInfo", kAnywhere, "writers.writers_name",
       [](TQorixObjInfo& i) {
         auto x = i.GetIndexInfo("writers_name", "writers");
         return x ? QStringLiteral("%1|%2|unique=%3").arg(x->Name, x->TableName).arg(x->StatusFlags.test(ixUnique))
                  : QString("<none>");
       },
       "writers_name|writers|unique=1"},
      {"GetIndexInfo", kAnywhere, "books.books_pub",
       [](TQorixObjInfo& i) {
         auto x = i.GetIndexInfo("books_pub", "books");
         return x ? QStringLiteral("unique=%1").arg(x->StatusFlags.test(ixUnique)) : QString("<none>");
       },
       "unique=0"},
      {"GetLoginInfo", kSybase, "clerk",
       [](TQorixObjInfo& i) {
         auto l = i.GetLoginInfo("clerk");
         return l ? l->Name + "|" + l->DbName : QString("<none>");
       },
       "clerk|sample"},
      {"GetDeviceInfo", kSybase, "tapedump1",
       [](TQorixObjInfo& i) {
         auto d = i.GetDeviceInfo("tapedump1");
         return d ? QStringLiteral("%1|%2|%3|dump=%4").arg(d->Name, d->PhysName).arg(d->CntrlType).arg(d->StatusFlags.test(4))
                  : QString("<none>");
       },
       "tapedump1|/dev/nst0|2|dump=1"},
      {"GetIndexColumns", kSybase, "writers.writers_name",
       [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("writers.writers_name")); }, "last_name,first_name"},
      // The table belongs to clerk: its index columns are read under that owner.
      {"GetIndexColumns", kSybase, "shelf_notes.shelf_notes_shop",
       [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("shelf_notes.shelf_notes_shop")); }, "shop_id,shelf"},
      {"GetIndexColumns", kAnywhere, "orders.orders_shop",
       [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("orders.orders_shop")); }, "shop_id,ordered"},
      {"GetTableIndexes", kSybase, "books",
       [](TQorixObjInfo& i) { return Join(i.GetTableIndexes("books")); }, "books_pk,books_pub"},
      {"GetTableIndexes", kSybase, "shelf_notes",
       [](TQorixObjInfo& i) { return Join(i.GetTableIndexes("shelf_notes")); }, "shelf_notes_shop"},
      // book_blurbs has a text chain (indid 255) and no index.
      {"GetTableIndexes", kSybase, "book_blurbs",
       [](TQorixObjInfo& i) { return Join(i.GetTableIndexes("book_blurbs")); }, ""},
      {"GetTableIndexes", kAnywhere, "writers",
       [](TQorixObjInfo& i) { return Join(i.GetTableIndexes("writers")); }, "writers_pk,writers_name"},
      {"GetColumnList", kSybase, "clerk.shelf_notes (identity 0x8000, numeric 35)",
       [](TQorixObjInfo& i) { return ColumnsText(i.GetColumnList("sample.clerk.shelf_notes", "U")); },
       "note_id numeric 35 8.0 0x8000; shop_id char 4 0.0 0x0; shelf char 10 0.0 0x0; note char 80 0.0 0x20"},
      {"GetColumnList", kSybase, "shop_order_count (OUTPUT parameter)",
       [](TQorixObjInfo& i) {
         QStringList names;
         auto list = i.GetColumnList("shop_order_count", "P");
         for (const TQxColumn& c : *list) names << c.Name + " " + c.TypeName;
         return Join(names);
       },
       "@shop_id char,@orders int"},
      {"GetColumnList", kAnywhere, "shop_order_count",
       [](TQorixObjInfo& i) {
         QStringList names;
         auto list = i.GetColumnList("shop_order_count", "P");
         for (const TQxColumn& c : *list) names << c.Name;
         return Join(names);
       },
       "@shop_id,@orders"},
      {"GetColumnList", kSybase, "other type",
       [](TQorixObjInfo& i) { return ColumnsText(i.GetColumnList("qty_rule", "R")); }, "<none>"},
      {"GetPermissions", kSybase, "books by name",
       [](TQorixObjInfo& i) {
         auto p = i.GetPermissions(2, QStringLiteral("books"), 0);
         QStringList out;
         if (p)
           for (const TQxProtect& r : *p) out << QStringLiteral("%1|%2|%3").arg(r.ObjectName, r.UserName).arg(r.Action);
         return Join(out);
       },
       "books|public|1"},
      {"GetPermissions", kSybase, "grantee editors",
       [](TQorixObjInfo& i) {
         auto p = i.GetPermissions(4, QStringLiteral("editors"), 0);
         QStringList out;
         if (p)
           for (const TQxProtect& r : *p) out << QStringLiteral("%1|%2").arg(r.ObjectName).arg(r.Action);
         out.sort();
         return Join(out);
       },
       "orders|1,orders|2,orders|4"},
      {"GetRowCount", kSybase, "orders", [](TQorixObjInfo& i) { return QString::number(i.GetRowCount("orders")); },
       "20"},
      {"GetRowCount", kSybase, "no such table",
       [](TQorixObjInfo& i) { return QString::number(i.GetRowCount("no_such_table")); }, "-1"},
      {"GetRowCount", kAnywhere, "orders", [](TQorixObjInfo& i) { return QString::number(i.GetRowCount("orders")); },
       "-1"},
      {"GetObjectOwner", kSybase, "shelf_notes",
       [](TQorixObjInfo& i) {
         QString owner;
         i.GetObjectOwner("shelf_notes", owner);
         return owner;
       },
       "clerk"},
      {"GetConfigGroups", kAnywhere, "", [](TQorixObjInfo& i) { return Join(i.GetConfigGroups()); }, ""},
      {"GetConfigValues", kAnywhere, "",
       [](TQorixObjInfo& i) { return i.GetConfigValues(QString()) ? QString("list") : QString("<none>"); }, "<none>"},
      {"LoadColumns", kSybase, "books",
       [](TQorixObjInfo& i) {
         i.LoadColumns("books");
         return LoadedColumns(i);
       },
       "book_id char 6 6.0; title varchar 80 80.0; genre char 12 12.0; pub_id char 4 4.0 null; price money 8 19.4 "
       "null; advance numeric 6 10.2 null; pages smallint 2 5.0 null; published datetime 8 23.3 null; notes "
       "varchar 200 200.0 null"},
      {"LoadColumn", kSybase, "shelf_notes.note_id",
       [](TQorixObjInfo& i) {
         i.LoadColumn("shelf_notes", "note_id");
         return LoadedColumns(i);
       },
       "note_id numeric 5 8.0 identity"},
      {"GetUserTypeInfo", kSybase, "zip_t",
       [](TQorixObjInfo& i) {
         auto t = i.GetUserTypeInfo("zip_t");
         return t ? QStringLiteral("%1|%2|%3").arg(t->TypeName, t->StorageType).arg(t->Length) : QString("<none>");
       },
       "zip_t|char|5"},
      // usertype 100 exactly is a user type like any other.
      {"GetUserTypeInfo", kSybase, "phone_t",
       [](TQorixObjInfo& i) {
         auto t = i.GetUserTypeInfo("phone_t");
         return t ? QStringLiteral("%1|%2|%3").arg(t->TypeName, t->StorageType).arg(t->Length) : QString("<none>");
       },
       "phone_t|varchar|12"},
      {"GetPrimaryKeys", kSybase, "books",
       [](TQorixObjInfo& i) {
         auto k = i.GetPrimaryKeys("books");
         return k ? k->Keys : QString("<none>");
       },
       "book_id"},
      {"GetPrimaryKeys", kAnywhere, "book_writers",
       [](TQorixObjInfo& i) {
         auto k = i.GetPrimaryKeys("book_writers");
         return k ? k->Keys : QString("<none>");
       },
       "writer_id;book_id"},
      {"GetPrimaryKeys", kSybase, "shops (none in syskeys)",
       [](TQorixObjInfo& i) {
         auto k = i.GetPrimaryKeys("shops");
         return k ? k->Keys : QString("<none>");
       },
       "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(c.reader, c.family == kSybase ? "sybase" : "anywhere", c.object).toStdString());
    auto info = Info(c.family);
    EXPECT_EQ(c.read(*info), c.expected);
  }
  const QStringList databases = Info(kSybase)->GetDatabaseList();
  EXPECT_TRUE(databases.contains(QStringLiteral("master")));
  EXPECT_TRUE(databases.contains(QStringLiteral("sample")));
  EXPECT_FALSE(Info(kSybase)->GetConfigGroups().isEmpty());
}

TEST_F(ReadersTest, ATableOfMoreThan255Columns) {
  auto info = Info(kSybase, QStringLiteral("rdwide"));
  info->LoadColumns(QStringLiteral("wide"));
  ASSERT_EQ(info->ColumnCount, 300);
  for (int i : {1, 255, 256, 257, 300}) EXPECT_EQ(info->ColumnName(i), QStringLiteral("c%1").arg(i, 3, 10, QLatin1Char('0')));
  auto list = info->GetColumnList(QStringLiteral("rdwide.dbo.wide"), QStringLiteral("U"));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 300);
  EXPECT_EQ(list->at(255).Name, QStringLiteral("c256"));
  EXPECT_EQ(list->at(299).Name, QStringLiteral("c300"));
  const QStringList ddl = info->GetTableDDL(QStringLiteral("wide"));
  ASSERT_EQ(ddl.size(), 303);
  EXPECT_TRUE(ddl.at(257).startsWith(QStringLiteral(" c256 "))) << ddl.at(257).toStdString();
}

TEST_F(ReadersTest, TheSelectedDatabaseNotTheConnectionsIsRead) {
  // The connection is in sample; the reader is pointed at rdwide, where books has other columns.
  auto info = Info(kSybase, QStringLiteral("rdwide"));
  auto obj = info->GetObjectInfo(QStringLiteral("books"), true, false);
  ASSERT_TRUE(obj);
  EXPECT_EQ(ColumnsText(obj->Columns), QStringLiteral("other_id int 4 0.0 0x0; other_name char 3 0.0 0x20"));
  EXPECT_EQ(Join(info->GetTableIndexes(QStringLiteral("books"))), QString());
  info->LoadColumns(QStringLiteral("books"));
  EXPECT_EQ(info->ColumnCount, 2);
  // A user type name of 30 characters is kept whole.
  auto type = info->GetUserTypeInfo(QStringLiteral("a_type_name_of_thirty_letters_"));
  ASSERT_TRUE(type);
  EXPECT_EQ(type->TypeName, QStringLiteral("a_type_name_of_thirty_letters_"));
  QString ddl;
  info->GetUserTypeDDL(QStringLiteral("a_type_name_of_thirty_letters_"), ddl);
  // Made without a null type in a database without "allow nulls by default": not null.
  EXPECT_EQ(ddl, QStringLiteral("EXECUTE sp_addtype a_type_name_of_thirty_letters_,\"char(3)\",NULL,\"NONULL\""));
}

TEST_F(ReadersTest, ConnectionResolution) {
  TQorixObjInfo info;
  info.SetName(QStringLiteral("oi"));
  try {
    info.GetDatabaseList();
    ADD_FAILURE() << "no connection accepted";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("oi: Database or DbName required"));
  }
  info.DbName = QStringLiteral("nosuchconnection");
  try {
    info.GetDatabaseList();
    ADD_FAILURE() << "an unknown DbName accepted";
  } catch (const EQxMissingException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("oi: Could not find QorixDatabase component named 'nosuchconnection'"));
  }
  // By name; a blank SelectDb takes the connection's database.
  info.DbName = QStringLiteral("rdsyb");
  EXPECT_EQ(info.GetRowCount(QStringLiteral("shops")), 6);
  EXPECT_EQ(info.SelectDb(), QStringLiteral("sample"));
  // Ids are integers: text that is not one is refused before anything is sent.
  EXPECT_THROW(info.GetPermissions(1, QStringLiteral("1 or 1=1"), 0), EConvertError);
  EXPECT_EQ(info.GetPermissions(1, QStringLiteral("-5"), 0), nullptr);
}

TEST_F(ReadersTest, NamesThatLookLikeSqlReachNoStatement) {
  auto db = svctest::Connect(QStringLiteral("rdodd"), QStringLiteral("rdwide"));
  svctest::Exec(*db, QStringLiteral("create table keepme (id int)\n"
                                    "create table [a'b] (id int not null)\n"
                                    "grant select on [a'b] to public"));
  svctest::Exec(*db, QStringLiteral("insert [a'b] values (1) insert [a'b] values (2)"));
  auto info = Info(kSybase, QStringLiteral("rdwide"));
  // A real object whose name holds a quote.
  EXPECT_EQ(info->GetRowCount(QStringLiteral("a'b")), 2);
  QString owner;
  info->GetObjectOwner(QStringLiteral("a'b"), owner);
  EXPECT_EQ(owner, QStringLiteral("dbo"));
  auto grants = info->GetPermissions(2, QStringLiteral("a'b"), 0);
  ASSERT_TRUE(grants);
  EXPECT_EQ(grants->size(), 1);
  EXPECT_EQ(grants->at(0).UserName, QStringLiteral("public"));
  EXPECT_EQ(info->GetPrimaryKeys(QStringLiteral("a'b")), nullptr);
  // Names that would end a literal and run a statement if spliced bare.
  for (const QString& evil : {QStringLiteral("x\"; drop table keepme --"), QStringLiteral("x'; drop table keepme --"),
                              QStringLiteral("x\" or 1=1 --"), QStringLiteral("x' or '1'='1")}) {
    SCOPED_TRACE(evil.toStdString());
    for (Family family : {kSybase, kAnywhere}) {
      auto i = Info(family, QStringLiteral("rdwide"));
      EXPECT_EQ(i->GetObjectInfo(evil, false, false), nullptr);
      EXPECT_EQ(i->GetDatabaseInfo(evil), nullptr);
      EXPECT_EQ(i->GetGroupInfo(evil), nullptr);
      EXPECT_EQ(i->GetUserInfo(evil), nullptr);
      EXPECT_EQ(i->GetIndexInfo(evil, evil), nullptr);
      EXPECT_EQ(i->GetLoginInfo(evil), nullptr);
      EXPECT_EQ(i->GetDeviceInfo(evil), nullptr);
      EXPECT_TRUE(i->GetIndexColumns(evil + QStringLiteral(".") + evil).isEmpty());
      EXPECT_TRUE(i->GetTableIndexes(evil).isEmpty());
      EXPECT_EQ(i->GetPermissions(2, evil, 0), nullptr);
      EXPECT_EQ(i->GetPermissions(4, evil, 0), nullptr);
      EXPECT_EQ(i->GetUserTypeInfo(evil), nullptr);
      EXPECT_EQ(i->GetPrimaryKeys(evil), nullptr);
      QString text;
      i->GetObjectOwner(evil, text);
      EXPECT_EQ(text, QString());
      i->GetUserDDL(evil, text);
      EXPECT_EQ(text, QStringLiteral("/* Data not available */"));
      if (family == kSybase) {
        EXPECT_EQ(i->GetRowCount(evil), -1);
        i->LoadColumn(evil, evil);
        EXPECT_EQ(i->ColumnCount, 0);
        EXPECT_EQ(i->GetTableDDL(evil), (QStringList{"/* Data not available */"}));
        auto values = i->GetConfigValues(evil);
        ASSERT_TRUE(values);
        EXPECT_TRUE(values->isEmpty());
      }
      EXPECT_THROW(i->GetObjectText(evil, text), std::exception);
    }
  }
  EXPECT_EQ(svctest::Rows(*db, QStringLiteral("select count(*) from keepme")), (QStringList{"0"}));
}

TEST_F(ReadersTest, ADatabaseNameWithABlank) {
  svctest::Exec(*syb_, QStringLiteral("create database [rd odd]"));
  svctest::Exec(*syb_, QStringLiteral("create table [rd odd]..[t x] ([a b] int not null, c varchar(4) null)"));
  svctest::Exec(*syb_, QStringLiteral("create unique index [i x] on [rd odd]..[t x] (c)"));
  svctest::Exec(*syb_, QStringLiteral("insert [rd odd]..[t x] values (1, 'x')"));
  auto info = Info(kSybase, QStringLiteral("rd odd"));
  info->LoadColumns(QStringLiteral("t x"));
  EXPECT_EQ(LoadedColumns(*info), QStringLiteral("a b int 4 10.0; c varchar 4 4.0 null"));
  EXPECT_EQ(Join(info->GetTableIndexes(QStringLiteral("t x"))), QStringLiteral("i x"));
  EXPECT_EQ(Join(info->GetIndexColumns(QStringLiteral("t x.i x"))), QStringLiteral("c"));
  auto obj = info->GetObjectInfo(QStringLiteral("t x"), true, false);
  ASSERT_TRUE(obj);
  EXPECT_EQ(ColumnsText(obj->Columns), QStringLiteral("a b int 4 0.0 0x0; c char 4 0.0 0x20"));
  EXPECT_EQ(info->GetRowCount(QStringLiteral("t x")), 1);
  info->PrefixWithDbName = true;
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("t x")).first(), QStringLiteral("CREATE TABLE [rd odd].dbo.[t x]"));
  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("i x"), QStringLiteral("t x")).first(),
            QStringLiteral("CREATE UNIQUE INDEX [i x] ON [t x]"));
}

TEST_F(ReadersTest, NoEventIsHandledInsideARead) {
  // Something queued before the read (a click on Disconnect, say) runs after it, not inside.
  bool ran = false;
  QMetaObject::invokeMethod(qApp, [&] { ran = true; }, Qt::QueuedConnection);
  auto info = Info(kSybase);
  auto values = info->GetConfigValues(QString());
  ASSERT_TRUE(values);
  EXPECT_FALSE(values->isEmpty());
  EXPECT_FALSE(ran);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ran);
}

TEST_F(ReadersTest, TheOtherFamilysColumnsKeepPlainDomainsAndIdentity) {
  auto info = Info(kAnywhere);
  info->LoadColumns(QStringLiteral("books"));
  // Every column, whether or not it has a user type.
  EXPECT_EQ(info->ColumnCount, 9);
  info->LoadColumn(QStringLiteral("shelf_notes"), QStringLiteral("note_id"));
  ASSERT_EQ(info->ColumnCount, 1);
  EXPECT_TRUE(info->ColumnIdentity(1));
}

TEST(SqlText, QuotingOfNamesAndValues) {
  struct Case {
    QString in;
    QString dq, sq, ident;
  };
  const Case cases[] = {
      {"books", "\"books\"", "'books'", "books"},
      {"a'b", "\"a'b\"", "'a''b'", "[a'b]"},
      {"x\"; drop table y --", "\"x\"\"; drop table y --\"", "'x\"; drop table y --'", "[x\"; drop table y --]"},
      {"Grüße Tabelle", "\"Grüße Tabelle\"", "'Grüße Tabelle'", "[Grüße Tabelle]"},
      {"Straße", "\"Straße\"", "'Straße'", "Straße"},
      {"odd]name", "\"odd]name\"", "'odd]name'", "[odd]]name]"},
      {"_x$1", "\"_x$1\"", "'_x$1'", "_x$1"},
      {"1abc", "\"1abc\"", "'1abc'", "[1abc]"},
      {"", "\"\"", "''", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.toStdString());
    EXPECT_EQ(QxSql::Literal(c.in, QLatin1Char('"')), c.dq);
    EXPECT_EQ(QxSql::Literal(c.in, QLatin1Char('\'')), c.sq);
    EXPECT_EQ(QxSql::Ident(c.in), c.ident);
  }
  struct Dotted {
    QString in, out;
  };
  const Dotted dotted[] = {
      {"my db..a'b", "[my db]..[a'b]"},
      {"sample.dbo.books", "sample.dbo.books"},
      {"[my db].dbo.[t x]", "[my db].dbo.[t x]"},
      {"[a.b].dbo.[c]]d.e]", "[a.b].dbo.[c]]d.e]"},
      {"db.[x].y z", "db.[x].[y z]"},
  };
  for (const Dotted& d : dotted) EXPECT_EQ(QxSql::QualifiedIdent(d.in), d.out) << d.in.toStdString();
  EXPECT_EQ(QxSql::Integer(-42), QStringLiteral("-42"));
}

TEST(SqlText, NamePartsOfDottedNames) {
  // A name part holding a dot is bracketed so that SplitName gives it back whole.
  struct Part {
    QString in, out;
  };
  const Part parts[] = {{"books", "books"}, {"dot.ted", "[dot.ted]"}, {"[x", "[[x]"}, {"a]b.c", "[a]]b.c]"},
                        {"a b", "a b"},     {"", ""}};
  for (const Part& p : parts) {
    SCOPED_TRACE(p.in.toStdString());
    EXPECT_EQ(QxSql::NamePart(p.in), p.out);
    if (!p.in.isEmpty()) EXPECT_EQ(QxSql::SplitName(QStringLiteral("dbo.") + p.out), (QStringList{"dbo", p.in}));
  }
  struct Split {
    QString in;
    QStringList parts;
    bool bracketed;
  };
  const Split splits[] = {
      {"dbo.books", {"dbo", "books"}, false},
      {" dbo . books ", {"dbo", "books"}, false},
      {"dot.ted.id", {"dot", "ted", "id"}, false},
      {"dbo.[dot.ted]", {"dbo", "dot.ted"}, true},
      {"[ a b ].c", {" a b ", "c"}, true},
      {"db..t", {"db", "", "t"}, false},
      {"books", {"books"}, false},
  };
  for (const Split& s : splits) {
    SCOPED_TRACE(s.in.toStdString());
    bool bracketed = !s.bracketed;
    EXPECT_EQ(QxSql::SplitName(s.in, &bracketed), s.parts);
    EXPECT_EQ(bracketed, s.bracketed);
  }
  // The leaf of table.leaf is after the last dot outside brackets.
  struct Leaf {
    QString in, container, leaf;
  };
  const Leaf leaves[] = {{"books.title", "books", "title"},
                         {"clerk.dup.y", "clerk.dup", "y"},
                         {"dot.ted.id", "dot.ted", "id"},
                         {"[dot.ted].[a.b]", "[dot.ted]", "a.b"},
                         {"title", "", "title"}};
  for (const Leaf& l : leaves) {
    SCOPED_TRACE(l.in.toStdString());
    QString container, leaf;
    TQorixObjInfo::SplitLeafName(l.in, container, leaf);
    EXPECT_EQ(container, l.container);
    EXPECT_EQ(leaf, l.leaf);
  }
}

}  // namespace
