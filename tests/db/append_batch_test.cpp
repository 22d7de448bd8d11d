// Append batches: the records a batch gathers are in the table (count,
// serials, values) as soon as anything else looks, also past the size at
// which they are written out; a batch makes a few file calls for many
// appends; another handle of the table waits while a batch holds it; and a
// write that fails ends the batch with the error, raises no count and lets
// nothing more be written in it.
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "db/table.h"
#include "db_test_util.h"
#include "forwarding_env.h"

using namespace dbtest;

namespace {

class AppendBatchTest : public DbTest {
 protected:
  void makeTable(const char* name, bool memo = false) {
    std::vector<rt::FieldInf> fields{fi("id", 3), fi("t", 10, 200)};
    if (memo) fields.push_back(fi("m", 12));
    ASSERT_TRUE(cmd::CreateDatabase(name, fields));
    ASSERT_TRUE(cmd::OpenDatabase(name));
  }
  // Every record of the table through a fresh handle: its serial and id.
  static std::vector<std::pair<int32_t, int32_t>> serialsAndIds(const std::string& path) {
    std::unique_ptr<db::Table> t;
    db::OpenOptions o;
    o.readOnly = true;
    EXPECT_EQ(db::Table::open(path, o, &t), 0);
    std::vector<std::pair<int32_t, int32_t>> out;
    if (!t) return out;
    const db::Field& id = t->fields()[0];
    const int rc = t->scan(0, true, [&](int32_t, uint8_t* rec) {
      rt::Arg v;
      EXPECT_EQ(t->loadValue(id, rec, &v), 0);
      out.emplace_back(at32(std::vector<uint8_t>(rec, rec + 4), 0), int32_t(v.lo));
      return 0;
    });
    EXPECT_EQ(rc, 0);
    return out;
  }
};

// Counts the calls made on table files (not the change-mark file). With
// `failWrites` the disk is full: a write that would grow a table fails,
// one within it (the count, a record in place) still succeeds.
struct CountingEnv : ForwardingEnv {
  long calls = 0;
  bool failWrites = false;
  struct F : ForwardingFile {
    CountingEnv* env;
    bool counted;
    int read(int64_t o, void* b, size_t n, size_t* g) override { return note(), in->read(o, b, n, g); }
    int write(int64_t o, const void* b, size_t n) override {
      note();
      int64_t size = 0;
      const bool grows = in->size(&size) != 0 || o + int64_t(n) > size;
      return counted && env->failWrites && grows ? db::kDiskFull : in->write(o, b, n);
    }
    int size(int64_t* s) override { return note(), in->size(s); }
    int tryLock(int64_t o, int64_t l) override { return note(), in->tryLock(o, l); }
    int unlock(int64_t o, int64_t l) override { return note(), in->unlock(o, l); }
    void note() { env->calls += counted; }
  };
  // Lock waits pass at once: a second for every look at the clock.
  uint64_t tickMs() override { return clock += 1000; }
  void sleepMs(int) override {}
  uint64_t clock = 0;
  std::unique_ptr<ForwardingFile> wrap(const std::string& p, bool) override {
    auto f = std::make_unique<F>();
    f->env = this;
    f->counted = p.ends_with(".kdb");
    return f;
  }
};

TEST_F(AppendBatchTest, GatheredRecordsAreInTheTableWheneverAnythingLooks) {
  makeTable("b");
  // 200-byte text: about 5,000 records make one megabyte, so 12,000 are
  // written out twice during the batch and once at its end.
  const int n = 12000;
  {
    db::AppendBatch batch;
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(cmd::AppendRecord(i, std::string(30, char('a' + i % 26))));
    // Another command of the same program sees every record so far, the
    // last one current.
    EXPECT_EQ(cmd::RecordCount(), n);
    EXPECT_EQ(cmd::ReadField("id").integer(), n);
    ASSERT_TRUE(cmd::AppendRecord(n + 1, "after a look"));
    EXPECT_EQ(batch.finish(), 0);
  }
  const auto records = serialsAndIds("b.kdb");
  ASSERT_EQ(records.size(), size_t(n + 1));
  for (int i = 0; i <= n; ++i) {
    EXPECT_EQ(records[size_t(i)].first, i + 1) << "serial of record " << i;
    EXPECT_EQ(records[size_t(i)].second, i + 1) << "id of record " << i;
  }
  // The next serial follows the batch's last one.
  ASSERT_TRUE(cmd::AppendRecord(0, "alone"));
  EXPECT_EQ(serialsAndIds("b.kdb").back().first, n + 2);
  // Memo fields: written as they come, same outcome.
  makeTable("memo", true);
  {
    db::AppendBatch batch;
    for (int i = 1; i <= 50; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "x", std::string(size_t(i) * 20, 'm')));
    EXPECT_EQ(batch.finish(), 0);
  }
  cmd::MoveTo(50);
  EXPECT_EQ(cmd::ReadField("m").text().size(), 50u * 20);
  EXPECT_EQ(serialsAndIds("memo.kdb").size(), 50u);
}

