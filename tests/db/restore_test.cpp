// Rotation of old backups, the folder-in-use lock, and kdbtool restore:
// the choice of backups to keep over simulated days, and restores run as
// the administrator runs them, next to programs holding the folder.
#include <map>
#include <set>

#include "backup_test.h"
#include "db/changes.h"
#include "db/folder_use.h"
#include "tools/backup_keep.h"

using namespace dbtest;

namespace {

namespace fs = std::filesystem;
using kdbtool::Date;

std::string nightly(const Date& d) { return kdbtool::dateText(d) + "_213000"; }

std::set<std::string> afterRotation(std::set<std::string> names, const Date& today, int days, int months,
                                    const std::string& justMade) {
  std::vector<std::string> list(names.begin(), names.end());
  for (const std::string& n : kdbtool::backupsToRemove(list, today, days, months, justMade)) names.erase(n);
  return names;
}

// 100 nights of backups kept for 7 days and 3 months, through a leap
// February, with a stray unfinished folder, a second backup on one night
// and names that are no backups.
TEST(Rotation, HundredNightsKeepTheLastWeekAndEachMonthsNewest) {
  std::set<std::string> kept = {"notes", "2024-02-30_213000", "2024-01-05_2130", "restore-aside-2024-01-01_000000"};
  const long first = kdbtool::daysFromCivil({2024, 1, 1});
  for (long day = first; day < first + 100; ++day) {
    const Date today = kdbtool::civilFromDays(day);
    std::string made = nightly(today);
    kept.insert(made);
    if (today.month == 1 && today.day == 20) kept.insert("unfinished-" + made);  // a failed night
    if (today.month == 2 && today.day == 29) {
      // Two backups that night: only the later one is February's.
      kept.insert(made);
      made += "-2";
      kept.insert(made);
    }
    kept = afterRotation(kept, today, 7, 3, made);
    // An unfinished folder is kept until it is at least a day old and out of the week.
    EXPECT_EQ(kept.count("unfinished-2024-01-20_213000"),
              (today.month == 1 && today.day >= 20 && today.day < 27) ? 1u : 0u)
        << kdbtool::dateText(today);
    if (kdbtool::dateText(today) == "2024-03-01") {
      EXPECT_EQ(kept,
                (std::set<std::string>{"2024-01-31_213000", "2024-02-24_213000", "2024-02-25_213000",
                                       "2024-02-26_213000", "2024-02-27_213000", "2024-02-28_213000",
                                       "2024-02-29_213000", "2024-02-29_213000-2", "2024-03-01_213000", "notes",
                                       "2024-02-30_213000", "2024-01-05_2130", "restore-aside-2024-01-01_000000"}));
    }
  }
  EXPECT_EQ(kdbtool::dateText(kdbtool::civilFromDays(first + 99)), "2024-04-09");
  EXPECT_EQ(kept, (std::set<std::string>{"2024-02-29_213000-2", "2024-03-31_213000", "2024-04-03_213000",
                                         "2024-04-04_213000", "2024-04-05_213000", "2024-04-06_213000",
                                         "2024-04-07_213000", "2024-04-08_213000", "2024-04-09_213000", "notes",
                                         "2024-02-30_213000", "2024-01-05_2130", "restore-aside-2024-01-01_000000"}));
}

// Keeping nothing still spares the one just made, backups dated after a
// clock set back, a young unfinished folder, and names that only look like
// backups; a second backup of a second is ordered by its number.
TEST(Rotation, KeepingNothingSparesWhatMustStay) {
  const std::set<std::string> names = {"2024-06-10_213000",
                                       "2024-06-10_213000-2",
                                       "2024-06-10_213000-10",
                                       "2024-06-12_080000",
                                       "unfinished-2024-06-09_235959",
                                       "unfinished-2024-06-08_010000",
                                       "2024-06-10_246000",
                                       "2024-06-10_213000-1",
                                       "2024-6-10_213000",
                                       "unfinished-2024-06-08_010000-x"};
  EXPECT_EQ(afterRotation(names, {2024, 6, 10}, 0, 0, "2024-06-10_213000-2"),
            (std::set<std::string>{"2024-06-10_213000-2", "2024-06-12_080000", "unfinished-2024-06-09_235959",
                                   "2024-06-10_246000", "2024-06-10_213000-1", "2024-6-10_213000",
                                   "unfinished-2024-06-08_010000-x"}));
  // One month kept: its newest is "-10", not "-2".
  EXPECT_EQ(
      afterRotation({"2024-06-10_213000-2", "2024-06-10_213000-10", "2024-06-01_000000"}, {2024, 6, 10}, 0, 1, ""),
      (std::set<std::string>{"2024-06-10_213000-10"}));
  Date d;
  EXPECT_FALSE(kdbtool::parseDate("2023-02-29", &d));
  EXPECT_TRUE(kdbtool::parseDate("2000-02-29", &d));
}

class RestoreTest : public BackupTest {
 protected:
  // Every file of a folder (not its subfolders) with its bytes.
  std::map<std::string, std::vector<uint8_t>> files(const fs::path& dir) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) out[e.path().filename().string()] = readFile(e.path().string());
    return out;
  }
  std::vector<fs::path> asideFolders() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator("centre"))
      if (e.is_directory() && e.path().filename().string().rfind("restore-aside-", 0) == 0) out.push_back(e.path());
    return out;
  }
  void appendTo(const std::string& name, int from, int n) {
    ASSERT_TRUE(cmd::OpenDatabase("centre/" + name));
    for (int i = from; i < from + n; ++i) ASSERT_TRUE(cmd::AppendRecord(i, memoFor(i)));
    cmd::CloseDatabase();
  }
  // A complete backup of centre/ into safe/; its folder.
  fs::path backUp() {
    ToolRun r = dbtest::kdbtool("backup centre safe");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<fs::path> all = backups();
    return all.empty() ? fs::path() : all.back();
  }
};

