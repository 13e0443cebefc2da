// The OPTIONCMD request (ct_options): set, default and list of session options, applied to
// Session::options() and answered as FreeTDS expects (DONE; for list an OPTIONCMD info first).
#pragma once

#include <cstdint>
#include <optional>

#include "server/core/session.h"
#include "server/core/types.h"

namespace tabsrv::tds {

// Option codes of the OPTIONCMD token.
enum class OptionCode : uint8_t {
  DateFirst = 1,
  TextSize = 2,
  StatTime = 3,
  StatIo = 4,
  RowCount = 5,
  NatLang = 6,
  DateFormat = 7,
  Isolation = 8,
  AuthOn = 9,
  Charset = 10,
  ShowPlan = 13,
  NoExec = 14,
  ArithIgnoreOn = 15,
  ArithAbortOn = 17,
  ParseOnly = 18,
  GetData = 20,
  NoCount = 21,
  ForcePlan = 23,
  FormatOnly = 24,
  Chained = 25,
  CurCloseOnXact = 26,
  FipsFlag = 27,
  ResTrees = 28,
  IdentityOn = 29,
  CurRead = 30,
  CurWrite = 31,
  IdentityOff = 32,
  AuthOff = 33,
  AnsiNull = 34,
  QuotedIdent = 35,
  ArithIgnoreOff = 36,
  ArithAbortOff = 37,
  TruncAbort = 38,
};

// One decoded OPTIONCMD request.
struct OptionRequest {
  uint8_t command = 0;  // 1 set, 2 default, 3 list
  uint8_t option = 0;
  Bytes argument;
};

// The answer to one request, before DONE: an info value for list, or an error text when a set
// carried a value the option does not take.
struct OptionAnswer {
  bool error = false;
  std::string errorText;
  bool hasInfo = false;
  int infoLength = 0;  // 0, 1 or 4
  int32_t infoValue = 0;
};

// Applies a request to the options and says what to answer. Unknown options are accepted.
OptionAnswer applyOption(const OptionRequest& request, SessionOptions& options);

}  // namespace tabsrv::tds
