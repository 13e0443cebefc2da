// TQorixCustomQuery around the result loop: column accessors, binding of row, compute and
// output-parameter columns, TextImage reading, the datetime re-formatting, DescribeColumns,
// BindParams, the client cursor, the prepared statement and the row history.

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/QorixUtils.h"
#include "access/SybType.h"
#include "access/ValueText.h"

namespace {

QString BufferText(const char* buffer, CS_INT length) {
  if (!buffer || length <= 0) return QString();
  return QString::fromUtf8(buffer, static_cast<qsizetype>(strnlen(buffer, static_cast<size_t>(length))));
}

// The decimal text of a money or numeric parameter, exactly as given: a text value as it
// stands (trimmed), a number in its shortest fixed form ("12345.6789", never "1.2e+20").
// Empty when the value is not a plain decimal number ("abc", "1e5", "12,5").
QString ExactDecimalText(const TParam& p) {
  const QVariant& v = p.Value();
  QString text;
  if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
    text = QString::number(v.toDouble(), 'f', QLocale::FloatingPointShortest);
  else
    text = v.toString().trimmed();
  qsizetype i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
  int digits = 0, points = 0;
  for (; i < text.size(); ++i) {
    if (text[i] >= u'0' && text[i] <= u'9')
      ++digits;
    else if (text[i] == u'.' && ++points == 1)
      continue;
    else
      return QString();
  }
  return digits > 0 ? text : QString();
}

// A T-SQL literal of a parameter's value: strings quoted with their quotes doubled, numbers
// in the C locale (money and numeric values exactly as given), date-times in one fixed form,
// NULL as the keyword.
QString ParamLiteral(const TParam& p) {
  if (p.IsNull()) return QStringLiteral("NULL");
  switch (p.DataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return QString::number(p.Value().toLongLong());
    case ftBoolean:
      return p.Value().toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case ftFloat:
      return QString::number(p.AsFloat(), 'g', 17);
    case ftCurrency:
    case ftBCD: {
      // Checked before it is spliced: only a plain decimal number reaches the statement.
      const QString exact = ExactDecimalText(p);
      return exact.isEmpty() ? QString::number(p.AsFloat(), 'g', 17) : exact;
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
      return QLatin1Char('\'') + p.AsDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) +
             QLatin1Char('\'');
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
      return QStringLiteral("0x") + QString::fromLatin1(p.Value().toByteArray().toHex());
    default: {
      QString text = p.AsString();
      text.replace(QLatin1Char('\''), QStringLiteral("''"));
      return QLatin1Char('\'') + text + QLatin1Char('\'');
    }
  }
}

}  // namespace

TCSColumnData* TQorixCustomQuery::FormatAt(int index) const {
  if (index < 1 || index > rowFormats_.Count()) return nullptr;
  return rowFormats_.GetItem(index - 1);
}

TCSRecordData* TQorixCustomQuery::RecordAt(int index) const {
  if (index < 1 || index > rowValues_.Count()) return nullptr;
  return rowValues_.GetItem(index - 1);
}

// ---- accessors ----

QString TQorixCustomQuery::GetFieldValue(int index) const {
  const TCSRecordData* r = RecordAt(index);
  if (!r || r->Indicator == CS_NULLDATA) return QString();
  MakeRowText(index - 1);
  return TrimResults ? r->Text.trimmed() : r->Text;
}

bool TQorixCustomQuery::FieldIsNull(int index) const {
  const TCSRecordData* r = RecordAt(index);
  return !r || r->Indicator == CS_NULLDATA;
}

QString TQorixCustomQuery::GetFieldName(int index) {
  if (rowFormats_.Count() == 0) DescribeColumns();
  const TCSColumnData* f = FormatAt(index);
  return f ? f->Name : QString();
}

QString TQorixCustomQuery::GetFieldTypeName(int index) const {
  const TCSColumnData* f = FormatAt(index);
  return f ? CSDataTypeName(f->DataType) : QString();
}

int TQorixCustomQuery::GetFieldMaxLength(int index) {
  if (rowFormats_.Count() == 0) DescribeColumns();
  const TCSColumnData* f = FormatAt(index);
  return f ? f->MaxLength : 0;
}

int TQorixCustomQuery::GetFieldNameLength(int index) {
  if (rowFormats_.Count() == 0) DescribeColumns();
  const TCSColumnData* f = FormatAt(index);
  return f ? f->NameLen : 0;
}

int TQorixCustomQuery::GetFieldScale(int index) {
  if (rowFormats_.Count() == 0) DescribeColumns();
  const TCSColumnData* f = FormatAt(index);
  return f ? f->Scale : 0;
}

int TQorixCustomQuery::GetFieldPrecision(int index) {
  if (rowFormats_.Count() == 0) DescribeColumns();
  const TCSColumnData* f = FormatAt(index);
  return f ? f->Precision : 0;
}

std::bitset<16> TQorixCustomQuery::GetFieldStatus(int index) const {
  const TCSColumnData* f = FormatAt(index);
  return f ? StatusSet(f->Status) : std::bitset<16>();
}

std::bitset<16> TQorixCustomQuery::StatusSet(CS_INT value) {
  std::bitset<16> set;
  const unsigned status = static_cast<unsigned>(value);
  for (int bit = 0; bit <= 10; ++bit)
    if (status & (1u << bit)) set.set(static_cast<size_t>(bit));
  if (status & 0x2000) set.set(11);
  if (status & 0x4000) set.set(12);
  if (status & 0x8000) set.set(13);
  return set;
}

QString TQorixCustomQuery::GetComputeValue(int index) const {
  if (index < 1 || index > computeValues_.Count()) return QString();
  const TCSRecordData* r = computeValues_.GetItem(index - 1);
  if (r->Indicator == CS_NULLDATA) return QString();
  return TrimResults ? r->Text.trimmed() : r->Text;
}

QString TQorixCustomQuery::GetComputeColumnName(int index) {
  if (index < 1 || index > computeFormats_.Count()) return QString();
  const QString name = GetFieldName(computeFormats_.GetItem(index - 1)->ColumnId);
  return TrimResults ? name.trimmed() : name;
}

QString TQorixCustomQuery::GetComputeColumnTypeName(int index) const {
  if (index < 1 || index > static_cast<int>(computeColumnFormats_.size())) return QString();
  return CSDataTypeName(computeColumnFormats_[static_cast<size_t>(index - 1)].DataType);
}

