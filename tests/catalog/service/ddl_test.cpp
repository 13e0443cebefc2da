// Definition text against the local server: golden texts of the layout (name from the 2nd
// character, type from the 32nd, the null keyword from the 61st), the round trip of every object
// of the sample database and of one holding every system type, odd names, a second owner,
// defaults, check constraints and bound rules through a fresh database, the stored source of a
// procedure whose syscomments rows split on blanks and line ends, and the other family's unique
// indexes.
#include "access/QorixExceptions.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/service/QxSqlText.h"
#include "service_fixture.h"

namespace {

// The loaded columns of Table in Db: name, type, length, precision, scale, null, identity.
QStringList Columns(TQorixObjInfo& info, const QString& table) {
  info.LoadColumns(table);
  QStringList out;
  for (int i = 1; i <= info.ColumnCount; ++i)
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
               .arg(info.ColumnName(i), info.ColumnTypeName(i))
               .arg(info.ColumnLength(i))
               .arg(info.ColumnPrec(i))
               .arg(info.ColumnScale(i))
               .arg(info.ColumnNullable(i))
               .arg(info.ColumnIdentity(i));
  info.ClearColumns();
  return out;
}
// Every index of Table: name, clustered (index id 1), unique, key columns.
QStringList Indexes(TQorixObjInfo& info, const QString& table) {
  QStringList out;
  const QStringList names = info.GetTableIndexes(table);
  for (const QString& name : names) {
    auto idx = info.GetIndexInfo(name, table);
    if (!idx) {
      out << name + QStringLiteral(" <none>");
      continue;
    }
    out << QStringLiteral("%1 clustered=%2 unique=%3 (%4)")
               .arg(name)
               .arg(idx->IndId == 1)
               .arg(idx->StatusFlags.test(ixUnique))
               .arg(QStringList(info.GetIndexColumns(table + QLatin1Char('.') + QxSql::NamePart(name))).join(QLatin1Char(',')));
  }
  return out;
}

class DdlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = svctest::Connect(QStringLiteral("ddldb"));
    ASSERT_TRUE(db_->Connected());
  }
  std::unique_ptr<TQorixObjInfo> Info(TQorixDatabase* db, const QString& selectDb) {
    auto info = std::make_unique<TQorixObjInfo>();
    info->SetDatabase(db);
    info->SetSelectDb(selectDb);
    info->ShowDbMessages = TShowDbMessages{smDbErr};
    return info;
  }
  std::unique_ptr<TQorixDatabase> db_;
};

