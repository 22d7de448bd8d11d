// The record a workstation holds: it shows record k (MoveTo, ReadField),
// another program deletes, packs or is killed while packing, and then the
// first one modifies, deletes or reads "its" record. The write must land
// on the record that was shown, or fail with -44, never on a neighbour.
// The other program is a real process with its own open file.
#include <signal.h>
#include <sys/wait.h>

#include "db/os.h"
#include "forwarding_env.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

using KillAt = dbtest::KillAtChange;

class HeldRecordTest : public DbTest {
 protected:
  // A catalogue of n drugs: id i (1-based) with code "d<i>" and a stock.
  void makeCatalogue(int n) {
    ASSERT_TRUE(cmd::CreateDatabase("yp", {fi("id", 3), fi("dm", 10, 12), fi("shl", 3)}));
    ASSERT_TRUE(cmd::OpenDatabase("yp"));
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(cmd::AppendRecord(i, "d" + std::to_string(i), 100));
  }

  // Runs `body` in another process with its own open files; returns its
  // exit status as waitpid gives it.
  template <typename F>
  int otherWorkstation(F body) {
    pid_t p = fork();
    if (p == 0) {
      // The inherited handles are the parent's: dropped unused, the child
      // opens its own.
      db::closeAllDatabases();
      _exit(body());
    }
    int status = -1;
    waitpid(p, &status, 0);
    return status;
  }

  static int deleteAndPack(int id) {
    if (!cmd::OpenDatabase("yp")) return 10;
    auto isId = [id] { return rt::makeBool(cmd::ReadField("id").integer() == id); };
    rt::Expr cond(isId);
    if (!cmd::DeleteRecords(cond.arg())) return 11;
    if (!cmd::PackDatabase()) return 12;
    return 0;
  }

  // Stock of every drug by id (0 for one that is gone).
  std::vector<int> stocks(int n) {
    std::vector<int> s(size_t(n) + 1, 0);
    int c = cmd::RecordCount();
    for (int k = 1; k <= c; ++k) {
      cmd::MoveTo(k);
      s.at(size_t(cmd::ReadField("id").integer())) = cmd::ReadField("shl").integer();
    }
    return s;
  }
};

TEST_F(HeldRecordTest, ModifyFollowsTheShownDrugWhenAnEarlierOneIsPacked) {
  makeCatalogue(12);
  // The drug window shows drug 10 (MoveTo the chosen row, ReadField).
  ASSERT_TRUE(cmd::MoveTo(10));
  ASSERT_EQ(cmd::ReadText("dm"), "d10");
  int status = otherWorkstation([] { return deleteAndPack(3); });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // 修改: the drug shown changes, not the one now at position 10.
  ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, rt::omitted, 55)) << db::lastError();
  EXPECT_EQ(cmd::ReadText("dm"), "d10");
  std::vector<int> s = stocks(12);
  EXPECT_EQ(s[10], 55);
  EXPECT_EQ(s[11], 100);
  EXPECT_EQ(s[3], 0);
  EXPECT_EQ(cmd::RecordCount(), 11);
  // A read goes on where the record went; a later move starts afresh.
  ASSERT_TRUE(cmd::MoveTo(10));
  EXPECT_EQ(cmd::ReadText("dm"), "d11");
}

TEST_F(HeldRecordTest, ARecordDeletedElsewhereIsRefusedNotReplaced) {
  makeCatalogue(12);
  // Deleted and packed: the shown drug is gone.
  ASSERT_TRUE(cmd::MoveTo(10));
  ASSERT_EQ(cmd::ReadText("dm"), "d10");
  int status = otherWorkstation([] { return deleteAndPack(10); });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(cmd::ModifyRecord(rt::omitted, rt::omitted, 55));
  EXPECT_EQ(db::lastError(), db::kNoRecord);
  EXPECT_FALSE(cmd::DeleteRecords());
  EXPECT_EQ(db::lastError(), db::kNoRecord);
  std::vector<int> s = stocks(12);
  for (int i = 1; i <= 12; ++i) EXPECT_EQ(s[size_t(i)], i == 10 ? 0 : 100) << i;
  EXPECT_EQ(cmd::RecordCount(), 11);

  // Only marked deleted by the other program: still readable, but a
  // change to it would vanish with the next pack, so it is refused.
  ASSERT_TRUE(cmd::MoveTo(5));
  ASSERT_EQ(cmd::ReadText("dm"), "d5");
  status = otherWorkstation([] {
    if (!cmd::OpenDatabase("yp") || !cmd::MoveTo(5) || !cmd::DeleteRecords()) return 10;
    return 0;
  });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(cmd::ReadText("dm"), "d5");
  EXPECT_FALSE(cmd::ModifyRecord(rt::omitted, rt::omitted, 55));
  EXPECT_EQ(db::lastError(), db::kNoRecord);

  // This program's own delete and undelete of the record it holds are no
  // change by another: a modify goes on.
  ASSERT_TRUE(cmd::MoveTo(6));
  ASSERT_TRUE(cmd::DeleteRecords());
  EXPECT_TRUE(cmd::ModifyRecord(rt::omitted, rt::omitted, 66)) << db::lastError();
}

