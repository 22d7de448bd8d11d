// A power cut: every write after a file's last sync is lost, and so is a
// new file whose directory was not synced. The file layer below keeps, per
// file, what a sync made durable; cut() puts every file back to that. A
// workstation process charges drugs (a line in the patient's table, the
// stock lowered in the catalogue) and deletes charges, syncing once per
// action as the program does when a handler returns; the power goes at
// any point of an action. Reopened, every acknowledged action is there
// and nothing of the cut one.
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <set>

#include "db/os.h"
#include "forwarding_env.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

namespace fs = std::filesystem;

class PowerCut : public dbtest::ForwardingEnv {
 public:
  // Everything in the working directory now counts as on the disk.
  PowerCut() {
    for (const auto& e : fs::directory_iterator(".")) {
      std::string p = key(e.path().string());
      durable_[p] = readFile(p);
      entries_.insert(p);
    }
  }
  struct F : dbtest::ForwardingFile {
    PowerCut* env;
    std::string path;
    int sync() override {
      ++env->syncs;
      env->durable_[path] = readFile(path);
      return in->sync();
    }
  };
  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    auto f = std::make_unique<F>();
    f->env = this;
    f->path = key(p);
    seen_.insert(f->path);
    int rc = base().open(p, w, c, &f->in);
    if (rc == 0) *out = std::move(f);
    return rc;
  }
  int remove(const std::string& p) override {
    seen_.insert(key(p));
    return base().remove(p);
  }
  int syncDir(const std::string& d) override {
    for (const std::string& p : seen_) {
      if (fs::path(p).parent_path() != (fs::absolute(d) / "x").lexically_normal().parent_path()) continue;
      if (fs::exists(p))
        entries_.insert(p);
      else
        entries_.erase(p);
    }
    return base().syncDir(d);
  }

  // The power goes: each file as its last sync left it.
  void cut() {
    for (const std::string& p : seen_) {
      if (!entries_.count(p)) {
        fs::remove(p);
        continue;
      }
      auto d = durable_.find(p);
      writeFile(p, d == durable_.end() ? std::vector<uint8_t>{} : d->second);
    }
  }
  long syncs = 0;

 private:
  static std::string key(const std::string& p) { return fs::absolute(p).lexically_normal().string(); }
  std::map<std::string, std::vector<uint8_t>> durable_;
  std::set<std::string> entries_, seen_;
};

class PowerCutTest : public DbTest {
 protected:
  static constexpr int kDrugs = 30, kStock = 1000;

  void SetUp() override {
    DbTest::SetUp();
    ASSERT_TRUE(cmd::CreateDatabase("ypjbxx", {fi("dm", 10, 8), fi("shl", 3)}));
    ASSERT_TRUE(cmd::OpenDatabase("ypjbxx"));
    for (int i = 1; i <= kDrugs; ++i) ASSERT_TRUE(cmd::AppendRecord("d" + std::to_string(i), kStock));
    db::closeAllDatabases();
    ::sync();
    // Folders of earlier tests, long removed, drop out here: the sync's
    // answer is about them, not about this test's tables.
    static_cast<void>(db::os::syncWritten());
  }

  static bool findDrug(const std::string& dm) {
    cmd::SetCurrentDatabase("ypjbxx");
    cmd::MoveFirst();
    auto same = [dm] { return rt::makeBool(db::fieldTextEquals("dm", dm)); };
    rt::Expr cond(same);
    return cmd::FindRecord(cond.arg());
  }

  // One charge: the line into the patient's table (made when missing),
  // then the stock lowered. Stops (returns false) after `steps` writes.
  static bool charge(int k, int steps) {
    if (steps-- <= 0) return false;
    if (!fs::exists("p2010001.kdb") && !cmd::CreateDatabase("p2010001", {fi("dm", 10, 8), fi("shl", 3)})) return false;
    cmd::OpenDatabase("p2010001");
    cmd::SetCurrentDatabase("p2010001");
    const std::string dm = "d" + std::to_string(1 + k % kDrugs);
    if (steps-- <= 0 || !cmd::AppendRecord(dm, 1 + k % 3)) return false;
    if (steps-- <= 0 || !findDrug(dm)) return false;
    int left = cmd::ReadField("shl").integer() - (1 + k % 3);
    return steps > 0 && cmd::ModifyRecord(rt::omitted, left);
  }

  // Deletes the first charge line and packs, giving its quantity back.
  static bool deleteFirstCharge(int steps) {
    cmd::SetCurrentDatabase("p2010001");
    cmd::MoveTo(1);
    std::string dm = cmd::ReadText("dm");
    int q = cmd::ReadField("shl").integer();
    if (steps-- <= 0 || !cmd::DeleteRecords()) return false;
    if (steps-- <= 0 || !cmd::PackDatabase()) return false;
    if (steps-- <= 0 || !findDrug(dm)) return false;
    return steps > 0 && cmd::ModifyRecord(rt::omitted, cmd::ReadField("shl").integer() + q);
  }

