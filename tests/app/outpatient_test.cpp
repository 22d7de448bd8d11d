// The outpatient window on the real window: the month's table, the totals
// while a prescription is typed, charging and deleting with the stock
// following, the bill printed on a recording printer and posted into the
// year's table, and the turn of the month on a moved clock; every table read
// back through a handle of its own.
#include <gtest/gtest.h>

#include <QWidget>
#include <filesystem>

#include "app/charges/charging.h"
#include "app/charges/charge_values.h"
#include "app/figures/stored_amounts.h"
#include "charge_fixture.h"
#include "layout_check.h"
#include "recording_printer.h"

namespace {

namespace ids = forms::ids;
namespace o = ids::outpatient;
constexpr uint32_t kWin = ids::kOutpatientWindow;

using namespace apptest::fields::line;
enum { b_shj, b_chf, b_ps, b_pzhy = 13, b_pjh = 18, b_phj = 19 };  // a bill record

class OutpatientTest : public apptest::ChargeTest {
 protected:
  void SetUp() override {
    ChargeTest::SetUp();  // the clock at 2010-05-03 14:30
    addDrugs({{"A01", "阿莫西林", "西药", 100, 12.5f},
              {"C01", "板蓝根", "中成", 100, 3.5f},
              {"W01", "床位费", "住院", 1000, 30.0f},
              {"X01", "心电监护", "监护", 1000, 60.0f}});
    logIn("张三");
  }

  void open() { ASSERT_TRUE(forms::loadWindow(kWin)); }
  void type(const char* box, const char* utf8) { forms::setText(kWin, g(box), g(utf8)); }
  std::string text(const char* name) { return u(forms::text(kWin, g(name))); }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }
  void select(uint32_t list, int row) {
    forms::setProperty(kWin, list, forms::prop::kListSelected, -1, rt::makeInt(row));
  }
  void charge(const char* code, const char* quantity, const char* prescription = "0312") {
    type("编辑框2", code);
    press(o::kButton2);
    type("编辑框3", quantity);
    type("编辑框4", prescription);
    select(o::kList1, 0);
    forms::raiseEvent(kWin, o::kList1, forms::kEvDoubleClick);
  }
  int rows(uint32_t list) { return forms::listRowCount(kWin, list); }
  std::string cell(uint32_t list, int row, int column) {
    return u(forms::listItem(kWin, list, row).texts.at(size_t(column)));
  }
  // A category total in yuan (held in fen).
  double total(app::Category c) { return app::yuanOf(app::programValues().categoryTotals[size_t(c)]); }
  static double at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return rt::makeDateTime(y, mo, d, h, mi, s);
  }
  // Lines written straight into a month's table: category, total, prescription.
  void monthHolds(const char* table, std::initializer_list<std::tuple<const char*, float, const char*>> lines) {
    apptest::makeCurrent(table, app::kChargeLines);
    for (auto [category, amount, prescription] : lines)
      ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{at(2010, 5, 1)}, g("药"), g(category), g("甲类"), 1, g("支"), amount,
                                    amount, prescription, "x"));
    cmd::CloseDatabase(table);
  }
  // What was printed at one point of the form.
  std::string printedAt(const apptest::RecordingPrinter& p, int x, int y) {
    std::string out;
    for (const auto& it : p.items())
      if (!it.line && it.x == x && it.y == y) out += it.text;
    return out;
  }
};

TEST_F(OutpatientTest, FirstDayOfAMonthMakesItsEmptyTable) {
  monthHolds("m20104", {{"西药", 10.0f, "0312"}});  // last month's
  open();
  ASSERT_TRUE(std::filesystem::exists("m20105.kdb"));
  EXPECT_TRUE(stored("m20105").empty());
  EXPECT_EQ(rows(o::kList2), 0);
  EXPECT_EQ(text("编辑框11"), "0");
  EXPECT_EQ(text("编辑框6"), "0");
  EXPECT_TRUE(messages().empty());
  // The focus moves, and the clock that the template leaves without a use.
  forms::raiseEvent(kWin, o::kEdit1, forms::kEvLostFocus);
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, o::kEdit5));
  forms::raiseEvent(kWin, o::kEdit5, forms::kEvLostFocus);
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, o::kEdit2));
  forms::raiseEvent(kWin, o::kTimer1, forms::kEvFirst);
  EXPECT_EQ(text("标签18"), "2010年5月3日14时30分");
}

