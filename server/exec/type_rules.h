// The family's typing rules for expressions: the datatype hierarchy, the result type of
// arithmetic, concatenation, CASE/UNION and aggregates, and which implicit conversions exist.
// Pure functions over TypeDesc, used by the binder.
#pragma once

#include <optional>
#include <string>

#include "server/core/types.h"

namespace tabsrv {

// Broad classes of types that decide which operators and implicit conversions apply.
enum class TypeClass { Integer, Exact, Money, Approx, String, Binary, DateTime, Bit };

// The class a type belongs to.
TypeClass typeClass(SqlType t);
// True for char, varchar and text.
bool isStringType(SqlType t);
// True for the integer types, bit, exact numerics, money and float types (arithmetic operands).
bool isArithmeticType(SqlType t);
// Rank in the family's datatype hierarchy: the higher ranked operand decides the result type.
int typeRank(SqlType t);
// A TypeDesc with the fixed size of a type (int 4, datetime 8 ...); char/varchar get length 1.
TypeDesc fixedType(SqlType t);
// Precision and scale of an exact type; integers count as numeric(3|5|10|19, 0), money as (19,4).
std::pair<int, int> exactShape(const TypeDesc& t);

// numeric(precision, scale) with its wire length.
TypeDesc numericType(int precision, int scale);

// Arithmetic operators the binder types.
enum class ArithOp { Add, Sub, Mul, Div, Mod };

// The result type of `a op b`, or nothing when the family refuses the combination (257).
std::optional<TypeDesc> arithmeticType(ArithOp op, const TypeDesc& a, const TypeDesc& b);
// The type of `a + b` on two strings (varchar of the summed length) or two binaries.
TypeDesc concatType(const TypeDesc& a, const TypeDesc& b);
// The common type of CASE branches, UNION columns and COALESCE arguments.
TypeDesc commonType(const TypeDesc& a, const TypeDesc& b);
// True when a comparison or arithmetic between the two types needs no explicit convert().
bool implicitlyComparable(const TypeDesc& a, const TypeDesc& b);
// Result type of sum() over a column of type t (int for the integer types, numeric(38,s) ...).
TypeDesc sumType(const TypeDesc& t);
// Result type of avg() over a column of type t.
TypeDesc avgType(const TypeDesc& t);
// True when INSERT or UPDATE may store a value of type `from` into a column of type `to` without
// convert(): as implicitConversionAllowed, except that character data never becomes a number.
bool storableImplicitly(SqlType from, SqlType to);
// A value assigned to a char(n) variable or parameter, blank-padded to n as the family keeps it.
Value padFixedChar(Value v, const TypeDesc& t);

}  // namespace tabsrv
