// The texts of the numbers and date-times the command engines and the result grid bind in
// their own types. FreeTDS turns a value bound as text into characters with sprintf or
// strftime, which costs more than the rest of a row; such columns are bound as values and
// their texts written here. A kind is written here only once its text agreed with FreeTDS's
// own conversion for every check value on that context (separators, month names and the
// day-half marks follow the C library's locale, the date form FreeTDS's locale file);
// otherwise the caller has FreeTDS convert it.
#pragma once

#include <cstdint>
#include <string>

#include "access/ctlib/ctlib.h"

namespace valuetext {

// How a column is bound: as text, or as a value of one of these kinds.
enum class Kind : uint8_t { Text, Int, Float, Real, Money, Money4, Numeric, DateTime, DateTime4, Count };

// The kind a described datatype is bound as (integers and bits as an int).
Kind KindOf(CS_INT datatype);
// The datatype and size a kind is bound with; a numeric keeps its own type.
CS_INT BoundType(Kind kind, CS_INT serverType);
int BoundSize(Kind kind);
// True when the texts of Kind are written here on Context (checked once per context).
bool Agrees(CS_CONTEXT* context, Kind kind);
// Writes the text of the bound value Data of Kind to Out (room for 128 characters); returns
// the end, or null for a value left to FreeTDS.
char* Write(Kind kind, const void* data, char* out);
// The milliseconds of a datetime's 1/300-second tick count as the server family shows them:
// ticks * 10 / 3 rounded half up (299 ticks are .997, 1 is .003, 2 is .007). Negative counts
// count as 0.
int64_t MillisecondsOfTicks(int64_t ticks);
// The tick count nearest to Milliseconds (half up), the inverse of MillisecondsOfTicks for
// every tick count.
int64_t TicksOfMilliseconds(int64_t milliseconds);

// FreeTDS's text of the value Data of Type (Length bytes; precision and scale for numerics)
// on Context; empty when the conversion fails.
std::string Convert(CS_CONTEXT* context, CS_INT type, const void* data, int length, int precision = 0,
                    int scale = 0);

}  // namespace valuetext
