// The string built-ins: substring, char_length, datalength, upper, lower, ltrim, rtrim, space,
// replicate, ascii, char, stuff, charindex, patindex, reverse, right, str_replace, hextoint and
// inttohex. Positions count characters
// (UTF-8); results that would be empty are NULL as the family has no empty strings.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "server/types/function_support.h"

namespace tabsrv::fn {
namespace {

constexpr int64_t kMaxStringBytes = 16384;

// substring(expr, start, length): 1-based; a start before 1 shortens the length accordingly
// (substring('abc', 0, 2) is 'a'); a start past the end gives NULL. Binary values cut bytes.
void substringFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1]) || argNull(a[2])) return sqlite3_result_null(ctx);
    int64_t start = argInt(a[1], "substring"), len = argInt(a[2], "substring");
    if (len < 0) return sqlite3_result_null(ctx);
    int64_t end = start + len;  // exclusive, 1-based
    if (start < 1) start = 1;
    if (end <= start) return sqlite3_result_null(ctx);
    std::string s = argText(a[0]);
    if (sqlite3_value_type(a[0]) == SQLITE_BLOB) {
      if (start > static_cast<int64_t>(s.size())) return sqlite3_result_null(ctx);
      size_t from = static_cast<size_t>(start - 1);
      size_t n = std::min<size_t>(s.size() - from, static_cast<size_t>(end - start));
      return sqlite3_result_blob(ctx, s.data() + from, static_cast<int>(n), SQLITE_TRANSIENT);
    }
    size_t chars = utf8Length(s);
    if (start > static_cast<int64_t>(chars)) return sqlite3_result_null(ctx);
    size_t b = utf8Offset(s, static_cast<size_t>(start - 1));
    size_t e = utf8Offset(s, static_cast<size_t>(std::min<int64_t>(end - 1, static_cast<int64_t>(chars))));
    resultText(ctx, s.substr(b, e - b));
  });
}

void charLengthFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]);
  sqlite3_result_int64(
      ctx, static_cast<int64_t>(sqlite3_value_type(a[0]) == SQLITE_BLOB ? s.size() : utf8Length(s)));
}

// datalength: bytes of the stored value; integers count as the int they are (4, or 8 when wide),
// floats as 8. The binder passes typed lengths where it knows better.
void dataLengthFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  switch (sqlite3_value_type(a[0])) {
    case SQLITE_NULL:
      return sqlite3_result_null(ctx);
    case SQLITE_INTEGER: {
      int64_t v = sqlite3_value_int64(a[0]);
      return sqlite3_result_int(ctx, v >= INT32_MIN && v <= INT32_MAX ? 4 : 8);
    }
    case SQLITE_FLOAT:
      return sqlite3_result_int(ctx, 8);
    default:
      return sqlite3_result_int(ctx, sqlite3_value_bytes(a[0]));
  }
}

template <int (*F)(int)>
void caseFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]);
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x80) c = static_cast<char>(F(static_cast<unsigned char>(c)));
  }
  resultText(ctx, s);
}

void ltrimFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]);
  size_t b = s.find_first_not_of(' ');
  resultText(ctx, b == std::string::npos ? std::string() : s.substr(b));
}

void rtrimFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]);
  size_t e = s.find_last_not_of(' ');
  resultText(ctx, e == std::string::npos ? std::string() : s.substr(0, e + 1));
}

// trim(s), the "SQLAnywhere" family's: blanks off both ends.
void trimFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]);
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return resultText(ctx, std::string());
  resultText(ctx, s.substr(b, s.find_last_not_of(' ') - b + 1));
}

void spaceFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    int64_t n = std::min(argInt(a[0], "space"), kMaxStringBytes);
    resultText(ctx, n > 0 ? std::string(static_cast<size_t>(n), ' ') : std::string());
  });
}

void replicateFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    std::string s = argText(a[0]);
    int64_t n = argInt(a[1], "replicate");
    std::string r;
    for (int64_t i = 0; i < n && !s.empty() && static_cast<int64_t>(r.size() + s.size()) <= kMaxStringBytes;
         ++i)
      r += s;
    resultText(ctx, r);
  });
}

void asciiFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]);
  if (s.empty()) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, static_cast<unsigned char>(s[0]));
}

