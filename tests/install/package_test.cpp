// The Debian package, where dpkg-deb is there to look into it: built with
// CPack from this build, its control fields, the files it puts in place,
// and the unpacked program started headless on a demo folder, named on
// the command line or remembered for the user, keeping its tables there
// and none beside itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "process.h"

namespace {

namespace fs = std::filesystem;
using installtest::finish;
using installtest::readText;
using installtest::start;

// True when the process `pid` holds `file` open.
bool holdsOpen(pid_t pid, const fs::path& file) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code lc;
    if (fs::read_symlink(e.path(), lc) == file) return true;
  }
  return false;
}

class PackageTest : public testing::Test {
 protected:
  void SetUp() override {
    if (system("command -v dpkg-deb >/dev/null 2>&1") != 0) GTEST_SKIP() << "dpkg-deb is not installed";
    char tmpl[] = "/tmp/packagetest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    scratch_ = tmpl;
    log_ = scratch_ / "log.txt";
  }
  void TearDown() override {
    if (!scratch_.empty()) fs::remove_all(scratch_);
  }
  int run(const std::vector<std::string>& argv, const fs::path& out) {
    return finish(start(argv, scratch_, out));
  }

  // Starts the unpacked program and waits until it has the user list of
  // `centre` open (the login window); then ends it.
  void expectWorksIn(const fs::path& program, const std::vector<std::string>& args, const fs::path& centre) {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = start(argv, scratch_, log_,
                            {{"HOME", scratch_.string()}, {"XDG_CONFIG_HOME", (scratch_ / "config").string()}});
    ASSERT_GT(pid, 0);
    bool open = false;
    for (int i = 0; i < 600 && !open; ++i) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the program ended on its own\n" << readText(log_);
      open = holdsOpen(pid, centre / "user.kdb");
      if (!open) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(open) << readText(log_);
    std::error_code ec;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd", ec), centre);
    kill(pid, SIGTERM);
    EXPECT_EQ(finish(pid), 128 + SIGTERM);
  }

  fs::path scratch_, log_;
};