TEST_F(HeldRecordTest, AKilledPackIsCompletedBeforeTheHeldRecordIsTouched) {
  // Two scan batches, deletions in both, so the pack moves records through
  // its redo record; the other program is killed at each of its changes.
  const int n = 2400;
  makeCatalogue(n);
  for (int k = 1; k <= n; k += 5) {
    ASSERT_TRUE(cmd::MoveTo(k));
    ASSERT_TRUE(cmd::DeleteRecords());
  }
  db::closeAllDatabases();
  const auto image = readFile("yp.kdb");
  long changes = 0;
  {
    KillAt counter(0);
    db::os::Env* old = db::os::setEnv(&counter);
    ASSERT_TRUE(cmd::OpenDatabase("yp"));
    counter.armed = true;
    ASSERT_TRUE(cmd::PackDatabase());
    changes = counter.changes;
    db::closeAllDatabases();
    db::os::setEnv(old);
  }
  ASSERT_GT(changes, 4);
  for (long at = 1; at <= changes; ++at) {
    writeFile("yp.kdb", image);
    std::filesystem::remove("yp.kdb.pack");
    const int held = 1000 + int(at % 7) * 200 + 2;  // a live drug behind deleted ones
    ASSERT_TRUE(cmd::OpenDatabase("yp"));
    ASSERT_TRUE(cmd::MoveTo(held));
    ASSERT_EQ(cmd::ReadField("id").integer(), held);
    int status = otherWorkstation([at] {
      static KillAt env(0);
      env = KillAt(at);
      db::os::setEnv(&env);
      if (!cmd::OpenDatabase("yp")) return 10;
      env.armed = true;
      cmd::PackDatabase();
      return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "killed at change " << at << " of " << changes;
    // The read and the modify see the record shown, wherever it now is.
    EXPECT_EQ(cmd::ReadField("id").integer(), held) << at;
    ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, rt::omitted, 7)) << at << ": " << db::lastError();
    db::closeAllDatabases();
    ASSERT_TRUE(cmd::OpenDatabase("yp"));
    int c = cmd::RecordCount();
    EXPECT_TRUE(c == n || c == n - n / 5) << at << ": " << c;
    int changed = 0;
    for (int k = 1; k <= c; ++k) {
      cmd::MoveTo(k);
      if (cmd::ReadField("shl").integer() == 7) {
        ++changed;
        EXPECT_EQ(cmd::ReadField("id").integer(), held) << at;
      }
    }
    EXPECT_EQ(changed, 1) << at;
    db::closeAllDatabases();
  }
}

TEST_F(HeldRecordTest, ReadOnlyHolderOfAKilledPackIsRefusedNotMisled) {
  makeCatalogue(2000);
  for (int k = 1; k <= 2000; k += 3) {
    ASSERT_TRUE(cmd::MoveTo(k));
    ASSERT_TRUE(cmd::DeleteRecords());
  }
  db::closeAllDatabases();
  ASSERT_TRUE(cmd::OpenDatabase("yp", "", true));
  ASSERT_TRUE(cmd::MoveTo(1500));
  ASSERT_EQ(cmd::ReadField("id").integer(), 1500);
  int status = otherWorkstation([] {
    static KillAt env(6);
    db::os::setEnv(&env);
    if (!cmd::OpenDatabase("yp")) return 10;
    env.armed = true;
    cmd::PackDatabase();
    return 0;
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  // Half packed: a reader cannot finish it and must not read the moved area.
  rt::Result v = cmd::ReadField("id");
  EXPECT_EQ(db::lastError(), db::kFileSizeWrong);
  EXPECT_EQ(v.integer(), 0);
}

}  // namespace
