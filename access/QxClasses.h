// The buffers every result loop binds into: TCSRecordData (the bound value of one column of
// the current row, with typed readers), TCSColumnData (a column description copied from the
// library's CS_DATAFMT), TCSComputeColumnData, and the owning managers of each.
#pragma once

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

#include "access/ctlib/ctlib.h"

// The bound value of one result column of the current row.
class TCSRecordData {
 public:
  TCSRecordData() = default;
  // Frees the buffers and the owned object.
  ~TCSRecordData();
  TCSRecordData(const TCSRecordData&) = delete;
  TCSRecordData& operator=(const TCSRecordData&) = delete;

  // The record's I/O descriptor for text and image columns, zero-filled on first request.
  CS_IODESC* GetIODesc();
  // The null/truncation indicator handed to ct_bind.
  CS_SMALLINT Indicator = 0;
  // The bound character buffer (owned); see AllocBuffer.
  char* Buffer = nullptr;
  // The column value as text, copied from Buffer after each fetch.
  QString Text;
  // The raw value bytes (owned) the typed readers read; see AllocData.
  void* Data = nullptr;
  // The usable length of Data.
  CS_INT DataLength = 0;
  // The copied-length variable handed to ct_bind.
  CS_INT CopiedLength = 0;
  // The usable length of Buffer.
  CS_INT BufferLength = 0;
  // An optional object owned by the record, released with its buffers.
  std::shared_ptr<void> Owned;

  // Replaces Buffer with Length + 1 zero bytes (room for a NUL) and sets BufferLength.
  char* AllocBuffer(CS_INT length);
  // Replaces Data with Length zero bytes and sets DataLength.
  void* AllocData(CS_INT length);
  // Frees Buffer and Data (both null afterwards) and the owned object.
  void FreeBuffers();

  // The first byte of Data, signed; non-zero means true.
  int8_t AsBit() const;
  // The first byte of Data, unsigned.
  uint8_t AsTinyInt() const;
  // Two bytes of Data as a signed 16-bit integer.
  int16_t AsSmallInt() const;
  // Four bytes of Data as a signed 32-bit integer.
  int32_t AsInteger() const;
  // Four bytes of Data as an IEEE single, widened.
  double AsReal() const;
  // Eight bytes of Data as an IEEE double.
  double AsFloat() const;
  // A CS_DATETIME (days since 1900-01-01, ticks of 1/300 s): exact to the millisecond, in UTC
  // so no wall-clock value falls into a daylight-saving gap.
  QDateTime AsDateTime() const;
  // A CS_DATETIME4 (unsigned days since 1900-01-01, unsigned minutes since midnight).
  QDateTime AsDateTime4() const;
  // A new heap block holding the first N bytes of Data; the caller frees it with free().
  void* CopyData(CS_INT n) const;

 private:
  template <class T>
  T Read() const;
  std::unique_ptr<CS_IODESC> ioDesc_;
};

// The description of one result column.
class TCSColumnData {
 public:
  // Column name, at most 30 characters.
  QString Name;
  // The library's name length (not cut).
  CS_INT NameLen = 0;
  CS_INT MaxLength = 0;
  CS_INT Scale = 0;
  CS_INT Precision = 0;
  // The Client-Library datatype code.
  CS_INT DataType = 0;
  CS_INT Format = 0;
  CS_INT UserType = 0;
  CS_INT Status = 0;
};

// The description of one compute column: its operator and the select-list column it reads.
class TCSComputeColumnData {
 public:
  CS_INT Operator = 0;
  CS_INT ColumnId = 0;
};

// The owning list of a result's bound values.
class TCSRecordDataManager {
 public:
  // A list of Count new empty records.
  explicit TCSRecordDataManager(int count = 0) { AddRecords(count); }
  // The record at 0-based Index.
  TCSRecordData* GetItem(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  // The number of records.
  int Count() const { return static_cast<int>(items_.size()); }
  // Appends N new empty records.
  void AddRecords(int n);
  // Frees every record's buffers and owned object, then empties the list.
  void FreeBuffers();

 private:
  std::vector<std::unique_ptr<TCSRecordData>> items_;
};

// The owning list of a result's column descriptions.
class TCSColumnDataManager {
 public:
  // A list of Count new descriptions.
  explicit TCSColumnDataManager(int count = 0) { AddColumns(count); }
  // The description at 0-based Index.
  TCSColumnData* GetItem(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  // The number of descriptions.
  int Count() const { return static_cast<int>(items_.size()); }
  // Appends N new descriptions.
  void AddColumns(int n);
  // Empties the list.
  void Clear() { items_.clear(); }
  // Copies DataFmt into the description at Index (the name cut to 30 characters).
  void SetDataFmt(int index, const CS_DATAFMT& fmt);

 private:
  std::vector<std::unique_ptr<TCSColumnData>> items_;
};

// The owning list of a compute result's column descriptions.
class TCSComputeColumnDataManager {
 public:
  // A list of Count new descriptions (callers pass 0).
  explicit TCSComputeColumnDataManager(int count = 0) { AddColumns(count); }
  // The description at 0-based Index.
  TCSComputeColumnData* GetItem(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  // The number of descriptions.
  int Count() const { return static_cast<int>(items_.size()); }
  // Appends N new descriptions.
  void AddColumns(int n);
  // Empties the list.
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TCSComputeColumnData>> items_;
};

// The date-time of a day count since 1900-01-01 and milliseconds since midnight (UTC).
QDateTime DateTimeFrom1900(qint64 days, qint64 milliseconds);
