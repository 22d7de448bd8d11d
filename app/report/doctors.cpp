// The internal monthly report per doctor: one month's takings of each of
// the seven doctors and their total, for the regular service and for the
// featured service (特色), outpatient and inpatient, with their sums and a
// grand total.
#include <array>
#include <string>

#include "app/report/sheet.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::report {
namespace {

constexpr int kColumns = 8;  // the seven doctors and 合计

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
  s.text(
      200, 280,
      GBK("     康复中心                                   ") + period + GBK("月                        (单位：元)"));
  for (int k = 0; k <= 8; ++k) s.line(200 + 250 * k, 350, 200 + 250 * k, 1150);
  s.line(2750, 350, 2750, 1150);
  for (int k = 0; k <= 8; ++k) s.line(200, 350 + 100 * k, 2750, 350 + 100 * k);
  s.font(13);
  s.text(
      250, 380,
      GBK("项  目      医师甲     医师乙     医师丙      医师丁     医师戊      医师己      医师庚           合  计"));
  s.text(250, 480, GBK("门  诊"));
  s.text(250, 580, GBK("住  院"));
  s.text(250, 680, GBK("合  计"));
  s.text(245, 780, GBK("特色门诊"));
  s.text(245, 880, GBK("特色住院"));
  s.text(245, 980, GBK("特色合计"));
  s.text(250, 1080, GBK("总  计"));
}

// Values: font 8 on the panel, 13 on paper; each row at its label's y
// (门诊, 住院, 合计, 特色门诊, 特色住院, 特色合计, 总计).
void drawValues(const Sheet& s, const FilledRow& r) {
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
  const size_t place = size_t(r.place);
  drawRow(s, s.onPaper() ? paper : panel, s.onPaper() ? kPaperY[place] : kPanelY[place], r.figures);
}

}  // namespace

void internalReport(Where where) {
  // Titles and outpatient figures: the month of 日期框1; inpatient
  // figures: the month of 日期框3. The case follows the tables of those
  // months, the ones actually read.
  const rt::DateTime outpatientMonth = chosenDate("日期框1");
  const rt::DateTime inpatientMonth = chosenDate("日期框3");
  const std::string period =
      cmd::ToText(cmd::YearOf(outpatientMonth)) + GBK("年") + cmd::ToText(cmd::MonthOf(outpatientMonth));

  const Sheet sheet(where);
  // The panel starts blank before the tables are read.
  sheet.clear();
  draw(
      sheet, doctorFigures(outpatientMonth, inpatientMonth),
      [&](const Sheet& s) {
        if (s.onPaper())
          paperFrame(s, period);
        else
          panelFrame(s, period);
      },
      drawValues);
}

}  // namespace app::report
