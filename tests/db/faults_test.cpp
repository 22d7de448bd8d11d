// Faults that once lost or damaged records: damaged descriptors, names of
// auxiliary files and symbolic links given to create, lock bookkeeping of
// nested scans, the kind of locks taken, waiting for ever, and scans and
// packs over tables of several scan batches.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "db/os.h"
#include "forwarding_env.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

using Clock = std::chrono::steady_clock;

class FaultsTest : public DbTest {};

int openCode(const std::string& name, bool readOnly) {
  rt::invoke(rt::Cmd::OpenDatabase, name, rt::omitted, readOnly);
  int rc = db::lastError();
  db::closeAllDatabases();
  return rc;
}

// --- damaged descriptors ---------------------------------------------------

TEST_F(FaultsTest, DamagedDescriptorsAreRefusedAndLeftUntouched) {
  // Eight fields, 52-byte records: 4 + 4 + 20 + 4 + 8 + 1 + 2 + 8 + 1.
  ASSERT_TRUE(cmd::CreateDatabase(
      "h", {fi("id", 3), fi("t", 10, 20), fi("f", 5), fi("d", 8), fi("b", 7), fi("s", 2), fi("l", 4), fi("x", 1)}));
  ASSERT_TRUE(cmd::OpenDatabase("h"));
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(cmd::AppendRecord(i, "rec" + std::to_string(i), 1.5f, rt::DateTime{40000.0 + i}, true, int32_t(i),
                                  int64_t(i) << 40, i));
  db::closeAllDatabases();
  const auto good = readFile("h.kdb");
  ASSERT_EQ(good.size(), size_t(116 + 8 * 72 + 5 * 52));
  auto desc = [](int field, int at) { return size_t(116 + 72 * field + at); };

  struct Damage {
    const char* what;
    std::vector<std::pair<size_t, int32_t>> words;
  };
  const Damage damages[] = {
      {"record size one too large", {{24, 53}}},
      {"record size one too small", {{24, 51}}},
      {"field count 8 -> 7", {{112, 7}}},
      {"record size 0x7FFFFFF0", {{24, 0x7FFFFFF0}}},
      {"fields overlap", {{desc(3, 24), 24}}},
      {"gap before the last field", {{24, 53}, {desc(7, 24), 52}}},
      {"text size smaller than its room", {{desc(1, 28), 19}}},
      {"text size reaching into the next field", {{desc(1, 28), 21}}},
      {"first field not at 4", {{desc(0, 24), 5}}},
  };
  for (const Damage& d : damages) {
    auto img = good;
    for (auto [at, v] : d.words) put32(img, at, v);
    writeFile("h.kdb", img);
    EXPECT_EQ(openCode("h", false), db::kNotDatabase) << d.what;
    EXPECT_EQ(readFile("h.kdb"), img) << d.what << ": the file was changed";
    EXPECT_EQ(openCode("h", true), db::kNotDatabase) << d.what;
  }
  writeFile("h.kdb", good);
  ASSERT_TRUE(cmd::OpenDatabase("h"));
  EXPECT_EQ(cmd::RecordCount(), 5);
  db::closeAllDatabases();
  EXPECT_EQ(readFile("h.kdb"), good);  // a sound file opens byte for byte as it was
}

// --- names and links given to create --------------------------------------

