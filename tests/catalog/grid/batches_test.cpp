// The cut of a script into batches at the terminator word: a table of scripts and the batches
// they give, for "go" after a blank, after a line feed, in mixed case, at the end, inside a
// word or a text where it is no terminator, after text whose lower case is longer, and for
// another terminator word.
#include "tests/catalog/grid/grid_fixture.h"

namespace {

struct SplitCase {
  const char* name;
  QString script;
  QString terminator;
  QStringList batches;
};

QString S(const char* s) { return QString::fromUtf8(s); }

TEST(GridBatches, ScriptsAreCutAtTheTerminator) {
  const QString go = QStringLiteral("go");
  const SplitCase cases[] = {
      {"no terminator: the script and a CR", S("select 1"), go, {S("select 1\r")}},
      {"CR LF lines", S("select 1\r\ngo\r\nselect 2"), go, {S("select 1"), S("\nselect 2\r")}},
      {"after a blank at the end", S("select 1 go"), go, {S("select 1")}},
      {"last line, no tail", S("select 1\r\nGO\r\n"), go, {S("select 1")}},
      {"mixed case", S("select 1\r\nGo\r\nselect 2\r\ngO\r\nselect 3"), go,
       {S("select 1"), S("\nselect 2"), S("\nselect 3\r")}},
      {"blank after the terminator: no cut", S("select 1\r\ngo \r\n"), go, {S("select 1\r\ngo \r\n\r")}},
      {"at the very start: no cut", S("go\r\nselect 1"), go, {S("go\r\nselect 1\r")}},
      {"inside a word: no cut", S("select 'cargo'\r\nselect 2"), go, {S("select 'cargo'\r\nselect 2\r")}},
      {"word ending in go before the line end", S("exec cargo\r\ngo\r\n"), go, {S("exec cargo")}},
      {"inside a text: no cut", S("print 'go on'\r\nselect 2"), go, {S("print 'go on'\r\nselect 2\r")}},
      {"two terminators give an empty batch", S("select 1\r\ngo\r\ngo\r\nselect 2"), go,
       {S("select 1"), S(""), S("\nselect 2\r")}},
      {"blank form before a later line-feed form", S("select 1 go\r\nselect 2\r\ngo\r\nselect 3"), go,
       {S("select 1"), S("\nselect 2"), S("\nselect 3\r")}},
      {"line-feed form before a later blank form", S("select 1\r\ngo\r\nselect 2 go\r\nselect 3"), go,
       {S("select 1"), S("\nselect 2"), S("\nselect 3\r")}},
      {"blank-only tail is left off", S("select 1\r\ngo\r\n   \r\n"), go, {S("select 1")}},
      {"other terminator word", S("begin x\r\nend\r\ny"), QStringLiteral("end"), {S("begin x"), S("\ny\r")}},
      {"upper-case terminator word", S("select 1\r\ngo\r\nselect 2"), QStringLiteral("GO"),
       {S("select 1"), S("\nselect 2\r")}},
      // Line ends of a Linux editor are a bare LF: the terminator line ends there the same way.
      {"LF lines", S("select 1\ngo\nselect 2"), go, {S("select 1"), S("select 2\r")}},
      {"LF lines, blank form", S("select 1 go\nselect 2\n"), go, {S("select 1"), S("select 2\n\r")}},
      {"LF lines, last line", S("select 1\ngo\n"), go, {S("select 1")}},
      {"LF lines, blank after the terminator: no cut", S("select 1\ngo \n"), go, {S("select 1\ngo \n\r")}},
      // "İ" lower-cases to two characters; the cuts after it stay where the terminators are.
      {"İ before the terminator", S("select 'İ'\r\ngo\r\nselect 'İİ' go\r\nselect 3"), go,
       {S("select 'İ'"), S("\nselect 'İİ'"), S("\nselect 3\r")}},
      {"İ in the terminator's line", S("print 'İ'\nGO\nselect 2"), go, {S("print 'İ'"), S("select 2\r")}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TQorixGrid::SplitScript(c.script, c.terminator), c.batches);
    TQorixGrid grid;
    grid.SetSQL(c.script);
    grid.CodeTerminator = c.terminator;
    grid.SplitBatches();
    EXPECT_EQ(grid.Batches(), c.batches);
  }
}

}  // namespace
