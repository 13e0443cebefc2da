// TQorixGrid: runs an SQL script on a connection and lays every result of every statement into
// cells one below the other (header lines, rows, compute rows, return-status and row-count
// lines, a closing line), in the calling thread or on a Threadgrid worker; ExportToFile writes
// the cells out. The cells live in a locked store (GridCells.h) that only the thread running
// the batches writes; TQorixGridView (QorixGridView.h) shows them on the GUI thread.
#pragma once

#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "access/Classes.h"
#include "access/QorixErrorHandling.h"
#include "access/TSet.h"
#include "access/QxClasses.h"
#include "access/Qorix_Components.h"
#include "access/UiServices.h"
#include "catalog/grid/GridCells.h"
#include "access/ValueText.h"

class TQorixGrid;
class TQorixDatabase;

// What the column accessors read: the current row of the current result set, the current
// compute row and the return parameters with their descriptions, the return status and the
// diagnostics texts. The thread running the batches keeps one up to date; every event a
// background run hands to the GUI thread carries a copy of it as it stood when the event
// fired, so a handler reads what the same event of a foreground run would read.
struct TGridResultState {
  // One described column, compute column or parameter.
  struct Column {
    // The name cut to 30 characters, and the library's length of the name.
    QString name;
    int nameLength = 0;
    int dataType = 0;
    int maxLength = 0;
    int scale = 0;
    int precision = 0;
    // Compute columns: the operator and the select-list column the value belongs to.
    int op = 0;
    int columnId = 0;
  };
  using Columns = std::shared_ptr<const std::vector<Column>>;
  Columns columns, computes, params;
  // Texts of the current row, compute row and parameters; a NULL has an empty text.
  std::vector<QString> texts, computeTexts, paramTexts;
  // Per column of the current row: the value is NULL or empty.
  std::vector<char> nulls;
  int returnStatus = 0;
  QString lastError, lastMessage;
};

// The worker that runs a grid's batches. The grid creates, owns and joins it; it never
// releases itself.
class Threadgrid {
 public:
  explicit Threadgrid(TQorixGrid* grid) : grid_(grid) {}
  ~Threadgrid();
  Threadgrid(const Threadgrid&) = delete;
  Threadgrid& operator=(const Threadgrid&) = delete;
  // Starts the thread body.
  void Start();
  // Waits for the thread body to end.
  void Join();
  // The terminate request (set by the grid's Stop).
  bool Terminated() const { return terminated_.load(); }
  void Terminate() { terminated_.store(true); }
  // True until the thread body has returned.
  bool Running() const { return running_.load(); }
  // The stop request's cancel (GUI thread): the attention on the grid's connection, sent once
  // and only while the worker has been waiting inside one library call for at least
  // kAttentionAfterMs (a long statement, WAITFOR, a slow row). True once it was sent.
  // While rows stream, the worker sees the terminate request after the row at hand and
  // cancels on its own thread instead: FreeTDS's attention from a second thread can leave the
  // reading thread asleep on its packet condition until the connection's timeout (60 s) when
  // the two threads meet in its network code.
  bool Cancel();
  TQorixGrid* Grid() const { return grid_; }
  // Marks the worker as inside a library call that may wait for the server (worker thread).
  void EnterWait();
  void LeaveWait();
  static constexpr int kAttentionAfterMs = 100;

 private:
  void Execute();
  TQorixGrid* grid_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> running_{false};
  // Steady-clock milliseconds (plus 1) when the worker entered its current waiting call; 0
  // outside one.
  std::atomic<long long> waitSince_{0};
  std::atomic<bool> attentionSent_{false};
};

// The string grid's options, in the class library's order; the view honours those a table
// view has (see TQorixGridView::ApplyOptions).
enum class TGridOption {
  goFixedVertLine,
  goFixedHorzLine,
  goVertLine,
  goHorzLine,
  goRangeSelect,
  goDrawFocusSelected,
  goRowSizing,
  goColSizing,
  goRowMoving,
  goColMoving,
  goEditing,
  goTabs,
  goRowSelect,
  goAlwaysShowEditor,
  goThumbTracking,
};
using TGridOptions = TSet<TGridOption, 15>;

// OnThreadTerminate: the worker, the last error text, the last message text.
using TOnThreadTerminateEvent = std::function<void(Threadgrid* sender, const QString& error, const QString& msg)>;