TEST_F(DdlTest, GoldenLayoutOfATableAndItsIndexes) {
  auto info = Info(db_.get(), QStringLiteral("sample"));
  const QStringList books{
      "CREATE TABLE dbo.books",
      "(",
      " book_id                       char(6)                      NOT NULL,",
      " title                         varchar(80)                  NOT NULL,",
      " genre                         char(12)                     NOT NULL,",
      " pub_id                        char(4)                      NULL,",
      " price                         money                        NULL,",
      " advance                       numeric(10,2)                NULL,",
      " pages                         smallint                     NULL,",
      " published                     datetime                     NULL,",
      " notes                         varchar(200)                 NULL",
      ")",
      "EXECUTE sp_primarykey books, book_id"};
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("books")), books);
  const QStringList lines = info->GetTableDDL(QStringLiteral("books"));
  for (int i = 2; i < lines.indexOf(QStringLiteral(")")); ++i) {
    SCOPED_TRACE(lines[i].toStdString());
    EXPECT_NE(lines[i].at(1), QLatin1Char(' '));                      // name from the 2nd character
    EXPECT_NE(lines[i].at(31), QLatin1Char(' '));                     // type from the 32nd
    EXPECT_TRUE(lines[i].mid(60).startsWith(QLatin1String("N")));     // null keyword from the 61st
  }
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("shelf_notes")),
            (QStringList{"CREATE TABLE clerk.shelf_notes", "(",
                         " note_id                       numeric(8,0) identity        NOT NULL,",
                         " shop_id                       char(4)                      NOT NULL,",
                         " shelf                         varchar(10)                  NOT NULL,",
                         " note                          varchar(80)                  NULL", ")"}));
  // The rule and the default bound to order columns follow the statement, then the keys.
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("orders")).mid(9),
            (QStringList{")", "EXECUTE sp_bindrule qty_rule, 'orders.qty'",
                         "EXECUTE sp_bindefault terms_default, 'orders.terms'",
                         "EXECUTE sp_primarykey orders, order_no", "EXECUTE sp_foreignkey orders, books, book_id"}));
  info->PrefixWithDbName = true;
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("shops")).first(), QStringLiteral("CREATE TABLE sample.dbo.shops"));
  info->PrefixDbName = QStringLiteral("other");
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("shops")).first(), QStringLiteral("CREATE TABLE other.dbo.shops"));
  info->PrefixWithDbName = false;
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("no_such_table")), (QStringList{"/* Data not available */"}));

  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("writers_name"), QStringLiteral("writers")),
            (QStringList{"CREATE UNIQUE INDEX writers_name ON writers", "(last_name,first_name)", "ON 'default'"}));
  // Index id 1 is the clustered index.
  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("books_pk"), QStringLiteral("books")),
            (QStringList{"CREATE UNIQUE CLUSTERED INDEX books_pk ON books", "(book_id)", "ON 'default'"}));
  // A table dbo does not own is named with its owner.
  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("shelf_notes_shop"), QStringLiteral("shelf_notes")),
            (QStringList{"CREATE CLUSTERED INDEX shelf_notes_shop ON clerk.shelf_notes", "(shop_id,shelf)",
                         "ON 'default'"}));
  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("no_such_index"), QStringLiteral("books")),
            (QStringList{"/* Data not available */"}));

  QString text;
  info->GetUserTypeDDL(QStringLiteral("phone_t"), text);
  EXPECT_EQ(text, QStringLiteral("EXECUTE sp_addtype phone_t,\"varchar(12)\",NULL,\"NONULL\""));
  info->GetUserDDL(QStringLiteral("clerk"), text);
  EXPECT_EQ(text, QStringLiteral("EXECUTE sp_adduser \"clerk\",\"clerk\",\"editors\""));
  info->GetUserDDL(QStringLiteral("nobody"), text);
  EXPECT_EQ(text, QStringLiteral("/* Data not available */"));
}

// Recreates every group, user, rule, default, user datatype (with its bindings), table (with its
// constraints, bindings and keys), index, view, procedure and trigger of database From in the
// fresh database To from the definition texts alone, in the order they depend on each other;
// fails on the first text that does not run.
void CopyByDefinitionText(TQorixDatabase& from, TQorixObjInfo& source, TQorixDatabase& to) {
  const QString db = source.SelectDb();
  auto rows = [&](const QString& sql) { return svctest::Rows(from, QString(sql).replace("DB", db)); };
  auto run = [&](const QString& text) {
    SCOPED_TRACE(text.toStdString());
    ASSERT_FALSE(text.startsWith(QStringLiteral("/*"))) << "no definition text";
    ASSERT_NO_THROW(svctest::Exec(to, text)) << text.toStdString();
  };
  for (const QString& group : rows("select name from DB..sysusers where uid = gid and name <> 'public' order by uid"))
    run(QStringLiteral("EXECUTE sp_addgroup ") + QxSql::Ident(group));
  QString text;
  for (const QString& user : rows("select name from DB..sysusers where uid <> gid and name not in ('dbo', 'guest') "
                                  "order by uid")) {
    source.GetUserDDL(user, text);
    run(text);
  }
  // Objects in the order they were made, by owner.name: a check constraint belongs to its
  // table's text, and a column's own default (stored as "DEFAULT expr") to its column's.
  const QString objects = QStringLiteral(
      "select su.name + '.' + so.name from DB..sysobjects so, DB..sysusers su where su.uid = so.uid and so.type %1 "
      "and not (so.type = 'R' and so.deltrig <> 0) order by so.id");
  for (const QString& object : rows(objects.arg("in ('R', 'D')"))) {
    source.GetObjectText(object, text);
    if (!text.startsWith(QStringLiteral("DEFAULT"), Qt::CaseInsensitive)) run(text);
  }
  // A user datatype's text binds its rule and default, made just before.
  for (const QString& type : rows("select name from DB..systypes where usertype >= 100 order by usertype")) {
    source.GetUserTypeDDL(type, text);
    run(text);
  }
  for (const QString& table : rows(objects.arg("= 'U'"))) {
    run(source.GetTableDDL(table).join(QLatin1Char('\n')));
    for (const QString& index : QStringList(source.GetTableIndexes(table)))
      run(source.GetIndexDDL(index, table).join(QLatin1Char('\n')));
  }
  for (const QString& object : rows(objects.arg("in ('V', 'P', 'TR')"))) {
    source.GetObjectText(object, text);
    run(text);
  }
}

