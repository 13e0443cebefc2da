// The server datasets' shared core: TQxBaseClientDataSet (cached updates applied through an
// update object), TQxCustomDataSet (a memory dataset with change log whose records come from a
// statement run over the Client-Library: open, describe, fetch on demand, close, the
// process-wide dataset list and the non-cursor rule, statements without result set, live
// INSERT/UPDATE/DELETE for the current record) and the parents TQxUpdateDataSet and
// TQxQueryDataSet of the table and query datasets.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "access/QorixDatabase.h"
#include "access/QorixErrorHandling.h"
#include "access/QorixParams.h"
#include "access/Qorix_Components.h"
#include "access/UiServices.h"
#include "dataset/QxAuditDataSet.h"

class TQxQuery;
class TQxStoredProc;
class TQorixUpdateSQL;
class TQxCustomDataSet;
class TQxNestedFieldList;

// Which fields a live UPDATE or DELETE compares to find its row.
enum TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };
// What an OnUpdateRecord handler answers.
enum TUpdateAction { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
// The server dataset kinds.
enum TQxDataSetKind : uint8_t { dkQuery = 0, dkTable = 1, dkStoredProc = 2 };
// The server families as the datasets tell them apart.
enum TQxServerType : uint8_t { qstSybase = 0, qstAnywhere = 1 };

// Message texts of the server datasets.
namespace QxDsText {
inline const QString NoUpdateObject = QStringLiteral("No Update Object defined");
inline const QString ClosedDataSet = QStringLiteral("Cannot perform this operation on a closed dataset");
inline const QString NotCached = QStringLiteral("Not in cached update mode");
inline const QString PendingCached =
    QStringLiteral("The dataset has results pending. Cached Updates is not allowed with pending results");
inline const QString PendingLive =
    QStringLiteral("The dataset has results pending. RequestLive Updates is not allowed with pending results");
inline const QString NoSQL = QStringLiteral("No SQL statement available");
inline const QString ReadOnlyTable = QStringLiteral("Table is read only");
inline const QString NoComponent = QStringLiteral("No '%1' component named '%2' can be found");
inline const QString UnbalancedQuotes = QStringLiteral("The text contains unbalanced double quotes");
inline const QString RecordChanged = QStringLiteral("Record changed by another user");
inline const QString TransactionLost =
    QStringLiteral("The transaction was rolled back on the server: the change was not made");
inline const QString NoRowCount = QStringLiteral("The server did not confirm the change: no row count came back");
inline const QString NeedDatabase = QStringLiteral("Database or DbName required");
inline const QString DatabaseNotFound = QStringLiteral("Could not find QorixDatabase component named '%1'");
inline const QString CannotLogin = QStringLiteral("Cannot login to server '%1'");
inline const QString NoExec = QStringLiteral("ProcOptions of poNoExec is not allowed");
inline const QString NonCursorOpen = QStringLiteral("A non-cursor dataset '%1' is already open on this connection.");
inline const QString OnlyOneNonCursor = QStringLiteral(
    "Only one non-cursor dataset is allowed to be open at any one time on a single connection");
inline const QString CursorAndNonCursor = QStringLiteral(
    "Cursor and non-cursor datasets are not allowed to be open at any one time on the same connection");
inline const QString UniDirectional = QStringLiteral("This action is not allowed when DataSet is UniDirectional");
inline const QString InvalidSQL = QStringLiteral("Invalid TableName/SQL");
inline const QString NoColumns = QStringLiteral("No return result set columns could be found");
inline const QString UnsupportedType = QStringLiteral("Field '%1' is of an unsupported type");
inline const QString KeyOnlyNoKeys =
    QStringLiteral("UpdateMode is upWhereKeyOnly but no Index found or Prime Fields assigned");
inline const QString MissingTableName = QStringLiteral("Missing TableName property");
inline const QString CharToInt = QStringLiteral("Error converting Char to Int");
inline const QString NoRecordFound = QStringLiteral("No record found, but one expected");
inline const QString MultipleRecords = QStringLiteral("Multiple records found, but only one expected");
inline const QString TableReadOnly = QStringLiteral("Table '%1' is read only");
inline const QString TextReadCut = QStringLiteral(
    "Field '%1' was read only up to the connection's TextSize (%2 bytes): its whole value cannot be changed here");
inline const QString CircularLinks = QStringLiteral("Circular datalinks are not allowed");
inline const QString ProcCursorInputOnly = QStringLiteral(
    "When executing a stored procedure using a cursor, only INPUT parameters are allowed");
}  // namespace QxDsText

// A failed update of one record as the provider operations report it: the message of the
// exception that stopped it and the error code of the failure before it (0 when none).
class EUpdateError : public EDatabaseError {
 public:
  EUpdateError(const QString& message, int errorCode, int previousError)
      : EDatabaseError(message), ErrorCode(errorCode), PreviousError(previousError) {}
  int ErrorCode = 0;
  int PreviousError = 0;
};

// A dataset whose change log can be applied to a server through an update object.
class TQxBaseClientDataSet : public TQxAuditDataSet {
 public:
  using TUpdateRecordEvent = std::function<void(TDataSet&, TQxUpdateKind, TUpdateAction&)>;
  using TCachedRecEvent = std::function<void(TDataSet&, int recNo)>;

