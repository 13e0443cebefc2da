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
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
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

  // A cell edited in the grid is posted at once.
  const int r7 = RowOfId(grid, 7);
  ASSERT_GE(r7, 0);
  ASSERT_TRUE(grid.flags(grid.index(r7, 1)) & Qt::ItemIsEditable);
  EXPECT_TRUE(grid.setData(grid.index(r7, 1), QStringLiteral("edited in grid")));
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

  // A name typed into the cell editor and ended with Enter is posted.
  const int r3 = RowOfId(grid, 3);
  ASSERT_GE(r3, 0);
  view->setCurrentIndex(grid.index(r3, 1));
  view->edit(grid.index(r3, 1));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->setText(QStringLiteral("typed"));
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(Rows(*side, QStringLiteral("select name from refusal_probe where id = 3")), QStringList{"typed"});
  EXPECT_EQ(view->currentIndex().row(), RowOfId(grid, 3));
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
    EXPECT_FALSE(grid.setData(grid.index(r2, 0), 1));
    ASSERT_EQ(table->State(), TDataSetState::dsEdit);
    const size_t refusals = ui.Events(TRecordingUiServices::Event::kMessageBox).size();
    EXPECT_GE(refusals, 1u);
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
