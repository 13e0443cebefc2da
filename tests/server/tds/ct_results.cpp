// The result reader for FreeTDS tests. Each column is bound as NUL-terminated CS_CHAR with room
// for binary values shown as hex; a NULL is read from the indicator (FreeTDS leaves the buffer).
#include "tests/server/tds/ct_results.h"

#include <cstring>

namespace tabtest {

std::string CmdResults::sequence() const {
  std::string s;
  for (const auto& a : answers) s += (s.empty() ? "" : " ") + a;
  return s;
}

std::string resultName(CS_INT type) {
  switch (type) {
    case CS_ROW_RESULT:
      return "ROW";
    case CS_CURSOR_RESULT:
      return "CURSOR";
    case CS_PARAM_RESULT:
      return "PARAM";
    case CS_STATUS_RESULT:
      return "STATUS";
    case CS_COMPUTE_RESULT:
      return "COMPUTE";
    case CS_DESCRIBE_RESULT:
      return "DESCRIBE";
    case CS_CMD_DONE:
      return "CMD_DONE";
    case CS_CMD_SUCCEED:
      return "CMD_SUCCEED";
    case CS_CMD_FAIL:
      return "CMD_FAIL";
    default:
      return "TYPE_" + std::to_string(type);
  }
}

CS_RETCODE fetchAll(CS_COMMAND* cmd, CtResultSet& set, int arrayRows, std::vector<int>* perFetch) {
  CS_INT columns = 0;
  if (ct_res_info(cmd, CS_NUMDATA, &columns, CS_UNUSED, nullptr) != CS_SUCCEED) return CS_FAIL;
  struct Column {
    std::vector<char> buffer;
    std::vector<CS_INT> lengths;
    std::vector<CS_SMALLINT> indicators;
    CS_INT size = 0;
  };
  std::vector<Column> bound(static_cast<size_t>(columns));
  for (CS_INT i = 0; i < columns; ++i) {
    CS_DATAFMT fmt;
    std::memset(&fmt, 0, sizeof(fmt));
    if (ct_describe(cmd, i + 1, &fmt) != CS_SUCCEED) return CS_FAIL;
    set.columns.emplace_back(fmt.name, fmt.namelen > 0 ? static_cast<size_t>(fmt.namelen) : 0);
    set.types.push_back(fmt.datatype);
    Column& c = bound[static_cast<size_t>(i)];
    c.size = fmt.maxlength > 0 && fmt.maxlength < (1 << 20) ? fmt.maxlength * 2 + 64 : 4096;
    if (c.size < 256) c.size = 256;
    c.buffer.assign(static_cast<size_t>(c.size) * static_cast<size_t>(arrayRows), 0);
    c.lengths.assign(static_cast<size_t>(arrayRows), 0);
    c.indicators.assign(static_cast<size_t>(arrayRows), 0);
    CS_DATAFMT out;
    std::memset(&out, 0, sizeof(out));
    out.datatype = CS_CHAR_TYPE;
    out.format = CS_FMT_NULLTERM;
    out.maxlength = c.size;
    out.count = arrayRows;
    if (ct_bind(cmd, i + 1, &out, c.buffer.data(), c.lengths.data(), c.indicators.data()) != CS_SUCCEED)
      return CS_FAIL;
  }
  for (;;) {
    CS_INT rows = 0;
    CS_RETCODE rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
    if (rc != CS_SUCCEED && rc != CS_ROW_FAIL) return rc;
    if (perFetch) perFetch->push_back(rows);
    for (CS_INT r = 0; r < rows; ++r) {
      std::vector<std::optional<std::string>> row;
      for (auto& c : bound) {
        char* text = c.buffer.data() + static_cast<size_t>(r) * static_cast<size_t>(c.size);
        if (c.indicators[static_cast<size_t>(r)] == -1)
          row.emplace_back(std::nullopt);
        else
          row.emplace_back(std::string(text));
        text[0] = 0;
        c.indicators[static_cast<size_t>(r)] = 0;
      }
      set.rows.push_back(std::move(row));
    }
  }
}

CmdResults drainResults(CS_COMMAND* cmd, int arrayRows, bool stopAtCursor) {
  CmdResults out;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    out.answers.push_back(resultName(type));
    switch (type) {
      case CS_ROW_RESULT:
      case CS_CURSOR_RESULT:
      case CS_PARAM_RESULT:
      case CS_STATUS_RESULT:
      case CS_COMPUTE_RESULT: {
        CtResultSet set;
        set.kind = type == CS_COMPUTE_RESULT  ? CtSetKind::Compute
                   : type == CS_STATUS_RESULT ? CtSetKind::Status
                   : type == CS_PARAM_RESULT  ? CtSetKind::Params
                                              : CtSetKind::Rows;
        if (type == CS_CURSOR_RESULT && stopAtCursor) {
          out.sets.push_back(std::move(set));
          return out;
        }
        CS_RETCODE f = fetchAll(cmd, set, type == CS_CURSOR_RESULT ? arrayRows : 1);
        if (f != CS_END_DATA) out.answers.push_back("FETCH_FAILED");
        out.sets.push_back(std::move(set));
        break;
      }
      case CS_CMD_DONE: {
        CS_INT count = -1;
        if (ct_res_info(cmd, CS_ROW_COUNT, &count, CS_UNUSED, nullptr) == CS_SUCCEED && count >= 0)
          out.rowCounts.push_back(count);
        break;
      }
      default:
        break;
    }
  }
  out.end = rc;
  return out;
}

}  // namespace tabtest
