// TQorixDirService: lists the server names the directory service knows (the server entries
// of the interfaces file the context uses), on a connection structure of its own or on the
// one of a linked database.
#pragma once

#include <QStringList>
#include <vector>

#include "access/Classes.h"
#include "access/QorixErrorHandling.h"
#include "access/Qorix_Components.h"

// The directory-service lookup component.
class TQorixDirService : public TComponent, public TQorixDiagTarget {
 public:
  // ShowDbMessages [smDbMsg, smDbErr]; no connection yet.
  explicit TQorixDirService(TComponent* owner = nullptr);
  // Drops the found objects and the connection structure when they are the service's own.
  ~TQorixDirService() override;

  // Rich windows for messages and errors.
  TMsgDialogs MsgDialogs;
  // Show messages, show errors.
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};
  // The name of the database to find when Database is not linked.
  QString DbName;
  // The context to look up in when no database is involved.
  QString ContextName;

  // The linked connection, or null.
  TQorixDatabaseBase* Database() const { return database_; }
  // Links Database; the link clears itself when that database is destroyed.
  void SetDatabase(TQorixDatabaseBase* database);
  // Clears Database when that database is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

  // Runs the directory lookup; raises EQxMissingException without DbName, Database and
  // ContextName, and EDatabaseError when the context or a library call fails.
  void Lookup();
  // The names of the found servers in directory order, looking them up on first use.
  const QStringList& GetServerNames();
  // The objects the last lookup found.
  const std::vector<CS_DS_OBJECT*>& FoundObjects() const { return found_; }

  // The CS_DS_LOOKUP_CB callback: appends each object to the list User points to and asks
  // for the next one.
  static CS_RETCODE DirectoryLookupCallback(CS_CONNECTION* con, CS_INT reqid, CS_RETCODE status,
                                            CS_INT numentries, CS_DS_OBJECT* object, CS_VOID* user);

 private:
  // What a lookup ran with: a change in any of these makes its found objects stale.
  struct TSource {
    TQorixDatabaseBase* database = nullptr;
    CS_CONNECTION* databaseConnection = nullptr;
    QString databaseContext;  // the linked database's ContextName
    QString dbName;
    QString contextName;
    bool operator==(const TSource&) const = default;
  };
  TSource CurrentSource() const;
  void DropFoundObjects();

  TQorixDatabaseBase* database_ = nullptr;
  CS_CONTEXT* context_ = nullptr;
  CS_CONNECTION* connection_ = nullptr;
  bool ownConnection_ = false;
  CS_CONTEXT* ownContext_ = nullptr;  // the context the own connection structure was allocated on
  TSource lookedUpWith_;
  CS_RETCODE lastResult_ = CS_SUCCEED;
  // A growing list: an interfaces file may hold any number of servers.
  std::vector<CS_DS_OBJECT*> found_;
  bool lookedUp_ = false;
  QStringList names_;
};
