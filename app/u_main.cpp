// Tf_main: the main window's widgets over TMainModel (see u_main.h).
#include "app/u_main.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QTreeWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "access/QorixDatabase.h"
#include "access/SysUtils.h"
#include "access/UiServices.h"
#include "app/AppText.h"
#include "app/DataCellEditor.h"
#include "app/Dialogs.h"
#include "app/EditScrollLayout.h"
#include "app/RecordEdit.h"
#include "app/ScriptFile.h"
#include "app/ServerComponents.h"
#include "app/ServerDialogs.h"
#include "catalog/grid/QorixGrid.h"
#include "catalog/views/QxListPageView.h"
#include "catalog/views/QxPgProperties.h"
#include "catalog/views/QxPgSummary.h"
#include "catalog/views/QxSvrExplore.h"
#include "catalog/views/QxSvrExploreView.h"
#include "dataset/DataSetModel.h"
#include "dataset/DataSetNavigatorWidget.h"
#include "dataset/Field.h"
#include "dataset/QxMemDataSet.h"
#include "dataset/server/QxTable.h"

namespace {
// The editors' fixed font: the system's fixed-pitch face (Courier New is not found on Linux) at
// 8 points.
QFont DefaultFixedFont() {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setPointSize(8);
  return f;
}

// Gives an editor its fixed font, with a tab stop every 8 characters of it.
void SetEditorFont(QPlainTextEdit* edit, const QFont& font) {
  edit->setFont(font);
  edit->setTabStopDistance(8 * QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')));
}

const char* const kRunOptionNames[kRunOptionCount][3] = {
    {"btn_run_opt_show_plan", "&Show plan", "Show Execution plan"},
    {"btn_run_opt_check_syntax", "&Check syntax", "Check Syntax only"},
    {"btn_run_opt_force_plan", "&Force plan", "Force Plan"},
    {"btn_run_opt_stats_io", "St&atistics I/O", "Show Statistics I/O"},
    {"btn_run_opt_stats_time", "Stat&istics time", "Show Statistics time"},
    {"btn_run_opt_non_ansi", "&Non ASCI messages", "Show Non ANSI messages"},
    {"btn_run_opt_no_exec", "&No exec", "No Execute"}};
}  // namespace

Tf_main::Tf_main(const QString& iniFile, QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("f_main"));
  model_ = std::make_unique<TMainModel>(iniFile);
  explorer_ = std::make_unique<TServerExplorer>(&model_->db());
  pages_ = std::make_unique<TObjInfoPages>(&model_->db());
  resultGrid_ = std::make_unique<TBackgroundResultGrid>(&model_->db_grid());
  model_->SetComponents(explorer_.get(), pages_.get(), nullptr, resultGrid_.get());
  if (auto* table = dynamic_cast<TServerDataTable*>(model_->DataTable())) ds_sql_data_.SetDataSet(&table->Table());

  BuildMenus();
  spl_main_ = new QSplitter(Qt::Horizontal);
  auto* left = new QWidget;
  auto* ll = new QVBoxLayout(left);
  ll->setContentsMargins(0, 0, 0, 0);
  pan_left_top_ = new QLabel;
  pan_left_top_->setObjectName(QStringLiteral("pan_left_top"));
  pan_left_top_->setFrameShape(QFrame::StyledPanel);
  ll->addWidget(pan_left_top_);
  nb_explorer_ = new QTabWidget;
  tree_ = new TQxSvrExploreView(&explorer_->Tree());
  tree_->setObjectName(QStringLiteral("qx_explorer"));
  tree_->setHeaderHidden(true);
  nb_explorer_->addTab(tree_, QStringLiteral("Databases"));
  nb_explorer_->addTab(BuildDesktopPage(), QStringLiteral("Desktop"));
  nb_explorer_->setEnabled(false);
  connect(nb_explorer_, &QTabWidget::currentChanged, this, [this](int page) {
    if (page == 1) CreateShellTree();
  });
  ll->addWidget(nb_explorer_);
  spl_main_->addWidget(left);

