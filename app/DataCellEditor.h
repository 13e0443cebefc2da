// How a cell of the Data page's grid is edited: every value as text in a line edit, the text
// showing the whole value (a float's every digit, a date-time's milliseconds, bytes as hex), so
// that a cell opened and closed again without typing writes nothing and a typed value reaches
// the field exactly as typed.
#pragma once

#include <QPointer>
#include <QString>
#include <QStyledItemDelegate>
#include <QVariant>

class TField;

// The text a cell's editor starts with for Value (the cell's edit value) of field F: empty for
// a null value.
QString CellEditText(const TField& f, const QVariant& value);
// The value Text stands for in field F: a null value for an empty text (an empty string for a
// string field), the bytes of a hex text for a byte field (an optional 0x prefix), a date and
// time written as "yyyy-MM-dd HH:mm:ss.zzz" (seconds and milliseconds optional), and the text
// itself for the field to read otherwise. Raises when a byte field's text is no hex.
QVariant CellValueOfText(const TField& f, const QString& text);

// The grid's delegate: a line edit for every cell, written back only when its text changed.
class TDataCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
  // Writes the cell editor still open (if any) into the model and closes it: what the user
  // typed reaches the record before it is posted or left.
  void CommitOpenEditor();

 private:
  // The editor open now, until its value was written.
  mutable QPointer<QWidget> open_;
};
