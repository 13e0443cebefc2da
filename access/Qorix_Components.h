// What the suite's components share beyond the context: the option types they publish, the
// process-wide component lists with their registry lock, the connection interface the lists
// hold, the persistent sub-objects and the one-way channel to the external SQL monitor.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "access/Classes.h"
#include "access/TSet.h"
#include "access/ctlib/ctlib.h"

// Rich windows for messages and errors.
enum TMsgDialog { mdEnhMsg, mdEnhErr };
using TMsgDialogs = TSet<TMsgDialog, 2>;

// Show messages, show errors.
enum TShowDbMessage { smDbMsg, smDbErr };
using TShowDbMessages = TSet<TShowDbMessage, 2>;

// Client-Library debug switches of a connection.
enum TDebugOption { doAll, doApi_States, doDiag, doError, doMem, doNetwork, doProtocol, doProtocol_States };
using TDebugOptions = TSet<TDebugOption, 8>;

// Optional connection properties.
enum TConProp {
  cpAnsiBinds,
  cpAsync,
  cpAsync_Notifs,
  cpBulk_Login,
  cpConnect_Only,
  cpDiag_Timeout,
  cpExtra_Inf,
  cpHidden_Keys,
  cpLogin_Status,
  cpSec_Encryption,
  cpSec_Negotiate
};
using TConProps = TSet<TConProp, 11>;

// Server options applied to a connection.
enum TProcOption {
  poAnsiNull,
  poAnsiPerm,
  poArithAbort,
  poArithIgnore,
  poChainXActs,
  poFipsFlag,
  poForcePlan,
  poFormatOnly,
  poNoCount,
  poNoExec,
  poParseOnly,
  poQuotedIdent,
  poRestrees,
  poShowPlan,
  poStatsIo,
  poStatsTime,
  poStrRTrunc,
  poTruncIgnore
};
using TProcOptions = TSet<TProcOption, 18>;

// Transaction isolation level, in the order the connection publishes them.
enum TTransLevel { tlLevel1, tlLevel0, tlLevel3 };

// Options of the server datasets.
enum TSQLOption {
  soUseTransaction,
  soUseTransactionOnCache,
  soUseStoredProcsForUpdates,
  soAutoFetchAll,
  soProcessMessages,
  soCheckFieldRequired
};
using TSQLOptions = TSet<TSQLOption, 6>;

// How a stored procedure's parameters are bound.
enum TParamBindMode { pbByName, pbByNumber };

// The eight views of the server-process list.
enum TQxProcessInfoType {
  pitProcesses,
  pitBlocking,
  pitClients,
  pitClientPrograms,
  pitEngineActivity,
  pitLoading,
  pitStatus,
  pitLocks
};

// The diagnostics events, each a notification with the component as Sender.
using TOnDbErrorEvent = TNotifyEvent;
using TAfterDbErrorEvent = TNotifyEvent;
using TOnDbMessageEvent = TNotifyEvent;
using TAfterDbMessageEvent = TNotifyEvent;

// What the lists and the foundation need of a connection component; TQorixDatabase derives
// from it and supplies the handles.
class TQorixDatabaseBase : public TComponent {
 public:
  using TComponent::TComponent;
  // The context handle the connection runs in (null before GetContextHandle found one).
  virtual CS_CONTEXT* ContextHandle() const = 0;
  // The Client-Library connection handle (null before the first connect).
  virtual CS_CONNECTION* ConnectionHandle() const = 0;
  // Looks the context up by the connection's ContextName; raises "Error allocating a Context".
  virtual CS_CONTEXT* GetContextHandle() = 0;
  // The name of the context the connection runs in (its ContextName).
  virtual QString GetContextName() const { return {}; }

