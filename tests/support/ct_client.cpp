// The test client over FreeTDS's Client-Library: one context per client, messages collected
// through callbacks (the context-wide inline queue would mix clients), every column bound as
// null-terminated CS_CHAR so results compare as text.
#include "tests/support/ct_client.h"

#include <ctpublic.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tabtest {
namespace {

CtClient* clientOf(CS_CONNECTION* con) {
  CtClient* client = nullptr;
  CS_INT len = 0;
  if (con && ct_con_props(con, CS_GET, CS_USERDATA, &client, sizeof(client), &len) == CS_SUCCEED) return client;
  return nullptr;
}

CS_RETCODE serverMessage(CS_CONTEXT*, CS_CONNECTION* con, CS_SERVERMSG* msg) {
  if (CtClient* client = clientOf(con)) {
    CtMessage m;
    m.fromServer = true;
    m.number = msg->msgnumber;
    m.severity = msg->severity;
    m.state = msg->state;
    m.line = msg->line;
    m.text.assign(msg->text, msg->textlen > 0 ? msg->textlen : strnlen(msg->text, sizeof(msg->text)));
    m.procedure.assign(msg->proc, msg->proclen > 0 ? msg->proclen : 0);
    client->addMessage(std::move(m));
  }
  return CS_SUCCEED;
}

CS_RETCODE clientMessage(CS_CONTEXT*, CS_CONNECTION* con, CS_CLIENTMSG* msg) {
  if (CtClient* client = clientOf(con)) {
    CtMessage m;
    m.fromServer = false;
    m.number = CS_NUMBER(msg->msgnumber);
    m.severity = CS_SEVERITY(msg->msgnumber);
    m.text.assign(msg->msgstring, msg->msgstringlen > 0 ? msg->msgstringlen : 0);
    client->addMessage(std::move(m));
  }
  return CS_SUCCEED;
}

// Fetches every row of the current result into `set`, all columns bound as CS_CHAR.
bool fetchRows(CS_CONTEXT* ctx, CS_COMMAND* cmd, CtResultSet& set, bool isoDates) {
  CS_INT columns = 0;
  if (ct_res_info(cmd, CS_NUMDATA, &columns, CS_UNUSED, nullptr) != CS_SUCCEED) return false;
  struct Column {
    std::vector<char> buffer;
    CS_INT length = 0;
    CS_SMALLINT indicator = 0;
    bool date = false;
  };
  std::vector<Column> bound(columns);
  for (CS_INT i = 0; i < columns; ++i) {
    CS_DATAFMT fmt;
    std::memset(&fmt, 0, sizeof(fmt));
    if (ct_describe(cmd, i + 1, &fmt) != CS_SUCCEED) return false;
    set.columns.emplace_back(fmt.name, fmt.namelen > 0 ? fmt.namelen : 0);
    set.types.push_back(fmt.datatype);
    // Binary values double in size as text; dates and numbers need a little room of their own.
    // (Counted wide: a text column's maxlength is 2^31 - 1.)
    const int64_t wanted = std::clamp<int64_t>(static_cast<int64_t>(fmt.maxlength) * 2 + 64, 256, 1 << 22);
    const CS_INT size = static_cast<CS_INT>(wanted);
    bound[i].buffer.assign(size, 0);
    CS_DATAFMT out;
    std::memset(&out, 0, sizeof(out));
    out.datatype = CS_CHAR_TYPE;
    out.format = CS_FMT_NULLTERM;
    out.maxlength = size;
    out.count = 1;
    if (isoDates && (fmt.datatype == CS_DATETIME_TYPE || fmt.datatype == CS_DATETIME4_TYPE)) {
      bound[i].date = true;
      out.datatype = CS_DATETIME_TYPE;
      out.format = CS_FMT_UNUSED;
      out.maxlength = sizeof(CS_DATETIME);
    }
    if (ct_bind(cmd, i + 1, &out, bound[i].buffer.data(), &bound[i].length, &bound[i].indicator) != CS_SUCCEED)
      return false;
  }
  for (;;) {
    CS_INT rows = 0;
    CS_RETCODE rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
    if (rc == CS_END_DATA) return true;
    if (rc != CS_SUCCEED && rc != CS_ROW_FAIL) return false;
    std::vector<std::optional<std::string>> row;
    for (auto& column : bound) {
      if (column.indicator == -1) {
        row.emplace_back(std::nullopt);
      } else if (column.date) {
        CS_DATETIME value;
        std::memcpy(&value, column.buffer.data(), sizeof(value));
        CS_DATEREC rec;
        std::memset(&rec, 0, sizeof(rec));
        cs_dt_crack(ctx, CS_DATETIME_TYPE, &value, &rec);
        char text[40];
        std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", static_cast<int>(rec.dateyear),
                      static_cast<int>(rec.datemonth) + 1, static_cast<int>(rec.datedmonth),
                      static_cast<int>(rec.datehour), static_cast<int>(rec.dateminute),
                      static_cast<int>(rec.datesecond), static_cast<int>(rec.datemsecond));
        row.emplace_back(std::string(text));
      } else {
        row.emplace_back(std::string(column.buffer.data()));
      }
      // A NULL leaves the buffer untouched: clear it so no value leaks into the next row.
      column.buffer[0] = 0;
      column.indicator = 0;
    }
    set.rows.push_back(std::move(row));
  }
}

}  // namespace

