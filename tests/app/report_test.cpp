// The report window on the real window: period tables filled through the
// engine, the preview and print buttons pressed, and what the draw panel
// and the printer received read back with their positions, font sizes and
// texts; the edit buttons; tables that are missing, damaged or locked; one
// PDF per report measured in millimetres.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDate>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "counting_reads.h"
#include "app/tables.h"
#include "app_fixture.h"
#include "layout_check.h"
#include "pdf_pages.h"
#include "recording_printer.h"
#include "db/facade.h"
#include "db/table.h"
#include "forms/window_ids.h"
#include "print/printer.h"
#include "runtime/clock.h"

namespace {

namespace r = forms::ids::report;
constexpr uint32_t kWin = r::kWindow;
using Values = std::map<std::pair<int, int>, std::string>;  // (x, y) -> text, UTF-8

double day(int y, int m, int d) { return double(QDate(1899, 12, 30).daysTo(QDate(y, m, d))); }
std::string g(const char* utf8) { return rt::utf8ToGbk(utf8); }

// What one report put on the panel or the page, in panel pixels or 0.1 mm.
struct Drawing {
  struct Text {
    int x, y, points;
    std::string text;  // UTF-8
  };
  std::vector<Text> texts;
  std::vector<std::array<int, 4>> lines;

  // The texts written in the values' font right of the row labels, by
  // position (the internal report's printed labels share the values' font).
  int valuesFrom = 0;
  Values values(int points) const {
    Values v;
    for (const Text& t : texts)
      if (t.points == points && t.x >= valuesFrom) v[{t.x, t.y}] = t.text;
    return v;
  }
  std::set<int> valueRows(int points) const {
    std::set<int> ys;
    for (const auto& [at, text] : values(points)) ys.insert(at.second);
    return ys;
  }
  std::vector<std::string> row(int points, int y) const {
    std::vector<std::string> out;
    for (const auto& [at, text] : values(points))
      if (at.second == y) out.push_back(text);
    return out;
  }
  bool has(int x, int y, int points, const std::string& text) const {
    for (const Text& t : texts)
      if (t.x == x && t.y == y && t.points == points && t.text == text) return true;
    return false;
  }
  bool hasLine(int x1, int y1, int x2, int y2) const {
    for (const auto& l : lines)
      if (l == std::array<int, 4>{x1, y1, x2, y2}) return true;
    return false;
  }
};

class ReportTest : public apptest::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    print::setBackend(&printer);
    ASSERT_TRUE(forms::loadWindow(kWin));
  }
  void TearDown() override {
    print::setBackend(nullptr);
    db::setEditDialogHook({});
    rt::clearClock();
    AppTest::TearDown();
  }

  void pick(uint32_t picker, int y, int m, int d = 15) {
    forms::setProperty(kWin, picker, forms::prop::kDateValue, -1, rt::makeDateTime(day(y, m, d)));
  }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }

  // The panel's drawing since its last clear.
  Drawing panel() const {
    Drawing d;
    for (const forms::PanelDrawn& p : forms::panelDrawing(kWin, r::kPanel1)) {
      if (p.op == forms::PanelDrawn::Text)
        d.texts.push_back({p.x, p.y, p.points, rt::gbkToUtf8(p.text)});
      else
        d.lines.push_back({p.x, p.y, p.x2, p.y2});
    }
    return d;
  }
  // The printed page in 0.1 mm, font sizes back in points; the recording is
  // emptied.
  Drawing paper() {
    constexpr double kPxPerUnit = 600.0 / 254.0;
    auto u = [](double px) { return int(std::lround(px / kPxPerUnit)); };
    // The font size written, from the device font's pixel height: stored
    // at 96 dpi in whole pixels, then turned into whole 0.1 mm.
    auto points = [](int px) {
      for (int p = 1; p <= 72; ++p) {
        const int stored = (p * 96 * 2 + 72) / 144;
        const int units = int(stored * 72.0 / 96 * 3.5250987027636778);
        if (std::lround(units * kPxPerUnit) == px) return p;
      }
      return -1;
    };
    Drawing d;
    for (const print::Recorded& p : *printer.log) {
      if (p.op == print::Recorded::Text)
        d.texts.push_back({u(p.x), u(p.y), points(p.fontPixels), rt::gbkToUtf8(p.text)});
      else if (p.op == print::Recorded::Line)
        d.lines.push_back({u(p.x), u(p.y), u(p.x2), u(p.y2)});
    }
    printer.log->clear();
    return d;
  }

  // --- period tables, written through the engine and closed again --------------------

  void openFresh(const std::string& name, const app::TableDef& def) {
    if (!cmd::FileExists(name + ".kdb")) {
      ASSERT_TRUE(app::createTable(name, def));
    }
    ASSERT_TRUE(cmd::OpenDatabase(name));
    ASSERT_TRUE(cmd::SetCurrentDatabase(name));
  }
  void charge(const std::string& table, const char* lb, float hj, const char* cf, double shj = 0) {
    openFresh(table, app::kChargeLines);
    EXPECT_TRUE(cmd::AppendRecord(rt::DateTime{shj}, g("药"), g(lb), g("甲类"), int32_t(1), g("片"), hj, hj,
                                  std::string(cf), g("张三")));
    cmd::CloseDatabase(table);
  }
  // Amounts by field name; the others are 0.
  void bill(const std::string& table, double shj, std::map<std::string, float> amounts) {
    openFresh(table, app::kBills);
    std::vector<rt::Arg> v = {rt::makeDateTime(shj), rt::makeTextRef("B1")};
    for (int i = 0; i < app::kCategoryCount; ++i) v.push_back(rt::makeFloat(amounts[app::billAmountField(i)]));
    v.push_back(rt::makeFloat(amounts["phj"]));
    EXPECT_TRUE(rt::Result(rt::call(rt::Cmd::AppendRecord, int(v.size()), v.data())).boolean());
    cmd::CloseDatabase(table);
  }
  // c1 ... c16 by number; the others are 0.
  void posting(const std::string& table, std::map<int, float> c) {
    openFresh(table, app::kPostings);
    std::vector<rt::Arg> v;
    for (int k = 1; k <= 16; ++k) v.push_back(rt::makeFloat(c[k]));
    v.push_back(rt::makeTextRef("Z1"));
    EXPECT_TRUE(rt::Result(rt::call(rt::Cmd::AppendRecord, int(v.size()), v.data())).boolean());
    cmd::CloseDatabase(table);
  }

  apptest::RecordingPrinter printer;
};

