// Result reading and RPC sending for the executor's wire tests.
#include "wire_support.h"

#include <cstring>

namespace tabtest {

namespace {

// Binds every column as text and fetches all rows of the current result.
bool fetchAll(CS_COMMAND* cmd, CtResultSet& set) {
  CS_INT count = 0;
  if (ct_res_info(cmd, CS_NUMDATA, &count, CS_UNUSED, nullptr) != CS_SUCCEED) return false;
  struct Column {
    std::vector<char> buffer = std::vector<char>(65536);
    CS_INT length = 0;
    CS_SMALLINT indicator = 0;
  };
  std::vector<Column> columns(static_cast<size_t>(count));
  for (CS_INT i = 0; i < count; ++i) {
    CS_DATAFMT fmt{};
    if (ct_describe(cmd, i + 1, &fmt) != CS_SUCCEED) return false;
    set.columns.emplace_back(fmt.name, static_cast<size_t>(std::max<CS_INT>(0, fmt.namelen)));
    set.types.push_back(fmt.datatype);
    CS_DATAFMT out{};
    out.datatype = CS_CHAR_TYPE;
    out.format = CS_FMT_NULLTERM;
    out.maxlength = static_cast<CS_INT>(columns[i].buffer.size());
    out.count = 1;
    if (ct_bind(cmd, i + 1, &out, columns[i].buffer.data(), &columns[i].length, &columns[i].indicator) !=
        CS_SUCCEED)
      return false;
  }
  CS_INT rows = 0;
  CS_RETCODE rc;
  while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows)) == CS_SUCCEED || rc == CS_ROW_FAIL) {
    std::vector<std::optional<std::string>> row;
    for (auto& c : columns) {
      if (c.indicator == -1)
        row.emplace_back(std::nullopt);
      else
        row.emplace_back(std::string(c.buffer.data()));
      c.buffer[0] = 0;
    }
    set.rows.push_back(std::move(row));
  }
  return rc == CS_END_DATA;
}

// The Client-Library type of a parameter as a CS_DATAFMT and its value in the matching C form.
struct Encoded {
  CS_DATAFMT fmt{};
  std::vector<char> bytes;
  CS_SMALLINT indicator = 0;
};

Encoded encode(const RpcParam& p) {
  Encoded e;
  std::strncpy(e.fmt.name, p.name.c_str(), sizeof(e.fmt.name) - 1);
  e.fmt.namelen = p.name.empty() ? 0 : CS_NULLTERM;
  e.fmt.datatype = p.type;
  e.fmt.status = p.output ? CS_RETURN : CS_INPUTVALUE;
  e.indicator = p.value ? 0 : -1;
  std::string text = p.value.value_or("");
  switch (p.type) {
    case CS_INT_TYPE: {
      CS_INT v = static_cast<CS_INT>(std::stol(text.empty() ? "0" : text));
      e.bytes.resize(sizeof(v));
      std::memcpy(e.bytes.data(), &v, sizeof(v));
      e.fmt.maxlength = sizeof(v);
      break;
    }
    case CS_BIT_TYPE: {
      CS_BIT v = text == "1" ? 1 : 0;
      e.bytes.assign(1, static_cast<char>(v));
      e.fmt.maxlength = 1;
      break;
    }
    case CS_FLOAT_TYPE: {
      CS_FLOAT v = std::stod(text.empty() ? "0" : text);
      e.bytes.resize(sizeof(v));
      std::memcpy(e.bytes.data(), &v, sizeof(v));
      e.fmt.maxlength = sizeof(v);
      break;
    }
    case CS_BINARY_TYPE:  // the value's bytes as they are
      e.bytes.assign(text.begin(), text.end());
      e.fmt.maxlength = p.output ? 255 : static_cast<CS_INT>(std::max<size_t>(1, text.size()));
      break;
    default:  // CS_CHAR_TYPE and others sent as text
      e.bytes.assign(text.begin(), text.end());
      e.fmt.maxlength = p.output ? 255 : static_cast<CS_INT>(std::max<size_t>(1, text.size()));
      break;
  }
  return e;
}

}  // namespace

CtBatch readResults(CS_COMMAND* cmd, std::vector<std::string>* trace) {
  CtBatch batch;
  CS_INT type = 0;
  CS_RETCODE rc;
  auto note = [&](const char* what) {
    if (trace) trace->push_back(what);
  };
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    switch (type) {
      case CS_ROW_RESULT:
      case CS_CURSOR_RESULT:
      case CS_COMPUTE_RESULT:
      case CS_STATUS_RESULT:
      case CS_PARAM_RESULT: {
        CtResultSet set;
        set.kind = type == CS_COMPUTE_RESULT  ? CtSetKind::Compute
                   : type == CS_STATUS_RESULT ? CtSetKind::Status
                   : type == CS_PARAM_RESULT  ? CtSetKind::Params
                                              : CtSetKind::Rows;
        note(type == CS_ROW_RESULT       ? "ROW"
             : type == CS_CURSOR_RESULT  ? "CURSOR"
             : type == CS_COMPUTE_RESULT ? "COMPUTE"
             : type == CS_STATUS_RESULT  ? "STATUS"
                                         : "PARAM");
        if (!fetchAll(cmd, set)) batch.failed = true;
        if (set.kind == CtSetKind::Status && !set.rows.empty() && set.rows[0][0])
          batch.returnStatus = std::stoi(*set.rows[0][0]);
        batch.sets.push_back(std::move(set));
        break;
      }
      case CS_CMD_DONE: {
        note("CMD_DONE");
        CS_INT count = -1;
        if (ct_res_info(cmd, CS_ROW_COUNT, &count, CS_UNUSED, nullptr) == CS_SUCCEED && count >= 0)
          batch.rowCounts.push_back(count);
        break;
      }
      case CS_CMD_SUCCEED:
        note("SUCCEED");
        break;
      case CS_CMD_FAIL:
        note("FAIL");
        batch.failed = true;
        break;
      case CS_DESCRIBE_RESULT:
        note("DESCRIBE");
        break;
      default:
        note("OTHER");
        break;
    }
  }
  if (rc != CS_END_RESULTS) batch.failed = true;
  return batch;
}

CtBatch callRpc(CtClient& client, const std::string& name, const std::vector<RpcParam>& params,
                std::vector<std::string>* trace) {
  client.takeMessages();
  CS_COMMAND* cmd = nullptr;
  CtBatch failed;
  failed.failed = true;
  if (ct_cmd_alloc(client.connection(), &cmd) != CS_SUCCEED) return failed;
  std::vector<Encoded> encoded;
  for (const RpcParam& p : params) encoded.push_back(encode(p));
  bool ok = ct_command(cmd, CS_RPC_CMD, const_cast<char*>(name.c_str()), CS_NULLTERM, CS_NO_RECOMPILE) ==
            CS_SUCCEED;
  for (auto& e : encoded)
    ok = ok && ct_param(cmd, &e.fmt, e.bytes.data(), static_cast<CS_INT>(e.bytes.size()), e.indicator) ==
                   CS_SUCCEED;
  ok = ok && ct_send(cmd) == CS_SUCCEED;
  CtBatch batch = ok ? readResults(cmd, trace) : failed;
  ct_cmd_drop(cmd);
  batch.messages = client.takeMessages();
  return batch;
}

}  // namespace tabtest
