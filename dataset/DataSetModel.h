// TDataSetModel: a Qt table model over a dataset for data-aware grids. It follows the dataset
// through a data link, so filters, master links and the dataset's own events decide what it
// shows, and it reads rows on demand (canFetchMore/fetchMore) in batches it caches.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <functional>
#include <vector>

#include "dataset/DataSource.h"

// The table model of a data-aware grid: one row per visible record, one column per visible field.
class TDataSetModel : public QAbstractTableModel {
 public:
  // A model without a data source: no rows, no columns.
  explicit TDataSetModel(QObject* parent = nullptr);
  // Leaves the data source.
  ~TDataSetModel() override;

  // The data source whose dataset is shown (nullptr shows nothing).
  TDataSource* DataSource() const { return link_.DataSource(); }
  // Shows another data source's dataset (the rows are read again).
  void SetDataSource(TDataSource* source);
  // Records read per fetchMore.
  int BatchSize = 256;
  // setData posts the record at once. Off (the default, as a data-aware grid edits): the
  // values typed into a row stay in the record's edit or insert until the current row moves
  // (SetCurrentRow posts it) or the caller posts it, so a new row of a table with several
  // NOT NULL columns goes to the server once, whole.
  bool AutoPost = false;
  // Asked when the dataset is about to post or leave its record (and before SetCurrentRow
  // moves): a view writes the value of a cell editor still open into the record first, so
  // a post from a navigator, a refresh or a page change never leaves typed text behind.
  std::function<void()> OnUpdateData;
  // The dataset's current record moved to another row (-1 when it is not fetched yet).
  std::function<void(int row)> OnCurrentRowChanged;

  // The row of the dataset's current record, -1 when it has not been fetched.
  int CurrentRow() const;
  // Moves the dataset to a fetched row (posting an open edit first); false for a bad row.
  bool SetCurrentRow(int row);
  // The field shown in a column, nullptr outside the columns.
  TField* ColumnField(int column) const {
    return column >= 0 && column < columns_.size() ? columns_[column] : nullptr;
  }
  // Rows read so far and whether the dataset has no more.
  int FetchedRows() const { return int(rows_.size()); }
  bool AllFetched() const { return allFetched_; }
  // Reads every remaining record.
  void FetchAll();

  // Rows read so far, plus the row of a record being inserted.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // The visible fields.
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayText (display role), Value (edit role), right alignment for numbers.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // The field's DisplayName over each column.
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  // Editable for data fields of a modifiable dataset that are not read-only.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Writes an edit-role value into the row's record; errors go to the suite's exception report.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  // More records remain and the dataset browses (reading would post an open edit).
  bool canFetchMore(const QModelIndex& parent = QModelIndex()) const override;
  // Reads the next BatchSize records.
  void fetchMore(const QModelIndex& parent = QModelIndex()) override;

 private:
  // The link through which the dataset's events reach the model.
  class Link : public TDataLink {
   public:
    explicit Link(TDataSetModel* model) : model_(model) {}

   protected:
    void ActiveChanged() override { model_->Reset(); }
    void LayoutChanged() override { model_->Reset(); }
    void DataSetChanged() override { model_->DataSetChanged(); }
    void DataSetScrolled(int) override { model_->CurrentMoved(); }
    void EditingChanged() override { model_->EditingChanged(); }
    void RecordChanged(TField* field) override { model_->RecordChanged(field); }
    void CheckBrowseMode() override { model_->UpdateData(); }
    void UpdateData() override { model_->UpdateData(); }

   private:
    TDataSetModel* model_;
  };
  // One cached record: its bookmark, values and display texts in column order.
  struct Row {
    TBookmark Bookmark;
    QVariantList Values;
    QStringList Texts;
  };

  TDataSet* DataSet() const { return link_.DataSet(); }
  // Forgets every cached row and the columns; rows are read again on demand.
  void Reset();
  void DataSetChanged();
  void EditingChanged();
  // An edit of a cached record ended (posted or cancelled): only that row changes. True when
  // the row was updated in place.
  bool EndEditInPlace();
  // An insert was cancelled: its row goes, the rows read stay. True when that was the case.
  bool EndCancelledInsert();
  // After a reset by a change of content, reads the rows again up to the current record (at
  // most as many as were read before, plus a batch), on the next turn of the event loop, so
  // a grid stays on the record the user was at.
  void ReadBackAfterReset(int rowsBefore);
  void CurrentMoved();
  void RecordChanged(TField* field);
  // Runs OnUpdateData, once at a time and never during a scan of the dataset.
  void UpdateData();
  // Reads up to count further records; returns how many were added.
  int FetchRows(int count);
  // The active record's values in column order.
  Row ReadCurrent() const;
  // Index into rows_ of a model row, -1 for the row being inserted.
  int CacheIndex(int row) const;
  // The model row shows the dataset's active buffer (the record edited or inserted).
  bool ShowsActiveRecord(int row) const;
  bool Editing() const;

  Link link_;
  QList<TField*> columns_;
  std::vector<Row> rows_;
  QHash<TBookmark, int> rowOfBookmark_;
  bool allFetched_ = false;
  bool fetching_ = false;
  bool changing_ = false;  // a structural change is being announced
  bool posting_ = false;   // setData posts the record it edited
  bool updating_ = false;  // OnUpdateData runs
  bool resetPending_ = false;  // that post changed more than its row: reset after setData
  int insertRow_ = -1;
  // The record being edited (empty unless the dataset is in edit state for a stored record).
  TBookmark editBookmark_;
  // Counts resets, so a read-back queued before a later reset is dropped.
  uint64_t resets_ = 0;
  int lastCurrent_ = -1;
  uint64_t seenVersion_ = 0;
};
