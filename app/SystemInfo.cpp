// TSystemInfo on Linux (see SystemInfo.h): uname, sysinfo, sysconf, /proc/cpuinfo and /proc/meminfo.
#include "app/SystemInfo.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>

namespace GetArchitecture {

void DescribeProcessor(int code, int type, QString& architecture, QString& processor) {
  processor = QStringLiteral("Unknown");
  architecture.clear();
  switch (code) {
    case 0:
      architecture = QStringLiteral("Intel Processor Architecture");
      if (type == 386) processor = QStringLiteral("80386");
      else if (type == 486) processor = QStringLiteral("80486");
      else if (type == 586) processor = QStringLiteral("Pentium");
      break;
    case 1: architecture = QStringLiteral("MIPS Processor Architecture"); break;
    case 2: architecture = QStringLiteral("DEC ALPHA Processor Architecture"); break;
    case 3: architecture = QStringLiteral("PPC Processor Architecture"); break;
    case 65535: architecture = QStringLiteral("Unknown Processor Architecture"); break;
    default: break;
  }
}

void MachineCodes(const QString& machine, int& code, int& type) {
  type = 0;
  if (machine == QLatin1String("i386")) code = 0, type = 386;
  else if (machine == QLatin1String("i486")) code = 0, type = 486;
  else if (machine.startsWith(QLatin1Char('i')) && machine.endsWith(QLatin1String("86"))) code = 0, type = 586;
  else if (machine == QLatin1String("x86_64")) code = 0, type = 586;  // what Windows reports for every later Intel processor
  else if (machine.startsWith(QLatin1String("mips"))) code = 1;
  else if (machine.startsWith(QLatin1String("alpha"))) code = 2;
  else if (machine.startsWith(QLatin1String("ppc"))) code = 3;
  else code = 65535;
}

QString CpuModelName(const QString& cpuinfo) {
  const QStringList lines = cpuinfo.split(QLatin1Char('\n'));
  for (const char* key : {"model name", "Processor", "cpu model", "cpu"}) {
    for (const QString& line : lines) {
      const int colon = line.indexOf(QLatin1Char(':'));
      if (colon < 0 || line.left(colon).trimmed() != QLatin1String(key)) continue;
      const QString value = line.mid(colon + 1).simplified();
      if (!value.isEmpty()) return value;
    }
  }
  return {};
}

QString ReadProcFile(const char* path) {
  QFile f(QString::fromLatin1(path));
  // /proc files report a size of 0: read until the end.
  return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

namespace {
struct Detected {
  QString architecture;
  QString processor = QStringLiteral("Unknown");
  int count = 0;
  Detected() {
    utsname u{};
    int code = 65535, type = 0;
    if (uname(&u) == 0) MachineCodes(QString::fromLocal8Bit(u.machine), code, type);
    DescribeProcessor(code, type, architecture, processor);
    const QString name = CpuModelName(ReadProcFile("/proc/cpuinfo"));
    if (!name.isEmpty()) processor = name;
    count = int(sysconf(_SC_NPROCESSORS_ONLN));
  }
};
const Detected& Get() {
  static const Detected d;
  return d;
}
}  // namespace

const QString& Architecture() { return Get().architecture; }
const QString& ProcessorType() { return Get().processor; }
int NumberOfProcessors() { return Get().count; }

}  // namespace GetArchitecture

void TSystemInfo::SplitRelease(const QString& release, QString& major, QString& minor, QString& build) {
  const QStringList parts = release.split(QLatin1Char('.'));
  major = parts.value(0);
  minor = parts.value(1);
  build = parts.size() > 2 ? parts.mid(2).join(QLatin1Char('.')) : QString();
}

TSystemInfo::TSystemInfo() {
  utsname u{};
  if (uname(&u) == 0) {
    SplitRelease(QString::fromLocal8Bit(u.release), MajorVersion, MinorVersion, BuildNumber);
    Platform = QString::fromLocal8Bit(u.sysname);
    Maintenance = QString::fromLocal8Bit(u.version).left(128);
  }
  RegUserName = QStringLiteral("Unknown user");
  if (const passwd* pw = getpwuid(geteuid())) {
    const QString gecos = QString::fromLocal8Bit(pw->pw_gecos).section(QLatin1Char(','), 0, 0).trimmed();
    if (!gecos.isEmpty()) RegUserName = gecos;
  }
  RegCompanyName = qEnvironmentVariable("ORGANIZATION", QStringLiteral("Unknown company"));
  Architecture = GetArchitecture::Architecture();
  ProcessorType = GetArchitecture::ProcessorType();
  NumberOfProcessors = GetArchitecture::NumberOfProcessors();
}

QString TSystemInfo::ComputerName() const {
  char buf[HOST_NAME_MAX + 1] = {0};
  if (gethostname(buf, sizeof buf - 1) != 0) return QStringLiteral("Unknown");
  return QString::fromLocal8Bit(buf);
}

QString TSystemInfo::NetworkUserName() const {
  if (const passwd* pw = getpwuid(geteuid())) return QString::fromLocal8Bit(pw->pw_name);
  return QStringLiteral("Unknown");
}

QString TSystemInfo::SystemDirectory() const { return QStringLiteral("/usr/lib"); }
QString TSystemInfo::WindowsDirectory() const { return QStringLiteral("/etc"); }
QString TSystemInfo::TempDirectory() const { return QDir::tempPath(); }

namespace {
qint64 Kb(unsigned long value, unsigned unit) { return qint64((static_cast<unsigned long long>(value) * unit) >> 10); }
}  // namespace

qint64 TSystemInfo::TotalPhysMemory() const {
  struct sysinfo s{};
  return sysinfo(&s) == 0 ? Kb(s.totalram, s.mem_unit) : 0;
}
qint64 TSystemInfo::MemAvailableKb(const QString& meminfo) {
  for (const QString& line : meminfo.split(QLatin1Char('\n'))) {
    if (!line.startsWith(QLatin1String("MemAvailable:"))) continue;
    bool ok = false;
    const qint64 kb = line.mid(13).simplified().section(QLatin1Char(' '), 0, 0).toLongLong(&ok);
    return ok ? kb : -1;
  }
  return -1;
}

qint64 TSystemInfo::AvailPhysMemory() const {
  const qint64 available = MemAvailableKb(GetArchitecture::ReadProcFile("/proc/meminfo"));
  if (available >= 0) return available;
  // Kernels before 3.14 have no MemAvailable: free memory and buffers then.
  struct sysinfo s{};
  return sysinfo(&s) == 0 ? Kb(s.freeram, s.mem_unit) + Kb(s.bufferram, s.mem_unit) : 0;
}
qint64 TSystemInfo::TotalSwapMemory() const {
  struct sysinfo s{};
  return sysinfo(&s) == 0 ? Kb(s.totalswap, s.mem_unit) : 0;
}
qint64 TSystemInfo::AvailSwapMemory() const {
  struct sysinfo s{};
  return sysinfo(&s) == 0 ? Kb(s.freeswap, s.mem_unit) : 0;
}

QString TSystemInfo::OsText() const {
  return Platform + QLatin1Char(' ') + MajorVersion + QLatin1Char('.') + MinorVersion + QStringLiteral(" (Build ") +
         BuildNumber + QStringLiteral(": ") + Maintenance + QLatin1Char(')');
}
