// The thin widget of a catalogue page (property or summary page): a list widget over the
// page's contents that hands its width to the page on every resize and its row clicks to the
// page's Click.
#pragma once

#include "catalog/views/QxListPage.h"
#include "catalog/views/QxListWidget.h"

// Shows one catalogue page.
class TQxListPageView : public TQxListWidget {
 public:
  // Shows Page (which must outlive the widget).
  explicit TQxListPageView(TQxListPage* page, QWidget* parent = nullptr);
  TQxListPage* Page() const { return page_; }

 private:
  TQxListPage* page_;
};
