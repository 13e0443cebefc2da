// TQxQuery: the server dataset for free SQL text, with parameters written into the text as
// typed literals, a filter appended as WHERE, a master data source whose fields fill the
// parameters, and live updates of a single-table result (RequestLive).
#pragma once

#include "dataset/server/QxDataSet.h"

class TQxQuery : public TQxQueryDataSet {
 public:
  explicit TQxQuery(TComponent* owner = nullptr);
  ~TQxQuery() override;

  // A WHERE condition appended to the SQL text while Filtered is set.
  QString Filter;
  // The result is updated on the server as records are posted and deleted.
  bool RequestLive = false;
  void SetPrimeFields(const QStringList& fields) { PrimeFields = fields; }

  // The live decision: a plain select over one table is updatable.
  void PrepareLiveUpdate() override;
  bool IsLive() const { return live_; }
  QString UpdatableTable() const { return updateTable_; }
  QString PSGetTableName() const;
  QString PSGetKeyFields() const;
  // PSExecute runs ExecSQL; PSSetCommandText replaces the SQL text (an empty text changes
  // nothing); PSSetParams takes a non-empty list and closes the dataset.
  void PSExecute() { ExecSQL(); }
  TParams& PSGetParams() { return params_; }
  void PSSetCommandText(const QString& text) {
    if (!text.isEmpty()) SetSQL(text);
  }
  void PSSetParams(const TParams& params) {
    if (params.Count() == 0) return;
    params_.Assign(params);
    Close();
  }

 protected:
  void InternalOpen() override;
  void BuildCommandText() override;
  void SubstituteParamValues() override;
  bool LiveMode() const override { return live_; }
  QString TableReference() const override;
  QStringList KeyFieldNames() const override { return PrimeFields; }
  QString LiveFilter() const override { return Filter; }
  bool GetCanModify() const override;
  void DoOnNewRecord() override;

 private:
  void ParamsFromMaster();
  void MasterChanged();
  bool live_ = false;
  QString updateTable_;
  bool updatable_ = false;
};