TEST_F(FaultsTest, NamesWithTheAuxiliaryExtensionAreRefused) {
  ASSERT_TRUE(cmd::CreateDatabase("base", {fi("id", 3), fi("m", 12)}));
  ASSERT_TRUE(cmd::OpenDatabase("base"));
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(cmd::AppendRecord(i, std::string(size_t(300 + 200 * i), char('a' + i))));
  const auto kdt = readFile("base.kdt");
  ASSERT_GT(kdt.size(), 4096u);

  EXPECT_FALSE(cmd::CopyRecords("base.kdt", rt::Arg{}));
  EXPECT_EQ(db::lastError(), db::kBadPath);
  EXPECT_FALSE(cmd::CopyRecords("BASE.Kdt", rt::Arg{}));
  EXPECT_EQ(db::lastError(), db::kBadPath);
  EXPECT_FALSE(cmd::CreateDatabase("base.kdt", {fi("v", 3)}));
  EXPECT_EQ(db::lastError(), db::kBadPath);
  EXPECT_FALSE(cmd::CreateDatabase("fresh.KDT", {fi("v", 3)}));
  EXPECT_EQ(db::lastError(), db::kBadPath);
  EXPECT_FALSE(std::filesystem::exists("fresh.KDT"));
  EXPECT_EQ(readFile("base.kdt"), kdt);
  db::closeAllDatabases();
  EXPECT_FALSE(cmd::CreateDatabase("Base.kdt", {fi("v", 3)}));
  EXPECT_EQ(readFile("base.kdt"), kdt);

  // A table file that carries the auxiliary extension is not opened either.
  ASSERT_TRUE(cmd::CreateDatabase("plain", {fi("v", 3)}));
  writeFile("old.KDT", readFile("plain.kdb"));
  EXPECT_EQ(openCode("old.KDT", false), db::kNotDatabase);
  EXPECT_EQ(openCode("old.kdt", true), db::kNotDatabase);
  EXPECT_EQ(readFile("old.KDT"), readFile("plain.kdb"));

  // The markers of an open table cover its auxiliary file: another table
  // whose auxiliary file would be base.kdt is not made over it.
  db::OpenOptions o;
  std::unique_ptr<db::Table> other;
  ASSERT_EQ(db::Table::open("base.kdb", o, &other), 0);
  EXPECT_FALSE(cmd::CreateDatabase("base.xyz", {fi("m", 12)}));
  EXPECT_EQ(db::lastError(), db::kAuxCreateFailed);  // base.kdt is base.kdb's, open or not
  EXPECT_FALSE(std::filesystem::exists("base.xyz"));
  EXPECT_EQ(readFile("base.kdt"), kdt);
  other.reset();
  ASSERT_TRUE(cmd::OpenDatabase("base"));
  ASSERT_TRUE(cmd::MoveTo(6));
  EXPECT_EQ(cmd::ReadText("m"), std::string(1300, 'f'));
}

TEST_F(FaultsTest, CreateDoesNotFollowSymbolicLinks) {
  const std::vector<uint8_t> precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
  writeFile("victim.dat", precious);
  ASSERT_EQ(symlink("victim.dat", "lnk.kdb"), 0);
  EXPECT_FALSE(cmd::CreateDatabase("lnk", {fi("v", 3)}));
  EXPECT_EQ(db::lastError(), db::kBadPath);
  EXPECT_EQ(readFile("victim.dat"), precious);
  ASSERT_TRUE(std::filesystem::is_symlink("lnk.kdb"));
  EXPECT_EQ(std::filesystem::read_symlink("lnk.kdb"), "victim.dat");

  // The auxiliary file's name: refused before the database file is made.
  writeFile("memo.dat", precious);
  ASSERT_EQ(symlink("memo.dat", "lk.kdt"), 0);
  EXPECT_FALSE(cmd::CreateDatabase("lk", {fi("m", 12)}));
  EXPECT_EQ(db::lastError(), db::kBadPath);
  EXPECT_EQ(readFile("memo.dat"), precious);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status("lk.kdb")));
  EXPECT_EQ(std::filesystem::read_symlink("lk.kdt"), "memo.dat");

  // A dangling link makes no file at its target.
  ASSERT_EQ(symlink("nowhere.bin", "dang.kdb"), 0);
  EXPECT_FALSE(cmd::CreateDatabase("dang", {fi("v", 3)}));
  EXPECT_FALSE(std::filesystem::exists("nowhere.bin"));

  // Replacing an existing table of one's own still works.
  ASSERT_TRUE(cmd::CreateDatabase("real", {fi("m", 12)}));
  ASSERT_TRUE(cmd::CreateDatabase("real", {fi("m", 12)}));
}

