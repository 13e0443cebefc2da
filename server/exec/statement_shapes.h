// The statement shapes a session keeps: a language batch that is one SELECT, by its text with
// the constants left out, with the SQL its binding made and the parameters its constants became.
// A client that sends the same select again and again with other constants (a point select by
// key) runs the kept SQL with the new constants as parameters: the text is cut into tokens but
// neither parsed nor bound again. A kept shape holds while the catalogue, the database, the user,
// the permission context and every session option are as they were when it was bound; a constant
// that binding wrote into the SQL itself, or that now has another type, takes the full path.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/core/session.h"
#include "server/exec/binder.h"
#include "server/exec/permissions.h"
#include "server/tsql/ast.h"
#include "server/tsql/lexer.h"

namespace tabsrv {

// A batch's tokens and its shape: every token as written but the constants, which count by
// their kind only.
struct TextShape {
  std::vector<tsql::Token> tokens;
  std::string key;
};

// Whether a token is a constant a literal can be made of (a number, money, a string, a binary).
bool isConstantToken(tsql::TokenType type);

// The shape of `sql`, or nothing when the text is not kept by shape: it does not lex, it is long,
// or it names what the text alone does not give the value of (a variable, a global, a #table,
// a `?` marker).
std::optional<TextShape> shapeOf(std::string_view sql, bool quotedIdentifiers);

// A bound select ready to run: its query and its parameters.
struct BoundSelect {
  BoundQuery query;
  std::vector<Value> params;
};

// One batch of one SELECT as first bound.
struct KeptShape {
  uint64_t stamp = 0;  // the catalogue count read before binding
  std::string database;
  std::string user;
  Permissions::Context context;
  SessionOptions options;
  std::shared_ptr<const std::vector<tsql::StatementPtr>> statements;  // parsed from the first text
  std::vector<tsql::Token> tokens;                                    // of the first text
  std::vector<bool> variable;  // per token: a constant bound only into parameters
  std::vector<LiteralUses::Param> slots;
  BoundSelect bound;
};

class ShapeCache {
 public:
  static constexpr size_t kCapacity = 64;

  // The shape kept under `key`, or null.
  std::shared_ptr<const KeptShape> find(const std::string& key) const;
  // Keeps (or replaces) the shape under `key`; when full, the least recently kept goes.
  void keep(std::string key, std::shared_ptr<const KeptShape> shape);
  // Drops the shape under `key`.
  void drop(const std::string& key);
  void clear() { map_.clear(); }
  size_t size() const { return map_.size(); }

 private:
  std::unordered_map<std::string, std::pair<uint64_t, std::shared_ptr<const KeptShape>>> map_;
  uint64_t kept_ = 0;
};

// The parameters of the kept query of `shape` for the constants of `text` (a text of the same
// shape key); nothing when a constant that binding wrote into the SQL differs or a constant
// would bind another way.
std::optional<std::vector<Value>> rebind(const KeptShape& shape, const TextShape& text);

}  // namespace tabsrv
