// The statement timeout where the wait falls: in ct_results (nothing sent yet) and in ct_fetch
// (a row came, the next does not), against the stub engine's slow replies. Each fails soon
// after the limit with the timeout text, and the connection runs the next statement.

#include <chrono>

#include "access/SysUtils.h"
#include "tests/access/engine/stub_fixture.h"

namespace {

using StubTimeout = StubEngineTest;

TEST_F(StubTimeout, EitherWaitFailsSoonAndTheConnectionGoesOn) {
  const struct {
    const char* name;
    const char* sql;
    int rowsBefore;  // rows read before the wait
  } cases[] = {
      {"waiting for the first result (ct_results)", "waitfor", 0},
      {"waiting for the next row (ct_fetch)", "slowrows", 1},
  };
  ctx_->SetTimeOut(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int cancelledBefore = tabtest::cancelledWaits();
    TQorixEnhQuery q;
    q.SetDatabase(db_.get());
    q.SetSQL(QString::fromLatin1(c.sql));
    const auto start = std::chrono::steady_clock::now();
    int rows = 0;
    QString error;
    try {
      q.Open();
      while (q.Next()) ++rows;
    } catch (const Exception& e) {
      error = e.Message();
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(error.contains(QLatin1String("Read from the server has timed out"))) << error.toStdString();
    EXPECT_EQ(rows, c.rowsBefore);
    // A wait the server is not told to stop goes on for the stub's 30 s.
    EXPECT_LT(took, 5.0);
    EXPECT_GT(tabtest::cancelledWaits(), cancelledBefore) << "the server was not told to stop";
    TQorixEnhQuery next;
    next.SetDatabase(db_.get());
    next.SetSQL(QStringLiteral("bigrows 2"));
    EXPECT_EQ(Rows(next).size(), 2);
  }
}

}  // namespace
