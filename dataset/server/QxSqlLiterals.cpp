// Typed literals, quoted names and marker substitution for the server datasets.
#include "dataset/server/QxSqlLiterals.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

#include "access/QorixExceptions.h"
#include "access/QorixUtils.h"
#include "access/ValueText.h"
#include "dataset/Field.h"

namespace qxsql {

namespace {
constexpr int kLastTick = 86400 * 300 - 1;

bool IsNameChar(QChar c) {
  return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
         c == QLatin1Char('$');
}

QString Quoted(QString text) {
  const qsizetype nul = text.indexOf(QChar(0));
  if (nul >= 0) text.truncate(nul);
  text.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString DateTimeLiteral(const QDateTime& dt) {
  const int ticks = TimeToTicks(dt.time().msecsSinceStartOfDay());
  const QTime t = QTime::fromMSecsSinceStartOfDay(TicksToMsecs(ticks));
  return QLatin1Char('\'') + dt.date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
         t.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char('\'');
}

TFieldType TypeOfValue(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Bool:
      return ftBoolean;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
      return ftInteger;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return ftLargeint;
    case QMetaType::Double:
    case QMetaType::Float:
      return ftFloat;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
      return ftDateTime;
    case QMetaType::QByteArray:
      return ftVarBytes;
    default:
      return ftString;
  }
}
}  // namespace

int TimeToTicks(int msecsOfDay) {
  return int(std::clamp<int64_t>(valuetext::TicksOfMilliseconds(msecsOfDay), 0, kLastTick));
}

int TicksToMsecs(int ticks) {
  return int(valuetext::MillisecondsOfTicks(std::clamp(ticks, 0, kLastTick)));
}

QString Literal(TFieldType type, const QVariant& value) {
  if (value.isNull() || !value.isValid()) return QStringLiteral("NULL");
  if (type == ftUnknown) type = TypeOfValue(value);
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: {
      bool ok = false;
      const bool fractional = (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) &&
                              value.toDouble() != std::trunc(value.toDouble());
      const qlonglong n = value.toLongLong(&ok);
      if (ok && !fractional) return QString::number(n);
      // A fractional or non-numeric value is not silently cut: it is sent as a number
      // literal the server can refuse, or as text.
      const double d = value.toDouble(&ok);
      return ok && std::isfinite(d) ? DecimalOfDouble(d) : Quoted(value.toString());
    }
    case ftBoolean:
      if (value.typeId() == QMetaType::QString) {
        const QString t = value.toString().trimmed().toLower();
        return t == QLatin1String("true") || t == QLatin1String("1") ? QStringLiteral("1") : QStringLiteral("0");
      }
      return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      // A number given as text (an exact column's value) goes out digit for digit; a double as
      // the shortest text that reads back as it, so 19.99 stays 19.99.
      if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString exact = CanonicalDecimal(value.toString());
        return exact.isNull() ? Quoted(value.toString()) : exact;
      }
      bool ok = false;
      const double d = value.toDouble(&ok);
      if (!ok || !std::isfinite(d)) return Quoted(value.toString());
      return type == ftFloat ? QString::number(d, 'g', QLocale::FloatingPointShortest) : DecimalOfDouble(d);
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
      QDateTime dt;
      if (value.typeId() == QMetaType::QDate)
        dt = QDateTime(value.toDate(), QTime(0, 0));
      else if (value.typeId() == QMetaType::QTime)
        dt = QDateTime(QDate(1900, 1, 1), value.toTime());
      else if (value.typeId() == QMetaType::QString)
        dt = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
      else
        dt = value.toDateTime();
      if (!dt.isValid()) return Quoted(value.toString());
      return DateTimeLiteral(dt);
    }
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic: {
      const QByteArray bytes = value.toByteArray();
      if (bytes.isEmpty()) return QStringLiteral("NULL");
      return QStringLiteral("0x") + QString::fromLatin1(bytes.toHex()).toUpper();
    }
    case ftMemo:
    case ftFmtMemo:
      if (value.typeId() == QMetaType::QByteArray) return Quoted(QString::fromUtf8(value.toByteArray()));
      return Quoted(value.toString());
    default:
      return Quoted(value.toString());
  }
}

