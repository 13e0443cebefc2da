// TQorixGrid's result loop: sending a batch, walking its results, binding columns as text and
// laying header lines, rows, compute rows, return-status, row-count and closing lines into
// the cells, and the column accessors.
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <algorithm>
#include <cstring>
#include <string>

#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SybType.h"
#include "catalog/grid/QorixGrid.h"

namespace {

QString OperatorName(CS_INT op) {
  switch (op) {
    case CS_OP_SUM: return QStringLiteral("sum");
    case CS_OP_AVG: return QStringLiteral("avg");
    case CS_OP_COUNT: return QStringLiteral("count");
    case CS_OP_MIN: return QStringLiteral("min");
    case CS_OP_MAX: return QStringLiteral("max");
    default: return {};
  }
}

// The host's long time format without the time-zone field a Linux locale ends it with: a
// server's date-time value carries no zone, and the client's zone would misname it.
QString LongTimeFormat(const QLocale& loc) {
  QString f = loc.timeFormat(QLocale::LongFormat);
  static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
  f.remove(zone);
  return f.trimmed();
}

// The trace of a ct_fetch that ends the rows (none for another code).
const char* FetchName(CS_RETCODE r) {
  switch (r) {
    case CS_END_DATA: return "CS_END_DATA";
    case CS_FAIL: return "CS_FAIL";
    case CS_CANCELED: return "CS_CANCELED";
    case CS_PENDING: return "CS_PENDING";
    case CS_BUSY: return "CS_BUSY";
    default: return nullptr;
  }
}

// The name of a datatype code: the shared table for codes 0 to 22, "unknown" for 23 and 24,
// "illegal" for -1 and "unknown/illegal" for any other code.
QString TypeName(int code) {
  if (code >= 0 && code < kCSDataTypeNameCount) return CSDataTypeName(code);
  if (code == 23 || code == 24) return QStringLiteral("unknown");
  if (code == -1) return QStringLiteral("illegal");
  return QStringLiteral("unknown/illegal");
}

const char* ResultName(CS_INT type) {
  switch (type) {
    case CS_ROW_RESULT: case CS_CURSOR_RESULT: return "CS_ROW_RESULT";
    case CS_COMPUTE_RESULT: return "CS_COMPUTE_RESULT";
    case CS_STATUS_RESULT: return "CS_STATUS_RESULT";
    case CS_PARAM_RESULT: return "CS_PARAM_RESULT";
    case CS_MSG_RESULT: return "CS_MSG_RESULT";
    case CS_COMPUTEFMT_RESULT: return "CS_COMPUTEFMT_RESULT";
    case CS_DESCRIBE_RESULT: return "CS_DESCRIBE_RESULT";
    case CS_ROWFMT_RESULT: return "CS_ROWFMT_RESULT";
    case CS_CMD_SUCCEED: return "CS_CMD_SUCCEED";
    case CS_CMD_DONE: return "CS_CMD_DONE";
    case CS_CMD_FAIL: return "CS_CMD_FAIL";
    default: return "ERROR";
  }
}

}  // namespace

// ---------------------------------------------------------------- one batch

void TQorixGrid::ResetGrid() {
  widestLineNum_ = 0;
  widths_.assign(1, 10);
  headerToFixedRow_ = false;
  countWritten_ = false;
  cells_.Edit([&](TGridCellData& d) {
    int wp = d.fixedRows > 0 ? d.fixedRows - 1 : 0;
    d.ClearFrom(wp);
    d.rowCount = 2;
    d.colCount = 2;
    if (HeaderKept() && d.fixedRows == 0) d.fixedRows = 1;
    writePos_ = HeaderKept() ? d.fixedRows - 1 : d.fixedRows;
    largestCols_ = 1;
    d.SetRowCount(d.fixedRows + 1);
    d.SetColWidth(0, 13);
    d.widths.resize(1);
  });
}

