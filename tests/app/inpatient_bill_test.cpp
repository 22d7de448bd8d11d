// The inpatient bill and the discharge cost statement on the real window:
// what is printed where (recorded on a test page, and once as a real PDF
// measured in millimetres), and what the bill posts into the yearly and
// monthly tables.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <functional>

#include "app/charges/charge_values.h"
#include "charge_fixture.h"
#include "layout_check.h"
#include "pdf_pages.h"
#include "recording_printer.h"
#include "print/printer.h"
#include "print/surface.h"

namespace {

namespace m = forms::ids::medication;
using print::Recorded;

// One text or line as module code placed it, in the printer's unit
// (0.1 mm), with the page it is on.
struct Placed {
  int page;
  int x, y, x2, y2;
  std::string text;  // UTF-8; empty for a line
  int points;        // the font size the text was printed with
  bool operator==(const Placed&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Placed& p) {
  return o << "{page " << p.page << " (" << p.x << "," << p.y << ")-(" << p.x2 << "," << p.y2 << ") \"" << p.text
           << "\" " << p.points << "pt}";
}

int units(double px) { return int(std::lround(px * 254.0 / 600.0)); }

// The font size in points that gives a text of `pixels` on the test page,
// as the printer object builds its font from a size.
int pointsOf(int pixels) {
  for (int pt = 4; pt <= 40; ++pt) {
    print::Printer sized;
    sized.setProperty(print::Printer::kFont, forms::kFontSize, rt::makeInt(pt));
    if (std::lround(std::abs(sized.deviceFontHeight()) * 600.0 / 254.0) == pixels) return pt;
  }
  return 0;
}

Placed printedText(int page, int x, int y, const char* utf8, int points) { return {page, x, y, 0, 0, utf8, points}; }
Placed printedLine(int page, int x, int y, int x2, int y2) { return {page, x, y, x2, y2, "", 0}; }

class BillTest : public apptest::MedicationWindowTest {
 protected:
  void SetUp() override {
    MedicationWindowTest::SetUp();
    print::setBackend(&printer);
  }
  void TearDown() override {
    print::setBackend(nullptr);
    MedicationWindowTest::TearDown();
  }

  // Everything printed since the last call, in order.
  std::vector<Placed> printed() {
    std::vector<Placed> out;
    int page = 0;
    for (const Recorded& r : *printer.log) {
      switch (r.op) {
        case Recorded::BeginJob:
          page = 1;
          break;
        case Recorded::NewPage:
          ++page;
          break;
        case Recorded::Text:
          out.push_back({page, units(r.x), units(r.y), 0, 0, u(r.text), pointsOf(r.fontPixels)});
          break;
        case Recorded::Line:
          out.push_back(printedLine(page, units(r.x), units(r.y), units(r.x2), units(r.y2)));
          break;
        default:
          break;
      }
    }
    printer.log->clear();
    return out;
  }
  int jobs() const {
    int n = 0;
    for (const Recorded& r : *printer.log) n += r.op == Recorded::BeginJob;
    return n;
  }
  void bill() { press(m::kButton4); }
  void statement() { press(m::kButton5); }
  // What the printed text at (x, y) says (the first such text).
  static std::string at(const std::vector<Placed>& p, int x, int y) {
    for (const Placed& t : p)
      if (t.x == x && t.y == y && !t.text.empty()) return t.text;
    return "(nothing)";
  }