  auto* right = new QWidget;
  auto* rl = new QVBoxLayout(right);
  rl->setContentsMargins(0, 0, 0, 0);
  pan_right_top_ = new QLabel;
  pan_right_top_->setObjectName(QStringLiteral("pan_right_top"));
  pan_right_top_->setFrameShape(QFrame::StyledPanel);
  rl->addWidget(pan_right_top_);
  nb_sql_main_ = new QTabWidget;
  qx_properties_ = new TQxListPageView(&pages_->Properties());
  qx_properties_->setObjectName(QStringLiteral("qx_properties"));
  nb_sql_main_->addTab(qx_properties_, QStringLiteral("Properties"));
  qx_summary_ = new TQxListPageView(&pages_->Summary());
  qx_summary_->setObjectName(QStringLiteral("qx_summary"));
  nb_sql_main_->addTab(qx_summary_, QStringLiteral("Summary"));
  connect(qx_summary_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    pages_->Summary().Contents().Selected = qx_summary_->indexOfTopLevelItem(item);
    model_->Guarded([this] { model_->SummaryDblClick(); });
  });
  nb_sql_main_->addTab(BuildDataPage(), QStringLiteral("Data"));
  nb_sql_main_->addTab(BuildSqlPage(), QStringLiteral("SQL"));
  text_editor_ = new QPlainTextEdit;
  SetEditorFont(text_editor_, DefaultFixedFont());
  text_editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  // What the user types is the page's text: the model keeps it, so no refresh puts the read
  // definition back over the edits.
  connect(text_editor_, &QPlainTextEdit::textChanged, this, [this] {
    if (!refreshing_) model_->DdlText = text_editor_->toPlainText();
  });
  BuildTextEditorMenu();
  nb_sql_main_->addTab(text_editor_, QStringLiteral("DDL"));
  auto* logo = new QWidget;
  auto* lg = new QVBoxLayout(logo);
  auto* title = new QLabel(QStringLiteral("Qorix Tabulon"));
  QFont tf = title->font();
  tf.setPointSize(28);
  tf.setBold(true);
  title->setFont(tf);
  title->setAlignment(Qt::AlignCenter);
  auto* notice = new QLabel(QStringLiteral("Explorer and query tool for TDS 5.0 database servers.\n"
                                           "Use Servers > Connect to log in."));
  notice->setAlignment(Qt::AlignCenter);
  // The mail and web links: no address is known, so they show disabled.
  auto* mail = new QLabel(QStringLiteral("E-Mail the author (no address known)"));
  mail->setObjectName(QStringLiteral("lab_mail"));
  auto* web = new QLabel(QStringLiteral("Tabulon home page (no address known)"));
  web->setObjectName(QStringLiteral("lab_web"));
  for (QLabel* link : {mail, web}) {
    link->setAlignment(Qt::AlignCenter);
    link->setEnabled(false);
  }
  lg->addStretch();
  lg->addWidget(title);
  lg->addWidget(notice);
  lg->addSpacing(12);
  lg->addWidget(mail);
  lg->addWidget(web);
  lg->addStretch();
  nb_sql_main_->addTab(logo, QStringLiteral("Qorix Tabulon"));
  auto* histPage = new QWidget;
  auto* hl = new QVBoxLayout(histPage);
  hl->setContentsMargins(0, 0, 0, 0);
  auto* histBar = new QToolBar;
  histBar->setObjectName(QStringLiteral("bar_history"));
  histBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  histBar->addAction(Action("a_his_select"));
  hl->addWidget(histBar);
  auto* hist = new QSplitter(Qt::Vertical);
  // The statement history's read-only grid: one row per statement, its description under the
  // heading "Command"; rows are selected whole.
  history_ = new QTreeWidget;
  history_->setObjectName(QStringLiteral("dbg_history"));
  history_->setColumnCount(1);
  history_->setHeaderLabels({QStringLiteral("Command")});
  history_->setRootIsDecorated(false);
  history_->setSelectionBehavior(QAbstractItemView::SelectRows);
  history_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  historyMemo_ = new QPlainTextEdit;
  historyMemo_->setReadOnly(true);
  hist->addWidget(history_);
  hist->addWidget(historyMemo_);
  hl->addWidget(hist, 1);
  nb_sql_main_->addTab(histPage, QStringLiteral("History"));
  rl->addWidget(nb_sql_main_);
  spl_main_->addWidget(right);
  spl_main_->setStretchFactor(0, 0);
  spl_main_->setStretchFactor(1, 1);
  setCentralWidget(spl_main_);
  // The pane sizes: given once a pane is laid out, taken while it is shown.
  for (QObject* o : {static_cast<QObject*>(spl_main_), static_cast<QObject*>(spl_sql_),
                     static_cast<QObject*>(spl_main_->widget(0))})
    o->installEventFilter(this);
  splash_ = new TSplashDialog(this);
  // The SQL open dialog exists from the start.
  OpenDialog();
  statusBar();

  // The tree decodes a click into its selection, then the window's model fills the pages.
  explorer_->Tree().OnClick = [this](TComponent*) { model_->Guarded([this] { model_->ExplorerClick(); }); };
  // A click on a tab (not a programmatic page change) fills the page.
  connect(nb_sql_main_->tabBar(), &QTabBar::tabBarClicked, this, [this](int index) {
    if (refreshing_ || index < 0) return;
    // A refused click (the Data page's row could not be posted) leaves the page it was on: the
    // tab bar, which moves after this signal, is put back once it has.
    if (!model_->Guarded([&] { model_->TabClick(index); }))
      QMetaObject::invokeMethod(this, [this] { Refresh(); }, Qt::QueuedConnection);
  });
  connect(history_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    historyMemo_->setPlainText(model_->HistoryCommand(item ? history_->indexOfTopLevelItem(item) : -1));
  });
  connect(history_, &QTreeWidget::itemDoubleClicked, this, [this] { Action("a_his_select")->trigger(); });
  BuildPopupMenus();
  model_->Changed = [this] { Refresh(); };
  model_->OnRestored = [this] { SettingsRestored(); };
  Confirm = [this](const QString& question) {
    return QMessageBox::question(this, QStringLiteral("Qorix Tabulon"), question) == QMessageBox::Yes;
  };
  setWindowTitle(model_->WindowCaption);
  resize(1100, 720);
  Refresh();
}

Tf_main::~Tf_main() {
  model_->Changed = nullptr;
  model_->OnRestored = nullptr;
  // The explorer view and the grid view point into components that are members here: the
  // widgets go before them.
  delete takeCentralWidget();
}

QAction* Tf_main::AddAction(const QString& name, const QString& text, const QString& shortcut,
                            std::function<void()> run, const QString& hint) {
  auto* a = new QAction(text, this);
  a->setObjectName(name);
  if (!shortcut.isEmpty()) a->setShortcut(QKeySequence(shortcut));
  // Shortcuts shared by the two editors and the grid apply to the widget that has the focus.
  a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  if (!hint.isEmpty()) a->setStatusTip(hint), a->setToolTip(hint);
  connect(a, &QAction::triggered, this, [this, run] { model_->Guarded(run); });
  actions_[name] = a;
  return a;
}

