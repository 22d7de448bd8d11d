// The copy a handle keeps of a table it scanned whole stays in use after
// the handle's own append or change in place (the next scan reads no
// records), but only when
// nobody else changed the table in between: a change in place another
// workstation made and marked before this handle's mark is in the next
// scan.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "db/changes.h"
#include "db/table.h"
#include "db_test_util.h"
#include "forwarding_env.h"

using namespace dbtest;

namespace {

// Counts the bytes read from table files, and every call made to an open
// file (each a round trip on a shared folder) with the writes to the
// change marks.
struct CountingReads : ForwardingEnv {
  long long bytes = 0;
  long calls = 0, markWrites = 0;
  uint64_t later = 0;  // added to the clock: time passing at once
  uint64_t tickMs() override { return ForwardingEnv::tickMs() + later; }
  struct F : ForwardingFile {
    CountingReads* env;
    bool table;
    int read(int64_t o, void* b, size_t n, size_t* g) override {
      ++env->calls;
      const int rc = in->read(o, b, n, g);
      if (table && rc == 0) env->bytes += (long long)*g;
      return rc;
    }
    int write(int64_t o, const void* b, size_t n) override {
      ++env->calls;
      if (!table) ++env->markWrites;
      return in->write(o, b, n);
    }
    int size(int64_t* s) override { return ++env->calls, in->size(s); }
    int truncate(int64_t l) override { return ++env->calls, in->truncate(l); }
    int tryLock(int64_t o, int64_t l) override { return ++env->calls, in->tryLock(o, l); }
    int unlock(int64_t o, int64_t l) override { return ++env->calls, in->unlock(o, l); }
    int sync() override { return ++env->calls, in->sync(); }
  };
  std::unique_ptr<ForwardingFile> wrap(const std::string& p, bool) override {
    auto f = std::make_unique<F>();
    f->env = this;
    f->table = p.ends_with(".kdb");
    return f;
  }
};

class OwnAppendTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_TRUE(cmd::CreateDatabase("t", {fi("v", 3)}));
    ASSERT_TRUE(cmd::OpenDatabase("t"));
    {
      db::AppendBatch batch;
      for (int i = 1; i <= 2000; ++i) ASSERT_TRUE(cmd::AppendRecord(i));
      ASSERT_EQ(batch.finish(), 0);
    }
    db::closeAllDatabases();
    previous_ = db::os::setEnv(&env_);
    ASSERT_TRUE(cmd::OpenDatabase("t"));
  }
  void TearDown() override {
    db::closeAllDatabases();
    db::os::setEnv(previous_);
    DbTest::TearDown();
  }
  double sum() {
    auto v = [] { return cmd::ReadField("v").release(); };
    rt::Expr value(v);
    return cmd::SumRecords(value.arg());
  }
  // Another workstation changes record `pos` in place and marks it, as
  // its engine call does when it ends.
  void otherChanges(int32_t pos, int value) {
    std::unique_ptr<db::Table> other;
    ASSERT_EQ(db::Table::open("t.kdb", db::OpenOptions{}, &other), 0);
    other->setPosition(pos);
    rt::Arg v = rt::makeInt(value);
    const rt::Arg* values[] = {&v};
    ASSERT_EQ(other->modify(values, 1), 0);
    ASSERT_EQ(db::bumpChange(other->path()), 0);
  }
  CountingReads env_;
  db::os::Env* previous_ = nullptr;
};

const double kFirst = 2000.0 * 2001 / 2;

TEST_F(OwnAppendTest, OwnAppendsKeepTheCopyAndOthersChangesDropIt) {
  EXPECT_EQ(sum(), kFirst);
  ASSERT_TRUE(cmd::AppendRecord(7));
  env_.bytes = 0;
  EXPECT_EQ(sum(), kFirst + 7);
  EXPECT_LT(env_.bytes, 64) << "the scan after an own append read the records again";

  // Another workstation's change in place lands between this handle's
  // last scan and its append: the append's mark finds the table's mark
  // moved, and the next scan reads the table.
  otherChanges(0, 101);
  ASSERT_TRUE(cmd::AppendRecord(3));
  EXPECT_EQ(sum(), kFirst + 7 + 3 + 100);

  // The same after the append: the other's mark differs from this
  // handle's own.
  ASSERT_TRUE(cmd::AppendRecord(5));
  otherChanges(1, 102);
  EXPECT_EQ(sum(), kFirst + 7 + 3 + 5 + 200);
}

