// The data directory of earlier builds held every database in one SQLite file (tabulon.db) with
// the same table, view and index names as now. copySingleFileStore copies it, database by
// database, into the per-database layout; the old file is only read and stays where it is.
#pragma once

#include <string>

namespace tabsrv::storage {

// Copies every database of the single file `oldPath` into its own file in `folder` (built under
// a temporary name and renamed when complete, so a failed or interrupted copy leaves no folder
// and the next start copies again): each table with its rows (rowids kept), each index, each view
// (a view over other databases becomes a kept definition), and the database's counters. Checks
// that every table holds as many rows as before. Throws std::runtime_error or SqlError on failure.
void copySingleFileStore(const std::string& oldPath, const std::string& folder);

}  // namespace tabsrv::storage