// char(n): the character with code n (0-255; codes above 127 as their Latin-1 character in UTF-8).
void charFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    int64_t n = argInt(a[0], "char");
    if (n < 0 || n > 255) return sqlite3_result_null(ctx);
    std::string s;
    if (n < 0x80) {
      s += static_cast<char>(n);
    } else {
      s += static_cast<char>(0xC0 | (n >> 6));
      s += static_cast<char>(0x80 | (n & 0x3F));
    }
    resultText(ctx, s, false);
  });
}

// stuff(s, start, length, replacement): deletes `length` characters at `start` and inserts the
// replacement; NULL when start is outside the string or length is negative.
void stuffFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1]) || argNull(a[2])) return sqlite3_result_null(ctx);
    std::string s = argText(a[0]);
    int64_t start = argInt(a[1], "stuff"), len = argInt(a[2], "stuff");
    size_t chars = utf8Length(s);
    if (start < 1 || start > static_cast<int64_t>(chars) || len < 0) return sqlite3_result_null(ctx);
    std::string r = argNull(a[3]) ? std::string() : argText(a[3]);
    size_t b = utf8Offset(s, static_cast<size_t>(start - 1));
    size_t e =
        utf8Offset(s, static_cast<size_t>(std::min<int64_t>(start - 1 + len, static_cast<int64_t>(chars))));
    resultText(ctx, s.substr(0, b) + r + s.substr(e));
  });
}

// charindex(expr1, expr2 [, start]): 1-based character position of expr1 in expr2, or 0.
void charindexFn(sqlite3_context* ctx, int argc, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    std::string needle = argText(a[0]), hay = argText(a[1]);
    size_t from = 0;
    if (argc > 2 && !argNull(a[2])) {
      int64_t st = argInt(a[2], "charindex");
      from = st > 1 ? utf8Offset(hay, static_cast<size_t>(st - 1)) : 0;
    }
    if (needle.empty()) return sqlite3_result_int(ctx, 0);
    size_t at = hay.find(needle, from);
    sqlite3_result_int64(
        ctx, at == std::string::npos ? 0 : static_cast<int64_t>(utf8Length(hay.substr(0, at)) + 1));
  });
}

// patindex('%pattern%', expr): the position where the LIKE pattern first matches, or 0.
void patindexFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
  std::string pat = argText(a[0]), s = argText(a[1]);
  if (pat.empty() || pat[0] != '%') return sqlite3_result_int(ctx, likeMatch(pat, s) ? 1 : 0);
  std::string rest = pat.substr(1);
  size_t chars = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (likeMatch(rest, std::string_view(s).substr(i)))
      return sqlite3_result_int64(ctx, static_cast<int64_t>(chars + 1));
    ++chars;
  }
  sqlite3_result_int(ctx, 0);
}

// The four-character sound code: the first letter, then the digits of the following consonants
// (b f p v 1, c g j k q s x z 2, d t 3, l 4, m n 5, r 6), a run of one digit written once, h and w
// not breaking a run, vowels breaking it; padded with zeros. No letters at all give "0000".
std::string soundexCode(std::string_view s) {
  static const char* kDigits = "01230120022455012623010202";  // a..z
  size_t i = 0;
  while (i < s.size() && !std::isalpha(static_cast<unsigned char>(s[i]))) ++i;
  if (i == s.size()) return "0000";
  std::string code(1, static_cast<char>(std::toupper(static_cast<unsigned char>(s[i]))));
  char last = kDigits[std::tolower(static_cast<unsigned char>(s[i])) - 'a'];
  for (++i; i < s.size() && code.size() < 4; ++i) {
    unsigned char c = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(s[i])));
    if (c < 'a' || c > 'z') continue;
    char d = kDigits[c - 'a'];
    if (c == 'h' || c == 'w') continue;
    if (d != '0' && d != last) code += d;
    last = d;
  }
  while (code.size() < 4) code += '0';
  return code;
}

void soundexFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  resultText(ctx, soundexCode(argText(a[0])), false);
}

// difference(a, b): how many of the four sound-code characters agree, 0 to 4.
void differenceFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
  std::string x = soundexCode(argText(a[0])), y = soundexCode(argText(a[1]));
  int same = 0;
  for (size_t i = 0; i < 4; ++i) same += x[i] == y[i];
  sqlite3_result_int(ctx, same);
}

void reverseFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (argNull(a[0])) return sqlite3_result_null(ctx);
  std::string s = argText(a[0]), r;
  // Reverse by characters so multi-byte UTF-8 sequences stay whole.
  size_t i = s.size();
  while (i > 0) {
    size_t j = i - 1;
    while (j > 0 && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) --j;
    r += s.substr(j, i - j);
    i = j;
  }
  resultText(ctx, r);
}

