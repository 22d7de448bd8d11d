// Handler time of the inpatient medication window on a long stay: a patient
// with 3,000 charge lines, a catalogue of 5,000 drugs, the real window
// (offscreen) and its real handlers. Times "查　询", "确　定", the charge
// double-click and "删　除" (answered OK), each run many times, and prints
// the median and the slowest run in milliseconds.
//
//   charges_bench [lines] [drugs] [runs] [window.png]
//
// With a file name the window is saved as a picture after the last run.
//
//   charges_bench BUSYDIR [runs]
//
// On a scratch copy of the busy demo year instead: the query of the long
// stay 2010001 (3,000 lines), a charge from its 5,000-item catalogue and
// the deletion of that line (the confirmation answered OK), each until the
// window has caught up, printed as bench/run rows.
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
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

namespace m = forms::ids::medication;
constexpr uint32_t kWin = forms::ids::kMedicationWindow;

using bench::AnswerOk;
using bench::check;
using bench::lastCatalogueCode;

int busyYear(const char* busyDir, int runs) {
  const std::filesystem::path dir = bench::scratchCopy(busyDir);
  bench::OkDialogs dialogs;
  bench::startWindows(dir, dialogs);
  db::setLockWaitMs(app::kLockWaitMs);
  // The last day of the year: 2010001 is still in hospital.
  rt::setClock(rt::makeDateTime(2010, 12, 31, 10, 0, 0));
  const std::string code = lastCatalogueCode();
  if (!forms::loadWindow(kWin)) return 1;
  auto press = [](uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); };
  forms::setText(kWin, GBK("编辑框1"), "2010001");
  forms::setText(kWin, GBK("编辑框3"), "1");
  forms::setText(kWin, GBK("编辑框4"), "0199999");
  press(m::kButton1);  // the first query opens the tables
  const int lines = forms::listRowCount(kWin, m::kList2);
  const std::string what = "inpatient query (" + std::to_string(lines) + "-line stay)";
  // The same steps on the local disk and over each simulated network.
  const double queryGoal[] = {50, 100, 250, 150}, chargeGoal[] = {50, 100, 250, 150},
               deleteGoal[] = {50, 100, 250, 250};
  for (size_t k = 0; k < bench::networks().size(); ++k) {
    const bench::Network& net = bench::networks()[k];
    bench::SimulatedShare share(net);
    std::vector<bench::Run> query, charge, deletion;
    bench::Moved queryMoved, chargeMoved, deletionMoved;
    const int times = k == 0 ? runs : std::max(3, runs / 2);
    for (int r = 0; r < times; ++r) {
      query.push_back(bench::timedOn(share, &queryMoved, [&] { press(m::kButton1); }));
      forms::setText(kWin, GBK("编辑框2"), code);
      press(m::kButton2);
      forms::setProperty(kWin, m::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
      charge.push_back(
          bench::timedOn(share, &chargeMoved, [&] { forms::raiseEvent(kWin, m::kList1, forms::kEvDoubleClick); }));
      // The line charged goes again, so every run sees the same stay.
      forms::setProperty(kWin, m::kList2, forms::prop::kListSelected, -1, rt::makeInt(0));
      deletion.push_back(bench::timedOn(share, &deletionMoved, [&] { press(m::kButton3); }));
    }
    const bool refused = bench::refusedAsNotBuilt(dialogs, GBK("你确定要删除吗？"));
    if (k == 0) std::fprintf(stderr, "busy year: stay 2010001 of %d lines, charged %s\n", lines, code.c_str());
    if (refused || lines == 0) {
      bench::rowNotBuilt(std::string("inpatient.query") + net.key, what + net.what, "<= 50 ms");
      bench::rowNotBuilt(std::string("inpatient.charge") + net.key, std::string("inpatient charge") + net.what,
                         "<= 50 ms");
      bench::rowNotBuilt(std::string("inpatient.delete") + net.key, std::string("inpatient delete") + net.what,
                         "<= 50 ms");
    } else {
      bench::handlerRow(k, "inpatient.query", what, query, queryMoved, queryGoal);
      bench::handlerRow(k, "inpatient.charge", "inpatient charge", charge, chargeMoved, chargeGoal);
      bench::handlerRow(k, "inpatient.delete", "inpatient delete (the line shown on top)", deletion, deletionMoved,
                        deleteGoal);
    }
  }
  db::closeAllDatabases();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::filesystem::is_directory(argv[1])) return busyYear(argv[1], argc > 2 ? std::atoi(argv[2]) : 15);
  const int lines = argc > 1 ? std::atoi(argv[1]) : 3000;
  const int drugs = argc > 2 ? std::atoi(argv[2]) : 5000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 30;
  const std::filesystem::path tmpl = bench::scratchDir();
  AnswerOk dialogs;
  bench::startWindows(tmpl, dialogs);
  rt::setClock(rt::makeDateTime(2010, 5, 3, 14, 30, 0));
  // The catalogue: every drug its own code; the one charged is the last.
  const std::string lastCode = bench::makeCatalogue(drugs);
  // The register and the patient's stay.
  bench::makeCurrent(app::kInpatientsName, app::kInpatients);
  check(cmd::AppendRecord(rt::utf8ToGbk("王五"), rt::utf8ToGbk("男"), 45, "YB1", rt::DateTime{40290},
                          rt::utf8ToGbk("骨折"), "1001", rt::utf8ToGbk("康复科"), "12", rt::utf8ToGbk("李"), 5000),
        "register");
  bench::makeCurrent("1001", app::kChargeLines);
  for (int i = 0; i < lines; ++i) {
    const std::string lb = app::categoryName(i % 17);
    check(cmd::AppendRecord(rt::DateTime{40301}, rt::utf8ToGbk("药品"), lb, rt::utf8ToGbk("甲类"), 2,
                            rt::utf8ToGbk("支"), 2.5f, 5.0f, "0312", "cashier"),
          "stay");
  }
  db::closeAllDatabases();

  if (!forms::loadWindow(kWin)) return 1;
  auto press = [](uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); };
  forms::setText(kWin, GBK("编辑框1"), "1001");
  forms::setText(kWin, GBK("编辑框3"), "1");
  forms::setText(kWin, GBK("编辑框4"), "0312");

  std::vector<bench::Run> query, lookUp, charge, remove;
  press(m::kButton1);  // the first query opens the tables
  for (int r = 0; r < runs; ++r) {
    query.push_back(bench::timeRun([&] { press(m::kButton1); }));
    forms::setText(kWin, GBK("编辑框2"), lastCode);
    lookUp.push_back(bench::timeRun([&] { press(m::kButton2); }));
    forms::setProperty(kWin, m::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
    charge.push_back(bench::timeRun([&] { forms::raiseEvent(kWin, m::kList1, forms::kEvDoubleClick); }));
    forms::setProperty(kWin, m::kList2, forms::prop::kListSelected, -1, rt::makeInt(0));
    remove.push_back(bench::timeRun([&] { press(m::kButton3); }));
  }
  check(forms::listRowCount(kWin, m::kList2) == lines, "stay length");
  std::printf("stay of %d lines, catalogue of %d drugs\n", lines, drugs);
  bench::printRuns("查询 (query)", query);
  bench::printRuns("确定 (look-up)", lookUp);
  bench::printRuns("charge (double-click)", charge);
  bench::printRuns("删除 (delete)", remove);
  if (argc > 4) {
    // The catalogue matches listed as the operator sees them before a charge.
    forms::setText(kWin, GBK("编辑框2"), lastCode);
    press(m::kButton2);
    forms::windowWidget(kWin)->grab().save(QString::fromLocal8Bit(argv[4]));
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(tmpl);
  return 0;
}
