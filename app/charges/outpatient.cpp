#include "app/charges/outpatient.h"

#include <string>

#include "app/charges/charging.h"
#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/telling.h"
#include "app/charges/pending.h"
#include "app/charges/charge_values.h"
#include "app/figures/stored_amounts.h"
#include "app/tables.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "forms/window_ids.h"
#include "print/facade.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr ModuleWindow kWin{ids::kOutpatientWindow};

// --- the month's table --------------------------------------------------------------

// Named from the clock each time: after midnight on the last day of a
// month every handler works on the new month's table.
std::string monthTable() { return monthlyOutpatientTable(cmd::Now()); }

// The month's table, current at its first record, created when no file of
// that name exists (by every handler, not only when the window opens: the
// first charge after the month turns must land in the new month's table,
// and a table that vanished while the window was open is made again before
// a line goes into it). Refused, with a message naming what was not done,
// when it cannot be opened or is not a table of charge lines.
bool useMonthTable(const char* gbkNothingDone) { return useChargeTable(monthTable(), gbkNothingDone, true); }

// What this window's last look-up listed: its own, so that a double-click
// here charges the row it shows whatever another window looked up since.
Listing& listing() {
  static Listing entries;
  return entries;
}

// --- shared steps -------------------------------------------------------------------

// With the month's table current, one reading of its lines: the usage list
// (when `withList`), 编辑框11 the month's total and 编辑框6 the total of the
// prescription in 编辑框4; its figures into `figures`. A table that cannot
// be read whole is named (unless `quiet`) and what was shown stays. 0 or
// the engine's code.
int showMonth(bool withList, ChargeFigures* figures, bool quiet = false, const char* gbkNotDone = "") {
  cmd::MoveFirst();
  ListRows rows(cmd::FieldCount());
  if (const int rc = readPrescriptionLines(kWin.text("编辑框4"), withList ? &rows : nullptr, figures); rc != 0) {
    if (!quiet) {
      const std::string text = GBK("本月收费表“") + monthTable() + GBK("”无法读取：") + causeText(rc) + GBK("。") +
                               gbkNotDone + GBK("显示的明细和合计未更新，请稍后再试。");
      tell(text.c_str());
    }
    return rc;
  }
  if (withList) {
    rows.show(kWin.control("超级列表框2"));
    moveAfterLast();
  }
  kWin.setText("编辑框11", cmd::MoneyText(yuanOf(figures->all)));
  kWin.setText("编辑框6", cmd::MoneyText(yuanOf(figures->prescription)));
  showStatus(kWin, "");  // the figures are current again
  return 0;
}

// showMonth, then the prescription's category totals and its number as the
// program-wide values (after typing, a charge or a deletion).
void showPrescription(bool withList, bool quiet = false) {
  ChargeFigures f;
  if (showMonth(withList, &f, quiet) != 0) return;
  programValues().categoryTotals = f.categories;
  programValues().currentNumber = kWin.text("编辑框4");
}

// --- handlers -----------------------------------------------------------------------

void openWindow() {
  cmd::SetVisualStyle(3);
  applyParked();
  if (!useMonthTable("")) return;
  ChargeFigures figures;
  showMonth(true, &figures);
}

void nameLeft() { kWin.focus("编辑框5"); }
void departmentLeft() { kWin.focus("编辑框2"); }

// Every keystroke in the prescription box. A message per keystroke would
// only get in the typist's way: a total that could not be read for the
// number typed is left blank, never another prescription's, and the cause
// stands in the window's status line until a reading succeeds.
void prescriptionTyped() {
  const TableUse use = useTable(monthTable(), chargeTable(true));
  ChargeFigures f;
  const int rc = use.ok() ? showMonth(false, &f, true) : use.failure();
  if (rc == 0) {
    programValues().categoryTotals = f.categories;
    programValues().currentNumber = kWin.text("编辑框4");
    return;
  }
  kWin.setText("编辑框6", "");
  programValues().categoryTotals = {};
  programValues().currentNumber.clear();
  const std::string cause =
      use.outcome == TableUse::Outcome::kOtherLayout ? GBK("“") + monthTable() + GBK("”不是收费表") : causeText(rc);
  showStatus(kWin, GBK("当前金额未能读取：") + cause);
}

void lookUp() {
  applyParked();  // stock changes left from a time the folder was away
  lookUpCode(kWin.text("编辑框2"), kWin.control("超级列表框1"), &listing());
}

void charge() {
  applyParked();
  // Refused before anything moves: the chosen entry stays listed.
  if (!useMonthTable(nothingCharged())) return;
  // The chosen entry as this window listed it, and the quantity.
  if (!takeChosenEntry(kWin.control("超级列表框1"), listing(), kWin.text("编辑框3"))) return;
  // A drug beyond its stock or past its expiry is charged only when the
  // operator says so; 否 leaves everything as it was.
  if (!confirmStockForCharge(monthTable())) return;
  // The charge line in the month's table, and the stock following
  // it. Not written: the entry stays listed for another try.
  const Charged charged =
      chargeLine(monthTable(), kWin.text("编辑框4"), {journal::outpatientCharge(), kWin.text("编辑框4"), ""});
  if (charged == Charged::kNotWritten) return;
  // The month and the prescription as they are now.
  showPrescription(true);
  // Ready for the next code; quantity and prescription stay.
  kWin.setText("编辑框2", "");
  kWin.focus("编辑框2");
  cmd::ListClear(kWin.control("超级列表框1").arg());
  listing().clear();
}