const CtMessage* CtBatch::firstError() const {
  for (const auto& m : messages)
    if (m.severity > 10) return &m;
  return nullptr;
}

CtClient::CtClient() {
  if (cs_ctx_alloc(CS_VERSION_100, &context_) != CS_SUCCEED) {
    context_ = nullptr;
    return;
  }
  if (ct_init(context_, CS_VERSION_100) != CS_SUCCEED) {
    cs_ctx_drop(context_);
    context_ = nullptr;
    return;
  }
  ct_callback(context_, nullptr, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(serverMessage));
  ct_callback(context_, nullptr, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(clientMessage));
}

CtClient::~CtClient() {
  close();
  if (context_) {
    ct_exit(context_, CS_FORCE_EXIT);
    cs_ctx_drop(context_);
  }
}

bool CtClient::connect(const std::string& server, const std::string& user, const std::string& password,
                       std::string* error, const std::string& appName) {
  close();
  auto fail = [&](const std::string& why) {
    if (error) {
      *error = why;
      for (const auto& m : messages_) *error += "\n" + std::to_string(m.number) + ": " + m.text;
    }
    if (connection_) {
      ct_con_drop(connection_);
      connection_ = nullptr;
    }
    return false;
  };
  if (!context_) return fail("no Client-Library context");
  if (ct_con_alloc(context_, &connection_) != CS_SUCCEED) {
    connection_ = nullptr;
    return fail("ct_con_alloc failed");
  }
  CtClient* self = this;
  ct_con_props(connection_, CS_SET, CS_USERDATA, &self, sizeof(self), nullptr);
  ct_con_props(connection_, CS_SET, CS_USERNAME, const_cast<char*>(user.c_str()), CS_NULLTERM, nullptr);
  ct_con_props(connection_, CS_SET, CS_PASSWORD, const_cast<char*>(password.c_str()), CS_NULLTERM, nullptr);
  ct_con_props(connection_, CS_SET, CS_APPNAME, const_cast<char*>(appName.c_str()), CS_NULLTERM, nullptr);
  CS_INT tds = CS_TDS_50;
  ct_con_props(connection_, CS_SET, CS_TDS_VERSION, &tds, CS_UNUSED, nullptr);
  if (ct_connect(connection_, const_cast<char*>(server.c_str()), CS_NULLTERM) != CS_SUCCEED)
    return fail("ct_connect failed");
  return true;
}

void CtClient::close() {
  if (!connection_) return;
  if (ct_close(connection_, CS_UNUSED) != CS_SUCCEED) ct_close(connection_, CS_FORCE_CLOSE);
  ct_con_drop(connection_);
  connection_ = nullptr;
}

std::vector<CtMessage> CtClient::takeMessages() {
  std::vector<CtMessage> out;
  out.swap(messages_);
  return out;
}

