// Who may do what: a user whose rights record denies a right is refused
// every action of it (told which right, nothing written, its buttons
// disabled), a user without a record keeps every right, a charge line
// whose bill is printed cannot be deleted by one who may delete only
// before, and five failed logins in a row make the next try wait.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QWidget>

#include "app/login_guard.h"
#include "app/rights.h"
#include "app/trail.h"
#include "charge_fixture.h"
#include "db/dialog/edit_records.h"

namespace {

namespace ids = forms::ids;
namespace m = ids::medication;
using apptest::fields::line::mch;

// The rights record fields after the name: yp zy zp mz bb sc gz ml yh.
struct Granted {
  int yp = 1, zy = 1, zp = 1, mz = 1, bb = 1, sc = 2, gz = 1, ml = 1, yh = 1;
};

class RightsTest : public apptest::ChargeTest {
 protected:
  void SetUp() override {
    ChargeTest::SetUp();
    app::trail::setNotesPath("");
    app::login::resetTries();
    addDrugs({{"A01", "阿莫西林", "西药", 100, 12.5f}});
    admit("王五", "1001", 1000);
  }
  void TearDown() override {
    db::setEditDialogHook({});
    app::trail::clearNotes();
    ChargeTest::TearDown();
  }

  void grant(const char* user, const Granted& r) {
    apptest::makeCurrent(app::kRightsName, app::kRights);
    ASSERT_TRUE(cmd::AppendRecord(g(user), r.yp, r.zy, r.zp, r.mz, r.bb, r.sc, r.gz, r.ml, r.yh));
    cmd::CloseDatabase(app::kRightsName);
  }

  static bool enabled(uint32_t window, uint32_t control) { return forms::controlWidget(window, control)->isEnabled(); }

  // The kinds of the trail's entries, in order (UTF-8).
  std::vector<std::string> trailKinds() {
    std::vector<std::string> kinds;
    for (const auto& e : stored(app::kTrailName)) kinds.push_back(e[4]);
    return kinds;
  }

