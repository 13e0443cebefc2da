// How one column's values are laid out in TDS 5.0 rows and parameters, read from the type byte
// and type info of its format entry. Shared by the tests' wire reader and the benchmark's bare
// client, which both walk server replies without Client-Library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tabtest {

struct ColumnShape {
  uint8_t type = 0;
  int lengthBytes = 0;   // 0 fixed, 1 or 4 length bytes before each value, -1 text/image
  size_t fixedSize = 0;  // the value's size when lengthBytes is 0
};

// Reads the type byte and type info at `at` of `p` (`length` bytes) into `s` and moves `at` past
// them; false for a type it does not know or type info running past the end.
inline bool readColumnShape(const uint8_t* p, size_t length, size_t& at, ColumnShape& s) {
  if (at >= length) return false;
  s = ColumnShape{};
  s.type = p[at++];
  switch (s.type) {
    case 0x2F:  // char, varchar, binary, varbinary, intn, floatn, moneyn, datetimn, bitn
    case 0x27:
    case 0x2D:
    case 0x25:
    case 0x26:
    case 0x6D:
    case 0x6E:
    case 0x6F:
    case 0x68:
      s.lengthBytes = 1;
      at += 1;
      break;
    case 0x6C:  // numeric, decimal: length, precision, scale
    case 0x6A:
      s.lengthBytes = 1;
      at += 3;
      break;
    case 0xAF:  // longchar, longbinary
    case 0xE1:
      s.lengthBytes = 4;
      at += 4;
      break;
    case 0x23:  // text, image: length and the table's name
    case 0x22:
      s.lengthBytes = -1;
      at += 4;
      if (at + 2 > length) return false;
      at += 2 + static_cast<size_t>(p[at] | p[at + 1] << 8);
      break;
    case 0x30:  // tinyint, bit
    case 0x32:
      s.fixedSize = 1;
      break;
    case 0x34:  // smallint
      s.fixedSize = 2;
      break;
    case 0x38:  // int, real, smallmoney, smalldatetime
    case 0x3B:
    case 0x3A:
    case 0x7A:
      s.fixedSize = 4;
      break;
    case 0x3E:  // float, money, datetime
    case 0x3D:
    case 0x3C:
      s.fixedSize = 8;
      break;
    default:
      return false;
  }
  return at <= length;
}

}  // namespace tabtest
