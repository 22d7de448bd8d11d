// Times the report window's previews over a year of postings: twelve
// monthly outpatient charge tables of 20,000 lines each, and the year's
// outpatient and inpatient bill tables of 20,000 bills each (plus a month
// of inpatient postings). The yearly report is the one with a goal: at
// most 200 ms per preview. The window is the real one, offscreen; each
// preview is a click on its button.
//
//   report_bench [records]
//
//   report_bench BUSYDIR [runs]
//
// On a scratch copy of the busy demo year instead: the yearly, monthly
// and per-doctor previews of 2010 and the chart window of 2010 (its first
// opening on a workstation and a later one), on the local disk and over
// each simulated network, printed as bench/run rows.
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/figures/kept_figures.h"
#include "app/report/chart.h"
#include "app/shell.h"
#include "bench/harness.h"
#include "app/tables.h"
#include "db/changes.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "db/facade.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/gbk.h"

namespace {

namespace r = forms::ids::report;

double day(int y, int m, int d) { return double(QDate(1899, 12, 30).daysTo(QDate(y, m, d))); }

using bench::check;

void open(const std::string& name, const app::TableDef& def) {
  check(app::createTable(name, def), "create");
  check(cmd::OpenDatabase(name), "open");
  check(cmd::SetCurrentDatabase(name), "set current");
}

void chargeTable(const std::string& name, int month, int n) {
  open(name, app::kChargeLines);
  std::vector<std::string> cats;
  for (const char* c : app::kCategories) cats.push_back(rt::utf8ToGbk(c));
  const std::string drug = rt::utf8ToGbk("阿莫西林胶囊"), cls = rt::utf8ToGbk("甲类"), unit = rt::utf8ToGbk("盒"),
                    cashier = rt::utf8ToGbk("张三");
  for (int i = 0; i < n; ++i) {
    const int shl = 1 + i % 5;
    const float dj = float(i % 1000) / 10.0f;
    // Doctor codes 01..07, 11..17 and a few that belong to nobody.
    const int code = (i % 3 == 0 ? 10 : 0) + 1 + i % 8;
    char cf[24];
    std::snprintf(cf, sizeof cf, "%02d%06d", code, i % 1000000);
    check(cmd::AppendRecord(rt::DateTime{day(2010, month, 1 + i % 28)}, drug, cats[size_t(i % 17)], cls, int32_t(shl),
                            unit, dj, float(shl * dj), std::string(cf), cashier),
          "append charge");
  }
  cmd::CloseDatabase(name);
}

void billTable(const std::string& name, int n) {
  open(name, app::kBills);
  for (int i = 0; i < n; ++i) {
    std::vector<rt::Arg> v = {rt::makeDateTime(day(2010, 1 + i % 12, 1 + i % 28)), rt::makeTextRef("1234567")};
    float total = 0;
    for (int c = 0; c < app::kCategoryCount; ++c) {
      const float amount = (i + c) % 4 == 0 ? float((i * 7 + c) % 500) / 4.0f : 0.0f;
      total += amount;
      v.push_back(rt::makeFloat(amount));
    }
    v.push_back(rt::makeFloat(total));
    check(rt::Result(rt::call(rt::Cmd::AppendRecord, int(v.size()), v.data())).boolean(), "append bill");
  }
  cmd::CloseDatabase(name);
}

void postingTable(const std::string& name, int n) {
  open(name, app::kPostings);
  for (int i = 0; i < n; ++i) {
    std::vector<rt::Arg> v;
    for (int k = 1; k <= 16; ++k) v.push_back(rt::makeFloat(float((i + k) % 300) / 2.0f));
    v.push_back(rt::makeTextRef("Z1"));
    check(rt::Result(rt::call(rt::Cmd::AppendRecord, int(v.size()), v.data())).boolean(), "append posting");
  }
  cmd::CloseDatabase(name);
}

double millis(uint32_t button) {
  auto t0 = std::chrono::steady_clock::now();
  forms::raiseEvent(r::kWindow, button, forms::kEvFirst);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void report(const char* what, uint32_t button, int runs) {
  const double first = millis(button);
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(millis(button));
  std::sort(t.begin(), t.end());
  std::printf("%-34s first %7.1f ms   median %7.1f ms   min %7.1f ms   max %7.1f ms\n", what, first, t[t.size() / 2],
              t.front(), t.back());
}

// The busy year has no 2009: its period tables are copied under the names
// of 2009, so that the chart window reads two years of tables.
void copyAsPreviousYear(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  db::closeAllDatabases();
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    for (const char* prefix : {"m2010", "bm2010", "bz2010"}) {
      const std::string p = prefix;
      if (name.rfind(p, 0) != 0) continue;
      const std::string renamed = p.substr(0, p.size() - 4) + "2009" + name.substr(p.size());
      fs::copy_file(e.path(), dir / renamed, fs::copy_options::overwrite_existing);
    }
  }
}

// A program started anew on this workstation: no table open, nothing
// remembered of the folder in memory; with `firstOnWorkstation` nothing
// kept on its disk either.
void newProgramRun(const std::filesystem::path& figures, bool firstOnWorkstation) {
  db::closeAllDatabases();
  db::dropChangeFiles();
  if (firstOnWorkstation) std::filesystem::remove_all(figures);
}

// The chart window of 2010 opened from the report window's "图 表": the
// twelve monthly reports of 2010 and of 2009, both yearly reports and the
// internal report of June; on the local disk and over each network. The
// first opening on a workstation and a later one (each in a program run
// of its own) are rows of their own.
void chartWindow(const std::filesystem::path& figures, bench::OkDialogs& dialogs, int runs) {
  auto* chartButton = forms::windowWidget(r::kWindow)->findChild<QPushButton*>(app::kChartButtonName);
  const std::string what = "chart window open (busy year and the year before)";
  const std::string firstWhat = "chart window first open on a workstation";
  if (!chartButton) {
    bench::rowNotBuilt("report.chart", what, "<= 300 ms");
    return;
  }
  auto openOnce = [chartButton] { chartButton->click(); };
  const double goal[] = {300, 300, 300, 600}, none[] = {0, 0, 0, 0};
  for (size_t k = 0; k < bench::networks().size(); ++k) {
    const bench::Network& net = bench::networks()[k];
    bench::SimulatedShare share(net);
    bench::Moved firstMoved, laterMoved;
    std::vector<bench::Run> first, later;
    const int firstTimes = k == 0 ? 3 : 2;
    for (int i = 0; i < firstTimes; ++i) {
      newProgramRun(figures, true);
      first.push_back(bench::timedOn(share, &firstMoved, openOnce));
    }
    const int times = k == 0 ? runs : std::max(3, runs / 2);
    for (int i = 0; i < times; ++i) {
      newProgramRun(figures, false);
      later.push_back(bench::timedOn(share, &laterMoved, openOnce));
    }
    if (bench::refusedAsNotBuilt(dialogs)) {
      bench::rowNotBuilt(std::string("report.chart.first") + net.key, firstWhat + net.what, "none set");
      bench::rowNotBuilt(std::string("report.chart") + net.key, what + net.what, "<= 300 ms");
    } else {
      bench::handlerRow(k, "report.chart.first", firstWhat, first, firstMoved, none);
      bench::handlerRow(k, "report.chart", what, later, laterMoved, goal);
    }
  }
}

// A preview of the report window: its button clicked, the first click
// (which opens the tables) left out of the figures.
struct Preview {
  const char* key;
  const char* what;
  uint32_t button;
  double goal[4];
};

int busyYear(const char* busyDir, int runs) {
  const std::filesystem::path dir = bench::scratchCopy(busyDir);
  bench::OkDialogs dialogs;
  bench::startWindows(dir, dialogs);
  // As the program keeps figures on the workstation's own disk.
  const std::filesystem::path figures = bench::scratchDir();
  app::report::keepFiguresIn(figures.string());
  if (!forms::loadWindow(r::kWindow)) return 1;
  const double june = day(2010, 6, 15);
  for (uint32_t picker : {r::kDate1, r::kDate2, r::kDate3})
    forms::setProperty(r::kWindow, picker, forms::prop::kDateValue, -1, rt::makeDateTime(june));
  const Preview previews[] = {
      {"report.yearly", "yearly report preview (busy year)", r::kButton4, {200, 200, 500, 300}},
      {"report.monthly", "monthly report preview (June)", r::kButton1, {0, 0, 0, 0}},
      {"report.doctor", "per-doctor report preview (June)", r::kButton8, {0, 0, 0, 0}},
  };
  // The same previews on the local disk and over each simulated network.
  for (size_t k = 0; k < bench::networks().size(); ++k) {
    const bench::Network& net = bench::networks()[k];
    bench::SimulatedShare share(net);
    for (const Preview& p : previews) {
      auto previewOnce = [&p] { forms::raiseEvent(r::kWindow, p.button, forms::kEvFirst); };
      bench::Moved moved;
      bench::timedOn(share, &moved, previewOnce);  // the first opens the tables
      moved = bench::Moved{};
      std::vector<bench::Run> times;
      const int n = k == 0 ? runs : std::max(3, runs / 2);
      for (int i = 0; i < n; ++i) times.push_back(bench::timedOn(share, &moved, previewOnce));
      if (bench::refusedAsNotBuilt(dialogs))
        bench::rowNotBuilt(std::string(p.key) + net.key, p.what + std::string(net.what), bench::goalText(p.goal[k]));
      else
        bench::handlerRow(k, p.key, p.what, times, moved, p.goal);
    }
  }
  copyAsPreviousYear(dir);
  chartWindow(figures, dialogs, runs);
  db::closeAllDatabases();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(figures);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::filesystem::is_directory(argv[1])) return busyYear(argv[1], argc > 2 ? std::atoi(argv[2]) : 15);
  const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication qt(argc, argv);
  char tmpl[] = "/tmp/report_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::filesystem::current_path(tmpl);
  forms::initForms();
  db::registerDatabaseCommands();
  db::registerEditRecordsCommand();
  print::registerPrintCommands();
  app::installShellHandlers();

  auto t0 = std::chrono::steady_clock::now();
  for (int m = 1; m <= 12; ++m) chargeTable("m2010" + std::to_string(m), m, n);
  billTable("bm2010", n);
  billTable("bz2010", n);
  postingTable("n20106", n);
  std::printf("filled 12 x %d charge lines, 2 x %d bills, %d postings in %.1f s (%s)\n", n, n, n,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), tmpl);

  if (!forms::loadWindow(r::kWindow)) return 1;
  const double june = day(2010, 6, 15);
  for (uint32_t picker : {r::kDate1, r::kDate2, r::kDate3})
    forms::setProperty(r::kWindow, picker, forms::prop::kDateValue, -1, rt::makeDateTime(june));

  report("yearly report preview (goal 200)", r::kButton4, 15);
  report("monthly report preview", r::kButton1, 5);
  report("internal report preview", r::kButton8, 5);

  db::closeAllDatabases();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(tmpl);
  return 0;
}
