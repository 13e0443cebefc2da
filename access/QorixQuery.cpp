// TQorixQuery over a private command engine: the engine sends and walks the results, this
// component adds the first-row step, the run across row results, its events and the routing
// of texts into owners by class name.

#include "access/QorixQuery.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "access/QorixBase.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/UiServices.h"

// The private engine: runs across row results and passes its texts to the query.
class TQorixQuery::Engine : public TQorixEnhQuery {
 public:
  explicit Engine(TQorixQuery* query) : TQorixEnhQuery(query), query_(query) { acrossResults_ = true; }
  void SetRaise(bool value) { raiseOnError_ = value; }

 protected:
  void RouteToOwner(int kind, const QString* text, const CS_SERVERMSG* msg) override {
    query_->Route(kind, text, msg);
  }

 private:
  TQorixQuery* query_;
};

namespace {

QString UpperClassName(const TComponent* component) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(*component).name(), nullptr, nullptr, &status);
  QString name = QString::fromLatin1(status == 0 && demangled ? demangled : typeid(*component).name());
  std::free(demangled);
  return name.toUpper();
}

}  // namespace

TQorixQuery::TQorixQuery(TComponent* owner) : TComponent(owner) {}

TQorixQuery::~TQorixQuery() {
  try {
    Cancel();
  } catch (...) {
    // Never raise from a destructor.
  }
}

void TQorixQuery::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == database_) database_ = nullptr;
  if (operation == TOperation::opRemove && component == engine_) engine_ = nullptr;
}

TQorixDatabaseBase* TQorixQuery::Database() const {
  return database_ ? database_ : FindDatabase(dbName_);
}

void TQorixQuery::SetDatabase(TQorixDatabaseBase* database) {
  if (database_ == database) return;
  if (database_) RemoveFreeNotification(database_);
  database_ = database;
  if (database_) FreeNotification(database_);
  if (engine_) engine_->SetDatabase(nullptr);
}

void TQorixQuery::SetDbName(const QString& value) {
  if (value == dbName_) return;
  dbName_ = value;
  // A new connection needs a new command handle.
  delete engine_;
  engine_ = nullptr;
  active_ = false;
}

void TQorixQuery::SetActive(bool value) {
  if (value == active_) return;  // an active query keeps its handle and its pending rows
  if (!value) {
    Cancel();
    delete engine_;
    engine_ = nullptr;
    active_ = false;
    return;
  }
  TQorixDatabaseBase* db = Database();
  if (!db) RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
  if (AutoConnect && !db->IsConnected()) db->DoConnect();
  active_ = db->IsConnected();
}

void TQorixQuery::Route(int kind, const QString* text, const CS_SERVERMSG* msg) {
  if (kind == 0) TQorixDiagTarget::SetLastError(*text);
  if (kind == 1) TQorixDiagTarget::SetLastMessage(*text);
  if (kind == 2) TQorixDiagTarget::SetLastServerMsg(*msg);
  TComponent* owner = Owner();
  if (!owner) return;
  static const char* const kOwners[] = {"TQORIXCHKLISTBOX", "TQORIXCOMBOBOX", "TQORIXLISTBOX",
                                        "TQORIXLISTVIEW",   "TQORIXOBJINFO",  "TQORIXFUNCTIONS",
                                        "TQORIXTOOLS",      "TQORIXBASE",     "TQORIXDATABASE"};
  const QString name = UpperClassName(owner);
  bool known = false;
  for (const char* o : kOwners) known = known || name == QLatin1String(o);
  if (!known) return;
  auto* target = dynamic_cast<TQorixDiagTarget*>(owner);
  if (!target) return;
  if (kind == 0) target->SetLastError(*text);
  if (kind == 1) target->SetLastMessage(*text);
  if (kind == 2) target->SetLastServerMsg(*msg);
}

void TQorixQuery::SetLastError(const QString& text) {
  Route(0, &text, nullptr);
}
void TQorixQuery::SetLastMessage(const QString& text) {
  Route(1, &text, nullptr);
}
void TQorixQuery::SetLastServerMsg(const CS_SERVERMSG& msg) {
  Route(2, nullptr, &msg);
}