QString TQorixCustomQuery::GetParamName(int index) const {
  if (index < 1 || index > paramFormats_.Count()) return QString();
  return paramFormats_.GetItem(index - 1)->Name;
}

QString TQorixCustomQuery::GetParamTypeName(int index) const {
  if (index < 1 || index > paramFormats_.Count()) return QString();
  return CSDataTypeName(paramFormats_.GetItem(index - 1)->DataType);
}

QString TQorixCustomQuery::GetParamValue(int index) const {
  if (index < 1 || index > paramValues_.Count()) return QString();
  const TCSRecordData* r = paramValues_.GetItem(index - 1);
  return r->Indicator == CS_NULLDATA ? QString() : r->Text;
}

int TQorixCustomQuery::GetDisplayWidth(const TCSColumnData& f) {
  const int m = f.MaxLength;
  int width;
  switch (f.DataType) {
    case 0:
    case 4:
    case 5:
    case 18:
      width = m;
      break;
    case 1:
    case 19:
      width = 2 * m + 2;
      break;
    case 6:
    case 11:
      width = 3;
      break;
    case 7:
      width = 6;
      break;
    case 8:
      width = 11;
      break;
    case 9:
    case 10:
    case 14:
    case 15:
      width = 24;
      break;
    case 12:
    case 13:
      width = 30;
      break;
    case 16:
    case 17:
      width = 79;
      break;
    default:
      width = 12;
      break;
  }
  return std::max(width, f.NameLen);
}

// ---- binding ----

// Outside cursors integers and bits are bound as a CS_INT, the other numbers and the
// date-times in their own type (FreeTDS then only copies the value), the rest as text; the
// texts of the values are written by access/ValueText.
using valuetext::Kind;

void TQorixCustomQuery::ReleaseRowBuffers() {
  // The texts of the last row stay readable once its bound values are gone.
  for (int i = 0; i < rowValues_.Count(); ++i) MakeRowText(i);
  for (int i = 0; i < rowValues_.Count(); ++i) rowValues_.GetItem(i)->FreeBuffers();
  cursorColumns_.clear();
}

int TQorixCustomQuery::BindResultColumns(int count) {
  rowValues_.FreeBuffers();
  rowFormats_.Clear();
  serverFormats_.assign(static_cast<size_t>(std::max(count, 0)), CS_DATAFMT{});
  valueKind_.assign(static_cast<size_t>(std::max(count, 0)), static_cast<uint8_t>(Kind::Text));
  textPending_.assign(static_cast<size_t>(std::max(count, 0)), 0);
  cursorColumns_.clear();
  cursorBatchRows_ = cursorBatchPos_ = 0;
  batchFailedRow_ = -1;
  deferredFetch_ = CS_SUCCEED;
  rowValues_.AddRecords(count);
  rowFormats_.AddColumns(count);
  const int textSize = database_ ? std::max(1, database_->GetTextSize()) : 32768;
  for (int n = 1; n <= count; ++n) {
    if (ctlib::ct_describe(command_, n, &serverFormats_[static_cast<size_t>(n - 1)]) != CS_SUCCEED) {
      ReleaseRowBuffers();
      return 0;
    }
  }
  // Outside cursors FreeTDS fills arrays of rows in one ct_fetch (it stops at the end of the
  // rows already in hand or arriving). Text and image columns, whose values may be cut and
  // read again with ct_get_data, keep one row per fetch.
  batched_ = !IsCursor && count > 0;
  size_t rowBytes = 0;
  for (const CS_DATAFMT& f : serverFormats_) {
    if (f.datatype == CS_TEXT_TYPE || f.datatype == CS_IMAGE_TYPE || f.datatype == CS_LONGCHAR_TYPE ||
        f.datatype == CS_LONGBINARY_TYPE)
      batched_ = false;
    rowBytes += static_cast<size_t>(std::max<CS_INT>(f.maxlength, 0)) * 2 + 64;
  }
  constexpr size_t kBatchBytes = 256 * 1024;
  int rows = 1;
  if (IsCursor)
    rows = cursorRowsPerFetch_;
  else if (batched_)
    rows = static_cast<int>(std::clamp<size_t>(kBatchBytes / std::max<size_t>(rowBytes, 1), 1, 64));
  if (rows == 1 && !IsCursor) batched_ = false;
  CS_RETCODE ret = CS_SUCCEED;
  for (int n = 1; n <= count; ++n) {
    const CS_DATAFMT fmt = serverFormats_[static_cast<size_t>(n - 1)];
    TCSColumnData server;
    server.MaxLength = fmt.maxlength;
    server.DataType = fmt.datatype;
    server.NameLen = fmt.namelen;
    int boundLength;
    // FreeTDS reports text and image at their type's maximum (2 GB): the session's text size
    // is the most the server sends.
    if (fmt.datatype == CS_TEXT_TYPE || fmt.datatype == CS_IMAGE_TYPE)
      boundLength = std::min<int>(std::max<CS_INT>(fmt.maxlength, 0), textSize) *
                    (fmt.datatype == CS_IMAGE_TYPE ? 2 : 1);
    else
      boundLength = GetDisplayWidth(server) + 1;
    // char columns come as UTF-8: one character may take up to four bytes.
    if (fmt.datatype == CS_CHAR_TYPE || fmt.datatype == CS_VARCHAR_TYPE || fmt.datatype == CS_LONGCHAR_TYPE ||
        fmt.datatype == CS_TEXT_TYPE)
      boundLength = std::max(boundLength, 1);
    CS_DATAFMT bind{};
    bind.datatype = CS_CHAR_TYPE;
    bind.format = CS_FMT_NULLTERM;
    bind.maxlength = std::max<CS_INT>(boundLength, fmt.namelen) + 1;
    bind.count = rows;
    bind.locale = nullptr;
    std::memcpy(bind.name, fmt.name, sizeof(bind.name));
    bind.namelen = fmt.namelen;
    bind.status = fmt.status;
    bind.usertype = fmt.usertype;
    TCSRecordData* record = rowValues_.GetItem(n - 1);
    MonitorLine(QStringLiteral("Open-Client: ct_bind - Column Name : ") +
                QString::fromUtf8(fmt.name, static_cast<qsizetype>(strnlen(fmt.name, sizeof(fmt.name)))));
    // The engine makes a native value's text through the context: without one, FreeTDS does.
    const Kind kind = IsCursor || !context_ ? Kind::Text : valuetext::KindOf(fmt.datatype);
    if (IsCursor || (batched_ && kind == Kind::Text)) {
      auto col = std::make_unique<TCursorColumn>();
      col->elementLength = bind.maxlength;
      col->buffer.assign(static_cast<size_t>(bind.maxlength) * static_cast<size_t>(rows), 0);
      col->copied.assign(static_cast<size_t>(rows), 0);
      col->indicator.assign(static_cast<size_t>(rows), 0);
      ret = ctlib::ct_bind(command_, n, &bind, col->buffer.data(), col->copied.data(), col->indicator.data());
      record->AllocBuffer(bind.maxlength);
      cursorColumns_.push_back(std::move(col));
    } else if (kind != Kind::Text) {
      // FreeTDS formats a value bound as text with sprintf or strftime; a number or date-time
      // bound in its own type costs a copy, and its text is made from it when asked for. The
      // column keeps its character format for callers.
      record->AllocBuffer(bind.maxlength);
      record->AllocData(valuetext::BoundSize(kind));
      CS_DATAFMT native = bind;
      native.datatype = valuetext::BoundType(kind, fmt.datatype);
      native.format = CS_FMT_UNUSED;
      native.maxlength = valuetext::BoundSize(kind);
      native.precision = fmt.precision;
      native.scale = fmt.scale;
      if (batched_) {
        auto col = std::make_unique<TCursorColumn>();
        col->elementLength = native.maxlength;
        col->buffer.assign(static_cast<size_t>(native.maxlength) * static_cast<size_t>(rows), 0);
        col->copied.assign(static_cast<size_t>(rows), 0);
        col->indicator.assign(static_cast<size_t>(rows), 0);
        ret = ctlib::ct_bind(command_, n, &native, col->buffer.data(), col->copied.data(),
                             col->indicator.data());
        cursorColumns_.push_back(std::move(col));
      } else {
        ret = ctlib::ct_bind(command_, n, &native, record->Data, &record->CopiedLength, &record->Indicator);
      }
      valueKind_[static_cast<size_t>(n - 1)] = static_cast<uint8_t>(kind);
      OwnFormatAgrees(static_cast<int>(kind));
    } else {
      record->AllocBuffer(bind.maxlength);
      ret = ctlib::ct_bind(command_, n, &bind, record->Buffer, &record->CopiedLength, &record->Indicator);
    }
    rowFormats_.SetDataFmt(n - 1, bind);
  }
  if (OnHeader) OnHeader(this);
  return ret == CS_SUCCEED ? 1 : 0;
}

