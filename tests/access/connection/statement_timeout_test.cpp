// A statement past the context's TimeOut on a real connection component: the error the user is
// shown carries the timeout text, whether it comes from an engine on the connection or from the
// connection's own statement, and with the rich error window the window shows that text before
// the call ends silently. The connection runs the next statement.
#include <gtest/gtest.h>

#include "access/QorixExceptions.h"
#include "access/UiServices.h"
#include "tests/access/connection/connection_support.h"

namespace {

const char* const kTimeoutText = "Read from the server has timed out";

// The first value of Sql on Db through an engine of its own ("" when none).
QString FirstValue(TQorixDatabase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetSQL(sql);
  q.Open();
  const QString value = q.Next() ? q.GetFieldValue(1) : QString();
  q.Cancel(CS_CANCEL_ALL);
  return value;
}

TEST(ConnectionTimeout, TheUserSeesTheTimeoutText) {
  TRecordingUiServices ui;
  const struct {
    const char* name;
    bool richWindow;    // the connection's MsgDialogs hold mdEnhErr (as the program's do)
    bool ownStatement;  // the connection's own InitString, else an engine on the connection
  } cases[] = {
      {"an engine", false, false},
      {"the connection's own statement", false, true},
      {"the connection's own statement, rich error window", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto db = conntest::SaDatabase(QStringLiteral("db_timeout"));
    db->ShowDbMessages = TShowDbMessages{smDbMsg, smDbErr};
    if (c.richWindow) db->MsgDialogs = TMsgDialogs{mdEnhMsg, mdEnhErr};
    db->Connect();
    ASSERT_TRUE(db->Connected());
    db->SetTimeOut(1);
    ui.Clear();
    QString raised;
    bool silent = false;
    try {
      if (c.ownStatement) {
        db->Disconnect();
        db->InitString = QStringLiteral("waitfor delay '00:00:04'");
        db->Connect();
      } else {
        TQorixEnhQuery q;
        q.SetDatabase(db.get());
        q.SetSQL(QStringLiteral("waitfor delay '00:00:04'"));
        q.ExecSQL();
      }
      ADD_FAILURE() << "the statement outlived its limit without an error";
    } catch (const EAbort&) {
      silent = true;
    } catch (const Exception& e) {
      raised = e.Message();
    }
    const auto windows = ui.Events(TRecordingUiServices::Event::kQorixMessage);
    if (c.richWindow) {
      EXPECT_TRUE(silent);
      ASSERT_EQ(windows.size(), 1u);
      EXPECT_EQ(windows[0].caption, kCtLibraryError);
      EXPECT_TRUE(windows[0].text.contains(QLatin1String(kTimeoutText))) << windows[0].text.toStdString();
    } else {
      EXPECT_TRUE(raised.contains(QLatin1String(kTimeoutText))) << raised.toStdString();
      EXPECT_TRUE(windows.empty());
    }
    if (c.ownStatement) {
      EXPECT_TRUE(db->LastError().contains(QLatin1String(kTimeoutText))) << db->LastError().toStdString();
      EXPECT_FALSE(db->Connected());
      db->InitString.clear();
      db->Connect();
    }
    ASSERT_TRUE(db->Connected());
    EXPECT_EQ(FirstValue(*db, QStringLiteral("select 42")), QStringLiteral("42"));
    db->SetTimeOut(60);
  }
}

}  // namespace
