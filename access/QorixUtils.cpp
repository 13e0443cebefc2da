// The suite utilities: field-type tests, splitting, counting, marker conversion, prefixes.

#include "access/QorixUtils.h"

bool IsBinaryBlobType(TFieldType type) {
  return type == ftBlob || type == ftGraphic;
}

bool IsBlobType(TFieldType type) {
  return type == ftBlob || type == ftMemo || type == ftGraphic;
}

bool IsBlobOrObjectField(TFieldType type) {
  if (type == ftBytes || type == ftVarBytes) return true;
  if (type >= ftBlob && type <= ftCursor) return true;
  return type == ftADT || type == ftArray || type == ftReference || type == ftDataSet;
}

void SplitString(const QString& text, QChar delimiter, QStringList& list) {
  if (text.isEmpty()) return;
  list.clear();
  qsizetype start = 0;
  while (true) {
    const qsizetype at = text.indexOf(delimiter, start);
    const QString chunk = text.mid(start, at < 0 ? -1 : at - start);
    if (!chunk.isEmpty()) list.append(chunk);
    if (at < 0) break;
    start = at + 1;
  }
}

int CountChar(const QString& text, QChar ch) {
  return static_cast<int>(text.count(ch));
}

namespace {

bool IsQuote(QChar c) {
  return c == u'\'' || c == u'"' || c == u'`';
}

// Characters that end a marker's name. A colon ends it too: no server name holds one, and
// ":a:b" is two markers.
bool EndsName(QChar c) {
  return c == u'\r' || c == u'\n' || c == u' ' || c == u')' || c == u',' || c == u';' || c == u':';
}

}  // namespace

qsizetype SkipSqlLiteralOrComment(const QString& sql, qsizetype i) {
  const qsizetype n = sql.size();
  if (i < 0 || i >= n) return i;
  const QChar c = sql.at(i);
  if (IsQuote(c)) {
    // The quote that opened the literal closes it: "it's" is one literal, not the start of
    // one that the apostrophe would close.
    const qsizetype close = sql.indexOf(c, i + 1);
    return close < 0 ? n : close + 1;
  }
  if (c == u'[') {
    // A bracketed name ([order:date]) ends at its first "]" that is not doubled ("]]" stands
    // for one "]" inside the name).
    for (qsizetype j = i + 1; j < n; ++j) {
      if (sql.at(j) != u']') continue;
      if (j + 1 < n && sql.at(j + 1) == u']') {
        ++j;
        continue;
      }
      return j + 1;
    }
    return n;
  }
  if (c == u'-' && i + 1 < n && sql.at(i + 1) == u'-') {
    const qsizetype eol = sql.indexOf(u'\n', i + 2);
    return eol < 0 ? n : eol;  // the line end itself is code again
  }
  if (c == u'/' && i + 1 < n && sql.at(i + 1) == u'*') {
    const qsizetype close = sql.indexOf(QLatin1String("*/"), i + 2);
    return close < 0 ? n : close + 2;
  }
  return i;
}

QString ConvertParamMarkers(const QString& sql) {
  QString out;
  out.reserve(sql.size());
  const qsizetype n = sql.size();
  qsizetype i = 0;
  while (i < n) {
    if (const qsizetype past = SkipSqlLiteralOrComment(sql, i); past > i) {
      out += QStringView(sql).mid(i, past - i);
      i = past;
      continue;
    }
    const QChar c = sql.at(i);
    if (c != u':') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < n && sql.at(i + 1) == u':') {  // "::" is an escaped colon: 10::30 gives 10:30
      out += u':';
      i += 2;
      continue;
    }
    // A marker: the colon becomes "@" and the name is copied; a quoted part of the name
    // (:"my param") keeps its blanks.
    out += u'@';
    ++i;
    QChar nameQuote;
    while (i < n) {
      const QChar d = sql.at(i);
      if (!nameQuote.isNull()) {
        if (d == nameQuote) nameQuote = QChar();
      } else if (IsQuote(d)) {
        nameQuote = d;
      } else if (EndsName(d)) {
        break;
      }
      out += d;
      ++i;
    }
  }
  return out;
}

QString StripOwnerPrefix(const QString& name) {
  const qsizetype dot = name.indexOf(u'.');
  return dot < 0 ? name : name.mid(dot + 1);
}