class TQorixGrid : public TComponent, public TQorixDiagTarget {
 public:
  // Width factor: a text of n characters takes n times this many pixels.
  static constexpr int kWidthFactor = 9;

  explicit TQorixGrid(TComponent* owner = nullptr);
  // Stops a running worker and joins it before anything is freed.
  ~TQorixGrid() override;

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  // Runs SQL (see the file comment); always returns 0. Raises EDatabaseError when a run is
  // already in progress.
  virtual int Execute();
  // Stops a running background run: terminate request plus the attention cancel (GUI thread).
  void Stop();
  // Waits until a background run has ended and its end-of-run events were delivered.
  void WaitForWorker();

  // Properties.
  bool Active() const { return active_.load(); }
  void SetActive(bool value);
  const QString& SQL() const { return sql_; }
  void SetSQL(const QString& sql) { sql_ = sql; }
  TQorixDatabaseBase* Database() const { return database_; }
  void SetDatabase(TQorixDatabaseBase* database);
  const QString& DbName() const { return dbName_; }
  void SetDbName(const QString& name);
  bool ShowHeader() const { return showHeader_; }
  void SetShowHeader(bool value) {
    showHeader_ = value;
    if (!value) KeepHeader = false;
  }
  bool AutoDb() const { return autoDb_; }
  void SetAutoDb(bool value) {
    autoDb_ = value;
    if (value) UseDbParams = true;
  }
  bool AutoConnect = true;
  bool Background = false;
  QString CodeTerminator = QStringLiteral("go");
  bool SelectOnly = false;
  int CurFetchRows = 10;
  int MaxRows = 0;
  bool RaiseOnError = true;
  bool AbortOnNegStatus = false;
  bool ShowLineNum = true;
  bool ShowHeaderOnNoRows = true;
  bool ShowRowCount = true;
  bool ShowComputes = true;
  bool ShowReturnStatus = false;
  bool ShowCompleteMsg = true;
  QString CompleteMsg = QStringLiteral("Execution Completed");
  bool KeepHeader = false;
  bool UseNULLString = false;
  QString NULLString = QStringLiteral("(NULL)");
  bool TrimResults = false;
  bool LumicDtFmt = false;
  bool DisConnectAtEnd = false;
  bool Monitor = false;
  bool UseExecCursor = true;
  TCursor ExecCursor = crSQLWait;
  QStringList AutoDbParams;
  bool UseDbParams = false;
  TMsgDialogs MsgDialogs;
  TShowDbMessages ShowDbMessages{smDbMsg, smDbErr};
  QString About;
  // Appearance: the string grid's options and its default row height in pixels.
  TGridOptions Options{TGridOption::goFixedVertLine, TGridOption::goFixedHorzLine, TGridOption::goVertLine,
                       TGridOption::goHorzLine,      TGridOption::goRangeSelect,   TGridOption::goDrawFocusSelected,
                       TGridOption::goColSizing,     TGridOption::goTabs,          TGridOption::goThumbTracking};
  int DefaultRowHeight = 20;

  // Events. In a background run every event (the diagnostics events too) reaches its handler
  // on the GUI thread through a queued call, in the order the worker fired them, with the
  // accessors and LastError/LastMessage reading the state of the moment it was fired.
  TOnThreadTerminateEvent OnThreadTerminate;
  TNotifyEvent OnMaxRows, OnComputeRow, OnResultRow, OnHeader, BeforeExec, AfterExec, OnReturnStatus,
      OnReturnParams, BeforeCommand, AfterCommand;

  // The batches of the last SplitBatches.
  const QStringList& Batches() const { return batches_; }
  // Cuts SQL into batches at CodeTerminator (see the implementation).
  void SplitBatches();
  // The same cut as a pure function.
  static QStringList SplitScript(const QString& sql, const QString& terminator);

  // Cells.
  TGridCellStore& Cells() { return cells_; }
  const TGridCellStore& Cells() const { return cells_; }
  TGridCellModel* Model() const { return model_; }
  QString Cell(int col, int row) const { return cells_.Cell(col, row); }
  int RowCount() const { return cells_.RowCount(); }
  int ColCount() const { return cells_.ColCount(); }
  int FixedRows() const { return cells_.FixedRows(); }
  int ColWidth(int col) const { return cells_.ColWidth(col); }
  // The selected block (inclusive), as the view reports it; set by TQorixGridView.
  struct TSelection {
    int left = 1, top = 1, right = 1, bottom = 1;
  };
  TSelection Selection;

