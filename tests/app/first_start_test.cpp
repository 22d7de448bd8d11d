// A fresh installation's login window: one line says that no user exists
// yet and that the administrator adds the first one; it goes once a user
// is there, and the window is otherwise the one the template data makes.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "app_fixture.h"
#include "app/first_start.h"
#include "app/shell.h"
#include "app/tables.h"
#include "db/dialog/edit_records.h"
#include "db/facade.h"
#include "forms/qtext.h"
#include "forms/window_ids.h"

namespace {

namespace ids = forms::ids;

class FirstStartTest : public apptest::AppTest {
 protected:
  void TearDown() override {
    db::setEditDialogHook({});
    apptest::AppTest::TearDown();
  }
  QLabel* noUserLine(const char* name = app::kNoUserLineName) {
    QWidget* w = forms::windowWidget(ids::kLoginWindow);
    return w ? w->findChild<QLabel*>(name) : nullptr;
  }
};

TEST_F(FirstStartTest, EmptyUserListShowsLinesThatKeepClearOfTheControls) {
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  ASSERT_NE(noUserLine(), nullptr);
  EXPECT_EQ(noUserLine()->text().toStdString(), "尚无用户，请管理员新增第一个用户");
  ASSERT_NE(noUserLine(app::kManagerCodeHintName), nullptr);
  EXPECT_EQ(noUserLine(app::kManagerCodeHintName)->text().toStdString(), "管理员密码见 man clinic");
  QRect other;
  for (QLabel* line : {noUserLine(), noUserLine(app::kManagerCodeHintName)}) {
    EXPECT_TRUE(line->isVisible());
    const QString text = line->text();
    EXPECT_FALSE(text.contains("vaxol", Qt::CaseInsensitive));
    EXPECT_FALSE(line->geometry().intersects(other));
    other = line->geometry();
    // One line, whole: the text fits its width and the line fits the window.
    EXPECT_LE(QFontMetrics(line->font()).horizontalAdvance(text), line->width());
    const QRect area = line->parentWidget()->rect();
    EXPECT_TRUE(area.contains(line->geometry())) << area.width() << "x" << area.height();
    // It covers none of the controls the user works with.
    for (uint32_t id : {ids::login::kEdit1, ids::login::kCombo1, ids::login::kButton1, ids::login::kButton2,
                        ids::login::kButton3, ids::login::kTransLabel1, ids::login::kTransLabel2}) {
      QWidget* c = forms::controlWidget(ids::kLoginWindow, id);
      ASSERT_NE(c, nullptr) << std::hex << id;
      const QRect r(c->mapTo(line->parentWidget(), QPoint(0, 0)), c->size());
      EXPECT_FALSE(r.intersects(line->geometry())) << std::hex << id;
    }
  }
  // Nothing else changed: no item, no message, the password box empty.
  EXPECT_EQ(forms::comboCount(ids::kLoginWindow, ids::login::kCombo1), 0);
  EXPECT_TRUE(forms::text(ids::kLoginWindow, GBK("编辑框1")).empty());
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(FirstStartTest, NoLineOnceAUserExists) {
  apptest::makeCurrent(app::kUsersName, app::kUsers);
  ASSERT_TRUE(cmd::AppendRecord("clerk", "pw"));
  db::closeAllDatabases();
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  QLabel* line = noUserLine();
  EXPECT_TRUE(line == nullptr || !line->isVisible());
  EXPECT_EQ(forms::comboCount(ids::kLoginWindow, ids::login::kCombo1), 1);
}

TEST_F(FirstStartTest, LineGoesWhenTheAdministratorAddsTheFirstUser) {
  qtest::ExpectModal modal;  // the record-edit dialog, answered by the hooks below
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  ASSERT_NE(noUserLine(), nullptr);
  // A wrong code leaves it standing.
  dialogs.answers.push_back(rt::kOk);
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "wrong");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);  // 新增
  EXPECT_TRUE(noUserLine()->isVisible());
  // Opening the dialog and adding nobody leaves it standing too.
  db::setEditDialogHook([](QDialog& d) { d.findChild<QPushButton*>("close")->click(); });
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "vaxol");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);
  EXPECT_TRUE(noUserLine()->isVisible());
  db::setEditDialogHook([](QDialog& d) {
    d.findChild<QPushButton*>("newRecord")->click();
    d.findChild<QLineEdit*>("field_1")->setText("admin");
    d.findChild<QLineEdit*>("field_2")->setText("pw");
    d.findChild<QPushButton*>("close")->click();
  });
  // The dialog before emptied the password box: the code is typed again.
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "vaxol");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);
  EXPECT_FALSE(noUserLine()->isVisible());
  EXPECT_FALSE(noUserLine(app::kManagerCodeHintName)->isVisible());
}

