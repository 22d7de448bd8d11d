// The inpatient registration window and its print-range window on the real
// windows: typing into the boxes, pressing the buttons, double-clicking list
// rows, printing the inpatient list on a recording printer, with the
// register read back through a handle of its own after every step.
#include <gtest/gtest.h>

#include <algorithm>

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "app/tables.h"
#include "app_fixture.h"
#include "layout_check.h"
#include "pdf_pages.h"
#include "db/engine.h"
#include "db/facade.h"
#include "db/table.h"
#include "forms/window_ids.h"
#include "recording_printer.h"
#include "runtime/clock.h"
#include "runtime/convert.h"

namespace {

namespace ids = forms::ids;
namespace i = ids::inpatient;
constexpr uint32_t kWin = ids::kInpatientWindow;
constexpr uint32_t kRange = ids::kPrintRangeWindow;

enum { xm, xb, nl, zh, sj, bz, zyh, ks, cwh, ys, yfk };
using Stored = std::vector<std::string>;  // every field as ToText shows it, UTF-8

// Boxes and texts to type, UTF-8.
using Typed = std::vector<std::pair<const char*, const char*>>;
Typed patient(const char* name, const char* number, const char* admitted = "2010-1-5 10:30",
              const char* prepaid = "500") {
  return {{"编辑框1", name},     {"组合框1", "男"},     {"编辑框2", "42"},   {"编辑框12", "YB001"},
          {"编辑框3", admitted}, {"编辑框4", "骨折"},   {"编辑框5", number}, {"编辑框6", "骨科"},
          {"编辑框7", "12"},     {"编辑框8", "王医生"}, {"编辑框9", prepaid}};
}
const char* const kBoxes[] = {"编辑框1", "组合框1", "编辑框2", "编辑框12", "编辑框3", "编辑框4",
                              "编辑框5", "编辑框6", "编辑框7", "编辑框8",  "编辑框9"};

class InpatientTest : public apptest::AppTest {
 protected:
  void TearDown() override {
    rt::clearClock();
    apptest::AppTest::TearDown();
  }
  void open() { ASSERT_TRUE(forms::loadWindow(kWin)); }
  void type(const char* box, const char* utf8) { forms::setText(kWin, rt::utf8ToGbk(box), rt::utf8ToGbk(utf8)); }
  void type(const Typed& t) {
    for (auto [box, text] : t) type(box, text);
  }
  std::string box(const char* name) { return rt::gbkToUtf8(forms::text(kWin, rt::utf8ToGbk(name))); }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }
  void admit(const Typed& t) {
    type(t);
    press(i::kButton1);
  }
  void doubleClick(int row) {
    forms::setProperty(kWin, i::kList1, forms::prop::kListSelected, -1, rt::makeInt(row));
    forms::raiseEvent(kWin, i::kList1, forms::kEvDoubleClick);
  }
  std::string cell(int row, int column) {
    return rt::gbkToUtf8(forms::listItem(kWin, i::kList1, row).texts.at(size_t(column)));
  }
  bool allBoxesEmpty() {
    for (const char* b : kBoxes)
      if (!box(b).empty()) return false;
    return true;
  }

  // The file of a table as a second opener sees it; the window's handles
  // and current records are left alone.
  std::vector<Stored> stored(const char* file = "zyjbxx.kdb") {
    std::unique_ptr<db::Table> t;
    db::OpenOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_EQ(db::Table::open((dir_ / file).string(), readOnly, &t), 0) << file;
    int32_t count = 0;
    if (!t || t->readCount(&count) != 0) return {};
    std::vector<Stored> out(static_cast<size_t>(count));
    std::vector<uint8_t> rec(size_t(t->recordSize()));
    for (int32_t pos = 0; pos < count; ++pos) {
      EXPECT_EQ(t->readRecord(pos, rec.data()), 0);
      for (const db::Field& f : t->fields()) {
        rt::Arg a;
        EXPECT_EQ(t->loadValue(f, rec.data(), &a), 0);
        out[size_t(pos)].push_back(rt::gbkToUtf8(rt::valueToText(rt::Result(a).arg())));
      }
    }
    return out;
  }

