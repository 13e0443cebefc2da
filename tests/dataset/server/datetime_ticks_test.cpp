// Datetime values on the server's 1/300-second grid through a table dataset: every tick of a
// second is read with the milliseconds the server shows for it (.997 for 299 ticks, never a
// truncated .996), names its row exactly in the WHERE of an edit, and written back into
// another table reaches the server as the same value.
#include "dataset/server/QxTable.h"
#include "tests/dataset/server/server_fixture.h"

using dstest::Exec;
using dstest::Rows;
using dstest::ServerDataSetTest;

namespace {
// The milliseconds the server shows for Ticks within a second.
int ShownMs(int ticks) { return (ticks * 10 + 1) / 3; }
}  // namespace

class DateTimeTicksTest : public ServerDataSetTest {
 protected:
  void SetUp() override {
    ServerDataSetTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Exec(*check_, QStringLiteral("create table tick_probe (id int not null, dt datetime not null, note varchar(10) null, "
                                 "constraint tick_probe_pk primary key (id))"));
    Exec(*check_, QStringLiteral("create table tick_copy (id int not null, dt datetime not null, "
                                 "constraint tick_copy_pk primary key (id))"));
    QString fill;
    for (int t = 0; t < 300; ++t)
      fill += QStringLiteral("insert tick_probe values (%1, '2001-02-03 04:05:06.%2', null)\n")
                  .arg(t)
                  .arg(ShownMs(t), 3, 10, QLatin1Char('0'));
    Exec(*check_, fill);
  }
  void TearDown() override {
    if (check_ && check_->Connected()) {
      Exec(*check_, QStringLiteral("drop table tick_probe"));
      Exec(*check_, QStringLiteral("drop table tick_copy"));
    }
    ServerDataSetTest::TearDown();
  }
  std::unique_ptr<TQxTable> Table(const QString& name) {
    auto t = std::make_unique<TQxTable>();
    t->SetName(QStringLiteral("tbl_ticks"));
    t->SetDatabase(db_.get());
    t->SQLOptions = TSQLOptions{soUseTransaction};
    t->UpdateMode = upWhereAll;
    t->SetTableName(name);
    t->Open();
    return t;
  }
};

TEST_F(DateTimeTicksTest, EveryTickIsReadAsTheServerShowsItAndWrittenBackUnchanged) {
  // The server holds tick t as .ShownMs(t) (its own text of the value, read independently).
  const QStringList held = Rows(*check_, QStringLiteral("select id, datepart(ms, dt) from tick_probe order by id"));
  ASSERT_EQ(held.size(), 300);
  for (int t = 0; t < 300; ++t) ASSERT_EQ(held[t], QStringLiteral("%1|%2").arg(t).arg(ShownMs(t)));

  auto probe = Table(QStringLiteral("tick_probe"));
  auto copy = Table(QStringLiteral("tick_copy"));
  int rows = 0;
  for (probe->First(); !probe->Eof(); probe->Next(), ++rows) {
    const int t = probe->FieldByName(QStringLiteral("id"))->AsInteger();
    SCOPED_TRACE(t);
    const QDateTime dt = probe->FieldByName(QStringLiteral("dt"))->Value().toDateTime();
    EXPECT_EQ(dt.time(), QTime(4, 5, 6, ShownMs(t)));
    // The edit's WHERE carries the value read: it finds its row only when that is exact.
    probe->Edit();
    probe->FieldByName(QStringLiteral("note"))->SetAsString(QStringLiteral("seen"));
    ASSERT_NO_THROW(probe->Post()) << probe->LastStatement().toStdString();
    // The value read, written into another table.
    copy->Append();
    copy->FieldByName(QStringLiteral("id"))->SetValue(t);
    copy->FieldByName(QStringLiteral("dt"))->SetValue(dt);
    ASSERT_NO_THROW(copy->Post()) << copy->LastStatement().toStdString();
  }
  EXPECT_EQ(rows, 300);
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from tick_probe where note = 'seen'")), QStringList{"300"});
  // Every copied value is the server's value to the tick.
  EXPECT_EQ(Rows(*check_, QStringLiteral("select count(*) from tick_probe p, tick_copy c where p.id = c.id and p.dt = c.dt")),
            QStringList{"300"});
  EXPECT_EQ(Rows(*check_, QStringLiteral("select id, datepart(ms, dt) from tick_copy order by id")), held);
}
