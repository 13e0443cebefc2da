// The set-up table of EQorixException and the raise procedures of the usage exceptions.

#include "access/QorixExceptions.h"

#include "access/Classes.h"

namespace {

// Fixed texts, not message-table entries: callers may name a set-up failure by its index.
const char* const kSetupTable[kQorixSetupMessageCount] = {
    "ctx_alloc Failed",
    "ct_init Failed",
    "cs_loc_alloc Failed",
    "ct_callback Failed for CS_SERVERMSG_CB",
    "ct_callback Failed for CS_CLIENTMSG_CB",
    "ct_callback Failed for CS_COMPLETION_CB",
    "Invalid MaxConnect value",
    "Invalid TimeOut value",
    "ct_con_alloc Failed",
    "ct_con_props CS_ASYNC_NOTIFS Failed",
    "ct_con_props CS_BULK_LOGIN Failed",
    "ct_con_props CS_DIAG_TIMEOUT Failed",
    "ct_con_props CS_EXTRA_INF Failed",
    "ct_con_props CS_HIDDEN_KEYS Failed",
    "ct_con_props CS_LOGIN_STATUS Failed",
    "ct_con_props CS_SEC_ENCRYPTION Failed",
    "ct_con_props CS_SEC_NEGOTIATE Failed",
    "ct_con_props CS_PACKETSIZE Failed",
    "ct_con_props CS_USERNAME Failed",
    "ct_con_props CS_PASSWORD Failed",
    "ct_con_props CS_APPNAME Failed",
    "ct_con_props CS_HOSTNAME Failed",
    "ct_command Failed",
    "ct_send Failed",
    "cs_locale Failed",
};

// The run-time library's string-to-integer test: the whole text (blanks around it allowed,
// an optional sign, decimal digits) must convert; anything else is a plain message.
QString SetupText(const QString& msg) {
  bool ok = false;
  const int index = msg.trimmed().toInt(&ok, 10);
  if (!ok) return msg;
  const QString entry = QorixSetupMessage(index);
  // A number that names no entry is shown as given.
  return entry.isEmpty() ? msg : entry;
}

}  // namespace

EQorixException::EQorixException(const QString& msg) : Exception(SetupText(msg)) {}

QString QorixSetupMessage(int index) {
  if (index < 0 || index >= kQorixSetupMessageCount) return QString();
  return QString::fromLatin1(kSetupTable[index]);
}

QString QorixErrorText(const QString& msg, const TComponent* component) {
  if (component && !component->Name().isEmpty()) return component->Name() + QStringLiteral(": ") + msg;
  return msg;
}

#define QORIX_RAISE(Proc, Class)                               \
  void Proc(const QString& msg, const TComponent* component) { \
    throw Class(QorixErrorText(msg, component));               \
  }

QORIX_RAISE(RaiseMissingError, EQxMissingException)
QORIX_RAISE(RaiseCursorError, EQxCursorException)
QORIX_RAISE(RaiseResultsPendingError, EQxResultsPendingException)
QORIX_RAISE(RaiseBadSQLError, EQxBadSQLException)
QORIX_RAISE(RaiseDataSetError, EQxDataSetException)
QORIX_RAISE(RaiseUniDirError, EQxUniDirException)
QORIX_RAISE(RaiseNotOpenError, EQxNotOpenException)
QORIX_RAISE(RaiseNotValidError, EQxNotValidException)
QORIX_RAISE(RaiseNotSupportedError, EQxNotSupportedException)
QORIX_RAISE(RaiseFileError, EQxFileException)
QORIX_RAISE(RaiseBookmarkError, EQxBookmarkException)
QORIX_RAISE(RaiseNoModeError, EQxNoModeException)
QORIX_RAISE(RaiseDisabledError, EQxDisabledException)

#undef QORIX_RAISE

void DatabaseError(const QString& msg, const TComponent* component) {
  throw EDatabaseError(QorixErrorText(msg, component));
}
