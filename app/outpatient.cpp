#include "app/outpatient.h"

#include <string>

#include "app/charging.h"
#include "app/module.h"
#include "app/program_values.h"
#include "app/tables.h"
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

// The month's table, current at its first record. It is created when
// missing by every handler, not only when the window opens: the first
// charge after the month turns must land in the new month's table, not in
// whatever table happens to be current.
void createMonthTableIfMissing(const std::string& name) {
  if (!cmd::FileExists(name + ".kdb")) createTable(name, kChargeLines);
}

// Refused, with a message naming what was not done, when it cannot be
// opened or is not a table of charge lines.
bool useMonthTable(const char* gbkNothingDone) {
  const std::string name = monthTable();
  createMonthTableIfMissing(name);
  return useChargeTable(name, gbkNothingDone);
}

// --- shared steps -------------------------------------------------------------------

// 编辑框11 the month's total, 编辑框6 the total of the prescription in
// 编辑框4. The category totals come from the same pass.
ChargeSums showTotals() {
  const ChargeSums sums = sumCharges(kWin.text("编辑框4"));
  kWin.setText("编辑框11", cmd::ToText(sums.all));
  kWin.setText("编辑框6", cmd::ToText(sums.prescription));
  return sums;
}

// Both totals, then the prescription's category totals and the current
// number into the program-wide values.
void showPrescription() {
  const ChargeSums sums = showTotals();
  programValues().categoryTotals = sums.categories;
  programValues().currentNumber = kWin.text("编辑框4");
}

// After a charge or a deletion, with the month's table current.
void showMonth() {
  cmd::MoveFirst();
  fillListNewestFirst(kWin.control("超级列表框2"));
  showPrescription();
}

// --- handlers -----------------------------------------------------------------------

void openWindow() {
  cmd::SetVisualStyle(3);
  if (!useMonthTable("")) return;
  fillListNewestFirst(kWin.control("超级列表框2"));
  showTotals();
}

void nameLeft() { kWin.focus("编辑框5"); }
void departmentLeft() { kWin.focus("编辑框2"); }

// Every keystroke in the prescription box. A month's table that cannot be
// used is reported by the other handlers; a message per keystroke would
// only get in the typist's way.
void prescriptionTyped() {
  const std::string name = monthTable();
  createMonthTableIfMissing(name);
  if (openChargeTable(name) != 0) return;
  showPrescription();
}

void lookUp() { lookUpCode(kWin.text("编辑框2"), kWin.control("超级列表框1")); }

void charge() {
  // Refused before anything moves: the chosen entry stays listed.
  if (!useMonthTable(nothingCharged())) return;
  // 1-4. The chosen catalogue entry and the quantity.
  if (!takeChosenEntry(kWin.control("超级列表框1"), kWin.text("编辑框3"))) return;
  // 5, 6. The charge line in the month's table.
  if (!useMonthTable(nothingCharged())) return;
  const bool charged = appendCharge(kWin.text("编辑框4"));
  // 7. The month and the prescription as they are now.
  showMonth();
  // 8. The stock follows the charge, only when the line was written.
  if (charged) takeStockForCharge();
  // 9. Ready for the next code; quantity and prescription stay.
  kWin.setText("编辑框2", "");
  kWin.focus("编辑框2");
  cmd::ListClear(kWin.control("超级列表框1").arg());
}

void deleteCharge() {
  // 1. The month's table, or nothing is deleted.
  if (!useMonthTable(nothingDeleted())) return;
  // 2-4. The chosen line, confirmed, marked and packed.
  const Deletion deletion = deleteChosenLine(kWin.control("超级列表框2"));
  // 5. In both cases.
  showMonth();
  // 6. The stock back only for a line that is gone.
  if (deletion == Deletion::kDeleted) giveStockForDeletion();
}

void printForm(const rt::Arg& p, const CategoryTotals& t) {
  auto amount = [&t](Category c) { return cmd::ToText(t[size_t(c)]); };
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
  // 1. The month's table.
  if (!useMonthTable(GBK("未打印票据。"))) return;
  // 2, 3. A prescription with lines this month.
  const std::string prescription = kWin.text("编辑框4");
  if (prescription.empty()) {
    tell(GBK("请输入处方号"));
    return;
  }
  if (!findByText("cf", prescription)) {
    tell(GBK("无该处方"));
    return;
  }
  // The bill is this prescription's: its totals and category totals are
  // computed now from the month's table. The program-wide ones may have
  // been left by the inpatient window since the prescription was typed.
  showPrescription();
  const CategoryTotals totals = programValues().categoryTotals;
  // 4-6. The pre-printed form.
  const rt::Arg printer = kWin.control("打印机1").arg();
  cmd::BeginPrinting(printer, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted,
                     rt::omitted);
  cmd::SetPrinterFontSize(printer, 11);
  printForm(printer, totals);
  cmd::EndPrinting(printer);
  // 7. The bill into the year's table, one record per prescription.
  postOutpatientBill(prescription, totals);
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
