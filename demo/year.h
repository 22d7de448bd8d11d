// A year of the centre's work, made up but consistent, for people who want
// to see the program at work and for the benchmarks that need realistic
// data: the catalogue with its stock, the users, the admissions with their
// charge tables, the monthly outpatient tables and the postings the
// printed bills leave behind.
//
// A year is either a whole year long past (the benchmarks' and the tests'
// 2010) or a year as of a day: its work stops on that day and the drug
// batches' expiry dates lie around it, so a folder made today looks like a
// centre at work today. The year is drawn from a fixed seed, so the same
// scale, year and day always give the same tables byte for byte; it is
// first made in memory (makeYear) and then written through the engine with
// the application's table definitions (writeYear).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace demo {

enum class Scale { kSmall, kBusy };

// The whole year the benchmarks and the tests work on.
constexpr int kDemoYear = 2010;

// In the first days of January the current year holds almost nothing to
// look at, so a folder made as of such a day shows the whole previous year.
constexpr int kEarlyJanuaryDays = 14;

// Texts are GBK, as the tables hold them.
struct Item {  // one catalogue record
  std::string dm, mch, bm, lb, bx, ph, gg;
  double shch = 0, yx = 0;
  std::string chd, dw;
  int32_t shl = 0;
  float jj = 0, xj = 0;
};

struct Line {       // one charge line; name, category, class, unit and price come from the item
  double shj = 0;   // day of use, 00:00
  int item = 0;     // catalogue record the line was charged from (0-based)
  int32_t shl = 0;  // quantity
  std::string cf;   // prescription number ("" for bed and heating days)
  int cashier = 0;  // index into Year::users
};

struct User {
  std::string name, password;
};

struct Admission {
  std::string xm, xb;
  int32_t nl = 0;
  std::string zh;
  double sj = 0;  // admission date and time
  std::string bz, zyh, ks, cwh;
  int doctor = 0;  // 0..6; ys is the doctor's name
  int32_t yfk = 0;
  std::vector<Line> lines;  // the patient's charge table, oldest first
  double billed = 0;        // day the bill was printed (the discharge); 0 = still in hospital
};

// An outpatient prescription: consecutive lines of its month's table, billed
// on the day they were charged.
struct Prescription {
  int month = 0;  // 1..12
  size_t first = 0, count = 0;
  double day = 0;
  std::string cf;
};

struct Year {
  int year = kDemoYear;
  // The day (00:00) the year is shown as of: nothing is admitted, charged,
  // billed or posted after it, and some drug batches have expired by then
  // or expire soon after. 0: the whole year, every batch as bought then.
  double asOf = 0;
  Scale scale = Scale::kSmall;
  std::vector<Item> catalogue;  // in stored order
  std::vector<User> users;
  std::vector<std::string> doctors;  // the seven doctors, codes "01".."07" / "11".."17"
  std::vector<Admission> admissions;
  std::array<std::vector<Line>, 12> outpatient;  // m<year>1 .. m<year>12
  std::vector<Prescription> prescriptions;       // in the order they were billed

  // The last day with work in it: 31 December, or the as-of day when it
  // falls in the year.
  double lastDay() const;
  // The months that have an outpatient table: 1 .. months() (the last
  // day's month); later months have none yet.
  int months() const;
};

// The year in memory: the same scale, year and day always give the same
// year. `asOf` (a date, 00:00, not before 1 January of `year`) dates it as
// of that day; 0 makes the whole year. makeYear(scale) is the year 2010
// the benchmarks and the tests know.
Year makeYear(Scale scale, int year = kDemoYear, double asOf = 0);

// The year a folder made as of `today` shows: today's, or the previous one
// in the first kEarlyJanuaryDays days of January.
int yearShownOn(double today);

// What writing a year left undone or found wrong; empty when all is done.
struct WriteResult {
  bool ok = false;
  std::string error;  // UTF-8, for the terminal
};

// Writes every table of the year into the working directory through the
// engine (whose commands must be registered). The directory must hold no
// table yet.
WriteResult writeYear(const Year& y);

// True when `dir` holds a table (a ".kdb" file, any case).
bool holdsTables(const std::string& dir);

// The clinic-demo command line: DIR [--scale small|busy] [--year YYYY].
// Enters DIR (made when missing) as the working directory and writes the
// year there: without --year the current year as of today (the clock of
// runtime/clock.h), with it that whole year.
// Returns the exit status: 0 done, 1 refused or failed (said on standard
// error), 2 wrong usage.
int commandMain(int argc, char** argv);

// Text of a scale for messages: "small" or "busy".
const char* scaleName(Scale s);

}  // namespace demo
