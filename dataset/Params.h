// TParam and TParams: the statement parameters of datasets and command engines, and
// ParseSQL, which finds the colon markers of a statement and replaces them with "?".
#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

#include "access/FieldType.h"

// Direction of a parameter.
enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// One parameter.
class TParam {
 public:
  QString Name;                                  // marker name without the colon
  TFieldType DataType = ftUnknown;               // type sent to the server
  TParamType ParamType = TParamType::ptUnknown;  // direction
  bool Bound = false;                            // set explicitly by the program
  QVariant Value() const { return value_; }
  // Stores a value; a parameter of unknown type takes the value's type.
  void SetValue(const QVariant& value);
  bool IsNull() const { return value_.isNull(); }
  void Clear() { value_ = QVariant(); }
  // Copies name, type, direction, value and Bound.
  void Assign(const TParam& other);

 private:
  QVariant value_;
};

// An ordered parameter list.
class TParams {
 public:
  TParam* CreateParam(TFieldType type, const QString& name, TParamType paramType);
  int Count() const { return int(items_.size()); }
  TParam* Items(int index) const { return items_.at(index).get(); }
  // Case-insensitive; nullptr when absent.
  TParam* FindParam(const QString& name) const;
  // Raises "Parameter 'x' not found".
  TParam* ParamByName(const QString& name) const;
  void Clear() { items_.clear(); }
  // Replaces the list by copies of other's parameters.
  void Assign(const TParams& other);
  // Copies the values of same-named parameters of other.
  void AssignValues(const TParams& other);
  // The statement with each marker replaced by "?"; with doCreate, one parameter per distinct
  // marker is appended in order of first appearance. Quoted text is left alone and "::" is a
  // literal colon.
  QString ParseSQL(const QString& sql, bool doCreate);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};
