// TQxStoredProc: the stored-procedure dataset.
#include "dataset/server/QxStoredProc.h"

#include "access/QorixExceptions.h"
#include "dataset/server/QxSqlLiterals.h"

TQxStoredProc::TQxStoredProc(TComponent* owner) : TQxCustomDataSet(owner) {
  kind_ = dkStoredProc;
  UseQorixCursor = false;
}

QString TQxStoredProc::CallText() const {
  return QString();
}

void TQxStoredProc::BuildCommandText() {
  commandText_ = CallText();
}

void TQxStoredProc::ReadProcResult(CS_COMMAND* command, CS_INT type) {
  TQxCustomDataSet::ReadProcResult(command, type);
}

void TQxStoredProc::GetProcParams() {}

void TQxStoredProc::ExecProc() {}
