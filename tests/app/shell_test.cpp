// The frame around the modules, on the real windows: the login against the
// user list, the manager code, the start window's entries and the module
// menu of every module window.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <filesystem>

#include "app_fixture.h"
#include "app/shell.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "forms/template.h"
#include "forms/window_ids.h"
#include "print/printer.h"

namespace {

namespace ids = forms::ids;

class ShellTest : public apptest::AppTest {
 protected:
  void addUsers(std::initializer_list<std::pair<const char*, const char*>> users) {
    apptest::makeCurrent(app::kUsersName, app::kUsers);
    for (auto [name, password] : users) ASSERT_TRUE(cmd::AppendRecord(name, password));
    db::closeAllDatabases();
  }
  void openLogin() { ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow)); }
  void type(const char* userUtf8, const char* password) {
    forms::setText(ids::kLoginWindow, GBK("组合框1"), rt::utf8ToGbk(userUtf8));
    forms::setText(ids::kLoginWindow, GBK("编辑框1"), password);
  }
  void press(uint32_t window, uint32_t button) { forms::raiseEvent(window, button, forms::kEvFirst); }
  std::string password() { return forms::text(ids::kLoginWindow, GBK("编辑框1")); }
};

TEST_F(ShellTest, FreshFolderCreatesTheUserListAndShowsNoUsers) {
  openLogin();
  ASSERT_TRUE(std::filesystem::exists("user.kdb"));
  cmd::SetCurrentDatabase("user");
  EXPECT_EQ(cmd::FieldCount(), 2);
  EXPECT_EQ(cmd::RecordCount(), 0);
  EXPECT_EQ(forms::comboCount(ids::kLoginWindow, ids::login::kCombo1), 0);
  // An empty list: "确定" does nothing and says nothing.
  type("", "");
  press(ids::kLoginWindow, ids::login::kButton2);
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_TRUE(loaded(ids::kLoginWindow));
  EXPECT_TRUE(app::loggedInUser().empty());
}

