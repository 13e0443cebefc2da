#!/usr/bin/perl
# Runs one SQL script file (the format sql_script_runner reads) through Perl's DBD::Sybase, a
# Client-Library program written by others, against the server entry named on the command line:
# every batch as one language command, rows of every result set compared as text, errors by number.
# `prepare` records are skipped (DBD::Sybase prepares only statements that carry placeholders), and
# so is a record right after a comment line "# not through DBD::Sybase: <why>" (a limit of that
# client, such as numerics of 37 or 38 digits, which it cannot convert to text).
# Prints "N passed, N failed"; exit status 0 when every directive held. With DBD_TRACE set, each
# record's line number goes to standard error before it runs (to find the one a client crash hits).
use strict;
use warnings;
use DBI;

my ($server, $file) = @ARGV;
die "usage: dbd_script_runner.pl SERVER FILE.test\n" unless defined $file;
open(my $in, '<', $file) or die "cannot read $file\n";
my @lines = map { my $l = $_; $l =~ s/[ \t\r\n]+$//; $l } <$in>;
close $in;

# The script's records: directive, argument, SQL and expected sections, as the C++ runner reads them.
my @records;
my $skipNext = 0;
for (my $i = 0; $i < @lines;) {
  if ($lines[$i] eq '' || $lines[$i] =~ /^#/) {
    $skipNext = 1 if $lines[$i] =~ /^# not through DBD::Sybase:/;
    ++$i;
    next;
  }
  my ($directive, $argument) = $lines[$i] =~ /^(\S+)\s*(.*)$/;
  my %r = (line => $i + 1, directive => $directive, argument => $argument, sql => '', expected => undef,
           skip => $skipNext);
  $skipNext = 0;
  ++$i;
  if ($directive eq 'connection') { push @records, \%r; next; }
  my @sql;
  push @sql, $lines[$i++] while $i < @lines && $lines[$i] ne '' && $lines[$i] ne '----';
  $r{sql} = join("\n", @sql);
  if ($i < @lines && $lines[$i] eq '----') {
    my @sections = ([]);
    ++$i;
    while ($i < @lines && $lines[$i] ne '') {
      if ($lines[$i] eq '----') { push @sections, []; }
      else { push @{$sections[-1]}, $lines[$i]; }
      ++$i;
    }
    $r{expected} = \@sections;
  }
  push @records, \%r;
}

my @messages;
my %connections;
sub connection {
  my ($name) = @_;
  return $connections{$name} if $connections{$name};
  my $dbh = DBI->connect("dbi:Sybase:server=$server", 'sa', '',
                         { RaiseError => 0, PrintError => 0, AutoCommit => 1, syb_no_child_con => 1 })
    or die "connection $name failed: $DBI::errstr\n";
  # Every message is collected (returning 0 keeps DBD::Sybase from treating it again).
  $dbh->{syb_err_handler} = sub {
    my ($number, $severity, $state, $line, $srv, $proc, $text) = @_;
    push @messages, { number => $number, severity => $severity, text => $text // '' };
    return 0;
  };
  $connections{$name} = $dbh;
  return $dbh;
}

# A value as the C++ runner prints it: NULL for undef, line breaks as \n and \r.
sub show {
  my ($v) = @_;
  return 'NULL' unless defined $v;
  $v =~ s/\n/\\n/g;
  $v =~ s/\r/\\r/g;
  return $v;
}

# Runs one batch; returns the row and compute sets (each a list of lines) and whether it failed.
sub run_batch {
  my ($dbh, $sql) = @_;
  @messages = ();
  my @sets;
  my $failed = 0;
  my $sth = $dbh->prepare($sql);
  if (!$sth) { return (\@sets, 1); }
  $sth->execute or $failed = 1;
  do {
    # DBD::Sybase hands a group's compute row out with the rows before it: a change of result
    # type starts a new set. 4040 row results, 4045 compute results; status and output
    # parameter results are not compared.
    my $type = $sth->{syb_result_type} // 0;
    my @rows;
    my $flush = sub { push @sets, [@rows] if $type == 4040 || $type == 4045; @rows = (); };
    while (my $row = $sth->fetchrow_arrayref) {
      my $now = $sth->{syb_result_type} // 0;
      if ($now != $type) { $flush->(); $type = $now; }
      (my $line = join(' | ', map { show($_) } @$row)) =~ s/[ \t]+$//;
      push @rows, $line;
      # A compute result is one row: the next compute clause's row is a set of its own.
      $flush->() if $type == 4045;
    }
    $flush->() if @rows || $type != 4045;
    $failed = 1 if $sth->err && $sth->err != 0 && grep { $_->{severity} > 10 } @messages;
  } while ($sth->{syb_more_results});
  $sth->finish;
  return (\@sets, $failed);
}

my ($passed, $failures) = (0, 0);
my $current = 'main';
for my $r (@records) {
  if ($r->{directive} eq 'connection') { $current = $r->{argument} eq '' ? 'main' : $r->{argument}; next; }
  next if $r->{directive} eq 'prepare' || $r->{skip};
  print STDERR "record $r->{line}\n" if $ENV{DBD_TRACE};
  my $dbh = connection($current);
  my ($sets, $failed) = run_batch($dbh, $r->{sql});
  my @errors = grep { $_->{severity} > 10 } @messages;
  my $problem = '';
  if ($r->{directive} eq 'statement' && $r->{argument} eq 'ok') {
    $problem = 'expected success' if @errors || $failed;
  } elsif ($r->{directive} eq 'statement' && $r->{argument} =~ /^error\s*(\d+)/) {
    my $number = $1;
    $problem = "expected error $number" unless grep { $_->{number} == $number } @errors;
  } elsif ($r->{directive} eq 'query') {
    my $want = join("\n----\n", map { join("\n", @$_) } @{$r->{expected} // []});
    my $got = join("\n----\n", map { join("\n", @$_) } @$sets);
    if (@errors || $failed) { $problem = 'query failed'; }
    elsif ($want ne $got || @{$r->{expected} // []} != @$sets) { $problem = 'rows differ'; }
  } elsif ($r->{directive} eq 'messages') {
    my $want = join("\n", @{($r->{expected} // [[]])->[0]});
    (my $got = join("\n", map { "$_->{number}: $_->{text}" =~ s/[ \t]+$//r } @messages));
    $problem = 'messages differ' if $want ne $got;
  } else {
    $problem = "unknown directive '$r->{directive}'";
  }
  if ($problem eq '') { ++$passed; next; }
  ++$failures;
  print STDERR "$file:$r->{line}: $problem\n  sql: $r->{sql}\n";
  if ($r->{expected}) {
    print STDERR "  expected:\n";
    print STDERR "  ----\n", map { "  $_\n" } @$_ for @{$r->{expected}};
  }
  print STDERR "  actual:\n";
  print STDERR "  ----\n", map { "  $_\n" } @$_ for @$sets;
  print STDERR "  message $_->{number} (severity $_->{severity}): $_->{text}\n" for @messages;
}
$_->disconnect for values %connections;
print "$passed passed, $failures failed\n";
exit($failures ? 1 : 0);
