// The Data page against the local server: a tree click on a table opens it in the page's grid
// (rows read on demand), other clicks close it, and changes made in the grid and the record
// edit window reach the server, as a second connection reads them back.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QTest>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/u_Qorix_Message.h"
#include "app/RecordEdit.h"
#include "app/u_main.h"
#include "dataset/DataSet.h"
#include "dataset/DataSetModel.h"
#include "dataset/DataSetNavigatorWidget.h"
#include "dataset/Field.h"
#include "tests/app/app_support.h"

using apptest::SaLogin;
using apptest::Shot;

namespace {

// A connection of its own to the sample database, for set-up and for reading back.
std::unique_ptr<TQorixDatabase> Side() {
  apptest::Server();
  auto db = std::make_unique<TQorixDatabase>();
  db->SetName(QStringLiteral("side"));
  db->LoginPrompt = false;
  db->UserName = QStringLiteral("sa");
  db->ServerName = QStringLiteral("DSQUERY");
  db->ShowDbMessages = TShowDbMessages{};
  db->Connect();
  db->SetDbName(QStringLiteral("sample"));
  return db;
}

void Exec(TQorixDatabase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.SetShowDbMessages(TShowDbMessages{});
  q.SetSQL(sql);
  q.ExecSQL();
}

QStringList Rows(TQorixDatabase& db, const QString& sql) {
  TQorixEnhQuery q;
  q.SetDatabase(&db);
  q.TrimResults = true;
  q.SetSQL(sql);
  QStringList rows;
  q.Open();
  while (q.Next()) {
    QStringList cols;
    for (int c = 1; c <= q.ColumnCount(); ++c) cols << (q.FieldIsNull(c) ? QStringLiteral("<null>") : q.GetFieldValue(c));
    rows << cols.join(QLatin1Char('|'));
  }
  q.Cancel(CS_CANCEL_ALL);
  return rows;
}

// The model row whose first column holds Id (rows fetched so far), -1 when none.
int RowOfId(QAbstractItemModel& m, int id) {
  for (int r = 0; r < m.rowCount(); ++r)
    if (m.index(r, 0).data(Qt::EditRole).toInt() == id) return r;
  return -1;
}

// Lets the grid's view lay out and read its first rows itself (its layout and fetch run from
// zero-time timers).
void WaitForRows(QAbstractItemModel& m) {
  QDeadlineTimer until(5000);
  while (m.rowCount() == 0 && !until.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

TEST(DataPageTest, TableEditedOnTheDataPageIsReadBackThroughASecondConnection) {
  // 300 rows: more than one cursor round trip and more than one grid batch.
  auto side = Side();
  ASSERT_TRUE(side->Connected());
  Exec(*side, QStringLiteral("create table shelf_stock (id int not null, name varchar(30) null, qty int null, "
                             "constraint shelf_stock_pk primary key (id))"));
  QString fill;
  for (int i = 1; i <= 300; ++i)
    fill += QStringLiteral("insert into shelf_stock values (%1, 'item %1', %2)\n").arg(i).arg(i * 10);
  Exec(*side, fill);

  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.resize(1100, 700);
  w.show();
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  EXPECT_FALSE(w.Action("a_grid_edit")->isEnabled());

  // A table click with the Data page current opens the table in the grid.
  ASSERT_TRUE(w.ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.shelf_stock")}));
  ASSERT_TRUE(w.nb_sql_main()->isTabVisible(pgData));
  w.Model().Guarded([&] { w.Model().TabClick(pgData); });
  ASSERT_EQ(w.nb_sql_main()->currentIndex(), pgData);
  TDataSet* table = w.ds_sql_data().DataSet();
  ASSERT_TRUE(table && table->Active());
  EXPECT_TRUE(w.Action("a_grid_edit")->isEnabled());
  EXPECT_TRUE(w.Model().RightCaption.endsWith(QStringLiteral("shelf_stock")));
  QAbstractItemModel& grid = *w.dbg_data()->model();
  ASSERT_EQ(grid.columnCount(), 3);
  EXPECT_EQ(grid.headerData(1, Qt::Horizontal).toString(), QStringLiteral("name"));
  // Rows come on demand: not all at once, all after scrolling to the end.
  WaitForRows(grid);
  EXPECT_GT(grid.rowCount(), 0);
  EXPECT_LT(grid.rowCount(), 300);
  while (grid.canFetchMore(QModelIndex())) grid.fetchMore(QModelIndex());
  EXPECT_EQ(grid.rowCount(), 300);
  EXPECT_EQ(grid.index(RowOfId(grid, 299), 1).data().toString().trimmed(), QStringLiteral("item 299"));
  w.dbg_data()->scrollToTop();
  QCoreApplication::processEvents();
  Shot(w, "main-data-page");

  // A cell edited in the grid is posted when the grid leaves its row.
  const int r7 = RowOfId(grid, 7);
  ASSERT_GE(r7, 0);
  ASSERT_TRUE(grid.flags(grid.index(r7, 1)) & Qt::ItemIsEditable);
  EXPECT_TRUE(grid.setData(grid.index(r7, 1), QStringLiteral("edited in grid")));
  EXPECT_EQ(table->State(), TDataSetState::dsEdit);
  EXPECT_EQ(Rows(*side, QStringLiteral("select name from shelf_stock where id = 7")), QStringList{"item 7"});
  w.dbg_data()->setCurrentIndex(grid.index(r7 + 1, 1));
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Rows(*side, QStringLiteral("select name, qty from shelf_stock where id = 7")),
            QStringList{QStringLiteral("edited in grid|70")});

  // The navigator inserts and deletes on the page's table.
  TDBNavigatorWidget* nav = w.nav_main();
  ASSERT_TRUE(nav);
  table->Append();
  table->FieldByName(QStringLiteral("id"))->SetValue(301);
  table->FieldByName(QStringLiteral("name"))->SetAsString(QStringLiteral("new row"));
  nav->Button(TNavigateBtn::nbPost)->click();
  EXPECT_EQ(Rows(*side, QStringLiteral("select name, qty from shelf_stock where id = 301")),
            QStringList{QStringLiteral("new row|<null>")});
  ASSERT_TRUE(table->Locate(QStringLiteral("id"), 5, {}));
  table->Delete();
  EXPECT_TRUE(Rows(*side, QStringLiteral("select id from shelf_stock where id = 5")).isEmpty());

  // The record edit window edits the page's current record.
  ASSERT_TRUE(table->Locate(QStringLiteral("id"), 9, {}));
  {
    TRecordEditForm form(&w.ds_sql_data(), &w);
    form.show();
    TQorixEditScrollBox* box = form.esb_data();
    ASSERT_EQ(box->Pairs().size(), 3u);
    auto* name = qobject_cast<QLineEdit*>(box->Pairs()[1].Editor);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->text().trimmed(), QStringLiteral("item 9"));
    Shot(form, "dialog-record-edit-table");
    name->setText(QStringLiteral("edited in window"));
    emit name->textEdited(name->text());
    form.nav()->Button(TNavigateBtn::nbPost)->click();
    form.CloseClick();
  }
  EXPECT_EQ(Rows(*side, QStringLiteral("select name from shelf_stock where id = 9")),
            QStringList{QStringLiteral("edited in window")});
  EXPECT_EQ(Rows(*side, QStringLiteral("select count(*) from shelf_stock")), QStringList{QStringLiteral("300")});

  // The other pages read the catalogue on the same connection while the table stays open.
  w.Model().Guarded([&] { w.Model().TabClick(pgProperties); });
  EXPECT_TRUE(w.Model().RightCaption.endsWith(QStringLiteral("Properties of dbo.shelf_stock")));
  w.Model().Guarded([&] { w.Model().TabClick(pgDdl); });
  EXPECT_TRUE(w.Model().DdlText.contains(QStringLiteral("shelf_stock"))) << w.Model().DdlText.toStdString();
  w.Model().Guarded([&] { w.Model().TabClick(pgData); });
  ASSERT_TRUE(table->Active());
  WaitForRows(grid);
  EXPECT_EQ(grid.index(RowOfId(grid, 9), 1).data().toString().trimmed(), QStringLiteral("edited in window"));
  for (const auto& e : ui.Events(TRecordingUiServices::Event::kMessageBox)) ADD_FAILURE() << e.text.toStdString();
  for (const auto& e : ui.Events(TRecordingUiServices::Event::kQorixMessage)) ADD_FAILURE() << e.text.toStdString();

  // Another table reopens the page on it; a folder click closes it and hides the page.
  ASSERT_TRUE(w.ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.books")}));
  ASSERT_TRUE(table->Active());
  WaitForRows(grid);
  EXPECT_EQ(grid.headerData(0, Qt::Horizontal).toString(), QStringLiteral("book_id"));
  EXPECT_EQ(w.nb_sql_main()->currentIndex(), pgData);
  EXPECT_GT(grid.rowCount(), 0);
  EXPECT_EQ(grid.index(0, 0).data().toString().trimmed(), QStringLiteral("BK1001"));
  QCoreApplication::processEvents();
  Shot(w, "main-data-page-books");
  ASSERT_TRUE(w.ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables")}));
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(w.nb_sql_main()->isTabVisible(pgData));
  EXPECT_FALSE(w.Action("a_grid_edit")->isEnabled());
  EXPECT_EQ(grid.rowCount(), 0);

  // Disconnecting with the table open closes it before the connection.
  ASSERT_TRUE(w.ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.shelf_stock")}));
  w.Model().Guarded([&] { w.Model().TabClick(pgData); });
  ASSERT_TRUE(table->Active());
  w.Action("a_servers_disconnect")->trigger();
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(w.Model().db().Connected());
  Exec(*side, QStringLiteral("drop table shelf_stock"));
}

// The grid's columns fit what each field shows, not only the first rows read: an id that grows
// to four digits and a name that is longer further down are not cut.
TEST(DataPageTest, ColumnsFitTheirFieldsNotOnlyTheFirstRows) {
  auto side = Side();
  ASSERT_TRUE(side->Connected());
  Exec(*side, QStringLiteral("create table width_probe (id int not null, name varchar(24) null)"));
  std::shared_ptr<void> drop(nullptr, [&](void*) { Exec(*side, QStringLiteral("drop table width_probe")); });
  Exec(*side, QStringLiteral(
                  "declare @i int select @i = 1 while @i <= 300 begin insert width_probe values (@i, 'a') "
                  "select @i = @i + 1 end insert width_probe values (123456, '888888888888888888888888')"));
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.resize(1100, 700);
  w.show();
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.ClickPath(
      {QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.width_probe")}));
  w.Model().Guarded([&] { w.Model().TabClick(pgData); });
  QTableView* view = w.dbg_data();
  WaitForRows(*view->model());
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  ASSERT_EQ(RowOfId(*view->model(), 123456), -1) << "the long row is not read yet";
  const QFontMetrics fm(view->font());
  EXPECT_GE(view->columnWidth(0), fm.horizontalAdvance(QStringLiteral("-2147483648")));
  EXPECT_GE(view->columnWidth(1), fm.horizontalAdvance(QString(24, QLatin1Char('8'))));
  EXPECT_LE(view->columnWidth(1), 300);
  w.Action("a_servers_disconnect")->trigger();
}

// A refused post leaves the record in edit: a move off it by the arrow key or by a click posts
// again, is refused again, and the grid stays on that row with the refusal shown, never ending
// the program. An edit typed into the grid's own cell editor closes that editor cleanly.
TEST(DataPageTest, RefusedEditKeepsTheGridOnItsRow) {
  auto side = Side();
  ASSERT_TRUE(side->Connected());
  Exec(*side, QStringLiteral("create table refusal_probe (id int not null, name varchar(20) null, "
                             "constraint refusal_probe_pk primary key (id))"));
  Exec(*side, QStringLiteral("insert into refusal_probe values (1, 'one')\ninsert into refusal_probe values (2, 'two')\n"
                             "insert into refusal_probe values (3, 'three')\ninsert into refusal_probe values (4, 'four')"));
  std::shared_ptr<void> drop(nullptr, [&](void*) { Exec(*side, QStringLiteral("drop table refusal_probe")); });

  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.resize(1100, 700);
  w.show();
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  ASSERT_TRUE(w.ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.refusal_probe")}));
  w.Model().Guarded([&] { w.Model().TabClick(pgData); });
  TDataSet* table = w.ds_sql_data().DataSet();
  ASSERT_TRUE(table && table->Active());
  QTableView* view = w.dbg_data();
  QAbstractItemModel& grid = *view->model();
  WaitForRows(grid);
  ASSERT_EQ(grid.rowCount(), 4);

  // Qt's warnings while the grid edits (the cell editor closed after a reset of the model).
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
    warnings << m;
  });
  std::shared_ptr<void> restoreHandler(nullptr, [previous](void*) { qInstallMessageHandler(previous); });

  // A name typed into the cell editor and ended with Enter is posted when the grid leaves
  // the row (the Down key).
  const int r3 = RowOfId(grid, 3);
  ASSERT_GE(r3, 0);
  view->setCurrentIndex(grid.index(r3, 1));
  view->edit(grid.index(r3, 1));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->setText(QStringLiteral("typed"));
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(view->currentIndex().row(), RowOfId(grid, 3));
  EXPECT_EQ(table->State(), TDataSetState::dsEdit);
  QTest::keyClick(view, Qt::Key_Down);
  QCoreApplication::processEvents();
  EXPECT_EQ(Rows(*side, QStringLiteral("select name from refusal_probe where id = 3")), QStringList{"typed"});
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(view->currentIndex().row(), RowOfId(grid, 3) + 1);
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();

  struct Move {
    const char* name;
    std::function<void(int refused)> run;
  };
  const Move moves[] = {
      {"Down key", [&](int) { QTest::keyClick(view, Qt::Key_Down); }},
      {"click on another row",
       [&](int refused) {
         const int other = refused == 0 ? 1 : 0;
         QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(grid.index(other, 1)).center());
       }},
  };
  for (const Move& move : moves) {
    SCOPED_TRACE(move.name);
    ui.Clear();
    // Row 2 takes the key of row 1: the server refuses the duplicate.
    const int r2 = RowOfId(grid, 2);
    ASSERT_GE(r2, 0);
    view->setCurrentIndex(grid.index(r2, 0));
    EXPECT_TRUE(grid.setData(grid.index(r2, 0), 1));
    ASSERT_EQ(table->State(), TDataSetState::dsEdit);
    const size_t refusals = ui.Events(TRecordingUiServices::Event::kMessageBox).size();
    EXPECT_EQ(refusals, 0u) << "nothing is posted while the row is being typed";
    move.run(r2);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    // Still editing the refused row, which the grid still shows as current, the refusal shown again.
    EXPECT_EQ(table->State(), TDataSetState::dsEdit);
    EXPECT_EQ(view->currentIndex().row(), r2);
    EXPECT_GT(ui.Events(TRecordingUiServices::Event::kMessageBox).size(), refusals);
    table->Cancel();
    WaitForRows(grid);
    EXPECT_EQ(table->FieldByName(QStringLiteral("id"))->AsInteger(), 2);
  }
  // After the cancel the grid moves as usual.
  WaitForRows(grid);
  view->setCurrentIndex(grid.index(0, 0));
  QTest::keyClick(view, Qt::Key_Down);
  QCoreApplication::processEvents();
  EXPECT_EQ(view->currentIndex().row(), 1);
  EXPECT_EQ(Rows(*side, QStringLiteral("select id, name from refusal_probe order by id")),
            (QStringList{"1|one", "2|two", "3|typed", "4|four"}));
  w.Action("a_servers_disconnect")->trigger();
}

namespace {

// A table with a column of every kind a DBA edits, its extremes, blanks and NULLs.
const char* kEveryKind =
    "create table every_kind (id int identity, m money null, sm smallmoney null, n numeric(38,10) null, "
    "d decimal(5,2) null, f float null, r real null, dt datetime null, sdt smalldatetime null, b bit not null, "
    "ti tinyint null, i int null, c char(10) null, cf char(10) not null, vc varchar(255) null, t text null, "
    "im image null, bi binary(4) null, vb varbinary(16) null, constraint every_kind_pk primary key (id))";
const char* kEveryKindRows =
    "insert every_kind (m, sm, n, d, f, r, dt, sdt, b, ti, i, c, cf, vc, t, im, bi, vb) values "
    "(922337203685477.5807, 214748.3647, 1234567890123456789012345678.0123456789, 999.99, 0.123456789, 1.25, "
    "'2024-02-29 23:59:59.997', '2024-02-29 23:59', 1, 255, 2147483647, 'ab', 'cd  ', "
    "'it''s \"quoted\" Größe ✓', 'long text é', 0xFF0102, 0xDEADBEEF, 0x00FF)\n"
    "insert every_kind (m, sm, n, d, f, r, dt, sdt, b, ti, i, c, cf, vc, t, im, bi, vb) values "
    "(-922337203685477.5808, -214748.3648, -0.0000000001, -999.99, -1e308, 1.0000001e-30, '1753-01-01 00:00:00.003', "
    "'1900-01-01', 0, 0, -2147483648, '', '', '', '', 0x00, 0x00000000, 0x)\n"
    "insert every_kind (m, sm, n, d, f, r, dt, sdt, b, ti, i, c, cf, vc, t, im, bi, vb) values "
    "(null, null, null, null, null, null, null, null, 0, null, null, null, 'x', null, null, null, null, null)";
// Every column of every_kind as the server holds it, to the last digit, blank and byte.
const char* kEveryKindSnapshot =
    "select id, convert(varchar(60), m), convert(varchar(60), sm), convert(varchar(60), n), convert(varchar(60), d), "
    "f, r, convert(varchar(40), dt, 109), convert(varchar(40), sdt, 109), b, ti, i, '[' + c + ']', datalength(c), "
    "'[' + cf + ']', datalength(cf), '[' + vc + ']', datalength(vc), convert(varchar(100), t), datalength(t), im, "
    "datalength(im), bi, vb from every_kind order by id";

struct EveryKindPage {
  std::unique_ptr<TQorixDatabase> side = Side();
  std::shared_ptr<void> drop;
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  std::unique_ptr<Tf_main> w;
  QTableView* view = nullptr;
  TDataSet* table = nullptr;

  EveryKindPage() {
    Exec(*side, QString::fromUtf8(kEveryKind));
    drop.reset(static_cast<void*>(nullptr), [db = side.get()](void*) { Exec(*db, QStringLiteral("drop table every_kind")); });
    Exec(*side, QString::fromUtf8(kEveryKindRows));
    w = std::make_unique<Tf_main>(dir.filePath("Tabulon.ini"));
    w->resize(1400, 500);
    w->show();
    w->Action("a_servers_connect")->trigger();
    EXPECT_TRUE(w->ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.every_kind")}));
    w->Model().Guarded([&] { w->Model().TabClick(pgData); });
    view = w->dbg_data();
    table = w->ds_sql_data().DataSet();
    WaitForRows(*view->model());
  }
  ~EveryKindPage() {
    if (w) w->Action("a_servers_disconnect")->trigger();
  }
  int Column(const QString& name) const {
    for (int c = 0; c < view->model()->columnCount(); ++c)
      if (view->model()->headerData(c, Qt::Horizontal).toString() == name) return c;
    return -1;
  }
  // Opens the grid's own cell editor on (Row, Column) as F2 does; the editor, or null.
  QLineEdit* OpenEditor(int row, int column) {
    const QModelIndex ix = view->model()->index(row, column);
    view->setCurrentIndex(ix);
    view->edit(ix);
    return qobject_cast<QLineEdit*>(QApplication::focusWidget());
  }
  void Enter(QWidget* editor) {
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
  }
  // The navigator's Post: the row typed goes to the server.
  void Post() {
    w->nav_main()->Button(TNavigateBtn::nbPost)->click();
    QCoreApplication::processEvents();
  }
  QStringList Messages() const {
    QStringList out;
    for (const auto& e : ui.Events(TRecordingUiServices::Event::kMessageBox)) out << e.text;
    return out;
  }
};

}  // namespace

// A cell opened in the grid and closed with Enter, nothing typed, leaves the row as the server
// holds it: no digit of a float lost to a spin box, no byte turned into text, no NULL turned
// into an empty string, no refusal of an empty number.
TEST(DataPageTest, CellOpenedAndClosedWithoutTypingChangesNothing) {
  EveryKindPage p;
  ASSERT_TRUE(p.table && p.table->Active());
  QAbstractItemModel& grid = *p.view->model();
  ASSERT_EQ(grid.rowCount(), 3);
  const QStringList held = Rows(*p.side, QString::fromUtf8(kEveryKindSnapshot));
  // Bytes show as hex, an image's as a binary's.
  EXPECT_EQ(grid.index(0, p.Column(QStringLiteral("im"))).data().toString(), QStringLiteral("ff0102"));
  EXPECT_EQ(grid.index(0, p.Column(QStringLiteral("bi"))).data().toString(), QStringLiteral("deadbeef"));
  for (int r = 0; r < grid.rowCount(); ++r)
    for (int c = 1; c < grid.columnCount(); ++c) {
      SCOPED_TRACE(QStringLiteral("row %1, column %2").arg(r).arg(grid.headerData(c, Qt::Horizontal).toString()).toStdString());
      p.ui.Clear();
      QLineEdit* editor = p.OpenEditor(r, c);
      ASSERT_NE(editor, nullptr);
      p.Enter(editor);
      EXPECT_EQ(p.table->State(), TDataSetState::dsBrowse);
      EXPECT_EQ(p.Messages(), QStringList());
      if (p.table->State() != TDataSetState::dsBrowse) p.table->Cancel();
      ASSERT_EQ(Rows(*p.side, QString::fromUtf8(kEveryKindSnapshot)), held);
    }
  QCoreApplication::processEvents();
  Shot(*p.w, "main-data-page-every-kind");
}

// A value typed into a cell reaches the server as typed (a second connection reads it back);
// an empty cell is NULL for every kind but the strings; a value the column cannot hold is
// refused with the reason and the server keeps the old one.
TEST(DataPageTest, ValueTypedIntoACellReachesTheServerExactly) {
  EveryKindPage p;
  ASSERT_TRUE(p.table && p.table->Active());
  struct Case {
    const char* column;
    const char* typed;
    const char* readBack;  // the server's value, as the second connection's select shows it; null: refused
    const char* check;     // the select list reading the column back
  };
  const Case cases[] = {
      {"m", "19.99", "19.9900", "convert(numeric(19,4), m)"},
      {"m", "-922337203685477.5808", "-922337203685477.5808", "convert(numeric(19,4), m)"},
      {"n", "123456789012345.6789", "123456789012345.6789000000", "convert(varchar(60), n)"},
      {"d", "", "<null>", "convert(varchar(60), d)"},
      {"f", "0.1000000000000001", "0.1000000000000001", "convert(varchar(30), f)"},
      {"f", "1e-05", "1.0000000000000001e-05", "f"},
      {"f", "", "<null>", "f"},
      {"dt", "2001-02-03 04:05:06.997", "Feb  3 2001  4:05:06:997AM", "convert(varchar(40), dt, 109)"},
      {"dt", "2001-02-03 04:05", "Feb  3 2001  4:05:00:000AM", "convert(varchar(40), dt, 109)"},
      {"dt", "", "<null>", "dt"},
      {"dt", "yesterday", nullptr, "dt"},
      {"sdt", "2030-12-31 23:58", "Dec 31 2030 11:58:00:000PM", "convert(varchar(40), sdt, 109)"},
      {"b", "False", "0", "b"},
      {"ti", "7", "7", "ti"},
      {"i", "", "<null>", "i"},
      {"i", "99999999999", nullptr, "i"},
      {"i", "-2147483648", "-2147483648", "i"},
      {"c", "", "[ ]", "'[' + c + ']'"},
      {"cf", "x", "[x         ]", "'[' + cf + ']'"},
      {"vc", "O'Brien \"Größe\" ✓", "O'Brien \"Größe\" ✓", "vc"},
      {"t", "new text ü", "new text ü", "convert(varchar(100), t)"},
      {"bi", "cafebabe", "cafebabe", "bi"},
      {"bi", "0x0102", "0102", "bi"},
      {"bi", "xyz", nullptr, "bi"},
      {"vb", "00ff10", "00ff10", "vb"},
      {"vb", "", "<null>", "vb"},
      {"im", "89504e470d0a1a0a", "89504e470d0a1a0a", "im"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.column) + " <- " + k.typed);
    p.ui.Clear();
    const int c = p.Column(QString::fromLatin1(k.column));
    ASSERT_GE(c, 0);
    const QString select = QStringLiteral("select %1 from every_kind where id = 1").arg(QString::fromUtf8(k.check));
    const QStringList before = Rows(*p.side, select);
    QLineEdit* editor = p.OpenEditor(0, c);
    ASSERT_NE(editor, nullptr);
    editor->setText(QString::fromUtf8(k.typed));
    p.Enter(editor);
    p.Post();
    if (k.readBack) {
      EXPECT_EQ(p.Messages(), QStringList());
      EXPECT_EQ(Rows(*p.side, select), QStringList{QString::fromUtf8(k.readBack)});
    } else {
      EXPECT_EQ(p.Messages().size(), 1u) << p.Messages().join('\n').toStdString();
      EXPECT_EQ(Rows(*p.side, select), before);
    }
    if (p.table->State() != TDataSetState::dsBrowse) p.table->Cancel();
    EXPECT_EQ(p.table->State(), TDataSetState::dsBrowse);
  }
}

// The record edit window shows and takes each value whole, as the grid does: bytes typed as
// hex reach the server as those bytes, a date-time shows its milliseconds so that a corrected
// day keeps them, a picture in an image column shows.
TEST(DataPageTest, RecordWindowWritesBytesAndDateTimesAsShown) {
  EveryKindPage p;
  ASSERT_TRUE(p.table && p.table->Active());
  ASSERT_TRUE(p.table->Locate(QStringLiteral("id"), 1, {}));
  struct Case {
    const char* column;
    const char* shown;  // the editor's text before the change
    std::function<QString(const QString&)> type;
    const char* readBack;
    const char* check;
  };
  const Case cases[] = {
      {"bi", "deadbeef", [](const QString&) { return QStringLiteral("cafebabe"); }, "cafebabe", "bi"},
      {"vb", "00ff", [](const QString&) { return QStringLiteral("0x0a0b0c"); }, "0a0b0c", "vb"},
      {"dt", "2024-02-29 23:59:59.997",
       [](const QString& shown) { return QString(shown).replace(QStringLiteral("-29 "), QStringLiteral("-28 ")); },
       "Feb 28 2024 11:59:59:997PM", "convert(varchar(40), dt, 109)"},
      {"f", "0.123456789", [](const QString&) { return QStringLiteral("2.5e-7"); }, "2.4999999999999999e-07", "f"},
  };
  // A picture stored in the image column shows as a picture.
  {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(&buffer, "PNG"));
    p.table->Edit();
    static_cast<TBlobField*>(p.table->FieldByName(QStringLiteral("im")))->SetAsBytes(png);
    p.table->Post();
    TRecordEditForm form(&p.w->ds_sql_data(), p.w.get());
    form.show();
    QLabel* image = nullptr;
    for (const auto& pair : form.esb_data()->Pairs())
      if (auto* label = qobject_cast<QLabel*>(pair.Label); label && label->text() == QStringLiteral("Im"))
        image = qobject_cast<QLabel*>(pair.Editor);
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->pixmap().isNull());
    form.CloseClick();
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.column);
    p.ui.Clear();
    TRecordEditForm form(&p.w->ds_sql_data(), p.w.get());
    form.show();
    QLineEdit* editor = nullptr;
    for (const auto& pair : form.esb_data()->Pairs())
      if (auto* label = qobject_cast<QLabel*>(pair.Label); label && label->text().compare(QString::fromLatin1(k.column), Qt::CaseInsensitive) == 0)
        editor = qobject_cast<QLineEdit*>(pair.Editor);
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->text().startsWith(QString::fromLatin1(k.shown))) << editor->text().toStdString();
    editor->setText(k.type(editor->text()));
    emit editor->textEdited(editor->text());
    form.nav()->Button(TNavigateBtn::nbPost)->click();
    form.CloseClick();
    EXPECT_EQ(p.Messages(), QStringList());
    EXPECT_EQ(Rows(*p.side, QStringLiteral("select %1 from every_kind where id = 1").arg(QString::fromLatin1(k.check))),
              QStringList{QString::fromLatin1(k.readBack)});
  }
}

namespace {

// The Data page on a table whose new rows need several values the server refuses NULL for,
// with an identity id: a row is typed cell by cell into the grid, as the user types it.
struct NewRowPage {
  std::unique_ptr<TQorixDatabase> side = Side();
  std::shared_ptr<void> drop;
  QTemporaryDir dir;
  TRecordingUiServices ui;
  SaLogin login;
  std::unique_ptr<Tf_main> w;
  QTableView* view = nullptr;
  TDataSet* table = nullptr;