void TQorixCustomQuery::CopyRowTexts() {
  for (int i = 0; i < rowValues_.Count(); ++i) {
    TCSRecordData* r = rowValues_.GetItem(i);
    if ((IsCursor || batched_) && i < static_cast<int>(cursorColumns_.size())) {
      const TCursorColumn& c = *cursorColumns_[static_cast<size_t>(i)];
      const size_t row =
          static_cast<size_t>(std::min(cursorBatchPos_, static_cast<int>(c.copied.size()) - 1));
      r->Indicator = c.indicator[row];
      r->CopiedLength = c.copied[row];
      const char* element = c.buffer.data() + row * static_cast<size_t>(c.elementLength);
      if (valueKind_[static_cast<size_t>(i)] != static_cast<uint8_t>(Kind::Text) && r->Data) {
        std::memcpy(r->Data, element, static_cast<size_t>(std::min(c.elementLength, r->DataLength)));
        textPending_[static_cast<size_t>(i)] = r->Indicator != CS_NULLDATA;
        if (r->Indicator == CS_NULLDATA) r->Text.clear();
        continue;
      }
      r->Text = BufferText(element, c.elementLength);
    } else if (i < static_cast<int>(valueKind_.size()) && valueKind_[static_cast<size_t>(i)] != static_cast<uint8_t>(Kind::Text) &&
               r->Data) {
      // Made when a caller asks (MakeRowText).
      textPending_[static_cast<size_t>(i)] = r->Indicator != CS_NULLDATA;
      if (r->Indicator == CS_NULLDATA) r->Text.clear();
      continue;
    } else {
      r->Text = BufferText(r->Buffer, r->BufferLength + 1);
    }
    // FreeTDS leaves the buffer untouched for NULL: the indicator says so.
    if (r->Indicator == CS_NULLDATA) r->Text.clear();
  }
}

bool TQorixCustomQuery::OwnFormatAgrees(int kind) {
  // Kept per engine: the shared check takes a lock, and every value's text asks.
  if (ownFormatContext_ != context_ || ownFormat_.size() != static_cast<size_t>(Kind::Count)) {
    ownFormat_.assign(static_cast<size_t>(Kind::Count), 0);
    ownFormatContext_ = context_;
  }
  uint8_t& state = ownFormat_[static_cast<size_t>(kind)];
  if (state == 0) state = valuetext::Agrees(context_, static_cast<Kind>(kind)) ? 1 : 2;
  return state == 1;
}

void TQorixCustomQuery::MakeRowText(int i) const {
  if (i < 0 || i >= static_cast<int>(textPending_.size()) || !textPending_[static_cast<size_t>(i)]) return;
  textPending_[static_cast<size_t>(i)] = 0;
  if (i >= rowValues_.Count()) return;
  TCSRecordData* r = rowValues_.GetItem(i);
  if (!r->Data) return;
  const auto kind = static_cast<Kind>(valueKind_[static_cast<size_t>(i)]);
  if (static_cast<size_t>(kind) < ownFormat_.size() && ownFormat_[static_cast<size_t>(kind)] == 1) {
    char out[128];
    if (char* end = valuetext::Write(kind, r->Data, out)) {
      r->Text =
          kind >= Kind::DateTime ? QString::fromUtf8(out, end - out) : QString::fromLatin1(out, end - out);
      return;
    }
  }
  CS_DATAFMT src{};
  src.datatype = valuetext::BoundType(kind, serverFormats_[static_cast<size_t>(i)].datatype);
  r->Text = ConvertToText(src, r->Data, std::max<CS_INT>(r->CopiedLength, valuetext::BoundSize(kind)));
}

