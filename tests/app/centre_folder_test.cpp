// Which folder the tables are in: a program folder keeps them beside the
// program; the packaged program takes the command line, the workstation's
// file, the user's remembered choice, or asks; a folder inside /usr or
// /opt, or one that is not there, is refused and never replaced by
// another.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/centre_folder.h"

namespace {

namespace fs = std::filesystem;
using app::CentreChoice;

class CentreFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/centretest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    centre_ = dir_ / "centre share";
    fs::create_directories(centre_);
    fs::create_directories(dir_ / "root/usr/bin");
    src_.programDir = (dir_ / "root/usr/bin").string();
    src_.workstationFile = (dir_ / "etc-centre").string();
    src_.userFile = (dir_ / "config/clinic/centre").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  static void write(const std::string& file, const std::string& text) {
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file) << text;
  }

  fs::path dir_, centre_;
  app::CentreSources src_;
};

TEST_F(CentreFolderTest, AProgramFolderKeepsItsTablesBesideTheProgram) {
  EXPECT_FALSE(app::packagedProgramFolder("/srv/clinic"));
  EXPECT_FALSE(app::packagedProgramFolder((dir_ / "build/bin").string()));
  EXPECT_TRUE(app::packagedProgramFolder("/usr/bin"));
  EXPECT_TRUE(app::packagedProgramFolder(src_.programDir));  // unpacked under another root
  src_.programDir = "/srv/clinic";
  write(src_.workstationFile, centre_.string());  // not read for a program folder
  const CentreChoice c = app::chooseCentreFolder(src_);
  EXPECT_EQ(c.source, CentreChoice::kProgramFolder);
  EXPECT_EQ(c.folder, "/srv/clinic");
}

TEST_F(CentreFolderTest, ThePackagedProgramTakesTheFirstFolderNamedInOrder) {
  // Nothing names a folder: it asks.
  EXPECT_EQ(app::chooseCentreFolder(src_).source, CentreChoice::kAsk);

  // The user's remembered choice, written as the question writes it.
  ASSERT_TRUE(app::rememberCentreFolder(src_.userFile, centre_.string()));
  CentreChoice c = app::chooseCentreFolder(src_);
  EXPECT_EQ(c.source, CentreChoice::kUser);
  EXPECT_EQ(c.folder, centre_.string());
  EXPECT_EQ(c.problem, "");

  // The workstation's file comes before it (blanks and a second line ignored).
  fs::create_directories(dir_ / "other");
  write(src_.workstationFile, "  " + (dir_ / "other").string() + " \nignored\n");
  c = app::chooseCentreFolder(src_);
  EXPECT_EQ(c.source, CentreChoice::kWorkstation);
  EXPECT_EQ(c.folder, (dir_ / "other").string());

  // The command line before everything; options are not folders.
  src_.args = {"-style", centre_.string()};
  c = app::chooseCentreFolder(src_);
  EXPECT_EQ(c.source, CentreChoice::kArgument);
  EXPECT_EQ(c.folder, centre_.string());
  EXPECT_EQ(c.problem, "");
}

TEST_F(CentreFolderTest, AFolderThatCannotHoldTheTablesIsNamedNotReplaced) {
  // A share that is not mounted: named with its source, no other folder.
  write(src_.workstationFile, (dir_ / "not mounted").string());
  ASSERT_TRUE(app::rememberCentreFolder(src_.userFile, centre_.string()));
  CentreChoice c = app::chooseCentreFolder(src_);
  EXPECT_EQ(c.source, CentreChoice::kWorkstation);
  EXPECT_NE(c.problem.find("not mounted"), std::string::npos) << c.problem;
  EXPECT_NE(c.problem.find("无法访问"), std::string::npos) << c.problem;

  // Inside /usr or /opt, also through a link or "..".
  for (const char* d : {"/usr/share", "/opt", "/usr/../opt/x"}) {
    src_.args = {d};
    c = app::chooseCentreFolder(src_);
    EXPECT_NE(c.problem.find("/usr 或 /opt"), std::string::npos) << d << ": " << c.problem;
  }
  fs::create_directory_symlink("/usr/share", dir_ / "link");
  EXPECT_TRUE(app::systemFolder((dir_ / "link").string()));
  EXPECT_FALSE(app::systemFolder("/usrdata"));
  EXPECT_FALSE(app::systemFolder("/srv/opt"));

  // A file is not a folder.
  write((dir_ / "file").string(), "x");
  EXPECT_NE(app::centreFolderProblem((dir_ / "file").string()), "");
  EXPECT_EQ(app::centreFolderProblem(centre_.string()), "");
}

}  // namespace
