// The main window over the real explorer and catalogue service: a tree click per object kind
// and the pages it leaves, the DDL page's text per kind keyed on database, name and kind; the
// server configuration and processes windows against the local server, their refusal on the
// other family; the record edit window's layout rules and editing a memory dataset through it.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTreeWidget>

#include "access/QorixDatabase.h"
#include "app/EditScrollLayout.h"
#include "app/RecordEdit.h"
#include "app/ServerComponents.h"
#include "app/ServerDialogs.h"
#include "app/u_main.h"
#include "catalog/grid/QorixGrid.h"
#include "catalog/views/QorixProcessView.h"
#include "catalog/views/QxListPageView.h"
#include "catalog/views/QxListWidget.h"
#include "catalog/views/QxPgProperties.h"
#include "catalog/views/QxPgSummary.h"
#include "catalog/views/QxSvrExploreView.h"
#include "dataset/DataSource.h"
#include "dataset/Field.h"
#include "dataset/QxMemDataSet.h"
#include "tests/app/app_support.h"

using apptest::SaLogin;
using apptest::Shot;

namespace {

class ConnectedWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    w_ = std::make_unique<Tf_main>(dir_.filePath(QStringLiteral("Tabulon.ini")));
    w_->show();
    w_->Action("a_servers_connect")->trigger();
    ASSERT_TRUE(w_->Model().db().Connected());
  }
  void TearDown() override { w_.reset(); }
  TMainModel& m() { return w_->Model(); }
  // Clicks the node at Path and then the tab of Page.
  void Show(const QStringList& path, int page) {
    ASSERT_TRUE(w_->ClickPath(path)) << path.join('/').toStdString();
    m().TabClick(page);
  }

  QTemporaryDir dir_;
  TRecordingUiServices ui_;
  SaLogin login_;
  std::unique_ptr<Tf_main> w_;
};

}  // namespace

TEST_F(ConnectedWindow, TreeClickPerKindShowsItsPagesAndDefinition) {
  struct Case {
    QStringList path;
    bool data, ddl;
    const char* ddlPart;  // a text the definition holds (empty: no definition page)
  };
  const Case cases[] = {
      {{"sample", "User Tables", "dbo.books"}, true, true, "books"},
      {{"sample", "System Tables", "dbo.sysobjects"}, true, true, "sysobjects"},
      {{"sample", "Views", "dbo.priced_books"}, false, true, "priced_books"},
      {{"sample", "Indexes", "books.books_pk"}, false, true, "books_pk"},
      {{"sample", "Triggers", "dbo.orders_ins"}, false, true, "orders_ins"},
      {{"sample", "Procedures", "dbo.books_by_genre"}, false, true, "books_by_genre"},
      {{"sample", "Rules", "dbo.qty_rule"}, false, true, "qty_rule"},
      {{"sample", "User Datatypes", "phone_t"}, false, true, "phone_t"},
      {{"sample", "Users", "clerk"}, false, true, "clerk"},
      {{"sample", "Groups", "editors"}, false, true, "EXECUTE sp_addgroup editors"},
      {{"sample", "System Datatypes", "int"}, false, false, ""},
      {{"sample", "Segments", "system"}, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.join('/').toStdString());
    ASSERT_TRUE(w_->ClickPath(c.path));
    EXPECT_EQ(m().db().DbName(), QStringLiteral("sample"));
    EXPECT_TRUE(m().PageVisible[pgProperties]);
    EXPECT_FALSE(m().PageVisible[pgSummary]);
    EXPECT_EQ(m().PageVisible[pgData], c.data);
    EXPECT_EQ(m().PageVisible[pgDdl], c.ddl);
    // The property page holds the object's rows (the page has no rows for system datatypes
    // and segments).
    m().TabClick(pgProperties);
    if (c.ddl) {
      EXPECT_GT(w_->Pages().Properties().Contents().ItemCount(), 0);
    }
    EXPECT_EQ(w_->qx_properties()->topLevelItemCount(), w_->Pages().Properties().Contents().ItemCount());
    EXPECT_EQ(m().RightCaption, QStringLiteral("   Properties of ") + c.path.last());
    if (!c.ddl) continue;
    m().TabClick(pgDdl);
    EXPECT_EQ(m().CurrentPage, pgDdl);
    EXPECT_TRUE(m().DdlText.contains(QString::fromLatin1(c.ddlPart), Qt::CaseInsensitive)) << m().DdlText.toStdString();
    EXPECT_EQ(w_->findChild<QTabWidget*>()->currentIndex(), pgDdl);
    EXPECT_EQ(m().RightCaption, QStringLiteral("   DDL of ") + c.path.last());
    // Back to the SQL page so the next click starts from there.
    m().TabClick(pgSql);
  }
  // A category folder hides the object pages and shows the summary.
  ASSERT_TRUE(w_->ClickPath({"sample", "User Tables", "dbo.books"}));
  m().TabClick(pgDdl);
  EXPECT_TRUE(m().DdlText.contains(QStringLiteral("CREATE TABLE"), Qt::CaseInsensitive));
  Shot(*w_, "main-ddl-page");
  ASSERT_TRUE(w_->ClickPath({"sample", "User Tables"}));
  EXPECT_TRUE(m().PageVisible[pgSummary]);
  EXPECT_FALSE(m().PageVisible[pgDdl]);
  EXPECT_FALSE(m().PageVisible[pgData]);
  EXPECT_EQ(m().CurrentPage, pgSql);
  // The summary lists the folder; a double click on a row shows its properties.
  m().TabClick(pgSummary);
  const TQxListContents& rows = w_->Pages().Summary().Contents();
  ASSERT_GE(rows.ItemCount(), 3);
  EXPECT_TRUE(rows.RowTexts().join('\n').contains(QStringLiteral("books")));
  Shot(*w_, "main-summary-page");
  int books = -1;
  for (int i = 0; i < rows.ItemCount(); ++i)
    if (rows.Cell(i, 0) == QStringLiteral("books")) books = i;
  ASSERT_GE(books, 0) << rows.RowTexts().join('|').toStdString();
  emit w_->qx_summary()->itemDoubleClicked(w_->qx_summary()->topLevelItem(books), 0);
  EXPECT_EQ(m().CurrentPage, pgProperties);
  EXPECT_FALSE(m().PageVisible[pgSummary]);
  EXPECT_TRUE(m().PropertiesShownKey.contains(QStringLiteral("books")));
  EXPECT_EQ(m().RightCaption, QStringLiteral("   Properties of books"));
  EXPECT_GT(w_->Pages().Properties().Contents().ItemCount(), 3);
  Shot(*w_, "main-properties-page");
}

