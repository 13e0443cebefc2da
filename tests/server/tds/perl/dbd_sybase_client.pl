#!/usr/bin/perl
# An independent Client-Library client: DBD::Sybase (built on FreeTDS's ct-lib) runs a prepared
# statement with placeholders three times and a procedure with an output parameter against the
# server entry named on the command line, printing what it reads one line at a time.
use strict;
use warnings;
use DBI qw(:sql_types);

my $server = shift @ARGV or die "usage: dbd_sybase_client.pl SERVER\n";
my $dbh = DBI->connect("dbi:Sybase:server=$server", 'sa', 'secret',
                       { RaiseError => 1, PrintError => 0, AutoCommit => 1 });

# Placeholders become a dynamic statement: prepared once, executed with each pair of bounds.
my $sth = $dbh->prepare('select n, word from numbers where ? < n and n <= ?');
for my $range ([0, 2], [4, 5], [7, 7]) {
  $sth->execute(@$range);
  my $rows = 0;
  while (my @row = $sth->fetchrow_array) {
    print "row $row[0] $row[1]\n";
    ++$rows;
  }
  print "rows $rows\n";
}
$sth->finish;

# "exec proc ?" with placeholders goes as an RPC; the output value and status come back as
# their own result types.
my $proc = $dbh->prepare('exec two_in_one_out @a = ?, @b = ?, @out = ? output');
$proc->bind_param(1, 21, SQL_INTEGER);
$proc->bind_param(2, 'hello', SQL_VARCHAR);
$proc->bind_param(3, 0, SQL_INTEGER);
$proc->execute;
do {
  while (my $data = $proc->fetch) {
    my $type = $proc->{syb_result_type};
    if ($type == 4042) {    # CS_PARAM_RESULT
      print "output $data->[0]\n";
    } elsif ($type == 4043) {    # CS_STATUS_RESULT
      print "status $data->[0]\n";
    } else {
      print "proc row $data->[0] $data->[1]\n";
    }
  }
} while ($proc->{syb_more_results});
$proc->finish;
$dbh->disconnect;
print "done\n";