QString Literal(const TParam& param) {
  return Literal(param.DataType, param.Value());
}

QString QuotePart(const QString& part) {
  if (part.isEmpty()) return part;
  if (part.startsWith(QLatin1Char('[')) && part.endsWith(QLatin1Char(']'))) return part;
  bool plain = !part.at(0).isDigit();
  for (QChar c : part)
    if (!IsNameChar(c)) plain = false;
  if (plain) return part;
  QString inner = part;
  inner.replace(QLatin1Char(']'), QStringLiteral("]]"));
  return QLatin1Char('[') + inner + QLatin1Char(']');
}

QString QuoteName(const QString& name) {
  QStringList parts;
  QString current;
  bool bracket = false;
  for (qsizetype i = 0; i < name.size(); ++i) {
    const QChar c = name[i];
    if (bracket) {
      current += c;
      if (c == QLatin1Char(']')) {
        if (i + 1 < name.size() && name[i + 1] == QLatin1Char(']')) {
          current += name[++i];
        } else {
          bracket = false;
        }
      }
    } else if (c == QLatin1Char('[')) {
      bracket = true;
      current += c;
    } else if (c == QLatin1Char('.')) {
      parts << current;
      current.clear();
    } else {
      current += c;
    }
  }
  parts << current;
  for (QString& p : parts) p = QuotePart(p.trimmed());
  return parts.join(QLatin1Char('.'));
}

namespace {
// Walks Sql; for each whole marker calls Marker(name) and appends its answer.
template <typename F>
QString WalkMarkers(const QString& sql, F&& marker) {
  QString out;
  out.reserve(sql.size());
  const qsizetype n = sql.size();
  qsizetype i = 0;
  while (i < n) {
    // Literals, quoted and bracketed names and comments are copied whole: no marker is looked
    // for inside.
    if (const qsizetype past = SkipSqlLiteralOrComment(sql, i); past > i) {
      out += QStringView(sql).mid(i, past - i);
      i = past;
      continue;
    }
    const QChar c = sql[i];
    if (c == QLatin1Char(':')) {
      if (i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
        out += QLatin1Char(':');
        i += 2;
        continue;
      }
      // A name glued to a preceding name character (a:b) is no marker.
      const bool glued = i > 0 && IsNameChar(sql[i - 1]);
      qsizetype j = i + 1;
      if (!glued && j < n && sql[j] == QLatin1Char('"')) {
        const qsizetype close = sql.indexOf(QLatin1Char('"'), j + 1);
        if (close > j + 1) {
          out += marker(sql.mid(j + 1, close - j - 1));
          i = close + 1;
          continue;
        }
      }
      while (j < n && IsNameChar(sql[j])) ++j;
      if (!glued && j > i + 1) {
        out += marker(sql.mid(i + 1, j - i - 1));
        i = j;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}
}  // namespace

QString SubstituteParams(const QString& sql, const TParams& params) {
  return WalkMarkers(sql, [&](const QString& name) {
    const TParam* p = params.FindParam(name);
    if (!p) DatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
    return Literal(*p);
  });
}

QString PositionalMarkers(const QString& sql, QStringList& names) {
  names.clear();
  return WalkMarkers(sql, [&](const QString& name) {
    names << name;
    return QStringLiteral("?");
  });
}

QStringList MarkerNames(const QString& sql) {
  QStringList names;
  WalkMarkers(sql, [&](const QString& name) {
    bool seen = false;
    for (const QString& n : names)
      if (n.compare(name, Qt::CaseInsensitive) == 0) seen = true;
    if (!seen) names << name;
    return QString();
  });
  return names;
}

}  // namespace qxsql
