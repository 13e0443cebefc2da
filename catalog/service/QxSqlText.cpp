// Quoting of the names and values spliced into catalogue SQL.

#include "catalog/service/QxSqlText.h"

#include <QStringList>

namespace QxSql {

QString Literal(const QString& text, QChar quote) {
  QString out;
  out.reserve(text.size() + 2);
  out += quote;
  for (QChar c : text) {
    out += c;
    if (c == quote) out += c;
  }
  out += quote;
  return out;
}

bool IsRegularIdent(const QString& name) {
  if (name.isEmpty()) return false;
  const QChar first = name.front();
  if (!(first.isLetter() || first == QLatin1Char('_') || first == QLatin1Char('@') || first == QLatin1Char('#')))
    return false;
  for (QChar c : name) {
    if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
        c == QLatin1Char('$'))
      continue;
    return false;
  }
  return true;
}

QString Ident(const QString& name) {
  if (name.isEmpty() || IsRegularIdent(name)) return name;
  QString out = QStringLiteral("[");
  for (QChar c : name) {
    out += c;
    if (c == QLatin1Char(']')) out += c;
  }
  out += QLatin1Char(']');
  return out;
}

QString QualifiedIdent(const QString& dottedName) {
  // Split at the dots outside brackets; a part already between brackets stays as it is, so a
  // name quoted once is not quoted again.
  QStringList parts;
  QString part;
  bool bracketed = false;
  for (qsizetype i = 0; i < dottedName.size(); ++i) {
    const QChar c = dottedName.at(i);
    if (bracketed) {
      part += c;
      if (c == QLatin1Char(']')) {
        if (i + 1 < dottedName.size() && dottedName.at(i + 1) == QLatin1Char(']')) {
          part += dottedName.at(++i);
        } else {
          bracketed = false;
        }
      }
    } else if (c == QLatin1Char('.')) {
      parts << part;
      part.clear();
    } else {
      if (c == QLatin1Char('[') && part.isEmpty()) bracketed = true;
      part += c;
    }
  }
  parts << part;
  for (QString& p : parts) {
    const bool quoted = p.size() >= 2 && p.front() == QLatin1Char('[') && p.back() == QLatin1Char(']');
    if (!quoted) p = Ident(p);
  }
  return parts.join(QLatin1Char('.'));
}

QString Integer(qint64 value) { return QString::number(value); }

}  // namespace QxSql
