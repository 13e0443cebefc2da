// TQxCustomMemDataSet: the root of the suite's datasets, an in-memory dataset over a record
// store and a blob list. It implements the record-buffer contract of TDataSet, adds nineteen
// overridable operations (stepping, reading, writing, inserting, locating, the stream formats,
// emptying) for the change log and the server datasets, and checks constraints on post.
#pragma once

#include <QFlags>
#include <QPointer>
#include <memory>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/DataSource.h"
#include "dataset/IndexDefs.h"
#include "dataset/QxDataList.h"
#include "dataset/QxMemCollections.h"

// Operations a memory dataset refuses.
enum class TQxMemOption { opDisableDeletes = 1, opDisableEdits = 2, opDisableInserts = 4 };
Q_DECLARE_FLAGS(TQxMemOptions, TQxMemOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TQxMemOptions)

// Magic of a data block ("QorixSuite0") and of a full stream ("QorixSuite1").
inline constexpr char kQxDataMagic[] = "QorixSuite0";
inline constexpr char kQxFullMagic[] = "QorixSuite1";
// Bytes of a field-name slot in a full stream (at most 30 bytes of UTF-8 and a NUL).
inline constexpr int kQxNameSlot = 31;
// Largest record image a memory dataset lays out. Real rows are far smaller (a server row is
// bounded by its page size); the bound keeps a corrupt size from allocating gigabytes per buffer.
inline constexpr int kQxMaxRecordSize = 1 << 20;
// Marks the names that did not fit their slots, written after the data block of a full stream.
inline constexpr char kQxNamesMagic[] = "QorixNames1";
// Longest field name (UTF-8 bytes) such a block may hold.
inline constexpr int kQxMaxNameBytes = 4096;

// The in-memory dataset.
class TQxCustomMemDataSet : public TDataSet {
 public:
  explicit TQxCustomMemDataSet(TComponent* owner = nullptr);
  ~TQxCustomMemDataSet() override;

  bool StoreDefs = false;  // field definitions are stored with the form
  QString FileName;        // file read by LoadFromFile/LoadDataFromFile without an argument
  TQxMemOptions Options;   // refused operations
  QString About;           // informational text
  bool ReadOnly() const { return readOnly_; }
  // Changed only while closed.
  void SetReadOnly(bool value);
  // Closing empties the records, blobs and change log.
  bool EmptyOnClose = false;
  TQorixConstraints& Constraints() { return constraints_; }
  TQorixAggregates& Aggregates() { return aggregates_; }

  // Master link (published by TQxMemDataSet and the table dataset).
  TDataSource* MasterSource() const { return masterLink_.DataSource(); }
  void SetMasterSource(TDataSource* source);
  QString MasterFields() const { return masterLink_.FieldNames(); }
  void SetMasterFields(const QString& names);
  QString IndexFieldNames() const { return indexFieldNames_; }
  void SetIndexFieldNames(const QString& names) { indexFieldNames_ = names; }
  TDataSource* GetDataSource() const override { return masterLink_.DataSource(); }
  // Index descriptions kept for the form's description (no index is maintained).
  TIndexDefs& IndexDefs() { return indexDefs_; }
  // The master link (descendants hook its notifications).
  TMasterDataLink& MasterLink() { return masterLink_; }
  // The link's field names as the last split left them: the master's (from MasterFields) and
  // this dataset's (from IndexFieldNames), matched by position.
  const QStringList& MasterLinkFields() const { return masterLinkFields_; }
  const QStringList& DetailLinkFields() const { return detailLinkFields_; }
  // Refills both lists from MasterFields and IndexFieldNames.
  void SplitLinkFields();
  // Refills the master list only.
  void SplitMasterFields();