void Tf_main::BuildMenus() {
  TMainModel& m = *model_;
  auto* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(AddAction("a_sql_open", "&Open", "Ctrl+O", [this] { OpenFile(); }));
  file->addAction(AddAction("a_sql_save", "&Save", "Ctrl+S", [this] { SaveFile(false); }));
  file->addAction(AddAction("a_sql_save_as", "Save &As...", "", [this] { SaveFile(true); }));
  file->addAction(AddAction("a_sql_print", "&Print...", "Ctrl+P", [this] { PrintEditor(editor_); }));
  file->addSeparator();
  file->addAction(AddAction("a_file_exit", "E&xit", "Alt+X", [this] { close(); }));
  recentMenu_ = file->addMenu(QStringLiteral("Recent files"));
  file->addAction(AddAction("a_file_clear_history", "Clear history", "", [&m] { m.ClearRecentFiles(); }));

  editMenu_ = menuBar()->addMenu(QStringLiteral("&Edit"));
  editMenu_->addAction(AddAction("a_sql_run", "&Run", "Ctrl+E", [this, &m] { m.Run(RunText()); }, "Execute query"));
  editMenu_->addAction(AddAction("a_sql_stop", "Stop query", "", [&m] { m.Stop(); }));
  editMenu_->addSeparator();
  editMenu_->addAction(AddAction("a_sql_clear", "C&lear", "", [this, &m] {
    editor_->clear();
    editor_->setFocus();
    m.RightCaption.clear();
  }));
  editMenu_->addAction(AddAction("a_sql_cut", "Cu&t", "Ctrl+X", [this] { editor_->cut(); }));
  editMenu_->addAction(AddAction("a_sql_copy", "&Copy", "Ctrl+C", [this] { editor_->copy(); }));
  editMenu_->addAction(AddAction("a_sql_paste", "&Paste", "Ctrl+V", [this] { editor_->paste(); }));
  editMenu_->addAction(AddAction("a_sql_delete", "&Delete", "", [this] { editor_->textCursor().removeSelectedText(); }));
  editMenu_->addAction(AddAction("a_sql_undo", "&Undo", "Ctrl+Z", [this] { editor_->undo(); }));
  editMenu_->addAction(AddAction("a_sql_redo", "&Redo", "Shift+Ctrl+V", [this] { editor_->redo(); }));
  editMenu_->addAction(AddAction("a_sql_select_all", "&Select All", "Ctrl+A", [this] { editor_->selectAll(); }));
  editMenu_->addSeparator();
  // History "Select" (on the History page): the editor is cleared as Clear does, then gets the
  // chosen statement.
  AddAction(
      "a_his_select", "Select", "",
      [this, &m] {
        if (m.HistoryCount() <= 0) return;
        const QString command = m.HistoryCommand(
            std::max(0, history_->currentItem() ? history_->indexOfTopLevelItem(history_->currentItem()) : 0));
        Action("a_sql_clear")->trigger();
        editor_->setPlainText(command);
      },
      "Select history item");
  editMenu_->addAction(AddAction("a_show_history", "Show History", "", [&m] {
    auto v = m.PageVisible;
    v[pgHistory] = true;
    m.PageVisible = v;
    m.CurrentPage = pgHistory;
  }));

  auto* servers = menuBar()->addMenu(QStringLiteral("&Servers"));
  servers->addAction(AddAction("a_servers_connect", "&Connect", "Alt+C", [&m] { m.Connect(); }, "Connect to server"));
  servers->addAction(AddAction("a_servers_disconnect", "&Disconnect", "Alt+D", [&m] { m.Disconnect(); },
                               "Disconnect from server"));
  servers->addSeparator();
  servers->addAction(AddAction("a_servers_info", "&Info", "Ctrl+I", [this, &m] {
    Tf_sybinfo dlg(m.SybInfo(), this);
    dlg.exec();
  }, "Dispay client information"));
  servers->addAction(AddAction("a_servers_config", "View Con&figuration", "", [this, &m] {
    m.CheckConfigAvailable();
    Tf_serverconfig dlg(&m.db(), this);
    dlg.LoadConfiguration();
    dlg.exec();
  }));
  servers->addAction(AddAction("a_servers_processes", "Processes...", "", [this, &m] {
    m.CheckNotSQLAnywhere();
    TProcessesFrm dlg(&m.db(), this);
    dlg.exec();
  }));
  servers->addAction(AddAction("a_servers_change_pwd", "Change &Password", "", [&m] { m.ChangePassword(); },
                               "Change user password"));

  auto* results = menuBar()->addMenu(QStringLiteral("&Results"));
  results->addAction(AddAction("a_results_copy_all", "&Copy All", "Ctrl+C", [this, &m] {
    const auto cells = m.Grid()->Cells();
    int cols = 0;
    for (const auto& r : cells) cols = std::max<int>(cols, r.size());
    QApplication::clipboard()->setText(m.GridText(1, 1, int(cells.size()) - 1, cols - 1));
  }));
  results->addAction(AddAction("a_results_copy_selected", "Copy &Selected", "", [this, &m] {
    if (!grid_->selectionModel()->hasSelection()) return;
    const auto r = resultGrid_->Grid().Selection;
    QApplication::clipboard()->setText(m.GridText(r.top, r.left, r.bottom, r.right));
  }));
  results->addAction(AddAction("a_results_cut", "Cu&t", "Ctrl+X", [this, &m] {
    if (!grid_->selectionModel()->hasSelection()) return;
    const auto r = resultGrid_->Grid().Selection;
    QApplication::clipboard()->setText(m.GridText(r.top, r.left, r.bottom, r.right, true));
  }));
  results->addAction(AddAction("a_results_print", "&Print...", "Ctrl+P", [this] { PrintGrid(); }));
  results->addAction(AddAction("a_results_export", "E&xport...", "", [this] { Export(); }));
  results->addAction(AddAction("a_results_info", "&Info...", "", [this, &m] {
    Tf_results_info dlg(m.ResultsInfo(), this);
    dlg.exec();
  }));

  auto* options = menuBar()->addMenu(QStringLiteral("&Options"));
  auto toggle = [this, options](const char* name, const char* text, bool TMainSettings::*member) {
    QAction* a = AddAction(name, text, "", [] {});
    a->setCheckable(true);
    connect(a, &QAction::toggled, this, [this, member](bool on) {
      model_->Settings.*member = on;
      ApplySettings();
    });
    options->addAction(a);
  };
  toggle("a_options_word_wrap", "Wordwrap", &TMainSettings::WordWrap);
  toggle("a_options_wrap_to_window", "W&rap to Window", &TMainSettings::WrapToWindow);
  toggle("a_options_create_backup", "Create &backup File", &TMainSettings::MakeBackup);
  options->addAction(AddAction("a_sql_font", "Set Editor Font...", "", [this] {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, editor_->font(), this, QStringLiteral("Font"),
                                         QFontDialog::MonospacedFonts);
    if (!ok) return;
    SetEditorFont(editor_, f);
    SetEditorFont(text_editor_, f);
  }));

  auto* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  tools->addAction(AddAction("a_tools_scratchpad", "&ScratchPad", "", [this] {
    TScratchPadDlg dlg(this);
    dlg.exec();
  }));
  tools->addAction(AddAction("a_tools_calculator", "&Calculator", "", [this] {
    TCalculatorDlg dlg(this);
    dlg.exec();
  }));
  auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
  // The author's mail and home-page addresses are not known: the entries and the logo page's
  // links stay disabled.
  for (const auto& [name, text] : {std::pair{"a_help_email", "E-&Mail Author"}, std::pair{"a_help_homepage", "Tabulon &Home Page"}}) {
    QAction* a = AddAction(name, text, "", [] {}, QStringLiteral("No address is known"));
    a->setEnabled(false);
    help->addAction(a);
  }
  help->addSeparator();
  help->addAction(AddAction("a_help_about", "About...", "", [this] {
    TSystemInfo info;
    TAboutBox box(info, this);
    box.exec();
  }));

  auto* bar = addToolBar(QStringLiteral("Main"));
  bar->setObjectName(QStringLiteral("tb_main"));
  bar->addAction(Action("a_servers_connect"));
  bar->addAction(Action("a_servers_disconnect"));
  bar->addAction(Action("a_file_exit"));
  bar->addSeparator();
  bar->addAction(Action("a_sql_run"));
  bar->addAction(Action("a_sql_stop"));
  bar->addSeparator();
  bar->addAction(AddAction("btn_start_tran", "Begin Tran", "", [&m] { m.StartTran(); }, "Start transaction"));
  bar->addAction(AddAction("btn_commit_tran", "Commit", "", [&m] { m.CommitTran(); }, "Commit transaction"));
  bar->addAction(AddAction("btn_rollback_tran", "Rollback", "", [&m] { m.RollbackTran(); }, "Rollback transaction"));
  // The editors' and the result grid's commands act on the control that has the focus (their
  // shortcuts overlap: Ctrl+C copies the editor's selection or all of the grid); the rest work
  // from anywhere in the window.
  for (QAction* a : actions_) {
    const QString n = a->objectName();
    const bool local = (n.startsWith(QLatin1String("a_sql_")) && n != QLatin1String("a_sql_run") &&
                        n != QLatin1String("a_sql_stop") && n != QLatin1String("a_sql_open") &&
                        n != QLatin1String("a_sql_save") && n != QLatin1String("a_sql_save_as") &&
                        n != QLatin1String("a_sql_font")) ||
                       n.startsWith(QLatin1String("a_text_")) || n.startsWith(QLatin1String("a_results_"));
    a->setShortcutContext(local ? Qt::WidgetWithChildrenShortcut : Qt::WindowShortcut);
  }
}

