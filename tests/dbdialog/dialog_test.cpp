// The record-edit dialog on a real table: title, moves, saving, adding,
// the deleted mark, purge and empty, mode flags, closing.
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <filesystem>

#include "../db/db_test_util.h"
#include "dialog_support.h"

namespace {

using dtest::DialogTest;

TEST_F(DialogTest, TitleFollowsRecordCountDeletedMarkAndPendingError) {
  makeTable(0);
  open();
  EXPECT_EQ(title(), "数据库记录编辑 - [?? / 0]");
  EXPECT_EQ(dlg->windowTitle().toStdString(), "数据库记录编辑 - [?? / 0]");
  ASSERT_TRUE(dlg->appendBlank());
  EXPECT_EQ(title(), "数据库记录编辑 - [1 / 1]");
  dlg.reset();
  db::closeAllDatabases();
  std::filesystem::remove("t.kdb");
  std::filesystem::remove("t.KDT");

  makeTable(5);
  dlg = std::make_unique<db::RecordDialog>(*db::currentTable(), rt::utf8ToGbk("用户"), 0, std::vector<std::string>{});
  EXPECT_EQ(title(), "用户 - [1 / 5]");
  dlg->moveTo(2);
  dlg->toggleDeleted();
  EXPECT_EQ(title(), "用户 - [*被删除 3 / 5]");
  EXPECT_LT(header(3), 0);
  dlg->toggleDeleted();
  EXPECT_EQ(title(), "用户 - [3 / 5]");
  EXPECT_EQ(header(3), 3);  // the serial it had
}

TEST_F(DialogTest, UnreadableRecordPutsTheEngineTextInTheTitleUntilTheNextLoad) {
  makeTable(5);
  open();
  // Another program cut the file: the count still says 5, record 5 is gone.
  db::Table& t = *db::currentTable();
  std::filesystem::resize_file("t.kdb", uintmax_t(t.recordOffset(4) + 3));
  dlg->lastRecord();
  EXPECT_EQ(title(), "数据库记录编辑 - [?? / 5] - 读记录失败");
  EXPECT_EQ(dlg->position(), -1);
  EXPECT_EQ(dlg->findChild<QLabel*>("status")->text().toStdString(), "记录 5 不存在");
  dlg->previousRecord();
  EXPECT_EQ(title(), "数据库记录编辑 - [4 / 5]");
}

TEST_F(DialogTest, MovesClampAndPageByTen) {
  makeTable(25);
  open();
  EXPECT_EQ(dlg->position(), 0);
  dlg->moveTo(-5);
  EXPECT_EQ(dlg->position(), 0);
  dlg->moveTo(100);
  EXPECT_EQ(dlg->position(), 24);
  button("first")->click();
  EXPECT_EQ(dlg->position(), 0);
  button("prev")->click();
  EXPECT_EQ(dlg->position(), 0);
  button("pageDown")->click();
  EXPECT_EQ(dlg->position(), 10);
  button("pageDown")->click();
  button("pageDown")->click();
  EXPECT_EQ(dlg->position(), 24);
  // Forward on the last record moves the focus to the last field line.
  dlg->firstLine();
  button("pageDown")->click();
  EXPECT_EQ(dlg->position(), 24);
  EXPECT_EQ(dlg->currentLine(), dlg->lineCount() - 1);
  button("pageUp")->click();
  EXPECT_EQ(dlg->position(), 14);
  dlg->moveTo(3);
  button("pageUp")->click();
  EXPECT_EQ(dlg->position(), 0);
  button("last")->click();
  button("next")->click();
  EXPECT_EQ(dlg->position(), 24);
  EXPECT_EQ(title(), "数据库记录编辑 - [25 / 25]");
  // The table's current record follows the dialog.
  EXPECT_EQ(db::currentTable()->position, 24);
}

TEST_F(DialogTest, JumpTakesTheTypedNumberAndFirstForZeroOrNegative) {
  makeTable(6);
  open();
  dlg->moveTo(2);
  answers.texts = {"5", "0", "-3", "99", std::nullopt, "abc"};
  button("jump")->click();
  ASSERT_EQ(answers.prompts.size(), 1u);
  EXPECT_EQ(answers.prompts[0].prompt, "请指定欲跳转到的记录号（1 - 6）：");
  EXPECT_EQ(answers.prompts[0].caption, "跳到指定记录");
  EXPECT_EQ(answers.prompts[0].prefilled, "3");
  EXPECT_EQ(dlg->position(), 4);
  dlg->jumpToNumber();
  EXPECT_EQ(dlg->position(), 0);
  dlg->moveTo(3);
  dlg->jumpToNumber();
  EXPECT_EQ(dlg->position(), 0);
  dlg->jumpToNumber();
  EXPECT_EQ(dlg->position(), 5);
  dlg->jumpToNumber();  // cancelled
  EXPECT_EQ(dlg->position(), 5);
  dlg->jumpToNumber();
  EXPECT_EQ(dlg->position(), 0);
}

TEST_F(DialogTest, ChangedRecordIsSavedOnLeavingAndUnchangedLinesStayExact) {
  makeTable(3);
  open();
  type(1, "新名");
  type(2, "42");
  dlg->findChild<QCheckBox*>("field_5")->setChecked(false);
  button("next")->click();
  EXPECT_EQ(dlg->position(), 1);
  EXPECT_EQ(rt::gbkToUtf8(stored(1, "name")), "新名");
  EXPECT_EQ(stored(1, "n"), "42");
  EXPECT_EQ(rt::gbkToUtf8(stored(1, "b")), "假");
  EXPECT_EQ(stored(1, "x"), "1.5");
  EXPECT_EQ(stored(2, "n"), "2");
  // Dates survive being shown and saved around an edit elsewhere.
  dlg->moveTo(1);
  type(3, "7.25");
  dlg->moveTo(0);
  EXPECT_EQ(stored(2, "x"), "7.25");
  cmd::MoveTo(2);
  EXPECT_EQ(cmd::ReadField("d").real(), 2.0);
}

TEST_F(DialogTest, ValuesThatDoNotFitAreRefusedAtTheirLineAndNothingIsWritten) {
  makeTable(2);
  open();
  type(1, "好");
  type(2, "abc");
  button("next")->click();
  EXPECT_EQ(dlg->position(), 0);
  EXPECT_EQ(dlg->currentLine(), 1);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].caption, "错误");
  EXPECT_NE(answers.asked[0].text.find("“n”"), std::string::npos);
  EXPECT_NE(answers.asked[0].text.find("不是有效的数值"), std::string::npos);
  EXPECT_EQ(stored(1, "name"), "r1");  // the whole record stays as it was
  EXPECT_EQ(stored(1, "n"), "1");
  type(2, "12");
  type(1, "123456789");  // nine bytes into a field of eight
  dlg->nextRecord();
  EXPECT_EQ(dlg->position(), 0);
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_NE(answers.asked[1].text.find("超过字段长度 8 字节"), std::string::npos);
  type(1, "12345678");
  type(4, "2024年2月30日");
  dlg->nextRecord();
  EXPECT_EQ(dlg->position(), 0);
  EXPECT_EQ(dlg->currentLine(), 3);
  type(4, "2024年2月29日");
  dlg->nextRecord();
  EXPECT_EQ(dlg->position(), 1);
  EXPECT_EQ(stored(1, "name"), "12345678");
  EXPECT_EQ(rt::gbkToUtf8(stored(1, "d")), "2024年2月29日");
}