  // The medication window with one line charged to 1001 (A01, 1, today).
  void oneLineCharged() {
    ASSERT_TRUE(forms::loadWindow(m::kWindow));
    forms::setText(m::kWindow, g("编辑框1"), "1001");
    forms::raiseEvent(m::kWindow, m::kButton1, forms::kEvFirst);
    forms::setText(m::kWindow, g("编辑框2"), "A01");
    forms::raiseEvent(m::kWindow, m::kButton2, forms::kEvFirst);
    forms::setText(m::kWindow, g("编辑框3"), "1");
    forms::setText(m::kWindow, g("编辑框4"), "0312");
    forms::setProperty(m::kWindow, m::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
    forms::raiseEvent(m::kWindow, m::kList1, forms::kEvDoubleClick);
    ASSERT_EQ(stored("1001").size(), 1u);
  }
  void deleteTopLine() {
    forms::setProperty(m::kWindow, m::kList2, forms::prop::kListSelected, -1, rt::makeInt(0));
    dialogs.answers.assign(2, rt::kOk);
    forms::raiseEvent(m::kWindow, m::kButton3, forms::kEvFirst);
  }
};

TEST_F(RightsTest, AUserDeniedEveryRightIsRefusedEachOneAndNothingIsWritten) {
  Granted none;
  none = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  grant("张三", none);
  logIn("张三");
  // Loaded behind the rights (as a test may): the buttons are disabled.
  oneLineCharged();
  EXPECT_FALSE(enabled(m::kWindow, m::kButton3));
  dialogs.asked.clear();

  // A charge line.
  deleteTopLine();
  EXPECT_EQ(messages(), std::vector<std::string>{"用户“张三”没有“删除收费明细”的权限，未删除任何记录。"});
  EXPECT_EQ(stored("1001").size(), 1u);
  EXPECT_EQ(stock()[0], 99);

  // A module window from the menu.
  dialogs.asked.clear();
  forms::raiseEvent(m::kWindow, m::kMenu2, forms::kEvFirst);
  EXPECT_FALSE(loaded(ids::kDrugWindow));
  EXPECT_EQ(messages(), std::vector<std::string>{"用户“张三”没有“打开药品库存”的权限，未打开该窗口。"});

  // The catalogue: 修改 of a drug shown.
  ASSERT_TRUE(forms::loadWindow(ids::kDrugWindow));
  for (uint32_t b : {ids::drug::kButton1, ids::drug::kButton3, ids::drug::kButton4})
    EXPECT_FALSE(enabled(ids::kDrugWindow, b));
  forms::setText(ids::kDrugWindow, g("编辑框1"), "A01");
  forms::raiseEvent(ids::kDrugWindow, ids::drug::kButton2, forms::kEvFirst);
  forms::setText(ids::kDrugWindow, g("编辑框12"), "99");
  dialogs.asked.clear();
  dialogs.answers.assign(3, rt::kOk);
  forms::raiseEvent(ids::kDrugWindow, ids::drug::kButton4, forms::kEvFirst);
  forms::raiseEvent(ids::kDrugWindow, ids::drug::kButton1, forms::kEvFirst);
  forms::raiseEvent(ids::kDrugWindow, ids::drug::kButton3, forms::kEvFirst);
  EXPECT_EQ(messages(), (std::vector<std::string>{"用户“张三”没有“增改删药品目录”的权限，未修改。",
                                                  "用户“张三”没有“增改删药品目录”的权限，未添加。",
                                                  "用户“张三”没有“增改删药品目录”的权限，未删除任何药品。"}));
  const auto drugs = stored(app::kDrugCatalogueName);
  ASSERT_EQ(drugs.size(), 1u);
  EXPECT_EQ(drugs[0][apptest::fields::drug::xj], "12.5");

  // Posted figures: the edit buttons open no dialog.
  apptest::makeCurrent("bz2010", app::kBills);
  cmd::CloseDatabase("bz2010");
  ASSERT_TRUE(forms::loadWindow(ids::kReportWindow));
  for (uint32_t b : {ids::report::kButton5, ids::report::kButton6, ids::report::kButton7, ids::report::kButton10})
    EXPECT_FALSE(enabled(ids::kReportWindow, b));
  bool opened = false;
  db::setEditDialogHook([&](QDialog& d) {
    opened = true;
    d.reject();
  });
  dialogs.asked.clear();
  dialogs.answers.assign(1, rt::kOk);
  forms::raiseEvent(ids::kReportWindow, ids::report::kButton7, forms::kEvFirst);
  EXPECT_FALSE(opened);
  EXPECT_EQ(messages(), std::vector<std::string>{"用户“张三”没有“更正报表数据”的权限，未打开记录编辑。"});

  // The user list and the rights, even behind the manager code.
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  forms::setText(ids::kLoginWindow, g("组合框1"), g("张三"));
  dialogs.asked.clear();
  dialogs.answers.assign(2, rt::kOk);
  forms::setText(ids::kLoginWindow, g("编辑框1"), app::kManagerCode);
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);
  forms::setText(ids::kLoginWindow, g("编辑框1"), app::kManagerCode);
  ASSERT_TRUE(forms::pressExtraButton(ids::kLoginWindow, g("权限")));
  EXPECT_FALSE(opened);
  EXPECT_EQ(messages(), std::vector<std::string>(2, "用户“张三”没有“编辑用户名单和权限”的权限，未打开。"));