// A create writes the whole table under a name of its own and puts it in
// place in one step: a create cut short (here: the rename refused, as a
// share that dropped refuses it) leaves no file at the name, and a table
// another workstation made at the same moment is not replaced.
class CreateRace : public dbtest::ForwardingEnv {
 public:
  bool refuseRename = false;
  bool otherMakesIt = false;
  int rename(const std::string& f, const std::string& t) override {
    if (refuseRename) return db::kHardware;
    return ForwardingEnv::rename(f, t);
  }
  std::unique_ptr<dbtest::ForwardingFile> wrap(const std::string& p, bool w) override {
    if (otherMakesIt && p.ends_with(".new")) {
      otherMakesIt = false;
      writeFile("race.kdb", {'o', 't', 'h', 'e', 'r'});
    }
    return ForwardingEnv::wrap(p, w);
  }
};

TEST_F(FaultsTest, ACreateCutShortOrRacedLeavesNoHalfTableAndReplacesNoOthers) {
  CreateRace env;
  db::os::Env* previous = db::os::setEnv(&env);
  env.refuseRename = true;
  EXPECT_FALSE(cmd::CreateDatabase("cut", {fi("v", 3)}));
  EXPECT_FALSE(std::filesystem::exists("cut.kdb"));
  env.refuseRename = false;
  env.otherMakesIt = true;
  EXPECT_FALSE(cmd::CreateDatabase("race", {fi("v", 3)}));
  EXPECT_EQ(db::lastError(), db::kSharingViolation);
  EXPECT_EQ(readFile("race.kdb"), (std::vector<uint8_t>{'o', 't', 'h', 'e', 'r'}));
  db::os::setEnv(previous);
  for (const auto& e : std::filesystem::directory_iterator("."))
    EXPECT_FALSE(e.path().string().ends_with(".new")) << e.path() << " left behind";
}

// --- locks -----------------------------------------------------------------

// True when some open file description other than ours holds a lock on
// the byte at `offset` of `path` (read back through a fresh descriptor).
bool lockedByOthers(const char* path, int64_t offset) {
  int fd = ::open(path, O_RDONLY);
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  int r = ::fcntl(fd, F_OFD_GETLK, &fl);
  ::close(fd);
  return r == 0 && fl.l_type != F_UNLCK;
}