// A backup with the rotation options, dated by the moved clock: the old
// backups neither rule keeps go, everything else under DEST stays.
TEST_F(RestoreTest, BackupRemovesOnlyOldBackupsNeitherRuleKeeps) {
  makeTable("a", 2);
  for (const char* old :
       {"2024-04-30_213000", "2024-05-30_213000", "2024-05-31_213000", "2024-06-08_213000", "2024-06-09_213000",
        "unfinished-2024-06-09_213000", "unfinished-2024-06-01_213000", "old-stuff", "2024-01-01_000000x"}) {
    fs::create_directory(fs::path("safe") / old);
    writeFile((fs::path("safe") / old / "a.kdb").string(), {1, 2, 3});
  }
  ToolRun r = dbtest::kdbtool("backup --keep-days 2 --keep-months 2 centre safe", "KDBTOOL_TODAY=2024-06-10");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::set<std::string> left;
  std::string made;
  for (const fs::path& p : backups()) {
    left.insert(p.filename().string());
    if (p.filename().string().rfind("2024-06-10_", 0) == 0) made = p.filename().string();
  }
  ASSERT_FALSE(made.empty()) << r.out;
  EXPECT_TRUE(fs::exists(fs::path("safe") / made / "a.kdb"));
  EXPECT_EQ(left, (std::set<std::string>{made, "2024-05-31_213000", "2024-06-09_213000", "unfinished-2024-06-09_213000",
                                         "old-stuff", "2024-01-01_000000x"}));
  EXPECT_TRUE(has(r.out, "old backup removed: 2024-04-30_213000")) << r.out;
  EXPECT_EQ(dbtest::kdbtool("backup centre safe", "KDBTOOL_TODAY=2024-6-10").status, 1);
}

// The folder lock itself: shared holds go together, a hold alone goes
// with nothing, and every hold ends with its owner.
TEST_F(RestoreTest, FolderIsHeldSharedOrAlone) {
  std::unique_ptr<db::FolderUse> one, two, alone;
  ASSERT_EQ(db::FolderUse::enter("centre", &one), db::kOk);
  ASSERT_EQ(db::FolderUse::enter("centre", &two), db::kOk);
  EXPECT_EQ(db::FolderUse::takeAlone("centre", &alone), db::kSharingViolation);
  one.reset();
  EXPECT_EQ(db::FolderUse::takeAlone("centre", &alone), db::kSharingViolation);
  two.reset();
  ASSERT_EQ(db::FolderUse::takeAlone("centre", &alone), db::kOk);
  EXPECT_EQ(db::FolderUse::enter("centre", &one), db::kSharingViolation);
  EXPECT_EQ(db::enterFolderForRun("centre"), db::kSharingViolation);
  alone.reset();
  EXPECT_EQ(db::enterFolderForRun("centre"), db::kOk);
  EXPECT_EQ(db::FolderUse::takeAlone("centre", &alone), db::kSharingViolation);
  db::leaveFolderForRun();
  EXPECT_EQ(db::FolderUse::takeAlone("centre", &alone), db::kOk);
}

// Restore waits for nobody: a program holding the folder, or (an older
// program) a table to be replaced open, and nothing changes. A backup does
// not read a folder a restore holds.
TEST_F(RestoreTest, RefusedWhileTheFolderOrATableIsInUse) {
  makeTable("a", 3);
  makeTable("b", 2);
  const fs::path saved = backUp();
  ASSERT_FALSE(saved.empty());
  appendTo("a", 3, 2);
  const auto before = files("centre");

  std::unique_ptr<db::FolderUse> program;
  ASSERT_EQ(db::FolderUse::enter("centre", &program), db::kOk);
  ToolRun r = dbtest::kdbtool("restore " + saved.string() + " centre");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "a program is working on centre")) << r.err;
  EXPECT_TRUE(has(r.err, "kdbuse.dat")) << r.err;
  program.reset();

  std::unique_ptr<db::Table> older;
  ASSERT_EQ(db::Table::open("centre/b.kdb", db::OpenOptions{}, &older), db::kOk);
  r = dbtest::kdbtool("restore " + saved.string() + " centre");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "b.kdb is open in another program")) << r.err;
  // Restoring only the table nobody has open goes ahead.
  r = dbtest::kdbtool("restore " + saved.string() + " centre a");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  older.reset();
  EXPECT_EQ(readFile("centre/a.kdb"), readFile((saved / "a.kdb").string()));
  EXPECT_EQ(readFile("centre/b.kdb"), before.at("b.kdb"));

  std::unique_ptr<db::FolderUse> restore;
  ASSERT_EQ(db::FolderUse::takeAlone("centre", &restore), db::kOk);
  r = dbtest::kdbtool("backup centre safe");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "a restore is under way")) << r.err;
  EXPECT_EQ(dbtest::kdbtool("verify centre").status, 1);
  EXPECT_EQ(backups().size(), 1u);
}

