// Text and image values by pointer: textptr(col) gives a 16-byte pointer naming one row's value
// (database id, column id, table id and SQLite rowid, big-endian), READTEXT reads part of the
// value it names and WRITETEXT replaces the value (without firing triggers, as the family does).
#include <cctype>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_functions.h"
#include "server/exec/sql_statement.h"
#include "server/types/convert.h"
#include "server/types/sqlite_value.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

constexpr size_t kPointerLength = 16;

// What a text pointer names.
struct TextPointer {
  int32_t dbid = 0;
  int32_t colid = 0;
  int32_t tableId = 0;
  int64_t rowid = 0;
};

Bytes encodePointer(const TextPointer& p) {
  Bytes b;
  auto put = [&b](uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(static_cast<uint16_t>(p.dbid), 2);
  put(static_cast<uint16_t>(p.colid), 2);
  put(static_cast<uint32_t>(p.tableId), 4);
  put(static_cast<uint64_t>(p.rowid), 8);
  return b;
}

std::optional<TextPointer> decodePointer(const Value& v) {
  const auto* b = std::get_if<Bytes>(&v);
  if (!b || b->size() != kPointerLength) return std::nullopt;
  auto get = [&b](size_t at, int bytes) {
    uint64_t r = 0;
    for (int i = 0; i < bytes; ++i) r = (r << 8) | (*b)[at + static_cast<size_t>(i)];
    return r;
  };
  TextPointer p;
  p.dbid = static_cast<int32_t>(get(0, 2));
  p.colid = static_cast<int32_t>(get(2, 2));
  p.tableId = static_cast<int32_t>(get(4, 4));
  p.rowid = static_cast<int64_t>(get(8, 8));
  return p;
}

// tx_textptr(dbid, tableid, colid, rowid, value): the pointer, NULL while the value is NULL.
void txTextptr(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[4]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  TextPointer p;
  p.dbid = sqlite3_value_int(a[0]);
  p.tableId = sqlite3_value_int(a[1]);
  p.colid = sqlite3_value_int(a[2]);
  p.rowid = sqlite3_value_int64(a[3]);
  Bytes b = encodePointer(p);
  sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

// tx_text_row(dbid, tableid, colid, pointer): the rowid the pointer names when it is a pointer
// into that column, else NULL (textvalid then finds no row).
void txTextRow(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[3]) != SQLITE_BLOB || sqlite3_value_bytes(a[3]) != static_cast<int>(kPointerLength))
    return sqlite3_result_null(ctx);
  const auto* data = static_cast<const uint8_t*>(sqlite3_value_blob(a[3]));
  std::optional<TextPointer> p = decodePointer(Value{Bytes(data, data + kPointerLength)});
  if (!p || p->dbid != sqlite3_value_int(a[0]) || p->tableId != sqlite3_value_int(a[1]) ||
      p->colid != sqlite3_value_int(a[2]))
    return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, p->rowid);
}

SqlError invalidPointer(const Value& v) {
  std::string hex = std::holds_alternative<Bytes>(v) ? "0x" + bytesToHex(std::get<Bytes>(v)) : "NULL";
  return SqlError(7123, 16, "Invalid text pointer value " + hex + ".");
}

}  // namespace

int registerTextPointerFunction(sqlite3* db) {
  int rc = sqlite3_create_function(db, "tx_textptr", 5, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, txTextptr,
                                   nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "tx_text_row", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, txTextRow,
                                 nullptr, nullptr);
  return rc;
}


