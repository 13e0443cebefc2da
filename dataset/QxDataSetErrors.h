// The texts the dataset layer raises and the suite's usage exceptions it raises them with.
// Suite texts are looked up by their message-table id through QxText, class-library texts
// are the DbText constants; both live here so the layer has one place for its wording.
#pragma once

#include <QObject>
#include <QString>

#include "access/QorixExceptions.h"
#include "access/SysUtils.h"

// Ids of the suite's message-table entries the dataset layer uses.
namespace QxMsg {
inline constexpr int BookmarkNotFound = 65168;
inline constexpr int NoRecords = 65169;
inline constexpr int InsertNotAllowed = 65172;
inline constexpr int DeleteNotAllowed = 65173;
inline constexpr int EditNotAllowed = 65174;
inline constexpr int NoFieldNameAssigned = 65177;
inline constexpr int DataSetFieldUndefined = 65178;
inline constexpr int NotEditOrInsertMode = 65216;
inline constexpr int SourceNotValid = 65218;
inline constexpr int NoFileName = 65219;
inline constexpr int ErrorAccessingFile = 65221;
inline constexpr int DataSetClosed = 65232;
inline constexpr int CircularDataLinks = 65234;
inline constexpr int AggregateActive = 65241;
inline constexpr int UnsupportedFieldType = 65242;
}  // namespace QxMsg

// The suite's text for a message-table id (the access layer's message table).
QString QxText(int id);

// The class library's own database texts ("%1" is filled by the caller).
namespace DbText {
inline const QString FieldNotFound = QStringLiteral("Field '%1' not found");
inline const QString NotEditing = QStringLiteral("Dataset not in edit or insert mode");
inline const QString DataSetOpen = QStringLiteral("Cannot perform this operation on an open dataset");
inline const QString DataSetClosed = QStringLiteral("Cannot perform this operation on a closed dataset");
inline const QString DataSetEmpty = QStringLiteral("Cannot perform this operation on an empty dataset");
inline const QString DataSetReadOnly = QStringLiteral("Cannot modify a read-only dataset");
inline const QString FieldReadOnly = QStringLiteral("Field '%1' cannot be modified");
inline const QString FieldRequired = QStringLiteral("Field '%1' must have a value");
inline const QString RecordNotFound = QStringLiteral("Record not found");
inline const QString DuplicateFieldName = QStringLiteral("Duplicate field name '%1'");
inline const QString FieldTypeMismatch = QStringLiteral("Type mismatch for field '%1'");
inline const QString InvalidIntegerValue = QStringLiteral("'%1' is not a valid integer value for field '%2'");
inline const QString InvalidFloatValue =
    QStringLiteral("'%1' is not a valid floating point value for field '%2'");
inline const QString InvalidDateTimeValue =
    QStringLiteral("'%1' is not a valid date and time for field '%2'");
inline const QString InvalidBoolValue = QStringLiteral("'%1' is not a valid boolean value for field '%2'");
inline const QString ParameterNotFound = QStringLiteral("Parameter '%1' not found");
inline const QString CircularDataLink = QStringLiteral("Circular datalinks are not allowed");
inline const QString NotBlobField = QStringLiteral("'%1' is not a blob field");
inline const QString ReadError = QStringLiteral("Stream read error");
inline const QString WriteError = QStringLiteral("Stream write error");
inline const QString FileOpenError = QStringLiteral("Cannot open file \"%1\". %2");
inline const QString NegativeSize = QStringLiteral("Stream holds a negative size");
inline const QString RecordTooLarge = QStringLiteral("A record of %1 bytes exceeds the limit of %2 bytes");
inline const QString WaitingForParent = QStringLiteral("Nested dataset is waiting for its parent to open");
}  // namespace DbText

// The suite's Format for its one-placeholder texts: "%s" becomes arg.
QString QxFormat(const QString& text, const QString& arg);

// "Name: text" when the component is given and named, else the text unchanged.
QString QxComponentMessage(const QString& message, const QObject* component);

// Raises the class library's database error ("Name: text").
// Without a component the access layer's DatabaseError(text) serves.
[[noreturn]] void DatabaseError(const QString& message, const QObject* component);

// The class library's stream errors: a read or write past what a stream can give.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// The class library's list error: an index outside a list.
class EListError : public Exception {
 public:
  using Exception::Exception;
};
// The class library's file-open error.
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// The suite's raise procedures for the datasets (TDataSet is a QObject, not a TComponent):
// each raises the access layer's exception class with "Name: text".
[[noreturn]] void RaiseDataSetError(const QString& message, const QObject* component);
[[noreturn]] void RaiseNotValidError(const QString& message, const QObject* component);
[[noreturn]] void RaiseNotSupportedError(const QString& message, const QObject* component);
[[noreturn]] void RaiseFileError(const QString& message, const QObject* component);
[[noreturn]] void RaiseBookmarkError(const QString& message, const QObject* component);
[[noreturn]] void RaiseNoModeError(const QString& message, const QObject* component);
[[noreturn]] void RaiseDisabledError(const QString& message, const QObject* component);
[[noreturn]] void RaiseNotOpenError(const QString& message, const QObject* component);
