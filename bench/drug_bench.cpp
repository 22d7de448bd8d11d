// The drug catalogue window on the busy demo year (5,000 catalogue
// records), driven offscreen through its real handlers: opening the window
// (stock values recomputed, list of every record, summary), "添加" of a
// new drug (find, append, list refilled, summary), and a double-click on it
// with its sale price changed and "修改" (shown, written, list refilled).
//
//   drug_bench BUSYDIR [runs] [PNG]
//
// Works on a scratch copy of BUSYDIR; prints bench/run rows. With PNG, the
// window as it stands after the first add is saved there, to look at.
#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

constexpr uint32_t kWin = forms::ids::kDrugWindow;

void type(const char* box, const std::string& utf8) { forms::setText(kWin, rt::utf8ToGbk(box), rt::utf8ToGbk(utf8)); }
void press(const char* button) {
  forms::raiseEvent(kWin, forms::control(kWin, rt::utf8ToGbk(button)).id(), forms::kEvFirst);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: drug_bench BUSYDIR [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::filesystem::path dir = bench::scratchCopy(argv[1]);
  bench::OkDialogs dialogs;
  bench::startWindows(dir, dialogs);
  rt::setClock(rt::makeDateTime(2010, 12, 31, 10, 0, 0));

  // The same steps on the local disk and over each simulated network.
  const double openGoal[] = {300, 300, 600, 300}, addGoal[] = {100, 100, 250, 100}, modifyGoal[] = {100, 100, 250, 250};
  int added = 0;
  for (size_t k = 0; k < bench::networks().size(); ++k) {
    const bench::Network& net = bench::networks()[k];
    bench::SimulatedShare share(net);
    std::vector<bench::Run> open, add, modify;
    bench::Moved openMoved, addMoved, modifyMoved;
    const int times = k == 0 ? runs : std::max(3, runs / 2);
    for (int r = 0; r < times; ++r) {
      open.push_back(bench::timedOn(share, &openMoved, [] { forms::loadWindow(kWin); }));
      // A new drug each time: the boxes typed first, the button timed.
      type("编辑框1", "BENCH" + std::to_string(added++));
      type("编辑框2", "测试胶囊");
      type("组合框1", "西药");
      type("组合框2", "甲类");
      type("编辑框4", "100101");
      type("编辑框5", "0.25g");
      type("编辑框6", "2010-1-1");
      type("编辑框7", "2012-1-1");
      type("组合框3", "粒");
      type("编辑框9", "100");
      type("编辑框10", "1.2");
      type("编辑框12", "1.5");
      QCoreApplication::processEvents();
      add.push_back(bench::timedOn(share, &addMoved, [] { press("按钮1"); }));
      if (k == 0 && r == 0 && argc > 3) forms::windowWidget(kWin)->grab().save(QString::fromLocal8Bit(argv[3]));
      // The drug just added (on top) chosen, its sale price changed: the
      // double-click and 修改 timed together, as the operator waits.
      forms::setProperty(kWin, forms::ids::drug::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
      modify.push_back(bench::timedOn(share, &modifyMoved, [] {
        forms::raiseEvent(kWin, forms::ids::drug::kList1, forms::kEvDoubleClick);
        type("编辑框12", "1.6");
        press("按钮4");
      }));
      forms::closeWindow(kWin);
      QCoreApplication::processEvents();
    }
    const bool refused = bench::refusedAsNotBuilt(dialogs);
    if (refused) {
      bench::rowNotBuilt(std::string("drug.open") + net.key, std::string("drug window open (5,000 items)") + net.what,
                         "<= 300 ms");
      bench::rowNotBuilt(std::string("drug.add") + net.key, std::string("drug window add") + net.what, "<= 100 ms");
      bench::rowNotBuilt(std::string("drug.modify") + net.key, std::string("drug window show and modify") + net.what,
                         "<= 100 ms");
    } else {
      bench::handlerRow(k, "drug.open", "drug window open (5,000 items)", open, openMoved, openGoal);
      bench::handlerRow(k, "drug.add", "drug window add", add, addMoved, addGoal);
      bench::handlerRow(k, "drug.modify", "drug window show and modify (a price)", modify, modifyMoved, modifyGoal);
    }
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  return 0;
}
