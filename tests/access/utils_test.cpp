// The suite utilities: marker conversion, splitting, counting, owner prefixes, field types.

#include <gtest/gtest.h>

#include "access/QorixUtils.h"

namespace {

struct MarkerCase {
  const char* name;
  const char* sql;
  const char* expected;
};

class Markers : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(Markers, ConvertOutsideLiteralsOnly) {
  EXPECT_EQ(ConvertParamMarkers(QString::fromUtf8(GetParam().sql)).toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Markers,
    ::testing::Values(MarkerCase{"marker_and_quoted_text", "select * from t where a = :a and b = ':b'",
                                 "select * from t where a = @a and b = ':b'"},
                      MarkerCase{"double_colon_between_digits", "select 10::30", "select 10:30"},
                      MarkerCase{"marker_at_end", "where x = :x", "where x = @x"},
                      MarkerCase{"terminators", "values(:a,:b);:c\r\n:d)", "values(@a,@b);@c\r\n@d)"},
                      MarkerCase{"double_quoted_name_with_blank", "where x = :\"my param\" and y = :y",
                                 "where x = @\"my param\" and y = @y"},
                      // One flag for all three quotes would end "it's" at the apostrophe and convert :b.
                      MarkerCase{"apostrophe_inside_double_quotes", "select \"it's\", ':b', :c",
                                 "select \"it's\", ':b', @c"},
                      MarkerCase{"double_quote_inside_single_quotes", "select 'say \"hi', :c, '\"'",
                                 "select 'say \"hi', @c, '\"'"},
                      MarkerCase{"backquote_literal", "select `a:b` from t where k = :k",
                                 "select `a:b` from t where k = @k"},
                      MarkerCase{"time_literal_untouched", "where t > '12:30:00'", "where t > '12:30:00'"},
                      MarkerCase{"adjacent_markers", "exec p :a:b", "exec p @a@b"},
                      MarkerCase{"lone_colon_at_end", "select :", "select @"},
                      MarkerCase{"no_markers", "select @x = 1", "select @x = 1"},
                      MarkerCase{"unterminated_literal_copied", "select 'abc :d", "select 'abc :d"},
                      MarkerCase{"empty", "", ""},
                      // Comments are skipped whole: their quotes open no literal, their colons are no markers.
                      MarkerCase{"apostrophe_in_line_comment", "select 1 -- don't\nwhere a = :a",
                                 "select 1 -- don't\nwhere a = @a"},
                      MarkerCase{"quote_in_block_comment", "select /* say \"hi */ :a, ':b'",
                                 "select /* say \"hi */ @a, ':b'"},
                      MarkerCase{"colon_in_comments", "-- at 10:30 :x\nselect :y /* :z */",
                                 "-- at 10:30 :x\nselect @y /* :z */"},
                      MarkerCase{"comment_marks_inside_literal", "select '--', :a, '/*', :b",
                                 "select '--', @a, '/*', @b"},
                      MarkerCase{"unclosed_block_comment", "select :a /* :b", "select @a /* :b"},
                      MarkerCase{"line_comment_at_end", "select :a -- :b", "select @a -- :b"},
                      MarkerCase{"single_dash_and_slash_are_code", "select :a-1, :b/2", "select @a-1, @b/2"},
                      MarkerCase{"colon_in_bracketed_name", "select [a:b] from t where k = :k",
                                 "select [a:b] from t where k = @k"},
                      MarkerCase{"doubled_bracket_in_name", "select [x]]:y], :z", "select [x]]:y], @z"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SkipSqlLiteralOrComment, GivesTheIndexPastWhatItSkips) {
  const struct {
    const char* sql;
    qsizetype at;
    qsizetype past;
  } rows[] = {
      {"a 'b' c", 2, 5},      {"a 'it''s' c", 2, 6},   {"\"x'y\" z", 0, 5},  {"`q` r", 0, 3},
      {"x -- c\ny", 2, 6},    {"x /* a */ y", 2, 9},   {"/* open", 0, 7},      {"'open", 0, 5},
      {"-- end", 0, 6},       {"a - b", 2, 2},         {"a / b", 2, 2},        {"abc", 1, 1},
      {"x", 5, 5},            {"[a:b] c", 0, 5},       {"[a]]b] c", 0, 6},     {"[open", 0, 5},
  };
  for (const auto& row : rows)
    EXPECT_EQ(SkipSqlLiteralOrComment(QString::fromUtf8(row.sql), row.at), row.past) << row.sql << " @" << row.at;
}

TEST(SplitString, SkipsEmptyPieces) {
  const struct {
    const char* text;
    QStringList expected;
  } rows[] = {{"a;;b;", {"a", "b"}}, {";", {}}, {"abc", {"abc"}}, {";a", {"a"}}, {"a;b;c", {"a", "b", "c"}}};
  for (const auto& row : rows) {
    QStringList list{"stale"};
    SplitString(row.text, u';', list);
    EXPECT_EQ(list, row.expected) << row.text;
  }
  QStringList untouched{"kept"};
  SplitString("", u';', untouched);
  EXPECT_EQ(untouched, QStringList{"kept"}) << "an empty text neither creates nor clears";
}

TEST(CountChar, CountsOccurrences) {
  EXPECT_EQ(CountChar("a.b.c", u'.'), 2);
  EXPECT_EQ(CountChar("", u'.'), 0);
  EXPECT_EQ(CountChar("abc", u'.'), 0);
}

TEST(StripOwnerPrefix, DropsUpToTheFirstDot) {
  EXPECT_EQ(StripOwnerPrefix("dbo.authors"), "authors");
  EXPECT_EQ(StripOwnerPrefix("pubs.dbo.authors"), "dbo.authors");
  EXPECT_EQ(StripOwnerPrefix("authors"), "authors");
  EXPECT_EQ(StripOwnerPrefix(".x"), "x");
}

TEST(FieldTypeTests, BlobAndObjectTypes) {
  EXPECT_TRUE(IsBinaryBlobType(ftBlob));
  EXPECT_TRUE(IsBinaryBlobType(ftGraphic));
  EXPECT_FALSE(IsBinaryBlobType(ftMemo));
  EXPECT_TRUE(IsBlobType(ftMemo));
  EXPECT_FALSE(IsBlobType(ftFmtMemo));
  EXPECT_TRUE(IsBlobOrObjectField(ftFmtMemo));
  for (TFieldType t :
       {ftBytes, ftVarBytes, ftBlob, ftCursor, ftTypedBinary, ftADT, ftArray, ftReference, ftDataSet})
    EXPECT_TRUE(IsBlobOrObjectField(t)) << FieldTypeName(t);
  for (TFieldType t : {ftString, ftInteger, ftFixedChar, ftWideString, ftLargeint, ftOraBlob, ftVariant})
    EXPECT_FALSE(IsBlobOrObjectField(t)) << FieldTypeName(t);
}

}  // namespace
