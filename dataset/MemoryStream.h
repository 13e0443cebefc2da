// The class library's stream classes the datasets use: TStream with exact-length reads and
// writes that raise on a short transfer, TMemoryStream, a growable block of bytes, and
// TFileStream, a file read in place.
#pragma once

#include <QByteArray>
#include <QFile>
#include <cstdint>

// A positioned sequence of bytes.
class TStream {
 public:
  // Seek origins.
  enum Origin { soBeginning, soCurrent, soEnd };
  virtual ~TStream() = default;
  // Reads up to count bytes into buffer; answers how many were read.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes from buffer; answers how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; answers the new position.
  virtual int64_t Seek(int64_t offset, Origin origin) = 0;
  // Total length in bytes.
  virtual int64_t Size() const = 0;
  // Truncates or extends the stream.
  virtual void SetSize(int64_t size) = 0;
  // Current position.
  int64_t Position() { return Seek(0, soCurrent); }
  // Moves to an absolute position.
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  // Reads exactly count bytes or raises EReadError ("Stream read error"); a negative count raises too.
  void ReadBuffer(void* buffer, int64_t count);
  // Writes exactly count bytes or raises EWriteError.
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies the whole source from its start.
  int64_t CopyFrom(TStream& source, int64_t count);
  // Little-endian int32 read and write helpers (raise like ReadBuffer/WriteBuffer).
  int32_t ReadInt32();
  void WriteInt32(int32_t value);
  int64_t ReadInt64();
  void WriteInt64(int64_t value);
};

// A stream over a byte array held in memory.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, Origin origin) override;
  int64_t Size() const override { return data_.size(); }
  // Truncates or extends the stream; bytes it adds are zero.
  void SetSize(int64_t size) override;
  // Makes room for Size bytes in all without changing the content (a writer that knows what it
  // will write grows the block once).
  void Reserve(int64_t size);
  // Extends the stream by Count bytes left for the caller to fill (not zeroed: a reader writes
  // them next); answers where they start (valid until the next growth).
  char* Extend(int64_t count);
  // Empties the stream and moves to 0.
  void Clear();
  // Replaces the content by the whole of source (from its start); position 0.
  void LoadFromStream(TStream& source);
  // Replaces the content by the bytes given; position 0.
  void LoadFromBytes(const QByteArray& bytes);
  // The bytes held.
  const QByteArray& Bytes() const { return data_; }
  // Raw access to the bytes (valid until the next write).
  char* Memory() { return data_.data(); }
  const char* Memory() const { return data_.constData(); }

 private:
  // Makes room for Capacity bytes.
  void Grow(int64_t capacity);
  QByteArray data_;
  int64_t pos_ = 0;
};

// A file opened for reading, read where it lies: a reader takes its bytes straight into its own
// buffers instead of through a copy of the whole file.
class TFileStream : public TStream {
 public:
  // Opens Name for reading; raises EFOpenError ("Cannot open file ...") when it cannot.
  explicit TFileStream(const QString& name);
  int64_t Read(void* buffer, int64_t count) override;
  // Not supported: raises EWriteError.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, Origin origin) override;
  int64_t Size() const override { return size_; }
  // Not supported: raises EWriteError.
  void SetSize(int64_t size) override;

 private:
  QFile file_;
  int64_t size_ = 0;
};