  // Admissions written straight into the register before the window opens.
  void registerHolds(const std::vector<std::pair<std::string, double>>& admissions) {
    apptest::makeCurrent(app::kInpatientsName, app::kInpatients);
    for (const auto& [number, admitted] : admissions)
      ASSERT_TRUE(
          cmd::AppendRecord("n" + number, GBK("女"), 30, "", rt::DateTime{admitted}, "", number, "", "", "", 100));
    db::closeAllDatabases();
  }
  static double at(int y, int mo, int d, int h = 0, int mi = 0) { return rt::makeDateTime(y, mo, d, h, mi, 0); }

  // The print-range window, filled and confirmed.
  void printRange(const char* from, const char* to) {
    ASSERT_TRUE(forms::loadWindow(kRange));
    forms::setText(kRange, GBK("编辑框1"), rt::utf8ToGbk(from));
    forms::setText(kRange, GBK("编辑框2"), rt::utf8ToGbk(to));
    forms::raiseEvent(kRange, ids::printRange::kButton1, forms::kEvFirst);
  }
  // The texts printed at one height of one page, left to right.
  std::vector<std::string> textsAt(const apptest::RecordingPrinter& p, int page, int y) {
    std::vector<std::string> out;
    for (const auto& it : p.items())
      if (!it.line && it.page == page && it.y == y) out.push_back(it.text);
    return out;
  }
  std::vector<std::pair<int, int>> linesOf(const apptest::RecordingPrinter& p, int page) {
    std::vector<std::pair<int, int>> out;  // y, length
    for (const auto& it : p.items())
      if (it.line && it.page == page) {
        EXPECT_EQ(it.y, it.y2);
        out.push_back({it.y, it.x2 - it.x});
      }
    return out;
  }
};

TEST_F(InpatientTest, AdmissionsListNewestFirstAndTheChosenRowIsBroughtUp) {
  open();
  ASSERT_TRUE(std::filesystem::exists("zyjbxx.kdb"));
  cmd::SetCurrentDatabase(app::kInpatientsName);
  EXPECT_EQ(cmd::FieldCount(), 11);
  EXPECT_EQ(forms::listRowCount(kWin, i::kList1), 0);
  EXPECT_EQ(box("编辑框10"), "0");
  EXPECT_EQ(box("编辑框11"), "0");

  admit(patient("张三", "Z1", "2010-1-5 10:30", "500"));
  EXPECT_TRUE(allBoxesEmpty());
  admit(patient("李四", "Z2", "2010-1-6", "300"));
  admit(patient("王五", "Z3", "2010-1-7 8:00", "1200"));
  auto s = stored();
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0],
            (Stored{"张三", "男", "42", "YB001", "2010年1月5日10时30分", "骨折", "Z1", "骨科", "12", "王医生", "500"}));
  EXPECT_EQ(s[2][xm], "王五");
  EXPECT_EQ(forms::listRowCount(kWin, i::kList1), 3);
  EXPECT_EQ(cell(0, 0), "王五");
  EXPECT_EQ(cell(2, 0), "张三");
  EXPECT_EQ(cell(0, sj), "2010年1月7日8时");
  EXPECT_EQ(cell(0, yfk), "1200");
  EXPECT_EQ(box("编辑框10"), "3");
  EXPECT_EQ(box("编辑框11"), "2000");

  doubleClick(0);  // the top row: the third admission
  EXPECT_EQ(box("编辑框1"), "王五");
  EXPECT_EQ(box("编辑框5"), "Z3");
  EXPECT_EQ(box("编辑框3"), "2010年1月7日8时");
  EXPECT_EQ(box("编辑框2"), "42");
  EXPECT_EQ(box("编辑框12"), "YB001");
  doubleClick(2);
  EXPECT_EQ(box("编辑框1"), "张三");

  // Modify rewrites the patient brought up, even onto another's number
  // (no duplicate check), with another window's table current meanwhile.
  apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);
  type("编辑框7", "15");
  type("编辑框9", "800");
  press(i::kButton3);
  s = stored();
  EXPECT_EQ(s[0][cwh], "15");
  EXPECT_EQ(s[0][yfk], "800");
  EXPECT_EQ(s[1][cwh], "12");
  EXPECT_TRUE(allBoxesEmpty());
  EXPECT_EQ(box("编辑框11"), "2300");
  EXPECT_EQ(cell(2, cwh), "15");
  // Nobody is brought up after the refresh: the next modify changes nothing.
  type(patient("赵六", "Z9"));
  press(i::kButton3);
  EXPECT_EQ(stored(), s);
  cmd::SetCurrentDatabase(app::kDrugCatalogueName);
  EXPECT_EQ(cmd::RecordCount(), 0);
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(InpatientTest, DuplicateAndEmptyNumbers) {
  open();
  admit(patient("张三", "Z1"));
  dialogs.answers = {rt::kOk, rt::kOk};
  admit(patient("李四", "Z1"));
  EXPECT_EQ(stored().size(), 1u);
  EXPECT_TRUE(allBoxesEmpty());  // cleared as after an add
  // The empty number is accepted once, then it is a duplicate like any other.
  admit(patient("王五", ""));
  admit(patient("赵六", ""));
  auto s = stored();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[1][xm], "王五");
  EXPECT_EQ(messages(), std::vector<std::string>(2, "该住院号已经存在，请直接进入药品支出模块。"));
  EXPECT_EQ(box("编辑框10"), "2");
}

