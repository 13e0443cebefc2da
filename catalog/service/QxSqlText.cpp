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
  QStringList parts = dottedName.split(QLatin1Char('.'));
  for (QString& p : parts) p = Ident(p);
  return parts.join(QLatin1Char('.'));
}

QString Integer(qint64 value) { return QString::number(value); }

}  // namespace QxSql
