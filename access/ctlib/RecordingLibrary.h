// A recording fake of the Client-Library facade for the set-up failure paths a real library
// cannot be made to produce ("ct_con_alloc Failed" and the like): it records every call by
// name, fails the calls a test names, and passes everything else on to the real facade.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "access/ctlib/ctlib.h"

namespace ctlib {

// Installs itself as the library in use for its lifetime; records calls and fails chosen ones.
class RecordingLibrary : public Library {
 public:
  // Installs the fake; the previous library comes back when it is destroyed.
  RecordingLibrary() : previous_(SetCurrent(this)) {}
  ~RecordingLibrary() override { SetCurrent(previous_); }
  RecordingLibrary(const RecordingLibrary&) = delete;
  RecordingLibrary& operator=(const RecordingLibrary&) = delete;

  // Makes every later call of Name return Result without reaching the library.
  void FailOn(const std::string& name, CS_RETCODE result = CS_FAIL) { failures_[name] = result; }
  // Stops failing Name.
  void Heal(const std::string& name) { failures_.erase(name); }
  // The names of the calls made so far, in order.
  const std::vector<std::string>& Calls() const { return calls_; }
  // How often Name was called.
  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& c : calls_) n += c == name;
    return n;
  }
  // Forgets the recorded calls.
  void ClearCalls() { calls_.clear(); }

  CS_RETCODE cs_ctx_alloc(CS_INT version, CS_CONTEXT** ctx) override {
    if (auto r = Enter("cs_ctx_alloc")) return *r;
    return Library::cs_ctx_alloc(version, ctx);
  }
  CS_RETCODE cs_ctx_drop(CS_CONTEXT* ctx) override {
    if (auto r = Enter("cs_ctx_drop")) return *r;
    return Library::cs_ctx_drop(ctx);
  }
  CS_RETCODE cs_loc_alloc(CS_CONTEXT* ctx, CS_LOCALE** locptr) override {
    if (auto r = Enter("cs_loc_alloc")) return *r;
    return Library::cs_loc_alloc(ctx, locptr);
  }
  CS_RETCODE cs_loc_drop(CS_CONTEXT* ctx, CS_LOCALE* locale) override {
    if (auto r = Enter("cs_loc_drop")) return *r;
    return Library::cs_loc_drop(ctx, locale);
  }
  CS_RETCODE cs_locale(CS_CONTEXT* ctx, CS_INT action, CS_LOCALE* locale, CS_INT type, CS_VOID* buffer,
                       CS_INT buflen, CS_INT* outlen) override {
    if (auto r = Enter("cs_locale")) return *r;
    return Library::cs_locale(ctx, action, locale, type, buffer, buflen, outlen);
  }
  CS_RETCODE cs_convert(CS_CONTEXT* ctx, CS_DATAFMT* srcfmt, CS_VOID* srcdata, CS_DATAFMT* destfmt,
                        CS_VOID* destdata, CS_INT* resultlen) override {
    if (auto r = Enter("cs_convert")) return *r;
    return Library::cs_convert(ctx, srcfmt, srcdata, destfmt, destdata, resultlen);
  }
  CS_RETCODE cs_dt_crack(CS_CONTEXT* ctx, CS_INT datetype, CS_VOID* dateval, CS_DATEREC* daterec) override {
    if (auto r = Enter("cs_dt_crack")) return *r;
    return Library::cs_dt_crack(ctx, datetype, dateval, daterec);
  }
  CS_RETCODE ct_init(CS_CONTEXT* ctx, CS_INT version) override {
    if (auto r = Enter("ct_init")) return *r;
    return Library::ct_init(ctx, version);
  }
  CS_RETCODE ct_exit(CS_CONTEXT* ctx, CS_INT option) override {
    if (auto r = Enter("ct_exit")) return *r;
    return Library::ct_exit(ctx, option);
  }
  CS_RETCODE ct_config(CS_CONTEXT* ctx, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                       CS_INT* outlen) override {
    if (auto r = Enter("ct_config")) return *r;
    return Library::ct_config(ctx, action, property, buffer, buflen, outlen);
  }
  CS_RETCODE ct_callback(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT action, CS_INT type,
                         CS_VOID* func) override {
    if (auto r = Enter("ct_callback")) return *r;
    return Library::ct_callback(ctx, con, action, type, func);
  }
  CS_RETCODE ct_con_alloc(CS_CONTEXT* ctx, CS_CONNECTION** con) override {
    if (auto r = Enter("ct_con_alloc")) return *r;
    return Library::ct_con_alloc(ctx, con);
  }
  CS_RETCODE ct_con_props(CS_CONNECTION* con, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                          CS_INT* outlen) override {
    if (auto r = Enter("ct_con_props")) return *r;
    return Library::ct_con_props(con, action, property, buffer, buflen, outlen);
  }
  CS_RETCODE ct_connect(CS_CONNECTION* con, CS_CHAR* servername, CS_INT snamelen) override {
    if (auto r = Enter("ct_connect")) return *r;
    return Library::ct_connect(con, servername, snamelen);
  }
  CS_RETCODE ct_close(CS_CONNECTION* con, CS_INT option) override {
    if (auto r = Enter("ct_close")) return *r;
    return Library::ct_close(con, option);
  }
  CS_RETCODE ct_con_drop(CS_CONNECTION* con) override {
    if (auto r = Enter("ct_con_drop")) return *r;
    return Library::ct_con_drop(con);
  }
  CS_RETCODE ct_options(CS_CONNECTION* con, CS_INT action, CS_INT option, CS_VOID* param, CS_INT paramlen,
                        CS_INT* outlen) override {
    if (auto r = Enter("ct_options")) return *r;
    return Library::ct_options(con, action, option, param, paramlen, outlen);
  }
  CS_RETCODE ct_debug(CS_CONTEXT* ctx, CS_CONNECTION* con, CS_INT operation, CS_INT flag, CS_CHAR* filename,
                      CS_INT fnamelen) override {
    if (auto r = Enter("ct_debug")) return *r;
    return Library::ct_debug(ctx, con, operation, flag, filename, fnamelen);
  }
  CS_RETCODE ct_cmd_alloc(CS_CONNECTION* con, CS_COMMAND** cmd) override {
    if (auto r = Enter("ct_cmd_alloc")) return *r;
    return Library::ct_cmd_alloc(con, cmd);
  }
  CS_RETCODE ct_cmd_props(CS_COMMAND* cmd, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                          CS_INT* outlen) override {
    if (auto r = Enter("ct_cmd_props")) return *r;
    return Library::ct_cmd_props(cmd, action, property, buffer, buflen, outlen);
  }
  CS_RETCODE ct_cmd_drop(CS_COMMAND* cmd) override {
    if (auto r = Enter("ct_cmd_drop")) return *r;
    return Library::ct_cmd_drop(cmd);
  }
  CS_RETCODE ct_command(CS_COMMAND* cmd, CS_INT type, const CS_VOID* buffer, CS_INT buflen,
                        CS_INT option) override {
    if (auto r = Enter("ct_command")) return *r;
    return Library::ct_command(cmd, type, buffer, buflen, option);
  }
  CS_RETCODE ct_dynamic(CS_COMMAND* cmd, CS_INT type, CS_CHAR* id, CS_INT idlen, CS_CHAR* buffer,
                        CS_INT buflen) override {
    if (auto r = Enter("ct_dynamic")) return *r;
    return Library::ct_dynamic(cmd, type, id, idlen, buffer, buflen);
  }
  CS_RETCODE ct_cursor(CS_COMMAND* cmd, CS_INT type, CS_CHAR* name, CS_INT namelen, CS_CHAR* text,
                       CS_INT tlen, CS_INT option) override {
    if (auto r = Enter("ct_cursor")) return *r;
    return Library::ct_cursor(cmd, type, name, namelen, text, tlen, option);
  }
  CS_RETCODE ct_param(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT datalen,
                      CS_SMALLINT indicator) override {
    if (auto r = Enter("ct_param")) return *r;
    return Library::ct_param(cmd, datafmt, data, datalen, indicator);
  }
  CS_RETCODE ct_setparam(CS_COMMAND* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT* datalen,
                         CS_SMALLINT* indicator) override {
    if (auto r = Enter("ct_setparam")) return *r;
    return Library::ct_setparam(cmd, datafmt, data, datalen, indicator);
  }
  CS_RETCODE ct_send(CS_COMMAND* cmd) override {
    if (auto r = Enter("ct_send")) return *r;
    return Library::ct_send(cmd);
  }
  CS_RETCODE ct_send_data(CS_COMMAND* cmd, CS_VOID* buffer, CS_INT buflen) override {
    if (auto r = Enter("ct_send_data")) return *r;
    return Library::ct_send_data(cmd, buffer, buflen);
  }
  CS_RETCODE ct_results(CS_COMMAND* cmd, CS_INT* result_type) override {
    if (auto r = Enter("ct_results")) return *r;
    return Library::ct_results(cmd, result_type);
  }
  CS_RETCODE ct_res_info(CS_COMMAND* cmd, CS_INT type, CS_VOID* buffer, CS_INT buflen,
                         CS_INT* outlen) override {
    if (auto r = Enter("ct_res_info")) return *r;
    return Library::ct_res_info(cmd, type, buffer, buflen, outlen);
  }
  CS_RETCODE ct_describe(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt) override {
    if (auto r = Enter("ct_describe")) return *r;
    return Library::ct_describe(cmd, item, datafmt);
  }
  CS_RETCODE ct_bind(CS_COMMAND* cmd, CS_INT item, CS_DATAFMT* datafmt, CS_VOID* buffer, CS_INT* copied,
                     CS_SMALLINT* indicator) override {
    if (auto r = Enter("ct_bind")) return *r;
    return Library::ct_bind(cmd, item, datafmt, buffer, copied, indicator);
  }
  CS_RETCODE ct_fetch(CS_COMMAND* cmd, CS_INT type, CS_INT offset, CS_INT option,
                      CS_INT* rows_read) override {
    if (auto r = Enter("ct_fetch")) return *r;
    return Library::ct_fetch(cmd, type, offset, option, rows_read);
  }
  CS_RETCODE ct_get_data(CS_COMMAND* cmd, CS_INT item, CS_VOID* buffer, CS_INT buflen,
                         CS_INT* outlen) override {
    if (auto r = Enter("ct_get_data")) return *r;
    return Library::ct_get_data(cmd, item, buffer, buflen, outlen);
  }
  CS_RETCODE ct_data_info(CS_COMMAND* cmd, CS_INT action, CS_INT colnum, CS_IODESC* iodesc) override {
    if (auto r = Enter("ct_data_info")) return *r;
    return Library::ct_data_info(cmd, action, colnum, iodesc);
  }
  CS_RETCODE ct_compute_info(CS_COMMAND* cmd, CS_INT type, CS_INT colnum, CS_VOID* buffer, CS_INT buflen,
                             CS_INT* outlen) override {
    if (auto r = Enter("ct_compute_info")) return *r;
    return Library::ct_compute_info(cmd, type, colnum, buffer, buflen, outlen);
  }
  CS_RETCODE ct_cancel(CS_CONNECTION* con, CS_COMMAND* cmd, CS_INT type) override {
    if (auto r = Enter("ct_cancel")) return *r;
    return Library::ct_cancel(con, cmd, type);
  }
  CS_RETCODE ct_capability(CS_CONNECTION* con, CS_INT action, CS_INT type, CS_INT capability,
                           CS_VOID* value) override {
    if (auto r = Enter("ct_capability")) return *r;
    return Library::ct_capability(con, action, type, capability, value);
  }
  CS_RETCODE ct_diag(CS_CONNECTION* con, CS_INT operation, CS_INT type, CS_INT index,
                     CS_VOID* buffer) override {
    if (auto r = Enter("ct_diag")) return *r;
    return Library::ct_diag(con, operation, type, index, buffer);
  }
  CS_RETCODE ct_ds_lookup(CS_CONNECTION* con, CS_INT action, CS_INT* reqid, CS_DS_LOOKUP_INFO* lookupinfo,
                          CS_VOID* userdata) override {
    if (auto r = Enter("ct_ds_lookup")) return *r;
    return Library::ct_ds_lookup(con, action, reqid, lookupinfo, userdata);
  }
  CS_RETCODE ct_ds_objinfo(CS_DS_OBJECT* object, CS_INT action, CS_INT objinfo, CS_INT number,
                           CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) override {
    if (auto r = Enter("ct_ds_objinfo")) return *r;
    return Library::ct_ds_objinfo(object, action, objinfo, number, buffer, buflen, outlen);
  }
  CS_RETCODE ct_ds_dropobj(CS_CONNECTION* con, CS_DS_OBJECT* object) override {
    if (auto r = Enter("ct_ds_dropobj")) return *r;
    return Library::ct_ds_dropobj(con, object);
  }

 private:
  std::optional<CS_RETCODE> Enter(const char* name) {
    calls_.emplace_back(name);
    auto it = failures_.find(name);
    if (it == failures_.end()) return std::nullopt;
    return it->second;
  }

  Library* previous_;
  std::vector<std::string> calls_;
  std::map<std::string, CS_RETCODE> failures_;
};

}  // namespace ctlib
