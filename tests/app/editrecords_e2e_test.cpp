// The first user of a fresh installation, end to end: the manager code on
// the login window opens the record-edit dialog on the user list, a user
// is added there, and after a restart that user logs in.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "app_fixture.h"
#include "app/shell.h"
#include "app/tables.h"
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
    // The password is masked; the name is not.
    EXPECT_EQ(d.findChild<QLineEdit*>("field_2")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.findChild<QLineEdit*>("field_1")->echoMode(), QLineEdit::Normal);
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
        std::fprintf(stderr, "logged in: %s, login window closed: %s\n", in ? "yes" : "no", closed ? "yes" : "no");
        std::_Exit(in && closed ? 0 : 1);
      },
      testing::ExitedWithCode(0), "logged in: yes, login window closed: yes");
}

// Staff correcting postings read what each field is: the program's own
// tables show each field's meaning beside its code; any other table shows
// its bare field names.
TEST_F(EditRecordsEndToEnd, TheProgramsTablesShowWhatEachFieldMeans) {
  qtest::ExpectModal modal;
  std::vector<std::string> labels;
  db::setEditDialogHook([&](QDialog& d) {
    labels.clear();
    for (int n = 1;; ++n) {
      auto* l = d.findChild<QLabel*>("name_" + QString::number(n));
      if (!l) break;
      labels.push_back(l->text().toStdString());
    }
    d.findChild<QPushButton*>("close")->click();
  });
  auto edit = [](const std::string& name, const app::TableDef& def) {
    ASSERT_TRUE(app::createTable(name, def));
    ASSERT_TRUE(cmd::OpenDatabase(name));
    ASSERT_TRUE(cmd::SetCurrentDatabase(name));
    cmd::EditRecords();
  };
  edit("n20105", app::kPostings);
  ASSERT_EQ(labels.size(), 17u);
  EXPECT_EQ(labels[0], "c1  医师甲");
  EXPECT_EQ(labels[7], "c8  合计");
  EXPECT_EQ(labels[8], "c9  特色医师甲");
  EXPECT_EQ(labels[15], "c16  特色合计(取整)");
  EXPECT_EQ(labels[16], "zy  住院号");
  edit("bz2010", app::kBills);
  ASSERT_EQ(labels.size(), 20u);
  EXPECT_EQ(labels[2], "ps  西药");
  EXPECT_EQ(labels[7], "pzl  治疗");
  EXPECT_EQ(labels[18], "pjh  监护");
  EXPECT_EQ(labels[19], "phj  合计");
  edit("zyjbxx", app::kInpatients);
  ASSERT_EQ(labels.size(), 11u);
  EXPECT_EQ(labels[3], "zh  医保证号");
  EXPECT_EQ(labels[10], "yfk  预付款");
  // A table of another layout: the names alone.
  std::vector<rt::FieldInf> other = {{"ps", 5, 20}, {"c1", 5, 20}};  // two float fields
  ASSERT_TRUE(cmd::CreateDatabase("other", other));
  ASSERT_TRUE(cmd::OpenDatabase("other"));
  ASSERT_TRUE(cmd::SetCurrentDatabase("other"));
  cmd::EditRecords();
  EXPECT_EQ(labels, (std::vector<std::string>{"ps", "c1"}));
}

}  // namespace