// Round trips: a reading of a table nobody changed since the copy was
// kept costs the count and the mark (two calls, no lock, no record data);
// an append on its own costs no mark (its count tells every reader), and
// another program's append is in the next reading all the same.
TEST_F(OwnAppendTest, AnUnchangedTableIsReadInTwoCallsAndAnAppendWritesNoMark) {
  EXPECT_EQ(sum(), kFirst);
  env_.calls = env_.bytes = 0;
  EXPECT_EQ(sum(), kFirst);
  EXPECT_EQ(env_.calls, 2);
  EXPECT_EQ(env_.bytes, 8);

  env_.calls = env_.markWrites = 0;
  ASSERT_TRUE(cmd::AppendRecord(7));
  EXPECT_EQ(env_.markWrites, 0);
  EXPECT_LE(env_.calls, 6);
  env_.calls = 0;
  EXPECT_EQ(sum(), kFirst + 7);
  EXPECT_EQ(env_.calls, 2);

  // Under a held header lock the count is read once: the lock, the count,
  // each append's length look, record and count, and the unlock.
  env_.calls = 0;
  ASSERT_EQ(db::holdHeader([] { return cmd::AppendRecord(1) && cmd::AppendRecord(2) ? 0 : -1; }), 0);
  EXPECT_LE(env_.calls, 1 + 1 + 2 * 3 + 1);
  EXPECT_EQ(sum(), kFirst + 7 + 3);

  {
    std::unique_ptr<db::Table> other;
    ASSERT_EQ(db::Table::open("t.kdb", db::OpenOptions{}, &other), 0);
    const rt::Arg v = rt::makeInt(9);
    const rt::Arg* values[] = {&v};
    ASSERT_EQ(other->append(values, 1), 0);
  }
  EXPECT_EQ(sum(), kFirst + 7 + 3 + 9);
}

// An append that finds the table as this handle's own last append left
// it does not look at the file's length; records another program's append
// batch left behind the count meanwhile (cut short: a kill before its
// count) are still never counted in, and the next opening cuts them off.
TEST_F(OwnAppendTest, AnAppendAfterItsOwnSkipsTheLengthAndACutShortBatchStaysOut) {
  ASSERT_TRUE(cmd::AppendRecord(7));
  db::TableState state;
  ASSERT_EQ(db::readTableState(&state), 0);
  const int64_t rs = 8;  // the serial and the 3-digit field
  const auto endBefore = std::filesystem::file_size("t.kdb");
  {
    // Three records numbered on from the next serial, their count never
    // written.
    std::FILE* f = std::fopen("t.kdb", "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, long(endBefore), SEEK_SET), 0);
    for (int32_t i = 0; i < 3; ++i) {
      uint8_t rec[rs] = {};
      db::putI32(rec, state.nextSerial + i);
      std::memcpy(rec + 4, "999", 3);
      ASSERT_EQ(std::fwrite(rec, 1, rs, f), size_t(rs));
    }
    std::fclose(f);
  }
  env_.calls = 0;
  ASSERT_TRUE(cmd::AppendRecord(5));
  EXPECT_LE(env_.calls, 5);  // lock, count, record, count, unlock
  EXPECT_EQ(sum(), kFirst + 7 + 5);
  db::closeAllDatabases();
  ASSERT_TRUE(cmd::OpenDatabase("t"));
  EXPECT_EQ(sum(), kFirst + 7 + 5);
  EXPECT_EQ(std::filesystem::file_size("t.kdb"), endBefore + rs);
}

// While the record's lock is held nobody else can change it: a nested
// access takes it without a call; this handle's own write is read back;
// once the lock is let go another program's change is read.
TEST_F(OwnAppendTest, AHeldRecordIsReadOnceWhileItsLockIsHeld) {
  ASSERT_TRUE(cmd::MoveTo(10));
  long calls = -1;
  ASSERT_EQ(db::holdCurrentRecord([&] {
              env_.calls = 0;
              EXPECT_EQ(cmd::ReadField("v").integer(), 10);
              EXPECT_EQ(cmd::ReadField("v").integer(), 10);
              calls = env_.calls;
              if (!cmd::ReplaceFields(rt::Arg{}, "v", 1010)) return -1;
              EXPECT_EQ(cmd::ReadField("v").integer(), 1010);
              return 0;
            }),
            0);
  EXPECT_EQ(calls, 0);
  otherChanges(9, 77);
  EXPECT_EQ(cmd::ReadField("v").integer(), 77);
}

// A reading served from the kept copy whose step reads the table again
// after another program changed it: the inner reading keeps a new copy,
// and the outer one goes on over the records it began with (still alive:
// the sanitizer build would catch them freed).
TEST_F(OwnAppendTest, AReadingWhoseStepReadsTheChangedTableAgainFinishesOnItsOwnRecords) {
  EXPECT_EQ(sum(), kFirst);
  double inner = 0;
  int stepped = 0;
  auto value = [&] {
    if (++stepped == 1000) {
      otherChanges(0, 101);
      inner = sum();
    }
    return cmd::ReadField("v").release();
  };
  rt::Expr valueE(value);
  EXPECT_EQ(cmd::SumRecords(valueE.arg()), kFirst);
  EXPECT_EQ(inner, kFirst + 100);
  EXPECT_EQ(sum(), kFirst + 100);
}

// The same for a record the handle rewrites in place (a stock lowered by a
// charge): the next scan reads no records, and another workstation's
// change marked before or after it is in the next scan all the same.
TEST_F(OwnAppendTest, OwnChangesInPlaceKeepTheCopyAndOthersChangesDropIt) {
  EXPECT_EQ(sum(), kFirst);
  ASSERT_TRUE(cmd::MoveTo(10));
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 1010));
  env_.bytes = 0;
  EXPECT_EQ(sum(), kFirst + 1000);
  EXPECT_LT(env_.bytes, 64) << "the scan after an own change in place read the records again";

  otherChanges(0, 101);
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 2010));
  EXPECT_EQ(sum(), kFirst + 2000 + 100);

  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 3010));
  otherChanges(1, 102);
  EXPECT_EQ(sum(), kFirst + 3000 + 200);
  // Nobody else since: kept again.
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 10));
  env_.bytes = 0;
  EXPECT_EQ(sum(), kFirst + 200);
  EXPECT_LT(env_.bytes, 64);
}

