// The system procedures the executor answers itself when the catalogue has no procedure of that
// name: logins, users, groups and types (sp_addlogin ... sp_droplogin), keys, rule and default
// bindings, sp_who, sp_lock, sp_helptext and sp_configure. They take their arguments by position
// or by @name like stored procedures and report failures as messages with return status 1, so
// `exec @rc = sp_adduser ...` sees what happened.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <tuple>

#include "server/exec/errors.h"
#include "server/exec/session_impl.h"
#include "server/exec/sql_statement.h"
#include "server/exec/sysproc_support.h"
#include "server/storage/live_tables.h"
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

}  // namespace

const std::vector<BuiltinProcedure>& builtinProcedures() {
  // Parameter types as the stored procedure text declares them; every parameter may be left out
  // (the procedure says which it needs).
  static const std::vector<BuiltinProcedure> kProcedures = {
      {"sp_password", {{"@caller_passwd", "varchar(30)"}, {"@new_passwd", "varchar(30)"}, {"@loginame", "varchar(30)"}}},
      {"sp_addlogin",
       {{"@loginame", "varchar(30)"},
        {"@passwd", "varchar(30)"},
        {"@defdb", "varchar(30)"},
        {"@deflanguage", "varchar(30)"},
        {"@fullname", "varchar(30)"}}},
      {"sp_addtype",
       {{"@typename", "varchar(30)"},
        {"@phystype", "varchar(30)"},
        {"@nulltype", "varchar(30)"},
        {"@nullability", "varchar(30)"}}},
      {"sp_addgroup", {{"@grpname", "varchar(30)"}}},
      {"sp_adduser", {{"@loginame", "varchar(30)"}, {"@name_in_db", "varchar(30)"}, {"@grpname", "varchar(30)"}}},
      {"sp_who", {{"@loginame", "varchar(30)"}}},
      {"sp_helptext", {{"@objname", "varchar(255)"}}},
      {"sp_droptype", {{"@typename", "varchar(30)"}}},
      {"sp_dropuser", {{"@name_in_db", "varchar(30)"}}},
      {"sp_changegroup", {{"@grpname", "varchar(30)"}, {"@username", "varchar(30)"}}},
      {"sp_droplogin", {{"@loginame", "varchar(30)"}}},
      {"sp_primarykey",
       {{"@tabname", "varchar(92)"},
        {"@col1", "varchar(30)"},
        {"@col2", "varchar(30)"},
        {"@col3", "varchar(30)"},
        {"@col4", "varchar(30)"},
        {"@col5", "varchar(30)"},
        {"@col6", "varchar(30)"},
        {"@col7", "varchar(30)"},
        {"@col8", "varchar(30)"}}},
      {"sp_foreignkey",
       {{"@tabname", "varchar(92)"},
        {"@pktabname", "varchar(92)"},
        {"@col1", "varchar(30)"},
        {"@col2", "varchar(30)"},
        {"@col3", "varchar(30)"},
        {"@col4", "varchar(30)"},
        {"@col5", "varchar(30)"},
        {"@col6", "varchar(30)"},
        {"@col7", "varchar(30)"},
        {"@col8", "varchar(30)"}}},
      {"sp_commonkey",
       {{"@tabaname", "varchar(92)"}, {"@tabbname", "varchar(92)"}, {"@col1a", "varchar(30)"},
        {"@col1b", "varchar(30)"},    {"@col2a", "varchar(30)"},    {"@col2b", "varchar(30)"},
        {"@col3a", "varchar(30)"},    {"@col3b", "varchar(30)"},    {"@col4a", "varchar(30)"},
        {"@col4b", "varchar(30)"},    {"@col5a", "varchar(30)"},    {"@col5b", "varchar(30)"},
        {"@col6a", "varchar(30)"},    {"@col6b", "varchar(30)"},    {"@col7a", "varchar(30)"},
        {"@col7b", "varchar(30)"},    {"@col8a", "varchar(30)"},    {"@col8b", "varchar(30)"}}},
      {"sp_bindrule", {{"@rulename", "varchar(92)"}, {"@objname", "varchar(92)"}, {"@futureonly", "varchar(15)"}}},
      {"sp_bindefault", {{"@defname", "varchar(92)"}, {"@objname", "varchar(92)"}, {"@futureonly", "varchar(15)"}}},
      {"sp_unbindrule", {{"@objname", "varchar(92)"}, {"@futureonly", "varchar(15)"}}},
      {"sp_unbindefault", {{"@objname", "varchar(92)"}, {"@futureonly", "varchar(15)"}}},
      {"sp_lock", {{"@spid1", "int"}, {"@spid2", "int"}}},
      {"sp_configure", {{"@configname", "varchar(80)"}, {"@configvalue", "int"}}},
      {"sp_help", {{"@objname", "varchar(92)"}}},
      {"sp_helpindex", {{"@objname", "varchar(92)"}}},
      {"sp_helpconstraint", {{"@objname", "varchar(92)"}}},
      {"sp_helprotect", {{"@name", "varchar(92)"}, {"@username", "varchar(30)"}}},
      {"sp_spaceused", {{"@objname", "varchar(92)"}, {"@list_indices", "int"}}},
      {"sp_helpdb", {{"@dbname", "varchar(30)"}}},
      {"sp_rename", {{"@objname", "varchar(92)"}, {"@newname", "varchar(30)"}}},
  };
  return kProcedures;
}

