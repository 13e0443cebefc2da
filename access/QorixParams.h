// The parameter list the command engines send and the datasets share: TParam (name, field
// type, parameter type, value or NULL), TParams (the ordered collection, the ":name" marker
// parser, and the "ParamData" stream form stored with a component).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

#include "access/FieldType.h"

// The direction of a parameter, in the class library's order (stored streams keep ordinals).
enum TParamType : int32_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// One parameter: a named, typed value that may be NULL.
class TParam {
 public:
  // A NULL parameter named Name of field type DataType and direction ParamType.
  TParam(const QString& name = QString(), TFieldType dataType = ftUnknown, TParamType paramType = ptUnknown)
      : Name(name), DataType(dataType), ParamType(paramType) {}

  // The parameter name without its marker (":id" gives "id").
  QString Name;
  // The field type that decides how the value is sent.
  TFieldType DataType = ftUnknown;
  // Input, output, input-output or the procedure's return status.
  TParamType ParamType = ptUnknown;
  // Set when the program gave the parameter its value explicitly.
  bool Bound = false;

  // True while the parameter holds no value.
  bool IsNull() const { return value_.isNull(); }
  // Makes the parameter NULL.
  void Clear() { value_ = QVariant(); }
  // The value (an invalid variant for NULL).
  const QVariant& Value() const { return value_; }
  // Sets the value; an invalid variant makes the parameter NULL.
  void SetValue(const QVariant& value) { value_ = value; }
  // The value as text ("" for NULL; date-times as "yyyy-MM-dd hh:mm:ss.zzz").
  QString AsString() const;
  // The value as an integer (0 for NULL or text that is not a number).
  int AsInteger() const;
  // The value as a double (0 for NULL or text that is not a number).
  double AsFloat() const;
  // The value as a date-time (invalid for NULL or text that is not one).
  QDateTime AsDateTime() const;
  // Sets a text value and, when the type is still unknown, makes it ftString.
  void SetAsString(const QString& text);
  // Sets an integer value and, when the type is still unknown, makes it ftInteger.
  void SetAsInteger(int value);
  // Copies name, types and value of Source.
  void Assign(const TParam& source) { *this = source; }

 private:
  QVariant value_;
};

// The ordered, owning list of parameters.
class TParams {
 public:
  TParams() = default;
  TParams(const TParams& other) { Assign(other); }
  TParams& operator=(const TParams& other) {
    if (this != &other) Assign(other);
    return *this;
  }

  // The number of parameters.
  int Count() const { return static_cast<int>(items_.size()); }
  // True when the list holds none.
  bool IsEmpty() const { return items_.empty(); }
  // The parameter at 0-based Index.
  TParam& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  TParam& operator[](int index) const { return Items(index); }
  // Appends a NULL parameter and returns it.
  TParam& CreateParam(TFieldType dataType, const QString& name, TParamType paramType);
  // The first parameter named Name (without regard to case), or null.
  TParam* FindParam(const QString& name) const;
  // The parameter named Name; raises EDatabaseError "Parameter 'Name' not found" otherwise.
  TParam& ParamByName(const QString& name) const;
  // Removes every parameter.
  void Clear() { items_.clear(); }
  // Replaces the list with copies of Source's parameters.
  void Assign(const TParams& source);
  // Takes over the values of same-named parameters of Source (types and order stay).
  void AssignValues(const TParams& source);
  // True when both lists hold the same names, types and values in the same order.
  bool IsEqual(const TParams& other) const;

  // Turns each ":name" marker outside string literals and comments into "?" and, with
  // DoCreate, appends one parameter per marker (a name given twice makes one parameter
  // per occurrence, as the server numbers them). "::" stands for one ":"; :"a b" is a marker
  // whose name holds a blank. Returns the text.
  QString ParseSQL(const QString& sql, bool doCreate);

  // The "ParamData" stream form: count, then per parameter name, field type, parameter
  // type, a NULL flag and the value.
  QByteArray WriteData() const;
  // Reads what WriteData wrote; a damaged stream leaves the list empty and returns false.
  bool ReadData(const QByteArray& data);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};