TEST_F(ConnectedWindow, DdlPageIsKeyedOnDatabaseNameAndKind) {
  // The same table name in two databases: the second database's click refills the page.
  Show({"sample", "User Tables", "dbo.books"}, pgDdl);
  const QString sampleText = m().DdlText;
  ASSERT_TRUE(sampleText.contains(QStringLiteral("title")));
  // An edit stays while the page shows the same object.
  w_->findChild<QTabWidget*>()->setCurrentIndex(pgSql);
  m().TabClick(pgSql);
  m().DdlText += QStringLiteral("\n-- my note");
  m().TabClick(pgDdl);
  EXPECT_TRUE(m().DdlText.endsWith(QStringLiteral("-- my note")));
  // So does what the user types into the editor, through every refresh of the window (a tab
  // click away and back, an editor status change on the SQL page).
  w_->text_editor()->moveCursor(QTextCursor::End);
  w_->text_editor()->insertPlainText(QStringLiteral("\n-- typed"));
  w_->findChild<QTabWidget*>()->setCurrentIndex(pgSql);
  m().TabClick(pgSql);
  w_->editor()->setPlainText(QStringLiteral("select 1"));
  m().TabClick(pgDdl);
  EXPECT_TRUE(w_->text_editor()->toPlainText().endsWith(QStringLiteral("-- my note\n-- typed")))
      << w_->text_editor()->toPlainText().toStdString();
  EXPECT_EQ(m().DdlText, w_->text_editor()->toPlainText());
  // master has its own sysobjects; sample's system table of the same name shows its own database.
  Show({"master", "System Tables", "dbo.sysobjects"}, pgDdl);
  const QString masterKey = m().DdlShownKey;
  Show({"sample", "System Tables", "dbo.sysobjects"}, pgDdl);
  EXPECT_NE(m().DdlShownKey, masterKey);
  EXPECT_TRUE(m().DdlShownKey.startsWith(QStringLiteral("sample")));
}