// What the catalogue of Info's database holds, as the definition texts and the readers give it:
// every user type, rule, default, table (its text, its loaded columns, its primary key, its
// indexes), view, procedure and trigger, by owner.name.
QStringList CatalogueReading(TQorixDatabase& conn, TQorixObjInfo& info) {
  QStringList out;
  auto rows = [&](const QString& sql) { return svctest::Rows(conn, QString(sql).replace("DB", info.SelectDb())); };
  QString text;
  for (const QString& type : rows("select name from DB..systypes where usertype >= 100 order by name")) {
    info.GetUserTypeDDL(type, text);
    out << text;
  }
  for (const QString& object :
       rows("select su.name + '.' + so.name from DB..sysobjects so, DB..sysusers su where su.uid = so.uid "
            "and so.type in ('R', 'D', 'V', 'P', 'TR') and not (so.type = 'R' and so.deltrig <> 0) order by 1")) {
    info.GetObjectText(object, text);
    if (!text.startsWith(QStringLiteral("DEFAULT"), Qt::CaseInsensitive)) out << object + QStringLiteral(": ") + text;
  }
  for (const QString& table : rows("select su.name + '.' + so.name from DB..sysobjects so, DB..sysusers su "
                                   "where su.uid = so.uid and so.type = 'U' order by 1")) {
    out << info.GetTableDDL(table);
    out << Columns(info, table);
    const std::unique_ptr<TQxTableKeys> key = info.GetPrimaryKeys(table);
    out << table + QStringLiteral(" key: ") + (key ? key->Keys : QStringLiteral("<none>"));
    for (const QString& index : QStringList(info.GetTableIndexes(table))) out << info.GetIndexDDL(index, table);
    out << Indexes(info, table);
  }
  return out;
}

TEST_F(DdlTest, EveryObjectOfTheSampleRoundTripsThroughAFreshDatabase) {
  svctest::Exec(*db_, QStringLiteral("create database ddlcopy"));
  auto copy = svctest::Connect(QStringLiteral("ddlcopydb"), QStringLiteral("ddlcopy"));
  ASSERT_TRUE(copy->Connected());
  auto source = Info(db_.get(), QStringLiteral("sample"));
  auto target = Info(copy.get(), QStringLiteral("ddlcopy"));
  ASSERT_NO_FATAL_FAILURE(CopyByDefinitionText(*db_, *source, *copy));
  const QStringList reading = CatalogueReading(*db_, *source);
  ASSERT_GE(reading.size(), 100);
  EXPECT_EQ(CatalogueReading(*copy, *target), reading);
  EXPECT_EQ(Indexes(*target, QStringLiteral("writers")),
            (QStringList{"writers_pk clustered=1 unique=1 (writer_id)",
                         "writers_name clustered=0 unique=1 (last_name,first_name)"}));
  // The copy refuses what the original refuses and fills what it fills: qty_rule is bound to
  // orders.qty and terms_default to orders.terms.
  const QString bad = QStringLiteral(
      "insert orders (order_no, shop_id, book_id, ordered, qty) values (99, 'S001', 'BK1001', '20240101', 0)");
  const QString good = QStringLiteral(
      "insert orders (order_no, shop_id, book_id, ordered, qty) values (98, 'S001', 'BK1001', '20240101', 2)");
  for (TQorixDatabase* conn : {db_.get(), copy.get()}) {
    SCOPED_TRACE(conn->DbName().toStdString());
    EXPECT_ANY_THROW(svctest::Exec(*conn, bad));
    svctest::Exec(*conn, good);
    EXPECT_EQ(svctest::Rows(*conn, QStringLiteral("select terms from orders where order_no = 98")),
              (QStringList{"Net 30"}));
    svctest::Exec(*conn, QStringLiteral("delete orders where order_no = 98"));
  }
}

