// Text rules of the main window (see AppText.h).
#include "app/AppText.h"

#include <cmath>

namespace apptext {

QString ObjectNamePart(const QString& text) {
  const qsizetype dot = text.indexOf(QLatin1Char('.'));
  return dot < 0 ? text : text.mid(dot + 1);
}

QString OwnerNamePart(const QString& text) {
  const qsizetype dot = text.indexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : text.left(dot);
}

QStringList SelectedLines(const QStringList& lines, const TSelection& sel) {
  QStringList out;
  if (lines.isEmpty()) return out;
  const int first = std::max(0, sel.StartLine);
  const int last = std::min<int>(sel.EndLine, int(lines.size()) - 1);
  for (int i = first; i <= last; ++i) {
    QString line = lines[i];
    if (i == last) line = line.left(std::max(0, sel.EndColumn));
    if (i == first) {
      const int blanks = std::min<int>(std::max(0, sel.StartColumn), int(line.size()));
      line = QString(blanks, QLatin1Char(' ')) + line.mid(blanks);
    }
    out << line;
  }
  return out;
}

QString SelectedText(const QStringList& lines, const TSelection& sel) {
  QString text;
  for (const QString& line : SelectedLines(lines, sel)) text += line + QStringLiteral("\r\n");
  return text;
}

bool IsBlankText(const QString& text) {
  for (QChar c : text)
    if (c > QLatin1Char(' ')) return false;
  return true;
}

QString CellLine(const QStringList& cells, const std::vector<int>& pixelWidths, int fontPointSize) {
  if (cells.isEmpty()) return {};
  const double size = fontPointSize > 0 ? fontPointSize : 1;
  auto width = [&](int i) {
    const int px = i < int(pixelWidths.size()) ? pixelWidths[i] : 0;
    return int(std::nearbyint(px / size));  // the default rounding mode rounds halves to even
  };
  QString line = cells[0];
  QString prev = cells[0];
  int w = width(0);
  for (int i = 1; i < cells.size(); ++i) {
    if (!prev.isEmpty() && w >= prev.size()) line += QString(w - prev.size() + 1, QLatin1Char(' '));
    line += cells[i];
    prev = cells[i];
    w = width(i);
  }
  return line;
}

QString FieldCaption(const QString& text) {
  QString out;
  out.reserve(text.size());
  bool upper = true;
  for (QChar c : text) {
    if (c == QLatin1Char('_')) {
      out += QLatin1Char(' ');
      upper = true;
      continue;
    }
    if (upper && c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 32);
    out += c;
    upper = false;
  }
  return out;
}

QString HistoryDescription(const QString& statement) { return statement.left(50); }

}  // namespace apptext
