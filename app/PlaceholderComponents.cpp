// Stand-ins for missing pieces of the main window (see PlaceholderComponents.h).
#include "app/PlaceholderComponents.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/SysUtils.h"

void TDatabaseListExplorer::LoadServer() {
  Databases.clear();
  selected_ = -1;
  if (!db_ || !db_->Connected()) return;
  TQorixEnhQuery q;
  q.SetDatabase(db_);
  q.SetSQL(QStringLiteral("select name from master..sysdatabases order by name"));
  q.Open();
  while (q.Next()) Databases << q.GetFieldValue(1).trimmed();
  if (Changed) Changed();
}

TExplorerSelection TDatabaseListExplorer::Selection() const {
  TExplorerSelection s;
  if (selected_ < 0 || selected_ >= Databases.size()) return s;
  s.SelectedDb = Databases[selected_];
  s.SelectedObject = Databases[selected_];
  s.SelectedKind = 1;  // okDatabase
  s.SingleObject = true;
  return s;
}

TForegroundResultGrid::TForegroundResultGrid(TQorixDatabase* db) : db_(db), query_(std::make_unique<TQorixEnhQuery>()) {
  query_->SetDatabase(db_);
  query_->SetShowDbMessages(TShowDbMessages{});
  query_->UseExecCursor = false;
}

TForegroundResultGrid::~TForegroundResultGrid() = default;

QStringList TForegroundResultGrid::SplitBatches(const QString& script) {
  QStringList batches;
  QString current;
  static const QRegularExpression eol(QStringLiteral("\r?\n"));
  static const QRegularExpression go(QStringLiteral("^\\s*go\\s*$"), QRegularExpression::CaseInsensitiveOption);
  for (const QString& line : script.split(eol)) {
    if (go.match(line).hasMatch()) {
      if (!current.trimmed().isEmpty()) batches << current;
      current.clear();
    } else {
      current += line + QLatin1Char('\n');
    }
  }
  if (!current.trimmed().isEmpty()) batches << current;
  return batches;
}

void TForegroundResultGrid::Execute() {
  // Row 0 and column 0 are the grid's fixed row and column.
  cells_.assign(1, QStringList{QString()});
  auto add = [this](QStringList row) {
    row.prepend(QString());
    cells_.push_back(row);
  };
  QString error, message;
  for (const QString& batch : SplitBatches(sql_)) {
    query_->SetSQL(batch);
    query_->SetLastError(QString());
    query_->SetLastMessage(QString());
    bool header = false;
    query_->OnHeader = [&](TComponent*) {
      QStringList h;
      for (int i = 1; i <= query_->ColumnCount(); ++i) h << query_->GetFieldName(i);
      add(h);
      header = true;
    };
    query_->OnResultRow = [&](TComponent*) {
      QStringList row;
      for (int i = 1; i <= query_->ColumnCount(); ++i)
        row << (query_->FieldIsNull(i) ? QStringLiteral("(NULL)") : query_->GetFieldValue(i));
      add(row);
    };
    try {
      query_->ExecSQL();
      if (!header) add({QStringLiteral("(%1 rows affected)").arg(query_->GetRowCount())});
    } catch (const std::exception& e) {
      error += QString::fromUtf8(e.what()) + QLatin1Char('\n');
    }
    if (!query_->LastError().isEmpty()) error += query_->LastError() + QLatin1Char('\n');
    if (!query_->LastMessage().isEmpty()) message += query_->LastMessage() + QLatin1Char('\n');
    query_->OnHeader = nullptr;
    query_->OnResultRow = nullptr;
  }
  add({QStringLiteral("Execution Completed")});
  if (Changed) Changed();
  if (AfterExec) AfterExec();
  if (OnThreadTerminate) OnThreadTerminate(error, message);
}

std::vector<int> TForegroundResultGrid::ColumnWidths() const {
  size_t columns = 0;
  for (const auto& r : cells_) columns = std::max<size_t>(columns, r.size());
  std::vector<int> w(columns, 0);
  for (const auto& r : cells_)
    for (size_t c = 0; c < size_t(r.size()); ++c) w[c] = std::max<int>(w[c], (r[c].size() + 1) * 8);
  return w;
}

void TForegroundResultGrid::ClearCell(int row, int column) {
  if (row >= 0 && row < int(cells_.size()) && column >= 0 && column < cells_[row].size()) cells_[row][column].clear();
}

void TForegroundResultGrid::ExportToFile(bool, int code, const QString& fileName, const QString& delimiter) {
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw Exception(QStringLiteral("Cannot create file \"%1\"").arg(fileName));
  QTextStream out(&f);
  const QString sep = code == 1 ? QStringLiteral("\t") : code == 2 ? QStringLiteral(",") : code == 5 ? delimiter : QStringLiteral(" ");
  if (code == 6) out << "<html><body><table border=1>\n";
  for (const QStringList& row : cells_) {
    if (code == 6) {
      out << "<tr>";
      for (const QString& c : row) out << "<td>" << c.toHtmlEscaped() << "</td>";
      out << "</tr>\n";
    } else {
      out << row.join(sep) << "\r\n";
    }
  }
  if (code == 6) out << "</table></body></html>\n";
}