TEST_F(DdlTest, EveryTypeOddNamesASecondOwnerAndConstraintsRoundTrip) {
  svctest::Exec(*db_, QStringLiteral("create database ddlall"));
  svctest::Exec(*db_, QStringLiteral("create database ddlallcopy"));
  auto all = svctest::Connect(QStringLiteral("ddlalldb"), QStringLiteral("ddlall"));
  svctest::Exec(*all, QStringLiteral("exec sp_addgroup clerks\n"
                                     "exec sp_adduser clerk, clerk, clerks"));
  svctest::Exec(*all, QStringLiteral("exec sp_addtype vb_t, 'varbinary(20)', 'null'\n"
                                     "exec sp_addtype bin_t, 'binary(6)', 'not null'\n"
                                     "exec sp_addtype num_t, 'numeric(10,2)', 'null'\n"
                                     "exec sp_addtype dt_t, datetime, 'null'\n"
                                     "exec sp_addtype fl_t, float, 'null'\n"
                                     "exec sp_addtype int_t, int, 'null'\n"
                                     "exec sp_addtype ch_t, 'char(4)', 'null'\n"
                                     "exec sp_addtype id_t, 'numeric(6,0)', 'identity'"));
  svctest::Exec(*all, QStringLiteral("create rule pos_rule as @v > 0"));
  svctest::Exec(*all, QStringLiteral("create default one_default as 1"));
  svctest::Exec(*all, QStringLiteral("exec sp_bindrule pos_rule, int_t\n"
                                     "exec sp_bindefault one_default, int_t"));
  svctest::Exec(*all, QStringLiteral(
      "create table alltypes (k id_t, c_char char(10) not null, c_charn char(3) null, c_varchar varchar(20) not null,"
      " c_varcharn varchar(7) null, c_binary binary(16) not null, c_binaryn binary(3) null,"
      " c_varbinary varbinary(20) not null, c_varbinaryn varbinary(9) null, c_tinyint tinyint not null,"
      " c_tinyintn tinyint null, c_smallint smallint not null, c_smallintn smallint null, c_int int not null,"
      " c_intn int null, c_float float not null, c_floatn float null, c_real real not null, c_realn real null,"
      " c_numeric numeric(12,3) not null, c_numericn numeric(5,1) null, c_decimal decimal(7,2) not null,"
      " c_decimaln decimal(38,10) null, c_money money not null, c_moneyn money null,"
      " c_smallmoney smallmoney not null, c_smallmoneyn smallmoney null, c_datetime datetime not null,"
      " c_datetimen datetime null, c_smalldatetime smalldatetime not null, c_smalldatetimen smalldatetime null,"
      " c_bit bit not null, c_text text null, c_image image null, c_nchar nchar(5) null, c_nvarchar nvarchar(9) null,"
      " c_ts timestamp null, c_vb vb_t, c_bin bin_t, c_num num_t, c_dt dt_t, c_fl fl_t, c_intt int_t, c_ch ch_t,"
      " abcdefghijabcdefghijabcdefghij int null)"));
  svctest::Exec(*all, QStringLiteral(
      "create table [it's] ([a]]b] int not null, [two words] varchar(5) null, [Größe] numeric(4,1) null)\n"
      "create table [dot.ted] ([a.b] int not null, c varchar(3) null)\n"
      "create table dbo.dup (a int not null)\n"
      "create table clerk.dup (x int not null, y varchar(4) null)\n"
      "create table withdefs (a int default 5 not null, b varchar(10) default 'x''y' null, c int null,"
      " d int null, constraint c_pos check (c > 0), constraint d_over_c check (d > c))\n"
      "create table typed (id int not null, v int_t)"));
  svctest::Exec(*all, QStringLiteral("create index [it's idx] on [it's] ([two words], [a]]b])\n"
                                     "create unique clustered index [dt.idx] on [dot.ted] (c, [a.b])\n"
                                     "create index dup_idx on clerk.dup (y)\n"
                                     "create index dup_idx on dbo.dup (a)"));
  svctest::Exec(*all, QStringLiteral("exec sp_bindrule pos_rule, 'withdefs.d'\n"
                                     "exec sp_bindefault one_default, 'withdefs.c'\n"
                                     "exec sp_bindrule pos_rule, 'clerk.dup.x'"));
  svctest::Exec(*all, QStringLiteral("create view [v'iew] as select [a]]b], [Größe] from [it's]"));
  svctest::Exec(*all, QStringLiteral("create view clerk.dup_view as select y from clerk.dup"));
  svctest::Exec(*all, QStringLiteral("create procedure [p.roc] @v int as select [a.b] from [dot.ted] where [a.b] = @v"));
  svctest::Exec(*all, QStringLiteral("create procedure clerk.dup_proc as select count(*) from clerk.dup"));
  svctest::Exec(*all, QStringLiteral("create trigger clerk.dup_ins on clerk.dup for insert as print 'clerk row'"));

  auto source = Info(all.get(), QStringLiteral("ddlall"));
  // The texts that did not run: a 30-character name glued to its type, binary lengths lost,
  // nullable types named by their storage codes, user types over varbinary named timestamp.
  const QStringList table = source->GetTableDDL(QStringLiteral("alltypes"));
  for (const QString& line : {QStringLiteral(" c_binary                      binary(16)                   NOT NULL,"),
                              QStringLiteral(" c_varbinaryn                  varbinary(9)                 NULL,"),
                              QStringLiteral(" c_numericn                    numeric(5,1)                 NULL,"),
                              QStringLiteral(" c_datetimen                   datetime                     NULL,"),
                              QStringLiteral(" c_floatn                      float                        NULL,"),
                              QStringLiteral(" c_vb                          vb_t                         NULL,"),
                              QStringLiteral(" abcdefghijabcdefghijabcdefghij int                         NULL")})
    EXPECT_TRUE(table.contains(line)) << line.toStdString() << "\n" << table.join('\n').toStdString();
  struct TypeCase {
    QString type, ddl;
  };
  const TypeCase types[] = {
      {"vb_t", "EXECUTE sp_addtype vb_t,\"varbinary(20)\",NULL,\"NULL\""},
      {"bin_t", "EXECUTE sp_addtype bin_t,\"binary(6)\",NULL,\"NONULL\""},
      {"num_t", "EXECUTE sp_addtype num_t,\"numeric(10,2)\",NULL,\"NULL\""},
      {"dt_t", "EXECUTE sp_addtype dt_t,\"datetime\",NULL,\"NULL\""},
      {"fl_t", "EXECUTE sp_addtype fl_t,\"float\",NULL,\"NULL\""},
      {"int_t",
       "EXECUTE sp_addtype int_t,\"int\",NULL,\"NULL\"\nEXECUTE sp_bindrule pos_rule, int_t\n"
       "EXECUTE sp_bindefault one_default, int_t"},
      {"ch_t", "EXECUTE sp_addtype ch_t,\"char(4)\",NULL,\"NULL\""},
      {"id_t", "EXECUTE sp_addtype id_t,\"numeric(6,0)\",\"identity\",\"NONULL\""},
  };
  for (const TypeCase& t : types) {
    QString text;
    source->GetUserTypeDDL(t.type, text);
    EXPECT_EQ(text, t.ddl);
  }
  // Defaults, check constraints and bound rules and defaults are part of the table's text.
  EXPECT_EQ(source->GetTableDDL(QStringLiteral("withdefs")),
            (QStringList{"CREATE TABLE dbo.withdefs",
                         "(",
                         " a                             int DEFAULT 5                NOT NULL,",
                         " b                             varchar(10) DEFAULT 'x''y'   NULL,",
                         " c                             int                          NULL,",
                         " d                             int                          NULL,",
                         " CONSTRAINT c_pos CHECK (c > 0),",
                         " CONSTRAINT d_over_c CHECK (d > c)",
                         ")",
                         "EXECUTE sp_bindefault one_default, 'withdefs.c'",
                         "EXECUTE sp_bindrule pos_rule, 'withdefs.d'"}));
  EXPECT_EQ(source->GetTableDDL(QStringLiteral("clerk.dup")).last(),
            QStringLiteral("EXECUTE sp_bindrule pos_rule, 'clerk.dup.x'"));

  auto copy = svctest::Connect(QStringLiteral("ddlallcopydb"), QStringLiteral("ddlallcopy"));
  auto target = Info(copy.get(), QStringLiteral("ddlallcopy"));
  ASSERT_NO_FATAL_FAILURE(CopyByDefinitionText(*all, *source, *copy));
  const QStringList reading = CatalogueReading(*all, *source);
  for (const QString& line : {QStringLiteral("CREATE TABLE dbo.[dot.ted]"), QStringLiteral("CREATE TABLE clerk.dup"),
                              QStringLiteral("CREATE TABLE dbo.dup"), QStringLiteral("CREATE TABLE dbo.[it's]"),
                              QStringLiteral("CREATE INDEX [it's idx] ON [it's]"),
                              QStringLiteral("CREATE UNIQUE CLUSTERED INDEX [dt.idx] ON [dot.ted]"),
                              QStringLiteral("CREATE INDEX dup_idx ON clerk.dup"),
                              QStringLiteral("clerk.dup_ins: create trigger clerk.dup_ins on clerk.dup for insert as print "
                                             "'clerk row'")})
    EXPECT_TRUE(reading.contains(line)) << line.toStdString();
  EXPECT_EQ(CatalogueReading(*copy, *target), reading);
  // The copy refuses and fills as the original does.
  for (TQorixDatabase* conn : {all.get(), copy.get()}) {
    SCOPED_TRACE(conn->DbName().toStdString());
    EXPECT_ANY_THROW(svctest::Exec(*conn, QStringLiteral("insert withdefs (c) values (-1)")));
    EXPECT_ANY_THROW(svctest::Exec(*conn, QStringLiteral("insert withdefs (c, d) values (1, -5)")));
    EXPECT_ANY_THROW(svctest::Exec(*conn, QStringLiteral("insert clerk.dup (x) values (0)")));
    svctest::Exec(*conn, QStringLiteral("insert withdefs (d) values (3)"));
    EXPECT_EQ(svctest::Rows(*conn, QStringLiteral("select a, b, c, d from withdefs")), (QStringList{"5|x'y|1|3"}));
    // The rule of the user type int_t reaches its column (the copy's type has it bound too; the
    // local server does not fill a column from its type's default, so that is read back above).
    EXPECT_ANY_THROW(svctest::Exec(*conn, QStringLiteral("insert typed values (1, -1)")));
  }
}

