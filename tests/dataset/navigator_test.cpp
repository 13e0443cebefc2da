// TDataSetNavigator: which buttons are enabled in each dataset situation, what each button
// does, the delete confirmation and the change notifications.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataset/DataSetNavigator.h"

namespace {
// The enabled buttons as letters: First Prior Next Last Insert Delete Edit Save(post) Cancel Refresh.
QString EnabledLetters(const TDataSetNavigator& nav) {
  const char letters[] = "FPNLIDESCR";
  QString out;
  for (int i = 0; i < kNavigateBtnCount; ++i)
    if (nav.ButtonEnabled(TNavigateBtn(i))) out += QLatin1Char(letters[i]);
  return out;
}
}  // namespace

TEST(Navigator, EnabledButtonsFollowTheDataSet) {
  struct Case {
    const char* name;
    std::function<void(TQxMemDataSet&, TDataSetNavigator&)> setup;
    QString expected;
  };
  auto three = [](TQxMemDataSet& ds) {
    ds.Open();
    AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}});
  };
  const std::vector<Case> cases = {
      {"closed", [](TQxMemDataSet&, TDataSetNavigator&) {}, ""},
      // Edit stays on in an empty dataset: it turns into an insert there.
      {"empty", [](TQxMemDataSet& ds, TDataSetNavigator&) { ds.Open(); }, "IER"},
      {"on the first record",
       [&](TQxMemDataSet& ds, TDataSetNavigator&) {
         three(ds);
         ds.First();
       },
       "NLIDER"},
      {"in the middle",
       [&](TQxMemDataSet& ds, TDataSetNavigator&) {
         three(ds);
         ds.First();
         ds.Next();
       },
       "FPNLIDER"},
      {"past the last record",
       [&](TQxMemDataSet& ds, TDataSetNavigator&) {
         three(ds);
         ds.Last();
         ds.Next();
       },
       "FPIDER"},
      {"editing",
       [&](TQxMemDataSet& ds, TDataSetNavigator&) {
         three(ds);
         ds.First();
         ds.Next();
         ds.Edit();
       },
       "FPNLIDSCR"},
      {"read-only, on the last record",
       [&](TQxMemDataSet& ds, TDataSetNavigator&) {
         // Filled first: a read-only dataset takes no rows.
         three(ds);
         ds.Close();
         ds.SetReadOnly(true);
         ds.Open();
         ds.Last();
       },
       "FPR"},
      {"navigator disabled",
       [&](TQxMemDataSet& ds, TDataSetNavigator& nav) {
         three(ds);
         nav.SetEnabled(false);
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQxMemDataSet ds;
    DefinePeople(ds);
    TDataSource source(&ds);
    TDataSetNavigator nav;
    nav.SetDataSource(&source);
    c.setup(ds, nav);
    EXPECT_EQ(EnabledLetters(nav), c.expected);
  }
}

TEST(Navigator, ButtonsRunTheirOperations) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}, {3, "c"}});
  ds.First();
  TDataSource source(&ds);
  TDataSetNavigator nav;
  nav.SetDataSource(&source);
  std::vector<TNavigateBtn> clicked;
  nav.OnClick = [&](TNavigateBtn b) { clicked.push_back(b); };

  nav.BtnClick(TNavigateBtn::nbNext);
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "b");
  nav.BtnClick(TNavigateBtn::nbLast);
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "c");
  nav.BtnClick(TNavigateBtn::nbPrior);
  nav.BtnClick(TNavigateBtn::nbFirst);
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "a");
  nav.BtnClick(TNavigateBtn::nbFirst);  // disabled on the first record: nothing happens
  nav.BtnClick(TNavigateBtn::nbEdit);
  ds.FieldByName("name")->SetAsString("A");
  nav.BtnClick(TNavigateBtn::nbPost);
  nav.BtnClick(TNavigateBtn::nbInsert);
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  nav.BtnClick(TNavigateBtn::nbCancel);
  nav.BtnClick(TNavigateBtn::nbRefresh);
  EXPECT_EQ(Column(ds, "name"), QStringList({"A", "b", "c"}));
  using B = TNavigateBtn;
  EXPECT_EQ(clicked, std::vector<B>({B::nbNext, B::nbLast, B::nbPrior, B::nbFirst, B::nbEdit, B::nbPost,
                                     B::nbInsert, B::nbCancel, B::nbRefresh}));
}

TEST(Navigator, DeleteAsksAndBeforeActionCanStop) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  ds.First();
  TDataSource source(&ds);
  TDataSetNavigator nav;
  nav.SetDataSource(&source);
  QStringList asked;
  bool answer = false;
  nav.OnConfirm = [&](const QString& q) {
    asked << q;
    return answer;
  };
  nav.BtnClick(TNavigateBtn::nbDelete);
  EXPECT_EQ(ds.RecordCount(), 2) << "declined";
  answer = true;
  nav.BtnClick(TNavigateBtn::nbDelete);
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(asked, QStringList({"Delete record?", "Delete record?"}));
  nav.ConfirmDelete = false;
  nav.BeforeAction = [](TNavigateBtn b) {
    if (b == TNavigateBtn::nbDelete) Abort();
  };
  EXPECT_THROW(nav.BtnClick(TNavigateBtn::nbDelete), EAbort);
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(asked.size(), 2);
}

TEST(Navigator, ReportsChangesOfTheEnabledButtons) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  TDataSource source(&ds);
  TDataSetNavigator nav;
  nav.SetDataSource(&source);
  int changes = 0;
  nav.OnStateChanged = [&] { ++changes; };
  ds.Open();
  EXPECT_EQ(changes, 1);
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  const int afterFill = changes;
  EXPECT_GT(afterFill, 1);
  ds.Last();
  ds.Next();  // Eof now: next and last go off
  EXPECT_GT(changes, afterFill);
  const int beforeEdit = changes;
  ds.Edit();
  EXPECT_GT(changes, beforeEdit);
  ds.Cancel();
  ds.Close();
  EXPECT_EQ(EnabledLetters(nav), "");
}
