// Runs one SQL script file against a fresh local server through real FreeTDS.
// Directives: `statement ok`, `statement error <number>`, `query` (expected rows after `----`,
// one more `----` per further result set), `messages` (every message as "<number>: <text>"),
// `connection <name>` (switch sessions), `prepare` (the SQL, with ? markers, must prepare as a
// dynamic statement and describe one input parameter per marker). Line breaks inside values are written \n and \r.
// Exit status 0 when every directive held. With `--through PROGRAM`, the server is started the same
// way and PROGRAM (another client's runner of the same format) is run as `PROGRAM DSQUERY FILE`.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace {

struct Record {
  int line = 0;
  std::string directive;  // first word
  std::string argument;   // the rest of the directive line
  std::string sql;
  bool hasExpected = false;
  std::vector<std::vector<std::string>> expected;  // sections of lines
};

std::string rtrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

std::vector<Record> parseScript(std::istream& in) {
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(rtrim(l));
  std::vector<Record> records;
  size_t i = 0;
  while (i < lines.size()) {
    if (lines[i].empty() || lines[i][0] == '#') {
      ++i;
      continue;
    }
    Record r;
    r.line = static_cast<int>(i + 1);
    std::istringstream head(lines[i]);
    head >> r.directive;
    std::getline(head, r.argument);
    r.argument = r.argument.empty() ? "" : r.argument.substr(r.argument.find_first_not_of(' ') == std::string::npos
                                                                  ? r.argument.size()
                                                                  : r.argument.find_first_not_of(' '));
    ++i;
    if (r.directive == "connection") {
      records.push_back(std::move(r));
      continue;
    }
    while (i < lines.size() && !lines[i].empty() && lines[i] != "----") r.sql += (r.sql.empty() ? "" : "\n") + lines[i++];
    if (i < lines.size() && lines[i] == "----") {
      r.hasExpected = true;
      r.expected.emplace_back();
      ++i;
      while (i < lines.size() && !lines[i].empty()) {
        if (lines[i] == "----") r.expected.emplace_back();
        else r.expected.back().push_back(lines[i]);
        ++i;
      }
    }
    records.push_back(std::move(r));
  }
  return records;
}

// A row as a script line: values that hold line breaks show them as \n and \r, so every row
// stays one line of the script.
std::string scriptLine(const std::vector<std::optional<std::string>>& row) {
  std::string out;
  for (char c : tabtest::formatRow(row)) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return rtrim(out);
}

std::string describe(const tabtest::CtBatch& batch) {
  std::ostringstream out;
  for (const auto& set : batch.sets) {
    out << "  ----\n";
    for (const auto& row : set.rows) out << "  " << scriptLine(row) << "\n";
  }
  for (const auto& m : batch.messages) out << "  message " << m.number << " (severity " << m.severity << "): " << m.text << "\n";
  if (batch.failed) out << "  (command failed)\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--through") {
    std::unique_ptr<tabtest::ServerFixture> server;
    try {
      server = std::make_unique<tabtest::ServerFixture>();
    } catch (const std::exception& e) {
      std::cerr << "cannot start the server: " << e.what() << "\n";
      return 1;
    }
    // The fixture has pointed FREETDSCONF at its configuration, which the program inherits.
    const std::string command = std::string(argv[2]) + " DSQUERY '" + argv[3] + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }
  if (argc != 2) {
    std::cerr << "usage: sql_script_runner [--through PROGRAM] FILE.test\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 2;
  }
  const std::vector<Record> records = parseScript(in);
  std::unique_ptr<tabtest::ServerFixture> server;
  try {
    server = std::make_unique<tabtest::ServerFixture>();
  } catch (const std::exception& e) {
    std::cerr << "cannot start the server: " << e.what() << "\n";
    return 1;
  }

  std::map<std::string, std::unique_ptr<tabtest::CtClient>> clients;
  std::string current = "main";
  auto client = [&]() -> tabtest::CtClient* {
    auto& c = clients[current];
    if (!c) {
      c = std::make_unique<tabtest::CtClient>();
      std::string error;
      if (!c->connect("DSQUERY", "sa", "", &error)) {
        std::cerr << "connection " << current << " failed: " << error << "\n";
        return nullptr;
      }
    }
    return c.get();
  };

  int failures = 0, passed = 0;
  for (const Record& r : records) {
    if (r.directive == "connection") {
      current = r.argument.empty() ? "main" : r.argument;
      continue;
    }
    tabtest::CtClient* c = client();
    if (!c) return 1;
    std::string problem;
    if (r.directive == "prepare") {
      int inputs = -1;
      std::string error;
      int markers = 0;
      bool quoted = false;
      for (char ch : r.sql) {
        if (ch == '\'') quoted = !quoted;
        if (ch == '?' && !quoted) ++markers;
      }
      if (!c->prepare(r.sql, &inputs, &error)) problem = "prepare failed: " + error;
      else if (inputs != markers)
        problem = "described " + std::to_string(inputs) + " inputs for " + std::to_string(markers) + " markers";
      if (problem.empty()) {
        ++passed;
      } else {
        ++failures;
        std::cerr << argv[1] << ":" << r.line << ": " << problem << "\n  sql: " << r.sql << "\n";
      }
      continue;
    }
    tabtest::CtBatch batch = c->run(r.sql);
    const tabtest::CtMessage* error = batch.firstError();
    if (r.directive == "statement" && r.argument == "ok") {
      if (error || batch.failed) problem = "expected success";
    } else if (r.directive == "statement" && r.argument.rfind("error", 0) == 0) {
      int number = std::atoi(r.argument.substr(5).c_str());
      bool found = false;
      for (const auto& m : batch.messages) found = found || (m.number == number && m.severity > 10);
      if (!found) problem = "expected error " + std::to_string(number);
    } else if (r.directive == "query") {
      std::vector<std::vector<std::string>> actual;
      for (const auto& set : batch.sets) {
        if (set.kind != tabtest::CtSetKind::Rows && set.kind != tabtest::CtSetKind::Compute) continue;
        actual.emplace_back();
        for (const auto& row : set.rows) actual.back().push_back(scriptLine(row));
      }
      if (error || batch.failed) problem = "query failed";
      else if (actual != r.expected) problem = "rows differ";
    } else if (r.directive == "messages") {
      std::vector<std::string> actual;
      for (const auto& m : batch.messages) actual.push_back(rtrim(std::to_string(m.number) + ": " + m.text));
      std::vector<std::string> expected = r.expected.empty() ? std::vector<std::string>{} : r.expected[0];
      if (actual != expected) problem = "messages differ";
    } else {
      problem = "unknown directive '" + r.directive + "'";
    }
    if (problem.empty()) {
      ++passed;
      continue;
    }
    ++failures;
    std::cerr << argv[1] << ":" << r.line << ": " << problem << "\n  sql: " << r.sql << "\n";
    if (r.hasExpected) {
      std::cerr << "  expected:\n";
      for (const auto& section : r.expected) {
        std::cerr << "  ----\n";
        for (const auto& l : section) std::cerr << "  " << l << "\n";
      }
    }
    std::cerr << "  actual:\n" << describe(batch);
  }
  std::cout << passed << " passed, " << failures << " failed\n";
  return failures ? 1 : 0;
}
