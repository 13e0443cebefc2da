// The suite's synchronous command engines: TQorixCustomQuery (send, result loop, columns,
// parameters, cursors, prepared statements, row history), TQorixEnhQuery for free SQL and
// TQorixStoredProc for one stored procedure called by name. The engine reads its connection
// only through TQorixDatabaseBase (IsConnected, DoConnect, GetServerName, GetRdbms, ...).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <bitset>
#include <memory>
#include <string>
#include <vector>

#include "access/Classes.h"
#include "access/QorixErrorHandling.h"
#include "access/QorixParams.h"
#include "access/Qorix_Components.h"
#include "access/QxClasses.h"
#include "access/UiServices.h"

// Server families the engines tell apart (the connection's Rdbms).
enum TQorixServerType : uint8_t { stSybaseSqlServer = 0, stSqlAnywhere = 1 };

// The "Sybase SQL Server" family name.
inline const QString kRdbmsSybase = QStringLiteral("Sybase SQL Server");
// The "SQLAnywhere" family name.
inline const QString kRdbmsSqlAnywhere = QStringLiteral("SQLAnywhere");

// The field type of a server datatype name ("varchar" ftString, "int" ftInteger ...): exact,
// case-sensitive; ftUnknown for any other name.
TFieldType TypeNameToFieldType(const QString& typeName);

// The command engine: runs one statement text (or one stored procedure) on a connection through
// a command handle of its own and walks every result.
class TQorixCustomQuery : public TComponent, public TQorixDiagTarget {
 public:
  // CurFetchRows 10, AutoConnect on, ShowDbMessages [smDbMsg, smDbErr], statement id "PrepId".
  explicit TQorixCustomQuery(TComponent* owner = nullptr);
  // Closes the command (cursor, pending results, handle) and frees the private connection.
  ~TQorixCustomQuery() override;

  // ---- connection ----
  // The connection to run on, or null.
  TQorixDatabaseBase* Database() const { return database_; }
  // Links Database (null unlinks); the link clears itself when that database is destroyed.
  void SetDatabase(TQorixDatabaseBase* database);
  // The component name of the connection, used when Database is null.
  QString DbName;
  // Connect the database when it is not connected.
  bool AutoConnect = true;
  // Create a private connection at Open.
  bool AutoDb() const { return autoDb_; }
  // Setting it True also sets UseDbParams.
  void SetAutoDb(bool value);
  // KEY=VALUE lines applied to the private connection.
  QStringList AutoDbParams;
  // Apply AutoDbParams to the private connection.
  bool UseDbParams = false;

  // ---- switches ----
  // Row limit per run; 0 or less means no limit.
  int MaxRows = 0;
  // Trim column texts read through the accessors.
  bool TrimResults = false;
  // Re-format datetime texts in the platform's short date and long time form.
  bool LumicDtFmt = false;
  // Read rows column by column with ct_get_data instead of binding.
  bool TextImage = false;
  // Keep fetched rows in memory (see RewindHistory).
  bool KeepHistory = false;
  // Abort silently when a return status is negative.
  bool AbortOnNegStatus = false;
  // Send trace lines to the SQL monitor.
  bool Monitor = false;
  // Show ExecCursor while a stored procedure runs.
  bool UseExecCursor = true;
  // The wait cursor.
  TCursor ExecCursor = crSQLWait;
  // Free text, no behaviour.
  QString About;
  // Rich message windows for errors and messages.
  const TMsgDialogs& MsgDialogs() const { return msgDialogs_; }
  // Stores the set and the two window flags it implies.
  void SetMsgDialogs(const TMsgDialogs& value);
  // Show messages and errors.
  const TShowDbMessages& ShowDbMessages() const { return showDbMessages_; }
  // Stores the set and the two show flags it implies.
  void SetShowDbMessages(const TShowDbMessages& value);

