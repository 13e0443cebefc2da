// tabulon-ctquery: runs one SQL batch through the Client-Library test client and prints every
// result set as a table, followed by the messages and row counts, the way isql would.
//   tabulon-ctquery [-S server] [-U user] [-P password] "sql"   (SQL from stdin when omitted)
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "tests/support/ct_client.h"

namespace {

void printSet(const tabtest::CtResultSet& set) {
  std::vector<size_t> width(set.columns.size());
  for (size_t i = 0; i < set.columns.size(); ++i) width[i] = set.columns[i].size();
  for (const auto& row : set.rows)
    for (size_t i = 0; i < row.size() && i < width.size(); ++i)
      width[i] = std::max(width[i], row[i] ? row[i]->size() : size_t{4});
  auto line = [&](auto cell) {
    std::string out;
    for (size_t i = 0; i < width.size(); ++i) {
      std::string text = cell(i);
      out += (i ? " " : "") + text + std::string(width[i] - std::min(width[i], text.size()), ' ');
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::cout << out << "\n";
  };
  line([&](size_t i) { return set.columns[i]; });
  line([&](size_t i) { return std::string(width[i], '-'); });
  for (const auto& row : set.rows) line([&](size_t i) { return row[i] ? *row[i] : std::string("NULL"); });
  std::cout << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = "DSQUERY", user = "sa", password, sql;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "-S" || arg == "-U" || arg == "-P") && i + 1 < argc) {
      std::string& target = arg == "-S" ? server : arg == "-U" ? user : password;
      target = argv[++i];
    } else {
      sql += (sql.empty() ? "" : " ") + arg;
    }
  }
  if (sql.empty()) sql.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());

  tabtest::CtClient client;
  std::string error;
  if (!client.connect(server, user, password, &error, "tabulon-ctquery")) {
    std::cerr << "cannot connect to " << server << ": " << error << "\n";
    return 2;
  }
  tabtest::CtBatch batch = client.run(sql);
  for (const auto& set : batch.sets) printSet(set);
  for (const auto& m : batch.messages)
    std::cout << (m.severity > 10 ? "Msg " : "") << (m.severity > 10 ? std::to_string(m.number) + ", " : "")
              << m.text << "\n";
  for (int count : batch.rowCounts) std::cout << "(" << count << " row" << (count == 1 ? "" : "s") << " affected)\n";
  return batch.failed ? 1 : 0;
}
