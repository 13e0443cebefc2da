// The stub engine's fixed results. typeValues() holds the extremes each wire encoding must
// carry: tinyint 255, smallint -32768, int min, money's high and low words, a negative numeric.
#include "tests/server/tds/stub_engine.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tabtest {

using namespace tabsrv;

namespace {

std::atomic<int> waitsCancelled{0};
std::atomic<bool> stuckReleased{false};
std::atomic<int> stuckBatches{0};
std::atomic<int> preparedAlive{0};
std::atomic<int> cursorsAlive{0};

ColumnDesc column(std::string name, SqlType type, int32_t length, bool nullable, uint8_t precision = 0,
                  uint8_t scale = 0) {
  ColumnDesc c{
      std::move(name),    TypeDesc{type, length, precision, scale}, nullable, false, false, false, false, 0,
      std::string(1, 't')};
  return c;
}

}  // namespace

int cancelledWaits() {
  return waitsCancelled;
}
void releaseStuck(bool released) {
  stuckReleased = released;
}
int stuckRunning() {
  return stuckBatches;
}
int livePrepared() {
  return preparedAlive;
}
int liveCursors() {
  return cursorsAlive;
}

std::string bigText(size_t n) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return s;
}

Bytes bigImage(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 13) % 251);  // a NUL every 251 bytes
  return b;
}

std::vector<ColumnDesc> typeColumns(bool nullable) {
  return {
      column("c_char", SqlType::Char, 5, nullable),
      column("c_varchar", SqlType::VarChar, 20, nullable),
      column("c_binary", SqlType::Binary, 3, nullable),
      column("c_varbinary", SqlType::VarBinary, 10, nullable),
      column("c_tinyint", SqlType::TinyInt, 1, nullable),
      column("c_smallint", SqlType::SmallInt, 2, nullable),
      column("c_int", SqlType::Int, 4, nullable),
      column("c_real", SqlType::Real, 4, nullable),
      column("c_float", SqlType::Float, 8, nullable),
      column("c_bit", SqlType::Bit, 1, nullable),
      column("c_datetime", SqlType::DateTime, 8, nullable),
      column("c_smalldatetime", SqlType::SmallDateTime, 4, nullable),
      column("c_money", SqlType::Money, 8, nullable),
      column("c_smallmoney", SqlType::SmallMoney, 4, nullable),
      column("c_numeric", SqlType::Numeric, 0, nullable, 10, 2),
      column("c_decimal", SqlType::Decimal, 0, nullable, 38, 0),
      column("c_text", SqlType::Text, 0, nullable),
      column("c_image", SqlType::Image, 0, nullable),
      column("c_longchar", SqlType::VarChar, 1000, nullable),
      column("c_longbinary", SqlType::VarBinary, 300, nullable),
  };
}

std::vector<Value> typeValues() {
  __int128 big = 1;
  for (int i = 0; i < 38; ++i) big *= 10;
  return {
      std::string("ab"),
      std::string("héllo"),
      Bytes{0x01, 0x02, 0x03},
      Bytes{0xde, 0xad},
      int64_t{255},
      int64_t{-32768},
      int64_t{-2147483647 - 1},
      1.5,
      -2.25e100,
      int64_t{1},
      DateTime{36524, 300 * 3600 + 150},  // 2000-01-01 01:00:00.500
      DateTime{36525, 300 * 60 * 90},     // 2000-01-02 01:30
      Decimal{-922337203685477LL * 10000 - 5808, 4},
      Decimal{-2147483647LL - 1, 4},
      Decimal{-12345678, 2},
      Decimal{big - 1, 0},
      std::string("some text"),
      Bytes{0x00, 0xff},
      std::string(600, 'x'),
      Bytes(300, 0x7f),
  };
}