TEST_F(ConnectedWindow, SameNamedObjectsOfTwoOwnersAndDottedNamesShowTheirOwnDefinition) {
  // Two owners' tables, indexes and views of one name, and a table whose name holds a dot.
  {
    auto sa = tabtest::ConnectAsSa(QStringLiteral("setup"));
    ASSERT_TRUE(sa->Connected());
    for (const char* sql :
         {"create table clerk.twin (clerk_col int null)", "create table dbo.twin (dbo_col int null)",
          "create index twin_ix on clerk.twin (clerk_col)", "create index twin_ix on dbo.twin (dbo_col)",
          "create table dbo.[dot.ted] (dot_col int null)", "create index dt_ix on dbo.[dot.ted] (dot_col)",
          "create view clerk.twin_v as select clerk_col from clerk.twin",
          "create view dbo.twin_v as select dbo_col from dbo.twin"})
      tabtest::ExecSetup(*sa, QString::fromLatin1(sql));
  }
  struct Case {
    QStringList path;
    const char* has;     // the object's own column
    const char* hasNot;  // the other owner's column
  };
  const Case cases[] = {
      {{"sample", "User Tables", "clerk.twin"}, "clerk_col", "dbo_col"},
      {{"sample", "User Tables", "dbo.twin"}, "dbo_col", "clerk_col"},
      {{"sample", "Views", "clerk.twin_v"}, "clerk_col", "dbo_col"},
      {{"sample", "Views", "dbo.twin_v"}, "dbo_col", "clerk_col"},
      {{"sample", "Indexes", "clerk.twin.twin_ix"}, "clerk_col", "dbo_col"},
      {{"sample", "Indexes", "dbo.twin.twin_ix"}, "dbo_col", "clerk_col"},
      {{"sample", "User Tables", "dbo.dot.ted"}, "dot_col", "clerk_col"},
      {{"sample", "Indexes", "dot.ted.dt_ix"}, "dot_col", "clerk_col"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.join('/').toStdString());
    Show(c.path, pgDdl);
    EXPECT_EQ(m().CurrentPage, pgDdl);
    EXPECT_TRUE(m().DdlText.contains(QLatin1String(c.has))) << m().DdlText.toStdString();
    EXPECT_FALSE(m().DdlText.contains(QLatin1String(c.hasNot))) << m().DdlText.toStdString();
    m().TabClick(pgSql);
  }
  // A double click on a column of clerk's table in its Fields summary shows that column.
  Show({"sample", "User Tables", "clerk.twin", "Fields"}, pgSummary);
  const TQxListContents& rows = w_->Pages().Summary().Contents();
  ASSERT_EQ(rows.ItemCount(), 1) << rows.RowTexts().join('|').toStdString();
  emit w_->qx_summary()->itemDoubleClicked(w_->qx_summary()->topLevelItem(0), 0);
  EXPECT_EQ(m().CurrentPage, pgProperties);
  EXPECT_EQ(m().RightCaption, QStringLiteral("   Properties of clerk.twin.clerk_col"));
  EXPECT_TRUE(w_->Pages().Properties().Contents().RowTexts().join('|').contains(QStringLiteral("clerk_col")))
      << w_->Pages().Properties().Contents().RowTexts().join('|').toStdString();
  // A double click on either owner's row of a folder's summary shows that owner's object.
  struct SummaryCase {
    QStringList folder;
    const char* caption;   // the rows' own text, the same for both owners
    QStringList expected;  // the properties captions, one per owner
  };
  const SummaryCase summaries[] = {
      {{"sample", "User Tables"}, "twin",
       {QStringLiteral("   Properties of clerk.twin"), QStringLiteral("   Properties of dbo.twin")}},
      {{"sample", "Indexes"}, "twin_ix",
       {QStringLiteral("   Properties of clerk.twin.twin_ix"), QStringLiteral("   Properties of dbo.twin.twin_ix")}},
  };
  for (const SummaryCase& c : summaries) {
    SCOPED_TRACE(c.folder.join('/').toStdString());
    QStringList shown;
    for (int pass = 0;; ++pass) {
      Show(c.folder, pgSummary);
      const TQxListContents& list = w_->Pages().Summary().Contents();
      int row = -1;
      for (int r = 0, seen = 0; r < list.ItemCount(); ++r)
        if (list.Cell(r, 0) == QLatin1String(c.caption) && seen++ == pass) row = r;
      if (row < 0) break;
      QTreeWidgetItem* item = w_->qx_summary()->topLevelItem(row);
      w_->qx_summary()->setCurrentItem(item);
      emit w_->qx_summary()->itemDoubleClicked(item, 0);
      EXPECT_EQ(m().CurrentPage, pgProperties);
      EXPECT_GT(w_->Pages().Properties().Contents().ItemCount(), 0) << m().RightCaption.toStdString();
      shown << m().RightCaption;
      m().TabClick(pgSql);
    }
    shown.sort();
    EXPECT_EQ(shown, c.expected) << shown.join('|').toStdString();
  }
  {
    auto sa = tabtest::ConnectAsSa(QStringLiteral("cleanup"));
    for (const char* sql : {"drop view clerk.twin_v", "drop view dbo.twin_v", "drop table clerk.twin",
                            "drop table dbo.twin", "drop table dbo.[dot.ted]"})
      tabtest::ExecSetup(*sa, QString::fromLatin1(sql));
  }
}

