// SQL script files as the editors read and write them: a file is read as UTF-8 when it is valid
// UTF-8 (with or without its byte-order mark), else as Windows-1252, the 8-bit set of the
// scripts kept on the systems the program was made for; its line ends (LF or CR LF) are noted.
// Writing puts back the same encoding, mark and line ends, so a file opened and saved unchanged
// keeps every byte. A file holding NUL bytes is not text: it opens with a warning and is never
// written over without asking.
#pragma once

#include <QByteArray>
#include <QString>

// How a script file was stored.
struct TScriptFormat {
  enum TEncoding { Utf8, Cp1252 };
  TEncoding Encoding = Utf8;
  bool ByteOrderMark = false;  // UTF-8 opened by EF BB BF
  bool CrLf = false;           // lines end with CR LF
  bool Binary = false;         // the file held NUL bytes
  // The file mixed CR LF with bare LF or CR line ends: saving writes one kind.
  bool MixedLineEnds = false;
  bool operator==(const TScriptFormat&) const = default;
};

// A script file's text (lines ended by LF alone) and how it was stored.
struct TScriptText {
  QString Text;
  TScriptFormat Format;
  // Why the file may not come back byte for byte when saved (empty when it will).
  QString Warning;
};

namespace scriptfile {
// Reads a file's bytes.
TScriptText Decode(const QByteArray& bytes);
// The bytes of Text (LF line ends) stored as Format says. Characters that the encoding cannot
// hold make it return false with Unwritable naming the first of them.
bool Encode(const QString& text, const TScriptFormat& format, QByteArray& bytes, QString* unwritable = nullptr);
// Windows-1252 both ways; the five bytes the set leaves undefined map to U+0081, U+008D, U+008F,
// U+0090 and U+009D, so every byte comes back as it was.
QString FromCp1252(const QByteArray& bytes);
// False when a character has no Windows-1252 byte (Unwritable then names it).
bool ToCp1252(const QString& text, QByteArray& bytes, QString* unwritable = nullptr);
}  // namespace scriptfile
