// The inpatient medication window on the real window: querying a patient,
// looking a code up, charging by double-click and deleting, with the
// patient's table and the catalogue read back through handles of their own
// after every step.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <filesystem>

#include "app/charges/charging.h"
#include "app/charges/pending.h"
#include "app/charges/charge_values.h"
#include "app/figures/stored_amounts.h"
#include "charge_fixture.h"
#include "db/changes.h"
#include "db/errors.h"
#include "db/locks.h"
#include "db/os.h"
#include "forms/live_windows.h"

namespace {

namespace ids = forms::ids;
namespace m = ids::medication;

// Fields of a charge line (0-based).
using namespace apptest::fields::line;

class MedicationTest : public apptest::MedicationWindowTest {
 protected:
  void deleteRow(int row, int answer) {
    select(m::kList2, row);
    dialogs.answers.push_back(answer);
    press(m::kButton3);
  }
  std::string cell(uint32_t list, int row, int column) {
    return u(forms::listItem(kWin, list, row).texts.at(size_t(column)));
  }
  int rows(uint32_t list) { return forms::listRowCount(kWin, list); }
  // A category total in yuan (held in fen).
  double total(app::Category c) { return app::yuanOf(app::programValues().categoryTotals[size_t(c)]); }
};

TEST_F(MedicationTest, FirstQueryShowsThePatientAndMakesHisEmptyTable) {
  ASSERT_FALSE(std::filesystem::exists("1001.kdb"));
  query("1001");
  EXPECT_TRUE(messages().empty());
  // His table, with the ten charge-line fields, current and empty.
  ASSERT_TRUE(std::filesystem::exists("1001.kdb"));
  EXPECT_TRUE(app::currentTableIs(app::kChargeLines));
  EXPECT_EQ(rows(m::kList2), 0);
  EXPECT_EQ(text("编辑框11"), "0");
  EXPECT_EQ(text("标签13"), "1000");
  // The panel: captions and values.
  const std::pair<const char*, const char*> panel[] = {
      {"标签3", "姓名："},      {"标签21", "王五"},         {"标签4", "性别："},     {"标签22", "男"},
      {"标签5", "年龄："},      {"标签23", "45"},           {"标签6", "住院时间："}, {"标签24", "2010年4月24日8时"},
      {"标签7", "病种："},      {"标签25", "腰椎间盘突出"}, {"标签8", "住院号："},   {"标签26", "1001"},
      {"标签9", "治疗科室："},  {"标签27", "康复科"},       {"标签10", "床位号："},  {"标签28", "12"},
      {"标签11", "主治医师："}, {"标签29", "李医生"},       {"标签12", "预付款："},  {"标签19", "1000"},
      {"标签30", "剩余额："}};
  for (auto [label, shown] : panel) EXPECT_EQ(text(label), shown) << label;
  EXPECT_EQ(app::programValues().currentNumber, "1001");
  for (int64_t t : app::programValues().categoryTotals) EXPECT_EQ(t, 0);
  // Enter now presses "确　定".
  EXPECT_EQ(rt::Result(forms::getProperty(kWin, m::kButton1, forms::prop::kButtonType)).integer(), 0);
  EXPECT_EQ(rt::Result(forms::getProperty(kWin, m::kButton2, forms::prop::kButtonType)).integer(), 1);
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, m::kEdit2));

  // A number not in the register: the message, and nothing else changes.
  dialogs.answers.push_back(rt::kOk);
  query("1002");
  EXPECT_EQ(messages(), std::vector<std::string>{"该记录不存在"});
  EXPECT_FALSE(std::filesystem::exists("1002.kdb"));
  EXPECT_EQ(text("标签26"), "1001");
  EXPECT_EQ(app::programValues().currentNumber, "1001");
}