TEST_F(AppendBatchTest, ABatchMakesFewCallsAndOthersWaitForIt) {
  makeTable("b");
  db::closeAllDatabases();
  CountingEnv env;
  db::os::Env* previous = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("b"));
  ASSERT_TRUE(cmd::AppendRecord(0, "first"));
  env.calls = 0;
  ASSERT_TRUE(cmd::AppendRecord(1, "lone"));
  const long lone = env.calls;
  std::unique_ptr<db::Table> other;
  ASSERT_EQ(db::Table::open("b.kdb", db::OpenOptions{}, &other), 0);
  rt::Arg one = rt::makeInt(7);
  const rt::Arg* values[] = {&one};
  env.calls = 0;
  {
    db::AppendBatch batch;
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "in a batch"));
    // While the batch holds the table another handle cannot append.
    const long before = env.calls;
    EXPECT_EQ(other->append(values, 1), db::kLockViolation);
    env.calls = before;
    EXPECT_EQ(batch.finish(), 0);
  }
  // Lock, count and length for the batch's first append; one write of the
  // records, one of the count and the unlock at its end.
  EXPECT_LE(env.calls, 6) << "a lone append took " << lone;
  EXPECT_GE(lone, 4);
  EXPECT_EQ(other->append(values, 1), 0);
  other.reset();
  db::closeAllDatabases();
  db::os::setEnv(previous);
  EXPECT_EQ(serialsAndIds("b.kdb").size(), 1003u);
}

TEST_F(AppendBatchTest, AFailedWriteEndsTheBatchWithItsErrorAndRaisesNoCount) {
  makeTable("b");
  ASSERT_TRUE(cmd::AppendRecord(1, "before"));
  db::closeAllDatabases();
  CountingEnv env;
  db::os::Env* previous = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("b"));
  {
    db::AppendBatch batch;
    for (int i = 2; i <= 100; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "gathered"));
    env.failWrites = true;
    // The stock-like write that follows the lines: the lines cannot be
    // written, so neither is it.
    cmd::MoveTo(1);
    EXPECT_FALSE(cmd::ModifyRecord(rt::omitted, "changed"));
    EXPECT_EQ(db::lastError(), db::kDiskFull);
    env.failWrites = false;
    EXPECT_FALSE(cmd::AppendRecord(101, "after the failure"));
    EXPECT_EQ(batch.finish(), db::kDiskFull);
  }
  // The table is as before the batch, and usable.
  EXPECT_EQ(cmd::RecordCount(), 1);
  cmd::MoveTo(1);
  EXPECT_EQ(cmd::ReadField("t").text(), "before");
  EXPECT_TRUE(cmd::AppendRecord(2, "next"));
  EXPECT_EQ(cmd::RecordCount(), 2);
  db::closeAllDatabases();
  db::os::setEnv(previous);
}

// A share that fails the way shares do: writes that would grow a table
// past `room` bytes fail (a full disk) while the others succeed; from
// `awayAfter` writes on every call fails (the program killed, or the folder
// gone); a write to the count (offset 16) lands but reports an I/O error
// (its reply lost).
struct ShareFaults : ForwardingEnv {
  int64_t room = INT64_MAX;
  long writes = 0, awayAfter = LONG_MAX;
  bool loseCountReplies = false;
  struct F : ForwardingFile {
    ShareFaults* env;
    bool table;
    bool away() const { return table && env->writes > env->awayAfter; }
    int write(int64_t o, const void* b, size_t n) override {
      if (!table) return in->write(o, b, n);
      if (++env->writes > env->awayAfter) return db::kHardware;
      if (o + int64_t(n) > env->room) return db::kDiskFull;
      const int rc = in->write(o, b, n);
      return rc == 0 && o == 16 && env->loseCountReplies ? int(db::kHardware) : rc;
    }
    int read(int64_t o, void* b, size_t n, size_t* g) override {
      return away() ? int(db::kHardware) : in->read(o, b, n, g);
    }
    int truncate(int64_t l) override { return away() ? int(db::kHardware) : in->truncate(l); }
    int unlock(int64_t o, int64_t l) override { return away() ? int(db::kHardware) : in->unlock(o, l); }
  };
  std::unique_ptr<ForwardingFile> wrap(const std::string& p, bool) override {
    auto f = std::make_unique<F>();
    f->env = this;
    f->table = p.ends_with(".kdb");
    return f;
  }
};

