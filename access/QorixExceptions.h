// The suite's exception family: EQorixException for Client-Library and CS-Library set-up
// failures (with its numbered set-up table) and the thirteen usage exceptions, each raised
// through its own procedure that prefixes the offending component's name.
#pragma once

#include <QString>

#include "access/SysUtils.h"

class TComponent;

// A context or connection set-up failure ("ct_con_alloc Failed"); a numeric text names an
// entry of the set-up table instead.
class EQorixException : public Exception {
 public:
  // Msg is the text itself, or the decimal index (0 to 24) of a set-up table entry.
  explicit EQorixException(const QString& msg);
};

// Number of entries in EQorixException's set-up table.
inline constexpr int kQorixSetupMessageCount = 25;
// Entry Index (0 to 24) of EQorixException's set-up table; empty outside it.
QString QorixSetupMessage(int index);

// Declares one usage exception class: a plain Exception descendant carrying only its text.
#define QORIX_USAGE_EXCEPTION(Name) \
  class Name : public Exception {   \
   public:                          \
    using Exception::Exception;     \
  };

// A required property or linked component is missing.
QORIX_USAGE_EXCEPTION(EQxMissingException)
// A cursor operation was refused.
QORIX_USAGE_EXCEPTION(EQxCursorException)
// The command still has results pending.
QORIX_USAGE_EXCEPTION(EQxResultsPendingException)
// The SQL text is missing or unusable.
QORIX_USAGE_EXCEPTION(EQxBadSQLException)
// A dataset operation was refused.
QORIX_USAGE_EXCEPTION(EQxDataSetException)
// The operation needs a bidirectional dataset.
QORIX_USAGE_EXCEPTION(EQxUniDirException)
// The dataset or database is not open.
QORIX_USAGE_EXCEPTION(EQxNotOpenException)
// A value or source is not valid.
QORIX_USAGE_EXCEPTION(EQxNotValidException)
// The operation or type is not supported.
QORIX_USAGE_EXCEPTION(EQxNotSupportedException)
// A file could not be named or accessed.
QORIX_USAGE_EXCEPTION(EQxFileException)
// A bookmark names no record.
QORIX_USAGE_EXCEPTION(EQxBookmarkException)
// The dataset is in the wrong mode for the operation.
QORIX_USAGE_EXCEPTION(EQxNoModeException)
// The operation is disabled on this component.
QORIX_USAGE_EXCEPTION(EQxDisabledException)

#undef QORIX_USAGE_EXCEPTION

// The raise procedures' text: "Name: Msg" for a named Component, else Msg unchanged.
QString QorixErrorText(const QString& msg, const TComponent* component);

// Raises EQxMissingException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseMissingError(const QString& msg, const TComponent* component);
// Raises EQxCursorException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseCursorError(const QString& msg, const TComponent* component);
// Raises EQxResultsPendingException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseResultsPendingError(const QString& msg, const TComponent* component);
// Raises EQxBadSQLException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseBadSQLError(const QString& msg, const TComponent* component);
// Raises EQxDataSetException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseDataSetError(const QString& msg, const TComponent* component);
// Raises EQxUniDirException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseUniDirError(const QString& msg, const TComponent* component);
// Raises EQxNotOpenException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseNotOpenError(const QString& msg, const TComponent* component);
// Raises EQxNotValidException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseNotValidError(const QString& msg, const TComponent* component);
// Raises EQxNotSupportedException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseNotSupportedError(const QString& msg, const TComponent* component);
// Raises EQxFileException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseFileError(const QString& msg, const TComponent* component);
// Raises EQxBookmarkException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseBookmarkError(const QString& msg, const TComponent* component);
// Raises EQxNoModeException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseNoModeError(const QString& msg, const TComponent* component);
// Raises EQxDisabledException with QorixErrorText(Msg, Component).
[[noreturn]] void RaiseDisabledError(const QString& msg, const TComponent* component);

// The class library's DatabaseError(Msg, Component): raises EDatabaseError with "Name: Msg"
// for a named Component, else Msg.
[[noreturn]] void DatabaseError(const QString& msg, const TComponent* component = nullptr);
