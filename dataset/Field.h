// Fields and field definitions of the dataset abstraction: TFieldDef/TFieldDefs describe the
// stored columns, TField and its classes (one per field type, in the class library's order)
// read and write one value of the active record through the dataset's GetFieldData/SetFieldData.
#pragma once

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "dataset/DataSetTypes.h"

class TDataSet;
class TFieldDefs;

// The description of one stored column.
class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, QString name, TFieldType type, int size, bool required);
  QString Name;           // column name
  TFieldType DataType;    // column type
  int Size = 0;           // characters of a string, bytes of var-bytes; 0 otherwise
  int Precision = 0;      // digits of a BCD column
  bool Required = false;  // a value must be given
  // 1-based position among the definitions.
  int FieldNo() const;

 private:
  TFieldDefs* owner_;
};

// The ordered list of a dataset's field definitions.
class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset) : dataset_(dataset) {}
  // Appends a definition.
  TFieldDef* Add(const QString& name, TFieldType type, int size = 0, bool required = false);
  // Appends an unnamed ftUnknown definition for the caller to fill.
  TFieldDef* AddFieldDef();
  void Clear() { defs_.clear(); }
  int Count() const { return int(defs_.size()); }
  TFieldDef* Items(int index) const { return defs_.at(index).get(); }
  // Case-insensitive search; -1 when absent.
  int IndexOf(const QString& name) const;
  // The definition named so, or nullptr.
  TFieldDef* Find(const QString& name) const;
  // Replaces the definitions by copies of other's.
  void Assign(const TFieldDefs& other);
  // Asks the dataset to describe its columns again (nothing for memory datasets).
  void Update();
  TDataSet* DataSet() const { return dataset_; }

 private:
  friend class TFieldDef;
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TFieldDef>> defs_;
};

// One column of the active record.
class TField {
 public:
  TField(TFieldType type, int size);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  QString FieldName;                          // name the field is found by
  QString DisplayLabel;                       // column caption; FieldName when empty
  TFieldKind FieldKind = TFieldKind::fkData;  // where the value comes from
  bool Required = false;                      // a value must be given
  bool ReadOnly = false;                      // values may not be written
  bool Visible = true;                        // shown by grids
  int DisplayWidth = 0;                       // characters a grid gives the column; 0 = by type
  // Lookup fields: the dataset searched, its key fields, this dataset's key fields and the result.
  TDataSet* LookupDataSet = nullptr;
  QString LookupKeyFields;
  QString KeyFields;
  QString LookupResultField;
  std::function<void(TField&)> OnChange;    // after the value changed
  std::function<void(TField&)> OnValidate;  // before a value is written (raise to refuse)

  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  TDataSet* DataSet() const { return dataset_; }
  // 1-based definition number of a data field, 0 for other kinds.
  int FieldNo() const { return fieldNo_; }
  // Byte offset of a calculated or lookup field in the calculated-field area.
  int Offset() const { return offset_; }
  // Position in the dataset's field list.
  int Index() const;
  // Bytes of the value in its native form.
  virtual int DataSize() const;
  // DisplayLabel, or FieldName when that is empty.
  QString DisplayName() const { return DisplayLabel.isEmpty() ? FieldName : DisplayLabel; }
  // A calculated or lookup field.
  bool Calculated() const {
    return FieldKind == TFieldKind::fkCalculated || FieldKind == TFieldKind::fkLookup;
  }
  // Blob-like: its value lives outside the record and is read through a blob stream.
  virtual bool IsBlob() const { return false; }
  // True for a class that keeps its own type over its definition's (an exact number held as
  // text in a text slot).
  virtual bool KeepsOwnType() const { return false; }

  // Reads the native value into buffer (nullptr: only asks whether there is one).
  bool GetData(void* buffer) const;
  // Writes the native value (nullptr: makes the field null); checks ReadOnly, runs OnValidate.
  void SetData(const void* buffer);
  // True when the active record holds no value.
  virtual bool IsNull() const;
  // Makes the field null.
  virtual void Clear();

