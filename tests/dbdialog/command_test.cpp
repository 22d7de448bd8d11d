// The EditRecords command: no current database, the modal run driven
// through the hook, its arguments, and the memo and byte-set window.
#include <QPlainTextEdit>
#include <fstream>

#include "dialog_support.h"
#include "runtime/blocks.h"
#include "runtime/heap.h"

namespace {

using dtest::DialogTest;

TEST_F(DialogTest, WithoutCurrentDatabaseNothingOpensAndTheErrorIsSet) {
  bool opened = false;
  db::setEditDialogHook([&](QDialog& d) {
    opened = true;
    d.reject();
  });
  rt::invoke(rt::Cmd::EditRecords);
  QCoreApplication::processEvents();
  EXPECT_FALSE(opened);
  EXPECT_EQ(db::lastError(), db::kNoCurrentDatabase);
}

TEST_F(DialogTest, CommandRunsModallyWithCaptionFlagsAndFieldArray) {
  qtest::ExpectModal modal;  // answered by the test itself
  makeTable(2);
  std::string title;
  int lines = 0;
  bool addEnabled = true;
  db::setEditDialogHook([&](QDialog& d) {
    auto& r = static_cast<db::RecordDialog&>(d);
    title = rt::gbkToUtf8(r.titleText());
    lines = r.lineCount();
    addEnabled = d.findChild<QPushButton*>("newRecord")->isEnabled();
    d.findChild<QLineEdit*>("field_1")->setText("via");
    d.findChild<QPushButton*>("close")->click();
  });
  void* names = rt::makeArray(2, sizeof(void*));
  rt::setArrayPointer(names, 0, "name");
  rt::setArrayPointer(names, 1, "n");
  rt::invoke(rt::Cmd::EditRecords, rt::utf8ToGbk("改用户"), db::kEditNoAdding,
             rt::makePointer(names, rt::kText | rt::kArrayFlag));
  rt::free(names);
  EXPECT_EQ(title, "改用户 - [1 / 2]");
  EXPECT_EQ(lines, 2);
  EXPECT_FALSE(addEnabled);
  EXPECT_EQ(db::lastError(), 0);
  EXPECT_EQ(stored(1, "name"), "via");
  // The database stays current afterwards.
  EXPECT_EQ(cmd::RecordCount(), 2);
}

TEST_F(DialogTest, MemoWindowEditsTheFieldAndTheRecordSavesIt) {
  qtest::ExpectModal modal;  // answered by the test itself
  makeTable(1);
  std::vector<std::string> titles;
  db::setEditDialogHook([&](QDialog& d) {
    titles.push_back(d.windowTitle().toStdString());
    if (d.objectName() == "ChainWindow") {
      d.findChild<QPlainTextEdit*>("content")->setPlainText(QString::fromUtf8("第一行\n第二行"));
      d.accept();
      return;
    }
    d.findChild<QPushButton*>("more_6")->click();  // runs the memo window's own loop
    EXPECT_EQ(d.findChild<QLineEdit*>("field_6")->text().toStdString(), "第一行 ...");
    d.accept();
  });
  rt::invoke(rt::Cmd::EditRecords);
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[1], "备注字段编辑");
  EXPECT_EQ(rt::gbkToUtf8(stored(1, "m")), "第一行\n第二行");

  // View only: the window says so and its content is not taken over.
  titles.clear();
  db::setEditDialogHook([&](QDialog& d) {
    titles.push_back(d.windowTitle().toStdString());
    if (d.objectName() == "ChainWindow") {
      EXPECT_TRUE(d.findChild<QPlainTextEdit*>("content")->isReadOnly());
      d.findChild<QPlainTextEdit*>("content")->setPlainText("x");
      d.accept();
      return;
    }
    d.findChild<QPushButton*>("more_6")->click();
    d.accept();
  });
  rt::invoke(rt::Cmd::EditRecords, rt::omitted, db::kEditViewOnly);
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[1], "备注字段查看");
  EXPECT_EQ(rt::gbkToUtf8(stored(1, "m")), "第一行\n第二行");
}

TEST_F(DialogTest, ByteSetWindowShowsSizeWritesOutAndReportsFailures) {
  qtest::ExpectModal modal;  // answered by the test itself
  std::vector<rt::FieldInf> f = {{"pic", 11, 20}};
  ASSERT_TRUE(cmd::CreateDatabase("b", f));
  ASSERT_TRUE(cmd::OpenDatabase("b"));
  const char raw[] = "\x01\x02\x03\xFF\x00z";
  void* block = rt::makeByteSet(raw, 6);
  ASSERT_TRUE(cmd::AppendRecord(rt::makePointer(block, rt::kBytes)));
  rt::free(block);
  cmd::MoveFirst();
  answers.paths = {std::string("out.bin"), std::string("/nonexistent/dir/out.bin")};
  std::string title;
  db::setEditDialogHook([&](QDialog& d) {
    if (d.objectName() == "ChainWindow") {
      title = d.windowTitle().toStdString();
      d.findChild<QPushButton*>("writeOut")->click();
      d.findChild<QPushButton*>("writeOut")->click();
      d.findChild<QPushButton*>("preview")->click();  // not a picture
      d.findChild<QPushButton*>("clear")->click();
      d.accept();
      return;
    }
    d.findChild<QPushButton*>("more_1")->click();
    EXPECT_EQ(d.findChild<QLineEdit*>("field_1")->text().toStdString(), "[数据尺寸: 0]");
    d.accept();
  });
  rt::invoke(rt::Cmd::EditRecords);
  EXPECT_EQ(title, "字节集字段编辑 - [数据尺寸: 6]");
  std::ifstream in("out.bin", std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, std::string(raw, 6));
  EXPECT_EQ(answers.texts_asked(), (std::vector<std::string>{"写出文件失败", "创建图片预览失败"}));
  cmd::MoveTo(1);
  EXPECT_EQ(cmd::ReadField("pic").arg().lo, 0u);  // the cleared byte-set was saved empty
}

}  // namespace
