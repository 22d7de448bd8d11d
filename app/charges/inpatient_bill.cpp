#include "app/charges/inpatient_bill.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "app/charges/charging.h"
#include "app/charges/medication.h"
#include "app/fitted_text.h"
#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/charges/charge_values.h"
#include "app/figures/stored_amounts.h"
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
  return patientOnPanel(*zyh, GBK("再打印"), "") && useChargeTable(patientChargeTable(*zyh), GBK("本次未打印。"));
}

// --- discharge cost statement ------------------------------------------------------

// Rows are 40 apart; a row, the closing line and the print time need that
// much room above the bottom of the usable page.
constexpr int kRowPitch = 40;
constexpr int kLineRoom = 40;
constexpr int kTimeRoom = 50;
// Nothing is printed within 15 mm (150 units) of the sheet's bottom edge,
// whatever the device says it could print there.
constexpr int kBottomClearance = 150;
// On the first page row r stands at 550 + 40·r under the headings at 500.
// A continued page carries the patient's name and number and the page
// number at the top, the headings under them and the rows 90 below the
// headings as on the first page.
constexpr int kFirstRows = 550;
constexpr int kContinuedPatient = 100;
constexpr int kContinuedHeadings = 170;
constexpr int kContinuedRows = kContinuedHeadings + 50;
// The page number stands at the right of the first line of each page.
constexpr int kPageNumberX = 1700;
constexpr int kFirstPageNumberY = 320;

// The headings as the form places them; the last is kept inside the right
// of the usable page (the others leave room enough for each other).
void printHeadings(const rt::Arg& p, int y, int right) {
  const struct {
    int x;
    const char* text;
  } headings[] = {
      {220, "使用时间"}, {500, "药品名称"},  {780, "类别"},      {940, "报销"},      {1100, "单位"},
      {1300, "数量"},    {1400, "  单价  "}, {1550, "  合计  "}, {1700, "  处方  "}, {1900, "收费员"},
  };
  cmd::SetPrinterFontSize(p, 11);
  for (size_t i = 0; i + 1 < std::size(headings); ++i)
    cmd::PrintTextAt(p, headings[i].x, y, rt::utf8ToGbk(headings[i].text));
  const auto& last = headings[std::size(headings) - 1];
  printFitted(p, last.x, y, right, rt::utf8ToGbk(last.text), 11);
}

// The fields of a statement row, where each is printed and where its
// column ends (the next column, or the right of the usable page for the
// last one).
constexpr struct {
  const char* field;
  int x;
} kColumns[] = {{"shj", 200},  {"mch", 450}, {"lb", 800},  {"bx", 950},  {"dw", 1100},
                {"shl", 1300}, {"dj", 1450}, {"hj", 1600}, {"cf", 1750}, {"shf", 1900}};
constexpr int kColumnGap = 10;

using StatementRows = std::vector<std::vector<std::string>>;

// One charge line, every field as text, oldest first; a field wider than
// its column is drawn smaller or cut rather than over the next one.
void printRow(const rt::Arg& p, const std::vector<std::string>& row, int y, int right) {
  for (size_t i = 0; i < row.size() && i < std::size(kColumns); ++i) {
    const int end = i + 1 < std::size(kColumns) ? kColumns[i + 1].x - kColumnGap : right;
    printFitted(p, kColumns[i].x, y, end, row[i], 9);
  }
}

void printClosing(const rt::Arg& p, int lineY, int timeY, int right) {
  cmd::DrawLine(p, 200, lineY, std::min(2300, right), lineY);
  cmd::SetPrinterFontSize(p, 11);
  cmd::PrintTextAt(p, 1300, timeY, GBK("打印时间：") + cmd::ToText(cmd::Now()));
}

std::string pageNumberText(int page, int pages) {
  return GBK("第 ") + std::to_string(page) + GBK(" 页 共 ") + std::to_string(pages) + GBK(" 页");
}

// The top of a continued page: whose statement it is, which page of how
// many, and (for a page with rows) the headings.
void printContinuedTop(const rt::Arg& p, int page, int pages, bool headings, int right) {
  cmd::SetPrinterFontSize(p, 11);
  cmd::PrintTextAt(p, 200, kContinuedPatient,
                   GBK("住院号：") + kWin.text("标签26") + GBK("       姓名： ") + kWin.text("标签21"));
  cmd::PrintTextAt(p, kPageNumberX, kContinuedPatient, pageNumberText(page, pages));
  if (headings) printHeadings(p, kContinuedHeadings, right);
}

