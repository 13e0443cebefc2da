// TDataSetModel under a real QTableView (offscreen): the view reads rows on demand only as far
// as it shows them, and the dataset stays on its record while the view fetches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTableView>

#include "DataSetFixture.h"
#include "dataset/DataSetModel.h"

TEST(ModelInAView, FetchesOnlyWhatTheViewNeeds) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  ds.DisableControls();
  for (int i = 1; i <= 2000; ++i) ds.AppendRecord({i, QStringLiteral("p%1").arg(i)});
  ds.EnableControls();
  ds.First();
  ds.MoveBy(9);  // on id 10
  TDataSource source(&ds);
  TDataSetModel model;
  model.BatchSize = 50;
  model.SetDataSource(&source);
  QTableView view;
  view.resize(400, 300);
  view.setModel(&model);
  view.show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_GT(model.FetchedRows(), 0);
  EXPECT_LT(model.FetchedRows(), 2000) << "a small view does not read the whole dataset";
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 10);
  view.scrollToBottom();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const int afterScroll = model.FetchedRows();
  EXPECT_GT(afterScroll, 50) << "scrolling asks for more";
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "p1");
}
