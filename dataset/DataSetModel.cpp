// The data-aware table model: the row cache filled by scans of the dataset, the reaction to the
// dataset's events (reset on a change of content, a row for the record being inserted, live
// values for the record being edited) and editing through setData.
#include "dataset/DataSetModel.h"

#include <algorithm>

#include "access/UiServices.h"

namespace {
bool IsNumeric(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
      return true;
    default:
      return false;
  }
}
}  // namespace

TDataSetModel::TDataSetModel(QObject* parent) : QAbstractTableModel(parent), link_(this) {}

TDataSetModel::~TDataSetModel() {
  link_.SetDataSource(nullptr);
}

void TDataSetModel::SetDataSource(TDataSource* source) {
  if (source == link_.DataSource()) return;
  link_.SetDataSource(source);
  Reset();
}

// --- following the dataset -----------------------------------------------------------------

void TDataSetModel::Reset() {
  // Observers of the model's signals that ask for rows at once wait until the change is complete.
  changing_ = true;
  beginResetModel();
  rows_.clear();
  rowOfBookmark_.clear();
  columns_.clear();
  insertRow_ = -1;
  lastCurrent_ = -1;
  editBookmark_ = TBookmark();
  ++resets_;
  TDataSet* ds = DataSet();
  allFetched_ = !ds || !link_.Active();
  if (ds && link_.Active()) {
    seenVersion_ = ds->ContentVersion();
    for (int i = 0; i < ds->FieldCount(); ++i)
      if (ds->Fields().Fields(i)->Visible) columns_ << ds->Fields().Fields(i);
  }
  endResetModel();
  changing_ = false;
}

bool TDataSetModel::Editing() const {
  TDataSet* ds = DataSet();
  return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}

void TDataSetModel::DataSetChanged() {
  TDataSet* ds = DataSet();
  if (fetching_ || !ds) return;
  if (ds->State() == TDataSetState::dsInsert) {
    if (insertRow_ >= 0) {
      if (columnCount() > 0) emit dataChanged(index(insertRow_, 0), index(insertRow_, columnCount() - 1));
      return;
    }
    // An appended record shows after the rows read so far, an inserted one where the record
    // it was inserted before stood.
    const int at = ds->ActiveBookmarkFlag() == TBookmarkFlag::bfEOF
                       ? int(rows_.size())
                       : std::clamp(lastCurrent_, 0, int(rows_.size()));
    changing_ = true;
    beginInsertRows(QModelIndex(), at, at);
    insertRow_ = at;
    endInsertRows();
    changing_ = false;
    // The new row is current even where it took the row number of the record it stands before
    // (a view moved its current cell down with the rows it shifted).
    lastCurrent_ = -1;
    CurrentMoved();
    return;
  }
  // A scan by another observer, or a move to another record, leaves the rows as they are.
  if (insertRow_ < 0 && (ds->Scanning() || ds->ContentVersion() == seenVersion_)) {
    CurrentMoved();
    return;
  }
  // The end of an edit (a post or a cancel, from a navigator or the grid) changes its own row
  // only; a cancelled insert takes its row away. Every other row stays as it was read.
  if (EndEditInPlace() || EndCancelledInsert()) return;
  if (posting_) {
    // setData posting the record it inserted or changed the rows with: the view is about to
    // close its cell editor, which a reset now would already have destroyed. The reset comes
    // once the edit has returned.
    resetPending_ = true;
    return;
  }
  const int before = int(rows_.size());
  Reset();
  ReadBackAfterReset(before);
}

void TDataSetModel::EditingChanged() {
  TDataSet* ds = DataSet();
  // The record an edit starts on; the end of the edit (Post or Cancel) comes as a change of
  // content right after the state went back to browse.
  if (ds && ds->State() == TDataSetState::dsEdit) editBookmark_ = ds->Bookmark();
}

