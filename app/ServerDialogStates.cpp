// The server windows' plain state (see ServerDialogStates.h).
#include "app/ServerDialogStates.h"

#include "access/QorixDatabase.h"
#include "catalog/service/QorixObjInfo.h"
#include "catalog/views/QorixProcessView.h"

// --- Configuration --------------------------------------------------------------------------

TServerConfigState::TServerConfigState(TQorixDatabase* db) : info_(std::make_unique<TQorixObjInfo>()) {
  info_->SetName(QStringLiteral("info"));
  info_->SetDatabase(db);
  info_->PrefixObjWithOwner = false;
  info_->MsgDialogs = TMsgDialogs{mdEnhMsg, mdEnhErr};
  info_->ShowDbMessages = TShowDbMessages{smDbMsg, smDbErr};
}

TServerConfigState::~TServerConfigState() = default;

void TServerConfigState::LoadConfiguration() {
  rows_.clear();
  groups_ = info_->GetConfigGroups();
  for (const QString& group : std::as_const(groups_)) {
    std::unique_ptr<TQxServerConfigList> values = info_->GetConfigValues(group);
    if (!values) continue;
    for (const TQxServerConfig& p : std::as_const(*values))
      rows_.push_back({group, p.ParameterName, p.Default, p.MemoryUsed, p.ConfigValue, p.RunValue});
    TQorixObjInfo::FreeInfoList(values, true);
  }
}

QStringList TServerConfigState::Columns() const {
  const QStringList five{QStringLiteral("Name"), QStringLiteral("Default"), QStringLiteral("Memory used"),
                         QStringLiteral("Config value"), QStringLiteral("Run value")};
  if (View == vwAll) return five + QStringList{QStringLiteral("Category")};
  return QStringList{QStringLiteral("Category")} + five;
}

QStringList TServerConfigState::Cells(const TRow& r) const {
  const QStringList five{r.Name, r.Default, r.MemoryUsed, r.ConfigValue, r.RunValue};
  if (View == vwAll) return five + QStringList{r.Category};
  return QStringList{r.Category} + five;
}

QStringList TServerConfigState::ReportLines() const {
  // Each column as wide as its widest text plus two blanks.
  const QStringList heads = Columns();
  std::vector<int> widths;
  for (const QString& h : heads) widths.push_back(h.size());
  for (const TRow& r : rows_) {
    const QStringList c = Cells(r);
    for (int i = 0; i < c.size(); ++i) widths[i] = std::max<int>(widths[i], c[i].size());
  }
  auto line = [&](const QStringList& cells, int from) {
    QString s;
    for (int i = from; i < cells.size(); ++i) s += cells[i].leftJustified(widths[i] + 2);
    while (s.endsWith(QLatin1Char(' '))) s.chop(1);
    return s;
  };
  QStringList out;
  if (View == vwAll) {
    out << line(heads, 0);
    for (const TRow& r : rows_) out << line(Cells(r), 0);
    return out;
  }
  out << line(heads, 1);
  QString group;
  bool first = true;
  for (const TRow& r : rows_) {
    if (first || r.Category != group) {
      group = r.Category;
      first = false;
      out << group;
    }
    out << QStringLiteral("  ") + line(Cells(r), 1);
  }
  return out;
}

// --- Processes ------------------------------------------------------------------------------

TProcessesState::TProcessesState(TQorixDatabase* db) : view_(std::make_unique<TQorixProcessView>()) {
  view_->SetName(QStringLiteral("pv"));
  view_->SetDatabase(db);
}

TProcessesState::~TProcessesState() = default;

const QStringList& TProcessesState::TabCaptions() {
  static const QStringList captions{"Processes",       "Blocking", "Clients", "Client Programs",
                                    "Engine Activity", "Loading",  "Status",  "Locks"};
  return captions;
}

void TProcessesState::RefreshProcesses(int index) {
  if (index < 0 || index >= TabCaptions().size()) return;
  page_ = index;
  view_->ProcessInfoType = static_cast<TQxProcessInfoType>(index);
  view_->Execute();
}
