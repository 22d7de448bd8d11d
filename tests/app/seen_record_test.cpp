// Between workstations every action acts on the record the operator saw:
// another workstation (a handle or a process of its own) appends, deletes,
// packs or changes records between the moment a window showed them and the
// moment the operator acts, and the action takes the record its row or
// boxes showed, or is refused and says so. 修改 writes only what the
// operator changed, and no box filled from a failed read is ever written.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "charge_fixture.h"
#include "flaky_share.h"
#include "worker_process.h"

namespace {

namespace ids = forms::ids;
namespace m = ids::medication;
namespace o = ids::outpatient;
namespace d = ids::drug;
namespace r = ids::inpatient;

namespace line = apptest::fields::line;
namespace drug = apptest::fields::drug;
namespace journal = apptest::fields::journal;
namespace admission = apptest::fields::admission;

const char* const kChangedElsewhere = "该记录已被其他工作站改动或删除，请重新选择后再操作。";

class SeenRecordTest : public apptest::MedicationWindowTest {
 protected:
  static constexpr uint32_t kOut = ids::kOutpatientWindow;
  static constexpr uint32_t kDrug = ids::kDrugWindow;
  static constexpr uint32_t kReg = ids::kInpatientWindow;

  void set(uint32_t win, const char* box, const std::string& utf8) { forms::setText(win, g(box), g(utf8.c_str())); }
  std::string get(uint32_t win, const char* box) { return u(forms::text(win, g(box))); }
  void click(uint32_t win, uint32_t button) { forms::raiseEvent(win, button, forms::kEvFirst); }
  void choose(uint32_t win, uint32_t list, int row) {
    forms::setProperty(win, list, forms::prop::kListSelected, -1, rt::makeInt(row));
  }
  void doubleClick(uint32_t win, uint32_t list, int row) {
    choose(win, list, row);
    forms::raiseEvent(win, list, forms::kEvDoubleClick);
  }
  std::string cell(uint32_t win, uint32_t list, int row, int column) {
    return u(forms::listItem(win, list, row).texts.at(size_t(column)));
  }
  void outCharge(const char* code, const char* quantity, const char* prescription) {
    set(kOut, "编辑框4", prescription);
    set(kOut, "编辑框2", code);
    click(kOut, o::kButton2);
    set(kOut, "编辑框3", quantity);
    doubleClick(kOut, o::kList1, 0);
  }
  // Names of a table's lines / records, in stored order.
  std::vector<std::string> column(const std::string& table, int field) {
    std::vector<std::string> out;
    for (const auto& rec : stored(table)) out.push_back(rec[size_t(field)]);
    return out;
  }
  std::vector<std::string> reasons() { return column(app::kStockJournalName, journal::yy); }
  std::string audit() {
    const apptest::ToolRun run = apptest::kdbtool("stock-audit " + dir_.string());
    return std::to_string(run.status) + " " + run.out;
  }
  // Another workstation deletes the record of `table` whose text field
  // `field` is `value`, and packs the table.
  static bool deletedElsewhere(const std::string& table, const char* field, const std::string& value) {
    return apptest::inOtherProcess([&] {
      auto same = [&] { return rt::makeBool(db::fieldTextEquals(field, value)); };
      rt::Expr cond(same);
      return cmd::OpenDatabase(table) && cmd::FindRecord(cond.arg()) && cmd::DeleteRecords() && cmd::PackDatabase();
    });
  }
  // Another workstation rewrites field `changed` of that record in place.
  template <typename T>
  static bool changedElsewhere(const std::string& table, const char* field, const std::string& value,
                               const char* changed, const T& to) {
    return apptest::inOtherProcess([&] {
      auto same = [&] { return rt::makeBool(db::fieldTextEquals(field, value)); };
      rt::Expr cond(same);
      return cmd::OpenDatabase(table) && cmd::FindRecord(cond.arg()) && cmd::ReplaceFields(rt::Arg{}, changed, to);
    });
  }
  // Another workstation charges `code` to 1001 through its own window.
  void chargedByAnotherProcess(const char* code) {
    const pid_t p = apptest::startWorker({"charge", dir_.string(), "1001", code, "1", "1"}, dir_ / "worker.out");
    ASSERT_EQ(apptest::finishWorker(p), 0) << apptest::fileText(dir_ / "worker.out");
  }
};

// The line shown on top is the operator's own; another workstation's
// line charged since is not on his screen. 删除 takes his, gives his stock
// back and leaves the other's.
TEST_F(SeenRecordTest, DeleteTakesTheLineItsRowShowsInBothChargeWindows) {
  query("1001");
  charge("A01", "2");
  chargeElsewhere("1001", "心电监护", "监护", 1, 30.0f, "0312");
  select(m::kList2, 0);
  ASSERT_EQ(cell(kWin, m::kList2, 0, line::mch), "阿莫西林");
  dialogs.answers = {rt::kOk};
  press(m::kButton3);
  EXPECT_EQ(column("1001", line::mch), (std::vector<std::string>{"心电监护"}));
  EXPECT_EQ(stock(), (std::vector<int>{100, 1000, 1000}));
  EXPECT_EQ(messages(), (std::vector<std::string>{"你确定要删除吗？"}));

  // The outpatient desk on the month's table, the same way.
  ASSERT_TRUE(forms::loadWindow(kOut));
  outCharge("A01", "3", "0101");
  chargeElsewhere("m20105", "心电监护", "监护", 1, 30.0f, "0102");
  choose(kOut, o::kList2, 0);
  dialogs.asked.clear();
  dialogs.answers = {rt::kOk};
  click(kOut, o::kButton4);
  EXPECT_EQ(column("m20105", line::mch), (std::vector<std::string>{"心电监护"}));
  EXPECT_EQ(stock()[0], 100);
  EXPECT_EQ(get(kOut, "编辑框11"), "30");  // the list and month shown afresh
  EXPECT_EQ(forms::listRowCount(kOut, o::kList2), 1);
  // The stock follows the journal; each line deleted here has its charge
  // and its return. The lines written elsewhere without a stock step are
  // named, and nothing else.
  const std::string audited = audit();
  EXPECT_NE(audited.find("库存与流水一致"), std::string::npos) << audited;
  EXPECT_NE(audited.find("1001 明细 2: 记帐流水 0 条"), std::string::npos) << audited;
  EXPECT_NE(audited.find("m20105 明细 2: 记帐流水 0 条"), std::string::npos) << audited;
  EXPECT_NE(audited.find("不一致：2 处"), std::string::npos) << audited;
}

// A row whose line another workstation deleted (and packed), or changed in
// place, since it was listed: nothing is deleted, no stock moves, the
// operator is told and sees the lines as they are now.
TEST_F(SeenRecordTest, DeleteOfALineGoneOrChangedElsewhereIsRefused) {
  query("1001");
  charge("A01", "1");
  charge("X01", "1");
  charge("A01", "2");  // rows: A01×2, X01, A01×1
  ASSERT_TRUE(deletedElsewhere("1001", "mch", g("心电监护")));
  dialogs.answers.assign(4, rt::kOk);
  select(m::kList2, 1);  // the X01 line, gone
  press(m::kButton3);
  EXPECT_EQ(messages(), (std::vector<std::string>{kChangedElsewhere}));
  EXPECT_EQ(column("1001", line::shl), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(stock()[0], 97);
  EXPECT_EQ(forms::listRowCount(kWin, m::kList2), 2);

  // The top line's quantity corrected elsewhere: not the line he saw.
  ASSERT_TRUE(changedElsewhere("1001", "cf", "0312", "shl", 5));  // the first A01 line
  select(m::kList2, 1);
  dialogs.asked.clear();
  dialogs.answers.assign(4, rt::kOk);
  press(m::kButton3);
  EXPECT_EQ(messages(), (std::vector<std::string>{kChangedElsewhere}));
  EXPECT_EQ(stored("1001").size(), 2u);
  // Shown afresh, the corrected line is deleted as shown.
  select(m::kList2, 1);
  EXPECT_EQ(cell(kWin, m::kList2, 1, line::shl), "5");
  dialogs.answers = {rt::kOk};
  press(m::kButton3);
  EXPECT_EQ(column("1001", line::shl), (std::vector<std::string>{"2"}));

  // A line marked deleted whose pack has not come yet (its stock given
  // back already) is no line to delete again.
  const int before = stock()[0];
  ASSERT_TRUE(
      apptest::inOtherProcess([] { return cmd::OpenDatabase("1001") && cmd::MoveTo(1) && cmd::DeleteRecords(); }));
  select(m::kList2, 0);
  dialogs.asked.clear();
  dialogs.answers.assign(4, rt::kOk);
  press(m::kButton3);
  EXPECT_EQ(messages(), (std::vector<std::string>{kChangedElsewhere}));
  EXPECT_EQ(stock()[0], before);
}

// A price changed while another workstation charged the drug keeps both:
// the new price and the charge's decrement. The journal says only what
// moved stock, and the audit finds it clean.
TEST_F(SeenRecordTest, APriceChangeRacingAChargeKeepsBoth) {
  ASSERT_TRUE(forms::loadWindow(kDrug));
  doubleClick(kDrug, d::kList1, 2);  // A01, stock 100
  ASSERT_EQ(get(kDrug, "编辑框9"), "100");
  chargedByAnotherProcess("A01");
  set(kDrug, "编辑框12", "13");
  click(kDrug, d::kButton4);
  EXPECT_TRUE(messages().empty()) << messages().front();
  const auto a01 = stored(app::kDrugCatalogueName)[0];
  EXPECT_EQ((std::vector{a01[drug::shl], a01[drug::xj], a01[drug::xh]}),
            (std::vector<std::string>{"99", "13", "1287"}));
  EXPECT_EQ(a01[drug::mch], "阿莫西林");
  EXPECT_EQ(reasons(), (std::vector<std::string>{"住院记帐"}));
  EXPECT_EQ(audit().substr(0, 1), "0");
}

// A stock typed by hand over one a charge changed meanwhile is refused,
// naming the field; typed again over the stock as it is, it is written and
// journalled as a hand change.
TEST_F(SeenRecordTest, AStockTypedOverAChargeIsRefusedAndAHandChangeIsJournalledAsSuch) {
  ASSERT_TRUE(forms::loadWindow(kDrug));
  doubleClick(kDrug, d::kList1, 2);
  chargedByAnotherProcess("A01");
  dialogs.answers.assign(4, rt::kOk);
  set(kDrug, "编辑框9", "120");
  set(kDrug, "编辑框2", "阿莫西林胶囊");
  click(kDrug, d::kButton4);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0], "“药品数量”已被其他工作站改动，本次未修改。请重新选择该药品，核对后再修改。");
  EXPECT_EQ(stock()[0], 99);
  EXPECT_EQ(stored(app::kDrugCatalogueName)[0][drug::mch], "阿莫西林");
  // Refused: 修改 again does nothing until the drug is chosen again.
  click(kDrug, d::kButton4);
  EXPECT_EQ(messages().back(), "修改失败!");