TEST_F(DialogTest, FailedSaveOnAMoveStaysAndOnCloseStillCloses) {
  makeTable(3, /*readOnly=*/true);
  open();
  type(2, "9");
  button("next")->click();
  EXPECT_EQ(dlg->position(), 0);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].text, "保存现行记录失败");
  EXPECT_EQ(answers.asked[0].caption, "错误");
  EXPECT_EQ(title(), "数据库记录编辑 - [1 / 3] - 写记录失败");
  // Closing tries again, shows the engine text and closes all the same.
  dlg->show();
  dlg->accept();
  EXPECT_FALSE(dlg->isVisible());
  ASSERT_EQ(answers.asked.size(), 2u);
  EXPECT_EQ(answers.asked[1].text, "写记录失败");
  EXPECT_EQ(answers.asked[1].caption, "错误");
  EXPECT_EQ(dlg->closeCode(), db::kRecordWriteFailed);
}

TEST_F(DialogTest, ClosingSavesTheRecordShown) {
  makeTable(2);
  open();
  dlg->moveTo(1);
  type(1, "closed");
  dlg->show();
  dlg->reject();  // Esc and the window's close box end here too
  EXPECT_TRUE(answers.asked.empty());
  EXPECT_EQ(dlg->closeCode(), 0);
  EXPECT_EQ(stored(2, "name"), "closed");
}

