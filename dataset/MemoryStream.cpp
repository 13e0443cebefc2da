// TStream's exact transfers and TMemoryStream over a QByteArray.
#include "dataset/MemoryStream.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

#include "dataset/QxDataSetErrors.h"

void TStream::ReadBuffer(void* buffer, int64_t count) {
  // A negative count comes from a corrupt size field: refuse it instead of reading garbage.
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError(DbText::ReadError);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError(DbText::WriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  char chunk[65536];
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, sizeof chunk);
    source.ReadBuffer(chunk, n);
    WriteBuffer(chunk, n);
    left -= n;
  }
  return count;
}

int32_t TStream::ReadInt32() {
  uchar b[4];
  ReadBuffer(b, 4);
  return qFromLittleEndian<int32_t>(b);
}

void TStream::WriteInt32(int32_t value) {
  uchar b[4];
  qToLittleEndian<int32_t>(value, b);
  WriteBuffer(b, 4);
}

int64_t TStream::ReadInt64() {
  uchar b[8];
  ReadBuffer(b, 8);
  return qFromLittleEndian<int64_t>(b);
}

void TStream::WriteInt64(int64_t value) {
  uchar b[8];
  qToLittleEndian<int64_t>(value, b);
  WriteBuffer(b, 8);
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= data_.size()) return 0;
  const int64_t n = std::min<int64_t>(count, data_.size() - pos_);
  std::memcpy(buffer, data_.constData() + pos_, n);
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (pos_ + count > data_.size()) {
    // Only a gap between the end and the position is zeroed; what is written next is not
    // filled first (zeroing every byte before copying it doubled the cost of a save).
    if (pos_ > data_.size()) SetSize(pos_);
    Extend(pos_ + count - data_.size());
  }
  std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  return count;
}

void TMemoryStream::Grow(int64_t capacity) {
  data_.reserve(capacity);
}

void TMemoryStream::Reserve(int64_t size) {
  if (size > data_.capacity()) Grow(size);
}

char* TMemoryStream::Extend(int64_t count) {
  const int64_t old = data_.size();
  if (count <= 0) return data_.data() + old;
  const int64_t size = old + count;
  // Capacity grows geometrically: the record store extends its stream one record at a time.
  if (size > data_.capacity()) Grow(std::max<int64_t>(size, data_.capacity() * 2));
  data_.resize(size);  // Qt leaves the new bytes as they are
  return data_.data() + old;
}

int64_t TMemoryStream::Seek(int64_t offset, Origin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? pos_ : data_.size();
  pos_ = std::max<int64_t>(0, base + offset);
  return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
  size = std::max<int64_t>(0, size);
  const int64_t old = data_.size();
  if (size > old) {
    // New bytes are zero: a record block reserved before it is written reads as zeros.
    std::memset(Extend(size - old), 0, size_t(size - old));
  } else {
    data_.truncate(size);
  }
  if (pos_ > data_.size()) pos_ = data_.size();
}

void TMemoryStream::Clear() {
  data_.clear();
  pos_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t n = source.Size();
  QByteArray bytes(n, Qt::Uninitialized);
  source.ReadBuffer(bytes.data(), n);
  data_ = std::move(bytes);
  pos_ = 0;
}

void TMemoryStream::LoadFromBytes(const QByteArray& bytes) {
  data_ = bytes;
  pos_ = 0;
}

TFileStream::TFileStream(const QString& name) : file_(name) {
  if (!file_.open(QIODevice::ReadOnly))
    throw EFOpenError(DbText::FileOpenError.arg(name, file_.errorString()));
  size_ = file_.size();
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const qint64 n = file_.read(static_cast<char*>(buffer), count);
  return n < 0 ? 0 : n;
}

int64_t TFileStream::Write(const void*, int64_t) {
  throw EWriteError(DbText::WriteError);
}

int64_t TFileStream::Seek(int64_t offset, Origin origin) {
  const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? file_.pos() : size_;
  file_.seek(std::max<int64_t>(0, base + offset));
  return file_.pos();
}

void TFileStream::SetSize(int64_t) {
  throw EWriteError(DbText::WriteError);
}
