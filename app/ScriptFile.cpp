// Reading and writing script files (see ScriptFile.h).
#include "app/ScriptFile.h"

#include <QHash>
#include <QStringDecoder>

namespace scriptfile {
namespace {
// Bytes 0x80 to 0x9F of Windows-1252; the undefined five keep their C1 code points.
const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString Describe(QChar c) {
  return QStringLiteral("\"%1\" (U+%2)").arg(c).arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}
}  // namespace

QString FromCp1252(const QByteArray& bytes) {
  QString out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    out += (b >= 0x80 && b <= 0x9F) ? QChar(kHigh[b - 0x80]) : QChar(b);
  }
  return out;
}

bool ToCp1252(const QString& text, QByteArray& bytes, QString* unwritable) {
  static const QHash<char16_t, char> high = [] {
    QHash<char16_t, char> h;
    for (int i = 0; i < 32; ++i) h.insert(kHigh[i], char(0x80 + i));
    return h;
  }();
  bytes.clear();
  bytes.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      bytes += char(u);
      continue;
    }
    const auto it = high.constFind(u);
    if (it == high.constEnd()) {
      if (unwritable) *unwritable = Describe(c);
      return false;
    }
    bytes += it.value();
  }
  return true;
}

TScriptText Decode(const QByteArray& bytes) {
  TScriptText r;
  QByteArray body = bytes;
  r.Format.Binary = bytes.contains('\0');
  if (!r.Format.Binary && body.startsWith("\xEF\xBB\xBF")) {
    r.Format.ByteOrderMark = true;
    body.remove(0, 3);
  }
  bool utf8 = false;
  if (!r.Format.Binary) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (!decoder.hasError()) {
      utf8 = true;
      r.Text = text;
    }
  }
  if (!utf8) {
    // Not UTF-8: a byte-order mark was not one either.
    if (r.Format.ByteOrderMark) body = bytes;
    r.Format.ByteOrderMark = false;
    r.Format.Encoding = TScriptFormat::Cp1252;
    r.Text = FromCp1252(body);
  }
  // Line ends: CR LF when every line ends so, LF otherwise; any other mix is noted.
  const qsizetype crlf = r.Text.count(QStringLiteral("\r\n"));
  const qsizetype lf = r.Text.count(QLatin1Char('\n')) - crlf;
  const qsizetype cr = r.Text.count(QLatin1Char('\r')) - crlf;
  r.Format.CrLf = crlf > 0 && crlf >= lf;
  r.Format.MixedLineEnds = (crlf > 0 && lf > 0) || cr > 0;
  r.Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  r.Text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (r.Format.Binary)
    r.Warning = QStringLiteral("The file is not a text file (it holds NUL bytes). It is shown as Windows-1252 text; "
                               "saving it would replace its contents.");
  else if (r.Format.MixedLineEnds)
    r.Warning = QStringLiteral("The file mixes line ends; saving it ends every line with %1.")
                    .arg(r.Format.CrLf ? QStringLiteral("CR LF") : QStringLiteral("LF"));
  return r;
}

bool Encode(const QString& text, const TScriptFormat& format, QByteArray& bytes, QString* unwritable) {
  QString t = text;
  if (format.CrLf) t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  if (format.Encoding == TScriptFormat::Cp1252) return ToCp1252(t, bytes, unwritable);
  bytes = (format.ByteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + t.toUtf8();
  return true;
}

}  // namespace scriptfile