  // What the command engines read and call on their connection; TQorixDatabase overrides
  // each. The defaults describe a connection that never logs in.
  // True while the connection is logged in.
  virtual bool IsConnected() const { return false; }
  // Logs in (the engines' AutoConnect); a failed login may raise or leave it unconnected.
  virtual void DoConnect() {}
  // The server name the connection logs in to ("Cannot login to server '%s'").
  virtual QString GetServerName() const { return {}; }
  // The server family: "Sybase SQL Server" or "SQLAnywhere".
  virtual QString GetRdbms() const { return QStringLiteral("Sybase SQL Server"); }
  // Restarts the idle timer: every run counts as activity.
  virtual void ResetIdleTimer() {}
  // The server options currently applied.
  virtual TProcOptions GetProcOptions() const { return {}; }
  // Applies Options, sending only the members that changed.
  virtual void SetProcOptions(const TProcOptions& /*options*/) {}
  // The session's text size (the largest text or image value the server sends).
  virtual int GetTextSize() const { return 32768; }
  // Applies KEY=VALUE lines to the connection (an engine's AutoDbParams).
  virtual void ApplyDbParams(const QStringList& /*params*/) {}
};

// Creates the private connection of an AutoDb engine: a TQorixDatabase owned by Owner and
// named with MakeDatabaseName. TQorixDatabase installs it; empty until then.
using TAutoDatabaseFactory = std::function<TQorixDatabaseBase*(TComponent* owner)>;
// The factory in use.
TAutoDatabaseFactory& AutoDatabaseFactory();

// The registry lock: serialises RegisterDatabase and every change of the lists below.
std::recursive_mutex& RegistryLock();

// The named connection components, in registration order.
std::vector<TQorixDatabaseBase*>& DatabaseList();
// The database-bound components (TQorixBase descendants), in registration order.
std::vector<TComponent*>& DbAwareComponentList();
// The server datasets.
std::vector<TComponent*>& DataSetList();

// Under the registry lock: replaces Database's entry in DatabaseList in place or appends it.
void RegisterDatabase(TQorixDatabaseBase* database);
// Takes Database out of DatabaseList (a destructor's last step).
void UnregisterDatabase(TQorixDatabaseBase* database);
// The first database in DatabaseList whose component name equals Name exactly, or null.
TQorixDatabaseBase* FindDatabase(const QString& name);
// Under the registry lock: replaces Component's entry in List in place or appends it.
void RegisterComponent(std::vector<TComponent*>& list, TComponent* component);
// Under the registry lock: takes Component out of List.
void UnregisterComponent(std::vector<TComponent*>& list, TComponent* component);

// A connection's external configuration.
class TQxRuntimeConfig {
 public:
  QString ConfigFile;
  bool UseConfigFile = false;
  bool ConfigByServerName = false;
  // Copies every field of Source.
  void Assign(const TQxRuntimeConfig& source) { *this = source; }
};

// A table dataset's extra clauses.
class TQxSelectOptions {
 public:
  QString GroupBy;
  QString Having;
  QString OrderBy;
  // Copies every field of Source.
  void Assign(const TQxSelectOptions& source) { *this = source; }
};

// A window handle as the monitor channel carries it (the sender of a trace line).
using THandle = uint64_t;

// The identifier every monitor frame carries (the dwData of the original channel).
inline constexpr uint32_t kSqlMonitorId = 99;

// Sends one trace line to the SQL monitor: a datagram to the local socket named after the
// monitor window, framed as id (uint32 LE, 99), data length (uint32 LE, the line's UTF-8
// length + 1), Sender (uint64 LE) and the NUL-terminated line. Never raises; with no monitor
// listening the line is dropped at once, and a monitor that falls behind delays a line by at
// most 20 ms before it is dropped. Safe from any thread.
void SendToSqlMonitor(THandle sender, const QString& text);

// The abstract-namespace socket name the monitor binds ("tabulon-sqlmonitor/CLASS/TITLE").
std::string SqlMonitorSocketName();
// Names the monitor window looked for (class "tf_main", title "Stelvane" unless changed).
void SetSqlMonitorWindow(const QString& className, const QString& title);
