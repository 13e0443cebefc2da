// The executor's own server errors (names, variables, statements) with the family's numbers,
// severities and texts, and the rule that says which of them end the whole batch.
#pragma once

#include <string>

#include "server/core/message.h"

namespace tabsrv {

// 208/16: a table or view that does not exist.
SqlError objectNotFound(const std::string& name);
// 207/16: a column that no table of the query has.
SqlError invalidColumn(const std::string& column);
// 209/16: a column name that more than one table of the query has.
SqlError ambiguousColumn(const std::string& column);
// 107/16: a column prefix that names no table or alias of the query.
SqlError badColumnPrefix(const std::string& prefix);
// 911/11: an unknown database.
SqlError unknownDatabase(const std::string& database);
// 137/15: a variable used without DECLARE.
SqlError mustDeclare(const std::string& variable);
// 134/15: a variable declared twice in one batch.
SqlError declaredTwice(const std::string& variable);
// 14216/16: an unknown function.
SqlError unknownFunction(const std::string& name);
// 174/15: a built-in called with the wrong number of arguments.
SqlError wrongArgumentCount(const std::string& name, int expected);
// 3902/16 and 3903/16: COMMIT or ROLLBACK without a transaction.
SqlError commitWithoutBegin();
SqlError rollbackWithoutBegin();
// 2812-like refusal of a statement this server does not run yet.
SqlError notSupported(const std::string& what);

// Object-resolution and declaration errors stop the rest of the batch (the family resolves names
// when it compiles a batch, so nothing after such an error runs); every other run-time error
// aborts only its own statement and the batch goes on.
bool abortsBatch(const SqlError& e);
// True for an arithmetic overflow or divide by zero (3606, 3607, 247), which set arithabort governs.
bool isArithmeticError(const SqlError& e);

}  // namespace tabsrv
