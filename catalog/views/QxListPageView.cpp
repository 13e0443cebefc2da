// The catalogue page widget.

#include "catalog/views/QxListPageView.h"

TQxListPageView::TQxListPageView(TQxListPage* page, QWidget* parent)
    : TQxListWidget(&page->Contents(), parent), page_(page) {
  setAllColumnsShowFocus(true);
  SetGridLines(page_->GridLines);
  SetHotTrack(page_->HotTrack);
  OnRowClick = [this] { page_->Click(); };
  OnResized = [this](int width) { page_->Resize(width); };
}