// A batch cut short by a full disk, or by the program dying in its middle,
// leaves the table as it was before the batch for every opener: readable,
// its count unchanged, and repair counts none of the records its caller
// was told were not written.
TEST_F(AppendBatchTest, ABatchCutShortLeavesTheTableAsBeforeForEveryOpener) {
  makeTable("b");
  ASSERT_TRUE(cmd::AppendRecord(1, "before"));
  const int64_t before = std::filesystem::file_size("b.kdb");
  auto opensAsBefore = [&](const char* how) {
    SCOPED_TRACE(how);
    for (const bool readOnly : {true, false}) {
      std::unique_ptr<db::Table> t;
      db::OpenOptions o;
      o.readOnly = readOnly;
      ASSERT_EQ(db::Table::open("b.kdb", o, &t), 0) << "read-only " << readOnly;
      int32_t count = -1;
      ASSERT_EQ(t->readCount(&count), 0);
      EXPECT_EQ(count, 1);
    }
    db::OpenOptions repair;
    repair.repairing = true;
    std::unique_ptr<db::Table> r;
    ASSERT_EQ(db::Table::open("b.kdb", repair, &r), 0);
    EXPECT_EQ(r->restoredFromCount(), -1) << "repair raised the count";
    EXPECT_EQ(std::filesystem::file_size("b.kdb"), uintmax_t(before)) << "the writer left the batch's records";
    EXPECT_EQ(serialsAndIds("b.kdb"), (std::vector<std::pair<int32_t, int32_t>>{{1, 1}}));
  };
  db::closeAllDatabases();
  ShareFaults env;
  db::os::Env* previous = db::os::setEnv(&env);
  // Room for about 7,000 of the 12,000 records (200 bytes and more each):
  // the first megabyte is written out, the second is not.
  env.room = before + 7000 * 212;
  ASSERT_TRUE(cmd::OpenDatabase("b"));
  {
    db::AppendBatch batch;
    for (int i = 2; i <= 12000; ++i) cmd::AppendRecord(i, "gathered");
    EXPECT_EQ(batch.finish(), db::kDiskFull);
  }
  db::closeAllDatabases();
  env.room = INT64_MAX;
  opensAsBefore("a full disk");

  // Killed after its first megabyte was written: nothing more reaches the
  // file, not the count nor any cutting off.
  env.writes = 0;
  env.awayAfter = 1;
  ASSERT_TRUE(cmd::OpenDatabase("b"));
  {
    db::AppendBatch batch;
    for (int i = 2; i <= 12000; ++i) cmd::AppendRecord(i, "gathered");
    EXPECT_NE(batch.finish(), 0);
  }
  db::closeAllDatabases();
  env.awayAfter = LONG_MAX;
  EXPECT_GT(std::filesystem::file_size("b.kdb"), uintmax_t(before + (1 << 20)));
  opensAsBefore("a kill");
  db::os::setEnv(previous);
}

// The count of an append, alone or closing a batch, landed but its reply
// was lost: the append is what the file says, once, not a failure to try
// again.
TEST_F(AppendBatchTest, ACountWhoseReplyWasLostIsTakenAsWritten) {
  makeTable("b");
  db::closeAllDatabases();
  ShareFaults env;
  env.loseCountReplies = true;
  db::os::Env* previous = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("b"));
  EXPECT_TRUE(cmd::AppendRecord(1, "alone"));
  {
    db::AppendBatch batch;
    for (int i = 2; i <= 10; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "gathered"));
    EXPECT_EQ(batch.finish(), 0);
  }
  EXPECT_EQ(cmd::RecordCount(), 10);
  db::closeAllDatabases();
  db::os::setEnv(previous);
  EXPECT_EQ(serialsAndIds("b.kdb").size(), 10u);
}

}  // namespace
