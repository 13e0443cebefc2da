// What the property page and the summary page share: a database-bound list model with the
// database whose catalogue it reads (SelectDb), the arguments of the last fill (ShownKind,
// ShownObject and the database they were read from), the control's width its column widths
// are worked out from, and a click hook. QxListPageView shows it.
#pragma once

#include <QString>

#include "catalog/views/QxListContents.h"
#include "catalog/views/QxObjectKind.h"
#include "catalog/views/QxViewComponent.h"

// A catalogue page as a plain model.
class TQxListPage : public TQxViewComponent {
 public:
  explicit TQxListPage(TComponent* owner = nullptr) : TQxViewComponent(owner) {}

  // The database whose catalogue is read; blank takes the connection's DbName at the next fill.
  const QString& SelectDb() const { return selectDb_; }
  void SetSelectDb(const QString& value) { selectDb_ = value; }
  // Sets SelectDb to the connection's DbName when it is blank.
  void EnsureSelectDb();

  // The arguments of the last fill, stored at its start, and the database it read.
  TQxObjectKind ShownKind = okNone;
  QString ShownObject;
  QString ShownDb;
  // True when the page already shows object Name of kind Kind from database Db (the same
  // name in another database, or of another kind, is another object).
  bool IsShown(const QString& db, TQxObjectKind kind, const QString& name) const;

  // The control's width; column widths are worked out from it.
  int Width = 400;
  // Lines between the cells; the row under the mouse highlighted (the widget reads both).
  bool GridLines = false;
  bool HotTrack = false;
  // The control was resized to NewWidth: the page lays its columns out again.
  virtual void Resize(int newWidth) = 0;
  // A row was clicked (Contents().Selected is that row); fires OnClick.
  virtual void Click();
  TNotifyEvent OnClick;

  // The columns and rows shown.
  TQxListContents& Contents() { return contents_; }
  const TQxListContents& Contents() const { return contents_; }

 protected:
  // The last fill's arguments, SelectDb settled first.
  void StoreShown(TQxObjectKind kind, const QString& name);

 private:
  QString selectDb_;
  TQxListContents contents_;
};