SessionImpl::TextTarget SessionImpl::resolveTextTarget(const ObjectName& table, const std::string& column,
                                                       const Expr& pointer, const char* verb) {
  Binder binder(*this);
  TextTarget target{binder.resolveTable(table), nullptr, 0, {}};
  const TableInfo& t = target.table;
  if (t.type != "U")
    throw SqlError(7113, 16, std::string(verb) + " needs a column of a table; '" + t.name + "' is not one.");
  target.column = t.findColumn(column);
  if (!target.column) throw invalidColumn(column);
  if (target.column->desc.type.type != SqlType::Text && target.column->desc.type.type != SqlType::Image)
    throw SqlError(7113, 16,
                   std::string(verb) + " needs a text or image column; '" + target.column->desc.name +
                       "' is not one.");
  auto [pv, pt] = evaluate(pointer);
  std::optional<TextPointer> p = decodePointer(pv);
  std::optional<DatabaseInfo> d = findDatabase(db_, t.database);
  if (!p || !d || p->dbid != d->dbid || p->tableId != t.id || p->colid != target.column->colid)
    throw invalidPointer(pv);
  target.rowid = p->rowid;
  target.pointer = pv;
  return target;
}

void SessionImpl::runReadText(const ReadTextStatement& s) {
  TextTarget target = resolveTextTarget(s.table, s.column, *s.pointer, "READTEXT");
  const TableInfo& t = target.table;
  const CatalogColumn* c = target.column;
  auto number = [&](const Expr& e) {
    auto [v, type] = evaluate(e);
    Value n = convertValue(v, type, makeType(SqlType::Int));
    return isNull(n) ? int64_t{0} : std::get<int64_t>(n);
  };
  int64_t offset = number(*s.offset), size = number(*s.size);
  Value value;
  {
    SqlStatement st(*this, "SELECT " + Binder::quoteIdent(c->sqliteName) + " FROM " + t.sqliteName + " WHERE rowid = ?1");
    st.bindAll({Value{target.rowid}});
    if (!st.step()) throw invalidPointer(target.pointer);
    value = columnValue(st.get(), 0, c->desc.type);
  }
  // Offsets count bytes, or characters with USING CHARS (text only).
  Value part;
  if (!isNull(value)) {
    bool text = std::holds_alternative<std::string>(value);
    std::string bytes = text ? std::get<std::string>(value)
                             : std::string(std::get<Bytes>(value).begin(), std::get<Bytes>(value).end());
    std::vector<size_t> starts;  // byte offset of each unit
    for (size_t i = 0; i < bytes.size(); ++i)
      if (!(s.chars && text) || (static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) starts.push_back(i);
    int64_t units = static_cast<int64_t>(starts.size());
    if (offset < 0 || size < 0 || offset > units)
      throw SqlError(7124, 16,
                     "The offset and length specified in the READTEXT command is greater than the actual data "
                     "length of " + std::to_string(units) + ".");
    int64_t end = size == 0 ? units : std::min(units, offset + size);
    size_t from = offset < units ? starts[static_cast<size_t>(offset)] : bytes.size();
    size_t to = end < units ? starts[static_cast<size_t>(end)] : bytes.size();
    std::string cut = bytes.substr(from, to - from);
    part = text ? Value{cut} : Value{Bytes(cut.begin(), cut.end())};
  }
  ColumnDesc out = c->desc;
  out.name = c->desc.name;
  out.nullable = true;
  out.tableName = t.name;
  sink_->rowFormat({out});
  sink_->row({part});
  rowCount_ = 1;
  error_ = 0;
  done(false, 1);
}

void SessionImpl::runWriteText(const WriteTextStatement& s) {
  TextTarget target = resolveTextTarget(s.table, s.column, *s.pointer, "WRITETEXT");
  const TableInfo& t = target.table;
  const CatalogColumn* c = target.column;
  auto [dv, dt] = evaluate(*s.data);
  Value stored = assignValue(dv, dt, c->desc.type, c->desc.nullable);
  StatementTransaction tx(*this, t);
  SqlStatement st(*this, "UPDATE " + t.sqliteName + " SET " + Binder::quoteIdent(c->sqliteName) + " = ?1 WHERE rowid = ?2");
  st.bindAll({stored, Value{target.rowid}});
  while (st.step()) {
  }
  if (sqlite3_changes(db_) == 0) throw invalidPointer(target.pointer);
  tx.commit();
  done(false, -1);
}

}  // namespace tabsrv