  apptest::RecordingPrinter printer;
};

// The text of a double, as the printer and ToText give it.
std::string doubleText(double v) { return rt::gbkToUtf8(rt::valueToText(rt::makeDouble(v))); }

TEST_F(BillTest, APatientWithNoChargesPrintsZerosAndPostsZeros) {
  query("1001");
  bill();
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(printer.seen.applyPaper, false);  // the printer's own paper
  EXPECT_TRUE(printer.seen.applyOrientation && !printer.seen.landscape);
  const std::string days = doubleText(rt::makeDateTime(2010, 5, 3, 0, 0, 0) - rt::makeDateTime(2010, 4, 24, 8, 0, 0));
  EXPECT_EQ(days.substr(0, 6), "8.6666");  // printed to one decimal
  std::vector<Placed> expected = {printedText(1, 450, 130, "青山康复中心", 11),
                                  printedText(1, 350, 210, "王五", 11),
                                  printedText(1, 750, 210, "康复科", 11),
                                  printedText(1, 1300, 210, "1001", 11),
                                  printedText(1, 420, 290, "2010年4月24日8时", 11),
                                  printedText(1, 800, 290, "2010年5月3日", 11),
                                  printedText(1, 1300, 290, "8.7", 11)};
  for (int y : {370, 450, 530, 620})
    for (int x : {350, 700, 1100, 1450}) expected.push_back(printedText(1, x, y, "0", 11));
  for (Placed p :
       {printedText(1, 450, 700, "※零", 11), printedText(1, 1400, 700, "0", 11), printedText(1, 550, 780, "1000", 11),
        printedText(1, 950, 780, "0", 11), printedText(1, 1400, 780, "1000", 11),
        printedText(1, 450, 850, "2010年5月3日", 11), printedText(1, 1400, 850, "张三", 11)})
    expected.push_back(p);
  EXPECT_EQ(printed(), expected);

  // The postings: zeros under his number.
  apptest::Stored year = {"2010年5月3日", "1001"};
  for (int i = 0; i < 18; ++i) year.push_back("0");
  EXPECT_EQ(stored("bz2010"), std::vector<apptest::Stored>{year});
  apptest::Stored month(16, "0");
  month.push_back("1001");
  EXPECT_EQ(stored("n20105"), std::vector<apptest::Stored>{month});

  // The statement of no lines: the closing line at 600, the time at 580.
  statement();
  EXPECT_EQ(printer.seen.paperCode, print::paperCodeFor(2));
  EXPECT_EQ(printed(),
            (std::vector<Placed>{
                printedText(1, 800, 300, "出院病人总费用明细单", 16),
                printedText(1, 200, 420, "住院号：1001     科别： 康复科   床位号：12       姓名： 王五", 11),
                printedLine(1, 200, 470, 2007, 470),  // to the printable width
                printedText(1, 220, 500, "使用时间", 11),
                printedText(1, 500, 500, "药品名称", 11),
                printedText(1, 780, 500, "类别", 11),
                printedText(1, 940, 500, "报销", 11),
                printedText(1, 1100, 500, "单位", 11),
                printedText(1, 1300, 500, "数量", 11),
                printedText(1, 1400, 500, "  单价  ", 11),
                printedText(1, 1550, 500, "  合计  ", 11),
                // 收费员 at 11 points would end 1 mm past the printable width.
                printedText(1, 1700, 500, "  处方  ", 11),
                printedText(1, 1900, 500, "收费员", 10),
                // The closing line stops at the right of the printable
                // width (2015 on the test page) instead of leaving the sheet.
                printedLine(1, 200, 600, 2007, 600),
                printedText(1, 1300, 580, "打印时间：2010年5月3日14时30分", 11),
            }));
}

TEST_F(BillTest, TheBalanceRuleAndTheCapitals) {
  addDrugs({{"Z01", "住院费", "住院", 1000, 1200.5f}});
  admit("赵六", "1002", 1500);
  for (const char* zyh : {"1001", "1002"}) {
    query(zyh);
    charge("Z01", "1");
    bill();
    const auto p = printed();
    EXPECT_EQ(at(p, 350, 370), "1200.5") << zyh;  // 住院
    EXPECT_EQ(at(p, 1400, 700), "1200.5") << zyh;
    EXPECT_EQ(at(p, 450, 700), "※" + rt::gbkToUtf8(cmd::ChineseNumerals(1200.5))) << zyh;
    if (std::string(zyh) == "1001") {  // 1000 paid in advance: 200.5 to pay
      EXPECT_EQ(at(p, 950, 780), "200.5");
      EXPECT_EQ(at(p, 1400, 780), "0");
    } else {  // 1500: 299.5 back
      EXPECT_EQ(at(p, 950, 780), "0");
      EXPECT_EQ(at(p, 1400, 780), "299.5");
    }
  }
  EXPECT_EQ(stored("bz2010").size(), 2u);
}

TEST_F(BillTest, PrescriptionCodesPostIntoTheirDoctorsColumns) {
  query("1001");
  charge("A01", "2", "0312");  // 25 into c3
  charge("A01", "1", "1205");  // 12.5 into c10
  charge("X01", "1", "2101");  // 30: no doctor's column
  charge("X01", "2", "");      // 60: none either
  bill();
  apptest::Stored month(16, "0");
  month[2] = "25";    // c3
  month[7] = "25";    // c8
  month[9] = "12.5";  // c10
  month[15] = "12";   // c16, cut to whole yuan
  month.push_back("1001");
  EXPECT_EQ(stored("n20105"), std::vector<apptest::Stored>{month});
  const auto year = stored("bz2010");
  ASSERT_EQ(year.size(), 1u);
  EXPECT_EQ(year[0][2], "37.5");    // ps 西药
  EXPECT_EQ(year[0][18], "90");     // pjh 监护
  EXPECT_EQ(year[0][19], "127.5");  // phj: every line's amount
}

TEST_F(BillTest, PrintingAgainOverwritesBothPostingsEvenWhenTheDialogIsCancelled) {
  query("1001");
  charge("A01", "2", "0312");
  bill();
  charge("A01", "1", "0312");
  printer.cancel = true;  // nothing printed, the postings still made
  bill();
  EXPECT_EQ(jobs(), 1);
  const auto year = stored("bz2010");
  ASSERT_EQ(year.size(), 1u);
  EXPECT_EQ(year[0][2], "37.5");
  const auto month = stored("n20105");
  ASSERT_EQ(month.size(), 1u);
  EXPECT_EQ(month[0][2], "37.5");
  // A second patient gets records of his own.
  admit("赵六", "1002", 500);
  query("1002");
  charge("X01", "1", "0101");
  bill();
  EXPECT_EQ(stored("bz2010").size(), 2u);
  EXPECT_EQ(stored("n20105").size(), 2u);
  EXPECT_EQ(stored("n20105")[1][0], "30");
}

// Another workstation charges the patient while the print dialog is open:
// the form, the window, the yearly and the monthly posting all come from
// one reading of his lines taken after the dialog, so all include the line.
TEST_F(BillTest, ALineChargedWhileTheDialogIsOpenIsInEveryFigure) {
  query("1001");
  charge("A01", "4", "0312");  // 50 in 西药, doctor 03
  printer.whileOpen = [this] { chargeElsewhere("1001", "心电监护", "监护", 1, 30.0f, "1105"); };
  bill();
  EXPECT_TRUE(messages().empty());
  const auto p = printed();
  EXPECT_EQ(at(p, 1400, 700), "80");  // the grand total
  EXPECT_EQ(at(p, 450, 700), "※" + rt::gbkToUtf8(cmd::ChineseNumerals(80.0, false)));
  EXPECT_EQ(at(p, 350, 530), "50");    // 西药
  EXPECT_EQ(at(p, 1450, 620), "30");   // 监护
  EXPECT_EQ(at(p, 1400, 780), "920");  // refunded of the 1000 paid
  EXPECT_EQ(text("编辑框11"), "80");
  EXPECT_EQ(text("标签13"), "920");
  const auto year = stored("bz2010");
  ASSERT_EQ(year.size(), 1u);
  EXPECT_EQ(year[0][2], "50");   // ps
  EXPECT_EQ(year[0][18], "30");  // pjh
  EXPECT_EQ(year[0][19], "80");  // phj
  const auto month = stored("n20105");
  ASSERT_EQ(month.size(), 1u);
  EXPECT_EQ(month[0][2], "50");   // c3
  EXPECT_EQ(month[0][7], "50");   // c8
  EXPECT_EQ(month[0][8], "30");   // c9
  EXPECT_EQ(month[0][15], "30");  // c16
}

TEST_F(BillTest, ALongStatementGoesOnToANewPageWithTheHeadings) {
  query("1001");
  // 80 lines straight into his table.
  for (int i = 1; i <= 80; ++i)
    ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, g("阿莫西林"), g("西药"),
                                  g("甲类"), i, g("支"), 12.5f, float(12.5 * i), "0312", g("张三")));
  statement();
  const auto p = printed();
  // Rows 1..54 on the first page at 550 + 40·r (row 55 would end within
  // 15 mm of the sheet's bottom edge); the rest on the second, under the
  // patient's line at 100 and the headings repeated at 170.
  auto rowOf = [&](int r) {
    for (const Placed& t : p)
      if (t.x == 1300 && t.text == std::to_string(r)) return std::pair{t.page, t.y};
    return std::pair{0, 0};
  };
  EXPECT_EQ(rowOf(1), (std::pair{1, 590}));
  EXPECT_EQ(rowOf(54), (std::pair{1, 2710}));
  EXPECT_EQ(rowOf(55), (std::pair{2, 260}));
  EXPECT_EQ(rowOf(80), (std::pair{2, 1260}));
  int headings = 0, titles = 0;
  for (const Placed& t : p) {
    if (t.text == "使用时间") {
      EXPECT_EQ(t.y, t.page == 1 ? 500 : 170);
      ++headings;
    }
    if (t.text == "出院病人总费用明细单") ++titles;
    if (t.x == 450 && t.text == "阿莫西林") {
      EXPECT_EQ(t.points, 9);
    }
  }
  EXPECT_EQ(headings, 2);
  EXPECT_EQ(titles, 1);
  EXPECT_EQ(p[p.size() - 2], printedLine(2, 200, 1310, 2007, 1310));
  EXPECT_EQ(p.back(), printedText(2, 1300, 1340, "打印时间：2010年5月3日14时30分", 11));