  // --- the memory dataset's own operations, in slot order ---
  virtual TGetResult CheckCurrent(TGetResult result);
  virtual TGetResult StepNext(TGetResult result);
  virtual TGetResult StepPrior(TGetResult result);
  virtual bool RecordAvailable(TRecordBuffer buffer);
  virtual void ReadRecordAt(TRecordBuffer buffer, int index);
  virtual void WriteRecordAt(TRecordBuffer buffer, int index);
  virtual void AppendEmptyRecord();
  virtual void InsertRecordAt(int index, TRecordBuffer buffer);
  virtual int32_t GetStoredFieldData(int recNo, TField* field);
  virtual bool LocateRecord(const QString& keyFields, const QVariant& keyValues, TLocateOptions options,
                            bool syncCursor);
  virtual void CopyStructure(TDataSet& source);
  virtual void FlushToParent() {}
  virtual void LoadFromFile(const QString& fileName = QString());
  virtual void LoadDataFromFile(const QString& fileName = QString());
  virtual void SaveDataToStream(TMemoryStream& stream, bool append);
  virtual void SaveToStream(TMemoryStream& stream);
  virtual void LoadDataFromStream(TStream& stream);
  virtual void EmptyDataSet();
  virtual bool LocateOrStay(const QString& keyFields, const QVariant& keyValues, TLocateOptions options);

  // Largest record image this dataset lays out (a change log adds its own fields to it).
  int64_t RecordLimit = kQxMaxRecordSize;

  // Reads a full stream's header and definitions from position 0.
  void LoadFieldDefs(TStream& stream);
  // The full stream's definitions lay records out as own does (false for any other bytes).
  bool HoldsLayoutOf(const QByteArray& fullStream, const TFieldDefs& own);
  // Definitions, then data; an empty stream changes nothing.
  void LoadFromStream(TStream& stream);