// Restored tables are the backup's bytes; the files they replace (with a
// pack's redo record, which must not be replayed on them) are kept aside;
// tables not named are left alone; each restored table has a new change
// mark.
TEST_F(RestoreTest, RestoresTheBackupsBytesAndKeepsTheOldFilesAside) {
  makeTable("a", 3);
  makeTable("b", 4);
  makeTable("c", 1);
  const fs::path saved = backUp();
  ASSERT_FALSE(saved.empty());
  appendTo("a", 3, 5);
  appendTo("b", 4, 2);
  writeFile("centre/a.kdb.pack", {9, 9, 9});
  ASSERT_TRUE(cmd::CreateDatabase("centre/new", {fi("v", 3)}));
  db::closeAllDatabases();
  ASSERT_EQ(db::bumpChange("centre/a.kdb"), db::kOk);
  uint64_t markBefore = 0, markAfter = 0;
  ASSERT_EQ(db::readChange("centre/a.kdb", &markBefore), db::kOk);
  const auto before = files("centre");

  ToolRun r = dbtest::kdbtool("restore " + saved.string() + " centre A");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(has(r.out, "a.kdb: 3 records, restored and checked")) << r.out;
  std::vector<fs::path> aside = asideFolders();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(files(aside[0]), (std::map<std::string, std::vector<uint8_t>>{{"a.kdb", before.at("a.kdb")},
                                                                          {"a.kdt", before.at("a.kdt")},
                                                                          {"a.kdb.pack", before.at("a.kdb.pack")}}));
  auto now = files("centre");
  EXPECT_EQ(now.at("a.kdb"), readFile((saved / "a.kdb").string()));
  EXPECT_EQ(now.at("a.kdt"), readFile((saved / "a.kdt").string()));
  EXPECT_EQ(now.count("a.kdb.pack"), 0u);
  for (const char* other : {"b.kdb", "b.kdt", "c.kdb", "c.kdt", "new.kdb"})
    EXPECT_EQ(now.at(other), before.at(other)) << other;
  ASSERT_EQ(db::readChange("centre/a.kdb", &markAfter), db::kOk);
  EXPECT_NE(markAfter, markBefore);
  EXPECT_NE(markAfter, 0u);

  // All of it: every table of the backup; a table made since stays.
  r = dbtest::kdbtool("restore " + saved.string() + "/ centre");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  now = files("centre");
  for (const auto& [name, bytes] : files(saved)) EXPECT_EQ(now.at(name), bytes) << name;
  EXPECT_EQ(now.at("new.kdb"), before.at("new.kdb"));
  EXPECT_EQ(asideFolders().size(), 2u);
  ASSERT_TRUE(cmd::OpenDatabase("centre/b"));
  EXPECT_EQ(cmd::RecordCount(), 4);
  cmd::CloseDatabase();
}

// A backup that is not sound is not restored from, and the folder is
// left exactly as it was: no scratch copy, no folder aside.
TEST_F(RestoreTest, AnUnsoundBackupChangesNothing) {
  makeTable("a", 2);
  makeTable("chain", 3);
  const fs::path saved = backUp();
  ASSERT_FALSE(saved.empty());
  appendTo("a", 2, 1);
  auto kdt = readFile((saved / "chain.kdt").string());
  ASSERT_GE(kdt.size(), 3u * 512);
  put32(kdt, 2 * 512 + 8, 9999);
  writeFile((saved / "chain.kdt").string(), kdt);
  const auto before = files("centre");

  ToolRun r = dbtest::kdbtool("restore " + saved.string() + " centre");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "chain.kdb does not read through: -59")) << r.err;
  EXPECT_TRUE(has(r.err, "nothing restored")) << r.err;
  EXPECT_EQ(files("centre"), before);
  EXPECT_TRUE(asideFolders().empty());

  r = dbtest::kdbtool("restore " + saved.string() + " centre nosuch");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "no table nosuch")) << r.err;
  const fs::path unfinished = fs::path("safe") / ("unfinished-" + saved.filename().string());
  fs::copy(saved, unfinished);
  fs::remove(unfinished / "chain.kdb");
  fs::remove(unfinished / "chain.kdt");
  r = dbtest::kdbtool("restore " + unfinished.string() + " centre");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "unfinished backup")) << r.err;
  EXPECT_EQ(files("centre"), before);
  EXPECT_TRUE(asideFolders().empty());
}

}  // namespace
