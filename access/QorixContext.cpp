// The context component's set-up, naming, tear-down and locale and configuration accessors.

#include "access/QorixContext.h"

#include <QSet>
#include <algorithm>
#include <cstring>

#include "access/QorixExceptions.h"
#include "access/QorixResources.h"
#include "access/Qorix_Components.h"

std::vector<TQorixContext*>& ContextList() {
  static std::vector<TQorixContext*> list;
  return list;
}

CS_CONTEXT* FindContextHandle(const QString& name) {
  TQorixContext* c = FindContext(name);
  return c ? c->Handle() : nullptr;
}

TQorixContext* FindContext(const QString& name) {
  std::lock_guard lock(RegistryLock());
  for (TQorixContext* c : ContextList())
    if (c->ContextName() == name) return c;
  return nullptr;
}

bool IsContextInUse(const TQorixContext* context) {
  if (!context || !context->Handle()) return false;
  std::lock_guard lock(RegistryLock());
  for (const TQorixDatabaseBase* db : DatabaseList())
    if (db->ContextHandle() == context->Handle()) return true;
  return false;
}

CS_RETCODE CompletionCallback(CS_CONNECTION*, CS_COMMAND*, CS_INT, CS_RETCODE) {
  return 0;
}

QString DefaultIniFile() {
  // The family's Unix layout keeps the interfaces file in $SYBASE; unset, the file that
  // resolves server names is FreeTDS's own configuration (freetds.conf) or interfaces file.
  const QByteArray sybase = qgetenv("SYBASE");
  if (sybase.isEmpty()) return QString::fromLocal8Bit(ctlib::FreeTdsNamesFile().c_str());
  return QString::fromLocal8Bit(sybase) + QStringLiteral("/interfaces");
}

namespace {

// The text up to the first NUL of a fixed buffer.
QString BufferText(const char* buf, size_t size) {
  return QString::fromUtf8(buf, static_cast<qsizetype>(strnlen(buf, size)));
}

}  // namespace

TQorixContext::TQorixContext(TComponent* owner) : TComponent(owner) {
  iniFile_ = DefaultIniFile();
  // A failing step raises after releasing what the earlier steps allocated: the destructor
  // does not run for an object whose constructor throws.
  auto fail = [this](int id) {
    Release();
    throw EQorixException(LoadResString(id));
  };
  if (ctlib::cs_ctx_alloc(CS_VERSION_110, &context_) != CS_SUCCEED) {
    context_ = nullptr;
    fail(QorixRes::SCtCtxAllocFailed);
  }
  if (ctlib::ct_init(context_, CS_VERSION_110) != CS_SUCCEED) fail(QorixRes::SCtInitFailed);
  initialised_ = true;
  if (ctlib::cs_loc_alloc(context_, &locale_) != CS_SUCCEED) {
    locale_ = nullptr;
    fail(QorixRes::SCsLocAllocFailed);
  }
  // The whole buffer's size goes with it (a 31-byte buffer announced as 32 lets the
  // library write one byte past it).
  char charset[31] = {0};
  CS_INT outlen = 0;
  if (ctlib::cs_locale(context_, CS_GET, locale_, CS_SYB_CHARSET, charset, sizeof charset, &outlen) !=
      CS_SUCCEED)
    fail(QorixRes::SCsLocaleFailed);
  charSet_ = BufferText(charset, sizeof charset);
  if (ctlib::ct_callback(context_, nullptr, CS_SET, CS_COMPLETION_CB,
                         reinterpret_cast<CS_VOID*>(&CompletionCallback)) != CS_SUCCEED)
    fail(QorixRes::SCtCallbackCompletionFailed);
  CS_INT timeout = timeOut_;
  ctlib::ct_config(context_, CS_SET, CS_TIMEOUT, &timeout, CS_UNUSED, nullptr);
  CS_INT zero = 0;
  ctlib::ct_config(context_, CS_SET, CS_CONFIG_9111, &zero, CS_UNUSED, nullptr);
}

void TQorixContext::Release() {
  if (locale_) ctlib::cs_loc_drop(context_, locale_);
  locale_ = nullptr;
  if (context_) {
    if (initialised_) ctlib::ct_exit(context_, CS_FORCE_EXIT);
    ctlib::cs_ctx_drop(context_);
  }
  context_ = nullptr;
  initialised_ = false;
}

