// Small free functions the catalogue, explorer and dataset code share: field-type tests, a
// string splitter, a character counter, the conversion of ":name" parameter markers into the
// server's "@name" form, and stripping the owner prefix from a qualified object name.
#pragma once

#include <QString>
#include <QStringList>

#include "access/FieldType.h"

// True for ftBlob and ftGraphic.
bool IsBinaryBlobType(TFieldType type);
// True for ftBlob, ftMemo and ftGraphic.
bool IsBlobType(TFieldType type);
// True for a field whose data type (pass the field's DataType) is ftBytes, ftVarBytes, any
// type from ftBlob to ftCursor, or ftADT, ftArray, ftReference, ftDataSet.
bool IsBlobOrObjectField(TFieldType fieldDataType);

// Splits Text at Delimiter into List, skipping empty pieces ("a;;b;" gives a and b). An empty
// Text leaves List untouched; otherwise List is cleared first.
void SplitString(const QString& text, QChar delimiter, QStringList& list);

// The number of occurrences of Ch in Text.
int CountChar(const QString& text, QChar ch);

// The one lexical rule every scan of SQL text for markers shares: when Sql holds a string
// literal ('...'), a quoted identifier ("..." or `...`), a bracketed name ([...], "]]" inside
// it standing for "]"), a line comment (-- to the end of the line) or a block comment
// (/* ... */) starting at index I, the index just past it; else I.
// A literal ends only at the quote that opened it ('it''s' is one literal, two touching ones);
// an unclosed literal or comment runs to the end of the text. Markers are never looked for
// inside what it skips.
qsizetype SkipSqlLiteralOrComment(const QString& sql, qsizetype i);

// Turns each ":name" marker outside string literals, quoted identifiers and comments into
// "@name" and "::" into ":"; everything SkipSqlLiteralOrComment skips is copied unchanged.
QString ConvertParamMarkers(const QString& sql);

// The text after the first "." (owner.table gives table; db.owner.table gives owner.table),
// or Name unchanged when it holds none.
QString StripOwnerPrefix(const QString& name);
