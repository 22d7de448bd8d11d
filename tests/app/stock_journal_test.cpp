// Medicines in sight: the drug window's marks of expired, expiring and
// empty batches, the questions before charging what the stock says is not
// there, the stock journal written with every stock change, and
// `kdbtool stock-audit` over it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "app/charges/stock_journal.h"
#include "charge_fixture.h"
#include "worker_process.h"

namespace {

namespace fs = std::filesystem;
namespace ids = forms::ids;

// Fields of a stored journal entry (0-based).
using namespace apptest::fields::journal;

// 2010-05-02 (the day before the fixture's today), and the last day that
// is still within 90 days of today.
constexpr double kYesterday = 40300, kIn89Days = 40390, kIn90Days = 40391;

using apptest::kdbtool;
using apptest::ToolRun;

class StockJournalTest : public apptest::MedicationWindowTest {
 protected:
  // A catalogue record with its batch and expiry date.
  void addBatch(const char* dm, const char* mch, const char* lb, int shl, float xj, const char* ph, double yx) {
    apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);
    ASSERT_TRUE(cmd::AppendRecord(dm, g(mch), "", g(lb), g("甲类"), ph, "", rt::DateTime{40000}, rt::DateTime{yx}, "",
                                  g("支"), shl, 1.0f, float(shl), xj, float(shl * double(xj))));
    cmd::CloseDatabase(app::kDrugCatalogueName);
  }
  std::vector<apptest::Stored> journal() { return stored(app::kStockJournalName); }
  static constexpr uint32_t kDrug = ids::kDrugWindow;
  void typeDrug(const char* box, const char* utf8) { forms::setText(kDrug, g(box), g(utf8)); }
  void pressDrug(uint32_t button) { forms::raiseEvent(kDrug, button, forms::kEvFirst); }
};

TEST_F(StockJournalTest, DrugWindowMarksExpiredExpiringAndEmptyDrugsAndCountsThemInItsTitle) {
  // Stored after the fixture's three (a 西药 with stock, a service, and a
  // category the bill does not know): none of those is marked.
  addBatch("E01", "过期药", "西药", 10, 1, "P1", kYesterday);
  addBatch("E02", "将到期", "中成", 10, 1, "P2", kIn89Days);
  addBatch("E03", "无货", "中草", 0, 1, "P3", 40500);
  addBatch("E04", "九十天", "西药", 10, 1, "P4", kIn90Days);
  addBatch("E05", "无货服务", "治疗", 0, 1, "", 0);
  addBatch("E06", "过期无货", "西药", -2, 1, "P6", 40000);
  ASSERT_TRUE(forms::loadWindow(kDrug));
  const int n = forms::listRowCount(kDrug, ids::drug::kList1);
  ASSERT_EQ(n, 9);
  // Row r shows stored record n - 1 - r.
  auto background = [&](int record) { return forms::listItem(kDrug, ids::drug::kList1, n - 1 - record).background; };
  const uint32_t red = background(3), amber = background(4), grey = background(5);
  EXPECT_EQ(background(8), red);  // expired and empty: expired shows
  auto part = [](uint32_t rgb, int shift) { return int((rgb >> shift) & 0xFF); };
  EXPECT_GT(part(red, 16), part(red, 8) + 40);
  EXPECT_EQ(part(red, 8), part(red, 0));
  EXPECT_GT(part(amber, 16), part(amber, 8));
  EXPECT_GT(part(amber, 8), part(amber, 0) + 40);
  EXPECT_EQ(part(grey, 16), part(grey, 8));
  EXPECT_EQ(part(grey, 8), part(grey, 0));
  for (int plain : {0, 1, 2, 6, 7}) EXPECT_EQ(background(plain), forms::kNoBackground) << "record " << plain;
  EXPECT_EQ(u(forms::windowTitle(kDrug)), "药品库存管理　　2 种已过期，1 种 90 天内到期，2 种无库存");
}