  explicit TQxBaseClientDataSet(TComponent* owner = nullptr);
  ~TQxBaseClientDataSet() override;

  TQorixUpdateSQL* UpdateObject() const { return updateObject_; }
  void SetUpdateObject(TQorixUpdateSQL* object);
  TSQLOptions SQLOptions;
  // String columns and output parameters are trimmed on both sides when fetched.
  bool TrimResults = false;
  TUpdateRecordEvent OnUpdateRecord;
  TCachedRecEvent AfterCachedRecPost, AfterCachedRecInsert, AfterCachedRecDelete;

  // Rows the last statement run for this dataset affected.
  int RowsAffected() const { return rowsAffected_; }
  // The identity value of the last insert (-1 until one was read).
  int64_t LastIdentity() const { return identity_; }

  virtual bool ApplyModify();
  virtual bool ApplyDelete();
  virtual bool ApplyInsert();
  virtual int64_t GetIdentityValue() { return -1; }
  virtual void SetLastServerMessage(const CS_SERVERMSG&) {}
  // Applies the whole change log (see QxDataSet.cpp for the rules).
  virtual void ApplyUpdates();

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  // The connection the update object runs on (raises when there is none).
  virtual TQorixDatabase* UpdateConnection();
  // Gives Query its statement and parameters for the log's current row (Kind 0, 1, 2) and
  // runs it; raises "Record changed by another user" when no row was affected.
  void RunUpdateQuery(TQxQuery& query, int kind);
  // Runs the update object's query of Kind (0, 1, 2) for the log's current row.
  bool ApplyThroughQuery(int kind);
  // Applies the current log row through the stored procedure named ProcName.
  bool ApplyByStoredProc(const QString& procName, int kind);
  // The value of Name before the change (the log's field), else the current one.
  QVariant OldValue(const QString& name);
  // Puts the identity value into the identity field of the current record.
  virtual void StoreIdentity(int64_t) {}
  virtual bool HasIdentityField() const { return false; }
  virtual bool FetchIdentityOn() const { return false; }
  // The dataset's own connection link for the update object (server datasets override).
  virtual void PrepareUpdateObject() {}
  void EmptyLog();

  TQorixUpdateSQL* updateObject_ = nullptr;
  int rowsAffected_ = 0;
  int64_t identity_ = -1;
};

// The server-backed dataset.
class TQxCustomDataSet : public TQxBaseClientDataSet, public TQorixDiagTarget {
 public:
  explicit TQxCustomDataSet(TComponent* owner = nullptr);
  ~TQxCustomDataSet() override;
  void SetName(const QString& name) override;
  void Notification(TComponent* component, TOperation operation) override;

  // --- connection ---
  QString DbName;
  TQorixDatabase* Database() const { return database_; }
  void SetDatabase(TQorixDatabase* database);
  bool AutoDb() const { return autoDb_; }
  void SetAutoDb(bool value);
  QStringList AutoDbParams;
  bool UseDbParams = false;
  // The connection actually used (after CheckDatabase).
  TQorixDatabase* ResolvedConnection() const { return resolved_; }