  doubleClick(kDrug, d::kList1, 2);
  ASSERT_EQ(get(kDrug, "编辑框9"), "99");
  set(kDrug, "编辑框9", "120");
  click(kDrug, d::kButton4);
  EXPECT_EQ(stock()[0], 120);
  const auto entries = stored(app::kStockJournalName);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ((std::vector{entries[1][journal::bd], entries[1][journal::kc], entries[1][journal::yy]}),
            (std::vector<std::string>{"21", "120", "手工调整"}));
  EXPECT_EQ(audit().substr(0, 1), "0");
}

// During a drop the double-click and the search cannot read: the operator
// is told, the boxes hold nothing of another drug, and a 修改 after the
// folder is back writes nothing at all.
TEST_F(SeenRecordTest, NoBoxFilledFromAFailedReadIsWritten) {
  apptest::FlakyShare share;
  ASSERT_TRUE(forms::loadWindow(kDrug));
  const auto before = stored(app::kDrugCatalogueName);
  dialogs.answers.assign(4, rt::kOk);
  share.arm(1);
  doubleClick(kDrug, d::kList1, 0);
  share.recover();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].rfind("药品信息无法读取：共享文件夹暂时无法访问", 0), 0u) << messages()[0];
  EXPECT_NE(messages()[0].find("未显示任何药品。"), std::string::npos) << messages()[0];
  EXPECT_EQ(get(kDrug, "编辑框1"), "");
  set(kDrug, "编辑框12", "99");
  click(kDrug, d::kButton4);
  EXPECT_EQ(messages().back(), "修改失败!");

  // A search that could not read keeps the code typed and shows no drug.
  doubleClick(kDrug, d::kList1, 1);  // X01 shown from a whole reading
  set(kDrug, "编辑框1", "A01");
  share.arm(1);
  click(kDrug, d::kButton2);
  share.recover();
  EXPECT_EQ(messages().back().rfind("药品目录 ypjbxx 无法读取", 0), 0u) << messages().back();
  EXPECT_EQ(get(kDrug, "编辑框1"), "A01");
  set(kDrug, "编辑框12", "98");
  click(kDrug, d::kButton4);
  EXPECT_EQ(messages().back(), "修改失败!");
  EXPECT_EQ(stored(app::kDrugCatalogueName), before);
  EXPECT_TRUE(stored(app::kStockJournalName).empty());
}

