// The interpreter's own statements: USE, SET options, DECLARE, PRINT, RAISERROR and WAITFOR.
#include <cctype>
#include <chrono>
#include <ctime>
#include <thread>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/types/convert.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

// Replaces %1! .. %20! with the arguments' texts, as PRINT and RAISERROR do.
std::string substitute(const std::string& format, const std::vector<std::string>& args) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        std::isdigit(static_cast<unsigned char>(format[i + 1]))) {
      size_t j = i + 1;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
      if (j < format.size() && format[j] == '!') {
        size_t n = std::stoul(format.substr(i + 1, j - i - 1));
        if (n >= 1 && n <= args.size()) out += args[n - 1];
        i = j;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

// 'hh:mm[:ss[.mmm]]' in milliseconds; nothing when malformed.
std::optional<int64_t> parseClock(const std::string& text) {
  int h = 0, m = 0, s = 0, ms = 0;
  char extra = 0;
  int n = std::sscanf(text.c_str(), "%d:%d:%d.%3d%c", &h, &m, &s, &ms, &extra);
  if (n < 2 || n > 4 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || ms < 0) return std::nullopt;
  return ((h * 60 + m) * 60 + s) * 1000LL + ms;
}

bool onOff(const SetStatement& s) {
  if (s.value == "on") return true;
  if (s.value == "off") return false;
  throw SqlError(102, 15, "Incorrect syntax near '" + s.value + "'.");
}

}  // namespace

std::string SessionImpl::printText(const Value& v, const TypeDesc& type) {
  if (isNull(v)) return "";
  return valueToText(v, type);
}

void SessionImpl::runUse(const UseStatement& s) {
  if (!databaseExists(db_, s.database)) throw unknownDatabase(s.database);
  auto user = findUserForLogin(db_, s.database, id_.suid);
  if (!user)
    throw SqlError(10351, 14,
                   "Server user id " + std::to_string(id_.suid) + " is not a valid user in database '" +
                       s.database + "'");
  std::string old = database_;
  database_ = s.database;
  user_ = user->name;
  info_.database = database_;
  info_.user = user_;
  info_.uid = user->uid;
  std::string db = database_;
  processes_.update(spid_, [&db](ProcessInfo& p) { p.database = db; });
  if (sink_) sink_->envChange(EnvChange::Database, database_, old);
  sendMessage(ServerMessage{5701, 1, 10, "Changed database context to '" + database_ + "'.", {}, 1});
  done(false, -1);
}

void SessionImpl::runSet(const SetStatement& s) {
  const std::string& o = s.option;
  auto number = [&]() -> int64_t {
    if (s.valueExpr) {
      auto [v, t] = evaluate(*s.valueExpr);
      Value i = convertValue(v, t, makeType(SqlType::Int));
      return isNull(i) ? 0 : std::get<int64_t>(i);
    }
    return std::strtoll(s.value.c_str(), nullptr, 10);
  };
  if (o == "rowcount") {
    options_.rowCount = static_cast<int32_t>(std::max<int64_t>(0, number()));
  } else if (o == "cursor rows") {
    int64_t n = number();
    if (n < 1) throw SqlError(16931, 16, "The number of rows a cursor fetches must be 1 or more.");
    setCursorRows(cursorIdByName(s.cursor), static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
  } else if (o == "textsize") {
    int64_t n = number();
    options_.textSize = n <= 0 ? 32768 : static_cast<int32_t>(n);
  } else if (o == "nocount") {
    options_.noCount = onOff(s);
  } else if (o == "fmtonly") {
    options_.fmtOnly = onOff(s);
  } else if (o == "parseonly") {
    options_.parseOnly = onOff(s);
  } else if (o == "noexec") {
    options_.noExec = onOff(s);
  } else if (o == "chained") {
    bool on = onOff(s);
    if (tranCount_ > 0 && on != options_.chained)
      throw SqlError(226, 16, "SET CHAINED command not allowed within multi-statement transaction.");
    options_.chained = on;
  } else if (o == "ansinull") {
    options_.ansiNull = onOff(s);
  } else if (o == "quoted_identifier") {
    options_.quotedIdentifier = onOff(s);
  } else if (o == "arithabort" || o == "arithabort arith_overflow" || o == "arithabort numeric_truncation") {
    // set arithabort [arith_overflow | numeric_truncation] on|off; without a sub-option it is
    // arith_overflow.
    if (o == "arithabort numeric_truncation")
      info_.implicitScaleLoss = onOff(s) ? ScaleLoss::Error : ScaleLoss::Truncate;
    else
      options_.arithAbort = onOff(s);
    info_.arithmeticErrorsAreNull = !options_.arithAbort && options_.arithIgnore;
  } else if (o == "arithignore" || o == "arithignore arith_overflow") {
    options_.arithIgnore = onOff(s);
    info_.arithmeticErrorsAreNull = !options_.arithAbort && options_.arithIgnore;
  } else if (o == "showplan") {
    options_.showPlan = onOff(s);
  } else if (o == "forceplan") {
    options_.forcePlan = onOff(s);
  } else if (o == "statistics io") {
    options_.statIo = onOff(s);
  } else if (o == "statistics time") {
    options_.statTime = onOff(s);
  } else if (o == "transaction isolation level") {
    int64_t n = number();
    if (s.value == "read uncommitted") n = 0;
    if (s.value == "read committed") n = 1;
    if (s.value == "repeatable read") n = 2;
    if (s.value == "serializable") n = 3;
    if (n < 0 || n > 3) throw SqlError(5899, 16, "The transaction isolation level must be 0, 1, 2 or 3.");
    options_.isolation = static_cast<int>(n);
  } else if (o == "datefirst") {
    int64_t n = number();
    if (n < 1 || n > 7) throw SqlError(2733, 16, "The datefirst value must be between 1 and 7.");
    options_.dateFirst = static_cast<int>(n);
    info_.dateFirst = options_.dateFirst;
  } else if (o == "dateformat") {
    // The order of month, day and year in dates read from text: one of the six orders.
    std::string order = s.value;
    for (char& c : order) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool known = false;
    for (const char* k : {"mdy", "dmy", "ymd", "ydm", "myd", "dym"}) known = known || order == k;
    if (!known) throw SqlError(2741, 16, "SET DATEFORMAT date order '" + s.value + "' not supported.");
    options_.dateFormat = s.value;
    info_.dateFormat = s.value;
  } else if (o == "lock wait") {
    // Seconds a blocked statement waits for a lock; without a number it waits without limit.
    if (s.valueExpr) {
      int64_t n = std::max<int64_t>(0, number());
      lockTimeout_ = std::chrono::milliseconds(n * 1000);
    } else {
      lockTimeout_ = std::chrono::hours(24 * 365);
    }
  } else if (o == "lock nowait") {
    lockTimeout_ = std::chrono::milliseconds(0);
  } else if (o == "identity_insert") {
    Binder binder(*this);
    TableInfo t = binder.resolveTable(s.table);
    if (t.identityColumn() < 0)
      throw SqlError(7778, 16, "Table '" + t.name + "' does not have the identity property.");
    if (onOff(s))
      identityInsert_.insert(t.id);
    else
      identityInsert_.erase(t.id);
  }
  // The other options the parser accepts (set language, char_convert, clientname,
  // string_rtruncation ...) have no effect here; an option it does not know is a syntax error.
  done(false, -1);
}

void SessionImpl::runDeclare(const DeclareStatement& s) {
  for (const auto& v : s.variables) {
    if (variables_.count(v.name)) throw declaredTwice(v.name);
    variables_[v.name] = Variable{resolveTypeName(*this, v.type), Value{}};
  }
  done(false, -1);
}

void SessionImpl::runPrint(const PrintStatement& s) {
  auto [fv, ft] = evaluate(*s.format);
  std::vector<std::string> args;
  for (const auto& a : s.args) {
    auto [v, t] = evaluate(*a);
    args.push_back(printText(v, t));
  }
  sendMessage(
      ServerMessage{0, 1, 10, substitute(printText(fv, ft), args), {}, static_cast<uint16_t>(s.line)});
  done(false, -1);
}

void SessionImpl::runRaiserror(const RaiserrorStatement& s) {
  ServerMessage m = raiserrorMessage(s);
  error_ = m.number;
  sendMessage(m);
  done(true, -1);
}

ServerMessage SessionImpl::raiserrorMessage(const RaiserrorStatement& s) {
  auto [nv, nt] = evaluate(*s.number);
  Value n = convertValue(nv, nt, makeType(SqlType::Int));
  int64_t number = isNull(n) ? 0 : std::get<int64_t>(n);
  // User messages start at 20000; lower numbers belong to the server.
  if (number < 20000)
    throw SqlError(2732, 16,
                   "Error number " + std::to_string(number) +
                       " is invalid. The number must be from 20000 to 2147483647.");
  std::string text;
  if (s.message) {
    auto [mv, mt] = evaluate(*s.message);
    std::vector<std::string> args;
    for (const auto& a : s.args) {
      auto [v, t] = evaluate(*a);
      args.push_back(printText(v, t));
    }
    text = substitute(printText(mv, mt), args);
  }
  return ServerMessage{static_cast<int32_t>(number), 1, 16, text, {}, static_cast<uint16_t>(s.line)};
}

void SessionImpl::runWaitfor(const WaitforStatement& s) {
  auto [v, t] = evaluate(*s.value);
  std::string text = printText(v, t);
  auto clock = parseClock(text);
  if (!clock)
    throw SqlError(9501, 16, "WAITFOR: the time '" + text + "' is not a valid time of day (hh:mm:ss).");
  int64_t waitMs = *clock;
  if (!s.delay) {
    // WAITFOR TIME: until that time of day, today or tomorrow.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    int64_t nowMs = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000LL;
    waitMs = *clock - nowMs;
    if (waitMs < 0) waitMs += 86400000LL;
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (std::chrono::steady_clock::now() < until) {
    checkCancel();
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(10), until - std::chrono::steady_clock::now()));
  }
  done(false, -1);
}

}  // namespace tabsrv
