// The datatype-name table and the type-name to field-type map.

#include "access/SybType.h"

const char* const CSDataTypeNames[kCSDataTypeNameCount] = {"char",
                                                           "binary",
                                                           "char",
                                                           "binary",
                                                           "text",
                                                           "image",
                                                           "tinyint",
                                                           "smallint",
                                                           "int",
                                                           "real",
                                                           "float",
                                                           "bit",
                                                           "datetime",
                                                           "smalldatetime",
                                                           "money",
                                                           "smallmoney",
                                                           "numeric",
                                                           "decimal",
                                                           "varchar",
                                                           "varbinary",
                                                           "int",
                                                           "sensitivity",
                                                           "sensitivity_boundry"};

QString CSDataTypeName(int code) {
  if (code >= 0 && code < kCSDataTypeNameCount) return QString::fromLatin1(CSDataTypeNames[code]);
  if (code == 23 || code == 24) return QStringLiteral("unknown");
  if (code == -1) return QStringLiteral("illegal");
  return QStringLiteral("unknown/illegal");
}

TFieldType FieldTypeOfTypeName(const QString& typeName) {
  struct Entry {
    const char* name;
    TFieldType type;
  };
  static const Entry map[] = {{"char", ftString},
                              {"varchar", ftString},
                              {"smallint", ftSmallint},
                              {"tinyint", ftSmallint},
                              {"int", ftInteger},
                              {"real", ftFloat},
                              {"float", ftFloat},
                              {"numeric", ftFloat},
                              {"decimal", ftFloat},
                              {"datetime", ftDateTime},
                              {"smalldatetime", ftDateTime},
                              {"binary", ftVarBytes},
                              {"varbinary", ftVarBytes},
                              {"text", ftMemo},
                              {"image", ftBlob},
                              {"bit", ftBoolean},
                              {"money", ftCurrency},
                              {"smallmoney", ftCurrency}};
  const QString name = typeName.trimmed().toLower();
  for (const Entry& e : map)
    if (name == QLatin1String(e.name)) return e.type;
  return ftUnknown;
}
