// The monthly and the yearly business report: the centre's takings per
// charge column, a row for the outpatient service, one for the ward and
// their sum. Both share one layout of thirteen value columns; on paper the
// sheet also carries the blank tables (二), (三) and (四) that are filled
// in by hand.
#include <array>
#include <string>
#include <vector>

#include "app/report_steps.h"
#include "app/tables.h"
#include "db/facade.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace app::report {
namespace {

// Category positions in the fixed order of kCategories.
enum Category : int {
  kXiyao, kJiancha, kShoushu, kZhongcheng, kShuyang, kZhiliao, kHuayan, kQita, kZhongcao,
  kFangshe, kShuxue, kZhuyuan, kLengnuan, kJiesheng, kYinger, kYiliao, kJianhu,
};

constexpr int kColumns = kBusinessColumns;
using Row = BusinessRow;

// Columns 2 to 12 (草药 ... 其他), each one category; 西成 is 西药 with
// 中成, 合计 the total. 冷暖, 接生, 婴儿 and 医疗 reach only 合计.
constexpr Category kColumnCategory[kColumns - 2] = {
    kZhongcao, kZhuyuan, kZhiliao, kHuayan, kJiancha, kFangshe,
    kShuyang,  kShoushu, kShuxue,  kJianhu, kQita,
};

// The four categories without a column of their own.
constexpr Category kWithoutColumn[] = {kLengnuan, kJiesheng, kYinger, kYiliao};

// --- figures ---------------------------------------------------------------------

// Outpatient charge lines: `hj` summed per category word of `lb`, then
// over every line.
Takings chargeTakings(Sums& sums) {
  Takings t;
  for (int i = 0; i < kCategoryCount; ++i)
    t.category[size_t(i)] = Figure::single(sums.where("hj", "lb", categoryName(i)));
  t.total = Figure::single(sums.of("hj"));
  return t;
}

// Bills: each category's amount field and the total, over every bill.
Takings billTakings(Sums& sums) {
  Takings t;
  for (int i = 0; i < kCategoryCount; ++i)
    t.category[size_t(i)] = Figure::single(sums.of(billAmountField(i)));
  t.total = Figure::single(sums.of(kBillTotalField));
  return t;
}

// The bill being summed was printed in `month` (the table holds one year,
// so the year needs no test).
bool billOfMonth(int month) {
  rt::Result shj = cmd::ReadField("shj");
  if (shj.kind() != rt::kDateTime) rt::raiseRuntimeError(5);
  return cmd::MonthOf(rt::DateTime{shj.real()}) == month;
}

// Bills of one month of the year: as billTakings, over those bills only.
Takings billTakingsOfMonth(Sums& sums, int month) {
  const std::function<bool()> ofMonth = [month] { return billOfMonth(month); };
  Takings t;
  for (int i = 0; i < kCategoryCount; ++i)
    t.category[size_t(i)] = Figure::single(sums.when(billAmountField(i), ofMonth));
  t.total = Figure::single(sums.when(kBillTotalField, ofMonth));
  return t;
}

// The row of one table: 西成 = 西药 + 中成 combined, then a single figure
// per column, the total last.
Row rowOf(const Takings& t) {
  Row r;
  r[0] = Figure::combined({t.category[kXiyao], t.category[kZhongcheng]});
  for (size_t i = 0; i < std::size(kColumnCategory); ++i) r[i + 1] = t.category[kColumnCategory[i]];
  r[kColumns - 1] = t.total;
  return r;
}

// The sum row: outpatient + inpatient column by column; 西成 adds the
// ward's 西药 and 中成, then the outpatient service's.
Row sumRow(const Takings& outpatient, const Takings& inpatient) {
  Row r;
  r[0] = Figure::combined({inpatient.category[kXiyao], inpatient.category[kZhongcheng],
                           outpatient.category[kXiyao], outpatient.category[kZhongcheng]});
  for (size_t i = 0; i < std::size(kColumnCategory); ++i)
    r[i + 1] = Figure::combined(
        {outpatient.category[kColumnCategory[i]], inpatient.category[kColumnCategory[i]]});
  r[kColumns - 1] = Figure::combined({outpatient.total, inpatient.total});
  return r;
}

// --- layout ------------------------------------------------------------------------

// The texts that differ between the monthly and the yearly report (GBK).
struct Titles {
  std::string title;   // "康复中心业务月报表" or "...年报表"
  std::string panel;   // the period line under the title on the panel
  std::string paper;   // the period line of section (一) on paper
};

void panelFrame(const Sheet& s, const Titles& t) {
  s.font(16);
  s.text(300, 10, t.title);
  s.font(13);
  s.text(20, 40, t.panel);
  s.font(12);
  s.text(11, 74, GBK("       西成    草药   床位  治疗   化验  功能   放射  吸氧   手术   输血   监护  其他   合计"));
  s.text(11, 104, GBK("门诊"));
  s.text(11, 134, GBK("住院"));
  s.text(11, 164, GBK("合计"));
  for (int k = 0; k <= 14; ++k) s.line(5 + 54 * k, 70, 5 + 54 * k, 190);
  for (int k = 0; k <= 4; ++k) s.line(5, 70 + 30 * k, 761, 70 + 30 * k);
}

void paperFrame(const Sheet& s, const Titles& t) {
  s.font(20);
  s.text(1100, 150, t.title);
  s.font(14);
  s.text(200, 230, t.paper);
  s.text(200, 700, GBK("(二)用品用具                                             (四) 药品专项"));
  s.text(200, 1400, GBK("(三)聋儿班"));

  // Section (一): the figures, and four columns filled in by hand.
  for (int y : {300, 370, 440, 510, 580}) s.line(150, y, 2800, y);
  for (int k = 0; k <= 13; ++k) s.line(150 + 132 * k, 300, 150 + 132 * k, 580);
  for (int x : {2200, 2350, 2500, 2650, 2800}) s.line(x, 300, x, 580);
  s.font(13);
  s.text(300, 310, GBK("西成  草药  床位  治疗  化验  功能  放射  吸氧  手术  输血  监护  其他       合计      康复   针灸   测听   评残 "));
  s.text(170, 380, GBK("门诊"));
  s.text(170, 450, GBK("住院"));
  s.text(170, 520, GBK("合计"));

  // Section (二), left half: aids and appliances.
  s.text(170, 810, GBK("  名  称      数 量      零售价     成 本      利 润"));
  s.text(170, 880, GBK("  助听器"));
  s.text(170, 950, GBK("  耳  模"));
  s.text(170, 1020, GBK("  电  池"));
  s.text(170, 1090, GBK("  轮  椅"));
  s.text(170, 1310, GBK("  合  计"));
  for (int k = 0; k <= 8; ++k) s.line(150, 800 + 70 * k, 1400, 800 + 70 * k);
  for (int k = 0; k <= 5; ++k) s.line(150 + 250 * k, 800, 150 + 250 * k, 1360);

  // Section (四), right half: drugs.
  s.line(1600, 800, 2750, 800);
  s.line(1850, 870, 2750, 870);
  for (int k = 0; k <= 10; ++k) s.line(1600, 940 + 70 * k, 2750, 940 + 70 * k);
  s.line(1600, 800, 1600, 1640);
  s.line(1850, 800, 1850, 1220);
  s.line(2100, 870, 2100, 1220);
  s.line(2350, 800, 2350, 1220);
  s.line(2600, 870, 2600, 1220);
  s.line(2750, 800, 2750, 1640);
  for (int x : {1850, 2150, 2450}) s.line(x, 1290, x, 1640);
  s.text(1650, 870, GBK("项目"));
  s.text(1900, 810, GBK("   西成药                 中草药"));
  s.text(1900, 880, GBK("进  价      零售价     进  价   零售价"));
  s.text(1650, 950, GBK("甲药"));
  s.text(1650, 1020, GBK("乙药"));
  s.text(1650, 1090, GBK("其他"));
  s.text(1650, 1160, GBK("合计"));
  s.text(1950, 1230, GBK("月总计(零售价)"));
  s.text(1900, 1300, GBK("  西成药       中草药        合  计"));
  s.text(1630, 1370, GBK("上月库存"));
  s.text(1630, 1440, GBK("本月进药"));
  s.text(1630, 1510, GBK("当月销售"));
  s.text(1630, 1580, GBK("现有库存"));

  // Section (三), lower left: the class for deaf children.
  for (int y : {1500, 1570, 1640, 1710}) s.line(150, y, 1350, y);
  for (int x : {150, 350, 750, 1350}) s.line(x, 1500, x, 1710);
  for (int x : {550, 950, 1150}) s.line(x, 1500, x, 1640);
  s.text(200, 1510, GBK("收入     食宿生            走读生            合  计"));
  s.text(200, 1580, GBK("支出     饭  费            其  他            合  计"));
  s.text(200, 1650, GBK("结余"));
}

void frame(const Sheet& s, const Titles& t) {
  if (s.onPaper())
    paperFrame(s, t);
  else
    panelFrame(s, t);
}

enum RowPlace { kOutpatientRow, kInpatientRow, kSumRow };

// Values: font 8 on the panel, 9 on paper; the row's y by its place.
void drawValues(const Sheet& s, RowPlace place, const Row& r) {
  static constexpr int kPanelX[kColumns] = {60,  114, 168, 222, 276, 330, 384,
                                            438, 492, 546, 600, 654, 708};
  static constexpr int kPaperX[kColumns] = {310,  440,  570,  700,  840,  970, 1110,
                                            1240, 1360, 1490, 1620, 1750, 1900};
  // Each figure ends a little before the rule that closes its cell.
  static constexpr int kPanelRight[kColumns] = {111, 165, 219, 273, 327, 381, 435,
                                                489, 543, 597, 651, 705, 759};
  static constexpr int kPaperRight[kColumns] = {408,  540,  672,  804,  936,  1068, 1200,
                                                1332, 1464, 1596, 1728, 1860, 2194};
  // On paper a figure too wide for its place at the smallest size may
  // start further left in its cell (whose rules are 132 apart).
  static constexpr int kPaperLeft[kColumns] = {288,  420,  552,  684,  816,  948, 1080,
                                               1212, 1344, 1476, 1608, 1740, 1872};
  static constexpr int kPanelY[] = {110, 140, 170};
  static constexpr int kPaperY[] = {380, 450, 520};
  s.font(s.onPaper() ? 9 : 8);
  const Columns panel{kPanelX, kPanelX, kPanelRight};
  const Columns paper{kPaperX, kPaperLeft, kPaperRight};
  drawRow(s, s.onPaper() ? paper : panel, s.onPaper() ? kPaperY[place] : kPanelY[place], r);
}

// The rows of each case, in drawing order. With one table only, the sum
// row repeats that table's row.
void rows(const Sheet& s, Case c, const Takings& outpatient, const Takings& inpatient) {
  switch (c) {
    case Case::kBoth:
      drawValues(s, kOutpatientRow, rowOf(outpatient));
      drawValues(s, kInpatientRow, rowOf(inpatient));
      drawValues(s, kSumRow, sumRow(outpatient, inpatient));
      break;
    case Case::kNeither:
      break;
    case Case::kFirstOnly:
      drawValues(s, kOutpatientRow, rowOf(outpatient));
      drawValues(s, kSumRow, rowOf(outpatient));
      break;
    case Case::kSecondOnly:
      drawValues(s, kInpatientRow, rowOf(inpatient));
      drawValues(s, kSumRow, rowOf(inpatient));
      break;
  }
}

// How a business report reads its two tables into `into`: the plan
// without its drawing steps.
Plan businessPlan(const std::string& first, const std::function<Takings(Sums&)>& readFirst,
                  const std::string& second, const std::function<Takings(Sums&)>& readSecond,
                  BusinessTakings& into) {
  into.first = first;
  into.second = second;
  Plan plan;
  plan.first = first;
  plan.second = second;
  plan.readFirst = [&into, readFirst](Sums& sums) { into.outpatient = readFirst(sums); };
  plan.readSecond = [&into, readSecond](Sums& sums) { into.inpatient = readSecond(sums); };
  return plan;
}

// The monthly report's tables: the month's outpatient charges, and the
// ward's bills printed in that month of the year's bill table.
Plan monthlyPlan(rt::DateTime when, BusinessTakings& into) {
  const int month = cmd::MonthOf(when);
  return businessPlan(
      monthlyOutpatientTable(when), chargeTakings, yearlyInpatientBills(when),
      [month](Sums& sums) { return billTakingsOfMonth(sums, month); }, into);
}

// The yearly report's tables: the year's outpatient and inpatient bills.
Plan yearlyPlan(rt::DateTime when, BusinessTakings& into) {
  return businessPlan(yearlyOutpatientBills(when), billTakings, yearlyInpatientBills(when), billTakings,
                      into);
}

// Reads the plan's tables, then draws the report.
void businessReport(Plan plan, BusinessTakings& taken, const Titles& titles, Where where) {
  plan.frame = [&titles](const Sheet& s) { frame(s, titles); };
  plan.rows = [&taken](const Sheet& s, Case c) { rows(s, c, taken.outpatient, taken.inpatient); };
  produce(plan, where);
}

}  // namespace

