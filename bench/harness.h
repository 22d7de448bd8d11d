// What the benchmarks share: rows of bench/run's table, timing, a scratch
// copy of a demo folder, and the real windows with every layer's commands
// offscreen, messages answered OK.
//
// A row goes to standard output as one tab-separated line
//   row <key> <what> <measured> <goal> <met>
// which bench/run collects into its table; everything else a benchmark
// prints is left out of the table.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/dialogs.h"

class QApplication;

namespace app {
struct TableDef;
}

namespace bench {

// The table `name` current, created with def's fields when missing; a
// table that cannot be made current ends the benchmark (defined in
// harness.cpp).
void makeCurrent(const std::string& name, const app::TableDef& def);

// Lets the window thread's message loop catch up (defined in harness.cpp).
void processEvents();

inline double nowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// CPU time of the calling thread: what the handler itself cost, whatever
// else the (shared) machine is doing.
inline double threadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// One timed run: wall-clock and CPU milliseconds.
struct Run {
  double wall = 0, cpu = 0;
};

template <typename F>
Run timeRun(F&& f) {
  const double w0 = nowMs(), c0 = threadCpuMs();
  f();
  return {nowMs() - w0, threadCpuMs() - c0};
}

// Times f in milliseconds (wall clock).
template <typename F>
double timeMs(F&& f) {
  return timeRun(f).wall;
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
inline double worst(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

inline void row(const std::string& key, const std::string& what, const std::string& measured, const std::string& goal,
                const std::string& met) {
  std::printf("row\t%s\t%s\t%s\t%s\t%s\n", key.c_str(), what.c_str(), measured.c_str(), goal.c_str(), met.c_str());
  std::fflush(stdout);
}

// A goal in milliseconds as the table shows it, and whether `ms` meets
// it; a goal of 0 is none (the row only shows the figure).
inline std::string goalText(double goalMs) {
  char goal[32] = "none set";
  if (goalMs > 0) std::snprintf(goal, sizeof goal, "<= %g ms", goalMs);
  return goal;
}
inline std::string metText(double ms, double goalMs) { return goalMs <= 0 ? "-" : ms <= goalMs ? "yes" : "NO"; }

// A handler time against a goal in milliseconds: the median wall-clock
// time of the runs is judged; the slowest run and the median CPU time of
// the window thread are shown beside it (on a busy machine the two part).
inline void rowMs(const std::string& key, const std::string& what, const std::vector<Run>& runs, double goalMs) {
  std::vector<double> wall, cpu;
  for (const Run& r : runs) {
    wall.push_back(r.wall);
    cpu.push_back(r.cpu);
  }
  char measured[128];
  std::snprintf(measured, sizeof measured, "%.1f ms (median of %zu, slowest %.1f; cpu %.1f)", median(wall), runs.size(),
                worst(wall), median(cpu));
  row(key, what, measured, goalText(goalMs), metText(median(wall), goalMs));
}

// --- a shared folder over the network -------------------------------------------------

// A network between the workstation and the folder: each file call costs
// one round trip, each byte read or written its wire time, and no client
// cache helps (the engine's byte-range locks switch it off).
struct Network {
  const char* key;   // added to a row's key: "" for the local disk
  const char* what;  // added to a row's text
  double roundTripMs;
  double nsPerByte;
};
// The local disk, 1 Gbit/s with 0.3 ms round trips, 100 Mbit/s with 0.5 ms,
// and Wi-Fi: 50 Mbit/s with 3 ms round trips.
const std::vector<Network>& networks();

// What a handler moved across the network: file calls and bytes.
struct Moved {
  long calls = 0;
  long long bytes = 0;
};

// The engine's file layer as a shared folder on `net`: every call through
// the POSIX layer delayed by the round trip and its bytes' wire time, and
// counted. Installed for the life of the object (the local disk installs
// nothing and only counts). Tables opened before must be closed first, so
// that they are opened again through it.
class SimulatedShare {
 public:
  explicit SimulatedShare(const Network& net);
  ~SimulatedShare();
  SimulatedShare(const SimulatedShare&) = delete;
  SimulatedShare& operator=(const SimulatedShare&) = delete;
  // Calls and bytes since the last take.
  Moved take();

 private:
  class Env;
  Env* env_;
};

// A handler row for one network: as rowMs, with the calls and bytes moved
// per action beside the time.
void rowOnNetwork(const Network& net, const std::string& key, const std::string& what, const std::vector<Run>& runs,
                  const Moved& moved, double goalMs);

// Times `f` until the message loop has caught up, adding the calls and
// bytes it moved to *moved.
template <typename F>
Run timedOn(SimulatedShare& share, Moved* moved, F&& f) {
  share.take();
  if (std::getenv("BENCH_TRACE")) std::fprintf(stderr, "-- timed action\n");
  const Run r = timeRun([&] {
    f();
    processEvents();
  });
  const Moved m = share.take();
  moved->calls += m.calls;
  moved->bytes += m.bytes;
  return r;
}

// A handler's row on network k of networks(): on the local disk as rowMs
// (the row bench/run has always had), over a network with what it moved.
// goals[k] is the goal on network k (0: none set).
void handlerRow(size_t k, const std::string& key, const std::string& what, const std::vector<Run>& runs,
                const Moved& moved, const double* goals);

// A row whose module has not landed: never a figure.
inline void rowNotBuilt(const std::string& key, const std::string& what, const std::string& goal) {
  row(key, what, "not built", goal, "-");
}

// A copy of `from` in a new directory under /tmp, removed by the caller.
inline std::filesystem::path scratchCopy(const std::filesystem::path& from) {
  char tmpl[] = "/tmp/clinic-bench.XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  std::filesystem::copy(from, tmpl, std::filesystem::copy_options::recursive);
  return tmpl;
}

// Answers every message box OK and keeps what was asked (GBK), so a
// benchmark sees when a handler says its module is not built.
class OkDialogs : public rt::Dialogs {
 public:
  std::vector<std::string> asked;
  int message(const std::string& text, const std::string&, uint32_t) override {
    asked.push_back(text);
    return rt::kOk;
  }
  bool askText(const std::string&, const std::string&, std::string*, bool) override { return false; }
  bool saveFile(const std::string&, const std::string&, std::string*) override { return false; }
};

// Confirmations answered OK, and 是 where a charge asks (a drug beyond its
// stock or past its expiry: the charge is made as the operator who says
// yes makes it); any other message ends the run.
class AnswerOk : public rt::Dialogs {
 public:
  int message(const std::string& text, const std::string& caption, uint32_t style) override;
  bool askText(const std::string&, const std::string&, std::string*, bool) override { return false; }
  bool saveFile(const std::string&, const std::string&, std::string*) override { return false; }
};

// Ends the run, naming `what` and the engine's last error, unless `ok`.
void check(bool ok, const char* what);

// The code of the working directory's catalogue's last record, the one the
// busy runs charge.
std::string lastCatalogueCode();

// A handler run and what it leaves for the message loop (a list handed to
// its model, repaints): the time until the window has caught up.
template <typename F>
Run timeCaughtUp(F&& f) {
  return timeRun([&] {
    f();
    processEvents();
  });
}

// Median and slowest of the runs, wall and CPU, as one line of the
// synthetic runs' output.
void printRuns(const char* what, const std::vector<Run>& runs);

// Whether a handler answered with the not-built text since the last call;
// every other message but `expectedGbk` (a confirmation the steps answer)
// is printed to standard error. Forgets the messages.
bool refusedAsNotBuilt(OkDialogs& dialogs, const std::string& expectedGbk = "");

// One QApplication on the offscreen platform, the program's handler tables,
// every layer's commands and its lock wait, the working directory at `dir`,
// messages answered by `dialogs`. Defined in harness.cpp.
QApplication& startWindows(const std::filesystem::path& dir, rt::Dialogs& dialogs);

// A new empty scratch folder under /tmp (ends the run when none can be made).
std::filesystem::path scratchDir();

// The synthetic catalogue of the benchmarks that make their own data:
// `drugs` items with codes D00000, D00001, ..., categories in turn, in
// "ypjbxx" of the working directory. Returns the last code (the one the
// benchmarks charge).
std::string makeCatalogue(int drugs);

// The text a module's unbuilt buttons answer with (GBK).
const std::string& notBuiltText();

}  // namespace bench