TEST_F(PackageTest, TheUnpackedPackageRunsOnACentreFolder) {
  // Built as scripts/package builds it.
  const fs::path out = scratch_ / "package";
  ASSERT_EQ(run({CLINIC_CPACK_COMMAND, "--config", std::string(CLINIC_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                 out.string()},
                log_),
            0)
      << readText(log_);
  const fs::path deb = out / ("clinic_" + std::string(CLINIC_VERSION) + "_amd64.deb");
  ASSERT_TRUE(fs::exists(deb)) << readText(log_);

  const fs::path fields = scratch_ / "fields.txt";
  ASSERT_EQ(run({"/usr/bin/dpkg-deb", "-f", deb.string(), "Package", "Version", "Architecture", "Depends"}, fields),
            0);
  const std::string f = readText(fields);
  EXPECT_NE(f.find("Package: clinic\n"), std::string::npos) << f;
  EXPECT_NE(f.find("Version: " + std::string(CLINIC_VERSION) + "\n"), std::string::npos) << f;
  EXPECT_NE(f.find("Architecture: amd64\n"), std::string::npos) << f;
  for (const char* p : {"fonts-arphic-uming", "qt6-translations-l10n", "qt6-qpa-plugins"})
    EXPECT_NE(f.find(p), std::string::npos) << p << "\n" << f;
  if (system("command -v dpkg-shlibdeps >/dev/null 2>&1 && command -v file >/dev/null 2>&1") == 0) {
    for (const char* p : {"libqt6widgets6", "libqt6charts6", "libsqlite3-0", "libssl3"}) EXPECT_NE(f.find(p), std::string::npos) << p;
  }

  // Unpacked into a scratch root: everything under /usr, in its place,
  // but the daily backup's settings.
  const fs::path root = scratch_ / "root";
  ASSERT_EQ(run({"/usr/bin/dpkg-deb", "-x", deb.string(), root.string()}, log_), 0) << readText(log_);
  for (const auto& e : fs::directory_iterator(root))
    EXPECT_TRUE(e.path().filename() == "usr" || e.path().filename() == "etc") << e.path();
  for (const auto& e : fs::directory_iterator(root / "etc")) EXPECT_EQ(e.path().filename(), "clinic");
  const fs::path usr = root / "usr";
  for (const char* exe : {"clinic", "kdbtool", "clinic-report"})
    EXPECT_EQ(access((usr / "bin" / exe).c_str(), X_OK), 0) << exe;
  const std::string entry = readText(usr / "share/applications/clinic.desktop");
  EXPECT_NE(entry.find("\nExec=clinic\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=clinic\n"), std::string::npos) << entry;
  EXPECT_EQ(readText(usr / "share/icons/hicolor/64x64/apps/clinic.png").substr(1, 3), "PNG");
  EXPECT_NE(readText(usr / "share/doc/clinic/copyright").find("License: GPL-3.0+"), std::string::npos);
  EXPECT_EQ(readText(usr / "share/doc/clinic/changelog.gz").substr(0, 2), "\x1f\x8b");

  // The daily backup: shipped, not enabled (no maintainer script), its
  // settings a conffile; the service's script refuses a centre folder that
  // is not there, naming the setting.
  const fs::path control = scratch_ / "control";
  ASSERT_EQ(run({"/usr/bin/dpkg-deb", "-e", deb.string(), control.string()}, log_), 0) << readText(log_);
  EXPECT_EQ(readText(control / "conffiles"), "/etc/clinic/backup\n");
  for (const char* script : {"postinst", "prerm", "postrm"}) EXPECT_FALSE(fs::exists(control / script)) << script;
  const std::string timer = readText(usr / "lib/systemd/system/clinic-backup.timer");
  EXPECT_NE(timer.find("\nPersistent=true\n"), std::string::npos) << timer;
  EXPECT_NE(timer.find("\nWantedBy=timers.target\n"), std::string::npos) << timer;
  const std::string service = readText(usr / "lib/systemd/system/clinic-backup.service");
  EXPECT_NE(service.find("\nEnvironmentFile=/etc/clinic/backup\n"), std::string::npos) << service;
  EXPECT_NE(service.find("\nExecStart=/usr/lib/clinic/clinic-backup\n"), std::string::npos) << service;
  const std::string settings = readText(root / "etc/clinic/backup");
  for (const char* line : {"\n#CENTRE=/srv/clinic\n", "\n#DEST=/var/backups/clinic\n", "\n#KEEP_DAYS=14\n",
                           "\n#KEEP_MONTHS=12\n"})
    EXPECT_NE(settings.find(line), std::string::npos) << line;
  const fs::path refused = scratch_ / "refused.txt";
  EXPECT_EQ(finish(start({(usr / "lib/clinic/clinic-backup").string()}, scratch_, refused,
                         {{"CENTRE", (scratch_ / "no such centre").string()}, {"DEST", scratch_.string()}})),
            1);
  EXPECT_NE(readText(refused).find("(CENTRE in /etc/clinic/backup) does not exist"), std::string::npos)
      << readText(refused);

  // A centre folder: the small demo year.
  const fs::path centre = scratch_ / "centre share";
  ASSERT_EQ(run({std::string(CLINIC_BUILD_DIR) + "/bin/clinic-demo", centre.string()}, log_), 0) << readText(log_);

  // Named on the command line, as a desktop entry's Exec line names it.
  expectWorksIn(usr / "bin/clinic", {centre.string()}, centre);
  // Remembered for the user, as the first start's question leaves it.
  fs::create_directories(scratch_ / "config/clinic");
  std::ofstream(scratch_ / "config/clinic/centre") << centre.string() << "\n";
  expectWorksIn(usr / "bin/clinic", {}, centre);
  // No table ever lands beside the program.
  for (const auto& e : fs::directory_iterator(usr / "bin")) EXPECT_NE(e.path().extension(), ".kdb") << e.path();

  // The packaged tool works on the same folder.
  const fs::path verify = scratch_ / "verify.txt";
  EXPECT_EQ(run({(usr / "bin/kdbtool").string(), "verify", centre.string()}, verify), 0) << readText(verify);
}

}  // namespace
