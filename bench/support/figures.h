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
  // One round: both values and their ratio (0 when the reference is not above 0).
  void add(double oursValue, double referenceValue) {
    ours.add(oursValue);
    reference.add(referenceValue);
    ratio.add(referenceValue > 0 ? oursValue / referenceValue : 0);
  }
};

// Prints what was measured under Name: ours and the reference with min, median and max (Decimals
// digits after the point, Unit naming the measure) and the ratio ours/reference; Note follows
// the line of ours (a goal, say).
void printComparison(const std::string& name, const std::string& unit, const Comparison& c,
                     const std::string& referenceName, int decimals = 0, const std::string& note = std::string());

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

// Argument Index of the command line as a number, Fallback when it is absent.
int intArgument(int argc, char** argv, int index, int fallback);

// The figures a benchmark was asked for: argument Index of the command line as a comma-separated
// list of names, every figure when it is absent.
class FigureList {
 public:
  FigureList(int argc, char** argv, int index);
  bool wanted(const std::string& name) const;
  // Only when the list names it (a figure that does not run by default).
  bool named(const std::string& name) const;

 private:
  std::string list_;  // ",a,b," or empty for every figure
};

// Sets QT_QPA_PLATFORM to offscreen unless it is set, so a benchmark with widgets runs without a
// display; call it before the application object is made.
void defaultToOffscreen();

// The three load averages of the machine as /proc/loadavg gives them ("0.52 0.61 0.70").
std::string loadAverage();
// Prints "load average at the end: ..." and flushes: a figure is read against the load it ran under.
void printLoadAverage();

}  // namespace tabbench
