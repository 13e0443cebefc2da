// The directory lookup: choosing the context and connection, the lookup callback, the names.

#include "access/QorixDirService.h"

#include <cstring>

#include "access/QorixContext.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"

TQorixDirService::TQorixDirService(TComponent* owner) : TComponent(owner) {}

TQorixDirService::~TQorixDirService() {
  DropFoundObjects();
  // The own structure was never connected: a lookup needs only the connection structure.
  if (ownConnection_ && connection_) ctlib::ct_con_drop(connection_);
  SetDatabase(nullptr);
}

void TQorixDirService::SetDatabase(TQorixDatabaseBase* database) {
  if (database == database_) return;
  if (database_) RemoveFreeNotification(database_);
  database_ = database;
  if (database_) FreeNotification(database_);
}

void TQorixDirService::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == database_) {
    // The database's connection goes with it; its objects are no longer ours to read.
    if (!ownConnection_) {
      found_.clear();
      connection_ = nullptr;
      lookedUp_ = false;
    }
    database_ = nullptr;
  }
}

void TQorixDirService::DropFoundObjects() {
  // Objects found on a database's connection are left to it (they go when it is dropped).
  if (ownConnection_ && connection_)
    for (CS_DS_OBJECT* obj : found_)
      if (obj) ctlib::ct_ds_dropobj(connection_, obj);
  found_.clear();
}

CS_RETCODE TQorixDirService::DirectoryLookupCallback(CS_CONNECTION*, CS_INT, CS_RETCODE, CS_INT,
                                                     CS_DS_OBJECT* object, CS_VOID* user) {
  if (object) static_cast<std::vector<CS_DS_OBJECT*>*>(user)->push_back(object);
  return CS_CONTINUE;
}

void TQorixDirService::Lookup() {
  lookedUp_ = false;
  if (DbName.trimmed().isEmpty() && !database_ && ContextName.trimmed().isEmpty())
    RaiseMissingError(LoadResString(QorixRes::SNoDbNameOrContextName), nullptr);
  if (!DbName.trimmed().isEmpty() && !database_ && !IsLoading()) SetDatabase(FindDatabase(DbName));

  auto allocOwn = [this] {
    // A repeated lookup reuses its structure while it belongs to the same context; one of
    // another context (a changed ContextName) would list that context's servers.
    if (ownConnection_ && connection_ && ownContext_ == context_) return;
    if (ownConnection_ && connection_) {
      DropFoundObjects();
      ctlib::ct_con_drop(connection_);
      connection_ = nullptr;
      ownConnection_ = false;
    }
    CS_CONNECTION* con = nullptr;
    lastResult_ = ctlib::ct_con_alloc(context_, &con);
    if (lastResult_ != CS_SUCCEED) DatabaseError(LoadResString(QorixRes::SCtConAllocFailed));
    connection_ = con;
    ownConnection_ = true;
    ownContext_ = context_;
  };
  if (database_) {
    context_ = database_->GetContextHandle();
    if (!context_) DatabaseError(LoadResString(QorixRes::SErrorAllocatingContext));
    // The database's connection structure serves only while it belongs to the database's
    // context: one allocated before ContextName changed would list the old context's servers.
    CS_CONTEXT* parent = nullptr;
    if (database_->ConnectionHandle() &&
        ctlib::ct_con_props(database_->ConnectionHandle(), CS_GET, CS_PARENT_HANDLE, &parent, CS_UNUSED,
                            nullptr) == CS_SUCCEED &&
        parent == context_) {
      if (ownConnection_ && connection_) {
        DropFoundObjects();
        ctlib::ct_con_drop(connection_);
      }
      connection_ = database_->ConnectionHandle();
      ownConnection_ = false;
    } else {
      allocOwn();
    }
  } else {
    context_ = FindContextHandle(ContextName);
    if (!context_) DatabaseError(LoadResString(QorixRes::SErrorAllocatingContext));
    allocOwn();
  }
  DropFoundObjects();

  void* previous = nullptr;
  lastResult_ = ctlib::ct_callback(nullptr, connection_, CS_GET, CS_DS_LOOKUP_CB, &previous);
  if (lastResult_ != CS_SUCCEED) DatabaseError(LoadResString(QorixRes::SCtCallbackServerMsgFailed));
  lastResult_ = ctlib::ct_callback(nullptr, connection_, CS_SET, CS_DS_LOOKUP_CB,
                                   reinterpret_cast<CS_VOID*>(&TQorixDirService::DirectoryLookupCallback));
  if (lastResult_ != CS_SUCCEED) DatabaseError(LoadResString(QorixRes::SCtCallbackServerMsgFailed));

  CS_OID oid{};
  oid.oid_length = static_cast<CS_INT>(std::strlen(CS_OID_OBJSERVER));
  std::memcpy(oid.oid_buffer, CS_OID_OBJSERVER, static_cast<size_t>(oid.oid_length));
  CS_DS_LOOKUP_INFO info{&oid, nullptr, 0, nullptr, nullptr};
  CS_INT reqid = 0;
  lastResult_ = ctlib::ct_ds_lookup(connection_, CS_SET, &reqid, &info, &found_);
  const CS_RETCODE lookupResult = lastResult_;
  // The previous callback comes back also when the lookup failed.
  lastResult_ = ctlib::ct_callback(nullptr, connection_, CS_SET, CS_DS_LOOKUP_CB, previous);
  if (lookupResult != CS_SUCCEED) DatabaseError(LoadResString(QorixRes::SCtDsLookupFailed));
  if (lastResult_ != CS_SUCCEED) DatabaseError(LoadResString(QorixRes::SCtCallbackServerMsgFailed));
  lookedUp_ = true;
  lookedUpWith_ = CurrentSource();
}

TQorixDirService::TSource TQorixDirService::CurrentSource() const {
  TSource source;
  source.database = database_;
  source.databaseConnection = database_ ? database_->ConnectionHandle() : nullptr;
  source.databaseContext = database_ ? database_->GetContextName() : QString();
  source.dbName = DbName.trimmed();
  source.contextName = ContextName.trimmed();
  return source;
}

const QStringList& TQorixDirService::GetServerNames() {
  // The found objects belong to the connection they were looked up on: after the database
  // reconnected (a new connection structure) or with another DbName, Database or ContextName
  // they describe nothing current, and the lookup runs again.
  if (!lookedUp_ || !(lookedUpWith_ == CurrentSource())) Lookup();
  // A reconnect may get a new connection structure at the old address: objects the library
  // no longer knows give the same away, and are looked up once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    names_.clear();
    bool stale = false;
    for (CS_DS_OBJECT* obj : found_) {
      char name[512] = {0};
      CS_INT len = 0;
      if (ctlib::ct_ds_objinfo(obj, CS_GET, CS_DS_DIST_NAME, CS_UNUSED, name, 511, &len) != CS_SUCCEED &&
          ctlib::ct_ds_objinfo(obj, CS_GET, CS_DS_NUMATTR, CS_UNUSED, &len, sizeof len, nullptr) != CS_SUCCEED)
        stale = true;
      names_.append(QString::fromUtf8(name, static_cast<qsizetype>(strnlen(name, sizeof name))));
    }
    if (!stale || attempt == 1) break;
    if (!ownConnection_) found_.clear();  // they went with the database's old connection
    Lookup();
  }
  return names_;
}