// An empty table shows one new blank record: what is typed into it becomes
// the first record when the dialog closes or moves on; nothing typed adds
// nothing; a value that does not fit adds nothing and says why; with adding
// forbidden, or view only, nothing is ever appended.
TEST_F(DialogTest, TheBlankRecordOfAnEmptyTableKeepsWhatIsTyped) {
  makeTable(0);
  open();
  EXPECT_EQ(title(), "数据库记录编辑 - [?? / 0]");
  dlg->show();
  dlg->reject();
  EXPECT_EQ(dlg->closeCode(), 0);
  EXPECT_EQ(cmd::RecordCount(), 0);

  open();
  type(1, "first");
  type(2, "7");
  dlg->show();
  dlg->reject();
  EXPECT_TRUE(answers.asked.empty());
  EXPECT_EQ(dlg->closeCode(), 0);
  ASSERT_EQ(cmd::RecordCount(), 1);
  EXPECT_EQ(stored(1, "name"), "first");
  EXPECT_EQ(stored(1, "n"), "7");
  EXPECT_EQ(stored(1, "x"), "0");

  // Ctrl+N after typing: the typed record first, then a blank one.
  ASSERT_TRUE(cmd::DeleteRecords());
  ASSERT_TRUE(cmd::PackDatabase());
  ASSERT_EQ(cmd::RecordCount(), 0);
  open();
  type(1, "one");
  EXPECT_TRUE(dlg->appendBlank());
  EXPECT_EQ(title(), "数据库记录编辑 - [2 / 2]");
  type(1, "two");
  dlg->reject();
  ASSERT_EQ(cmd::RecordCount(), 2);
  EXPECT_EQ(stored(1, "name"), "one");
  EXPECT_EQ(stored(2, "name"), "two");
}

TEST_F(DialogTest, TheBlankRecordOfAnEmptyTableRefusesWhatDoesNotFitAndHonoursTheFlags) {
  makeTable(0);
  open();
  type(2, "many");  // not a number
  dlg->show();
  dlg->reject();
  EXPECT_NE(dlg->closeCode(), 0);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_NE(answers.asked[0].text.find("many"), std::string::npos);
  EXPECT_EQ(cmd::RecordCount(), 0);

  for (int flags : {db::kEditNoAdding, db::kEditViewOnly}) {
    open(flags);
    if (edit(1) && !edit(1)->isReadOnly()) type(1, "nobody");
    dlg->show();
    dlg->reject();
    EXPECT_EQ(cmd::RecordCount(), 0) << flags;
  }
}

TEST_F(DialogTest, EnterAtTheEndAsksUntilTheFirstYesAndCtrlNDoesNotAsk) {
  makeTable(0);
  open();
  answers.buttons = {rt::kNo, rt::kYes};
  dlg->lastLine();
  dlg->lineDown(true);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].text, "请问是否要增加新的空记录？");
  EXPECT_EQ(answers.asked[0].caption, "询问");
  EXPECT_EQ(answers.asked[0].style & rt::mb::kButtonMask, rt::mb::kYesNo);
  EXPECT_EQ(answers.asked[0].style & rt::mb::kDefButtonMask, rt::mb::kDefButton2);
  EXPECT_EQ(cmd::RecordCount(), 0);
  dlg->lineDown(true);  // asked again after No
  EXPECT_EQ(answers.asked.size(), 2u);
  EXPECT_EQ(cmd::RecordCount(), 1);
  EXPECT_EQ(title(), "数据库记录编辑 - [1 / 1]");
  EXPECT_EQ(dlg->currentLine(), 0);
  dlg->lastLine();
  dlg->lineDown(true);  // no more questions
  EXPECT_EQ(answers.asked.size(), 2u);
  EXPECT_EQ(cmd::RecordCount(), 2);
  // Ctrl+N saves the record shown first, then appends.
  type(1, "x");
  button("newRecord")->click();
  EXPECT_EQ(cmd::RecordCount(), 3);
  EXPECT_EQ(title(), "数据库记录编辑 - [3 / 3]");
  EXPECT_EQ(stored(2, "name"), "x");
  // A blank record is zero-filled and carries the next serial.
  EXPECT_EQ(header(3), 3);
  EXPECT_EQ(stored(3, "n"), "0");
}

