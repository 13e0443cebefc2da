// The smaller windows (see Dialogs.h).
#include "app/Dialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "access/UiServices.h"
#include "app/ScriptFile.h"

namespace {
QLineEdit* ReadOnlyEdit(const QString& text) {
  auto* e = new QLineEdit(text);
  e->setReadOnly(true);
  e->setMinimumWidth(320);
  e->setCursorPosition(0);
  return e;
}
}  // namespace

Tf_export::Tf_export(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Export"));
  auto* top = new QVBoxLayout(this);
  auto* fmt = new QGroupBox(QStringLiteral("Format"));
  auto* fl = new QVBoxLayout(fmt);
  const char* names[5] = {"Fixed length", "TAB delimited", "Char delimited", "HTML", "Comma"};
  for (int i = 0; i < 5; ++i) {
    formats_[i] = new QRadioButton(QString::fromLatin1(names[i]));
    fl->addWidget(formats_[i]);
    connect(formats_[i], &QRadioButton::clicked, this, [this, i] {
      state_.Check(TExportState::TFormat(i));
      Sync();
      if (i == TExportState::Char) e_char_->setFocus();
    });
  }
  auto* dl = new QHBoxLayout;
  delimLabel_ = new QLabel(QStringLiteral("Delimiter :"));
  e_char_ = new QLineEdit;
  e_char_->setMaxLength(10);
  connect(e_char_, &QLineEdit::textChanged, this, [this](const QString& t) { state_.SetDelimiter(t); });
  dl->addWidget(delimLabel_);
  dl->addWidget(e_char_);
  fl->addLayout(dl);
  top->addWidget(fmt);
  auto* range = new QGroupBox(QStringLiteral("Range"));
  auto* rl = new QVBoxLayout(range);
  auto* all = new QRadioButton(QStringLiteral("Export All"));
  chk_selected_ = new QRadioButton(QStringLiteral("Export Selected"));
  all->setChecked(true);
  connect(chk_selected_, &QRadioButton::toggled, this, [this](bool on) { state_.ExportSelected = on; });
  rl->addWidget(all);
  rl->addWidget(chk_selected_);
  top->addWidget(range);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    state_.Ok();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] {
    state_.Cancel();
    reject();
  });
  // No help file comes with the program: Help tells what the choices do.
  connect(buttons, &QDialogButtonBox::helpRequested, this, [] {
    UiServices().MessageBox(QString::fromLatin1(TExportState::kHelpText), QStringLiteral("Export"),
                            TMsgBoxIcon::Information);
  });
  top->addWidget(buttons);
  Sync();
}

void Tf_export::Sync() {
  formats_[state_.Checked]->setChecked(true);
  const bool on = state_.DelimiterEnabled();
  e_char_->setEnabled(on);
  e_char_->setReadOnly(!on);
  e_char_->setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
  delimLabel_->setEnabled(on);
}

TSplashDialog::TSplashDialog(QWidget* parent) : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("SplashDialog"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(400, 250);
  auto* top = new QVBoxLayout(this);
  auto* name = new QLabel(QStringLiteral("Qorix Tabulon"));
  QFont f = name->font();
  f.setPointSize(24);
  f.setBold(true);
  name->setFont(f);
  name->setAlignment(Qt::AlignCenter);
  auto* version = new QLabel(QStringLiteral("Version 1.2.2"));
  version->setAlignment(Qt::AlignCenter);
  top->addStretch();
  top->addWidget(name);
  top->addWidget(version);
  top->addStretch();
  setStyleSheet(QStringLiteral("#SplashDialog { border: 2px solid palette(dark); }"));
}

Tf_results_info::Tf_results_info(const TResultsInfo& info, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Results Information"));
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Start time:"), ReadOnlyEdit(info.StartTime));
  form->addRow(QStringLiteral("End time:"), ReadOnlyEdit(info.EndTime));
  form->addRow(QStringLiteral("Database:"), ReadOnlyEdit(info.Database));
  form->addRow(QStringLiteral("Server:"), ReadOnlyEdit(info.Server));
  form->addRow(QStringLiteral("User:"), ReadOnlyEdit(info.User));
  auto* sql = new QPlainTextEdit(info.SQL);
  sql->setReadOnly(true);
  sql->setMinimumHeight(100);
  form->addRow(QStringLiteral("SQL:"), sql);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  form->addRow(ok);
}

