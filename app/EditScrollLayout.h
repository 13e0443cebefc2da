// Where TQorixEditScrollBox puts the caption label and the editor of each field of a record,
// as plain data: the caption text, the editor kind, and the positions and sizes in pixels.
#pragma once

#include <QString>
#include <vector>

#include "access/FieldType.h"

class TFields;
class TField;

// The editor a field gets.
enum TRecordEditorKind { rekEdit, rekCheck, rekMemo, rekImage };

// One field's label and editor.
struct TRecordEditorSlot {
  QString FieldName;
  QString Caption;
  TRecordEditorKind Kind = rekEdit;
  int LabelLeft = 0;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// The layout rules of the scroll box.
class TEditScrollLayout {
 public:
  int StartTop = 10;
  int StartLeft = 150;
  int StartLabelLeft = 10;
  int Increment = 15;
  // The editor font's size in points (an edit box is (display width + 1) times this wide).
  int EditFontPointSize = 8;

  // The editors' heights by kind, as the class library makes them.
  static constexpr int kEditHeight = 21, kCheckHeight = 17, kMemoHeight = 89, kImageHeight = 105;
  static constexpr int kCheckWidth = 97, kMemoWidth = 185, kImageWidth = 105;

  // A field's display label turned into a caption: the first character and every character
  // after an underscore upper-cased (ASCII letters), each underscore a blank.
  static QString FieldCaption(const QString& text);
  // The editor kind of a field type: boolean a check box, binary large objects an image,
  // memos a memo, everything else an edit box.
  static TRecordEditorKind KindOf(TFieldType type);
  // The characters a field shows: its DisplayWidth, or by its type when that is 0.
  static int DisplayWidthOf(const TField& field);
  // The slots of every field, in field order, one below the other.
  std::vector<TRecordEditorSlot> Layout(const TFields& fields) const;
};