  // ---- statement ----
  // The statement text lines.
  const QStringList& SQL() const { return sql_; }
  // The statement text, lines joined by line ends.
  QString SQLText() const { return sql_.join(QLatin1Char('\n')); }
  // Replaces the lines (only when the text differs, so the change handler runs once).
  virtual void SetSQL(const QStringList& lines);
  // Replaces the text with one line.
  void SetSQL(const QString& text) { SetSQL(QStringList{text}); }
  // Appends one line.
  void AddSQL(const QString& line);
  // Empties the statement.
  void ClearSQL();
  // The parameters (":name" markers of SQL, or the procedure's parameters).
  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  // Declare the cursor read-only (else for update).
  bool ReadOnly = false;
  // Run through a client cursor.
  bool IsCursor = false;
  // Rows per cursor fetch.
  int CurFetchRows = 10;
  // The prepared statement's id (a process-wide counter is appended when it is sent).
  QString StatementId = QStringLiteral("PrepId");

  // ---- events ----
  // Fired once when MaxRows is reached; the run is then cancelled.
  TNotifyEvent OnMaxRows;
  // Fired after the columns of a row result are bound.
  TNotifyEvent OnHeader;
  // Fired just before the statement is sent.
  TNotifyEvent BeforeExec;
  // Fired after Open or ExecSQL completed normally.
  TNotifyEvent AfterExec;
  // Fired for every row handed out.
  TNotifyEvent OnResultRow;
  // Fired once per compute result, its values readable through GetComputeValue.
  TNotifyEvent OnComputeRow;
  // Fired when a return status was read (ReturnStatus).
  TNotifyEvent OnReturnStatus;
  // Fired when output parameters were read (Params, GetParamValue).
  TNotifyEvent OnReturnParams;
  // Stored with the component; the engine never fires it.
  TNotifyEvent BeforeCommand;
  // Fired at the end of every command of the batch (RowCount holds its count).
  TNotifyEvent AfterCommand;

  // ---- running ----
  // Sends the statement and positions on the first row of the first row result; returns 1
  // when the command was sent, 0 when the connection was unusable.
  int Open();
  // Sends the statement and delivers every result through the events, then cancels.
  int ExecSQL();
  // Advances to the next row of the first row result; False when it ran out.
  bool Next();
  // Ends what is pending on the command handle (callers pass CS_CANCEL_ALL).
  void Cancel(int cancelType = CS_CANCEL_ALL);
  // Rows of the last command, or in cursor mode rows fetched.
  int GetRowCount() const { return rowCount_; }
  // Rows of every command of the run added up.
  int TotalRows() const { return totalRows_; }
  // True while a row, cursor or compute result has arrived in this run.
  bool GetHasRows() const { return hasRows_; }
  // The return status of the run (0 until one is read).
  int ReturnStatus() const { return returnStatus_; }
  // The server family of the last run.
  TQorixServerType ServerType() const { return serverType_; }
  // Reads the server family from the connection's Rdbms (other texts leave it as it was).
  void GetServerType();
  // The current command handle (null before the first run).
  CS_COMMAND* CommandHandle() const { return command_; }
  // A cursor name unique in the process: the hour, minute, second and millisecond digits and a
  // process-wide counter ("1057312_7"); the callers append "cur1" or "cur".
  static QString NewCursorName();
  // The next number of the process-wide counter behind cursor names and statement ids.
  static QString NextSerial();
  // The client cursor's name of this run.
  const QString& CursorName() const { return cursorName_; }
  // The cursor's status as the server last reported it (ct_cmd_props CS_CUR_STATUS): element 0
  // always, elements 1 to 5 for the bits 0x1 (declared), 0x2 (open), 0x4 (closed), 0x8 (read
  // only) and 0x10 (updatable). Only element 0 without a cursor.
  std::bitset<6> GetCursorStatus() const;
  // True while a prepared statement is held.
  bool Prepared() const { return prepared_; }

