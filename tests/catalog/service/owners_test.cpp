// The readers against objects that only their owner, their database or their full name tells
// apart: dbo.dup and clerk.dup (other columns, same-named indexes on other columns, a primary
// key on one of them), procedures dbo.dupproc and clerk.dupproc, and a table named with a dot
// ([dot.ted]). Every case runs from a connection in that database and from one in master, so a
// catalogue function that reads the current database instead of the browsed one shows.
#include <functional>

#include "catalog/service/QorixObjInfo.h"
#include "service_fixture.h"

namespace {

class OwnersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto db = svctest::Connect(QStringLiteral("owsetup"), QStringLiteral("master"));
    svctest::Exec(*db, QStringLiteral("create database owndb"));
    svctest::Exec(*db, QStringLiteral("use owndb"));
    svctest::Exec(*db, QStringLiteral("exec sp_adduser clerk"));
    svctest::Exec(*db, QStringLiteral("create table dbo.dup (a int not null, b varchar(5) null)\n"
                                      "create table clerk.dup (x int not null, y int null, z char(2) null)\n"
                                      "create table [dot.ted] ([a.b] int not null, c varchar(3) null)\n"
                                      "create table dot (ted int null)"));
    svctest::Exec(*db, QStringLiteral("create index dup_idx on dbo.dup (b)\n"
                                      "create index dup_idx on clerk.dup (y, x)\n"
                                      "create unique index dt_idx on [dot.ted] (c, [a.b])"));
    svctest::Exec(*db, QStringLiteral("insert clerk.dup values (1, 1, 'a') insert clerk.dup values (2, 2, 'b')"));
    svctest::Exec(*db, QStringLiteral("exec sp_primarykey 'clerk.dup', x"));
    svctest::Exec(*db, QStringLiteral("grant select on dbo.dup to public\n"
                                      "grant select, update on clerk.dup to clerk"));
    svctest::Exec(*db, QStringLiteral("create procedure dbo.dupproc @p1 int as select dbo_text = @p1"));
    svctest::Exec(*db, QStringLiteral("create procedure clerk.dupproc @q1 int, @q2 char(3) as select clerk_text = @q2"));
  }

  static QString Join(const QStringList& list) { return list.join(QLatin1Char(',')); }
  // Object, grantee and action of each permission row, in action order; "<none>" for no list.
  static QString Grants(const std::unique_ptr<TQxProtectList>& list) {
    if (!list) return QStringLiteral("<none>");
    QStringList rows;
    for (const TQxProtect& p : *list) rows << QStringLiteral("%1 %2 %3").arg(p.ObjectName, p.UserName).arg(p.Action);
    rows.sort();
    return Join(rows);
  }
  static QString Loaded(TQorixObjInfo& info) {
    QStringList names;
    for (int i = 1; i <= info.ColumnCount; ++i) names << info.ColumnName(i);
    info.ClearColumns();
    return Join(names);
  }
};

