// TSystemInfo: the operating system, user, computer, folders, memory and processor the about
// box shows, read on Linux from uname, sysinfo, sysconf, the host name and the password
// database. The processor facts are detected once per process (GetArchitecture).
#pragma once

#include <QString>

namespace GetArchitecture {
// The architecture and processor texts for an architecture code (0 Intel, 1 MIPS, 2 Alpha,
// 3 PPC, 65535 unknown) and a processor type (386, 486, 586).
void DescribeProcessor(int architectureCode, int processorType, QString& architecture, QString& processor);
// The architecture code and processor type of a uname machine name ("x86_64" is 0 and 586).
void MachineCodes(const QString& machine, int& architectureCode, int& processorType);
// The processor's name as the kernel reports it in /proc/cpuinfo ("model name", or
// "Processor", "cpu model" or "cpu" where an architecture names it so); empty when none.
QString CpuModelName(const QString& cpuinfo);
// The whole text of a /proc file (empty when it cannot be read).
QString ReadProcFile(const char* path);
// The process-wide values, detected at first use; the processor text is the kernel's name of
// the processor, or the table's text where the kernel names none.
const QString& Architecture();
const QString& ProcessorType();
int NumberOfProcessors();
}  // namespace GetArchitecture

// The system information component.
class TSystemInfo {
 public:
  // Reads the version, platform, user and processor facts.
  TSystemInfo();

  QString MajorVersion, MinorVersion, BuildNumber;  // from the kernel release ("6.1.0-18")
  QString Platform;                                 // the kernel name ("Linux")
  QString Maintenance;                              // the kernel version text, at most 128 characters
  QString RegUserName, RegCompanyName;              // full name from the password database; ORGANIZATION
  QString Architecture, ProcessorType;
  int NumberOfProcessors = 0;

  // Read on each access; "Unknown" when the call fails.
  QString ComputerName() const;
  QString NetworkUserName() const;
  // The folders standing in for the system, Windows and temporary directories.
  QString SystemDirectory() const;
  QString WindowsDirectory() const;
  QString TempDirectory() const;
  // Memory in KB (bytes shifted right by 10), read on each access; the available physical
  // memory is the kernel's MemAvailable (free memory plus what caches would give back).
  qint64 TotalPhysMemory() const;
  qint64 AvailPhysMemory() const;
  qint64 TotalSwapMemory() const;
  qint64 AvailSwapMemory() const;

  // The "MemAvailable" of a /proc/meminfo text in KB (what Linux can give to programs without
  // swapping), -1 when it has none.
  static qint64 MemAvailableKb(const QString& meminfo);
  // Splits a kernel release into major, minor and the rest ("6.1.0-18-amd64" → 6, 1, "0-18-amd64").
  static void SplitRelease(const QString& release, QString& major, QString& minor, QString& build);
  // The about box's system line.
  QString OsText() const;
};
