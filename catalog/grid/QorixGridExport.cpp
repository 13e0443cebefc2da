// TQorixGrid's export of its cells: fixed width, TAB, comma, a chosen delimiter, or HTML.
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QTime>
#include <cmath>

#include "access/QorixResources.h"
#include "catalog/grid/GridText.h"
#include "catalog/grid/QorixGrid.h"

using gridtext::TrimControls;

namespace {

// Half to the even neighbour.
int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

// ---------------------------------------------------------------- export

QByteArray TQorixGrid::ExportText(bool allRows, int format, const QString& delimiter) const {
  int top, bottom, left, right;
  cells_.Read([&](const TGridCellData& d) {
    if (allRows) {
      top = HeaderKept() ? 0 : 1;
      bottom = d.rowCount - 1;
      left = 1;
      right = d.colCount - 1;
    } else {
      top = Selection.top;
      bottom = Selection.bottom;
      left = Selection.left;
      right = Selection.right;
    }
  });
  QString out;
  const QString crlf = QStringLiteral("\r\n");
  // A field that would break its record is quoted as RFC 4180 does (inner quotes doubled):
  // in the comma format when it holds the comma, a quote or a line end; in the TAB and
  // chosen-delimiter formats when it holds the separator or a line end, or begins with a
  // quote (a quote-aware reader takes a field that begins with one for a quoted field and
  // runs on into the next records).
  auto quoted = [](const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
  };
  auto breaksLine = [](const QString& s) { return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')); };
  if (format == 1 || format == 2 || format == 5) {
    const QString sep = format == 1 ? QStringLiteral("\t") : format == 2 ? QStringLiteral(",") : delimiter;
    for (int r = top; r <= bottom; ++r) {
      QStringList fields;
      for (int c = left; c <= right; ++c) {
        const QString t = TrimControls(Cell(c, r));
        const bool quote = breaksLine(t) || (!sep.isEmpty() && t.contains(sep)) ||
                           t.startsWith(QLatin1Char('"')) || (format == 2 && t.contains(QLatin1Char('"')));
        fields << (quote ? quoted(t) : t);
      }
      out += fields.join(sep) + crlf;
    }
  } else if (format == 0) {
    for (int r = top; r <= bottom; ++r) {
      QString line = Cell(left, r);
      QString prev = line;
      int w = RoundEven(static_cast<double>(ColWidth(left)) / kWidthFactor);
      for (int c = left + 1; c <= right; ++c) {
        if (!prev.isEmpty()) {
          const int pad = w - static_cast<int>(prev.size()) + 1;
          if (pad > 0) line += QString(pad, QLatin1Char(' '));
        }
        const QString t = Cell(c, r);
        line += t;
        prev = t;
        w = RoundEven(static_cast<double>(ColWidth(c)) / kWidthFactor);
      }
      out += line + crlf;
    }
  } else if (format == 6) {
    QString server = database_ ? database_->GetServerName() : QString();
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale loc;
    QString when = loc.toString(now.date(), QLocale::ShortFormat);
    if (now.time() != QTime(0, 0)) when += QLatin1Char(' ') + loc.toString(now.time(), QLocale::LongFormat);
    // The page is written in UTF-8 and says so: without the declaration a browser or parser
    // reads it in its default 8-bit character set.
    for (const char* l : {"<HTML>", "<HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\"></HEAD>",
                          "<P>", "</TABLE>", "<TABLE WIDTH=100% CELLPADDING=1 BORDER=2>", "<TR>"})
      out += QString::fromLatin1(l) + crlf;
    out += QStringLiteral("<TD BGCOLOR=#ccccff><FONT FACE=\"ARIAL\" SIZE=3>Server : ") + server.toHtmlEscaped() +
           QStringLiteral("<BR>Date : ") + when.toHtmlEscaped() + QStringLiteral("</FONT></TD>") + crlf;
    for (const char* l : {"</TR>", "</TABLE>", "", "<TABLE CELLPADDING=2 WIDTH=100% BORDER=2>"})
      out += QString::fromLatin1(l) + crlf;
    for (int r = top; r <= bottom; ++r) {
      out += QStringLiteral("<TR>") + crlf;
      for (int c = left; c <= right; ++c) {
        const QString t = TrimControls(Cell(c, r));
        out += QStringLiteral("<TD ALIGN=LEFT VALIGN=top><FONT FACE=\"ARIAL\" SIZE=2>") +
               (t.isEmpty() ? QStringLiteral("<BR>") : t.toHtmlEscaped()) + QStringLiteral("</FONT></TD>") + crlf;
      }
      out += QStringLiteral("</TR>") + crlf;
    }
    out += QStringLiteral("</TABLE>") + crlf + QStringLiteral("</HTML>") + crlf;
  }
  return out.toUtf8();
}

void TQorixGrid::ExportToFile(bool allRows, int format, const QString& fileName, const QString& delimiter) {
  const QByteArray text = ExportText(allRows, format, delimiter);
  QFile f(fileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() || !f.flush()) {
    UiServices().MessageBox(Format(LoadResString(QorixRes::SErrorAccessingFile), {fileName}), QStringLiteral("QorixGrid"),
                            TMsgBoxIcon::Stop);
  }
}
