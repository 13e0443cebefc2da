// Entry point of the T-SQL parser: a language batch in, its statements out.
// Syntax errors come out as SqlError with the family's numbers (102, 156, 105, 113)
// and the batch line of the offending token.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "server/core/message.h"
#include "server/tsql/ast.h"

namespace tabsrv::tsql {

// Parses a whole batch (statements separated by nothing or ';'); throws tabsrv::SqlError.
std::vector<std::unique_ptr<Statement>> parseBatch(std::string_view sql);

}  // namespace tabsrv::tsql