// right(expr, n): the last n characters.
void rightFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    std::string s = argText(a[0]);
    int64_t n = argInt(a[1], "right");
    if (n <= 0) return sqlite3_result_null(ctx);
    size_t chars = utf8Length(s);
    size_t skip = static_cast<int64_t>(chars) > n ? chars - static_cast<size_t>(n) : 0;
    resultText(ctx, s.substr(utf8Offset(s, skip)));
  });
}

// str_replace(s, pattern, replacement): every occurrence of pattern, left to right and not
// overlapping, becomes replacement; a NULL replacement cuts the pattern out. NULL when s or the
// pattern is NULL. Binary arguments give a binary result.
void strReplaceFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0]) || argNull(a[1])) return sqlite3_result_null(ctx);
    std::string s = argText(a[0]), pattern = argText(a[1]);
    std::string replacement = argNull(a[2]) ? std::string() : argText(a[2]);
    std::string out;
    if (pattern.empty()) {
      out = s;
    } else {
      size_t from = 0;
      for (size_t at; (at = s.find(pattern, from)) != std::string::npos; from = at + pattern.size())
        out += s.substr(from, at - from) + replacement;
      out += s.substr(from);
    }
    if (static_cast<int64_t>(out.size()) > kMaxStringBytes) out.resize(static_cast<size_t>(kMaxStringBytes));
    if (sqlite3_value_type(a[0]) == SQLITE_BLOB) {
      if (out.empty()) return sqlite3_result_null(ctx);
      return sqlite3_result_blob(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
    }
    resultText(ctx, out);
  });
}

// hextoint('0x1F'): the int a string of up to 8 hex digits stands for, "0x" optional, read as a
// 32-bit value ('FFFFFFFF' is -1); NULL for anything else.
void hexToIntFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    std::string s = argText(a[0]);
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    if (b == std::string::npos) return sqlite3_result_null(ctx);
    s = s.substr(b, e - b + 1);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    size_t digits = s.find_first_not_of('0');
    if (digits == std::string::npos) return sqlite3_result_int64(ctx, 0);
    if (s.size() - digits > 8) return sqlite3_result_null(ctx);
    uint32_t v = 0;
    for (char c : s) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return sqlite3_result_null(ctx);
      v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                             ? c - '0'
                                             : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    sqlite3_result_int64(ctx, static_cast<int32_t>(v));
  });
}

// inttohex(n): the 8 upper-case hex digits of n as a 32-bit value, without "0x".
void intToHexFn(sqlite3_context* ctx, int, sqlite3_value** a) {
  guarded(ctx, [&] {
    if (argNull(a[0])) return sqlite3_result_null(ctx);
    auto v = static_cast<uint32_t>(argInt(a[0], "inttohex"));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", v);
    resultText(ctx, buf);
  });
}

}  // namespace

int registerStringFunctions(sqlite3* db) {
  struct Def {
    const char* name;
    int nargs;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Def kDefs[] = {
      {"t_substring", 3, substringFn},
      {"t_char_length", 1, charLengthFn},
      {"t_datalength", 1, dataLengthFn},
      {"t_upper", 1, caseFn<std::toupper>},
      {"t_lower", 1, caseFn<std::tolower>},
      {"t_ltrim", 1, ltrimFn},
      {"t_rtrim", 1, rtrimFn},
      {"t_trim", 1, trimFn},
      {"t_space", 1, spaceFn},
      {"t_replicate", 2, replicateFn},
      {"t_ascii", 1, asciiFn},
      {"t_char", 1, charFn},
      {"t_stuff", 4, stuffFn},
      {"t_charindex", 2, charindexFn},
      {"t_charindex", 3, charindexFn},
      {"t_patindex", 2, patindexFn},
      {"t_reverse", 1, reverseFn},
      {"t_soundex", 1, soundexFn},
      {"t_difference", 2, differenceFn},
      {"t_right", 2, rightFn},
      {"t_str_replace", 3, strReplaceFn},
      {"t_hextoint", 1, hexToIntFn},
      {"t_inttohex", 1, intToHexFn},
  };
  for (const Def& d : kDefs) {
    if (int rc = define(db, d.name, d.nargs, d.fn); rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

}  // namespace tabsrv::fn
