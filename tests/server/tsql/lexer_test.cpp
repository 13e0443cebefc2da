// Lexer edge cases: comments (nested), quotes and their doubling, brackets, the outer-join
// operators against "* =", money and binary literals, numbers, variables and line numbers.
#include "server/tsql/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/core/message.h"

namespace tabsrv::tsql {
namespace {

// The tokens as "type:text" strings, without the End token.
std::string describe(const std::string& sql) {
  static const char* const kNames[] = {"end", "word", "br",    "var", "glob", "int",
                                       "dec", "flt",  "money", "str", "bin",  "sym"};
  std::string out;
  for (const Token& t : tokenize(sql)) {
    if (t.type == TokenType::End) break;
    if (!out.empty()) out += " ";
    out += std::string(kNames[static_cast<int>(t.type)]) + ":" + t.text;
  }
  return out;
}

struct LexCase {
  const char* name;
  const char* sql;
  const char* tokens;
};

class LexerTokens : public ::testing::TestWithParam<LexCase> {};

TEST_P(LexerTokens, SplitsAsExpected) {
  EXPECT_EQ(describe(GetParam().sql), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerTokens,
    ::testing::Values(
        LexCase{"line_comment", "a -- b c\nd", "word:a word:d"},
        LexCase{"nested_block_comment", "a /* x /* y */ z */ b", "word:a word:b"},
        LexCase{"comment_markers_in_string", "'--not /* a comment'", "str:--not /* a comment"},
        LexCase{"doubled_single_quote", "'it''s'", "str:it's"},
        LexCase{"double_quoted_is_string", "\"say \"\"hi\"\"\"", "str:say \"hi\""},
        LexCase{"empty_string", "''", "str:"},
        LexCase{"bracketed_name", "[order details].[x]]y]", "br:order details sym:. br:x]y"},
        LexCase{"outer_join_left", "a*=b", "word:a sym:*= word:b"},
        LexCase{"outer_join_right", "a =* b", "word:a sym:=* word:b"},
        LexCase{"star_space_equals", "a * = b", "word:a sym:* sym:= word:b"},
        LexCase{"not_operators", "a!=b !<c !>d <>e",
                "word:a sym:!= word:b sym:!< word:c sym:!> word:d sym:<> word:e"},
        LexCase{"money", "$12.34 $5 $.5 $-4.50 $-.5", "money:12.34 money:5 money:.5 money:-4.50 money:-.5"},
        LexCase{"binary", "0x0A 0x 0xdeadBEEF", "bin:0A bin: bin:deadBEEF"},
        LexCase{"numbers", "12 12.5 .5 5. 1e5 1.5E-3 2e",
                "int:12 dec:12.5 dec:.5 dec:5. flt:1e5 flt:1.5E-3 int:2 word:e"},
        LexCase{"variables_and_globals", "@a @@rowcount @x_1#", "var:@a glob:@@rowcount var:@x_1#"},
        LexCase{"temp_and_dollar_names", "#t ##g au$id _x", "word:#t word:##g word:au$id word:_x"},
        LexCase{"qualified_with_empty_owner", "db..t", "word:db sym:. sym:. word:t"},
        LexCase{"utf8_name", "caf\xc3\xa9", "word:caf\xc3\xa9"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Lexer, TracksLinesAndByteRanges) {
  std::vector<Token> tokens = tokenize("select 1\n/* two\nlines */ print\r\n'x'");
  ASSERT_EQ(tokens.size(), 5u);
  EXPECT_EQ(tokens[0].line, 1);
  EXPECT_EQ(tokens[2].line, 3);  // print, after a comment spanning lines 2-3
  EXPECT_EQ(tokens[3].line, 4);
  EXPECT_EQ(tokens[2].begin, 25u);
  EXPECT_EQ(tokens[2].end, 30u);
  EXPECT_EQ(tokens[3].begin, 32u);  // the quote, not the string's content
}

struct LexErrorCase {
  const char* name;
  const char* sql;
  int number;
  const char* text;
  int line;
};

class LexerErrors : public ::testing::TestWithParam<LexErrorCase> {};

TEST_P(LexerErrors, ThrowsFamilyError) {
  const LexErrorCase& c = GetParam();
  try {
    tokenize(c.sql);
    FAIL() << "no error for " << c.sql;
  } catch (const SqlError& e) {
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.severity(), 15);
    EXPECT_EQ(std::string(e.what()), c.text);
    EXPECT_EQ(e.line(), c.line);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerErrors,
    ::testing::Values(LexErrorCase{"unclosed_single", "select 1\nselect 'abc", 105,
                                   "Unclosed quote before the character string 'abc'.", 2},
                      LexErrorCase{"unclosed_after_doubled", "print 'it''s", 105,
                                   "Unclosed quote before the character string 'it''s'.", 1},
                      LexErrorCase{"unclosed_double", "print \"x y", 105,
                                   "Unclosed quote before the character string 'x y'.", 1},
                      LexErrorCase{"unclosed_nested_comment", "/* a /* b */ select 1", 113,
                                   "Missing end comment mark '*/'.", 1},
                      LexErrorCase{"stray_character", "select {", 102, "Incorrect syntax near '{'.", 1},
                      LexErrorCase{"lone_dollar", "select $", 102, "Incorrect syntax near '$'.", 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tabsrv::tsql