TEST_F(ConnectedWindow, ServerConfigurationAndProcessesWindows) {
  Tf_serverconfig config(&m().db());
  config.LoadConfiguration();
  const TServerConfigState& st = config.State();
  ASSERT_FALSE(st.Groups().isEmpty());
  ASSERT_FALSE(st.Rows().empty());
  for (const auto& r : st.Rows()) {
    EXPECT_TRUE(st.Groups().contains(r.Category));
    EXPECT_FALSE(r.Name.isEmpty());
  }
  // By category: a line per group with its parameters; All: one line per parameter.
  EXPECT_EQ(config.rv_config()->topLevelItemCount(), st.Groups().size() - int(std::count_if(
      st.Groups().begin(), st.Groups().end(), [&](const QString& g) {
        return std::none_of(st.Rows().begin(), st.Rows().end(), [&](const auto& r) { return r.Category == g; });
      })));
  EXPECT_EQ(st.Columns().first(), QStringLiteral("Category"));
  config.show();
  Shot(config, "dialog-server-config");
  config.ViewCombo()->setCurrentIndex(TServerConfigState::vwAll);
  EXPECT_EQ(config.rv_config()->topLevelItemCount(), int(st.Rows().size()));
  EXPECT_EQ(st.Columns().last(), QStringLiteral("Category"));
  const QStringList report = st.ReportLines();
  EXPECT_EQ(report.size(), int(st.Rows().size()) + 1);
  EXPECT_TRUE(report[0].startsWith(QStringLiteral("Name")));

  TProcessesFrm processes(&m().db());
  processes.show();
  // Showing runs the first tab's query; each tab runs its own, and again when it comes back.
  EXPECT_EQ(processes.State().View().ProcessInfoType, pitProcesses);
  // Every session but the view's own: db_grid at least.
  EXPECT_GE(processes.State().View().Contents().ItemCount(), 1);
  Shot(processes, "dialog-processes");
  for (int tab = 0; tab < processes.nb_processes()->count(); ++tab) {
    SCOPED_TRACE(tab);
    processes.nb_processes()->setCurrentIndex(tab);
    EXPECT_EQ(int(processes.State().View().ProcessInfoType), tab);
    EXPECT_EQ(processes.State().View().SQLText(), TQorixProcessView::ProcessSQL(TQxProcessInfoType(tab)));
  }
  processes.nb_processes()->setCurrentIndex(0);
  EXPECT_EQ(processes.State().View().ProcessInfoType, pitProcesses);
  EXPECT_EQ(processes.pv()->topLevelItemCount(), processes.State().View().Contents().ItemCount());
}

TEST_F(ConnectedWindow, ServerDialogsRefusedOnTheOtherFamilyAndWithoutConnection) {
  m().db().Rdbms = QStringLiteral("SQLAnywhere");
  for (const char* action : {"a_servers_config", "a_servers_processes"}) {
    SCOPED_TRACE(action);
    const size_t before = ui_.Events(TRecordingUiServices::Event::kMessageBox).size();
    w_->Action(action)->trigger();
    const auto boxes = ui_.Events(TRecordingUiServices::Event::kMessageBox);
    ASSERT_EQ(boxes.size(), before + 1);
    EXPECT_EQ(boxes.back().text, QStringLiteral("The function is not available for SQL Anywhere"));
    EXPECT_EQ(boxes.back().caption, QStringLiteral("Morvane"));
    for (QDialog* d : w_->findChildren<QDialog*>())
      EXPECT_TRUE(d == w_->SplashDialog() || !d->isVisible()) << d->windowTitle().toStdString();
  }
  m().db().Rdbms = QStringLiteral("Sybase SQL Server");
  m().Disconnect();
  EXPECT_THROW(m().CheckConfigAvailable(), EAbort);
  EXPECT_EQ(ui_.Events(TRecordingUiServices::Event::kMessageBox).back().text, QStringLiteral("Not connected"));
}

