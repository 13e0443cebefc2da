// ProcessDiagMessages and its helpers: message filtering, the error and message texts, the
// per-component dispatch and the three endings of an error (return, silent abort, database
// error).

#include "access/QorixErrorHandling.h"

#include <cstring>

#include "access/QorixExceptions.h"
#include "access/UiServices.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// A record's text up to its first NUL, never past the end of its array.
template <size_t N>
QString Fixed(const CS_CHAR (&text)[N]) {
  return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, N)));
}

bool NeverReported(int number) {
  return number == 2401 || number == 2409 || number == 5701;
}

// One call of the routine: its parameters and the working state the steps share.
class DiagRun {
 public:
  DiagRun(CS_CONNECTION* conn, const CS_SERVERMSG& srv, const CS_CLIENTMSG& cli, TComponent* component,
          bool raiseOnError, bool enhErr, bool enhMsg, bool showMsg, bool showErr)
      : conn_(conn),
        srv_(srv),
        cli_(cli),
        component_(component),
        target_(dynamic_cast<TQorixDiagTarget*>(component)),
        raiseOnError_(raiseOnError),
        enhErr_(enhErr),
        enhMsg_(enhMsg),
        showMsg_(showMsg),
        showErr_(showErr),
        // Windows belong to the GUI thread; a worker's call stores texts and fires events only.
        gui_(UiServices().IsGuiThread()) {}

  void Run() {
    const bool lineAllowed = target_ ? target_->DiagLineAllowed() : true;
    CS_INT srvCount = 0, cliCount = 0;
    if (ctlib::ct_diag(conn_, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &srvCount) != CS_SUCCEED) srvCount = 0;
    if (ctlib::ct_diag(conn_, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &cliCount) != CS_SUCCEED) cliCount = 0;
    if (cliCount > 0) ctlib::ct_diag(conn_, CS_GET, CS_CLIENTMSG_TYPE, cliCount, &cli_);

    for (CS_INT i = 1; i <= srvCount; ++i) {
      if (ctlib::ct_diag(conn_, CS_GET, CS_SERVERMSG_TYPE, i, &srv_) != CS_SUCCEED) continue;
      const int number = srv_.msgnumber;
      const QString text = Fixed(srv_.text);
      const bool reportable = (srv_.severity > 3 && !NeverReported(number) && !text.trimmed().isEmpty()) ||
                              IsErrorMsgNumber(number);
      if (!reportable) continue;
      if (srv_.severity > 10) {
        ReportDbError(ServerErrorText(srv_, lineAllowed));
        // Only the first error is reported; later server messages are not examined.
        break;
      }
      if (message_.isEmpty()) message_ = QStringLiteral("Server   : ") + Fixed(srv_.svrname) + kCrLf;
      // The family's servers end each message text with a line end; a text that comes without
      // one still gets its own line, so two messages never run together.
      if (!message_.endsWith(QLatin1Char('\n')) && !message_.endsWith(QLatin1Char('\r'))) message_ += kCrLf;
      message_ += text;
    }

    if (cliCount > 0) {
      ctlib::ct_diag(conn_, CS_GET, CS_CLIENTMSG_TYPE, cliCount, &cli_);
      if (cli_.severity > 2 && !Fixed(cli_.msgstring).trimmed().isEmpty())
        ReportDbError(ClientErrorText(cli_));
    }
    ClearDiagMessages(conn_);
    DeliverMessages();
  }

 private:
  // The informational text of this call: stored, its event fired, shown as the flags say.
  void DeliverMessages() {
    if (delivered_ || message_.trimmed().isEmpty()) return;
    delivered_ = true;
    if (target_) {
      target_->SetLastMessage(message_);
      if (target_->OnDbMessage) target_->OnDbMessage(component_);
    }
    if (showMsg_ && gui_) {
      if (enhMsg_)
        UiServices().ShowQorixMessage(kCtLibraryMessage, message_, clBtnFace);
      else
        UiServices().MessageBox(message_, kCtLibraryMessage, TMsgBoxIcon::Information);
    }
    // AfterDbMessage closes the message path as AfterDbError closes the error path.
    if (target_ && target_->AfterDbMessage) target_->AfterDbMessage(component_);
  }

  void ShowErrorWindow(const QString& errorText) {
    UiServices().Beep();
    UiServices().ShowQorixMessage(kCtLibraryError, errorText, clQorixErrorPanel);
  }

  void DispatchAfterDbError() {
    if (target_ && target_->AfterDbError) target_->AfterDbError(component_);
  }

  void ReportDbError(const QString& errorText) {
    if (target_) {
      target_->SetLastError(errorText);
      target_->SetLastServerMsg(srv_);
      if (target_->OnDbError) target_->OnDbError(component_);
    }
    if (raiseOnError_) {
      ClearDiagMessages(conn_);
      // The PRINT lines and notices gathered before the error would otherwise be lost with
      // the exception: they reach the component first.
      DeliverMessages();
      if (enhErr_) {
        if (showErr_ && gui_) ShowErrorWindow(errorText);
        DispatchAfterDbError();
        Abort();
      }
      if (showErr_) DatabaseError(errorText, component_);
      Abort();
    }
    ClearDiagMessages(conn_);
    if (showErr_ && gui_) {
      if (enhErr_)
        ShowErrorWindow(errorText);
      else
        UiServices().MessageBox(errorText, kCtLibraryError, TMsgBoxIcon::Stop);
    }
    DispatchAfterDbError();
  }

  CS_CONNECTION* conn_;
  CS_SERVERMSG srv_;
  CS_CLIENTMSG cli_;
  TComponent* component_;
  TQorixDiagTarget* target_;
  bool raiseOnError_, enhErr_, enhMsg_, showMsg_, showErr_;
  bool gui_;
  QString message_;
  bool delivered_ = false;
};

}  // namespace

bool IsErrorMsgNumber(int number) {
  return number >= 1000 && !NeverReported(number);
}

void ClearDiagMessages(CS_CONNECTION* conn) {
  ctlib::ct_diag(conn, CS_CLEAR, CS_SERVERMSG_TYPE, CS_UNUSED, nullptr);
  ctlib::ct_diag(conn, CS_CLEAR, CS_CLIENTMSG_TYPE, CS_UNUSED, nullptr);
}

QString ServerErrorText(const CS_SERVERMSG& msg, bool lineAllowed) {
  QStringList lines;
  lines << QStringLiteral("Server   : ") + Fixed(msg.svrname)
        << QStringLiteral("Message  : ") + QString::number(msg.msgnumber)
        << QStringLiteral("Severity : ") + QString::number(msg.severity);
  if (lineAllowed && msg.msgnumber != 4002)
    lines << QStringLiteral("Line     : ") + QString::number(msg.line);
  lines << QString() << Fixed(msg.text);
  return lines.join(kCrLf);
}

QString ClientErrorText(const CS_CLIENTMSG& msg) {
  QStringList lines;
  lines << QStringLiteral("Message  : ") + QString::number(static_cast<qint32>(msg.msgnumber))
        << QStringLiteral("Severity : ") + QString::number(msg.severity) << QString() << Fixed(msg.msgstring)
        << Fixed(msg.osstring);
  return lines.join(kCrLf);
}

void ProcessDiagMessages(CS_CONNECTION* conn, const CS_SERVERMSG& srvMsg, const CS_CLIENTMSG& cliMsg,
                         TComponent* component, bool raiseOnError, bool enhErr, bool enhMsg, bool showMsg,
                         bool showErr) {
  DiagRun(conn, srvMsg, cliMsg, component, raiseOnError, enhErr, enhMsg, showMsg, showErr).Run();
}