TEST_F(FaultsTest, NestedScansKeepTheOuterScansLocks) {
  ASSERT_TRUE(cmd::CreateDatabase("n", {fi("v", 3)}));
  ASSERT_TRUE(cmd::OpenDatabase("n"));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(cmd::AppendRecord(i));
  const int64_t hdr = 116 + 72, rs = 8;
  auto one = [] { return rt::makeDouble(1); };
  rt::Expr oneE(one);

  // A sum inside a find's condition: the find's batch stays locked.
  bool heldAfterInnerSum = false, heldAfterLast = true;
  double inner = 0;
  auto cond = [&] {
    if (cmd::ReadField("v").integer() != 4) return rt::makeBool(false);
    inner = cmd::SumRecords(oneE.arg());
    heldAfterInnerSum = lockedByOthers("n.kdb", hdr + 4 * rs) && lockedByOthers("n.kdb", hdr + 9 * rs);
    return rt::makeBool(true);
  };
  rt::Expr condE(cond);
  cmd::MoveFirst();
  ASSERT_TRUE(cmd::FindRecord(condE.arg()));
  EXPECT_EQ(inner, 10.0);
  EXPECT_TRUE(heldAfterInnerSum);
  EXPECT_EQ(cmd::ReadField("v").integer(), 4);
  heldAfterLast = lockedByOthers("n.kdb", hdr + 4 * rs) || lockedByOthers("n.kdb", 0);
  EXPECT_FALSE(heldAfterLast);

  // A find inside a sum's condition: the sum's whole-file lock stays.
  // Another program appends first, so the sum reads the file under that
  // lock instead of taking its kept copy.
  {
    std::unique_ptr<db::Table> other;
    ASSERT_EQ(db::Table::open("n.kdb", db::OpenOptions{}, &other), db::kOk);
    const rt::Arg v = rt::makeInt(10);
    const rt::Arg* values[] = {&v};
    ASSERT_EQ(other->append(values, 1), db::kOk);
  }
  bool wholeHeld = false;
  int calls = 0;
  auto cond2 = [&] {
    if (calls++ == 2) {
      auto never = [] { return rt::makeBool(false); };
      rt::Expr neverE(never);
      cmd::FindRecord(neverE.arg());
      wholeHeld =
          lockedByOthers("n.kdb", 0) && lockedByOthers("n.kdb", hdr + 9 * rs) && lockedByOthers("n.kdb", 0x7FFFFFFE);
    }
    return rt::makeBool(true);
  };
  rt::Expr cond2E(cond2);
  EXPECT_EQ(cmd::SumRecords(oneE.arg(), cond2E.arg()), 11.0);
  EXPECT_TRUE(wholeHeld);
  EXPECT_FALSE(lockedByOthers("n.kdb", 0) || lockedByOthers("n.kdb", hdr));
}

TEST_F(FaultsTest, AWaitOfMinusOneWaitsForEver) {
  ASSERT_TRUE(cmd::CreateDatabase("w", {fi("v", 3)}));
  ASSERT_TRUE(cmd::OpenDatabase("w"));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(cmd::AppendRecord(i));
  db::closeAllDatabases();
  db::OpenOptions o;
  std::unique_ptr<db::Table> a, b;
  ASSERT_EQ(db::Table::open("w.kdb", o, &a), 0);
  ASSERT_EQ(db::Table::open("w.kdb", o, &b), 0);
  db::setLockWaitMs(-1);
  for (bool whole : {false, true}) {
    ASSERT_EQ(whole ? a->lockWhole() : a->lockRecord(1), 0);
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      EXPECT_EQ(whole ? a->unlockWhole() : a->unlockRecord(1), 0);
    });
    auto t0 = Clock::now();
    EXPECT_EQ(whole ? b->lockWhole() : b->lockRecord(1), 0) << "whole " << whole;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(ms, 200) << "whole " << whole;
    release.join();
    EXPECT_EQ(whole ? b->unlockWhole() : b->unlockRecord(1), 0);
  }
}

// The lines of /proc/locks about one file: "OFDLCK", "POSIX" or "FLOCK"
// with their ranges.
std::vector<std::string> kernelLocksOn(const char* path) {
  struct stat st;
  if (::stat(path, &st) != 0) return {};
  char id[64];
  std::snprintf(id, sizeof id, ":%lu ", static_cast<unsigned long>(st.st_ino));
  std::ifstream in("/proc/locks");
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (line.find("->") != std::string::npos) continue;  // a waiter
    if (line.find(id) != std::string::npos) out.push_back(line);
  }
  return out;
}

bool onlyOfdLocks(const std::vector<std::string>& lines) {
  for (const std::string& l : lines)
    if (l.find("OFDLCK") == std::string::npos) return false;
  return true;
}

// Records /proc/locks while an opener checks the share markers, that is
// while it holds the open gate.
class GateWatch : public dbtest::ForwardingEnv {
 public:
  struct F : dbtest::ForwardingFile {
    GateWatch* env;
    int probe(int64_t o, int64_t l, bool* h) override {
      for (const char* p : {"g.kdb", "g.kdt"})
        for (const std::string& line : kernelLocksOn(p)) env->seen.push_back(line);
      ++env->probes;
      return in->probe(o, l, h);
    }
  };
  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    auto f = std::make_unique<F>();
    f->env = this;
    int rc = base().open(p, w, c, &f->in);
    if (rc == 0) *out = std::move(f);
    return rc;
  }
  std::vector<std::string> seen;
  int probes = 0;
};

