// The internal monthly report per doctor: one month's takings of each of
// the seven doctors and their total, for the regular service and for the
// featured service (特色), outpatient and inpatient, with their sums and a
// grand total.
#include <array>
#include <string>

#include "app/report_steps.h"
#include "app/tables.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::report {
namespace {

constexpr int kColumns = kDoctorColumns;  // the seven doctors and 合计
using Row = DoctorRow;

// --- figures ---------------------------------------------------------------------

// Outpatient charge lines: `hj` per doctor code, "01" ... "07" for the
// regular service and "11" ... "17" for the featured one. The featured
// figures of "15" and "16" are held as whole numbers (the month's sum cut
// once toward zero). Each 合计 is the seven figures added, held as a
// single figure.
DoctorTakings chargeTakings(Sums& sums) {
  static constexpr const char* kRegular[kDoctors] = {"01", "02", "03", "04", "05", "06", "07"};
  static constexpr const char* kFeatured[kDoctors] = {"11", "12", "13", "14", "15", "16", "17"};
  DoctorTakings t;
  for (int k = 0; k < kDoctors; ++k) {
    const char* regular = kRegular[k];
    const char* featured = kFeatured[k];
    // A charge belongs to the doctor code that its prescription number
    // starts with (a shorter number matches no code).
    t.regular[size_t(k)] = Figure::single(sums.whereStarts("hj", "cf", regular));
    const double f = sums.whereStarts("hj", "cf", featured);
    const bool whole = k == 4 || k == 5;  // "15" and "16"
    t.featured[size_t(k)] = whole ? Figure::whole(f) : Figure::single(f);
  }
  t.regular[kDoctors] = Figure::single(Figure::sumOf(std::span(t.regular).first(kDoctors)).value());
  t.featured[kDoctors] = Figure::single(Figure::sumOf(std::span(t.featured).first(kDoctors)).value());
  return t;
}

// Inpatient postings: `c1` ... `c8` for the regular row and `c9` ... `c16`
// for the featured row, each over every posting; 合计 is the stored total
// field.
DoctorTakings postingTakings(Sums& sums) {
  DoctorTakings t;
  for (int k = 0; k < kColumns; ++k) {
    const std::string regular = "c" + std::to_string(k + 1);
    const std::string featured = "c" + std::to_string(k + 1 + kColumns);
    t.regular[size_t(k)] = Figure::single(sums.of(regular.c_str()));
    t.featured[size_t(k)] = Figure::single(sums.of(featured.c_str()));
  }
  return t;
}

// Column by column: the figures of a and b added in double.
Row added(const Row& a, const Row& b) {
  Row r;
  for (size_t k = 0; k < r.size(); ++k) r[k] = Figure::combined({a[k], b[k]});
  return r;
}

// The grand total: inpatient + outpatient + featured inpatient + featured
// outpatient, added in that order; with one table only, its two rows.
Row grandTotalOf(Case c, const DoctorTakings& outpatient, const DoctorTakings& inpatient) {
  switch (c) {
    case Case::kBoth: break;
    case Case::kFirstOnly: return added(outpatient.regular, outpatient.featured);
    case Case::kSecondOnly: return added(inpatient.regular, inpatient.featured);
    case Case::kNeither: return Row{};
  }
  Row r;
  for (size_t k = 0; k < r.size(); ++k)
    r[k] = Figure::combined({inpatient.regular[k], outpatient.regular[k], inpatient.featured[k],
                             outpatient.featured[k]});
  return r;
}

// The report's tables: the outpatient charges of one month, the inpatient
// postings of another (or the same), read into `into`.
Plan internalPlan(rt::DateTime outpatientMonth, rt::DateTime inpatientMonth, DoctorReading& into) {
  into.first = monthlyOutpatientTable(outpatientMonth);
  into.second = monthlyPostingTable(inpatientMonth);
  Plan plan;
  plan.first = into.first;
  plan.second = into.second;
  plan.readFirst = [&into](Sums& sums) { into.outpatient = chargeTakings(sums); };
  plan.readSecond = [&into](Sums& sums) { into.inpatient = postingTakings(sums); };
  return plan;
}

// --- layout ------------------------------------------------------------------------

void panelFrame(const Sheet& s, const std::string& period) {
  s.font(16);
  s.text(290, 5, GBK("康复中心业务月报表(内部)"));
  s.font(13);
  s.text(20, 25, GBK("康复门诊                               ") + period + GBK("月                    单位：元"));
  s.font(12);
  s.text(11, 54, GBK("  项 目     医师甲     医师乙    医师丙     医师丁     医师戊    医师己   医师庚     合  计"));
  s.text(11, 79, GBK("  门 诊"));
  s.text(11, 104, GBK("  住 院"));
  s.text(11, 129, GBK("  合 计"));
  s.text(11, 154, GBK("特色门诊"));
  s.text(11, 179, GBK("特色住院"));
  s.text(11, 204, GBK("特色合计"));
  s.text(11, 229, GBK("  总  计"));
  for (int k = 0; k <= 9; ++k) s.line(5 + 84 * k, 50, 5 + 84 * k, 250);
  for (int k = 0; k <= 8; ++k) s.line(5, 50 + 25 * k, 761, 50 + 25 * k);
}

void paperFrame(const Sheet& s, const std::string& period) {
  s.font(20);
  s.text(1100, 150, GBK("康复中心业务月报表(内部)"));
  s.font(14);
  s.text(200, 280, GBK("     康复中心                                   ") + period +
                       GBK("月                        (单位：元)"));
  for (int k = 0; k <= 8; ++k) s.line(200 + 250 * k, 350, 200 + 250 * k, 1150);
  s.line(2750, 350, 2750, 1150);
  for (int k = 0; k <= 8; ++k) s.line(200, 350 + 100 * k, 2750, 350 + 100 * k);
  s.font(13);
  s.text(250, 380, GBK("项  目      医师甲     医师乙     医师丙      医师丁     医师戊      医师己      医师庚           合  计"));
  s.text(250, 480, GBK("门  诊"));
  s.text(250, 580, GBK("住  院"));
  s.text(250, 680, GBK("合  计"));
  s.text(245, 780, GBK("特色门诊"));
  s.text(245, 880, GBK("特色住院"));
  s.text(245, 980, GBK("特色合计"));
  s.text(250, 1080, GBK("总  计"));
}

enum RowPlace { kOutpatient, kInpatient, kSum, kFeaturedOutpatient, kFeaturedInpatient, kFeaturedSum, kGrandTotal };

// Values: font 8 on the panel, 13 on paper; each row at its label's y.
void drawValues(const Sheet& s, RowPlace place, const Row& r) {
  static constexpr int kPanelX[kColumns] = {90, 174, 258, 342, 426, 510, 594, 678};
  static constexpr int kPaperX[kColumns] = {480, 730, 960, 1230, 1480, 1730, 2000, 2250};
  // Each figure ends a little before the rule that closes its cell.
  static constexpr int kPanelRight[kColumns] = {171, 255, 339, 423, 507, 591, 675, 759};
  static constexpr int kPaperRight[kColumns] = {690, 940, 1190, 1440, 1690, 1940, 2190, 2740};
  static constexpr int kPanelY[] = {79, 104, 129, 154, 179, 204, 229};
  static constexpr int kPaperY[] = {480, 580, 680, 780, 880, 980, 1080};
  s.font(s.onPaper() ? 13 : 8);
  const Columns panel{kPanelX, kPanelX, kPanelRight};
  const Columns paper{kPaperX, kPaperX, kPaperRight};
  drawRow(s, s.onPaper() ? paper : panel, s.onPaper() ? kPaperY[place] : kPanelY[place], r);
}

// The rows of each case, in drawing order. With one table only, the sum
// rows repeat that table's rows and the grand total adds its two rows.
void rows(const Sheet& s, Case c, const DoctorTakings& out, const DoctorTakings& in) {
  switch (c) {
    case Case::kBoth:
      drawValues(s, kOutpatient, out.regular);
      drawValues(s, kFeaturedOutpatient, out.featured);
      drawValues(s, kInpatient, in.regular);
      drawValues(s, kFeaturedInpatient, in.featured);
      drawValues(s, kSum, added(out.regular, in.regular));
      drawValues(s, kFeaturedSum, added(out.featured, in.featured));
      drawValues(s, kGrandTotal, grandTotalOf(Case::kBoth, out, in));
      break;
    case Case::kNeither:
      break;
    case Case::kFirstOnly:
      drawValues(s, kOutpatient, out.regular);
      drawValues(s, kFeaturedOutpatient, out.featured);
      drawValues(s, kSum, out.regular);
      drawValues(s, kFeaturedSum, out.featured);
      drawValues(s, kGrandTotal, grandTotalOf(Case::kFirstOnly, out, in));
      break;
    case Case::kSecondOnly:
      drawValues(s, kInpatient, in.regular);
      drawValues(s, kFeaturedInpatient, in.featured);
      drawValues(s, kSum, in.regular);
      drawValues(s, kFeaturedSum, in.featured);
      drawValues(s, kGrandTotal, grandTotalOf(Case::kSecondOnly, out, in));
      break;
  }
}

}  // namespace

