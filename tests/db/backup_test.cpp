// kdbtool backup and verify as the administrator runs them: real processes
// on a folder of tables that another process keeps writing to.
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <thread>

#include "backup_test.h"
#include "db/table.h"

using namespace dbtest;

namespace {

namespace fs = std::filesystem;

TEST_F(BackupTest, CopiesTakenWhileAnotherProcessAppendsAreWhole) {
  makeTable("user", 2);
  ASSERT_TRUE(cmd::CreateDatabase("centre/live", {fi("v", 3), fi("t", 10, 12), fi("m", 12)}));
  db::closeAllDatabases();
  pid_t kid = fork();
  ASSERT_GE(kid, 0);
  if (kid == 0) {
    db::setLockWaitMs(20000);
    if (!cmd::OpenDatabase("centre/live")) _exit(10);
    for (int i = 0; !fs::exists("stop"); ++i)
      if (!cmd::AppendRecord(i, "r" + std::to_string(i), memoFor(i))) _exit(20);
    _exit(0);
  }
  // Let the appender get going, then back up again and again while it runs.
  for (int tries = 0; tries < 500 && (!fs::exists("centre/live.kdb") || fs::file_size("centre/live.kdb") < 2000);
       ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::vector<ToolRun> runs;
  for (int b = 0; b < 4; ++b) {
    runs.push_back(kdbtool("backup centre safe"));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  writeFile("stop", {});
  int status = 0;
  ASSERT_EQ(waitpid(kid, &status, 0), kid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "appender status " << status;

  ASSERT_TRUE(cmd::OpenDatabase("centre/live"));
  const int total = cmd::RecordCount();
  db::closeAllDatabases();
  const std::vector<fs::path> folders = backups();
  ASSERT_EQ(folders.size(), runs.size());
  const size_t header = 116 + 3 * 72, recordSize = 4 + 4 + 12 + 4;
  int previous = 0;
  for (size_t b = 0; b < folders.size(); ++b) {
    SCOPED_TRACE(folders[b].string());
    const ToolRun& r = runs[b];
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "user.kdb, user.kdt: 2 records, copied and checked")) << r.out;
    EXPECT_TRUE(has(r.out, "2 of 2 tables copied and checked")) << r.out;
    EXPECT_TRUE(fs::exists(folders[b] / "user.kdb") && fs::exists(folders[b] / "user.kdt"));

    const std::string copy = (folders[b] / "live").string();
    ASSERT_TRUE(cmd::OpenDatabase(copy)) << db::lastError();
    const int n = cmd::RecordCount();
    // Every record the count names is in the file, and nothing more: no
    // append was half done when the copy was taken.
    EXPECT_EQ(fs::file_size(copy + ".kdb"), header + size_t(n) * recordSize);
    EXPECT_TRUE(has(r.out, "live.kdb, live.kdt: " + std::to_string(n) + " records, copied and checked")) << r.out;
    EXPECT_GT(n, 0);
    EXPECT_GE(n, previous);
    EXPECT_LT(n, total);  // taken while the appender was still at work
    previous = n;
    for (int k = 1; k <= n; ++k) {
      ASSERT_TRUE(cmd::MoveTo(k));
      ASSERT_EQ(cmd::ReadField("v").integer(), k - 1);
      ASSERT_EQ(cmd::ReadText("m"), memoFor(k - 1)) << "record " << k;
    }
    cmd::CloseDatabase();
  }
}

TEST_F(BackupTest, LockedAndDamagedTablesAreNamedAndTheRestIsCopied) {
  makeTable("a", 1);
  makeTable("busy", 3);
  makeTable("chain", 3);
  writeFile("centre/junk.kdb", {'n', 'o', 't', ' ', 'a', ' ', 't', 'a', 'b', 'l', 'e'});
  // The second record's memo block says it uses more bytes than a block holds.
  auto kdt = readFile("centre/chain.kdt");
  ASSERT_GE(kdt.size(), 3u * 512);
  put32(kdt, 2 * 512 + 8, 9999);
  writeFile("centre/chain.kdt", kdt);

  // Another workstation holds the whole file of busy.kdb (a pack, a long scan).
  db::OpenOptions o;
  std::unique_ptr<db::Table> holder;
  ASSERT_EQ(db::Table::open("centre/busy.kdb", o, &holder), 0);
  ASSERT_EQ(holder->lockWhole(), 0);
  ToolRun r = kdbtool("backup --wait 0 centre safe");
  holder.reset();

  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.out, "a.kdb, a.kdt: 1 record, copied and checked")) << r.out;
  EXPECT_TRUE(has(r.out, "1 of 4 tables copied and checked")) << r.out;
  EXPECT_TRUE(has(r.err, "busy.kdb not copied: -13 加锁文件失败")) << r.err;
  EXPECT_TRUE(has(r.err, "junk.kdb not copied: -22 指定文件不是数据库文件")) << r.err;
  EXPECT_TRUE(has(r.err, "chain.kdb copy not checked: -59")) << r.err;
  // Only good copies stay in the backup: nothing half-made to restore by mistake.
  const std::vector<fs::path> folders = backups();
  ASSERT_EQ(folders.size(), 1u);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folders[0])) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.kdb", "a.kdt"}));

  // Once the lock is gone the table is copied again.
  r = kdbtool("backup centre safe");
  EXPECT_TRUE(has(r.out, "busy.kdb, busy.kdt: 3 records, copied and checked")) << r.out;
}