TEST_F(FaultsTest, GateAndMarkersAreOpenFileDescriptionLocks) {
  ASSERT_TRUE(cmd::CreateDatabase("g", {fi("v", 3), fi("m", 12)}));
  GateWatch watch;
  db::os::Env* old = db::os::setEnv(&watch);
  bool opened = cmd::OpenDatabase("g");
  db::os::setEnv(old);
  ASSERT_TRUE(opened);
  ASSERT_GT(watch.probes, 0);
  ASSERT_FALSE(watch.seen.empty());  // the gate itself is a lock on the file
  for (const std::string& l : watch.seen) EXPECT_NE(l.find("OFDLCK"), std::string::npos) << l;
  // Held for the table's life: markers on both files, byte-range locks of
  // the open file only.
  auto dbLocks = kernelLocksOn("g.kdb"), auxLocks = kernelLocksOn("g.kdt");
  EXPECT_FALSE(dbLocks.empty());
  EXPECT_FALSE(auxLocks.empty());
  EXPECT_TRUE(onlyOfdLocks(dbLocks));
  EXPECT_TRUE(onlyOfdLocks(auxLocks));
  ASSERT_TRUE(cmd::AppendRecord(1, "memo"));
  EXPECT_TRUE(onlyOfdLocks(kernelLocksOn("g.kdb")));
  db::closeAllDatabases();
  EXPECT_TRUE(kernelLocksOn("g.kdb").empty());
  EXPECT_TRUE(kernelLocksOn("g.kdt").empty());
}

// --- tables of several scan batches ---------------------------------------

class BatchesTest : public DbTest {
 protected:
  // 88-byte records: 1861 to a 160 KB batch, so 5000 records make three.
  static constexpr int kRecords = 5000, kPerBatch = 163840 / 88;
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_TRUE(cmd::CreateDatabase("big", {fi("id", 3), fi("t", 10, 76), fi("hj", 5)}));
    ASSERT_TRUE(cmd::OpenDatabase("big"));
    for (int i = 0; i < kRecords; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "r" + std::to_string(i), float(i % 7)));
    db::closeAllDatabases();
    image_ = readFile("big.kdb");
  }
  // Marks the records with the given ids deleted, packs, and checks that
  // every other record is there once, in order, with its serial.
  void deletePackAndCheck(const std::vector<int>& ids, const char* what) {
    writeFile("big.kdb", image_);
    ASSERT_TRUE(cmd::OpenDatabase("big"));
    std::vector<bool> gone(kRecords, false);
    for (int id : ids) {
      gone[size_t(id)] = true;
      ASSERT_TRUE(cmd::MoveTo(id + 1));
      ASSERT_TRUE(cmd::DeleteRecords());
    }
    ASSERT_TRUE(cmd::PackDatabase()) << what;
    const int kept = kRecords - int(ids.size());
    EXPECT_EQ(cmd::RecordCount(), kept) << what;
    db::closeAllDatabases();
    auto b = readFile("big.kdb");
    const size_t hdr = 116 + 3 * 72, rs = 88;
    ASSERT_EQ(b.size(), hdr + size_t(kept) * rs) << what;
    EXPECT_EQ(at32(b, 20), kRecords + 1) << what;
    size_t at = 0;
    for (int id = 0; id < kRecords; ++id) {
      if (gone[size_t(id)]) continue;
      ASSERT_EQ(at32(b, hdr + at * rs), id + 1) << what << " record " << at;
      ASSERT_EQ(at32(b, hdr + at * rs + 4), id) << what << " record " << at;
      ++at;
    }
  }
  std::vector<uint8_t> image_;
};