const char* businessColumnName(int column) {
  static constexpr const char* kNames[kColumns] = {"西成", "草药", "床位", "治疗", "化验", "功能", "放射",
                                                   "吸氧", "手术", "输血", "监护", "其他", "合计"};
  return column >= 0 && column < kColumns ? kNames[column] : "";
}

BusinessRow BusinessTakings::sumRow() const {
  switch (which) {
    case Case::kBoth: return report::sumRow(outpatient, inpatient);
    case Case::kFirstOnly: return rowOf(outpatient);
    case Case::kSecondOnly: return rowOf(inpatient);
    case Case::kNeither: break;
  }
  return BusinessRow{};
}

Figure BusinessTakings::otherChargesSum() const {
  std::vector<Figure> parts;
  const bool out = which == Case::kBoth || which == Case::kFirstOnly;
  const bool in = which == Case::kBoth || which == Case::kSecondOnly;
  for (Category c : kWithoutColumn) {
    if (out) parts.push_back(outpatient.category[c]);
    if (in) parts.push_back(inpatient.category[c]);
  }
  return Figure::sumOf(parts);
}

BusinessTakings monthlyTakings(rt::DateTime when, UnreadableTables* quiet) {
  BusinessTakings t;
  t.which = readTables(monthlyPlan(when, t), quiet);
  return t;
}