  // Nothing refused left an entry: the login and the charge's window only.
  EXPECT_EQ(trailKinds(), std::vector<std::string>{"登录"});
}

TEST_F(RightsTest, AUserWithoutARecordKeepsEveryRight) {
  grant("李四", {0, 0, 0, 0, 0, 0, 0, 0, 0});  // someone else is limited
  logIn("张三");
  EXPECT_FALSE(app::rights::ofLogin().limited);
  oneLineCharged();
  EXPECT_TRUE(enabled(m::kWindow, m::kButton3));
  dialogs.asked.clear();
  deleteTopLine();
  EXPECT_EQ(messages(), std::vector<std::string>{"你确定要删除吗？"});
  EXPECT_TRUE(stored("1001").empty());
  EXPECT_EQ(stock()[0], 100);
  forms::raiseEvent(m::kWindow, m::kMenu2, forms::kEvFirst);
  EXPECT_TRUE(loaded(ids::kDrugWindow));
  for (uint32_t b : {ids::drug::kButton1, ids::drug::kButton3, ids::drug::kButton4})
    EXPECT_TRUE(enabled(ids::kDrugWindow, b));
  EXPECT_EQ(trailKinds(), (std::vector<std::string>{"登录", "删除明细"}));
}

// "Only before its bill is printed": a bill in the year's bill table for
// the patient, printed on or after the line's day, keeps the line; a line
// of a later day than the bill may still go.
TEST_F(RightsTest, ALineWhoseBillIsPrintedStaysForOneWhoMayDeleteOnlyBefore) {
  Granted before;
  before.sc = 1;
  grant("张三", before);
  logIn("张三");
  oneLineCharged();
  EXPECT_TRUE(enabled(m::kWindow, m::kButton3));
  // Billed the same day.
  ASSERT_TRUE(app::createTable("bz2010", app::kBills));
  appendElsewhere("bz2010", rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, std::string("1001"), 12.5f);
  EXPECT_EQ(app::rights::billPrinted("1001", rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, "0312"), 1);
  dialogs.asked.clear();
  deleteTopLine();
  EXPECT_EQ(messages(), std::vector<std::string>{
                            "用户“张三”没有“删除已打印票据的收费明细”的权限，该明细的票据已打印，未删除任何记录。"});
  EXPECT_EQ(stored("1001").size(), 1u);
  // The next day's line is on no printed bill.
  rt::setClock(rt::makeDateTime(2010, 5, 4, 9, 0, 0));
  forms::setText(m::kWindow, g("编辑框2"), "A01");
  forms::raiseEvent(m::kWindow, m::kButton2, forms::kEvFirst);
  forms::setProperty(m::kWindow, m::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
  forms::raiseEvent(m::kWindow, m::kList1, forms::kEvDoubleClick);
  ASSERT_EQ(stored("1001").size(), 2u);
  dialogs.asked.clear();
  deleteTopLine();
  EXPECT_EQ(messages(), std::vector<std::string>{"你确定要删除吗？"});
  EXPECT_EQ(stored("1001").size(), 1u);
  // An outpatient line is known by its prescription in "bm" + year.
  ASSERT_TRUE(app::createTable("bm2010", app::kBills));
  appendElsewhere("bm2010", rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, std::string("0101"), 1.0f);
  EXPECT_EQ(app::rights::billPrinted("m20105", rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, "0101"), 1);
  EXPECT_EQ(app::rights::billPrinted("m20105", rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, "0102"), 0);
  EXPECT_EQ(app::rights::billPrinted("m20105", rt::DateTime{rt::makeDateTime(2010, 5, 4, 0, 0, 0)}, "0101"), 0);
}

TEST_F(RightsTest, FiveFailedLoginsInARowMakeTheNextTryWait) {
  apptest::makeCurrent(app::kUsersName, app::kUsers);
  ASSERT_TRUE(cmd::AppendRecord(g("张三"), "pw"));
  cmd::CloseDatabase(app::kUsersName);
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  auto tryLogin = [&](const char* password) {
    dialogs.answers.assign(1, rt::kOk);
    forms::setText(ids::kLoginWindow, g("组合框1"), g("张三"));
    forms::setText(ids::kLoginWindow, g("编辑框1"), password);
    forms::raiseEvent(ids::kLoginWindow, ids::login::kButton2, forms::kEvFirst);
  };
  for (int i = 0; i < 4; ++i) tryLogin("wrong");
  EXPECT_EQ(messages(), std::vector<std::string>(4, "密码错误!"));
  dialogs.asked.clear();
  tryLogin("wrong");
  EXPECT_EQ(messages(), std::vector<std::string>{"密码错误!已连续 5 次登录失败，请等待 5 秒后再试。"});
  // Within the wait even the right password is not looked at.
  dialogs.asked.clear();
  rt::setClock(rt::makeDateTime(2010, 5, 3, 14, 30, 3));
  tryLogin("pw");
  EXPECT_EQ(messages(), std::vector<std::string>{"用户“张三”已连续 5 次登录失败，请等待 2 秒后再试。"});
  EXPECT_TRUE(app::loggedInUser().empty());
  // Another name is not held up.
  EXPECT_TRUE(app::login::mayTry(g("李四")));
  // After it, the login goes through as ever.
  rt::setClock(rt::makeDateTime(2010, 5, 3, 14, 30, 6));
  dialogs.asked.clear();
  tryLogin("pw");
  dialogs.answers.clear();
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(app::loggedInUser(), g("张三"));
  const auto entries = stored(app::kTrailName);
  ASSERT_EQ(entries.size(), 6u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(entries[i][4], "登录失败");
  EXPECT_EQ(entries[5][4], "登录");
  EXPECT_EQ(entries[5][2], "张三");
}

}  // namespace
