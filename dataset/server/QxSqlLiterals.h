// How values reach server SQL text: typed literals for every field type, quoted identifiers,
// and the substitution of ":name" markers by literals. This is the one place where a value
// becomes SQL text; markers are replaced only as whole names outside string literals, quoted
// identifiers and comments, so a value can never end a literal or start a statement.
#pragma once

#include <QString>
#include <QVariant>

#include "access/FieldType.h"
#include "access/QorixParams.h"

namespace qxsql {

// The 1/300-second ticks of a time of day, rounded to the nearest tick but never past the
// day's last tick (23:59:59.999 stays on its own day).
int TimeToTicks(int msecsOfDay);
// The milliseconds of a tick count as the server shows them (rounded: 299 ticks are .997),
// 0..86399997.
int TicksToMsecs(int ticks);

// The T-SQL literal of Value sent as Type: NULL for a null value; strings and memos in single
// quotes with inner quotes doubled (an empty string stays an empty string); integers and
// floats in the C locale; bits as 1 or 0; date-times as 'yyyy-mm-dd hh:mm:ss.mmm' on the
// server's 1/300-second grid; bytes and blobs as 0x plus hex digits. ftUnknown takes the
// type from the value. A NUL character ends a text value (it is never sent as data).
QString Literal(TFieldType type, const QVariant& value);
// The literal of a parameter (its DataType and value).
QString Literal(const TParam& param);

// One name part in brackets when it is not a plain identifier (letters, digits, _ @ # $, not
// starting with a digit); an already bracketed part is kept. "]" inside doubles.
QString QuotePart(const QString& part);
// A possibly qualified name ("db.owner.name", "db..name") with each part quoted as needed.
QString QuoteName(const QString& name);

// Replaces each whole ":name" marker outside literals, bracketed names and comments with the
// literal of the parameter of that name (matched without regard to case; every occurrence);
// "::" stands for ":". A marker naming no parameter raises "Parameter 'x' not found".
QString SubstituteParams(const QString& sql, const TParams& params);
// Sql with each whole marker replaced by "?" (the same rules as SubstituteParams); Names gets
// the marker name of each "?", in order (a name used twice appears twice).
QString PositionalMarkers(const QString& sql, QStringList& names);
// The distinct marker names of Sql, in order of first appearance.
QStringList MarkerNames(const QString& sql);

}  // namespace qxsql
