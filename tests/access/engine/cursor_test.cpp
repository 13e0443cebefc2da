// Read-only client cursors through the engine: every row at several rows-per-fetch settings,
// two cursors interleaved with a language command on one connection, and DescribeColumns.

#include "access/QorixExceptions.h"
#include "engine_fixture.h"

namespace {

class EngineCursor : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    QString batch = QStringLiteral("create table cur_t%1 (id int, name varchar(20))\n").arg(serial_);
    for (int i = 1; i <= 237; ++i)
      batch += QStringLiteral("insert cur_t%1 values (%2, 'n%2')\n").arg(serial_).arg(i);
    Exec(batch);
    table_ = QStringLiteral("cur_t%1").arg(serial_++);
  }
  // Skips the test when the server answers no cursor commands yet.
  bool CursorsWork() {
    try {
      TQorixEnhQuery probe;
      probe.SetDatabase(db_.get());
      probe.IsCursor = true;
      probe.ReadOnly = true;
      probe.SetSQL(QStringLiteral("select 1"));
      return OpenRows(probe) == QStringList{"1"};
    } catch (const std::exception&) {
      return false;
    }
  }
  static inline int serial_ = 0;
  QString table_;
};

TEST_F(EngineCursor, ReturnsEveryRowAtEachRowsPerFetch) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  for (int rows : {1, 10, 50, 100}) {
    SCOPED_TRACE(rows);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.IsCursor = true;
    q.ReadOnly = true;
    q.CurFetchRows = rows;
    q.SetSQL(QStringLiteral("select id, name from %1 order by id").arg(table_));
    const QStringList got = OpenRows(q);
    ASSERT_EQ(got.size(), 237);
    EXPECT_EQ(got.first(), QStringLiteral("1|n1"));
    EXPECT_EQ(got[99], QStringLiteral("100|n100"));
    EXPECT_EQ(got.last(), QStringLiteral("237|n237"));
    EXPECT_EQ(q.GetRowCount(), 237);
  }
}

TEST_F(EngineCursor, TwoCursorsInterleaveWithALanguageCommand) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  TQorixEnhQuery a, b, lang;
  for (TQorixEnhQuery* q : {&a, &b}) {
    q->SetDatabase(db_.get());
    q->IsCursor = true;
    q->ReadOnly = true;
    q->CurFetchRows = 7;
  }
  a.SetSQL(QStringLiteral("select id from %1 where id <= 20 order by id").arg(table_));
  b.SetSQL(QStringLiteral("select id from %1 where id > 200 order by id desc").arg(table_));
  lang.SetDatabase(db_.get());
  QStringList fromA, fromB;
  // Each cursor's open is answered by its first Next; then the connection is free again.
  a.Open();
  ASSERT_TRUE(a.Next());
  fromA << a.GetFieldValue(1);
  b.Open();
  ASSERT_TRUE(b.Next());
  fromB << b.GetFieldValue(1);
  for (int step = 0; step < 20; ++step) {
    if (a.Next()) fromA << a.GetFieldValue(1);
    if (b.Next()) fromB << b.GetFieldValue(1);
    if (step % 5 == 0) {
      lang.SetSQL(QStringLiteral("select count(*) from %1").arg(table_));
      EXPECT_EQ(OpenRows(lang), (QStringList{"237"}));
    }
  }
  while (a.Next()) fromA << a.GetFieldValue(1);
  while (b.Next()) fromB << b.GetFieldValue(1);
  a.Cancel(CS_CANCEL_ALL);
  b.Cancel(CS_CANCEL_ALL);
  ASSERT_EQ(fromA.size(), 20);
  ASSERT_EQ(fromB.size(), 37);
  EXPECT_EQ(fromA.first(), QStringLiteral("1"));
  EXPECT_EQ(fromA.last(), QStringLiteral("20"));
  EXPECT_EQ(fromB.first(), QStringLiteral("237"));
  EXPECT_EQ(fromB.last(), QStringLiteral("201"));
}

TEST_F(EngineCursor, ACursorWithParametersGetsThemAsLiterals) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.IsCursor = true;
  q.ReadOnly = true;
  q.SetSQL(QStringLiteral("select id from %1 where id < :top and name <> :skip order by id").arg(table_));
  ASSERT_EQ(q.Params().Count(), 2);
  q.Params()[0].DataType = ftInteger;
  q.Params()[0].SetValue(5);
  q.Params()[1].DataType = ftString;
  q.Params()[1].SetValue(QStringLiteral("n2' or 'a'='a"));  // stays one literal
  EXPECT_EQ(OpenRows(q), (QStringList{"1", "2", "3", "4"}));
}

