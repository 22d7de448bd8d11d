// Memo values all or nothing, and a full disk: a memo modify killed at any
// of its file changes (also while it takes blocks from the free list), or
// stopped by a full disk, leaves the old value or the new one and a chain
// check that finds nothing wrong; a header counting too few blocks loses
// no value; a full disk is
// reported as -14 by appends, modifies and packs, and leaves the table
// readable and whole. Also the auxiliary files a writer must not use and
// the names that must not take another table's auxiliary file.
#include <signal.h>
#include <sys/wait.h>

#include "db/chaincheck.h"
#include "db/os.h"
#include "forwarding_env.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

namespace fs = std::filesystem;

// A file layer over the real one: kills the process at change `killAt`
// (a write cut to half first), and/or behaves as a full disk: a write or
// truncate that would make a file longer fails with -14 once `full`.
class Faulty : public dbtest::ForwardingEnv {
 public:
  struct F : dbtest::ForwardingFile {
    Faulty* env;
    int write(int64_t o, const void* b, size_t n) override {
      if (env->change()) {
        static_cast<void>(in->write(o, b, n / 2));  // half of it lands, whatever it answers
        raise(SIGKILL);
      }
      int64_t len = 0;
      // A length that cannot be read stays 0: every write then counts as growing the file.
      static_cast<void>(in->size(&len));
      if (env->full && o + int64_t(n) > len) return db::kDiskFull;
      if (table && o >= env->failTableWritesFrom) return db::kHardware;
      return in->write(o, b, n);
    }
    bool table = false;
    int truncate(int64_t l) override {
      if (env->change()) raise(SIGKILL);
      int64_t len = 0;
      static_cast<void>(in->size(&len));  // as in write()
      if (env->full && l > len) return db::kDiskFull;
      return in->truncate(l);
    }
    int sync() override { return env->full ? db::kOk : in->sync(); }
  };
  // Counts every change unless killAt is 0; kills at change killAt.
  bool change() { return killAt != 0 && ++changes == killAt; }
  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    if (full && c && !base().exists(p)) return db::kDiskFull;
    auto f = std::make_unique<F>();
    f->env = this;
    f->table = p.ends_with(".kdb");
    int rc = base().open(p, w, c, &f->in);
    if (rc == 0) *out = std::move(f);
    return rc;
  }
  int remove(const std::string& p) override {
    if (change()) raise(SIGKILL);
    return base().remove(p);
  }
  long killAt = 0, changes = 0;
  bool full = false;
  // Writes to the table file (not its auxiliary file) at or past this
  // offset fail: a record write lost while the chains were written.
  int64_t failTableWritesFrom = INT64_MAX;
};

std::string text(size_t n, char c) { return std::string(n, c); }

class MemoDiskTest : public DbTest {
 protected:
  // Record 1 keeps a three-block memo, record 2 a one-block one.
  void makeTable() {
    ASSERT_TRUE(cmd::CreateDatabase("m", {fi("id", 3), fi("t", 12)}));
    ASSERT_TRUE(cmd::OpenDatabase("m"));
    ASSERT_TRUE(cmd::AppendRecord(1, text(1400, 'o')));
    ASSERT_TRUE(cmd::AppendRecord(2, text(300, 'p')));
    db::closeAllDatabases();
  }
  void expectSound(const std::string& what) {
    std::unique_ptr<db::Table> t;
    db::OpenOptions o;
    o.readOnly = true;
    ASSERT_EQ(db::Table::open("m.kdb", o, &t), 0) << what;
    db::ChainReport r;
    ASSERT_EQ(db::checkChains(*t, &r), 0) << what;
    EXPECT_FALSE(db::valuesAtRisk(r)) << what << ": " << r.faults.size() << " faults, first kind "
                                      << int(r.faults.empty() ? -1 : int(r.faults[0].kind));
  }
};