QWidget* Tf_main::BuildSqlPage() {
  spl_sql_ = new QSplitter(Qt::Vertical);
  editor_ = new QPlainTextEdit;
  editor_->setObjectName(QStringLiteral("editor"));
  SetEditorFont(editor_, DefaultFixedFont());
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Files dropped on the editor open as scripts.
  editor_->viewport()->installEventFilter(this);
  editor_->installEventFilter(this);
  auto* lower = new QWidget;
  auto* ll = new QVBoxLayout(lower);
  ll->setContentsMargins(0, 0, 0, 0);
  // A tool bar: buttons that do not fit move to its extension menu instead of widening the page.
  auto* opts = new QToolBar;
  opts->setObjectName(QStringLiteral("bar_run_options"));
  opts->setIconSize(QSize(16, 16));
  for (int i = 0; i < kRunOptionCount; ++i) {
    auto* b = new QToolButton;
    b->setObjectName(QString::fromLatin1(kRunOptionNames[i][0]));
    b->setText(QString::fromLatin1(kRunOptionNames[i][1]).remove(QLatin1Char('&')));
    b->setToolTip(QString::fromLatin1(kRunOptionNames[i][2]));
    b->setCheckable(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(b, &QToolButton::toggled, this, [this, i](bool on) { model_->Settings.RunOptions[i] = on; });
    runOptions_[i] = b;
    opts->addWidget(b);
  }
  ll->addWidget(opts);
  grid_ = new TQorixGridView(&resultGrid_->Grid());
  grid_->setObjectName(QStringLiteral("g_sql"));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ll->addWidget(grid_);
  spl_sql_->addWidget(editor_);
  spl_sql_->addWidget(lower);
  spl_sql_->setStretchFactor(1, 1);
  return spl_sql_;
}

QWidget* Tf_main::BuildDataPage() {
  auto* w = new QWidget;
  auto* l = new QVBoxLayout(w);
  l->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QToolBar;
  nav_main_ = new TDBNavigatorWidget;
  nav_main_->SetButtonVisible(TNavigateBtn::nbRefresh, false);
  nav_main_->Navigator().SetDataSource(&ds_sql_data_);
  bar->addWidget(nav_main_);
  bar->addSeparator();
  QAction* edit = AddAction("a_grid_edit", "Edit", "", [this] {
    TRecordEditForm form(&ds_sql_data_, this);
    form.exec();
  }, "Edit single record");
  bar->addAction(edit);
  l->addWidget(bar);
  // The grid reads the table's rows on demand as it scrolls; the values typed into a row are
  // posted when the grid leaves the row (or by the navigator's Post), so a new row goes to
  // the server whole.
  dbg_data_ = new QTableView;
  dbg_data_->setObjectName(QStringLiteral("dbg_data"));
  dataModel_ = new TDataSetModel(dbg_data_);
  dataModel_->SetDataSource(&ds_sql_data_);
  dbg_data_->setModel(dataModel_);
  // Cells are edited as the text of their whole value, never through a spin box that rounds.
  auto* cells = new TDataCellDelegate(dbg_data_);
  dbg_data_->setItemDelegate(cells);
  // A post or a move of the table first takes the text of a cell editor still open.
  dataModel_->OnUpdateData = [cells = QPointer<TDataCellDelegate>(cells)] {
    if (cells) cells->CommitOpenEditor();
  };
  dbg_data_->setSelectionBehavior(QAbstractItemView::SelectItems);
  dbg_data_->setSelectionMode(QAbstractItemView::SingleSelection);
  dbg_data_->verticalHeader()->setDefaultSectionSize(dbg_data_->fontMetrics().height() + 6);
  dbg_data_->horizontalHeader()->setHighlightSections(false);
  // The view's current cell and the dataset's current record follow each other.
  // Leaving a row posts its open edit; a refused post shows why and keeps the grid on the
  // refused row (put back once the view has finished its own move).
  connect(dbg_data_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (!current.isValid() || current.row() == dataModel_->CurrentRow()) return;
            if (GuardedCall([&] { dataModel_->SetCurrentRow(current.row()); })) return;
            const int column = current.column();
            QMetaObject::invokeMethod(this, [this, column] {
              const int back = dataModel_->CurrentRow();
              if (back >= 0 && back < dataModel_->rowCount()) dbg_data_->setCurrentIndex(dataModel_->index(back, column));
            }, Qt::QueuedConnection);
          });
  dataModel_->OnCurrentRowChanged = [this](int row) {
    if (row < 0 || !dbg_data_->selectionModel()) return;
    const QModelIndex cur = dbg_data_->currentIndex();
    if (cur.row() == row) return;
    dbg_data_->setCurrentIndex(dataModel_->index(row, cur.isValid() ? cur.column() : 0));
  };
  // A newly opened table sizes its columns once its first rows have been read: to those rows'
  // contents and at least to the characters the field shows (its display width), so a value
  // further down (a longer name, a four-digit id) is not cut; at most 300 pixels each.
  connect(dataModel_, &QAbstractItemModel::modelReset, this, [this] { sizeDataColumns_ = true; });
  connect(dataModel_, &QAbstractItemModel::rowsInserted, this, [this] {
    if (!sizeDataColumns_) return;
    sizeDataColumns_ = false;
    QTimer::singleShot(0, this, [this] {
      dbg_data_->resizeColumnsToContents();
      const QFontMetrics fm(dbg_data_->font());
      const int digit = fm.horizontalAdvance(QLatin1Char('0'));
      for (int c = 0; c < dataModel_->columnCount(); ++c) {
        int width = dbg_data_->columnWidth(c);
        if (const TField* f = dataModel_->ColumnField(c))
          width = std::max(width, digit * TEditScrollLayout::DisplayWidthOf(*f) + 2 * digit);
        dbg_data_->setColumnWidth(c, std::min(width, 300));
      }
    });
  });
  l->addWidget(dbg_data_, 1);
  return w;
}

void Tf_main::BuildPopupMenus() {
  // The SQL editor's popup menu; its entries are the editor's actions, so their shortcuts work
  // while it has the focus.
  sqlEditorMenu_ = new QMenu(editor_);
  sqlEditorMenu_->setObjectName(QStringLiteral("pm_editor"));
  for (const char* name : {"a_sql_run", "|", "a_sql_select_all", "a_sql_clear", "|", "a_sql_cut", "a_sql_copy",
                           "a_sql_paste", "a_sql_delete", "|", "a_sql_undo", "a_sql_redo", "|", "a_sql_print"}) {
    if (name[0] == '|') {
      sqlEditorMenu_->addSeparator();
      continue;
    }
    sqlEditorMenu_->addAction(Action(name));
    editor_->addAction(Action(name));
  }
  editor_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(editor_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { sqlEditorMenu_->exec(editor_->mapToGlobal(p)); });
  // The editor's status: what it holds and whether anything is selected.
  auto status = [this] {
    model_->EditorShowStatus(!editor_->document()->isEmpty(), editor_->textCursor().hasSelection());
  };
  connect(editor_, &QPlainTextEdit::textChanged, this, status);
  connect(editor_, &QPlainTextEdit::selectionChanged, this, status);
  model_->EditorShowStatus(false, false);

  // The result grid's popup menu.
  gridMenu_ = new QMenu(grid_);
  gridMenu_->setObjectName(QStringLiteral("pm_grid"));
  for (const char* name : {"a_results_cut", "a_results_copy_all", "a_results_copy_selected", "a_results_print"}) {
    gridMenu_->addAction(Action(name));
    grid_->addAction(Action(name));
  }
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { gridMenu_->exec(grid_->viewport()->mapToGlobal(p)); });
}