// --- monthly business report ------------------------------------------------------------

class MonthlyReport : public ReportTest {
 protected:
  void fillOutpatient() {
    charge("m20105", "西药", 10.5f, "0100001");
    charge("m20105", "中成", 2.25f, "0100001");
    charge("m20105", "中草", 3, "0200001");
    charge("m20105", "冷暖", 4, "0200001");  // only in 合计
    charge("m20105", "检查", 12.3f, "0300001");
  }
  void fillInpatient() {
    bill("bz2010", day(2010, 5, 10), {{"ps", 100}, {"pzc", 20}, {"pzy", 5}, {"pzhy", 30}, {"pln", 7}, {"phj", 162}});
    // Another month of the same year: never counted in May.
    bill("bz2010", day(2010, 6, 1), {{"ps", 1000}, {"pj", 1000}, {"phj", 2000}});
  }
};

const std::vector<std::string> kMonthlyOutpatient = {"12.75", "3", "0", "0", "0", "12.3", "0",
                                                     "0",     "0", "0", "0", "0", "32.05"};
const std::vector<std::string> kMonthlyInpatient = {"120", "5", "30", "0", "0", "0",  "0",
                                                    "0",   "0", "0",  "0", "0", "162"};
// In double from the single figures, shown to the fen: 12.3 as a float no
// longer shows in the last digits (12.30000019073 before).
const std::vector<std::string> kMonthlySum = {"132.75", "8", "30", "0", "0", "12.3",  "0",
                                              "0",      "0", "0",  "0", "0", "194.05"};

TEST_F(MonthlyReport, PanelFrameFiguresAndColumns) {
  fillOutpatient();
  fillInpatient();
  pick(r::kDate1, 2010, 5);
  press(r::kButton1);
  const Drawing d = panel();

  EXPECT_TRUE(d.has(300, 10, 16, "康复中心业务月报表"));
  EXPECT_TRUE(d.has(20, 40, 13, "康复门诊                               2010年5月                    单位：元"));
  EXPECT_TRUE(d.has(11, 74, 12,
                    "       西成    草药   床位  治疗   化验  功能   放射  吸氧   手术   输血   监护  其他   合计"));
  EXPECT_TRUE(d.has(11, 104, 12, "门诊"));
  EXPECT_TRUE(d.has(11, 134, 12, "住院"));
  EXPECT_TRUE(d.has(11, 164, 12, "合计"));
  ASSERT_EQ(d.lines.size(), 20u);
  for (int k = 0; k <= 14; ++k) EXPECT_TRUE(d.hasLine(5 + 54 * k, 70, 5 + 54 * k, 190)) << k;
  for (int k = 0; k <= 4; ++k) EXPECT_TRUE(d.hasLine(5, 70 + 30 * k, 761, 70 + 30 * k)) << k;

  // Column k at x = 60 + 54 (k - 1); rows at y 110, 140, 170; font 8.
  const Values v = d.values(8);
  ASSERT_EQ(v.size(), 39u);
  for (int k = 0; k < 13; ++k) {
    EXPECT_EQ(v.at({60 + 54 * k, 110}), kMonthlyOutpatient[size_t(k)]) << "column " << k + 1;
    EXPECT_EQ(v.at({60 + 54 * k, 140}), kMonthlyInpatient[size_t(k)]) << "column " << k + 1;
    EXPECT_EQ(v.at({60 + 54 * k, 170}), kMonthlySum[size_t(k)]) << "column " << k + 1;
  }
  EXPECT_TRUE(messages().empty());
}

TEST_F(MonthlyReport, PaperLayoutWithTheBlankSections) {
  fillOutpatient();
  fillInpatient();
  pick(r::kDate1, 2010, 5);
  press(r::kButton2);
  EXPECT_EQ(printer.dialogs, 1);
  EXPECT_TRUE(printer.seen.landscape);
  EXPECT_EQ(printer.seen.paperCode, print::paperCodeFor(2));
  const Drawing d = paper();

  EXPECT_TRUE(d.has(1100, 150, 20, "康复中心业务月报表"));
  EXPECT_TRUE(d.has(200, 230, 14,
                    "(一)康复门诊                                   2010年5月                        (单位：元)"));
  EXPECT_TRUE(d.has(200, 700, 14, "(二)用品用具                                             (四) 药品专项"));
  EXPECT_TRUE(d.has(200, 1400, 14, "(三)聋儿班"));
  EXPECT_TRUE(d.has(
      300, 310, 13,
      "西成  草药  床位  治疗  化验  功能  放射  吸氧  手术  输血  监护  其他       合计      康复   针灸   测听   评残 "));
  EXPECT_TRUE(d.has(170, 520, 13, "合计"));
  EXPECT_TRUE(d.has(170, 810, 13, "  名  称      数 量      零售价     成 本      利 润"));
  EXPECT_TRUE(d.has(170, 1310, 13, "  合  计"));
  EXPECT_TRUE(d.has(1950, 1230, 13, "月总计(零售价)"));
  EXPECT_TRUE(d.has(1630, 1580, 13, "现有库存"));
  EXPECT_TRUE(d.has(200, 1580, 13, "支出     饭  费            其  他            合  计"));
  EXPECT_EQ(d.texts.size() - d.values(9).size(), 30u);
  // (一) 24 lines, (二) 15, (四) 22, (三) 11.
  EXPECT_EQ(d.lines.size(), 72u);
  for (int x : {150, 282, 1866, 2200, 2800}) EXPECT_TRUE(d.hasLine(x, 300, x, 580)) << x;
  EXPECT_TRUE(d.hasLine(150, 580, 2800, 580));
  EXPECT_TRUE(d.hasLine(150, 1360, 1400, 1360));
  EXPECT_TRUE(d.hasLine(1600, 1640, 2750, 1640));
  EXPECT_TRUE(d.hasLine(2450, 1290, 2450, 1640));
  EXPECT_TRUE(d.hasLine(1150, 1500, 1150, 1640));

  static constexpr int kX[] = {310, 440, 570, 700, 840, 970, 1110, 1240, 1360, 1490, 1620, 1750, 1900};
  const Values v = d.values(9);
  ASSERT_EQ(v.size(), 39u);
  for (int k = 0; k < 13; ++k) {
    EXPECT_EQ(v.at({kX[k], 380}), kMonthlyOutpatient[size_t(k)]);
    EXPECT_EQ(v.at({kX[k], 450}), kMonthlyInpatient[size_t(k)]);
    EXPECT_EQ(v.at({kX[k], 520}), kMonthlySum[size_t(k)]);
  }
}

