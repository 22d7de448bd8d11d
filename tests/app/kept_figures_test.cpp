// Figures kept on the workstation's own disk (app/figures/kept_figures.h):
// on the small demo year, every report's figures taken from the disk are
// those read from the tables; a month another workstation changed (a line
// appended, a total changed in place) is read again and shows the change,
// an unchanged one reads no record; a damaged or foreign file is not used
// and is written anew; programs writing one file at once never leave it
// torn.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/figures/kept_figures.h"
#include "app/report/chart.h"
#include "app_fixture.h"
#include "counting_reads.h"
#include "demo/year.h"
#include "flaky_share.h"
#include "worker_process.h"

namespace {

namespace fs = std::filesystem;
namespace report = app::report;

rt::DateTime month(int m) { return rt::DateTime{rt::makeDateTime(2010, m, 15, 0, 0, 0)}; }

// A report's figures as one text: its case, every row's figures (text and
// fen), what reached only 合计, and the tables it could not read.
std::string shown(const report::ReportFigures& f) {
  std::string s = std::to_string(int(f.which)) + " " + std::to_string(f.withoutColumn.fen());
  for (const report::FilledRow& r : f.rows) {
    s += "\n" + std::to_string(r.place) + ":";
    for (const report::Figure& x : r.figures) s += " " + x.text() + "/" + std::to_string(x.fen());
  }
  for (const report::Unreadable& u : f.unreadable) s += "\nunreadable " + u.table + " " + std::to_string(u.code);
  return s;
}

// Every report of the year: the twelve monthly ones, the twelve per-doctor
// ones, the yearly one.
std::vector<std::string> everyReport() {
  std::vector<std::string> out;
  for (int m = 1; m <= 12; ++m) {
    out.push_back(shown(report::monthlyFigures(month(m))));
    out.push_back(shown(report::doctorFigures(month(m), month(m))));
  }
  out.push_back(shown(report::yearlyFigures(month(6))));
  return out;
}

class KeptFiguresTest : public apptest::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const demo::WriteResult w = demo::writeYear(demo::makeYear(demo::Scale::kSmall));
    db::closeAllDatabases();
    ASSERT_TRUE(w.ok) << w.error;
    char tmpl[] = "/tmp/apptest-figures.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    figures_ = tmpl;
    report::keepFiguresIn(figures_.string());
  }
  void TearDown() override {
    report::keepFiguresIn("");
    fs::remove_all(figures_);
    AppTest::TearDown();
  }

  // What `read` gives when nothing kept is taken or written.
  template <typename F>
  auto fresh(F read) {
    report::keepFiguresIn("");
    const auto s = read();
    db::closeAllDatabases();
    report::keepFiguresIn(figures_.string());
    return s;
  }
  static std::string monthly(int m) { return shown(report::monthlyFigures(month(m))); }
  // The file a table's figures are kept in.
  fs::path keptFile(const std::string& table) {
    std::ifstream in(dir_ / "centre.id");
    std::string id;
    std::getline(in, id);
    return figures_ / id / (table + ".fig");
  }
  // Bytes read from each table file by `step`, none but the tables' own
  // (no change file).
  std::map<std::string, long long> tableBytesOf(const std::function<void()>& step) {
    apptest::CountingReads counting;
    db::os::Env* previous = db::os::setEnv(&counting);
    step();
    db::closeAllDatabases();
    db::os::setEnv(previous);
    std::map<std::string, long long> out;
    for (const auto& [file, n] : counting.bytes)
      if (file.ends_with(".kdb") && fs::exists(file)) out[file] = n;
    return out;
  }

  fs::path figures_;
};

// A look at a table's state reads its header only.
constexpr long long kLookBytes = 24;

TEST_F(KeptFiguresTest, EveryReportFromTheDiskIsTheReportReadFromTheTables) {
  const std::vector<std::string> read = fresh(everyReport);
  EXPECT_EQ(everyReport(), read);  // read, and kept
  db::closeAllDatabases();
  std::vector<std::string> kept;
  const auto bytes = tableBytesOf([&] { kept = everyReport(); });
  EXPECT_EQ(kept, read);
  // Not a record read: only each table's header, once for each report
  // that names it (the year's bill table by every month's report).
  for (const auto& [file, n] : bytes) {
    EXPECT_LE(n, 25 * kLookBytes) << file;
    EXPECT_GT(fs::file_size(file), 10 * kLookBytes) << file;
  }
  // The same through the report window's preview: no more than a few
  // file calls for its two tables.
  apptest::FlakyShare share;
  share.arm(0);
  EXPECT_EQ(monthly(5), read[8]);
  EXPECT_LE(share.calls(), 12);
}

