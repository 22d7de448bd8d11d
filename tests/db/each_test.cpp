// Reading every record once: each record stepped in stored order with its
// fields read from the record as scanned, the current record untouched,
// and a batch another opener holds reported.
#include "db/each.h"
#include "db/locks.h"
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

class EachTest : public DbTest {};

TEST_F(EachTest, StepsEveryRecordOnceAndLeavesThePositionAlone) {
  EXPECT_EQ(db::forEachRecord([] { ADD_FAILURE() << "no table, no step"; }), db::kNoCurrentDatabase);
  ASSERT_TRUE(cmd::CreateDatabase("t", {fi("v", 3), fi("s", 10, 100)}));
  ASSERT_TRUE(cmd::OpenDatabase("t"));
  for (int i = 1; i <= 5000; ++i) ASSERT_TRUE(cmd::AppendRecord(i, std::to_string(i)));
  ASSERT_TRUE(cmd::MoveTo(2));
  ASSERT_TRUE(cmd::DeleteRecords());  // marked records are stepped too
  ASSERT_TRUE(cmd::MoveTo(7));
  std::vector<int> seen;
  bool textsMatch = true;
  EXPECT_EQ(db::forEachRecord([&] {
              const int v = cmd::ReadField("v").integer();
              seen.push_back(v);
              textsMatch = textsMatch && cmd::ReadText("s") == std::to_string(v);
            }),
            0);
  ASSERT_EQ(seen.size(), 5000u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(seen[size_t(i)], i + 1);
  EXPECT_TRUE(textsMatch);
  EXPECT_EQ(db::currentTable()->position, 6);
  EXPECT_EQ(cmd::ReadField("v").integer(), 7);  // reads from the file again

  // Another opener holds a record of the second batch: the first batch is
  // stepped, then the lock is reported.
  std::unique_ptr<db::Table> other;
  ASSERT_EQ(db::Table::open(dir_ + "/t.kdb", db::OpenOptions{}, &other), 0);
  ASSERT_EQ(other->lockRecord(4000), 0);
  seen.clear();
  EXPECT_EQ(db::forEachRecord([&] { seen.push_back(cmd::ReadField("v").integer()); }), db::kLockViolation);
  EXPECT_EQ(db::lastError(), db::kLockViolation);
  EXPECT_FALSE(seen.empty());
  EXPECT_LT(seen.size(), 4000u);
  EXPECT_EQ(other->unlockRecord(4000), 0);
}

}  // namespace
