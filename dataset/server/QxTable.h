// TQxTable: one server table as an editable dataset. It learns the table's columns and
// indexes, builds its SELECT from them, the master link, the filter, the select options and
// the chosen index, and sends each posted change and delete to the server at once (unless
// CachedUpdates is set), checking that exactly one server row is concerned.
#pragma once

#include "dataset/server/QxDataSet.h"

enum TSortDirection { sdASC, sdDESC };

class TQxTable : public TQxUpdateDataSet {
 public:
  explicit TQxTable(TComponent* owner = nullptr);

  const QString& TableName() const { return tableName_; }
  void SetTableName(const QString& name) { tableName_ = name.trimmed(); }
  const QString& IndexName() const { return indexName_; }
  void SetIndexName(const QString& name);
  bool DefaultIndex = true;
  // A server condition on the rows (used while Filtered is set). With ParamCheck its
  // ":name" markers become Params (same-named values kept); their values reach the SELECT
  // as literals.
  const QString& Filter() const { return filter_; }
  void SetFilter(const QString& text);
  TQxSelectOptions SelectOptions;
  TSortDirection SortDirection = sdASC;

  // The SELECT the table opens with (after the probe).
  QString BuildSelectSQL(bool withMaster);
  QString BuildMasterWhere();
  // Reads the table's indexes into IndexDefs.
  void GetIndexInfo();
  // True when the table is a user table of the connection's database.
  bool IsUserTable();
  // The key fields of the current index.
  QStringList KeyFields() const { return keyFields_; }
  QString SelectDatabase() const { return selectDb_; }

  // FieldDefs and IndexDefs are to be kept with the dataset's stored description; set whenever
  // the definitions change (DefChanged).
  bool StoreDefs = false;
  void DefChanged() { StoreDefs = true; }
  // With an active master and MasterFields: the master's fields named there, and the detail
  // fields of the index given by IndexFieldNames, else IndexName, else the first primary index.
  void GetDetailLinkFields(QList<TField*>& masterFields, QList<TField*>& detailFields);

  // Provider operations.
  QString PSGetTableName() const { return tableName_; }
  // The fields of the first unique index whose fields all exist here (PrimeFields first when
  // given); empty when there is none.
  QString PSGetKeyFields();
  // The index definitions that have every option of Types.
  QList<TIndexDef*> PSGetIndexDefs(TIndexOptions types);
  // A non-empty text becomes TableName; a non-empty list becomes Params and the dataset closes.
  void PSSetCommandText(const QString& text) {
    if (!text.trimmed().isEmpty()) SetTableName(text);
  }
  void PSSetParams(const TParams& params) {
    if (params.Count() == 0) return;
    params_.Assign(params);
    Close();
  }

 protected:
  void InternalOpen() override;
  bool LiveMode() const override { return true; }
  QString TableReference() const override;
  QStringList KeyFieldNames() const override;
  QString LiveFilter() const override;
  void DoOnNewRecord() override;
  void PrepareFieldDefsText() override;

 private:
  void MasterChanged();
  void MasterDisabled();
  // The command text with its markers replaced: master fields for the master condition,
  // Params for the filter's markers.
  void SubstituteMarkers();
  // The qualifier and database of the table name, and the check for a blank name.
  void ResolveTableName();
  QString filter_;
  QString tableName_;
  QString indexName_;
  QString selectDb_;
  QString qualifier_ = QStringLiteral("..");
  QStringList keyFields_;
  bool masterActive_ = false;
};
