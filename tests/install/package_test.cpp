// The Debian package, where dpkg-deb is there to look into it: built with
// CPack from this build, its control fields, the files it puts in place
// (every program with its manual page), and the unpacked program started
// headless on a demo folder made by the packaged clinic-demo, named on the
// command line or remembered for the user, keeping its tables there and
// none beside itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

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
  int run(const std::vector<std::string>& argv, const fs::path& out) { return finish(start(argv, scratch_, out)); }

  // Builds the package as scripts/package builds it and unpacks it into
  // scratch/root; the .deb's path, or empty (with the failure recorded).
  fs::path buildAndUnpack() {
    const fs::path out = scratch_ / "package";
    const int rc = run(
        {CLINIC_CPACK_COMMAND, "--config", std::string(CLINIC_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.string()},
        log_);
    const fs::path deb = out / ("clinic_" + std::string(CLINIC_VERSION) + "_amd64.deb");
    EXPECT_EQ(rc, 0) << readText(log_);
    if (rc != 0 || !fs::exists(deb)) {
      ADD_FAILURE() << "no package built\n" << readText(log_);
      return {};
    }
    EXPECT_EQ(run({"/usr/bin/dpkg-deb", "-x", deb.string(), (scratch_ / "root").string()}, log_), 0) << readText(log_);
    return deb;
  }

  // Starts the unpacked program and waits until it has the user list of
  // `centre` open (the login window); then ends it.
  void expectWorksIn(const fs::path& program, const std::vector<std::string>& args, const fs::path& centre) {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid =
        start(argv, scratch_, log_, {{"HOME", scratch_.string()}, {"XDG_CONFIG_HOME", (scratch_ / "config").string()}});
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
  const fs::path deb = buildAndUnpack();
  ASSERT_FALSE(deb.empty());

  const fs::path fields = scratch_ / "fields.txt";
  ASSERT_EQ(run({"/usr/bin/dpkg-deb", "-f", deb.string(), "Package", "Version", "Architecture", "Depends"}, fields), 0);
  const std::string f = readText(fields);
  EXPECT_NE(f.find("Package: clinic\n"), std::string::npos) << f;
  EXPECT_NE(f.find("Version: " + std::string(CLINIC_VERSION) + "\n"), std::string::npos) << f;
  EXPECT_NE(f.find("Architecture: amd64\n"), std::string::npos) << f;
  for (const char* p : {"fonts-arphic-uming", "qt6-translations-l10n", "qt6-qpa-plugins"})
    EXPECT_NE(f.find(p), std::string::npos) << p << "\n" << f;
  if (system("command -v dpkg-shlibdeps >/dev/null 2>&1 && command -v file >/dev/null 2>&1") == 0) {
    for (const char* p : {"libqt6widgets6", "libqt6charts6", "libsqlite3-0", "libssl3"})
      EXPECT_NE(f.find(p), std::string::npos) << p;
  }

  // Unpacked into a scratch root: everything under /usr, in its place,
  // but the daily backup's settings.
  const fs::path root = scratch_ / "root";
  for (const auto& e : fs::directory_iterator(root))
    EXPECT_TRUE(e.path().filename() == "usr" || e.path().filename() == "etc") << e.path();
  for (const auto& e : fs::directory_iterator(root / "etc")) EXPECT_EQ(e.path().filename(), "clinic");
  const fs::path usr = root / "usr";
  for (const char* exe : {"clinic", "kdbtool", "clinic-report", "clinic-demo"}) {
    EXPECT_EQ(access((usr / "bin" / exe).c_str(), X_OK), 0) << exe;
    // Each manual page gzipped, and the page of that program.
    const fs::path page = usr / "share/man/man1" / (std::string(exe) + ".1.gz");
    EXPECT_EQ(readText(page).substr(0, 2), "\x1f\x8b") << page;
    const fs::path text = scratch_ / (std::string(exe) + ".1");
    ASSERT_EQ(run({"/bin/sh", "-c", "gzip -dc '" + page.string() + "'"}, text), 0) << page;
    EXPECT_NE(readText(text).find("\n" + std::string(exe) + " \\- "), std::string::npos) << page;
  }
  const std::string entry = readText(usr / "share/applications/clinic.desktop");
  EXPECT_NE(entry.find("\nExec=clinic\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=clinic\n"), std::string::npos) << entry;
  EXPECT_EQ(readText(usr / "share/icons/hicolor/64x64/apps/clinic.png").substr(1, 3), "PNG");
  EXPECT_NE(readText(usr / "share/doc/clinic/copyright").find("License: GPL-3.0+"), std::string::npos);
  // Where the login window sends the administrator: the manager code in
  // the package's own documentation.
  EXPECT_NE(readText(usr / "share/doc/clinic/README.Debian").find("\n    vaxol\n"), std::string::npos);
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
  for (const char* line :
       {"\n#CENTRE=/srv/clinic\n", "\n#DEST=/var/backups/clinic\n", "\n#KEEP_DAYS=14\n", "\n#KEEP_MONTHS=12\n"})
    EXPECT_NE(settings.find(line), std::string::npos) << line;
  const fs::path refused = scratch_ / "refused.txt";
  EXPECT_EQ(finish(start({(usr / "lib/clinic/clinic-backup").string()}, scratch_, refused,
                         {{"CENTRE", (scratch_ / "no such centre").string()}, {"DEST", scratch_.string()}})),
            1);
  EXPECT_NE(readText(refused).find("(CENTRE in /etc/clinic/backup) does not exist"), std::string::npos)
      << readText(refused);

  // A centre folder: the small demo year up to today, made by the packaged
  // clinic-demo.
  const fs::path centre = scratch_ / "centre share";
  ASSERT_EQ(run({(usr / "bin/clinic-demo").string(), centre.string()}, log_), 0) << readText(log_);
  EXPECT_NE(readText(log_).find(" as of "), std::string::npos) << readText(log_);

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

// Two accounts of one group on a folder made by `kdbtool init-folder`,
// each with the usual umask 022: every file either makes (tables, the
// change marks) the other can write, and verify finds nothing to name.
// Acting as other accounts needs root (setpriv); elsewhere it is skipped.
TEST_F(PackageTest, TwoAccountsShareAFolderMadeByInitFolder) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "acting as two accounts needs root and setpriv";
  ASSERT_FALSE(buildAndUnpack().empty());
  const std::string kdbtool = (scratch_ / "root/usr/bin/kdbtool").string();
  fs::permissions(scratch_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const fs::path centre = scratch_ / "centre";
  const std::string group = "61000";
  ASSERT_EQ(run({kdbtool, "init-folder", centre.string(), "--group", group}, log_), 0) << readText(log_);

  const mode_t umaskWas = umask(022);
  auto as = [&](int uid, std::vector<std::string> argv) {
    std::vector<std::string> full = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                                     "--regid=" + std::to_string(uid), "--groups=" + group, "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    return run(full, log_);
  };
  const std::string a = (centre / "a.kdb").string(), b = (centre / "b.kdb").string();
  EXPECT_EQ(as(61001, {kdbtool, "create", a, "name:10:6"}), 0) << readText(log_);
  EXPECT_EQ(as(61001, {kdbtool, "append", a, "first"}), 0) << readText(log_);
  EXPECT_EQ(as(61002, {kdbtool, "append", a, "second"}), 0) << readText(log_);
  EXPECT_EQ(as(61002, {kdbtool, "create", b, "name:10:6"}), 0) << readText(log_);
  EXPECT_EQ(as(61002, {kdbtool, "append", b, "third"}), 0) << readText(log_);
  EXPECT_EQ(as(61001, {kdbtool, "append", b, "fourth"}), 0) << readText(log_);
  // A backup one account makes, restored by the other: the restored tables
  // and the folder of the replaced ones stay the group's.
  const fs::path backups = scratch_ / "backups";
  ASSERT_EQ(run({kdbtool, "init-folder", backups.string(), "--group", group}, log_), 0) << readText(log_);
  EXPECT_EQ(as(61002, {kdbtool, "backup", centre.string(), backups.string()}), 0) << readText(log_);
  std::string made;
  for (const auto& e : fs::directory_iterator(backups)) made = e.path().string();
  EXPECT_EQ(as(61001, {kdbtool, "restore", made, centre.string()}), 0) << readText(log_);
  EXPECT_EQ(as(61002, {kdbtool, "append", a, "fifth"}), 0) << readText(log_);
  int asides = 0;
  for (const auto& e : fs::directory_iterator(centre)) {
    if (!e.is_directory()) continue;
    ++asides;
    EXPECT_EQ(as(61002, {"/bin/rm", "-r", e.path().string()}), 0) << e.path();
  }
  EXPECT_EQ(asides, 1);
  umask(umaskWas);

  size_t files = 0;
  for (const auto& e : fs::directory_iterator(centre)) {
    struct stat st;
    ASSERT_EQ(stat(e.path().c_str(), &st), 0);
    ++files;
    EXPECT_EQ(st.st_gid, 61000u) << e.path();
    EXPECT_EQ(st.st_mode & (S_IRGRP | S_IWGRP), mode_t(S_IRGRP | S_IWGRP)) << e.path();
  }
  EXPECT_GE(files, 4u);  // the two tables, the change marks and the folder's use file
  const fs::path found = scratch_ / "found.txt";
  EXPECT_EQ(run({kdbtool, "find", a, "name=second"}, found), 0) << readText(found);
  const fs::path verify = scratch_ / "verify.txt";
  EXPECT_EQ(finish(start({"/usr/bin/setpriv", "--reuid=61002", "--regid=61002", "--groups=" + group, "--", kdbtool,
                          "verify", centre.string()},
                         scratch_, verify)),
            0)
      << readText(verify);

  // A file copied in by hand as one account alone is named, with the fix.
  std::ofstream(centre / "copied.kdb") << "x";
  fs::permissions(centre / "copied.kdb", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::path named = scratch_ / "named.txt";
  EXPECT_EQ(run({kdbtool, "verify", centre.string()}, named), 1);
  EXPECT_NE(readText(named).find("copied.kdb: other accounts of the group"), std::string::npos) << readText(named);
  EXPECT_NE(readText(named).find("kdbtool init-folder"), std::string::npos) << readText(named);
}

}  // namespace