TEST_F(StockJournalTest, ChargingBeyondTheStockOrAnExpiredBatchIsAskedAndNoLeavesEverythingAsItWas) {
  addBatch("P01", "青霉素", "西药", 5, 3.0f, "P9", kYesterday);
  query("1001");
  const std::string short5 = "库存不足：“青霉素”现有 5 支，仍要记帐吗？";  // in the drug's unit
  const std::string expired = "“青霉素”（批号 P9）已于 2010年5月2日过期，仍要记帐吗？";
  auto asked = [&] { return messages(); };

  dialogs.answers = {rt::kNo};
  charge("P01", "8");
  ASSERT_EQ(asked(), (std::vector<std::string>{short5}));
  dialogs.answers = {rt::kYes, rt::kNo};
  charge("P01", "8");
  EXPECT_EQ(asked(), (std::vector<std::string>{short5, short5, expired}));
  // Every question's default is 否: Enter pressed by habit charges nothing.
  for (const auto& a : dialogs.asked) {
    EXPECT_EQ(a.style & rt::mb::kButtonMask, rt::mb::kYesNo) << rt::gbkToUtf8(a.text);
    EXPECT_EQ(a.style & rt::mb::kDefButtonMask, rt::mb::kDefButton2) << rt::gbkToUtf8(a.text);
  }
  EXPECT_TRUE(stored("1001").empty());
  EXPECT_EQ(stock(), (std::vector<int>{100, 1000, 1000, 5}));
  EXPECT_TRUE(journal().empty());

  dialogs.answers = {rt::kYes, rt::kYes};
  charge("P01", "8");
  ASSERT_EQ(stored("1001").size(), 1u);
  EXPECT_EQ(stock(), (std::vector<int>{100, 1000, 1000, -3}));
  ASSERT_EQ(journal().size(), 1u);
  const apptest::Stored e = journal()[0];
  EXPECT_EQ(e[sj], "2010年5月3日14时30分");
  EXPECT_EQ(e[czy], "张三");
  EXPECT_EQ(e[gzz], u(app::journal::workstation()));
  EXPECT_EQ((std::vector<std::string>{e[jdm], e[jmch], e[jph], e[bd], e[kc], e[yy], e[hm]}),
            (std::vector<std::string>{"P01", "青霉素", "P9", "-8", "-3", "住院记帐", "1001"}));

  // Within the stock and unexpired, or a service beyond its stock: no question.
  dialogs.asked.clear();
  charge("A01", "100");
  charge("X01", "5000");
  EXPECT_TRUE(dialogs.asked.empty()) << asked().front();
  EXPECT_EQ(stock(), (std::vector<int>{0, -4000, 1000, -3}));
}

