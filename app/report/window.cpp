#include "app/report/window.h"

#include <string>

#include "app/telling.h"
#include "app/report/sheet.h"
#include "app/rights.h"
#include "app/tables.h"
#include "app/trail.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "db/facade.h"
#include "forms/window_ids.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace r = forms::ids::report;
using report::Where;

// --- reports -------------------------------------------------------------------------

void previewMonthly() { report::monthlyReport(Where::kPanel); }
void printMonthly() { report::monthlyReport(Where::kPaper); }
void previewYearly() { report::yearlyReport(Where::kPanel); }
void printYearly() { report::yearlyReport(Where::kPaper); }
void previewInternal() { report::internalReport(Where::kPanel); }
void printInternal() { report::internalReport(Where::kPaper); }

// --- corrections ---------------------------------------------------------------------

// Opens the record-edit dialog on a period table. The dialog edits the
// current table, so a table that does not exist (nothing was posted in
// that period) or cannot be opened is named and nothing is opened: a
// correction must never land in whatever other table happens to be
// current.
void editPeriodTable(const std::string& name) {
  if (!rights::require(rights::Right::kCorrect, GBK("未打开记录编辑。"))) return;
  const std::string file = name + ".kdb";
  if (!cmd::FileExists(file) && db::lastError() == db::kOk) {
    const std::string text = GBK("数据表 ") + file + GBK(" 不存在，没有可修改的记录。");
    tell(text.c_str());
    return;
  }
  if (const TableUse use = useTable(name); !use.ok()) {
    const std::string text = GBK("数据表 ") + file + GBK(" 无法打开：") + causeText(use.code);
    tell(text.c_str());
    return;
  }
  // Every correction saved there is trailed with its values before and after.
  trail::DialogTrail trailed(name);
  cmd::EditRecords();
}

// 按钮5 and 按钮7: the yearly inpatient bills of the year in 日期框2.
void editYearlyInpatient() { editPeriodTable(yearlyInpatientBills(report::chosenDate("日期框2"))); }
// 按钮6: the yearly outpatient bills of the year in 日期框2.
void editYearlyOutpatient() { editPeriodTable(yearlyOutpatientBills(report::chosenDate("日期框2"))); }
// 按钮10: the inpatient postings of the month in 日期框3.
void editMonthlyPostings() { editPeriodTable(monthlyPostingTable(report::chosenDate("日期框3"))); }

}  // namespace

void setReportHandlers(std::vector<forms::Handler>& table) {
  table[r::kPreviewMonthly] = previewMonthly;
  table[r::kPrintMonthly] = printMonthly;
  table[r::kPreviewYearly] = previewYearly;
  table[r::kPrintYearly] = printYearly;
  table[r::kPreviewInternal] = previewInternal;
  table[r::kPrintInternal] = printInternal;
  table[r::kEditMonthlyInpatient] = editYearlyInpatient;   // 按钮5
  table[r::kEditYearlyInpatient] = editYearlyInpatient;    // 按钮7
  table[r::kEditYearlyOutpatient] = editYearlyOutpatient;  // 按钮6
  table[r::kEditInternalInpatient] = editMonthlyPostings;  // 按钮10
}

}  // namespace app
