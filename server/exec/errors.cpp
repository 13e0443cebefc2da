// Texts of the executor's server errors, kept in one place so tests and clients see one spelling.
#include "server/exec/errors.h"

namespace tabsrv {

SqlError objectNotFound(const std::string& name) {
  return SqlError(208, 16,
                  name +
                      " not found. Specify owner.objectname or use sp_help to check whether the object "
                      "exists (sp_help may produce lots of output).");
}

SqlError invalidColumn(const std::string& column) {
  return SqlError(207, 16, "Invalid column name '" + column + "'.");
}

SqlError ambiguousColumn(const std::string& column) {
  return SqlError(209, 16, "Ambiguous column name " + column);
}

SqlError badColumnPrefix(const std::string& prefix) {
  return SqlError(
      107, 16,
      "The column prefix '" + prefix + "' does not match with a table name or alias name used in the query.");
}

SqlError unknownDatabase(const std::string& database) {
  return SqlError(911, 11,
                  "Attempt to locate entry in sysdatabases for database '" + database +
                      "' by name failed - no entry found under that name. Make sure that the name is entered "
                      "properly.");
}

SqlError mustDeclare(const std::string& variable) {
  return SqlError(137, 15, "Must declare variable '" + variable + "'.");
}

SqlError declaredTwice(const std::string& variable) {
  return SqlError(134, 15,
                  "The variable name '" + variable +
                      "' has already been declared. Variable names must be unique "
                      "within a query batch or stored procedure.");
}

SqlError unknownFunction(const std::string& name) {
  return SqlError(14216, 16,
                  "Function '" + name +
                      "' not found. If this is a SQLJ function or SQL function, use sp_help to "
                      "check whether the object exists (sp_help may produce lots of output).");
}

SqlError wrongArgumentCount(const std::string& name, int expected) {
  return SqlError(174, 15,
                  "The " + name + " function requires " + std::to_string(expected) + " argument(s).");
}

SqlError commitWithoutBegin() {
  return SqlError(3902, 16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
}

SqlError rollbackWithoutBegin() {
  return SqlError(3903, 16, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
}

SqlError notSupported(const std::string& what) {
  return SqlError(2812, 16, what + " is not supported by this server.");
}

bool isArithmeticError(const SqlError& e) {
  return e.number() == 3606 || e.number() == 3607 || e.number() == 247;
}

bool abortsBatch(const SqlError& e) {
  switch (e.number()) {
    case 107:
    case 134:
    case 137:
    case 207:
    case 208:
    case 209:
    case 911:
    case 2715:
    case 14216:
    case 174:
      return true;
    default:
      return false;
  }
}

}  // namespace tabsrv
