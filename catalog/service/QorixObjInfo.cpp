// TQorixObjInfo: component life, the calling pattern every reader shares (connection,
// SelectDb, wait cursor, the private query, read, restore), the column array and the free
// operations.

#include "catalog/service/QorixObjInfo.h"

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/SysUtils.h"
#include "catalog/service/QorixObjInfoPrivate.h"
#include "catalog/service/QxSqlText.h"

TQorixObjInfo::TQorixObjInfo(TComponent* owner) : TQorixBase(owner) {
  PrefixObjWithOwner = false;
  workList_ = std::make_unique<QStringList>();
  // The query reports server and client messages with the settings the component has now;
  // later changes of the component's settings do not reach it.
  query_ = new TQorixEnhQuery(this);
  query_->IsCursor = true;
  query_->ReadOnly = true;
  query_->TrimResults = true;
  query_->CurFetchRows = 50;
  query_->SetMsgDialogs(MsgDialogs);
  query_->SetShowDbMessages(ShowDbMessages);
  query_->OnDbError = OnDbError;
  query_->AfterDbError = AfterDbError;
  query_->OnDbMessage = OnDbMessage;
  query_->AfterDbMessage = AfterDbMessage;
}

TQorixObjInfo::~TQorixObjInfo() {
  delete query_;
  query_ = nullptr;
  workList_.reset();
}

// ---- the calling pattern ----

void TQorixObjInfo::SettleConnection() {
  CheckDatabase();
  // A DbName that names no connection would leave every read without one: say so.
  if (!Database())
    RaiseMissingError(Format(LoadResString(QorixRes::SDatabaseComponentNotFound), {DbName}), this);
  if (selectDb_.trimmed().isEmpty()) selectDb_ = ConnectionDbName();
}

QString TQorixObjInfo::ConnectionDbName() const {
  if (auto* db = dynamic_cast<TQorixDatabase*>(Database())) return db->DbName();
  return {};
}

QString TQorixObjInfo::Rdbms() const { return Database() ? Database()->GetRdbms() : QString(); }
bool TQorixObjInfo::IsAnywhere() const { return Rdbms() == kRdbmsSqlAnywhere; }
bool TQorixObjInfo::IsSybase() const { return Rdbms() == kRdbmsSybase; }

QString TQorixObjInfo::SysTable(const QString& table) const {
  return QxSql::Ident(selectDb_.trimmed()) + QStringLiteral(".dbo.") + table;
}

QString TQorixObjInfo::ObjectIdText(const TQxObjectRef& ref) const {
  return QxSql::Literal(QxSql::NamePart(selectDb_.trimmed()) + QLatin1Char('.') + QxSql::NamePart(ref.Owner) +
                            QLatin1Char('.') + QxSql::NamePart(ref.Name),
                        QLatin1Char('\''));
}

QString TQorixObjInfo::DbIdText() const {
  return QStringLiteral("db_id(") + QxSql::Literal(selectDb_.trimmed(), QLatin1Char('"')) + QLatin1Char(')');
}

void TQorixObjInfo::PrepareQuery() {
  query_->DbName = DbName;
  query_->SetDatabase(Database());
}

void TQorixObjInfo::SetText(const QString& text) {
  PrepareQuery();
  query_->SetSQL(text);
}

void TQorixObjInfo::SetLines(const QStringList& lines) {
  PrepareQuery();
  query_->SetSQL(lines);
}

std::vector<QStringList> TQorixObjInfo::ReadAll() {
  std::vector<QStringList> rows;
  if (query_->Open() == 0) return rows;
  while (query_->Next()) {
    QStringList row;
    const int n = query_->ColumnCount();
    row.reserve(n);
    for (int c = 1; c <= n; ++c) row << query_->GetFieldValue(c);
    rows.push_back(std::move(row));
  }
  return rows;
}

void TQorixObjInfo::ReadColumnOneIntoResult() {
  for (const QStringList& row : ReadAll())
    if (!row.isEmpty()) resultList_ << row.front();
}

void TQorixObjInfo::CancelQuery() { query_->Cancel(CS_CANCEL_ALL); }

void TQorixObjInfo::ClearResult() {
  if (!workList_) workList_ = std::make_unique<QStringList>();
  resultList_.clear();
}

// ---- column array ----

const TQxColumnInfo* TQorixObjInfo::Column(int i) const {
  if (i < 1 || i > ColumnCount || i >= static_cast<int>(columns_.size())) return nullptr;
  return &columns_[static_cast<size_t>(i)];
}

QString TQorixObjInfo::ColumnName(int i) const { return Column(i) ? Column(i)->Name : QString(); }
QString TQorixObjInfo::ColumnTypeName(int i) const { return Column(i) ? Column(i)->TypeName : QString(); }
int TQorixObjInfo::ColumnPrec(int i) const { return Column(i) ? Column(i)->Prec : 0; }
int TQorixObjInfo::ColumnScale(int i) const { return Column(i) ? Column(i)->Scale : 0; }
int TQorixObjInfo::ColumnLength(int i) const { return Column(i) ? Column(i)->Length : 0; }
bool TQorixObjInfo::ColumnNullable(int i) const { return Column(i) && Column(i)->Nullable; }
bool TQorixObjInfo::ColumnIdentity(int i) const { return Column(i) && Column(i)->Identity; }

void TQorixObjInfo::ClearColumns() {
  columns_.clear();
  ColumnCount = 0;
}

// ---- free operations ----

void TQorixObjInfo::FreeColumnList(std::unique_ptr<TQxColumnList>& list, bool freeList) {
  if (!list) return;
  list->clear();
  if (freeList) list.reset();
}

void TQorixObjInfo::FreeInfoList(std::unique_ptr<TQxServerConfigList>& list, bool freeList) {
  if (!list) return;
  list->clear();
  if (freeList) list.reset();
}

// ---- shared helpers of the readers ----

namespace objinfo {

int32_t ToInt(const QString& text) {
  const QString t = text.trimmed();
  // A NULL column arrives as empty text: it reads as 0 instead of failing the whole record.
  if (t.isEmpty()) return 0;
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok);
  if (!ok || v < INT32_MIN || v > INT32_MAX)
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return static_cast<int32_t>(v);
}

QString Cut(const QString& text, int width) { return text.left(width); }

}  // namespace objinfo
