// Constraints are plain data; the aggregates keep their aggregate fields on the dataset.
#include "dataset/QxMemCollections.h"

#include "dataset/DataSet.h"
#include "dataset/Field.h"
#include "dataset/QxDataSetErrors.h"

TQorixAggregate::TQorixAggregate(TQorixAggregates* owner) : owner_(owner) {
  TDataSet* ds = owner_->DataSet();
  auto field = std::make_unique<TAggregateField>();
  field->FieldName = QStringLiteral("Aggregate%1").arg(ds->FieldCount());
  field->Active = true;
  name_ = field->FieldName;
  ds->Fields().Add(std::move(field));
}

TQorixAggregate::~TQorixAggregate() {
  TDataSet* ds = owner_->DataSet();
  if (TAggregateField* f = Field()) ds->Fields().Remove(f);
}

TAggregateField* TQorixAggregate::Field() const {
  // Found by name on every use: the dataset's field list may have been rebuilt (a stream load
  // replaces the fields), and a pointer kept from creation would then point at freed memory.
  TField* f = owner_->DataSet()->FindField(name_);
  return f && f->FieldKind == TFieldKind::fkAggregate ? static_cast<TAggregateField*>(f) : nullptr;
}

void TQorixAggregate::SetAggregateName(const QString& name) {
  // A data field (or a definition that will make one) of that name would hide behind the
  // aggregate's field, and another field of it would be found instead of the aggregate's.
  TDataSet* ds = owner_->DataSet();
  TAggregateField* own = Field();
  const TField* other = ds->FindField(name);
  if ((other && other != own) ||
      (name.compare(name_, Qt::CaseInsensitive) != 0 && ds->FieldDefs().IndexOf(name) >= 0))
    DatabaseError(DbText::DuplicateFieldName.arg(name), ds);
  if (own) own->FieldName = name;
  name_ = name;
}

void TQorixAggregate::SetExpression(const QString& text) {
  if (text != expression_) changed_ = true;
  expression_ = text;
  if (TAggregateField* f = Field()) f->Expression = text;
}

void TQorixAggregate::CheckNotActive(bool differs) {
  TDataSet* ds = owner_->DataSet();
  if (differs && active_ && !ds->Loading()) DatabaseError(QxText(QxMsg::AggregateActive), ds);
}

void TQorixAggregate::SetGroupingLevel(int level) {
  CheckNotActive(level != groupingLevel_);
  if (level != groupingLevel_) changed_ = true;
  groupingLevel_ = level;
  if (TAggregateField* f = Field()) f->GroupingLevel = level;
}

void TQorixAggregate::SetIndexName(const QString& name) {
  CheckNotActive(name != indexName_);
  indexName_ = name;
  if (TAggregateField* f = Field()) f->IndexName = name;
}

void TQorixAggregate::SetActive(bool value) {
  active_ = value;
  if (TAggregateField* f = Field()) f->Active = value;
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
