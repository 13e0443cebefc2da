// The dialogs' state classes and the system information: export codes, the open dialog's
// rules on a real folder, the processor table and the kernel release split.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/DialogStates.h"
#include "app/SystemInfo.h"

TEST(ExportStateTest, CodesAndDelimiter) {
  struct Case { TExportState::TFormat format; int code; int gridCode; };
  for (const Case& c : {Case{TExportState::Fixed, 1, 0}, Case{TExportState::Tab, 2, 1}, Case{TExportState::Char, 3, 5},
                        Case{TExportState::Html, 4, 6}, Case{TExportState::Comma, 5, 2}}) {
    TExportState s;
    s.Check(c.format);
    EXPECT_EQ(s.DelimiterEnabled(), c.format == TExportState::Char);
    s.Ok();
    EXPECT_EQ(s.FormatCode, c.code);
    EXPECT_EQ(TExportState::GridExportCode(s.FormatCode), c.gridCode);
  }
  TExportState s;
  s.Check(TExportState::Html);
  s.Cancel();
  EXPECT_EQ(s.FormatCode, 0);
  EXPECT_EQ(TExportState::GridExportCode(0), -1);
  s.SetDelimiter(QStringLiteral("|||||||||||||"));
  EXPECT_EQ(s.Delimiter.size(), 10);
}

TEST(OpenDialogStateTest, OpenFiltersChoosesAndMoves) {
  QTemporaryDir dir;
  QFile(dir.filePath("a.sql")).open(QIODevice::WriteOnly);
  QFile(dir.filePath("b.txt")).open(QIODevice::WriteOnly);
  QDir(dir.path()).mkdir("sub");
  TOpenDialogState s(dir.path());
  EXPECT_EQ(s.Filter, QStringLiteral("*.sql"));
  EXPECT_EQ(s.Entries(), (QStringList{"sub", "a.sql"}));

  s.FileNameText = QStringLiteral("*.txt");
  EXPECT_FALSE(s.Open());
  EXPECT_FALSE(s.Chosen);
  EXPECT_EQ(s.Entries(), (QStringList{"sub", "b.txt"}));

  s.FileNameText = QStringLiteral("b.txt");
  EXPECT_TRUE(s.Open());
  EXPECT_EQ(s.FileName, QDir(dir.path()).filePath("b.txt"));

  s.FileNameText = QStringLiteral("sub");
  EXPECT_FALSE(s.Open());
  EXPECT_TRUE(s.SelectText);
  EXPECT_EQ(s.Folder, QDir(dir.path()).filePath("sub"));
  s.UpOneLevel();
  EXPECT_EQ(s.Folder, QDir(dir.path()).absolutePath());

  s.FileNameText = QStringLiteral("missing.sql");
  EXPECT_FALSE(s.Open());
  EXPECT_TRUE(s.FileName.isEmpty());
  EXPECT_FALSE(s.Choose(dir.filePath("sub")));
  EXPECT_TRUE(TOpenDialogState::Previewable("x.SQL"));
  EXPECT_FALSE(TOpenDialogState::Previewable("x.exe"));
}

TEST(SystemInfoTest, ProcessorTable) {
  struct Case { int code; int type; const char* arch; const char* proc; };
  const Case cases[] = {{0, 586, "Intel Processor Architecture", "Pentium"},
                        {0, 486, "Intel Processor Architecture", "80486"},
                        {0, 386, "Intel Processor Architecture", "80386"},
                        {0, 686, "Intel Processor Architecture", "Unknown"},
                        {1, 0, "MIPS Processor Architecture", "Unknown"},
                        {2, 0, "DEC ALPHA Processor Architecture", "Unknown"},
                        {3, 0, "PPC Processor Architecture", "Unknown"},
                        {65535, 0, "Unknown Processor Architecture", "Unknown"},
                        {7, 586, "", "Unknown"}};
  for (const Case& c : cases) {
    QString arch, proc;
    GetArchitecture::DescribeProcessor(c.code, c.type, arch, proc);
    EXPECT_EQ(arch, QString::fromLatin1(c.arch)) << c.code;
    EXPECT_EQ(proc, QString::fromLatin1(c.proc)) << c.code;
  }
  int code = -1, type = -1;
  GetArchitecture::MachineCodes("x86_64", code, type);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(type, 586);
  GetArchitecture::MachineCodes("aarch64", code, type);
  EXPECT_EQ(code, 65535);
}

