// The scroll box's layout rules (see EditScrollLayout.h).
#include "app/EditScrollLayout.h"

#include "app/AppText.h"
#include "dataset/Field.h"

QString TEditScrollLayout::FieldCaption(const QString& text) { return apptext::FieldCaption(text); }

TRecordEditorKind TEditScrollLayout::KindOf(TFieldType type) {
  switch (type) {
    case ftBoolean: return rekCheck;
    case ftBlob: case ftGraphic: case ftTypedBinary: case ftParadoxOle: case ftDBaseOle: case ftOraBlob:
      return rekImage;
    case ftMemo: case ftFmtMemo: case ftOraClob: return rekMemo;
    default: return rekEdit;
  }
}

int TEditScrollLayout::DisplayWidthOf(const TField& field) {
  if (field.DisplayWidth > 0) return field.DisplayWidth;
  switch (field.DataType()) {
    case ftString: case ftFixedChar: case ftWideString: return field.Size() > 0 ? field.Size() : 20;
    case ftSmallint: case ftWord: return 6;
    case ftInteger: case ftAutoInc: return 11;
    case ftLargeint: return 20;
    case ftFloat: case ftCurrency: case ftBCD: return 15;
    case ftDate: case ftTime: return 10;
    case ftDateTime: return 19;
    case ftBytes: case ftVarBytes: return field.Size() > 0 ? 2 * field.Size() : 20;
    default: return 20;
  }
}

std::vector<TRecordEditorSlot> TEditScrollLayout::Layout(const TFields& fields) const {
  std::vector<TRecordEditorSlot> out;
  int top = StartTop;
  for (int i = 0; i < fields.Count(); ++i) {
    const TField& f = *fields.Fields(i);
    TRecordEditorSlot s;
    s.FieldName = f.FieldName;
    s.Caption = FieldCaption(f.DisplayName());
    s.Kind = KindOf(f.DataType());
    s.LabelLeft = StartLabelLeft;
    s.Left = StartLeft;
    s.Top = top;
    switch (s.Kind) {
      case rekEdit:
        s.Height = kEditHeight;
        s.Width = (DisplayWidthOf(f) + 1) * EditFontPointSize;
        break;
      case rekCheck: s.Height = kCheckHeight, s.Width = kCheckWidth; break;
      case rekMemo: s.Height = kMemoHeight, s.Width = kMemoWidth; break;
      case rekImage: s.Height = kImageHeight, s.Width = kImageWidth; break;
    }
    top += s.Height + Increment;
    out.push_back(s);
  }
  return out;
}
