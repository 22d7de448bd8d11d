#include "app/inpatient_bill.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "app/charging.h"
#include "app/medication.h"
#include "app/module.h"
#include "app/program_values.h"
#include "app/tables.h"
#include "db/each.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/window_ids.h"
#include "print/facade.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr ModuleWindow kWin{ids::kMedicationWindow};

rt::Arg printer() { return kWin.control("打印机1").arg(); }

// --- the patient the prints are for -------------------------------------------------

// The prints take the patient from the panel and the totals from his table:
// 编辑框1 must still hold the number of the patient the panel shows, or a
// bill would carry one patient's particulars with another's figures (or a
// prescription's, left by the outpatient window) and post them under his
// number. His charge table is made current.
bool patientShown(std::string* zyh) {
  *zyh = kWin.text("编辑框1");
  return patientOnPanel(*zyh, GBK("再打印"), "") &&
         useChargeTable(patientChargeTable(*zyh), GBK("本次未打印。"));
}

// --- discharge cost statement ------------------------------------------------------

// Rows are 40 apart; a row, the closing line and the print time need that
// much room above the bottom of the printable area.
constexpr int kRowPitch = 40;
constexpr int kLineRoom = 40;
constexpr int kTimeRoom = 50;
// On the first page row r stands at 550 + 40·r under the headings at 500;
// a continued page repeats the headings at the top, the rows 90 below as on
// the first page.
constexpr int kFirstRows = 550;
constexpr int kContinuedHeadings = 100;
constexpr int kContinuedRows = kContinuedHeadings + 50;

void printHeadings(const rt::Arg& p, int y) {
  const struct {
    int x;
    const char* text;
  } headings[] = {
      {220, "使用时间"}, {500, "药品名称"}, {780, "类别"},     {940, "报销"},     {1100, "单位"},
      {1300, "数量"},    {1400, "  单价  "}, {1550, "  合计  "}, {1700, "  处方  "}, {1900, "收费员"},
  };
  cmd::SetPrinterFontSize(p, 11);
  for (const auto& h : headings) cmd::PrintTextAt(p, h.x, y, rt::utf8ToGbk(h.text));
}

// The fields of a statement row and where each is printed.
constexpr struct {
  const char* field;
  int x;
} kColumns[] = {{"shj", 200}, {"mch", 450}, {"lb", 800},  {"bx", 950},  {"dw", 1100},
                {"shl", 1300}, {"dj", 1450}, {"hj", 1600}, {"cf", 1750}, {"shf", 1900}};

using StatementRows = std::vector<std::vector<std::string>>;

// One charge line, every field as text, oldest first.
void printRow(const rt::Arg& p, const std::vector<std::string>& row, int y) {
  for (size_t i = 0; i < row.size() && i < std::size(kColumns); ++i) cmd::PrintTextAt(p, kColumns[i].x, y, row[i]);
}

void printClosing(const rt::Arg& p, int lineY, int timeY) {
  cmd::DrawLine(p, 200, lineY, 2300, lineY);
  cmd::SetPrinterFontSize(p, 11);
  cmd::PrintTextAt(p, 1300, timeY, GBK("打印时间：") + cmd::ToText(cmd::Now()));
}