void Tf_main::BuildTextEditorMenu() {
  // The DDL editor's own commands, on its context menu.
  QPlainTextEdit* t = text_editor_;
  auto* menu = new QMenu(t);
  menu->setObjectName(QStringLiteral("pm_text_editor"));
  textEditorMenu_ = menu;
  menu->addAction(AddAction("a_text_select_all", "&Select All", "", [t] { t->selectAll(); }));
  QAction* cut = AddAction("a_text_cut", "Cu&t", "Ctrl+X", [t] { t->cut(); });
  QAction* copy = AddAction("a_text_copy", "&Copy", "Ctrl+C", [t] { t->copy(); });
  QAction* del = AddAction("a_text_delete", "&Delete", "", [t] { t->textCursor().removeSelectedText(); });
  menu->addAction(cut);
  menu->addAction(copy);
  menu->addAction(AddAction("a_text_paste", "&Paste", "Ctrl+V", [t] { t->paste(); }));
  menu->addAction(del);
  menu->addAction(AddAction("a_text_print", "&Print...", "", [this] { PrintEditor(text_editor_); }));
  for (QAction* a : menu->actions()) t->addAction(a);
  // Cut, Copy and Delete only with a selection.
  auto status = [cut, copy, del](bool selected) {
    cut->setEnabled(selected);
    copy->setEnabled(selected);
    del->setEnabled(selected);
  };
  status(false);
  connect(t, &QPlainTextEdit::copyAvailable, this, status);
  t->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(t, &QWidget::customContextMenuRequested, this, [t, menu](const QPoint& p) { menu->exec(t->mapToGlobal(p)); });
}

QWidget* Tf_main::BuildDesktopPage() {
  auto* w = new QWidget;
  auto* l = new QVBoxLayout(w);
  l->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QToolBar;
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  TDesktopState& d = desktop_;
  bar->addAction(AddAction("a_desktop_up_one", "Up", "", [this, &d] {
    d.UpOneLevel();
    ShowDesktop();
  }, "Up one level"));
  auto selectedFiles = [this] {
    QStringList files;
    const QModelIndexList rows = desktop_.Style == TDesktopState::vwDetails
                                     ? shellList_->selectionModel()->selectedRows()
                                     : iconList_->selectionModel()->selectedIndexes();
    for (const QModelIndex& i : rows)
      if (!fsModel_->isDir(i)) files << fsModel_->filePath(i);
    return files;
  };
  bar->addAction(AddAction("a_desktop_cut", "Cut", "", [this, &d, selectedFiles] {
    d.CutFiles(selectedFiles());
    ShowDesktop();
  }, "Cut File"));
  bar->addAction(AddAction("a_desktop_copy", "Copy", "", [this, &d, selectedFiles] {
    d.CopyFiles(selectedFiles());
    ShowDesktop();
  }, "Copy File"));
  bar->addAction(AddAction("a_desktop_paste", "Paste", "", [this, &d] {
    const QStringList failed = d.Paste();
    ShowDesktop();
    if (!failed.isEmpty())
      throw Exception(QStringLiteral("Not pasted (a file of that name is already there): ") + failed.join(QStringLiteral(", ")));
  }, "Paste File"));
  auto* view = new QToolButton;
  view->setText(QStringLiteral("View"));
  view->setPopupMode(QToolButton::InstantPopup);
  auto* viewMenu = new QMenu(view);
  auto* group = new QActionGroup(viewMenu);
  const char* const views[] = {"Large Icons", "Small Icons", "List", "Details"};
  for (int v = 0; v < 4; ++v) {
    QAction* a = viewMenu->addAction(QString::fromLatin1(views[v]));
    a->setCheckable(true);
    a->setObjectName(QStringLiteral("mi_file_exp_%1").arg(QString::fromLatin1(views[v]).remove(QLatin1Char(' '))));
    group->addAction(a);
    viewActions_[v] = a;
    connect(a, &QAction::triggered, this, [this, v] {
      desktop_.ChooseView(TDesktopState::TView(v));
      ShowDesktop();
    });
  }
  view->setMenu(viewMenu);
  bar->addWidget(view);
  l->addWidget(bar);
  cb_file_exp_ext_ = new QComboBox;
  cb_file_exp_ext_->setEditable(true);
  cb_file_exp_ext_->addItems({"*.sql", "*.*", "*.txt", "*.scr", "*.tbl", "*.exe"});
  cb_file_exp_ext_->setToolTip(QStringLiteral("Select a file mask or right click for options"));
  l->addWidget(cb_file_exp_ext_);
  fsModel_ = new QFileSystemModel(w);
  fsModel_->setRootPath(d.Folder);
  fsModel_->setNameFilterDisables(false);
  // Files are renamed in place (F2), and dragged from the list (onto the SQL editor, which
  // opens a script dropped on it); nothing is dropped into the list.
  fsModel_->setReadOnly(false);
  shellList_ = new QTreeView;
  shellList_->setObjectName(QStringLiteral("StShellListView1"));
  shellList_->setModel(fsModel_);
  shellList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  shellList_->setColumnWidth(0, 200);
  // A list of one folder, not a tree: a double click on a folder opens it in place.
  shellList_->setRootIsDecorated(false);
  shellList_->setItemsExpandable(false);
  iconList_ = new QListView;
  iconList_->setModel(fsModel_);
  iconList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  iconList_->setViewMode(QListView::IconMode);
  iconList_->setResizeMode(QListView::Adjust);
  iconList_->hide();
  for (QAbstractItemView* v :
       {static_cast<QAbstractItemView*>(shellList_), static_cast<QAbstractItemView*>(iconList_)}) {
    v->setEditTriggers(QAbstractItemView::EditKeyPressed);
    v->setDragEnabled(true);
    v->setDragDropMode(QAbstractItemView::DragOnly);
  }
  // The folder tree's panel above the file list; the tree itself is made on first use.
  auto* split = new QSplitter(Qt::Vertical);
  treePanel_ = new QWidget;
  treePanel_->setObjectName(QStringLiteral("pan_desktop_tree"));
  auto* tl = new QVBoxLayout(treePanel_);
  tl->setContentsMargins(0, 0, 0, 0);
  auto* lists = new QWidget;
  auto* ls = new QVBoxLayout(lists);
  ls->setContentsMargins(0, 0, 0, 0);
  ls->addWidget(shellList_);
  ls->addWidget(iconList_);
  split->addWidget(treePanel_);
  split->addWidget(lists);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 3);
  l->addWidget(split, 1);
  connect(cb_file_exp_ext_, &QComboBox::currentTextChanged, this, [this](const QString& mask) {
    desktop_.Mask = mask;
    ShowDesktop();
  });
  auto open = [this](const QModelIndex& index) {
    if (fsModel_->isDir(index)) {
      desktop_.Folder = fsModel_->filePath(index);
      ShowDesktop();
    } else if (model_->db().Connected()) {
      model_->Guarded([&] { LoadFile(fsModel_->filePath(index), true); });
    }
  };
  connect(shellList_, &QTreeView::doubleClicked, this, open);
  connect(iconList_, &QListView::doubleClicked, this, open);
  ShowDesktop();
  return w;
}

