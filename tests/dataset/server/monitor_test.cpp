// The trace lines a server dataset sends to the SQL monitor with Monitor on (and an owner): the
// column probe, the index catalogue, every fetched column, bound parameters, a procedure's
// return status and output parameters; nothing with Monitor off.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "dataset/server/QxQuery.h"
#include "dataset/server/QxStoredProc.h"
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"
#include "tests/support/monitor_lines.h"

using dstest::Exec;
using dstest::ServerDataSetTest;

namespace {

// The monitor's lines under a window title of this process's own.
struct LineReceiver : tabtest::MonitorLines {
  LineReceiver() : MonitorLines(QStringLiteral("Stelvane-ds-%1").arg(::getpid())) {}
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

class MonitorTest : public ServerDataSetTest {};

TEST_F(MonitorTest, DatasetsTraceWhatTheySendAndReceive) {
  LineReceiver rx;
  ASSERT_TRUE(rx.bound());
  Exec(*check_, QStringLiteral("create table m_rows (id int not null, name varchar(10) null, price money null, "
                               "at smalldatetime null, ok bit not null, constraint m_rows_pk primary key (id)) "
                               "insert m_rows values (1, 'one', 19.99, '2024-01-02 03:04', 1) "
                               "insert m_rows values (2, null, null, null, 0)"));
  Exec(*check_, QStringLiteral("create procedure m_proc @x int, @y int output as select @y = @x * 2 return 7"));
  TComponent owner;
  for (bool monitor : {true, false}) {
    SCOPED_TRACE(monitor ? "monitor on" : "monitor off");
    auto* t = new TQxTable(&owner);
    t->SetName(QStringLiteral("m_rows_ds"));
    t->DbName = QStringLiteral("db");
    t->SetTableName(QStringLiteral("m_rows"));
    t->Monitor = monitor;
    t->Open();
    t->Last();
    auto* p = new TQxStoredProc(&owner);
    p->SetName(QStringLiteral("m_proc_sp"));
    p->DbName = QStringLiteral("db");
    p->Monitor = monitor;
    p->SetStoredProcName(QStringLiteral("m_proc"));
    p->Params().ParamByName("@x").SetValue(4);
    p->ExecProc();
    delete t;
    delete p;
    const std::vector<std::string> lines = rx.LinesUntilEnd();
    if (!monitor) {
      EXPECT_TRUE(lines.empty());
      continue;
    }
    for (const char* expected : {
             "Flow : ** Start of obtaining index **",
             "Flow : ** End of obtaining index **",
             "Flow : ** Start of obtaining columns **",
             "Flow : ** End of obtaining columns **",
             "SQL Data Out: Column = 1, Name = id, Type = int, Precision = 0, Scale = 0, Data = 1",
             // The client library describes a varchar column as char.
             "SQL Data Out: Column = 2, Name = name, Type = char, Precision = 0, Scale = 0, Data = one",
             "SQL Data Out: Column = 4, Name = at, Type = smalldatetime, Precision = 0, Scale = 0, Data = <SmallDateTime>",
             "SQL Data Out: Column = 5, Name = ok, Type = bit, Precision = 0, Scale = 0, Data = True",
             "SQL Data Out: Column = 2, Name = name, Type = char, Precision = 0, Scale = 0, Data = NULL",
             "Bind Params : @x = 4",
             "Flow : ** Start of obtaining Return status **",
             "Result : 7",
             "Flow : ** End of obtaining Return status **",
             "Flow : ** Start of obtaining Return parameters **",
             "Open-Client: ct_res_info(CS_NUMDATA) - Number of parameters : 1",
             "SQL Parameter Data Out: , Parameter Name= @y, Data = 8",
             "Flow : ** End of obtaining Return parameters **",
         })
      EXPECT_TRUE(Has(lines, expected)) << expected;
    // The money column's line carries its exact value.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("SQL Data Out: Column = 3, Name = price, Type = money", 0) == 0 && l.find("Data = 19.99") != std::string::npos;
    }));
  }
}

// A row of a result with binary, text or image columns is traced with the blob-data line; a
// result without such columns never shows it.
TEST_F(MonitorTest, RowsWithBlobColumnsTraceTheirBlobData) {
  LineReceiver rx;
  ASSERT_TRUE(rx.bound());
  Exec(*check_, QStringLiteral("create table m_blob (id int not null, note text null, pic image null, "
                               "bin varbinary(8) null, n int null) "
                               "insert m_blob values (1, 'a', 0x01, 0x02, 1) "
                               "insert m_blob values (2, null, null, null, 2)"));
  const struct {
    const char* columns;
    bool blobs;
  } cases[] = {{"id, note", true}, {"id, pic", true}, {"id, bin", true}, {"id, n", false}};
  TComponent owner;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    for (bool cursor : {true, false}) {
      SCOPED_TRACE(cursor ? "cursor" : "no cursor");
      auto* q = new TQxQuery(&owner);
      q->SetName(QStringLiteral("m_blob_q"));
      q->DbName = QStringLiteral("db");
      q->UseQorixCursor = cursor;
      q->Monitor = true;
      q->SetSQL(QStringLiteral("select %1 from m_blob order by id").arg(QString::fromLatin1(c.columns)));
      q->Open();
      q->Last();
      EXPECT_EQ(q->RecordCount(), 2);
      delete q;
      const std::vector<std::string> lines = rx.LinesUntilEnd();
      EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("Flow : ** Fetch Blob Data **")), c.blobs ? 2 : 0);
    }
  }
}
