// TQorixQuery: the suite's simplest SQL component. It sends one text as a language command or
// through a cursor, walks every row result into the row buffers and reports rows, compute
// rows, return status, row counts and messages through events and the texts it stores.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "access/Classes.h"
#include "access/QorixErrorHandling.h"
#include "access/Qorix_Components.h"

class TQorixCustomQuery;

// A non-visual component that runs one SQL text; not a dataset.
class TQorixQuery : public TComponent, public TQorixDiagTarget {
 public:
  // CurFetchRows 10, AutoConnect on, ShowDbMessages [smDbMsg, smDbErr].
  explicit TQorixQuery(TComponent* owner = nullptr);
  // Closes an open cursor and cancels what is pending.
  ~TQorixQuery() override;

  // The SQL text.
  QString Sql;
  // True once Execute has run; setting it True (when not yet active) prepares a command handle
  // and connects the database, setting it False cancels and drops the handle.
  bool Active() const { return active_; }
  void SetActive(bool value);
  // The connection's component name; changing it drops the command handle.
  const QString& DbName() const { return dbName_; }
  void SetDbName(const QString& value);
  // The connection (found by DbName when not set).
  TQorixDatabaseBase* Database() const;
  void SetDatabase(TQorixDatabaseBase* database);
  // Declare the cursor read-only (else for update).
  bool ReadOnly = false;
  // Run through a cursor.
  bool IsCursor = false;
  // The cursor's rows per fetch.
  int CurFetchRows = 10;
  // Row limit per run (0: none); OnMaxRows fires once when reached.
  int MaxRows = 0;
  // Read columns with ct_get_data instead of binding.
  bool TextImage = false;
  // Connect a closed database at Execute.
  bool AutoConnect = true;
  // End the run silently at a negative return status.
  bool AbortOnNegStatus = false;
  // Trace lines to the SQL monitor (with an owner).
  bool Monitor = false;
  // Trim column texts.
  bool TrimResults = false;
  // Re-format datetime texts in the platform's form.
  bool LumicDtFmt = false;
  // Rich message windows for messages and errors.
  TMsgDialogs MsgDialogs;
  // Show messages and errors.
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};
  // Free text, no behaviour.
  QString About;
  // Raise errors (an owning list view may switch it off to show them instead).
  bool RaiseErrors = true;

  // The events, each with this component as Sender: columns bound, row limit reached, before
  // the send, return status read, compute row read, after Execute, and after each command
  // (BeforeCommand is kept but never fired).
  TNotifyEvent OnHeader;
  TNotifyEvent OnMaxRows;
  TNotifyEvent BeforeExec;
  TNotifyEvent OnReturnStatus;
  TNotifyEvent OnComputeRow;
  TNotifyEvent AfterExec;
  TNotifyEvent BeforeCommand;
  TNotifyEvent AfterCommand;

  // Runs Sql up to its first row (which becomes current); returns the last Client-Library
  // return code (CS_SUCCEED), or 0 when nothing could run.
  virtual int Execute();
  // True while a row is current: the first call after Execute reports its row, later calls
  // fetch the next one, going on into the following row results.
  virtual bool NextRow();
  // Ends what is pending.
  void Cancel();

  // Columns of the current row result (1-based).
  int ColumnCount() const;
  // The column's text (empty for NULL), NULL state, name and datatype name.
  QString GetFieldValue(int index) const;
  bool FieldIsNull(int index) const;
  QString GetFieldName(int index) const;
  QString GetFieldTypeName(int index) const;
  // The last compute row's column Index.
  QString GetComputeValue(int index) const;
  // The row count of the last command.
  int RowCount() const;
  // The return status (0 until one is read).
  int ReturnStatus() const;
  // The select-list columns (1-based) the current row result is ordered by; empty when none.
  std::vector<int> OrderByColumns() const;
  // Whether rows, a compute row or a return status were seen in this run.
  bool RowsSeen() const { return rowsSeen_; }
  bool ComputeRowSeen() const { return computeSeen_; }
  bool ReturnStatusSeen() const { return statusSeen_; }

  // Store the text or record here and in an owner of a known class.
  void SetLastError(const QString& text) override;
  void SetLastMessage(const QString& text) override;
  void SetLastServerMsg(const CS_SERVERMSG& msg) override;
  // Forgets Database when it is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

 private:
  class Engine;
  void Route(int kind, const QString* text, const CS_SERVERMSG* msg);
  Engine* engine_ = nullptr;  // owned through TComponent
  TQorixDatabaseBase* database_ = nullptr;
  QString dbName_;
  bool active_ = false;
  bool firstRowPending_ = false;
  bool firstRowHad_ = false;
  bool rowsSeen_ = false, computeSeen_ = false, statusSeen_ = false;
};
