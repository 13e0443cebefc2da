// The session's kept statement shapes (see the header).
#include "server/exec/statement_shapes.h"

#include <algorithm>

namespace tabsrv {

using tsql::Token;
using tsql::TokenType;

bool isConstantToken(TokenType type) {
  switch (type) {
    case TokenType::Integer:
    case TokenType::Decimal:
    case TokenType::Float:
    case TokenType::Money:
    case TokenType::String:
    case TokenType::Binary:
      return true;
    default:
      return false;
  }
}

namespace {

tsql::LiteralKind literalKindOf(TokenType type) {
  switch (type) {
    case TokenType::Integer: return tsql::LiteralKind::Integer;
    case TokenType::Decimal: return tsql::LiteralKind::Decimal;
    case TokenType::Float: return tsql::LiteralKind::Float;
    case TokenType::Money: return tsql::LiteralKind::Money;
    case TokenType::String: return tsql::LiteralKind::String;
    default: return tsql::LiteralKind::Binary;
  }
}

}  // namespace

std::optional<TextShape> shapeOf(std::string_view sql, bool quotedIdentifiers) {
  constexpr size_t kLongestText = 2048;
  if (sql.size() > kLongestText) return std::nullopt;
  TextShape shape;
  try {
    shape.tokens = tsql::tokenize(sql, quotedIdentifiers);
  } catch (const SqlError&) {
    return std::nullopt;
  }
  std::string& key = shape.key;
  key.reserve(sql.size() + 8);
  // The first line: a statement's errors name the line it starts on.
  if (!shape.tokens.empty()) key += std::to_string(shape.tokens.front().line);
  for (const Token& t : shape.tokens) {
    switch (t.type) {
      case TokenType::Variable:
      case TokenType::Global:
        return std::nullopt;
      case TokenType::Word:
        if (!t.text.empty() && t.text[0] == '#') return std::nullopt;
        break;
      case TokenType::Symbol:
        if (t.text == "?") return std::nullopt;
        break;
      default:
        break;
    }
    // The type as one character, then the text (a constant's left out), then a separator no
    // name holds unquoted (a bracketed name may: its length comes first).
    key += static_cast<char>('A' + static_cast<int>(t.type));
    if (isConstantToken(t.type)) continue;
    if (t.type == TokenType::Bracketed) key += std::to_string(t.text.size()) + ':';
    key += t.text;
    key += '\x01';
  }
  return shape;
}

std::shared_ptr<const KeptShape> ShapeCache::find(const std::string& key) const {
  auto it = map_.find(key);
  return it == map_.end() ? nullptr : it->second.second;
}

void ShapeCache::keep(std::string key, std::shared_ptr<const KeptShape> shape) {
  if (!map_.count(key) && map_.size() >= kCapacity) {
    auto oldest = std::min_element(map_.begin(), map_.end(),
                                   [](const auto& a, const auto& b) { return a.second.first < b.second.first; });
    map_.erase(oldest);
  }
  map_[std::move(key)] = {++kept_, std::move(shape)};
}

void ShapeCache::drop(const std::string& key) {
  map_.erase(key);
}

std::optional<std::vector<Value>> rebind(const KeptShape& shape, const TextShape& text) {
  if (text.tokens.size() != shape.tokens.size()) return std::nullopt;
  for (size_t i = 0; i < text.tokens.size(); ++i) {
    const Token& now = text.tokens[i];
    if (!isConstantToken(now.type) || shape.variable[i]) continue;
    const Token& then = shape.tokens[i];
    if (now.type != then.type || now.text != then.text) return std::nullopt;
  }
  std::vector<Value> params = shape.bound.params;
  for (const LiteralUses::Param& slot : shape.slots) {
    const Token& now = text.tokens[static_cast<size_t>(slot.token)];
    std::optional<Value> v = Binder::literalParam(literalKindOf(now.type), now.text, slot.type, slot.quoted);
    if (!v) return std::nullopt;
    params[slot.index] = std::move(*v);
  }
  return params;
}

}  // namespace tabsrv