TEST_F(DialogTest, AppendIsRefusedWhileTheRecordCannotBeSaved) {
  makeTable(1);
  open();
  type(2, "zz");
  EXPECT_FALSE(dlg->appendBlank());
  EXPECT_EQ(cmd::RecordCount(), 1);
  EXPECT_EQ(dlg->position(), 0);
}

TEST_F(DialogTest, PurgeAndEmptyOnlyAfterYes) {
  makeTable(5);
  open();
  dlg->moveTo(1);
  dlg->toggleDeleted();
  dlg->moveTo(3);
  dlg->toggleDeleted();
  answers.buttons = {rt::kNo};
  button("pack")->click();
  EXPECT_EQ(cmd::RecordCount(), 5);
  EXPECT_EQ(answers.asked.back().text, "请问确定要进行此项操作吗？");
  EXPECT_EQ(answers.asked.back().caption, "询问");
  EXPECT_EQ(dlg->position(), 3);
  // Purging first saves the record shown.
  type(1, "kept");
  dlg->moveTo(4);
  type(1, "last");
  answers.buttons = {rt::kYes};
  button("pack")->click();
  EXPECT_EQ(cmd::RecordCount(), 3);
  EXPECT_EQ(title(), "数据库记录编辑 - [1 / 3]");
  EXPECT_EQ(stored(3, "name"), "last");
  EXPECT_EQ(header(2), 3);  // serials are not renumbered
  answers.buttons = {rt::kNo};
  button("zap")->click();
  EXPECT_EQ(cmd::RecordCount(), 3);
  answers.buttons = {rt::kYes};
  button("zap")->click();
  EXPECT_EQ(cmd::RecordCount(), 0);
  EXPECT_EQ(title(), "数据库记录编辑 - [?? / 0]");
  EXPECT_EQ(answers.asked.size(), 4u);
}

TEST_F(DialogTest, ViewOnlyChangesNothingAndAsksNothing) {
  makeTable(3);
  open(db::kEditViewOnly);
  EXPECT_TRUE(edit(1)->isReadOnly());
  for (const char* b : {"newRecord", "toggleDeleted", "pack", "zap"}) EXPECT_FALSE(button(b)->isEnabled()) << b;
  edit(1)->setText("changed");  // even if text gets in
  dlg->nextRecord();
  EXPECT_EQ(dlg->position(), 1);
  EXPECT_EQ(stored(1, "name"), "r1");
  dlg->findChild<QCheckBox*>("field_5")->click();
  EXPECT_TRUE(dlg->findChild<QCheckBox*>("field_5")->isChecked() == false);  // record 2: even
  dlg->appendBlank();
  dlg->lastRecord();
  dlg->lastLine();
  dlg->lineDown(true);
  dlg->toggleDeleted();
  dlg->purge();
  dlg->empty();
  EXPECT_TRUE(answers.asked.empty());
  EXPECT_EQ(cmd::RecordCount(), 3);
  EXPECT_EQ(header(3), 3);
  dlg->show();
  dlg->accept();
  EXPECT_EQ(stored(3, "name"), "r3");
}

