// TQorixDatabase: the suite's connection component. One Client-Library connection with its
// login data and login dialog, connection properties, server options, transactions, the
// idle-disconnect timer, DbParams lines and the information queries it runs on its own.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "access/QorixErrorHandling.h"
#include "access/Qorix_Components.h"

class QTimer;
class TQorixDatabase;
class TQorixEnhQuery;

// What the login dialog shows and returns; the widget (QxPasswordDlg.h) only displays it.
struct TQxLoginData {
  QString UserName;
  QString Password;
  QString ServerName;
  QString Rdbms;
  QStringList ServerList;
  bool ServerPrompt = true;
  bool ServerShow = true;
  bool RdbmsPrompt = true;
  bool RdbmsShow = true;
};

// Runs the login dialog on Data; true for OK (Data then holds what the user entered).
using TLoginDialogFunc = std::function<bool(TQxLoginData& data)>;
// Installs the function Connect uses to show the login dialog (null: no dialog, the login is
// cancelled); returns the previous. The widget library installs TQxPasswordDlg's.
TLoginDialogFunc SetLoginDialog(TLoginDialogFunc dialog);

// The connection component.
class TQorixDatabase : public TQorixDatabaseBase, public TQorixDiagTarget {
 public:
  // The defaults; creates the "default" context when none exists and fills ServerList.
  explicit TQorixDatabase(TComponent* owner = nullptr);
  // Disconnects without firing events, leaves DatabaseList and frees the "default" context
  // only when a database created it and no database is left.
  ~TQorixDatabase() override;

  // Replaces a stored ServerList by the names found at construction.
  void Loaded() override;
  // Registers in DatabaseList and renames the DbName of every bound component that named it.
  void SetName(const QString& name) override;

  // --- Handles ----------------------------------------------------------------------------
  // The context handle of the last GetContextHandle.
  CS_CONTEXT* ContextHandle() const override { return context_; }
  // The connection handle (null before a login and after a failed one).
  CS_CONNECTION* ConnectionHandle() const override { return connection_; }
  // Looks the context up by ContextName; raises "Error allocating a Context".
  CS_CONTEXT* GetContextHandle() override;
  // ContextName.
  QString GetContextName() const override { return ContextName; }
  // A connection's error texts carry no "Line" part.
  bool DiagLineAllowed() const override { return false; }

  // --- What the command engines call (TQorixDatabaseBase) --------------------------------
  // Connected.
  bool IsConnected() const override { return connected_; }
  // Connect.
  void DoConnect() override { Connect(); }
  // ServerName.
  QString GetServerName() const override { return ServerName; }
  // Rdbms.
  QString GetRdbms() const override { return Rdbms; }
  // ProcOptions.
  TProcOptions GetProcOptions() const override { return ProcOptions; }
  // ApplyProcOptions(Options).
  void SetProcOptions(const TProcOptions& options) override { ApplyProcOptions(options); }
  // TextSize.
  int GetTextSize() const override { return textSize_; }
  // ApplyDbParams(this, Params).
  void ApplyDbParams(const QStringList& params) override { ApplyDbParams(this, &params); }

  // --- Events -----------------------------------------------------------------------------
  // Fired after the idle timer disconnected.
  TNotifyEvent OnTimerDisConnect;
  // Fired by Connect after DbParams, before anything is allocated.
  TNotifyEvent BeforeConnect;
  // Fired after a successful login and its set-up steps.
  TNotifyEvent AfterConnect;
  // Fired first by every Disconnect.
  TNotifyEvent BeforeDisConnect;
  // Fired last by every Disconnect, also when it was not connected.
  TNotifyEvent AfterDisConnect;
  // Fired once per Connect when the server reports an expired password (4022, 7742).
  TNotifyEvent OnPwdExpired;