TEST_F(OutpatientTest, TotalsFollowThePrescriptionAsItIsTyped) {
  monthHolds("m20105", {{"西药", 12.5f, "0312"},
                        {"中成", 3.5f, "0312"},
                        {"西药", 100.0f, "03"},
                        {"康复", 7.0f, "0312"},
                        {"西药", 1.0f, "0412"}});
  open();
  ASSERT_EQ(rows(o::kList2), 5);
  EXPECT_EQ(text("编辑框11"), "124");
  // Character by character: each change shows its prescription's total.
  const std::pair<const char*, const char*> steps[] = {{"0", "0"},     {"03", "100"},  {"031", "0"},
                                                       {"0312", "23"}, {"0312 ", "0"}, {"0312", "23"}};
  for (auto [typed, shown] : steps) {
    type("编辑框4", typed);
    EXPECT_EQ(text("编辑框6"), shown) << typed;
    EXPECT_EQ(u(app::programValues().currentNumber), typed);
  }
  EXPECT_EQ(total(app::kWestern), 12.5f);
  EXPECT_EQ(total(app::kPatentChinese), 3.5f);
  int64_t sum = 0;
  for (int64_t t : app::programValues().categoryTotals) sum += t;
  EXPECT_EQ(sum, 1600);  // the 7 of "康复" only in the prescription's total
  EXPECT_EQ(text("编辑框11"), "124");
  // The single pass gives what nineteen separate sums give.
  cmd::SetCurrentDatabase("m20105");
  EXPECT_EQ(app::sumCharges(g("0312")).categories, app::sumCategories(g("0312")));
}

TEST_F(OutpatientTest, ChargeCutsTheQuantityListsTheLineAndLowersTheStock) {
  monthHolds("m20105", {{"西药", 10.0f, "0312"}});
  open();
  charge("A01", "2.7", "0312");
  EXPECT_TRUE(messages().empty());
  auto lines = stored("m20105");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1],
            (apptest::Stored{"2010年5月3日", "阿莫西林", "西药", "甲类", "2", "支", "12.5", "25", "0312", "张三"}));
  EXPECT_EQ(stock(), (std::vector<int>{98, 100, 1000, 1000}));
  ASSERT_EQ(rows(o::kList2), 2);
  EXPECT_EQ(cell(o::kList2, 0, mch), "阿莫西林");
  EXPECT_EQ(cell(o::kList2, 0, hj), "25");
  EXPECT_EQ(text("编辑框11"), "35");
  EXPECT_EQ(text("编辑框6"), "35");
  EXPECT_EQ(total(app::kWestern), 35.0f);
  // Ready for the next code.
  EXPECT_EQ(text("编辑框2"), "");
  EXPECT_EQ(rows(o::kList1), 0);
  EXPECT_EQ(text("编辑框3"), "2.7");
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, o::kEdit2));
}

TEST_F(OutpatientTest, DeleteAsksAndEitherButtonGivesTheStockBack) {
  open();
  charge("A01", "4");
  charge("C01", "10");
  ASSERT_EQ(stock(), (std::vector<int>{96, 90, 1000, 1000}));
  // Cancel: line and stock as they were.
  select(o::kList2, 1);
  dialogs.answers.push_back(rt::kCancel);
  press(o::kButton4);
  EXPECT_EQ(messages(), std::vector<std::string>{"你确定要删除吗？"});
  EXPECT_EQ(stored("m20105").size(), 2u);
  EXPECT_EQ(stock(), (std::vector<int>{96, 90, 1000, 1000}));
  // OK on the second button: the A01 line goes, its 4 come back.
  select(o::kList2, 1);
  dialogs.answers.push_back(rt::kOk);
  press(o::kButton3);
  auto lines = stored("m20105");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0][mch], "板蓝根");
  EXPECT_EQ(stock(), (std::vector<int>{100, 90, 1000, 1000}));
  EXPECT_EQ(rows(o::kList2), 1);
  EXPECT_EQ(text("编辑框11"), "35");
  EXPECT_EQ(total(app::kWestern), 0.0f);
  EXPECT_EQ(total(app::kPatentChinese), 35.0f);
}