void TQorixGrid::SendBatch() {
  const QByteArray text = sql_.toUtf8();
  if (!cursorMode_) {
    ctlib::ct_command(command_, CS_LANG_CMD, text.constData(), CS_NULLTERM, CS_UNUSED);
    Diag();
    ctlib::ct_send(command_);
    Diag();
    return;
  }
  QByteArray name = cursorName_.toUtf8();
  LogMonitor(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DECLARE)"));
  ctlib::ct_cursor(command_, CS_CURSOR_DECLARE, name.data(), CS_NULLTERM, const_cast<char*>(text.constData()),
                   CS_NULLTERM, CS_READ_ONLY);
  LogMonitor(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_ROWS)"));
  // FreeTDS fetches a cursor only when the bind count equals the cursor rows: the rows are
  // bound as arrays of CurFetchRows and laid out one at a time.
  ctlib::ct_cursor(command_, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, std::max(1, CurFetchRows));
  ctlib::ct_cursor(command_, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
  LogMonitor(QStringLiteral("SQL Execute: ") + sql_);
  ctlib::ct_send(command_);
  Diag();
  // The results before the cursor's rows (declare, rows, open) carry nothing for the grid;
  // the result loop passes them by type instead of skipping a fixed number blindly.
}

void TQorixGrid::EndBatch() {
  CloseCursor();
  // What the batch still has pending goes while the row buffers are still bound: reading out
  // rows writes into them.
  if (database_ && database_->IsConnected() && lastResults_ != CS_CANCELED) {
    // A batch an attention cancelled is over. Cancelling it once more would leave FreeTDS's
    // cancel pending on the command, and the next batch's results would be discarded with it.
    if (StopRequested()) {
      // A stopped batch is cancelled, whatever the server family: reading out the rest of a
      // long result would keep the run going long after Stop.
      ctlib::ct_cancel(nullptr, command_, CS_CANCEL_ALL);
    } else {
      CancelResults();
    }
  }
  rowRecs_.FreeBuffers();
  rowBound_.clear();
  fetchedRows_ = nextFetched_ = 0;
  ClearResultState();
  ClearDiagMessages(connection_);
}

void TQorixGrid::DrainRows() {
  CS_INT rows = 0;
  CS_RETCODE r;
  // A failed row does not end the rows; a stop request does.
  while ((r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED || r == CS_ROW_FAIL)
    if (StopRequested()) break;
}

bool TQorixGrid::ProcessResults() {
  bool ok = true;
  lastResults_ = CS_SUCCEED;
  Fire(BeforeCommand);
  cursorSeen_ = false;
  CS_INT type = 0;
  auto next = [&]() {
    if (inBackground_ && worker_) worker_->EnterWait();
    const CS_RETCODE r = ctlib::ct_results(command_, &type);
    lastResults_ = r;
    if (inBackground_ && worker_) worker_->LeaveWait();
    try {
      Diag();
    } catch (...) {
      CancelResults();
      throw;
    }
    return r;
  };
  CS_RETCODE ret = next();
  while (ret == CS_SUCCEED) {
    if (StopRequested()) break;
    LogMonitor(QStringLiteral("CS_SUCCEED"));
    LogMonitor(QString::fromLatin1(ResultName(type)));
    if (std::exchange(skipDone_, false) && type == CS_CMD_DONE) {
      ret = next();
      continue;
    }
    switch (type) {
      case CS_ROW_RESULT:
      case CS_CURSOR_RESULT: {
        resultFlag_ = true;
        if (type == CS_CURSOR_RESULT) cursorSeen_ = true;
        rowRecs_.FreeBuffers();
        CS_INT n = 0;
        ctlib::ct_res_info(command_, CS_NUMDATA, &n, CS_UNUSED, nullptr);
        LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") + QString::number(n));
        curCols_ = n;
        // A cursor's fetch must bind as many rows as the cursor sends per fetch. Outside
        // cursors FreeTDS fills arrays of rows in one ct_fetch, up to the rows at hand or
        // arriving, which spares the per-call cost for every row; text and image columns
        // keep one row per fetch.
        rowsPerFetch_ = type == CS_CURSOR_RESULT ? std::max(1, CurFetchRows) : LanguageRowsPerFetch(n);
        fetchedRows_ = nextFetched_ = 0;
        BindColumns(n, rowRecs_, rowCols_, rowFmts_, rowBound_, rowsPerFetch_, true);
        WriteHeader(n);
        for (;;) {
          const FetchResult f = FetchRow();
          if (f == FetchResult::Stop) break;
          if (f == FetchResult::MaxRows) {
            // The rest of this result set is not wanted: its rows are read out unshown, so
            // they are neither left pending nor read as new result sets. (FreeTDS's cancel of
            // the current result would drop the compute formats too, and the statement's next
            // compute row would end the connection.)
            DrainRows();
            break;
          }
          if (StopRequested()) break;
        }
        break;
      }
      case CS_COMPUTE_RESULT:
        HandleCompute();
        break;
      case CS_STATUS_RESULT:
        WriteReturnStatus();
        break;
      case CS_PARAM_RESULT:
        HandleReturnParams();
        break;
      case CS_MSG_RESULT:
      case CS_COMPUTEFMT_RESULT:
      case CS_DESCRIBE_RESULT:
        DrainRows();
        break;
      case CS_ROWFMT_RESULT:
        break;
      case CS_CMD_SUCCEED: {
        CS_INT c = -1;
        ctlib::ct_res_info(command_, CS_ROW_COUNT, &c, CS_UNUSED, nullptr);
        if (c >= 0) rowCount_ = c;
        // A statement without a count (declare, set, print, a procedure's end) gets no
        // separator line: the done result that follows its success is passed over. A done
        // result only, so a row result there is still laid out.
        skipDone_ = c < 0;
        resultFlag_ = false;
        curCols_ = 0;
        Fire(AfterCommand);
        break;
      }
      case CS_CMD_DONE: {
        CS_INT c = -1;
        if (!cursorMode_) {
          ctlib::ct_res_info(command_, CS_ROW_COUNT, &c, CS_UNUSED, nullptr);
          if (c >= 0) rowCount_ = c;
        } else if (cursorSeen_) {
          c = rowCount_;
        }
        LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : ") +
                   QString::number(rowCount_));
        // A result set cut off at MaxRows has its count line already; the server's count of
        // the whole statement would contradict it.
        if (c >= 0 && !countWritten_) WriteRowCount();
        // The separator follows every statement with a result set, counted or not (set
        // nocount on): a status line after it takes this line, not the last row's.
        cells_.Edit([&](TGridCellData& d) {
          LeaveFixedRow(d);
          d.SetRowCount(d.rowCount + 1);
        });
        ++writePos_;
        if (rowCount_ == 0) {
          for (int i = 0; i < rowRecs_.Count(); ++i) rowRecs_.GetItem(i)->Text.clear();
          for (QString& t : live_.texts) t.clear();
        }
        if (cursorMode_) rowCount_ = 0;
        cursorSeen_ = false;
        countWritten_ = false;
        // The statement's computes do not reduce the next statement's count.
        numComputes_ = 0;
        Fire(AfterCommand);
        break;
      }
      case CS_CMD_FAIL:
        resultFlag_ = false;
        ok = false;
        if (RaiseOnError) {
          CancelResults();
          DatabaseError(LoadResString(QorixRes::SCommandFailed), this);
        }
        break;
      default:
        ok = false;
        break;
    }
    if (StopRequested()) break;
    ret = next();
  }
  return ok;
}

// ---------------------------------------------------------------- columns

int TQorixGrid::LanguageRowsPerFetch(int n) const {
  size_t rowBytes = 0;
  for (int i = 1; i <= n; ++i) {
    CS_DATAFMT fmt{};
    if (ctlib::ct_describe(command_, i, &fmt) != CS_SUCCEED) return 1;
    if (fmt.datatype == CS_TEXT_TYPE || fmt.datatype == CS_IMAGE_TYPE || fmt.datatype == CS_LONGCHAR_TYPE ||
        fmt.datatype == CS_LONGBINARY_TYPE)
      return 1;
    rowBytes += static_cast<size_t>(ColumnDisplayWidth(fmt)) + 2;
  }
  constexpr size_t kBatchBytes = 256 * 1024;
  return static_cast<int>(std::clamp<size_t>(kBatchBytes / std::max<size_t>(rowBytes, 1), 1, 64));
}

int TQorixGrid::ColumnDisplayWidth(const CS_DATAFMT& fmt) {
  const int maxLen = std::max<CS_INT>(0, fmt.maxlength);
  const int limit = maxLen >= 1024 ? maxLen : 1024;
  int w = 12;
  switch (fmt.datatype) {
    case CS_CHAR_TYPE: case CS_VARCHAR_TYPE: case CS_TEXT_TYPE: case CS_LONGCHAR_TYPE:
      w = std::min(maxLen, limit);
      break;
    case CS_IMAGE_TYPE:
    case CS_BINARY_TYPE: case CS_VARBINARY_TYPE: case CS_LONGBINARY_TYPE:
      w = static_cast<int>(std::min<qint64>(2LL * maxLen + 2, fmt.datatype == CS_IMAGE_TYPE ? 2LL * maxLen + 2 : limit));
      break;
    case CS_TINYINT_TYPE: case CS_BIT_TYPE: w = 3; break;
    case CS_SMALLINT_TYPE: w = 6; break;
    case CS_INT_TYPE: w = 11; break;
    case CS_BIGINT_TYPE: case CS_UBIGINT_TYPE: w = 20; break;
    case CS_REAL_TYPE: case CS_FLOAT_TYPE: case CS_MONEY_TYPE: case CS_MONEY4_TYPE: w = 24; break;
    case CS_DATETIME_TYPE: case CS_DATETIME4_TYPE: case CS_DATE_TYPE: case CS_TIME_TYPE:
    case CS_BIGDATETIME_TYPE: case CS_BIGTIME_TYPE: w = 30; break;
    case CS_NUMERIC_TYPE: case CS_DECIMAL_TYPE: w = 79; break;
    default: w = 12; break;
  }
  const int nameLen = fmt.namelen > 0 ? static_cast<int>(strnlen(fmt.name, sizeof fmt.name)) : 0;
  return std::max(w, nameLen);
}

bool TQorixGrid::BindColumns(int n, TCSRecordDataManager& recs, TCSColumnDataManager& cols,
                             std::vector<CS_DATAFMT>& fmts, std::vector<TBoundColumn>& bound, int rowsPerFetch,
                             bool header) {
  recs.FreeBuffers();
  recs.AddRecords(n);
  cols.Clear();
  cols.AddColumns(n);
  fmts.assign(static_cast<size_t>(n), CS_DATAFMT{});
  bound.assign(static_cast<size_t>(n), TBoundColumn{});
  bool ok = true;
  for (int i = 1; i <= n && ok; ++i) {
    CS_DATAFMT fmt{};
    if (ctlib::ct_describe(command_, i, &fmt) != CS_SUCCEED) {
      ok = false;
      break;
    }
    fmts[static_cast<size_t>(i - 1)] = fmt;
    // Text and image values come as long as the session's text size allows, never the
    // server's nominal 2 GB; an image shows as hex (2 characters a byte plus "0x").
    CS_DATAFMT sized = fmt;
    if (fmt.datatype == CS_TEXT_TYPE || fmt.datatype == CS_IMAGE_TYPE)
      sized.maxlength = std::min<CS_INT>(fmt.maxlength, textSizeCap_);
    int size = ColumnDisplayWidth(sized) + 2;
    // A cut value fails its row, and a cursor fetch that fails a row leaves the rest of its
    // rows unread: through a cursor every binary value is bound whole.
    if (rowsPerFetch > 1 && (fmt.datatype == CS_BINARY_TYPE || fmt.datatype == CS_VARBINARY_TYPE ||
                             fmt.datatype == CS_LONGBINARY_TYPE))
      size = std::max(size, 2 * std::max<CS_INT>(fmt.maxlength, 0) + 4);
    TCSRecordData* rec = recs.GetItem(i - 1);
    rec->BufferLength = size - 2;
    TBoundColumn& b = bound[static_cast<size_t>(i - 1)];
    // Numbers and date-times of a row result come as values, their texts written by the grid
    // (FreeTDS's text conversion costs more than the rest of the row).
    const valuetext::Kind kind = valuetext::KindOf(fmt.datatype);
    if (header && kind != valuetext::Kind::Text && valuetext::Agrees(context_, kind)) {
      b.kind = kind;
      size = valuetext::BoundSize(kind);
    }
    b.serverType = fmt.datatype;
    b.precision = fmt.precision;
    b.scale = fmt.scale;
    b.elementLength = size;
    b.buffer.assign(static_cast<size_t>(size) * static_cast<size_t>(rowsPerFetch), 0);
    b.copied.assign(static_cast<size_t>(rowsPerFetch), 0);
    b.indicator.assign(static_cast<size_t>(rowsPerFetch), 0);
    CS_DATAFMT bind{};
    bind.datatype = b.kind == valuetext::Kind::Text ? CS_CHAR_TYPE : valuetext::BoundType(b.kind, fmt.datatype);
    if (b.kind == valuetext::Kind::Numeric) {
      bind.precision = fmt.precision;
      bind.scale = fmt.scale;
    }
    // Bound by copied length: a NUL-terminated bind of a value that fills the buffer makes
    // FreeTDS fail the whole row.
    bind.format = CS_FMT_UNUSED;
    bind.count = rowsPerFetch;
    bind.maxlength = size;
    ctlib::ct_bind(command_, i, &bind, b.buffer.data(), b.copied.data(), b.indicator.data());
    if (Monitor)
      LogMonitor(QLatin1String(&recs == &compRecs_ ? "Open-Client: ct_bind (Compute) - Column Name : "
                                                   : "Open-Client: ct_bind - Column Name : ") +
                 QString::fromUtf8(fmt.name, static_cast<qsizetype>(strnlen(fmt.name, sizeof fmt.name))));
    cols.SetDataFmt(i - 1, fmt);
    cols.GetItem(i - 1)->MaxLength = size;
    cols.GetItem(i - 1)->DataType = fmt.datatype;
  }
  if (header) {
    live_.columns = Describe(cols);
    live_.texts.assign(static_cast<size_t>(n), QString());
    live_.nulls.assign(static_cast<size_t>(n), 1);
    Fire(OnHeader);
  }
  return ok;
}

void TQorixGrid::BoundTextInto(QString& out, const TBoundColumn& bound, int k) const {
  if (bound.indicator[static_cast<size_t>(k)] == -1) {
    out.resize(0);
    return;
  }
  const char* p = bound.buffer.data() + static_cast<size_t>(k) * static_cast<size_t>(bound.elementLength);
  char own[128];
  const char* text = p;
  qsizetype len = 0;
  if (bound.kind != valuetext::Kind::Text) {
    const char* end = valuetext::Write(bound.kind, p, own);
    if (!end) {
      out = BoundText(bound, k);
      return;
    }
    text = own;
    len = end - own;
  } else {
    len = static_cast<qsizetype>(
        strnlen(p, static_cast<size_t>(std::clamp<int>(bound.copied[static_cast<size_t>(k)], 0, bound.elementLength))));
  }
  // ASCII is widened in place into the text's own buffer when nothing shares it; anything
  // else goes through the UTF-8 decoder.
  for (qsizetype i = 0; i < len; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      out = QString::fromUtf8(text, len);
      return;
    }
  out.resize(len);
  QChar* d = out.data();
  for (qsizetype i = 0; i < len; ++i) d[i] = QLatin1Char(text[i]);
}

QString TQorixGrid::BoundText(const TBoundColumn& bound, int k) const {
  // A NULL leaves the buffer as the previous row left it: the indicator decides.
  if (bound.indicator[static_cast<size_t>(k)] == -1) return {};
  const char* p = bound.buffer.data() + static_cast<size_t>(k) * static_cast<size_t>(bound.elementLength);
  if (bound.kind != valuetext::Kind::Text) {
    char out[128];
    if (const char* end = valuetext::Write(bound.kind, p, out))
      return QString::fromUtf8(out, static_cast<qsizetype>(end - out));
    const std::string theirs = valuetext::Convert(context_, valuetext::BoundType(bound.kind, bound.serverType), p,
                                                  bound.elementLength, bound.precision, bound.scale);
    return QString::fromUtf8(theirs.data(), static_cast<qsizetype>(theirs.size()));
  }
  const int len = std::clamp<int>(bound.copied[static_cast<size_t>(k)], 0, bound.elementLength);
  return QString::fromUtf8(p, static_cast<qsizetype>(strnlen(p, static_cast<size_t>(len))));
}

TGridResultState::Columns TQorixGrid::Describe(const TCSColumnDataManager& cols) {
  auto out = std::make_shared<std::vector<TGridResultState::Column>>(static_cast<size_t>(cols.Count()));
  for (int i = 0; i < cols.Count(); ++i) {
    const TCSColumnData* c = cols.GetItem(i);
    TGridResultState::Column& d = (*out)[static_cast<size_t>(i)];
    d.name = c->Name;
    d.nameLength = c->NameLen;
    d.dataType = c->DataType;
    d.maxLength = c->MaxLength;
    d.scale = c->Scale;
    d.precision = c->Precision;
  }
  return out;
}

void TQorixGrid::ClearResultState() {
  live_.columns.reset();
  live_.computes.reset();
  live_.params.reset();
  live_.texts.clear();
  live_.nulls.clear();
  live_.computeTexts.clear();
  live_.paramTexts.clear();
}

namespace {

// The description at 1-based Col, or null outside the list.
const TGridResultState::Column* At(const TGridResultState::Columns& cols, int col) {
  if (!cols || col < 1 || col > static_cast<int>(cols->size())) return nullptr;
  return &(*cols)[static_cast<size_t>(col - 1)];
}

QString TextAt(const std::vector<QString>& texts, int col) {
  return col >= 1 && col <= static_cast<int>(texts.size()) ? texts[static_cast<size_t>(col - 1)] : QString();
}

}  // namespace

int TQorixGrid::ColumnCount() const { return State().columns ? static_cast<int>(State().columns->size()) : 0; }

QString TQorixGrid::ColumnText(int col) const {
  const QString t = TextAt(State().texts, col);
  return TrimResults ? t.trimmed() : t;
}

QString TQorixGrid::ColumnName(int col) const {
  const auto* c = At(State().columns, col);
  return c ? c->name : QString();
}

int TQorixGrid::ColumnNameLength(int col) const {
  const auto* c = At(State().columns, col);
  return c ? c->nameLength : 0;
}

QString TQorixGrid::ColumnTypeName(int col) const {
  const auto* c = At(State().columns, col);
  return c ? TypeName(c->dataType) : QString();
}

bool TQorixGrid::ColumnIsNull(int col) const {
  const TGridResultState& s = State();
  return col < 1 || col > static_cast<int>(s.nulls.size()) || s.nulls[static_cast<size_t>(col - 1)] != 0;
}

int TQorixGrid::ComputeColumnCount() const {
  return State().computes ? static_cast<int>(State().computes->size()) : 0;
}

QString TQorixGrid::ComputeText(int col) const {
  const QString t = TextAt(State().computeTexts, col);
  return TrimResults ? t.trimmed() : t;
}

int TQorixGrid::ComputeColumnId(int col) const {
  const auto* c = At(State().computes, col);
  return c ? c->columnId : 0;
}

QString TQorixGrid::ComputeColumnName(int col) const {
  const auto* c = At(State().computes, col);
  const auto* selected = c ? At(State().columns, c->columnId) : nullptr;
  if (!selected) return {};
  return TrimResults ? selected->name.trimmed() : selected->name;
}

QString TQorixGrid::ComputeTypeName(int col) const {
  const auto* c = At(State().computes, col);
  return c ? TypeName(c->dataType) : QString();
}

QString TQorixGrid::ComputeOperatorName(int col) const {
  const auto* c = At(State().computes, col);
  return c ? OperatorName(c->op) : QString();
}

int TQorixGrid::ParamCount() const { return State().params ? static_cast<int>(State().params->size()) : 0; }

QString TQorixGrid::ParamName(int col) const {
  const auto* c = At(State().params, col);
  return c ? c->name : QString();
}

QString TQorixGrid::ParamTypeName(int col) const {
  const auto* c = At(State().params, col);
  return c ? TypeName(c->dataType) : QString();
}

QString TQorixGrid::ParamText(int col) const { return TextAt(State().paramTexts, col); }

// ---------------------------------------------------------------- cells

void TQorixGrid::WriteHeader(int n) {
  setRows_ = 0;
  largestCols_ = std::max(largestCols_, n);
  lineNum_ = 1;
  cells_.Edit([&](TGridCellData& d) {
    d.SetColCount(largestCols_ + 1);
    if (!showHeader_) return;
    int total = 0;
    for (int c = 1; c <= n; ++c) total += rowCols_.GetItem(c - 1)->Name.size();
    // The first header of a KeepHeader run goes into the fixed row even when a status line
    // came first.
    const bool toFixedRow = headerToFixedRow_ && total > 0;
    if (toFixedRow) headerToFixedRow_ = false;
    const int row = toFixedRow ? 0 : writePos_;
    d.SetCell(0, row, QStringLiteral(" "));
    for (int c = 1; c <= n; ++c) {
      const QString name = rowCols_.GetItem(c - 1)->Name;
      d.SetCell(c, row, name);
      if (c >= static_cast<int>(widths_.size())) widths_.resize(static_cast<size_t>(c) + 1, 10);
      if (d.ColWidth(c) < name.size() * kWidthFactor || widths_[c] < name.size() * kWidthFactor) {
        const int w = std::max(d.ColWidth(c), static_cast<int>(name.size()) * kWidthFactor);
        d.SetColWidth(c, w);
        widths_[c] = std::max(widths_[c], w);
      }
    }
    if (total > 0 && !toFixedRow) {
      d.SetRowCount(d.rowCount + 1);
      ++writePos_;
    }
  });
}

QString TQorixGrid::WholeBlobText(int column, bool image) {
  QByteArray bytes;
  char chunk[65536];
  CS_INT got = 0;
  CS_RETCODE r;
  // The last chunk comes with CS_END_ITEM or CS_END_DATA.
  do {
    got = 0;
    r = ctlib::ct_get_data(command_, column, chunk, sizeof chunk, &got);
    if (r == CS_SUCCEED || r == CS_END_ITEM || r == CS_END_DATA) bytes.append(chunk, std::max<CS_INT>(got, 0));
  } while (r == CS_SUCCEED);
  // An image shows as the library writes binary as text: two lower-case digits a byte.
  return image ? QString::fromLatin1(bytes.toHex()) : QString::fromUtf8(bytes);
}

void TQorixGrid::LeaveFixedRow(TGridCellData& d) {
  if (writePos_ >= d.fixedRows) return;
  d.SetRowCount(d.rowCount + (d.fixedRows - writePos_));
  writePos_ = d.fixedRows;
  headerToFixedRow_ = HeaderKept();
}

QString TQorixGrid::DateTimeText(const QString& text) const {
  CS_DATAFMT src{}, dst{};
  const QByteArray bytes = text.toUtf8();
  src.datatype = CS_CHAR_TYPE;
  src.maxlength = bytes.size();
  dst.datatype = CS_DATETIME_TYPE;
  dst.maxlength = 8;
  CS_DATETIME dt{};
  CS_INT len = 0;
  if (ctlib::cs_convert(context_, &src, const_cast<char*>(bytes.constData()), &dst, &dt, &len) != CS_SUCCEED)
    return text;
  const QDateTime v = DateTimeFrom1900(dt.dtdays, static_cast<qint64>(dt.dttime / 300) * 1000);
  const QLocale loc;
  QString s = loc.toString(v.date(), QLocale::ShortFormat);
  if (v.time() != QTime(0, 0)) s += QLatin1Char(' ') + loc.toString(v.time(), LongTimeFormat(loc));
  return s;
}

TQorixGrid::FetchResult TQorixGrid::FetchRow() {
  if (nextFetched_ >= fetchedRows_) {
    CS_INT rows = 0;
    LogMonitor(QStringLiteral("Open-Client: ct_fetch"));
    if (inBackground_ && worker_) worker_->EnterWait();
    const CS_RETCODE r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
    if (inBackground_ && worker_) worker_->LeaveWait();
    rowFailed_ = false;
    if (r == CS_SUCCEED) {
      fetchedRows_ = rows;
    } else if (r == CS_ROW_FAIL) {
      // A value that does not fit its buffer makes FreeTDS report CS_ROW_FAIL after copying
      // what fits, with the rows before it counted: the row is shown with the cut value
      // rather than dropped.
      LogMonitor(QStringLiteral("CS_ROW_FAIL"));
      fetchedRows_ = rows + 1;
      rowFailed_ = rowsPerFetch_ == 1;
    } else {
      if (const char* name = FetchName(r)) LogMonitor(QLatin1String(name));
      return FetchResult::Stop;
    }
    fetchedRows_ = std::clamp(fetchedRows_, 0, rowsPerFetch_);
    nextFetched_ = 0;
    if (fetchedRows_ == 0) return FetchResult::Stop;
  }
  const int k = nextFetched_++;
  const int n = rowRecs_.Count();
  // Each column's text goes into the state's text of that column, in place where nothing
  // else holds it (no allocation a value).
  for (int c = 0; c < n; ++c) {
    const TBoundColumn& b = rowBound_[static_cast<size_t>(c)];
    TCSRecordData* rec = rowRecs_.GetItem(c);
    rec->CopiedLength = b.copied[static_cast<size_t>(k)];
    rec->Indicator = b.indicator[static_cast<size_t>(k)];
    BoundTextInto(live_.texts[static_cast<size_t>(c)], b, k);
    // A text or image value longer than its buffer (the script raised the session's text
    // size) is read whole from the row FreeTDS holds.
    if (rowFailed_ && rec->Indicator != -1 && (b.serverType == CS_TEXT_TYPE || b.serverType == CS_IMAGE_TYPE))
      live_.texts[static_cast<size_t>(c)] = WholeBlobText(c + 1, b.serverType == CS_IMAGE_TYPE);
  }
  if (Monitor)
    for (int c = 1; c <= n; ++c)
      LogMonitor(QStringLiteral("SQL Data Out: Column = %1, Name = %2, Type = %3, Precision = %4, Scale = %5, Data = %6")
                     .arg(c).arg(rowCols_.GetItem(c - 1)->Name, TypeName(rowCols_.GetItem(c - 1)->DataType))
                     .arg(rowCols_.GetItem(c - 1)->Precision).arg(rowCols_.GetItem(c - 1)->Scale)
                     .arg(TrimResults ? live_.texts[static_cast<size_t>(c - 1)].trimmed()
                                      : live_.texts[static_cast<size_t>(c - 1)]));
  if (LumicDtFmt)
    for (int c = 1; c <= n; ++c) {
      const int type = rowCols_.GetItem(c - 1)->DataType;
      QString& text = live_.texts[static_cast<size_t>(c - 1)];
      if ((type == CS_DATETIME_TYPE || type == CS_DATETIME4_TYPE) && !text.trimmed().isEmpty())
        text = DateTimeText(text);
    }
  for (int c = 0; c < n; ++c)
    live_.nulls[static_cast<size_t>(c)] =
        rowRecs_.GetItem(c)->Indicator == -1 || live_.texts[static_cast<size_t>(c)].isEmpty();
  if (cursorMode_) ++rowCount_;
  ++runRows_;
  ++setRows_;
  if (writePos_ == 0) cells_.Edit([&](TGridCellData& d) { LeaveFixedRow(d); });
  // The row's text is made before the lock is taken; under it it is only moved in.
  const bool numbered = ShowLineNum && writePos_ > 0;
  const int numLength = numbered ? static_cast<int>(std::to_string(lineNum_).size()) : 1;
  qsizetype total = numLength + 1;
  for (int c = 0; c < n; ++c) total += live_.texts[static_cast<size_t>(c)].size() + 1;
  QString row;
  row.reserve(total + (UseNULLString ? n * NULLString.size() : 0));
  if (numbered) row += QString::number(lineNum_);
  else row += QLatin1Char(' ');
  row += QChar(TGridCellData::kCellEnd);
  if (static_cast<int>(widths_.size()) <= n) widths_.resize(static_cast<size_t>(n) + 1, 10);
  for (int c = 1; c <= n; ++c) {
    const QString& raw = live_.texts[static_cast<size_t>(c - 1)];
    const QString trimmed = TrimResults ? raw.trimmed() : QString();
    const QString& t = TrimResults ? trimmed : raw;
    const int need = static_cast<int>(t.size()) * kWidthFactor;
    if (need > widths_[c]) widths_[c] = need;
    if (live_.nulls[static_cast<size_t>(c - 1)] && UseNULLString) row += NULLString;
    else if (t.isEmpty()) row += QLatin1Char(' ');
    else row += t;
    row += QChar(TGridCellData::kCellEnd);
  }
  cells_.Edit([&](TGridCellData& d) {
    if (numLength > widestLineNum_) {
      widestLineNum_ = numLength;
      d.SetColWidth(0, widestLineNum_ * kWidthFactor + 5);
    }
    d.SetRow(writePos_, std::move(row), n + 1);
    ++writePos_;
    d.SetRowCount(d.rowCount + 1);
    ++lineNum_;
    largestCols_ = std::max(largestCols_, n);
    d.SetColCount(largestCols_ + 1);
    for (int c = 1; c <= largestCols_ && c < static_cast<int>(widths_.size()); ++c)
      if (d.ColWidth(c) < widths_[c]) d.SetColWidth(c, widths_[c]);
  });
  if (inBackground_) model_->RequestRefresh();
  Fire(OnResultRow);
  if (MaxRows > 0 && runRows_ >= MaxRows) {
    Fire(OnMaxRows);
    rowCount_ = setRows_;
    WriteRowCount();
    countWritten_ = true;
    return FetchResult::MaxRows;
  }
  return FetchResult::Continue;
}

void TQorixGrid::WriteRowCount() {
  if (!ShowRowCount) return;
  const int shown = (!ShowComputes && numComputes_ > 0) ? rowCount_ - numComputes_ : rowCount_;
  const QString line = QStringLiteral("(") + QString::number(shown) + QStringLiteral(" rows affected)");
  const QString first = QStringLiteral("(") + QString::number(rowCount_ - numComputes_) + QStringLiteral(" rows affected)");
  cells_.Edit([&](TGridCellData& d) {
    LeaveFixedRow(d);
    if (d.ColWidth(1) < first.size() * kWidthFactor) d.SetColWidth(1, static_cast<int>(first.size()) * kWidthFactor);
    if (widths_.size() < 2) widths_.resize(2, 10);
    widths_[1] = std::max(widths_[1], d.ColWidth(1));
    d.SetCell(1, writePos_, line);
    d.SetRowCount(d.rowCount + 1);
    ++writePos_;
  });
}

void TQorixGrid::HandleCompute() {
  // The number of computes the row-count line takes off with ShowComputes off: the library's
  // count of the statement's compute clauses (the facade reads them from the statement).
  CS_INT computes = 0;
  if (ctlib::ct_res_info(command_, CS_NUM_COMPUTES, &computes, CS_UNUSED, nullptr) == CS_SUCCEED)
    numComputes_ = computes;
  LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUM_COMPUTES) - Number of Computes : ") +
             QString::number(numComputes_));
  CS_INT m = 0;
  ctlib::ct_res_info(command_, CS_NUMDATA, &m, CS_UNUSED, nullptr);
  LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns in Compute : ") + QString::number(m));
  if (m <= 0) {
    DrainRows();
    return;
  }
  BindColumns(m, compRecs_, compDescs_, compFmts_, compBound_, 1, false);
  compCols_.Clear();
  compCols_.AddColumns(m);
  auto described = std::make_shared<std::vector<TGridResultState::Column>>(static_cast<size_t>(m));
  for (int i = 1; i <= m; ++i) {
    CS_INT v = 0;
    ctlib::ct_compute_info(command_, CS_COMP_OP, i, &v, CS_UNUSED, nullptr);
    compCols_.GetItem(i - 1)->Operator = v;
    v = 0;
    ctlib::ct_compute_info(command_, CS_COMP_COLID, i, &v, CS_UNUSED, nullptr);
    compCols_.GetItem(i - 1)->ColumnId = v;
    TGridResultState::Column& d = (*described)[static_cast<size_t>(i - 1)];
    const CS_DATAFMT& f = compFmts_[static_cast<size_t>(i - 1)];
    d.name = compDescs_.GetItem(i - 1)->Name;
    d.nameLength = f.namelen;
    d.dataType = f.datatype;
    d.maxLength = f.maxlength;
    d.scale = f.scale;
    d.precision = f.precision;
    d.op = compCols_.GetItem(i - 1)->Operator;
    d.columnId = compCols_.GetItem(i - 1)->ColumnId;
  }
  live_.computes = described;
  live_.computeTexts.assign(static_cast<size_t>(m), QString());
  resultFlag_ = true;
  CS_INT rows = 0;
  const CS_RETCODE r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  if (r == CS_SUCCEED || r == CS_ROW_FAIL) {
    for (int i = 0; i < m; ++i) {
      compRecs_.GetItem(i)->Text = BoundText(compBound_[static_cast<size_t>(i)], 0);
      live_.computeTexts[static_cast<size_t>(i)] = compRecs_.GetItem(i)->Text;
    }
    if (ShowComputes) {
      cells_.Edit([&](TGridCellData& d) {
        LeaveFixedRow(d);
        for (int i = 1; i <= m; ++i) {
          const int col = std::max<CS_INT>(1, compCols_.GetItem(i - 1)->ColumnId);
          const QString op = OperatorName(compCols_.GetItem(i - 1)->Operator);
          if (col >= static_cast<int>(widths_.size())) widths_.resize(static_cast<size_t>(col) + 1, 10);
          d.SetCell(col, writePos_, op);
          if (d.ColWidth(col) < op.size() * kWidthFactor) d.SetColWidth(col, static_cast<int>(op.size()) * kWidthFactor);
          d.SetRowCount(d.rowCount + 1);
          ++writePos_;
          QString t = live_.computeTexts[static_cast<size_t>(i - 1)];
          if (TrimResults) t = t.trimmed();
          if (d.ColWidth(col) < t.size() * kWidthFactor) d.SetColWidth(col, static_cast<int>(t.size()) * kWidthFactor);
          if (t.isEmpty()) t = QStringLiteral(" ");
          d.SetCell(col, writePos_, t);
          widths_[col] = std::max(widths_[col], d.ColWidth(col));
          d.SetRowCount(d.rowCount + 1);
          ++writePos_;
          if (col > largestCols_) {
            largestCols_ = col;
            d.SetColCount(largestCols_ + 1);
          }
        }
      });
    }
    if (Monitor)
      for (int i = 1; i <= m; ++i) {
        const TGridResultState::Column& c = (*described)[static_cast<size_t>(i - 1)];
        const auto* selected = At(live_.columns, c.columnId);
        LogMonitor(QStringLiteral("SQL Compute Data Out: Column = %1, Select-Column Name= %2, Type = %3, "
                                  "Precision = %4, Scale = %5, Agg Function = %6, Data = %7")
                       .arg(i)
                       .arg(selected ? selected->name : QString(), TypeName(c.dataType))
                       .arg(c.precision)
                       .arg(c.scale)
                       .arg(OperatorName(c.op), live_.computeTexts[static_cast<size_t>(i - 1)]));
      }
    Fire(OnComputeRow);
    DrainRows();
  }
  compRecs_.FreeBuffers();
}