TEST_F(OwnersTest, EveryReaderKeysOnOwnerNameAndTheBrowsedDatabase) {
  using Reader = std::function<QString(TQorixObjInfo&)>;
  struct Case {
    const char* what;
    Reader read;
    QString expected;
  };
  const Case cases[] = {
      {"columns of dbo's dup", [](TQorixObjInfo& i) { i.LoadColumns("dup"); return Loaded(i); }, "a,b"},
      {"columns of dbo.dup", [](TQorixObjInfo& i) { i.LoadColumns("dbo.dup"); return Loaded(i); }, "a,b"},
      {"columns of clerk.dup", [](TQorixObjInfo& i) { i.LoadColumns("clerk.dup"); return Loaded(i); }, "x,y,z"},
      {"one column of clerk.dup",
       [](TQorixObjInfo& i) {
         i.LoadColumn("clerk.dup", "z");
         return i.ColumnCount == 1 ? i.ColumnTypeName(1) + QString::number(i.ColumnLength(1)) : QString("<none>");
       },
       "char2"},
      {"a column only the other owner's table has",
       [](TQorixObjInfo& i) { i.LoadColumn("dup", "z"); return Loaded(i); }, ""},
      {"permissions of dup",
       [](TQorixObjInfo& i) { return Grants(i.GetObjectInfo("dup", false, true)->Permissions); }, "dup public 1"},
      {"permissions of clerk.dup",
       [](TQorixObjInfo& i) { return Grants(i.GetObjectInfo("clerk.dup", false, true)->Permissions); },
       "dup clerk 1,dup clerk 4"},
      {"grants to the user clerk", [](TQorixObjInfo& i) { return Grants(i.GetPermissions(4, "clerk", 0)); },
       "dup clerk 1,dup clerk 4"},
      {"owner of dup", [](TQorixObjInfo& i) { QString o; i.GetObjectOwner("dup", o); return o; }, "dbo"},
      {"owner of clerk.dup", [](TQorixObjInfo& i) { QString o; i.GetObjectOwner("clerk.dup", o); return o; }, "clerk"},
      {"object of clerk.dup",
       [](TQorixObjInfo& i) {
         auto o = i.GetObjectInfo("clerk.dup", true, false);
         return o ? o->OwnerName + "|" + QString::number(o->Columns ? o->Columns->size() : -1) : QString("<none>");
       },
       "clerk|3"},
      {"row count of dup", [](TQorixObjInfo& i) { return QString::number(i.GetRowCount("dup")); }, "0"},
      {"row count of clerk.dup", [](TQorixObjInfo& i) { return QString::number(i.GetRowCount("clerk.dup")); }, "2"},
      {"indexes of clerk.dup", [](TQorixObjInfo& i) { return Join(i.GetTableIndexes("clerk.dup")); }, "dup_idx"},
      {"index columns of dup", [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("dup.dup_idx")); }, "b"},
      {"index columns of clerk.dup",
       [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("clerk.dup.dup_idx")); }, "y,x"},
      {"index of clerk.dup",
       [](TQorixObjInfo& i) {
         auto x = i.GetIndexInfo("dup_idx", "clerk.dup");
         QString owner;
         return x ? QString::number(x->Id) + "|" + x->TableName : QString("<none>");
       },
       "<clerk.dup id>|dup"},
      {"index text of clerk.dup",
       [](TQorixObjInfo& i) { return i.GetIndexDDL("dup_idx", "clerk.dup").join('/'); },
       "CREATE INDEX dup_idx ON clerk.dup/(y,x)/ON 'default'"},
      {"index text of dup", [](TQorixObjInfo& i) { return i.GetIndexDDL("dup_idx", "dup").join('/'); },
       "CREATE INDEX dup_idx ON dup/(b)/ON 'default'"},
      {"table text of clerk.dup",
       [](TQorixObjInfo& i) {
         const QStringList l = i.GetTableDDL("clerk.dup");
         return l.first() + "/" + l.last() + "/" + QString::number(l.size());
       },
       "CREATE TABLE clerk.dup/EXECUTE sp_primarykey 'clerk.dup', x/7"},
      {"primary key of clerk.dup",
       [](TQorixObjInfo& i) { auto k = i.GetPrimaryKeys("clerk.dup"); return k ? k->Keys : QString("<none>"); }, "x"},
      {"primary key of dup",
       [](TQorixObjInfo& i) { auto k = i.GetPrimaryKeys("dup"); return k ? k->Keys : QString("<none>"); }, "<none>"},
      {"parameters of dupproc",
       [](TQorixObjInfo& i) {
         auto l = i.GetColumnList("dupproc", "P");
         QStringList n;
         for (const TQxColumn& c : *l) n << c.Name;
         return Join(n);
       },
       "@p1"},
      {"parameters of clerk.dupproc",
       [](TQorixObjInfo& i) {
         auto l = i.GetColumnList("clerk.dupproc", "P");
         QStringList n;
         for (const TQxColumn& c : *l) n << c.Name;
         return Join(n);
       },
       "@q1,@q2"},
      {"text of clerk.dupproc",
       [](TQorixObjInfo& i) { QString t; i.GetObjectText("clerk.dupproc", t); return t.section(' ', -1); }, "@q2"},
      {"text of dupproc", [](TQorixObjInfo& i) { QString t; i.GetObjectText("dupproc", t); return t.section(' ', -1); },
       "@p1"},
      // A name holding a dot: whole, bracketed, or with its owner.
      {"columns of dot.ted", [](TQorixObjInfo& i) { i.LoadColumns("dot.ted"); return Loaded(i); }, "a.b,c"},
      {"columns of dbo.[dot.ted]", [](TQorixObjInfo& i) { i.LoadColumns("dbo.[dot.ted]"); return Loaded(i); }, "a.b,c"},
      {"columns of the table dot", [](TQorixObjInfo& i) { i.LoadColumns("dot"); return Loaded(i); }, "ted"},
      {"indexes of dot.ted", [](TQorixObjInfo& i) { return Join(i.GetTableIndexes("dot.ted")); }, "dt_idx"},
      {"index columns of dot.ted.dt_idx",
       [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("dot.ted.dt_idx")); }, "c,a.b"},
      {"index columns of [dot.ted].dt_idx",
       [](TQorixObjInfo& i) { return Join(i.GetIndexColumns("[dot.ted].dt_idx")); }, "c,a.b"},
      {"index text of dot.ted", [](TQorixObjInfo& i) { return i.GetIndexDDL("dt_idx", "dot.ted").join('/'); },
       "CREATE UNIQUE INDEX dt_idx ON [dot.ted]/(c,[a.b])/ON 'default'"},
      {"table text of dot.ted",
       [](TQorixObjInfo& i) { return i.GetTableDDL("dot.ted").mid(0, 3).join('/'); },
       "CREATE TABLE dbo.[dot.ted]/(/ [a.b]                         int                          NOT NULL,"},
  };
  for (const QString& current : {QStringLiteral("owndb"), QStringLiteral("master")}) {
    auto db = svctest::Connect(QStringLiteral("ow") + current, current);
    ASSERT_TRUE(db->Connected());
    const QString clerkDup = svctest::Rows(*db, QStringLiteral("select object_id('owndb.clerk.dup')")).value(0);
    for (const Case& c : cases) {
      SCOPED_TRACE(QStringLiteral("%1, connected to %2").arg(c.what, current).toStdString());
      TQorixObjInfo info;
      info.SetDatabase(db.get());
      info.SetSelectDb(QStringLiteral("owndb"));
      info.ShowDbMessages = TShowDbMessages{smDbErr};
      QString expected = c.expected;
      expected.replace(QStringLiteral("<clerk.dup id>"), clerkDup);
      EXPECT_EQ(c.read(info), expected);
    }
  }
}