// The registration window: the patient brought up is the one changed after
// another workstation packed the register, only the box changed is
// written, and a field changed on both sides is refused.
TEST_F(SeenRecordTest, RegistrationModifiesThePatientBroughtUpAndOnlyWhatChanged) {
  admit("赵六", "1002", 500);
  admit("钱七", "1003", 800);
  ASSERT_TRUE(forms::loadWindow(kReg));
  doubleClick(kReg, r::kList1, 0);  // 1003
  ASSERT_EQ(get(kReg, "编辑框5"), "1003");
  ASSERT_TRUE(deletedElsewhere(app::kInpatientsName, "zyh", "1001"));
  ASSERT_TRUE(changedElsewhere(app::kInpatientsName, "zyh", "1003", "yfk", 900));
  set(kReg, "编辑框7", "15");
  click(kReg, r::kButton3);
  EXPECT_TRUE(messages().empty());
  auto rows = stored(app::kInpatientsName);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ((std::vector{rows[1][admission::zyh], rows[1][admission::cwh], rows[1][admission::yfk]}),
            (std::vector<std::string>{"1003", "15", "900"}));
  EXPECT_EQ(rows[0][admission::cwh], "12");

  doubleClick(kReg, r::kList1, 1);  // 1002
  ASSERT_TRUE(changedElsewhere(app::kInpatientsName, "zyh", "1002", "ys", g("张医生")));
  set(kReg, "编辑框8", "王医生");
  dialogs.answers.assign(4, rt::kOk);
  click(kReg, r::kButton3);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0], "“主治医师”已被其他工作站改动，本次未修改。请重新选择该患者，核对后再修改。");
  EXPECT_EQ(stored(app::kInpatientsName)[0][admission::ys], "张医生");

  // 删除 of a patient another workstation removed meanwhile removes nobody.
  doubleClick(kReg, r::kList1, 1);
  ASSERT_TRUE(deletedElsewhere(app::kInpatientsName, "zyh", "1002"));
  dialogs.answers = {rt::kOk, rt::kOk};
  click(kReg, r::kButton4);
  EXPECT_EQ(messages().back(), kChangedElsewhere);
  EXPECT_EQ(column(app::kInpatientsName, admission::zyh), (std::vector<std::string>{"1003"}));
}

