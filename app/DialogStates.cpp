// Plain state classes of the smaller dialogs (see DialogStates.h).
#include "app/DialogStates.h"

#include <QFileInfo>
#include <cmath>
#include <limits>

void TExportState::Ok() {
  static const int codes[] = {1, 2, 3, 4, 5};
  FormatCode = codes[Checked];
}

int TExportState::GridExportCode(int dialogCode) {
  switch (dialogCode) {
    case 1: return 0;
    case 2: return 1;
    case 3: return 5;
    case 4: return 6;
    case 5: return 2;
    default: return -1;
  }
}

TOpenDialogState::TOpenDialogState(const QString& folder) : Folder(QDir(folder).absolutePath()) { ApplyType(); }

void TOpenDialogState::ApplyType() {
  const QString type = Types.value(TypeIndex);
  const qsizetype open = type.indexOf(QLatin1Char('('));
  Filter = open < 0 ? QStringLiteral("*.*") : type.mid(open + 1).chopped(1);
  Filtering = true;
}

bool TOpenDialogState::Open() {
  FileName.clear();
  Chosen = false;
  SelectText = false;
  const QString t = FileNameText;
  if (t.isEmpty() || t.contains(QLatin1Char('*')) || t.contains(QLatin1Char('?'))) {
    if (!t.isEmpty()) Filter = t;
    Filtering = true;
    return false;
  }
  Filtering = false;
  if (QFileInfo(t).isAbsolute() && QFileInfo(t).isDir()) {
    Folder = QDir(t).absolutePath();
    SelectText = true;
    return false;
  }
  const QString p = QDir(Folder).filePath(t);
  const QFileInfo info(p);
  if (info.isDir()) {
    Folder = QDir(p).absolutePath();
    SelectText = true;
    return false;
  }
  if (info.isFile()) {
    FileName = info.absoluteFilePath();
    Chosen = true;
    return true;
  }
  return false;
}

bool TOpenDialogState::Choose(const QString& path) {
  FileName.clear();
  Chosen = false;
  const QFileInfo info(path);
  if (!info.isFile()) return false;
  FileName = info.absoluteFilePath();
  Chosen = true;
  return true;
}

QStringList TOpenDialogState::FolderChain() const {
  QStringList chain;
  QDir d(Folder);
  chain << d.absolutePath();
  while (d.cdUp()) chain << d.absolutePath();
  return chain;
}

QString TOpenDialogState::NewFolder() {
  QDir d(Folder);
  QString name = QStringLiteral("New Folder");
  for (int n = 2; d.exists(name); ++n) name = QStringLiteral("New Folder (%1)").arg(n);
  return d.mkdir(name) ? d.filePath(name) : QString();
}

void TOpenDialogState::UpOneLevel() {
  QDir d(Folder);
  if (d.cdUp()) Folder = d.absolutePath();
}

QStringList TOpenDialogState::Entries() const {
  QDir d(Folder);
  QStringList out = d.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  QStringList masks;
  if (Filtering && Filter != QLatin1String("*.*")) masks = Filter.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  out += d.entryList(masks, QDir::Files, QDir::Name | QDir::IgnoreCase);
  return out;
}

bool TOpenDialogState::Previewable(const QString& path) {
  static const QStringList exts{"txt", "bat", "pas", "sql", "cpp", "c", "h", "hpp"};
  return exts.contains(QFileInfo(path).suffix().toLower());
}

void TCalculatorState::Show(double v) {
  if (!std::isfinite(v)) {
    Display = QStringLiteral("Error");
    error_ = true;
    return;
  }
  Display = QString::number(v, 'g', 15);
}

void TCalculatorState::Press(const QString& key) {
  if (key == QLatin1String("C")) {
    Display = QStringLiteral("0");
    accumulator_ = 0;
    pending_ = QChar();
    fresh_ = true;
    error_ = false;
    return;
  }
  if (error_) return;
  if (key.size() == 1 && key[0].isDigit()) {
    if (fresh_ || Display == QLatin1String("0")) Display = key;
    else if (Display.size() < 20) Display += key;
    fresh_ = false;
  } else if (key == QLatin1String(".")) {
    if (fresh_) Display = QStringLiteral("0");
    if (!Display.contains(QLatin1Char('.'))) Display += key;
    fresh_ = false;
  } else if (key == QLatin1String("<")) {
    if (!fresh_) Display.chop(1);
    if (Display.isEmpty() || Display == QLatin1String("-")) Display = QStringLiteral("0");
  } else if (key == QStringLiteral("±")) {
    if (Display != QLatin1String("0")) Display = Display.startsWith(QLatin1Char('-')) ? Display.mid(1) : QLatin1Char('-') + Display;
  } else if (key.size() == 1 && QStringLiteral("+-*/=").contains(key[0])) {
    // A chain applies each operator when the next one (or "=") comes.
    if (!fresh_ || key == QLatin1String("=")) {
      const double v = Value();
      double r = v;
      if (pending_ == QLatin1Char('+')) r = accumulator_ + v;
      else if (pending_ == QLatin1Char('-')) r = accumulator_ - v;
      else if (pending_ == QLatin1Char('*')) r = accumulator_ * v;
      else if (pending_ == QLatin1Char('/')) r = v == 0 ? std::numeric_limits<double>::infinity() : accumulator_ / v;
      if (!pending_.isNull()) Show(r);
      accumulator_ = error_ ? 0 : Value();
    }
    pending_ = key == QLatin1String("=") ? QChar() : key[0];
    fresh_ = true;
  }
}

TDesktopState::TDesktopState(const QString& folder) : Folder(QDir(folder).absolutePath()) {}

void TDesktopState::ChooseView(TView view) {
  if (view == vwList) return;
  Checked = view;
  Style = view;
}

void TDesktopState::UpOneLevel() {
  QDir d(Folder);
  if (d.cdUp()) Folder = d.absolutePath();
}

void TDesktopState::CopyFiles(const QStringList& files) {
  clip_ = files;
  cut_ = false;
  CopyEnabled = false;
}

void TDesktopState::CutFiles(const QStringList& files) {
  clip_ = files;
  cut_ = true;
  CutEnabled = false;
}

QStringList TDesktopState::Paste() {
  QStringList failed;
  for (const QString& f : std::as_const(clip_)) {
    const QFileInfo src(f);
    const QString target = QDir(Folder).filePath(src.fileName());
    if (src.absoluteFilePath() == QFileInfo(target).absoluteFilePath()) continue;
    if (!src.isFile() || QFileInfo::exists(target)) {
      failed << src.fileName();
      continue;
    }
    const bool ok = cut_ ? QFile::rename(f, target) : QFile::copy(f, target);
    if (!ok) failed << src.fileName();
  }
  // A cut moves once; what was copied can be pasted again elsewhere.
  if (cut_) clip_.clear();
  CutEnabled = CopyEnabled = true;
  return failed;
}