void StubSession::executeLanguage(std::string_view sql, ResultSink& sink) {
  auto has = [&](std::string_view word) { return sql.find(word) != std::string_view::npos; };
  if (has("select @@spid")) {
    ColumnDesc c = column("", SqlType::Int, 4, false);
    sink.rowFormat({c});
    sink.row({int64_t{spid_}});
    sink.done(DoneKind::Done, false, 1);
    return;
  }
  if (has("set textsize")) {
    options_.textSize = std::stoi(std::string(sql.substr(sql.find("set textsize") + 13)));
    if (!has("select @@spid")) {
      sink.done(DoneKind::Done, false, -1);
      return;
    }
  }
  if (has("bigtext")) {
    size_t n = std::stoul(std::string(sql.substr(sql.find("bigtext") + 8)));
    sink.rowFormat({column("t", SqlType::Text, 0, true), column("i", SqlType::Image, 0, true)});
    sink.row({bigText(n), bigImage(n)});
    sink.done(DoneKind::Done, false, 1);
    return;
  }
  if (has("compute")) {
    // select grp, val from t order by grp compute sum(val), max(val) by grp
    sink.rowFormat({column("grp", SqlType::Int, 4, false), column("val", SqlType::Int, 4, false)});
    ColumnDesc sum = column("", SqlType::Int, 4, true), max = column("", SqlType::Int, 4, true);
    sink.computeFormat(1, {{sum, 0x4D, 2}, {max, 0x52, 2}}, {1});
    sink.row({int64_t{1}, int64_t{10}});
    sink.row({int64_t{1}, int64_t{20}});
    sink.computeRow(1, {int64_t{30}, int64_t{20}});
    sink.row({int64_t{2}, int64_t{5}});
    sink.computeRow(1, {int64_t{5}, int64_t{5}});
    sink.done(DoneKind::Done, false, 3);
    return;
  }
  if (has("@@version")) {
    // Client libraries such as DBD::Sybase read the version at connect.
    sink.rowFormat({column("", SqlType::VarChar, 100, false)});
    sink.row({std::string("Adaptive Server Enterprise/15.0.0/stub")});
    sink.done(DoneKind::Done, false, 1);
    return;
  }
  if (has("exec_proc")) {
    // What a procedure run by EXEC inside a batch sends: its rows, status and output value.
    sink.rowFormat({column("a", SqlType::Int, 4, true)});
    sink.row({int64_t{21}});
    sink.done(DoneKind::DoneInProc, false, 1);
    sink.returnStatus(5);
    sink.outputParams({column("@out", SqlType::Int, 4, true)}, {int64_t{42}});
    sink.done(DoneKind::DoneProc, false, -1);
    return;
  }
  if (has("sqlerror")) throw SqlError(102, 15, "Incorrect syntax near 'sqlerror'.");
  if (has("throw")) throw std::runtime_error("stub failure");
  if (has("types") || has("nulls")) {
    bool nulls = has("nulls");
    sink.rowFormat(typeColumns(nulls));
    std::vector<Value> values = typeValues();
    if (nulls)
      for (Value& v : values) v = std::monostate{};
    sink.row(values);
    sink.done(DoneKind::Done, false, 1);
    return;
  }
  if (has("bigrows")) {
    int n = std::stoi(std::string(sql.substr(sql.find("bigrows") + 8)));
    sink.rowFormat({column("v", SqlType::VarChar, 200, false)});
    for (int i = 0; i < n && !sink.cancelled(); ++i)
      sink.row({std::string(150, static_cast<char>('a' + i % 26))});
    sink.done(DoneKind::Done, false, n);
    return;
  }
  if (has("slowrows")) {
    // One row at once, the next only after a long wait: a slow query the client cancels. The
    // wait is long enough that a cancel which does not arrive shows far past any test's bound.
    ColumnDesc c = column("n", SqlType::Int, 4, false);
    sink.rowFormat({c});
    sink.row({int64_t{1}});
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      if (sink.cancelled()) {
        ++waitsCancelled;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sink.row({int64_t{2}});
    sink.done(DoneKind::Done, false, 2);
    return;
  }
  if (has("stuck")) {
    // A statement that never looks at cancelled(): only releaseStuck() ends it.
    ++stuckBatches;
    while (!stuckReleased) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --stuckBatches;
    sink.done(DoneKind::Done, false, -1);
    return;
  }
  if (has("waitfor")) {
    // As long as slowrows' wait, for the same reason.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      if (sink.cancelled()) {
        ++waitsCancelled;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sink.done(DoneKind::Done, false, -1);
    return;
  }
  if (has("error")) {
    sink.message(ServerMessage{208, 1, 16, "nosuch not found.", "", 3});
    sink.done(DoneKind::Done, true, -1);
    return;
  }
  if (has("print")) {
    sink.message(ServerMessage{0, 1, 0, "hello", "", 1});
    sink.done(DoneKind::Done, false, -1);
    return;
  }
  if (has("multi")) {
    ColumnDesc c = column("n", SqlType::Int, 4, false);
    sink.rowFormat({c});
    sink.row({int64_t{1}});
    sink.row({int64_t{2}});
    sink.done(DoneKind::Done, false, 2);
    sink.done(DoneKind::Done, false, 5);
    sink.rowFormat({c});
    sink.row({int64_t{3}});
    sink.done(DoneKind::Done, false, 1);
    return;
  }
  if (has("nodone")) {
    sink.rowFormat({column("n", SqlType::Int, 4, false)});
    sink.row({int64_t{7}});
    return;
  }
  sink.done(DoneKind::Done, false, -1);
}

StubSession::~StubSession() {
  cursorsAlive -= static_cast<int>(cursors_.size());
  preparedAlive -= static_cast<int>(prepared_.size());
}

void StubSession::executeRpc(const std::string& procName, std::vector<ParamValue>& params, ResultSink& sink) {
  if (procName == "two_in_one_out") {
    if (params.size() != 3 || !params[2].output)
      throw SqlError(201, 16, "Procedure two_in_one_out expects @a, @b, @out output.");
    sink.rowFormat({column("a", SqlType::Int, 4, true), column("b", SqlType::VarChar, 30, true)});
    sink.row({params[0].value, params[1].value});
    sink.done(DoneKind::DoneInProc, false, 1);
    sink.returnStatus(5);
    Value doubled = std::monostate{};
    if (auto* a = std::get_if<int64_t>(&params[0].value)) doubled = *a * 2;
    sink.outputParams({column("@out", SqlType::Int, 4, true)}, {doubled});
    sink.done(DoneKind::DoneProc, false, -1);
    return;
  }
  if (procName == "fails_after_status") {
    sink.returnStatus(-6);
    throw SqlError(2601, 14, "Attempt to insert duplicate key row.");
  }
  if (procName == "minus_one") {
    sink.returnStatus(-1);
    sink.done(DoneKind::DoneProc, false, -1);
    return;
  }
  if (procName == "echo") {
    std::vector<ColumnDesc> columns, outputs;
    std::vector<Value> values, outputValues;
    for (const ParamValue& p : params) {
      ColumnDesc c = p.format;
      c.name = p.name.empty() ? "p" : p.name.substr(p.name[0] == '@' ? 1 : 0);
      columns.push_back(c);
      values.push_back(p.value);
      if (p.output) {
        outputs.push_back(p.format);
        outputs.back().name = p.name;
        outputValues.push_back(p.value);
      }
    }
    if (!columns.empty()) {
      sink.rowFormat(columns);
      sink.row(values);
      sink.done(DoneKind::DoneInProc, false, 1);
    }
    sink.returnStatus(0);
    if (!outputs.empty()) sink.outputParams(outputs, outputValues);
    sink.done(DoneKind::DoneProc, false, -1);
    return;
  }
  Session::executeRpc(procName, params, sink);
}

void StubSession::executeLanguageWithParams(std::string_view, const std::vector<ParamValue>& params,
                                            ResultSink& sink) {
  std::vector<ColumnDesc> columns;
  std::vector<Value> values;
  for (const ParamValue& p : params) {
    columns.push_back(p.format);
    columns.back().name = p.name;
    values.push_back(p.value);
  }
  sink.rowFormat(columns);
  sink.row(values);
  sink.done(DoneKind::Done, false, 1);
}

StubSession::Cursor& StubSession::cursor(int32_t id) {
  auto it = cursors_.find(id);
  if (it == cursors_.end()) throw SqlError(557, 16, "No cursor " + std::to_string(id) + ".");
  return it->second;
}

int32_t StubSession::declareCursor(const std::string& name, const std::string& sql, bool,
                                   const std::vector<ParamValue>&) {
  size_t at = sql.find("numbers");
  if (at == std::string::npos) throw SqlError(208, 16, "nosuch not found.");
  Cursor c;
  c.name = name;
  c.count = std::min(std::stoi(sql.substr(at + 8)), 100000);
  int32_t id = nextCursor_++;
  cursors_[id] = c;
  ++cursorsAlive;
  return id;
}

void StubSession::setCursorRows(int32_t id, int32_t rows) {
  cursor(id).rows = rows;
}

std::vector<ColumnDesc> StubSession::openCursor(int32_t id, ResultSink&) {
  Cursor& c = cursor(id);
  if (c.open) throw SqlError(558, 16, "Cursor " + c.name + " is already open.");
  c.open = true;
  c.fetched = 0;
  c.pending.clear();
  for (int n = 1; n <= c.count; ++n) c.pending.push_back({int64_t{n}, "row " + std::to_string(n)});
  return {column("n", SqlType::Int, 4, false), column("word", SqlType::VarChar, 20, true)};
}

std::vector<std::vector<Value>> StubSession::fetchCursor(int32_t id, int32_t maxRows, ResultSink&) {
  Cursor& c = cursor(id);
  if (!c.open) throw SqlError(559, 16, "Cursor " + c.name + " is not open.");
  fetchSizes_.push_back(maxRows);
  std::vector<std::vector<Value>> out;
  while (!c.pending.empty() && static_cast<int32_t>(out.size()) < maxRows) {
    out.push_back(std::move(c.pending.front()));
    c.pending.erase(c.pending.begin());
  }
  c.fetched += static_cast<int32_t>(out.size());
  return out;
}

int32_t StubSession::cursorRowCount(int32_t id) {
  return cursor(id).fetched;
}

void StubSession::closeCursor(int32_t id, bool deallocate) {
  Cursor& c = cursor(id);
  c.open = false;
  c.pending.clear();
  if (deallocate) {
    cursors_.erase(id);
    --cursorsAlive;
  }
}

PreparedDescription StubSession::prepareStatement(const std::string& id, const std::string& sql) {
  if (sql.find("bad") != std::string::npos) throw SqlError(102, 15, "Incorrect syntax near 'bad'.");
  size_t marks = static_cast<size_t>(std::count(sql.begin(), sql.end(), '?'));
  if (!prepared_.count(id)) ++preparedAlive;
  prepared_[id] = Prepared{marks, sql.find("numbers") != std::string::npos};
  PreparedDescription d;
  for (size_t i = 0; i < marks; ++i) d.inputs.push_back(column("", SqlType::Int, 4, true));
  if (sql.find("numbers") != std::string::npos)
    d.outputs = {column("n", SqlType::Int, 4, false), column("word", SqlType::VarChar, 20, true)};
  return d;
}

void StubSession::executePrepared(const std::string& id, const std::vector<ParamValue>& params,
                                  ResultSink& sink) {
  auto it = prepared_.find(id);
  if (it == prepared_.end()) throw SqlError(7901, 16, "Prepared statement " + id + " not found.");
  if (params.size() != it->second.marks) throw SqlError(7902, 16, "Wrong number of parameters.");
  if (!it->second.rows) {
    sink.done(DoneKind::Done, false, 1);
    return;
  }
  int64_t lo = 0, hi = 3;
  if (params.size() == 2) {
    lo = std::get<int64_t>(params[0].value);
    hi = std::get<int64_t>(params[1].value);
  }
  sink.rowFormat({column("n", SqlType::Int, 4, false), column("word", SqlType::VarChar, 20, true)});
  int32_t count = 0;
  hi = std::min(hi, lo + 1000);  // a damaged bound must not make a test run for hours
  for (int64_t n = lo + 1; n <= hi; ++n, ++count) sink.row({n, "row " + std::to_string(n)});
  sink.done(DoneKind::Done, false, count);
}

void StubSession::deallocatePrepared(const std::string& id) {
  if (!prepared_.erase(id)) throw SqlError(7901, 16, "Prepared statement " + id + " not found.");
  --preparedAlive;
}

LoginOutcome StubEngine::login(const LoginRequest& request) {
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  LoginOutcome out;
  bool ok = (request.user == "sa" && request.password == "secret") ||
            (request.user == "longpw" && request.password == longPassword());
  if (ok)
    out.session = std::make_unique<StubSession>(nextSpid_++);
  else
    out.failure = ServerMessage{4002, 1, 14, "Login failed.", "", 1};
  return out;
}

std::vector<LoginRequest> StubEngine::requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

}  // namespace tabtest