  // The value as a variant; an invalid QVariant is Null.
  virtual QVariant Value() const = 0;
  // Writes a variant (an invalid or null one clears the field).
  virtual void SetValue(const QVariant& value) = 0;
  virtual QString AsString() const;
  virtual void SetAsString(const QString& value);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t value) { SetValue(value); }
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value) { SetValue(value); }
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value) { SetValue(value); }
  virtual QDateTime AsDateTime() const;
  virtual void SetAsDateTime(const QDateTime& value) { SetValue(value); }
  // The text a grid shows (AsString unless a class formats it).
  virtual QString DisplayText() const { return AsString(); }
  // Runs OnChange.
  void Change();

 protected:
  [[noreturn]] void RaiseConvertError(const QString& text, const QString& what) const;
  // Reads the native value into an 8-byte-aligned scratch buffer of DataSize bytes.
  bool ReadNative(void* buffer) const { return GetData(buffer); }

 private:
  friend class TDataSet;
  friend class TFields;
  TFieldType dataType_;
  int size_;
  TDataSet* dataset_ = nullptr;
  int fieldNo_ = 0;
  int offset_ = 0;
};

// String fields (ftString, ftFixedChar, ftWideString): UTF-8 text of at most Size bytes.
class TStringField : public TField {
 public:
  explicit TStringField(int size = 20, TFieldType type = ftString) : TField(type, size) {}
  int DataSize() const override { return Size() + 1; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;
};

// Integer fields of 2 or 4 bytes (ftSmallint, ftWord, ftInteger, ftAutoInc).
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TFieldType type = ftInteger) : TField(type, 0) {}
  int DataSize() const override;
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
};
// ftSmallint.
class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
};
// ftWord.
class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
};
// ftAutoInc.
class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
};

// ftLargeint: 8-byte integer.
class TLargeintField : public TField {
 public:
  TLargeintField() : TField(ftLargeint, 0) {}
  int DataSize() const override { return 8; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
};

// ftBoolean: a 2-byte flag (0 false, -1 true).
class TBooleanField : public TField {
 public:
  TBooleanField() : TField(ftBoolean, 0) {}
  int DataSize() const override { return 2; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
};

// Floating fields (ftFloat, ftCurrency, ftBCD): an 8-byte double.
class TFloatField : public TField {
 public:
  explicit TFloatField(TFieldType type = ftFloat) : TField(type, 0) {}
  int DataSize() const override { return 8; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
};
// ftCurrency.
class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) {}
};
// ftBCD (held as a double).
class TBCDField : public TFloatField {
 public:
  TBCDField() : TFloatField(ftBCD) {}
};

// An exact number (a numeric, decimal, money or smallmoney column) held as its decimal text in
// a text slot of Size bytes, so that the value read from the server goes back to it digit for
// digit: a double cannot hold 19.99 or a 19-digit money value. Its type is the one its column
// reads as (ftFloat, ftCurrency or ftBCD); Value() is the canonical text ("-12.5", "0"): no
// '+', no leading zeros, no trailing fractional zeros. A double written to it becomes its
// shortest text that reads back as the same double.
class TExactNumberField : public TStringField {
 public:
  TExactNumberField(TFieldType type, int size) : TStringField(size, type) {}
  bool KeepsOwnType() const override { return true; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  void SetAsString(const QString& value) override;
  int32_t AsInteger() const override;
};

// The canonical decimal text of Text (digits with an optional sign, point and exponent; blanks
// around are ignored), or a null string when it is no number.
QString CanonicalDecimal(const QString& text);
// The canonical decimal text of a double: the shortest that reads back as the same double.
QString DecimalOfDouble(double value);

// Date and time fields (ftDate, ftTime, ftDateTime). Native forms: ftDate an int32 of days where
// 1 January 0001 is day 1, ftTime an int32 of milliseconds since midnight, ftDateTime a double of
// milliseconds since the start of day 0 (the class library's time-stamp forms).
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TFieldType type = ftDateTime) : TField(type, 0) {}
  // Eight bytes for all three, so every native form fits the memory datasets' 8-byte slots.
  int DataSize() const override { return 8; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
};
// ftDate.
class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
};
// ftTime.
class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
};

