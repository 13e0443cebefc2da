// The names of the Client-Library datatype codes and the map from a datatype name to the
// class library's field type, read by the command engines, the result grid and the datasets.
#pragma once

#include <QString>

#include "access/FieldType.h"

// Number of entries of CSDataTypeNames (codes 0 to 22).
inline constexpr int kCSDataTypeNameCount = 23;

// The datatype names indexed by code: 2, 3 and 20 share the names of their short forms.
extern const char* const CSDataTypeNames[kCSDataTypeNameCount];

// The name of datatype Code: the table's entry for 0 to 22, "unknown" for 23 and 24,
// "illegal" for -1 (CS_ILLEGAL_TYPE) and "unknown/illegal" for any other code (FreeTDS
// reports codes past the table, such as CS_UNICHAR_TYPE or CS_BIGINT_TYPE).
QString CSDataTypeName(int code);

// The field type for a datatype name ("varchar" a string, "money" a currency ...);
// ftUnknown for a name outside the map. Names compare without regard to case.
TFieldType FieldTypeOfTypeName(const QString& typeName);
