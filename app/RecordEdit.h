// TQorixEditScrollBox: a scroll box that lays out, for each field of its data source's
// dataset, a caption label and a data-aware editor below each other, so one record is edited
// as a form; and TRecordEditForm, the "Edit Record" window around it with a navigator.
#pragma once

#include <QDialog>
#include <QFont>
#include <QScrollArea>
#include <memory>
#include <vector>

#include "app/EditScrollLayout.h"

class TDataSource;
class TFieldDataLink;
class TDBNavigatorWidget;

class TQorixEditScrollBox : public QScrollArea {
 public:
  explicit TQorixEditScrollBox(QWidget* parent = nullptr);
  ~TQorixEditScrollBox() override;

  QString About;
  TDataSource* DataSource = nullptr;
  int StartTop = 10;
  int StartLeft = 150;
  int StartLabelLeft = 10;
  int Increment = 15;
  const QFont& LabelFont() const { return labelFont_; }
  const QFont& EditFont() const { return editFont_; }
  // The fonts are copied, never shared.
  void SetLabelFont(const QFont& f) { labelFont_ = f; }
  void SetEditFont(const QFont& f) { editFont_ = f; }

  // (Re)creates a label and an editor per field; nothing without a data source.
  void BuildEditors();
  // Frees every generated label and editor, the last one first.
  void ClearEditors();
  bool Built() const { return built_; }
  // The generated controls: label and editor per field, in field order.
  struct TPair {
    QWidget* Label = nullptr;
    QWidget* Editor = nullptr;
    TRecordEditorKind Kind = rekEdit;
  };
  const std::vector<TPair>& Pairs() const { return pairs_; }

 private:
  void AddEditor(const TRecordEditorSlot& slot);
  QWidget* panel_ = nullptr;
  QFont labelFont_, editFont_;
  bool built_ = false;
  std::vector<TPair> pairs_;
  std::vector<std::unique_ptr<TFieldDataLink>> links_;
};

// "Edit Record": close button, navigator and the scroll box on one data source.
class TRecordEditForm : public QDialog {
 public:
  explicit TRecordEditForm(TDataSource* source, QWidget* parent = nullptr);
  ~TRecordEditForm() override;
  TQorixEditScrollBox* esb_data() const { return box_; }
  TDBNavigatorWidget* nav() const { return nav_; }
  // The window's activation: the editors are built anew.
  void FormActivate();
  // The close button: the editors go, then the window closes.
  void CloseClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  TQorixEditScrollBox* box_ = nullptr;
  TDBNavigatorWidget* nav_ = nullptr;
};