TEST_F(InpatientTest, FindIsExactAndAFailedFindBringsUpNobody) {
  open();
  admit(patient("张三", "Z1", "2010-1-5 10:30", "500"));
  admit(patient("李四", "Z2"));
  type("编辑框5", "Z1");
  press(i::kButton2);
  EXPECT_EQ(box("编辑框1"), "张三");
  EXPECT_EQ(box("组合框1"), "男");
  EXPECT_EQ(box("编辑框3"), "2010年1月5日10时30分");
  EXPECT_EQ(box("编辑框9"), "500");

  for (const char* number : {"Z1 ", "z1", " Z1"}) {
    dialogs.answers.push_back(rt::kOk);
    type(patient("left over", number));
    press(i::kButton2);
    EXPECT_TRUE(allBoxesEmpty()) << number;
  }
  EXPECT_EQ(messages(), std::vector<std::string>(3, "该记录不存在。"));
  // The search started at the first patient, but he was not chosen: modify
  // and delete after a failed find leave him alone.
  const auto before = stored();
  type(patient("王五", "Z5"));
  press(i::kButton3);
  dialogs.answers.push_back(rt::kOk);
  press(i::kButton4);
  EXPECT_EQ(stored(), before);
}

TEST_F(InpatientTest, DeleteAsksThenRemovesThePatientFromTheFile) {
  open();
  for (const char* number : {"Z1", "Z2", "Z3"}) admit(patient("张三", number));
  const auto size3 = std::filesystem::file_size("zyjbxx.kdb");
  doubleClick(1);  // record 2
  dialogs.answers = {rt::kCancel};
  press(i::kButton4);
  EXPECT_EQ(stored().size(), 3u);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(messages()[0], "你确定要删除此条记录吗？");
  EXPECT_EQ(dialogs.asked[0].style & rt::mb::kButtonMask, rt::mb::kOkCancel);

  dialogs.answers = {rt::kOk};
  apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);  // another window's table current
  press(i::kButton4);
  auto s = stored();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0][zyh] + s[1][zyh], "Z1Z3");
  EXPECT_LT(std::filesystem::file_size("zyjbxx.kdb"), size3);  // packed at once
  EXPECT_EQ(box("编辑框5"), "Z2");                             // the boxes keep what they showed
  EXPECT_EQ(cell(0, zyh), "Z3");
  EXPECT_EQ(box("编辑框10"), "2");
  // Nobody brought up: a second delete removes nothing.
  dialogs.answers = {rt::kOk};
  press(i::kButton4);
  EXPECT_EQ(stored().size(), 2u);
}

