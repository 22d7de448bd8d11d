// Several openers of one file: real processes appending and modifying at
// once, a process killed between an append's record and count writes, and
// the lock and share-mode rules between two open handles (locks belong to
// the open file, so two handles in one process exclude each other exactly
// as two programs do).
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "db/os.h"
#include "forwarding_env.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

class ConcurrencyTest : public DbTest {
 protected:
  void makeTable() { ASSERT_TRUE(cmd::CreateDatabase("c", {fi("v", 3), fi("t", 10, 12)})); }
  std::unique_ptr<db::Table> handle(int share = db::kShareAll, bool readOnly = false, int* rc = nullptr) {
    db::OpenOptions o;
    o.shareMode = share;
    o.readOnly = readOnly;
    std::unique_ptr<db::Table> t;
    int r = db::Table::open("c.kdb", o, &t);
    if (rc) *rc = r;
    return t;
  }
  // Runs `body` in `n` child processes; each child's exit status is its
  // result (0 = success).
  template <typename F>
  void inChildren(int n, F body) {
    db::closeAllDatabases();
    std::vector<pid_t> kids;
    for (int k = 0; k < n; ++k) {
      pid_t p = fork();
      ASSERT_GE(p, 0);
      if (p == 0) _exit(body(k));
      kids.push_back(p);
    }
    for (pid_t p : kids) {
      int status = 0;
      ASSERT_EQ(waitpid(p, &status, 0), p);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
  }
};

TEST_F(ConcurrencyTest, FourProcessesAppendingLoseNothing) {
  makeTable();
  const int kEach = 250;
  inChildren(4, [&](int k) {
    if (!cmd::OpenDatabase("c")) return 10;
    for (int i = 0; i < kEach; ++i)
      if (!cmd::AppendRecord(k * 10000 + i, "p" + std::to_string(k))) return 20 + (-db::lastError());
    return 0;
  });
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  ASSERT_EQ(cmd::RecordCount(), 4 * kEach);
  auto b = readFile("c.kdb");
  const size_t hdr = 116 + 2 * 72, rs = 20;
  ASSERT_EQ(b.size(), hdr + 4 * kEach * rs);
  EXPECT_EQ(at32(b, 20), 4 * kEach + 1);
  std::vector<int> serials;
  std::set<int> values;
  for (int i = 0; i < 4 * kEach; ++i) {
    serials.push_back(at32(b, hdr + size_t(i) * rs));
    values.insert(at32(b, hdr + size_t(i) * rs + 4));
  }
  std::sort(serials.begin(), serials.end());
  for (int i = 0; i < 4 * kEach; ++i) ASSERT_EQ(serials[size_t(i)], i + 1);
  EXPECT_EQ(values.size(), size_t(4 * kEach));
}

TEST_F(ConcurrencyTest, ModifyingDifferentRecordsKeepsNeighbours) {
  makeTable();
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "start"));
  inChildren(4, [&](int k) {
    db::setLockWaitMs(5000);
    if (!cmd::OpenDatabase("c") || !cmd::MoveTo(k + 1)) return 10;
    for (int i = 0; i < 300; ++i)
      if (!cmd::ModifyRecord(k * 1000 + i, "child" + std::to_string(k))) return 20;
    return 0;
  });
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  for (int k = 0; k < 4; ++k) {
    ASSERT_TRUE(cmd::MoveTo(k + 1));
    EXPECT_EQ(cmd::ReadField("v").integer(), k * 1000 + 299);
    EXPECT_EQ(cmd::ReadText("t"), "child" + std::to_string(k));
  }
}

// A file layer that ends the process when an append is about to write the
// count of its n-th record (the record itself is already written).
class KillBeforeCount : public dbtest::ForwardingEnv {
 public:
  explicit KillBeforeCount(int n) : left_(n) {}
  struct F : dbtest::ForwardingFile {
    KillBeforeCount* env;
    int write(int64_t o, const void* b, size_t n) override {
      if (o == 16 && n == 8 && --env->left_ == 0) raise(SIGKILL);
      return in->write(o, b, n);
    }
  };
  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    auto f = std::make_unique<F>();
    f->env = this;
    int rc = base().open(p, w, c, &f->in);
    if (rc == 0) *out = std::move(f);
    return rc;
  }
  int left_;
};

TEST_F(ConcurrencyTest, KilledBetweenRecordAndCountKeepsCountedRecordsOnly) {
  makeTable();
  db::closeAllDatabases();
  pid_t p = fork();
  ASSERT_GE(p, 0);
  if (p == 0) {
    static KillBeforeCount env(50);
    db::os::setEnv(&env);
    if (!cmd::OpenDatabase("c")) _exit(3);
    for (int i = 1; i <= 100; ++i) cmd::AppendRecord(i, "x");
    _exit(4);  // not reached: killed on the 50th count update
  }
  int status = 0;
  ASSERT_EQ(waitpid(p, &status, 0), p);
  ASSERT_TRUE(WIFSIGNALED(status));
  const size_t hdr = 116 + 2 * 72, rs = 20;
  EXPECT_EQ(readFile("c.kdb").size(), hdr + 50 * rs);  // the 50th record's bytes are there
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  EXPECT_EQ(cmd::RecordCount(), 49);
  auto b = readFile("c.kdb");
  EXPECT_EQ(b.size(), hdr + 49 * rs);  // and are cut on reopening
  for (int i = 0; i < 49; ++i) EXPECT_EQ(at32(b, hdr + size_t(i) * rs + 4), i + 1);
  ASSERT_TRUE(cmd::AppendRecord(50, "y"));
  EXPECT_EQ(at32(readFile("c.kdb"), hdr + 49 * rs), 50);  // serial 50 is handed out again
}

