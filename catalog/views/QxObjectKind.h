// The object-kind code the explorer tree, both pages and the main window share: one byte,
// stored and compared as a number.
#pragma once

#include <cstdint>

// What an explorer node or a page's object is.
enum TQxObjectKind : uint8_t {
  okNone = 0,
  okDatabase = 1,
  okGroup = 2,
  okIndex = 3,
  okLogin = 4,
  okProcedure = 5,
  okRule = 6,
  okSystemDatatype = 7,
  okSystemTable = 8,
  okTrigger = 9,
  okUserDatatype = 10,
  okUserTable = 11,
  okUser = 12,
  okView = 13,
  okSegment = 14,
  okTableIndex = 15,
  okColumn = 16,
  okPrimaryKeyColumn = 17,
  okParameter = 18,
  okPrimaryKey = 19,
  okDevice = 20,
  okDatabaseDevice = 21,
  okDumpDevice = 22
};