TEST_F(InpatientTest, BadInputIsStoredAsItConverts) {
  open();
  Typed t = patient("ABCDEFGH", "Z1", "2010-2-30", "1500.8");
  t.push_back({"编辑框2", "abc"});
  t.push_back({"组合框1", "女"});
  admit(t);
  admit(patient("李四", "Z2", "2010-1-1", "x"));
  auto s = stored();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0][xm], "ABCDEF");  // cut at the field's six bytes
  EXPECT_EQ(s[0][xb], "女");
  EXPECT_EQ(s[0][nl], "0");
  EXPECT_EQ(s[0][sj], "100年1月1日");  // what the conversion gives
  EXPECT_EQ(s[0][yfk], "1500");        // a whole number
  EXPECT_EQ(s[1][yfk], "0");
  EXPECT_EQ(box("编辑框11"), "1500");  // the sum of what is stored
  // Empty boxes are accepted.
  admit({});
  EXPECT_EQ(stored().size(), 3u);
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(InpatientTest, ARegisterThatCannotBeOpenedIsReportedAndNothingIsWritten) {
  { std::ofstream("zyjbxx.kdb") << "not a table"; }
  apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);  // current before the window opens
  dialogs.answers = {rt::kOk};
  open();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].rfind("住院信息文件 zyjbxx.kdb 无法打开：", 0), 0u);
  EXPECT_EQ(forms::listRowCount(kWin, i::kList1), 0);
  // Adding, finding and printing each say the register could not be
  // opened, and what was not done; what was typed stays.
  dialogs.answers.push_back(rt::kOk);
  admit(patient("张三", "Z1"));
  EXPECT_EQ(box("编辑框5"), "Z1");
  dialogs.answers.push_back(rt::kOk);
  type("编辑框5", "Z1");
  press(i::kButton2);
  ASSERT_TRUE(forms::loadWindow(kRange));
  dialogs.answers.push_back(rt::kOk);
  forms::raiseEvent(kRange, ids::printRange::kButton1, forms::kEvFirst);
  ASSERT_EQ(messages().size(), 4u);
  for (size_t k = 1; k < 4; ++k)
    EXPECT_EQ(messages()[k].rfind("住院信息文件 zyjbxx.kdb 无法打开：", 0), 0u) << messages()[k];
  EXPECT_NE(messages()[1].find("输入的内容未清除"), std::string::npos);
  EXPECT_NE(messages()[3].find("未打印。"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("zylshk.kdb"));
  cmd::SetCurrentDatabase(app::kDrugCatalogueName);
  EXPECT_EQ(cmd::RecordCount(), 0);
  EXPECT_EQ(std::filesystem::file_size("zyjbxx.kdb"), 11u);
}

