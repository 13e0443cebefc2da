// What the benchmarks against the local server share: bsqldb reading a query as the reference
// client, the ten-column table `big` that the grid and server figures read, a set-up batch that
// must succeed, and a connection component logged in as sa. The server is the test programs'
// shared one (tabtest::SharedServer), started on first use and stopped at exit.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "access/QorixDatabase.h"
#include "tests/support/ct_client.h"
#include "tests/support/server_fixture.h"

namespace tabbench {

// The local server on a fresh data directory, started on the first call (FreeTDS is pointed at
// it as DSQUERY from then on) and stopped at exit.
tabtest::ServerFixture& localServer();

// Seconds bsqldb takes, from its start to its exit, to read every result of Sql to /dev/null,
// logged in as sa to DSQUERY in Database; nullopt when it fails.
std::optional<double> bsqldbSeconds(const std::string& sql, const std::string& database = "sample");

// Ends the program with status 2 when Batch failed or carried an error, naming What.
void check(const tabtest::CtBatch& batch, const std::string& what);

// Creates the table `digits` (0 to 9) and the empty table `big` of ten columns (int, int,
// varchar(20), char(10), float, numeric(12,2), datetime, money, smallint, varchar(60)) in
// Setup's current database; ends the program when a statement fails.
void createBigTable(tabtest::CtClient& setup);
// Fills `big` with Rows rows (at most 10,000,000) made from the row number n in one
// INSERT ... SELECT: n, n % 1000, 'name ' + n, 'c' + n % 97, n * 0.25, (n % 100000) / 100,
// n % 86400 seconds after 2024-01-01, n % 5000, n % 30000, 'a somewhat longer text of row ' + n.
void fillBigTable(tabtest::CtClient& setup, int rows);

// A connection component named Name logged in as sa to the shared server in the database
// `sample`, with no message shown; PacketSize 0 keeps the default packet size. Ends the program
// with status 2 when the login fails.
std::unique_ptr<TQorixDatabase> connectSa(const QString& name, const QString& appName = QString(), int packetSize = 0);

}  // namespace tabbench