TEST_F(ConcurrencyTest, RecordAndWholeFileLocks) {
  makeTable();
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "x"));
  db::closeAllDatabases();
  auto a = handle(), b = handle();
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->lockRecord(1), 0);
  ASSERT_EQ(a->lockRecord(1), 0);  // nested
  EXPECT_EQ(b->lockRecord(1), db::kLockViolation);
  EXPECT_EQ(b->lockRecord(0), 0);
  EXPECT_EQ(b->unlockRecord(0), 0);
  EXPECT_EQ(b->unlockRecord(0), db::kUnlockFailed);  // not held
  EXPECT_EQ(b->lockRecord(-1), db::kLockFailed);
  EXPECT_EQ(b->unlockRecord(-1), db::kUnlockFailed);
  ASSERT_EQ(a->unlockRecord(1), 0);
  EXPECT_EQ(b->lockRecord(1), db::kLockViolation);  // still held once
  ASSERT_EQ(a->unlockRecord(1), 0);
  EXPECT_EQ(b->lockRecord(1), 0);
  ASSERT_EQ(b->unlockRecord(1), 0);

  // The whole-file lock nests, and releasing it keeps record locks held.
  ASSERT_EQ(a->lockRecord(2), 0);
  ASSERT_EQ(a->lockWhole(), 0);
  ASSERT_EQ(a->lockWhole(), 0);
  EXPECT_EQ(b->lockRecord(0), db::kLockViolation);
  // The count is read without the header lock: another program's scan
  // does not hold it up.
  int32_t n = 0;
  EXPECT_EQ(b->readCount(&n), 0);
  ASSERT_EQ(a->unlockWhole(), 0);
  EXPECT_EQ(b->lockRecord(0), db::kLockViolation);
  ASSERT_EQ(a->unlockWhole(), 0);
  EXPECT_EQ(b->lockRecord(0), 0);
  EXPECT_EQ(b->lockRecord(2), db::kLockViolation);
  EXPECT_EQ(b->lockWhole(), db::kLockViolation);
  ASSERT_EQ(a->unlockRecord(2), 0);
  EXPECT_EQ(b->lockWhole(), 0);
  EXPECT_EQ(b->unlockWhole(), 0);
  EXPECT_EQ(b->unlockWhole(), db::kUnlockFailed);

  // Retry for the wait time, then give up.
  db::setLockWaitMs(150);
  ASSERT_EQ(a->lockRecord(1), 0);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(b->lockRecord(1), db::kLockViolation);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 140);  // the wait is counted on a millisecond tick
  EXPECT_LT(ms, 1500);
}

TEST_F(ConcurrencyTest, ShareModesBetweenOpeners) {
  makeTable();
  int rc = 0;
  {
    auto a = handle(db::kDenyAll);
    ASSERT_TRUE(a);
    EXPECT_FALSE(handle(db::kShareAll, true, &rc));
    EXPECT_EQ(rc, db::kSharingViolation);
    // Alone on the file: no locks are taken, so nothing can conflict.
    ASSERT_EQ(a->lockWhole(), 0);
    EXPECT_EQ(a->unlockWhole(), 0);
  }
  {
    auto a = handle(db::kDenyWrite);
    ASSERT_TRUE(a);
    EXPECT_TRUE(handle(db::kShareAll, true, &rc)) << rc;
    EXPECT_FALSE(handle(db::kShareAll, false, &rc));
    EXPECT_EQ(rc, db::kSharingViolation);
  }
  {
    auto a = handle(db::kDenyRead);
    EXPECT_FALSE(handle(db::kShareAll, true, &rc));
    EXPECT_EQ(rc, db::kSharingViolation);
  }
  {
    auto a = handle(db::kShareAll);
    EXPECT_FALSE(handle(db::kDenyWrite, true, &rc));  // a is a writer
    EXPECT_FALSE(handle(db::kDenyAll, false, &rc));
    EXPECT_TRUE(handle(db::kShareAll, false, &rc));
    // Creating replaces a file only when nobody has it open.
    EXPECT_FALSE(cmd::CreateDatabase("c", {fi("v", 3)}));
    EXPECT_EQ(db::lastError(), db::kSharingViolation);
  }
  auto r = handle(db::kShareAll, true);
  EXPECT_TRUE(handle(db::kDenyWrite, true, &rc)) << rc;  // only readers around
}

TEST_F(ConcurrencyTest, FailingWritesLeaveTheFileAsItWas) {
  makeTable();
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  ASSERT_TRUE(cmd::AppendRecord(1, "a"));
  db::closeAllDatabases();
  auto before = readFile("c.kdb");
  // A file layer whose writes fail as on a full disk.
  struct NoWrite : KillBeforeCount {
    NoWrite() : KillBeforeCount(-1) {}
    struct W : F {
      int write(int64_t, const void*, size_t) override { return db::kDiskFull; }
    };
    int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
      auto f = std::make_unique<W>();
      f->env = this;
      int rc = base().open(p, w, c, &f->in);
      if (rc == 0) *out = std::move(f);
      return rc;
    }
  } env;
  db::os::Env* old = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  EXPECT_FALSE(cmd::AppendRecord(2, "b"));
  EXPECT_EQ(db::lastError(), db::kDiskFull);  // said as such, not as a failed write
  EXPECT_FALSE(cmd::CreateDatabase("d", {fi("v", 3)}));
  EXPECT_EQ(db::lastError(), db::kDiskFull);
  EXPECT_FALSE(std::filesystem::exists("d.kdb"));  // no half-made table left
  db::closeAllDatabases();
  db::os::setEnv(old);
  EXPECT_EQ(readFile("c.kdb"), before);
}

}  // namespace
