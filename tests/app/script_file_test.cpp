// Script files keep their bytes: each encoding and line-end style read and written back byte
// for byte, by the rules alone and through the window's Open and Save; typed characters
// written in the file's own encoding; a file that is not text opens with a warning and is
// never written over without asking.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include "access/QorixDatabase.h"
#include "app/ScriptFile.h"
#include "app/u_main.h"
#include "tests/app/app_support.h"

namespace {

struct FileCase {
  const char* name;
  QByteArray bytes;
  TScriptFormat::TEncoding encoding;
  bool bom, crlf;
  QString text;  // as the editor shows it
};

const std::vector<FileCase>& Cases() {
  static const std::vector<FileCase> cases = {
      {"latin1_lf", QByteArray("select 'caf\xE9'\ngo\n"), TScriptFormat::Cp1252, false, false,
       QString::fromUtf8("select 'café'\ngo\n")},
      {"cp1252_crlf", QByteArray("print '\x93\x80 5\x94'\r\nprint '\x81\x8D\x8F\x90\x9D\xFF'\r\n"), TScriptFormat::Cp1252,
       false, true, QString::fromUtf8("print '“€ 5”'\nprint '\u0081\u008D\u008F\u0090\u009Dÿ'\n")},
      {"utf8_lf", QByteArray("select 'caf\xC3\xA9 \xE2\x82\xAC'\n"), TScriptFormat::Utf8, false, false,
       QString::fromUtf8("select 'café €'\n")},
      {"utf8_bom_crlf", QByteArray("\xEF\xBB\xBFselect 1\r\ngo\r\nselect '\xC3\xA9'"), TScriptFormat::Utf8, true, true,
       QString::fromUtf8("select 1\ngo\nselect 'é'")},
      {"ascii_crlf_no_final_end", QByteArray("select 1\r\ngo"), TScriptFormat::Utf8, false, true,
       QStringLiteral("select 1\ngo")},
      {"empty", QByteArray(), TScriptFormat::Utf8, false, false, QString()},
      {"bom_then_latin1", QByteArray("\xEF\xBB\xBF" "caf\xE9"), TScriptFormat::Cp1252, false, false,
       QString::fromUtf8("ï»¿café")},
  };
  return cases;
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

TEST(ScriptFileTest, EachEncodingAndLineEndRoundTrips) {
  for (const FileCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const TScriptText t = scriptfile::Decode(c.bytes);
    EXPECT_EQ(t.Text, c.text);
    EXPECT_EQ(t.Format.Encoding, c.encoding);
    EXPECT_EQ(t.Format.ByteOrderMark, c.bom);
    EXPECT_EQ(t.Format.CrLf, c.crlf);
    EXPECT_FALSE(t.Format.Binary);
    EXPECT_TRUE(t.Warning.isEmpty());
    QByteArray back;
    ASSERT_TRUE(scriptfile::Encode(t.Text, t.Format, back));
    EXPECT_EQ(back.toHex(' '), c.bytes.toHex(' '));
  }
  // Every byte but NUL comes back through Windows-1252.
  QByteArray all;
  for (int b = 1; b < 256; ++b) all += char(b);
  QByteArray back;
  ASSERT_TRUE(scriptfile::ToCp1252(scriptfile::FromCp1252(all), back));
  EXPECT_EQ(back, all);
  QString what;
  EXPECT_FALSE(scriptfile::ToCp1252(QString::fromUtf8("a → b"), back, &what));
  EXPECT_EQ(what, QStringLiteral("\"→\" (U+2192)"));
  // Mixed line ends and NUL bytes are said, not hidden.
  EXPECT_TRUE(scriptfile::Decode("a\r\nb\nc\r\n").Format.MixedLineEnds);
  EXPECT_FALSE(scriptfile::Decode("a\r\nb\nc\r\n").Warning.isEmpty());
  EXPECT_TRUE(scriptfile::Decode(QByteArray("ab\0cd", 5)).Format.Binary);
}

TEST(ScriptFileTest, OpenThenSaveInTheWindowKeepsEveryByte) {
  QTemporaryDir dir;
  TRecordingUiServices ui;
  apptest::SaLogin login;
  Tf_main w(dir.filePath("Tabulon.ini"));
  w.show();
  w.Action("a_servers_connect")->trigger();
  ASSERT_TRUE(w.Model().db().Connected());
  QStringList questions;
  bool answer = false;
  w.Confirm = [&](const QString& q) {
    questions << q;
    return answer;
  };

  for (const FileCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(QString::fromLatin1(c.name) + ".sql");
    Write(path, c.bytes);
    ASSERT_TRUE(GuardedCall([&] { w.OpenScript(path); }));
    EXPECT_EQ(w.editor()->toPlainText(), c.text);
    w.Action("a_sql_save")->trigger();
    EXPECT_EQ(Read(path).toHex(' '), c.bytes.toHex(' '));
  }
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_TRUE(ui.Events(TRecordingUiServices::Event::kMessageBox).empty());

  // A character typed into a Windows-1252 script is written as its one byte.
  const QString latin = dir.filePath("latin1_lf.sql");
  ASSERT_TRUE(GuardedCall([&] { w.OpenScript(latin); }));
  w.editor()->setPlainText(QString::fromUtf8("select 'déjà vu'\ngo\n"));
  w.Action("a_sql_save")->trigger();
  EXPECT_EQ(Read(latin), QByteArray("select 'd\xE9j\xE0 vu'\ngo\n"));
  // One the set cannot hold asks first: No keeps the file, Yes writes UTF-8.
  w.editor()->setPlainText(QString::fromUtf8("select 'a → b'\n"));
  answer = false;
  w.Action("a_sql_save")->trigger();
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].contains(QStringLiteral("U+2192")));
  EXPECT_EQ(Read(latin), QByteArray("select 'd\xE9j\xE0 vu'\ngo\n"));
  answer = true;
  w.Action("a_sql_save")->trigger();
  EXPECT_EQ(Read(latin), QByteArray("select 'a \xE2\x86\x92 b'\n"));
  EXPECT_EQ(w.ScriptFormat().Encoding, TScriptFormat::Utf8);

  // A 4,000-byte file with NUL bytes: a warning at open, and Save asks before writing over it.
  questions.clear();
  QByteArray binary;
  for (int i = 0; i < 4000; ++i) binary += char(i % 256);
  const QString bin = dir.filePath("picture.sql");
  Write(bin, binary);
  ui.Clear();
  ASSERT_TRUE(GuardedCall([&] { w.OpenScript(bin); }));
  const auto warnings = ui.Events(TRecordingUiServices::Event::kMessageBox);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].icon, TMsgBoxIcon::Warning);
  EXPECT_TRUE(warnings[0].text.contains(QStringLiteral("not a text file")));
  answer = false;
  w.Action("a_sql_save")->trigger();
  ASSERT_EQ(questions.size(), 1);
  EXPECT_EQ(Read(bin), binary);
  w.Action("a_servers_disconnect")->trigger();
}
