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

QString NamePart(const QString& name) {
  if (!name.contains(QLatin1Char('.')) && !name.startsWith(QLatin1Char('['))) return name;
  QString out = QStringLiteral("[");
  for (QChar c : name) {
    out += c;
    if (c == QLatin1Char(']')) out += c;
  }
  out += QLatin1Char(']');
  return out;
}

QStringList SplitName(const QString& text, bool* bracketed) {
  QStringList parts;
  QString part;
  // A bracketed part keeps its blanks; a plain one is trimmed.
  bool inBrackets = false, partBracketed = false, any = false;
  auto close = [&] {
    parts << (partBracketed ? part : part.trimmed());
    part.clear();
    partBracketed = false;
  };
  const QString t = text.trimmed();
  for (qsizetype i = 0; i < t.size(); ++i) {
    const QChar c = t.at(i);
    if (inBrackets) {
      if (c != QLatin1Char(']')) {
        part += c;
      } else if (i + 1 < t.size() && t.at(i + 1) == QLatin1Char(']')) {
        part += c;
        ++i;
      } else {
        inBrackets = false;
      }
    } else if (c == QLatin1Char('.')) {
      close();
    } else if (c == QLatin1Char('[') && !partBracketed && part.trimmed().isEmpty()) {
      part.clear();
      inBrackets = partBracketed = any = true;
    } else if (!partBracketed) {
      part += c;
    }
  }
  close();
  if (bracketed) *bracketed = any;
  return parts;
}

QString Integer(qint64 value) { return QString::number(value); }

}  // namespace QxSql