// A "?" in a comment or a literal is text: the parameters go to the markers only.
TEST_F(EngineCursor, QuestionMarksInCommentsAndLiteralsTakeNoParameter) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  const char* const texts[] = {
      "select id from %1 /* why? */ where id < :top order by id",
      "select id from %1 -- don't ask why?\nwhere id < :top order by id",
      "select id from %1 where name <> '?' and id < :top order by id",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.IsCursor = true;
    q.ReadOnly = true;
    q.SetSQL(QString::fromLatin1(text).arg(table_));
    ASSERT_EQ(q.Params().Count(), 1);
    q.Params()[0].DataType = ftInteger;
    q.Params()[0].SetValue(4);
    EXPECT_EQ(OpenRows(q), (QStringList{"1", "2", "3"}));
  }
}

// The cursor's status as the server reports it: open (and read only) while its rows are read,
// nothing once the run is cancelled and the cursor closed.
TEST_F(EngineCursor, CursorStatusFollowsTheCursor) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  EXPECT_EQ(q.GetCursorStatus(), std::bitset<6>(0b000001)) << "no cursor yet";
  q.IsCursor = q.ReadOnly = true;
  q.SetSQL(QStringLiteral("select id from %1").arg(table_));
  q.Open();
  ASSERT_TRUE(q.Next());
  const std::bitset<6> reading = q.GetCursorStatus();
  EXPECT_TRUE(reading[0]);
  EXPECT_TRUE(reading[2]) << "open: " << reading;
  EXPECT_TRUE(reading[4]) << "read only: " << reading;
  EXPECT_FALSE(reading[3]) << "closed: " << reading;
  q.Cancel(CS_CANCEL_ALL);
  EXPECT_EQ(q.GetCursorStatus(), std::bitset<6>(0b000001)) << "closed and deallocated";
}

TEST_F(EngineCursor, DescribeColumnsLearnsTheColumnsWithoutRows) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  TQorixEnhQuery q;
  q.SetDatabase(db_.get());
  q.SetSQL(QStringLiteral("select id, name from %1").arg(table_));
  // The first accessor describes the statement and leaves the cursor switches on.
  EXPECT_EQ(q.GetFieldName(1), QStringLiteral("id"));
  EXPECT_EQ(q.GetFieldName(2), QStringLiteral("name"));
  EXPECT_EQ(q.GetFieldMaxLength(1), 4);
  EXPECT_TRUE(q.IsCursor);
  EXPECT_TRUE(q.ReadOnly);
  // The connection is free afterwards.
  TQorixEnhQuery after;
  after.SetDatabase(db_.get());
  after.SetSQL(QStringLiteral("select 3"));
  EXPECT_EQ(OpenRows(after), (QStringList{"3"}));
}

}  // namespace

namespace {

// A cursor the server refuses (an unknown table, a query that is not one SELECT) fails with the
// server's text, through Open and through DescribeColumns, and leaves nothing of it behind: the
// connection runs the next statement, and FreeTDS's state of the refused cursor is released (the
// sanitizer run reports it otherwise).
TEST_F(EngineCursor, ACursorTheServerRefusesFailsAndLeavesNothingBehind) {
  if (!CursorsWork()) GTEST_SKIP() << "the server does not answer cursor commands yet";
  const struct {
    const char* name;
    const char* sql;
    const char* text;
  } statements[] = {
      {"an unknown table", "select * from no_such_table", "no_such_table"},
      {"two statements", "select 1 select 2", "must be one SELECT statement"},
  };
  for (const auto& s : statements) {
    for (bool describe : {false, true}) {
      SCOPED_TRACE(std::string(s.name) + (describe ? ", DescribeColumns" : ", Open"));
      TQorixEnhQuery q;
      q.SetDatabase(db_.get());
      q.IsCursor = q.ReadOnly = true;
      q.SetSQL(QString::fromLatin1(s.sql));
      QString error;
      try {
        if (describe)
          q.DescribeColumns();
        else
          OpenRows(q);
      } catch (const Exception& e) {
        error = e.Message();
      }
      EXPECT_TRUE(error.contains(QLatin1String(s.text))) << "raised: " << error.toStdString();
      TQorixEnhQuery after;
      after.SetDatabase(db_.get());
      after.SetSQL(QStringLiteral("select 3"));
      EXPECT_EQ(OpenRows(after), (QStringList{"3"}));
    }
  }
}

}  // namespace