TEST_F(StockJournalTest, EveryStockChangeHasItsEntryAndTheAuditFindsADriftMadeByHand) {
  // Outpatient: a charge and its deletion.
  forms::closeWindow(kWin);
  namespace o = ids::outpatient;
  constexpr uint32_t out = ids::kOutpatientWindow;
  ASSERT_TRUE(forms::loadWindow(out));
  forms::setText(out, g("编辑框4"), "0312");
  forms::setText(out, g("编辑框2"), "A01");
  forms::raiseEvent(out, o::kButton2, forms::kEvFirst);
  forms::setText(out, g("编辑框3"), "6");
  forms::setProperty(out, o::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
  forms::raiseEvent(out, o::kList1, forms::kEvDoubleClick);
  forms::setText(out, g("编辑框4"), "0999");  // the deletion's reference is the line's own
  forms::setProperty(out, o::kList2, forms::prop::kListSelected, -1, rt::makeInt(0));
  dialogs.answers = {rt::kOk};
  forms::raiseEvent(out, o::kButton4, forms::kEvFirst);
  // The drug window: a drug added, its stock corrected, then deleted.
  ASSERT_TRUE(forms::loadWindow(kDrug));
  for (auto [box, text] : {std::pair{"编辑框1", "N01"},
                           {"编辑框2", "新药"},
                           {"组合框1", "西药"},
                           {"编辑框4", "L1"},
                           {"编辑框9", "10"},
                           {"编辑框12", "2"}})
    typeDrug(box, text);
  pressDrug(ids::drug::kButton1);
  typeDrug("编辑框1", "N01");
  pressDrug(ids::drug::kButton2);
  typeDrug("编辑框9", "7");
  pressDrug(ids::drug::kButton4);
  typeDrug("编辑框1", "N01");
  pressDrug(ids::drug::kButton2);
  dialogs.answers = {rt::kOk};
  pressDrug(ids::drug::kButton3);
  EXPECT_EQ(messages(), (std::vector<std::string>{"你确定要删除吗？", "你确定要删除此项吗？"}));

  std::vector<std::vector<std::string>> entries;
  for (const apptest::Stored& e : journal()) entries.push_back({e[jdm], e[jph], e[bd], e[kc], e[yy], e[hm]});
  EXPECT_EQ(entries, (std::vector<std::vector<std::string>>{{"A01", "B1", "-6", "94", "门诊记帐", "0312"},
                                                            {"A01", "B1", "6", "100", "删除退回", "0312"},
                                                            {"N01", "L1", "10", "10", "目录新增", ""},
                                                            {"N01", "L1", "-3", "7", "手工调整", ""},
                                                            {"N01", "L1", "-7", "0", "目录删除", ""}}));
  // The charge and its return name the same line, each by an operation of
  // its own; the drug window's entries name no line.
  const std::vector<apptest::Stored> all = journal();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0][mxb], "m20105");
  EXPECT_EQ(all[1][mxb], all[0][mxb]);
  EXPECT_EQ(all[1][mxh], all[0][mxh]);
  EXPECT_NE(all[0][mxh], "0");
  EXPECT_EQ(all[0][czh].size(), 16u);
  EXPECT_NE(all[1][czh], all[0][czh]);
  EXPECT_EQ(all[2][mxb], "");
  EXPECT_EQ(stock(), (std::vector<int>{100, 1000, 1000}));

  // The journal's view in the drug window, newest first.
  struct Shown : qtest::ScriptedDialogs {
    std::string note;
    std::vector<std::vector<std::string>> rows;
    void showRows(const std::string&, const std::string& n, const std::vector<std::string>&,
                  const std::vector<std::vector<std::string>>& r) override {
      note = n;
      rows = r;
    }
  } shown;
  rt::setDialogs(&shown);
  typeDrug("编辑框1", "A01");
  pressDrug(ids::drug::kButton2);
  EXPECT_TRUE(forms::pressExtraButton(kDrug, g("库存流水")));
  ASSERT_EQ(shown.rows.size(), 2u);
  EXPECT_EQ(u(shown.rows[0][3]), "删除退回");
  EXPECT_EQ(u(shown.rows[1][1]), "-6");
  // Only the code typed, no row chosen: every entry of that code.
  forms::closeWindow(kDrug);
  ASSERT_TRUE(forms::loadWindow(kDrug));
  typeDrug("编辑框1", "A01");
  shown.rows.clear();
  EXPECT_TRUE(forms::pressExtraButton(kDrug, g("库存流水")));
  rt::setDialogs(&dialogs);
  EXPECT_EQ(shown.rows.size(), 2u);
  EXPECT_EQ(u(shown.note), "药品代码 A01（未填的项不限）　共 2 条，最新的在上");

  const ToolRun clean = kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(clean.status, 0) << clean.out;
  // A second record of the journalled batch, typed in behind the program's back.
  appendElsewhere(app::kDrugCatalogueName, std::string("A01"), g("阿莫西林"), std::string(), g("西药"), g("甲类"),
                  std::string("B1"), std::string(), rt::DateTime{40000}, rt::DateTime{40400}, std::string(), g("支"), 7,
                  1.0f, 7.0f, 12.5f, 87.5f);
  const ToolRun drift = kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(drift.status, 1);
  EXPECT_NE(drift.out.find("A01 阿莫西林 批号 B1: 目录 107，流水 100，相差 7"), std::string::npos) << drift.out;
  // The batch taken out of the catalogue behind the program's back: its
  // journalled stock is a drift too.
  ASSERT_EQ(kdbtool("delete " + (dir_ / "ypjbxx.kdb").string() + " --where ph=B1").status, 0);
  const ToolRun gone = kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.out.find("A01 阿莫西林 批号 B1: 目录中没有，流水 100，相差 -100"), std::string::npos) << gone.out;
}