void TQorixCustomQuery::ReadTruncatedColumns() {
  // FreeTDS copies nothing into a binding that overflows (copied length 0, the row fails), so
  // the filled character and binary columns are read again, cut at their bound length.
  for (int i = 0; i < rowValues_.Count() && i < static_cast<int>(serverFormats_.size()); ++i) {
    TCSRecordData* r = rowValues_.GetItem(i);
    const CS_INT type = serverFormats_[static_cast<size_t>(i)].datatype;
    if (r->Indicator == CS_NULLDATA || (r->CopiedLength > 0 && r->CopiedLength < r->BufferLength) ||
        type < 0 || type > 5 ||
        (type != CS_CHAR_TYPE && type != CS_TEXT_TYPE && type != CS_LONGCHAR_TYPE &&
         type != CS_VARCHAR_TYPE && type != CS_BINARY_TYPE && type != CS_IMAGE_TYPE &&
         type != CS_LONGBINARY_TYPE))
      continue;
    const bool binary = type == CS_BINARY_TYPE || type == CS_IMAGE_TYPE || type == CS_LONGBINARY_TYPE;
    // The bound length holds the text and its NUL; hex needs two characters a byte.
    const CS_INT want = binary ? (r->BufferLength - 1) / 2 : r->BufferLength - 1;
    QByteArray bytes(std::max<CS_INT>(want, 0), '\0');
    CS_INT outlen = 0;
    if (want <= 0) continue;
    ctlib::ct_get_data(command_, i + 1, bytes.data(), want, &outlen);
    bytes.truncate(std::max<CS_INT>(0, std::min(outlen, want)));
    if (!binary) {
      // Never cut a UTF-8 sequence in half.
      while (!bytes.isEmpty() && (static_cast<unsigned char>(bytes.back()) & 0xC0) == 0x80) bytes.chop(1);
      if (!bytes.isEmpty() && (static_cast<unsigned char>(bytes.back()) & 0x80)) bytes.chop(1);
    }
    r->Text = binary ? QString::fromLatin1(bytes.toHex()) : QString::fromUtf8(bytes);
  }
}

int TQorixCustomQuery::BindComputeColumns(int count) {
  computeValues_.FreeBuffers();
  computeColumnFormats_.assign(static_cast<size_t>(std::max(count, 0)), TCSColumnData{});
  computeValues_.AddRecords(count);
  CS_RETCODE ret = CS_SUCCEED;
  for (int n = 1; n <= count; ++n) {
    CS_DATAFMT fmt{};
    if (ctlib::ct_describe(command_, n, &fmt) != CS_SUCCEED) return 0;
    TCSColumnData& cf = computeColumnFormats_[static_cast<size_t>(n - 1)];
    cf.MaxLength = fmt.maxlength;
    cf.DataType = fmt.datatype;
    cf.Scale = fmt.scale;
    cf.Precision = fmt.precision;
    cf.NameLen = fmt.namelen;
    CS_DATAFMT bind{};
    bind.datatype = CS_CHAR_TYPE;
    bind.format = CS_FMT_NULLTERM;
    bind.maxlength = std::max<CS_INT>(GetDisplayWidth(cf) + 1, fmt.namelen) + 1;
    bind.count = 1;
    TCSRecordData* r = computeValues_.GetItem(n - 1);
    r->AllocBuffer(bind.maxlength);
    MonitorLine(QStringLiteral("Open-Client: ct_bind (Compute) - Column Name : ") +
                QString::fromUtf8(fmt.name, static_cast<qsizetype>(strnlen(fmt.name, sizeof(fmt.name)))));
    ret = ctlib::ct_bind(command_, n, &bind, r->Buffer, &r->CopiedLength, &r->Indicator);
  }
  if (ret != CS_SUCCEED) {
    for (int i = 0; i < computeValues_.Count(); ++i) computeValues_.GetItem(i)->FreeBuffers();
    return 0;
  }
  return 1;
}

