// Client-Library helpers for the executor's wire tests: reading every result of a sent command
// (rows, compute, status and parameter results as text), and RPC calls with typed parameters.
#pragma once

#include <ctpublic.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/ct_client.h"

namespace tabtest {

// Reads all results of a command already sent, every value converted to CS_CHAR; also records
// the ct_results answers in `trace` ("ROW", "CMD_DONE", "STATUS", "PARAM", "SUCCEED", "FAIL",
// "CURSOR", "COMPUTE", "DESCRIBE").
CtBatch readResults(CS_COMMAND* cmd, std::vector<std::string>* trace = nullptr);

// One RPC parameter: its name (or empty), Client-Library type, value as text (nullopt = NULL)
// (CS_BINARY_TYPE: the bytes themselves) and whether it is an output parameter.
struct RpcParam {
  std::string name;
  CS_INT type = CS_INT_TYPE;
  std::optional<std::string> value;
  bool output = false;
};

// Sends procedure `name` by RPC with `params` and reads everything it returns.
CtBatch callRpc(CtClient& client, const std::string& name, const std::vector<RpcParam>& params,
                std::vector<std::string>* trace = nullptr);

}  // namespace tabtest