TEST_F(InpatientTest, NumbersThatCannotNameAPatientsTableAreRefused) {
  open();
  admit(patient("张三", "Z1"));
  const auto before = stored();
  const char* refused[] = {"a/b", "..\\x", ".", "..", "Z*", "?", "ypjbxx", "ZYJBXX", "User", "lshk", "zylshk", "m20105",
                           "N201012", "bm2010", "BZ2011", "a\tb",
                           // not exactly the number plus ".kdb", or cut by the register
                           "2026.01", "2010001.kdb", "12345678901", " Z2", "Z2 "};
  for (const char* number : refused) {
    dialogs.answers.push_back(rt::kOk);
    admit(patient("李四", number));
    EXPECT_EQ(box("编辑框5"), number) << "the boxes stay for correcting";
  }
  EXPECT_EQ(stored(), before);
  ASSERT_EQ(messages().size(), std::size(refused));
  EXPECT_EQ(messages()[0],
            "住院号“a/b”不能使用：住院号最长10个字节，不能含有“.”“/”“\\”“*”“?”或控制字符，"
            "首尾不能有空格，也不能与系统的数据文件同名。请核对住院号。");

  // Modify refuses them too; the patient keeps his number.
  doubleClick(0);
  dialogs.answers.push_back(rt::kOk);
  type("编辑框5", "user");
  press(i::kButton3);
  EXPECT_EQ(stored(), before);
  EXPECT_EQ(messages().size(), std::size(refused) + 1);
  // Names that only resemble them are ordinary numbers.
  for (const char* number : {"m2010a", "bmx", "users", "2010-01"}) admit(patient("王五", number));
  EXPECT_EQ(stored().size(), 5u);
}