TEST_F(OutpatientTest, TheBillPrintsItsFormAndPrintingTwiceKeepsOneRecord) {
  open();
  type("编辑框1", "李雷");
  type("编辑框5", "内科");
  charge("A01", "2");          // 25
  charge("C01", "3");          // 10.5
  charge("W01", "1");          // 30, 住院: counted, not printed
  charge("X01", "1");          // 60, 监护: counted, not printed
  charge("A01", "1", "0313");  // another prescription
  type("编辑框4", "0312");
  ASSERT_EQ(text("编辑框6"), "125.5");
  apptest::RecordingPrinter printer;
  press(o::kButton1);
  EXPECT_EQ(printer.dialogs, 1);
  EXPECT_FALSE(printer.seen.applyPaper);  // the printer's own paper, portrait
  EXPECT_EQ(printedAt(printer, 470, 400), "青山康复中心");
  EXPECT_EQ(printedAt(printer, 860, 400), "李雷");
  EXPECT_EQ(printedAt(printer, 1120, 400), "内科");
  EXPECT_EQ(printedAt(printer, 530, 460), "25");
  EXPECT_EQ(printedAt(printer, 950, 460), "10.5");
  EXPECT_EQ(printedAt(printer, 1380, 460), "0");
  EXPECT_EQ(printedAt(printer, 950, 670), "0");
  EXPECT_EQ(printedAt(printer, 1380, 670), "125.5");
  EXPECT_EQ(printedAt(printer, 650, 750), "※" + u(cmd::ChineseNumerals(125.5, false)));
  EXPECT_EQ(printedAt(printer, 400, 810), "2010年5月3日");
  // Fourteen texts and no more: no place for 住院 and 监护.
  EXPECT_EQ(printer.items().size(), 3u + 11u + 3u);
  for (const auto& it : printer.items()) {
    EXPECT_NE(it.text, "30");
    EXPECT_NE(it.text, "60");
    EXPECT_EQ(it.fontUnits, 39) << it.text;  // 11 points (15 screen pixels)
  }

  auto bills = stored("bm2010");
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0][b_shj], "2010年5月3日");
  EXPECT_EQ(bills[0][b_chf], "0312");
  EXPECT_EQ(bills[0][b_ps], "25");
  EXPECT_EQ(bills[0][b_ps + 3], "10.5");  // 中成
  EXPECT_EQ(bills[0][b_pzhy], "30");
  EXPECT_EQ(bills[0][b_pjh], "60");
  EXPECT_EQ(bills[0][b_phj], "125.5");

  // More on the prescription the next day, printed again: the same record,
  // with the new totals and date.
  rt::setClock(at(2010, 5, 4, 9, 0));
  charge("A01", "4", "0312");
  press(o::kButton1);
  bills = stored("bm2010");
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0][b_shj], "2010年5月4日");
  EXPECT_EQ(bills[0][b_ps], "75");
  EXPECT_EQ(bills[0][b_phj], "175.5");
  // Another prescription gets a record of its own.
  type("编辑框4", "0313");
  press(o::kButton1);
  EXPECT_EQ(stored("bm2010").size(), 2u);
  EXPECT_TRUE(messages().empty());
}