TEST_F(OwnersTest, FindObjectPrefersTheOwnerReadingThenDbo) {
  auto db = svctest::Connect(QStringLiteral("owfind"), QStringLiteral("owndb"));
  TQorixObjInfo info;
  info.SetDatabase(db.get());
  info.ShowDbMessages = TShowDbMessages{smDbErr};
  struct Case {
    QString text, owner, name, type;
  };
  const Case cases[] = {
      {"dup", "dbo", "dup", "U"},
      {"clerk.dup", "clerk", "dup", "U"},
      {" clerk . dup ", "clerk", "dup", "U"},
      {"dot.ted", "dbo", "dot.ted", "U"},
      {"[dot.ted]", "dbo", "dot.ted", "U"},
      {"dbo.[dot.ted]", "dbo", "dot.ted", "U"},
      {"owndb.clerk.dupproc", "", "owndb.clerk.dupproc", ""},
      {"[clerk].[dupproc]", "clerk", "dupproc", "P"},
      {"clerk.[dot.ted]", "", "dot.ted", ""},
      {"nobody.dup", "", "nobody.dup", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    const TQxObjectRef ref = info.FindObject(c.text);
    EXPECT_EQ(ref.Owner, c.owner);
    EXPECT_EQ(ref.Name, c.name);
    EXPECT_EQ(ref.Type, c.type);
    EXPECT_EQ(ref.Found(), !c.owner.isEmpty());
  }
}

}  // namespace
