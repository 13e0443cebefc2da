// What happens to an engine's unread rows and to the connection's own commands while another
// command of the connection has rows pending: a disconnect cuts the rows off with an error in
// every read mode, and a refused option or cursor command changes nothing.
#include <gtest/gtest.h>

#include "access/QorixExceptions.h"
#include "access/QorixQuery.h"
#include "tests/access/connection/connection_support.h"

using conntest::SaDatabase;

namespace {

const char* const kCutText = "The connection was closed before all rows were read";
// More rows than one fetch of any mode brings in (cursor batches of 10, arrays of 64).
const char* const kManyRows = "select name from master..syscolumns";

enum class ReadMode { kBound, kCursor, kTextImage, kQuery };

struct ModeCase {
  const char* name;
  ReadMode mode;
};

const ModeCase kModes[] = {
    {"bound columns", ReadMode::kBound},
    {"a client cursor", ReadMode::kCursor},
    {"TextImage", ReadMode::kTextImage},
    {"the query component", ReadMode::kQuery},
};

// Reads one row of kManyRows in Mode, runs Between, then reads on: the text of what the
// reading raised ("" when it ended without an error) and the rows read after Between.
QString ReadAcross(TQorixDatabase& db, ReadMode mode, const std::function<void()>& between, int* rowsAfter) {
  *rowsAfter = 0;
  if (mode == ReadMode::kQuery) {
    TQorixQuery q;
    q.SetDatabase(&db);
    q.Sql = QString::fromLatin1(kManyRows);
    q.Execute();
    EXPECT_TRUE(q.NextRow());
    between();
    try {
      while (q.NextRow()) ++*rowsAfter;
    } catch (const Exception& e) {
      return e.Message();
    }
    return QString();
  }
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.IsCursor = q.ReadOnly = mode == ReadMode::kCursor;
  q.TextImage = mode == ReadMode::kTextImage;
  q.SetSQL(QString::fromLatin1(kManyRows));
  q.Open();
  EXPECT_TRUE(q.Next());
  between();
  QString error;
  try {
    while (q.Next()) ++*rowsAfter;
  } catch (const Exception& e) {
    error = e.Message();
  }
  EXPECT_NO_THROW(q.Cancel(CS_CANCEL_ALL));
  return error;
}

// A disconnect, with or without a new login after it, ends the unread rows with an error in
// every read mode; the connection then runs statements as before.
TEST(UnreadRows, RowsCutOffByADisconnectAreAnError) {
  auto db = SaDatabase(QStringLiteral("db_cut"));
  for (const ModeCase& m : kModes) {
    for (bool reconnect : {false, true}) {
      SCOPED_TRACE(std::string(m.name) + (reconnect ? ", disconnect and connect" : ", disconnect"));
      db->Connect();
      ASSERT_TRUE(db->Connected());
      int after = 0;
      const QString error = ReadAcross(
          *db, m.mode,
          [&] {
            db->Disconnect();
            if (reconnect) db->Connect();
          },
          &after);
      EXPECT_TRUE(error.contains(QLatin1String(kCutText))) << "raised: " << error.toStdString();
      EXPECT_EQ(after, 0);
      db->Connect();
      ASSERT_TRUE(db->Connected());
      TQorixEnhQuery next;
      next.SetDatabase(db.get());
      next.SetSQL(QStringLiteral("select 7"));
      next.Open();
      ASSERT_TRUE(next.Next());
      EXPECT_EQ(next.GetFieldValue(1), QStringLiteral("7"));
      next.Cancel(CS_CANCEL_ALL);
      db->Disconnect();
    }
  }
}

// An option set while another command of the connection has rows pending is refused (the
// option would travel as a command of its own): the property keeps its value and the error is
// stored; the same option goes through once the rows are read.
TEST(UnreadRows, AnOptionRefusedWhileRowsArePendingKeepsTheProperty) {
  auto db = SaDatabase(QStringLiteral("db_opt"));
  db->Connect();
  ASSERT_TRUE(db->Connected());
  const struct {
    const char* name;
    std::function<void()> set;
    std::function<bool()> changed;
  } cases[] = {
      {"RowCount", [&] { db->SetRowCount(1); }, [&] { return db->RowCount() == 1; }},
      {"TextSize", [&] { db->SetTextSize(1000); }, [&] { return db->TextSize() == 1000; }},
      {"TransLevel", [&] { db->SetTransLevel(tlLevel3); }, [&] { return db->TransLevel() == tlLevel3; }},
      {"ProcOptions", [&] { db->ApplyProcOptions(TProcOptions{poNoCount}); },
       [&] { return db->ProcOptions.Contains(poNoCount) || db->AppliedProcOptions().Contains(poNoCount); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TQorixEnhQuery reader;
    reader.SetDatabase(db.get());
    reader.SetSQL(QString::fromLatin1(kManyRows));
    reader.Open();
    ASSERT_TRUE(reader.Next());
    c.set();
    EXPECT_FALSE(c.changed()) << "the refused value was taken";
    EXPECT_TRUE(db->LastError().contains(QLatin1String("results pending"))) << db->LastError().toStdString();
    int rows = 1;
    while (reader.Next()) ++rows;
    EXPECT_GT(rows, 64) << "the refused option reached the server";
    c.set();
    EXPECT_TRUE(c.changed()) << "the option was refused with nothing pending";
    db->SetRowCount(0);
    db->SetTextSize(32768);
    db->SetTransLevel(tlLevel1);
    db->ApplyProcOptions(TProcOptions{});
  }
}

// The connection's own cursor reads (the server version, the ping) are refused while another
// command has rows pending: the refusal is reported, the ping still sees the connection up,
// the pending rows are read whole afterwards, and nothing the refused cursor needed is kept
// (the sanitizer run finds any leak).
TEST(UnreadRows, CursorReadsRefusedWhileRowsArePendingLeaveNothingBehind) {
  auto db = SaDatabase(QStringLiteral("db_ver"));
  db->Connect();
  ASSERT_TRUE(db->Connected());
  const QString version = db->GetServerVersion();
  ASSERT_FALSE(version.isEmpty());
  TQorixEnhQuery reader;
  reader.SetDatabase(db.get());
  reader.SetSQL(QString::fromLatin1(kManyRows));
  reader.Open();
  ASSERT_TRUE(reader.Next());
  for (int i = 0; i < 3; ++i) {
    try {
      db->GetServerVersion();
      ADD_FAILURE() << "a cursor read ran beside pending rows";
    } catch (const Exception& e) {
      EXPECT_TRUE(e.Message().contains(QLatin1String("results pending"))) << e.Message().toStdString();
    }
    EXPECT_TRUE(db->PingConnection());
  }
  int rows = 1;
  while (reader.Next()) ++rows;
  EXPECT_EQ(rows, conntest::SessionRowCount(*db, QString::fromLatin1(kManyRows)));
  EXPECT_EQ(db->GetServerVersion(), version);
}

}  // namespace