// Amounts the float fields cannot hold exactly, and seven-digit ones: the
// window and the bill show them to the fen, never with float noise or an
// exponent; the stored line keeps its float as it is.
TEST_F(OutpatientTest, AmountsAreShownAndPrintedToTheFen) {
  addDrugs({{"V06", "维生素C片", "西药", 100, 0.06f}, {"S01", "手术费", "手术", 100, 1609200.0f}});
  open();
  type("编辑框1", "李雷");
  charge("V06", "3");
  EXPECT_EQ(text("编辑框6"), "0.18");  // 3 × 0.06 as a float: 0.1799999922514
  EXPECT_EQ(cell(o::kList2, 0, 7), "0.18");
  charge("S01", "1");
  EXPECT_EQ(text("编辑框6"), "1609200.18");
  EXPECT_EQ(text("编辑框11"), "1609200.18");
  apptest::RecordingPrinter printer;
  press(o::kButton1);
  EXPECT_EQ(printedAt(printer, 530, 460), "0.18");     // 西药
  EXPECT_EQ(printedAt(printer, 530, 600), "1609200");  // 手术, 1.6092e+006 as ToText writes it
  EXPECT_EQ(printedAt(printer, 1380, 670), "1609200.18");
  std::vector<apptest::TextBox> texts;
  std::vector<apptest::Rule> rules;
  apptest::printedLayout(*printer.log, &texts, &rules);
  EXPECT_EQ(apptest::overlaps(texts), apptest::none);
  // The line as stored: the float's own value.
  apptest::makeCurrent("m20105", app::kChargeLines);
  cmd::MoveFirst();
  EXPECT_EQ(cmd::ReadField("hj").arg().kind, rt::kFloat);
  EXPECT_EQ(float(cmd::ReadField("hj").number()), float(3 * double(0.06f)));
}

TEST_F(OutpatientTest, NoBillWithoutAPrescriptionOfThisMonth) {
  monthHolds("m20105", {{"西药", 10.0f, "0312"}});
  open();
  apptest::RecordingPrinter printer;
  dialogs.answers = {rt::kOk, rt::kOk, rt::kOk};
  type("编辑框4", "");
  press(o::kButton1);
  for (const char* prescription : {"0313", "0312 "}) {
    type("编辑框4", prescription);
    press(o::kButton1);
  }
  EXPECT_EQ(messages(), (std::vector<std::string>{"请输入处方号", "无该处方", "无该处方"}));
  EXPECT_EQ(printer.dialogs, 0);
  EXPECT_FALSE(std::filesystem::exists("bm2010.kdb"));
}

TEST_F(OutpatientTest, TheBillIsThePrescriptionsAfterTheInpatientWindowRan) {
  open();
  charge("A01", "2", "0312");  // 25 of 西药 in the program-wide totals
  // The inpatient window charges a patient since: the program-wide totals
  // and current number are now his.
  admit("王五", "1001", 1000);
  ASSERT_TRUE(forms::loadWindow(ids::kMedicationWindow));
  namespace m = ids::medication;
  forms::setText(ids::kMedicationWindow, g("编辑框1"), "1001");
  forms::raiseEvent(ids::kMedicationWindow, m::kButton1, forms::kEvFirst);
  forms::setText(ids::kMedicationWindow, g("编辑框2"), "X01");
  forms::raiseEvent(ids::kMedicationWindow, m::kButton2, forms::kEvFirst);
  forms::setText(ids::kMedicationWindow, g("编辑框3"), "1");
  forms::setProperty(ids::kMedicationWindow, m::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
  forms::raiseEvent(ids::kMedicationWindow, m::kList1, forms::kEvDoubleClick);
  ASSERT_EQ(app::programValues().currentNumber, "1001");
  ASSERT_EQ(total(app::kCare), 60.0f);

  apptest::RecordingPrinter printer;
  press(o::kButton1);
  EXPECT_EQ(printedAt(printer, 530, 460), "25");
  auto bills = stored("bm2010");
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0][b_chf], "0312");
  EXPECT_EQ(bills[0][b_ps], "25");
  EXPECT_EQ(bills[0][b_pjh], "0");
  EXPECT_EQ(bills[0][b_phj], "25");
  EXPECT_TRUE(messages().empty());
}