void TQorixCustomQuery::HandleComputeResult() {
  static const QString kNumComputes =
      QStringLiteral("Open-Client: ct_res_info(CS_NUM_COMPUTES) - Number of Computes : ");
  CS_INT computes = 0;
  if (ctlib::ct_res_info(command_, CS_NUM_COMPUTES, &computes, CS_UNUSED, nullptr) != CS_SUCCEED) computes = 1;
  MonitorLine(kNumComputes + QString::number(computes));
  CS_INT count = 0;
  ctlib::ct_res_info(command_, CS_NUMDATA, &count, CS_UNUSED, nullptr);
  computeColumnCount_ = count;
  MonitorLine(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns in Compute : ") +
              QString::number(count));
  BindComputeColumns(count);
  computeFormats_.Clear();
  computeFormats_.AddColumns(count);
  // FreeTDS reads out of bounds for a column-less ct_compute_info: every call names a column.
  for (int n = 1; n <= count; ++n) {
    TCSComputeColumnData* cd = computeFormats_.GetItem(n - 1);
    CS_INT value = 0, outlen = 0;
    if (ctlib::ct_compute_info(command_, CS_COMP_OP, n, &value, sizeof(value), &outlen) == CS_SUCCEED)
      cd->Operator = value;
    value = 0;
    if (ctlib::ct_compute_info(command_, CS_COMP_COLID, n, &value, sizeof(value), &outlen) == CS_SUCCEED)
      cd->ColumnId = value;
  }
  hasRows_ = true;
  CS_INT rows = 0;
  ctlib::ct_fetch(command_, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  for (int i = 0; i < computeValues_.Count(); ++i) {
    TCSRecordData* r = computeValues_.GetItem(i);
    r->Text = r->Indicator == CS_NULLDATA ? QString() : BufferText(r->Buffer, r->BufferLength + 1);
  }
  if (Monitor) {
    for (int n = 1; n <= count; ++n) {
      const TCSColumnData& cf = computeColumnFormats_[static_cast<size_t>(n - 1)];
      MonitorLine(QStringLiteral("SQL Compute Data Out: ") + QStringLiteral("Column = ") +
                  QString::number(n) + QStringLiteral(", Select-Column Name= ") + GetComputeColumnName(n) +
                  QStringLiteral(", Type = ") + GetComputeColumnTypeName(n) +
                  QStringLiteral(", Precision = ") + QString::number(cf.Precision) +
                  QStringLiteral(", Scale = ") + QString::number(cf.Scale) + QStringLiteral(", Data = ") +
                  GetComputeValue(n));
    }
  }
  if (OnComputeRow) OnComputeRow(this);
  DrainFetch();
  for (int i = 0; i < computeValues_.Count(); ++i) computeValues_.GetItem(i)->FreeBuffers();
}

int TQorixCustomQuery::BindParamColumns(int count) {
  paramValues_.FreeBuffers();
  paramFormats_.Clear();
  paramValues_.AddRecords(count);
  paramFormats_.AddColumns(count);
  CS_RETCODE ret = CS_SUCCEED;
  for (int n = 1; n <= count; ++n) {
    CS_DATAFMT fmt{};
    if (ctlib::ct_describe(command_, n, &fmt) != CS_SUCCEED) return 0;
    paramFormats_.SetDataFmt(n - 1, fmt);
    TCSColumnData server;
    server.MaxLength = fmt.maxlength;
    server.DataType = fmt.datatype;
    server.NameLen = fmt.namelen;
    CS_DATAFMT bind{};
    bind.datatype = CS_CHAR_TYPE;
    bind.format = CS_FMT_NULLTERM;
    bind.maxlength = std::max<CS_INT>(GetDisplayWidth(server) + 1, fmt.namelen) + 1;
    bind.count = 1;
    TCSRecordData* r = paramValues_.GetItem(n - 1);
    r->AllocBuffer(bind.maxlength);
    ret = ctlib::ct_bind(command_, n, &bind, r->Buffer, &r->CopiedLength, &r->Indicator);
  }
  return ret == CS_SUCCEED ? 1 : 0;
}

// ---- TextImage ----

bool TQorixCustomQuery::FetchTextImage(int count) {
  std::fill(textPending_.begin(), textPending_.end(), 0);  // every text is read whole here
  rowValues_.FreeBuffers();
  rowFormats_.Clear();
  rowValues_.AddRecords(count);
  rowFormats_.AddColumns(count);
  for (int n = 1; n <= count; ++n) {
    CS_DATAFMT fmt{};
    if (ctlib::ct_describe(command_, n, &fmt) != CS_SUCCEED) return false;
    if (!IsCursor) fmt.status = 0;
    rowFormats_.SetDataFmt(n - 1, fmt);
    TCSColumnData* f = rowFormats_.GetItem(n - 1);
    TCSRecordData* r = rowValues_.GetItem(n - 1);
    r->BufferLength = GetDisplayWidth(*f);
    if (!ReadColumnData(n, r, f)) return false;
  }
  return true;
}

QString TQorixCustomQuery::ConvertToText(const CS_DATAFMT& source, void* data, CS_INT length) const {
  CS_DATAFMT src = source;
  src.maxlength = length;
  src.count = 1;
  src.locale = nullptr;
  CS_DATAFMT dst{};
  dst.datatype = CS_CHAR_TYPE;
  dst.format = CS_FMT_NULLTERM;
  dst.maxlength = 1024;
  dst.count = 1;
  char out[1025] = {0};
  CS_INT resultLength = 0;
  if (ctlib::cs_convert(context_, &src, data, &dst, out, &resultLength) != CS_SUCCEED) return QString();
  return BufferText(out, 1024);
}

bool TQorixCustomQuery::ReadColumnData(int column, TCSRecordData* r, TCSColumnData* f) {
  const CS_INT type = f->DataType;
  r->Text.clear();
  r->Indicator = 0;
  // A read that failed or was cancelled (a statement timeout flags the command cancelled
  // while its row is in hand) leaves the value unknown: it must not pass as NULL.
  bool failed = false;
  auto getFixed = [&](CS_INT size, void* into) -> CS_INT {
    CS_INT outlen = 0;
    const CS_RETCODE ret = ctlib::ct_get_data(command_, column, into, size, &outlen);
    // The last chunk comes with CS_END_ITEM or CS_END_DATA and still counts.
    if (ret != CS_SUCCEED && ret != CS_END_ITEM && ret != CS_END_DATA && ret != CS_ROW_FAIL) {
      failed = ret == CS_FAIL || ret == CS_CANCELED;
      return 0;
    }
    return outlen;
  };
  if (type >= 0 && type <= 5) {
    QByteArray bytes;
    char chunk[1024];
    for (;;) {
      CS_INT outlen = 0;
      const CS_RETCODE ret = ctlib::ct_get_data(command_, column, chunk, sizeof(chunk), &outlen);
      if (ret == CS_FAIL || ret == CS_CANCELED) return false;
      if (outlen > 0) bytes.append(chunk, outlen);
      if (ret != CS_SUCCEED && ret != CS_ROW_FAIL) break;
    }
    r->CopiedLength = static_cast<CS_INT>(bytes.size()) + 1;
    if (bytes.isEmpty()) {
      r->Indicator = CS_NULLDATA;
      return true;
    }
    auto stream = std::make_shared<QByteArray>(bytes);
    r->Owned = stream;
    if (type == CS_BINARY_TYPE || type == CS_LONGBINARY_TYPE || type == CS_IMAGE_TYPE ||
        type == CS_VARBINARY_TYPE)
      r->Text = QString::fromLatin1(bytes.toHex());  // as the bound conversion writes it
    else
      r->Text = QString::fromUtf8(bytes);
    return true;
  }
  unsigned char value[64] = {0};
  CS_INT size = 0;
  switch (type) {
    case 6:
    case 11:
      size = 1;
      break;
    case 7:
    case 24:
      size = 2;
      break;
    case 8:
    case 20:
      size = 4;
      break;
    case 9:
    case 13:
    case 15:
      size = 4;
      break;
    case 10:
    case 12:
    case 14:
      size = 8;
      break;
    case 16:
    case 17:
      size = 35;
      break;
    default:
      return true;
  }
  const CS_INT got = getFixed(size, value);
  if (failed) return false;
  if (got <= 0) {
    r->Indicator = CS_NULLDATA;
    return true;
  }
  switch (type) {
    case 6:
      r->Text = QString::number(static_cast<unsigned>(value[0]));
      return true;
    case 11:
      r->Text = QString::number(value[0] ? 1 : 0);
      return true;
    case 7:
    case 24: {
      int16_t v;
      std::memcpy(&v, value, 2);
      r->Text = QString::number(v);
      return true;
    }
    case 8:
    case 20: {
      int32_t v;
      std::memcpy(&v, value, 4);
      r->Text = QString::number(v);
      return true;
    }
    default:
      break;
  }
  CS_DATAFMT src{};
  src.datatype = type;
  src.maxlength = got;
  if (type == 16 || type == 17) {
    src.precision = value[0];
    src.scale = value[1];
    f->Precision = value[0];
    f->Scale = value[1];
  }
  r->Text = ConvertToText(src, value, got);
  return true;
}

// ---- date-times ----

QDateTime TQorixCustomQuery::ConvertDateTime(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  CS_DATAFMT src{};
  src.datatype = CS_CHAR_TYPE;
  src.maxlength = static_cast<CS_INT>(utf8.size());
  src.count = 1;
  CS_DATAFMT dst{};
  dst.datatype = CS_DATETIME_TYPE;
  dst.maxlength = sizeof(CS_DATETIME);
  dst.count = 1;
  CS_DATETIME dt{};
  CS_INT len = 0;
  if (ctlib::cs_convert(context_, &src, utf8.data(), &dst, &dt, &len) != CS_SUCCEED) return {};
  // Whole seconds only, as the day fraction of a date-time value carries them.
  const qint64 seconds = dt.dttime / 300;
  return DateTimeFrom1900(dt.dtdays, seconds * 1000);
}

void TQorixCustomQuery::ApplyLumicDtFmt() {
  const QLocale locale;
  for (int n = 1; n <= rowValues_.Count(); ++n) {
    const QString type = GetFieldTypeName(n);
    if (type != QLatin1String("datetime") && type != QLatin1String("smalldatetime")) continue;
    TCSRecordData* r = rowValues_.GetItem(n - 1);
    MakeRowText(n - 1);
    if (r->Text.trimmed().isEmpty()) continue;
    const QDateTime dt = ConvertDateTime(r->Text);
    if (!dt.isValid()) continue;
    r->Text = locale.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
              dt.time().toString(QStringLiteral("hh:mm:ss"));
  }
}

// ---- trace and history ----

void TQorixCustomQuery::TraceRow() {
  if (!Monitor || !Owner()) return;
  for (int n = 1; n <= rowFormats_.Count(); ++n) {
    const TCSColumnData* f = rowFormats_.GetItem(n - 1);
    const QString type = GetFieldTypeName(n);
    QString line = QStringLiteral("SQL Data Out: ") + QStringLiteral("Column = ") + QString::number(n) +
                   QStringLiteral(", Name = ") + f->Name + QStringLiteral(", Type = ") + type +
                   QStringLiteral(", Precision = ") + QString::number(f->Precision) +
                   QStringLiteral(", Scale = ") + QString::number(f->Scale);
    if (type == QLatin1String("text") || type == QLatin1String("image"))
      line += QStringLiteral(", Data = <") + type + QLatin1Char('>');
    else
      line += QStringLiteral(", Data = ") + GetFieldValue(n);
    MonitorLine(line);
  }
}

void TQorixCustomQuery::AppendHistoryRow() {
  std::vector<std::pair<QString, bool>> row;
  row.reserve(static_cast<size_t>(rowValues_.Count()));
  for (int i = 0; i < rowValues_.Count(); ++i) {
    const TCSRecordData* r = rowValues_.GetItem(i);
    MakeRowText(i);
    row.emplace_back(r->Text, r->Indicator == CS_NULLDATA);
  }
  history_.push_back(std::move(row));
  historyPos_ = static_cast<int>(history_.size());
}

bool TQorixCustomQuery::ReadHistoryRow() {
  const auto& row = history_[static_cast<size_t>(historyPos_)];
  if (static_cast<int>(row.size()) != rowValues_.Count()) return false;
  for (int i = 0; i < rowValues_.Count(); ++i) {
    TCSRecordData* r = rowValues_.GetItem(i);
    if (i < static_cast<int>(textPending_.size())) textPending_[static_cast<size_t>(i)] = 0;
    r->Text = row[static_cast<size_t>(i)].first;
    r->Indicator = row[static_cast<size_t>(i)].second ? CS_NULLDATA : 0;
  }
  ++historyPos_;
  if (OnResultRow) OnResultRow(this);
  return true;
}

// ---- parameters ----

void TQorixCustomQuery::CheckParamTypes() {
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    if (p.ParamType == ptResult) continue;
    switch (p.DataType) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
      case ftBoolean:
      case ftFloat:
      case ftDate:
      case ftTime:
      case ftDateTime:
        break;
      case ftCurrency:
      case ftBCD:
        // A value that is no plain decimal number would go as 0 or as a mangled literal.
        if (!p.IsNull() && !p.AsString().isEmpty() && ExactDecimalText(p).isEmpty()) InvalidNumber(p);
        break;
      case ftUnknown:
        if (prepared_) UnPrepare();
        DatabaseError(QStringLiteral("Parameter \"") + p.Name + QStringLiteral("\" has an Unknown data type"),
                      this);
      default:
        DatabaseError(
            QStringLiteral("Datatype of parameter \"") + p.Name + QStringLiteral("\" not supported!"), this);
    }
  }
}