// The rows each case draws, on the panel and on paper: the frame always,
// a row per table that exists, and a sum row that repeats a lone table's row.
struct CaseRows {
  int valueFont, first, second, sum;
};

void checkCase(const Drawing& d, const CaseRows& at, bool first, bool second, size_t frameTexts) {
  const std::set<int> rows = d.valueRows(at.valueFont);
  EXPECT_EQ(d.texts.size() - d.values(at.valueFont).size(), frameTexts);
  EXPECT_EQ(rows.count(at.first), first ? 1u : 0u);
  EXPECT_EQ(rows.count(at.second), second ? 1u : 0u);
  EXPECT_EQ(rows.count(at.sum), first || second ? 1u : 0u);
  if (first && !second) {
    EXPECT_EQ(d.row(at.valueFont, at.sum), d.row(at.valueFont, at.first));
  }
  if (second && !first) {
    EXPECT_EQ(d.row(at.valueFont, at.sum), d.row(at.valueFont, at.second));
  }
}

TEST_F(MonthlyReport, FourCasesOnPanelAndPaper) {
  pick(r::kDate1, 2010, 5);
  for (int c = 0; c < 4; ++c) {
    const bool first = c == 1 || c == 3, second = c == 2 || c == 3;
    SCOPED_TRACE(testing::Message() << "outpatient " << first << ", inpatient " << second);
    if (c == 1) fillOutpatient();
    if (c == 2) {
      db::closeAllDatabases();
      std::filesystem::remove("m20105.kdb");
      fillInpatient();
    }
    if (c == 3) fillOutpatient();
    press(r::kButton1);
    checkCase(panel(), {8, 110, 140, 170}, first, second, 6);
    press(r::kButton2);
    checkCase(paper(), {9, 380, 450, 520}, first, second, 30);
  }
  EXPECT_TRUE(messages().empty());
}

// --- yearly business report --------------------------------------------------------------

TEST_F(ReportTest, YearlyReportReadsTheYearsBillTables) {
  bill("bm2010", day(2010, 3, 1), {{"ps", 1.5f}, {"pzc", 2}, {"pfs", 4}, {"pyl", 9}, {"phj", 16.5f}});
  bill("bm2010", day(2010, 11, 1), {{"ps", 1}, {"phj", 1}});
  bill("bz2010", day(2010, 5, 1), {{"ps", 10}, {"psx", 0.1f}, {"phj", 10.1f}});
  bill("bz2011", day(2011, 1, 1), {{"ps", 500}, {"phj", 500}});  // another year: never read
  pick(r::kDate2, 2010, 7);
  pick(r::kDate1, 2011, 1);  // the yearly report does not look at row 1
  press(r::kButton4);
  const Drawing d = panel();
  EXPECT_TRUE(d.has(300, 10, 16, "康复中心业务年报表"));
  EXPECT_TRUE(d.has(20, 40, 13, "康复门诊                               2010年                         单位：元"));
  EXPECT_EQ(d.lines.size(), 20u);
  EXPECT_EQ(d.row(8, 110),
            (std::vector<std::string>{"4.5", "0", "0", "0", "0", "0", "4", "0", "0", "0", "0", "0", "17.5"}));
  EXPECT_EQ(d.row(8, 140),
            (std::vector<std::string>{"10", "0", "0", "0", "0", "0", "0", "0", "0", "0.1", "0", "0", "10.1"}));
  EXPECT_EQ(d.row(8, 170),
            (std::vector<std::string>{"14.5", "0", "0", "0", "0", "0", "4", "0", "0", "0.1", "0", "0", "27.6"}));

  press(r::kButton3);
  const Drawing p = paper();
  EXPECT_TRUE(p.has(1100, 150, 20, "康复中心业务年报表"));
  EXPECT_TRUE(p.has(200, 230, 14,
                    "(一)康复门诊                                   2010年                               (单位：元)"));
  EXPECT_TRUE(p.has(200, 1400, 14, "(三)聋儿班"));
  EXPECT_EQ(p.lines.size(), 72u);
  EXPECT_EQ(p.values(9).at({1490, 520}), "0.1");
  EXPECT_EQ(p.values(9).at({1900, 380}), "17.5");
}

// A report reads each of its period tables once, whatever the number of
// figures it takes from it: on a shared folder every pass is the whole
// table across the network.
TEST_F(ReportTest, EachPeriodTableIsReadOnceForAllItsFigures) {
  for (int i = 0; i < 300; ++i) {
    bill("bm2010", day(2010, 1 + i % 12, 1), {{"ps", 1.5f}, {"pzc", 2}, {"phj", 3.5f}});
    bill("bz2010", day(2010, 1 + i % 12, 2), {{"pzy", 1}, {"phj", 1}});
  }
  db::closeAllDatabases();
  pick(r::kDate2, 2010, 7);
  apptest::CountingReads counting;
  db::os::Env* previous = db::os::setEnv(&counting);
  press(r::kButton4);
  db::os::setEnv(previous);
  const Drawing d = panel();
  EXPECT_EQ(d.row(8, 110).back(), "1050");  // 300 × 3.5, all eighteen figures from the one pass
  for (const char* table : {"bm2010.kdb", "bz2010.kdb"}) {
    const auto size = (long long)std::filesystem::file_size(table);
    EXPECT_GT(counting.bytes[table], size / 2) << table;
    EXPECT_LT(counting.bytes[table], size + size / 2) << table << " read more than once";
  }
}

