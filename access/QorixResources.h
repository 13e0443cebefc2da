// The suite's message table: every fixed text a component shows or raises, looked up by its id
// at the moment it is needed, so one translated table replaces them all; plus the "%s" filler
// the callers use on the texts that carry placeholders.
#pragma once

#include <QString>
#include <QStringList>

// Ids of the message-table entries (three runs: 65168-65178, 65184-65247, 65260-65263).
namespace QorixRes {
inline constexpr int SBookmarkNotFound = 65168;        // "Bookmark '%s' not found"
inline constexpr int SNoRecords = 65169;               // "No Records"
inline constexpr int SNoDbNameOrContextName = 65170;   // "A DbName and/or ContextName must be supplied"
inline constexpr int SErrorAllocatingContext = 65171;  // "Error allocating a Context"
inline constexpr int SInsertNotAllowed = 65172;        // "Insert is not allowed"
inline constexpr int SDeleteNotAllowed = 65173;        // "Delete is not allowed"
inline constexpr int SEditNotAllowed = 65174;          // "Edit is not allowed"
inline constexpr int SNoExecNotAllowed = 65175;        // "ProcOptions of poNoExec is not allowed"
inline constexpr int SDatabaseComponentNotFound =
    65176;                                            // "Could not find QorixDatabase component named '%s'"
inline constexpr int SNoFieldName = 65177;            // "No FieldName assigned"
inline constexpr int SDataSetFieldUndefined = 65178;  // "DataSetField is undefined"
inline constexpr int SCtInitFailed = 65184;           // "ct_init Failed"
inline constexpr int SCtCtxAllocFailed = 65185;       // "ct_ctx_alloc Failed"
inline constexpr int SCsLocAllocFailed = 65186;       // "cs_loc_alloc Failed"
inline constexpr int SCsLocaleFailed = 65187;         // "cs_locale Failed"
inline constexpr int SCtDsLookupFailed = 65188;       // "ct_ds_lookup Failed"
inline constexpr int SCtCallbackServerMsgFailed = 65189;   // "ct_callback Failed for CS_SERVERMSG_CB"
inline constexpr int SCtCallbackCompletionFailed = 65190;  // "ct_callback Failed for CS_COMPLETION_CB"
inline constexpr int SCsLocaleCharSetFailed = 65191;       // "cs_locale Failed. Invalid CS_SYB_CHARSET"
inline constexpr int SCsLocaleSortOrderFailed = 65192;     // "cs_locale Failed. Invalid CS_SYB_SORTORDER"
inline constexpr int SCsLocaleLangFailed = 65193;          // "cs_locale Failed. Invalid CS_SYB_LANG"
inline constexpr int SInvalidMaxConnect = 65194;           // "Invalid MaxConnect value"
inline constexpr int SNoRecordFound = 65195;               // "No record found, but one expected"
inline constexpr int SMultipleRecordsFound = 65196;        // "Multiple records found, but only one expected"
inline constexpr int SCharToIntError = 65197;              // "Error converting Char to Int"
inline constexpr int SNoKeyForWhereKeyOnly =
    65198;  // "UpdateMode is upWhereKeyOnly but no Index found or Prime Fields as..."
inline constexpr int SUniDirectional = 65199;  // "This action is not allowed when DataSet is UniDirectional"
inline constexpr int SConPropAnsiBindsFailed = 65200;      // "ct_con_props CS_ANSI_BINDS Failed"
inline constexpr int SConPropAsyncIoFailed = 65201;        // "ct_con_props CS_ASYNC_IO Failed"
inline constexpr int SConPropAsyncNotifsFailed = 65202;    // "ct_con_props CS_ASYNC_NOTIFS Failed"
inline constexpr int SConPropBulkLoginFailed = 65203;      // "ct_con_props CS_BULK_LOGIN Failed"
inline constexpr int SConPropDiagTimeoutFailed = 65204;    // "ct_con_props CS_DIAG_TIMEOUT Failed"
inline constexpr int SConPropExtraInfFailed = 65205;       // "ct_con_props CS_EXTRA_INF Failed"
inline constexpr int SConPropHiddenKeysFailed = 65206;     // "ct_con_props CS_HIDDEN_KEYS Failed"
inline constexpr int SConPropLoginStatusFailed = 65207;    // "ct_con_props CS_LOGIN_STATUS Failed"
inline constexpr int SConPropSecEncryptionFailed = 65208;  // "ct_con_props CS_SEC_ENCRYPTION Failed"
inline constexpr int SConPropSecNegotiateFailed = 65209;   // "ct_con_props CS_SEC_NEGOTIATE Failed"
inline constexpr int SConPropPacketSizeFailed = 65210;     // "ct_con_props CS_PACKETSIZE Failed"
inline constexpr int SConPropUserNameFailed = 65211;       // "ct_con_props CS_USERNAME Failed"
inline constexpr int SConPropPasswordFailed = 65212;       // "ct_con_props CS_PASSWORD Failed"
inline constexpr int SConPropAppNameFailed = 65213;        // "ct_con_props CS_APPNAME Failed"
inline constexpr int SConPropHostNameFailed = 65214;       // "ct_con_props CS_HOSTNAME Failed"
inline constexpr int SInvalidTimeOut = 65215;              // "Invalid TimeOut value"
inline constexpr int SNotEditOrInsertMode = 65216;         // "DataSet is not in edit or insert mode"
inline constexpr int SCommandFailed = 65217;               // "Command failed"
inline constexpr int SSourceNotValid = 65218;              // "Source is not valid"
inline constexpr int SNoFileName = 65219;                  // "No FileName specified"
inline constexpr int SNoConfigFile = 65220;                // "No ConfigFile specified"
inline constexpr int SErrorAccessingFile = 65221;          // "Error Accessing File '%s'"
inline constexpr int SNotTextObject =
    65222;  // "Object '%s' is not a Stored Procedure, View ,Trigger, Default or Rule"
inline constexpr int SDatabaseNameMissing = 65223;       // "Database name missing"
inline constexpr int SDatabaseOrDbNameRequired = 65224;  // "Database or DbName required"
inline constexpr int SInvalidTableNameOrSQL = 65225;     // "Invalid TableName/SQL"
inline constexpr int SNoResultColumns = 65226;           // "No return result set columns could be found"
inline constexpr int SMissingTableName = 65227;          // "Missing TableName property"
inline constexpr int SMissingStoredProcName = 65228;     // "Missing StoredProcName property"
inline constexpr int SNamedComponentNotFound = 65229;    // "No '%s' component named '%s' can be found"
inline constexpr int SPasswordNotConfirmed =
    65230;  // "The new password was not correctly confirmed. Be sure that the con..."
inline constexpr int SCtConAllocFailed = 65231;   // "ct_con_alloc Failed"
inline constexpr int SDataSetClosed = 65232;      // "Cannot perform this operation on a closed dataset"
inline constexpr int SDatabaseClosed = 65233;     // "Cannot perform this operation on a closed database"
inline constexpr int SCircularDataLinks = 65234;  // "Circular datalinks are not allowed"
inline constexpr int SCachedUpdatesResultsPending =
    65235;  // "The dataset has results pending. Cached Updates is not allowed wit..."
inline constexpr int SRequestLiveResultsPending =
    65236;  // "The dataset has results pending. RequestLive Updates is not allowe..."
inline constexpr int SNonCursorMixedWithCursor =
    65237;  // "A non-cursor dataset '%s' is already open on this connection...."
inline constexpr int SNonCursorAlreadyOpen =
    65238;  // "A non-cursor dataset '%s' is already open on this connection...."
inline constexpr int SCursorProcInputOnly =
    65239;  // "When executing a stored procedure using a cursor, only INPUT param..."
inline constexpr int SCursorProcParamCount =
    65240;  // "The cursor and stored procedure does not have the same number of p..."
inline constexpr int SAggregateActive = 65241;  // "Property may not be modified while aggregate is active"
inline constexpr int SUnsupportedFieldType = 65242;    // "Field '%s' is of an unsupported type"
inline constexpr int STableNamedReadOnly = 65243;      // "Table '%s' is read only"
inline constexpr int STableReadOnly = 65244;           // "Table is read only"
inline constexpr int SRecordChanged = 65245;           // "Record changed by another user"
inline constexpr int SMissingDbParams = 65246;         // "Missing DbParams"
inline constexpr int SUnbalancedDoubleQuotes = 65247;  // "The text contains unbalanced double quotes"
inline constexpr int SNoSQLStatement = 65260;          // "No SQL statement available"
inline constexpr int SNotCachedUpdates = 65261;        // "Not in cached update mode"
inline constexpr int SNoUpdateObject = 65262;          // "No Update Object defined"
inline constexpr int SCannotLogin = 65263;             // "Cannot login to server '%s'"
}  // namespace QorixRes

// The text of message-table entry Id; an empty text for an id the table does not hold.
QString LoadResString(int id);

// Number of entries in the message table.
int ResStringCount();

// Fills the "%s" and "%d" placeholders of Fmt in order with Args ("%%" gives one "%"); a
// placeholder without an argument is left out, as the class library's Format would refuse it.
QString Format(const QString& fmt, const QStringList& args);
