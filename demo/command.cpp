// The clinic-demo command: DIR [--scale small|busy] [--year YYYY]
//
// Fills an empty folder with a year of the centre's work: the catalogue,
// the users, the admissions with their charge tables, the monthly
// outpatient tables and the bills' postings. Start the program on the
// folder to see the year in every window and report. A folder that
// already holds tables is refused.
//
// Without --year the folder is a centre at work today: the current year
// from 1 January up to today (in the first two weeks of January, the
// whole previous year), nothing dated after today, and a few drug batches
// already expired or expiring soon, so the drug window's marks and the
// charge windows' expiry question show as they would. "Today" is the
// program's clock (runtime/clock.h), which tests can set. With --year the
// folder holds that whole year, the same bytes whatever the day: the
// benchmarks and the tests use 2010.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/expiry.h"
#include "db/changes.h"
#include "db/engine.h"
#include "demo/year.h"
#include "runtime/clock.h"
#include "runtime/convert.h"

namespace {

constexpr int kFirstYear = 2000, kLastYear = 2099;

const char kUsage[] = "usage: clinic-demo DIR [--scale small|busy] [--year YYYY]\n";

int usage() {
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

int help() {
  std::printf("%s", kUsage);
  std::printf(
      "\n"
      "Fills the empty folder DIR (made when missing) with a made-up year of the\n"
      "centre's work: the drug catalogue with its stock, the users, admissions\n"
      "with their charge tables, the monthly outpatient tables and the bills'\n"
      "postings. Start the program on the folder: clinic DIR.\n"
      "\n"
      "  --scale small  a quiet centre, a few hundred outpatient lines a month\n"
      "                 (the default)\n"
      "  --scale busy   20,000 outpatient lines a month, 5,000 catalogue items\n"
      "  --year YYYY    the whole year YYYY (%d-%d), the same tables whatever\n"
      "                 the day; the benchmarks use 2010\n"
      "\n"
      "Without --year the folder is dated to today: the current year from\n"
      "1 January to today, nothing admitted, charged or billed after today,\n"
      "and a few drug batches already expired or expiring within %d days. From\n"
      "1 to %d January, which would show almost nothing, it holds the whole\n"
      "previous year instead, its batches still dated around today. The same\n"
      "scale gives the same tables for the same day.\n"
      "\n"
      "A folder that already holds tables is refused and left as it is.\n"
      "Log in as demo, password demo.\n",
      kFirstYear, kLastYear, app::kExpiringDays, demo::kEarlyJanuaryDays);
  return 0;
}

// A four-digit year in the range the tables' names and numbers carry.
bool parseYear(const char* text, int& year) {
  if (std::strlen(text) != 4) return false;
  for (const char* c = text; *c; ++c)
    if (*c < '0' || *c > '9') return false;
  year = std::atoi(text);
  return year >= kFirstYear && year <= kLastYear;
}

}  // namespace

int demo::commandMain(int argc, char** argv) {
  std::string dir;
  demo::Scale scale = demo::Scale::kSmall;
  int wholeYear = 0;  // --year, or 0: as of today
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return help();
    } else if (std::strcmp(argv[i], "--year") == 0 && i + 1 < argc) {
      if (!parseYear(argv[++i], wholeYear)) return usage();
    } else if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
      const std::string s = argv[++i];
      if (s == "small")
        scale = demo::Scale::kSmall;
      else if (s == "busy")
        scale = demo::Scale::kBusy;
      else
        return usage();
    } else if (argv[i][0] == '-' || !dir.empty()) {
      return usage();
    } else {
      dir = argv[i];
    }
  }
  if (dir.empty()) return usage();

  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    std::fprintf(stderr, "clinic-demo: %s is not a folder that can be written\n", dir.c_str());
    return 1;
  }
  if (demo::holdsTables(dir)) {
    std::fprintf(stderr, "clinic-demo: %s already holds tables; choose an empty folder\n", dir.c_str());
    return 1;
  }
  std::filesystem::current_path(dir, ec);
  if (ec) {
    std::fprintf(stderr, "clinic-demo: cannot enter %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  db::registerDatabaseCommands();

  // Today from the program's clock, taken before the writing moves it.
  const double today = rt::dateOnly(rt::clockNow());
  const demo::Year year =
      wholeYear != 0 ? demo::makeYear(scale, wholeYear) : demo::makeYear(scale, demo::yearShownOn(today), today);
  const demo::WriteResult r = demo::writeYear(year);
  if (!r.ok) {
    std::fprintf(stderr, "clinic-demo: %s\n", r.error.c_str());
    return 1;
  }
  // A new folder's tables are as if never changed: no workstation keeps a
  // copy of them yet, and the folder is the same bytes each time it is made.
  db::closeAllDatabases();
  std::filesystem::remove(db::kChangeFileName, ec);
  size_t outpatientLines = 0;
  for (const auto& m : year.outpatient) outpatientLines += m.size();
  std::string asOf;
  if (year.asOf != 0) {
    const rt::DateParts d = rt::splitDateTime(year.asOf);
    char text[32];
    std::snprintf(text, sizeof text, " as of %04d-%02d-%02d", d.year, d.month, d.day);
    asOf = text;
  }
  std::printf(
      "%s: the year %d%s (%s): %zu catalogue records, %zu admissions, %zu outpatient lines "
      "in %zu prescriptions\n",
      dir.c_str(), year.year, asOf.c_str(), demo::scaleName(scale), year.catalogue.size(), year.admissions.size(),
      outpatientLines, year.prescriptions.size());
  return 0;
}