TEST_F(ReportTest, YearlyReportFourCases) {
  pick(r::kDate2, 2010, 1);
  for (int c = 0; c < 4; ++c) {
    const bool first = c == 1 || c == 3, second = c == 2 || c == 3;
    SCOPED_TRACE(testing::Message() << "outpatient " << first << ", inpatient " << second);
    if (c == 1) bill("bm2010", day(2010, 2, 2), {{"ps", 1}, {"phj", 1}});
    if (c == 2) {
      db::closeAllDatabases();
      std::filesystem::remove("bm2010.kdb");
      bill("bz2010", day(2010, 2, 2), {{"pj", 2}, {"phj", 2}});
    }
    if (c == 3) bill("bm2010", day(2010, 2, 2), {{"ps", 1}, {"phj", 1}});
    press(r::kButton4);
    checkCase(panel(), {8, 110, 140, 170}, first, second, 6);
    press(r::kButton3);
    checkCase(paper(), {9, 380, 450, 520}, first, second, 30);
  }
}

// --- internal report per doctor --------------------------------------------------------

class InternalReport : public ReportTest {
 protected:
  void fillOutpatient(const std::string& table = "m20105") {
    charge(table, "西药", 10, "0112");
    charge(table, "治疗", 2.5f, "0201");
    charge(table, "西药", 1.1f, "1101");
    charge(table, "治疗", 12.75f, "1501");  // featured, doctor 5: held as 12
    charge(table, "治疗", 3.5f, "1601");    // featured, doctor 6: held as 3
    charge(table, "西药", 100, "0801");     // no doctor
    charge(table, "西药", 50, "2101");      // no doctor
    charge(table, "西药", 7, "1");          // too short for a code
  }
  void fillInpatient(const std::string& table = "n20105") { posting(table, {{1, 5}, {8, 5}, {9, 2}, {16, 2}}); }
};

const std::vector<std::string> kDoctorRegular = {"10", "2.5", "0", "0", "0", "0", "0", "12.5"};
const std::vector<std::string> kDoctorFeatured = {"1.1", "0", "0", "0", "12", "3", "0", "16.1"};
const std::vector<std::string> kDoctorInpatient = {"5", "0", "0", "0", "0", "0", "0", "5"};
const std::vector<std::string> kDoctorFeaturedInpatient = {"2", "0", "0", "0", "0", "0", "0", "2"};

TEST_F(InternalReport, PanelFiguresPerDoctor) {
  fillOutpatient();
  fillInpatient();
  pick(r::kDate1, 2010, 5);
  pick(r::kDate3, 2010, 5);
  press(r::kButton8);
  const Drawing d = panel();
  EXPECT_TRUE(d.has(290, 5, 16, "康复中心业务月报表(内部)"));
  EXPECT_TRUE(d.has(20, 25, 13, "康复门诊                               2010年5月                    单位：元"));
  EXPECT_TRUE(
      d.has(11, 54, 12, "  项 目     医师甲     医师乙    医师丙     医师丁     医师戊    医师己   医师庚     合  计"));
  EXPECT_TRUE(d.has(11, 79, 12, "  门 诊"));
  EXPECT_TRUE(d.has(11, 204, 12, "特色合计"));
  EXPECT_TRUE(d.has(11, 229, 12, "  总  计"));
  EXPECT_EQ(d.texts.size() - d.values(8).size(), 10u);
  ASSERT_EQ(d.lines.size(), 19u);
  for (int k = 0; k <= 9; ++k) EXPECT_TRUE(d.hasLine(5 + 84 * k, 50, 5 + 84 * k, 250));
  for (int k = 0; k <= 8; ++k) EXPECT_TRUE(d.hasLine(5, 50 + 25 * k, 761, 50 + 25 * k));

  EXPECT_EQ(d.row(8, 79), kDoctorRegular);
  EXPECT_EQ(d.row(8, 154), kDoctorFeatured);
  EXPECT_EQ(d.row(8, 104), kDoctorInpatient);
  EXPECT_EQ(d.row(8, 179), kDoctorFeaturedInpatient);
  EXPECT_EQ(d.row(8, 129), (std::vector<std::string>{"15", "2.5", "0", "0", "0", "0", "0", "17.5"}));
  EXPECT_EQ(d.row(8, 204), (std::vector<std::string>{"3.1", "0", "0", "0", "12", "3", "0", "18.1"}));
  EXPECT_EQ(d.row(8, 229), (std::vector<std::string>{"18.1", "2.5", "0", "0", "12", "3", "0", "35.6"}));
  // Column k at x = 90 + 84 (k - 1).
  for (int k = 0; k < 8; ++k) EXPECT_EQ(d.values(8).count({90 + 84 * k, 79}), 1u);
}

TEST_F(InternalReport, PaperLayout) {
  fillOutpatient();
  fillInpatient();
  pick(r::kDate1, 2010, 5);
  pick(r::kDate3, 2010, 5);
  press(r::kButton9);
  Drawing d = paper();
  d.valuesFrom = 480;
  EXPECT_TRUE(d.has(1100, 150, 20, "康复中心业务月报表(内部)"));
  EXPECT_TRUE(d.has(200, 280, 14,
                    "     康复中心                                   2010年5月                        (单位：元)"));
  EXPECT_TRUE(d.has(
      250, 380, 13,
      "项  目      医师甲     医师乙     医师丙      医师丁     医师戊      医师己      医师庚           合  计"));
  EXPECT_TRUE(d.has(250, 480, 13, "门  诊"));
  EXPECT_TRUE(d.has(245, 780, 13, "特色门诊"));
  EXPECT_TRUE(d.has(250, 1080, 13, "总  计"));
  EXPECT_EQ(d.lines.size(), 19u);
  EXPECT_TRUE(d.hasLine(2750, 350, 2750, 1150));
  EXPECT_TRUE(d.hasLine(2200, 350, 2200, 1150));
  EXPECT_TRUE(d.hasLine(200, 1150, 2750, 1150));
  static constexpr int kX[] = {480, 730, 960, 1230, 1480, 1730, 2000, 2250};
  const Values v = d.values(13);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(v.at({kX[k], 480}), kDoctorRegular[size_t(k)]);
    EXPECT_EQ(v.at({kX[k], 780}), kDoctorFeatured[size_t(k)]);
    EXPECT_EQ(v.at({kX[k], 880}), kDoctorFeaturedInpatient[size_t(k)]);
  }
  EXPECT_EQ(v.at({480, 1080}), "18.1");
}