CtBatch CtClient::run(const std::string& sql) {
  CtBatch batch;
  messages_.clear();
  if (!connection_) {
    batch.failed = true;
    return batch;
  }
  CS_COMMAND* cmd = nullptr;
  if (ct_cmd_alloc(connection_, &cmd) != CS_SUCCEED) {
    batch.failed = true;
    return batch;
  }
  if (ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED) != CS_SUCCEED ||
      ct_send(cmd) != CS_SUCCEED) {
    batch.failed = true;
  } else {
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
      switch (type) {
        case CS_ROW_RESULT:
        case CS_COMPUTE_RESULT:
        case CS_STATUS_RESULT:
        case CS_PARAM_RESULT: {
          CtResultSet set;
          set.kind = type == CS_ROW_RESULT       ? CtSetKind::Rows
                     : type == CS_COMPUTE_RESULT ? CtSetKind::Compute
                     : type == CS_STATUS_RESULT  ? CtSetKind::Status
                                                 : CtSetKind::Params;
          if (!fetchRows(context_, cmd, set, isoDates_)) {
            batch.failed = true;
            ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
          }
          if (set.kind == CtSetKind::Status && !set.rows.empty() && set.rows[0][0])
            batch.returnStatus = std::stoi(*set.rows[0][0]);
          batch.sets.push_back(std::move(set));
          break;
        }
        case CS_CMD_DONE: {
          CS_INT count = -1;
          if (ct_res_info(cmd, CS_ROW_COUNT, &count, CS_UNUSED, nullptr) == CS_SUCCEED && count >= 0)
            batch.rowCounts.push_back(count);
          break;
        }
        case CS_CMD_FAIL:
          batch.failed = true;
          break;
        default:
          break;
      }
    }
    if (rc == CS_CANCELED) batch.canceled = true;
    else if (rc != CS_END_RESULTS) batch.failed = true;
  }
  ct_cmd_drop(cmd);
  batch.messages = std::move(messages_);
  messages_.clear();
  return batch;
}

namespace {

// Reads every result of the current dynamic command; false when one of them failed.
bool drainDynamic(CS_COMMAND* cmd, CS_INT* described) {
  bool ok = true;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) ok = false;
    if (type == CS_DESCRIBE_RESULT && described)
      ct_res_info(cmd, CS_NUMDATA, described, CS_UNUSED, nullptr);
  }
  return ok && rc == CS_END_RESULTS;
}

}  // namespace

bool CtClient::prepare(const std::string& sql, int* inputs, std::string* error) {
  messages_.clear();
  auto fail = [&](const std::string& why) {
    if (error) {
      *error = why;
      for (const auto& m : messages_) *error += "\n" + std::to_string(m.number) + ": " + m.text;
    }
    return false;
  };
  if (!connection_) return fail("not connected");
  static int serial = 0;
  std::string id = "tabtest" + std::to_string(++serial);
  CS_COMMAND* cmd = nullptr;
  if (ct_cmd_alloc(connection_, &cmd) != CS_SUCCEED) return fail("ct_cmd_alloc failed");
  bool ok = ct_dynamic(cmd, CS_PREPARE, id.data(), CS_NULLTERM, const_cast<char*>(sql.c_str()), CS_NULLTERM) ==
                CS_SUCCEED &&
            ct_send(cmd) == CS_SUCCEED && drainDynamic(cmd, nullptr);
  // A failed prepare still answers CMD_SUCCEED in this client library: the error message tells.
  for (const auto& m : messages_) ok = ok && m.severity <= 10;
  CS_INT described = -1;
  if (ok) {
    ok = ct_dynamic(cmd, CS_DESCRIBE_INPUT, id.data(), CS_NULLTERM, nullptr, CS_UNUSED) == CS_SUCCEED &&
         ct_send(cmd) == CS_SUCCEED && drainDynamic(cmd, &described);
  }
  bool released = ct_dynamic(cmd, CS_DEALLOC, id.data(), CS_NULLTERM, nullptr, CS_UNUSED) == CS_SUCCEED &&
                  ct_send(cmd) == CS_SUCCEED && drainDynamic(cmd, nullptr);
  ct_cmd_drop(cmd);
  if (!ok) return fail("prepare failed");
  if (!released) return fail("deallocate failed");
  if (inputs) *inputs = described;
  return true;
}

std::string formatRow(const std::vector<std::optional<std::string>>& row) {
  std::string out;
  for (size_t i = 0; i < row.size(); ++i) {
    if (i) out += " | ";
    out += row[i] ? *row[i] : "NULL";
  }
  return out;
}

}  // namespace tabtest
