// The installed program folder: `cmake --install` of this build into a
// scratch folder, the desktop entry it writes, and the installed program
// started from somewhere else, finding (and making) its tables beside
// itself.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process.h"

namespace {

namespace fs = std::filesystem;

using installtest::finish;
using installtest::readText;
using installtest::start;

// The key=value lines of the [Desktop Entry] group.
std::map<std::string, std::string> desktopEntry(const fs::path& p) {
  std::map<std::string, std::string> keys;
  std::istringstream in(readText(p));
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[Desktop Entry]";
      continue;
    }
    size_t eq = line.find('=');
    if (inGroup && eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}

class InstallTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/installtest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    scratch_ = tmpl;
    // A blank in the folder name, as in "/srv/clinic share".
    prefix_ = scratch_ / "centre programs";
    elsewhere_ = scratch_ / "elsewhere";
    fs::create_directories(elsewhere_);
    log_ = scratch_ / "log.txt";
    pid_t p =
        start({CLINIC_CMAKE_COMMAND, "--install", CLINIC_BUILD_DIR, "--prefix", prefix_.string()}, scratch_, log_);
    ASSERT_EQ(finish(p), 0) << readText(log_);
  }
  void TearDown() override { fs::remove_all(scratch_); }

  fs::path scratch_, prefix_, elsewhere_, log_;
};

TEST_F(InstallTest, TheFolderHoldsProgramToolIconAndMenuEntry) {
  for (const char* exe : {"clinic", "kdbtool", "clinic-report"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix_ / exe)) << exe;
    EXPECT_EQ(access((prefix_ / exe).c_str(), X_OK), 0) << exe;
  }
  ASSERT_TRUE(fs::is_regular_file(prefix_ / "clinic.png"));
  EXPECT_EQ(readText(prefix_ / "clinic.png").substr(1, 3), "PNG");

  const fs::path entry = prefix_ / "clinic.desktop";
  ASSERT_TRUE(fs::is_regular_file(entry));
  auto keys = desktopEntry(entry);
  EXPECT_EQ(keys["Type"], "Application");
  EXPECT_EQ(keys["Name"], "Clinic");
  EXPECT_EQ(keys["Name[zh_CN]"], "医院管理系统");
  EXPECT_EQ(keys["Exec"], "\"" + (prefix_ / "clinic").string() + "\"");
  EXPECT_EQ(keys["Path"], prefix_.string());
  EXPECT_EQ(keys["Icon"], (prefix_ / "clinic.png").string());
  EXPECT_EQ(keys["Terminal"], "false");
  // The desktop's own checker, where it is installed.
  if (system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
    std::string cmd = "desktop-file-validate '" + entry.string() + "' > '" + log_.string() + "' 2>&1";
    EXPECT_EQ(system(cmd.c_str()), 0) << readText(log_);
  }
}

// --help and --version answer on standard output without starting: no
// display is needed (a platform that does not exist would stop Qt) and no
// table is made.
TEST_F(InstallTest, HelpAndVersionAnswerWithoutAWindow) {
  const std::map<std::string, std::string> noDisplay = {{"QT_QPA_PLATFORM", "none-such"}};
  const fs::path version = scratch_ / "version.txt", help = scratch_ / "help.txt";
  EXPECT_EQ(finish(start({(prefix_ / "clinic").string(), "--version"}, elsewhere_, version, noDisplay)), 0);
  EXPECT_EQ(readText(version), std::string("clinic ") + CLINIC_VERSION + "\n");
  EXPECT_EQ(finish(start({(prefix_ / "clinic").string(), "--help"}, elsewhere_, help, noDisplay)), 0);
  const std::string text = readText(help);
  EXPECT_EQ(text.rfind("usage: clinic [CENTRE_FOLDER]\n", 0), 0u) << text;
  EXPECT_NE(text.find("man clinic (FIRST USER)"), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(prefix_ / "user.kdb"));
  EXPECT_FALSE(fs::exists(elsewhere_ / "user.kdb"));
}

TEST_F(InstallTest, TheInstalledProgramKeepsItsTablesBesideItself) {
  // Started the way the menu entry starts it, from another working folder.
  std::string exec = desktopEntry(prefix_ / "clinic.desktop")["Exec"];
  ASSERT_GE(exec.size(), 2u);
  exec = exec.substr(1, exec.size() - 2);
  pid_t pid = start({exec}, elsewhere_, log_);
  ASSERT_GT(pid, 0);
  // The login window makes the empty user list and then waits for a user.
  bool made = false;
  for (int i = 0; i < 600 && !made; ++i) {
    made = fs::exists(prefix_ / "user.kdb");
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the program ended on its own\n" << readText(log_);
    if (!made) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(made) << readText(log_);
  // Let its first writes settle, then read the table with the installed tool
  // while the program keeps it open.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(elsewhere_ / "user.kdb"));
  const fs::path info = scratch_ / "info.txt";
  pid_t tool = start({(prefix_ / "kdbtool").string(), "info", (prefix_ / "user.kdb").string()}, scratch_, info);
  EXPECT_EQ(finish(tool), 0) << readText(info);
  const std::string text = readText(info);
  EXPECT_NE(text.find("records: 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("field 1: use kind 10"), std::string::npos) << text;
  EXPECT_NE(text.find("field 2: ma kind 10"), std::string::npos) << text;

  // Still waiting at the login; ended the way the session ends it.
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << readText(log_);
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid), 128 + SIGTERM);
}

}  // namespace
