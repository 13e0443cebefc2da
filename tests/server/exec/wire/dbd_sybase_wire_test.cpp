// An independent Client-Library program against the server: Perl's DBD::Sybase runs a
// statement with placeholders (prepared by the server) and a procedure with an output parameter.
// Skipped when DBD::Sybase (Debian libdbd-sybase-perl) is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/server_fixture.h"

namespace tabtest {
namespace {

const char* const kScript = R"PERL(
use strict;
use warnings;
use DBI;
my $dbh = DBI->connect("dbi:Sybase:server=DSQUERY", "sa", "", {RaiseError => 1, PrintError => 0});
$dbh->do("create table pl (id int not null, name varchar(10) not null)");
$dbh->do("insert pl values (1, 'one') insert pl values (2, 'two') insert pl values (3, 'three')");
my $sth = $dbh->prepare("select name from pl where id >= ? and id <= ? order by id");
for my $range ([1, 2], [3, 3], [2, 9]) {
  $sth->execute(@$range);
  my @names;
  while (my $row = $sth->fetchrow_arrayref) { push @names, $row->[0]; }
  print "select ", join(",", @names), "\n";
}
$dbh->do("create proc plc \@lo int, \@n int output as select \@n = count(*) from pl where id >= \@lo return 5");
my $proc = $dbh->prepare("declare \@count int exec plc \@lo = 2, \@n = \@count output");
$proc->execute;
do {
  while (my $d = $proc->fetch) {
    print "param $d->[0]\n" if $proc->{syb_result_type} == 4042;
    print "status $d->[0]\n" if $proc->{syb_result_type} == 4043;
  }
} while ($proc->{syb_more_results});
print "end\n";
)PERL";

TEST(DbdSybase, PlaceholdersAndAnOutputParameter) {
  if (std::system("perl -MDBD::Sybase -e 1 > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "DBD::Sybase is not installed";
  ServerFixture server;
  std::string script = server.dataDir() + "/dbd_test.pl";
  std::ofstream(script) << kScript;
  std::string command = "perl " + script + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof(buffer), pipe)) output += buffer;
  int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output,
            "select one,two\n"
            "select three\n"
            "select two,three\n"
            "status 5\n"
            "param 2\n"
            "end\n");
}

}  // namespace
}  // namespace tabtest
