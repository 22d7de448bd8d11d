// One workstation for the several-workstation stock test, run as its own
// process by the app tests:
//
//   charge_worker charge DIR ZYH CODE QUANTITY TIMES
//     in DIR, through the real inpatient medication window: queries ZYH,
//     then TIMES times looks CODE up and double-clicks the top entry with
//     QUANTITY typed. Any message box is a failure.
//   charge_worker line DIR TABLE TOTAL CF
//   charge_worker modify DIR TABLE RECORD TOTAL
//     in DIR, through the engine's commands: appends a charge line with that
//     total and prescription to TABLE, or changes the total of record
//     RECORD (from 1) in place.
//   charge_worker scan DIR STOPFILE
//     in DIR, until STOPFILE exists: sums the catalogue's stock and copies
//     the whole catalogue into a scratch table, as a look-up does, each
//     under the catalogue's whole-file lock.
//
// The lock wait is the program's own. Exit status 0 when every step went
// through; the number of steps on standard output.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/shell.h"
#include "app/tables.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/locks.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace {

// Every message box is reported and answered with OK: the workstation
// must never be told anything in this run.
class NoMessages : public rt::Dialogs {
 public:
  int failures = 0;
  int message(const std::string& text, const std::string&, uint32_t) override {
    std::fprintf(stderr, "message: %s\n", rt::gbkToUtf8(text).c_str());
    ++failures;
    return rt::kOk;
  }
  bool askText(const std::string&, const std::string&, std::string*, bool) override { return false; }
  bool saveFile(const std::string&, const std::string&, std::string*) override { return false; }
};

int charge(const std::string& zyh, const std::string& code, const std::string& quantity, int times, NoMessages& seen) {
  namespace m = forms::ids::medication;
  constexpr uint32_t win = forms::ids::kMedicationWindow;
  if (!forms::loadWindow(win)) return 3;
  forms::setText(win, GBK("编辑框1"), zyh);
  forms::raiseEvent(win, m::kButton1, forms::kEvFirst);
  int done = 0;
  for (int i = 0; i < times && seen.failures == 0; ++i) {
    forms::setText(win, GBK("编辑框2"), code);
    forms::raiseEvent(win, m::kButton2, forms::kEvFirst);
    if (forms::listRowCount(win, m::kList1) != 1) {
      std::fprintf(stderr, "look-up %d listed %d entries\n", i, forms::listRowCount(win, m::kList1));
      return 2;
    }
    forms::setText(win, GBK("编辑框3"), quantity);
    forms::setProperty(win, m::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
    forms::raiseEvent(win, m::kList1, forms::kEvDoubleClick);
    ++done;
  }
  std::printf("%d\n", done);
  return seen.failures == 0 ? 0 : 2;
}

int scan(const std::string& stopFile) {
  int scans = 0;
  const std::string catalogue = app::kDrugCatalogueName;
  while (!std::filesystem::exists(stopFile) || scans == 0) {
    cmd::OpenDatabase(catalogue);
    if (!cmd::SetCurrentDatabase(catalogue)) return 4;
    auto stock = [] { return cmd::ReadField("shl").release(); };
    rt::Expr value(stock);
    cmd::SumRecords(value.arg());
    if (db::lastError() != db::kOk) {
      std::fprintf(stderr, "sum: %s\n", rt::gbkToUtf8(db::errorText(db::lastError())).c_str());
      return 2;
    }
    if (!cmd::CopyRecords("scancopy", rt::Arg{})) {
      std::fprintf(stderr, "copy: %s\n", rt::gbkToUtf8(db::errorText(db::lastError())).c_str());
      return 2;
    }
    ++scans;
  }
  std::printf("%d\n", scans);
  return 0;
}

}  // namespace

// Another workstation's change to a month's table through the engine's
// commands: a line appended ("line": total and prescription), or the total
// of record `record` changed in place ("modify").
int changeMonth(const std::string& mode, const std::string& table, const std::string& a, const std::string& b) {
  cmd::OpenDatabase(table);
  if (!cmd::SetCurrentDatabase(table)) return 4;
  bool ok = false;
  if (mode == "line") {
    ok = cmd::AppendRecord(rt::DateTime{40300}, GBK("药品"), GBK("西药"), GBK("甲类"), 1, GBK("支"),
                           float(std::atof(a.c_str())), float(std::atof(a.c_str())), b, "other");
  } else {
    ok = cmd::MoveTo(std::atoi(a.c_str())) && cmd::ReplaceFields(rt::Arg{}, "hj", float(std::atof(b.c_str())));
  }
  db::closeAllDatabases();
  std::printf("%d\n", ok ? 1 : 0);
  return ok ? 0 : 2;
}

int main(int argc, char** argv) {
  if (argc < 3) return 64;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  forms::initForms();
  std::filesystem::current_path(argv[2]);
  db::registerDatabaseCommands();
  db::registerEditRecordsCommand();
  print::registerPrintCommands();
  db::setLockWaitMs(app::kLockWaitMs);
  app::installShellHandlers();
  NoMessages seen;
  rt::setDialogs(&seen);
  const std::string mode = argv[1];
  if (mode == "charge" && argc == 7) return charge(argv[3], argv[4], argv[5], std::atoi(argv[6]), seen);
  if (mode == "scan" && argc == 4) return scan(argv[3]);
  if ((mode == "line" || mode == "modify") && argc == 6) return changeMonth(mode, argv[3], argv[4], argv[5]);
  return 64;
}
