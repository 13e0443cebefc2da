// The component base and the database-name check: list membership, links cleared on
// removal, CheckDatabase and CheckDatabaseName, the option sets and the cursor guard.

#include <gtest/gtest.h>

#include <memory>

#include "access/QorixBase.h"
#include "access/QorixExceptions.h"
#include "access/Qorix_DbCheck.h"
#include "access/UiServices.h"
#include "fake_database.h"

namespace {

bool InDbAwareList(const TComponent* c) {
  const auto& list = DbAwareComponentList();
  return std::count(list.begin(), list.end(), c) == 1;
}

TEST(QorixBase, DefaultsAfterCreate) {
  TQorixBase b;
  EXPECT_TRUE(b.MsgDialogs.Empty());
  EXPECT_EQ(b.ShowDbMessages, (TShowDbMessages{smDbMsg, smDbErr}));
  EXPECT_FALSE(b.Monitor);
  EXPECT_TRUE(b.UseExecCursor);
  EXPECT_EQ(b.ExecCursor, crSQLWait);
  EXPECT_EQ(b.Database(), nullptr);
}

TEST(QorixBase, JoinsTheListOnceAndLeavesIt) {
  auto b = std::make_unique<TQorixBase>();
  EXPECT_FALSE(InDbAwareList(b.get())) << "joins only when named";
  b->SetName("objinfo");
  b->SetName("objinfo2");
  EXPECT_TRUE(InDbAwareList(b.get())) << "renaming replaces the entry in place";
  const TComponent* raw = b.get();
  b.reset();
  EXPECT_EQ(std::count(DbAwareComponentList().begin(), DbAwareComponentList().end(), raw), 0);
}

TEST(QorixBase, LinkClearsWhenTheDatabaseIsDestroyed) {
  TQorixBase b;
  auto db = std::make_unique<FakeDatabase>();
  db->SetName("db");
  b.SetDatabase(db.get());
  EXPECT_EQ(b.Database(), db.get());
  db.reset();
  EXPECT_EQ(b.Database(), nullptr);
}

TEST(QorixBase, MessageFlagsFollowTheSets) {
  TQorixBase b;
  b.MsgDialogs = {mdEnhErr};
  EXPECT_TRUE(b.EnhErr());
  EXPECT_FALSE(b.EnhMsg());
  b.MsgDialogs = {};
  EXPECT_FALSE(b.EnhErr()) << "[] after [mdEnhErr] switches the rich error window off";
  b.ShowDbMessages.Exclude(smDbErr);
  EXPECT_TRUE(b.ShowMsg());
  EXPECT_FALSE(b.ShowErr());
}

TEST(QorixBase, CheckDatabase) {
  FakeDatabase db;
  db.SetName("dbMain");
  {
    TQorixBase b;
    b.DbName = "dbMain";
    b.CheckDatabase();
    EXPECT_EQ(b.Database(), &db);
  }
  {
    TQorixBase b;
    b.DbName = "nowhere";
    EXPECT_NO_THROW(b.CheckDatabase());
    EXPECT_EQ(b.Database(), nullptr) << "a name nobody carries leaves the link empty";
  }
  {
    TQorixBase b;
    b.SetName("obj");
    b.DbName = "   ";
    try {
      b.CheckDatabase();
      ADD_FAILURE();
    } catch (const EQxMissingException& e) {
      EXPECT_EQ(e.Message(), "obj: Database or DbName required");
    }
    b.BeginLoading();
    EXPECT_NO_THROW(b.CheckDatabase()) << "nothing is checked while loading";
  }
}

TEST(CheckDatabaseName, Cases) {
  FakeDatabase db;
  db.SetName("db1");
  TComponent comp;
  comp.SetName("q");
  const struct {
    const char* name;
    const TQorixDatabaseBase* database;
    const char* dbName;
    const char* error;  // "" for none
  } rows[] = {
      {"blank_name", nullptr, "  ", "q: Database or DbName required"},
      {"unknown_name_no_prefix", nullptr, "db9", "Could not find QorixDatabase component named 'db9'"},
      {"known_name", nullptr, "db1", ""},
      {"linked_database_wins", &db, "", ""},
      {"case_sensitive", nullptr, "DB1", "Could not find QorixDatabase component named 'DB1'"}};
  for (const auto& row : rows) {
    try {
      CheckDatabaseName(row.database, row.dbName, &comp);
      EXPECT_STREQ(row.error, "") << row.name;
    } catch (const EQxMissingException& e) {
      EXPECT_EQ(e.Message(), row.error) << row.name;
    }
  }
}

TEST(OptionSets, KeepTheEnumerationOrder) {
  TProcOptions p{poShowPlan, poAnsiNull};
  EXPECT_TRUE(p.Contains(poShowPlan));
  EXPECT_FALSE(p.Contains(poNoExec));
  EXPECT_EQ(p.ToBits(), (1ul << 13) | 1ul);
  EXPECT_EQ(TProcOptions::FromBits(p.ToBits()), p);
  EXPECT_EQ((p - TProcOptions{poShowPlan}).Count(), 1);
  EXPECT_EQ(static_cast<int>(tlLevel1), 0);
  EXPECT_EQ(static_cast<int>(tlLevel3), 2);
  EXPECT_EQ(static_cast<int>(pitLocks), 7);
}

TEST(CursorGuard, RestoresThePreviousCursorAlsoOnFailure) {
  TRecordingUiServices ui;
  EXPECT_EQ(ScreenCursor(), crDefault);
  try {
    TCursorGuard outer(crHourGlass);
    TCursorGuard inner(crSQLWait);
    EXPECT_EQ(ScreenCursor(), crSQLWait);
    throw EAbort();
  } catch (const EAbort&) {
  }
  EXPECT_EQ(ScreenCursor(), crDefault);
  std::vector<TCursor> shown;
  for (const auto& e : ui.Events(TRecordingUiServices::Event::kCursor)) shown.push_back(e.cursor);
  EXPECT_EQ(shown, (std::vector<TCursor>{crHourGlass, crSQLWait, crHourGlass, crDefault}));
  { TCursorGuard off(crSQLWait, false); }
  EXPECT_EQ(ui.Events(TRecordingUiServices::Event::kCursor).size(), 4u) << "UseExecCursor off shows nothing";
}

TEST(ComponentModel, OwnerDestroysOwnedAndHearsOfIt) {
  struct Owner : TComponent {
    std::vector<TComponent*> removed;
    void Notification(TComponent* c, TOperation op) override {
      if (op == TOperation::opRemove) removed.push_back(c);
    }
  };
  auto owner = std::make_unique<Owner>();
  auto* a = new TComponent(owner.get());
  a->SetName("a");
  auto* b = new TComponent(owner.get());
  EXPECT_EQ(owner->Components().size(), 2u);
  EXPECT_EQ(owner->FindComponent("a"), a);
  delete b;
  EXPECT_EQ(owner->removed, std::vector<TComponent*>{b});
  EXPECT_EQ(owner->Components().size(), 1u);
  bool destroyed = false;
  QObject::connect(a, &QObject::destroyed, [&] { destroyed = true; });
  owner.reset();
  EXPECT_TRUE(destroyed);
}

}  // namespace

namespace {

TEST(GuardedCall, IgnoresAbortAndShowsOtherErrors) {
  TRecordingUiServices ui;
  EXPECT_TRUE(GuardedCall([] {}));
  EXPECT_FALSE(GuardedCall([] { Abort(); }));
  EXPECT_TRUE(ui.Events().empty()) << "the silent abort shows nothing";
  const struct {
    const char* raised;
    const char* shown;
  } rows[] = {{"db: Database or DbName required", "db: Database or DbName required."},
              {"Record changed by another user.", "Record changed by another user."},
              {"Login failed!", "Login failed!"},
              {"", ""}};
  for (const auto& row : rows) {
    ui.Clear();
    EXPECT_FALSE(GuardedCall([&] { throw EDatabaseError(row.raised); }));
    const auto boxes = ui.Events(TRecordingUiServices::Event::kMessageBox);
    ASSERT_EQ(boxes.size(), 1u) << row.raised;
    EXPECT_EQ(boxes[0].text, row.shown);
    EXPECT_EQ(boxes[0].icon, TMsgBoxIcon::Stop);
  }
}

}  // namespace