  // ---- columns of the current row (1-based) ----
  // Number of columns of the current row result (or of the last describe).
  int ColumnCount() const { return columnCount_; }
  // The select-list columns (1-based) the current row result is ordered by (ct_res_info
  // CS_NUMORDERCOLS and CS_ORDERBY_COLS, read at each row result); empty when unordered.
  const std::vector<int>& OrderByColumns() const { return orderByColumns_; }
  // The column's text, trimmed when TrimResults; empty for NULL.
  QString GetFieldValue(int index) const;
  // True when the column of the current row is NULL.
  bool FieldIsNull(int index) const;
  // The column's name (describes the statement first when nothing is described yet).
  QString GetFieldName(int index);
  // The column's datatype name ("char" for bound columns; the server's type in TextImage).
  QString GetFieldTypeName(int index) const;
  // The column's maximum length, name length, scale and precision (describing first when
  // nothing is described yet).
  int GetFieldMaxLength(int index);
  int GetFieldNameLength(int index);
  int GetFieldScale(int index);
  int GetFieldPrecision(int index);
  // The column's status bits as set elements (0x1..0x400 as 0..10, 0x2000..0x8000 as 11..13).
  std::bitset<16> GetFieldStatus(int index) const;
  // The set form of a format's status bits, as GetFieldStatus reports them.
  static std::bitset<16> StatusSet(CS_INT status);
  // Number of columns of the current compute row.
  int ComputeColumnCount() const { return computeColumnCount_; }
  // The text of compute column Index of the last compute row.
  QString GetComputeValue(int index) const;
  // The select-list column name a compute column reads.
  QString GetComputeColumnName(int index);
  // The datatype name of a compute column.
  QString GetComputeColumnTypeName(int index) const;
  // Number of returned output-parameter columns of the last run.
  int ParamColumnCount() const { return paramFormats_.Count(); }
  // The name and datatype name of returned output-parameter column Index.
  QString GetParamName(int index) const;
  QString GetParamTypeName(int index) const;
  // The text of returned output-parameter column Index.
  QString GetParamValue(int index) const;
  // A date-time as a parameter sends it: days since 1900-01-01 and 1/300-second ticks
  // (1900-01-01 00:00:00.500 gives days 0, ticks 150).
  static CS_DATETIME DateTimeToCS(const QDateTime& value);
  // The text width of a column by its datatype (never below its name length).
  static int GetDisplayWidth(const TCSColumnData& format);
  // Learns the result columns of SQL without reading rows (IsCursor and ReadOnly stay on).
  void DescribeColumns();
  // The date-time of a server datetime text (fractions of a second dropped); invalid when
  // the text is not one.
  QDateTime ConvertDateTime(const QString& text);

  // ---- row history ----
  // Rows kept by KeepHistory in this run.
  int HistoryCount() const { return static_cast<int>(history_.size()); }
  // Serves the kept rows again from the first: Next reads them before asking the server.
  void RewindHistory() { historyPos_ = 0; }

  // ---- stored form ----
  // The "ParamData" property: Params in their stream form.
  QByteArray ParamData() const { return params_.WriteData(); }
  // Reads the "ParamData" property.
  void SetParamData(const QByteArray& data) { params_.ReadData(data); }

  // ---- diagnostics routing ----
  // Store the text or record here and in a TQorixDatabase or TQorixObjInfo owner.
  void SetLastError(const QString& text) override;
  void SetLastMessage(const QString& text) override;
  void SetLastServerMsg(const CS_SERVERMSG& msg) override;

  // Forgets Database (dropping the commands on it) when it is destroyed.
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  enum class TCommandMode { Language, Rpc };
  // The change handler of SQL.
  virtual void SQLChanged();
  // The base text a stored-procedure engine runs (its procedure name or own SQL).
  virtual void SetBaseText() {}
  // The stored-procedure name ("" for the free-SQL engine).
  virtual QString StoredProcName() const { return {}; }
  // The stored-procedure engine's own statement text ("" when blank or not that engine).
  virtual QString OwnSQLText() const { return {}; }
  // How parameters are bound.
  virtual TParamBindMode BindMode() const { return pbByNumber; }
  bool AutoGetParams() const { return autoGetParams_; }

  // The internal steps of a run.
  int SQLExec();
  int ExecuteCommand(const QString& text);
  int ProcessResults();
  int FetchRow();
  int NextRow();
  void AllocCommand(CS_COMMAND*& command);
  void CloseCommand();
  void CheckDatabase();
  void CheckMessages(bool raiseOnError);
  void MonitorLine(const QString& text) const;
  void Prepare();
  void UnPrepare();
  void BindParams(CS_COMMAND* command);
  // The value of a money or numeric parameter in the server's own type, converted from its
  // exact text (Fmt gets the type, precision and scale); raises for a value that is no number.
  QByteArray ExactParamValue(const TParam& p, CS_DATAFMT& fmt);
  // Raises the error of a money or numeric parameter whose value is no number it can take.
  [[noreturn]] void InvalidNumber(const TParam& p);
  // Refuses a parameter list that BindParams could not send, before anything is sent.
  void CheckParamTypes();
  void CloseCursor();