void printStatement() {
  std::string zyh;
  if (!patientShown(&zyh)) return;
  const rt::Arg p = printer();
  // 1. A4, portrait, the printer dialog shown.
  if (!cmd::BeginPrinting(p, rt::omitted, rt::omitted, 2, rt::omitted, rt::omitted, rt::omitted))
    return;  // cancelled: nothing to print on
  // 6. His charge lines, oldest first, read whole in one pass after the
  //    dialog; a table that cannot be read prints nothing.
  StatementRows rows;
  int rc = openAndSelect(patientChargeTable(zyh));
  if (rc == 0)
    rc = db::forEachRecord(
        [&rows] {
          std::vector<std::string> row;
          for (const auto& c : kColumns) row.push_back(cmd::ToText(cmd::ReadField(c.field).arg()));
          rows.push_back(std::move(row));
        },
        true);
  if (rc != 0) {
    cmd::AbortPrinting(p);
    tellFailure(GBK("收费表“") + patientChargeTable(zyh) + GBK("”无法读取"), rc, GBK("明细单未打印。"));
    return;
  }
  // 2. The title.
  cmd::SetPrinterFontSize(p, 16);
  cmd::PrintTextAt(p, 800, 300, GBK("出院病人总费用明细单"));
  // 3. The patient from the panel.
  cmd::SetPrinterFontSize(p, 11);
  cmd::PrintTextAt(p, 200, 420,
                   GBK("住院号：") + kWin.text("标签26") + GBK("     科别： ") + kWin.text("标签27") +
                       GBK("   床位号：") + kWin.text("标签28") + GBK("       姓名： ") + kWin.text("标签21"));
  // 4, 5. The line and the headings.
  cmd::DrawLine(p, 200, 470, 2200, 470);
  printHeadings(p, 500);
  cmd::SetPrinterFontSize(p, 9);
  const int n = int(rows.size());
  const int bottom = cmd::PrintableHeight(p);
  // A statement whose rows, closing line and print time all fit the page
  // prints as laid out for one page: row r at 550 + 40·r, the closing line
  // at 40n + 600, the print time at 50n + 580.
  const bool onePage = kFirstRows + kRowPitch * n + kRowPitch <= bottom &&
                       40 * n + 600 + kLineRoom <= bottom && 50 * n + 580 + kTimeRoom <= bottom;
  if (onePage) {
    for (int r = 1; r <= n; ++r) printRow(p, rows[size_t(r - 1)], kFirstRows + kRowPitch * r);
    printClosing(p, 40 * n + 600, 50 * n + 580);
    cmd::EndPrinting(p);
    return;
  }
  // 7. A longer one goes on over as many pages as it needs, the headings
  //    repeated at the top of each; the closing line and the print time
  //    follow the last row.
  int y = kFirstRows;
  for (int r = 1; r <= n; ++r) {
    y += kRowPitch;
    if (y + kRowPitch > bottom) {
      cmd::NewPage(p);
      printHeadings(p, kContinuedHeadings);
      cmd::SetPrinterFontSize(p, 9);
      y = kContinuedRows + kRowPitch;
    }
    printRow(p, rows[size_t(r - 1)], y);
  }
  int lineY = y + 50, timeY = y + 80;
  if (timeY + kTimeRoom > bottom) {
    cmd::NewPage(p);
    lineY = kContinuedHeadings;
    timeY = kContinuedHeadings + 30;
  }
  printClosing(p, lineY, timeY);
  cmd::EndPrinting(p);
}

// --- inpatient bill and its postings -----------------------------------------------

// 4. The monthly record: the patient's totals per prescription code, as
//    the bill's reading of his lines gave them.
bool postMonth(const std::string& zyh, const std::array<float, 17>& c) {
  const std::string table = monthlyPostingTable(cmd::Now());
  if (!usePostingTable(table, kPostings)) return false;
  // A table that could not be searched to the end gets no record: an
  // append could make a second record for him.
  const int found = searchText("zy", zyh);
  if (found < 0) {
    tellPostingFailed(table);
    return false;
  }
  const bool written =
      found == 1 ? cmd::ModifyRecord(c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12],
                                c[13], c[14], c[15], c[16], zyh)
            : cmd::AppendRecord(c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12],
                                c[13], c[14], c[15], c[16], zyh);
  if (!written) tellPostingFailed(table);
  return written;
}