  // 42 lines still fit one page as laid out for one page (the print time
  // of 43 would stand within 15 mm of the sheet's bottom edge).
  cmd::SetCurrentDatabase("1001");
  cmd::MoveTo(43);
  for (int i = 43; i <= 80; ++i) {
    ASSERT_TRUE(cmd::DeleteRecords());
    cmd::Skip(1);
  }
  ASSERT_TRUE(cmd::PackDatabase());
  statement();
  const auto one = printed();
  for (const Placed& t : one) EXPECT_EQ(t.page, 1);
  EXPECT_EQ(one[one.size() - 2], printedLine(1, 200, 40 * 42 + 600, 2007, 40 * 42 + 600));
  EXPECT_EQ(one.back().y, 50 * 42 + 580);
}

// --- six- and seven-digit figures, a long stay ----------------------------------------

// The sheet's bottom edge in the coordinates texts are placed in, and the
// printable width, on the portrait test page (0.1 mm).
double sheetBottom() {
  const print::PageGeometry g = print::testPage();
  return (g.paperHeight - g.offsetTop) * 254.0 / 600.0;
}
double printableWidth() { return print::testPage().printableWidth * 254.0 / 600.0; }

// A bill of six- and seven-digit amounts for a patient whose admission
// time is as long as such texts get: every amount to the fen, the days to
// one decimal, no two texts on top of each other, nothing off the sheet.
TEST_F(BillTest, SixAndSevenDigitAmountsAreReadableOnTheBill) {
  addDrugs({{"Z01", "住院费", "住院", 1000, 1234567.88f},
            {"X01", "注射液", "西药", 1000, 0.06f},
            {"S01", "手术费", "手术", 1000, 98765.43f}});
  admit("欧阳明", "2001", 1000, rt::makeDateTime(2009, 12, 28, 18, 45, 0));
  query("2001");
  charge("X01", "3");
  charge("Z01", "1");
  charge("S01", "2");
  // The total is the sum of the three lines to the fen (1234567.88 +
  // 197530.86 + 0.18), as the category amounts on the bill add up.
  EXPECT_EQ(text("编辑框11"), "1432098.92");
  EXPECT_EQ(text("标签13"), "-1431098.92");
  bill();
  std::vector<apptest::TextBox> texts;
  std::vector<apptest::Rule> rules;
  apptest::printedLayout(*printer.log, &texts, &rules);
  const auto p = printed();
  EXPECT_EQ(at(p, 350, 370), "1234567.88");  // 住院, 1234567.875 as a float
  EXPECT_EQ(at(p, 1450, 370), "197530.86");  // 手术, 2 × 98765.43 as a float
  EXPECT_EQ(at(p, 350, 530), "0.18");        // 西药, 3 × 0.06 as a float
  EXPECT_EQ(at(p, 1400, 700), "1432098.92");
  EXPECT_EQ(at(p, 950, 780), "1431098.92");  // still to pay
  EXPECT_EQ(at(p, 1300, 290), "125.2");      // days, 125.21875
  EXPECT_EQ(at(p, 420, 290), "2009年12月28日18时45分");
  EXPECT_EQ(apptest::overlaps(texts), apptest::none);
  EXPECT_EQ(apptest::outside(texts, printableWidth(), sheetBottom() - 150), apptest::none);
  EXPECT_TRUE(messages().empty());
}