void deleteCharge() {
  applyParked();
  // The month's table, or nothing is deleted.
  if (!useMonthTable(nothingDeleted())) return;
  // The chosen line, confirmed, marked and packed, and its stock back
  // (under the line's prescription). Whatever came of it was told; the list is shown afresh in every case.
  static_cast<void>(deleteChosenLine(kWin.control("超级列表框2"), monthTable(), {journal::deletionReturn(), "", ""}));
  showPrescription(true);
}

void printForm(const rt::Arg& p, const CategoryTotals& t) {
  auto amount = [&t](Category c) { return cmd::MoneyText(yuanOf(t[size_t(c)])); };
  cmd::PrintTextAt(p, 470, 400, GBK("青山康复中心"));
  cmd::PrintTextAt(p, 860, 400, kWin.text("编辑框1"));
  cmd::PrintTextAt(p, 1120, 400, kWin.text("编辑框5"));
  cmd::PrintTextAt(p, 530, 460, amount(kWestern));
  cmd::PrintTextAt(p, 950, 460, amount(kPatentChinese));
  cmd::PrintTextAt(p, 1380, 460, amount(kHerbal));
  cmd::PrintTextAt(p, 530, 520, amount(kExamination));
  cmd::PrintTextAt(p, 950, 520, amount(kTreatment));
  cmd::PrintTextAt(p, 1380, 520, amount(kRadiology));
  cmd::PrintTextAt(p, 530, 600, amount(kSurgery));
  cmd::PrintTextAt(p, 950, 600, amount(kLaboratory));
  cmd::PrintTextAt(p, 1380, 600, amount(kTransfusion));
  cmd::PrintTextAt(p, 530, 670, amount(kOxygen));
  cmd::PrintTextAt(p, 950, 670, amount(kOther));
  // 住院, 冷暖, 接生, 婴儿, 医疗 and 监护 have no place on the form; they
  // count in the prescription's total below.
  cmd::PrintTextAt(p, 1380, 670, kWin.text("编辑框6"));
  cmd::PrintTextAt(p, 650, 750, GBK("※") + cmd::ChineseNumerals(kWin.number("编辑框6"), false));
  cmd::PrintTextAt(p, 400, 810, cmd::ToText(cmd::DateOnly(cmd::Now())));
}

void printBill() {
  // The month's table.
  if (!useMonthTable(GBK("未打印票据。"))) return;
  // A prescription with lines this month.
  const std::string prescription = kWin.text("编辑框4");
  if (prescription.empty()) {
    tell(GBK("请输入处方号"));
    return;
  }
  const int found = searchText("cf", prescription);
  if (found < 0) {
    tellFailure(GBK("本月收费表“") + monthTable() + GBK("”无法读取"), found, GBK("未打印票据。"));
    return;
  }
  if (found == 0) {
    tell(GBK("无该处方"));
    return;
  }
  // The printer's own paper, portrait, the dialog shown.
  const rt::Arg printer = kWin.control("打印机1").arg();
  cmd::BeginPrinting(printer, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted);
  // The prescription's figures, read once after the dialog is answered:
  // the form, the window and the posting all come from this one reading,
  // whatever another workstation charged meanwhile. The program-wide totals
  // may have been left by the inpatient window since it was typed.
  ChargeFigures figures;
  if (!useMonthTable(GBK("未打印票据，票据数字未记入。")) ||
      showMonth(false, &figures, false, GBK("未打印票据，票据数字未记入。")) != 0) {
    cmd::AbortPrinting(printer);
    return;
  }
  programValues().categoryTotals = figures.categories;
  programValues().currentNumber = prescription;
  // The pre-printed form.
  cmd::SetPrinterFontSize(printer, 11);
  printForm(printer, figures.categories);
  cmd::EndPrinting(printer);
  // The bill into the year's table, one record per prescription. A posting
  // that fails is told by postBill; the bill is printed either way.
  static_cast<void>(postOutpatientBill(prescription, figures.categories));
}

void clockTick() { showClock(kWin.control("标签18")); }

}  // namespace

bool postOutpatientBill(const std::string& prescription, const CategoryTotals& totals) {
  return postBill(yearlyOutpatientBills(cmd::Now()), cmd::DateOnly(cmd::Now()), prescription, totals);
}

void setOutpatientHandlers(std::vector<forms::Handler>& table) {
  namespace o = ids::outpatient;
  if (table.size() < size_t(o::kHandlerCount)) table.resize(size_t(o::kHandlerCount), nullptr);
  table[o::kCreated] = openWindow;
  table[o::kNameLeft] = nameLeft;
  table[o::kDepartmentLeft] = departmentLeft;
  table[o::kPrescriptionChanged] = prescriptionTyped;
  table[o::kLookUp] = lookUp;
  table[o::kCharge] = charge;
  table[o::kDeleteCharge] = deleteCharge;
  table[o::kPrintBill] = printBill;
  table[o::kClockTick] = clockTick;
}

}  // namespace app