  NewRowPage() {
    Exec(*side, QStringLiteral("create table new_row_probe (id int identity, name varchar(20) not null, qty int not null, "
                               "price money not null, constraint new_row_probe_pk primary key (id))"));
    drop.reset(static_cast<void*>(nullptr),
               [db = side.get()](void*) { Exec(*db, QStringLiteral("drop table new_row_probe")); });
    Exec(*side, QStringLiteral("insert new_row_probe (name, qty, price) values ('old', 1, 1.50)"));
    w = std::make_unique<Tf_main>(dir.filePath("Tabulon.ini"));
    w->resize(1100, 600);
    w->show();
    w->Action("a_servers_connect")->trigger();
    Open();
  }
  ~NewRowPage() {
    if (w && w->Model().db().Connected()) {
      if (table && table->Active() && table->State() != TDataSetState::dsBrowse) table->Cancel();
      w->Action("a_servers_disconnect")->trigger();
    }
  }
  void Open() {
    EXPECT_TRUE(w->ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.new_row_probe")}));
    w->Model().Guarded([&] { w->Model().TabClick(pgData); });
    view = w->dbg_data();
    table = w->ds_sql_data().DataSet();
    WaitForRows(*view->model());
  }
  QAbstractItemModel& Grid() const { return *view->model(); }
  int Column(const QString& name) const {
    for (int c = 0; c < Grid().columnCount(); ++c)
      if (Grid().headerData(c, Qt::Horizontal).toString() == name) return c;
    return -1;
  }
  // Types Text into the cell (Row, Column) through the grid's own cell editor, ended by Enter.
  void Type(int row, const QString& column, const QString& text) {
    const QModelIndex ix = Grid().index(row, Column(column));
    view->setCurrentIndex(ix);
    view->edit(ix);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
  }
  // The navigator's Insert, then the values typed cell by cell (an empty text is not typed).
  // Returns the new row's grid row.
  int TypeNewRow(const QString& name, const QString& qty, const QString& price) {
    w->nav_main()->Button(TNavigateBtn::nbInsert)->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(table->State(), TDataSetState::dsInsert);
    const int row = view->currentIndex().row();
    for (const auto& [column, text] : {std::pair{"name", name}, std::pair{"qty", qty}, std::pair{"price", price}}) {
      if (text.isEmpty()) continue;
      Type(row, QString::fromLatin1(column), text);
      // Each cell stays in the row being inserted: nothing is sent, nothing refused yet.
      EXPECT_EQ(table->State(), TDataSetState::dsInsert) << column;
    }
    EXPECT_EQ(Shown(), QStringList()) << "no refusal while the row is typed";
    return row;
  }
  // Leaves the current row for another (a click on the first row, or the second from the first).
  void LeaveRow() {
    const int other = view->currentIndex().row() == 0 ? 1 : 0;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(Grid().index(other, Column("name"))).center());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
  }
  // Every message the user was shown.
  QStringList Shown() const {
    QStringList out;
    for (const auto& e : ui.Events(TRecordingUiServices::Event::kMessageBox)) out << e.text;
    for (const auto& e : ui.Events(TRecordingUiServices::Event::kQorixMessage)) out << e.text;
    return out;
  }
  QStringList Held() const { return Rows(*side, QStringLiteral("select name, qty, convert(varchar(20), price) from new_row_probe order by id")); }
  // The values the row being inserted holds.
  QString Pending() const {
    QStringList out;
    for (const char* f : {"name", "qty", "price"})
      out << (table->FieldByName(QString::fromLatin1(f))->IsNull() ? QStringLiteral("<null>")
                                                                   : table->FieldByName(QString::fromLatin1(f))->AsString());
    return out.join(QLatin1Char('|'));
  }
};

}  // namespace

// A new row typed cell by cell into a table with several NOT NULL columns goes to the server
// once, whole, when the grid leaves it; it learns its identity, so it is edited and deleted at
// once. A row the server refuses stays in the grid with every typed value and the server's
// reason shown, until it is corrected.
TEST(DataPageTest, NewRowIsPostedWholeWhenTheGridLeavesIt) {
  NewRowPage p;
  ASSERT_TRUE(p.table && p.table->Active());
  ASSERT_EQ(p.Grid().rowCount(), 1);

  // Refused: the price is missing. The row, its values and the grid's place stay.
  const int row = p.TypeNewRow(QStringLiteral("pen"), QStringLiteral("3"), QString());
  p.LeaveRow();
  const QStringList refusal = p.Shown();
  ASSERT_EQ(refusal.size(), 1) << refusal.join('\n').toStdString();
  EXPECT_TRUE(refusal[0].contains(QStringLiteral("price"), Qt::CaseInsensitive)) << refusal[0].toStdString();
  EXPECT_EQ(p.table->State(), TDataSetState::dsInsert);
  EXPECT_EQ(p.Pending(), QStringLiteral("pen|3|<null>"));
  EXPECT_EQ(p.view->currentIndex().row(), row);
  EXPECT_EQ(p.Grid().index(row, p.Column("name")).data().toString().trimmed(), QStringLiteral("pen"));
  EXPECT_EQ(p.Held(), QStringList{"old|1|1.50"});
  QCoreApplication::processEvents();
  Shot(*p.w, "main-data-page-refused-new-row");
  {
    // The page with the refusal as the user sees it: the window the recorder stood in for,
    // with the recorded caption and text, over the page.
    const auto events = p.ui.Events();
    ASSERT_FALSE(events.empty());
    const auto& shown = events.back();
    QPixmap picture = p.w->grab();
    if (shown.kind == TRecordingUiServices::Event::kQorixMessage) {
      Tf_qorix_message box(p.w.get());
      box.setWindowTitle(shown.caption);
      box.SetText(shown.text);
      box.SetPanelColor(shown.color);
      box.resize(520, 260);
      QPainter paint(&picture);
      paint.drawPixmap((picture.width() - box.width()) / 2, (picture.height() - box.height()) / 2, box.grab());
    } else {
      QMessageBox box(QMessageBox::Critical, shown.caption, shown.text, QMessageBox::Ok, p.w.get());
      box.adjustSize();
      QPainter paint(&picture);
      paint.drawPixmap((picture.width() - box.width()) / 2, (picture.height() - box.height()) / 2, box.grab());
    }
    EXPECT_TRUE(picture.save(QDir(QStringLiteral(TABULON_SHOT_DIR)).filePath("main-data-page-refused-new-row-message.png")));
  }

  // Corrected and left: one insert with every value; the grid shows the server's id.
  p.ui.Clear();
  p.Type(row, QStringLiteral("price"), QStringLiteral("2.25"));
  EXPECT_EQ(p.table->State(), TDataSetState::dsInsert);
  p.LeaveRow();
  EXPECT_EQ(p.Shown(), QStringList());
  EXPECT_EQ(p.table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(p.Held(), (QStringList{"old|1|1.50", "pen|3|2.25"}));
  const QStringList id = Rows(*p.side, QStringLiteral("select id from new_row_probe where name = 'pen'"));
  ASSERT_EQ(id.size(), 1);
  WaitForRows(p.Grid());
  const int fresh = RowOfId(p.Grid(), id[0].toInt());
  ASSERT_GE(fresh, 0) << "the grid shows the new row under its id";

  // The fresh row edited in the grid (its WHERE names its id) and then deleted, no refresh.
  p.Type(fresh, QStringLiteral("qty"), QStringLiteral("4"));
  p.LeaveRow();
  EXPECT_EQ(p.Shown(), QStringList());
  EXPECT_EQ(p.Held(), (QStringList{"old|1|1.50", "pen|4|2.25"}));
  p.view->setCurrentIndex(p.Grid().index(RowOfId(p.Grid(), id[0].toInt()), 0));
  // (The navigator's Delete without its confirmation question.)
  p.w->Model().Guarded([&] { p.table->Delete(); });
  EXPECT_EQ(p.Shown(), QStringList());
  EXPECT_EQ(p.Held(), QStringList{"old|1|1.50"});
}

// Every way off the page with a row being typed posts it first; a refused row stops the way
// (the page, the table, the row and its values stay, the reason shown) until it is corrected.
TEST(DataPageTest, EveryWayOffThePagePostsTheTypedRowFirst) {
  NewRowPage p;
  ASSERT_TRUE(p.table && p.table->Active());
  struct Way {
    const char* name;
    std::function<void()> go;
    // The way went on (after the post): what shows it.
    std::function<bool()> wentOn;
  };
  Tf_main& w = *p.w;
  const Way ways[] = {
      {"the SQL page's tab", [&] { w.Model().Guarded([&] { w.Model().TabClick(pgSql); }); },
       [&] { return w.Model().CurrentPage == pgSql; }},
      {"the Data page's tab again (the table reopened)", [&] { w.Model().Guarded([&] { w.Model().TabClick(pgData); }); },
       [&] { return p.table->Active() && p.table->State() == TDataSetState::dsBrowse; }},
      {"another table in the tree",
       [&] { w.ClickPath({QStringLiteral("sample"), QStringLiteral("User Tables"), QStringLiteral("dbo.books")}); },
       [&] { return w.Model().DataTable()->TableName() == QStringLiteral("dbo.books"); }},
      {"a script run", [&] { w.Model().Guarded([&] { w.Model().Run(QStringLiteral("select 1")); }); },
       [&] {
         QDeadlineTimer until(10000);
         while (w.Model().Grid()->Active() && !until.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
         return !w.Model().Grid()->Active();
       }},
      {"a transaction started", [&] { w.Action("btn_start_tran")->trigger(); },
       [&] {
         w.Action("btn_commit_tran")->trigger();
         return p.Shown().isEmpty();
       }},
      {"disconnecting", [&] { w.Action("a_servers_disconnect")->trigger(); },
       [&] { return !w.Model().db().Connected(); }},
      {"closing the window", [&] { w.close(); }, [&] { return !w.isVisible(); }},
  };
  int n = 0;
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    if (!w.Model().db().Connected()) {
      w.show();
      w.Action("a_servers_connect")->trigger();
    }
    if (!p.table->Active() || w.Model().CurrentPage != pgData ||
        w.Model().DataTable()->TableName() != QStringLiteral("dbo.new_row_probe"))
      p.Open();
    ASSERT_TRUE(p.table->Active());
    const QStringList before = p.Held();
    // Refused (no price): the way stops, everything stays.
    p.ui.Clear();
    p.TypeNewRow(QStringLiteral("way %1").arg(n), QStringLiteral("7"), QString());
    way.go();
    EXPECT_EQ(p.Shown().size(), 1) << p.Shown().join('\n').toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.Model().db().Connected());
    EXPECT_EQ(w.Model().CurrentPage, pgData);
    ASSERT_TRUE(p.table->Active());
    EXPECT_EQ(p.table->State(), TDataSetState::dsInsert);
    EXPECT_EQ(p.Pending(), QStringLiteral("way %1|7|<null>").arg(n));
    EXPECT_EQ(p.Held(), before);
    // Corrected: the same way posts the row and goes on.
    p.ui.Clear();
    p.Type(p.view->currentIndex().row(), QStringLiteral("price"), QStringLiteral("0.5"));
    way.go();
    EXPECT_EQ(p.Shown(), QStringList());
    EXPECT_TRUE(way.wentOn());
    EXPECT_EQ(p.Held(), QStringList(before) << QStringLiteral("way %1|7|0.50").arg(n));
    ++n;
  }
}