// Where each row of a statement longer than one page goes.
struct StatementLayout {
  std::vector<int> rowPage, rowY;
  int closingPage = 1, lineY = 0, timeY = 0;
  int pages() const { return closingPage; }
};

StatementLayout layOut(int n, int bottom) {
  StatementLayout l;
  int page = 1, y = kFirstRows;
  for (int r = 1; r <= n; ++r) {
    y += kRowPitch;
    if (y + kRowPitch > bottom) {
      ++page;
      y = kContinuedRows + kRowPitch;
    }
    l.rowPage.push_back(page);
    l.rowY.push_back(y);
  }
  l.closingPage = page;
  l.lineY = y + 50;
  l.timeY = y + 80;
  if (l.timeY + kTimeRoom > bottom) {
    l.closingPage = page + 1;
    l.lineY = kContinuedHeadings;
    l.timeY = kContinuedHeadings + 30;
  }
  return l;
}

// 打印明细: the discharge cost statement of the patient on the panel.
//   1. The printer dialog; A4, portrait.
//   2. The title.
//   3. The patient from the panel.
//   4. The line under him,
//   5. and the column headings.
//   6. His charge lines, oldest first (read after the dialog).
//   7. The rows, over as many pages as they need; the closing line and the
//      print time after the last.
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
  int rc = useTable(patientChargeTable(zyh)).code;
  if (rc == 0)
    rc = db::forEachRecord(
        [&rows] {
          std::vector<std::string> row;
          for (const auto& c : kColumns) {
            rt::Result value = cmd::ReadField(c.field);
            // The price and the line total are amounts of money: to the fen.
            row.push_back(value.kind() == rt::kFloat ? cmd::MoneyText(value.arg()) : cmd::ToText(value.arg()));
          }
          rows.push_back(std::move(row));
        },
        true);
  if (rc != 0) {
    cmd::AbortPrinting(p);
    tellFailure(GBK("收费表“") + patientChargeTable(zyh) + GBK("”无法读取"), rc, GBK("明细单未打印。"));
    return;
  }
  const int n = int(rows.size());
  const int bottom = std::min(cmd::PrintableHeight(p), int(cmd::SheetBottom(p)) - kBottomClearance);
  const int right = cmd::PrintableWidth(p);
  // A statement whose rows, closing line and print time all fit the page
  // prints as laid out for one page: row r at 550 + 40·r, the closing line
  // at 40n + 600, the print time at 50n + 580. A longer one goes on over as
  // many pages as it needs.
  const bool onePage = kFirstRows + kRowPitch * n + kRowPitch <= bottom && 40 * n + 600 + kLineRoom <= bottom &&
                       50 * n + 580 + kTimeRoom <= bottom;
  const StatementLayout layout = layOut(n, bottom);
  const int pages = onePage ? 1 : layout.pages();
  // 2. The title.
  cmd::SetPrinterFontSize(p, 16);
  cmd::PrintTextAt(p, 800, 300, GBK("出院病人总费用明细单"));
  // 3. The patient from the panel.
  cmd::SetPrinterFontSize(p, 11);
  cmd::PrintTextAt(p, 200, 420,
                   GBK("住院号：") + kWin.text("标签26") + GBK("     科别： ") + kWin.text("标签27") +
                       GBK("   床位号：") + kWin.text("标签28") + GBK("       姓名： ") + kWin.text("标签21"));
  if (pages > 1) cmd::PrintTextAt(p, kPageNumberX, kFirstPageNumberY, pageNumberText(1, pages));
  // 4, 5. The line (to the right of the usable page at most) and the
  //       headings.
  cmd::DrawLine(p, 200, 470, std::min(2200, right), 470);
  printHeadings(p, 500, right);
  if (onePage) {
    for (int r = 1; r <= n; ++r) printRow(p, rows[size_t(r - 1)], kFirstRows + kRowPitch * r, right);
    printClosing(p, 40 * n + 600, 50 * n + 580, right);
    cmd::EndPrinting(p);
    return;
  }
  // 7. Row by row onto the pages laid out; the closing line and the print
  //    time follow the last row.
  int page = 1;
  for (int r = 0; r < n; ++r) {
    if (layout.rowPage[size_t(r)] != page) {
      cmd::NewPage(p);
      printContinuedTop(p, ++page, pages, true, right);
    }
    printRow(p, rows[size_t(r)], layout.rowY[size_t(r)], right);
  }
  if (layout.closingPage != page) {
    cmd::NewPage(p);
    printContinuedTop(p, ++page, pages, false, right);
  }
  printClosing(p, layout.lineY, layout.timeY, right);
  cmd::EndPrinting(p);
}