  // Every line's quantity is missing from the catalogue, nothing more.
  // A deletion cut short may have packed its line out already (a pack
  // makes its own steps durable; the give-back to the stock came after):
  // `deletionOf` names that drug, whose stock then lacks the line.
  void expectConsistent(const std::string& what, int acknowledgedLines, const std::string& deletionOf = "",
                        int deletedQty = 0) {
    std::map<std::string, int> charged;
    int lines = 0;
    if (fs::exists("p2010001.kdb")) {
      ASSERT_TRUE(cmd::OpenDatabase("p2010001")) << what << ": " << db::lastError();
      lines = cmd::RecordCount();
      for (int k = 1; k <= lines; ++k) {
        cmd::MoveTo(k);
        charged[cmd::ReadText("dm")] += cmd::ReadField("shl").integer();
      }
    }
    const bool packedOut = !deletionOf.empty() && lines == acknowledgedLines - 1;
    if (packedOut)
      charged[deletionOf] += deletedQty;
    else
      EXPECT_EQ(lines, acknowledgedLines) << what;
    ASSERT_TRUE(cmd::OpenDatabase("ypjbxx")) << what << ": " << db::lastError();
    ASSERT_EQ(cmd::RecordCount(), kDrugs) << what;
    for (int i = 1; i <= kDrugs; ++i) {
      cmd::MoveTo(i);
      std::string dm = cmd::ReadText("dm");
      EXPECT_EQ(cmd::ReadField("shl").integer(), kStock - charged[dm]) << what << " " << dm;
    }
    db::closeAllDatabases();
  }
};

TEST_F(PowerCutTest, EveryAcknowledgedChargeAndDeletionSurvives) {
  const auto catalogue = readFile("ypjbxx.kdb");
  // Power cut during action `cutIn` (0-based: five charges, a deletion,
  // two more charges), after `steps` of its writes.
  for (int cutIn = 0; cutIn < 8; ++cutIn) {
    for (int steps = 0; steps < 4; ++steps) {
      writeFile("ypjbxx.kdb", catalogue);
      fs::remove("p2010001.kdb");
      fs::remove("p2010001.kdb.pack");
      ::sync();
      const std::string what = "cut in action " + std::to_string(cutIn) + " after " + std::to_string(steps);
      pid_t p = fork();
      ASSERT_GE(p, 0);
      if (p == 0) {
        static PowerCut* env = new PowerCut;
        db::os::setEnv(env);
        if (!cmd::OpenDatabase("ypjbxx")) _exit(10);
        for (int a = 0; a <= cutIn; ++a) {
          int budget = a == cutIn ? steps : 1000;
          bool done = a == 5 ? deleteFirstCharge(budget) : charge(a, budget);
          if (a < cutIn && !done) _exit(11);
          // The handler returns: what it wrote is made durable.
          if (a < cutIn && db::os::syncWritten() != 0) _exit(12);
        }
        env->cut();
        _exit(cutIn == 0 || env->syncs > 0 ? 0 : 13);  // no open file is closed: nothing more is synced
      }
      int status = 0;
      ASSERT_EQ(waitpid(p, &status, 0), p);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << " status " << status;
      // Acknowledged: the charges before `cutIn`, less the deleted one.
      int lines = std::min(cutIn, 5) - (cutIn > 5 ? 1 : 0) + std::max(0, cutIn - 6);
      // Charge 0 (drug d1, quantity 1) is the line the deletion removes.
      if (cutIn == 5)
        expectConsistent(what, lines, "d1", 1);
      else
        expectConsistent(what, lines);
    }
  }
}

TEST_F(PowerCutTest, SyncWrittenSyncsOnlyWhatWasWritten) {
  PowerCut env;
  db::os::Env* old = db::os::setEnv(&env);
  ASSERT_TRUE(cmd::OpenDatabase("ypjbxx"));
  EXPECT_EQ(db::os::syncWritten(), 0);
  EXPECT_EQ(env.syncs, 0);  // reading and opening write nothing
  cmd::MoveTo(3);
  EXPECT_EQ(cmd::ReadField("shl").integer(), kStock);
  EXPECT_EQ(db::os::writtenFiles(), 0u);
  ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, 5));
  // The table, the folder's change counters the write advanced, and the
  // folder itself: the catalogue was only appended to before, which needs
  // no mark, so the counter file is new.
  EXPECT_EQ(db::os::writtenFiles(), 3u);
  EXPECT_EQ(db::os::syncWritten(), 0);
  EXPECT_EQ(env.syncs, 2);  // the two files; the folder is synced as a folder
  EXPECT_EQ(db::os::writtenFiles(), 0u);
  db::closeAllDatabases();
  EXPECT_EQ(env.syncs, 2);  // nothing left to sync when it closed
  db::os::setEnv(old);
}

}  // namespace