// The patient panel as the nurse reads it: no caption label lies over a
// value label, and every value of a patient with long entries is whole in
// its label; 累计金额 is shown to the fen, read only and passed by Tab.
TEST_F(MedicationTest, EveryValueOfThePanelIsWholeAndMoneyToTheFen) {
  addDrugs({{"X06", "维生素C片", "西药", 100, 0.06f}});
  admit("欧阳明", "Z010001", 123456, rt::makeDateTime(2010, 12, 28, 18, 45, 0));
  query("Z010001");
  charge("X06", "3");
  EXPECT_EQ(text("编辑框11"), "0.18");  // 3 × 0.06 as a float: 0.1799999922514 as ToText writes it
  EXPECT_EQ(text("标签13"), "123455.82");
  EXPECT_EQ(cell(m::kList2, 0, hj), "0.18");

  const char* captions[] = {"标签3", "标签4",  "标签5",  "标签6",  "标签7", "标签8",
                            "标签9", "标签10", "标签11", "标签12", "标签30"};
  const char* values[] = {"标签21", "标签22", "标签23", "标签24", "标签25", "标签26",
                          "标签27", "标签28", "标签29", "标签19", "标签13"};
  auto widget = [this](const char* name) {
    return qobject_cast<QLabel*>(forms::controlWidget(kWin, forms::control(kWin, rt::utf8ToGbk(name)).id()));
  };
  for (const char* v : values) {
    QLabel* value = widget(v);
    ASSERT_NE(value, nullptr) << v;
    EXPECT_LE(QFontMetrics(value->font()).horizontalAdvance(value->text()), value->width())
        << v << " " << value->text().toStdString();
    for (const char* c : captions) {
      QLabel* caption = widget(c);
      ASSERT_NE(caption, nullptr) << c;
      EXPECT_FALSE(caption->geometry().intersects(value->geometry())) << c << " over " << v;
    }
  }
  for (const char* c : captions) {
    QLabel* caption = widget(c);
    EXPECT_LE(QFontMetrics(caption->font()).horizontalAdvance(caption->text()), caption->width()) << c;
  }
  EXPECT_EQ(text("标签26"), "Z010001");

  auto* total = qobject_cast<QLineEdit*>(forms::controlWidget(kWin, forms::control(kWin, GBK("编辑框11")).id()));
  ASSERT_NE(total, nullptr);
  EXPECT_TRUE(total->isReadOnly());
  EXPECT_FALSE(total->focusPolicy() & Qt::TabFocus);
}

TEST_F(MedicationTest, ChargeCutsTheQuantityRecordsTheLineAndLowersTheStock) {
  query("1001");
  lookUp("A01");
  ASSERT_EQ(rows(m::kList1), 1);
  EXPECT_EQ(cell(m::kList1, 0, 1), "阿莫西林");
  EXPECT_EQ(cell(m::kList1, 0, 14), "12.5");
  charge("A01", "2.7", "0312");
  EXPECT_TRUE(messages().empty());
  // The program syncs what a handler wrote before the next event: a power
  // cut after the screen shows the charge loses none of it.
  EXPECT_EQ(db::os::writtenFiles(), 0u);
  auto lines = stored("1001");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            (apptest::Stored{"2010年5月3日", "阿莫西林", "西药", "甲类", "2", "支", "12.5", "25", "0312", "张三"}));
  EXPECT_EQ(stock(), (std::vector<int>{98, 1000, 1000}));
  // The window after the charge.
  ASSERT_EQ(rows(m::kList2), 1);
  EXPECT_EQ(cell(m::kList2, 0, 0), "2010年5月3日");
  EXPECT_EQ(cell(m::kList2, 0, 9), "张三");
  EXPECT_EQ(text("编辑框11"), "25");
  EXPECT_EQ(text("标签13"), "975");
  EXPECT_EQ(text("编辑框2"), "");
  EXPECT_EQ(rows(m::kList1), 0);
  EXPECT_EQ(text("编辑框3"), "2.7");
  EXPECT_EQ(text("编辑框4"), "0312");
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, m::kEdit2));
  EXPECT_EQ(total(app::kWestern), 25.0f);
  // A negative quantity is cut toward zero too, and gives stock back.
  charge("A01", "-1.9");
  EXPECT_EQ(stored("1001").back()[shl], "-1");
  EXPECT_EQ(stock()[0], 99);
  // The newest line is the top row.
  EXPECT_EQ(cell(m::kList2, 0, 4), "-1");
  EXPECT_EQ(cell(m::kList2, 1, 4), "2");
}

TEST_F(MedicationTest, TwoBatchesAreListedAndTheStockComesOffTheFirstWithThatPrice) {
  addDrugs({{"A01", "阿莫西林", "西药", 50, 12.5f}, {"A01", "阿莫西林", "西药", 70, 13.0f}});
  query("1001");
  lookUp("A01");
  // Three batches with that code, the last one in the catalogue on top.
  ASSERT_EQ(rows(m::kList1), 3);
  EXPECT_EQ(cell(m::kList1, 0, 11), "70");
  EXPECT_EQ(cell(m::kList1, 2, 11), "100");
  // The second batch at 12.5 is chosen; the first at 12.5 gives the stock.
  charge("A01", "3", "0312", 1);
  EXPECT_EQ(stock(), (std::vector<int>{97, 1000, 1000, 50, 70}));
  // The batch at 13 is its own.
  charge("A01", "1", "0312", 0);
  EXPECT_EQ(stock(), (std::vector<int>{97, 1000, 1000, 50, 69}));
  EXPECT_EQ(stored("1001").back()[dj], "13");
}

