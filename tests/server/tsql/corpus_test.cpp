// Parses every SQL text of the client catalogue corpus (tests/server/sql/catalog_corpus/*.test,
// plus tests/server/corpus/*.test for texts the server cannot answer yet): the texts
// the explorer, the pages, the datasets and the dialogs send must all get through the parser
// before the server can answer them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "server/core/message.h"
#include "server/tsql/parser.h"

namespace tabsrv::tsql {
namespace {

namespace fs = std::filesystem;

// One directive of a script: where it starts, what it is and its SQL text.
struct CorpusEntry {
  std::string file;
  int line = 0;
  std::string directive;
  std::string sql;
};

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

// Splits a script into its directives. The SQL runs from the line after the directive up to a
// "----" line or a blank line; expected rows after "----" run to the next blank line.
std::vector<CorpusEntry> readScript(const fs::path& path) {
  std::vector<CorpusEntry> entries;
  std::ifstream in(path);
  std::string line;
  int lineNo = 0;
  enum class State { Between, Sql, Rows } state = State::Between;
  CorpusEntry current;
  auto finish = [&] {
    if (state == State::Sql || state == State::Rows) entries.push_back(current);
    state = State::Between;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool blank = line.find_first_not_of(" \t") == std::string::npos;
    if (state == State::Sql) {
      if (blank) {
        finish();
      } else if (line == "----") {
        state = State::Rows;
      } else {
        if (!current.sql.empty()) current.sql += '\n';
        current.sql += line;
      }
      continue;
    }
    if (state == State::Rows) {
      if (blank) finish();
      continue;
    }
    if (blank || startsWith(line, "#") || startsWith(line, "connection ")) continue;
    if (startsWith(line, "statement ") || line == "query" || startsWith(line, "query ") ||
        line == "messages" || line == "prepare") {
      current = CorpusEntry{path.filename().string(), lineNo, line, {}};
      state = State::Sql;
      continue;
    }
    ADD_FAILURE() << path.filename().string() << ":" << lineNo << ": unknown directive: " << line;
  }
  finish();
  return entries;
}

// The corpus lives in tests/server/corpus until a file passes whole against the server; then it
// moves to tests/server/sql/catalog_corpus, where CTest runs it. Both places count here.
std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  // Built from the common parent: a path through a folder that is missing (an empty one is not
  // kept by git) cannot be followed with "..".
  const fs::path base(TABULON_SERVER_TESTS_DIR);
  const fs::path dirs[] = {base / "corpus", base / "sql" / "catalog_corpus"};
  for (const fs::path& dir : dirs) {
    if (!fs::exists(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".test") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  return files;
}

// A `statement error` entry that expects a syntax error is the one kind allowed not to parse.
bool expectsSyntaxError(const CorpusEntry& e) {
  for (const char* n : {"statement error 102", "statement error 156", "statement error 105"})
    if (e.directive == n) return true;
  return false;
}

TEST(CatalogCorpus, EveryClientSubjectHasItsScript) {
  std::vector<std::string> names;
  for (const auto& f : corpusFiles()) names.push_back(f.filename().string());
  for (const char* wanted :
       {"connection.test", "catalog_readers.test", "ddl_text.test", "list_views.test", "explorer_tree.test",
        "property_page.test", "summary_page.test", "live_update.test", "proc_params.test",
        "table_dataset.test", "server_dialogs.test"}) {
    EXPECT_TRUE(std::find(names.begin(), names.end(), wanted) != names.end()) << "missing " << wanted;
  }
}

// Parsed with the default options, the ones the executor uses: no catalogue text needs the
// opt-in syntax.
TEST(CatalogCorpus, EveryTextParses) {
  size_t total = 0;
  for (const auto& file : corpusFiles()) {
    auto entries = readScript(file);
    EXPECT_FALSE(entries.empty()) << file.filename().string() << " holds no directive";
    for (const auto& e : entries) {
      ++total;
      EXPECT_FALSE(e.sql.empty()) << e.file << ":" << e.line << ": directive without SQL";
      try {
        auto statements = parseBatch(e.sql);
        EXPECT_FALSE(statements.empty()) << e.file << ":" << e.line;
        // The printed form of a real client text parses back to itself.
        for (const auto& s : statements) {
          std::string printed = s->toSql();
          auto again = parseBatch(printed);
          ASSERT_EQ(again.size(), 1u) << e.file << ":" << e.line << ": " << printed;
          EXPECT_EQ(again[0]->toSql(), printed) << e.file << ":" << e.line;
        }
        EXPECT_FALSE(expectsSyntaxError(e)) << e.file << ":" << e.line << ": expected a syntax error";
      } catch (const SqlError& err) {
        if (!expectsSyntaxError(e))
          ADD_FAILURE() << e.file << ":" << e.line << ": " << err.what() << " (line " << err.line() << ")\n"
                        << e.sql;
      }
    }
  }
  EXPECT_GT(total, 100u);
}

}  // namespace
}  // namespace tabsrv::tsql