void internalReport(Where where) {
  // Titles and outpatient figures: the month of 日期框1; inpatient
  // figures: the month of 日期框3. The case follows the tables of those
  // months, the ones actually read.
  const rt::DateTime outpatientMonth = chosenDate("日期框1");
  const rt::DateTime inpatientMonth = chosenDate("日期框3");
  const std::string period = cmd::ToText(cmd::YearOf(outpatientMonth)) + GBK("年") +
                             cmd::ToText(cmd::MonthOf(outpatientMonth));

  DoctorReading taken;
  Plan plan = internalPlan(outpatientMonth, inpatientMonth, taken);
  plan.frame = [&](const Sheet& s) {
    if (s.onPaper())
      paperFrame(s, period);
    else
      panelFrame(s, period);
  };
  plan.rows = [&](const Sheet& s, Case c) { rows(s, c, taken.outpatient, taken.inpatient); };
  produce(plan, where);
}

const char* doctorName(int k) {
  static constexpr const char* kNames[kDoctors] = {"医师甲", "医师乙", "医师丙", "医师丁",
                                                   "医师戊", "医师己", "医师庚"};
  return k >= 0 && k < kDoctors ? kNames[k] : "";
}

DoctorRow DoctorReading::grandTotal() const { return grandTotalOf(which, outpatient, inpatient); }

DoctorReading doctorTakings(rt::DateTime outpatientMonth, rt::DateTime inpatientMonth,
                            UnreadableTables* quiet) {
  DoctorReading t;
  t.which = readTables(internalPlan(outpatientMonth, inpatientMonth, t), quiet);
  return t;
}

}  // namespace app::report