TEST_F(InternalReport, FourCasesOnPanelAndPaper) {
  pick(r::kDate1, 2010, 5);
  pick(r::kDate3, 2010, 5);
  for (int c = 0; c < 4; ++c) {
    const bool first = c == 1 || c == 3, second = c == 2 || c == 3;
    SCOPED_TRACE(testing::Message() << "outpatient " << first << ", inpatient " << second);
    if (c == 1) fillOutpatient();
    if (c == 2) {
      db::closeAllDatabases();
      std::filesystem::remove("m20105.kdb");
      fillInpatient();
    }
    if (c == 3) fillOutpatient();
    for (bool onPaper : {false, true}) {
      press(onPaper ? r::kButton9 : r::kButton8);
      Drawing d = onPaper ? paper() : panel();
      d.valuesFrom = onPaper ? 480 : 0;
      const int font = onPaper ? 13 : 8;
      auto y = [onPaper](int panelY, int paperY) { return onPaper ? paperY : panelY; };
      const int out = y(79, 480), in = y(104, 580), sum = y(129, 680), fout = y(154, 780), fin = y(179, 880),
                fsum = y(204, 980), total = y(229, 1080);
      std::set<int> want;
      if (first) want.insert({out, fout});
      if (second) want.insert({in, fin});
      if (first || second) want.insert({sum, fsum, total});
      EXPECT_EQ(d.valueRows(font), want) << (onPaper ? "paper" : "panel");
      if (first && !second) {
        EXPECT_EQ(d.row(font, sum), kDoctorRegular);
        EXPECT_EQ(d.row(font, fsum), kDoctorFeatured);
        EXPECT_EQ(d.row(font, total)[7], "28.6");
      }
      if (second && !first) {
        EXPECT_EQ(d.row(font, sum), kDoctorInpatient);
        EXPECT_EQ(d.row(font, fsum), kDoctorFeaturedInpatient);
        EXPECT_EQ(d.row(font, total)[0], "7");
      }
    }
  }
}

// The case follows the months chosen, not the month of the click: a chosen
// month whose tables exist is drawn in full, and a chosen month without
// tables is drawn empty even when the current month's tables exist (their
// figures are never summed in its place).
TEST_F(InternalReport, CaseFollowsTheChosenMonths) {
  fillOutpatient("m20105");
  fillInpatient("n20105");
  rt::setClock(day(2011, 3, 2));  // no tables of March 2011
  pick(r::kDate1, 2010, 5);
  pick(r::kDate3, 2010, 5);
  press(r::kButton8);
  EXPECT_EQ(panel().valueRows(8), (std::set<int>{79, 104, 129, 154, 179, 204, 229}));

  rt::setClock(day(2010, 5, 20));  // the current month has both tables
  pick(r::kDate1, 2010, 6);
  pick(r::kDate3, 2010, 7);
  cmd::SetCurrentDatabase("n20105");
  press(r::kButton8);
  const Drawing d = panel();
  EXPECT_TRUE(d.valueRows(8).empty());
  EXPECT_TRUE(d.has(20, 25, 13, "康复门诊                               2010年6月                    单位：元"));

  // Outpatient month and inpatient month apart.
  fillInpatient("n20107");
  press(r::kButton8);
  EXPECT_EQ(panel().valueRows(8), (std::set<int>{104, 129, 179, 204, 229}));
  EXPECT_TRUE(messages().empty());
}

// --- period names, repeated previews, the panel's own surface -------------------------

TEST_F(ReportTest, MonthNamesWithoutLeadingZeros) {
  charge("m201012", "中草", 6, "0101");
  charge("m20111", "中草", 7, "0101");
  pick(r::kDate1, 2010, 12);
  press(r::kButton1);
  EXPECT_EQ(panel().row(8, 110).at(1), "6");
  pick(r::kDate1, 2011, 1);
  press(r::kButton1);
  const Drawing d = panel();
  EXPECT_EQ(d.row(8, 110).at(1), "7");
  EXPECT_TRUE(d.has(20, 40, 13, "康复门诊                               2011年1月                    单位：元"));
}

// Dark pixels of the panel as it shows on screen, in a rectangle.
int inked(const QImage& img, QRect r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (qGray(img.pixel(x, y)) < 128) ++n;
  return n;
}

