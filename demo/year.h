// A year of the centre's work, made up but consistent, for people who want
// to see the program at work and for the benchmarks that need realistic
// data: the catalogue with its stock, the users, the admissions with their
// charge tables, the twelve monthly outpatient tables and the postings the
// printed bills leave behind.
//
// The year is drawn from a fixed seed, so a scale always gives the same
// tables byte for byte; it is first made in memory (makeYear) and then
// written through the engine with the application's table definitions
// (writeYear).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace demo {

enum class Scale { kSmall, kBusy };

// The year every demo folder shows.
constexpr int kDemoYear = 2010;

// Texts are GBK, as the tables hold them.
struct Item {  // one catalogue record
  std::string dm, mch, bm, lb, bx, ph, gg;
  double shch = 0, yx = 0;
  std::string chd, dw;
  int32_t shl = 0;
  float jj = 0, xj = 0;
};

struct Line {  // one charge line; name, category, class, unit and price come from the item
  double shj = 0;    // day of use, 00:00
  int item = 0;      // catalogue record the line was charged from (0-based)
  int32_t shl = 0;   // quantity
  std::string cf;    // prescription number ("" for bed and heating days)
  int cashier = 0;   // index into Year::users
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
  Scale scale = Scale::kSmall;
  std::vector<Item> catalogue;   // in stored order
  std::vector<User> users;
  std::vector<std::string> doctors;  // the seven doctors, codes "01".."07" / "11".."17"
  std::vector<Admission> admissions;
  std::array<std::vector<Line>, 12> outpatient;  // m<year>1 .. m<year>12
  std::vector<Prescription> prescriptions;       // in the order they were billed
};

// The whole year in memory: the same scale always gives the same year.
Year makeYear(Scale scale);

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

// The clinic-demo command line: DIR [--scale small|busy]. Enters DIR (made
// when missing) as the working directory and writes the year there.
// Returns the exit status: 0 done, 1 refused or failed (said on standard
// error), 2 wrong usage.
int commandMain(int argc, char** argv);

// Text of a scale for messages: "small" or "busy".
const char* scaleName(Scale s);

}  // namespace demo