  // Run values.
  int ReturnStatus() const { return State().returnStatus; }
  Threadgrid* Worker() const { return worker_.get(); }
  int ServerType() const { return serverType_; }

  // Column accessors of the current result (1-based; a number outside the result gives an
  // empty text, 0 or true for ColumnIsNull). On the thread running the batches they read the
  // result at hand; on the GUI thread during a background run, inside a handler, the state
  // of the handler's own event, outside one, that of the last event handled.
  int ColumnCount() const;
  QString ColumnText(int col) const;
  QString ColumnName(int col) const;
  int ColumnNameLength(int col) const;
  QString ColumnTypeName(int col) const;
  bool ColumnIsNull(int col) const;
  int ComputeColumnCount() const;
  QString ComputeText(int col) const;
  int ComputeColumnId(int col) const;
  QString ComputeColumnName(int col) const;
  QString ComputeTypeName(int col) const;
  QString ComputeOperatorName(int col) const;
  int ParamCount() const;
  QString ParamName(int col) const;
  QString ParamTypeName(int col) const;
  QString ParamText(int col) const;
  // The last error and message texts, read as the accessors are.
  const QString& LastError() const { return State().lastError; }
  const QString& LastMessage() const { return State().lastMessage; }
  void SetLastError(const QString& text) override;
  void SetLastMessage(const QString& text) override;
  // The display width in characters of a described column (see the implementation).
  static int ColumnDisplayWidth(const CS_DATAFMT& fmt);

  // Writes the cells to FileName in Format (0 fixed width, 1 TAB, 2 comma, 5 Delimiter,
  // 6 HTML; others leave an empty file); AllRows false exports Selection.
  void ExportToFile(bool allRows, int format, const QString& fileName, const QString& delimiter);
  // The text ExportToFile writes (the same rules, into memory).
  QByteArray ExportText(bool allRows, int format, const QString& delimiter) const;

  // Cancels pending results of the grid's command (the GUI thread must not call it while a
  // worker runs).
  void CancelResults();
  // The library's cancel for use while another call on the connection is in progress: an
  // attention on the grid's connection (ct_cancel with CS_CANCEL_ATTN). Nothing without a
  // connection.
  void SendAttention();

 private:
  friend class Threadgrid;
  // One bound column: arrays of RowsPerFetch values, their copied lengths and indicators.
  struct TBoundColumn {
    std::vector<char> buffer;
    std::vector<CS_INT> copied;
    std::vector<CS_SMALLINT> indicator;
    int elementLength = 0;
    // Text, or the kind of value the column is bound as (see access/ValueText.h).
    valuetext::Kind kind = valuetext::Kind::Text;
    CS_INT serverType = 0;
    int precision = 0, scale = 0;
  };
  void CheckDatabase();
  void ResetCommand();
  void DropCommand();
  void CloseCursor();
  int CursorStatus();
  void RunBatches();
  void FinishRun();
  void ThreadDone();
  void Diag();
  void Fire(const TNotifyEvent& ev);
  void LogMonitor(const QString& line);
  void ResetGrid();
  void SendBatch();
  bool ProcessResults();
  void EndBatch();
  bool BindColumns(int n, TCSRecordDataManager& recs, TCSColumnDataManager& cols, std::vector<CS_DATAFMT>& fmts,
                   std::vector<TBoundColumn>& bound, int rowsPerFetch, bool header);
  void WriteHeader(int n);
  enum class FetchResult { Continue, Stop, MaxRows };
  FetchResult FetchRow();
  void WriteRowCount();
  void WriteReturnStatus();
  void HandleReturnParams();
  void HandleCompute();
  void WriteCompleteMsg();
  void DrainRows();
  // The text of row K of Bound (empty for NULL).
  QString BoundText(const TBoundColumn& bound, int k) const;
  // The same into Out, reusing its buffer.
  void BoundTextInto(QString& out, const TBoundColumn& bound, int k) const;
  // The descriptions of a bound result, for the accessors.
  static TGridResultState::Columns Describe(const TCSColumnDataManager& cols);
  // Rows per ct_fetch for a language row result of N columns (see ProcessResults).
  int LanguageRowsPerFetch(int n) const;
  // The state the accessors read on the calling thread (see the accessors).
  const TGridResultState& State() const;
  // Queues Event with a copy of the current state to the GUI thread (background runs).
  void Queue(const TNotifyEvent& event);
  // Runs a queued Event on the GUI thread with the accessors reading State.
  void Deliver(const TNotifyEvent& event, const std::shared_ptr<const TGridResultState>& state);
  // Clears the row, compute and parameter values at a batch's end.
  void ClearResultState();
  bool StopRequested() const;
  QString DateTimeText(const QString& text) const;
  void RestoreCursor();
  CS_SERVERMSG srvMsg_{};
  CS_CLIENTMSG cliMsg_{};