// Two previews in a row: the second starts from a blank panel. The panel
// shows its drawing again after being covered. Each report's panel is also
// written to build/screens/report-*.png for a person to look at.
TEST_F(ReportTest, PreviewsClearThePanelAndSurviveRepaints) {
  charge("m20105", "西药", 1234.5f, "0101");
  charge("m20105", "检查", 12.25f, "1501");
  bill("bz2010", day(2010, 5, 3), {{"ps", 88.75f}, {"pzl", 12}, {"phj", 100.75f}});
  bill("bm2010", day(2010, 5, 3), {{"pzhy", 640}, {"pfs", 35.5f}, {"phj", 675.5f}});
  posting("n20105", {{3, 45.5f}, {8, 45.5f}, {13, 7}, {16, 7}});
  pick(r::kDate1, 2010, 5);
  pick(r::kDate2, 2010, 5);
  pick(r::kDate3, 2010, 5);
  QWidget* widget = forms::controlWidget(kWin, r::kPanel1);
  ASSERT_NE(widget, nullptr);
  const QString screens = QCoreApplication::applicationDirPath() + "/../screens";
  QDir().mkpath(screens);

  const std::pair<uint32_t, const char*> previews[] = {
      {r::kButton1, "monthly"}, {r::kButton4, "yearly"}, {r::kButton8, "internal"}};
  for (auto [button, name] : previews) {
    press(button);
    widget->hide();  // covered and shown again: painted from its own surface
    widget->show();
    const QImage shown = widget->grab().toImage();
    shown.save(screens + "/report-" + name + ".png");
    EXPECT_GT(inked(shown, QRect(5, 70, 757, 121)), 0) << name;
    // Nothing beyond the grid's right edge, nothing cut at the panel's.
    EXPECT_EQ(inked(shown, QRect(763, 0, shown.width() - 763, shown.height())), 0) << name;
  }
  // The internal report after the yearly one: the yearly grid's vertical
  // line at x 167 is gone where the internal report draws nothing.
  EXPECT_EQ(inked(widget->grab().toImage(), QRect(160, 80, 12, 15)), 0);
  const Drawing d = panel();
  EXPECT_FALSE(d.has(300, 10, 16, "康复中心业务年报表"));
  EXPECT_EQ(d.lines.size(), 19u);
  EXPECT_TRUE(messages().empty());
}

TEST_F(ReportTest, CancelledPrintDialogPrintsNothing) {
  charge("m20105", "西药", 1, "0101");
  printer.cancel = true;
  press(r::kButton2);
  press(r::kButton9);
  EXPECT_EQ(printer.dialogs, 2);
  EXPECT_TRUE(printer.log->empty());
  EXPECT_TRUE(messages().empty());
}

// --- typing a date ------------------------------------------------------------------

// Each date picker of the report window takes a date typed from the
// keyboard, "2010-3-15" or "2010年3月15日", and the report follows it.
TEST_F(ReportTest, DatePickersTakeTypedDates) {
  for (uint32_t id : {r::kDate1, r::kDate2, r::kDate3}) {
    auto* picker = qobject_cast<QDateEdit*>(forms::controlWidget(kWin, id));
    ASSERT_NE(picker, nullptr);
    for (const char* typed : {"2010-3-15", "2009年11月2日"}) {
      SCOPED_TRACE(typed);
      picker->setFocus(Qt::TabFocusReason);
      QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
      QCoreApplication::sendEvent(picker, &in);
      for (QChar c : QString::fromUtf8(typed)) {
        const int k = c.isDigit() ? Qt::Key_0 + (c.unicode() - '0') : c == '-' ? Qt::Key_Minus : Qt::Key_unknown;
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(picker, &press);
        QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(picker, &release);
      }
      const QDate want = std::string(typed) == "2010-3-15" ? QDate(2010, 3, 15) : QDate(2009, 11, 2);
      EXPECT_EQ(picker->date(), want) << picker->text().toStdString();
    }
  }
}

// --- six- and seven-digit figures ------------------------------------------------------

// Every report with figures of six and seven digits, on the panel and on
// paper: each figure whole and to the fen, inside its cell, no two texts on
// top of each other, nothing beyond the panel or the printable page.
TEST_F(ReportTest, SixAndSevenDigitFiguresStayWholeInTheirCells) {
  charge("m20105", "西药", 1234567.875f, "0100001");
  charge("m20105", "中成", 88.8f, "0100001");
  charge("m20105", "中草", 123456.78f, "0200001");
  charge("m20105", "检查", 1609200, "0300001");
  charge("m20105", "治疗", 0.18f, "1100001");
  charge("m20105", "手术", 654321.5f, "1500001");
  bill("bz2010", day(2010, 5, 10),
       {{"ps", 2345678.5f}, {"pzy", 765432.25f}, {"pzhy", 456789.75f}, {"phj", 3567900.5f}});
  // 5065989.25 is 5065989 as a float.
  bill("bm2010", day(2010, 3, 1), {{"ps", 3456789.25f}, {"pj", 1609200}, {"phj", 5065989.25f}});
  posting("n20105", {{1, 1234567.875f}, {3, 654321.5f}, {8, 1888889.375f}, {9, 123456.78f}, {16, 123456}});
  pick(r::kDate1, 2010, 5);
  pick(r::kDate2, 2010, 5);
  pick(r::kDate3, 2010, 5);

  struct Report {
    uint32_t preview, print;
    const char* name;
    std::vector<std::string> figures;  // some of its figures, as they must read
  };
  const Report reports[] = {
      {r::kButton1, r::kButton2, "monthly", {"123456.78", "1609200", "654321.5", "765432.25", "456789.75"}},
      {r::kButton4, r::kButton3, "yearly", {"3456789.25", "5065989", "1609200", "3567900.5"}},
      {r::kButton8, r::kButton9, "internal", {"1234567.88", "1888889.38", "123456.78", "654321.5"}},
  };
  const print::PageGeometry page = print::testPage(true);
  const double pageRight = (page.printableWidth) / (600.0 / 254.0);
  const double pageBottom = (page.printableHeight) / (600.0 / 254.0);
  for (const Report& rep : reports) {
    SCOPED_TRACE(rep.name);
    press(rep.preview);
    std::vector<apptest::TextBox> texts;
    std::vector<apptest::Rule> rules;
    apptest::panelLayout(forms::panelDrawing(kWin, r::kPanel1), &texts, &rules);
    EXPECT_EQ(apptest::overlaps(texts), apptest::none);
    EXPECT_EQ(apptest::figuresOverRules(texts, rules), apptest::none);
    EXPECT_EQ(apptest::outside(texts, 770, 290), apptest::none);  // the panel is 770 × 290
    std::vector<std::string> onPanel;
    for (const auto& t : texts) onPanel.push_back(t.text);
    for (const std::string& f : rep.figures)
      EXPECT_NE(std::find(onPanel.begin(), onPanel.end(), f), onPanel.end()) << "panel: " << f;

    printer.log->clear();
    press(rep.print);
    texts.clear();
    rules.clear();
    apptest::printedLayout(*printer.log, &texts, &rules);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(apptest::overlaps(texts), apptest::none);
    EXPECT_EQ(apptest::figuresOverRules(texts, rules), apptest::none);
    EXPECT_EQ(apptest::outside(texts, pageRight, pageBottom), apptest::none);
    std::vector<std::string> onPaper;
    for (const auto& t : texts) {
      onPaper.push_back(t.text);
      // Money to the fen: never an exponent, never more than two decimals.
      if (apptest::isFigure(t.text) && t.text.find('.') != std::string::npos) {
        EXPECT_LE(t.text.size() - t.text.find('.'), 3u) << t.text;
      }
    }
    for (const std::string& f : rep.figures)
      EXPECT_NE(std::find(onPaper.begin(), onPaper.end(), f), onPaper.end()) << "paper: " << f;
    printer.log->clear();
  }
  EXPECT_TRUE(messages().empty());
}