TEST_F(InpatientTest, ClockFocusMovesAndExit) {
  open();
  rt::setClock(at(2010, 3, 4, 9, 15));
  forms::raiseEvent(kWin, i::kTimer1, forms::kEvFirst);
  EXPECT_EQ(rt::gbkToUtf8(forms::text(kWin, GBK("标签14"))), "2010年3月4日9时15分");
  forms::raiseEvent(kWin, i::kEdit2, forms::kEvLostFocus);
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, i::kEdit12));
  forms::raiseEvent(kWin, i::kEdit12, forms::kEvLostFocus);
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, i::kEdit3));

  // "打印" opens the range window as a dialog; "取 消" closes it unprinted.
  apptest::RecordingPrinter printer;
  qtest::ExpectModal modal;  // the range window, answered from the timer below
  bool wasUp = false;
  QTimer::singleShot(0, [&] {
    wasUp = forms::isLoaded(kRange);
    forms::raiseEvent(kRange, ids::printRange::kButton2, forms::kEvFirst);
  });
  press(i::kButton6);  // returns once the dialog has closed
  EXPECT_TRUE(wasUp);
  EXPECT_FALSE(loaded(kRange));
  EXPECT_EQ(printer.dialogs, 0);

  press(i::kButton5);  // 退出
  EXPECT_FALSE(loaded(kWin));
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(InpatientTest, PrintsTheAdmissionsOfTheRangeInclusive) {
  registerHolds({{"P0", at(2009, 12, 31, 23, 0)},
                 {"P1", at(2010, 1, 1, 8, 0)},
                 {"P2", at(2010, 1, 15, 12, 0)},
                 {"P3", at(2010, 1, 31, 0, 0)},
                 {"P4", at(2010, 1, 31, 9, 0)}});
  open();
  rt::setClock(at(2010, 2, 1, 10, 0));
  apptest::RecordingPrinter printer;
  printRange("2010-01-01", "2010-01-31");
  EXPECT_FALSE(loaded(kRange));
  EXPECT_EQ(printer.dialogs, 1);
  EXPECT_TRUE(printer.seen.applyPaper);
  EXPECT_EQ(printer.seen.paperCode, print::paperCodeFor(2));  // A4
  EXPECT_TRUE(printer.seen.applyOrientation);
  EXPECT_TRUE(printer.seen.landscape);  // its rules (to 2700) are wider than portrait
  EXPECT_EQ(printer.count(print::Recorded::NewPage), 0);
  EXPECT_EQ(printer.count(print::Recorded::EndJob), 1);

  const auto items = printer.items();
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].text, "住院病人一览表");
  EXPECT_EQ(items[0].x, 1250);
  EXPECT_EQ(items[0].y, 300);
  // 16 points, then 10 from the headings on (sizes are kept in whole
  // screen pixels: 21 and 13 at 96 dpi, 15.75 and 9.75 points).
  EXPECT_EQ(items[0].fontUnits, 55);
  EXPECT_EQ(items[1].fontUnits, 34);
  EXPECT_EQ(textsAt(printer, 1, 400), (std::vector<std::string>{"姓名", "性别", "年龄", "医保证号", "住院时间", "病种",
                                                                "住院号", "科室", "床位号", "主治医师", "预付款"}));
  EXPECT_EQ(textsAt(printer, 1, 320), std::vector<std::string>{"第 1 页 共 1 页"});
  std::vector<int> headingX;
  for (const auto& it : items)
    if (!it.line && it.y == 400) headingX.push_back(it.x);
  EXPECT_EQ(headingX, (std::vector<int>{200, 340, 420, 510, 730, 1120, 1810, 2000, 2200, 2320, 2480}));

  // P1, P2, P3 in stored order at 520, 570, 620.
  EXPECT_EQ(textsAt(printer, 1, 520), (std::vector<std::string>{"nP1", "女", "30", "2010年1月1日8时", "P1", "100"}));
  EXPECT_EQ(textsAt(printer, 1, 570)[0], "nP2");
  EXPECT_EQ(textsAt(printer, 1, 620)[0], "nP3");
  std::vector<int> rowX;
  for (const auto& it : items)
    if (!it.line && it.y == 520) rowX.push_back(it.x);
  EXPECT_EQ(rowX, (std::vector<int>{200, 340, 420, 730, 1810, 2480}));  // empty fields print nothing
  EXPECT_TRUE(textsAt(printer, 1, 670).empty());
  EXPECT_EQ(linesOf(printer, 1), (std::vector<std::pair<int, int>>{{450, 2500}, {700, 2500}}));
  EXPECT_EQ(textsAt(printer, 1, 730), (std::vector<std::string>{"打印时间：", "2010年2月1日10时"}));
  for (const auto& it : items) {
    if (!it.line && it.text == "打印时间：") {
      EXPECT_EQ(it.x, 1300);
    }
  }

  // The range is this workstation's own: no shared scratch table is made;
  // the register is untouched.
  EXPECT_FALSE(std::filesystem::exists("zylshk.kdb"));
  EXPECT_EQ(stored().size(), 5u);
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(InpatientTest, RangesOrderTimesBeforeTheEpochAndMayBeEmpty) {
  // Before 1899-12-30 the fraction still counts forward: 1899-12-29 09:36
  // lies between 06:00 and 12:00 of that day, 18:00 does not.
  registerHolds({{"E1", -1.4}, {"E2", -1.75}, {"E3", at(2010, 6, 1)}});
  open();
  rt::setClock(at(2010, 2, 1, 10, 0));
  {
    apptest::RecordingPrinter printer;
    printRange("1899-12-29 6:00", "1899-12-29 12:00");
    EXPECT_EQ(textsAt(printer, 1, 520)[0], "nE1");
    EXPECT_TRUE(textsAt(printer, 1, 570).empty());
  }
  apptest::RecordingPrinter printer;
  printRange("2011-01-01", "2011-12-31");
  // Title, headings, the line at 450, a second one at 550, the print time at 580.
  EXPECT_EQ(textsAt(printer, 1, 300), std::vector<std::string>{"住院病人一览表"});
  EXPECT_EQ(textsAt(printer, 1, 400).size(), 11u);
  EXPECT_EQ(linesOf(printer, 1), (std::vector<std::pair<int, int>>{{450, 2500}, {550, 2500}}));
  EXPECT_EQ(textsAt(printer, 1, 580)[0], "打印时间：");
  EXPECT_EQ(printer.items().size(), 1u + 11u + 1u + 2u + 2u);  // title, headings, page, lines, time
  EXPECT_FALSE(std::filesystem::exists("zylshk.kdb"));
}

