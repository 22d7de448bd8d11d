// The monthly and the yearly business report: the centre's takings per
// charge column, a row for the outpatient service, one for the ward and
// their sum. Both share one layout of thirteen value columns; on paper the
// sheet also carries the blank tables (二), (三) and (四) that are filled
// in by hand.
#include <array>
#include <string>

#include "app/report/sheet.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::report {
namespace {

constexpr int kColumns = 13;

// --- layout ------------------------------------------------------------------------

// The texts that differ between the monthly and the yearly report (GBK).
struct Titles {
  std::string title;  // "康复中心业务月报表" or "...年报表"
  std::string panel;  // the period line under the title on the panel
  std::string paper;  // the period line of section (一) on paper
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
  s.text(
      300, 310,
      GBK("西成  草药  床位  治疗  化验  功能  放射  吸氧  手术  输血  监护  其他       合计      康复   针灸   测听   评残 "));
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

// Values: font 8 on the panel, 9 on paper; the row's y by its place
// (门诊, 住院, 合计).
void drawValues(const Sheet& s, const FilledRow& r) {
  static constexpr int kPanelX[kColumns] = {60, 114, 168, 222, 276, 330, 384, 438, 492, 546, 600, 654, 708};
  static constexpr int kPaperX[kColumns] = {310, 440, 570, 700, 840, 970, 1110, 1240, 1360, 1490, 1620, 1750, 1900};
  // Each figure ends a little before the rule that closes its cell.
  static constexpr int kPanelRight[kColumns] = {111, 165, 219, 273, 327, 381, 435, 489, 543, 597, 651, 705, 759};
  static constexpr int kPaperRight[kColumns] = {408,  540,  672,  804,  936,  1068, 1200,
                                                1332, 1464, 1596, 1728, 1860, 2194};
  // On paper a figure too wide for its place at the smallest size may
  // start further left in its cell (whose rules are 132 apart).
  static constexpr int kPaperLeft[kColumns] = {288, 420, 552, 684, 816, 948, 1080, 1212, 1344, 1476, 1608, 1740, 1872};
  static constexpr int kPanelY[] = {110, 140, 170};
  static constexpr int kPaperY[] = {380, 450, 520};
  s.font(s.onPaper() ? 9 : 8);
  const Columns panel{kPanelX, kPanelX, kPanelRight};
  const Columns paper{kPaperX, kPaperLeft, kPaperRight};
  const size_t place = size_t(r.place);
  drawRow(s, s.onPaper() ? paper : panel, s.onPaper() ? kPaperY[place] : kPanelY[place], r.figures);
}

void businessReport(const Titles& titles, Where where, const std::function<ReportFigures()>& figures) {
  const Sheet sheet(where);
  // The panel starts blank before the tables are read.
  sheet.clear();
  draw(
      sheet, figures(), [&](const Sheet& s) { frame(s, titles); }, drawValues);
}

}  // namespace

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
  businessReport(t, where, [when] { return monthlyFigures(when); });
}

void yearlyReport(Where where) {
  const rt::DateTime when = chosenDate("日期框2");
  const std::string year = cmd::ToText(cmd::YearOf(when));

  Titles t;
  t.title = GBK("康复中心业务年报表");
  t.panel = GBK("康复门诊                               ") + year + GBK("年                         单位：元");
  t.paper = GBK("(一)康复门诊                                   ") + year +
            GBK("年                               (单位：元)");
  businessReport(t, where, [when] { return yearlyFigures(when); });
}

}  // namespace app::report