TEST_F(DdlTest, StoredSourceIsExactAcrossSyscommentsRows) {
  // Rows of 255 characters: put blanks and line ends on both sides of every row edge.
  const QString head = QStringLiteral("create procedure chunked as\nselect x = '");
  QString body;
  for (int i = 0; body.size() < 900; ++i) body += QStringLiteral("word%1 ").arg(i);
  QString source = head + body + QStringLiteral("'\nselect y = 1\n");
  for (int edge : {255, 510, 765}) {
    source[edge - 2] = QLatin1Char(' ');
    source[edge - 1] = edge == 510 ? QLatin1Char('\n') : QLatin1Char(' ');
    source[edge] = edge == 765 ? QLatin1Char('\n') : QLatin1Char(' ');
    source[edge + 1] = QLatin1Char(' ');
  }
  ASSERT_LT(765, head.size() + body.size());
  svctest::Exec(*db_, source);
  // The server keeps the source in rows that end and begin with those characters.
  const QStringList rows = svctest::Rows(
      *db_, QStringLiteral("select text from sample..syscomments where id = object_id('chunked') order by colid"), false);
  ASSERT_GE(rows.size(), 4);
  EXPECT_TRUE(rows[0].endsWith(QLatin1Char(' ')));
  EXPECT_TRUE(rows[1].startsWith(QLatin1Char(' ')));
  EXPECT_TRUE(rows[1].endsWith(QLatin1Char('\n')));
  for (const QString& family : {QStringLiteral("Sybase SQL Server"), QStringLiteral("SQLAnywhere")}) {
    SCOPED_TRACE(family.toStdString());
    auto db = svctest::Connect(QStringLiteral("ddltext"), QStringLiteral("sample"), family);
    auto info = Info(db.get(), QStringLiteral("sample"));
    QString text;
    info->GetObjectText(QStringLiteral("chunked"), text);
    EXPECT_EQ(text, source.trimmed());
    // The engine trims again for the next reader.
    EXPECT_TRUE(info->Query()->TrimResults);
  }
  auto info = Info(db_.get(), QStringLiteral("sample"));
  QString text;
  info->GetObjectText(QStringLiteral("qty_rule"), text);
  EXPECT_EQ(text, QStringLiteral("create rule qty_rule\nas @qty > 0"));
  info->GetObjectText(QStringLiteral("orders_ins"), text);
  EXPECT_TRUE(text.startsWith(QStringLiteral("create trigger orders_ins on orders for insert")));
  EXPECT_THROW(info->GetObjectText(QStringLiteral("books"), text), std::exception);
}