  TCommandMode commandMode_ = TCommandMode::Language;
  QStringList sql_;
  QString baseText_;       // the text SQLExec sends (SQL, or the procedure's name)
  QString textToPrepare_;  // SQL with its markers turned into "?"
  TParams params_;
  bool autoGetParams_ = true;
  bool processAll_ = false;
  bool stopAfterStatus_ = false;
  // Next goes on into the following row results instead of ending with the first one.
  bool acrossResults_ = false;
  // Errors raise; when off they are stored and reported only.
  bool raiseOnError_ = true;
  // Copies a text (Kind 0 error, 1 message) or the server-message record (2) into the owner.
  virtual void RouteToOwner(int kind, const QString* text, const CS_SERVERMSG* msg);

 private:
  // The arrays one cursor column is bound into: CS_CURSOR_ROWS elements of each.
  struct TCursorColumn {
    CS_INT elementLength = 0;
    std::vector<char> buffer;
    std::vector<CS_INT> copied;
    std::vector<CS_SMALLINT> indicator;
  };
  void ResetRunState();
  void CancelCommand(CS_COMMAND* command);
  bool CommandAlive(CS_COMMAND* command) const;
  // The run's connection was closed, replaced or destroyed under it.
  bool ConnectionGone() const;
  void ForgetOrphans();
  void DropCommand(CS_COMMAND*& command);
  int BindResultColumns(int count);
  int BindComputeColumns(int count);
  int BindParamColumns(int count);
  // Reads the current row's columns with ct_get_data; false when a read failed (the row's
  // values are not to be trusted).
  bool FetchTextImage(int count);
  // Reads one column of the current row; false when ct_get_data failed or was cancelled.
  bool ReadColumnData(int column, TCSRecordData* record, TCSColumnData* format);
  QString ConvertToText(const CS_DATAFMT& source, void* data, CS_INT length) const;
  // Makes the text of row column I (0-based) from its bound value when it is still pending.
  void MakeRowText(int i) const;
  // Checks once per context that the engine formats a value kind as FreeTDS does.
  bool OwnFormatAgrees(int kind);
  void ApplyLumicDtFmt();
  void ReadReturnStatus();
  void ReadReturnParams();
  void HandleComputeResult();
  void DrainFetch();
  void CopyRowTexts();
  void ReadTruncatedColumns();
  void TraceRow();
  void AppendHistoryRow();
  bool ReadHistoryRow();
  void ReleaseRowBuffers();
  QString ParamsAsLiterals() const;
  QString SendText() const;
  TCSColumnData* FormatAt(int index) const;
  TCSRecordData* RecordAt(int index) const;

  TQorixDatabaseBase* database_ = nullptr;
  TQorixDatabaseBase* privateDb_ = nullptr;
  bool autoDb_ = false;
  TMsgDialogs msgDialogs_;
  TShowDbMessages showDbMessages_{smDbMsg, smDbErr};
  bool flagEnhMsg_ = false, flagEnhErr_ = false, flagShowMsg_ = true, flagShowErr_ = true;

  CS_COMMAND* command_ = nullptr;
  CS_COMMAND* prepareCommand_ = nullptr;
  CS_CONNECTION* connection_ = nullptr;
  CS_CONTEXT* context_ = nullptr;
  CS_INT resultType_ = 0;
  bool rowPending_ = false;
  bool resultsPending_ = false;
  bool resultsEnded_ = false;   // a ct_results of this run answered other than CS_SUCCEED
  bool atEndData_ = false;      // the last FetchRow reached CS_END_DATA
  bool cursorOpening_ = false;  // the declare/rows/open acknowledgements still come first
  bool cursorOpen_ = false;
  bool hasRows_ = false;
  int rowCount_ = 0, totalRows_ = 0, rowsFetched_ = 0;
  CS_INT commandNumber_ = 0;
  int columnCount_ = 0, computeColumnCount_ = 0;
  std::vector<int> orderByColumns_;
  void ReadOrderByColumns();
  int returnStatus_ = 0;
  QString cursorName_;
  QString sentStatementId_;
  bool prepared_ = false;
  bool sending_ = false;  // SQLExec is between its Prepare and its send
  TQorixServerType serverType_ = stSybaseSqlServer;