const BuiltinProcedure* findBuiltinProcedure(const std::string& name) {
  for (const BuiltinProcedure& p : builtinProcedures())
    if (std::equal(p.name.begin(), p.name.end(), name.begin(), name.end(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
      return &p;
  return nullptr;
}

bool SessionImpl::runSystemProcedure(const std::string& procName, const std::vector<CallArg>& args,
                                     CallResult& result) {
  const BuiltinProcedure* builtin = findBuiltinProcedure(procName);
  if (!builtin) return false;
  const std::string name = builtin->name;
  std::vector<std::string> paramNames;
  for (const auto& [param, type] : builtin->params) paramNames.push_back(param);

  // 'table.column' (or 'owner.table.column') names one column; a name without a dot a user
  // datatype of this database. Gives (table id, colid, usertype) for bindRule / bindDefault.
  auto bindingTarget = [&](const std::string& object) {
    int32_t tableId = 0, colid = 0, usertype = 0;
    size_t dot = object.rfind('.');
    if (dot != std::string::npos) {
      // 'table.column' (or 'owner.table.column') binds to one column.
      std::string tablePart = object.substr(0, dot), column = object.substr(dot + 1);
      ObjectName tn = splitDottedName(tablePart);
      std::optional<TableInfo> t =
          resolveTable(db_, ObjectRef{tn.database, tn.owner, tn.name}, database_, user_);
      if (!t || t->type != "U")
        throw SqlError(15104, 16, "You can't bind to table '" + tablePart + "' here.");
      requireOwnerOf(name, *t);
      const CatalogColumn* c = t->findColumn(column);
      if (!c)
        throw SqlError(15105, 16, "The column '" + column + "' does not exist in table '" + tablePart + "'.");
      tableId = t->id;
      colid = c->colid;
    } else {
      // A name without a dot is a user datatype of this database.
      SqlStatement st(*this,
                      "SELECT usertype FROM " + sqliteObjectName(database_, "dbo", "systypes") +
                          " WHERE rtrim(name) = ?1 AND usertype >= 100",
                      SqlStatement::Access::Internal);
      st.bindAll({Value{object}});
      if (st.step()) usertype = sqlite3_column_int(st.get(), 0);
      if (!usertype) throw SqlError(15106, 16, "Column or user datatype '" + object + "' does not exist.");
      // Datatypes of a database are its owner's to bind.
      if (id_.suid != 1 && user_ != "dbo")
        throw SqlError(
            17230, 16,
            "Only the System Administrator (SA) or the Database Owner (dbo) may execute this stored "
            "procedure.");
    }
    return std::make_tuple(tableId, colid, usertype);
  };
  std::vector<PlainArg> plain;
  for (const CallArg& a : args) plain.push_back({a.name, &a.value, &a.type});
  std::vector<std::optional<std::string>> arg = matchArguments(name, paramNames, plain);
  // The futureonly argument of the binding procedures, at position `i`.
  auto futureOnly = [&](size_t i) {
    if (i >= arg.size() || !arg[i]) return false;
    std::string v = trimmed(*arg[i]);
    for (char& ch : v) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (!v.empty() && v != "futureonly")
      throw SqlError(15109, 16, "The only legal value for the futureonly parameter is 'futureonly'.");
    return !v.empty();
  };
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
          "Procedure '" + name + "' expects parameter '" + paramNames[i] + "', which was not supplied.");
    return *arg[i];
  };

  // The procedures that change master's logins or configuration refuse to run inside a transaction,
  // as the family's do: a transaction left open would hold master's write lock, and with it every
  // other session's logins, password changes and configuration changes.
  auto outsideTransactions = [&] {
    if (tranCount_ > 0) throw SqlError(17260, 16, "Can't run " + name + " from within a transaction.");
  };

  // Users, groups and datatypes of a database are its owner's to change.
  auto ownerOnly = [&] {
    if (id_.suid != 1 && user_ != "dbo")
      throw SqlError(17230, 16,
                     "Only the System Administrator (SA) or the Database Owner (dbo) may execute this stored "
                     "procedure.");
  };

  try {
    if (name == "sp_password") {
      outsideTransactions();
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
      StatementTransaction tx(*this, "master");
      if (!setPassword(db_, login, fresh))
        throw SqlError(15007, 16, "No login with the specified name exists.");
      tx.commit();
      inform("Password correctly set.");
    } else if (name == "sp_addlogin") {
      outsideTransactions();
      std::string login = trimmed(required(0));
      std::string password = arg[1].value_or("");
      std::string database = arg[2] ? trimmed(*arg[2]) : std::string("master");
      if (id_.suid != 1) throw SqlError(10305, 16, "Only the System Security Officer can add a login.");
      if (login.empty() || login.size() > 30)
        throw SqlError(17330, 16, "A login name must be 1 to 30 characters long.");
      if (!databaseExists(db_, database))
        throw SqlError(911, 11,
                       "Attempt to locate entry in sysdatabases for database '" + database +
                           "' by name failed - no entry found under that name. Make sure that the "
                           "name is entered properly.");
      StatementTransaction tx(*this, "master");
      addLogin(db_, login, password, database, arg[4].value_or(""));
      tx.commit();
      inform("Password correctly set.");
      inform("Account unlocked.");
      inform("New login created.");
    } else if (name == "sp_addtype") {
      ownerOnly();
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
      StatementTransaction tx(*this, database_);
      createUserType(db_, details);
      tx.commit();
      inform("Type added.");
    } else if (name == "sp_addgroup") {
      ownerOnly();
      std::string group = required(0);
      StatementTransaction tx(*this, database_);
      addGroup(db_, database_, group);
      tx.commit();
      inform("New group added.");
    } else if (name == "sp_adduser") {
      ownerOnly();
      std::string login = trimmed(required(0));
      std::string user = arg[1] ? trimmed(*arg[1]) : login;
      std::string group = arg[2] ? trimmed(*arg[2]) : std::string("public");
      std::optional<int32_t> suid;
      {
        SqlStatement st(
            *this,
            "SELECT suid FROM " + sqliteObjectName("master", "dbo", "syslogins") + " WHERE rtrim(name) = ?1",
            SqlStatement::Access::Internal);
        st.bindAll({Value{login}});
        if (st.step()) suid = sqlite3_column_int(st.get(), 0);
      }
      if (!suid) throw SqlError(15007, 16, "No login with the specified name exists.");
      StatementTransaction tx(*this, database_);
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
      ObjectName on = splitDottedName(object);
      ObjectRef ref{on.database, on.owner, on.name};
      std::string db = on.database.empty() ? database_ : on.database;
      std::optional<int32_t> id = resolveObjectId(db_, ref, database_, user_);
      if (!id) throw SqlError(17461, 16, "Object '" + object + "' does not exist in this database.");
      std::vector<Value> lines;
      {
        SqlStatement st(*this,
                        "SELECT text FROM " + sqliteObjectName(db, "dbo", "syscomments") +
                            " WHERE id = ?1 ORDER BY number, colid2, colid",
                        SqlStatement::Access::Internal);
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
    } else if (name == "sp_droptype") {
      ownerOnly();
      std::string type = trimmed(required(0));
      StatementTransaction tx(*this, database_);
      dropUserType(db_, database_, type);
      tx.commit();
      inform("Type has been dropped.");
    } else if (name == "sp_dropuser") {
      ownerOnly();
      std::string user = trimmed(required(0));
      StatementTransaction tx(*this, database_);
      dropUser(db_, database_, user);
      tx.commit();
      inform("User has been dropped from current database.");
    } else if (name == "sp_changegroup") {
      ownerOnly();
      std::string group = trimmed(required(0));
      std::string user = trimmed(required(1));
      StatementTransaction tx(*this, database_);
      changeGroup(db_, database_, user, group);
      tx.commit();
      inform("Group changed.");
    } else if (name == "sp_droplogin") {
      outsideTransactions();
      std::string login = trimmed(required(0));
      if (id_.suid != 1) throw SqlError(10305, 16, "Only the System Security Officer can drop a login.");
      std::optional<int32_t> suid;
      {
        SqlStatement st(
            *this,
            "SELECT suid FROM " + sqliteObjectName("master", "dbo", "syslogins") + " WHERE rtrim(name) = ?1",
            SqlStatement::Access::Internal);
        st.bindAll({Value{login}});
        if (st.step()) suid = sqlite3_column_int(st.get(), 0);
      }
      if (!suid) throw SqlError(15007, 16, "No login with the specified name exists.");
      if (*suid == 1) throw SqlError(17296, 16, "The login 'sa' cannot be dropped.");
      // A login still connected, or still a user somewhere, would leave sessions and sysusers
      // rows pointing at a suid that no longer exists (and a later login could reuse it).
      for (const ProcessInfo& p : processes_.snapshot())
        if (p.suid == *suid)
          throw SqlError(17297, 16, "Login '" + login + "' is currently logged in and cannot be dropped.");
      for (const DatabaseInfo& d : listDatabases(db_)) {
        if (d.suid == *suid)
          throw SqlError(17299, 16,
                         "Login '" + login + "' owns database '" + d.name + "' and cannot be dropped.");
        SqlStatement st(
            *this, "SELECT count(*) FROM " + sqliteObjectName(d.name, "dbo", "sysusers") + " WHERE suid = ?1",
            SqlStatement::Access::Internal);
        st.bindAll({Value{int64_t{*suid}}});
        if (st.step() && sqlite3_column_int(st.get(), 0) > 0)
          throw SqlError(17298, 16,
                         "Login '" + login + "' is a user in database '" + d.name +
                             "'. Drop the user with sp_dropuser first.");
      }
      StatementTransaction tx(*this, "master");
      {
        SqlStatement st(*this,
                        "DELETE FROM " + sqliteObjectName("master", "dbo", "syslogins") + " WHERE suid = ?1",
                        SqlStatement::Access::Internal);
        st.bindAll({Value{int64_t{*suid}}});
        st.step();
      }
      tx.commit();
      inform("Login dropped.");
    } else if (name == "sp_primarykey" || name == "sp_foreignkey" || name == "sp_commonkey") {
      bool foreign = name == "sp_foreignkey";
      bool common = name == "sp_commonkey";
      std::string tableName = trimmed(required(0));
      auto resolve = [&](const std::string& text) {
        ObjectName on = splitDottedName(text);
        std::optional<TableInfo> t =
            resolveTable(db_, ObjectRef{on.database, on.owner, on.name}, database_, user_);
        if (!t || t->type == "V")
          throw SqlError(17461, 16, "Object '" + text + "' does not exist in this database.");
        return *t;
      };
      TableInfo table = resolve(tableName);
      requireOwnerOf(name, table);
      KeySpec key;
      key.database = table.database;
      key.type = common ? 3 : foreign ? 2 : 1;
      key.id = table.id;
      if (common) {
        // sp_commonkey a, b, col1a, col1b, ...: pairs of columns that join the two tables.
        std::string otherName = trimmed(required(1));
        TableInfo other = resolve(otherName);
        key.depid = other.id;
        for (size_t i = 2; i + 1 < arg.size(); i += 2) {
          if (!arg[i] && !arg[i + 1]) continue;
          if (!arg[i] || !arg[i + 1])
            throw SqlError(15420, 16, "The common key must name a column of each table for every pair.");
          std::string a = trimmed(*arg[i]), b = trimmed(*arg[i + 1]);
          const CatalogColumn* ca = table.findColumn(a);
          if (!ca) throw SqlError(17432, 16, "The table does not have a column named '" + a + "'.");
          const CatalogColumn* cb = other.findColumn(b);
          if (!cb) throw SqlError(17432, 16, "The table does not have a column named '" + b + "'.");
          if (ca->desc.type.type != cb->desc.type.type)
            throw SqlError(15421, 16,
                           "The columns '" + a + "' and '" + b + "' of the common key are not of the same type.");
          key.colids.push_back(ca->colid);
          key.depColids.push_back(cb->colid);
        }
        if (key.colids.empty())
          throw SqlError(201, 16,
                         "Procedure '" + name + "' expects parameter '@col1a', which was not supplied.");
      }
      for (size_t i = foreign ? 2 : 1; !common && i < arg.size(); ++i) {
        if (!arg[i]) continue;
        std::string column = trimmed(*arg[i]);
        const CatalogColumn* c = table.findColumn(column);
        if (!c) throw SqlError(17432, 16, "The table does not have a column named '" + column + "'.");
        key.colids.push_back(c->colid);
      }
      if (key.colids.empty())
        throw SqlError(201, 16,
                       "Procedure '" + name + "' expects parameter '@col1', which was not supplied.");
      if (foreign) {
        std::string pkName = trimmed(required(1));
        TableInfo pk = resolve(pkName);
        key.depid = pk.id;
        SqlStatement st(*this,
                        "SELECT keycnt, key1, key2, key3, key4, key5, key6, key7, key8 FROM " +
                            sqliteObjectName(pk.database, "dbo", "syskeys") + " WHERE id = ?1 AND type = 1",
                        SqlStatement::Access::Internal);
        st.bindAll({Value{int64_t{pk.id}}});
        if (!st.step()) throw SqlError(17433, 16, "Primary key table '" + pkName + "' has no primary key.");
        int count = std::min(sqlite3_column_int(st.get(), 0), 8);
        for (int i = 0; i < count; ++i) key.depColids.push_back(sqlite3_column_int(st.get(), i + 1));
      }
      StatementTransaction tx(*this, key.database);
      addKey(db_, key);
      tx.commit();
      inform(common ? "New common key added." : foreign ? "New foreign key added." : "New primary key added.");
    } else if (name == "sp_bindrule" || name == "sp_bindefault") {
      bool rule = name == "sp_bindrule";
      std::string what = trimmed(required(0));
      std::string object = trimmed(required(1));
      ObjectName rn = splitDottedName(what);
      std::optional<int32_t> id =
          resolveObjectId(db_, ObjectRef{rn.database, rn.owner, rn.name}, database_, user_);
      if (!id)
        throw SqlError(rule ? 15017 : 15018, 16,
                       std::string(rule ? "No such rule" : "No such default") + " '" + what + "' exists.");
      {
        // Named here rather than by id, as the storage layer's own check would.
        SqlStatement st(
            *this,
            "SELECT rtrim(type) FROM " +
                sqliteObjectName(rn.database.empty() ? database_ : rn.database, "dbo", "sysobjects") +
                " WHERE id = ?1",
            SqlStatement::Access::Internal);
        st.bindAll({Value{int64_t{*id}}});
        const unsigned char* type = st.step() ? sqlite3_column_text(st.get(), 0) : nullptr;
        if (!type || std::string(reinterpret_cast<const char*>(type)) != (rule ? "R" : "D"))
          throw SqlError(rule ? 15102 : 15103, 16,
                         "The object '" + what + "' is not a " + (rule ? "rule." : "default."));
      }
      auto [tableId, colid, usertype] = bindingTarget(object);
      StatementTransaction tx(*this, database_);
      if (rule)
        bindRule(db_, database_, *id, tableId, colid, usertype);
      else if (usertype)
        bindTypeDefault(*id, usertype, futureOnly(2));
      else
        bindDefault(db_, database_, *id, tableId, colid, usertype);
      tx.commit();
      inform(std::string(rule ? "Rule" : "Default") + " bound to " +
             (usertype ? "datatype." : "table column."));
    } else if (name == "sp_unbindrule" || name == "sp_unbindefault") {
      bool rule = name == "sp_unbindrule";
      auto [tableId, colid, usertype] = bindingTarget(trimmed(required(0)));
      StatementTransaction tx(*this, database_);
      if (rule)
        bindRule(db_, database_, 0, tableId, colid, usertype);
      else if (usertype)
        bindTypeDefault(0, usertype, futureOnly(1));
      else
        bindDefault(db_, database_, 0, tableId, colid, usertype);
      tx.commit();
      inform(std::string(rule ? "Rule" : "Default") + " unbound from " +
             (usertype ? "datatype." : "table column."));
    } else if (name == "sp_lock") {
      std::vector<int> spids;
      for (size_t i = 0; i < 2; ++i)
        if (arg[i]) spids.push_back(std::atoi(trimmed(*arg[i]).c_str()));
      // The locks as they are now: the same copy a select from master..syslocks reads.
      refreshLive();
      static const std::map<int, std::string> kLockNames = {
          {1, "Ex_table"}, {2, "Sh_table"}, {3, "Ex_intent"}, {4, "Sh_intent"}};
      std::vector<ColumnDesc> columns = {
          intColumn("fid"),  intColumn("spid"),        textColumn("locktype", 30), intColumn("table_id"),
          intColumn("page"), textColumn("dbname", 30), textColumn("class", 30),    intColumn("context")};
      std::vector<std::vector<Value>> out;
      {
        SqlStatement st(*this,
                        "SELECT fid, spid, type, id, page, dbid, class, context FROM " +
                            sqliteObjectName("master", "dbo", "syslocks") + " ORDER BY spid, dbid, id",
                        SqlStatement::Access::Internal);
        while (st.step()) {
          int spid = sqlite3_column_int(st.get(), 1);
          if (!spids.empty() && std::find(spids.begin(), spids.end(), spid) == spids.end()) continue;
          int type = sqlite3_column_int(st.get(), 2);
          auto known = kLockNames.find(type & ~kLockBlocking);
          std::string typeName = known != kLockNames.end() ? known->second : std::to_string(type);
          if (type & kLockBlocking) typeName += "-blk";
          std::optional<DatabaseInfo> d = findDatabase(db_, sqlite3_column_int(st.get(), 5));
          const unsigned char* cls = sqlite3_column_text(st.get(), 6);
          out.push_back({Value{int64_t{sqlite3_column_int(st.get(), 0)}}, Value{int64_t{spid}},
                         Value{typeName}, Value{int64_t{sqlite3_column_int(st.get(), 3)}},
                         Value{int64_t{sqlite3_column_int(st.get(), 4)}}, d ? Value{d->name} : Value(),
                         cls ? Value{std::string(reinterpret_cast<const char*>(cls))} : Value(),
                         Value{int64_t{sqlite3_column_int(st.get(), 7)}}});
        }
      }
      sink_->rowFormat(columns);
      for (const auto& r : out) sink_->row(r);
      done(false, static_cast<int32_t>(out.size()));
    } else if (name == "sp_configure") {
      std::string pattern = arg[0] ? trimmed(*arg[0]) : std::string();
      std::vector<ConfigParameter> shown;
      if (arg[1]) {
        outsideTransactions();
        if (id_.suid != 1)
          throw SqlError(10305, 16, "Only the System Administrator can change configuration parameters.");
        std::string text = trimmed(*arg[1]);
        char* end = nullptr;
        long long v = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
          throw SqlError(15126, 16, "Configuration value '" + text + "' is not a number.");
        if (pattern.empty())
          throw SqlError(201, 16,
                         "Procedure 'sp_configure' expects parameter '@configname', which was not supplied.");
        StatementTransaction tx(*this, "master");
        shown.push_back(setConfigValue(db_, pattern, static_cast<int32_t>(v)));
        tx.commit();
        inform("Configuration option changed.");
      } else {
        shown = configParameters(db_, pattern);
        if (shown.empty())
          throw SqlError(15123, 16, "Configuration option '" + pattern + "' does not exist.");
      }
      sink_->rowFormat({textColumn("Parameter Name", 80), textColumn("Default", 30),
                        intColumn("Config Value"), intColumn("Run Value")});
      for (const ConfigParameter& p : shown)
        sink_->row(
            {Value{p.name}, Value{p.defaultValue}, Value{int64_t{p.value}}, Value{int64_t{p.runValue}}});
      done(false, static_cast<int32_t>(shown.size()));
    } else if (name == "sp_help") {
      spHelp(arg[0] ? std::optional(trimmed(*arg[0])) : std::nullopt);
    } else if (name == "sp_helpindex") {
      spHelpIndex(trimmed(required(0)));
    } else if (name == "sp_helpconstraint") {
      spHelpConstraint(trimmed(required(0)));
    } else if (name == "sp_helprotect") {
      spHelpProtect(arg[0] ? std::optional(trimmed(*arg[0])) : std::nullopt,
                    arg[1] ? std::optional(trimmed(*arg[1])) : std::nullopt);
    } else if (name == "sp_spaceused") {
      spSpaceUsed(arg[0] ? std::optional(trimmed(*arg[0])) : std::nullopt, arg[1] && trimmed(*arg[1]) == "1");
    } else if (name == "sp_helpdb") {
      spHelpDb(arg[0] ? std::optional(trimmed(*arg[0])) : std::nullopt);
    } else if (name == "sp_rename") {
      spRename(trimmed(required(0)), trimmed(required(1)));
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
