// Timing, figures over rounds and their printing for the benchmark programs.
#include "bench/support/figures.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tabbench {

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Figures::min() const { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }

double Figures::max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }

double Figures::median() const {
  if (values.empty()) return 0;
  std::vector<double> v = values;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void printFigures(const std::string& label, const Figures& f, int decimals, int labelWidth, const std::string& suffix) {
  std::printf("%-*s min %12.*f  median %12.*f  max %12.*f%s\n", labelWidth, label.c_str(), decimals, f.min(),
              decimals, f.median(), decimals, f.max(), suffix.c_str());
}

void printComparison(const std::string& name, const std::string& unit, const Comparison& c,
                     const std::string& referenceName, int decimals, const std::string& note) {
  const int width = std::max(10, static_cast<int>(name.size()));
  std::printf("%-*s %-9s ours   min %12.*f  median %12.*f  max %12.*f%s%s\n", width, name.c_str(), unit.c_str(),
              decimals, c.ours.min(), decimals, c.ours.median(), decimals, c.ours.max(), note.empty() ? "" : "   ",
              note.c_str());
  std::printf("%-*s %-9s %-6.6s min %12.*f  median %12.*f  max %12.*f\n", width, "", unit.c_str(),
              referenceName.c_str(), decimals, c.reference.min(), decimals, c.reference.median(), decimals,
              c.reference.max());
  std::printf("%-*s ratio ours/%s  min %.3f  median %.3f  max %.3f\n\n", width, "", referenceName.c_str(),
              c.ratio.min(), c.ratio.median(), c.ratio.max());
  std::fflush(stdout);
}

Comparison compare(const std::string& name, const std::string& unit, int rounds, const std::function<double()>& ours,
                   const std::function<double()>& reference, const std::string& referenceName) {
  Comparison c;
  for (int i = 0; i < rounds; ++i) {
    const double x = ours();  // ours runs first in each round, then the reference
    c.add(x, reference());
  }
  printComparison(name, unit, c, referenceName);
  return c;
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processCpuSeconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  // The command name in parentheses may hold spaces; the fields are counted after it.
  const size_t close = all.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(all.substr(close + 1));
  std::string field;
  double utime = 0, stime = 0;
  // After the command name come the state (field 3) and, as fields 14 and 15, utime and stime.
  for (int n = 3; n <= 15 && rest >> field; ++n) {
    if (n == 14) utime = std::atof(field.c_str());
    if (n == 15) stime = std::atof(field.c_str());
  }
  return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

namespace {
// The kilobytes of the /proc/<pid>/status line starting with Key.
long statusKilobytes(pid_t pid, const char* key) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = key;
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  return 0;
}
}  // namespace

long residentKilobytes(pid_t pid) { return statusKilobytes(pid, "VmRSS:"); }

long peakResidentKilobytes(pid_t pid) { return statusKilobytes(pid, "VmHWM:"); }

int intArgument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

FigureList::FigureList(int argc, char** argv, int index) {
  if (argc > index) list_ = "," + std::string(argv[index]) + ",";
}

bool FigureList::wanted(const std::string& name) const {
  return list_.empty() || list_.find("," + name + ",") != std::string::npos;
}

bool FigureList::named(const std::string& name) const {
  return list_.find("," + name + ",") != std::string::npos;
}

void defaultToOffscreen() { setenv("QT_QPA_PLATFORM", "offscreen", 0); }

std::string loadAverage() {
  std::ifstream f("/proc/loadavg");
  std::string one, five, fifteen;
  if (!(f >> one >> five >> fifteen)) return "unknown";
  return one + " " + five + " " + fifteen;
}

void printLoadAverage() {
  std::printf("load average at the end: %s\n", loadAverage().c_str());
  std::fflush(stdout);
}

}  // namespace tabbench
