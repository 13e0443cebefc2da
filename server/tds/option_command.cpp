// Option semantics. Booleans travel as one byte (0/1), textsize and rowcount as int32,
// dateformat as 1..6 (mdy dmy ymd ydm myd dym), datefirst as 1..7 (7 = Sunday), isolation as
// 0..3. FreeTDS sends TRUNCIGNORE as TRUNCABORT with the value inverted, and ANSIPERM or
// STR_RTRUNC as option 0 without an argument; both are simply acknowledged.
#include "server/tds/option_command.h"

#include <array>
#include <string>

namespace tabsrv::tds {

namespace {

constexpr std::array<const char*, 6> kDateFormats = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};

// A boolean option's field in SessionOptions, or null for options that are not booleans.
bool* boolField(OptionCode code, SessionOptions& o) {
  switch (code) {
    case OptionCode::NoCount:
      return &o.noCount;
    case OptionCode::FormatOnly:
      return &o.fmtOnly;
    case OptionCode::ParseOnly:
      return &o.parseOnly;
    case OptionCode::NoExec:
      return &o.noExec;
    case OptionCode::Chained:
      return &o.chained;
    case OptionCode::AnsiNull:
      return &o.ansiNull;
    case OptionCode::QuotedIdent:
      return &o.quotedIdentifier;
    case OptionCode::ShowPlan:
      return &o.showPlan;
    case OptionCode::ForcePlan:
      return &o.forcePlan;
    case OptionCode::StatIo:
      return &o.statIo;
    case OptionCode::StatTime:
      return &o.statTime;
    case OptionCode::ArithAbortOn:
      return &o.arithAbort;
    case OptionCode::ArithIgnoreOn:
      return &o.arithIgnore;
    default:
      return nullptr;
  }
}

int32_t argumentValue(const Bytes& a) {
  if (a.size() == 1) return a[0];
  if (a.size() == 4)
    return static_cast<int32_t>(a[0] | (a[1] << 8) | (a[2] << 16) | (static_cast<uint32_t>(a[3]) << 24));
  return 0;
}

OptionAnswer info(int length, int32_t value) {
  OptionAnswer a;
  a.hasInfo = true;
  a.infoLength = length;
  a.infoValue = value;
  return a;
}

OptionAnswer fail(const std::string& text) {
  OptionAnswer a;
  a.error = true;
  a.errorText = text;
  return a;
}

}  // namespace

OptionAnswer applyOption(const OptionRequest& req, SessionOptions& o) {
  SessionOptions defaults;
  const auto code = static_cast<OptionCode>(req.option);
  const bool set = req.command == 1;
  const bool reset = req.command == 2;
  const bool list = req.command == 3;
  if (!set && !reset && !list) return fail("Unknown option command " + std::to_string(req.command) + ".");
  const int32_t value = argumentValue(req.argument);
  const std::string name = "option " + std::to_string(req.option);
  if (set && req.argument.size() != 1 && req.argument.size() != 4 && req.option != 0 &&
      code != OptionCode::AuthOn && code != OptionCode::AuthOff)
    return fail("Option " + std::to_string(req.option) + " needs a value.");

  if (bool* field = boolField(code, o)) {
    if (list) return info(1, *field ? 1 : 0);
    *field = set ? value != 0 : *boolField(code, defaults);
    return {};
  }
  switch (code) {
    case OptionCode::ArithAbortOff:
    case OptionCode::ArithIgnoreOff: {
      bool& field = code == OptionCode::ArithAbortOff ? o.arithAbort : o.arithIgnore;
      if (list) return info(1, field ? 0 : 1);
      field =
          reset ? (code == OptionCode::ArithAbortOff ? defaults.arithAbort : defaults.arithIgnore) : false;
      return {};
    }
    case OptionCode::TextSize:
      if (list) return info(4, o.textSize);
      if (set && value < 0) return fail("Invalid textsize " + std::to_string(value) + ".");
      // textsize 0 restores the default, as "set textsize 0" does.
      o.textSize = set && value > 0 ? value : defaults.textSize;
      return {};
    case OptionCode::RowCount:
      if (list) return info(4, o.rowCount);
      if (set && value < 0) return fail("Invalid rowcount " + std::to_string(value) + ".");
      o.rowCount = set ? value : defaults.rowCount;
      return {};
    case OptionCode::Isolation:
      if (list) return info(1, o.isolation);
      if (set && (value < 0 || value > 3))
        return fail("Invalid isolation level " + std::to_string(value) + ".");
      o.isolation = set ? value : defaults.isolation;
      return {};
    case OptionCode::DateFirst:
      if (list) return info(1, o.dateFirst);
      if (set && (value < 1 || value > 7)) return fail("Invalid datefirst " + std::to_string(value) + ".");
      o.dateFirst = set ? value : defaults.dateFirst;
      return {};
    case OptionCode::DateFormat: {
      if (list) {
        for (size_t i = 0; i < kDateFormats.size(); ++i)
          if (o.dateFormat == kDateFormats[i]) return info(1, static_cast<int32_t>(i + 1));
        return info(1, 1);
      }
      if (set && (value < 1 || value > 6)) return fail("Invalid dateformat " + std::to_string(value) + ".");
      o.dateFormat = set ? kDateFormats[static_cast<size_t>(value - 1)] : defaults.dateFormat;
      return {};
    }
    default:
      // Accepted and ignored; a list answers with no value.
      if (list) return info(0, 0);
      return {};
  }
}

}  // namespace tabsrv::tds