  // --- settings ---
  int MaxRows = 0;
  int FetchRows = 75;
  int PacketRecords = -1;
  TUpdateMode UpdateMode = upWhereAll;
  bool FetchIdentity = false;
  TMsgDialogs MsgDialogs;
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};
  bool Monitor = false;
  bool TypeErrCont = false;
  bool TypeErrShow = true;
  bool UseExecCursor = true;
  TCursor ExecCursor = crSQLWait;
  bool UseQorixCursor = true;
  bool AbortOnNoCols = true;
  bool ParamCheck = true;
  bool UniDirectional = false;
  bool CheckDups = false;
  bool FetchMasterKeyValues = false;
  QStringList PrimeFields;
  TNotifyEvent AfterExec;
  QString About;
  // Dataset fields declared after the result columns, one ftDataSet definition per active item.
  TQxNestedFieldList& NestedFields() { return *nestedFields_; }

  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  // The parameter definitions as the dataset's stored description keeps them: a stable text
  // (a JSON array, one object per parameter with its name, DataType, ParamType, Bound and
  // value in a form that reads back to the same value). SetParamData replaces Params with
  // the definitions of such a text; text that is not one is refused and Params stay.
  QString ParamData() const;
  void SetParamData(const QString& text);
  // Copies the values of same-named parameters.
  void SetParams(const TParams& params) { params_.AssignValues(params); }
  virtual TParam& ParamByName(const QString& name) { return params_.ParamByName(name); }

  // --- state ---
  TQxDataSetKind Kind() const { return kind_; }
  TQxServerType ServerType() const { return serverType_; }
  bool ResultsPending() const { return resultsPending_; }
  // The text last sent to open the dataset.
  QString CommandText() const { return commandText_; }
  // The cursor name of the open result (empty without a cursor).
  QString CursorName() const { return cursorName_; }
  // The identity column's name (empty when the result has none).
  QString IdentityColumn() const { return identityColumn_; }
  // Column names of the last probe, joined by ", " and by ";".
  QString ColumnList() const { return columnList_; }
  QString ColumnNames() const { return columnNames_; }