TEST_F(BatchesTest, PackMovesEveryLaterBatch) {
  deletePackAndCheck({0, 5, 17}, "deletions in the first batch only");
  deletePackAndCheck({kPerBatch + 3, kPerBatch + 4}, "deletions in the second batch only");
  deletePackAndCheck({kRecords - 1}, "the last record");
  std::vector<int> firstBatch;
  for (int i = 0; i < kPerBatch + 10; ++i) firstBatch.push_back(i);
  deletePackAndCheck(firstBatch, "the whole first batch: later ones move down a batch");
  deletePackAndCheck({kPerBatch - 1, kPerBatch, 2 * kPerBatch - 1, 2 * kPerBatch}, "on the batch edges");
  std::vector<int> many;
  for (int i = 0; i < kRecords; i += 3) many.push_back(i);
  deletePackAndCheck(many, "every third record");
  deletePackAndCheck({}, "nothing deleted");
}

TEST_F(BatchesTest, ScansCrossBatchBoundaries) {
  ASSERT_TRUE(cmd::OpenDatabase("big"));
  auto hj = [] { return cmd::ReadField("hj").release(); };
  rt::Expr hjE(hj);
  double want = 0;
  for (int i = 0; i < kRecords; ++i) want += i % 7;
  EXPECT_DOUBLE_EQ(cmd::SumRecords(hjE.arg()), want);
  auto late = [] { return rt::makeBool(cmd::ReadField("id").integer() >= kPerBatch); };
  rt::Expr lateE(late);
  double wantLate = 0;
  for (int i = kPerBatch; i < kRecords; ++i) wantLate += i % 7;
  EXPECT_DOUBLE_EQ(cmd::SumRecords(hjE.arg(), lateE.arg()), wantLate);

  int target = 0;
  auto is = [&] { return rt::makeBool(cmd::ReadField("id").integer() == target); };
  rt::Expr isE(is);
  for (int t : {kPerBatch - 1, kPerBatch, 2 * kPerBatch + 1, kRecords - 1}) {
    target = t;
    cmd::MoveFirst();
    ASSERT_TRUE(cmd::FindRecord(isE.arg())) << t;
    EXPECT_EQ(cmd::ReadText("t"), "r" + std::to_string(t));
  }
  // Searching forward from the third batch does not find an earlier one.
  target = 10;
  ASSERT_TRUE(cmd::MoveTo(2 * kPerBatch + 5));
  EXPECT_FALSE(cmd::FindRecord(isE.arg()));
  EXPECT_EQ(cmd::ReadField("id").integer(), 2 * kPerBatch + 4);

  auto every1000 = [] { return rt::makeBool(cmd::ReadField("id").integer() % 1000 == 999); };
  rt::Expr every1000E(every1000);
  ASSERT_TRUE(cmd::ReplaceFields(every1000E.arg(), "hj", 100.0f));
  double replaced = want;
  for (int i = 999; i < kRecords; i += 1000) replaced += 100 - i % 7;
  EXPECT_DOUBLE_EQ(cmd::SumRecords(hjE.arg()), replaced);

  auto even = [] { return rt::makeBool(cmd::ReadField("id").integer() % 2 == 0); };
  rt::Expr evenE(even);
  ASSERT_TRUE(cmd::CopyRecords("half", evenE.arg()));
  ASSERT_TRUE(cmd::DeleteRecords(lateE.arg()));
  ASSERT_TRUE(cmd::OpenDatabase("half"));
  ASSERT_EQ(cmd::RecordCount(), kRecords / 2);
  ASSERT_TRUE(cmd::MoveTo(kRecords / 2));
  EXPECT_EQ(cmd::ReadField("id").integer(), kRecords - 2);
  ASSERT_TRUE(cmd::SetCurrentDatabase("big"));
  ASSERT_TRUE(cmd::PackDatabase());
  EXPECT_EQ(cmd::RecordCount(), kPerBatch);
}

}  // namespace
