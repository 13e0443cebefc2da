// TQxNestedDataSet: a cached-update memory dataset over one ftDataSet field of a parent
// record, whose value is a "QorixSuite1" full stream; it reloads when the parent scrolls and
// writes itself back while the parent is edited, and its change log can be applied through an
// update object. Every memory dataset makes its nested datasets of this class.
// TQxNestedFieldList: the dataset fields a server dataset declares, one ftDataSet definition
// per active item.
#pragma once

#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

#include "dataset/server/QxDataSet.h"

// The dataset held in a parent record's dataset field.
class TQxNestedDataSet : public TQxBaseClientDataSet {
 public:
  // A new nested dataset stores its definitions and empties itself on close.
  explicit TQxNestedDataSet(TComponent* owner = nullptr);
  // Closes (posting an edited parent), leaves the waiting list and unbinds the field.
  ~TQxNestedDataSet() override;

  // The parent record's field that holds the contents; its dataset is the parent.
  TDataSetField* DataSetField() const { return dataSetField_; }
  // Binds to another field (closing first); nullptr unbinds.
  void SetDataSetField(TDataSetField* field);
  // Assign from a dataset field: it becomes DataSetField.
  void Assign(TDataSetField* field) { SetDataSetField(field); }
  // The parent dataset, nullptr without DataSetField.
  TQxCustomMemDataSet* Parent() const { return parent_; }

  // The parent reads its record in a state that shows one and the dataset field holds a value.
  virtual bool ParentFieldHasData();
  // Fills this dataset from the parent field (structure, then data), or empties it.
  void LoadFromParent();
  // Writes this dataset into the parent field while the parent is edited.
  void FlushToParent() override;

  // Waiting for the parent is no wait here: it raises at once.
  void CheckActive() override;
  // Reloads from the parent on deParentScroll, then the memory dataset's handling.
  void DataEvent(TDataEvent event, intptr_t info) override;
  // Closes and forgets the parent field (the parent destroys it or itself).
  void DetachFromParent() override;

 protected:
  void OpenCursor(bool infoQuery) override;
  void DoBeforeClose() override;
  void DoAfterOpen() override;
  void DoAfterScroll() override;
  void DoBeforeEdit() override;
  void DoBeforeInsert() override;
  void DoBeforeDelete() override;
  bool IsCursorOpen() const override { return FieldCount() > 0; }
  void InternalOpen() override;
  void InternalClose() override;
  void DoAfterPost() override;
  void DoAfterDelete() override;

 public:
  // Emptied by the program, the parent's value changes too.
  void EmptyDataSet() override;

 private:
  // Raises "DataSetField is undefined" without a field.
  void CheckDataSetField();
  // Leaves the parent's list of datasets waiting for it to open.
  void LeaveWaitingList();
  // Edits made here reach the parent only while it is edited: a browsing parent starts an edit.
  void EnsureParentEditing();

  TDataSetField* dataSetField_ = nullptr;
  TQxCustomMemDataSet* parent_ = nullptr;
  // Rows changed since the last load: only then is there anything to write back (an unchanged
  // write would mark the parent record modified and post it for nothing).
  bool dirty_ = false;
};

class TQxNestedFieldList;

// One dataset field of a server dataset. The field is declared only: every fetched row holds
// NULL in it, and a nested dataset bound to the field fills it while the row is edited.
class TQxNestedFieldItem {
 public:
  // An inactive item of collection.
  explicit TQxNestedFieldItem(TQxNestedFieldList* collection) : collection_(collection) {}
  QPointer<TQxCustomDataSet> DataSet;  // the detail dataset named for the field (kept only)
  QString FieldName;            // the field's name in the owner's definitions
  bool Active() const { return active_; }
  // Setting True with a blank FieldName raises "No FieldName assigned".
  void SetActive(bool value);
  // The list holding this item.
  TQxNestedFieldList* Collection() const { return collection_; }

 private:
  TQxNestedFieldList* collection_;
  bool active_ = false;
};

// The NestedFields collection; its owner is the server dataset.
class TQxNestedFieldList {
 public:
  // An empty list of owner.
  explicit TQxNestedFieldList(TQxCustomDataSet* owner) : owner_(owner) {}
  // Appends an inactive item.
  TQxNestedFieldItem& Add();
  // Number of items and the one at a position.
  int Count() const { return int(items_.size()); }
  TQxNestedFieldItem& Items(int index) { return *items_.at(index); }
  // Removes one item, or all of them.
  void Delete(int index);
  void Clear() { items_.clear(); }
  // The server dataset owning the list.
  TQxCustomDataSet* Owner() const { return owner_; }
  // Appends one ftDataSet definition of size 0 per active item (names cut to 30 characters).
  void AddFieldDefs(TFieldDefs& defs) const;

 private:
  TQxCustomDataSet* owner_;
  std::vector<std::unique_ptr<TQxNestedFieldItem>> items_;
};
