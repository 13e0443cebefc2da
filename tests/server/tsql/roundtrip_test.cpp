// Statements that must parse, printed back through toSql(): the normalized text shows how the
// parser grouped operators, which clauses it kept and which hints it dropped.
#include <gtest/gtest.h>

#include <string>

#include "server/core/message.h"
#include "server/tsql/parser.h"

namespace tabsrv::tsql {
namespace {

// Every statement of the batch printed back, joined by " ; "; the opt-in syntax is on.
std::string printBatch(const std::string& sql) {
  std::string out;
  for (const auto& s : parseBatch(sql, ParseOptions{true, true})) {
    if (!out.empty()) out += " ; ";
    out += s->toSql();
  }
  return out;
}

struct RoundTrip {
  const char* name;
  const char* sql;
  const char* printed;
};

class ParserRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ParserRoundTrip, PrintsNormalizedText) {
  const RoundTrip& c = GetParam();
  try {
    EXPECT_EQ(printBatch(c.sql), c.printed);
  } catch (const SqlError& e) {
    FAIL() << c.sql << " failed: " << e.what();
  }
  // What toSql prints must parse again to the same text.
  EXPECT_EQ(printBatch(c.printed), c.printed);
}

#define CASE(name, sql, printed) \
  RoundTrip {                    \
#name, sql, printed          \
  }

INSTANTIATE_TEST_SUITE_P(
    Select, ParserRoundTrip,
    ::testing::Values(
        CASE(star, "select * from titles", "SELECT * FROM titles"),
        CASE(distinct_and_aliases,
             "SELECT DISTINCT a x, b AS y, total = c + 1, 'Label' = d, e 'quoted' from t",
             "SELECT DISTINCT a AS x, b AS y, c + 1 AS total, d AS Label, e AS quoted FROM t"),
        CASE(bracketed_alias, "select a as [my col] from [odd table]",
             "SELECT a AS [my col] FROM [odd table]"),
        CASE(qualified_names,
             "select t.*, t.a, dbo.t.b, pubs.dbo.t.c, pubs..t.d from pubs..t, dbo.t, pubs.dbo.u",
             "SELECT t.*, t.a, dbo.t.b, pubs.dbo.t.c, pubs..t.d FROM pubs..t, dbo.t, pubs.dbo.u"),
        CASE(assignment_select, "select @n = count(*), @m = max(price) from titles",
             "SELECT @n = count(*), @m = max(price) FROM titles"),
        CASE(select_into_temp, "select a, b into #tmp from t where a > 1",
             "SELECT a, b INTO #tmp FROM t WHERE a > 1"),
        CASE(comma_join_and_outer_operators, "select * from a, b where a.id *= b.id and a.k =* b.k",
             "SELECT * FROM a, b WHERE a.id *= b.id AND a.k =* b.k"),
        CASE(ansi_joins,
             "select * from a inner join b on a.id = b.id left outer join c on c.id = b.id right join d on "
             "d.x = a.x",
             "SELECT * FROM a INNER JOIN b ON a.id = b.id LEFT JOIN c ON c.id = b.id RIGHT JOIN d ON d.x = "
             "a.x"),
        CASE(nested_join_keeps_grouping, "select * from a join (b left join c on b.i = c.i) on a.i = b.i",
             "SELECT * FROM a INNER JOIN (b LEFT JOIN c ON b.i = c.i) ON a.i = b.i"),
        CASE(table_aliases_and_hints,
             "select x.a from t x holdlock, u (index u_ix prefetch 16 lru) y noholdlock",
             "SELECT x.a FROM t x, u y"),
        CASE(derived_table, "select d.n from (select count(*) n from t) d",
             "SELECT d.n FROM (SELECT count(*) AS n FROM t) d"),
        CASE(group_having_order,
             "select type, avg(price) from titles group by all type having avg(price) > $10 "
             "order by 2 desc, type asc",
             "SELECT type, avg(price) FROM titles GROUP BY ALL type HAVING avg(price) > $10 ORDER BY 2 DESC, "
             "type"),
        CASE(union_all, "select a from t union all select b from u union select c from v order by 1",
             "SELECT a FROM t UNION ALL SELECT b FROM u UNION SELECT c FROM v ORDER BY 1"),
        CASE(compute_by,
             "select type, price from titles order by type compute sum(price), count(price) by type "
             "compute max(price)",
             "SELECT type, price FROM titles ORDER BY type COMPUTE sum(price), count(price) BY type COMPUTE "
             "max(price)"),
        CASE(for_browse, "select a from t for browse", "SELECT a FROM t FOR BROWSE"),
        CASE(select_without_from, "select 1, 'a', @@version", "SELECT 1, 'a', @@version"),
        CASE(top_rows, "select top 5 title from books order by price desc ; select distinct top @n a from t",
             "SELECT TOP 5 title FROM books ORDER BY price DESC ; SELECT DISTINCT TOP @n a FROM t"),
        CASE(top_as_column_name, "select top from t", "SELECT top FROM t"),
        CASE(parenthesized_union_operands, "(select a from t) union (select b from u) order by 1",
             "SELECT a FROM t UNION SELECT b FROM u ORDER BY 1"),
        CASE(parenthesized_first_operand_keeps_its_unions,
             "((select a from t union select b from u)) union all select c from v",
             "SELECT a FROM t UNION SELECT b FROM u UNION ALL SELECT c FROM v"),
        CASE(parenthesized_right_union_keeps_grouping,
             "select a from t union all (select b from u union select c from v)",
             "SELECT a FROM t UNION ALL SELECT * FROM (SELECT b FROM u UNION SELECT c FROM v)"),
        CASE(parenthesized_operand_with_top_keeps_its_order,
             "select a from t union (select top 1 b from u order by b desc)",
             "SELECT a FROM t UNION SELECT * FROM (SELECT TOP 1 b FROM u ORDER BY b DESC)"),
        CASE(parenthesized_select_alone, "(select a from t order by a)", "SELECT a FROM t ORDER BY a"),
        CASE(outer_order_replaces_inner, "(select a from t order by a) order by 1 desc",
             "SELECT a FROM t ORDER BY 1 DESC"),
        CASE(at_isolation,
             "select a from t holdlock at isolation read uncommitted select b from u at isolation 3",
             "SELECT a FROM t AT ISOLATION 0 ; SELECT b FROM u AT ISOLATION 3"),
        CASE(readpast_hint_dropped, "select a from t readpast where a > 1", "SELECT a FROM t WHERE a > 1"),
        CASE(sqlanywhere_owner_qualified_tables,
             "SELECT si.index_name FROM SYS.SYSINDEX si, SYS.SYSTABLE st WHERE si.table_id = st.table_id",
             "SELECT si.index_name FROM SYS.SYSINDEX si, SYS.SYSTABLE st WHERE si.table_id = st.table_id"),
        CASE(parameter_markers, "select * from t where a = ? and b in (?, ?)",
             "SELECT * FROM t WHERE a = ? AND b IN (?, ?)")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Expressions, ParserRoundTrip,
    ::testing::Values(
        CASE(arithmetic_precedence, "select 1 + 2 * 3, (1 + 2) * 3, 1 - (2 - 3), 1 - 2 - 3, 7 % 3 / 2",
             "SELECT 1 + 2 * 3, (1 + 2) * 3, 1 - (2 - 3), 1 - 2 - 3, 7 % 3 / 2"),
        CASE(bitwise_same_level_as_plus, "select a & b | c ^ ~d, a + b & c",
             "SELECT a & b | c ^ ~d, a + b & c"),
        CASE(unary_minus, "select -a, - -1, -(1 + 2), +5", "SELECT -a, -(-1), -(1 + 2), +5"),
        CASE(and_binds_tighter_than_or, "select 1 where a = 1 or b = 2 and c = 3",
             "SELECT 1 WHERE a = 1 OR b = 2 AND c = 3"),
        CASE(parenthesized_or, "select 1 where (a = 1 or b = 2) and c = 3",
             "SELECT 1 WHERE (a = 1 OR b = 2) AND c = 3"),
        CASE(not_operators, "select 1 where not a = 1 and a != 2 and a !< 3 and a !> 4 and a <> 5",
             "SELECT 1 WHERE NOT a = 1 AND a <> 2 AND a >= 3 AND a <= 4 AND a <> 5"),
        CASE(between_and_not_between, "select 1 where a between 1 and 2 + 3 and b not between c and d",
             "SELECT 1 WHERE a BETWEEN 1 AND 2 + 3 AND b NOT BETWEEN c AND d"),
        CASE(in_list_and_subquery, "select 1 where a in (1, 2) and b not in (select x from y)",
             "SELECT 1 WHERE a IN (1, 2) AND b NOT IN (SELECT x FROM y)"),
        CASE(like_escape, "select 1 where a like 'x!%%' escape '!' and b not like \"_b\"",
             "SELECT 1 WHERE a LIKE 'x!%%' ESCAPE '!' AND b NOT LIKE '_b'"),
        CASE(is_null, "select 1 where a is null or b is not null",
             "SELECT 1 WHERE a IS NULL OR b IS NOT NULL"),
        CASE(exists_and_not_exists, "select 1 where exists (select * from t) and not exists (select 1)",
             "SELECT 1 WHERE EXISTS (SELECT * FROM t) AND NOT EXISTS (SELECT 1)"),
        CASE(scalar_subquery, "select (select max(a) from t) + 1", "SELECT (SELECT max(a) FROM t) + 1"),
        CASE(any_all_some,
             "select 1 where a > any (select b from t) and a = all (select c from u) "
             "and a < some (select d from v)",
             "SELECT 1 WHERE a > ANY (SELECT b FROM t) AND a = ALL (SELECT c FROM u) AND a < ANY (SELECT d "
             "FROM v)"),
        CASE(case_forms,
             "select case a when 1 then 'one' when 2 then 'two' else 'many' end, "
             "case when a > 1 then 1 end",
             "SELECT CASE a WHEN 1 THEN 'one' WHEN 2 THEN 'two' ELSE 'many' END, CASE WHEN a > 1 THEN 1 END"),
        CASE(functions,
             "select COUNT(*), count(distinct a), Upper(b), getdate(), coalesce(a, b, 0), nullif(a, 0), "
             "isnull(a, '')",
             "SELECT count(*), count(DISTINCT a), upper(b), getdate(), coalesce(a, b, 0), nullif(a, 0), "
             "isnull(a, '')"),
        CASE(convert_with_types,
             "select convert(varchar(10), getdate(), 101), convert(numeric(10,2), a), "
             "convert(int, b), convert(double precision, c), convert(nvarchar(5), d)",
             "SELECT convert(varchar(10), getdate(), 101), convert(numeric(10, 2), a), convert(int, b), "
             "convert(float, c), convert(varchar(5), d)"),
        CASE(literals, "select null, 12, 12.50, 1e5, $3.25, 'it''s', \"dq\", 0x0a, 0x",
             "SELECT NULL, 12, 12.50, 1e5, $3.25, 'it''s', 'dq', 0x0a, 0x"),
        CASE(string_concatenation, "select 'a' + b + 'c'", "SELECT 'a' + b + 'c'"),
        CASE(globals_lower_cased, "select @@ROWCOUNT, @@trancount", "SELECT @@rowcount, @@trancount")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Dml, ParserRoundTrip,
    ::testing::Values(
        CASE(insert_values, "insert into t (a, b) values (1, 'x')", "INSERT INTO t (a, b) VALUES (1, 'x')"),
        CASE(insert_without_into, "insert t values (1, null, -2)", "INSERT INTO t VALUES (1, NULL, -2)"),
        CASE(insert_select, "insert #t (a) select a from u where a > 0",
             "INSERT INTO #t (a) SELECT a FROM u WHERE a > 0"),
        CASE(insert_parenthesized_select, "insert t (select * from u)", "INSERT INTO t SELECT * FROM u"),
        CASE(insert_exec, "insert t exec p 1", "INSERT INTO t EXECUTE p 1"),
        CASE(update_simple, "update t set a = a + 1, t.b = 'x' where c = 2",
             "UPDATE t SET a = a + 1, t.b = 'x' WHERE c = 2"),
        CASE(update_from,
             "update titles set price = price * 2 from titles, publishers p where titles.pub_id = p.pub_id",
             "UPDATE titles SET price = price * 2 FROM titles, publishers p WHERE titles.pub_id = p.pub_id"),
        CASE(update_variable, "update t set @old = a, a = 0", "UPDATE t SET @old = a, a = 0"),
        CASE(delete_forms, "delete t ; delete from t where a = 1 ; delete t from t, u where t.a = u.a",
             "DELETE FROM t ; DELETE FROM t WHERE a = 1 ; DELETE FROM t FROM t, u WHERE t.a = u.a"),
        CASE(truncate, "truncate table db..t", "TRUNCATE TABLE db..t"),
        CASE(insert_default_values, "insert into t default values", "INSERT INTO t DEFAULT VALUES"),
        CASE(insert_parenthesized_union, "insert t ((select a from u) union (select b from v))",
             "INSERT INTO t SELECT a FROM u UNION SELECT b FROM v"),
        CASE(insert_markers, "INSERT sample..books(book_id, title) VALUES (?, ?)",
             "INSERT INTO sample..books (book_id, title) VALUES (?, ?)"),
        CASE(update_current_of, "update t set a = 1 where current of c",
             "UPDATE t SET a = 1 WHERE CURRENT OF c"),
        CASE(delete_current_of, "delete from t where current of c ; delete t where current of [my cursor]",
             "DELETE FROM t WHERE CURRENT OF c ; DELETE FROM t WHERE CURRENT OF [my cursor]")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ddl, ParserRoundTrip,
    ::testing::Values(
        CASE(create_table_columns,
             "create table t (id int identity, name varchar(30) not null, price money null default $0, "
             "code char(4) default 'x' not null, n numeric(10,2), f float(8), d double precision, r real, "
             "i integer, nc nchar(3), dec1 dec(5, 1), typed sysname null)",
             "CREATE TABLE t (id int IDENTITY, name varchar(30) NOT NULL, price money NULL DEFAULT $0, "
             "code char(4) NOT NULL DEFAULT 'x', n numeric(10, 2), f float(8), d float, r real, i int, nc "
             "char(3), "
             "dec1 decimal(5, 1), typed sysname NULL)"),
        CASE(create_table_constraints,
             "create table dbo.o (id int constraint o_pk primary key clustered, cust int references c(id), "
             "qty smallint check (qty > 0) unique nonclustered, "
             "constraint o_u unique (cust, qty), foreign key (cust) references c (id), check (id <> qty), "
             "primary key nonclustered (id, cust)) on seg1",
             "CREATE TABLE dbo.o (id int CONSTRAINT o_pk PRIMARY KEY CLUSTERED, cust int REFERENCES c (id), "
             "qty smallint CHECK (qty > 0) UNIQUE NONCLUSTERED, CONSTRAINT o_u UNIQUE (cust, qty), "
             "FOREIGN KEY (cust) REFERENCES c (id), CHECK (id <> qty), PRIMARY KEY NONCLUSTERED (id, cust)) "
             "ON seg1"),
        CASE(create_temp_table_on_default,
             "create table #t (a bit, b text, c image, d binary(4), e varbinary(8)) on default",
             "CREATE TABLE #t (a bit, b text, c image, d binary(4), e varbinary(8)) ON default"),
        CASE(drop_tables, "drop table a, dbo.b, db..c", "DROP TABLE a, dbo.b, db..c"),
        CASE(create_index,
             "create unique clustered index t_ix on t (a, b desc) with fillfactor = 80, ignore_dup_key "
             "on seg2",
             "CREATE UNIQUE CLUSTERED INDEX t_ix ON t (a, b DESC) WITH fillfactor = 80, ignore_dup_key ON "
             "seg2"),
        CASE(create_plain_index, "create index i on t(a asc)", "CREATE INDEX i ON t (a)"),
        CASE(create_index_string_segment,
             "CREATE UNIQUE INDEX i ON t\n(a,b)\nWITH IGNORE_DUP_KEY\nON 'default'",
             "CREATE UNIQUE INDEX i ON t (a, b) WITH IGNORE_DUP_KEY ON default"),
        CASE(create_index_segment_with_blank, "create index i on t (a) on 'log seg'",
             "CREATE INDEX i ON t (a) ON 'log seg'"),
        CASE(drop_index, "drop index t.i, dbo.u.j", "DROP INDEX t.i, dbo.u.j"),
        CASE(create_view, "create view v (x, y) as select a, b from t where a > 0 with check option",
             "CREATE VIEW v (x, y) AS SELECT a, b FROM t WHERE a > 0 WITH CHECK OPTION"),
        CASE(drop_view, "drop view v", "DROP VIEW v"),
        CASE(alter_table_add, "alter table t add c int null, d varchar(5) default 'z' null",
             "ALTER TABLE t ADD c int NULL, d varchar(5) NULL DEFAULT 'z'"),
        CASE(create_rule_and_default, "create rule r as @v between 1 and 9 create default d as 0",
             "CREATE RULE r AS @v BETWEEN 1 AND 9 ; CREATE DEFAULT d AS 0"),
        CASE(drop_others, "drop procedure p drop proc q drop trigger tr drop rule r drop default d",
             "DROP PROCEDURE p ; DROP PROCEDURE q ; DROP TRIGGER tr ; DROP RULE r ; DROP DEFAULT d"),
        CASE(grant_revoke,
             "grant select, update (price) on titles to public, mary with grant option "
             "revoke all on t from bob grant create table, create proc to joe",
             "GRANT select, update ON titles (price) TO public, mary WITH GRANT OPTION ; REVOKE all ON t "
             "FROM bob ; "
             "GRANT create table, create proc TO joe")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Session, ParserRoundTrip,
    ::testing::Values(
        CASE(use, "use pubs2", "USE pubs2"),
        CASE(set_options, "set rowcount 10 set nocount ON set textsize @n set dateformat mdy set datefirst 1",
             "SET rowcount 10 ; SET nocount on ; SET textsize @n ; SET dateformat mdy ; SET datefirst 1"),
        CASE(set_multiword_options,
             "set statistics io on set transaction isolation level 3 "
             "set transaction isolation level read committed set identity_insert db..t on "
             "set arithabort numeric_truncation off set quoted_identifier off",
             "SET statistics io on ; SET transaction isolation level 3 ; SET transaction isolation level 1 ; "
             "SET identity_insert db..t on ; SET arithabort numeric_truncation off ; SET quoted_identifier "
             "off"),
        CASE(transactions,
             "begin tran begin transaction t1 commit commit tran commit work t1 rollback "
             "rollback transaction sp1 save tran sp1",
             "BEGIN TRANSACTION ; BEGIN TRANSACTION t1 ; COMMIT TRANSACTION ; COMMIT TRANSACTION ; "
             "COMMIT TRANSACTION t1 ; ROLLBACK TRANSACTION ; ROLLBACK TRANSACTION sp1 ; SAVE TRANSACTION "
             "sp1")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Control, ParserRoundTrip,
    ::testing::Values(
        CASE(declare, "declare @a int, @b varchar(10) declare @c numeric(5,2)",
             "DECLARE @a int, @b varchar(10) ; DECLARE @c numeric(5, 2)"),
        CASE(set_variable, "set @n = @n + 1 set @s = (select max(a) from t)",
             "SET @n = @n + 1 ; SET @s = (SELECT max(a) FROM t)"),
        CASE(cursor_lifecycle,
             "declare c cursor for select a, b from t where b = 1 for update of a "
             "open c fetch c into @a, @b close c deallocate cursor c",
             "DECLARE c CURSOR FOR SELECT a, b FROM t WHERE b = 1 FOR UPDATE OF a ; OPEN c ; FETCH c INTO "
             "@a, @b ; "
             "CLOSE c ; DEALLOCATE CURSOR c"),
        CASE(cursor_options_and_directions,
             "declare c insensitive scroll cursor for select a from t for read only "
             "fetch absolute 3 c fetch relative -1 from c fetch prior from c fetch next c fetch first c "
             "deallocate c",
             "DECLARE c INSENSITIVE SCROLL CURSOR FOR SELECT a FROM t FOR READ ONLY ; FETCH ABSOLUTE 3 FROM "
             "c ; "
             "FETCH RELATIVE -1 FROM c ; FETCH PRIOR FROM c ; FETCH c ; FETCH FIRST FROM c ; DEALLOCATE "
             "CURSOR c"),
        CASE(cursor_named_like_a_direction, "fetch next", "FETCH next"),
        CASE(sqlanywhere_cursor_forms,
             "DECLARE c DYNAMIC SCROLL CURSOR FOR (select a from t) union (select b from u) "
             "declare d no scroll cursor for select a from t for update",
             "DECLARE c SCROLL CURSOR FOR SELECT a FROM t UNION SELECT b FROM u ; "
             "DECLARE d CURSOR FOR SELECT a FROM t FOR UPDATE"),
        CASE(if_else_blocks,
             "if @a = 1 begin print 'one' select 1 end else if @a = 2 print 'two' else return 5",
             "IF @a = 1 BEGIN PRINT 'one' SELECT 1 END ELSE IF @a = 2 PRINT 'two' ELSE RETURN 5"),
        CASE(if_exists, "if exists (select * from sysobjects where name = 't') drop table t",
             "IF EXISTS (SELECT * FROM sysobjects WHERE name = 't') DROP TABLE t"),
        CASE(while_break_continue,
             "while @i < 10 begin select @i = @i + 1 if @i = 5 continue if @i > 8 break end",
             "WHILE @i < 10 BEGIN SELECT @i = @i + 1 IF @i = 5 CONTINUE IF @i > 8 BREAK END"),
        CASE(return_forms, "return", "RETURN"),
        CASE(return_then_statement, "if @x = 1 return select 2", "IF @x = 1 RETURN ; SELECT 2"),
        CASE(goto_and_label, "goto done print 'skipped' done: print 'end'",
             "GOTO done ; PRINT 'skipped' ; done: ; PRINT 'end'"),
        CASE(print_forms, "print 'x %1! y %2!', @a, 5 print @msg print 'a' + convert(varchar, @n)",
             "PRINT 'x %1! y %2!', @a, 5 ; PRINT @msg ; PRINT 'a' + convert(varchar, @n)"),
        CASE(raiserror_forms, "raiserror 20001 'bad %1!', @v raiserror 20002 @msg raiserror 20003",
             "RAISERROR 20001 'bad %1!', @v ; RAISERROR 20002 @msg ; RAISERROR 20003"),
        CASE(waitfor, "waitfor delay '00:00:01' waitfor time \"23:00\"",
             "WAITFOR DELAY '00:00:01' ; WAITFOR TIME '23:00'"),
        CASE(kill_forms, "kill 12 kill @victim", "KILL 12 ; KILL @victim"),
        CASE(create_database_forms,
             "create database shop on default = 10, dev2 = '5M', 'data dev' log on logdev = 2 with override "
             "for load create database bare create database logged log on l1, [l 2] = 3 "
             "create database [odd name] on dev1 with override",
             "CREATE DATABASE shop ON default = 10, dev2 = '5M', 'data dev' LOG ON logdev = 2 WITH OVERRIDE "
             "FOR LOAD ; CREATE DATABASE bare ; CREATE DATABASE logged LOG ON l1, 'l 2' = 3 ; "
             "CREATE DATABASE [odd name] ON dev1 WITH OVERRIDE"),
        CASE(drop_database_forms, "drop database a drop database a, [b c], d",
             "DROP DATABASE a ; DROP DATABASE a, [b c], d"),
        CASE(database_statements_anywhere,
             "if not exists (select * from master..sysdatabases where name = 'x') create database x "
             "select 1 drop database x begin tran create database y commit",
             "IF NOT EXISTS (SELECT * FROM master..sysdatabases WHERE name = 'x') CREATE DATABASE x ; SELECT 1 "
             "; DROP DATABASE x ; BEGIN TRANSACTION ; CREATE DATABASE y ; COMMIT TRANSACTION"),
        CASE(maintenance, "update statistics t update statistics s.t ix checkpoint update t set a = 1",
             "UPDATE STATISTICS t ; UPDATE STATISTICS s.t ix ; CHECKPOINT ; UPDATE t SET a = 1"),
        CASE(alter_constraints, "alter table t add constraint c check (a > 0) alter table t drop constraint c",
             "ALTER TABLE t ADD CONSTRAINT c CHECK (a > 0) ; ALTER TABLE t DROP CONSTRAINT c"),
        CASE(text_by_pointer,
             "readtext pubs..doc.body @p 0 10 holdlock using chars writetext dbo.doc.body @p with log 'x' "
             "readtext doc.pic 0x01 -1 @n",
             "READTEXT pubs..doc.body @p 0 10 USING CHARS ; WRITETEXT dbo.doc.body @p WITH LOG 'x' ; "
             "READTEXT doc.pic 0x01 -1 @n"),
        CASE(rollback_trigger, "rollback trigger rollback trigger with raiserror 20001 'no %1!', @v",
             "ROLLBACK TRIGGER ; ROLLBACK TRIGGER WITH RAISERROR 20001 'no %1!', @v"),
        CASE(exec_forms, "exec @r = db..p 1, @x = 'a', @y = @z output, @w out execute sp_help titles",
             "EXECUTE @r = db..p 1, @x = 'a', @y = @z OUTPUT, @w OUTPUT ; EXECUTE sp_help 'titles'"),
        CASE(bare_procedure_first, "sp_who", "EXECUTE sp_who"),
        CASE(exec_dynamic_text, "exec ('select ' + @cols + ' from t')",
             "EXECUTE ('select ' + @cols + ' from t')"),
        CASE(bare_procedure_with_args, "sp_helpdb pubs2 ; select 1", "EXECUTE sp_helpdb 'pubs2' ; SELECT 1"),
        CASE(semicolons_between_statements, ";select 1;;select 2;", "SELECT 1 ; SELECT 2"),
        CASE(create_procedure,
             "create procedure p @a int = 5, @b varchar(10) = null output, @c money out "
             "with recompile as select @b = 'x' return @a",
             "CREATE PROCEDURE p @a int = 5, @b varchar(10) = NULL OUTPUT, @c money OUTPUT WITH RECOMPILE "
             "AS SELECT @b = 'x' RETURN @a"),
        CASE(create_proc_parenthesized, "create proc dbo.q (@a int) as print 'q'",
             "CREATE PROCEDURE dbo.q @a int AS PRINT 'q'"),
        CASE(create_trigger, "create trigger tr on t for insert, delete as if update(a) rollback transaction",
             "CREATE TRIGGER tr ON t FOR INSERT, DELETE AS IF update(a) ROLLBACK TRANSACTION")),
    [](const auto& info) { return std::string(info.param.name); });

#undef CASE

}  // namespace
}  // namespace tabsrv::tsql
