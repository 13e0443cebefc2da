// The row and column buffers: allocation, the typed readers and the managers.

#include "access/QxClasses.h"

#include <QTimeZone>
#include <cstdlib>
#include <cstring>

TCSRecordData::~TCSRecordData() {
  FreeBuffers();
}

// CS_IODESC is larger in FreeTDS than the 464 bytes older headers had: sized by the type.
CS_IODESC* TCSRecordData::GetIODesc() {
  if (!ioDesc_) ioDesc_ = std::make_unique<CS_IODESC>(CS_IODESC{});
  return ioDesc_.get();
}

char* TCSRecordData::AllocBuffer(CS_INT length) {
  std::free(Buffer);
  const size_t size = static_cast<size_t>(length < 0 ? 0 : length) + 1;
  Buffer = static_cast<char*>(std::calloc(size, 1));
  BufferLength = Buffer ? length : 0;
  return Buffer;
}

void* TCSRecordData::AllocData(CS_INT length) {
  std::free(Data);
  const size_t size = static_cast<size_t>(length < 1 ? 1 : length);
  Data = std::calloc(size, 1);
  DataLength = Data ? length : 0;
  return Data;
}

void TCSRecordData::FreeBuffers() {
  std::free(Buffer);
  Buffer = nullptr;
  BufferLength = 0;
  std::free(Data);
  Data = nullptr;
  DataLength = 0;
  Owned.reset();
}

// Reads a value from the start of Data; a missing or short buffer reads as zero.
template <class T>
T TCSRecordData::Read() const {
  T v{};
  if (Data && DataLength >= static_cast<CS_INT>(sizeof(T))) std::memcpy(&v, Data, sizeof(T));
  return v;
}

int8_t TCSRecordData::AsBit() const {
  return Read<int8_t>();
}
uint8_t TCSRecordData::AsTinyInt() const {
  return Read<uint8_t>();
}
int16_t TCSRecordData::AsSmallInt() const {
  return Read<int16_t>();
}
int32_t TCSRecordData::AsInteger() const {
  return Read<int32_t>();
}
double TCSRecordData::AsReal() const {
  return static_cast<double>(Read<float>());
}
double TCSRecordData::AsFloat() const {
  return Read<double>();
}

QDateTime DateTimeFrom1900(qint64 days, qint64 milliseconds) {
  const QDate date = QDate(1900, 1, 1).addDays(days);
  return QDateTime(date, QTime(0, 0), QTimeZone::utc()).addMSecs(milliseconds);
}

QDateTime TCSRecordData::AsDateTime() const {
  const CS_DATETIME dt = Read<CS_DATETIME>();
  // ticks * 10 / 3 to the nearest millisecond: the remainder is a third or two thirds, so
  // no value ever lies half-way.
  const qint64 scaled = static_cast<qint64>(dt.dttime) * 10;
  const qint64 ms = scaled / 3 + (scaled % 3 == 2 ? 1 : 0);
  return DateTimeFrom1900(dt.dtdays, ms);
}

QDateTime TCSRecordData::AsDateTime4() const {
  const CS_DATETIME4 dt = Read<CS_DATETIME4>();
  return DateTimeFrom1900(static_cast<quint16>(dt.days),
                          static_cast<qint64>(static_cast<quint16>(dt.minutes)) * 60000);
}

void* TCSRecordData::CopyData(CS_INT n) const {
  if (n <= 0) return nullptr;
  void* copy = std::calloc(static_cast<size_t>(n), 1);
  if (copy && Data) std::memcpy(copy, Data, static_cast<size_t>(std::min(n, DataLength)));
  return copy;
}

void TCSRecordDataManager::AddRecords(int n) {
  for (int i = 0; i < n; ++i) items_.push_back(std::make_unique<TCSRecordData>());
}

void TCSRecordDataManager::FreeBuffers() {
  for (auto& r : items_) r->FreeBuffers();
  items_.clear();
}

void TCSColumnDataManager::AddColumns(int n) {
  for (int i = 0; i < n; ++i) items_.push_back(std::make_unique<TCSColumnData>());
}

void TCSColumnDataManager::SetDataFmt(int index, const CS_DATAFMT& fmt) {
  TCSColumnData* c = GetItem(index);
  c->MaxLength = fmt.maxlength;
  c->DataType = fmt.datatype;
  c->Name = QString::fromUtf8(fmt.name, static_cast<qsizetype>(strnlen(fmt.name, sizeof fmt.name))).left(30);
  c->NameLen = fmt.namelen;
  c->Scale = fmt.scale;
  c->Precision = fmt.precision;
  c->Format = fmt.format;
  c->UserType = fmt.usertype;
  c->Status = fmt.status;
}

void TCSComputeColumnDataManager::AddColumns(int n) {
  for (int i = 0; i < n; ++i) items_.push_back(std::make_unique<TCSComputeColumnData>());
}