Tf_sybinfo::Tf_sybinfo(const TSybInfo& info, QWidget* parent) : QDialog(parent) {
  setWindowTitle(info.Caption);
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Character set"), ReadOnlyEdit(info.CharSet));
  form->addRow(QStringLiteral("Language"), ReadOnlyEdit(info.Language));
  form->addRow(QStringLiteral("Sortorder"), ReadOnlyEdit(info.SortOrder));
  form->addRow(QStringLiteral("DB Version"), ReadOnlyEdit(info.DbVersion));
  form->addRow(QStringLiteral("Open Client version"), ReadOnlyEdit(info.QorixVersion));
  form->addRow(QStringLiteral("INI file"), ReadOnlyEdit(info.IniFile));
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  form->addRow(ok);
}

QPixmap LogoPixmap(int size) {
  // A grid of cells under a dark band: the program's results table, drawn rather than shipped.
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x1f, 0x3a, 0x5f), 2));
  p.setBrush(QColor(0xf4, 0xf7, 0xfb));
  const QRectF r(1, 1, size - 2, size - 2);
  p.drawRoundedRect(r, size / 8.0, size / 8.0);
  p.setBrush(QColor(0x1f, 0x3a, 0x5f));
  p.drawRect(QRectF(1, 1, size - 2, size / 4.0));
  p.setPen(QPen(QColor(0x1f, 0x3a, 0x5f), 1));
  for (int i = 1; i < 3; ++i) {
    const double y = size / 4.0 + i * (size * 0.75 - 2) / 3.0;
    p.drawLine(QPointF(1, y), QPointF(size - 1, y));
    const double x = i * (size - 2) / 3.0;
    p.drawLine(QPointF(x, size / 4.0), QPointF(x, size - 1));
  }
  QFont f;
  f.setBold(true);
  f.setPixelSize(size / 5);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRectF(1, 1, size - 2, size / 4.0), Qt::AlignCenter, QStringLiteral("TABULON"));
  return pm;
}

TAboutBox::TAboutBox(const TSystemInfo& info, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Qorix Tabulon"));
  // A dialog without border icons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* top = new QVBoxLayout(this);
  auto* head = new QHBoxLayout;
  auto* logo = new QLabel;
  logo->setObjectName(QStringLiteral("img_logo"));
  logo->setPixmap(LogoPixmap(64));
  head->addWidget(logo);
  auto* titles = new QVBoxLayout;
  auto* name = new QLabel(QStringLiteral("Qorix Tabulon"));
  QFont f = name->font();
  f.setPointSize(f.pointSize() + 8);
  f.setBold(true);
  name->setFont(f);
  titles->addWidget(name);
  titles->addWidget(new QLabel(QStringLiteral("Version 1.2.2")));
  head->addLayout(titles, 1);
  top->addLayout(head);
  top->addWidget(new QLabel(QStringLiteral("Explorer and query tool for TDS 5.0 database servers.")));
  // The web and mail links: no address is known, so they show disabled.
  auto* web = new QLabel(QStringLiteral("Tabulon home page (no address known)"));
  web->setObjectName(QStringLiteral("lab_web"));
  auto* mail = new QLabel(QStringLiteral("E-Mail the author (no address known)"));
  mail->setObjectName(QStringLiteral("lab_mail"));
  for (QLabel* link : {web, mail}) {
    link->setEnabled(false);
    top->addWidget(link);
  }
  auto* box = new QGroupBox(QStringLiteral(" System Information "));
  auto* form = new QFormLayout(box);
  auto* os = new QLabel(info.OsText());
  os->setWordWrap(true);
  os->setObjectName(QStringLiteral("lab_os"));
  form->addRow(os);
  auto* total = new QLabel(QString::number(info.TotalPhysMemory()) + QStringLiteral(" KB"));
  total->setObjectName(QStringLiteral("lab_total_mem"));
  auto* avail = new QLabel(QString::number(info.AvailPhysMemory()) + QStringLiteral(" KB"));
  avail->setObjectName(QStringLiteral("lab_avail_mem"));
  auto* proc = new QLabel(info.ProcessorType);
  proc->setObjectName(QStringLiteral("lab_processor"));
  auto* num = new QLabel(QString::number(info.NumberOfProcessors));
  num->setObjectName(QStringLiteral("lab_num_processors"));
  form->addRow(QStringLiteral("Total Memory:"), total);
  form->addRow(QStringLiteral("Available Memory:"), avail);
  form->addRow(QStringLiteral("Processor:"), proc);
  form->addRow(QStringLiteral("Number of Processors:"), num);
  top->addWidget(box);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  top->addWidget(ok);
  setMinimumWidth(420);
}