TEST(SystemInfoTest, ProcessorNameAndAvailableMemoryFromTheKernel) {
  struct Cpu { const char* name; const char* cpuinfo; const char* model; };
  const Cpu cpus[] = {
      {"x86", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel\t\t: 85\n"
              "model name\t: Intel(R) Xeon(R) Gold 6148 CPU @ 2.40GHz\nflags\t\t: fpu\n",
       "Intel(R) Xeon(R) Gold 6148 CPU @ 2.40GHz"},
      {"old arm", "Processor\t: ARMv7 Processor rev 4 (v7l)\nprocessor\t: 0\n", "ARMv7 Processor rev 4 (v7l)"},
      {"mips", "system type\t\t: MT7621\ncpu model\t\t: MIPS 1004Kc V2.15\n", "MIPS 1004Kc V2.15"},
      {"power", "processor\t: 0\ncpu\t\t: POWER9 (architected), altivec supported\n",
       "POWER9 (architected), altivec supported"},
      {"arm64 without a name", "processor\t: 0\nBogoMIPS\t: 50.00\nCPU implementer\t: 0x41\n", ""},
      {"empty", "", ""},
  };
  for (const Cpu& c : cpus) EXPECT_EQ(GetArchitecture::CpuModelName(c.cpuinfo), QString::fromLatin1(c.model)) << c.name;
  EXPECT_EQ(TSystemInfo::MemAvailableKb("MemTotal:       16314060 kB\nMemFree:          512000 kB\n"
                                        "MemAvailable:   9876543 kB\nBuffers:          1024 kB\n"),
            9876543);
  EXPECT_EQ(TSystemInfo::MemAvailableKb("MemTotal: 1000 kB\nMemFree: 10 kB\n"), -1);

  // On this machine: the kernel's own name of the processor, and memory available beyond the free.
  QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
  ASSERT_TRUE(cpuinfo.open(QIODevice::ReadOnly));
  const QString name = GetArchitecture::CpuModelName(QString::fromLocal8Bit(cpuinfo.readAll()));
  TSystemInfo info;
  if (!name.isEmpty()) EXPECT_EQ(info.ProcessorType, name);
  QFile meminfo(QStringLiteral("/proc/meminfo"));
  ASSERT_TRUE(meminfo.open(QIODevice::ReadOnly));
  const qint64 available = TSystemInfo::MemAvailableKb(QString::fromLocal8Bit(meminfo.readAll()));
  ASSERT_GT(available, 0);
  EXPECT_LT(std::abs(info.AvailPhysMemory() - available), info.TotalPhysMemory() / 20);
}

TEST(SystemInfoTest, LinuxSources) {
  QString major, minor, build;
  TSystemInfo::SplitRelease("6.1.0-18-amd64", major, minor, build);
  EXPECT_EQ(major, "6");
  EXPECT_EQ(minor, "1");
  EXPECT_EQ(build, "0-18-amd64");
  TSystemInfo info;
  EXPECT_EQ(info.Platform, QStringLiteral("Linux"));
  EXPECT_TRUE(info.OsText().startsWith(QStringLiteral("Linux ") + info.MajorVersion + "." + info.MinorVersion + " (Build "));
  EXPECT_GT(info.TotalPhysMemory(), 0);
  EXPECT_LE(info.AvailPhysMemory(), info.TotalPhysMemory());
  EXPECT_GE(info.NumberOfProcessors, 1);
  EXPECT_FALSE(info.ComputerName().isEmpty());
  EXPECT_NE(info.NetworkUserName(), QStringLiteral("Unknown"));
  EXPECT_LE(info.Maintenance.size(), 128);
}

