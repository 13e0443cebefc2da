// TQxStoredProc: the server dataset over one stored procedure called by name, with input and
// output parameters and the return status ("Result").
#pragma once

#include "dataset/server/QxDataSet.h"

class TQxStoredProc : public TQxCustomDataSet {
 public:
  explicit TQxStoredProc(TComponent* owner = nullptr);

  const QString& StoredProcName() const { return procName_; }
  // Refused while open; a new name with AutoGetParams and a connected connection reads the
  // procedure's parameters at once.
  void SetStoredProcName(const QString& name);
  bool AutoGetParams = true;
  // When not blank, opening (and ExecProc) sends this text as a language command instead of the
  // procedure call.
  QStringList SQL;
  QString SQLText() const { return SQL.join(QLatin1Char('\n')); }
  // Reads the procedure's parameters from the catalogue of the server family (names, types,
  // directions), ending the list with "Result".
  void GetProcParams();
  // Runs the procedure without a result set; output parameters and "Result" are filled. A
  // negative return status ends it in the silent abort (EAbort) after OnReturnStatus and
  // OnReturnParams have run, before AfterExec.
  void ExecProc();
  // How parameters are passed: by name ("@p = value") or by position.
  TParamBindMode ParamBindMode = pbByName;
  // The return status of the last run.
  int ReturnStatus() const { return returnStatus_; }
  // Fired when the return status (then "Result") and the output parameters have arrived.
  TNotifyEvent OnReturnStatus, OnReturnParams;

  // Provider operations: PSExecute runs ExecProc; PSSetCommandText names the procedure (an
  // empty text changes nothing); PSSetParams takes a non-empty list and closes the dataset.
  void PSExecute() { ExecProc(); }
  TParams& PSGetParams() { return params_; }
  QString PSGetTableName() const { return QString(); }
  void PSSetCommandText(const QString& text);
  void PSSetParams(const TParams& params);

 protected:
  // A procedure's rows have no table behind them and no live statements are sent for them:
  // they can be changed only in cached mode, where the changes wait in the log until an
  // update object applies them.
  bool GetCanModify() const override { return TQxCustomDataSet::GetCanModify() && CachedUpdates; }
  void BuildCommandText() override;
  void SendProcCall(CS_COMMAND* command) override { BindCall(command); }
  bool ObtainColumns() override;
  void ReadProcResult(CS_COMMAND* command, CS_INT type) override;

 private:
  QString CallText() const;
  // Sends the remote procedure call: every parameter but "Result" bound by name or position,
  // output and input-output ones as returned values.
  void BindCall(CS_COMMAND* command);
  // Reads a parameter result into the output parameters, each value in its own type.
  void ReadOutputParams(CS_COMMAND* command);
  QString procName_;
  int returnStatus_ = 0;
};
