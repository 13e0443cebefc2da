// The server windows' widgets (see ServerDialogs.h).
#include "app/ServerDialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTabBar>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "access/UiServices.h"
#include "catalog/views/QorixProcessView.h"
#include "catalog/views/QxListWidget.h"

// --- Server Configuration -------------------------------------------------------------------

Tf_serverconfig::Tf_serverconfig(TQorixDatabase* db, QWidget* parent) : QDialog(parent), state_(db) {
  setObjectName(QStringLiteral("f_serverconfig"));
  setWindowTitle(QStringLiteral("Server Configuration"));
  auto* l = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("View:")));
  view_ = new QComboBox;
  view_->addItems({QStringLiteral("All"), QStringLiteral("By category")});
  view_->setCurrentIndex(TServerConfigState::vwByCategory);
  top->addWidget(view_);
  top->addStretch();
  l->addLayout(top);
  rv_config_ = new QTreeWidget;
  rv_config_->setObjectName(QStringLiteral("rv_config"));
  rv_config_->setRootIsDecorated(true);
  rv_config_->setAlternatingRowColors(true);
  l->addWidget(rv_config_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  QPushButton* print = buttons->addButton(QStringLiteral("Print..."), QDialogButtonBox::ActionRole);
  l->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(print, &QPushButton::clicked, this, [this] { Print(); });
  connect(view_, &QComboBox::currentIndexChanged, this, [this](int index) {
    state_.View = static_cast<TServerConfigState::TView>(index);
    Fill();
  });
  resize(760, 520);
  Fill();
}

void Tf_serverconfig::LoadConfiguration() {
  state_.LoadConfiguration();
  Fill();
}

void Tf_serverconfig::Fill() {
  rv_config_->clear();
  rv_config_->setHeaderLabels(state_.Columns());
  if (state_.View == TServerConfigState::vwAll) {
    for (const auto& r : state_.Rows()) rv_config_->addTopLevelItem(new QTreeWidgetItem(state_.Cells(r)));
  } else {
    // A group line with its parameters below it; the group's cell is on the group line only.
    QTreeWidgetItem* group = nullptr;
    for (const auto& r : state_.Rows()) {
      if (!group || group->text(0) != r.Category) {
        group = new QTreeWidgetItem(QStringList{r.Category});
        QFont f = group->font(0);
        f.setBold(true);
        group->setFont(0, f);
        rv_config_->addTopLevelItem(group);
        group->setExpanded(true);
      }
      QStringList cells = state_.Cells(r);
      cells[0].clear();
      group->addChild(new QTreeWidgetItem(cells));
    }
    rv_config_->expandAll();
  }
  for (int c = 0; c < rv_config_->columnCount(); ++c) rv_config_->resizeColumnToContents(c);
}

void Tf_serverconfig::Print() {
  QPrinter printer;
  QPrintDialog dlg(&printer, this);
  if (dlg.exec() != QDialog::Accepted) return;
  QTextDocument doc;
  QFont f(QStringLiteral("Courier"));
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSize(8);
  doc.setDefaultFont(f);
  doc.setPlainText(state_.ReportLines().join(QLatin1Char('\n')));
  doc.print(&printer);
}

// --- Server Processes -----------------------------------------------------------------------

TProcessesFrm::TProcessesFrm(TQorixDatabase* db, QWidget* parent) : QDialog(parent), state_(db) {
  setObjectName(QStringLiteral("ProcessesFrm"));
  setWindowTitle(QStringLiteral("Server Processes"));
  auto* l = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto* close = new QToolButton;
  close->setText(QStringLiteral("Close"));
  close->setToolTip(QStringLiteral("Close"));
  bar->addWidget(close);
  bar->addStretch();
  l->addLayout(bar);
  tabs_ = new QTabBar;
  tabs_->setObjectName(QStringLiteral("nb_processes"));
  for (const QString& c : TProcessesState::TabCaptions()) tabs_->addTab(c);
  l->addWidget(tabs_);
  list_ = new TQxListWidget(&state_.View().Contents());
  list_->setObjectName(QStringLiteral("pv"));
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAlternatingRowColors(true);
  l->addWidget(list_);
  connect(close, &QToolButton::clicked, this, &QDialog::accept);
  connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
    if (shown_) RefreshProcesses(index);
  });
  resize(860, 480);
}

TProcessesFrm::~TProcessesFrm() { list_->SetContents(nullptr); }

void TProcessesFrm::RefreshProcesses(int index) {
  GuardedCall([&] { state_.RefreshProcesses(index); });
  list_->Rebuild();
}

void TProcessesFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  RefreshProcesses(tabs_->currentIndex());
}
