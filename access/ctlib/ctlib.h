// The Client-Library facade: the one place that includes FreeTDS's ctpublic.h. Every call of
// the suite goes through the functions of namespace ctlib, which forward to FreeTDS and supply
// what FreeTDS lacks or does differently (per-connection message queues behind ct_diag,
// ct_debug, the directory-service calls, kept locale and configuration values, interfaces-file
// name resolution with TDS 5.0 pinned).
#pragma once

#include <ctpublic.h>

#include <string>
#include <vector>

// Directory-service declarations that FreeTDS's headers lack, in the published layout.
#ifndef CS_MAX_DS_STRING
#define CS_MAX_DS_STRING 512
#endif
#ifndef CS_DS_CLASSOID
#define CS_DS_CLASSOID 1
#define CS_DS_DIST_NAME 2
#define CS_DS_NUMATTR 3
#define CS_DS_ATTRIBUTE 4
#define CS_DS_ATTRVALS 5
#endif
// Object identifier of server entries in the directory.
#define CS_OID_OBJSERVER "1.3.6.1.4.1.897.4.1.1"

// ct_debug operations and flags that FreeTDS's headers lack.
#ifndef CS_SET_FLAG
// ct_res_info: the ORDER BY column list of a row result (FreeTDS defines only CS_NUMORDERCOLS).
#ifndef CS_ORDERBY_COLS
#define CS_ORDERBY_COLS 804
#endif

#define CS_SET_FLAG 1700
#define CS_CLEAR_FLAG 1701
#define CS_SET_DBG_FILE 1702
#define CS_SET_PROTOCOL_FILE 1703
#endif
#ifndef CS_DBG_ALL
#define CS_DBG_ALL 0x1
#define CS_DBG_ASYNC 0x2
#define CS_DBG_ERROR 0x4
#define CS_DBG_MEM 0x8
#define CS_DBG_PROTOCOL 0x10
#define CS_DBG_PROTOCOL_STATES 0x20
#define CS_DBG_API_STATES 0x40
#define CS_DBG_DIAG 0x80
#define CS_DBG_NETWORK 0x100
#endif

// Client-Library's ct_config property 9111 (set to 0 at context start-up), kept by the facade.
#define CS_CONFIG_9111 9111

// An object identifier such as CS_OID_OBJSERVER.
typedef struct _cs_oid {
  CS_INT oid_length;
  CS_CHAR oid_buffer[CS_MAX_DS_STRING];
} CS_OID;

// One directory object (a server entry) handed to the lookup callback; opaque to callers.
typedef struct _cs_ds_object CS_DS_OBJECT;

// What ct_ds_lookup searches for: the object class, an optional path, filter and selection.
typedef struct _cs_ds_lookup_info {
  CS_OID* objclass;
  CS_CHAR* path;
  CS_INT pathlen;
  CS_VOID* attrfilter;
  CS_VOID* attrselect;
} CS_DS_LOOKUP_INFO;

// The directory-lookup callback (CS_DS_LOOKUP_CB): called once per found object; returning
// CS_CONTINUE asks for the next one.
typedef CS_RETCODE (*CS_DS_LOOKUP_FUNC)(CS_CONNECTION* con, CS_INT reqid, CS_RETCODE status,
                                        CS_INT numentries, CS_DS_OBJECT* object, CS_VOID* userdata);