// The administrator types the first user straight into the dialog that
// opens on the empty list, without "添加空记录", and closes it: the user is
// kept and can log in; the manager code is gone from the password box while
// the dialog is open. Closing on the empty list without typing adds nobody.
TEST_F(FirstStartTest, TheFirstUserTypedIntoTheEmptyListIsKept) {
  qtest::ExpectModal modal;
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  std::string passwordWhileOpen = "not seen";
  int linesEditable = 0;
  db::setEditDialogHook([&](QDialog& d) {
    passwordWhileOpen = forms::text(ids::kLoginWindow, GBK("编辑框1"));
    d.findChild<QPushButton*>("close")->click();
  });
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "vaxol");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);
  EXPECT_EQ(passwordWhileOpen, "");
  ASSERT_TRUE(cmd::SetCurrentDatabase(app::kUsersName));
  EXPECT_EQ(cmd::RecordCount(), 0);  // a blank user would let anyone in
  EXPECT_TRUE(noUserLine()->isVisible());

  db::setEditDialogHook([&](QDialog& d) {
    for (const char* name : {"field_1", "field_2"})
      if (auto* e = d.findChild<QLineEdit*>(name); e && !e->isReadOnly() && e->isEnabled()) ++linesEditable;
    d.findChild<QLineEdit*>("field_1")->setText("admin");
    d.findChild<QLineEdit*>("field_2")->setText("s3cret");
    d.findChild<QPushButton*>("close")->click();
  });
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "vaxol");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton1, forms::kEvFirst);
  EXPECT_EQ(linesEditable, 2);
  EXPECT_FALSE(noUserLine()->isVisible());
  ASSERT_TRUE(cmd::SetCurrentDatabase(app::kUsersName));
  ASSERT_EQ(cmd::RecordCount(), 1);
  cmd::MoveFirst();
  EXPECT_EQ(cmd::ReadText("use"), "admin");
  EXPECT_EQ(cmd::ReadText("ma"), "s3cret");

  // The new user logs in at once.
  forms::setText(ids::kLoginWindow, GBK("组合框1"), "admin");
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "s3cret");
  forms::raiseEvent(ids::kLoginWindow, ids::login::kButton2, forms::kEvFirst);  // 确定
  EXPECT_EQ(app::loggedInUser(), "admin");
  EXPECT_TRUE(dialogs.asked.empty());
}

// The user box draws its drop-down arrow: the users listed in it can be
// chosen with the mouse as well as typed.
TEST_F(FirstStartTest, TheUserBoxShowsItsDropDownArrow) {
  apptest::makeCurrent(app::kUsersName, app::kUsers);
  ASSERT_TRUE(cmd::AppendRecord("clerk", "pw"));
  db::closeAllDatabases();
  ASSERT_TRUE(forms::loadWindow(ids::kLoginWindow));
  auto* box = qobject_cast<QComboBox*>(forms::controlWidget(ids::kLoginWindow, ids::login::kCombo1));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isEditable());
  QStyleOptionComboBox opt;
  opt.initFrom(box);
  opt.editable = true;
  opt.subControls = QStyle::SC_All;
  const QRect arrow = box->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, box);
  ASSERT_GT(arrow.width(), 4);
  ASSERT_TRUE(box->rect().contains(arrow));
  // Something dark is drawn inside the button: the arrow, not an empty square.
  const QImage shot = box->grab().toImage();
  int dark = 0;
  for (int y = arrow.top() + 2; y < arrow.bottom() - 1; ++y)
    for (int x = arrow.left() + 2; x < arrow.right() - 1; ++x) dark += qGray(shot.pixel(x, y)) < 128;
  EXPECT_GT(dark, 2);
  EXPECT_EQ(box->count(), 1);  // the list the button opens
}

}  // namespace