TEST_F(MedicationTest, ChargesPastThePrepaymentAndCategoryTotals) {
  query("1001");
  charge("X01", "30");  // 900
  charge("A01", "10");  // 125
  charge("Q01", "5");   // 40, a category of no bill
  EXPECT_EQ(text("编辑框11"), "1065");
  EXPECT_EQ(text("标签13"), "-65");
  EXPECT_EQ(total(app::kCare), 900.0f);
  EXPECT_EQ(total(app::kWestern), 125.0f);
  int64_t sum = 0;
  for (int64_t t : app::programValues().categoryTotals) sum += t;
  EXPECT_EQ(sum, 102500);  // the 40 of "康复" only in the total
  EXPECT_EQ(stock(), (std::vector<int>{90, 970, 995}));
}

TEST_F(MedicationTest, DeleteAsksGivesTheStockBackOnlyWhenDeleted) {
  query("1001");
  charge("A01", "4");
  charge("X01", "2");
  ASSERT_EQ(stock(), (std::vector<int>{96, 998, 1000}));

  // Cancel: line and stock as they were.
  deleteRow(1, rt::kCancel);
  EXPECT_EQ(messages(), std::vector<std::string>{"你确定要删除吗？"});
  EXPECT_EQ(stored("1001").size(), 2u);
  EXPECT_EQ(stock(), (std::vector<int>{96, 998, 1000}));

  // OK on row 1 (record 1): the A01 line goes, its 4 come back.
  deleteRow(1, rt::kOk);
  auto lines = stored("1001");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0][mch], "心电监护");
  EXPECT_EQ(stock(), (std::vector<int>{100, 998, 1000}));
  EXPECT_EQ(rows(m::kList2), 1);
  EXPECT_EQ(text("编辑框11"), "60");
  EXPECT_EQ(total(app::kWestern), 0.0f);
  EXPECT_EQ(total(app::kCare), 60.0f);

  // The catalogue price changed since the charge: the line goes, no stock
  // comes back (no record matches name, category and price).
  {
    cmd::OpenDatabase(app::kDrugCatalogueName);
    cmd::SetCurrentDatabase(app::kDrugCatalogueName);
    cmd::MoveTo(2);
    ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted,
                                  rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted,
                                  rt::omitted, rt::omitted, 31.0f));
  }
  dialogs.answers.push_back(rt::kOk);  // the confirmation
  deleteRow(-1, rt::kOk);              // no row chosen: the newest line; then the stock's message
  EXPECT_TRUE(stored("1001").empty());
  EXPECT_EQ(stock(), (std::vector<int>{100, 998, 1000}));
  ASSERT_EQ(messages().size(), 4u);
  EXPECT_EQ(messages()[3], "药品目录中已没有“心电监护”，库存未变动。");
}

// --- mended faults ---------------------------------------------------------------------

TEST_F(MedicationTest, ChargeAndDeleteWithoutAUsableTableWriteNothing) {
  const auto before = stored(app::kDrugCatalogueName);
  auto tries = [&](const char* zyh) {
    dialogs.asked.clear();
    type("编辑框1", zyh);
    lookUp("A01");
    EXPECT_EQ(rows(m::kList1), 1);
    type("编辑框3", "5");
    select(m::kList1, 0);
    dialogs.answers.push_back(rt::kOk);
    forms::raiseEvent(kWin, m::kList1, forms::kEvDoubleClick);
    dialogs.answers.push_back(rt::kOk);
    press(m::kButton3);
    // Nothing written anywhere, the stock as it was, the entry still listed.
    EXPECT_EQ(stored(app::kDrugCatalogueName), before) << zyh;
    EXPECT_EQ(rows(m::kList1), 1) << zyh;
    EXPECT_EQ(stored(app::kInpatientsName).size(), 1u) << zyh;
    return messages();
  };
  // Never queried: not the patient the panel shows (it shows nobody).
  auto told = tries("1001");
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], "请先查询住院号“1001”的患者，再记帐。本次未记帐，库存未变动。");
  EXPECT_EQ(told[1], "请先查询住院号“1001”的患者，再删除。未删除任何记录，库存未变动。");
  EXPECT_FALSE(std::filesystem::exists("1001.kdb"));
  // Numbers the registration rule refuses, and the empty number.
  told = tries("ypjbxx");
  EXPECT_EQ(told[0],
            "住院号“ypjbxx”不能使用：住院号最长10个字节，不能含有“.”“/”“\\”“*”“?”或控制字符，"
            "首尾不能有空格，也不能与系统的数据文件同名。请核对住院号。本次未记帐，库存未变动。");
  told = tries("lshk");
  EXPECT_EQ(told.size(), 2u);
  told = tries("");
  EXPECT_EQ(told[0], "请先输入患者的住院号并查询，再记帐。本次未记帐，库存未变动。");
  EXPECT_EQ(told[1], "请先输入患者的住院号并查询，再删除。未删除任何记录，库存未变动。");
  // Queried, then his table removed while the window holds it open: the
  // handle is dropped, nothing goes into the removed file, nothing is
  // created in its place.
  query("1001");
  ASSERT_TRUE(std::filesystem::remove("1001.kdb"));
  told = tries("1001");
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0].rfind("收费表“1001”无法打开：", 0), 0u) << told[0];
  EXPECT_NE(told[0].find("本次未记帐，库存未变动。"), std::string::npos);
  EXPECT_NE(told[1].find("未删除任何记录，库存未变动。"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("1001.kdb"));
  // No window's look-up leaves a shared scratch table behind.
  EXPECT_FALSE(std::filesystem::exists("lshk.kdb"));
}