// --- inpatient bill and its postings -----------------------------------------------

// The bill's step 4 (printBill): the monthly record, the patient's totals
// per prescription code as the bill's reading of his lines gave them.
bool postMonth(const std::string& zyh, const std::array<int64_t, 17>& fen) {
  std::array<float, 17> c{};
  for (size_t i = 0; i < c.size(); ++i) c[i] = storedOf(fen[i]);
  const std::string table = monthlyPostingTable(cmd::Now());
  if (!usePostingTable(table, kPostings)) return false;
  // A table that could not be searched to the end gets no record: an
  // append could make a second record for him.
  const int found = searchText("zy", zyh);
  if (found < 0) {
    tellPostingFailed(table);
    return false;
  }
  const bool written = found == 1 ? cmd::ModifyRecord(c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10],
                                                      c[11], c[12], c[13], c[14], c[15], c[16], zyh)
                                  : cmd::AppendRecord(c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10],
                                                      c[11], c[12], c[13], c[14], c[15], c[16], zyh);
  if (!written) tellPostingFailed(table);
  return written;
}

}  // namespace

std::string daysText(double days) {
  if (!std::isfinite(days)) return cmd::ToText(days);
  const long long tenths = std::llround(days * 10);
  const long long a = tenths < 0 ? -tenths : tenths;
  return std::string(tenths < 0 ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10);
}

namespace {

void printForm(const rt::Arg& p, rt::DateTime today, const CategoryTotals& t) {
  cmd::PrintTextAt(p, 450, 130, GBK("青山康复中心"));
  cmd::PrintTextAt(p, 350, 210, kWin.text("标签21"));
  cmd::PrintTextAt(p, 750, 210, kWin.text("标签27"));
  cmd::PrintTextAt(p, 1300, 210, kWin.text("标签26"));
  // The admission date-time is drawn smaller where it would run into
  // today's date beside it.
  printFitted(p, 420, 290, 790, kWin.text("标签24"), 11);
  cmd::PrintTextAt(p, 800, 290, today);
  cmd::PrintTextAt(p, 1300, 290, daysText(cmd::TimeInterval(today, cmd::ToDateTime(kWin.text("标签24")), 5)));
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
    for (int i = 0; i < 4; ++i)
      cmd::PrintTextAt(p, columnX[i], row.y, cmd::MoneyText(yuanOf(t[size_t(row.columns[i])])));
  cmd::PrintTextAt(p, 450, 700, GBK("※") + cmd::ChineseNumerals(kWin.number("编辑框11"), false));
  cmd::PrintTextAt(p, 1400, 700, kWin.text("编辑框11"));
  cmd::PrintTextAt(p, 550, 780, kWin.text("标签19"));
  // Prepayment − total: what is still to pay, or what is refunded.
  const double balance = kWin.number("标签13");
  if (balance < -1e-7) {
    cmd::PrintTextAt(p, 950, 780, cmd::MoneyText(cmd::Abs(balance)));
    cmd::PrintTextAt(p, 1400, 780, int32_t(0));
  } else {
    cmd::PrintTextAt(p, 950, 780, int32_t(0));
    cmd::PrintTextAt(p, 1400, 780, kWin.text("标签13"));
  }
  cmd::PrintTextAt(p, 450, 850, today);
  cmd::PrintTextAt(p, 1400, 850, cashier());
}

// 打印票据: the inpatient bill of the patient on the panel.
//   1. The printer dialog; the printer's own paper, portrait.
//   2. The form, from one reading of his lines.
//   3. The yearly posting (bz + year),
//   4. and the monthly posting (n + year + month), whether or not the
//      yearly one was written.
//   5. The page out.
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
  // 3, 4. The postings the reports read, keyed by his number. Each tells
  //       its own failure; the form is printed either way.
  static_cast<void>(postInpatientBill(today, zyh, figures, zyh));
  // 5.
  cmd::EndPrinting(p);
}

}  // namespace

// The bill's steps 3 and 4 (printBill above).
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
