// Text helpers the result grid's files share: the trim of blanks and control characters that
// the batch check and the export use.
#pragma once

#include <QString>

namespace gridtext {

// True for a blank or a control character (code 32 and below).
inline bool IsBlankOrControl(QChar c) { return c.unicode() <= 32; }

// S without leading and trailing blanks and control characters.
inline QString TrimControls(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return s.mid(b, e - b);
}

}  // namespace gridtext
