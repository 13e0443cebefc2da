// TDataSetNavigator: the operations of a data navigator (first, prior, next, last, insert,
// delete, edit, post, cancel, refresh) over a data source, with the class library's rules for
// which of them are enabled; a toolbar widget only shows the buttons and forwards clicks.
#pragma once

#include <QString>
#include <functional>

#include "dataset/DataSource.h"

// The navigator's buttons, in the class library's order.
enum class TNavigateBtn {
  nbFirst,
  nbPrior,
  nbNext,
  nbLast,
  nbInsert,
  nbDelete,
  nbEdit,
  nbPost,
  nbCancel,
  nbRefresh
};
// Number of navigator buttons.
inline constexpr int kNavigateBtnCount = 10;

// The question asked before a delete when ConfirmDelete is set.
inline const QString kDeleteRecordQuestion = QStringLiteral("Delete record?");

// The navigator's operations and their enabled state.
class TDataSetNavigator {
 public:
  // A navigator without a data source: every button disabled.
  TDataSetNavigator();
  // Leaves the data source.
  ~TDataSetNavigator();
  TDataSetNavigator(const TDataSetNavigator&) = delete;
  TDataSetNavigator& operator=(const TDataSetNavigator&) = delete;

  // The data source whose dataset the buttons work on.
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  // The navigator as a whole is enabled (a disabled one enables no button).
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Asks OnConfirm before a delete.
  bool ConfirmDelete = true;
  // Answers the delete question (true goes ahead); without a handler the delete goes ahead.
  std::function<bool(const QString& question)> OnConfirm;
  // Runs before a button's operation; raising (EAbort for silence) stops it.
  std::function<void(TNavigateBtn button)> BeforeAction;
  // Runs after a button's operation.
  std::function<void(TNavigateBtn button)> OnClick;
  // Some button's enabled state may have changed.
  std::function<void()> OnStateChanged;

  // Whether a button can be used now.
  bool ButtonEnabled(TNavigateBtn button) const;
  // Runs a button's operation on the dataset (errors propagate; a disabled button does nothing).
  void BtnClick(TNavigateBtn button);

 private:
  // The link through which the navigator follows its dataset.
  class Link : public TDataLink {
   public:
    explicit Link(TDataSetNavigator* nav) : nav_(nav) {}

   protected:
    void ActiveChanged() override { nav_->Changed(); }
    void EditingChanged() override { nav_->Changed(); }
    void DataSetChanged() override { nav_->Changed(); }
    void DataSetScrolled(int) override { nav_->Changed(); }

   private:
    TDataSetNavigator* nav_;
  };
  void Changed();
  // The enabled buttons as bits, for change detection.
  unsigned EnabledMask() const;

  Link link_;
  bool enabled_ = true;
  unsigned lastMask_ = 0;
};
