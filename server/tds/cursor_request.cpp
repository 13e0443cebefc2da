// Cursor requests: declare, set rows and open (one message, each command with its own DONE, or
// ct_results answers CS_CURSOR_RESULT first), fetch (at most `rows` ROW tokens and a DONE, never
// a ROWFMT, which would replace the client's bindings; the empty fetch's DONE carries the total),
// and close. FreeTDS names a cursor (id 0) until the server has told it the id.
#include <cctype>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/tds/connection.h"
#include "server/tds/param_reader.h"
#include "server/tds/tokens.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

namespace {

// CURDECLARE option bits and the status bit that says parameters follow.
constexpr uint8_t kDeclareUpdatable = 0x02;
constexpr uint8_t kHasParams = 0x01;
// CURFETCH types: next, previous, first, last, absolute, relative.
constexpr uint8_t kFetchNext = 1;
constexpr uint8_t kFetchAbsolute = 5;
constexpr uint8_t kFetchRelative = 6;
// CURCLOSE option: deallocate as well.
constexpr uint8_t kCloseDeallocate = 0x01;
// The server's messages for a cursor the session does not know, and for a second declaration
// of a name already in use.
constexpr int32_t kCursorNotFound = 557;
constexpr int32_t kCursorExists = 558;

ByteReader cursorBody(ByteReader& in, const char* what) {
  const uint16_t length = in.u16();
  if (length < 5 || length > in.remaining())
    throw ProtocolError(
        ProtocolError::Kind::BadPacket,
        std::string(what) + " token length " + std::to_string(length) + " does not fit its message");
  return in.sub(length);
}

void expectEnd(const ByteReader& body, const char* what) {
  if (!body.atEnd())
    throw ProtocolError(ProtocolError::Kind::BadPacket,
                        std::string(what) + " token length disagrees with its fields");
}

}  // namespace

bool declaresForUpdate(std::string_view sql) {
  // Lower-cases the text outside quotes and comments, so "for update" inside a literal or a
  // comment does not count.
  std::string plain;
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
      plain += ' ';
      continue;
    }
    if (c == '\'' || c == '"' || c == '[') {
      quote = c == '[' ? ']' : c;
      plain += ' ';
      continue;
    }
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      plain += ' ';
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 1;
      plain += ' ';
      continue;
    }
    plain += static_cast<char>(
        std::isspace(static_cast<unsigned char>(c)) ? ' ' : std::tolower(static_cast<unsigned char>(c)));
  }
  // "... for update" or "... for update of a, b" ends the statement; "for read only" does not count.
  size_t at = plain.rfind(" for ");
  while (at != std::string::npos) {
    size_t next = at + 5;
    while (next < plain.size() && plain[next] == ' ') ++next;
    if (plain.compare(next, 6, "update") == 0 && (next + 6 == plain.size() || plain[next + 6] == ' '))
      return true;
    if (at == 0) break;
    at = plain.rfind(" for ", at - 1);
  }
  return false;
}

uint16_t Connection::CursorState::status() const {
  uint16_t s = forUpdate ? cursor_status::kUpdatable : cursor_status::kReadOnly;
  if (rowsSet) s |= cursor_status::kRowCount;
  return s | (open ? cursor_status::kOpen : cursor_status::kDeclared | cursor_status::kClosed);
}

int32_t Connection::cursorFor(ByteReader& body, int32_t id) {
  if (id != 0) {
    if (!cursors_.count(id))
      throw SqlError(kCursorNotFound, 16,
                     "The cursor with id " + std::to_string(id) + " could not be found.");
    return id;
  }
  std::string name = body.text(body.u8());
  for (const auto& [key, state] : cursors_)
    if (state.name == name) return key;
  if (auto refused = refusedDeclares_.find(name); refused != refusedDeclares_.end()) throw refused->second;
  throw SqlError(kCursorNotFound, 16, "The cursor '" + name + "' could not be found.");
}

void Connection::handleCursorDeclare(ByteReader& in, ReplyWriter& reply) {
  ByteReader body = cursorBody(in, "cursor declare");
  std::string name = body.text(body.u8());
  const uint8_t options = body.u8();
  const uint8_t status = body.u8();
  std::string sql = body.text(body.u16());
  const uint8_t updateColumns = body.u8();
  for (int i = 0; i < updateColumns; ++i) body.skip(body.u8());
  expectEnd(body, "cursor declare");
  std::vector<ParamValue> params;
  if (status & kHasParams) {
    if (!paramsFollow(in))
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "cursor declare announces parameters that do not follow");
    params = readParams(in);
  }
  // FreeTDS sends option 1 (read-only) even for CS_FOR_UPDATE, so the text decides too.
  const bool forUpdate = (options & kDeclareUpdatable) != 0 || declaresForUpdate(sql);
  guarded(reply, DoneKind::Done, [&] {
    for (const auto& [key, state] : cursors_)
      if (state.name == name)
        throw SqlError(kCursorExists, 16, "A cursor with the name '" + name + "' already exists.");
    int32_t id = 0;
    try {
      id = session_->declareCursor(name, sql, forUpdate, params);
    } catch (const SqlError& e) {
      if (refusedDeclares_.size() >= 16) refusedDeclares_.clear();
      refusedDeclares_.insert_or_assign(name, e);
      throw;
    }
    refusedDeclares_.erase(name);
    if (id == 0 || cursors_.count(id)) throw std::logic_error("the executor returned a cursor id in use");
    CursorState& state = cursors_[id];
    state.name = name;
    state.forUpdate = forUpdate;
    reply.token(encodeCurInfo(id, state.status()));
    reply.done(DoneKind::Done, false, -1);
  });
}