int TQorixQuery::Execute() {
  TQorixDatabaseBase* db = Database();
  if (!db) {
    if (dbName_.trimmed().isEmpty())
      RaiseMissingError(LoadResString(QorixRes::SDatabaseOrDbNameRequired), this);
    RaiseMissingError(Format(LoadResString(QorixRes::SDatabaseComponentNotFound), {dbName_}), nullptr);
  }
  if (AutoConnect && !db->IsConnected()) {
    db->DoConnect();
    if (!db->IsConnected()) {
      const QString text = Format(LoadResString(QorixRes::SCannotLogin), {db->GetServerName()});
      if (!RaiseErrors) {
        UiServices().MessageBox(text, kCtLibraryError, TMsgBoxIcon::Stop);
        return 0;
      }
      DatabaseError(text, nullptr);
    }
  }
  TQorixDiagTarget::SetLastError(QString());
  TQorixDiagTarget::SetLastMessage(QString());
  TQorixDiagTarget::SetLastServerMsg(CS_SERVERMSG{});
  rowsSeen_ = computeSeen_ = statusSeen_ = false;
  firstRowPending_ = firstRowHad_ = false;
  if (Sql.trimmed().isEmpty()) DatabaseError(LoadResString(QorixRes::SNoSQLStatement), this);
  // Each run gets a fresh engine, so a fresh command handle.
  delete engine_;
  engine_ = new Engine(this);
  Engine& e = *engine_;
  e.SetName(QString());
  e.SetDatabase(db);
  e.SetRaise(RaiseErrors);
  e.IsCursor = IsCursor;
  e.ReadOnly = ReadOnly;
  e.CurFetchRows = CurFetchRows;
  e.MaxRows = MaxRows;
  e.TextImage = TextImage;
  e.AutoConnect = AutoConnect;
  e.AbortOnNegStatus = AbortOnNegStatus && RaiseErrors;
  e.Monitor = Monitor;
  e.TrimResults = TrimResults;
  e.LumicDtFmt = LumicDtFmt;
  e.SetMsgDialogs(MsgDialogs);
  e.SetShowDbMessages(ShowDbMessages);
  e.Params().Clear();
  e.SetSQL(Sql);
  // ":name" in a plain text is no parameter here: the text goes as it stands.
  e.Params().Clear();
  auto forward = [this](const TNotifyEvent& event) {
    return [this, &event](TComponent*) {
      if (event) event(this);
    };
  };
  e.OnHeader = [this](TComponent*) {
    if (OnHeader) OnHeader(this);
  };
  e.OnMaxRows = forward(OnMaxRows);
  e.AfterCommand = forward(AfterCommand);
  e.OnReturnStatus = [this](TComponent*) {
    statusSeen_ = true;
    if (OnReturnStatus) OnReturnStatus(this);
  };
  e.OnComputeRow = [this](TComponent*) {
    computeSeen_ = true;
    if (OnComputeRow) OnComputeRow(this);
  };
  e.OnResultRow = [this](TComponent*) { rowsSeen_ = true; };
  e.BeforeExec = forward(BeforeExec);
  // The diagnostics fire the events of the engine that made the call: they reach this
  // component's own, with it as Sender (its texts are already stored through Route).
  e.OnDbError = forward(OnDbError);
  e.AfterDbError = forward(AfterDbError);
  e.OnDbMessage = forward(OnDbMessage);
  e.AfterDbMessage = forward(AfterDbMessage);
  if (Monitor && Owner())
    SendToSqlMonitor(reinterpret_cast<THandle>(Owner()), QStringLiteral("Flow : ** Start of EXECUTE **"));
  if (e.Open() == 0) return 0;
  // The first row is fetched now and reported by the first NextRow.
  firstRowHad_ = e.Next();
  firstRowPending_ = true;
  active_ = true;
  if (AfterExec) AfterExec(this);
  if (Monitor && Owner())
    SendToSqlMonitor(reinterpret_cast<THandle>(Owner()), QStringLiteral("Flow : ** End of EXECUTE **"));
  return CS_SUCCEED;
}

bool TQorixQuery::NextRow() {
  if (!engine_) return false;
  if (firstRowPending_) {
    firstRowPending_ = false;
    if (!firstRowHad_) engine_->Cancel(CS_CANCEL_ALL);
    return firstRowHad_;
  }
  const bool ok = engine_->Next();
  if (!ok) engine_->Cancel(CS_CANCEL_ALL);
  return ok;
}

void TQorixQuery::Cancel() {
  if (engine_) engine_->Cancel(CS_CANCEL_ALL);
  firstRowPending_ = false;
}

int TQorixQuery::ColumnCount() const {
  return engine_ ? engine_->ColumnCount() : 0;
}
QString TQorixQuery::GetFieldValue(int index) const {
  return engine_ ? engine_->GetFieldValue(index) : QString();
}
bool TQorixQuery::FieldIsNull(int index) const {
  return !engine_ || engine_->FieldIsNull(index);
}
QString TQorixQuery::GetFieldName(int index) const {
  return engine_ && index <= engine_->ColumnCount() ? engine_->GetFieldName(index) : QString();
}
QString TQorixQuery::GetFieldTypeName(int index) const {
  return engine_ ? engine_->GetFieldTypeName(index) : QString();
}
QString TQorixQuery::GetComputeValue(int index) const {
  return engine_ ? engine_->GetComputeValue(index) : QString();
}
int TQorixQuery::RowCount() const {
  return engine_ ? engine_->GetRowCount() : 0;
}
std::vector<int> TQorixQuery::OrderByColumns() const {
  return engine_ ? engine_->OrderByColumns() : std::vector<int>{};
}
int TQorixQuery::ReturnStatus() const {
  return engine_ ? engine_->ReturnStatus() : 0;
}