TStOpenDialog::TStOpenDialog(const QString& folder, QWidget* parent)
    : QDialog(parent), state_(folder.isEmpty() ? QDir::currentPath() : folder) {
  setWindowTitle(QStringLiteral("Open"));
  auto* top = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto* lookIn = new QLabel(QStringLiteral("Look &in:"));
  folderCb_ = new QComboBox;
  folderCb_->setObjectName(QStringLiteral("cb_folder"));
  lookIn->setBuddy(folderCb_);
  bar->addWidget(lookIn);
  bar->addWidget(folderCb_, 1);
  // A folder chosen in the combo (the folder or one above it) becomes the list's folder.
  connect(folderCb_, &QComboBox::activated, this, [this](int i) {
    state_.Folder = folderCb_->itemText(i);
    Reload();
  });
  auto tool = [this, bar](const char* name, QStyle::StandardPixmap icon, const QString& tip) {
    auto* b = new QToolButton;
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(tip);
    bar->addWidget(b);
    return b;
  };
  connect(tool("btn_up", QStyle::SP_FileDialogToParent, QStringLiteral("Up one level")), &QToolButton::clicked, this,
          [this] {
            state_.UpOneLevel();
            Reload();
          });
  connect(tool("btn_new_folder", QStyle::SP_FileDialogNewFolder, QStringLiteral("Create new folder")),
          &QToolButton::clicked, this, [this] {
            const QString made = state_.NewFolder();
            Reload();
            if (made.isEmpty()) {
              UiServices().MessageBox(QStringLiteral("Cannot create a folder in \"%1\"").arg(state_.Folder),
                                      QStringLiteral("Open"), TMsgBoxIcon::Warning);
              return;
            }
            const auto found = lv_files_->findItems(QFileInfo(made).fileName(), Qt::MatchExactly);
            if (!found.isEmpty()) lv_files_->setCurrentItem(found.first());
          });
  QToolButton* list = tool("btn_list", QStyle::SP_FileDialogListView, QStringLiteral("List"));
  QToolButton* details = tool("btn_details", QStyle::SP_FileDialogDetailedView, QStringLiteral("Details"));
  for (QToolButton* b : {list, details}) b->setCheckable(true);
  auto* views = new QButtonGroup(this);
  views->addButton(list);
  views->addButton(details);
  list->setChecked(true);
  connect(list, &QToolButton::clicked, this, [this] {
    state_.Details = false;
    Reload();
  });
  connect(details, &QToolButton::clicked, this, [this] {
    state_.Details = true;
    Reload();
  });
  top->addLayout(bar);
  auto* mid = new QHBoxLayout;
  lv_details_ = new QTreeWidget;
  lv_details_->setObjectName(QStringLiteral("lv_details"));
  lv_details_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Type"),
                                QStringLiteral("Modified")});
  lv_details_->setRootIsDecorated(false);
  lv_details_->hide();
  mid->addWidget(lv_details_, 1);
  connect(lv_details_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { if (item) ItemSelected(item->text(0)); });
  connect(lv_details_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    const auto found = lv_files_->findItems(item->text(0), Qt::MatchExactly);
    if (!found.isEmpty()) emit lv_files_->itemDoubleClicked(found.first());
  });
  lv_files_ = new QListWidget;
  preview_ = new QPlainTextEdit;
  preview_->setReadOnly(true);
  preview_->setTabStopDistance(8 * preview_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  mid->addWidget(lv_files_, 1);
  mid->addWidget(preview_, 1);
  top->addLayout(mid, 1);
  auto* form = new QFormLayout;
  fileNameEd_ = new QLineEdit;
  typeCb_ = new QComboBox;
  typeCb_->addItems(state_.Types);
  // The labels carry their accelerators (Alt+N, Alt+T) for the field each names.
  form->addRow(QStringLiteral("File &name:"), fileNameEd_);
  form->addRow(QStringLiteral("Files of &type:"), typeCb_);
  top->addLayout(form);
  auto* buttons = new QDialogButtonBox;
  auto* open = buttons->addButton(QStringLiteral("&Open"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  open->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &TStOpenDialog::OpenClick);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(buttons);
  connect(typeCb_, &QComboBox::currentIndexChanged, this, [this](int i) {
    state_.TypeIndex = i;
    state_.ApplyType();
    Reload();
  });
  connect(lv_files_, &QListWidget::currentTextChanged, this, &TStOpenDialog::ItemSelected);
  connect(lv_files_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    const QString path = QDir(state_.Folder).filePath(item->text());
    if (QFileInfo(path).isDir()) {
      state_.Folder = QDir(path).absolutePath();
      Reload();
    } else if (state_.Choose(path)) {
      accept();
    }
  });
  fileNameEd_->setFocus();
  resize(640, 400);
  Reload();
}

