// The one diagnostics routine every server-talking component calls after a Client-Library
// call: it reads the connection's queued server and client messages, sorts them into errors
// and informational messages, stores the texts on the component, fires its events, shows
// the CT-Library windows as its settings say, and ends normally, silently or with an error.
#pragma once

#include <QString>

#include "access/Classes.h"
#include "access/ctlib/ctlib.h"

// What the routine stores on a component and the events it fires there; the suite's
// server-talking components derive from it. Setters are virtual so an engine can pass the
// texts on to its owner.
class TQorixDiagTarget {
 public:
  virtual ~TQorixDiagTarget() = default;

  // Fired after the last-error text is stored.
  TNotifyEvent OnDbError;
  // Fired once an error has been reported (window shown or not).
  TNotifyEvent AfterDbError;
  // Fired after the last-message text is stored.
  TNotifyEvent OnDbMessage;
  // Fired once the messages are stored and shown (after the message window).
  TNotifyEvent AfterDbMessage;

  // The text of the last reported error.
  const QString& LastError() const { return lastError_; }
  // The informational server messages of the last call that had any.
  const QString& LastMessage() const { return lastMessage_; }
  // The server message record current when the last error was reported.
  const CS_SERVERMSG& LastServerMsg() const { return lastServerMsg_; }
  // Stores the last-error text.
  virtual void SetLastError(const QString& text) { lastError_ = text; }
  // Stores the last-message text.
  virtual void SetLastMessage(const QString& text) { lastMessage_ = text; }
  // Stores the last server-message record.
  virtual void SetLastServerMsg(const CS_SERVERMSG& msg) { lastServerMsg_ = msg; }
  // False for components whose error texts leave out the "Line" part (the connection and
  // the table dataset).
  virtual bool DiagLineAllowed() const { return true; }

 private:
  QString lastError_;
  QString lastMessage_;
  CS_SERVERMSG lastServerMsg_{};
};

// Reads and reports Conn's queued messages for Component (see the file comment). SrvMsg and
// CliMsg are the working records' initial contents; the flags come from the component's
// MsgDialogs and ShowDbMessages and, for RaiseOnError, its error policy. May raise EAbort
// or EDatabaseError; every ending leaves both of Conn's queues empty.
void ProcessDiagMessages(CS_CONNECTION* conn, const CS_SERVERMSG& srvMsg, const CS_CLIENTMSG& cliMsg,
                         TComponent* component, bool raiseOnError, bool enhErr, bool enhMsg, bool showMsg,
                         bool showErr);

// True when Number is at least 1000 and none of 2401, 2409 and 5701.
bool IsErrorMsgNumber(int number);

// Empties both of Conn's message queues.
void ClearDiagMessages(CS_CONNECTION* conn);

// The error text of a server message ("Server   : ..." lines; the Line part when allowed
// and the number is not 4002).
QString ServerErrorText(const CS_SERVERMSG& msg, bool lineAllowed);

// The error text of a client message ("Message  : ..." lines, the text and the OS text).
QString ClientErrorText(const CS_CLIENTMSG& msg);

// The caption of the error window and box.
inline const QString kCtLibraryError = QStringLiteral("CT-Library error");
// The caption of the message window and box.
inline const QString kCtLibraryMessage = QStringLiteral("CT-Library message");
