// Appends, locates, saves and loads one million records in a memory dataset and prints records
// per second for each step, next to the raw speed of writing the same bytes to a file.
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "dataset/QxCustomMemDataSet.h"

namespace {
void Report(const char* step, int64_t records, int64_t ns, int64_t bytes = 0) {
  const double secs = double(ns) / 1e9;
  std::printf("%-28s %10lld records %9.3f s %12.0f rec/s", step, static_cast<long long>(records), secs,
              secs > 0 ? records / secs : 0.0);
  if (bytes) std::printf(" %9.1f MB/s", secs > 0 ? bytes / secs / 1e6 : 0.0);
  std::printf("\n");
}
}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  TQxCustomMemDataSet ds;
  ds.FieldDefs().Add("id", ftInteger);
  ds.FieldDefs().Add("name", ftString, 30);
  ds.FieldDefs().Add("amount", ftFloat);
  ds.FieldDefs().Add("stamp", ftDateTime);
  ds.Open();
  QElapsedTimer t;

  t.start();
  ds.DisableControls();
  const QDateTime base(QDate(2024, 1, 1), QTime(0, 0));
  for (int i = 0; i < n; ++i)
    ds.AppendRecord({i, QStringLiteral("name %1").arg(i), i * 0.5, base.addSecs(i)});
  ds.EnableControls();
  Report("append", n, t.nsecsElapsed());

  // Locate walks records from the first, so a handful of keys spread over the data.
  const int locates = 10;
  t.start();
  int found = 0;
  for (int k = 1; k <= locates; ++k)
    found += ds.Locate("id", int(int64_t(n) * k / (locates + 1)), {}) ? 1 : 0;
  const int64_t locateNs = t.nsecsElapsed();
  std::printf("%-28s %10d found of %d, %lld records scanned\n", "locate", found, locates,
              static_cast<long long>(int64_t(n) * locates / 2));
  Report("locate (records scanned)", int64_t(n) * locates / 2, locateNs);

  TMemoryStream stream;
  t.start();
  ds.SaveToStream(stream);
  Report("save to stream", n, t.nsecsElapsed(), stream.Size());

  QTemporaryDir dir;
  QFile file(dir.filePath("raw.bin"));
  t.start();
  if (!file.open(QIODevice::WriteOnly)) return 1;
  file.write(stream.Bytes());
  file.flush();
  file.close();
  Report("raw write of the same bytes", n, t.nsecsElapsed(), stream.Size());

  TQxCustomMemDataSet back;
  t.start();
  stream.SetPosition(0);
  back.LoadFromStream(stream);
  back.Open();
  Report("load from stream", back.RecordCount(), t.nsecsElapsed(), stream.Size());
  return back.RecordCount() == n ? 0 : 2;
}