TEST_F(InpatientTest, ALongListContinuesOnANewPageWithItsHeadings) {
  std::vector<std::pair<std::string, double>> many;
  for (int k = 1; k <= 80; ++k) many.push_back({"N" + std::to_string(k), at(2010, 1, 1) + k / 100.0});
  registerHolds(many);
  open();
  apptest::RecordingPrinter printer;
  printRange("2010-1-1", "2010-1-2");
  // A4 landscape: the test page is 2015 units high, 29 rows (520 ... 1920)
  // on each of the first two pages, the other 22 (520 ... 1570) on the third.
  ASSERT_EQ(printer.count(print::Recorded::NewPage), 2);
  std::vector<std::string> pages[3];
  for (const auto& it : printer.items())
    if (!it.line && it.x == 1810 && it.y >= 520 && it.page >= 1 && it.page <= 3) pages[it.page - 1].push_back(it.text);
  ASSERT_EQ(pages[0].size(), 29u);
  ASSERT_EQ(pages[1].size(), 29u);
  ASSERT_EQ(pages[2].size(), 22u);
  EXPECT_EQ(pages[0].front(), "N1");
  EXPECT_EQ(pages[0].back(), "N29");
  EXPECT_EQ(pages[1].front(), "N30");
  EXPECT_EQ(pages[2].back(), "N80");
  EXPECT_EQ(textsAt(printer, 1, 1920)[0], "nN29");
  EXPECT_EQ(textsAt(printer, 2, 520)[0], "nN30");
  EXPECT_EQ(textsAt(printer, 3, 1570)[0], "nN80");
  // The later pages repeat the headings and their line, not the title.
  EXPECT_EQ(textsAt(printer, 2, 400), textsAt(printer, 1, 400));
  EXPECT_EQ(textsAt(printer, 3, 400), textsAt(printer, 1, 400));
  EXPECT_TRUE(textsAt(printer, 2, 300).empty());
  EXPECT_EQ(linesOf(printer, 1), (std::vector<std::pair<int, int>>{{450, 2500}}));
  EXPECT_EQ(linesOf(printer, 3), (std::vector<std::pair<int, int>>{{450, 2500}, {1650, 2500}}));
  // Every page says which of how many it is.
  for (int page = 1; page <= 3; ++page)
    EXPECT_EQ(textsAt(printer, page, 320), std::vector<std::string>{"第 " + std::to_string(page) + " 页 共 3 页"});
  EXPECT_EQ(textsAt(printer, 3, 1680)[0], "打印时间：");
  EXPECT_FALSE(std::filesystem::exists("zylshk.kdb"));
}

