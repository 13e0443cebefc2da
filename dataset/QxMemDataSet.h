// TQxMemDataSet: the memory dataset placed on forms (the statement history is one). A change-log
// dataset that adds a master/detail link applied as a record filter, EmptyOnClose and StoreDefs.
#pragma once

#include "dataset/QxAuditDataSet.h"

// The form's memory dataset with its master link.
class TQxMemDataSet : public TQxAuditDataSet {
 public:
  explicit TQxMemDataSet(TComponent* owner = nullptr);
  ~TQxMemDataSet() override;
  // The link's filter is installed (the master is open).
  bool Linked() const { return linked_; }
  // The record filter of the link: this dataset's IndexFieldNames equal the master's MasterFields.
  void LinkFilterRecord(TDataSet& dataset, bool& accept);
  // The link's notifications.
  void MasterChanged();
  void MasterDisabled();
  // Replaces the index descriptions by copies of Defs'.
  void SetIndexDefs(const TIndexDefs& defs) { IndexDefs().Assign(defs); }
  // The form's description holds the index descriptions: StoreDefs is set and there is one.
  bool StoresIndexDefs() { return StoreDefs && IndexDefs().Count() > 0; }

 protected:
  void InternalOpen() override;
  void InternalClose() override;

 private:
  bool TestLink() const;
  void InstallLink();
  bool linked_ = false;
  TFilterRecordEvent savedFilter_;
};