// A folder whose mark file this account may not write (made by another
// account): a change in place is still seen by every handle keeping a copy
// of the table, through the table's own next serial.
TEST_F(OwnAppendTest, AChangeWhoseMarkCannotBeWrittenIsSeenAllTheSame) {
  struct NoMarks : CountingReads {
    int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
      if (w && p.ends_with(db::kChangeFileName)) return db::kAccessDenied;
      return CountingReads::open(p, w, c, out);
    }
  } noMarks;
  db::closeAllDatabases();
  db::os::setEnv(&noMarks);
  std::unique_ptr<db::Table> reader;
  ASSERT_EQ(db::Table::open("t.kdb", db::OpenOptions{}, &reader), 0);
  auto readerSum = [&] { return double(sumOfField(*reader, 0)); };
  EXPECT_EQ(readerSum(), kFirst);
  ASSERT_TRUE(cmd::OpenDatabase("t"));
  ASSERT_TRUE(cmd::MoveTo(10));
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 1010));
  EXPECT_EQ(readerSum(), kFirst + 1000);
  reader.reset();
  db::closeAllDatabases();
  db::os::setEnv(&env_);
}

// The folder's mark file deleted while this program keeps it open, and
// made anew by another workstation's next change: within a few seconds the
// change is in this program's next scan, not hidden behind marks read from
// the deleted file.
TEST_F(OwnAppendTest, AMarkFileDeletedBehindTheProgramIsNoticed) {
  ASSERT_TRUE(cmd::MoveTo(1));
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 1));  // the mark file open here
  EXPECT_EQ(sum(), kFirst);
  ASSERT_TRUE(std::filesystem::remove(db::kChangeFileName));
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    db::dropChangeFiles();  // another program: files of its own
    otherChanges(5, 1006);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  env_.later += 5000;
  EXPECT_EQ(sum(), kFirst + 1000);
}

// In a folder its group may write, the files the engine makes (a table,
// its memo file, the change marks) are group-writable too, whatever the
// account's umask: another workstation's account marks its changes there.
using SharedFolderTest = DbTest;

TEST_F(SharedFolderTest, FilesMadeInAGroupWritableFolderAreGroupWritable) {
  namespace fs = std::filesystem;
  ASSERT_EQ(chmod(".", 02775), 0);
  const mode_t old = umask(022);
  ASSERT_TRUE(cmd::CreateDatabase("g", {fi("v", 3), fi("m", 12)}));
  ASSERT_TRUE(cmd::OpenDatabase("g"));
  ASSERT_TRUE(cmd::AppendRecord(1, "memo"));
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "v", 2));  // a change in place: marked
  db::closeAllDatabases();
  umask(old);
  for (const char* name : {"g.kdb", "g.kdt", db::kChangeFileName}) {
    const auto perms = fs::status(name).permissions();
    EXPECT_NE(perms & fs::perms::group_write, fs::perms::none) << name;
    EXPECT_EQ(perms & fs::perms::others_write, fs::perms::none) << name;
  }
}

}  // namespace