BusinessTakings yearlyTakings(rt::DateTime when, UnreadableTables* quiet) {
  BusinessTakings t;
  t.which = readTables(yearlyPlan(when, t), quiet);
  return t;
}

void monthlyReport(Where where) {
  const rt::DateTime when = chosenDate("日期框1");
  const int month = cmd::MonthOf(when);
  const std::string year = cmd::ToText(cmd::YearOf(when));
  const std::string monthText = cmd::ToText(month);

  Titles t;
  t.title = GBK("康复中心业务月报表");
  t.panel = GBK("康复门诊                               ") + year + GBK("年") + monthText +
            GBK("月                    单位：元");
  t.paper = GBK("(一)康复门诊                                   ") + year + GBK("年") + monthText +
            GBK("月                        (单位：元)");
  BusinessTakings taken;
  businessReport(monthlyPlan(when, taken), taken, t, where);
}

void yearlyReport(Where where) {
  const rt::DateTime when = chosenDate("日期框2");
  const std::string year = cmd::ToText(cmd::YearOf(when));

  Titles t;
  t.title = GBK("康复中心业务年报表");
  t.panel = GBK("康复门诊                               ") + year + GBK("年                         单位：元");
  t.paper = GBK("(一)康复门诊                                   ") + year +
            GBK("年                               (单位：元)");
  BusinessTakings taken;
  businessReport(yearlyPlan(when, taken), taken, t, where);
}

}  // namespace app::report
