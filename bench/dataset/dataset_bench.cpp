// Appends, locates, saves and loads a million records in a memory dataset. Each figure is printed
// with min, median and max over several rounds; saving and loading are set beside writing and
// reading the same bytes through a file in the same round, so the ratio stays meaningful on a
// noisy machine.
// Usage: dataset_bench [records] [rounds]   (defaults 1000000 and 5)
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "bench/support/figures.h"
#include "dataset/QxCustomMemDataSet.h"

namespace {

using tabbench::Clock;
using tabbench::Figures;
using tabbench::secondsSince;

void Print(const char* step, const Figures& f) { tabbench::printFigures(step, f, 0, 37, " rec/s"); }

void PrintRatio(const char* step, const Figures& f) { tabbench::printFigures(step, f, 3, 37); }

void DefineFields(TQxCustomMemDataSet& ds) {
  ds.FieldDefs().Add("id", ftInteger);
  ds.FieldDefs().Add("name", ftString, 30);
  ds.FieldDefs().Add("amount", ftFloat);
  ds.FieldDefs().Add("stamp", ftDateTime);
}

// Writes bytes to a new file and waits until they are on the disk, as a save that must survive.
bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  if (file.write(bytes) != bytes.size()) return false;
  file.flush();
  ::fsync(file.handle());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = tabbench::intArgument(argc, argv, 1, 1000000);
  const int rounds = tabbench::intArgument(argc, argv, 2, 5);

  // The test data is built once, outside every timed part: a local-time date per record would
  // otherwise cost more than the append itself.
  std::vector<QVariantList> records;
  records.reserve(size_t(n));
  const QDateTime base(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());
  for (int i = 0; i < n; ++i)
    records.push_back({i, QStringLiteral("name %1").arg(i), i * 0.5, base.addSecs(i)});

  QTemporaryDir dir;
  const QString savedPath = dir.filePath("saved.bin");
  const QString rawPath = dir.filePath("raw.bin");
  Figures append, locate, save, rawWrite, saveRatio, load, rawRead, loadRatio;
  qint64 bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    TQxCustomMemDataSet ds;
    DefineFields(ds);
    ds.Open();
    auto t = Clock::now();
    ds.DisableControls();
    for (const QVariantList& r : records) ds.AppendRecord(r);
    ds.EnableControls();
    append.add(n / secondsSince(t));

    // Locate walks records from the first, so a handful of keys spread over the data.
    const int locates = 10;
    t = Clock::now();
    int found = 0;
    for (int k = 1; k <= locates; ++k) found += ds.Locate("id", int(int64_t(n) * k / (locates + 1)), {}) ? 1 : 0;
    locate.add(double(int64_t(n) * locates / 2) / secondsSince(t));
    if (found != locates) return 2;

    // Save: the dataset's stream written to a file; yardstick: the same bytes written the same way.
    t = Clock::now();
    TMemoryStream stream;
    ds.SaveToStream(stream);
    if (!WriteFile(savedPath, stream.Bytes())) return 1;
    const double saveSecs = secondsSince(t);
    bytes = stream.Size();
    t = Clock::now();
    if (!WriteFile(rawPath, stream.Bytes())) return 1;
    const double rawWriteSecs = secondsSince(t);
    save.add(n / saveSecs);
    rawWrite.add(n / rawWriteSecs);
    saveRatio.add(rawWriteSecs / saveSecs);

    // Load: the file read back into a dataset; yardstick: the same file read into memory.
    t = Clock::now();
    QFile raw(rawPath);
    if (!raw.open(QIODevice::ReadOnly)) return 1;
    QByteArray readBack = raw.readAll();
    const double rawReadSecs = secondsSince(t);
    if (readBack.size() != bytes) return 1;
    TQxCustomMemDataSet back;
    t = Clock::now();
    back.LoadFromFile(savedPath);
    back.Open();
    const double loadSecs = secondsSince(t);
    if (back.RecordCount() != n) return 2;
    load.add(n / loadSecs);
    rawRead.add(n / rawReadSecs);
    loadRatio.add(rawReadSecs / loadSecs);
  }

  std::printf("dataset_bench: %d records of 4 fields, %lld bytes saved, %d rounds\n", n,
              static_cast<long long>(bytes), rounds);
  Print("append", append);
  Print("locate (records scanned)", locate);
  Print("save to file (fsync)", save);
  Print("raw write of the same bytes (fsync)", rawWrite);
  PrintRatio("save speed / raw write speed", saveRatio);
  Print("load from file", load);
  Print("raw read of the same bytes", rawRead);
  PrintRatio("load speed / raw read speed", loadRatio);
  tabbench::printLoadAverage();
  return 0;
}
