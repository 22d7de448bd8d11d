// The first user of a fresh installation, end to end: the manager code on
// the login window opens the record-edit dialog on the user list, a user
// is added there, and after a restart that user logs in.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "app_fixture.h"
#include "app/shell.h"
#include "db/dialog/edit_records.h"
#include "db/dialog/record_dialog.h"
#include "db/engine.h"
#include "db/facade.h"
#include "forms/template.h"
#include "forms/window_ids.h"

namespace {

namespace ids = forms::ids;

class EditRecordsEndToEnd : public apptest::AppTest {
 protected:
  void TearDown() override {
    db::setEditDialogHook({});
    apptest::AppTest::TearDown();
  }
};

TEST_F(EditRecordsEndToEnd, FirstUserAddedThroughTheDialogLogsInAfterARestart) {
  qtest::ExpectModal modal;  // answered by the test itself
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  std::vector<std::string> titles;
  db::setEditDialogHook([&](QDialog& d) {
    auto& r = static_cast<db::RecordDialog&>(d);
    // Owned by the window whose button opened it, and placed over it
    // (kept on the screen: the login window is smaller than the dialog).
    EXPECT_EQ(d.parentWidget(), forms::windowWidget(ids::kLoginWindow));
    EXPECT_TRUE(d.frameGeometry().intersects(forms::windowWidget(ids::kLoginWindow)->frameGeometry()));
    titles.push_back(rt::gbkToUtf8(r.titleText()));
    d.findChild<QPushButton*>("newRecord")->click();
    titles.push_back(rt::gbkToUtf8(r.titleText()));
    d.findChild<QLineEdit*>("field_1")->setText(QString::fromUtf8("护士"));
    d.findChild<QLineEdit*>("field_2")->setText("pw1");
    d.findChild<QPushButton*>("close")->click();
  });
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "vaxol");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);  // 新增
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0], "数据库记录编辑 - [?? / 0]");
  EXPECT_EQ(titles[1], "数据库记录编辑 - [1 / 1]");
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_TRUE(loaded(ids::kLoginWindow));
  EXPECT_TRUE(app::loggedInUser().empty());

  // Restart: every table closed, the login window loaded afresh.
  forms::closeWindow(ids::kLoginWindow);
  QCoreApplication::processEvents();
  db::closeAllDatabases();
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  ASSERT_EQ(forms::comboCount(ids::kLoginWindow, ids::login::kCombo1), 1);
  EXPECT_EQ(rt::gbkToUtf8(forms::comboItemText(ids::kLoginWindow, ids::login::kCombo1, 0)), "护士");
  // The login itself runs in a child process: the logged-in user is
  // program-wide and would leak into the other login tests of this program.
  EXPECT_EXIT(
      {
        forms::setText(ids::kLoginWindow, GBK("组合框1"), rt::utf8ToGbk("护士"));
        forms::setText(ids::kLoginWindow, GBK("编辑框1"), "pw1");
        forms::raiseEvent(ids::kLoginWindow, ids::login::kButton2, forms::kEvFirst);  // 确定
        const bool in = app::loggedInUser() == rt::utf8ToGbk("护士");
        const bool closed = !loaded(ids::kLoginWindow);
        std::fprintf(stderr, "logged in: %s, login window closed: %s\n", in ? "yes" : "no",
                     closed ? "yes" : "no");
        std::_Exit(in && closed ? 0 : 1);
      },
      testing::ExitedWithCode(0), "logged in: yes, login window closed: yes");
}

}  // namespace
