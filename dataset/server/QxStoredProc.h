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

 protected:
  void BuildCommandText() override;
  void ReadProcResult(CS_COMMAND* command, CS_INT type) override;

 private:
  QString CallText() const;
  QString procName_;
  int returnStatus_ = 0;
};