void Tf_main::CreateShellTree() {
  if (shellTree_) return;
  // Folders only, from the root down, opened at the list's folder (the process's current one).
  auto* dirs = new QFileSystemModel(treePanel_);
  dirs->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  dirs->setRootPath(QDir::rootPath());
  shellTree_ = new QTreeView;
  shellTree_->setObjectName(QStringLiteral("StShellTreeView1"));
  shellTree_->setModel(dirs);
  shellTree_->setHeaderHidden(true);
  for (int c = 1; c < dirs->columnCount(); ++c) shellTree_->hideColumn(c);
  treePanel_->layout()->addWidget(shellTree_);
  if (auto* split = qobject_cast<QSplitter*>(treePanel_->parentWidget())) {
    const int h = std::max(200, split->height());
    split->setSizes({h * 2 / 5, h - h * 2 / 5});
  }
  // The tree drives the list: a folder chosen in it is the folder the list shows.
  connect(shellTree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this, dirs](const QModelIndex& i) {
    if (!i.isValid() || syncingTree_) return;
    desktop_.Folder = dirs->filePath(i);
    ShowDesktop();
  });
  ShowDesktop();
}

void Tf_main::ShowDesktop() {
  const TDesktopState& d = desktop_;
  if (shellTree_) {
    // The tree follows a folder the list moved to (Up one level, a double click).
    auto* dirs = static_cast<QFileSystemModel*>(shellTree_->model());
    const QModelIndex at = dirs->index(d.Folder);
    if (at.isValid() && shellTree_->currentIndex() != at) {
      syncingTree_ = true;
      for (QModelIndex p = at.parent(); p.isValid(); p = p.parent()) shellTree_->expand(p);
      shellTree_->setCurrentIndex(at);
      syncingTree_ = false;
      // The folders above load in the background: scroll once they are there.
      QTimer::singleShot(300, shellTree_, [this, at = QPersistentModelIndex(at)] {
        if (at.isValid()) shellTree_->scrollTo(at, QAbstractItemView::PositionAtCenter);
      });
    }
  }
  fsModel_->setRootPath(d.Folder);
  fsModel_->setNameFilters(d.Mask == QLatin1String("*.*") || d.Mask.isEmpty() ? QStringList() : QStringList{d.Mask});
  const QModelIndex root = fsModel_->index(d.Folder);
  shellList_->setRootIndex(root);
  iconList_->setRootIndex(root);
  const bool details = d.Style == TDesktopState::vwDetails;
  shellList_->setVisible(details);
  iconList_->setVisible(!details);
  const int icon = d.Style == TDesktopState::vwLargeIcons ? 48 : 16;
  iconList_->setIconSize(QSize(icon, icon));
  iconList_->setGridSize(d.Style == TDesktopState::vwLargeIcons ? QSize(96, 80) : QSize(160, 24));
  iconList_->setFlow(d.Style == TDesktopState::vwLargeIcons ? QListView::LeftToRight : QListView::TopToBottom);
  iconList_->setWrapping(true);
  for (int v = 0; v < 4; ++v) viewActions_[v]->setChecked(v == d.Checked);
  Action("a_desktop_cut")->setEnabled(d.CutEnabled);
  Action("a_desktop_copy")->setEnabled(d.CopyEnabled);
}

void Tf_main::ClickDatabase(int index) {
  TQxSvrExplore& tree = explorer_->Tree();
  if (index < 0 || index >= tree.Count()) return;
  tree.Selected = tree.Item(index);
  tree.Click();
}

bool Tf_main::ClickPath(const QStringList& path) {
  TQxTreeNode* node = nullptr;
  if (!GuardedCall([&] { node = explorer_->FindPath(path); }) || !node) return false;
  // The tree shows the node as a click would leave it: its folders open, the node current.
  for (TQxTreeNode* p = node->Parent(); p; p = p->Parent()) tree_->ExpandNode(p);
  tree_->SetCurrentNode(node);
  TQxSvrExplore& tree = explorer_->Tree();
  tree.Selected = node;
  tree.Click();
  return true;
}

QString Tf_main::RunText() const {
  const QTextCursor c = editor_->textCursor();
  if (!c.hasSelection()) return editor_->toPlainText();
  QTextDocument* doc = editor_->document();
  const QTextBlock first = doc->findBlock(c.selectionStart());
  const QTextBlock last = doc->findBlock(c.selectionEnd());
  apptext::TSelection sel;
  sel.StartLine = first.blockNumber();
  sel.StartColumn = c.selectionStart() - first.position();
  sel.EndLine = last.blockNumber();
  sel.EndColumn = c.selectionEnd() - last.position();
  return apptext::SelectedText(editor_->toPlainText().split(QLatin1Char('\n')), sel);
}

void Tf_main::UpdateRecentMenu() {
  recentMenu_->clear();
  int n = 1;
  for (const QString& f : model_->Settings.RecentFiles) {
    QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(n++).arg(f));
    connect(a, &QAction::triggered, this, [this, f] { model_->Guarded([&] { LoadFile(f, false); }); });
  }
}