  // --- operations ---
  void CheckDatabase();
  void CheckOpenPrerequisites();
  void FindConnection();
  void OpenAutoDb();
  void DetectServerType();
  // Refuse while another non-cursor dataset still reads its rows on this dataset's
  // connection: before a language command or dynamic statement is sent (only one non-cursor
  // result at a time), and before a cursor command is sent (cursor and non-cursor results
  // are not read together).
  void CheckNonCursorOpen();
  void CheckCursorOpen();
  // The same refusal for any command about to be sent on Connection: raises (for Component)
  // while a non-cursor dataset other than Except has rows pending there. Nothing may be sent
  // then: FreeTDS would mix the new command's results into those rows or wait for them.
  static void CheckConnectionFree(TQorixDatabase* connection, const TQxCustomDataSet* except,
                                  const TComponent* component, bool cursorCommand);
  // Closes this dataset's open cursor (and the parked ones) on Connection while its session is
  // still there: called just before that connection disconnects.
  void CloseCursorBeforeDisconnect(TQorixDatabase* connection);
  // The non-cursor dataset other than Except whose rows are pending on Connection, or null.
  static TQxCustomDataSet* PendingReader(TQorixDatabase* connection, const TQxCustomDataSet* except);
  int FetchUntil(int index);
  int FetchAll();
  int FetchRowsCount(int count);
  void Requery();
  void EmptyDataSet() override;
  // Cancels everything pending on the dataset's connection (CS_CANCEL_ALL on the connection);
  // refused while another non-cursor dataset still reads its rows there.
  void CancelAll();
  // Runs the SQL text (with parameter values as literals) as a statement without result set;
  // RowsAffected holds its count afterwards.
  virtual void ExecSQL();
  // Sends Text as one language command and reads every result; answers false when the
  // command failed. RowsAffected and the identity value are taken from it.
  bool ExecDirect(const QString& text, int& rowsAffected);
  int64_t GetIdentityValue() override;
  // Prepares the statement on the server (a dynamic statement with one "?" per marker
  // occurrence); ExecSQL and an open without cursor then run it with bound parameters.
  void Prepare();
  void UnPrepare();
  bool Prepared() const { return prepared_; }
  // The automatic preparation of a statement with parameters that is read without cursor: a
  // query's SELECT with markers opened without UseQorixCursor is prepared for the open (its
  // values travel bound, not as literals) and unprepared once its rows are read, or at close.
  // A cursor takes its values as literals (the client library declares no cursor over a
  // prepared statement), so nothing is prepared for one. AutoPrepare prepares when that is
  // due and the statement is not prepared yet; AutoUnprepare undoes only a preparation made so.
  void AutoPrepare();
  void AutoUnprepare();
  // True while the statement is prepared by AutoPrepare (not by Prepare).
  bool PreparedAutomatically() const { return preparedAuto_; }
  // Whether statements with parameters are prepared automatically (on by default).
  bool AutoPrepareOn = true;
  QString StatementId() const { return statementId_; }
  void SetLastServerMessage(const CS_SERVERMSG& msg) override { lastServerMsg_ = msg; }
  // The diagnostics routine's record of the server message behind an error is the dataset's too.
  void SetLastServerMsg(const CS_SERVERMSG& msg) override {
    TQorixDiagTarget::SetLastServerMsg(msg);
    lastServerMsg_ = msg;
  }
  const CS_SERVERMSG& DataSetServerMsg() const { return lastServerMsg_; }
  void ApplyUpdates() override;
  // Drops every cached change (an open edit or insert too) and reads the records again, so they
  // show what the server holds; nothing of the change log is sent.
  void CancelUpdates();
  bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) override;

  // --- key values (dsSetKey) ---
  // SetKey enters the key-setting state with empty key values, EditKey with the current ones;
  // fields then read and write the key values, Post keeps them and Cancel restores those from
  // before. GotoKey moves to the first record whose fields equal the key values given (the
  // key columns when the dataset knows them, else every field given a value): false, and
  // the dataset stays, when none does.
  void SetKey();
  void EditKey();
  bool GotoKey();
  bool GetFieldData(const TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;

  // --- block reads ---
  // Records are read ahead in packets: Size records (65536 bytes' worth of records for the
  // largest int), the first packet at once. Below 1 block reading ends. While it is on the
  // dataset is in dsBlockRead state and moves without notifying its data sources.
  int BlockReadSize() const { return blockReadSize_; }
  void SetBlockReadSize(int size);
  // The records per packet of the current block read (0 when off).
  int BlockPacketRecords() const { return packetRecords_; }
  // Moves to the next record; when the packet is used up the next one is read first.
  void BlockReadNext();

  // --- field definitions without rows ---
  // Learns the result's columns into FieldDefs without opening the dataset: the statement is
  // sent, its first result described and the command cancelled before any row is fetched.
  void InitFieldDefs();

  // --- provider operations ---
  // The transaction of the resolved connection: started, committed or rolled back (a commit
  // on a connection that is no longer connected raises instead of reporting success).
  void PSStartTransaction();
  void PSEndTransaction(bool commit);
  bool PSInTransaction() const;
  // True for a connected server connection.
  bool PSIsSQLBased() const;
  bool PSIsSQLSupported() const { return true; }
  QString PSGetQuoteChar() const { return QString(); }
  // Runs Sql with Params on this dataset's connection through a temporary query. A parameter
  // without a name is named "Param" + its index; every marker of Sql must have a parameter.
  // With ResultSet the query is opened and handed over, else it runs as a statement without
  // result set. Answers the rows the statement affected.
  int PSExecuteStatement(const QString& sql, const TParams& params, std::unique_ptr<TQxQuery>* resultSet = nullptr);
  // The update error made from E, carrying the previous error's code (0 without one).
  EUpdateError PSGetUpdateException(const Exception& e, const EUpdateError* previous) const;
  // Reopens the dataset (closed first when open).
  void PSReset();
  // Applies one changed record Delta (kind Kind): through OnUpdateRecord when assigned (true
  // when it answers uaApplied), else with CachedUpdates through the update object's statement
  // for the kind. A marker naming a field of Delta takes its value (a deletion takes the old
  // value), OLD_name the value of name in OldValues (Delta when null). A statement that
  // affects no row raises "Record changed by another user". False when nothing applied it.
  bool PSUpdateRecord(TQxUpdateKind kind, TDataSet& delta, TDataSet* oldValues = nullptr);

  // A unique dynamic-statement id ("p" + a process-wide serial).
  static QString NewStatementId();
  // Hour, minute and millisecond digits plus a process-wide serial: unique within the process.
  static QString TimeStampName();
  // The process-wide list of server datasets.
  static const QList<TQxCustomDataSet*>& DataSetList();
  // The first stored-procedure dataset of that component name, or null.
  static TQxStoredProc* FindStoredProc(const QString& name);

  void MonitorTrace(const QString& line) const;

  // The diagnostics routine over the resolved connection; raises on server errors.
  void CheckDiag();

  // --- live statements for the current record ---
  virtual QString TableReference() const { return QString(); }
  void ExecInsertSQL();
  // Answers false when nothing changed (no statement sent).
  bool ExecUpdateSQL();
  void ExecDeleteSQL();
  // The number of server rows the WHERE of the current record's old values matches; raises
  // unless it is exactly one.
  bool CountMatchingRecords();
  // The WHERE clause (" WHERE 1=1 AND ...") of the current record's logged old values.
  QString BuildWhereClause();
  // The last statement the live path or the cached path sent (for tests and the monitor).
  QString LastStatement() const { return lastStatement_; }

 protected:
  // Slots the subclasses fill.
  virtual void SubstituteParamValues() {}
  virtual void BuildCommandText() {}
  virtual void RefreshFromMaster() { Requery(); }
  virtual bool ObtainColumns();
  // Checks the prerequisites and fills the command text that InitFieldDefs describes.
  virtual void PrepareFieldDefsText();
  virtual bool LiveMode() const { return false; }
  virtual QStringList KeyFieldNames() const { return {}; }
  // The row filter a live UPDATE adds to its WHERE while Filtered is set (markers replaced).
  virtual QString LiveFilter() const { return QString(); }

  // TDataSet / memory-dataset overrides.
  void InternalOpen() override;
  void InternalClose() override;
  // An exact column's field keeps its value as decimal text (TExactNumberField).
  std::unique_ptr<TField> CreateDataField(const TFieldDef& def) override;
  void InternalLast() override;
  // An open cursor is closed by a command sent on the connection: refused while another
  // dataset's rows are pending there (the dataset stays open).
  void DoBeforeClose() override;
  void InternalDelete() override;
  void DoAfterOpen() override;
  void DoAfterDelete() override;
  void DoAfterPost() override;
  void DoBeforeInsert() override;
  // Refresh runs the statement again and shows what the server holds now.
  void InternalRefresh() override;
  void InternalPostKey() override;
  void InternalCancelKey() override;
  TGetResult CheckCurrent(TGetResult result) override;
  TGetResult StepNext(TGetResult result) override;
  TGetResult StepPrior(TGetResult result) override;
  bool RecordAvailable(TRecordBuffer buffer) override;
  void WriteRecordAt(TRecordBuffer buffer, int index) override;
  void InsertRecordAt(int index, TRecordBuffer buffer) override;
  void AfterPostChange() override;
  void AfterLogChange() override;
  void PrepareUpdateObject() override;
  void StoreIdentity(int64_t value) override;
  bool HasIdentityField() const override { return !identityColumn_.isEmpty(); }
  bool FetchIdentityOn() const override { return FetchIdentity; }

  // The command layer.
  void RunQuery(bool describe);
  void RerunQuery();
  void AllocCommand(CS_COMMAND*& command);
  void DropCommand(CS_COMMAND*& command);
  void CancelCommand(CS_COMMAND* command, CS_INT type);
  // Reads the rest of Command's current result without keeping it. Used instead of a cancel
  // of the current result, which in FreeTDS also frees the statement's compute formats: its
  // next compute row would then end the connection.
  static void ReadOutResult(CS_COMMAND* command);
  void CloseCursor(CS_COMMAND* command);
  // Closes (with dealloc) the open cursor of Command on this dataset's connection.
  void SendCursorClose(CS_COMMAND* command);
  // Closes and drops the cursors handed over while this dataset's rows were pending.
  void CloseParkedCursors();
  void DescribeAndBindFields();
  void InitFieldDefsFromColumns();
  // Sends the command text, describes its first row result into FieldDefs and cancels the
  // command without fetching a row.
  void DescribeWithoutRows();
  // Fetches one row into the bound buffers; answers CS_SUCCEED when a row came.
  CS_RETCODE FetchRow();
  void LoadRowIntoRecord();
  void EndResults();
  void BindColumns();
  // Binds one value per marker occurrence of the prepared text, in order.
  void BindParams(CS_COMMAND* command);
  // Binds one parameter's value (its DataType decides the datatype) under BindName (empty:
  // by position) with Status (CS_INPUTVALUE or CS_RETURN).
  void BindParam(CS_COMMAND* command, const TParam& param, const QByteArray& bindName, CS_INT status);
  // Reads every result of a sent statement without result set (counts, ROWCNT/IDENT rows).
  void ReadExecResults(CS_COMMAND* command, int& count, bool& failed, CS_RETCODE& rc);
  // Reads a status or parameter result of the open statement (the stored-procedure dataset
  // keeps the values; others pass over them).
  virtual void ReadProcResult(CS_COMMAND* command, CS_INT type);
  // True when the command text is to be prepared automatically before it is sent.
  bool AutoPrepareDue() const;
  // Prepares Command as the remote procedure call of a procedure dataset (nothing for others).
  virtual void SendProcCall(CS_COMMAND*) {}
  // The first row of Text's first row result, each column as trimmed text ("" for NULL).
  QStringList QueryRow(const QString& text);
  // Every row of Text's row results, each column as trimmed text ("" for NULL).
  std::vector<QStringList> QueryRows(const QString& text);
  static TFieldType FieldTypeOf(const CS_DATAFMT& fmt);
  // Runs Text as a read-only cursor and answers the first column of its first row as text.
  QString SingleValue(const QString& text);
  // Runs one statement through the live path (own transaction with soUseTransaction, rows
  // affected must be exactly one unless AllowNone... ).
  // Runs `change` in the connection's transaction, or in one of its own when none is open and
  // `ownTranWanted`; a change a trigger rolled back silently raises, then `confirm` checks what
  // the change did. A failure rolls its own transaction back and reads the connection's
  // transaction state again.
  void InLiveTransaction(bool ownTranWanted, const std::function<void()>& change,
                         const std::function<void()>& confirm = {});
  void RunLiveStatement(const QString& text, bool requireOneRow);
  // Refuses a live statement while this dataset's own rows hold the connection.
  void CheckPendingForLive();
  // Applies the current record through the update object's procedure of Kind (0 modify,
  // 1 insert, 2 delete), in a transaction of its own with soUseTransaction.
  void RunLiveStoredProc(int kind);

  // Set by a procedure dataset when the return status read while the dataset opens or
  // fetches is negative; the open or the fetch then ends in the silent abort.
  bool negativeStatus_ = false;
  TQxDataSetKind kind_ = dkQuery;
  TQxServerType serverType_ = qstSybase;
  QString commandText_;
  QString rpcName_;
  TParams params_;

 private:
  struct Column {
    CS_DATAFMT described{};
    CS_DATAFMT bind{};
    TFieldType type = ftUnknown;
    bool exact = false;    // numeric, decimal or money: read and stored as its decimal text
    int fieldNo = 0;       // 1-based field number, 0 for a skipped column
    int size = 0;          // string field size
    std::vector<char> buffer;
    std::vector<CS_INT> copied;
    std::vector<CS_SMALLINT> indicator;
  };
  // Sends `command`; a refused send raises the connection's last error.
  void SendCommand(CS_COMMAND* command);
  // Describes the `count` columns of the current row result of `command` into `out`; a column of a type the datasets
  // cannot hold is refused or, with TypeErrCont, skipped (field number 0).
  void DescribeColumns(CS_COMMAND* command, CS_INT count, std::vector<Column>& out);
  void FreeColumns();
  // The monitor's line for one column of a fetched row (Slot: its value in the record).
  void TraceColumnOut(const Column& c, bool isNull, const char* slot) const;
  void FinishFetching();
  bool IsConnectedResolved() const;
  // True when the library found the resolved connection's socket dead.
  bool ConnectionDead() const;
  // True when the dataset's command belongs to a session of its connection that has ended (a
  // disconnect, perhaps followed by a new login): its unread rows and open cursor went with it.
  bool SessionGone() const;
  // Forgets what the ended session held (unread rows, the open cursor, parked cursors): the
  // commands are only dropped, never used.
  void ForgetGoneSession();
  void ApplyMessageFlags();

  TQorixDatabase* database_ = nullptr;
  TQorixDatabase* resolved_ = nullptr;
  std::unique_ptr<TQorixDatabase> privateDb_;
  bool autoDb_ = false;
  CS_COMMAND* command_ = nullptr;
  bool cursorOpen_ = false;
  QString cursorName_;
  bool resultsPending_ = false;
  bool moreRows_ = false;
  bool rowsCutOff_ = false;  // the connection went while rows were unread: the next read raises
  int reachable_ = 0;
  int rowCounter_ = 0;
  int textSize_ = 32768;
  int rowsPerFetch_ = 1;
  int batchRows_ = 0;
  int batchPos_ = 0;
  int blockReadSize_ = 0;
  int packetRecords_ = 0;
  CS_INT lastResultType_ = 0;
  std::vector<Column> columns_;
  // The result has binary, text or image columns (the monitor tells of their values per row).
  bool hasBlobColumns_ = false;
  // The type each exact column's field reads as, by definition index (ftUnknown for others).
  std::vector<TFieldType> exactTypes_;
  QString identityColumn_;
  QString columnList_, columnNames_;
  CS_SERVERMSG lastServerMsg_{};
  TQxQuery* liveQuery_ = nullptr;
  QString lastStatement_;
  int64_t execIdentity_ = -1;
  std::vector<char> work_;
  // The key values of the key-setting state and their copy from before it (one record each).
  std::vector<char> keyBuffer_, savedKey_;
  void ClearKeyBuffer();
  bool prepared_ = false;
  bool preparedAuto_ = false;
  // AutoUnprepare where a failure must not stop what called it (the end of the rows): a
  // statement that cannot be deallocated is forgotten; its connection is gone or going.
  void AutoUnprepareQuietly();
  QString statementId_;
  QStringList occurrences_;  // the marker names of the prepared text, one per "?"
  std::unique_ptr<TQxNestedFieldList> nestedFields_;
  // Open cursors of destroyed datasets that could not be closed while this dataset's rows
  // held the connection.
  std::vector<CS_COMMAND*> parkedCursors_;
  uint64_t session_ = 0;  // the connection's session number when command_ was allocated
};

// The common parent of the table and query datasets.
class TQxUpdateDataSet : public TQxCustomDataSet {
 public:
  explicit TQxUpdateDataSet(TComponent* owner = nullptr);
};

// A query dataset: SQL text and a master data source.
class TQxQueryDataSet : public TQxUpdateDataSet {
 public:
  explicit TQxQueryDataSet(TComponent* owner = nullptr);
  const QStringList& SQL() const { return sql_; }
  // Assigns only when the text differs; with ParamCheck rebuilds Params from the markers
  // (one per distinct name, keeping the values of same-named parameters).
  void SetSQL(const QStringList& lines);
  void SetSQL(const QString& text) { SetSQL(text.split(QLatin1Char('\n'))); }
  QString SQLText() const { return sql_.join(QLatin1Char('\n')); }
  TDataSource* DataSource() const { return GetDataSource(); }
  void SetDataSource(TDataSource* source);
  virtual void PrepareLiveUpdate() {}

 protected:
  QStringList sql_;
};