TEST_F(BackupTest, NothingToCopyOrNowhereToPutItFails) {
  ToolRun r = kdbtool("backup centre safe");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "no tables")) << r.err;
  makeTable("a", 1);
  r = kdbtool("backup centre missing");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "does not exist")) << r.err;
  EXPECT_TRUE(backups().empty());
  EXPECT_EQ(kdbtool("backup --wait soon centre safe").status, 1);
}

TEST_F(BackupTest, VerifyReportsEveryTableAndFailsOnADamagedOne) {
  makeTable("a", 2);
  makeTable("b", 0);
  makeTable("c", 4);
  // c.kdb loses its last record and a half: the count names more than the file holds.
  fs::resize_file("centre/c.kdb", fs::file_size("centre/c.kdb") - 20);
  // a.kdb ends in the first bytes of an append that never got its count.
  auto a = readFile("centre/a.kdb");
  a.insert(a.end(), {1, 2, 3, 4, 5});
  writeFile("centre/a.kdb", a);
  const auto before = readFile("centre/a.kdb");

  ToolRun r = kdbtool("verify centre");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.out, "a.kdb: ok, 2 records; 5 bytes of an unfinished append")) << r.out;
  EXPECT_TRUE(has(r.out, "b.kdb: ok, 0 records\n")) << r.out;
  EXPECT_TRUE(has(r.out, "c.kdb: damaged: -48 数据库文件尺寸错误")) << r.out;
  EXPECT_TRUE(has(r.out, "2 of 3 tables sound")) << r.out;
  EXPECT_TRUE(has(r.err, "c.kdb damaged: -48")) << r.err;
  EXPECT_EQ(readFile("centre/a.kdb"), before);  // verify never repairs

  fs::remove("centre/c.kdb");
  fs::remove("centre/c.kdt");
  r = kdbtool("verify centre");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

}  // namespace

namespace {

// A folder with a dated name is always a complete backup: one table that
// cannot be copied (a damaged count) leaves the copies under the
// "unfinished-" name, and so does a backup killed half-way.
TEST_F(BackupTest, OnlyACompleteBackupGetsItsDatedName) {
  makeTable("user", 3);
  makeTable("yp", 5);
  auto b = readFile("centre/yp.kdb");
  const auto whole = b;
  put32(b, 16, 2);
  writeFile("centre/yp.kdb", b);
  ToolRun r = kdbtool("backup centre safe");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.out, "yp.kdb: not copied: -48")) << r.out;
  EXPECT_TRUE(has(r.out, "记录数已损坏")) << r.out;
  std::vector<fs::path> folders = backups();
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0].filename().string().rfind("unfinished-", 0), 0u) << folders[0];

  // Killed while it copies: whatever it left is not under a dated name.
  writeFile("centre/yp.kdb", whole);
  for (int i = 0; i < 40; ++i) makeTable("t" + std::to_string(i), 200);
  std::string cmd = toolPath() + " backup centre safe >/dev/null 2>&1";
  pid_t kid = fork();
  ASSERT_GE(kid, 0);
  if (kid == 0) {
    execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), nullptr);
    _exit(127);
  }
  for (int tries = 0; tries < 2000 && backups().size() < 2; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  kill(kid, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(kid, &status, 0), kid);
  for (const fs::path& f : backups()) {
    if (f.filename().string().rfind("unfinished-", 0) == 0) continue;
    // Done before the kill: then it is whole.
    int tables = 0;
    for (const auto& e : fs::directory_iterator(f)) tables += e.path().extension() == ".kdb";
    EXPECT_EQ(tables, 42) << f;
  }
  r = kdbtool("backup centre safe");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "backup complete: ")) << r.out;
}

}  // namespace