// --- tables that cannot be read ----------------------------------------------------------

// A damaged period file is not summed in place of another table: it is
// named with the engine's text and the report goes on without it.
TEST_F(InternalReport, DamagedPeriodFileCountsAsMissing) {
  fillOutpatient();
  {
    std::ofstream bad("n20105.kdb", std::ios::binary);
    bad << "this is not a table";
  }
  pick(r::kDate1, 2010, 5);
  pick(r::kDate3, 2010, 5);
  cmd::OpenDatabase("m20105");
  cmd::SetCurrentDatabase("m20105");  // a table without c1 ... c16
  dialogs.answers = {rt::kOk};
  press(r::kButton8);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("n20105.kdb"), std::string::npos) << messages()[0];
  cmd::OpenDatabase("n20105");
  EXPECT_NE(messages()[0].find(rt::gbkToUtf8(db::errorText(db::lastError()))), std::string::npos);
  // Drawn as the outpatient table alone.
  const Drawing d = panel();
  EXPECT_EQ(d.valueRows(8), (std::set<int>{79, 129, 154, 204, 229}));
  EXPECT_EQ(d.row(8, 129), kDoctorRegular);
}

// A period table cut in the middle of a record (a copy that stopped, a
// share that dropped): the preview reads it without repairing it, names it
// and leaves its bytes as they are; the next writer decides what to keep.
TEST_F(InternalReport, APeriodTableCutMidRecordIsNamedAndLeftAsItIs) {
  fillOutpatient();
  fillInpatient();
  posting("n20105", {{1, 7}, {8, 7}});
  const auto size = std::filesystem::file_size("n20105.kdb");
  std::filesystem::resize_file("n20105.kdb", size - 10);
  std::string before;
  {
    std::ifstream in("n20105.kdb", std::ios::binary);
    before.assign(std::istreambuf_iterator<char>(in), {});
  }
  pick(r::kDate1, 2010, 5);
  pick(r::kDate3, 2010, 5);
  dialogs.answers = {rt::kOk};
  press(r::kButton8);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("n20105.kdb"), std::string::npos) << messages()[0];
  std::string after;
  {
    std::ifstream in("n20105.kdb", std::ios::binary);
    after.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_EQ(after, before);
  // Drawn as the outpatient table alone.
  const Drawing d = panel();
  EXPECT_EQ(d.valueRows(8), (std::set<int>{79, 129, 154, 204, 229}));
  EXPECT_EQ(d.row(8, 129), kDoctorRegular);
}

// A table that opens but cannot be read whole (another workstation holds
// the whole file while it packs) is not drawn as zeros.
TEST_F(MonthlyReport, LockedPeriodFileCountsAsMissing) {
  fillOutpatient();
  fillInpatient();
  pick(r::kDate1, 2010, 5);
  cmd::OpenDatabase("bz2010");  // open already, as after an earlier report
  int fd = ::open("bz2010.kdb", O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  whole.l_start = 0;
  whole.l_len = 0x7FFFFFFF;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &whole), 0);
  dialogs.answers = {rt::kOk};
  press(r::kButton1);
  ::close(fd);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("bz2010.kdb"), std::string::npos) << messages()[0];
  EXPECT_NE(messages()[0].find(rt::gbkToUtf8(db::errorText(db::kLockViolation))), std::string::npos) << messages()[0];
  const Drawing d = panel();
  EXPECT_EQ(d.valueRows(8), (std::set<int>{110, 170}));
  EXPECT_EQ(d.row(8, 170), kMonthlyOutpatient);
}

// --- edit buttons --------------------------------------------------------------------------

TEST_F(ReportTest, EditButtonsOpenTheChosenPeriodTable) {
  qtest::ExpectModal modal;  // the record-edit dialog, answered by the test's hook
  bill("bz2010", day(2010, 5, 3), {{"ps", 1}, {"phj", 1}});
  bill("bm2010", day(2010, 5, 3), {{"ps", 2}, {"phj", 2}});
  posting("n20113", {{1, 3}, {8, 3}});
  cmd::OpenDatabase("bz2010");  // open already: used as it is
  pick(r::kDate2, 2010, 9);
  pick(r::kDate3, 2011, 3);
  std::vector<std::string> edited;
  db::setEditDialogHook([&edited](QDialog& dlg) {
    edited.push_back(std::filesystem::path(db::currentTable()->path()).filename().string());
    dlg.reject();
  });
  for (uint32_t b : {r::kButton5, r::kButton7, r::kButton6, r::kButton10}) press(b);
  EXPECT_EQ(edited, (std::vector<std::string>{"bz2010.kdb", "bz2010.kdb", "bm2010.kdb", "n20113.kdb"}));
  EXPECT_TRUE(messages().empty());
}