CS_DATETIME TQorixCustomQuery::DateTimeToCS(const QDateTime& dt) {
  CS_DATETIME v{};
  v.dtdays = static_cast<CS_INT>(QDate(1900, 1, 1).daysTo(dt.date()));
  const QTime t = dt.time();
  v.dttime = static_cast<CS_INT>((t.hour() * 3600 + t.minute() * 60 + t.second()) * 300 +
                                 std::lround(t.msec() * 0.3));
  return v;
}

QByteArray TQorixCustomQuery::ExactParamValue(const TParam& p, CS_DATAFMT& fmt) {
  const QString text = ExactDecimalText(p);
  const bool money = p.DataType == ftCurrency;
  QByteArray utf8 = text.toUtf8();
  CS_DATAFMT src{};
  src.datatype = CS_CHAR_TYPE;
  src.format = CS_FMT_UNUSED;
  src.maxlength = static_cast<CS_INT>(utf8.size());
  src.count = 1;
  fmt.datatype = money ? CS_MONEY_TYPE : CS_NUMERIC_TYPE;
  fmt.format = CS_FMT_UNUSED;
  fmt.count = 1;
  if (!money) {
    // The value's own digits decide its precision and scale ("-12.340" is numeric(5,3)).
    const qsizetype point = text.indexOf(u'.');
    const int scale = point < 0 ? 0 : static_cast<int>(text.size() - point - 1);
    int digits = 0;
    for (QChar c : text) digits += c.isDigit();
    fmt.scale = scale;
    fmt.precision = std::max(1, digits);
  }
  fmt.maxlength = money ? static_cast<CS_INT>(sizeof(CS_MONEY)) : static_cast<CS_INT>(sizeof(CS_NUMERIC));
  QByteArray value(fmt.maxlength, '\0');
  CS_INT length = 0;
  if (text.isEmpty() || fmt.precision > CS_MAX_PREC ||
      ctlib::cs_convert(context_, &src, utf8.data(), &fmt, value.data(), &length) != CS_SUCCEED)
    InvalidNumber(p);
  return value;
}