void Tf_main::Refresh() {
  TMainModel& m = *model_;
  refreshing_ = true;
  setWindowTitle(m.WindowCaption);
  pan_left_top_->setText(m.LeftCaption);
  pan_right_top_->setText(m.RightCaption);
  for (auto it = m.Enabled.begin(); it != m.Enabled.end(); ++it)
    if (QAction* a = Action(it.key())) a->setEnabled(it.value());
  recentMenu_->setEnabled(m.IsEnabled("MenuMRU"));
  editMenu_->setEnabled(m.EditMenuEnabled);
  for (const char* a : {"a_results_copy_all", "a_results_copy_selected", "a_results_cut", "a_results_print",
                        "a_results_export", "a_results_info"})
    Action(a)->setEnabled(m.db().Connected());
  nb_explorer_->setEnabled(m.LeftNotebookEnabled);
  // Record edit needs an open table on the Data page.
  Action("a_grid_edit")->setEnabled(m.db().Connected() && ds_sql_data_.DataSet() && ds_sql_data_.DataSet()->Active());
  // Hiding the current tab makes the widget jump to a neighbour: show first, set the
  // current page, then hide, with the signals blocked throughout.
  {
    const QSignalBlocker block(nb_sql_main_);
    for (int i = 0; i < kMainPageCount; ++i)
      if (m.PageVisible[i]) nb_sql_main_->setTabVisible(i, true);
    nb_sql_main_->setCurrentIndex(m.CurrentPage);
    for (int i = 0; i < kMainPageCount; ++i)
      if (!m.PageVisible[i]) nb_sql_main_->setTabVisible(i, false);
  }
  nb_sql_main_->tabBar()->setVisible(m.TabHeight > 0);
  if (text_editor_->toPlainText() != m.DdlText) text_editor_->setPlainText(m.DdlText);
  if (history_->topLevelItemCount() != m.HistoryCount()) {
    history_->clear();
    // Each statement's description (its first 50 characters) on one line of the list.
    for (int i = 0; i < m.HistoryCount(); ++i) {
      QString description = apptext::HistoryDescription(m.HistoryCommand(i));
      description.replace(QStringLiteral("\r\n"), QStringLiteral(" "))
          .replace(QLatin1Char('\n'), QLatin1Char(' '));
      history_->addTopLevelItem(new QTreeWidgetItem(QStringList{description}));
    }
  }
  // The run-option buttons show the options a run applies.
  for (int i = 0; i < kRunOptionCount; ++i) {
    const QSignalBlocker b(runOptions_[i]);
    runOptions_[i]->setChecked(m.Settings.RunOptions[i]);
  }
  if (!m.FocusControl.isEmpty()) {
    if (auto* target = findChild<QWidget*>(m.FocusControl)) target->setFocus();
    m.FocusControl.clear();
  }
  UpdateRecentMenu();
  refreshing_ = false;
}

void Tf_main::ApplySettings() {
  const TMainSettings& s = model_->Settings;
  editor_->setLineWrapMode(s.WordWrap || s.WrapToWindow ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  const QSignalBlocker b1(Action("a_options_word_wrap")), b2(Action("a_options_wrap_to_window")),
      b3(Action("a_options_create_backup"));
  Action("a_options_word_wrap")->setChecked(s.WordWrap);
  Action("a_options_wrap_to_window")->setChecked(s.WrapToWindow);
  Action("a_options_create_backup")->setChecked(s.MakeBackup);
}

void Tf_main::CollectSettings() {
  TMainSettings& s = model_->Settings;
  // Only sizes of panes that were shown: one never laid out keeps the size it was given.
  if (shownSplitter_ > 0) s.SplitterPosition = shownSplitter_;
  if (shownEditorHeight_ > 0) s.EditorHeight = shownEditorHeight_;
  s.EditorFont = editor_->font().toString();
  s.TextEditorFont = text_editor_->font().toString();
}

void Tf_main::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // The window itself became active (not its splash dialog, which shares its activation).
  if (event->type() == QEvent::ActivationChange && QApplication::activeWindow() == this && !showingAtStart_)
    FormActivate();
}

void Tf_main::FormActivate() {
  if (splash_) splash_->hide();
  RestoreOnce();
}

void Tf_main::ShowAtStart() {
  // Some platforms activate a window inside show(); the activation that takes the splash down
  // is the one that arrives through the event loop (or the start's own call, FinishStart).
  showingAtStart_ = true;
  // Maximising is the window manager's work on X11; without one (a bare X server) the window
  // still covers the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->availableGeometry());
  showMaximized();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    splash_->move(screen->availableGeometry().center() - splash_->rect().center());
  splash_->show();
  showingAtStart_ = false;
}

void Tf_main::RestoreOnce() { model_->Activate(); }

void Tf_main::SettingsRestored() {
  const TMainSettings& s = model_->Settings;
  // A pane takes its size once it is laid out (the SQL page may still be hidden).
  pendingSplitter_ = s.SplitterPosition;
  pendingEditorHeight_ = s.EditorHeight;
  ApplyPendingSizes(spl_main_);
  ApplyPendingSizes(spl_sql_);
  QFont f;
  if (!s.EditorFont.isEmpty() && f.fromString(s.EditorFont)) SetEditorFont(editor_, f);
  if (!s.TextEditorFont.isEmpty() && f.fromString(s.TextEditorFont)) SetEditorFont(text_editor_, f);
  ApplySettings();
}

void Tf_main::ApplyPendingSizes(QSplitter* splitter) {
  int& pending = splitter == spl_main_ ? pendingSplitter_ : pendingEditorHeight_;
  if (pending <= 0 || !splitter->isVisible()) return;
  const int total = splitter->orientation() == Qt::Horizontal ? splitter->width() : splitter->height();
  if (total <= pending + splitter->handleWidth()) return;
  const int size = pending;
  pending = 0;
  splitter->setSizes({size, total - size - splitter->handleWidth()});
}

void Tf_main::closeEvent(QCloseEvent* event) {
  // Settings never restored (no activation came) are read first, so that closing does not
  // write the defaults over them.
  RestoreOnce();
  CollectSettings();
  // A row typed on the Data page that the server refuses keeps the window open, the refusal
  // shown: the user corrects it or cancels it on the navigator.
  if (!model_->Guarded([this] { model_->PostPendingRow(); })) {
    event->ignore();
    return;
  }
  model_->Guarded([this] { model_->Exit(); });
  model_->Close();
  event->accept();
}

void Tf_main::LoadFile(const QString& name, bool addToRecent) {
  QFile f(name);
  if (!f.open(QIODevice::ReadOnly)) throw Exception(QStringLiteral("Cannot open file \"%1\"").arg(name));
  // The whole file, however long its lines, in the encoding and line ends it was written in.
  const TScriptText script = scriptfile::Decode(f.readAll());
  editor_->setPlainText(script.Text);
  scriptFormat_ = script.Format;
  model_->OpenSqlFile(name, addToRecent);
  if (!script.Warning.isEmpty()) UiServices().MessageBox(script.Warning, name, TMsgBoxIcon::Warning);
}

void Tf_main::DropFiles(const QStringList& files) {
  // The first dropped file is opened; the others are ignored.
  if (files.isEmpty() || !model_->db().Connected()) return;
  model_->Guarded([&] { LoadFile(files.first(), true); });
}