// Another workstation charges a line to the same prescription while the
// print dialog is open, and another as the form comes out: the form and
// the posting both come from one reading after the dialog, so the first
// is in both and the second in neither.
TEST_F(OutpatientTest, ALineChargedWhileTheDialogIsOpenIsOnTheFormAndInThePosting) {
  open();
  charge("A01", "2", "0312");  // 25 of 西药
  apptest::RecordingPrinter printer;
  printer.whileOpen = [this] { chargeElsewhere("m20105", "心电监护", "监护", 1, 60.0f, "0312"); };
  printer.atEndOfJob = [this] { chargeElsewhere("m20105", "阿莫西林", "西药", 1, 12.5f, "0312"); };
  press(o::kButton1);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(printedAt(printer, 530, 460), "25");   // 西药
  EXPECT_EQ(printedAt(printer, 1380, 670), "85");  // the prescription's total
  EXPECT_EQ(text("编辑框6"), "85");
  const auto bills = stored("bm2010");
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0][b_ps], "25");
  EXPECT_EQ(bills[0][b_pjh], "60");
  EXPECT_EQ(bills[0][b_phj], "85");
}

TEST_F(OutpatientTest, AChargeAfterMidnightLandsInTheNewMonthsTable) {
  rt::setClock(at(2010, 5, 31, 23, 59, 50));
  open();
  charge("A01", "1", "0312");
  ASSERT_EQ(stored("m20105").size(), 1u);
  // Midnight passes with the window open; the next code is looked up and
  // charged in June.
  rt::setClock(at(2010, 6, 1, 0, 0, 10));
  charge("C01", "2", "0312");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(stored("m20105").size(), 1u);
  auto june = stored("m20106");
  ASSERT_EQ(june.size(), 1u);
  EXPECT_EQ(june[0][shj], "2010年6月1日");
  EXPECT_EQ(june[0][mch], "板蓝根");
  EXPECT_EQ(stock(), (std::vector<int>{99, 98, 1000, 1000}));
  // The window shows June's month.
  EXPECT_EQ(rows(o::kList2), 1);
  EXPECT_EQ(text("编辑框11"), "7");
  EXPECT_EQ(text("编辑框6"), "7");
  // A keystroke in the first seconds of July finds July's table made too.
  rt::setClock(at(2010, 7, 1, 0, 0, 1));
  type("编辑框4", "0313");
  EXPECT_TRUE(std::filesystem::exists("m20107.kdb"));
  EXPECT_EQ(text("编辑框11"), "0");
}

TEST_F(OutpatientTest, AMonthTableWithoutTheChargeFieldsTakesNothing) {
  // This month's file exists but is not a table of charge lines.
  apptest::makeCurrent("m20105", app::kUsers);
  cmd::CloseDatabase("m20105");
  dialogs.answers = {rt::kOk};
  open();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0], "“m20105”不是收费表（没有收费明细的十个字段）。");
  dialogs.asked.clear();
  type("编辑框4", "0312");  // quiet while typing
  EXPECT_TRUE(messages().empty());
  type("编辑框2", "A01");
  press(o::kButton2);
  ASSERT_EQ(rows(o::kList1), 1);
  dialogs.answers = {rt::kOk, rt::kOk, rt::kOk};
  select(o::kList1, 0);
  forms::raiseEvent(kWin, o::kList1, forms::kEvDoubleClick);
  press(o::kButton4);
  apptest::RecordingPrinter printer;
  press(o::kButton1);
  ASSERT_EQ(messages().size(), 3u);
  EXPECT_NE(messages()[0].find("本次未记帐，库存未变动。"), std::string::npos);
  EXPECT_NE(messages()[1].find("未删除任何记录，库存未变动。"), std::string::npos);
  EXPECT_NE(messages()[2].find("未打印票据。"), std::string::npos);
  EXPECT_TRUE(stored("m20105").empty());
  EXPECT_EQ(stock(), (std::vector<int>{100, 100, 1000, 1000}));
  EXPECT_EQ(printer.dialogs, 0);
}

}  // namespace