void TQorixCustomQuery::InvalidNumber(const TParam& p) {
  if (prepared_) UnPrepare();
  DatabaseError(QStringLiteral("Parameter \"") + p.Name + QStringLiteral("\": '") + p.AsString() +
                    QStringLiteral("' is not a valid ") +
                    (p.DataType == ftCurrency ? QStringLiteral("money") : QStringLiteral("numeric")) +
                    QStringLiteral(" value"),
                this);
}

void TQorixCustomQuery::BindParams(CS_COMMAND* command) {
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& p = params_[i];
    if (p.ParamType == ptResult) continue;
    const bool output = p.ParamType == ptOutput || p.ParamType == ptInputOutput;
    CS_DATAFMT fmt{};
    QByteArray value;
    bool isNull = false;
    switch (p.DataType) {
      case ftString:
      case ftFixedChar:
      case ftWideString: {
        fmt.datatype = CS_CHAR_TYPE;
        if (p.ParamType == ptOutput && p.IsNull()) p.SetValue(QString());
        isNull = p.IsNull() && p.ParamType != ptOutput;
        QString text = p.AsString();
        if (!isNull && TrimResults && text.isEmpty()) text = QStringLiteral(" ");
        value = text.toUtf8();
        break;
      }
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
      case ftBoolean:
      case ftFloat:
      case ftCurrency:
      case ftBCD:
      case ftDate:
      case ftTime:
      case ftDateTime: {
        isNull = p.IsNull() || p.AsString().isEmpty();
        if (p.DataType == ftSmallint) {
          fmt.datatype = CS_SMALLINT_TYPE;
          const int16_t v = static_cast<int16_t>(p.AsInteger());
          value = QByteArray(reinterpret_cast<const char*>(&v), sizeof(v));
        } else if (p.DataType == ftInteger || p.DataType == ftWord || p.DataType == ftAutoInc) {
          fmt.datatype = CS_INT_TYPE;
          const int32_t v = p.AsInteger();
          value = QByteArray(reinterpret_cast<const char*>(&v), sizeof(v));
        } else if (p.DataType == ftBoolean) {
          fmt.datatype = CS_BIT_TYPE;
          const QString t = p.AsString().trimmed().toLower();
          const char v = (t == QLatin1String("1") || t == QLatin1String("true")) ? 1 : 0;
          value = QByteArray(1, v);
        } else if (p.DataType == ftCurrency || p.DataType == ftBCD) {
          // Money and numeric values never pass through a double (money has 19 significant
          // digits, numeric up to 38): their text is converted to the server's own type.
          if (!isNull) {
            value = ExactParamValue(p, fmt);
          } else {
            fmt.datatype = p.DataType == ftCurrency ? CS_MONEY_TYPE : CS_NUMERIC_TYPE;
            fmt.precision = fmt.datatype == CS_NUMERIC_TYPE ? 38 : 0;
            value = QByteArray(fmt.datatype == CS_MONEY_TYPE ? sizeof(CS_MONEY) : sizeof(CS_NUMERIC), '\0');
          }
        } else if (p.DataType == ftFloat) {
          fmt.datatype = CS_FLOAT_TYPE;
          const double v = p.AsFloat();
          value = QByteArray(reinterpret_cast<const char*>(&v), sizeof(v));
        } else {
          fmt.datatype = CS_DATETIME_TYPE;
          QDateTime dt = isNull ? QDateTime::currentDateTime() : p.AsDateTime();
          if (!dt.isValid()) isNull = true;
          const CS_DATETIME v = DateTimeToCS(dt);
          value = QByteArray(reinterpret_cast<const char*>(&v), sizeof(v));
        }
        break;
      }
      case ftUnknown:
        UnPrepare();
        DatabaseError(QStringLiteral("Parameter \"") + p.Name + QStringLiteral("\" has an Unknown data type"),
                      this);
      default:
        DatabaseError(
            QStringLiteral("Datatype of parameter \"") + p.Name + QStringLiteral("\" not supported!"), this);
    }
    CS_INT length = static_cast<CS_INT>(value.size());
    if (fmt.datatype == CS_CHAR_TYPE && length == 0) {
      value = QByteArray(1, '\0');
      length = 1;
    }
    fmt.maxlength = length;
    // An output text needs room for what comes back, not the length of what went out.
    if (fmt.datatype == CS_CHAR_TYPE && output) fmt.maxlength = std::max<CS_INT>(length, 255);
    fmt.status = output ? CS_RETURN : CS_INPUTVALUE;
    fmt.count = 1;
    fmt.locale = nullptr;
    if (BindMode() == pbByName && !p.Name.isEmpty()) {
      QByteArray name = p.Name.toUtf8();
      if (!name.startsWith('@')) name.prepend('@');
      const int n = std::min<int>(static_cast<int>(name.size()), CS_MAX_NAME - 1);
      std::memcpy(fmt.name, name.constData(), static_cast<size_t>(n));
      fmt.namelen = n;
    } else {
      fmt.namelen = 0;
    }
    ctlib::ct_param(command, &fmt, isNull ? nullptr : value.data(), isNull ? 0 : length,
                    isNull ? CS_NULLDATA : static_cast<CS_SMALLINT>(0));
    CheckMessages(true);
  }
}

QString TQorixCustomQuery::ParamsAsLiterals() const {
  const QString text = textToPrepare_.isEmpty() ? SQLText() : textToPrepare_;
  QString out;
  int next = 0;
  for (qsizetype i = 0; i < text.size();) {
    // A "?" inside a literal, a quoted identifier or a comment is text, not a parameter.
    if (const qsizetype past = SkipSqlLiteralOrComment(text, i); past > i) {
      out += QStringView(text).mid(i, past - i);
      i = past;
      continue;
    }
    const QChar c = text[i++];
    if (c == QLatin1Char('?') && next < params_.Count()) {
      out += ParamLiteral(params_[next++]);
      continue;
    }
    out += c;
  }
  return out;
}

// ---- cursor ----

std::bitset<6> TQorixCustomQuery::GetCursorStatus() const {
  std::bitset<6> set;
  set.set(0);
  CS_INT status = 0;
  if (!command_ || !CommandAlive(command_) ||
      ctlib::ct_cmd_props(command_, CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr) != CS_SUCCEED)
    return set;
  for (int bit = 0; bit < 5; ++bit)
    if (status & (1 << bit)) set.set(static_cast<size_t>(bit) + 1);
  return set;
}

