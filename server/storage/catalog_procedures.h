// The procedure catalogue: a stored procedure is a sysobjects row of type 'P', its CREATE text in
// syscomments (number 1, as the family numbers the procedures of a group) and one syscolumns row
// per parameter (number 1, colid = position, status 0x40 for OUTPUT).
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "server/core/types.h"
#include "server/storage/catalog.h"

namespace tabsrv {

// One parameter of a procedure as CREATE PROCEDURE declares it.
struct ProcedureParameter {
  std::string name;  // with '@'
  TypeDesc type;
  bool output = false;
};

// CREATE PROCEDURE: where it goes, its parameters and the full T-SQL text of the statement.
struct ProcedureSpec {
  std::string database;
  std::string owner;  // empty: dbo
  std::string name;
  std::vector<ProcedureParameter> params;
  std::string text;
};

// A procedure found by name: its object id, where it lives and its stored text.
struct ProcedureInfo {
  int32_t id = 0;
  std::string database;
  std::string owner;
  std::string name;
  std::string text;
};

// Writes the catalogue rows of a new procedure and returns its id. Throws SqlError 2714 when the
// name is taken, 911 for an unknown database.
int32_t createProcedure(sqlite3* db, const ProcedureSpec& details);

// Resolves a procedure by the same name rules as tables (owner given, else the current user's,
// else dbo's). Nothing when there is no procedure of that name.
std::optional<ProcedureInfo> resolveProcedure(sqlite3* db, const ObjectRef& ref, const std::string& currentDb,
                                              const std::string& currentUser);

// Removes a procedure's sysobjects, syscolumns and syscomments rows.
void dropProcedure(sqlite3* db, const ProcedureInfo& proc);

}  // namespace tabsrv