  QString sql_, dbName_;
  TQorixDatabaseBase* database_ = nullptr;
  TQorixDatabaseBase* ownDatabase_ = nullptr;
  bool showHeader_ = true;
  bool autoDb_ = false;
  std::atomic<bool> active_{false};
  CS_COMMAND* command_ = nullptr;
  CS_CONNECTION* connection_ = nullptr;
  CS_CONTEXT* context_ = nullptr;
  int serverType_ = 0;
  QStringList batches_;
  QString currentBatch_;
  QString cursorName_;
  bool cursorMode_ = false;
  bool inBackground_ = false;
  TCSRecordDataManager rowRecs_, paramRecs_, compRecs_;
  TCSColumnDataManager rowCols_, paramCols_, compDescs_;
  TCSComputeColumnDataManager compCols_;
  std::vector<CS_DATAFMT> rowFmts_, paramFmts_, compFmts_;
  std::vector<TBoundColumn> rowBound_, paramBound_, compBound_;
  // Rows per ct_fetch of the current row result, and the rows of the last fetch not yet laid
  // out (a cursor fetches CurFetchRows rows per round trip).
  int rowsPerFetch_ = 1;
  int fetchedRows_ = 0, nextFetched_ = 0;
  // The last fetch of one row cut a value to its buffer (CS_ROW_FAIL).
  bool rowFailed_ = false;
  // The whole value of text or image Column of the row just fetched, read with ct_get_data.
  QString WholeBlobText(int column, bool image);
  // The state of the result at hand (written only by the thread running the batches), the
  // state of the queued event being handled and of the last one handled (GUI thread).
  TGridResultState live_;
  const TGridResultState* handling_ = nullptr;
  std::shared_ptr<const TGridResultState> shown_;
  int textSizeCap_ = 32768;
  // Write position and counters.
  int writePos_ = 1;
  int runRows_ = 0, setRows_ = 0, rowCount_ = 0, numComputes_ = 0, curCols_ = 0;
  int largestCols_ = 1, widestLineNum_ = 0, lineNum_ = 1;
  CS_INT statusValue_ = 0;
  bool resultFlag_ = false;
  bool cursorSeen_ = false;
  // The current statement's count line was written when MaxRows was reached.
  bool countWritten_ = false;
  // The done result after a success without a count is passed over.
  bool skipDone_ = false;
  // What the batch's last ct_results returned.
  CS_RETCODE lastResults_ = CS_SUCCEED;
  // A KeepHeader run wrote a line before any header: the fixed row awaits the first.
  bool headerToFixedRow_ = false;
  // The first header of a run goes into the fixed row: KeepHeader with ShowHeader.
  bool HeaderKept() const { return KeepHeader && showHeader_; }
  // Moves the write position out of the fixed row, which a KeepHeader run keeps for its first
  // header whatever line comes before it (a count, a status, a row without column names).
  void LeaveFixedRow(TGridCellData& d);
  std::vector<int> widths_;
  std::unique_ptr<TCursorGuard> cursorGuard_;
  std::unique_ptr<Threadgrid> worker_;
  bool threadDonePending_ = false;
  // Repeats the stop request's cancel until the worker has ended (GUI thread).
  QTimer* stopTimer_ = nullptr;
  // Stops a running worker and waits until its thread body has returned (GUI thread).
  void StopAndJoin();
  TGridCellStore cells_;
  TGridCellModel* model_ = nullptr;
  // Diagnostics handlers replaced by queued forwarders during a background run.
  TNotifyEvent savedDiag_[4];
};

#include "catalog/grid/QorixGridView.h"