// A stay long enough for a statement of three pages: pages 2 and 3 carry the
// patient's number and name above the headings and "第 k 页 共 n 页", as
// the first does its page number; no text comes within 15 mm of the sheet's
// bottom edge, none leaves the sheet, none runs into another.
TEST_F(BillTest, LaterStatementPagesSayWhoseTheyAreAndWhichPage) {
  admit("欧阳明", "2001", 1000);
  query("2001");
  for (int i = 1; i <= 130; ++i)
    ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, g("复方甘草口服溶液（大瓶装）"),
                                  g("西药"), g("甲类"), i, g("瓶"), 1234567.88f, float(1234567.88f * 3.0), "0312",
                                  g("欧阳收费员")));
  statement();
  std::vector<apptest::TextBox> texts;
  std::vector<apptest::Rule> rules;
  apptest::printedLayout(*printer.log, &texts, &rules);
  const auto p = printed();
  int pages = 0;
  for (const Placed& t : p) pages = std::max(pages, t.page);
  ASSERT_EQ(pages, 3);
  EXPECT_EQ(at(p, 1700, 320), "第 1 页 共 3 页");
  std::vector<std::string> tops, numbers;
  for (const Placed& t : p) {
    if (t.page > 1 && t.y == 100 && t.x == 200) tops.push_back(t.text);
    if (t.page > 1 && t.y == 100 && t.x == 1700) numbers.push_back(t.text);
  }
  EXPECT_EQ(tops, (std::vector<std::string>{"住院号：2001       姓名： 欧阳明", "住院号：2001       姓名： 欧阳明"}));
  EXPECT_EQ(numbers, (std::vector<std::string>{"第 2 页 共 3 页", "第 3 页 共 3 页"}));
  // The money columns to the fen, and whole.
  const std::string total = rt::moneyToText(float(1234567.88f * 3.0));
  EXPECT_EQ(total.find('e'), std::string::npos);
  int prices = 0, totals = 0;
  for (const Placed& t : p) {
    prices += t.x == 1450 && t.text == "1234567.88";
    totals += t.x == 1600 && t.text == total;
  }
  EXPECT_EQ(prices, 130);
  EXPECT_EQ(totals, 130);
  EXPECT_EQ(apptest::overlaps(texts), apptest::none);
  EXPECT_EQ(apptest::outside(texts, printableWidth(), sheetBottom() - 150), apptest::none);
  for (const apptest::Rule& r : rules) EXPECT_LE(std::max(r.x1, r.x2), printableWidth() + 0.5);
}