TEST_F(DdlTest, NamesThatNeedQuotingGiveRunnableText) {
  svctest::Exec(*db_, QStringLiteral("create database ddlodd"));
  svctest::Exec(*db_, QStringLiteral("create database ddloddcopy"));
  auto odd = svctest::Connect(QStringLiteral("ddlodddb"), QStringLiteral("ddlodd"));
  svctest::Exec(*odd, QStringLiteral("create table keepme (id int)\n"
                                     "create table [a'b] (id int not null, [it's] varchar(5) null)\n"
                                     "create table [x\"; drop table keepme --] ([y\"z] int null)\n"
                                     "create table [Grüße Tabelle] (Straße numeric(7,2) null)"));
  svctest::Exec(*odd, QStringLiteral("create index [it's idx] on [a'b] ([it's], id)"));
  svctest::Exec(*odd, QStringLiteral("create view [v'q] as select [it's] from [a'b]"));
  auto copy = svctest::Connect(QStringLiteral("ddloddcopydb"), QStringLiteral("ddloddcopy"));
  auto source = Info(odd.get(), QStringLiteral("ddlodd"));
  auto target = Info(copy.get(), QStringLiteral("ddloddcopy"));
  for (const QString& table : {QStringLiteral("a'b"), QStringLiteral("x\"; drop table keepme --"),
                               QStringLiteral("Grüße Tabelle")}) {
    SCOPED_TRACE(table.toStdString());
    const QString create = source->GetTableDDL(table).join(QLatin1Char('\n'));
    ASSERT_NO_THROW(svctest::Exec(*copy, create)) << create.toStdString();
    for (const QString& index : QStringList(source->GetTableIndexes(table)))
      ASSERT_NO_THROW(svctest::Exec(*copy, source->GetIndexDDL(index, table).join(QLatin1Char('\n'))));
    EXPECT_EQ(Columns(*target, table), Columns(*source, table));
    EXPECT_EQ(Indexes(*target, table), Indexes(*source, table));
  }
  EXPECT_EQ(Indexes(*target, QStringLiteral("a'b")), (QStringList{"it's idx clustered=0 unique=0 (it's,id)"}));
  QString text;
  source->GetObjectText(QStringLiteral("v'q"), text);
  EXPECT_EQ(text, QStringLiteral("create view [v'q] as select [it's] from [a'b]"));
  EXPECT_EQ(svctest::Rows(*odd, QStringLiteral("select count(*) from keepme")), (QStringList{"0"}));
}

TEST_F(DdlTest, TheOtherFamilysUniqueIndexes) {
  auto any = svctest::Connect(QStringLiteral("ddlany"), QStringLiteral("sample"), QStringLiteral("SQLAnywhere"));
  auto info = Info(any.get(), QStringLiteral("sample"));
  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("writers_name"), QStringLiteral("writers")),
            (QStringList{"CREATE UNIQUE INDEX writers_name ON writers", "(last_name,first_name)"}));
  EXPECT_EQ(info->GetIndexDDL(QStringLiteral("orders_shop"), QStringLiteral("orders")),
            (QStringList{"CREATE INDEX orders_shop ON orders", "(shop_id,ordered)"}));
}

}  // namespace
