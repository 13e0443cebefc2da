// The password-change form's OK handler ("sp_password" with the three trimmed texts) and the
// component that binds the form to its database and reports what was changed.

#include "access/QorixPwdChg.h"

#include "access/QorixDatabase.h"
#include "access/QorixEnhQuery.h"
#include "access/QorixExceptions.h"
#include "access/QorixResources.h"

namespace {

TPwdChgFormFunc& PwdChgForm() {
  static TPwdChgFormFunc show;
  return show;
}

}  // namespace

TPwdChgFormFunc SetPasswordChangeForm(TPwdChgFormFunc show) {
  TPwdChgFormFunc previous = std::move(PwdChgForm());
  PwdChgForm() = std::move(show);
  return previous;
}

TQorixPwdChgForm::TQorixPwdChgForm(TComponent* owner)
    : TComponent(owner), sproc_(std::make_unique<TQorixStoredProc>()) {
  TQorixStoredProc& p = *sproc_;
  // Set up as the form's stored description has it: the name and parameters are stored, so
  // nothing is read from the catalogue here.
  p.BeginLoading();
  p.SetName(QStringLiteral("sproc"));
  p.SetAutoGetParams(true);
  p.SetStoredProcName(QStringLiteral("sp_password"));
  p.AutoConnect = true;
  p.SetShowDbMessages(TShowDbMessages{smDbMsg, smDbErr});
  p.SetMsgDialogs(TMsgDialogs{});
  p.Params().CreateParam(ftString, QStringLiteral("caller_passwd"), ptInput);
  p.Params().CreateParam(ftString, QStringLiteral("new_passwd"), ptInput);
  p.Params().CreateParam(ftString, QStringLiteral("login_name"), ptInput);
  p.Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
  p.EndLoading();
}

TQorixPwdChgForm::~TQorixPwdChgForm() = default;

bool TQorixPwdChgForm::OKBtnClick() {
  const QString fresh = e_new_password.trimmed();
  if (fresh != e_conf_password.trimmed()) DatabaseError(LoadResString(QorixRes::SPasswordNotConfirmed));
  TParams& params = sproc_->Params();
  params[0].SetAsString(e_curr_password.trimmed());
  params[1].SetAsString(fresh);
  params[2].SetAsString(e_login_name.trimmed());
  sproc_->ExecProc();
  sent_ = fresh;
  return true;
}

TQxPwdChgDialog::TQxPwdChgDialog(TComponent* owner) : TQorixBase(owner) {}

bool TQxPwdChgDialog::Execute() {
  CheckDatabase();
  TQorixPwdChgForm form(this);
  TQorixStoredProc& p = form.sproc();
  p.SetDatabase(Database());
  p.DbName = DbName;
  p.Monitor = Monitor;
  p.SetMsgDialogs(MsgDialogs);
  p.SetShowDbMessages(ShowDbMessages);
  form.Caption = Title;
  const TPwdChgFormFunc& show = PwdChgForm();
  if (!show || !show(form)) return false;
  // The trimmed text is what the server now holds, so it is what a later login must send.
  newPassword_ = form.SentNewPassword();
  const QString login = form.e_login_name.trimmed();
  auto* db = dynamic_cast<TQorixDatabase*>(Database());
  ownLogin_ = login.isEmpty() || (db && login == db->UserName);
  return true;
}
