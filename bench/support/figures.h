// Timing and printing shared by the benchmark programs: a steady clock, figures gathered over
// rounds with their min, median and max, two measures taken alternately and printed with their
// ratio, the CPU time and memory of a thread or process, and the machine's load average.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tabbench {

using Clock = std::chrono::steady_clock;

// Seconds of wall time since Start.
double secondsSince(Clock::time_point start);

// Values of one measure, one per round.
struct Figures {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  bool empty() const { return values.empty(); }
  // Of an empty set, 0.
  double min() const;
  double max() const;
  // The middle value; of an even count, the upper of the two middle ones.
  double median() const;
};

// Prints "Label min X  median Y  max Z" with Decimals digits after the point, the label padded
// to LabelWidth, then Suffix (a unit or a note) as given.
void printFigures(const std::string& label, const Figures& f, int decimals, int labelWidth = 0,
                  const std::string& suffix = std::string());

// What compare() measured: ours, the reference and ours/reference, one value per round.
struct Comparison {
  Figures ours, reference, ratio;
};

// Runs Ours and Reference alternately Rounds times, each returning a rate (higher is better), and
// prints both with min, median and max and the ratio ours/reference under Name; Unit names the
// rate, ReferenceName the reference.
Comparison compare(const std::string& name, const std::string& unit, int rounds, const std::function<double()>& ours,
                   const std::function<double()>& reference, const std::string& referenceName);

// CPU time of the calling thread so far, in seconds.
double threadCpuSeconds();
// User plus system CPU time of process Pid so far, in seconds (clock-tick resolution, 10 ms here).
double processCpuSeconds(pid_t pid);
// Resident memory of process Pid now and at its peak, in kilobytes; 0 when it cannot be read.
long residentKilobytes(pid_t pid);
long peakResidentKilobytes(pid_t pid);

// The three load averages of the machine as /proc/loadavg gives them ("0.52 0.61 0.70").
std::string loadAverage();
// Prints "load average at the end: ..." and flushes: a figure is read against the load it ran under.
void printLoadAverage();

}  // namespace tabbench
