// Constraints are plain data; the aggregates keep their aggregate fields on the dataset.
#include "dataset/QxMemCollections.h"

#include "dataset/DataSet.h"
#include "dataset/QxDataSetErrors.h"

TQorixAggregate::TQorixAggregate(TQorixAggregates* owner) : owner_(owner) {
  TDataSet* ds = owner_->DataSet();
  auto field = std::make_unique<TAggregateField>();
  field->FieldName = QStringLiteral("Aggregate%1").arg(ds->FieldCount());
  field->Active = true;
  name_ = field->FieldName;
  field_ = static_cast<TAggregateField*>(ds->Fields().Add(std::move(field)));
}

TQorixAggregate::~TQorixAggregate() {
  TDataSet* ds = owner_->DataSet();
  if (TField* f = ds->FindField(name_)) ds->Fields().Remove(f);
}

void TQorixAggregate::SetAggregateName(const QString& name) {
  if (field_) field_->FieldName = name;
  name_ = name;
}

void TQorixAggregate::SetExpression(const QString& text) {
  if (text != expression_) changed_ = true;
  expression_ = text;
  if (field_) field_->Expression = text;
}

void TQorixAggregate::CheckNotActive(bool differs) {
  TDataSet* ds = owner_->DataSet();
  if (differs && active_ && !ds->Loading()) DatabaseError(QxText(QxMsg::AggregateActive), ds);
}

void TQorixAggregate::SetGroupingLevel(int level) {
  CheckNotActive(level != groupingLevel_);
  if (level != groupingLevel_) changed_ = true;
  groupingLevel_ = level;
  if (field_) field_->GroupingLevel = level;
}

void TQorixAggregate::SetIndexName(const QString& name) {
  CheckNotActive(name != indexName_);
  indexName_ = name;
  if (field_) field_->IndexName = name;
}

void TQorixAggregate::SetActive(bool value) {
  active_ = value;
  if (field_) field_->Active = value;
}

void TQorixAggregate::Assign(const TQorixAggregate& other) {
  SetAggregateName(other.name_);
  Visible = other.Visible;
  SetExpression(other.expression_);
  SetIndexName(other.indexName_);
  SetGroupingLevel(other.groupingLevel_);
  SetActive(other.active_);
}

TQorixAggregate& TQorixAggregates::Add() {
  items_.push_back(std::make_unique<TQorixAggregate>(this));
  return *items_.back();
}

void TQorixAggregates::Delete(int index) {
  items_.erase(items_.begin() + index);
}
