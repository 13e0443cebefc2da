// TQorixCustomListView: a report-style list that runs a SQL text of its own on a connection
// through a private read-only cursor engine and shows the result, the first column as each
// item's caption and the others as its sub-items. Plain model; QxListWidget shows it.
#pragma once

#include <QString>

#include "catalog/views/QxListContents.h"
#include "catalog/views/QxViewComponent.h"

// The SQL list view.
class TQorixCustomListView : public TQxViewComponent {
 public:
  // UseExecCursor on, ExecCursor crSQLWait, ShowDbMessages [smDbMsg, smDbErr], column mode 0.
  explicit TQorixCustomListView(TComponent* owner = nullptr);

  // Fired before the query is opened (after the columns of the description are laid out).
  TNotifyEvent BeforeExec;
  // Fired after a completed Execute.
  TNotifyEvent AfterExec;
  // Set by Execute: whether the result had rows.
  bool RowsReturned = false;
  // The font size column widths are measured in (a width of N characters is N * FontSize): the
  // point size of the application's font, 8 without a GUI application.
  int FontSize = 8;

  // The columns and items shown.
  TQxListContents& Contents() { return contents_; }
  const TQxListContents& Contents() const { return contents_; }

  // The SQL text run by Execute.
  const QString& SQLText() const { return sql_; }
  // Empties the SQL text.
  virtual void ClearSQL() { sql_.clear(); }
  // Appends S to the SQL text with nothing in between.
  virtual void AddSQL(const QString& s) { sql_ += s; }
  // Runs the SQL text and rebuilds the columns and items from its result; false when the
  // connection could not be opened (nothing changes then) or the command was not sent.
  virtual bool Execute();

 protected:
  // 0: columns from the result description; 2: columns laid out by BeforeExec.
  int columnMode_ = 0;

 private:
  QString sql_;
  TQxListContents contents_;
};