// Without the period table there is nothing to correct: the table is named
// and no dialog opens on whatever table is current.
TEST_F(ReportTest, EditButtonOnAMissingTableOpensNothing) {
  charge("m20105", "西药", 1, "0101");
  cmd::OpenDatabase("m20105");
  cmd::SetCurrentDatabase("m20105");
  pick(r::kDate2, 2012, 1);
  pick(r::kDate3, 2012, 2);
  int opened = 0;
  db::setEditDialogHook([&opened](QDialog& dlg) {
    ++opened;
    dlg.reject();
  });
  dialogs.answers = {rt::kOk, rt::kOk, rt::kOk, rt::kOk};
  press(r::kButton5);
  press(r::kButton6);
  press(r::kButton10);
  // A damaged table is named with the engine's text.
  std::ofstream("bz2013.kdb", std::ios::binary) << "not a table";
  pick(r::kDate2, 2013, 1);
  press(r::kButton7);
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(messages().size(), 4u);
  EXPECT_NE(messages()[0].find("bz2012.kdb"), std::string::npos) << messages()[0];
  EXPECT_NE(messages()[1].find("bm2012.kdb"), std::string::npos) << messages()[1];
  EXPECT_NE(messages()[2].find("n20122.kdb"), std::string::npos) << messages()[2];
  EXPECT_NE(messages()[3].find("bz2013.kdb"), std::string::npos) << messages()[3];
  cmd::OpenDatabase("bz2013");
  EXPECT_NE(messages()[3].find(rt::gbkToUtf8(db::errorText(db::lastError()))), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("bz2012.kdb"));
}

// --- real PDF output ---------------------------------------------------------------------

using apptest::PdfPrinter;
using SaveAs = apptest::SaveTo;

struct Box {
  double xMin, yMin;  // millimetres
};

// Every word of the first page with its top-left corner, by pdftotext -bbox.
std::multimap<std::string, Box> words(const QString& pdf, double* pageW) {
  std::multimap<std::string, Box> out;
  QProcess p;
  p.start("pdftotext", {"-bbox", pdf, "-"});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return out;
  const QString html = QString::fromUtf8(p.readAllStandardOutput());
  auto attr = [](const QString& tag, const char* name) {
    int i = tag.indexOf(QString(name) + "=\"");
    if (i < 0) return 0.0;
    i += int(std::strlen(name)) + 2;
    return tag.mid(i, tag.indexOf('"', i) - i).toDouble();
  };
  const double mm = 25.4 / 72;
  const int page = html.indexOf("<page ");
  *pageW = attr(html.mid(page, html.indexOf('>', page) - page), "width") * mm;
  for (int i = html.indexOf("<word "); i >= 0; i = html.indexOf("<word ", i + 1)) {
    const int close = html.indexOf('>', i);
    const int end = html.indexOf("</word>", close);
    const QString tag = html.mid(i, close - i);
    // The embedded CJK font maps some characters to their compatibility
    // forms (the radical ⼼ for 心): compare in the composed form.
    const QString word = html.mid(close + 1, end - close - 1).normalized(QString::NormalizationForm_KC);
    out.insert({word.toStdString(), {attr(tag, "xMin") * mm, attr(tag, "yMin") * mm}});
  }
  return out;
}

// The word is on the page with its top-left corner at (x, y) mm.
testing::AssertionResult at(const std::multimap<std::string, Box>& w, const std::string& word, double x, double y) {
  auto [from, to] = w.equal_range(word);
  for (auto it = from; it != to; ++it)
    if (std::abs(it->second.xMin - x) < 0.8 && std::abs(it->second.yMin - y) < 0.8) return testing::AssertionSuccess();
  testing::AssertionResult r = testing::AssertionFailure() << word << " not at " << x << ", " << y;
  for (auto it = from; it != to; ++it) r << " (found at " << it->second.xMin << ", " << it->second.yMin << ")";
  return r;
}

TEST_F(ReportTest, PrintedReportsMeasureRightInMillimetres) {
  charge("m20105", "中草", 3.75f, "0101");
  charge("m20105", "西药", 1234.5f, "0201");
  bill("bz2010", day(2010, 5, 3), {{"pzy", 20}, {"phj", 20}});
  bill("bm2010", day(2010, 8, 3), {{"pjh", 66}, {"phj", 66}});
  posting("n20105", {{7, 45.5f}, {8, 45.5f}});
  pick(r::kDate1, 2010, 5);
  pick(r::kDate2, 2010, 5);
  pick(r::kDate3, 2010, 5);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PdfPrinter pdf;
  SaveAs save;
  print::setBackend(&pdf);
  rt::setDialogs(&save);

  struct Check {
    uint32_t button;
    const char* file;
    std::vector<std::tuple<std::string, double, double>> words;
  };
  const Check checks[] = {
      {r::kButton2,
       "monthly",
       {{"康复中心业务月报表", 110, 15},
        {"(三)聋儿班", 20, 140},
        {"23.75", 44, 52},
        {"1234.5", 31, 38},
        {"现有库存", 163, 158},
        {"评残", 0, 31}}},
      {r::kButton3, "yearly", {{"康复中心业务年报表", 110, 15}, {"66", 162, 38}, {"20", 44, 45}, {"86", 190, 52}}},
      {r::kButton9,
       "internal",
       {{"康复中心业务月报表(内部)", 110, 15},
        {"1234.5", 73, 48},
        {"45.5", 200, 58},
        {"特色住院", 24.5, 88},
        {"1238.25", 225, 48}}},
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.file);
    save.path = (dir.path() + "/" + c.file + ".pdf").toStdString();
    press(c.button);
    double pageW = 0;
    const auto w = words(QString::fromStdString(save.path), &pageW);
    ASSERT_FALSE(w.empty());
    EXPECT_NEAR(pageW, 297, 0.5);  // A4 landscape
    EXPECT_EQ(apptest::inkNearTheEdges(save.path), apptest::none);
    for (const auto& [word, x, y] : c.words) {
      if (word == "评残") {  // the last heading word: only its line matters here
        ASSERT_EQ(w.count(word), 1u);
        EXPECT_NEAR(w.find(word)->second.yMin, y, 0.8);
        continue;
      }
      EXPECT_TRUE(at(w, word, x, y));
    }
  }
  rt::setDialogs(&dialogs);
}

}  // namespace
