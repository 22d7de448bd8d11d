// Packing killed at any moment: a child process packs a table of several
// scan batches and is killed at a chosen write (after writing half of its
// bytes); reopening must give every live record exactly once, in order,
// with its serial and its memo, and the right count. Some runs are killed
// again while the reopening completes the interrupted pack, some have a
// second opener that had the table open all along.
#include <signal.h>
#include <sys/wait.h>

#include <random>

#include "db/os.h"
#include "forwarding_env.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

using dbtest::KillAtChange;

class PackCrashTest : public DbTest {
 protected:
  // 92-byte records, 1780 to a scan batch: 6000 records make four batches.
  static constexpr int kRecords = 6000;
  static constexpr size_t kHdr = 116 + 3 * 72, kRs = 92;

  static std::string memoOf(int id) { return std::string(size_t(200 + id % 900), char('a' + id % 26)); }
  static bool hasMemo(int id) { return id % 25 == 0; }

  void SetUp() override {
    DbTest::SetUp();
    ASSERT_TRUE(cmd::CreateDatabase("p", {fi("id", 3), fi("t", 10, 80), fi("m", 12)}));
    ASSERT_TRUE(cmd::OpenDatabase("p"));
    for (int i = 0; i < kRecords; ++i)
      ASSERT_TRUE(hasMemo(i) ? cmd::AppendRecord(i, "r" + std::to_string(i), memoOf(i))
                             : cmd::AppendRecord(i, "r" + std::to_string(i)));
    // Deletions in clusters, scattered, one run longer than a batch (the
    // records after it move straight into the gap), none at all in the
    // third batch.
    gone_.assign(kRecords, false);
    std::mt19937 rng(7);
    for (int i = 100; i < 130; ++i) gone_[size_t(i)] = true;
    for (int i = 400; i < 2400; ++i) gone_[size_t(i)] = true;
    for (int i = 2400; i < 3560; i += 7) gone_[size_t(i)] = true;
    for (int k = 0; k < 40; ++k) gone_[size_t(5340 + rng() % 660)] = true;
    gone_[0] = gone_[kRecords - 1] = true;
    for (int i = 0; i < kRecords; ++i) {
      if (!gone_[size_t(i)]) continue;
      ASSERT_TRUE(cmd::MoveTo(i + 1));
      ASSERT_TRUE(cmd::DeleteRecords());
    }
    db::closeAllDatabases();
    db_ = readFile("p.kdb");
    aux_ = readFile("p.kdt");
    for (int i = 0; i < kRecords; ++i)
      if (!gone_[size_t(i)]) live_.push_back(i);
  }

  void restore() {
    writeFile("p.kdb", db_);
    writeFile("p.kdt", aux_);
    std::filesystem::remove("p.kdb.pack");
  }

  // The child: opens (completing any interrupted pack) and packs, killed
  // at change `killAt` counted from the open (`armOnOpen`) or the pack.
  void runChild(long killAt, bool armOnOpen, bool pack, int* status) {
    pid_t p = fork();
    ASSERT_GE(p, 0);
    if (p == 0) {
      static KillAtChange env(0);
      env = KillAtChange(killAt);
      db::os::setEnv(&env);
      env.armed = armOnOpen;
      if (!cmd::OpenDatabase("p")) _exit(3);
      env.armed = true;
      if (pack && !cmd::PackDatabase()) _exit(4);
      _exit(0);
    }
    ASSERT_EQ(waitpid(p, status, 0), p);
  }

  // Every live record once, in order, with serial, id and memo; or, when
  // the kill came before the pack had changed anything, the table as it
  // was.
  void checkPacked(const std::string& what, bool mayBeUntouched = false) {
    ASSERT_TRUE(cmd::OpenDatabase("p")) << what << ": " << db::lastError();
    if (mayBeUntouched && cmd::RecordCount() == kRecords) {
      db::closeAllDatabases();
      EXPECT_EQ(readFile("p.kdb"), db_) << what;
      EXPECT_FALSE(std::filesystem::exists("p.kdb.pack")) << what;
      ++untouched_;
      return;
    }
    ASSERT_EQ(cmd::RecordCount(), int(live_.size())) << what;
    for (size_t k = 0; k < live_.size(); k += 1) {
      int id = live_[k];
      if (!hasMemo(id) && k % 97 != 0) continue;
      ASSERT_TRUE(cmd::MoveTo(int(k) + 1));
      ASSERT_EQ(cmd::ReadField("id").integer(), id) << what;
      ASSERT_EQ(cmd::ReadText("m"), hasMemo(id) ? memoOf(id) : "") << what << " id " << id;
    }
    db::closeAllDatabases();
    auto b = readFile("p.kdb");
    ASSERT_EQ(b.size(), kHdr + live_.size() * kRs) << what;
    EXPECT_EQ(at32(b, 20), kRecords + 1) << what;
    for (size_t k = 0; k < live_.size(); ++k) {
      ASSERT_EQ(at32(b, kHdr + k * kRs), live_[k] + 1) << what << " record " << k;
      ASSERT_EQ(at32(b, kHdr + k * kRs + 4), live_[k]) << what << " record " << k;
    }
    EXPECT_FALSE(std::filesystem::exists("p.kdb.pack")) << what;
  }

