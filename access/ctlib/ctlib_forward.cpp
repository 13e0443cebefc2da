// The facade calls that FreeTDS serves as they are: plain forwards to the library.

#include "access/ctlib/ctlib.h"

namespace ctlib {

CS_RETCODE Library::cs_convert(CS_CONTEXT* ctx, CS_DATAFMT* srcfmt, CS_VOID* srcdata, CS_DATAFMT* destfmt,
                               CS_VOID* destdata, CS_INT* resultlen) {
  return ::cs_convert(ctx, srcfmt, srcdata, destfmt, destdata, resultlen);
}

CS_RETCODE Library::cs_dt_crack(CS_CONTEXT* ctx, CS_INT datetype, CS_VOID* dateval, CS_DATEREC* daterec) {
  return ::cs_dt_crack(ctx, datetype, dateval, daterec);
}

CS_RETCODE Library::ct_exit(CS_CONTEXT* ctx, CS_INT option) {
  return ::ct_exit(ctx, option);
}

CS_RETCODE Library::ct_cmd_props(CS_COMMAND* cmd, CS_INT action, CS_INT property, CS_VOID* buffer,
                                 CS_INT buflen, CS_INT* outlen) {
  return ::ct_cmd_props(cmd, action, property, buffer, buflen, outlen);
}

CS_RETCODE Library::ct_dynamic(CS_COMMAND* cmd, CS_INT type, CS_CHAR* id, CS_INT idlen, CS_CHAR* buffer,
                               CS_INT buflen) {
  return ::ct_dynamic(cmd, type, id, idlen, buffer, buflen);
}

CS_RETCODE Library::ct_param(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT datalen,
                             CS_SMALLINT indicator) {
  return ::ct_param(cmd, datafmt, data, datalen, indicator);
}

CS_RETCODE Library::ct_setparam(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT* datalen,
                                CS_SMALLINT* indicator) {
  return ::ct_setparam(cmd, datafmt, data, datalen, indicator);
}

CS_RETCODE Library::ct_send_data(CS_COMMAND* cmd, CS_VOID* buffer, CS_INT buflen) {
  return ::ct_send_data(cmd, buffer, buflen);
}

CS_RETCODE Library::ct_describe(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt) {
  return ::ct_describe(cmd, item, datafmt);
}

CS_RETCODE Library::ct_bind(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt, CS_VOID* buffer,
                            CS_INT* copied, CS_SMALLINT* indicator) {
  return ::ct_bind(cmd, item, datafmt, buffer, copied, indicator);
}

CS_RETCODE Library::ct_data_info(CS_COMMAND* cmd, CS_INT action, CS_INT colnum, CS_IODESC* iodesc) {
  return ::ct_data_info(cmd, action, colnum, iodesc);
}

CS_RETCODE Library::ct_compute_info(CS_COMMAND* cmd, CS_INT type, CS_INT colnum, CS_VOID* buffer,
                                    CS_INT buflen, CS_INT* outlen) {
  return ::ct_compute_info(cmd, type, colnum, buffer, buflen, outlen);
}

CS_RETCODE Library::ct_capability(CS_CONNECTION* con, CS_INT action, CS_INT type, CS_INT capability,
                                  CS_VOID* value) {
  return ::ct_capability(con, action, type, capability, value);
}

}  // namespace ctlib