TEST_F(DialogTest, NoAddingAndNoDeletingBlockOnlyTheirOwnActions) {
  makeTable(3);
  open(db::kEditNoAdding);
  EXPECT_FALSE(button("newRecord")->isEnabled());
  EXPECT_TRUE(button("toggleDeleted")->isEnabled());
  EXPECT_FALSE(dlg->appendBlank());
  dlg->lastRecord();
  dlg->lastLine();
  dlg->lineDown(true);
  EXPECT_EQ(cmd::RecordCount(), 3);
  EXPECT_TRUE(answers.asked.empty());
  dlg->toggleDeleted();
  EXPECT_LT(header(3), 0);
  type(1, "ok");
  dlg->firstRecord();
  EXPECT_EQ(stored(3, "name"), "ok");

  open(db::kEditNoDeleting);
  EXPECT_FALSE(button("pack")->isEnabled());
  dlg->moveTo(1);
  dlg->toggleDeleted();
  dlg->purge();
  dlg->empty();
  EXPECT_TRUE(answers.asked.empty());
  EXPECT_EQ(header(2), 2);
  EXPECT_EQ(cmd::RecordCount(), 3);
  EXPECT_TRUE(dlg->appendBlank());
  EXPECT_EQ(cmd::RecordCount(), 4);
}

TEST_F(DialogTest, NamedFieldsAreShownInTheirOrderAndUnknownNamesSkipped) {
  makeTable(1);
  open(0, {"N", "nosuch", "name", "n"});
  ASSERT_EQ(dlg->lineCount(), 2);
  EXPECT_EQ(dlg->lineField(0), 1);
  EXPECT_EQ(dlg->lineField(1), 0);
  EXPECT_EQ(edit(1)->text().toStdString(), "1");
  open(0, {"nosuch"});
  EXPECT_EQ(dlg->lineCount(), 6);
}

TEST_F(DialogTest, KeysWalkTheLinesAndCrossRecordBorders) {
  makeTable(3);
  open();
  auto key = [&](int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QWidget* w = dlg->findChild<QWidget*>("field_" + QString::number(dlg->currentLine() + 1));
    QKeyEvent e(QEvent::KeyPress, k, m);
    QCoreApplication::sendEvent(w, &e);
  };
  key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(dlg->currentLine(), 5);  // wraps
  key(Qt::Key_Tab);
  EXPECT_EQ(dlg->currentLine(), 0);
  key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(dlg->currentLine(), 5);
  key(Qt::Key_Down);  // past the last line: the next record's first line
  EXPECT_EQ(dlg->position(), 1);
  EXPECT_EQ(dlg->currentLine(), 0);
  key(Qt::Key_Up);  // before the first line: the previous record's last line
  EXPECT_EQ(dlg->position(), 0);
  EXPECT_EQ(dlg->currentLine(), 5);
  key(Qt::Key_Home, Qt::ControlModifier);
  edit(1)->setCursorPosition(1);
  key(Qt::Key_Right);  // "r1": caret in the middle stays in the line
  EXPECT_EQ(dlg->currentLine(), 0);
  key(Qt::Key_Right);
  EXPECT_EQ(dlg->currentLine(), 1);
  edit(2)->setCursorPosition(0);
  key(Qt::Key_Left);
  EXPECT_EQ(dlg->currentLine(), 0);
  // Down on the last line of the last record does not add; Enter asks.
  dlg->lastRecord();
  dlg->lastLine();
  key(Qt::Key_Down);
  EXPECT_TRUE(answers.asked.empty());
  answers.buttons = {rt::kNo};
  key(Qt::Key_Return);
  EXPECT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(cmd::RecordCount(), 3);
}

