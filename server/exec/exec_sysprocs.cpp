// The system procedures the executor answers itself when the catalogue has no procedure of that
// name: sp_password, sp_addlogin, sp_addtype, sp_addgroup, sp_adduser, sp_who and sp_helptext. They take their
// arguments by position or by @name like stored procedures and report failures as messages with
// return status 1, so `exec @rc = sp_adduser ...` sees what happened.
#include <algorithm>
#include <cctype>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/types/convert.h"
#include "server/types/sqlite_error.h"
#include "server/types/type_codes.h"

namespace tabsrv {

using namespace tsql;

namespace {

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// One argument as a call passes it: name (empty by position), value and type.
struct PlainArg {
  std::string name;
  const Value* value;
  const TypeDesc* type;
};

// "db.owner.name", "owner.name" or "name".
ObjectName splitName(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  ObjectName n;
  n.name = parts.back();
  if (parts.size() >= 2) n.owner = parts[parts.size() - 2];
  if (parts.size() >= 3) n.database = parts[parts.size() - 3];
  return n;
}

// The arguments of one call matched to the procedure's parameter names: text, or nothing for an
// argument left out or passed as NULL.
std::vector<std::optional<std::string>> matchArguments(const std::string& proc,
                                                       const std::vector<std::string>& params,
                                                       const std::vector<PlainArg>& args) {
  std::vector<std::optional<std::string>> out(params.size());
  size_t position = 0;
  for (const PlainArg& a : args) {
    size_t index = params.size();
    if (a.name.empty()) {
      if (position >= params.size())
        throw SqlError(8144, 16, "Procedure " + proc + " has too many arguments specified.");
      index = position++;
    } else {
      for (size_t i = 0; i < params.size(); ++i)
        if (params[i] == lowered(a.name)) index = i;
      if (index == params.size())
        throw SqlError(8145, 16, a.name + " is not a parameter for procedure " + proc + ".");
    }
    if (!isNull(*a.value)) {
      // Client libraries send an empty string as one blank (or one NUL byte) because a zero
      // length would mean NULL; the padding of a fixed char parameter goes the same way.
      std::string text = valueToText(*a.value, *a.type);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
      out[index] = std::move(text);
    }
  }
  return out;
}

ColumnDesc textColumn(const std::string& name, int32_t length, bool nullable = true) {
  ColumnDesc c;
  c.name = name;
  c.type = makeType(SqlType::VarChar, length);
  c.nullable = nullable;
  return c;
}

ColumnDesc intColumn(const std::string& name) {
  ColumnDesc c;
  c.name = name;
  c.type = makeType(SqlType::Int);
  c.nullable = false;
  return c;
}

}  // namespace

bool SessionImpl::runSystemProcedure(const std::string& procName, const std::vector<CallArg>& args,
                                     CallResult& result) {
  static const std::map<std::string, std::vector<std::string>> kParams = {
      {"sp_password", {"@caller_passwd", "@new_passwd", "@loginame"}},
      {"sp_addlogin", {"@loginame", "@passwd", "@defdb", "@deflanguage", "@fullname"}},
      {"sp_addtype", {"@typename", "@phystype", "@nulltype", "@nullability"}},
      {"sp_addgroup", {"@grpname"}},
      {"sp_adduser", {"@loginame", "@name_in_db", "@grpname"}},
      {"sp_who", {"@loginame"}},
      {"sp_helptext", {"@objname"}},
  };
  const std::string name = lowered(procName);
  auto known = kParams.find(name);
  if (known == kParams.end()) return false;

  std::vector<PlainArg> plain;
  for (const CallArg& a : args) plain.push_back({a.name, &a.value, &a.type});
  std::vector<std::optional<std::string>> arg = matchArguments(name, known->second, plain);
  // No OUTPUT parameters: each argument is given back as it came.
  for (size_t i = 0; i < args.size(); ++i) {
    result.params.push_back(
        {args[i].name.empty() ? "@p" + std::to_string(i + 1) : args[i].name, args[i].type, false});
    result.values.push_back(args[i].value);
    result.paramOfArg.push_back(static_cast<int>(i));
  }

  // Messages and DONEs come from inside the procedure.
  struct Depth {
    SessionImpl& s;
    int depth;
    std::string procName;
    Depth(SessionImpl& session, const std::string& name)
        : s(session), depth(session.procDepth_), procName(session.procName_) {
      ++s.procDepth_;
      s.procName_ = name;
    }
    ~Depth() {
      s.procDepth_ = depth;
      s.procName_ = procName;
    }
  } depth(*this, name);

  auto inform = [this](const std::string& text) { sendMessage(ServerMessage{0, 1, 10, text, {}, 1}); };
  auto required = [&](size_t i) {
    if (!arg[i])
      throw SqlError(
          201, 16,
          "Procedure '" + name + "' expects parameter '" + known->second[i] + "', which was not supplied.");
    return *arg[i];
  };

  try {
    if (name == "sp_password") {
      std::string caller = arg[0].value_or("");
      std::string fresh = required(1);
      // No login name, or an empty one, changes the caller's own password.
      std::string login = arg[2] ? trimmed(*arg[2]) : std::string();
      if (login.empty()) login = id_.login;
      if (!checkLogin(db_, id_.login, caller))
        throw SqlError(10316, 16, "Invalid caller's password specified, password left unchanged.");
      // Only sa may change another login's password.
      if (login != id_.login && id_.suid != 1)
        throw SqlError(10305, 16, "Only the System Security Officer can change another login's password.");
      StatementTransaction tx(*this);
      if (!setPassword(db_, login, fresh))
        throw SqlError(15007, 16, "No login with the specified name exists.");
      tx.commit();
      inform("Password correctly set.");
    } else if (name == "sp_addlogin") {
      std::string login = trimmed(required(0));
      std::string password = arg[1].value_or("");
      std::string database = arg[2] ? trimmed(*arg[2]) : std::string("master");
      if (id_.suid != 1)
        throw SqlError(10305, 16, "Only the System Security Officer can add a login.");
      if (login.empty() || login.size() > 30)
        throw SqlError(17330, 16, "A login name must be 1 to 30 characters long.");
      if (!databaseExists(db_, database))
        throw SqlError(911, 11, "Attempt to locate entry in sysdatabases for database '" + database +
                                    "' by name failed - no entry found under that name. Make sure that the "
                                    "name is entered properly.");
      StatementTransaction tx(*this);
      addLogin(db_, login, password, database, arg[4].value_or(""));
      tx.commit();
      inform("Password correctly set.");
      inform("Account unlocked.");
      inform("New login created.");
    } else if (name == "sp_addtype") {
      std::string type = required(0);
      std::string physical = required(1);
      // The options come as one word (sp_addtype t, 'int', 'not null') or as an identity word and
      // a null word (sp_addtype t, 'numeric(6,0)', 'identity', 'null'; NONULL means not null).
      std::string nulls = lowered(trimmed(arg[2].value_or("")));
      std::string second = lowered(trimmed(arg[3].value_or("")));
      bool identity = nulls == "identity";
      if (identity || nulls.empty())
        nulls = second;
      else if (!second.empty())
        nulls = "?";
      if (nulls == "identity") {
        identity = true;
        nulls.clear();
      }
      // The physical type is read as the parser reads a declared variable's type.
      std::optional<TypeDesc> base;
      try {
        auto parsed = parseBatch("declare @t " + physical, parseOptions());
        if (parsed.size() == 1 && parsed[0]->is<DeclareStatement>()) {
          const auto& d = parsed[0]->as<DeclareStatement>();
          if (d.variables.size() == 1) base = builtinTypeDesc(d.variables[0].type);
        }
      } catch (const SqlError&) {
      }
      if (!base) throw SqlError(17330, 16, "Physical datatype '" + physical + "' does not exist.");
      if (!nulls.empty() && nulls != "null" && nulls != "not null" && nulls != "nonull")
        throw SqlError(17325, 16, "Usage: sp_addtype name, 'datatype' [,'identity' | nulltype]");
      UserTypeSpec details;
      details.database = database_;
      details.name = type;
      details.base = *base;
      details.nullable = nulls == "null";
      details.identity = identity;
      details.ownerUid = id_.uid;
      StatementTransaction tx(*this);
      createUserType(db_, details);
      tx.commit();
      inform("Type added.");
    } else if (name == "sp_addgroup") {
      std::string group = required(0);
      StatementTransaction tx(*this);
      addGroup(db_, database_, group);
      tx.commit();
      inform("New group added.");
    } else if (name == "sp_adduser") {
      std::string login = trimmed(required(0));
      std::string user = arg[1] ? trimmed(*arg[1]) : login;
      std::string group = arg[2] ? trimmed(*arg[2]) : std::string("public");
      std::optional<int32_t> suid;
      {
        SqlStatement st(*this, "SELECT suid FROM " + sqliteObjectName("master", "dbo", "syslogins") +
                                   " WHERE rtrim(name) = ?1");
        st.bindAll({Value{login}});
        if (st.step()) suid = sqlite3_column_int(st.get(), 0);
      }
      if (!suid) throw SqlError(15007, 16, "No login with the specified name exists.");
      StatementTransaction tx(*this);
      addUser(db_, database_, user, *suid, group);
      tx.commit();
      inform("New user added.");
    } else if (name == "sp_who") {
      std::optional<std::string> filter = arg[0] ? std::optional(trimmed(*arg[0])) : std::nullopt;
      std::vector<ColumnDesc> columns = {intColumn("fid"),           intColumn("spid"),
                                         textColumn("status", 12),   textColumn("loginame", 30),
                                         textColumn("origname", 30), textColumn("hostname", 30),
                                         intColumn("blk_spid"),      textColumn("dbname", 30),
                                         textColumn("cmd", 30),      intColumn("block_xloid")};
      sink_->rowFormat(columns);
      int32_t rows = 0;
      for (const ProcessInfo& p : processes_.snapshot()) {
        // The argument is a login name or a spid.
        if (filter && *filter != p.login && *filter != std::to_string(p.spid)) continue;
        std::string status = p.spid == spid_ ? "running" : p.status;
        std::string cmd = p.spid == spid_ ? "SELECT" : p.command;
        auto text = [](const std::string& s) { return s.empty() ? Value() : Value{s}; };
        sink_->row({Value{int64_t{0}}, Value{int64_t{p.spid}}, Value{status}, text(p.login), text(p.login),
                    text(p.host), Value{int64_t{p.blockedBy}},
                    text(p.database.empty() ? "master" : p.database), Value{cmd}, Value{int64_t{0}}});
        ++rows;
      }
      done(false, rows);
    } else if (name == "sp_helptext") {
      std::string object = trimmed(required(0));
      ObjectName on = splitName(object);
      ObjectRef ref{on.database, on.owner, on.name};
      std::string db = on.database.empty() ? database_ : on.database;
      std::optional<int32_t> id = resolveObjectId(db_, ref, database_, user_);
      if (!id) throw SqlError(17461, 16, "Object '" + object + "' does not exist in this database.");
      std::vector<Value> lines;
      {
        SqlStatement st(*this, "SELECT text FROM " + sqliteObjectName(db, "dbo", "syscomments") +
                                   " WHERE id = ?1 ORDER BY number, colid2, colid");
        st.bindAll({Value{int64_t{*id}}});
        while (st.step()) {
          const unsigned char* t = sqlite3_column_text(st.get(), 0);
          lines.push_back(t ? Value{std::string(reinterpret_cast<const char*>(t))} : Value());
        }
      }
      if (lines.empty()) throw SqlError(18406, 16, "There is no text for object '" + object + "'.");
      sink_->rowFormat({intColumn("# Lines of Text")});
      sink_->row({Value{int64_t{static_cast<int64_t>(lines.size())}}});
      done(false, 1);
      sink_->rowFormat({textColumn("text", 255)});
      for (const Value& l : lines) sink_->row({l});
      done(false, static_cast<int32_t>(lines.size()));
    }
  } catch (SqlError& e) {
    // The family's system procedures print their error and return 1; the batch goes on.
    if (e.number() == kCancelledErrorNumber) throw;
    error_ = e.number();
    ++errorCount_;
    sendMessage(e.toMessage());
    result.status = 1;
    return true;
  }
  result.status = 0;
  return true;
}

}  // namespace tabsrv