// A journal made before entries named their operation and line is still
// written to, and the audit says it cannot check lines against it.
TEST_F(StockJournalTest, AJournalOfTheOlderLayoutIsStillWritten) {
  ASSERT_TRUE(app::createTable(app::kStockJournalName, app::kStockJournalWithoutOperations));
  db::closeAllDatabases();
  query("1001");
  charge("A01", "2", "0312");
  EXPECT_TRUE(messages().empty()) << ::testing::PrintToString(messages());
  EXPECT_EQ(stock()[0], 98);
  const std::vector<apptest::Stored> entries = journal();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size(), 10u);
  EXPECT_EQ(entries[0][bd], "-2");
  const ToolRun audit = kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(audit.status, 0) << audit.out;
  EXPECT_NE(audit.out.find("旧格式"), std::string::npos) << audit.out;
}

// Two workstations charging one drug at once through the real window, on
// one catalogue and one journal: the journal's entries are exactly the
// charges, and the audit is clean.
TEST_F(StockJournalTest, TwoWorkstationsChargingOneDrugLeaveAJournalThatAddsUpToTheCatalogue) {
  constexpr int kTimes = 100, kQuantity = 3, kStock = 5000;
  forms::closeWindow(kWin);
  addBatch("W01", "葡萄糖注射液", "西药", kStock, 2.0f, "W1", 73051);  // 2100: the workers run on the real clock
  admit("赵六", "1002", 1000);
  ASSERT_EQ(app::journal::prepare(), 0);  // the journal shared like the catalogue
  db::closeAllDatabases();
  for (const char* ws : {"ws1", "ws2"}) {
    fs::create_directory(dir_ / ws);
    for (const char* table : {"ypjbxx.kdb", "zyjbxx.kdb", "kcls.kdb", "user.kdb"})
      fs::create_symlink(dir_ / table, dir_ / ws / table);
  }
  std::vector<pid_t> workers;
  for (auto [ws, zyh] : {std::pair{"ws1", "1001"}, {"ws2", "1002"}})
    workers.push_back(apptest::startWorker(
        {"charge", (dir_ / ws).string(), zyh, "W01", std::to_string(kQuantity), std::to_string(kTimes)},
        dir_ / (std::string(ws) + ".out")));
  for (pid_t w : workers) EXPECT_EQ(apptest::finishWorker(w), 0);
  EXPECT_EQ(stock()[3], kStock - 2 * kTimes * kQuantity);
  const std::vector<apptest::Stored> entries = journal();
  ASSERT_EQ(entries.size(), size_t(2 * kTimes));
  // Each entry's stock afterwards follows the one before it: no two
  // changes were made from the same stock.
  int expected = kStock;
  for (const apptest::Stored& e : entries) {
    expected -= kQuantity;
    ASSERT_EQ(std::stoi(e[kc]), expected);
    EXPECT_EQ(e[bd], "-3");
  }
  // Each workstation's patient table beside the shared ones, where the
  // audit looks for the lines the entries name.
  for (auto [ws, zyh] : {std::pair{"ws1", "1001"}, {"ws2", "1002"}})
    fs::copy_file(dir_ / ws / (std::string(zyh) + ".kdb"), dir_ / (std::string(zyh) + ".kdb"),
                  fs::copy_options::overwrite_existing);
  const ToolRun audit = kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(audit.status, 0) << audit.out;
}

}  // namespace
