// The clinic-demo command: DIR [--scale small|busy]
//
// Fills an empty folder with a year of the centre's work (the year 2010):
// the catalogue, the users, the admissions with their charge tables, the
// twelve monthly outpatient tables and the bills' postings. Copy the
// program into the folder and start it there to see the year in every
// window and report. A folder that already holds tables is refused.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "db/changes.h"
#include "db/engine.h"
#include "demo/year.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: clinic-demo DIR [--scale small|busy]\n");
  return 2;
}

}  // namespace

int demo::commandMain(int argc, char** argv) {
  std::string dir;
  demo::Scale scale = demo::Scale::kSmall;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
      const std::string s = argv[++i];
      if (s == "small") scale = demo::Scale::kSmall;
      else if (s == "busy") scale = demo::Scale::kBusy;
      else return usage();
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

  const demo::Year year = demo::makeYear(scale);
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
  std::printf("%s: the year %d (%s): %zu catalogue records, %zu admissions, %zu outpatient lines "
              "in %zu prescriptions\n",
              dir.c_str(), year.year, demo::scaleName(scale), year.catalogue.size(),
              year.admissions.size(), outpatientLines, year.prescriptions.size());
  return 0;
}