// A prescription typed while the folder is away shows no amount rather than
// the last prescription's, with the cause in the title bar until a reading
// succeeds; no message box per keystroke.
TEST_F(SeenRecordTest, AnAmountThatCouldNotBeReadIsShownAsNotCurrent) {
  apptest::FlakyShare share;
  ASSERT_TRUE(forms::loadWindow(kOut));
  const std::string title = u(forms::windowTitle(kOut));
  outCharge("A01", "1", "01A001");
  ASSERT_EQ(get(kOut, "编辑框6"), "12.5");
  share.arm(1);
  set(kOut, "编辑框4", "01A002");
  share.recover();
  EXPECT_EQ(get(kOut, "编辑框6"), "");
  EXPECT_EQ(u(forms::windowTitle(kOut)).rfind(title + "　　当前金额未能读取：共享文件夹暂时无法访问", 0), 0u)
      << u(forms::windowTitle(kOut));
  EXPECT_TRUE(messages().empty());
  set(kOut, "编辑框4", "01A001");
  EXPECT_EQ(get(kOut, "编辑框6"), "12.5");
  EXPECT_EQ(u(forms::windowTitle(kOut)), title);
}

// The audit names a catalogue change that moved stock without a reason; a
// batch renamed in the drug window (its stock out of the old batch and
// into the new one) is no such change.
TEST_F(SeenRecordTest, TheAuditNamesStockMovedByACatalogueChangeWithoutItsReason) {
  ASSERT_TRUE(forms::loadWindow(kDrug));
  doubleClick(kDrug, d::kList1, 2);
  set(kDrug, "编辑框4", "B2");
  click(kDrug, d::kButton4);
  ASSERT_TRUE(messages().empty());
  EXPECT_EQ(reasons(), (std::vector<std::string>{"目录修改", "目录修改"}));
  EXPECT_EQ(audit().substr(0, 1), "0");

  // A write-back as an older program made it: the stock lowered by 5 and
  // journalled as a catalogue change. Stock and journal agree, yet the
  // audit fails and names it.
  ASSERT_TRUE(changedElsewhere(app::kDrugCatalogueName, "dm", "A01", "shl", 95));
  appendElsewhere(app::kStockJournalName, rt::DateTime{40301}, g("张三"), "ws", "A01", g("阿莫西林"), "B2", -5, 95,
                  g("目录修改"), "");
  const std::string out = audit();
  EXPECT_EQ(out.substr(0, 1), "1") << out;
  EXPECT_NE(out.find("A01 阿莫西林 批号 B2"), std::string::npos) << out;
  EXPECT_NE(out.find("目录修改改动库存 -5，未注明手工调整"), std::string::npos) << out;
}

