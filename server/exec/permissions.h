// What a login may do, checked in one place: which databases it reaches (as a user of them or as
// guest), which objects it may read, change or run (owner, sa, sysprotects), and that system tables
// change only through the system procedures.
//
// Row access is seen through SQLite's authorizer: while a statement the executor generated from a
// user's T-SQL is prepared, every table and column SQLite touches is recorded (with the view that
// led to it), and check() then decides on the whole list. Each object is one SQLite table or view,
// so three-part names, views and subqueries are all covered by the same list.
// Statements the server prepares for its own work (system procedures reading the catalogue) are
// not recorded.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/catalog.h"

namespace tabsrv {

class Permissions {
 public:
  // Installs the authorizer on `db` for the login `suid` (1 is sa).
  Permissions(sqlite3* db, int32_t suid);
  ~Permissions();
  Permissions(const Permissions&) = delete;
  Permissions& operator=(const Permissions&) = delete;

  // sa keeps every right.
  bool privileged() const { return suid_ == 1; }

  // Records what SQLite touches while one statement is prepared (nests: the outer window wins).
  class Recording {
   public:
    explicit Recording(Permissions& p) : p_(p), outer_(p.recording_) {
      if (!outer_) p_.accesses_.clear();
      p_.recording_ = true;
    }
    ~Recording() { p_.recording_ = outer_; }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

   private:
    Permissions& p_;
    bool outer_;
  };

  // One table or column SQLite touched while a statement was prepared.
  struct Access {
    int action = 0;  // SQLITE_READ, SQLITE_INSERT, SQLITE_UPDATE, SQLITE_DELETE
    std::string table;
    std::string column;
    std::string via;  // the view (SQLite name) that led to the table, or empty
  };
  using Accesses = std::vector<Access>;

  // What the last recording window saw; the list starts empty again.
  Accesses takeRecorded();

  // Decides on what the last recording window saw while `sql` was prepared. Throws SqlError 10351
  // for a database the login is no user of (and that has no guest), 229 "<ACTION> permission
  // denied on object <o>, database <d>, owner <u>." for an object right the user lacks, 230 for
  // the password column of syslogins, 259 for a write to a system table while "allow updates to
  // system tables" is off.
  void check(std::string_view sql);
  // The same for `accesses`, recorded while `sql` was prepared (a statement kept prepared and
  // run again is decided on again).
  void check(std::string_view sql, const Accesses& accesses);

  // What a check decides by besides the accesses and the catalogue: the ownership chain and the
  // view a change goes through. The same accesses checked in equal contexts against an unchanged
  // catalogue are decided the same way.
  struct Context {
    std::optional<std::pair<std::string, int32_t>> chain;
    std::optional<std::pair<std::string, std::string>> through;
    bool operator==(const Context&) const = default;
  };
  Context context() const { return Context{chain_, through_}; }

  // The user the login is in `database`; throws 10351 when it is none (and there is no guest).
  DbUser requireUser(const std::string& database);

  // DDL, GRANT and TRUNCATE on an existing object: only its owner, the database owner and sa.
  // Throws 10330 "<COMMAND> permission denied on object <o>, database <d>, owner <u>.".
  void requireOwner(const std::string& command, const std::string& database, const std::string& owner,
                    const std::string& name);

  // CREATE TABLE, VIEW, PROCEDURE, RULE and DEFAULT in `database` (`action` one of the
  // kActionCreate* numbers, `command` as the error names it): sa, the database owner, or a user
  // granted the statement permission (itself, its group or public). Throws 10351 for a database
  // the login is no user of, 262 "<COMMAND> permission denied, database <d>, owner dbo." else.
  void requireCreate(const std::string& database, int32_t action, const std::string& command);
  // True when the login may grant and revoke statement permissions in `database`: sa and the
  // database owner.
  bool ownsDatabase(const std::string& database);

  // The same for the object with sysobjects.id `id` in `database` (rules, defaults, triggers).
  void requireOwner(const std::string& command, const std::string& database, int32_t id);

  // EXECUTE of a stored procedure: owner, sa, a grant in sysprotects, or an ownership chain from
  // the procedure or trigger that calls it. Throws 229.
  void requireExecute(const std::string& database, int32_t procId, const std::string& owner,
                      const std::string& name);

  // Objects owned by the owner of a running procedure or trigger need no rights of the caller
  // (the family's ownership chain). Sets the chain for its lifetime and restores the outer one.
  // A change made through a view: while it lives, what the statement does to the view's base table
  // (SQLite name `base`) is judged as done to the view (SQLite name `view`); the base table itself
  // is then checked only when its owner is not the view's (no ownership chain).
  class ThroughView {
   public:
    ThroughView(Permissions& p, std::string base, std::string view) : p_(p), previous_(p.through_) {
      p_.through_ = std::make_pair(std::move(base), std::move(view));
    }
    ~ThroughView() { p_.through_ = previous_; }
    ThroughView(const ThroughView&) = delete;
    ThroughView& operator=(const ThroughView&) = delete;

   private:
    Permissions& p_;
    std::optional<std::pair<std::string, std::string>> previous_;
  };

  class Chain {
   public:
    Chain(Permissions& p, const std::string& database, const std::string& owner);
    // The same for the owner's user id in `database` when it is known already (-1: no such user).
    Chain(Permissions& p, const std::string& database, int32_t ownerUid);
    ~Chain();
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

   private:
    Permissions& p_;
    std::optional<std::pair<std::string, int32_t>> previous_;
  };

 private:
  struct Object {
    std::string database, owner, name, type;
    int32_t id = 0;
    int32_t uid = 0;
  };
  static int authorize(void* self, int action, const char* a, const char* b, const char* dbName,
                       const char* via);
  // The object a SQLite table or view name stands for, or nothing for the server's own tables.
  std::optional<Object> objectOf(const std::string& sqliteName);
  // Whether the login's user in `o.database` holds `action` on `o` (owner, chain, sysprotects).
  bool holds(const Object& o, int32_t action);
  bool allowUpdates();
  [[noreturn]] void deny(const char* verb, const Object& o);

  sqlite3* db_;
  int32_t suid_;
  bool recording_ = false;
  std::vector<Access> accesses_;
  std::optional<std::pair<std::string, int32_t>> chain_;  // database, owner uid
  std::optional<std::pair<std::string, std::string>> through_;  // base table, view (SQLite names)
  std::map<std::string, std::optional<Object>> objects_;  // per check()
  std::map<std::string, std::optional<DbUser>> users_;    // per check()
};

}  // namespace tabsrv
