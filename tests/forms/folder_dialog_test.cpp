// The centre folder's chooser: a typed folder that is not there is made
// only when the operator says yes, and a folder that cannot be made is
// named and not chosen.
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "forms/qt/folder_dialog.h"
#include "qt_support.h"

namespace {

namespace fs = std::filesystem;
using qtest::FormsTest;

class FolderDialogTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    char tmpl[] = "/tmp/folderdialog.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override {
    fs::remove_all(root_);
    FormsTest::TearDown();
  }
  // Types `name` into the dialog's name box and presses the accept button.
  bool typeAndAccept(forms::FolderDialog& dlg, const QString& name) {
    auto* edit = dlg.findChild<QLineEdit*>("fileNameEdit");
    EXPECT_NE(edit, nullptr);
    if (!edit) return false;
    edit->setText(name);
    dlg.accept();
    return dlg.result() == QDialog::Accepted;
  }
  fs::path root_;
};

TEST_F(FolderDialogTest, ATypedNewFolderIsMadeOnlyAfterYes) {
  {
    forms::FolderDialog dlg("centre", QString::fromStdString(root_.string()));
    dialogs.answers = {rt::kNo};
    EXPECT_FALSE(typeAndAccept(dlg, QString::fromUtf8("康复中心")));
    EXPECT_FALSE(fs::exists(root_ / "康复中心"));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_NE(rt::gbkToUtf8(dialogs.asked[0].text).find("康复中心”不存在"), std::string::npos);
    EXPECT_EQ(dialogs.asked[0].style & rt::mb::kButtonMask, rt::mb::kYesNo);

    dialogs.answers = {rt::kYes};
    EXPECT_TRUE(typeAndAccept(dlg, QString::fromUtf8("康复中心")));
    EXPECT_TRUE(fs::is_directory(root_ / "康复中心"));
    ASSERT_EQ(dlg.selectedFiles().size(), 1);
    EXPECT_EQ(dlg.selectedFiles()[0].toStdString(), (root_ / "康复中心").string());
  }
  {
    // An existing folder is chosen without a question (the script is empty).
    forms::FolderDialog dlg("centre", QString::fromStdString(root_.string()));
    EXPECT_TRUE(typeAndAccept(dlg, QString::fromUtf8("康复中心")));
    EXPECT_EQ(dialogs.asked.size(), 2u);
  }
}

TEST_F(FolderDialogTest, AFolderThatCannotBeMadeIsNamedAndNotChosen) {
  std::ofstream(root_ / "plain file") << "x";
  forms::FolderDialog dlg("centre", QString::fromStdString(root_.string()));
  dialogs.answers = {rt::kYes, rt::kOk};
  EXPECT_FALSE(typeAndAccept(dlg, QString::fromStdString((root_ / "plain file" / "centre").string())));
  ASSERT_EQ(dialogs.asked.size(), 2u);
  EXPECT_NE(rt::gbkToUtf8(dialogs.asked[1].text).find("无法新建文件夹"), std::string::npos)
      << rt::gbkToUtf8(dialogs.asked[1].text);
  EXPECT_FALSE(fs::exists(root_ / "plain file" / "centre"));
}

}  // namespace
