// Appends, locates, saves and loads a million records in a memory dataset. Each figure is printed
// with min, median and max over several rounds; saving and loading are set beside writing and
// reading the same bytes through a file in the same round, so the ratio stays meaningful on a
// noisy machine.
// Usage: dataset_bench [records] [rounds]   (defaults 1000000 and 5)
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "dataset/QxCustomMemDataSet.h"

namespace {

struct Figures {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  double at(double q) const {
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * double(v.size() - 1) + 0.5)];
  }
};

void Print(const char* step, const Figures& f, const char* unit) {
  std::printf("%-37s min %12.0f  median %12.0f  max %12.0f %s\n", step, f.at(0), f.at(0.5), f.at(1), unit);
}

void PrintRatio(const char* step, const Figures& f) {
  std::printf("%-37s min %12.3f  median %12.3f  max %12.3f\n", step, f.at(0), f.at(0.5), f.at(1));
}

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
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

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
    QElapsedTimer t;
    t.start();
    ds.DisableControls();
    for (const QVariantList& r : records) ds.AppendRecord(r);
    ds.EnableControls();
    append.add(n / (t.nsecsElapsed() / 1e9));

    // Locate walks records from the first, so a handful of keys spread over the data.
    const int locates = 10;
    t.start();
    int found = 0;
    for (int k = 1; k <= locates; ++k) found += ds.Locate("id", int(int64_t(n) * k / (locates + 1)), {}) ? 1 : 0;
    locate.add(double(int64_t(n) * locates / 2) / (t.nsecsElapsed() / 1e9));
    if (found != locates) return 2;

    // Save: the dataset's stream written to a file; yardstick: the same bytes written the same way.
    t.start();
    TMemoryStream stream;
    ds.SaveToStream(stream);
    if (!WriteFile(savedPath, stream.Bytes())) return 1;
    const double saveSecs = t.nsecsElapsed() / 1e9;
    bytes = stream.Size();
    t.start();
    if (!WriteFile(rawPath, stream.Bytes())) return 1;
    const double rawWriteSecs = t.nsecsElapsed() / 1e9;
    save.add(n / saveSecs);
    rawWrite.add(n / rawWriteSecs);
    saveRatio.add(rawWriteSecs / saveSecs);

    // Load: the file read back into a dataset; yardstick: the same file read into memory.
    t.start();
    QFile raw(rawPath);
    if (!raw.open(QIODevice::ReadOnly)) return 1;
    QByteArray readBack = raw.readAll();
    const double rawReadSecs = t.nsecsElapsed() / 1e9;
    if (readBack.size() != bytes) return 1;
    TQxCustomMemDataSet back;
    t.start();
    back.LoadFromFile(savedPath);
    back.Open();
    const double loadSecs = t.nsecsElapsed() / 1e9;
    if (back.RecordCount() != n) return 2;
    load.add(n / loadSecs);
    rawRead.add(n / rawReadSecs);
    loadRatio.add(rawReadSecs / loadSecs);
  }

  std::printf("dataset_bench: %d records of 4 fields, %lld bytes saved, %d rounds\n", n,
              static_cast<long long>(bytes), rounds);
  Print("append", append, "rec/s");
  Print("locate (records scanned)", locate, "rec/s");
  Print("save to file (fsync)", save, "rec/s");
  Print("raw write of the same bytes (fsync)", rawWrite, "rec/s");
  PrintRatio("save speed / raw write speed", saveRatio);
  Print("load from file", load, "rec/s");
  Print("raw read of the same bytes", rawRead, "rec/s");
  PrintRatio("load speed / raw read speed", loadRatio);
  return 0;
}
