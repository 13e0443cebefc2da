// TDBNavigatorWidget: the toolbar of a data navigator. It only shows one button per
// TDataSetNavigator operation, keeps their enabled state and runs clicks through the guard
// that keeps exceptions out of the Qt event loop. Built into its own library (widgets).
#pragma once

#include <QToolButton>
#include <QWidget>
#include <array>

#include "dataset/DataSetNavigator.h"

// The navigator toolbar.
class TDBNavigatorWidget : public QWidget {
 public:
  // The ten buttons, a delete confirmation box and guarded clicks.
  explicit TDBNavigatorWidget(QWidget* parent = nullptr);
  // Leaves the data source before the buttons go.
  ~TDBNavigatorWidget() override;

  // The operations behind the buttons (data source, ConfirmDelete, BeforeAction, ...).
  TDataSetNavigator& Navigator() { return navigator_; }
  // The button of an operation.
  QToolButton* Button(TNavigateBtn button) const { return buttons_[size_t(button)]; }
  // Shows or hides one button.
  void SetButtonVisible(TNavigateBtn button, bool visible);

 private:
  void UpdateButtons();
  void changeEvent(QEvent* event) override;

  TDataSetNavigator navigator_;
  std::array<QToolButton*, kNavigateBtnCount> buttons_{};
};