void TQorixCustomQuery::CloseCursor() {
  if (!IsCursor || !command_ || !cursorOpen_) return;
  cursorOpen_ = false;
  // The engine keeps the cursor's state itself: FreeTDS's CS_CUR_STATUS shows the server's
  // status only once the cursor's first results are read (0 right after the open). Close with
  // dealloc releases the cursor, so no separate dealloc follows.
  CS_INT ignored = 0;
  if (ctlib::ct_cursor(command_, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC) ==
          CS_SUCCEED &&
      ctlib::ct_send(command_) == CS_SUCCEED) {
    while (ctlib::ct_results(command_, &ignored) == CS_SUCCEED) {
    }
  }
  if (connection_) ClearDiagMessages(connection_);
}

void TQorixCustomQuery::DescribeColumns() {
  IsCursor = true;
  ReadOnly = true;
  CheckDatabase();
  if (!database_ || !database_->IsConnected()) return;
  Cancel(CS_CANCEL_ALL);
  connection_ = database_->ConnectionHandle();
  context_ = database_->ContextHandle();
  CS_COMMAND* cmd = nullptr;
  if (ctlib::ct_cmd_alloc(connection_, &cmd) != CS_SUCCEED) {
    CheckMessages(true);
    return;
  }
  database_->ResetIdleTimer();
  GetServerType();
  const TProcOptions remembered = database_->GetProcOptions();
  bool ok = false;
  try {
    database_->SetProcOptions(TProcOptions{poFormatOnly});
    QByteArray name = (NewCursorName() + QStringLiteral("cur")).toUtf8();
    QByteArray text = (params_.IsEmpty() ? SQLText() : ParamsAsLiterals()).toUtf8();
    ctlib::ct_cursor(cmd, CS_CURSOR_DECLARE, name.data(), CS_NULLTERM, text.data(), CS_NULLTERM,
                     CS_READ_ONLY);
    CheckMessages(true);
    ctlib::ct_cursor(cmd, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, 1);
    CheckMessages(true);
    ctlib::ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
    CheckMessages(true);
    ctlib::ct_send(cmd);
    CheckMessages(true);
    CS_INT type = 0;
    bool described = false;
    while (ctlib::ct_results(cmd, &type) == CS_SUCCEED) {
      CheckMessages(true);
      if (described) continue;
      if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_COMPUTE_RESULT) {
        CS_INT count = 0;
        ctlib::ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr);
        if (count <= 0) break;
        columnCount_ = count;
        rowFormats_.Clear();
        rowFormats_.AddColumns(count);
        for (int n = 1; n <= count; ++n) {
          CS_DATAFMT fmt{};
          ctlib::ct_describe(cmd, n, &fmt);
          rowFormats_.SetDataFmt(n - 1, fmt);
        }
        described = true;
        // Nothing is fetched (a fetch with no binds fails on a cursor): the cursor is closed.
        break;
      }
    }
    ok = true;
  } catch (...) {
    database_->SetProcOptions(remembered);
    ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    ctlib::ct_cmd_drop(cmd);
    ClearDiagMessages(connection_);
    Cancel(CS_CANCEL_ALL);
    throw;
  }
  (void)ok;
  database_->SetProcOptions(remembered);
  CS_INT ignored = 0;
  if (ctlib::ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC) ==
          CS_SUCCEED &&
      ctlib::ct_send(cmd) == CS_SUCCEED)
    while (ctlib::ct_results(cmd, &ignored) == CS_SUCCEED) {
    }
  ctlib::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
  ctlib::ct_cmd_drop(cmd);
  ClearDiagMessages(connection_);
}

// ---- prepared statement ----

void TQorixCustomQuery::Prepare() {
  CheckDatabase();
  MonitorLine(QStringLiteral("Flow : ** Start of Prepare **"));
  if (prepared_) UnPrepare();
  prepared_ = false;
  CancelCommand(prepareCommand_);
  cursorName_ = NewCursorName() + QStringLiteral("cur");
  QByteArray text = (textToPrepare_.isEmpty() ? SQLText() : textToPrepare_).toUtf8();
  // Two engines on one connection, or two runs in one millisecond, never share an id.
  sentStatementId_ = StatementId + QLatin1Char('_') + NextSerial();
  QByteArray id = sentStatementId_.toUtf8();
  AllocCommand(prepareCommand_);
  try {
    MonitorLine(QStringLiteral("Open-Client: ct_dynamic(CS_PREPARE)"));
    ctlib::ct_dynamic(prepareCommand_, CS_PREPARE, id.data(), CS_NULLTERM, text.data(), CS_NULLTERM);
    ctlib::ct_send(prepareCommand_);
    CheckMessages(true);
    CS_INT type = 0;
    CS_RETCODE ret = ctlib::ct_results(prepareCommand_, &type);
    CheckMessages(true);
    bool failed = ret != CS_SUCCEED || type == CS_CMD_FAIL;
    while (ret == CS_SUCCEED) {
      ret = ctlib::ct_results(prepareCommand_, &type);
      if (ret == CS_SUCCEED && type == CS_CMD_FAIL) failed = true;
      CheckMessages(true);
    }
    prepared_ = !failed;
    if (failed) DatabaseError(LoadResString(QorixRes::SCommandFailed), this);
  } catch (...) {
    CancelCommand(prepareCommand_);
    prepared_ = false;
    DropCommand(prepareCommand_);
    MonitorLine(QStringLiteral("Flow : ** End of Prepare **"));
    throw;
  }
  MonitorLine(QStringLiteral("Flow : ** End of Prepare **"));
}

void TQorixCustomQuery::UnPrepare() {
  ForgetOrphans();
  if (!prepared_) return;
  prepared_ = false;
  Cancel(CS_CANCEL_ALL);
  MonitorLine(QStringLiteral("Flow : ** Start of UnPrepare **"));
  if (prepareCommand_ && connection_) {
    CancelCommand(prepareCommand_);
    QByteArray id = sentStatementId_.toUtf8();
    ctlib::ct_dynamic(prepareCommand_, CS_DEALLOC, id.data(), CS_NULLTERM, nullptr, CS_UNUSED);
    ctlib::ct_send(prepareCommand_);
    try {
      CheckMessages(true);
      CS_INT type = 0;
      while (ctlib::ct_results(prepareCommand_, &type) == CS_SUCCEED) CheckMessages(true);
    } catch (...) {
      DropCommand(prepareCommand_);
      throw;
    }
    DropCommand(prepareCommand_);
  }
  MonitorLine(QStringLiteral("Flow : ** End of UnPrepare **"));
}