void Connection::handleCursorInfo(ByteReader& in, ReplyWriter& reply) {
  ByteReader body = cursorBody(in, "cursor info");
  const int32_t rawId = body.i32();
  guarded(reply, DoneKind::Done, [&] {
    int32_t id = cursorFor(body, rawId);
    const uint8_t command = body.u8();
    body.u16();  // the client's idea of the status
    std::optional<int32_t> rows;
    if (body.remaining() == 4) rows = body.i32();
    expectEnd(body, "cursor info");
    CursorState& state = cursors_[id];
    if (command == kCursorSetRows) {
      if (!rows || *rows < 1)
        throw SqlError(kNotSupportedNumber, 16, "Cursor rows must be set to a number of 1 or more.");
      session_->setCursorRows(id, *rows);
      state.rows = *rows;
      state.rowsSet = true;
    } else if (command != kCursorInquire) {
      throw SqlError(kNotSupportedNumber, 16,
                     "Cursor info command " + std::to_string(command) + " is not supported by this server.");
    }
    reply.token(encodeCurInfo(id, state.status(), state.rows));
    reply.done(DoneKind::Done, false, -1);
  });
}

void Connection::handleCursorOpen(ByteReader& in, ReplyWriter& reply) {
  ByteReader body = cursorBody(in, "cursor open");
  const int32_t rawId = body.i32();
  // The parameters after the token must be read whatever becomes of the open, so the lookup's
  // error waits until they are.
  std::optional<int32_t> id;
  std::optional<SqlError> lookup;
  try {
    id = cursorFor(body, rawId);
  } catch (const SqlError& e) {
    lookup = e;
  }
  const uint8_t status = body.u8();
  expectEnd(body, "cursor open");
  if (status & kHasParams) {
    if (!paramsFollow(in))
      throw ProtocolError(ProtocolError::Kind::BadPacket,
                          "cursor open announces parameters that do not follow");
    // Parameters belong to the declaration; a client that sends them on open would have them
    // silently ignored, so the open fails instead.
    readParams(in);
    lookup = SqlError(kNotSupportedNumber, 16, "Parameters on cursor open are not supported by this server.");
  }
  guarded(reply, DoneKind::Done, [&] {
    if (lookup) throw *lookup;
    CursorState& state = cursors_[*id];
    std::vector<ColumnDesc> columns = session_->openCursor(*id, reply);
    state.columns = columns;
    state.open = true;
    reply.token(encodeCurInfo(*id, state.status()));
    reply.rowFormat(columns);
    reply.done(DoneKind::Done, false, -1);
  });
}

void Connection::handleCursorFetch(ByteReader& in, ReplyWriter& reply) {
  ByteReader body = cursorBody(in, "cursor fetch");
  const int32_t rawId = body.i32();
  guarded(reply, DoneKind::Done, [&] {
    int32_t id = cursorFor(body, rawId);
    const uint8_t type = body.u8();
    if (type == kFetchAbsolute || type == kFetchRelative) body.i32();
    expectEnd(body, "cursor fetch");
    if (type != kFetchNext)
      throw SqlError(kNotSupportedNumber, 16,
                     "Cursor fetch type " + std::to_string(type) + " is not supported by this server.");
    CursorState& state = cursors_[id];
    std::vector<std::vector<Value>> rows = session_->fetchCursor(id, state.rows, reply);
    if (rows.size() > static_cast<size_t>(state.rows))
      throw std::logic_error("the executor fetched more rows than the cursor's row count");
    reply.rowColumns(state.columns);
    for (const auto& row : rows) reply.row(row);
    reply.done(DoneKind::Done, false,
               rows.empty() ? session_->cursorRowCount(id) : static_cast<int32_t>(rows.size()));
  });
}

void Connection::handleCursorClose(ByteReader& in, ReplyWriter& reply) {
  ByteReader body = cursorBody(in, "cursor close");
  const int32_t rawId = body.i32();
  guarded(reply, DoneKind::Done, [&] {
    int32_t id = cursorFor(body, rawId);
    const uint8_t option = body.atEnd() ? 0 : body.u8();
    expectEnd(body, "cursor close");
    const bool deallocate = (option & kCloseDeallocate) != 0;
    session_->closeCursor(id, deallocate);
    CursorState& state = cursors_[id];
    state.open = false;
    uint16_t status = state.status();
    if (deallocate) {
      status = cursor_status::kClosed | cursor_status::kDeallocated;
      cursors_.erase(id);
    }
    reply.token(encodeCurInfo(id, status));
    reply.done(DoneKind::Done, false, -1);
  });
}

}  // namespace tabsrv::tds
