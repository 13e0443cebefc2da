// The one place catalogue SQL gets its spliced names and values: string literals with their
// quote character doubled, identifiers kept when regular and bracketed otherwise, and numbers
// written in the C locale. No name a user or a server supplies can end a literal or a
// statement early.
#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

namespace QxSql {

// Text between Quote characters, each Quote inside doubled: Literal("a'b", '\'') is 'a''b'.
QString Literal(const QString& text, QChar quote = QLatin1Char('"'));

// True for a regular identifier: a letter, "_", "@" or "#" first, then letters, digits, "_",
// "@", "#" and "$" (letters include non-ASCII ones).
bool IsRegularIdent(const QString& name);

// Name as it stands when it is a regular identifier, else between brackets with "]" doubled
// ("order details" gives [order details]); an empty name stays empty.
QString Ident(const QString& name);

// A dotted name ("db.owner.name", "db..name") with each part passed through Ident; a part
// already between brackets ("[my db].dbo.t") is kept, and dots inside brackets do not split.
QString QualifiedIdent(const QString& dottedName);

// One part of a dotted object name as the catalogue's own texts write it (explorer selections,
// names handed to the readers): as it stands, or between brackets with "]" doubled when it holds
// a "." or begins with "[" ("dot.ted" gives [dot.ted]), so no part can be cut at its own dot.
QString NamePart(const QString& name);

// The parts of a dotted name, split at the dots outside brackets and trimmed; a part between
// brackets loses them ("]]" inside reads "]"). *Bracketed tells whether any part had brackets.
QStringList SplitName(const QString& text, bool* bracketed = nullptr);

// A 64-bit integer in decimal, C locale.
QString Integer(qint64 value);

}  // namespace QxSql