TEST_F(KeptFiguresTest, AMonthAnotherWorkstationChangedIsReadAgainAndNoOtherTable) {
  // The chart window's first opening reads each table once (the bill
  // table serves all twelve months).
  const auto first = tableBytesOf([] { (void)app::readYearFigures(month(6), month(6)); });
  for (const auto& [file, n] : first) EXPECT_LE(n, (long long)fs::file_size(file) + 1024) << file;
  ASSERT_TRUE(first.count("bz2010.kdb"));
  const std::string march = fresh([] { return monthly(3); }), april = fresh([] { return monthly(4); });

  // A line appended to March and a total changed in place in April (same
  // count, serial and length) at another workstation.
  for (const std::vector<std::string>& change : {std::vector<std::string>{"line", dir_, "m20103", "7.5", "01000001"},
                                                 std::vector<std::string>{"modify", dir_, "m20104", "2", "1000"}})
    ASSERT_EQ(apptest::finishWorker(apptest::startWorker(change, dir_ / "other.out")), 0);
  app::YearFigures after;
  const auto bytes = tableBytesOf([&] { after = app::readYearFigures(month(6), month(6)); });
  for (const auto& [file, n] : bytes) {
    if (file == "m20103.kdb" || file == "m20104.kdb")
      EXPECT_GE(n, (long long)fs::file_size(file) - 4096) << file << " read again";
    else
      EXPECT_LE(n, kLookBytes) << file << " not read";
  }
  for (int m : {3, 4, 5}) EXPECT_EQ(shown(after.months[size_t(m - 1)]), fresh([m] { return monthly(m); })) << m;
  EXPECT_NE(shown(after.months[2]), march);
  EXPECT_NE(shown(after.months[3]), april);
}

TEST_F(KeptFiguresTest, ADamagedOrForeignFileIsNotUsedAndIsWrittenAnew) {
  const std::string march = fresh([] { return monthly(3); });
  (void)report::monthlyFigures(month(3));
  (void)report::monthlyFigures(month(4));
  const fs::path file = keptFile("m20103");
  ASSERT_TRUE(fs::exists(file));
  std::ifstream in(file, std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t reading = whole.find("\nreading ");
  ASSERT_NE(reading, std::string::npos);
  // A figure changed behind the check sum (a digit of the first reading's
  // last figure), a file cut short, and April's file in March's place.
  std::string changed = whole;
  char& digit = changed[whole.find('\n', reading + 1) - 1];
  digit = digit == '9' ? '8' : char(digit + 1);
  const std::vector<std::function<void()>> damages = {
      [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << changed; },
      [&] { fs::resize_file(file, whole.size() / 2); },
      [&] { fs::copy_file(keptFile("m20104"), file, fs::copy_options::overwrite_existing); },
  };
  for (size_t i = 0; i < damages.size(); ++i) {
    SCOPED_TRACE(i);
    damages[i]();
    std::string shownNow;
    auto bytes = tableBytesOf([&] { shownNow = monthly(3); });
    EXPECT_EQ(shownNow, march);
    EXPECT_GE(bytes["m20103.kdb"], (long long)fs::file_size("m20103.kdb") - 4096) << "read again";
    bytes = tableBytesOf([&] { shownNow = monthly(3); });
    EXPECT_EQ(shownNow, march);
    EXPECT_LE(bytes["m20103.kdb"], kLookBytes) << "written anew";
  }
}

TEST_F(KeptFiguresTest, ProgramsWritingOneFileAtOnceNeverLeaveItTorn) {
  // Two programs keep figures of one table, over and over, each many
  // blocks long; whenever this one reads the file it finds one program's
  // figures whole.
  (void)report::monthlyFigures(month(1));  // the folder's id made
  fs::remove(keptFile("m20101"));
  const report::kept::TableState state{1, 10, 11, 5000, 7};
  const std::vector<int64_t> figuresOne(4000, 1234567), figuresTwo(4000, -7654321);
  std::vector<pid_t> writers;
  for (int w = 0; w < 2; ++w) {
    const pid_t p = fork();
    ASSERT_GE(p, 0);
    if (p == 0) {
      for (int i = 0; i < 150; ++i) report::kept::keep("m20101", state, "sums", w ? figuresTwo : figuresOne);
      _exit(0);
    }
    writers.push_back(p);
  }
  int looks = 0, torn = 0, running = 2;
  while (running > 0) {
    // Once there, the file is only ever replaced.
    const bool there = fs::exists(keptFile("m20101"));
    std::vector<int64_t> got;
    const bool found = report::kept::find("m20101", state, "sums", &got);
    torn += (there && !found) || (found && got != figuresOne && got != figuresTwo);
    ++looks;
    running = 0;
    for (pid_t p : writers) running += waitpid(p, nullptr, WNOHANG) == 0;
  }
  EXPECT_EQ(torn, 0) << "of " << looks << " looks";
  for (const fs::directory_entry& e : fs::directory_iterator(keptFile("m20101").parent_path()))
    EXPECT_EQ(e.path().extension(), ".fig") << e.path();
}

}  // namespace