void TQorixGrid::WriteReturnStatus() {
  LogMonitor(QStringLiteral("Flow : ** Start of obtaining Return Status **"));
  CS_DATAFMT fmt{};
  statusValue_ = 0;
  CS_INT copied = 0;
  CS_SMALLINT ind = 0;
  if (ctlib::ct_describe(command_, 1, &fmt) == CS_SUCCEED) {
    fmt.format = CS_FMT_UNUSED;
    fmt.datatype = CS_INT_TYPE;
    fmt.maxlength = sizeof(CS_INT);
    fmt.count = 1;
    ctlib::ct_bind(command_, 1, &fmt, &statusValue_, &copied, &ind);
  }
  CS_INT rows = 0;
  ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  live_.returnStatus = statusValue_;
  LogMonitor(QStringLiteral("Open-Client: Return Status = ") + QString::number(live_.returnStatus));
  if (ShowReturnStatus) {
    cells_.Edit([&](TGridCellData& d) {
      // The line takes the blank separator line the previous command left, but never a
      // fixed row or a line that holds something.
      const int firstOut = d.fixedRows;
      LeaveFixedRow(d);
      bool up = writePos_ - 1 >= firstOut && d.Cell(1, writePos_ - 1).isEmpty() && d.Cell(0, writePos_ - 1).isEmpty();
      if (up) --writePos_;
      else d.SetRowCount(d.rowCount + 1);
      d.SetCell(1, writePos_, QStringLiteral("(return status = ") + QString::number(live_.returnStatus) + QLatin1Char(')'));
      d.SetRowCount(d.rowCount + 1);
      writePos_ += 2;
    });
  }
  LogMonitor(QStringLiteral("Open-Client: Return Status = ") + QString::number(live_.returnStatus));
  Fire(OnReturnStatus);
  if (AbortOnNegStatus && live_.returnStatus < 0 && RaiseOnError) {
    CancelResults();
    throw EAbort();
  }
  DrainRows();
  LogMonitor(QStringLiteral("Flow : ** End of obtaining Return Status **"));
}