TEST(CalculatorStateTest, KeySequences) {
  struct Case { const char* keys; const char* display; };
  // Keys separated by blanks; "±" flips the sign, "<" takes the last digit back.
  const Case cases[] = {
      {"1 2 + 3 =", "15"},
      {"2 + 3 * 4 =", "20"},          // applied left to right, as the keys come
      {"1 0 / 4 =", "2.5"},
      {"7 / 0 =", "Error"},           // no crash, no infinity on the display
      {"7 / 0 = 5 + 1 =", "Error"},   // an error holds until C
      {"7 / 0 = C 5 + 1 =", "6"},
      {". 5 + . 2 5 =", "0.75"},
      {"1 . . 5", "1.5"},             // a second point is ignored
      {"4 ±", "-4"},
      {"4 ± ±", "4"},
      {"1 2 3 <", "12"},
      {"5 <", "0"},
      {"9 - 1 0 =", "-1"},
      {"2 + + 3 =", "5"},             // a repeated operator replaces the pending one
      {"0 0 0 7", "7"},
  };
  for (const Case& c : cases) {
    TCalculatorState s;
    for (const QString& k : QString::fromUtf8(c.keys).split(QLatin1Char(' '))) s.Press(k);
    EXPECT_EQ(s.Display, QString::fromUtf8(c.display)) << c.keys;
  }
}

TEST(DesktopStateTest, ViewsFolderAndFileClipboard) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("a");
  QDir(dir.path()).mkdir("b");
  const QString a = dir.filePath("a"), b = dir.filePath("b");
  for (const char* name : {"one.sql", "two.sql"}) {
    QFile f(QDir(a).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(name);
  }
  TDesktopState s(a);
  EXPECT_EQ(s.Checked, TDesktopState::vwDetails);
  s.ChooseView(TDesktopState::vwLargeIcons);
  s.ChooseView(TDesktopState::vwList);  // no effect
  EXPECT_EQ(s.Checked, TDesktopState::vwLargeIcons);
  EXPECT_EQ(s.Style, TDesktopState::vwLargeIcons);
  s.ChooseView(TDesktopState::vwDetails);
  EXPECT_EQ(s.Checked, TDesktopState::vwDetails);

  s.UpOneLevel();
  EXPECT_EQ(s.Folder, QDir(dir.path()).absolutePath());

  // Copy then paste into b: both files there, the originals kept, the buttons enabled again.
  s.CopyFiles({QDir(a).filePath("one.sql"), QDir(a).filePath("two.sql")});
  EXPECT_FALSE(s.CopyEnabled);
  EXPECT_TRUE(s.CutEnabled);
  s.Folder = b;
  EXPECT_TRUE(s.Paste().isEmpty());
  EXPECT_TRUE(s.CopyEnabled);
  EXPECT_TRUE(QFile::exists(QDir(b).filePath("one.sql")));
  EXPECT_TRUE(QFile::exists(QDir(a).filePath("one.sql")));
  // A second paste finds both names taken: nothing is overwritten, both are reported.
  EXPECT_EQ(s.Paste(), (QStringList{"one.sql", "two.sql"}));

  // Cut moves; the file in the target is never replaced by one of the same name.
  QFile keep(QDir(b).filePath("two.sql"));
  ASSERT_TRUE(keep.open(QIODevice::WriteOnly | QIODevice::Truncate));
  keep.write("kept");
  keep.close();
  s.CutFiles({QDir(a).filePath("two.sql")});
  EXPECT_FALSE(s.CutEnabled);
  EXPECT_EQ(s.Paste(), QStringList{"two.sql"});
  QFile check(QDir(b).filePath("two.sql"));
  ASSERT_TRUE(check.open(QIODevice::ReadOnly));
  EXPECT_EQ(check.readAll(), QByteArray("kept"));
  EXPECT_TRUE(QFile::exists(QDir(a).filePath("two.sql")));
  s.Folder = dir.path();
  s.CutFiles({QDir(a).filePath("two.sql")});
  EXPECT_TRUE(s.Paste().isEmpty());
  EXPECT_FALSE(QFile::exists(QDir(a).filePath("two.sql")));
  EXPECT_TRUE(QFile::exists(dir.filePath("two.sql")));
}