bool TDataSetModel::EndEditInPlace() {
  TDataSet* ds = DataSet();
  if (editBookmark_.isEmpty() || insertRow_ >= 0 || ds->State() != TDataSetState::dsBrowse) return false;
  const TBookmark edited = editBookmark_;
  editBookmark_ = TBookmark();
  // The edit ended on the record it started on, and that record is a row read already.
  const int row = CurrentRow();
  const int i = CacheIndex(row);
  if (row < 0 || i < 0 || rows_[i].Bookmark != edited || ds->Bookmark() != edited) return false;
  rows_[i] = ReadCurrent();
  seenVersion_ = ds->ContentVersion();
  if (columnCount() > 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  CurrentMoved();
  return true;
}

bool TDataSetModel::EndCancelledInsert() {
  TDataSet* ds = DataSet();
  if (insertRow_ < 0 || ds->State() != TDataSetState::dsBrowse) return false;
  // A cancelled insert goes back to a record read already (or to none in an empty dataset); a
  // posted one stands on the new record, which no row holds yet.
  const TBookmark current = ds->Bookmark();
  const bool backOnARow = current.isEmpty() ? ds->IsEmpty() : rowOfBookmark_.contains(current);
  if (!backOnARow) return false;
  changing_ = true;
  beginRemoveRows(QModelIndex(), insertRow_, insertRow_);
  insertRow_ = -1;
  endRemoveRows();
  changing_ = false;
  seenVersion_ = ds->ContentVersion();
  CurrentMoved();
  return true;
}

void TDataSetModel::ReadBackAfterReset(int rowsBefore) {
  if (rowsBefore <= 0) return;
  const uint64_t reset = resets_;
  QMetaObject::invokeMethod(
      this,
      [this, reset, rowsBefore] {
        if (reset != resets_ || changing_) return;
        GuardedCall([&] {
          const int limit = rowsBefore + std::max(1, BatchSize);
          while (CurrentRow() < 0 && !allFetched_ && FetchedRows() < limit &&
                 FetchRows(std::min(std::max(1, BatchSize), limit - FetchedRows())) > 0) {
          }
        });
      },
      Qt::QueuedConnection);
}

void TDataSetModel::CurrentMoved() {
  const int row = CurrentRow();
  if (row == lastCurrent_) return;
  lastCurrent_ = row;
  if (OnCurrentRowChanged) OnCurrentRowChanged(row);
}

void TDataSetModel::RecordChanged(TField*) {
  TDataSet* ds = DataSet();
  if (fetching_ || !ds) return;
  const int row = CurrentRow();
  if (row < 0) return;
  // A record changed in browse state (a refresh of one record) updates its cached copy.
  if (!Editing()) {
    const int i = CacheIndex(row);
    if (i >= 0 && ds->Bookmark() == rows_[i].Bookmark) rows_[i] = ReadCurrent();
  }
  if (columnCount() > 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TDataSetModel::UpdateData() {
  TDataSet* ds = DataSet();
  if (!OnUpdateData || updating_ || fetching_ || !ds || ds->Scanning()) return;
  updating_ = true;
  struct Done {
    TDataSetModel* m;
    ~Done() { m->updating_ = false; }
  } done{this};
  OnUpdateData();
}

// --- fetching ------------------------------------------------------------------------------

TDataSetModel::Row TDataSetModel::ReadCurrent() const {
  TDataSet* ds = DataSet();
  Row r;
  r.Bookmark = ds->Bookmark();
  for (TField* f : columns_) {
    r.Values << f->Value();
    r.Texts << f->DisplayText();
  }
  return r;
}

int TDataSetModel::FetchRows(int count) {
  TDataSet* ds = DataSet();
  if (!ds || !link_.Active() || ds->State() != TDataSetState::dsBrowse || allFetched_ || count <= 0) return 0;
  std::vector<Row> batch;
  bool atEnd = false;
  fetching_ = true;
  ds->BeginScan();
  const TBookmark here = ds->Bookmark();
  auto restore = [&] {
    if (!here.isEmpty())
      ds->GotoBookmark(here);
    else
      ds->First();
  };
  try {
    if (rows_.empty()) {
      ds->First();
    } else {
      // The last row read is where reading goes on; a dataset that no longer shows it changed
      // without saying so, and the rows are read again from the start.
      bool stale = false;
      try {
        stale = !ds->BookmarkValid(rows_.back().Bookmark);
        if (!stale) ds->GotoBookmark(rows_.back().Bookmark);
      } catch (const Exception&) {
        stale = true;
      }
      if (stale) {
        restore();
        ds->EndScan();
        fetching_ = false;
        Reset();
        return FetchRows(count);
      }
      ds->Next();
    }
    while (!ds->Eof() && int(batch.size()) < count) {
      batch.push_back(ReadCurrent());
      ds->Next();
    }
    atEnd = ds->Eof();
    restore();
  } catch (...) {
    try {
      restore();
    } catch (...) {
    }
    ds->EndScan();
    fetching_ = false;
    throw;
  }
  ds->EndScan();
  fetching_ = false;
  allFetched_ = atEnd;
  if (!batch.empty()) {
    // Rows are read in browse state only, so no insert row stands among them.
    const int first = int(rows_.size());
    changing_ = true;
    beginInsertRows(QModelIndex(), first, first + int(batch.size()) - 1);
    for (Row& r : batch) {
      rowOfBookmark_.insert(r.Bookmark, int(rows_.size()));
      rows_.push_back(std::move(r));
    }
    endInsertRows();
    changing_ = false;
  }
  CurrentMoved();
  return int(batch.size());
}

void TDataSetModel::FetchAll() {
  while (!allFetched_ && FetchRows(std::max(1, BatchSize)) > 0) {
  }
}

bool TDataSetModel::canFetchMore(const QModelIndex& parent) const {
  if (parent.isValid() || allFetched_ || changing_) return false;
  TDataSet* ds = DataSet();
  // Reading rows moves the dataset, which would post an open edit.
  return ds && link_.Active() && ds->State() == TDataSetState::dsBrowse;
}

void TDataSetModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid() || changing_) return;
  GuardedCall([&] { FetchRows(std::max(1, BatchSize)); });
}

// --- rows and the current record -----------------------------------------------------------

int TDataSetModel::CacheIndex(int row) const {
  if (insertRow_ < 0 || row < insertRow_) return row;
  return row == insertRow_ ? -1 : row - 1;
}

int TDataSetModel::CurrentRow() const {
  TDataSet* ds = DataSet();
  if (!ds || !link_.Active()) return -1;
  if (insertRow_ >= 0) return insertRow_;
  const auto it = rowOfBookmark_.constFind(ds->Bookmark());
  return it == rowOfBookmark_.constEnd() ? -1 : it.value();
}

bool TDataSetModel::ShowsActiveRecord(int row) const {
  return row == insertRow_ || (Editing() && row == CurrentRow());
}

bool TDataSetModel::SetCurrentRow(int row) {
  TDataSet* ds = DataSet();
  if (!ds || row < 0 || row >= rowCount()) return false;
  if (row == CurrentRow()) return true;
  const int before = CacheIndex(row);
  const TBookmark target = before >= 0 ? rows_[before].Bookmark : TBookmark();
  ds->CheckBrowseMode();
  // The post above may have moved or reset the rows (a posted new row takes its place among
  // them): the record the row showed is found by its bookmark.
  if (target.isEmpty()) return false;
  bool valid = false;
  try {
    valid = ds->BookmarkValid(target);
  } catch (const Exception&) {
  }
  if (!valid) return false;
  ds->GotoBookmark(target);
  CurrentMoved();
  return true;
}

// --- the model interface -------------------------------------------------------------------

int TDataSetModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return int(rows_.size()) + (insertRow_ >= 0 ? 1 : 0);
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(columns_.size());
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columns_.size()) return {};
  TField* f = columns_[index.column()];
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(
        Qt::Alignment((IsNumeric(f->DataType()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  if (ShowsActiveRecord(index.row()))
    return role == Qt::DisplayRole ? QVariant(f->DisplayText()) : f->Value();
  const int i = CacheIndex(index.row());
  if (i < 0) return {};
  const Row& r = rows_[i];
  return role == Qt::DisplayRole ? QVariant(r.Texts.value(index.column())) : r.Values.value(index.column());
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columns_.size())
    return columns_[section]->DisplayName();
  return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags out = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
  TField* f = ColumnField(index.column());
  TDataSet* ds = DataSet();
  if (f && ds && !link_.ReadOnly && ds->CanModify() && !f->ReadOnly && f->FieldKind == TFieldKind::fkData)
    out |= Qt::ItemIsEditable;
  return out;
}

bool TDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable)) return false;
  TDataSet* ds = DataSet();
  TField* f = ColumnField(index.column());
  const int row = index.row();
  bool written = false;
  const bool ok = GuardedCall([&] {
    if (!ShowsActiveRecord(row)) {
      if (!SetCurrentRow(row)) return;
      ds->Edit();
    }
    f->SetValue(value);
    if (AutoPost) {
      posting_ = true;
      struct Done {
        TDataSetModel* m;
        ~Done() { m->posting_ = false; }
      } done{this};
      ds->Post();
    }
    written = true;
  });
  if (resetPending_) {
    resetPending_ = false;
    QMetaObject::invokeMethod(
        this,
        [this] {
          const int before = int(rows_.size());
          Reset();
          ReadBackAfterReset(before);
        },
        Qt::QueuedConnection);
  }
  return ok && written;
}
