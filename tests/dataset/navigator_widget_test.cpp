// The navigator toolbar (offscreen): its buttons follow the navigator's enabled state, clicks
// run the operations, and an operation's error is reported instead of leaving the click.
#include <gtest/gtest.h>

#include <QApplication>

#include "DataSetFixture.h"
#include "access/UiServices.h"
#include "dataset/DataSetNavigatorWidget.h"

TEST(NavigatorWidget, ButtonsFollowAndRunTheNavigator) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  TDataSource source(&ds);
  TDBNavigatorWidget bar;
  bar.Navigator().SetDataSource(&source);
  bar.Navigator().OnConfirm = [](const QString&) { return true; };
  EXPECT_FALSE(bar.Button(TNavigateBtn::nbInsert)->isEnabled()) << "closed";
  ds.Open();
  AddPeople(ds, {{1, "a"}, {2, "b"}});
  ds.First();
  EXPECT_TRUE(bar.Button(TNavigateBtn::nbNext)->isEnabled());
  EXPECT_FALSE(bar.Button(TNavigateBtn::nbPrior)->isEnabled());
  EXPECT_EQ(bar.Button(TNavigateBtn::nbDelete)->toolTip(), "Delete record");
  bar.Button(TNavigateBtn::nbNext)->click();
  EXPECT_EQ(ds.FieldByName("name")->AsString(), "b");
  bar.Button(TNavigateBtn::nbDelete)->click();
  EXPECT_EQ(ds.RecordCount(), 1);
  bar.setEnabled(false);
  EXPECT_FALSE(bar.Navigator().ButtonEnabled(TNavigateBtn::nbFirst));
  bar.setEnabled(true);
  EXPECT_TRUE(bar.Button(TNavigateBtn::nbInsert)->isEnabled());
}

TEST(NavigatorWidget, AFailingOperationIsReportedNotThrown) {
  TRecordingUiServices ui;
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  TDataSource source(&ds);
  TDBNavigatorWidget bar;
  bar.Navigator().SetDataSource(&source);
  bar.Navigator().BeforeAction = [](TNavigateBtn) { throw EDatabaseError("mem: refused"); };
  bar.Button(TNavigateBtn::nbInsert)->click();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  ASSERT_EQ(ui.Events(TRecordingUiServices::Event::kMessageBox).size(), 1u);
  EXPECT_TRUE(ui.Events(TRecordingUiServices::Event::kMessageBox)[0].text.startsWith("mem: refused"));
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