// Fields as long as the register holds them: each printed inside its
// column, none on top of another, the rules and texts on the landscape sheet.
TEST_F(InpatientTest, TheListedFieldsStayInTheirColumnsOnTheSheet) {
  apptest::makeCurrent(app::kInpatientsName, app::kInpatients);
  ASSERT_TRUE(cmd::AppendRecord(GBK("欧阳明"), GBK("男"), 100, "YB20100001", rt::DateTime{at(2010, 12, 28, 18, 45)},
                                GBK("腰椎间盘突出症伴右下肢放射痛及颈椎病"), "2010000001", GBK("儿童康复科"), "A-128",
                                GBK("诸葛明"), 1234567));
  ASSERT_TRUE(cmd::AppendRecord(GBK("李四"), GBK("女"), 7, "YB7", rt::DateTime{at(2010, 12, 1, 9, 5)}, GBK("脑瘫"), "2",
                                GBK("康复科"), "1", GBK("王医生"), 800));
  db::closeAllDatabases();
  open();
  rt::setClock(at(2011, 1, 2, 10, 0));
  apptest::RecordingPrinter printer;
  printRange("2010-12-01", "2010-12-31");
  EXPECT_TRUE(printer.seen.applyOrientation && printer.seen.landscape);
  std::vector<apptest::TextBox> texts;
  std::vector<apptest::Rule> rules;
  apptest::printedLayout(*printer.log, &texts, &rules);
  const print::PageGeometry page = print::testPage(true);
  // 5 mm clear of the sheet's right and bottom edges.
  const double right = (page.paperWidth - page.offsetLeft - page.rightStrip()) * 254.0 / 600.0;
  const double bottom = (page.paperHeight - page.offsetTop - page.bottomStrip()) * 254.0 / 600.0;
  EXPECT_EQ(apptest::overlaps(texts), apptest::none);
  EXPECT_EQ(apptest::outside(texts, right, bottom), apptest::none);
  for (const apptest::Rule& r : rules) EXPECT_LE(std::max(r.x1, r.x2), right);
  // Each field ends before the next column begins.
  const int columns[] = {200, 340, 420, 510, 730, 1120, 1810, 2000, 2200, 2320, 2480, 2700};
  double printTimeY = 0;
  for (const apptest::TextBox& t : texts)
    if (t.text == "打印时间：") printTimeY = t.y;
  ASSERT_GT(printTimeY, 0);
  for (const apptest::TextBox& t : texts) {
    if (t.y < 500 || t.y == printTimeY) continue;  // title, headings, print time
    const int* next = std::upper_bound(std::begin(columns), std::end(columns), int(std::lround(t.x)));
    ASSERT_NE(next, std::end(columns)) << t.text;
    EXPECT_LE(t.x + t.w, *next) << t.text;
  }
  // Each whole, drawn smaller where it is wide.
  std::vector<std::string> all;
  for (const apptest::TextBox& t : texts) all.push_back(t.text);
  for (const char* shown : {"1234567", "2010000001", "YB20100001", "诸葛明", "A-128", "儿童康复科",
                            "2010年12月28日18时45分", "康复科", "腰椎间盘突出症伴右下肢放射痛及颈椎病"})
    EXPECT_NE(std::find(all.begin(), all.end(), shown), all.end()) << shown;
}

// A list of three pages printed to a real PDF with every field as long as
// the register holds it: each page numbered, nothing cut, and the ink 5 mm
// or more inside the sheet.
TEST_F(InpatientTest, AListOnPaperIsNumberedWholeAndInsideTheSheet) {
  apptest::makeCurrent(app::kInpatientsName, app::kInpatients);
  for (int k = 1; k <= 70; ++k)
    ASSERT_TRUE(cmd::AppendRecord(
        GBK("欧阳明"), GBK("男"), 100, "YB20100001", rt::DateTime{at(2010, 12, 28, 18, 45) + k / 1440.0},
        GBK("腰椎间盘突出症伴右下肢放射痛及颈椎病"), "2010000001", GBK("儿童康复科"), "A-128", GBK("诸葛明"), 1234567));
  db::closeAllDatabases();
  open();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  apptest::PdfPrinter pdf;
  apptest::SaveTo save;
  save.path = dir.path().toStdString() + "/list.pdf";
  print::setBackend(&pdf);
  rt::setDialogs(&save);
  printRange("2010-12-01", "2010-12-31");
  rt::setDialogs(&dialogs);
  print::setBackend(nullptr);
  ASSERT_TRUE(std::filesystem::exists(save.path));
  EXPECT_EQ(apptest::inkNearTheEdges(save.path), apptest::none);
  QProcess text;
  text.start("pdftotext", {"-layout", QString::fromStdString(save.path), "-"});
  ASSERT_TRUE(text.waitForFinished(30000));
  const QString words =
      QString::fromUtf8(text.readAllStandardOutput()).normalized(QString::NormalizationForm_KC).remove(' ');
  for (const char* whole : {"第1页共3页", "第2页共3页", "第3页共3页", "2010年12月28日18时46分", "儿童康复科",
                            "腰椎间盘突出症伴右下肢放射痛及颈椎病"})
    EXPECT_TRUE(words.contains(QString::fromUtf8(whole))) << whole;
}

}  // namespace