// --- the mended fault: a bill only for the patient shown -----------------------------

TEST_F(BillTest, NoBillOrStatementForAPatientThePanelDoesNotShow) {
  // Nothing queried.
  type("编辑框1", "1001");
  dialogs.answers = {rt::kOk, rt::kOk};
  bill();
  statement();
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"请先查询住院号“1001”的患者，再打印。", "请先查询住院号“1001”的患者，再打印。"}));
  // Queried, then the number changed.
  admit("赵六", "1002", 500);
  query("1001");
  charge("A01", "2");
  type("编辑框1", "1002");
  dialogs.asked.clear();
  dialogs.answers = {rt::kOk, rt::kOk};
  bill();
  type("编辑框1", "");
  statement();
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"请先查询住院号“1002”的患者，再打印。", "请先输入患者的住院号并查询，再打印。"}));
  EXPECT_EQ(printer.dialogs, 0);
  EXPECT_TRUE(printed().empty());
  EXPECT_FALSE(std::filesystem::exists("bz2010.kdb"));
  EXPECT_FALSE(std::filesystem::exists("n20105.kdb"));

  // Back to him, after the outpatient window has left a prescription's
  // totals and number in the program-wide values: the bill is his.
  type("编辑框1", "1001");
  app::programValues().categoryTotals.fill(9900);
  app::programValues().currentNumber = "0312";
  bill();
  const auto p = printed();
  EXPECT_EQ(at(p, 350, 530), "25");  // 西药
  EXPECT_EQ(at(p, 1450, 620), "0");  // 监护
  const auto year = stored("bz2010");
  ASSERT_EQ(year.size(), 1u);
  EXPECT_EQ(year[0][1], "1001");
  EXPECT_EQ(year[0][2], "25");
  EXPECT_EQ(year[0][19], "25");
}

// --- one real PDF ------------------------------------------------------------------------

using apptest::PdfPrinter;
using apptest::SaveTo;

