// What the system procedures and procedure calls share: splitting a dotted object name as a
// procedure argument or an RPC gives it, and the column formats of their result sets.
#pragma once

#include <string>

#include "server/core/types.h"
#include "server/tsql/ast.h"
#include "server/types/type_codes.h"

namespace tabsrv {

// "db.owner.name", "owner.name" or "name" (empty parts stay empty: "db..name").
tsql::ObjectName splitDottedName(const std::string& text);

// A varchar(length) result column.
inline ColumnDesc textColumn(const std::string& name, int32_t length, bool nullable = true) {
  ColumnDesc c;
  c.name = name;
  c.type = makeType(SqlType::VarChar, length);
  c.nullable = nullable;
  return c;
}

// An int result column.
inline ColumnDesc intColumn(const std::string& name, bool nullable = false) {
  ColumnDesc c;
  c.name = name;
  c.type = makeType(SqlType::Int);
  c.nullable = nullable;
  return c;
}

}  // namespace tabsrv