TEST_F(MemoDiskTest, AMemoModifyKilledAnywhereLeavesTheOldValueOrTheNew) {
  makeTable();
  // Free blocks on the list for the new value to take (a third record's
  // value given up), as in any file that has been written for a while.
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  ASSERT_TRUE(cmd::AppendRecord(3, text(1800, 'f')));
  ASSERT_TRUE(cmd::AppendRecord(4, text(300, 'g')));
  ASSERT_TRUE(cmd::MoveTo(3));
  ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, text(0, 'f')));
  db::closeAllDatabases();
  expectSound("with blocks on the free list");
  ASSERT_GE(at32(readFile("m.kdt"), 20), 3) << "blocks on the free list";
  const auto db0 = readFile("m.kdb"), aux0 = readFile("m.kdt");
  // Shorter and longer than the old value: both the blocks given up and
  // the blocks added are crossed.
  for (size_t newLength : {size_t(700), size_t(2300)}) {
    long changes = 0;
    {
      Faulty counter;
      counter.killAt = -1;
      db::os::Env* old = db::os::setEnv(&counter);
      ASSERT_TRUE(cmd::OpenDatabase("m"));
      ASSERT_TRUE(cmd::MoveTo(1));
      counter.changes = 0;
      ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, text(newLength, 'n')));
      changes = counter.changes;
      db::closeAllDatabases();
      db::os::setEnv(old);
    }
    ASSERT_GT(changes, 2);
    for (long at = 1; at <= changes; ++at) {
      writeFile("m.kdb", db0);
      writeFile("m.kdt", aux0);
      const std::string what = std::to_string(newLength) + " bytes, killed at change " + std::to_string(at);
      pid_t p = fork();
      ASSERT_GE(p, 0);
      if (p == 0) {
        static Faulty env;
        env.killAt = at;
        db::os::setEnv(&env);
        db::closeAllDatabases();
        if (!cmd::OpenDatabase("m") || !cmd::MoveTo(1)) _exit(10);
        env.changes = 0;
        cmd::ModifyRecord(rt::omitted, text(newLength, 'n'));
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(p, &status, 0), p);
      ASSERT_TRUE(WIFSIGNALED(status)) << what;
      ASSERT_TRUE(cmd::OpenDatabase("m")) << what << ": " << db::lastError();
      ASSERT_TRUE(cmd::MoveTo(1));
      std::string v = cmd::ReadText("t");
      EXPECT_TRUE(v == text(1400, 'o') || v == text(newLength, 'n')) << what << ": " << v.size() << " bytes";
      ASSERT_TRUE(cmd::MoveTo(2));
      EXPECT_EQ(cmd::ReadText("t"), text(300, 'p')) << what;
      db::closeAllDatabases();
      expectSound(what);
    }
  }
}

TEST_F(MemoDiskTest, AFullDiskIsReportedAsSuchAndLeavesTheTableWhole) {
  makeTable();
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  for (int i = 3; i <= 40; ++i) ASSERT_TRUE(cmd::AppendRecord(i, text(10, 'q')));
  for (int k = 3; k <= 40; k += 2) {
    ASSERT_TRUE(cmd::MoveTo(k));
    ASSERT_TRUE(cmd::DeleteRecords());
  }
  db::closeAllDatabases();
  const auto db0 = readFile("m.kdb"), aux0 = readFile("m.kdt");

  Faulty env;
  env.full = true;
  db::os::Env* old = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  // A modify whose new value needs more blocks than the file has.
  ASSERT_TRUE(cmd::MoveTo(1));
  EXPECT_FALSE(cmd::ModifyRecord(rt::omitted, text(5000, 'n')));
  EXPECT_EQ(db::lastError(), db::kDiskFull);
  EXPECT_EQ(cmd::ReadText("t"), text(1400, 'o'));
  // An append: its record would grow the file.
  EXPECT_FALSE(cmd::AppendRecord(99, rt::omitted));
  EXPECT_EQ(db::lastError(), db::kDiskFull);
  // A pack: its redo record cannot be made, so nothing moves.
  EXPECT_FALSE(cmd::PackDatabase());
  EXPECT_EQ(db::lastError(), db::kDiskFull);
  db::closeAllDatabases();
  db::os::setEnv(old);
  EXPECT_EQ(readFile("m.kdb"), db0);
  EXPECT_FALSE(fs::exists("m.kdb.pack"));
  // Readable by every reader, chains sound, and a pack works once there
  // is room.
  ASSERT_TRUE(cmd::OpenDatabase("m", "", true));
  EXPECT_EQ(cmd::RecordCount(), 40);
  db::closeAllDatabases();
  expectSound("after the full disk");
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  EXPECT_TRUE(cmd::PackDatabase());
  EXPECT_EQ(cmd::RecordCount(), 21);
}

// A header that counts fewer blocks than the file holds (record 2's value
// and the end of record 1's beyond it): the next long value goes past them,
// no value is lost, check says no value is at risk, and repair keeps every
// value and puts the header right.
TEST_F(MemoDiskTest, AHeaderCountingTooFewBlocksLosesNoValue) {
  makeTable();
  auto aux = readFile("m.kdt");
  ASSERT_EQ(at32(aux, 16), 5);  // block 0, three of record 1, one of record 2
  put32(aux, 16, 2);
  writeFile("m.kdt", aux);
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  ASSERT_TRUE(cmd::AppendRecord(3, text(1200, 'q')));
  for (auto [record, value] : {std::pair{1, text(1400, 'o')}, {2, text(300, 'p')}, {3, text(1200, 'q')}}) {
    ASSERT_TRUE(cmd::MoveTo(record));
    EXPECT_EQ(cmd::ReadText("t"), value) << "record " << record;
  }
  db::closeAllDatabases();
  expectSound("after the long value");
  put32(aux = readFile("m.kdt"), 16, 2);
  writeFile("m.kdt", aux);
  expectSound("with the header counting two blocks");
  {
    std::unique_ptr<db::Table> t;
    db::OpenOptions o;
    o.repairing = true;
    ASSERT_EQ(db::Table::open("m.kdb", o, &t), 0);
    db::ChainReport r;
    ASSERT_EQ(db::repairChains(*t, &r), 0);
    EXPECT_TRUE(r.dropped.empty());
  }
  EXPECT_EQ(at32(readFile("m.kdt"), 16), 8);
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  ASSERT_TRUE(cmd::MoveTo(3));
  EXPECT_EQ(cmd::ReadText("t"), text(1200, 'q'));
  ASSERT_TRUE(cmd::MoveTo(1));
  EXPECT_EQ(cmd::ReadText("t"), text(1400, 'o'));
}

