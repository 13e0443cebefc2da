// Column formats and values on the wire: which TDS 5.0 type a column travels as, its format
// entry in ROWFMT/PARAMFMT, and the bytes of one value in a ROW or PARAMS token.
#pragma once

#include <cstdint>
#include <vector>

#include "server/core/session.h"
#include "server/core/types.h"
#include "server/tds/wire.h"

namespace tabsrv::tds {

// TDS 5.0 wire type codes.
enum class WireType : uint8_t {
  Image = 0x22,
  Text = 0x23,
  VarBinary = 0x25,
  IntN = 0x26,
  VarChar = 0x27,
  Binary = 0x2D,
  Char = 0x2F,
  Int1 = 0x30,
  Bit = 0x32,
  Int2 = 0x34,
  Int4 = 0x38,
  DateTime4 = 0x3A,
  Real = 0x3B,
  Money = 0x3C,
  DateTime = 0x3D,
  Float = 0x3E,
  BitN = 0x68,
  Decimal = 0x6A,
  Numeric = 0x6C,
  FloatN = 0x6D,
  MoneyN = 0x6E,
  DateTimeN = 0x6F,
  Money4 = 0x7A,
  LongChar = 0xAF,
  LongBinary = 0xE1,
};

// How one column travels: its wire type and type info.
struct WireFormat {
  WireType type = WireType::Int4;
  int32_t maxLength = 4;  // the length byte/word of the type info (0 for fixed types)
  uint8_t precision = 0;  // numeric/decimal only
  uint8_t scale = 0;
  bool nullable = false;
};

// Per-reply state a value encoding needs.
struct ValueContext {
  int32_t textSize = 32768;  // text/image values are cut to this many bytes
  uint64_t rowNumber = 0;    // makes each text pointer distinct
};

// The wire format for a column: N types for nullable fixed types, long types past 255 bytes.
WireFormat wireFormatFor(const ColumnDesc& column);

// Bytes of a numeric value of this precision (sign byte included): 1 + ceil(p·log2(10)/8).
int numericBytes(int precision);

// A ROWFMT token (ROWFMT2 when the column list does not fit a 2-byte length).
Bytes encodeRowFormat(const std::vector<ColumnDesc>& columns);
// A PARAMFMT token for output parameters.
Bytes encodeParamFormat(const std::vector<ColumnDesc>& params);
// The values of one row without the token byte; throws std::invalid_argument when a value
// cannot travel as its column's type (a count mismatch, a string for an int column ...).
void encodeValues(ByteWriter& out, const std::vector<ColumnDesc>& columns,
                  const std::vector<WireFormat>& formats, const std::vector<Value>& values,
                  const ValueContext& context);
// A ROW token.
Bytes encodeRow(const std::vector<ColumnDesc>& columns, const std::vector<WireFormat>& formats,
                const std::vector<Value>& values, const ValueContext& context);
// ALTNAME for compute `id`: one name per compute column (empty: FreeTDS shows the operator).
Bytes encodeComputeNames(uint16_t id, const std::vector<ComputeColumn>& columns);
// ALTFMT for compute `id`: operator, operand and format of each column, then the BY list.
Bytes encodeComputeFormat(uint16_t id, const std::vector<ComputeColumn>& columns,
                          const std::vector<uint8_t>& byList);
// ALTROW: the compute id, then one value per compute column.
Bytes encodeComputeRow(uint16_t id, const std::vector<ColumnDesc>& columns,
                       const std::vector<WireFormat>& formats, const std::vector<Value>& values,
                       const ValueContext& context);
// A PARAMS token.
Bytes encodeParams(const std::vector<ColumnDesc>& params, const std::vector<WireFormat>& formats,
                   const std::vector<Value>& values, const ValueContext& context);

}  // namespace tabsrv::tds
