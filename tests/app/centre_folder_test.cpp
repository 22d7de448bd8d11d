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

TEST(CentreFolderTest, TheFirstFolderNamedInOrderUnlessTheProgramHasAFolderOfItsOwn) {
  char tmpl[] = "/tmp/centretest.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl, centre = dir / "centre share", other = dir / "other";
  fs::create_directories(centre);
  fs::create_directories(other);
  app::CentreSources src;
  src.programDir = (dir / "root/usr/bin").string();  // the package unpacked under another root
  src.workstationFile = (dir / "etc-centre").string();
  src.userFile = (dir / "config/clinic/centre").string();

  EXPECT_EQ(app::chooseCentreFolder(src).source, CentreChoice::kAsk);
  ASSERT_TRUE(app::rememberCentreFolder(src.userFile, centre.string()));
  CentreChoice c = app::chooseCentreFolder(src);
  EXPECT_EQ(c.source, CentreChoice::kUser);
  EXPECT_EQ(c.folder, centre.string());
  EXPECT_EQ(c.problem, "");
  // The workstation's file before it (blanks and further lines ignored).
  std::ofstream(src.workstationFile) << "  " << other.string() << " \nignored\n";
  c = app::chooseCentreFolder(src);
  EXPECT_EQ(c.source, CentreChoice::kWorkstation);
  EXPECT_EQ(c.folder, other.string());
  // The command line before everything; options are not folders.
  src.args = {"-style", centre.string()};
  EXPECT_EQ(app::chooseCentreFolder(src).folder, centre.string());
  // A program folder keeps its own tables, whatever the files say.
  src.programDir = "/srv/clinic";
  src.args.clear();
  c = app::chooseCentreFolder(src);
  EXPECT_EQ(c.source, CentreChoice::kProgramFolder);
  EXPECT_EQ(c.folder, "/srv/clinic");
  EXPECT_TRUE(app::packagedProgramFolder("/usr/bin"));
  fs::remove_all(dir);
}

TEST(CentreFolderTest, AFolderThatCannotHoldTheTablesIsNamedNotReplaced) {
  app::CentreSources src;
  src.programDir = "/usr/bin";
  // A share that is not mounted: named, and no other folder instead.
  src.args = {"/tmp/no such centre folder"};
  CentreChoice c = app::chooseCentreFolder(src);
  EXPECT_EQ(c.source, CentreChoice::kArgument);
  EXPECT_NE(c.problem.find("no such centre folder"), std::string::npos) << c.problem;
  EXPECT_NE(c.problem.find("无法访问"), std::string::npos) << c.problem;
  // Inside /usr or /opt, also through ".." or a link.
  for (const char* d : {"/usr/share", "/opt", "/usr/../opt/x"}) {
    src.args = {d};
    c = app::chooseCentreFolder(src);
    EXPECT_NE(c.problem.find("/usr 或 /opt"), std::string::npos) << d << ": " << c.problem;
  }
  char tmpl[] = "/tmp/centretest.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  fs::create_directory_symlink("/usr/share", dir / "link");
  EXPECT_TRUE(app::systemFolder((dir / "link").string()));
  EXPECT_FALSE(app::systemFolder("/usrdata"));
  EXPECT_FALSE(app::systemFolder("/srv/opt"));
  std::ofstream(dir / "file") << "x";
  EXPECT_NE(app::centreFolderProblem((dir / "file").string()), "");  // not a folder
  fs::remove_all(dir);
}

}  // namespace