struct Box {
  double xMin, yMin;  // millimetres from the top-left corner of the page
};

// Every place pdftotext -bbox finds `word` on the first page.
std::vector<Box> wordsIn(const QString& pdf, const QString& word) {
  QProcess p;
  p.start("pdftotext", {"-bbox", "-f", "1", "-l", "1", pdf, "-"});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
  const QString html = QString::fromUtf8(p.readAllStandardOutput());
  auto attr = [](const QString& tag, const char* name) {
    int i = tag.indexOf(QString(name) + "=\"");
    if (i < 0) return 0.0;
    i += int(std::strlen(name)) + 2;
    return tag.mid(i, tag.indexOf('"', i) - i).toDouble();
  };
  const double mm = 25.4 / 72;
  std::vector<Box> out;
  for (int i = html.indexOf("<word "); i >= 0; i = html.indexOf("<word ", i + 1)) {
    const int close = html.indexOf('>', i);
    const int end = html.indexOf("</word>", close);
    if (html.mid(close + 1, end - close - 1) != word) continue;
    const QString tag = html.mid(i, close - i);
    out.push_back({attr(tag, "xMin") * mm, attr(tag, "yMin") * mm});
  }
  return out;
}

TEST_F(BillTest, ARealPdfBillHasItsFiguresWhereTheFormExpectsThem) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PdfPrinter pdfPrinter;
  SaveTo save;
  save.path = (dir.path() + "/bill.prn").toStdString();
  print::setBackend(&pdfPrinter);
  rt::setDialogs(&save);
  addDrugs({{"Z01", "住院费", "住院", 1000, 1200.5f}});
  query("1001");
  charge("Z01", "1");
  bill();
  rt::setDialogs(&dialogs);
  const QString pdf = dir.path() + "/bill.prn";
  ASSERT_TRUE(QFile::exists(pdf));
  // Positions are tenths of a millimetre from the top-left corner.
  struct {
    const char* word;
    double x, y;
  } expected[] = {{"1001", 130.0, 21.0}, {"200.5", 95.0, 78.0}, {"1000", 55.0, 78.0}, {"张三", 140.0, 85.0}};
  for (const auto& e : expected) {
    const auto found = wordsIn(pdf, QString::fromUtf8(e.word));
    ASSERT_FALSE(found.empty()) << e.word;
    EXPECT_NEAR(found[0].xMin, e.x, 0.5) << e.word;
    EXPECT_NEAR(found[0].yMin, e.y, 0.5) << e.word;
  }
  // The amount in figures twice: the 住院 total at (35, 37) and the grand
  // total at (140, 70).
  auto totals = wordsIn(pdf, "1200.5");
  ASSERT_EQ(totals.size(), 2u);
  EXPECT_NEAR(totals[0].xMin, 35.0, 0.5);
  EXPECT_NEAR(totals[0].yMin, 37.0, 0.5);
  EXPECT_NEAR(totals[1].xMin, 140.0, 0.5);
  EXPECT_NEAR(totals[1].yMin, 70.0, 0.5);
}

// On a real PDF (a device that can print to the edge) the bill and a
// statement of two pages with long names keep their ink 5 mm or more
// inside the sheet: printed, no printer's unprintable margin cuts them.
TEST_F(BillTest, BillAndStatementInkStaysFiveMillimetresInsideTheSheet) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PdfPrinter pdfPrinter;
  SaveTo save;
  print::setBackend(&pdfPrinter);
  rt::setDialogs(&save);
  addDrugs({{"Z01", "住院费", "住院", 1000, 1234567.88f}});
  query("1001");
  charge("Z01", "1");
  for (int i = 1; i <= 60; ++i)
    ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)},
                                  g("复方丹参滴丸（薄膜衣）加长名称测试用药品"), g("中成"), g("甲类"), 100000 + i,
                                  g("盒"), 98765.43f, 9876543.0f, "0312", g("张三")));
  for (const char* file : {"bill.pdf", "statement.pdf"}) {
    SCOPED_TRACE(file);
    save.path = dir.path().toStdString() + "/" + file;
    std::string(file) == "bill.pdf" ? bill() : statement();
    ASSERT_TRUE(std::filesystem::exists(save.path));
    EXPECT_EQ(apptest::inkNearTheEdges(save.path), apptest::none);
  }
  rt::setDialogs(&dialogs);
}

}  // namespace
