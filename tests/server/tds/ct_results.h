// Reads every result of a sent Client-Library command the way an application does, and names
// each ct_results answer, so tests can compare whole result sequences ("ROW CMD_DONE STATUS ...").
#pragma once

#include <ctpublic.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/ct_client.h"

namespace tabtest {

// Everything ct_results handed out for one command.
struct CmdResults {
  std::vector<std::string> answers;  // CS_ROW_RESULT -> "ROW", CS_CMD_DONE -> "CMD_DONE" ...
  std::vector<CtResultSet> sets;     // one per ROW/CURSOR/STATUS/PARAM/COMPUTE answer
  std::vector<int> rowCounts;        // CS_ROW_COUNT at each CMD_DONE that has one
  CS_RETCODE end = CS_SUCCEED;       // what ended the loop (CS_END_RESULTS normally)
  // The answers joined by spaces.
  std::string sequence() const;
};

// The name of a ct_results result type.
std::string resultName(CS_INT type);

// Calls ct_results until it stops, fetching every row result with all columns bound as
// CS_CHAR arrays of `arrayRows` rows (a cursor needs arrays of CS_CURSOR_ROWS); with
// stopAtCursor it returns right after a CS_CURSOR_RESULT's rows were fetched.
CmdResults drainResults(CS_COMMAND* cmd, int arrayRows = 1, bool stopAtCursor = false);

// Fetches the rows of the current result (all columns as text) into `set`; the number of rows
// each ct_fetch returned goes to `perFetch` when given. Returns the last ct_fetch code.
CS_RETCODE fetchAll(CS_COMMAND* cmd, CtResultSet& set, int arrayRows = 1,
                    std::vector<int>* perFetch = nullptr);

}  // namespace tabtest