  std::vector<bool> gone_;
  std::vector<int> live_;
  int untouched_ = 0;
  std::vector<uint8_t> db_, aux_;
};

TEST_F(PackCrashTest, KilledAtEveryChangeLosesAndDoublesNothing) {
  // How many file changes one pack makes.
  KillAtChange counter(0);
  db::os::Env* old = db::os::setEnv(&counter);
  ASSERT_TRUE(cmd::OpenDatabase("p"));
  counter.armed = true;
  ASSERT_TRUE(cmd::PackDatabase());
  db::closeAllDatabases();
  db::os::setEnv(old);
  const long changes = counter.changes;
  ASSERT_GT(changes, 6);
  checkPacked("uninterrupted");

  std::mt19937 rng(20100503);
  // Every one of the pack's changes: a step that says a batch is done
  // before its records are written shows at the change between the two.
  for (int run = 0; run < changes; ++run) {
    restore();
    long at = run + 1;
    std::string what = "killed at change " + std::to_string(at) + " of " + std::to_string(changes);
    // A second opener that had the table open all along (another
    // workstation) finds the pack completed when it next counts.
    std::unique_ptr<db::Table> other;
    if (run % 4 == 3) {
      db::OpenOptions o;
      ASSERT_EQ(db::Table::open("p.kdb", o, &other), 0);
    }
    int status = 0;
    runChild(at, false, true, &status);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << what << " status " << status;
    if (other) {
      int32_t n = 0;
      EXPECT_EQ(other->readCount(&n), 0) << what;
      EXPECT_TRUE(n == int32_t(live_.size()) || (n == kRecords && readFile("p.kdb") == db_)) << what << ": " << n;
      other.reset();
    }
    if (run % 3 == 2) {
      // Killed again while reopening completes the pack.
      long again = 1 + long(rng() % 12);
      runChild(again, true, false, &status);
      what += ", then at change " + std::to_string(again) + " of the reopening";
    }
    int untouchedBefore = untouched_;
    checkPacked(what, true);
    // The table goes on: appends take the next serial, memos are stored.
    ASSERT_TRUE(cmd::OpenDatabase("p"));
    ASSERT_TRUE(cmd::AppendRecord(kRecords, "new", memoOf(3)));
    EXPECT_EQ(cmd::ReadText("m"), memoOf(3));
    EXPECT_EQ(cmd::RecordCount(), (untouched_ > untouchedBefore ? kRecords : int(live_.size())) + 1);
    db::closeAllDatabases();
  }
  EXPECT_LT(untouched_, 8);  // most kills hit the pack while it moved records
}

TEST_F(PackCrashTest, ARedoRecordOfAnotherPackIsRefusedNotReplayed) {
  KillAtChange counter(0);
  db::os::Env* old = db::os::setEnv(&counter);
  ASSERT_TRUE(cmd::OpenDatabase("p"));
  counter.armed = true;
  ASSERT_TRUE(cmd::PackDatabase());
  db::closeAllDatabases();
  db::os::setEnv(old);
  restore();
  // Killed at the last change that leaves the pack under way (the later
  // ones hand the dropped memos' blocks back after it has ended).
  std::vector<uint8_t> table;
  for (long at = counter.changes; at > 0 && (table.empty() || at32(table, 20) > 0); --at) {
    restore();
    int status = 0;
    runChild(at, false, true, &status);
    ASSERT_TRUE(WIFSIGNALED(status));
    table = readFile("p.kdb");
  }
  ASSERT_LT(at32(table, 20), 0) << "the pack was under way";
  auto log = readFile("p.kdb.pack");
  ASSERT_GE(log.size(), 128u);
  // Both slots made to name another pack (another next serial), each with
  // a good check word: the table's own pack is not this one.
  for (size_t slot = 0; slot < 128; slot += 64) {
    if (at32(log, slot) != at32(std::vector<uint8_t>{'W', 'K', 'D', 'P'}, 0)) continue;
    put32(log, slot + 16, at32(log, slot + 16) + 1);
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < 36; ++i) h = (h ^ log[slot + i]) * 16777619u;
    put32(log, slot + 36, int32_t(h));
  }
  writeFile("p.kdb.pack", log);
  EXPECT_FALSE(cmd::OpenDatabase("p"));
  EXPECT_EQ(db::lastError(), db::kNotDatabase);
  EXPECT_EQ(readFile("p.kdb"), table);  // nothing replayed
}

TEST_F(PackCrashTest, ReadOnlyOpenerOfAnInterruptedPackIsRefused) {
  int status = 0;
  runChild(5, false, true, &status);
  ASSERT_TRUE(WIFSIGNALED(status));
  auto before = readFile("p.kdb");
  EXPECT_FALSE(cmd::OpenDatabase("p", "", true));
  EXPECT_EQ(db::lastError(), db::kFileSizeWrong);
  EXPECT_EQ(readFile("p.kdb"), before);
  checkPacked("completed by a read-write opener");
}

}  // namespace