TEST(RecordEditTest, LayoutRules) {
  TQxMemDataSet ds;
  ds.FieldDefs().Add(QStringLiteral("in_stock"), ftBoolean);
  ds.FieldDefs().Add(QStringLiteral("notes"), ftMemo);
  ds.FieldDefs().Add(QStringLiteral("title"), ftString, 10);
  ds.FieldDefs().Add(QStringLiteral("cover"), ftBlob);
  ds.Open();
  TEditScrollLayout layout;
  const auto laid = layout.Layout(ds.Fields());
  ASSERT_EQ(laid.size(), 4u);
  EXPECT_EQ(laid[0].Kind, rekCheck);
  EXPECT_EQ(laid[1].Kind, rekMemo);
  EXPECT_EQ(laid[2].Kind, rekEdit);
  EXPECT_EQ(laid[3].Kind, rekImage);
  // Display width 10 and an 8-point font: 88 pixels.
  EXPECT_EQ(laid[2].Width, 88);
  EXPECT_EQ(laid[0].Top, 10);
  EXPECT_EQ(laid[1].Top, 10 + TEditScrollLayout::kCheckHeight + 15);
  EXPECT_EQ(laid[2].Top, laid[1].Top + TEditScrollLayout::kMemoHeight + 15);
  EXPECT_EQ(laid[2].Caption, QStringLiteral("Title"));
  EXPECT_EQ(laid[2].LabelLeft, 10);
  EXPECT_EQ(laid[2].Left, 150);
}

TEST(RecordEditTest, WindowEditsTheCurrentRecordAndBuildsOnce) {
  TRecordingUiServices ui;
  TQxMemDataSet ds;
  ds.FieldDefs().Add(QStringLiteral("book_id"), ftString, 6);
  ds.FieldDefs().Add(QStringLiteral("in_stock"), ftBoolean);
  ds.FieldDefs().Add(QStringLiteral("notes"), ftMemo);
  ds.Open();
  ds.AppendRecord({QStringLiteral("BK1001"), true, QStringLiteral("first")});
  ds.AppendRecord({QStringLiteral("BK1002"), false, QStringLiteral("second")});
  ds.First();
  TDataSource source(&ds);

  TQorixEditScrollBox lonely;
  lonely.BuildEditors();
  EXPECT_FALSE(lonely.Built());
  EXPECT_TRUE(lonely.Pairs().empty());

  TRecordEditForm form(&source);
  form.show();
  TQorixEditScrollBox* box = form.esb_data();
  ASSERT_TRUE(box->Built());
  ASSERT_EQ(box->Pairs().size(), 3u);
  form.FormActivate();  // a second activation rebuilds, it does not add
  ASSERT_EQ(box->Pairs().size(), 3u);
  EXPECT_EQ(box->findChildren<QLineEdit*>().size(), 1);
  EXPECT_EQ(box->findChildren<QCheckBox*>().size(), 1);
  // Labels are level with their editors.
  for (const auto& p : box->Pairs()) EXPECT_NEAR(p.Label->y(), p.Editor->y(), 4);
  auto* id = qobject_cast<QLineEdit*>(box->Pairs()[0].Editor);
  auto* stock = qobject_cast<QCheckBox*>(box->Pairs()[1].Editor);
  auto* notes = qobject_cast<QPlainTextEdit*>(box->Pairs()[2].Editor);
  ASSERT_TRUE(id && stock && notes);
  EXPECT_EQ(id->text(), QStringLiteral("BK1001"));
  EXPECT_TRUE(stock->isChecked());
  EXPECT_EQ(notes->toPlainText(), QStringLiteral("first"));
  Shot(form, "dialog-record-edit");

  // Typing starts an edit; the post writes the editors' values.
  id->setText(QStringLiteral("BK1009"));
  emit id->textEdited(id->text());
  notes->setPlainText(QStringLiteral("changed"));
  stock->click();
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.Post();
  EXPECT_EQ(ds.FieldByName(QStringLiteral("book_id"))->AsString(), QStringLiteral("BK1009"));
  EXPECT_EQ(ds.FieldByName(QStringLiteral("notes"))->AsString(), QStringLiteral("changed"));
  EXPECT_FALSE(ds.FieldByName(QStringLiteral("in_stock"))->AsBoolean());
  // Moving shows the next record.
  ds.Next();
  EXPECT_EQ(id->text(), QStringLiteral("BK1002"));
  EXPECT_EQ(notes->toPlainText(), QStringLiteral("second"));
  form.CloseClick();
  EXPECT_FALSE(box->Built());
  EXPECT_TRUE(box->findChildren<QLineEdit*>().isEmpty());
}