void TQorixGrid::HandleReturnParams() {
  LogMonitor(QStringLiteral("Flow : ** Start of obtaining Return parameters **"));
  CS_INT p = 0;
  ctlib::ct_res_info(command_, CS_NUMDATA, &p, CS_UNUSED, nullptr);
  LogMonitor(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of parameters : ") + QString::number(p));
  BindColumns(p, paramRecs_, paramCols_, paramFmts_, paramBound_, 1, false);
  live_.params = Describe(paramCols_);
  live_.paramTexts.assign(static_cast<size_t>(std::max<CS_INT>(p, 0)), QString());
  CS_INT rows = 0;
  CS_RETCODE r;
  while ((r = ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED || r == CS_ROW_FAIL) {
    for (int i = 0; i < p; ++i) {
      paramRecs_.GetItem(i)->Text = BoundText(paramBound_[static_cast<size_t>(i)], 0);
      live_.paramTexts[static_cast<size_t>(i)] = paramRecs_.GetItem(i)->Text;
    }
    if (r == CS_ROW_FAIL) break;
  }
  if (Monitor)
    for (int i = 1; i <= p; ++i) {
      const CS_DATAFMT& f = paramFmts_[static_cast<size_t>(i - 1)];
      LogMonitor(QStringLiteral("SQL Parameter Data Out: Column = %1, Parameter Name= %2, Type = %3, Precision = %4, "
                                "Scale = %5, Data = %6")
                     .arg(i)
                     .arg(paramCols_.GetItem(i - 1)->Name, TypeName(f.datatype))
                     .arg(f.precision)
                     .arg(f.scale)
                     .arg(live_.paramTexts[static_cast<size_t>(i - 1)]));
    }
  Fire(OnReturnParams);
  LogMonitor(QStringLiteral("Flow : ** End of obtaining Return parameters **"));
}

void TQorixGrid::WriteCompleteMsg() {
  cells_.Edit([&](TGridCellData& d) {
    LeaveFixedRow(d);
    if (d.ColWidth(1) < CompleteMsg.size() * kWidthFactor)
      d.SetColWidth(1, static_cast<int>(CompleteMsg.size()) * kWidthFactor);
    d.SetCell(1, writePos_, CompleteMsg);
  });
}
