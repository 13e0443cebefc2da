// The two collections every memory dataset owns: record constraints (TQorixConstraints),
// checked on every post, and aggregate declarations (TQorixAggregates), each of which owns an
// aggregate field on the dataset but computes no value.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "access/FieldType.h"

class TDataSet;
class TAggregateField;

// One rule a record must meet to be posted: FieldName Operator Value.
struct TQorixConstraintItem {
  QString FieldName;     // field compared
  QString Operator;      // one of "=", "<", ">", "<=", ">=", "<>"
  QVariant Value;        // value compared with
  QString ErrorMessage;  // raised when the rule fails
};

// The constraints of a memory dataset, in the order they are checked.
class TQorixConstraints {
 public:
  TQorixConstraintItem& Add() { return items_.emplace_back(); }
  int Count() const { return int(items_.size()); }
  TQorixConstraintItem& Items(int index) { return items_.at(index); }
  const TQorixConstraintItem& Items(int index) const { return items_.at(index); }
  void Clear() { items_.clear(); }

 private:
  std::vector<TQorixConstraintItem> items_;
};

class TQorixAggregates;

// One declared aggregate; owns the aggregate field it created on the dataset (found by name).
class TQorixAggregate {
 public:
  explicit TQorixAggregate(TQorixAggregates* owner);
  ~TQorixAggregate();
  std::function<void(TQorixAggregate&)> OnUpdate;  // never fired: no value is computed
  bool Visible = true;                             // shown by grids
  TFieldType DataType = ftUnknown;                 // result type

  QString AggregateName() const { return name_; }
  // Renames the field and stores the name.
  void SetAggregateName(const QString& name);
  QString Expression() const { return expression_; }
  void SetExpression(const QString& text);
  int GroupingLevel() const { return groupingLevel_; }
  // Refused with "Property may not be modified while aggregate is active" while Active.
  void SetGroupingLevel(int level);
  QString IndexName() const { return indexName_; }
  // Refused like SetGroupingLevel.
  void SetIndexName(const QString& name);
  bool Active() const { return active_; }
  void SetActive(bool value);
  // Expression or GroupingLevel changed since creation.
  bool Changed() const { return changed_; }
  // Copies name, Visible, Expression, IndexName, GroupingLevel and Active, in that order.
  void Assign(const TQorixAggregate& other);
  // The aggregate field of this item's name on the dataset; nullptr once it is gone.
  TAggregateField* Field() const;

 private:
  void CheckNotActive(bool differs);
  TQorixAggregates* owner_;
  QString name_;
  QString expression_;
  QString indexName_;
  int groupingLevel_ = 0;
  bool active_ = true;
  bool changed_ = false;
};

// The aggregates of a memory dataset.
class TQorixAggregates {
 public:
  explicit TQorixAggregates(TDataSet* dataset) : dataset_(dataset) {}
  // Adds an item and its field "Aggregate" + the dataset's field count.
  TQorixAggregate& Add();
  // Destroys the item at index (and its field).
  void Delete(int index);
  int Count() const { return int(items_.size()); }
  TQorixAggregate& Items(int index) { return *items_.at(index); }
  void Clear() { items_.clear(); }
  TDataSet* DataSet() const { return dataset_; }

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TQorixAggregate>> items_;
};