TEST_F(ShellTest, ADamagedUserListIsReportedNotReplaced) {
  const std::string junk = "this is no table at all";
  {
    std::FILE* f = std::fopen("user.kdb", "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  dialogs.answers.push_back(rt::kOk);
  openLogin();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("user.kdb"), std::string::npos);
  EXPECT_NE(messages()[0].find("指定文件不是数据库文件"), std::string::npos);
  EXPECT_EQ(forms::comboCount(ids::kLoginWindow, ids::login::kCombo1), 0);
  EXPECT_EQ(std::filesystem::file_size("user.kdb"), junk.size());
}

TEST_F(ShellTest, LoginChecksNameAndPasswordExactly) {
  addUsers({{"\xD5\xC5\xC8\xFD", "Secret"}, {"clerk", ""}, {"a-very-long-name", "x"}});
  openLogin();
  // The users in table order, the long name as the field cut it.
  ASSERT_EQ(forms::comboCount(ids::kLoginWindow, ids::login::kCombo1), 3);
  EXPECT_EQ(forms::comboItemText(ids::kLoginWindow, ids::login::kCombo1, 0), "\xD5\xC5\xC8\xFD");
  EXPECT_EQ(forms::comboItemText(ids::kLoginWindow, ids::login::kCombo1, 2), "a-very-lon");
  EXPECT_TRUE(forms::text(ids::kLoginWindow, GBK("组合框1")).empty());
  EXPECT_TRUE(password().empty());

  struct {
    const char* user;
    const char* password;
  } wrong[] = {
      {"张三", "secret"},                      // another case
      {"张三", "Secret "},                     // a space more
      {"李四", "Secret"},                      // no such user
      {"clerk", "x"},      {"张三", "Secre"},  // the first part of the password
      {"张三", "S"},       {"张三", ""},       // nothing, for a user who has a password
  };
  for (auto w : wrong) {
    dialogs.answers.push_back(rt::kOk);
    type(w.user, w.password);
    press(ids::kLoginWindow, ids::login::kButton2);
    EXPECT_TRUE(password().empty()) << w.user;
    EXPECT_TRUE(loaded(ids::kLoginWindow));
  }
  // 张三's fifth failure in a row (the last try) says his next try waits.
  std::vector<std::string> said(6, "密码错误!");
  said.push_back("密码错误!已连续 5 次登录失败，请等待 5 秒后再试。");
  EXPECT_EQ(messages(), said);
  EXPECT_EQ(rt::gbkToUtf8(dialogs.asked[0].caption), "信息：");
  EXPECT_TRUE(app::loggedInUser().empty());

  // An empty stored password takes an empty box.
  type("clerk", "");
  press(ids::kLoginWindow, ids::login::kButton2);
  EXPECT_EQ(app::loggedInUser(), "clerk");
  EXPECT_FALSE(loaded(ids::kLoginWindow));

  openLogin();
  type("张三", "Secret");
  press(ids::kLoginWindow, ids::login::kButton2);
  EXPECT_EQ(app::loggedInUser(), "\xD5\xC5\xC8\xFD");
  EXPECT_FALSE(loaded(ids::kLoginWindow));
}

// Enter in the user or the password box acts as 确定.
TEST_F(ShellTest, EnterInTheBoxesChecksTheLogin) {
  addUsers({{"clerk", "pw"}});
  auto enterIn = [](QWidget* w) {
    ASSERT_NE(w, nullptr);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QCoreApplication::sendEvent(w, &press);
  };
  openLogin();
  auto* combo = qobject_cast<QComboBox*>(forms::controlWidget(ids::kLoginWindow, ids::login::kCombo1));
  ASSERT_NE(combo, nullptr);
  // A wrong password, Enter in the user box: checked, refused.
  dialogs.answers.push_back(rt::kOk);
  type("clerk", "p");
  enterIn(combo->lineEdit());
  EXPECT_EQ(messages(), std::vector<std::string>{"密码错误!"});
  EXPECT_TRUE(password().empty());
  EXPECT_TRUE(loaded(ids::kLoginWindow));
  // The right one, Enter in the password box: logged in.
  type("clerk", "pw");
  enterIn(forms::controlWidget(ids::kLoginWindow, ids::login::kEdit1));
  EXPECT_EQ(app::loggedInUser(), "clerk");
  EXPECT_FALSE(loaded(ids::kLoginWindow));
  EXPECT_EQ(dialogs.asked.size(), 1u);
}

TEST_F(ShellTest, ManagerCodeGuardsTheUserList) {
  openLogin();
  dialogs.answers = {rt::kOk, rt::kOk};
  type("", "VAXOL");
  press(ids::kLoginWindow, ids::login::kButton1);
  type("", "vaxol ");
  press(ids::kLoginWindow, ids::login::kButton1);
  ASSERT_EQ(messages().size(), 2u);
  EXPECT_EQ(messages()[0], "请输入管理员密码！");
  EXPECT_EQ(messages()[1], "请输入管理员密码！");
  EXPECT_TRUE(loaded(ids::kLoginWindow));
  // The right code opens the record-edit dialog: see editrecords_e2e_test.
}

TEST_F(ShellTest, QuitAndExitItemsEndAtOnceWithCodeZero) {
  EXPECT_EXIT(
      {
        openLogin();
        press(ids::kLoginWindow, ids::login::kButton3);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        forms::loadWindow(ids::kReportWindow);
        forms::raiseEvent(ids::kReportWindow, ids::report::kMenu7, forms::kEvFirst);  // 退 出 系 统
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ShellTest, ClosingTheLoginWithoutLoggingInEndsTheProgram) {
  qtest::ExpectModal modal;  // answered by the test itself
  EXPECT_EXIT(
      {
        QTimer::singleShot(0, [] { forms::closeWindow(ids::kLoginWindow); });
        forms::loadWindow(ids::kStartWindow);
        std::fprintf(stderr, "start window usable without a login\n");
        std::_Exit(3);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ShellTest, StartWindowEntriesOpenTheModulesAndCloseOnlyItself) {
  qtest::ExpectModal modal;  // answered by the test itself
  // The start window's creation opens the modal login; log in as soon as
  // it is up.
  addUsers({{"clerk", "pw"}});
  QTimer::singleShot(0, [this] {
    type("clerk", "pw");
    press(ids::kLoginWindow, ids::login::kButton2);
  });
  ASSERT_TRUE(forms::loadWindow(ids::kStartWindow));
  EXPECT_FALSE(loaded(ids::kLoginWindow));
  EXPECT_EQ(app::loggedInUser(), "clerk");
  const std::pair<uint32_t, uint32_t> entries[] = {
      {ids::start::kTransLabel1, ids::kDrugWindow},       {ids::start::kTransLabel2, ids::kInpatientWindow},
      {ids::start::kTransLabel3, ids::kMedicationWindow}, {ids::start::kTransLabel4, ids::kOutpatientWindow},
      {ids::start::kTransLabel6, ids::kReportWindow},
  };
  for (auto [label, window] : entries) {
    forms::raiseEvent(ids::kStartWindow, label, forms::kEvLeftUp);
    EXPECT_TRUE(loaded(window)) << std::hex << window;
  }
  // A second time only activates: still one copy each.
  forms::raiseEvent(ids::kStartWindow, ids::start::kTransLabel1, forms::kEvLeftUp);
  auto windows = forms::loadedWindows();
  EXPECT_EQ(std::count(windows.begin(), windows.end(), ids::kDrugWindow), 1);
  // "退出系统" closes the start window only.
  forms::raiseEvent(ids::kStartWindow, ids::start::kTransLabel5, forms::kEvLeftUp);
  EXPECT_FALSE(loaded(ids::kStartWindow));
  EXPECT_TRUE(loaded(ids::kDrugWindow));
  EXPECT_TRUE(loaded(ids::kReportWindow));
}

TEST_F(ShellTest, EveryMenuItemOfEveryModuleWindow) {
  // The menu bar of the five module windows: which window each item opens,
  // or nothing (0) for the window's own module.
  struct Case {
    uint32_t window;
    std::vector<uint32_t> opens;  // items 2..6 and 9 of the menu, in order
  };
  const Case cases[] = {
      {ids::kDrugWindow,
       {0, ids::kInpatientWindow, ids::kMedicationWindow, ids::kOutpatientWindow, ids::kReportWindow}},
      {ids::kInpatientWindow,
       {ids::kDrugWindow, 0, ids::kMedicationWindow, ids::kOutpatientWindow, ids::kReportWindow}},
      {ids::kMedicationWindow,
       {ids::kDrugWindow, ids::kInpatientWindow, ids::kMedicationWindow, ids::kOutpatientWindow, ids::kReportWindow}},
      {ids::kOutpatientWindow,
       {ids::kDrugWindow, ids::kInpatientWindow, ids::kMedicationWindow, 0, ids::kReportWindow}},
      {ids::kReportWindow,
       {ids::kDrugWindow, ids::kInpatientWindow, ids::kMedicationWindow, ids::kOutpatientWindow, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.window);
    ASSERT_TRUE(forms::loadWindow(c.window));
    const forms::WindowTemplate* w = forms::templateSource().findWindow(c.window);
    ASSERT_NE(w, nullptr);
    std::vector<const forms::Item*> menu;
    for (const forms::Item& it : w->items)
      if (it.kind == forms::kMenuItemKind) menu.push_back(&it);
    ASSERT_EQ(menu.size(), 9u);
    EXPECT_EQ(rt::gbkToUtf8(menu[0]->text), "  系  统  ");
    EXPECT_EQ(rt::gbkToUtf8(menu[7]->text), "  关  于  ");
    for (size_t k = 0; k < c.opens.size(); ++k) {
      const forms::Item* item = menu[1 + k];
      for (uint32_t other : forms::loadedWindows())
        if (other != c.window) forms::closeWindow(other);
      QCoreApplication::processEvents();
      forms::raiseEvent(c.window, item->id, forms::kEvFirst);
      auto windows = forms::loadedWindows();
      if (c.opens[k] == 0) {
        EXPECT_EQ(item->menuHandler, -1) << rt::gbkToUtf8(item->text);
        EXPECT_EQ(windows, std::vector<uint32_t>{c.window}) << rt::gbkToUtf8(item->text);
      } else {
        EXPECT_TRUE(loaded(c.opens[k])) << rt::gbkToUtf8(item->text);
      }
    }
    forms::raiseEvent(c.window, menu[8]->id, forms::kEvFirst);  // 关 于 作 者
    EXPECT_TRUE(loaded(ids::kAboutWindow));
    for (uint32_t other : forms::loadedWindows()) forms::closeWindow(other);
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(dialogs.asked.empty());
}

}  // namespace
