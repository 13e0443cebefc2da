// Definition text against the local server: golden texts of the layout (name from the 2nd
// character, type from the 32nd, the null keyword from the 61st), the round trip of every
// sample table and index through a fresh database, the stored source of a procedure whose
// syscomments rows split on blanks and line ends, names that need quoting, and the other
// family's unique indexes.
#include "access/QorixExceptions.h"
#include "catalog/service/QorixObjInfo.h"
#include "service_fixture.h"

namespace {

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
  // The loaded columns of Table in Db: name, type, length, precision, scale, null, identity.
  static QStringList Columns(TQorixObjInfo& info, const QString& table) {
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
  static QStringList Indexes(TQorixObjInfo& info, const QString& table) {
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
                 .arg(QStringList(info.GetIndexColumns(table + QLatin1Char('.') + name)).join(QLatin1Char(',')));
    }
    return out;
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
      ")"};
  EXPECT_EQ(info->GetTableDDL(QStringLiteral("books")), books);
  const QStringList lines = info->GetTableDDL(QStringLiteral("books"));
  for (int i = 2; i < lines.size() - 1; ++i) {
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

TEST_F(DdlTest, EveryTableAndIndexRoundTripsThroughAFreshDatabase) {
  svctest::Exec(*db_, QStringLiteral("create database ddlcopy"));
  auto copy = svctest::Connect(QStringLiteral("ddlcopydb"), QStringLiteral("ddlcopy"));
  ASSERT_TRUE(copy->Connected());
  svctest::Exec(*copy, QStringLiteral("exec sp_adduser clerk"));
  auto source = Info(db_.get(), QStringLiteral("sample"));
  auto target = Info(copy.get(), QStringLiteral("ddlcopy"));
  const QStringList tables = svctest::Rows(*db_, QStringLiteral("select name from sample..sysobjects where type = 'U' order by name"));
  ASSERT_GE(tables.size(), 8);
  for (const QString& table : tables) {
    SCOPED_TRACE(table.toStdString());
    const QString create = source->GetTableDDL(table).join(QLatin1Char('\n'));
    ASSERT_NO_THROW(svctest::Exec(*copy, create)) << create.toStdString();
    for (const QString& index : QStringList(source->GetTableIndexes(table))) {
      const QString text = source->GetIndexDDL(index, table).join(QLatin1Char('\n'));
      ASSERT_NO_THROW(svctest::Exec(*copy, text)) << text.toStdString();
    }
  }
  for (const QString& table : tables) {
    SCOPED_TRACE(table.toStdString());
    const QStringList columns = Columns(*source, table);
    EXPECT_FALSE(columns.isEmpty());
    EXPECT_EQ(Columns(*target, table), columns);
    EXPECT_EQ(Indexes(*target, table), Indexes(*source, table));
    QString owner, copyOwner;
    source->GetObjectOwner(table, owner);
    target->GetObjectOwner(table, copyOwner);
    EXPECT_EQ(copyOwner, owner);
  }
  EXPECT_EQ(Indexes(*target, QStringLiteral("writers")),
            (QStringList{"writers_pk clustered=1 unique=1 (writer_id)",
                         "writers_name clustered=0 unique=1 (last_name,first_name)"}));
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
