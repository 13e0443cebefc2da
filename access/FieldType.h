// The class library's field types, in its declaration order: the ordinals are stored in
// the memory datasets' "QorixSuite1" streams and shared by the command engines and the
// datasets, so members are only ever appended.
#pragma once

#include <cstdint>

// Field type of a field, a field definition or a parameter.
enum TFieldType : int32_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
};

// One past the last member, for range checks on ordinals read from a stream.
inline constexpr int32_t kFieldTypeCount = ftGuid + 1;

// The type's name as the class library spells it ("ftString"); "ftUnknown" out of range.
inline const char* FieldTypeName(int32_t type) {
  static const char* const names[kFieldTypeCount] = {
      "ftUnknown",  "ftString",     "ftSmallint", "ftInteger",     "ftWord",     "ftBoolean",  "ftFloat",
      "ftCurrency", "ftBCD",        "ftDate",     "ftTime",        "ftDateTime", "ftBytes",    "ftVarBytes",
      "ftAutoInc",  "ftBlob",       "ftMemo",     "ftGraphic",     "ftFmtMemo",  "ftParadoxOle",
      "ftDBaseOle", "ftTypedBinary", "ftCursor",  "ftFixedChar",   "ftWideString", "ftLargeint", "ftADT",
      "ftArray",    "ftReference",  "ftDataSet",  "ftOraBlob",     "ftOraClob",  "ftVariant",  "ftInterface",
      "ftIDispatch", "ftGuid"};
  return type >= 0 && type < kFieldTypeCount ? names[type] : names[0];
}
