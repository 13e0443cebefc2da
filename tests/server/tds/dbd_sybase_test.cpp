// Perl's DBD::Sybase, a Client-Library program written by others, against the in-process
// listener: placeholders through prepared statements and a procedure with an output parameter.
// Skipped where DBD::Sybase (Debian libdbd-sybase-perl) is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/server/tds/freetds_fixture.h"

namespace {

using tabtest::FreeTdsTest;

// Runs a shell command and returns what it printed on stdout; `status` gets its exit status.
std::string capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = pclose(pipe);
  return out;
}

TEST_F(FreeTdsTest, DbdSybaseRunsPlaceholdersAndAnOutputParameter) {
  int status = 0;
  capture("perl -MDBD::Sybase -e 1 2>/dev/null", &status);
  if (status != 0) GTEST_SKIP() << "DBD::Sybase is not installed (Debian package libdbd-sybase-perl)";
  // FREETDSCONF points at the fixture's [TEST] entry; the script's life is bounded.
  std::string out =
      capture(std::string("timeout 60 perl ") + TDS_TEST_SOURCE_DIR + "/perl/dbd_sybase_client.pl TEST 2>&1",
              &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "row 1 row 1\n"
            "row 2 row 2\n"
            "rows 2\n"
            "row 5 row 5\n"
            "rows 1\n"
            "rows 0\n"
            "proc row 21 hello\n"
            "status 5\n"
            "output 42\n"
            "done\n");
}

}  // namespace