TEST_F(MedicationTest, QueryRefusesNumbersThatNameNoChargeTable) {
  // Registered before the rule: a number naming the catalogue.
  admit("赵六", "ypjbxx", 500);
  dialogs.answers.push_back(rt::kOk);
  query("ypjbxx");
  EXPECT_EQ(messages(), std::vector<std::string>{"住院号“ypjbxx”不能使用：住院号最长10个字节，不能含有“.”“/”“\\”"
                                                 "“*”“?”或控制字符，首尾不能有空格，也不能与系统的数据文件同名。"
                                                 "请核对住院号。"});
  EXPECT_EQ(text("标签21"), "");
  EXPECT_TRUE(app::programValues().currentNumber.empty());
  // Registered, but his table was damaged into another layout.
  admit("钱七", "2001", 500);
  apptest::makeCurrent("2001", app::kUsers);
  cmd::CloseDatabase("2001");
  dialogs.asked.clear();
  dialogs.answers.push_back(rt::kOk);
  query("2001");
  EXPECT_EQ(messages(), std::vector<std::string>{"“2001”不是收费表（没有收费明细的十个字段）。"});
  EXPECT_EQ(text("标签21"), "");
}

TEST_F(MedicationTest, ALookUpOrStockChangeThatMeetsALockIsReported) {
  query("1001");
  lookUp("A01");
  // Another workstation has changed the catalogue (the copy kept here is
  // no longer it) and holds it whole; no wait in this test.
  ASSERT_EQ(db::lockWaitMs(), 0);
  std::unique_ptr<db::Table> other;
  ASSERT_EQ(db::Table::open((dir_ / "ypjbxx.kdb").string(), db::OpenOptions{}, &other), 0);
  ASSERT_EQ(db::bumpChange(other->path()), 0);
  ASSERT_EQ(other->lockWhole(), 0);
  dialogs.answers.push_back(rt::kOk);
  lookUp("A01");  // the reading meets the lock: reported, nothing listed
  const std::string locked = u(db::errorText(db::kLockViolation)) + "（该表正被其他工作站使用，请稍后再试）";
  EXPECT_EQ(messages(), std::vector<std::string>{"药品目录 ypjbxx 无法读取：" + locked + "。请稍后再查询。"});
  EXPECT_EQ(rows(m::kList1), 0);

  ASSERT_EQ(other->unlockWhole(), 0);
  lookUp("A01");
  ASSERT_EQ(other->lockWhole(), 0);
  dialogs.asked.clear();
  dialogs.answers.push_back(rt::kOk);
  type("编辑框3", "3");
  select(m::kList1, 0);
  forms::raiseEvent(kWin, m::kList1, forms::kEvDoubleClick);
  // The line is written; the operator is told the stock is not.
  EXPECT_EQ(stored("1001").size(), 1u);
  EXPECT_EQ(messages(),
            std::vector<std::string>{"已记帐，但药品“阿莫西林”的库存暂未能扣减：" + locked +
                                     "。本机已记下这笔库存变动，共享文件夹恢复后将自动补上，无需手工更正。"});
  EXPECT_EQ(app::pending::waiting(), 1);
  ASSERT_EQ(other->unlockWhole(), 0);
  other.reset();
  EXPECT_EQ(stock()[0], 100);
  // The next action of a charge window makes the pending change, once.
  lookUp("A01");
  EXPECT_EQ(stock()[0], 97);
  EXPECT_EQ(app::pending::waiting(), 0);
  lookUp("A01");
  EXPECT_EQ(stock()[0], 97);
}

}  // namespace