bool Tf_main::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize || event->type() == QEvent::Show) {
    if (watched == spl_main_ || watched == spl_sql_) {
      ApplyPendingSizes(static_cast<QSplitter*>(watched));
    } else if (watched == spl_main_->widget(0) && pendingSplitter_ <= 0 && spl_main_->isVisible()) {
      if (spl_main_->widget(0)->width() > 0) shownSplitter_ = spl_main_->widget(0)->width();
    } else if (watched == editor_ && pendingEditorHeight_ <= 0 && spl_sql_->isVisible()) {
      if (editor_->height() > 0) shownEditorHeight_ = editor_->height();
    }
  }
  // The SQL editor indents a new line as the line it was started from (the DDL editor does not).
  if (watched == editor_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier &&
        !editor_->isReadOnly()) {
      QTextCursor c = editor_->textCursor();
      const QString line = c.block().text();
      int n = 0;
      while (n < line.size() && n < c.positionInBlock() &&
             (line[n] == QLatin1Char(' ') || line[n] == QLatin1Char('\t')))
        ++n;
      c.insertText(QLatin1Char('\n') + line.left(n));
      editor_->setTextCursor(c);
      editor_->ensureCursorVisible();
      return true;
    }
  }
  if (watched == editor_->viewport() || watched == editor_) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* e = static_cast<QDropEvent*>(event);
      if (e->mimeData()->hasUrls()) {
        e->acceptProposedAction();
        return true;
      }
    } else if (event->type() == QEvent::Drop) {
      auto* e = static_cast<QDropEvent*>(event);
      if (e->mimeData()->hasUrls()) {
        QStringList files;
        for (const QUrl& u : e->mimeData()->urls())
          if (u.isLocalFile()) files << u.toLocalFile();
        e->acceptProposedAction();
        DropFiles(files);
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

TStOpenDialog* Tf_main::OpenDialog() {
  // Made once and kept, so each Open starts in the folder, type and view the last one left.
  if (!openDialog_) openDialog_ = new TStOpenDialog(QString(), this);
  return openDialog_;
}

void Tf_main::OpenFile() {
  TStOpenDialog* dlg = OpenDialog();
  dlg->State().Chosen = false;
  if (dlg->exec() == QDialog::Accepted && dlg->State().Chosen) LoadFile(dlg->State().FileName, true);
}

void Tf_main::SaveFile(bool ask) {
  QString name = model_->EditorFileName;
  if (ask || name == QLatin1String("untitled") || name.isEmpty()) {
    name = QFileDialog::getSaveFileName(this, QStringLiteral("Save file as"), QString(),
                                        QStringLiteral("Sql files (*.sql);;Text files (*.txt);;All files (*.*)"));
    if (name.isEmpty()) return;
  }
  WriteScript(name);
}

void Tf_main::WriteScript(const QString& name) {
  // A file that was not text when it was opened is written over only when the user says so.
  if (scriptFormat_.Binary && name == model_->EditorFileName &&
      !Confirm(QStringLiteral("\"%1\" was not a text file when it was opened (it holds NUL bytes). "
                              "Replace its contents with the editor's text?").arg(name)))
    Abort();
  TScriptFormat format = scriptFormat_;
  format.Binary = false;
  QByteArray bytes;
  QString unwritable;
  if (!scriptfile::Encode(editor_->toPlainText(), format, bytes, &unwritable)) {
    if (!Confirm(QStringLiteral("The script holds %1, which the file's Windows-1252 encoding cannot hold. "
                                "Save it as UTF-8 instead?").arg(unwritable)))
      Abort();
    format.Encoding = TScriptFormat::Utf8;
    format.ByteOrderMark = false;
    scriptfile::Encode(editor_->toPlainText(), format, bytes);
  }
  if (model_->Settings.MakeBackup && QFile::exists(name)) {
    const QString bak = QFileInfo(name).path() + QLatin1Char('/') + QFileInfo(name).completeBaseName() + QStringLiteral(".BAK");
    QFile::remove(bak);
    QFile::copy(name, bak);
  }
  QSaveFile f(name);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) < 0 || !f.commit())
    throw Exception(QStringLiteral("Cannot save file \"%1\"").arg(name));
  scriptFormat_ = format;
  model_->SavedAs(name);
}

void Tf_main::Export() {
  TMainModel& m = *model_;
  if (m.Grid()->Active() &&
      QMessageBox::question(this, QStringLiteral("Close"), QStringLiteral("Query still executing. Continue Export ?")) !=
          QMessageBox::Yes)
    return;
  Tf_export dlg(this);
  if (dlg.exec() != QDialog::Accepted) return;
  const TExportState st = dlg.State();
  const int code = TExportState::GridExportCode(st.FormatCode);
  const QString filters = QStringLiteral("HTML files (*.html *.htm);;Sql files (*.sql);;Text files (*.txt);;All files (*)");
  QString selected = code == 6 ? QStringLiteral("HTML files (*.html *.htm)") : QStringLiteral("Sql files (*.sql)");
  const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save file as"), QString(), filters, &selected);
  if (name.isEmpty()) return;
  m.Grid()->ExportToFile(!st.ExportSelected, code, name, st.Delimiter);
}

void Tf_main::PrintGrid() {
  if (model_->Grid()->Cells().size() <= 1) return;
  QPrinter printer;
  QPrintDialog dlg(&printer, this);
  const bool selected = grid_->selectionModel()->hasSelection();
  dlg.setOption(QAbstractPrintDialog::PrintSelection, selected);
  if (dlg.exec() != QDialog::Accepted) return;
  PrintGridTo(printer);
}

bool Tf_main::PrintGridTo(QPrinter& printer) {
  const auto cells = model_->Grid()->Cells();
  // A grid with its header row only has nothing to print.
  if (cells.size() <= 1) return false;
  int cols = 0;
  for (const auto& r : cells) cols = std::max<int>(cols, r.size());
  QString text;
  if (printer.printRange() == QPrinter::Selection && grid_->selectionModel()->hasSelection()) {
    const auto r = resultGrid_->Grid().Selection;
    text = model_->GridText(r.top, r.left, r.bottom, r.right);
  } else {
    // All and a page range print the rows; the document keeps only the chosen pages.
    text = model_->GridText(model_->Grid()->KeepHeader() ? 0 : 1, 1, int(cells.size()) - 1, cols - 1);
  }
  PrintText(printer, text.remove(QLatin1Char('\r')), grid_->font());
  return true;
}

void Tf_main::PrintEditor(QPlainTextEdit* edit) {
  QPrinter printer;
  QPrintDialog dlg(&printer, this);
  dlg.setOption(QAbstractPrintDialog::PrintSelection, edit->textCursor().hasSelection());
  if (dlg.exec() != QDialog::Accepted) return;
  PrintEditorTo(edit, printer);
}

void Tf_main::PrintEditorTo(QPlainTextEdit* edit, QPrinter& printer) {
  QString text = edit->toPlainText();
  if (printer.printRange() == QPrinter::Selection && edit->textCursor().hasSelection()) {
    const QTextCursor c = edit->textCursor();
    QTextDocument* d = edit->document();
    const QTextBlock first = d->findBlock(c.selectionStart()), last = d->findBlock(c.selectionEnd());
    apptext::TSelection sel{first.blockNumber(), c.selectionStart() - first.position(), last.blockNumber(),
                            c.selectionEnd() - last.position()};
    text = apptext::SelectedLines(text.split(QLatin1Char('\n')), sel).join(QLatin1Char('\n'));
  }
  PrintText(printer, text, edit->font());
}

void Tf_main::PrintText(QPrinter& printer, const QString& text, const QFont& font) {
  // One printed line per text line in the given font; QTextDocument::print keeps the pages of
  // a page range and prints them.
  QTextDocument doc;
  doc.setDefaultFont(font);
  doc.setPlainText(text);
  doc.print(&printer);
}
