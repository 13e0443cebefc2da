// TQorixCustomListView: the run of its SQL text and the fill of the list.

#include "catalog/views/QorixListView.h"

#include <QFont>
#include <QGuiApplication>
#include <memory>

TQorixCustomListView::TQorixCustomListView(TComponent* owner) : TQxViewComponent(owner) {
  // A list is shown in the application's font: its point size is the font size the widths are
  // measured in, as a list view's own font size is (8 without a GUI application).
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && QGuiApplication::font().pointSize() > 0)
    FontSize = QGuiApplication::font().pointSize();
}

bool TQorixCustomListView::Execute() {
  CheckDatabase();
  TQorixDatabaseBase* db = Database();
  if (!db) return false;
  if (!db->IsConnected()) db->DoConnect();
  if (!db->IsConnected()) return false;

  int result = 0;
  {
    TQxListUpdate update(contents_);
    contents_.ClearItems();
    contents_.ClearColumns();
    // The engine lives for this call only and never outlives an exception.
    auto query = std::make_unique<TQorixEnhQuery>();
    HandOn(*query);
    query->IsCursor = true;
    query->ReadOnly = true;
    query->Monitor = Monitor;
    query->TrimResults = false;
    query->SetSQL(sql_);
    TCursorGuard cursor(ExecCursor, UseExecCursor);

    if (columnMode_ < 2) {
      query->DescribeColumns();
      for (int i = 1; i <= query->ColumnCount(); ++i)
        contents_.AddColumn(query->GetFieldName(i), query->GetFieldNameLength(i) * FontSize);
    }
    if (BeforeExec) BeforeExec(this);
    result = query->Open();
    // One cursor at a time on the connection: the rows are read to the end before anything
    // else is sent, and nothing else runs in between (no event processing inside the read).
    bool anyRow = false;
    while (query->Next()) {
      anyRow = true;
      TQxListItem& item = contents_.AddItem(query->GetFieldValue(1));
      for (int i = 1; i <= query->ColumnCount(); ++i) {
        const QString value = query->GetFieldValue(i);
        // A result may have more columns than the list: those widen nothing.
        if (i <= contents_.ColumnCount() && value.length() > query->GetFieldName(i).length())
          contents_.Columns()[static_cast<size_t>(i - 1)].Width = static_cast<int>(value.length()) * FontSize;
        if (i >= 2) item.SubItems << value;
      }
    }
    // The engine forgets its row flag once the cursor has run out; a row read counts too.
    RowsReturned = query->GetHasRows() || anyRow;
    query->Cancel(CS_CANCEL_ALL);
  }
  if (AfterExec) AfterExec(this);
  return result != 0;
}