  TCSRecordDataManager rowValues_;
  TCSColumnDataManager rowFormats_;
  std::vector<CS_DATAFMT> serverFormats_;  // the server's own format per row column
  // Per row column outside cursors: how the value is bound (valuetext::Kind; 0 bound as text).
  // Numbers and date-times are bound in their own type and their text is made only when a
  // caller asks for it, the same text FreeTDS's character conversion gives.
  std::vector<uint8_t> valueKind_;
  // Per row column: the text of the current row is still to be made from the bound value.
  mutable std::vector<uint8_t> textPending_;
  // Per value kind: the engine's own formatting agrees with FreeTDS's conversion on this
  // context (0 not checked yet, 1 agrees, 2 differs: FreeTDS converts each value).
  std::vector<uint8_t> ownFormat_;
  CS_CONTEXT* ownFormatContext_ = nullptr;
  TCSRecordDataManager paramValues_;
  TCSColumnDataManager paramFormats_;
  TCSRecordDataManager computeValues_;
  TCSComputeColumnDataManager computeFormats_;
  std::vector<TCSColumnData> computeColumnFormats_;

  // Cursor rows arrive CS_CURSOR_ROWS at a time into arrays (FreeTDS fetches nothing when the
  // bind count differs); they are handed out one by one.
  std::vector<std::unique_ptr<TCursorColumn>> cursorColumns_;
  int cursorBatchRows_ = 0, cursorBatchPos_ = 0, cursorRowsPerFetch_ = 1;
  // Outside cursors, rows of a result without text or image columns arrive in arrays too
  // (cursorColumns_), as many as FreeTDS has in hand per ct_fetch; a fetch that failed after
  // some rows of its array hands those out first and fails at the next call.
  bool batched_ = false;
  int batchFailedRow_ = -1;  // the array row a conversion failed in (delivered as it is)
  CS_RETCODE deferredFetch_ = CS_SUCCEED;

  std::vector<std::vector<std::pair<QString, bool>>> history_;  // text and NULL per column
  int historyPos_ = 0;
};

// Runs free SQL text.
class TQorixEnhQuery : public TQorixCustomQuery {
 public:
  // Command mode language SQL.
  explicit TQorixEnhQuery(TComponent* owner = nullptr);
  // Sets ReadOnly.
  void SetReadOnly(bool value) { ReadOnly = value; }
};

// Runs one stored procedure by name as a remote procedure call.
class TQorixStoredProc : public TQorixCustomQuery {
 public:
  // Command mode RPC; IsCursor and ReadOnly off.
  explicit TQorixStoredProc(TComponent* owner = nullptr);

  // The procedure called ("owner.name" allowed).
  const QString& GetStoredProcName() const { return storedProcName_; }
  // Stores the name; outside loading, with a connected database and AutoGetParams, reads the
  // procedure's parameters.
  void SetStoredProcName(const QString& value);
  // Read the procedure's parameters when StoredProcName changes.
  void SetAutoGetParams(bool value) { autoGetParams_ = value; }
  bool GetAutoGetParams() const { return autoGetParams_; }
  // How parameters are bound.
  TParamBindMode ParamBindMode = pbByNumber;
  // Its own statement text: run as a language command instead of the RPC when not blank.
  const QStringList& ProcSQL() const { return procSql_; }
  void SetProcSQL(const QStringList& lines) { procSql_ = lines; }
  // Runs the procedure; every result is processed, status and output parameters included.
  int ExecProc();
  // Reads the procedure's parameters from the catalogue into Params (ending with "Result").
  void GetProcParams();
  // The catalogue query GetProcParams runs for ProcName in the family's dialect: name, type
  // name, length and (for "SQLAnywhere") the output flag per parameter, in order.
  QStringList ProcParamsSQL(const QString& procName) const;

 protected:
  void SQLChanged() override;
  void SetBaseText() override;
  QString StoredProcName() const override { return storedProcName_; }
  QString OwnSQLText() const override { return procSql_.join(QLatin1Char('\n')).trimmed(); }
  TParamBindMode BindMode() const override { return ParamBindMode; }

 private:
  QString storedProcName_;
  QStringList procSql_;
};