  // --- Plain properties -------------------------------------------------------------------
  // Free text, no behaviour.
  QString About;
  // Rich windows for messages and errors.
  TMsgDialogs MsgDialogs;
  // Show messages, show errors.
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};
  // Stored and copied only.
  bool EmulateASE = false;
  // Trace lines to the SQL monitor.
  bool Monitor = false;
  // Switches the Client-Library debug trace on (with DebugFile and DebugOptions).
  bool Debug = false;
  // The Client-Library debug file.
  QString DebugFile;
  // The interfaces file as configured ($SYBASE/interfaces); stored and copied only.
  QString IniFile;
  // The server family: "Sybase SQL Server" or "SQLAnywhere".
  QString Rdbms = QStringLiteral("Sybase SQL Server");
  // Sent at login.
  QString AppName;
  // Sent at login; overwritten after login with the client host name.
  QString HostName;
  // The login's password.
  QString Password;
  // The login name.
  QString UserName;
  // The context the connection runs in.
  QString ContextName = QStringLiteral("default");
  // The server entry to connect to.
  QString ServerName = QStringLiteral("DSQUERY");
  // Show the login dialog at Connect.
  bool LoginPrompt = true;
  // The server box of the login dialog is enabled.
  bool ServerPrompt = true;
  // The server box of the login dialog is shown.
  bool ServerShow = true;
  // The RDBMS box of the login dialog is enabled.
  bool RdbmsPrompt = true;
  // The RDBMS box of the login dialog is shown.
  bool RdbmsShow = true;
  // A login error raises.
  bool ConnectError = true;
  // The server names the directory service found.
  QStringList ServerList;
  // Optional connection properties.
  TConProps ConProps;
  // The server options to apply (sent only through ApplyProcOptions).
  TProcOptions ProcOptions;
  // Close with CS_FORCE_CLOSE.
  bool ForceClose = false;
  // Stored and copied only.
  bool AbortOnPwdExp = false;
  // KEY=VALUE lines applied at Connect when UseParams is set.
  QStringList Params;
  // Apply Params at Connect.
  bool UseParams = false;
  // A statement run after every login.
  QString InitString;
  // A statement the idle timer runs instead of disconnecting.
  QString IdleSQL;
  // The external configuration file.
  TQxRuntimeConfig RuntimeConfig;

  // --- Properties with accessors ---------------------------------------------------------
  // The current database ("master").
  const QString& DbName() const { return dbName_; }
  // Stores Name; when connected, switches to it with "USE" (only a valid identifier).
  void SetDbName(const QString& name);
  // True between a completed login and Disconnect.
  bool Connected() const { return connected_; }
  // True runs Connect, false Disconnect.
  void SetConnected(bool value);
  // The isolation level.
  TTransLevel TransLevel() const { return transLevel_; }
  // Stores; when connected sends the isolation level (0, 1 or 3).
  void SetTransLevel(TTransLevel level);
  // The text size sent after login (32768).
  int TextSize() const { return textSize_; }
  // Stores; when connected sends it.
  void SetTextSize(int size);
  // The row count limit (0 = none).
  int RowCount() const { return rowCount_; }
  // Stores; when connected to a "Sybase SQL Server" sends it.
  void SetRowCount(int count);
  // The packet size; when connected, the size the connection really uses.
  int PacketSize();
  // Stores only (sent at the next login).
  void SetPacketSize(int size) { packetSize_ = size; }
  // The debug switches.
  TDebugOptions DebugOptions() const { return debugOptions_; }
  // Stores; with Debug and a DebugFile sends the file and every switch.
  void SetDebugOptions(TDebugOptions options);
  // Idle minutes before the timer disconnects (0 = off).
  int IdleTime() const { return idleTime_; }
  // Stores; below 1 removes the timer, else (re)starts it at Minutes * 60000 ms.
  void SetIdleTime(int minutes);
  // The context's language (empty without that context).
  QString Language() const;
  // Sets the context's language (nothing without that context).
  void SetLanguage(const QString& value);
  // The context's sort order.
  QString SortOrder() const;
  // Sets the context's sort order.
  void SetSortOrder(const QString& value);
  // The context's character set.
  QString CharSet() const;
  // Sets the context's character set.
  void SetCharSet(const QString& value);
  // The context's CS_MAX_CONNECT (0 without that context).
  int MaxConnect() const;
  // Sets the context's CS_MAX_CONNECT.
  void SetMaxConnect(int value);
  // The context's CS_TIMEOUT in seconds (0 without that context).
  int TimeOut() const;
  // Raises "Invalid TimeOut value" below 1.
  void SetTimeOut(int value);
  // The Client-Library version text of the context.
  QString GetQorixVersion() const;
  // Whether the server reported an open transaction after the last transaction command.
  bool InTransaction() const { return inTransaction_; }
  // The last-applied server options.
  TProcOptions AppliedProcOptions() const { return applied_; }
  // The internal query the connection runs its own SQL through.
  TQorixEnhQuery* InternalQuery() const { return query_; }
  // The idle timer, or null while IdleTime is below 1.
  QTimer* IdleTimer() const { return idleTimer_; }
  // When the connection was made.
  QDateTime ConnectTime() const { return connectTime_; }
  // When the connection was last used (the idle timer's reset, Disconnect).
  QDateTime LastActivity() const { return lastActivity_; }

  // --- Operations -------------------------------------------------------------------------
  // Logs in (see the steps in QorixDatabase.cpp); on a connected database only refreshes the
  // context handle.
  void Connect();
  // Closes the connection and drops its handle; fires the disconnect events.
  void Disconnect();
  // The first database of DatabaseList named exactly Name, or null.
  static TQorixDatabase* FindDatabase(const QString& name);
  // A fresh component name: "db_" + day, hour, minute, second, millisecond and a counter.
  static QString MakeDatabaseName();
  // The same for the clock reading At.
  static QString MakeDatabaseName(const QDateTime& at);
  // Cancels everything pending on the connection.
  void CancelCommands();
  // Runs "SELECT 1" and asks the connection's status; true while it is alive.
  bool PingConnection();
  // With Monitor and an owner, sends Text to the SQL monitor.
  void MonitorLine(const QString& text);
  // Lists the server names of the context's directory into ServerList, sorted.
  void FillServerList();
  // Sends the server options whose membership differs from the last-applied set.
  void ApplyProcOptions(TProcOptions options);
  // Runs "BEGIN TRAN " + Name (empty or an identifier), then reads InTransaction.
  void BeginTran(const QString& name = QString());
  // Runs "COMMIT TRAN " + Name, then reads InTransaction.
  void CommitTran(const QString& name = QString());
  // Runs "ROLLBACK TRAN " + Name, then reads InTransaction.
  void RollbackTran(const QString& name = QString());
  // The server's @@trancount (0 when not connected).
  int GetTranCount();
  // Reads @@trancount into InTransaction again: a trigger's rollback or a failed statement can
  // end the transaction on the server behind the connection's back.
  void RefreshTransactionState();
  // The server's @@version banner (empty when not connected).
  QString GetServerVersion();
  // Called before every command: restarts the idle timer.
  void ResetIdleTimer() override;
  // The idle timer's handler: runs IdleSQL or disconnects; skipped while work is in flight.
  void IdleTimerTick();
  // Applies KEY=VALUE lines to Database; raises "Missing DbParams" / "Database name missing".
  static void ApplyDbParams(TQorixDatabase* database, const QStringList* params);
  // Splits Line at the first "=" into the upper-cased trimmed key and the trimmed value;
  // false when the line holds no "=".
  static bool SplitKeyValue(const QString& line, QString& key, QString& value);
  // Copies Source's settings (not Language and RdbmsPrompt).
  void AssignSettings(const TQorixDatabase& source);

  // --- Work in flight ---------------------------------------------------------------------
  // Marks the connection busy (a statement is running on it, from any thread).
  void BeginWork() { ++busy_; }
  // Ends a BeginWork.
  void EndWork() { --busy_; }
  // True while a statement runs on the connection.
  bool IsBusy() const { return busy_.load() > 0; }
  // Counts the logins of this component: a command or unread rows of an earlier session (before
  // a disconnect) are recognised by their older number.
  uint64_t SessionNumber() const { return session_; }
  // Answers whether some component still has unread rows on Db's connection; the idle timer
  // neither runs IdleSQL into them nor disconnects under them. The dataset layer sets it.
  static std::function<bool(const TQorixDatabase& db)>& PendingRowsCheck() {
    static std::function<bool(const TQorixDatabase&)> check;
    return check;
  }
  // Called by Disconnect (and so by the destructor) while the session is still there, before
  // anything is cancelled: components close what they hold on the server (open cursors, whose
  // client state only a sent close releases). The dataset layer sets it.
  static std::function<void(TQorixDatabase& db)>& BeforeCloseHook() {
    static std::function<void(TQorixDatabase&)> hook;
    return hook;
  }
  // Holds the connection busy for its lifetime.
  class TBusyGuard {
   public:
    explicit TBusyGuard(TQorixDatabase* db) : db_(db) {
      if (db_) db_->BeginWork();
    }
    ~TBusyGuard() {
      if (db_) db_->EndWork();
    }
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

   private:
    TQorixDatabase* db_;
  };

  // The login dialog's data as Connect would show it (for the dialog and its tests).
  TQxLoginData LoginData() const;

 private:
  void ReleaseConnection(bool close);
  void CheckConnected();
  void SetConProp(CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT length, int failText);
  void PrepareInternalQuery(bool cursor);
  void RunExec(const QString& sql, bool cursor = false);
  QString RunRead(const QString& sql, bool cursor, bool* gotRow);
  void RunTransaction(const QString& verb, const QString& name);
  // Sends one option on the open connection; false when it was refused.
  bool SendOption(CS_INT option, CS_INT value);
  void CheckMessages(bool raiseOnError);

  CS_CONTEXT* context_ = nullptr;
  CS_CONNECTION* connection_ = nullptr;
  std::atomic<bool> connected_{false};  // read by engines on the result grid's worker
  bool connecting_ = false;
  QString dbName_ = QStringLiteral("master");
  TTransLevel transLevel_ = tlLevel1;
  int textSize_ = 32768;
  int rowCount_ = 0;
  int packetSize_ = 512;
  TDebugOptions debugOptions_;
  int idleTime_ = 0;
  QTimer* idleTimer_ = nullptr;
  TQorixEnhQuery* query_ = nullptr;  // the internal query, owned
  bool inTransaction_ = false;
  TProcOptions applied_;
  QDateTime connectTime_;
  QDateTime lastActivity_;
  QStringList foundServers_;
  bool pwdExpiredFired_ = false;
  std::atomic<int> busy_{0};
  uint64_t session_ = 0;
};