void printForm(const rt::Arg& p, rt::DateTime today, const CategoryTotals& t) {
  cmd::PrintTextAt(p, 450, 130, GBK("青山康复中心"));
  cmd::PrintTextAt(p, 350, 210, kWin.text("标签21"));
  cmd::PrintTextAt(p, 750, 210, kWin.text("标签27"));
  cmd::PrintTextAt(p, 1300, 210, kWin.text("标签26"));
  cmd::PrintTextAt(p, 420, 290, kWin.text("标签24"));
  cmd::PrintTextAt(p, 800, 290, today);
  cmd::PrintTextAt(p, 1300, 290, cmd::TimeInterval(today, cmd::ToDateTime(kWin.text("标签24")), 5));
  const struct {
    int y;
    Category columns[4];
  } rows[] = {
      {370, {kWard, kHerbal, kDelivery, kSurgery}},
      {450, {kHeating, kTreatment, kInfant, kTransfusion}},
      {530, {kWestern, kExamination, kMedical, kOxygen}},
      {620, {kPatentChinese, kLaboratory, kRadiology, kCare}},
  };
  const int columnX[4] = {350, 700, 1100, 1450};
  for (const auto& row : rows)
    for (int i = 0; i < 4; ++i) cmd::PrintTextAt(p, columnX[i], row.y, t[size_t(row.columns[i])]);
  cmd::PrintTextAt(p, 450, 700, GBK("※") + cmd::ChineseNumerals(kWin.number("编辑框11"), false));
  cmd::PrintTextAt(p, 1400, 700, kWin.text("编辑框11"));
  cmd::PrintTextAt(p, 550, 780, kWin.text("标签19"));
  // Prepayment − total: what is still to pay, or what is refunded.
  const double balance = kWin.number("标签13");
  if (balance < -1e-7) {
    cmd::PrintTextAt(p, 950, 780, cmd::Abs(balance));
    cmd::PrintTextAt(p, 1400, 780, int32_t(0));
  } else {
    cmd::PrintTextAt(p, 950, 780, int32_t(0));
    cmd::PrintTextAt(p, 1400, 780, kWin.text("标签13"));
  }
  cmd::PrintTextAt(p, 450, 850, today);
  cmd::PrintTextAt(p, 1400, 850, cashier());
}

void printBill() {
  std::string zyh;
  if (!patientShown(&zyh)) return;
  const rt::Arg p = printer();
  // 1. The printer's own paper, portrait, the dialog shown. A cancelled
  //    dialog prints nothing but still posts: the posting records the bill.
  cmd::BeginPrinting(p, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted);
  // His figures, read once after the dialog is answered: the form, the
  //    window, the yearly and the monthly posting all come from this one
  //    reading, whatever another workstation charged while the dialog was
  //    open. The program-wide totals may be another patient's by now.
  ChargeFigures figures;
  if (!useChargeTable(patientChargeTable(zyh), GBK("本次未打印，票据数字未记入。")) ||
      showChargesOf(zyh, &figures, GBK("本次未打印，票据数字未记入。")) != 0) {
    cmd::AbortPrinting(p);
    return;
  }
  cmd::SetPrinterFontSize(p, 11);
  // 2. The form.
  const rt::DateTime today = cmd::DateOnly(cmd::Now());
  printForm(p, today, figures.categories);
  // 3, 4. The postings the reports read, keyed by his number.
  postInpatientBill(today, zyh, figures, zyh);
  // 5.
  cmd::EndPrinting(p);
}

}  // namespace

bool postInpatientBill(rt::DateTime today, const std::string& number, const ChargeFigures& figures,
                       const std::string& zyh) {
  // 3. The yearly record.
  const bool year = postBill(yearlyInpatientBills(cmd::Now()), today, number, figures.categories);
  // 4. The monthly record, written whether or not the yearly one was.
  const bool month = postMonth(zyh, figures.byCode);
  return year && month;
}

void setInpatientBillHandlers(std::vector<forms::Handler>& table) {
  namespace m = ids::medication;
  if (table.size() < size_t(m::kHandlerCount)) table.resize(size_t(m::kHandlerCount), nullptr);
  table[m::kPrintStatement] = printStatement;
  table[m::kPrintBill] = printBill;
}

}  // namespace app
