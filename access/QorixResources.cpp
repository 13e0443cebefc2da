// The message table's texts, in id order, and the lookup and "%s" filler over them.

#include "access/QorixResources.h"

#include <algorithm>
#include <iterator>

namespace {

struct ResEntry {
  int id;
  const char* text;
};

// Sorted by id so lookup can bisect; the texts are the suite's own, typos included.
constexpr ResEntry kTable[] = {
    {QorixRes::SBookmarkNotFound, "Bookmark '%s' not found"},
    {QorixRes::SNoRecords, "No Records"},
    {QorixRes::SNoDbNameOrContextName, "A DbName and/or ContextName must be supplied"},
    {QorixRes::SErrorAllocatingContext, "Error allocating a Context"},
    {QorixRes::SInsertNotAllowed, "Insert is not allowed"},
    {QorixRes::SDeleteNotAllowed, "Delete is not allowed"},
    {QorixRes::SEditNotAllowed, "Edit is not allowed"},
    {QorixRes::SNoExecNotAllowed, "ProcOptions of poNoExec is not allowed"},
    {QorixRes::SDatabaseComponentNotFound, "Could not find QorixDatabase component named '%s'"},
    {QorixRes::SNoFieldName, "No FieldName assigned"},
    {QorixRes::SDataSetFieldUndefined, "DataSetField is undefined"},
    {QorixRes::SCtInitFailed, "ct_init Failed"},
    {QorixRes::SCtCtxAllocFailed, "ct_ctx_alloc Failed"},
    {QorixRes::SCsLocAllocFailed, "cs_loc_alloc Failed"},
    {QorixRes::SCsLocaleFailed, "cs_locale Failed"},
    {QorixRes::SCtDsLookupFailed, "ct_ds_lookup Failed"},
    {QorixRes::SCtCallbackServerMsgFailed, "ct_callback Failed for CS_SERVERMSG_CB"},
    {QorixRes::SCtCallbackCompletionFailed, "ct_callback Failed for CS_COMPLETION_CB"},
    {QorixRes::SCsLocaleCharSetFailed, "cs_locale Failed. Invalid CS_SYB_CHARSET"},
    {QorixRes::SCsLocaleSortOrderFailed, "cs_locale Failed. Invalid CS_SYB_SORTORDER"},
    {QorixRes::SCsLocaleLangFailed, "cs_locale Failed. Invalid CS_SYB_LANG"},
    {QorixRes::SInvalidMaxConnect, "Invalid MaxConnect value"},
    {QorixRes::SNoRecordFound, "No record found, but one expected"},
    {QorixRes::SMultipleRecordsFound, "Multiple records found, but only one expected"},
    {QorixRes::SCharToIntError, "Error converting Char to Int"},
    {QorixRes::SNoKeyForWhereKeyOnly,
     "UpdateMode is upWhereKeyOnly but no Index found or Prime Fields assigned"},
    {QorixRes::SUniDirectional, "This action is not allowed when DataSet is UniDirectional"},
    {QorixRes::SConPropAnsiBindsFailed, "ct_con_props CS_ANSI_BINDS Failed"},
    {QorixRes::SConPropAsyncIoFailed, "ct_con_props CS_ASYNC_IO Failed"},
    {QorixRes::SConPropAsyncNotifsFailed, "ct_con_props CS_ASYNC_NOTIFS Failed"},
    {QorixRes::SConPropBulkLoginFailed, "ct_con_props CS_BULK_LOGIN Failed"},
    {QorixRes::SConPropDiagTimeoutFailed, "ct_con_props CS_DIAG_TIMEOUT Failed"},
    {QorixRes::SConPropExtraInfFailed, "ct_con_props CS_EXTRA_INF Failed"},
    {QorixRes::SConPropHiddenKeysFailed, "ct_con_props CS_HIDDEN_KEYS Failed"},
    {QorixRes::SConPropLoginStatusFailed, "ct_con_props CS_LOGIN_STATUS Failed"},
    {QorixRes::SConPropSecEncryptionFailed, "ct_con_props CS_SEC_ENCRYPTION Failed"},
    {QorixRes::SConPropSecNegotiateFailed, "ct_con_props CS_SEC_NEGOTIATE Failed"},
    {QorixRes::SConPropPacketSizeFailed, "ct_con_props CS_PACKETSIZE Failed"},
    {QorixRes::SConPropUserNameFailed, "ct_con_props CS_USERNAME Failed"},
    {QorixRes::SConPropPasswordFailed, "ct_con_props CS_PASSWORD Failed"},
    {QorixRes::SConPropAppNameFailed, "ct_con_props CS_APPNAME Failed"},
    {QorixRes::SConPropHostNameFailed, "ct_con_props CS_HOSTNAME Failed"},
    {QorixRes::SInvalidTimeOut, "Invalid TimeOut value"},
    {QorixRes::SNotEditOrInsertMode, "DataSet is not in edit or insert mode"},
    {QorixRes::SCommandFailed, "Command failed"},
    {QorixRes::SSourceNotValid, "Source is not valid"},
    {QorixRes::SNoFileName, "No FileName specified"},
    {QorixRes::SNoConfigFile, "No ConfigFile specified"},
    {QorixRes::SErrorAccessingFile, "Error Accessing File '%s'"},
    {QorixRes::SNotTextObject, "Object '%s' is not a Stored Procedure, View ,Trigger, Default or Rule"},
    {QorixRes::SDatabaseNameMissing, "Database name missing"},
    {QorixRes::SDatabaseOrDbNameRequired, "Database or DbName required"},
    {QorixRes::SInvalidTableNameOrSQL, "Invalid TableName/SQL"},
    {QorixRes::SNoResultColumns, "No return result set columns could be found"},
    {QorixRes::SMissingTableName, "Missing TableName property"},
    {QorixRes::SMissingStoredProcName, "Missing StoredProcName property"},
    {QorixRes::SNamedComponentNotFound, "No '%s' component named '%s' can be found"},
    {QorixRes::SPasswordNotConfirmed,
     "The new password was not correctly confirmed. Be sure that the confirmation password exactly matches "
     "the new password"},
    {QorixRes::SCtConAllocFailed, "ct_con_alloc Failed"},
    {QorixRes::SDataSetClosed, "Cannot perform this operation on a closed dataset"},
    {QorixRes::SDatabaseClosed, "Cannot perform this operation on a closed database"},
    {QorixRes::SCircularDataLinks, "Circular datalinks are not allowed"},
    {QorixRes::SCachedUpdatesResultsPending,
     "The dataset has results pending. Cached Updates is not allowed with pending results"},
    {QorixRes::SRequestLiveResultsPending,
     "The dataset has results pending. RequestLive Updates is not allowed with pending results"},
    {QorixRes::SNonCursorMixedWithCursor,
     "A non-cursor dataset '%s' is already open on this connection.\r\n\r\nCursor and non-cursor datasets "
     "are not allowed to be open at any one time on the same connection"},
    {QorixRes::SNonCursorAlreadyOpen,
     "A non-cursor dataset '%s' is already open on this connection.\r\n\r\nOnly one non-cursor dataset is "
     "allowed to be open at any one time on a single connection"},
    {QorixRes::SCursorProcInputOnly,
     "When executing a stored procedure using a cursor, only INPUT parameters are allowed"},
    {QorixRes::SCursorProcParamCount,
     "The cursor and stored procedure does not have the same number of parameters. Check the stored "
     "procedure and paramaters"},
    {QorixRes::SAggregateActive, "Property may not be modified while aggregate is active"},
    {QorixRes::SUnsupportedFieldType, "Field '%s' is of an unsupported type"},
    {QorixRes::STableNamedReadOnly, "Table '%s' is read only"},
    {QorixRes::STableReadOnly, "Table is read only"},
    {QorixRes::SRecordChanged, "Record changed by another user"},
    {QorixRes::SMissingDbParams, "Missing DbParams"},
    {QorixRes::SUnbalancedDoubleQuotes, "The text contains unbalanced double quotes"},
    {QorixRes::SNoSQLStatement, "No SQL statement available"},
    {QorixRes::SNotCachedUpdates, "Not in cached update mode"},
    {QorixRes::SNoUpdateObject, "No Update Object defined"},
    {QorixRes::SCannotLogin, "Cannot login to server '%s'"},
};

}  // namespace

QString LoadResString(int id) {
  const auto* end = std::end(kTable);
  const auto* it =
      std::lower_bound(std::begin(kTable), end, id, [](const ResEntry& e, int v) { return e.id < v; });
  if (it == end || it->id != id) return QString();
  return QString::fromUtf8(it->text);
}

int ResStringCount() {
  return static_cast<int>(std::size(kTable));
}

QString Format(const QString& fmt, const QStringList& args) {
  QString out;
  out.reserve(fmt.size() + 32);
  int next = 0;
  for (qsizetype i = 0; i < fmt.size(); ++i) {
    const QChar ch = fmt.at(i);
    if (ch != u'%' || i + 1 >= fmt.size()) {
      out += ch;
      continue;
    }
    const QChar conversion = fmt.at(i + 1);
    if (conversion == u'%') {
      out += u'%';
      ++i;
    } else if (conversion == u's' || conversion == u'd') {
      if (next < args.size()) out += args.at(next);
      ++next;
      ++i;
    } else {
      out += ch;
    }
  }
  return out;
}