TQorixContext::~TQorixContext() {
  {
    std::lock_guard lock(RegistryLock());
    auto& list = ContextList();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  if (locale_) ctlib::cs_loc_drop(context_, locale_);
  locale_ = nullptr;
  // A database that still holds the handle keeps the CS-Library context alive.
  if (context_ && !IsContextInUse(this)) {
    ctlib::ct_exit(context_, CS_FORCE_EXIT);
    ctlib::cs_ctx_drop(context_);
  }
  context_ = nullptr;
}

void TQorixContext::SetName(const QString& name) {
  TComponent::SetName(name);
  std::lock_guard own(lock_);
  std::lock_guard lock(RegistryLock());
  auto& list = ContextList();
  if (std::find(list.begin(), list.end(), this) == list.end()) list.push_back(this);
  if (list.size() > 1) {
    // Beside other contexts the name is the first "contextN" (N from 2) that no other
    // context carries: a count alone would give a renamed first context the second's name.
    QSet<QString> taken;
    for (TQorixContext* c : list)
      if (c != this) taken.insert(c->ContextName());
    int n = 2;
    while (taken.contains(QStringLiteral("context%1").arg(n))) ++n;
    contextName_ = QStringLiteral("context%1").arg(n);
  } else {
    contextName_ = QStringLiteral("default");
  }
}

void TQorixContext::SetIniFile(const QString& value) {
  if (value.trimmed().isEmpty()) return;
  // NUL-terminated, not a fixed 1024-byte length that reads past a shorter text.
  const QByteArray path = value.toLocal8Bit();
  ctlib::ct_config(context_, CS_SET, CS_IFILE, const_cast<char*>(path.constData()), CS_NULLTERM, nullptr);
  iniFile_ = value;
}

void TQorixContext::SetCharSet(const QString& value) {
  const QByteArray v = value.toUtf8();
  if (ctlib::cs_locale(context_, CS_SET, locale_, CS_SYB_CHARSET, const_cast<char*>(v.constData()),
                       CS_NULLTERM, nullptr) != CS_SUCCEED)
    throw EQorixException(LoadResString(QorixRes::SCsLocaleCharSetFailed));
  charSet_ = value;
}

QString TQorixContext::Language() {
  char buf[31] = {0};
  CS_INT outlen = 0;
  if (ctlib::cs_locale(context_, CS_GET, locale_, CS_SYB_LANG, buf, sizeof buf, &outlen) == CS_SUCCEED)
    language_ = BufferText(buf, sizeof buf);
  return language_;
}

void TQorixContext::SetLanguage(const QString& value) {
  const QByteArray v = value.toUtf8();
  if (ctlib::cs_locale(context_, CS_SET, locale_, CS_SYB_LANG, const_cast<char*>(v.constData()), CS_NULLTERM,
                       nullptr) != CS_SUCCEED)
    throw EQorixException(LoadResString(QorixRes::SCsLocaleLangFailed));
  language_ = value;
}

QString TQorixContext::SortOrder() {
  char buf[31] = {0};
  CS_INT outlen = 0;
  if (ctlib::cs_locale(context_, CS_GET, locale_, CS_SYB_SORTORDER, buf, sizeof buf, &outlen) == CS_SUCCEED)
    sortOrder_ = BufferText(buf, sizeof buf);
  return sortOrder_;
}

void TQorixContext::SetSortOrder(const QString& value) {
  const QByteArray v = value.toUtf8();
  if (ctlib::cs_locale(context_, CS_SET, locale_, CS_SYB_SORTORDER, const_cast<char*>(v.constData()),
                       CS_NULLTERM, nullptr) != CS_SUCCEED)
    throw EQorixException(LoadResString(QorixRes::SCsLocaleSortOrderFailed));
  sortOrder_ = value;
}

int TQorixContext::MaxConnect() const {
  CS_INT v = maxConnect_;
  if (ctlib::ct_config(context_, CS_GET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr) != CS_SUCCEED)
    return maxConnect_;
  return v;
}

void TQorixContext::SetMaxConnect(int value) {
  if (value < 1) throw EQorixException(LoadResString(QorixRes::SInvalidMaxConnect));
  maxConnect_ = value;
  CS_INT v = value;
  ctlib::ct_config(context_, CS_SET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr);
}

int TQorixContext::TimeOut() const {
  CS_INT v = timeOut_;
  if (ctlib::ct_config(context_, CS_GET, CS_TIMEOUT, &v, CS_UNUSED, nullptr) != CS_SUCCEED) return timeOut_;
  return v;
}

void TQorixContext::SetTimeOut(int value) {
  if (value < 1) throw EQorixException(LoadResString(QorixRes::SInvalidTimeOut));
  timeOut_ = value;
  CS_INT v = value;
  ctlib::ct_config(context_, CS_SET, CS_TIMEOUT, &v, CS_UNUSED, nullptr);
}

QString TQorixContext::QorixVersion() const {
  char buf[1025] = {0};
  CS_INT outlen = 0;
  if (ctlib::ct_config(context_, CS_GET, CS_VER_STRING, buf, sizeof buf, &outlen) != CS_SUCCEED)
    return QString();
  return BufferText(buf, sizeof buf);
}