void TStOpenDialog::Reload() {
  {
    const QSignalBlocker block(folderCb_);
    folderCb_->clear();
    folderCb_->addItems(state_.FolderChain());
    folderCb_->setCurrentIndex(0);
  }
  const QStringList entries = state_.Entries();
  lv_files_->clear();
  lv_details_->clear();
  const QLocale loc;
  // Folders and files each with the platform's picture of its kind, so a folder is told from
  // a file in both views.
  const QFileIconProvider icons;
  for (const QString& name : entries) {
    const QFileInfo info(QDir(state_.Folder).filePath(name));
    const QIcon icon = icons.icon(info.isDir() ? QFileIconProvider::Folder : QFileIconProvider::File);
    new QListWidgetItem(icon, name, lv_files_);
    auto* item = new QTreeWidgetItem(lv_details_);
    item->setIcon(0, icon);
    item->setText(0, name);
    item->setText(1, info.isDir() ? QString() : loc.formattedDataSize(info.size()));
    item->setText(2, info.isDir() ? QStringLiteral("Folder") : info.suffix().toUpper() + QStringLiteral(" file"));
    item->setText(3, loc.toString(info.lastModified(), QLocale::ShortFormat));
  }
  lv_files_->setVisible(!state_.Details);
  lv_details_->setVisible(state_.Details);
}

void TStOpenDialog::showEvent(QShowEvent* event) {
  state_.ApplyType();
  Reload();
  QDialog::showEvent(event);
}

QAbstractButton* TStOpenDialog::Button(const QString& name) const { return findChild<QAbstractButton*>(name); }

void TStOpenDialog::ItemSelected(const QString& name) {
  const QString path = QDir(state_.Folder).filePath(name);
  const QFileInfo info(path);
  if (name.isEmpty() || info.isDir()) return;
  fileNameEd_->setText(name);
  preview_->clear();
  if (info.isFile() && TOpenDialogState::Previewable(path)) {
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) preview_->setPlainText(scriptfile::Decode(f.read(256 * 1024)).Text);
  }
}

void TStOpenDialog::OpenClick() {
  state_.FileNameText = fileNameEd_->text();
  if (state_.Open()) return accept();
  if (state_.SelectText) fileNameEd_->selectAll();
  Reload();
}

TScratchPadDlg::TScratchPadDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Qorix Tabulon scratch pad"));
  auto* top = new QVBoxLayout(this);
  auto* memo = new QPlainTextEdit;
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  top->addWidget(memo);
  resize(400, 250);
}

TCalculatorDlg::TCalculatorDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Qorix Tabulon"));
  auto* top = new QVBoxLayout(this);
  display_ = new QLineEdit(state_.Display);
  display_->setReadOnly(true);
  display_->setAlignment(Qt::AlignRight);
  QFont f = display_->font();
  f.setPointSize(f.pointSize() > 0 ? f.pointSize() + 4 : 14);
  display_->setFont(f);
  top->addWidget(display_);
  auto* keys = new QGridLayout;
  const char* const rows[5][4] = {{"C", "<", "\u00b1", "/"}, {"7", "8", "9", "*"}, {"4", "5", "6", "-"},
                                  {"1", "2", "3", "+"}, {"0", ".", "=", ""}};
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 4; ++c) {
      const QString key = QString::fromUtf8(rows[r][c]);
      if (key.isEmpty()) continue;
      auto* b = new QPushButton(key);
      connect(b, &QPushButton::clicked, this, [this, key] { Press(key); });
      keys->addWidget(b, r, c);
    }
  top->addLayout(keys);
  resize(400, 250);
}

void TCalculatorDlg::Press(const QString& key) {
  state_.Press(key);
  display_->setText(state_.Display);
}
