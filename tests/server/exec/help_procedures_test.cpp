// The reporting system procedures through the Session interface: sp_help's result sets for a
// table, a procedure, a user datatype and the whole database, sp_helpindex, sp_spaceused of a
// table and of the database, sp_helpdb (with its segments), sp_rename of a column, and the
// procedures' entries in sybsystemprocs' catalogue.
#include <gtest/gtest.h>

#include "recording_sink.h"

namespace tabtest {
namespace {

// The rows of a result set as "a | b | c", only the columns named.
std::vector<std::string> rows(const RecordedSet& set, const std::vector<std::string>& columns) {
  std::vector<size_t> at;
  for (const std::string& name : columns) {
    size_t i = 0;
    while (i < set.columns.size() && set.columns[i].name != name) ++i;
    EXPECT_LT(i, set.columns.size()) << "no column " << name;
    at.push_back(i);
  }
  std::vector<std::string> out;
  for (const auto& r : set.rows) {
    std::string line;
    for (size_t k = 0; k < at.size(); ++k)
      line += (k ? " | " : "") + (at[k] < r.size() ? show(r[at[k]]) : std::string("?"));
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> names(const RecordedSet& set) {
  std::vector<std::string> out;
  for (const auto& c : set.columns) out.push_back(c.name);
  return out;
}

std::vector<std::string> texts(const RecordingSink& s) {
  std::vector<std::string> out;
  for (const auto& m : s.messages) out.push_back(m.text);
  return out;
}

class HelpProcedures : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(run("use sample").errorNumbers(), std::vector<int>{});
    ASSERT_EQ(run("create table stock (id int identity, sku char(8) not null, qty smallint not null default 0,\n"
                  "  price numeric(7,2) null, zip zip_t null,\n"
                  "  constraint stock_pk primary key clustered (id),\n"
                  "  constraint stock_qty check (qty >= 0))\n"
                  "create unique index stock_sku on stock (sku)")
                  .errorNumbers(),
              std::vector<int>{});
  }
};

TEST_F(HelpProcedures, SpHelpOfATableGivesItsObjectColumnsIndexesAndConstraints) {
  RecordingSink s = run("sp_help stock");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(s.sets.size(), 4u);
  EXPECT_EQ(names(s.sets[0]), (std::vector<std::string>{"Name", "Owner", "Object_type", "Create_date"}));
  EXPECT_EQ(rows(s.sets[0], {"Name", "Owner", "Object_type"}), std::vector<std::string>{"stock | dbo | user table"});
  EXPECT_EQ(names(s.sets[1]),
            (std::vector<std::string>{"Column_name", "Type", "Length", "Prec", "Scale", "Nulls", "Default_name",
                                      "Rule_name", "Access_Rule_name", "Identity"}));
  auto columns = rows(s.sets[1], {"Column_name", "Type", "Length", "Prec", "Scale", "Nulls", "Rule_name", "Identity"});
  ASSERT_EQ(columns.size(), 5u);
  EXPECT_EQ(columns[0], "id | int | 4 | NULL | NULL | 0 | NULL | 1");
  EXPECT_EQ(columns[1], "sku | char | 8 | NULL | NULL | 0 | NULL | 0");
  EXPECT_EQ(columns[2], "qty | smallint | 2 | NULL | NULL | 0 | NULL | 0");
  EXPECT_EQ(columns[3], "price | numeric | 4 | 7 | 2 | 1 | NULL | 0");
  EXPECT_EQ(columns[4], "zip | zip_t | 5 | NULL | NULL | 1 | NULL | 0");
  // The DEFAULT of qty is a default object of its own.
  EXPECT_NE(rows(s.sets[1], {"Default_name"})[2], "NULL");
  EXPECT_EQ(rows(s.sets[2], {"index_name", "index_description", "index_keys"}),
            (std::vector<std::string>{"stock_pk | clustered, unique located on default | id",
                                      "stock_sku | nonclustered, unique located on default | sku"}));
  EXPECT_EQ(rows(s.sets[3], {"name", "definition"}),
            (std::vector<std::string>{"stock_pk | PRIMARY KEY INDEX ( id) : CLUSTERED",
                                      "stock_qty | CHECK (qty >= 0)"}));
  EXPECT_EQ(s.statuses, std::vector<int32_t>{0});
}

TEST_F(HelpProcedures, SpHelpSaysWhatATableLacks) {
  run("create table bare (a int not null)");
  RecordingSink s = run("sp_help bare");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(s.sets.size(), 2u);
  EXPECT_EQ(texts(s), (std::vector<std::string>{"Object does not have any indexes.",
                                                 "Object does not have any declarative constraints."}));
}

TEST_F(HelpProcedures, SpHelpOfAProcedureAViewAndATypeAndOfNothing) {
  run("create procedure stock_add @sku char(8), @qty int = 1, @total numeric(9,2) output as return 0");
  RecordingSink proc = run("sp_help stock_add");
  ASSERT_EQ(proc.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(proc.sets.size(), 2u);
  EXPECT_EQ(rows(proc.sets[0], {"Object_type"}), std::vector<std::string>{"stored procedure"});
  EXPECT_EQ(rows(proc.sets[1], {"Parameter_name", "Type", "Length", "Prec", "Scale", "Param_order", "Mode"}),
            (std::vector<std::string>{"@sku | char | 8 | NULL | NULL | 1 | in", "@qty | int | 4 | NULL | NULL | 2 | in",
                                      "@total | numeric | 5 | 9 | 2 | 3 | output"}));

  run("create view cheap as select sku, price from stock where price < 10");
  RecordingSink view = run("sp_help cheap");
  ASSERT_EQ(view.sets.size(), 2u);
  EXPECT_EQ(rows(view.sets[0], {"Object_type"}), std::vector<std::string>{"view"});
  EXPECT_EQ(rows(view.sets[1], {"Column_name", "Type"}), (std::vector<std::string>{"sku | char", "price | numeric"}));

  RecordingSink type = run("sp_help zip_t");
  ASSERT_EQ(type.sets.size(), 1u);
  EXPECT_EQ(rows(type.sets[0], {"Type_name", "Storage_type", "Length", "Nulls"}),
            std::vector<std::string>{"zip_t | char | 5 | 1"});

  RecordingSink all = run("sp_help");
  ASSERT_GE(all.sets.size(), 2u);
  auto objects = rows(all.sets[0], {"Name", "Owner", "Object_type"});
  EXPECT_NE(std::find(objects.begin(), objects.end(), "stock | dbo | user table"), objects.end());
  EXPECT_NE(std::find(objects.begin(), objects.end(), "cheap | dbo | view"), objects.end());
  EXPECT_NE(std::find(objects.begin(), objects.end(), "stock_add | dbo | stored procedure"), objects.end());
  EXPECT_NE(std::find(objects.begin(), objects.end(), "stock_qty | dbo | check constraint"), objects.end());
  EXPECT_NE(std::find(objects.begin(), objects.end(), "sysobjects | dbo | system table"), objects.end());
  auto types = rows(all.sets[1], {"Type_name"});
  EXPECT_NE(std::find(types.begin(), types.end(), "zip_t"), types.end());

  RecordingSink missing = run("declare @rc int exec @rc = sp_help nosuch select @rc");
  EXPECT_EQ(missing.errorNumbers(), std::vector<int>{17461});
  EXPECT_EQ(show(missing.sets.back().rows.at(0).at(0)), "1");
  EXPECT_EQ(run("sp_help 'master..sysobjects'").errorNumbers(), std::vector<int>{17460});
}

TEST_F(HelpProcedures, SpHelpindexListsIndexesInOrder) {
  RecordingSink s = run("sp_helpindex stock");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(s.sets.size(), 1u);
  EXPECT_EQ(names(s.sets[0]),
            (std::vector<std::string>{"index_name", "index_description", "index_keys", "index_max_rows_per_page",
                                      "index_fillfactor", "index_reservepagegap", "index_created"}));
  EXPECT_EQ(rows(s.sets[0], {"index_name", "index_keys"}),
            (std::vector<std::string>{"stock_pk | id", "stock_sku | sku"}));
  run("create table bare (a int not null)");
  RecordingSink bare = run("sp_helpindex bare");
  EXPECT_TRUE(bare.sets.empty());
  EXPECT_EQ(texts(bare), std::vector<std::string>{"Object does not have any indexes."});
  EXPECT_EQ(run("sp_helpindex").errorNumbers(), std::vector<int>{201});
}

// "12 KB" -> 12.
long kb(const std::string& text) {
  EXPECT_NE(text.find(" KB"), std::string::npos) << text;
  return std::stol(text);
}

TEST_F(HelpProcedures, SpSpaceusedGrowsWithTheRowsAndAddsUp) {
  RecordingSink empty = run("sp_spaceused stock");
  ASSERT_EQ(empty.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(empty.sets.size(), 1u);
  EXPECT_EQ(names(empty.sets[0]),
            (std::vector<std::string>{"name", "rowtotal", "reserved", "data", "index_size", "unused"}));
  EXPECT_EQ(rows(empty.sets[0], {"name", "rowtotal"}), std::vector<std::string>{"stock | 0"});
  ASSERT_EQ(run("declare @i int select @i = 0\n"
                "while @i < 2000 begin\n"
                "  insert stock (sku, qty, price) values (convert(char(8), 10000000 + @i), @i, 1.50)\n"
                "  select @i = @i + 1\n"
                "end")
                .errorNumbers(),
            std::vector<int>{});
  RecordingSink full = run("sp_spaceused stock");
  ASSERT_EQ(full.sets.size(), 1u);
  const auto& row = full.sets[0].rows.at(0);
  EXPECT_EQ(show(row[1]), "2000");
  long reserved = kb(show(row[2])), data = kb(show(row[3])), index = kb(show(row[4])), unused = kb(show(row[5]));
  // 2,000 rows of about 30 bytes and an index over sku: tens of kilobytes, and the parts add up
  // (each part is rounded up to a kilobyte).
  EXPECT_GT(data, 30);
  EXPECT_GT(index, 10);
  EXPECT_GE(reserved + 2, data + index + unused);
  EXPECT_LE(reserved, data + index + unused + 2);
  EXPECT_GT(kb(show(run("sp_spaceused stock").sets[0].rows[0][2])), kb(show(empty.sets[0].rows[0][2])));

  RecordingSink database = run("sp_spaceused");
  ASSERT_EQ(database.sets.size(), 2u);
  EXPECT_EQ(rows(database.sets[0], {"database_name"}), std::vector<std::string>{"sample"});
  EXPECT_EQ(names(database.sets[1]), (std::vector<std::string>{"reserved", "data", "index_size", "unused"}));
  // The database holds at least the table.
  EXPECT_GE(kb(show(database.sets[1].rows[0][0])), reserved);
  EXPECT_EQ(run("sp_spaceused nosuch").errorNumbers(), std::vector<int>{17461});
}

TEST_F(HelpProcedures, SpHelpdbListsTheDatabasesAndDescribesOne) {
  RecordingSink all = run("sp_helpdb");
  ASSERT_EQ(all.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(all.sets.size(), 1u);
  EXPECT_EQ(names(all.sets[0]),
            (std::vector<std::string>{"name", "db_size", "owner", "dbid", "created", "status"}));
  auto dbs = rows(all.sets[0], {"name", "owner", "dbid"});
  EXPECT_NE(std::find(dbs.begin(), dbs.end(), "master | sa | 1"), dbs.end());
  EXPECT_NE(std::find(dbs.begin(), dbs.end(), "tempdb | sa | 2"), dbs.end());
  RecordingSink one = run("sp_helpdb sample");
  ASSERT_EQ(one.sets.size(), 3u);
  EXPECT_EQ(rows(one.sets[0], {"name", "status"}), std::vector<std::string>{"sample | no options set"});
  EXPECT_NE(show(one.sets[0].rows[0][1]).find(" MB"), std::string::npos);
  EXPECT_EQ(names(one.sets[1]),
            (std::vector<std::string>{"device_fragments", "size", "usage", "created", "free kbytes"}));
  // Last, the database's segments on its device.
  EXPECT_EQ(rows(one.sets[2], {"device", "segment"}),
            (std::vector<std::string>{"master | default", "master | logsegment", "master | system"}));
  EXPECT_EQ(run("sp_helpdb nosuch").errorNumbers(), std::vector<int>{15010});
}

TEST_F(HelpProcedures, SpRenameOfAColumnIsSeenByEverySession) {
  run("insert stock (sku, qty) values ('a', 1)");
  RecordingSink s = run("sp_rename 'stock.price', cost");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(texts(s), std::vector<std::string>{"Column name has been changed."});
  EXPECT_EQ(scalar("select count(cost) + count(*) from stock"), "1");
  EXPECT_EQ(run("select price from stock").errorNumbers(), std::vector<int>{207});
  auto other = login();
  ASSERT_EQ(run("use sample", other.get()).errorNumbers(), std::vector<int>{});
  EXPECT_EQ(run("update stock set cost = 2.50 select cost from stock", other.get()).errorNumbers(),
            std::vector<int>{});
  EXPECT_EQ(rows(run("sp_help stock").sets[1], {"Column_name"})[3], "cost");

  // Refused: a name the table has, a column a CHECK constraint names, a column that is not there,
  // an object that is not a column.
  EXPECT_EQ(run("sp_rename 'stock.cost', sku").errorNumbers(), std::vector<int>{15335});
  EXPECT_EQ(run("sp_rename 'stock.qty', amount").errorNumbers(), std::vector<int>{15250});
  EXPECT_EQ(run("sp_rename 'stock.nosuch', x").errorNumbers(), std::vector<int>{15248});
  EXPECT_EQ(run("sp_rename stock, stock2").errorNumbers(), std::vector<int>{17471});
  EXPECT_EQ(scalar("select count(*) from stock where qty = 1"), "1");
}

TEST_F(HelpProcedures, SybsystemprocsHoldsTheSystemProcedures) {
  RecordingSink s = run("select count(*) from sybsystemprocs..sysobjects where type = 'P' and name in "
                        "('sp_help', 'sp_helpindex', 'sp_spaceused', 'sp_helpdb', 'sp_rename', 'sp_who', 'sp_helptext')");
  ASSERT_EQ(s.errorNumbers(), std::vector<int>{});
  EXPECT_EQ(show(s.sets[0].rows[0][0]), "7");
  // Its parameters are in syscolumns; its text says what it is; calling it by its full name runs it.
  EXPECT_EQ(scalar("select c.name from sybsystemprocs..syscolumns c, sybsystemprocs..sysobjects o "
                   "where o.name = 'sp_helpindex' and c.id = o.id"),
            "@objname");
  RecordingSink text = run("exec sybsystemprocs..sp_helptext 'sybsystemprocs..sp_help'");
  ASSERT_EQ(text.errorNumbers(), std::vector<int>{});
  ASSERT_EQ(text.sets.size(), 2u);
  EXPECT_EQ(show(text.sets[1].rows.at(0).at(0)).rfind("create procedure sp_help", 0), 0u);
  EXPECT_EQ(run("exec sybsystemprocs..sp_helpindex stock").sets.size(), 1u);
  // A second start of the same data directory adds nothing twice.
  session_.reset();
  engine_.reset();
  engine_ = tabsrv::createEngine(tabsrv::EngineConfig{dir_.string(), "TABULON", {}});
  session_ = login();
  EXPECT_EQ(scalar("select count(*) from sybsystemprocs..sysobjects where name = 'sp_help'"), "1");
}

}  // namespace
}  // namespace tabtest