// ftBytes: fixed-length bytes held in the record.
class TBytesField : public TField {
 public:
  explicit TBytesField(int size = 16, TFieldType type = ftBytes) : TField(type, size) {}
  int DataSize() const override { return Size(); }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
};

// Blob-like fields (ftVarBytes, ftBlob, ftMemo, ftGraphic, ftFmtMemo and the others from ftBlob to
// ftCursor): the value is read and written through the dataset's blob stream.
class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType type = ftBlob, int size = 0) : TField(type, size) {}
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;
  // Bytes as hex (the first 256 bytes, then "..."), never as text (a nested dataset's or
  // character large object's value as its text).
  QString DisplayText() const override;
  // The whole value's bytes (empty for a null value).
  QByteArray AsBytes() const;
  // Replaces the whole value (empty bytes make the field null).
  void SetAsBytes(const QByteArray& bytes);
  // The value's length in bytes.
  int64_t BlobSize() const;
};
// ftVarBytes: variable bytes, kept in the blob list by every dataset of this suite.
class TVarBytesField : public TBlobField {
 public:
  explicit TVarBytesField(int size = 16) : TBlobField(ftVarBytes, size) {}
  QString AsString() const override;
};
// ftMemo (and ftFmtMemo): UTF-8 text.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TFieldType type = ftMemo) : TBlobField(type, 0) {}
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
  QString DisplayText() const override { return AsString(); }
};
// ftGraphic.
class TGraphicField : public TBlobField {
 public:
  TGraphicField() : TBlobField(ftGraphic, 0) {}
};

// ftGuid: the 38-character braced text form.
class TGuidField : public TStringField {
 public:
  TGuidField() : TStringField(38, ftGuid) {}
};

// ftDataSet: the field of a parent record that holds a nested dataset's content.
class TDataSetField : public TBlobField {
 public:
  TDataSetField();
  // Tells the bound nested dataset that its field is gone.
  ~TDataSetField() override;
  // The nested dataset bound to this field, if any.
  TDataSet* NestedDataSet() const { return nested_; }
  void SetNestedDataSet(TDataSet* dataset) { nested_ = dataset; }
  // The bound nested dataset; without one, a dataset of the parent's NestedDataSetClass is
  // made, bound to this field and owned by it (nullptr when the parent names no class).
  TDataSet* EnsureNestedDataSet();

 private:
  TDataSet* nested_ = nullptr;
  // The nested dataset this field made (cleared should someone destroy it first).
  QPointer<TDataSet> owned_;
};

// fkAggregate: declared aggregates; no value is ever computed, so the value is always Null.
class TAggregateField : public TField {
 public:
  TAggregateField() : TField(ftUnknown, 0) { FieldKind = TFieldKind::fkAggregate; }
  QString Expression;     // aggregate expression text
  int GroupingLevel = 0;  // index level the aggregate groups by
  QString IndexName;      // index it groups along
  bool Active = false;    // maintained while the dataset is open
  int DataSize() const override { return 0; }
  bool IsNull() const override { return true; }
  QVariant Value() const override { return {}; }
  void SetValue(const QVariant&) override {}
};

// Creates the field class for a field type (nullptr for a type without a field class).
std::unique_ptr<TField> CreateFieldForType(TFieldType type, int size);

// The dataset's fields in order; owns them.
class TFields {
 public:
  explicit TFields(TDataSet* dataset) : dataset_(dataset) {}
  // Takes ownership of field and appends it ("Duplicate field name" when the name is taken).
  TField* Add(std::unique_ptr<TField> field);
  // Removes and destroys a field.
  void Remove(TField* field);
  void Clear();
  int Count() const { return int(fields_.size()); }
  TField* Fields(int index) const { return fields_.at(index).get(); }
  // Case-insensitive; nullptr when absent.
  TField* FindField(const QString& name) const;
  // Case-insensitive; raises "Field 'x' not found" with the dataset's name.
  TField* FieldByName(const QString& name) const;
  int IndexOf(const TField* field) const;
  // The field with this definition number, or nullptr.
  TField* FieldByNumber(int fieldNo) const;

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TField>> fields_;
};

// Splits a ";"-separated field-name list as the class library's ExtractFieldName does.
QStringList SplitFieldNames(const QString& names);