TEST_F(DialogTest, MenusCarryEveryItemAndShortcut) {
  makeTable(1);
  open();
  auto* bar = dlg->findChild<QMenuBar*>("menu");
  ASSERT_NE(bar, nullptr);
  std::vector<std::string> menus, items;
  for (QAction* m : bar->actions()) {
    menus.push_back(m->text().toStdString());
    for (QAction* a : m->menu()->actions())
      items.push_back(a->isSeparator() ? "-" : (a->text() + "|" + a->shortcut().toString()).toStdString());
  }
  EXPECT_EQ(menus, (std::vector<std::string>{"&R.记录", "&F.字段", "&D.增删"}));
  EXPECT_EQ(items, (std::vector<std::string>{
                       "&F.到首记录|Ctrl+PgUp", "&L.到尾记录|Ctrl+PgDown", "&P.上一记录|Ctrl+Up",
                       "&N.下一记录|Ctrl+Down", "&U.上一页|PgUp", "&D.下一页|PgDown", "&G.到指定记录|Ctrl+G",
                       "&F.到首字段\tCtrl+Home|", "&L.到尾字段\tCtrl+End|", "&P.上一字段\tShift+Tab|",
                       "&N.下一字段\tTab/Enter|", "&U.上一行\t↑|", "&D.下一行\t↓|", "&A.添加空记录|Ctrl+N", "-",
                       "&D.改变删除状态|Ctrl+D", "&K.清除所有被删除记录|", "&Z.清空数据库|"}));
  // The items act: Ctrl+D's item toggles, Ctrl+N's appends.
  dlg->findChild<QAction*>("actToggle")->trigger();
  EXPECT_TRUE(dlg->deleted());
  dlg->findChild<QAction*>("actAppend")->trigger();
  EXPECT_EQ(cmd::RecordCount(), 2);
  dlg->findChild<QAction*>("actFirst")->trigger();
  EXPECT_EQ(dlg->position(), 0);
}

// The whole menu bar shows above the body, each title at its full width,
// and the dialog opens centred over the window that opened it.
TEST_F(DialogTest, MenuBarShowsWholeAboveTheBodyAndTheDialogIsCentred) {
  makeTable(2);
  QWidget owner;
  owner.setGeometry(50, 50, 800, 500);
  owner.show();
  dlg = std::make_unique<db::RecordDialog>(*db::currentTable(), "", 0, std::vector<std::string>{}, &owner);
  dlg->show();
  QCoreApplication::processEvents();

  auto* bar = dlg->findChild<QMenuBar*>("menu");
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->geometry().top(), 0);
  EXPECT_GE(bar->height(), bar->sizeHint().height());
  const QFontMetrics fm(bar->font());
  ASSERT_EQ(bar->actions().size(), 3);
  for (QAction* menu : bar->actions()) {
    const QRect r = bar->actionGeometry(menu);
    const QString text = QString(menu->text()).remove('&');
    EXPECT_TRUE(bar->rect().contains(r)) << text.toStdString();
    EXPECT_GE(r.width(), fm.horizontalAdvance(text)) << text.toStdString();
    EXPECT_GE(r.height(), fm.height()) << text.toStdString();
  }
  // Nothing of the body covers the bar.
  for (QWidget* child : dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (child == bar || !child->isVisible() || child->isWindow()) continue;
    EXPECT_GE(child->geometry().top(), bar->geometry().bottom() + 1)
        << child->metaObject()->className() << " " << child->objectName().toStdString();
  }

  // Centred over its owner.
  const QPoint centre = dlg->frameGeometry().center(), over = owner.frameGeometry().center();
  EXPECT_LE(std::abs(centre.x() - over.x()), 2);
  EXPECT_LE(std::abs(centre.y() - over.y()), 2);
  dlg.reset();
}

// Each save is seen by other workstations while the dialog stays open
// (another handle that keeps a copy of the table reads it at once), and it
// goes to the record shown even after another workstation's pack moved it.
TEST_F(DialogTest, EachSaveIsSeenAtOnceAndLandsOnTheRecordShown) {
  makeTable(3);
  std::unique_ptr<db::Table> other;
  ASSERT_EQ(db::Table::open("t.kdb", db::OpenOptions{}, &other), 0);
  auto otherSum = [&] { return dbtest::sumOfField(*other, 1); };
  EXPECT_EQ(otherSum(), 6);
  open();
  type(2, "40");
  button("next")->click();
  EXPECT_EQ(otherSum(), 45) << "the save was not marked while the dialog is open";

  dlg->moveTo(2);  // r3
  // Another workstation deletes r1 and packs: r3 moves up.
  ASSERT_EQ(other->lockRecord(0), 0);
  ASSERT_EQ(other->writeRecordHeader(0, -1), 0);
  ASSERT_EQ(other->unlockRecord(0), 0);
  ASSERT_EQ(other->pack(), 0);
  type(1, "third");
  dlg->moveTo(0);
  EXPECT_EQ(stored(1, "name"), "r2");
  EXPECT_EQ(stored(2, "name"), "third");
}

}  // namespace