  // Searching and blobs.
  bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) override;
  QVariant Lookup(const QString& keyFields, const QVariant& keyValues, const QString& resultFields) override;
  bool FindRecord(bool restart, bool goForward) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  // The blob id in field's slot of the active record buffer, -1 without one.
  int32_t GetBlobId(const TField* field);
  // The blob list's own stream for field's value (created empty in edit/insert when missing).
  TMemoryStream* BlobValueStream(TField* field);
  // Stores a blob value the way a destroyed write stream does (see TQorixBlobStream).
  void StoreBlobValue(TField* field, TMemoryStream& value, bool replaceInPlace);

  // Bookmarks.
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& first, const TBookmark& second) override;
  // The 4-byte bookmark holding an id.
  static TBookmark BookmarkOfId(int32_t id);
  static int32_t IdOfBookmark(const TBookmark& bookmark);

  // Introspection used by descendants and tests.
  TQxDataList& Store() { return store_; }
  TQorixBlobList& Blobs() { return blobs_; }
  int32_t RecordSize() const { return recordSize_; }
  int CurrentIndex() const { return currentIndex_; }
  int32_t NextBookmarkId() const { return nextBookmarkId_; }
  // Byte offset of field n's slot (1-based) in the record image, -1 when unknown.
  int FieldOffset(int fieldNo) const;
  // The waiting nested datasets, opened after this dataset's own open.
  QList<TDataSet*>& WaitingNested() { return waitingNested_; }
  // The nested-dataset class every memory dataset names from its construction on; the
  // library that holds the nested dataset registers it (this one sits below it).
  using TNestedClass = std::function<std::unique_ptr<TDataSet>(TDataSetField&)>;
  static void RegisterNestedDataSetClass(TNestedClass maker);
  static const TNestedClass& RegisteredNestedDataSetClass();
  // Checks the constraints (raises the failing item's ErrorMessage).
  void CheckConstraints();

 protected:
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override;
  int GetRecordSize() override { return recordSize_; }
  TBookmark GetBookmarkData(TRecordBuffer buffer) override;
  void SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void InternalAddRecord(TRecordBuffer buffer, bool append) override;
  void InternalClose() override;
  void InternalDelete() override;
  void InternalFirst() override { currentIndex_ = -1; }
  void InternalLast() override { currentIndex_ = recordCount_; }
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InternalOpen() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  bool IsCursorOpen() const override { return cursorOpen_; }
  int GetRecordCount() override { return recordCount_; }
  int GetRecNo() override;
  void DoSetRecNo(int value) override;
  bool GetCanModify() const override { return TDataSet::GetCanModify() && !readOnly_; }
  void InitRecord(TRecordBuffer buffer) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  void DoBeforeInsert() override;
  void DoBeforeDelete() override;
  void DoBeforeEdit() override;
  void DoBeforeScroll() override;
  void DoAfterScroll() override;
  void DoAfterOpen() override;
  void DoAfterCancel() override;

 public:
  bool GetFieldData(const TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;
  void DataEvent(TDataEvent event, intptr_t info) override;

 protected:
  // Lays out the record image from FieldDefs and hands the size to the store.
  void ComputeRecordLayout();
  // The memory dataset's open: layout, fields, cursor flag (descendants with their own layout skip it).
  void OpenMemoryCursor();
  // The buffer field reads and writes use in the current state, nullptr when none.
  TRecordBuffer ActiveRecordBuffer() const;
  // True for the field types whose values live in the blob list.
  static bool IsBlobLike(TFieldType type);
  // Refuses ("Duplicate field name") a definition whose name a field of another kind (an
  // aggregate, a calculated or lookup field) already has: the data field would hide behind it.
  void CheckDefinitionNames(const TFieldDefs& defs);
  // Slot width of a field type (0 = unsupported).
  static int SlotWidth(TFieldType type, int size);
  // Bytes of the record image the definitions lay out, counted in 64 bits.
  static int64_t RecordSizeOf(const TFieldDefs& defs);
  // Scroll events fire only while this is on.
  bool scrollEvents_ = true;
  int currentIndex_ = -1;
  int recordCount_ = 0;
  int32_t nextBookmarkId_ = 1;
  // Blob writes of the record being edited, undone by a cancel: (blob id, field no, old bytes or
  // none when the value was created by the edit).
  struct BlobUndo {
    int32_t BlobId;
    int32_t FieldNo;
    bool Existed;
    QByteArray OldBytes;
    bool OldModified;
  };
  std::vector<BlobUndo> blobUndo_;
  void RememberBlob(int32_t blobId, int32_t fieldNo);
  void UndoBlobWrites();

 private:
  // Restores the names longer than their slots from the block after the data block (if any);
  // the stream's position is kept.
  void ReadLongNames(TStream& stream, TFieldDefs& defs);
  // Reads a full stream's definitions (long names included) from position 0 into defs;
  // refuses what no writer of the format makes.
  void ReadFieldDefs(TStream& stream, TFieldDefs& defs);
  // Loaded definitions lay records out as own does (types and slot widths, BCD as float).
  static bool SameLayout(const TFieldDefs& loaded, const TFieldDefs& own);
  // Refuses a post whose dataset-field value could not be loaded back by the open nested
  // dataset of that field: a stream of another record layout, or no full stream at all.
  void CheckNestedValues();
  friend class TQorixBlobStream;
  struct Slot {
    int Offset;
    int Width;
    TFieldType Type;
  };
  TGetResult StepFor(TGetMode mode);
  // The body of LoadDataFromStream: header checks, records, blob list.
  void ReadDataBlock(TStream& stream);

  TQxDataList store_;
  TQorixBlobList blobs_;
  TQorixConstraints constraints_;
  TQorixAggregates aggregates_;
  TMasterDataLink masterLink_;
  QString indexFieldNames_;
  QStringList masterLinkFields_;
  QStringList detailLinkFields_;
  TIndexDefs indexDefs_;
  QList<TDataSet*> waitingNested_;
  std::vector<Slot> slots_;
  std::vector<std::pair<TFieldType, int>> storeLayout_;
  int32_t recordSize_ = 0;
  int bookmarkOffset_ = 0;
  int calcOffset_ = 0;
  bool cursorOpen_ = false;
  bool readOnly_ = false;
  TRecordBuffer scratch_ = nullptr;
};

// The memory stream CreateBlobStream hands out: writes reach the blob list at once, and a
// modified stream stores its value into the record when it is destroyed.
class TQorixBlobStream : public TMemoryStream {
 public:
  TQorixBlobStream(TQxCustomMemDataSet* dataset, TField* field, TBlobStreamMode mode);
  ~TQorixBlobStream() override;
  int64_t Write(const void* buffer, int64_t count) override;

 private:
  QPointer<TQxCustomMemDataSet> dataset_;
  TField* field_;
  TBlobStreamMode mode_;
  bool modified_ = false;
};
