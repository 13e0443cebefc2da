// TQxStoredProc: the server dataset over one stored procedure called by name, with input and
// output parameters and the return status ("Result").
#pragma once

#include "dataset/server/QxDataSet.h"

class TQxStoredProc : public TQxCustomDataSet {
 public:
  explicit TQxStoredProc(TComponent* owner = nullptr);

  const QString& StoredProcName() const { return procName_; }
  void SetStoredProcName(const QString& name) { procName_ = name.trimmed(); }
  // Reads the procedure's parameters from the catalogue of the server family (names, types,
  // directions), ending the list with "Result".
  void GetProcParams();
  // Runs the procedure without a result set; output parameters and "Result" are filled.
  void ExecProc();
  // How parameters are passed: by name ("@p = value") or by position.
  TParamBindMode ParamBindMode = pbByName;
  // The return status of the last run.
  int ReturnStatus() const { return returnStatus_; }
  // Fired when the return status (then "Result") and the output parameters have arrived.
  TNotifyEvent OnReturnStatus, OnReturnParams;

 protected:
  void BuildCommandText() override;
  void SendProcCall(CS_COMMAND* command) override { BindCall(command); }
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
