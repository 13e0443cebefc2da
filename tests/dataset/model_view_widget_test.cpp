// TDataSetModel under a real QTableView (offscreen): the view reads rows on demand only as far
// as it shows them, and the dataset stays on its record while the view fetches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <functional>

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

TEST(ModelInAView, EndingAnEditOrDeletingKeepsTheGridWhereTheUserWas) {
  TQxMemDataSet ds;
  DefinePeople(ds);
  ds.Open();
  ds.DisableControls();
  for (int i = 1; i <= 2000; ++i) ds.AppendRecord({i, QStringLiteral("p%1").arg(i)});
  ds.EnableControls();
  ds.First();
  TDataSource source(&ds);
  TDataSetModel model;
  model.BatchSize = 50;
  model.SetDataSource(&source);
  QTableView view;
  view.resize(400, 300);
  view.setModel(&model);
  // The current record's row becomes the view's current cell, as the main window's Data page does.
  model.OnCurrentRowChanged = [&](int row) {
    if (row >= 0) view.setCurrentIndex(model.index(row, 1));
  };
  view.show();
  auto settle = [] {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  };
  settle();
  while (model.FetchedRows() < 600) model.fetchMore();
  ASSERT_TRUE(model.SetCurrentRow(550));
  view.scrollTo(model.index(550, 1), QAbstractItemView::PositionAtCenter);
  settle();
  const int scrolled = view.verticalScrollBar()->value();
  ASSERT_GT(scrolled, 0);
  auto shown = [&](int row) {
    return view.viewport()->rect().intersects(view.visualRect(model.index(row, 1)));
  };

  struct Case {
    const char* name;
    std::function<void()> act;
    const char* row550;  // what row 550 shows afterwards
  };
  const Case cases[] = {
      {"edit posted",
       [&] {
         ds.Edit();
         ds.FieldByName("name")->SetAsString("posted");
         ds.Post();
       },
       "posted"},
      {"edit cancelled",
       [&] {
         ds.Edit();
         ds.FieldByName("name")->SetAsString("dropped");
         ds.Cancel();
       },
       "posted"},
      {"insert cancelled",
       [&] {
         ds.Insert();
         ds.FieldByName("name")->SetAsString("new");
         ds.Cancel();
       },
       "posted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.act();
    settle();
    EXPECT_EQ(model.FetchedRows(), 600) << "the rows read stay";
    EXPECT_EQ(model.rowCount(), 600);
    EXPECT_EQ(view.verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(model.CurrentRow(), 550);
    EXPECT_EQ(model.data(model.index(550, 1)).toString(), QString::fromLatin1(c.row550));
  }
  // A delete changes the rows: they are read again as far as the record after the deleted one,
  // which the grid shows.
  ds.Delete();
  settle();
  EXPECT_EQ(model.CurrentRow(), 550);
  EXPECT_EQ(model.data(model.index(550, 1)).toString(), QStringLiteral("p552"));
  EXPECT_EQ(view.currentIndex().row(), 550);
  EXPECT_TRUE(shown(550));
}
