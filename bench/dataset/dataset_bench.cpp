// Appends, locates, saves and loads a million records (about 120 MB) in a memory dataset. Each
// figure is printed with min, median and max over several rounds. Saving and loading are set
// beside dd in the same round: dd writing as many bytes to a file (fsync'd like the save), and
// dd reading the saved file; the ratios are the dataset's time over dd's.
// Usage: dataset_bench [records] [rounds]   (defaults 1000000 and 5)
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cstdio>
#include <vector>

#include "bench/support/figures.h"
#include "dataset/QxCustomMemDataSet.h"

namespace {

using tabbench::Clock;
using tabbench::Figures;
using tabbench::secondsSince;

void Print(const char* step, const Figures& f) {
  tabbench::printFigures(step, f, 0, 40, " rec/s");
}

void PrintRatio(const char* step, const Figures& f) {
  tabbench::printFigures(step, f, 3, 40);
}

// Records of 121 bytes.
void DefineFields(TQxCustomMemDataSet& ds) {
  ds.FieldDefs().Add("id", ftInteger);
  ds.FieldDefs().Add("name", ftString, 30);
  ds.FieldDefs().Add("amount", ftFloat);
  ds.FieldDefs().Add("stamp", ftDateTime);
  ds.FieldDefs().Add("note", ftString, 60);
}

// Runs dd with Arguments and answers its wall time in seconds, or a negative number when it
// failed.
double RunDd(const QStringList& arguments) {
  const auto t = Clock::now();
  QProcess dd;
  dd.start(QStringLiteral("dd"), arguments);
  if (!dd.waitForFinished(-1) || dd.exitStatus() != QProcess::NormalExit || dd.exitCode() != 0) return -1;
  return secondsSince(t);
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
    records.push_back(
        {i, QStringLiteral("name %1").arg(i), i * 0.5, base.addSecs(i), QStringLiteral("note %1").arg(i)});

  QTemporaryDir dir;
  const QString savedPath = dir.filePath("saved.bin");
  const QString rawPath = dir.filePath("raw.bin");
  Figures append, locate, save, rawWrite, saveRatio, load, rawRead, loadRatio, blockRead, blockRatio;
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

    // Save: the dataset's stream written to a file and fsync'd; beside it dd writing as many
    // bytes (whole megabytes, rounded up) to a file with fsync.
    t = Clock::now();
    TMemoryStream stream;
    ds.SaveToStream(stream);
    if (!WriteFile(savedPath, stream.Bytes())) return 1;
    const double saveSecs = secondsSince(t);
    bytes = stream.Size();
    const qint64 megabytes = (bytes + (1 << 20) - 1) >> 20;
    const double ddWriteSecs =
        RunDd({"if=/dev/zero", "of=" + rawPath, "bs=1M", QStringLiteral("count=%1").arg(megabytes),
               "conv=fsync", "status=none"});
    if (ddWriteSecs < 0) return 3;
    save.add(n / saveSecs);
    rawWrite.add(n / ddWriteSecs);
    saveRatio.add(saveSecs / ddWriteSecs);

    // Load: the saved file read into a new dataset and opened; beside it dd reading that file a
    // megabyte at a time (one buffer used over and over), and dd reading it into one block of
    // the file's size (fresh memory, as any load into memory needs).
    const double ddReadSecs = RunDd({"if=" + savedPath, "of=/dev/null", "bs=1M", "status=none"});
    const double ddBlockSecs = RunDd({"if=" + savedPath, "of=/dev/null", QStringLiteral("bs=%1").arg(bytes),
                                      "count=1", "iflag=fullblock", "status=none"});
    if (ddReadSecs < 0 || ddBlockSecs < 0) return 3;
    TQxCustomMemDataSet back;
    t = Clock::now();
    back.LoadFromFile(savedPath);
    back.Open();
    const double loadSecs = secondsSince(t);
    if (back.RecordCount() != n) return 2;
    load.add(n / loadSecs);
    rawRead.add(n / ddReadSecs);
    loadRatio.add(loadSecs / ddReadSecs);
    blockRead.add(n / ddBlockSecs);
    blockRatio.add(loadSecs / ddBlockSecs);
  }

  std::printf("dataset_bench: %d records of 5 fields, %lld bytes saved, %d rounds\n", n,
              static_cast<long long>(bytes), rounds);
  Print("append", append);
  Print("locate (records scanned)", locate);
  Print("save to file (fsync)", save);
  Print("dd writing as many bytes (fsync)", rawWrite);
  PrintRatio("save time / dd's time (goal <= 2)", saveRatio);
  Print("load from file and open", load);
  Print("dd reading the saved file", rawRead);
  PrintRatio("load+open time / dd's time (goal <= 3)", loadRatio);
  Print("dd reading it into one block", blockRead);
  PrintRatio("load+open time / that dd's time", blockRatio);
  tabbench::printLoadAverage();
  return 0;
}