TEST_F(MemoDiskTest, WritersRefuseAuxiliaryFilesThatWouldHandOutLiveBlocks) {
  makeTable();
  const auto db0 = readFile("m.kdb"), aux0 = readFile("m.kdt");
  // The free list reaching block 2, the middle of record 1's value.
  auto aux = aux0;
  put32(aux, 20, 1);
  put32(aux, 24, 2);
  writeFile("m.kdt", aux);
  EXPECT_FALSE(cmd::OpenDatabase("m"));
  EXPECT_EQ(db::lastError(), db::kAuxDamaged);
  EXPECT_TRUE(cmd::OpenDatabase("m", "", true));  // read-only: nothing handed out
  db::closeAllDatabases();
  EXPECT_EQ(readFile("m.kdt"), aux);

  // A value torn by a write cut short: block 2 of three not full.
  aux = aux0;
  put32(aux, 2 * 512 + 8, 100);
  writeFile("m.kdt", aux);
  {
    std::unique_ptr<db::Table> t;
    db::OpenOptions o;
    o.readOnly = true;
    ASSERT_EQ(db::Table::open("m.kdb", o, &t), 0);
    db::ChainReport r;
    ASSERT_EQ(db::checkChains(*t, &r), 0);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].kind, db::ChainFaultKind::kTorn);
    EXPECT_EQ(r.faults[0].record, 1);
  }
  writeFile("m.kdt", aux0);
}

TEST_F(MemoDiskTest, AnotherTablesAuxiliaryFileIsNeverTakenOver) {
  makeTable();
  const auto aux0 = readFile("m.kdt");
  // "m.abc" would have m.kdt as its auxiliary file: refused, closed or not.
  EXPECT_FALSE(cmd::CreateDatabase("m.abc", {fi("t", 12)}));
  EXPECT_EQ(db::lastError(), db::kAuxCreateFailed);
  EXPECT_FALSE(fs::exists("m.abc"));
  ASSERT_TRUE(cmd::CreateDatabase("src", {fi("t", 12)}));
  ASSERT_TRUE(cmd::OpenDatabase("src"));
  ASSERT_TRUE(cmd::AppendRecord(text(20, 's')));
  EXPECT_FALSE(cmd::CopyRecords("m.abc", rt::Arg{}));
  EXPECT_EQ(db::lastError(), db::kAuxCreateFailed);
  EXPECT_EQ(readFile("m.kdt"), aux0);
  // Without memo fields no auxiliary file is made: allowed.
  EXPECT_TRUE(cmd::CreateDatabase("m.abc", {fi("v", 3)}));
  // The table itself may be made again (its own auxiliary file).
  db::closeAllDatabases();
  fs::remove("m.abc");
  EXPECT_TRUE(cmd::CreateDatabase("m", {fi("t", 12)}));
  // Trailing spaces do not hide the auxiliary extension.
  EXPECT_FALSE(cmd::CreateDatabase("z.kdt ", {fi("v", 3)}));
  EXPECT_FALSE(cmd::CreateDatabase("z.KDT  ", {fi("v", 3)}));
  EXPECT_FALSE(fs::exists("z.kdt "));
}

// A memo modify whose record write fails (its new chain written fine)
// leaves the record naming its old chain, and that chain is not handed out
// again: the old value survives the next append, and the chains are sound.
TEST_F(MemoDiskTest, AFailedRecordWriteKeepsTheChainTheRecordStillNames) {
  makeTable();
  Faulty env;
  db::os::Env* previous = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("m"));
  cmd::MoveTo(1);
  env.failTableWritesFrom = 116 + 72 * 2;  // the records, past the header and two fields
  EXPECT_FALSE(cmd::ModifyRecord(rt::omitted, text(900, 'n')));
  env.failTableWritesFrom = INT64_MAX;
  ASSERT_TRUE(cmd::AppendRecord(3, text(1400, 'q')));  // takes what blocks are free
  cmd::MoveTo(1);
  EXPECT_EQ(cmd::ReadField("t").text(), text(1400, 'o'));
  db::closeAllDatabases();
  db::os::setEnv(previous);
  expectSound("after the failed record write");
}

}  // namespace