namespace ctlib {

// The library the facade functions dispatch to. The default implementations are the real
// facade over FreeTDS; a test subclass (RecordingLibrary) records calls and fails chosen ones.
class Library {
 public:
  virtual ~Library() = default;
  virtual CS_RETCODE cs_ctx_alloc(CS_INT version, CS_CONTEXT** ctx);
  virtual CS_RETCODE cs_ctx_drop(CS_CONTEXT* ctx);
  virtual CS_RETCODE cs_loc_alloc(CS_CONTEXT* ctx, CS_LOCALE** locptr);
  virtual CS_RETCODE cs_loc_drop(CS_CONTEXT* ctx, CS_LOCALE* locale);
  virtual CS_RETCODE cs_locale(CS_CONTEXT* ctx, CS_INT action, CS_LOCALE* locale, CS_INT type,
                               CS_VOID* buffer, CS_INT buflen, CS_INT* outlen);
  virtual CS_RETCODE cs_convert(CS_CONTEXT* ctx, CS_DATAFMT* srcfmt, CS_VOID* srcdata, CS_DATAFMT* destfmt,
                                CS_VOID* destdata, CS_INT* resultlen);
  virtual CS_RETCODE cs_dt_crack(CS_CONTEXT* ctx, CS_INT datetype, CS_VOID* dateval, CS_DATEREC* daterec);
  virtual CS_RETCODE ct_init(CS_CONTEXT* ctx, CS_INT version);
  virtual CS_RETCODE ct_exit(CS_CONTEXT* ctx, CS_INT option);
  virtual CS_RETCODE ct_config(CS_CONTEXT* ctx, CS_INT action, CS_INT property, CS_VOID* buffer,
                               CS_INT buflen, CS_INT* outlen);
  virtual CS_RETCODE ct_callback(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT action, CS_INT type,
                                 CS_VOID* func);
  virtual CS_RETCODE ct_con_alloc(CS_CONTEXT* ctx, CS_CONNECTION** con);
  virtual CS_RETCODE ct_con_props(CS_CONNECTION* con, CS_INT action, CS_INT property, CS_VOID* buffer,
                                  CS_INT buflen, CS_INT* outlen);
  virtual CS_RETCODE ct_connect(CS_CONNECTION* con, CS_CHAR* servername, CS_INT snamelen);
  virtual CS_RETCODE ct_close(CS_CONNECTION* con, CS_INT option);
  virtual CS_RETCODE ct_con_drop(CS_CONNECTION* con);
  virtual CS_RETCODE ct_options(CS_CONNECTION* con, CS_INT action, CS_INT option, CS_VOID* param,
                                CS_INT paramlen, CS_INT* outlen);
  virtual CS_RETCODE ct_debug(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT operation, CS_INT flag,
                              CS_CHAR* filename, CS_INT fnamelen);
  virtual CS_RETCODE ct_cmd_alloc(CS_CONNECTION* con, CS_COMMAND** cmd);
  virtual CS_RETCODE ct_cmd_props(CS_COMMAND* cmd, CS_INT action, CS_INT property, CS_VOID* buffer,
                                  CS_INT buflen, CS_INT* outlen);
  virtual CS_RETCODE ct_cmd_drop(CS_COMMAND* cmd);
  virtual CS_RETCODE ct_command(CS_COMMAND* cmd, CS_INT type, const CS_VOID* buffer, CS_INT buflen,
                                CS_INT option);
  virtual CS_RETCODE ct_dynamic(CS_COMMAND* cmd, CS_INT type, CS_CHAR* id, CS_INT idlen, CS_CHAR* buffer,
                                CS_INT buflen);
  virtual CS_RETCODE ct_cursor(CS_COMMAND* cmd, CS_INT type, CS_CHAR* name, CS_INT namelen, CS_CHAR* text,
                               CS_INT tlen, CS_INT option);
  virtual CS_RETCODE ct_param(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT datalen,
                              CS_SMALLINT indicator);
  virtual CS_RETCODE ct_setparam(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT* datalen,
                                 CS_SMALLINT* indicator);
  virtual CS_RETCODE ct_send(CS_COMMAND* cmd);
  virtual CS_RETCODE ct_send_data(CS_COMMAND* cmd, CS_VOID* buffer, CS_INT buflen);
  virtual CS_RETCODE ct_results(CS_COMMAND* cmd, CS_INT* result_type);
  virtual CS_RETCODE ct_res_info(CS_COMMAND* cmd, CS_INT type, CS_VOID* buffer, CS_INT buflen,
                                 CS_INT* outlen);
  virtual CS_RETCODE ct_describe(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt);
  virtual CS_RETCODE ct_bind(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt, CS_VOID* buffer,
                             CS_INT* copied, CS_SMALLINT* indicator);
  virtual CS_RETCODE ct_fetch(CS_COMMAND* cmd, CS_INT type, CS_INT offset, CS_INT option, CS_INT* rows_read);
  virtual CS_RETCODE ct_get_data(CS_COMMAND* cmd, CS_INT item, CS_VOID* buffer, CS_INT buflen,
                                 CS_INT* outlen);
  virtual CS_RETCODE ct_data_info(CS_COMMAND* cmd, CS_INT action, CS_INT colnum, CS_IODESC* iodesc);
  virtual CS_RETCODE ct_compute_info(CS_COMMAND* cmd, CS_INT type, CS_INT colnum, CS_VOID* buffer,
                                     CS_INT buflen, CS_INT* outlen);
  virtual CS_RETCODE ct_cancel(CS_CONNECTION* con, CS_COMMAND* cmd, CS_INT type);
  virtual CS_RETCODE ct_capability(CS_CONNECTION* con, CS_INT action, CS_INT type, CS_INT capability,
                                   CS_VOID* value);
  virtual CS_RETCODE ct_diag(CS_CONNECTION* con, CS_INT operation, CS_INT type, CS_INT index,
                             CS_VOID* buffer);
  virtual CS_RETCODE ct_ds_lookup(CS_CONNECTION* con, CS_INT action, CS_INT* reqid,
                                  CS_DS_LOOKUP_INFO* lookupinfo, CS_VOID* userdata);
  virtual CS_RETCODE ct_ds_objinfo(CS_DS_OBJECT* object, CS_INT action, CS_INT objinfo, CS_INT number,
                                   CS_VOID* buffer, CS_INT buflen, CS_INT* outlen);
  virtual CS_RETCODE ct_ds_dropobj(CS_CONNECTION* con, CS_DS_OBJECT* object);
};

// The library in use (the FreeTDS facade unless a test installed another).
Library& Current();
// Installs Library as the one in use (null restores the FreeTDS facade); returns the previous.
Library* SetCurrent(Library* library);

// One server entry of an interfaces file: its name and the address of its query service.
struct ServerEntry {
  std::string name;
  std::string host;
  int port = 0;
};

// The server entries of an interfaces file in file order (Unix "interfaces" layout with
// "query tcp ether HOST PORT" lines, or the "[NAME]" / "query=TCP,HOST,PORT" layout);
// an unreadable file gives none.
std::vector<ServerEntry> ReadInterfacesFile(const std::string& path);

// The interfaces file a context uses: its CS_IFILE when set, else $SYBASE/interfaces, else "".
std::string InterfacesFileOf(CS_CONTEXT* ctx);

// The server names of a freetds.conf: its [section] names in file order, without "global",
// each once (FreeTDS compares them without case); an unreadable file gives none.
std::vector<std::string> ReadFreeTdsConfSections(const std::string& path);
// The freetds.conf files FreeTDS reads: the one FREETDSCONF names, else its default files
// ($FREETDS/etc/freetds.conf, ~/.freetds.conf, the system file) in its search order.
std::vector<std::string> FreeTdsConfFiles();
// The file FreeTDS resolves server names with when the context names no interfaces file:
// the first readable one of FREETDSCONF's file, $FREETDS/etc/freetds.conf, ~/.freetds.conf,
// the system freetds.conf, ~/.interfaces and $SYBASE/interfaces (without SYBASE the system
// interfaces file); "" when none can be read.
std::string FreeTdsNamesFile();
// The servers of those files, each once, in that order: what the directory service lists
// when the context has no interfaces file.
std::vector<std::string> FreeTdsConfServers();

// The text of the client message the facade adds when a connect fails without an error of
// its own ("ct_connect(): unable to connect to server 'NAME'").
std::string ConnectFailedText(const std::string& server);

// The select-list column numbers (1-based) a statement's ORDER BY names, for a language text
// holding one SELECT (with any UNION parts) whose result has the columns Names: a number
// stands for itself, a name (or owner.table.name, with ASC or DESC) for the column of that
// name; expressions and names not in the select list are left out. Any other text gives none.
std::vector<CS_INT> OrderByColumnsOf(const std::string& sql, const std::vector<std::string>& names);

// The number of COMPUTE clauses of each result set a language text sends, in the order the
// result sets come: one entry per SELECT that returns rows (not "select @v = ...", not
// "select ... into", not the SELECT of an INSERT or a cursor declaration). The list stops
// before the first statement whose results the text does not tell (IF, WHILE, EXEC, a
// procedure called by name, CREATE, FETCH ...).
std::vector<int> ComputeClausesOfResultSets(const std::string& sql);

namespace detail {
// Writes one line for Call to the ct_debug trace file when tracing is on.
void TraceCall(const char* call);
// Hands Msg to the facade's server-message callback as FreeTDS would for Con (tests use it
// to queue messages no server sends on demand, such as severity 2 with number 1205).
CS_RETCODE DeliverServerMessage(CS_CONNECTION* con, const CS_SERVERMSG& msg);
// The same for a client message; libtds numbers (20000-20999) get their severities mapped.
CS_RETCODE DeliverClientMessage(CS_CONNECTION* con, const CS_CLIENTMSG& msg);
}  // namespace detail

inline CS_RETCODE cs_ctx_alloc(CS_INT version, CS_CONTEXT** ctx) {
  detail::TraceCall("cs_ctx_alloc");
  return Current().cs_ctx_alloc(version, ctx);
}
inline CS_RETCODE cs_ctx_drop(CS_CONTEXT* ctx) {
  detail::TraceCall("cs_ctx_drop");
  return Current().cs_ctx_drop(ctx);
}
inline CS_RETCODE cs_loc_alloc(CS_CONTEXT* ctx, CS_LOCALE** locptr) {
  detail::TraceCall("cs_loc_alloc");
  return Current().cs_loc_alloc(ctx, locptr);
}
inline CS_RETCODE cs_loc_drop(CS_CONTEXT* ctx, CS_LOCALE* locale) {
  detail::TraceCall("cs_loc_drop");
  return Current().cs_loc_drop(ctx, locale);
}
inline CS_RETCODE cs_locale(CS_CONTEXT* ctx, CS_INT action, CS_LOCALE* locale, CS_INT type, CS_VOID* buffer,
                            CS_INT buflen, CS_INT* outlen) {
  detail::TraceCall("cs_locale");
  return Current().cs_locale(ctx, action, locale, type, buffer, buflen, outlen);
}
inline CS_RETCODE cs_convert(CS_CONTEXT* ctx, CS_DATAFMT* srcfmt, CS_VOID* srcdata, CS_DATAFMT* destfmt,
                             CS_VOID* destdata, CS_INT* resultlen) {
  detail::TraceCall("cs_convert");
  return Current().cs_convert(ctx, srcfmt, srcdata, destfmt, destdata, resultlen);
}
inline CS_RETCODE cs_dt_crack(CS_CONTEXT* ctx, CS_INT datetype, CS_VOID* dateval, CS_DATEREC* daterec) {
  detail::TraceCall("cs_dt_crack");
  return Current().cs_dt_crack(ctx, datetype, dateval, daterec);
}
inline CS_RETCODE ct_init(CS_CONTEXT* ctx, CS_INT version) {
  detail::TraceCall("ct_init");
  return Current().ct_init(ctx, version);
}
inline CS_RETCODE ct_exit(CS_CONTEXT* ctx, CS_INT option) {
  detail::TraceCall("ct_exit");
  return Current().ct_exit(ctx, option);
}
inline CS_RETCODE ct_config(CS_CONTEXT* ctx, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                            CS_INT* outlen) {
  detail::TraceCall("ct_config");
  return Current().ct_config(ctx, action, property, buffer, buflen, outlen);
}
inline CS_RETCODE ct_callback(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT action, CS_INT type,
                              CS_VOID* func) {
  detail::TraceCall("ct_callback");
  return Current().ct_callback(ctx, con, action, type, func);
}
inline CS_RETCODE ct_con_alloc(CS_CONTEXT* ctx, CS_CONNECTION** con) {
  detail::TraceCall("ct_con_alloc");
  return Current().ct_con_alloc(ctx, con);
}
inline CS_RETCODE ct_con_props(CS_CONNECTION* con, CS_INT action, CS_INT property, CS_VOID* buffer,
                               CS_INT buflen, CS_INT* outlen) {
  detail::TraceCall("ct_con_props");
  return Current().ct_con_props(con, action, property, buffer, buflen, outlen);
}
inline CS_RETCODE ct_connect(CS_CONNECTION* con, CS_CHAR* servername, CS_INT snamelen) {
  detail::TraceCall("ct_connect");
  return Current().ct_connect(con, servername, snamelen);
}
inline CS_RETCODE ct_close(CS_CONNECTION* con, CS_INT option) {
  detail::TraceCall("ct_close");
  return Current().ct_close(con, option);
}
inline CS_RETCODE ct_con_drop(CS_CONNECTION* con) {
  detail::TraceCall("ct_con_drop");
  return Current().ct_con_drop(con);
}
inline CS_RETCODE ct_options(CS_CONNECTION* con, CS_INT action, CS_INT option, CS_VOID* param,
                             CS_INT paramlen, CS_INT* outlen) {
  detail::TraceCall("ct_options");
  return Current().ct_options(con, action, option, param, paramlen, outlen);
}
inline CS_RETCODE ct_debug(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT operation, CS_INT flag,
                           CS_CHAR* filename, CS_INT fnamelen) {
  detail::TraceCall("ct_debug");
  return Current().ct_debug(ctx, con, operation, flag, filename, fnamelen);
}
inline CS_RETCODE ct_cmd_alloc(CS_CONNECTION* con, CS_COMMAND** cmd) {
  detail::TraceCall("ct_cmd_alloc");
  return Current().ct_cmd_alloc(con, cmd);
}
inline CS_RETCODE ct_cmd_props(CS_COMMAND* cmd, CS_INT action, CS_INT property, CS_VOID* buffer,
                               CS_INT buflen, CS_INT* outlen) {
  detail::TraceCall("ct_cmd_props");
  return Current().ct_cmd_props(cmd, action, property, buffer, buflen, outlen);
}
inline CS_RETCODE ct_cmd_drop(CS_COMMAND* cmd) {
  detail::TraceCall("ct_cmd_drop");
  return Current().ct_cmd_drop(cmd);
}
inline CS_RETCODE ct_command(CS_COMMAND* cmd, CS_INT type, const CS_VOID* buffer, CS_INT buflen,
                             CS_INT option) {
  detail::TraceCall("ct_command");
  return Current().ct_command(cmd, type, buffer, buflen, option);
}
inline CS_RETCODE ct_dynamic(CS_COMMAND* cmd, CS_INT type, CS_CHAR* id, CS_INT idlen, CS_CHAR* buffer,
                             CS_INT buflen) {
  detail::TraceCall("ct_dynamic");
  return Current().ct_dynamic(cmd, type, id, idlen, buffer, buflen);
}
inline CS_RETCODE ct_cursor(CS_COMMAND* cmd, CS_INT type, CS_CHAR* name, CS_INT namelen, CS_CHAR* text,
                            CS_INT tlen, CS_INT option) {
  detail::TraceCall("ct_cursor");
  return Current().ct_cursor(cmd, type, name, namelen, text, tlen, option);
}
inline CS_RETCODE ct_param(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT datalen,
                           CS_SMALLINT indicator) {
  detail::TraceCall("ct_param");
  return Current().ct_param(cmd, datafmt, data, datalen, indicator);
}
inline CS_RETCODE ct_setparam(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT* datalen,
                              CS_SMALLINT* indicator) {
  detail::TraceCall("ct_setparam");
  return Current().ct_setparam(cmd, datafmt, data, datalen, indicator);
}
inline CS_RETCODE ct_send(CS_COMMAND* cmd) {
  detail::TraceCall("ct_send");
  return Current().ct_send(cmd);
}
inline CS_RETCODE ct_send_data(CS_COMMAND* cmd, CS_VOID* buffer, CS_INT buflen) {
  detail::TraceCall("ct_send_data");
  return Current().ct_send_data(cmd, buffer, buflen);
}
inline CS_RETCODE ct_results(CS_COMMAND* cmd, CS_INT* result_type) {
  detail::TraceCall("ct_results");
  return Current().ct_results(cmd, result_type);
}
inline CS_RETCODE ct_res_info(CS_COMMAND* cmd, CS_INT type, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  detail::TraceCall("ct_res_info");
  return Current().ct_res_info(cmd, type, buffer, buflen, outlen);
}
inline CS_RETCODE ct_describe(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt) {
  detail::TraceCall("ct_describe");
  return Current().ct_describe(cmd, item, datafmt);
}
inline CS_RETCODE ct_bind(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt, CS_VOID* buffer, CS_INT* copied,
                          CS_SMALLINT* indicator) {
  detail::TraceCall("ct_bind");
  return Current().ct_bind(cmd, item, datafmt, buffer, copied, indicator);
}
inline CS_RETCODE ct_fetch(CS_COMMAND* cmd, CS_INT type, CS_INT offset, CS_INT option, CS_INT* rows_read) {
  detail::TraceCall("ct_fetch");
  return Current().ct_fetch(cmd, type, offset, option, rows_read);
}
inline CS_RETCODE ct_get_data(CS_COMMAND* cmd, CS_INT item, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  detail::TraceCall("ct_get_data");
  return Current().ct_get_data(cmd, item, buffer, buflen, outlen);
}
inline CS_RETCODE ct_data_info(CS_COMMAND* cmd, CS_INT action, CS_INT colnum, CS_IODESC* iodesc) {
  detail::TraceCall("ct_data_info");
  return Current().ct_data_info(cmd, action, colnum, iodesc);
}
inline CS_RETCODE ct_compute_info(CS_COMMAND* cmd, CS_INT type, CS_INT colnum, CS_VOID* buffer, CS_INT buflen,
                                  CS_INT* outlen) {
  detail::TraceCall("ct_compute_info");
  return Current().ct_compute_info(cmd, type, colnum, buffer, buflen, outlen);
}
inline CS_RETCODE ct_cancel(CS_CONNECTION* con, CS_COMMAND* cmd, CS_INT type) {
  detail::TraceCall("ct_cancel");
  return Current().ct_cancel(con, cmd, type);
}
inline CS_RETCODE ct_capability(CS_CONNECTION* con, CS_INT action, CS_INT type, CS_INT capability,
                                CS_VOID* value) {
  detail::TraceCall("ct_capability");
  return Current().ct_capability(con, action, type, capability, value);
}
inline CS_RETCODE ct_diag(CS_CONNECTION* con, CS_INT operation, CS_INT type, CS_INT index, CS_VOID* buffer) {
  detail::TraceCall("ct_diag");
  return Current().ct_diag(con, operation, type, index, buffer);
}
inline CS_RETCODE ct_ds_lookup(CS_CONNECTION* con, CS_INT action, CS_INT* reqid,
                               CS_DS_LOOKUP_INFO* lookupinfo, CS_VOID* userdata) {
  detail::TraceCall("ct_ds_lookup");
  return Current().ct_ds_lookup(con, action, reqid, lookupinfo, userdata);
}
inline CS_RETCODE ct_ds_objinfo(CS_DS_OBJECT* object, CS_INT action, CS_INT objinfo, CS_INT number,
                                CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  detail::TraceCall("ct_ds_objinfo");
  return Current().ct_ds_objinfo(object, action, objinfo, number, buffer, buflen, outlen);
}
inline CS_RETCODE ct_ds_dropobj(CS_CONNECTION* con, CS_DS_OBJECT* object) {
  detail::TraceCall("ct_ds_dropobj");
  return Current().ct_ds_dropobj(con, object);
}

}  // namespace ctlib