// Opening any module window while one of its file calls fails (a share
// that missed one reply): the window opens and the program goes on, and
// whatever could not be read is named; opened again once the folder
// answers, it shows what it shows at any opening. A catalogue cut short is
// named too, and nothing reads it as another table.
TEST_F(SeenRecordTest, EveryModuleWindowOpensWhateverSingleCallFails) {
  apptest::FlakyShare share;
  for (const uint32_t win : {kDrug, kReg, kWin, kOut, ids::kReportWindow}) {
    if (forms::isLoaded(win)) forms::closeWindow(win);
    QCoreApplication::processEvents();
    db::closeAllDatabases();
    share.arm(0);
    ASSERT_TRUE(forms::loadWindow(win));
    const int calls = share.calls();
    for (int n = 1; n <= calls; ++n) {
      SCOPED_TRACE("window " + std::to_string(win) + ", call " + std::to_string(n) + " of " + std::to_string(calls) +
                   " fails");
      forms::closeWindow(win);
      QCoreApplication::processEvents();
      db::closeAllDatabases();
      dialogs.asked.clear();
      dialogs.answers.assign(4, rt::kOk);
      share.armOnce(n);
      ASSERT_TRUE(forms::loadWindow(win));
      share.recover();
      EXPECT_LE(messages().size(), 1u);
    }
    forms::closeWindow(win);
    QCoreApplication::processEvents();
    db::closeAllDatabases();
    dialogs.asked.clear();
    ASSERT_TRUE(forms::loadWindow(win));
    EXPECT_TRUE(messages().empty()) << messages().front();
  }
  EXPECT_EQ(forms::listRowCount(kDrug, d::kList1), 3);
  EXPECT_EQ(stock(), (std::vector<int>{100, 1000, 1000}));

  forms::closeWindow(kDrug);
  QCoreApplication::processEvents();
  db::closeAllDatabases();
  std::filesystem::resize_file(dir_ / "ypjbxx.kdb", 40);
  dialogs.asked.clear();
  dialogs.answers.assign(4, rt::kOk);
  ASSERT_TRUE(forms::loadWindow(kDrug));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].rfind("药品目录 ypjbxx 无法打开：", 0), 0u) << messages()[0];
  EXPECT_EQ(forms::listRowCount(kDrug, d::kList1), 0);
  set(kDrug, "编辑框1", "A01");
  click(kDrug, d::kButton2);
  EXPECT_EQ(messages().back().rfind("药品目录 ypjbxx 无法打开：", 0), 0u) << messages().back();
  // 删除 and 修改 with another window's table current name the catalogue
  // they cannot use, and list nothing from the other table.
  apptest::makeCurrent(app::kUsersName, app::kUsers);
  dialogs.answers.assign(4, rt::kOk);
  dialogs.asked.clear();
  click(kDrug, d::kButton3);
  click(kDrug, d::kButton4);
  ASSERT_EQ(messages().size(), 2u);
  for (const std::string& m : messages()) EXPECT_EQ(m.rfind("药品目录 ypjbxx 无法打开：", 0), 0u) << m;
  EXPECT_EQ(forms::listRowCount(kDrug, d::kList1), 0);
}

}  // namespace
