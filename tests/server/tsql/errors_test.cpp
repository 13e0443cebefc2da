// Batches that must fail, with the family's message number, text and line: 102 near a token,
// 156 near a keyword (as the user wrote it), and the lexer's errors coming through parseBatch.
#include <gtest/gtest.h>

#include <string>

#include "server/core/message.h"
#include "server/tsql/parser.h"

namespace tabsrv::tsql {
namespace {

struct ErrorCase {
  const char* name;
  const char* sql;
  int number;
  const char* text;
  int line;
};

class ParserErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParserErrors, ReportsFamilyError) {
  const ErrorCase& c = GetParam();
  try {
    // The opt-in syntax is on: its errors are reported like the rest.
    parseBatch(c.sql, ParseOptions{true, true});
    FAIL() << "parsed without error: " << c.sql;
  } catch (const SqlError& e) {
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.severity(), 15);
    EXPECT_EQ(std::string(e.what()), c.text);
    EXPECT_EQ(e.line(), c.line);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParserErrors,
    ::testing::Values(
        ErrorCase{"keyword_at_end", "select * from", 156, "Incorrect syntax near the keyword 'from'.", 1},
        ErrorCase{"keyword_as_written", "SELECT a FROM t WHERE", 156,
                  "Incorrect syntax near the keyword 'WHERE'.", 1},
        ErrorCase{"doubled_operator_on_line_2", "select a from t\nwhere a = = 1", 102,
                  "Incorrect syntax near '='.", 2},
        ErrorCase{"misspelled_keyword", "select * frm t", 102, "Incorrect syntax near 'frm'.", 1},
        ErrorCase{"unclosed_values", "insert t values (1", 102, "Incorrect syntax near '1'.", 1},
        ErrorCase{"trailing_comma_in_table", "create table t (a int,)", 102, "Incorrect syntax near ')'.", 1},
        ErrorCase{"string_token_shown_unquoted", "select 'abc' 'def' 'x'", 102, "Incorrect syntax near 'x'.",
                  1},
        ErrorCase{"update_without_set", "update t a = 1", 102, "Incorrect syntax near 'a'.", 1},
        ErrorCase{"dump_not_supported", "dump database x to 'f'", 156,
                  "Incorrect syntax near the keyword 'dump'.", 1},
        ErrorCase{"block_without_end", "begin\n  select 1\n", 102, "Incorrect syntax near '1'.", 2},
        ErrorCase{"if_without_statement", "if @a = 1", 102, "Incorrect syntax near '1'.", 1},
        ErrorCase{"else_without_if", "print 'a' else print 'b'", 156,
                  "Incorrect syntax near the keyword 'else'.", 1},
        ErrorCase{"declare_without_at", "declare a int", 102, "Incorrect syntax near 'a'.", 1},
        ErrorCase{"cursor_without_select", "declare c cursor for print 'x'", 156,
                  "Incorrect syntax near the keyword 'print'.", 1},
        ErrorCase{"fetch_into_a_column", "fetch c into a", 102, "Incorrect syntax near 'a'.", 1},
        ErrorCase{"isolation_level_out_of_range", "select a from t at isolation 4", 102,
                  "Incorrect syntax near '4'.", 1},
        ErrorCase{"set_variable_without_value", "set @a =", 102, "Incorrect syntax near '='.", 1},
        ErrorCase{"empty_in_list", "select 1 where a in ()", 102, "Incorrect syntax near ')'.", 1},
        ErrorCase{"case_without_when", "select case end", 156, "Incorrect syntax near the keyword 'end'.", 1},
        ErrorCase{"chained_comparison", "select 1 where a = b = c", 102, "Incorrect syntax near '='.", 1},
        ErrorCase{"bare_name_not_first", "print 'x'\nsp_who", 102, "Incorrect syntax near 'sp_who'.", 2},
        ErrorCase{"create_database_without_name", "create database", 156,
                  "Incorrect syntax near the keyword 'database'.", 1},
        ErrorCase{"create_database_reserved_name", "create database select", 156,
                  "Incorrect syntax near the keyword 'select'.", 1},
        ErrorCase{"create_database_on_nothing", "create database x on\nselect 1", 156,
                  "Incorrect syntax near the keyword 'select'.", 2},
        ErrorCase{"create_database_size_missing", "create database x on default = log on l", 102,
                  "Incorrect syntax near 'log'.", 1},
        ErrorCase{"create_database_size_not_a_number", "create database x on default = @n", 102,
                  "Incorrect syntax near '@n'.", 1},
        ErrorCase{"create_database_with_what", "create database x with load", 156,
                  "Incorrect syntax near the keyword 'load'.", 1},
        ErrorCase{"drop_database_trailing_comma", "drop database a,", 102, "Incorrect syntax near ','.", 1},
        ErrorCase{"drop_database_qualified", "drop database a.b", 102, "Incorrect syntax near '.'.", 1},
        ErrorCase{"drop_index_needs_table", "drop index i", 102, "Incorrect syntax near 'i'.", 1},
        ErrorCase{"reserved_word_as_table", "select a from table", 156,
                  "Incorrect syntax near the keyword 'table'.", 1},
        ErrorCase{"begin_tran_then_garbage", "begin tran\ncommit tran 5", 102, "Incorrect syntax near '5'.",
                  2},
        ErrorCase{"lone_at_sign", "select @", 102, "Incorrect syntax near '@'.", 1},
        ErrorCase{"unclosed_quote_line_3", "select 1\nselect 2\nprint 'oops", 105,
                  "Unclosed quote before the character string 'oops'.", 3},
        ErrorCase{"unclosed_comment", "select 1 /* never closed", 113, "Missing end comment mark '*/'.", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A hostile batch must fail with an error, not overflow the session thread's stack.
TEST(ParserNesting, TooDeepFailsCleanly) {
  struct Deep {
    const char* name;
    std::string sql;
  };
  const Deep cases[] = {
      {"parentheses", "select " + std::string(100000, '(') + "1"},
      {"unary_minus", "select " + std::string(5000, '~') + "1"},
      {"not_chain", "select 1 where " +
                        [] {
                          std::string s;
                          for (int i = 0; i < 5000; ++i) s += "not ";
                          return s;
                        }() +
                        "a = 1"},
      {"nested_if",
       [] {
         std::string s;
         for (int i = 0; i < 5000; ++i) s += "if 1 = 1 ";
         return s;
       }() +
           "print 'x'"},
      {"nested_tables", "select * from " + std::string(5000, '(') + "t"},
  };
  for (const Deep& c : cases) {
    try {
      parseBatch(c.sql);
      ADD_FAILURE() << c.name << " parsed";
    } catch (const SqlError& e) {
      EXPECT_EQ(e.number(), 191) << c.name;
      EXPECT_EQ(e.severity(), 15) << c.name;
    }
  }
}

TEST(ParserNesting, ReasonableDepthParses) {
  std::string sql = "select " + std::string(100, '(') + "1" + std::string(100, ')');
  EXPECT_EQ(parseBatch(sql).at(0)->toSql(), "SELECT 1");
}

}  // namespace
}  // namespace tabsrv::tsql
