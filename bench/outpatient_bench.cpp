// Handler time of the outpatient window in a busy month: 20,000 charge lines
// in the month's table, a catalogue of 5,000 drugs, the real window
// (offscreen) and its real handlers. Times, each until the message loop has
// caught up, opening the window, a keystroke
// in the prescription box, the charge double-click and "删　除" (answered
// OK), each run many times, and prints the median and the slowest run in
// milliseconds.
//
//   outpatient_bench [lines] [drugs] [runs]
//
//   outpatient_bench BUSYDIR [runs]
//
// On a scratch copy of the busy demo year instead: December's table
// (20,000 lines) and its 5,000-item catalogue; keystrokes and a charge,
// printed as bench/run rows.
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <time.h>
#include <string>
#include <vector>

#include "app/shell.h"
#include "bench/harness.h"
#include "app/tables.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/locks.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace {

namespace o = forms::ids::outpatient;
constexpr uint32_t kWin = forms::ids::kOutpatientWindow;

using bench::AnswerOk;
using bench::check;
using bench::lastCatalogueCode;

int busyYear(const char* busyDir, int runs) {
  const std::filesystem::path dir = bench::scratchCopy(busyDir);
  bench::OkDialogs dialogs;
  bench::startWindows(dir, dialogs);
  db::setLockWaitMs(app::kLockWaitMs);
  rt::setClock(rt::makeDateTime(2010, 12, 28, 14, 30, 0));
  const std::string code = lastCatalogueCode();
  if (!forms::loadWindow(kWin)) return 1;
  QCoreApplication::processEvents();
  const int lines = forms::listRowCount(kWin, o::kList2);
  forms::setText(kWin, GBK("编辑框3"), "1");
  const char* const typed[] = {"0", "03", "031", "0312", "03120", "031200", "0312000"};
  const std::string what = "outpatient keystroke (" + std::to_string(lines) + "-line month)";
  // The same steps on the local disk and over each simulated network; the
  // calls and bytes of each timed action are counted on its own.
  const double keystrokeGoal[] = {16, 16, 50, 16}, chargeGoal[] = {150, 100, 250, 150};
  for (size_t k = 0; k < bench::networks().size(); ++k) {
    const bench::Network& net = bench::networks()[k];
    bench::SimulatedShare share(net);
    std::vector<bench::Run> keystroke, charge;
    bench::Moved keystrokeMoved, chargeMoved;
    auto timed = [&](bench::Moved* moved, auto f) { return bench::timedOn(share, moved, f); };
    const int times = k == 0 ? runs : std::max(3, runs / 2);
    for (int r = 0; r < times; ++r) {
      for (const char* t : typed)
        keystroke.push_back(timed(&keystrokeMoved, [&] { forms::setText(kWin, GBK("编辑框4"), t); }));
      forms::setText(kWin, GBK("编辑框2"), code);
      forms::raiseEvent(kWin, o::kButton2, forms::kEvFirst);
      forms::setProperty(kWin, o::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
      charge.push_back(timed(&chargeMoved, [&] { forms::raiseEvent(kWin, o::kList1, forms::kEvDoubleClick); }));
      // The line charged goes again, so every run sees the same month.
      forms::setProperty(kWin, o::kList2, forms::prop::kListSelected, -1, rt::makeInt(0));
      forms::raiseEvent(kWin, o::kButton4, forms::kEvFirst);
    }
    const bool refused = bench::refusedAsNotBuilt(dialogs, GBK("你确定要删除吗？"));
    if (k == 0) std::fprintf(stderr, "busy year: December of %d lines, charged %s\n", lines, code.c_str());
    if (refused || lines == 0) {
      bench::rowNotBuilt(std::string("outpatient.keystroke") + net.key, what + net.what, "<= 16 ms");
      bench::rowNotBuilt(std::string("outpatient.charge") + net.key, std::string("outpatient charge") + net.what,
                         "<= 150 ms");
    } else {
      bench::handlerRow(k, "outpatient.keystroke", what, keystroke, keystrokeMoved, keystrokeGoal);
      bench::handlerRow(k, "outpatient.charge", "outpatient charge", charge, chargeMoved, chargeGoal);
    }
  }
  db::closeAllDatabases();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::filesystem::is_directory(argv[1])) return busyYear(argv[1], argc > 2 ? std::atoi(argv[2]) : 10);
  const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int drugs = argc > 2 ? std::atoi(argv[2]) : 5000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 20;
  const std::filesystem::path tmpl = bench::scratchDir();
  AnswerOk dialogs;
  bench::startWindows(tmpl, dialogs);
  rt::setClock(rt::makeDateTime(2010, 5, 28, 14, 30, 0));
  // The catalogue: every drug its own code; the one charged is the last.
  const std::string lastCode = bench::makeCatalogue(drugs);
  // The month: prescriptions of seven doctors, a few lines each.
  const std::string month = app::monthlyOutpatientTable(cmd::Now());
  bench::makeCurrent(month, app::kChargeLines);
  for (int i = 0; i < lines; ++i) {
    char cf[16];
    std::snprintf(cf, sizeof cf, "%02d%05d", 1 + i % 7, i / 4);
    const std::string lb = app::categoryName(i % 17);
    check(cmd::AppendRecord(rt::DateTime{40300.0 + i / 800}, rt::utf8ToGbk("药品"), lb, rt::utf8ToGbk("甲类"), 2,
                            rt::utf8ToGbk("支"), 2.5f, 5.0f, cf, "cashier"),
          "month");
  }
  db::closeAllDatabases();

  auto typePrescription = [](const char* cf) { forms::setText(kWin, GBK("编辑框4"), cf); };
  std::vector<bench::Run> open, keystroke, charge, remove;
  for (int r = 0; r < std::max(3, runs / 4); ++r) {
    open.push_back(bench::timeCaughtUp([] { forms::loadWindow(kWin); }));
    forms::closeWindow(kWin);
    QCoreApplication::processEvents();
  }
  if (!forms::loadWindow(kWin)) return 1;
  forms::setText(kWin, GBK("编辑框3"), "1");
  const char* const typed[] = {"0", "03", "031", "0312", "03120", "031200", "0312000"};
  for (int r = 0; r < runs; ++r) {
    for (const char* t : typed) keystroke.push_back(bench::timeCaughtUp([&] { typePrescription(t); }));
    forms::setText(kWin, GBK("编辑框2"), lastCode);
    forms::raiseEvent(kWin, o::kButton2, forms::kEvFirst);
    forms::setProperty(kWin, o::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
    charge.push_back(bench::timeCaughtUp([&] { forms::raiseEvent(kWin, o::kList1, forms::kEvDoubleClick); }));
    forms::setProperty(kWin, o::kList2, forms::prop::kListSelected, -1, rt::makeInt(0));
    remove.push_back(bench::timeCaughtUp([&] { forms::raiseEvent(kWin, o::kButton4, forms::kEvFirst); }));
  }
  check(forms::listRowCount(kWin, o::kList2) == lines, "month length");
  std::printf("month of %d lines, catalogue of %d drugs\n", lines, drugs);
  bench::printRuns("window opened", open);
  bench::printRuns("keystroke (编辑框4)", keystroke);
  bench::printRuns("charge (double-click)", charge);
  bench::printRuns("delete (删除)", remove);
  std::filesystem::current_path("/");
  std::filesystem::remove_all(tmpl);
  return 0;
}
