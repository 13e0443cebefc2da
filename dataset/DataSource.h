// Data sources and data links: how data-aware controls and detail datasets follow a dataset.
// A TDataSource connects one dataset to many TDataLink objects; each link sees the dataset's
// events relative to its own window of buffered records.
#pragma once

#include <QList>
#include <functional>

#include "dataset/DataSet.h"

class TDataLink;

// Connects a dataset to its data links.
class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* dataset) { SetDataSet(dataset); }
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  std::function<void(TDataSource&)> OnStateChange;          // the dataset's state changed
  std::function<void(TDataSource&, TField*)> OnDataChange;  // record moved (nullptr) or field changed
  std::function<void(TDataSource&)> OnUpdateData;           // the record is about to be posted
  bool AutoEdit = true;                                     // controls may start an edit

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // The dataset's state as the links saw it last (inactive without a dataset).
  TDataSetState State() const { return state_; }
  // Starts an edit when AutoEdit holds and the dataset browses.
  void Edit();
  // The links attached.
  const QList<TDataLink*>& DataLinks() const { return links_; }
  // Called by the dataset for each of its data events.
  void DataEvent(TDataEvent event, intptr_t info);

 private:
  friend class TDataLink;
  friend class TDataSet;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  void SetState(TDataSetState value);
  void NotifyLinks(TDataEvent event, intptr_t info);

  TDataSet* dataset_ = nullptr;
  QList<TDataLink*> links_;
  TDataSetState state_ = TDataSetState::dsInactive;
  bool enabled_ = true;
};

// One observer of a data source's dataset with a window of BufferCount records.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  // The linked dataset, nullptr without a data source.
  TDataSet* DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }
  // The data source is enabled and its dataset open.
  bool Active() const { return active_; }
  // The dataset is in edit, insert or set-key state.
  bool Editing() const { return editing_; }
  bool ReadOnly = false;  // the link never starts an edit
  // Records the link shows at once; the dataset's window is at least this wide.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int value);
  // Index of the dataset's active record inside this link's window.
  int ActiveRecord() const;
  void SetActiveRecord(int value);
  // Records buffered inside this link's window.
  int RecordCount() const;
  // Starts an edit through the data source (false when that is not possible).
  bool Edit();
  // Writes the control's value (runs UpdateData unless already updating).
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void SetActive(bool value);
  void SetEditing(bool value);

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int firstRecord_ = 0;
};

// The link of a data-aware editor to one field of the active record: tells the editor when to
// show the field's value (OnDataChange), when it may edit (OnEditingChange) and when to write
// its pending value back (OnUpdateData, after Modified).
class TFieldDataLink : public TDataLink {
 public:
  std::function<void(TFieldDataLink&)> OnDataChange;     // show Field's value again
  std::function<void(TFieldDataLink&)> OnEditingChange;  // Editing changed
  std::function<void(TFieldDataLink&)> OnUpdateData;     // write the editor's value into Field
  std::function<void(TFieldDataLink&)> OnActiveChange;   // the dataset opened or closed

  // The field's name; the field is looked up while the dataset is open.
  QString FieldName() const { return fieldName_; }
  void SetFieldName(const QString& name);
  // The field shown, nullptr while closed or without a name.
  TField* Field() const { return field_; }
  // The field can take a value: a data field, not read-only, of a dataset that allows changes.
  bool CanModify() const;
  // The dataset is being edited and the field can take a value.
  bool FieldEditing() const { return fieldEditing_; }
  // Starts an edit when the field can take a value; answers whether it is being edited.
  bool Edit();
  // The editor holds a value not yet written.
  void Modified() { modified_ = true; }
  bool IsModified() const { return modified_; }
  // Throws the editor's pending value away and shows the field's value again.
  void Reset() { RecordChanged(nullptr); }

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();
  void UpdateFieldEditing();
  QString fieldName_;
  TField* field_ = nullptr;
  bool fieldEditing_ = false;
  bool modified_ = false;
};

// The link of a detail dataset to its master: knows the master fields it follows and
// calls OnMasterChange when the master moves or one of them changes.
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}
  std::function<void()> OnMasterChange;   // the master moved or a master field changed
  std::function<void()> OnMasterDisable;  // the master closed or the link went away
  // ";"-separated master field names.
  QString FieldNames() const { return fieldNames_; }
  void SetFieldNames(const QString& names);
  // The master fields resolved at the last activation.
  const QList<TField*>& Fields() const { return fields_; }
  TDataSet* Detail() const { return detail_; }

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  TDataSet* detail_;
  QString fieldNames_;
  QList<TField*> fields_;
};
