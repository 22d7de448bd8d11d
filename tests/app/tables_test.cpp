// The tables as their owners create them: names, fields, and the
// create-if-missing step that must never re-create a table over its data.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "../db/db_test_util.h"
#include "app_fixture.h"
#include "app/charges/charging.h"
#include "app/figures/stored_amounts.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "runtime/clock.h"
#include "runtime/convert.h"

namespace {

class TablesTest : public dbtest::DbTest {
 protected:
  void TearDown() override {
    rt::clearClock();
    dbtest::DbTest::TearDown();
  }
};

TEST_F(TablesTest, PeriodNamesHaveNoLeadingZeros) {
  rt::DateTime may{rt::makeDateTime(2010, 5, 31, 23, 59, 59)};
  rt::DateTime dec{rt::makeDateTime(2010, 12, 1, 0, 0, 0)};
  EXPECT_EQ(app::monthlyOutpatientTable(may), "m20105");
  EXPECT_EQ(app::monthlyPostingTable(may), "n20105");
  EXPECT_EQ(app::monthlyOutpatientTable(dec), "m201012");
  EXPECT_EQ(app::yearlyOutpatientBills(dec), "bm2010");
  EXPECT_EQ(app::yearlyInpatientBills(rt::DateTime{rt::makeDateTime(2027, 1, 1, 0, 0, 0)}), "bz2027");
  // The current month, across the year end, from the clock.
  rt::setClock(rt::makeDateTime(2026, 12, 31, 23, 59, 59));
  EXPECT_EQ(app::monthlyOutpatientTable(cmd::Now()), "m202612");
  rt::setClock(rt::makeDateTime(2027, 1, 1, 0, 0, 0));
  EXPECT_EQ(app::monthlyOutpatientTable(cmd::Now()), "m20271");
}

TEST_F(TablesTest, EveryTableIsCreatedWithItsFields) {
  struct {
    const char* name;
    const app::TableDef* def;
    int fields;
    const char* last;
  } cases[] = {
      {"ypjbxx", &app::kDrugCatalogue, 16, "xh"},
      {"zyjbxx", &app::kInpatients, 11, "yfk"},
      {"user", &app::kUsers, 2, "ma"},
      {"m20105", &app::kChargeLines, 10, "shf"},
      {"bz2010", &app::kBills, 20, "phj"},
      {"n20105", &app::kPostings, 17, "zy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    apptest::makeCurrent(c.name, *c.def);
    EXPECT_TRUE(std::filesystem::exists(std::string(c.name) + ".kdb"));
    EXPECT_EQ(cmd::FieldCount(), c.fields);
    EXPECT_EQ(int(c.def->fields.size()), c.fields);
    EXPECT_EQ(cmd::RecordCount(), 0);
    EXPECT_STREQ(c.def->fields.back().name, c.last);
  }
  // Stored sizes of a few text fields: a longer text is cut to them.
  apptest::makeCurrent("user", app::kUsers);
  ASSERT_TRUE(cmd::AppendRecord("longer-than-ten", "pw"));
  EXPECT_EQ(cmd::ReadText("use"), "longer-tha");
  apptest::makeCurrent("zyjbxx", app::kInpatients);
  ASSERT_TRUE(cmd::AppendRecord("\xD5\xC5\xC8\xFD\xB7\xE1\xCB\xC4", "\xC4\xD0", 30));  // 张三丰四
  EXPECT_EQ(cmd::ReadText("xm"), "\xD5\xC5\xC8\xFD\xB7\xE1");
}

// The bill tables' twenty fields are read by name by the reports and by
// position by the corrections: every name, kind and place matters.
TEST_F(TablesTest, TheBillTablesHaveTheirTwentyFieldsInOrder) {
  const char* const names[] = {"shj", "chf", "ps",  "pj",   "pss", "pzc", "psy", "pzl", "phy", "pqt",
                               "pzy", "pfs", "psx", "pzhy", "pln", "pjs", "pye", "pyl", "pjh", "phj"};
  ASSERT_EQ(app::kBills.fields.size(), std::size(names));
  for (size_t i = 0; i < std::size(names); ++i) {
    SCOPED_TRACE(names[i]);
    const app::FieldDef& f = app::kBills.fields[i];
    EXPECT_STREQ(f.name, names[i]);
    EXPECT_EQ(f.kind, i == 0 ? app::kDateTime : i == 1 ? app::kText : app::kFloat);
    if (i >= 2 && i < 19) {
      EXPECT_STREQ(app::billAmountField(int(i - 2)), names[i]);
    }
  }
  EXPECT_EQ(app::kBills.fields[1].size, 10);
}

// A bill's total is added up in double and stored once as a float: a
// float running sum would lose the small amounts beside a large one.
// A bill's total is its amounts added in fen, so it is their sum to the
// fen however many small amounts it has: seventeen single-precision sums
// of 0.10 drift below 1.70.
TEST_F(TablesTest, ABillsTotalIsItsAmountsAddedInFen) {
  app::CategoryTotals totals;
  totals.fill(10);
  totals[0] = 12345678;  // 123456.78
  ASSERT_TRUE(app::postBill("bm2010", rt::DateTime{40000}, "0312", totals));
  ASSERT_TRUE(cmd::SetCurrentDatabase("bm2010"));
  cmd::MoveFirst();
  EXPECT_EQ(cmd::ReadField("phj").arg().kind, rt::kFloat);
  EXPECT_EQ(app::fenOf(rt::floatValue(cmd::ReadField("phj").arg())), 12345838);
  EXPECT_EQ(app::fenOf(rt::floatValue(cmd::ReadField("ps").arg())), 12345678);
  // Posting the same number again rewrites its one record.
  totals[0] = 10;
  ASSERT_TRUE(app::postBill("bm2010", rt::DateTime{40000}, "0312", totals));
  cmd::SetCurrentDatabase("bm2010");
  EXPECT_EQ(cmd::RecordCount(), 1);
  cmd::MoveFirst();
  EXPECT_EQ(rt::floatValue(cmd::ReadField("phj").arg()), 1.7f);
}

TEST_F(TablesTest, AnExistingTableIsOpenedNotRecreated) {
  apptest::makeCurrent("ypjbxx", app::kDrugCatalogue);
  ASSERT_TRUE(cmd::AppendRecord("001", "a"));
  db::closeAllDatabases();
  apptest::makeCurrent("ypjbxx", app::kDrugCatalogue);
  EXPECT_EQ(cmd::RecordCount(), 1);
  db::closeAllDatabases();
  // A table copied from another machine with its name in capitals.
  std::filesystem::rename("ypjbxx.kdb", "YPJBXX.KDB");
  apptest::makeCurrent("ypjbxx", app::kDrugCatalogue);
  EXPECT_EQ(cmd::RecordCount(), 1);
  EXPECT_FALSE(std::filesystem::exists("ypjbxx.kdb"));
}

// The one way module code makes a table current: each outcome with the
// cause of the step that failed, and no table ever made over a file that
// is there.
TEST_F(TablesTest, UseTableNamesEachOutcomeAndNeverReplacesAFile) {
  using Outcome = app::TableUse::Outcome;
  const app::UseOptions create{.def = &app::kChargeLines, .createWhenMissing = true};
  // Missing, without create: not opened, "not found"; nothing made.
  app::TableUse use = app::useTable("1001");
  EXPECT_EQ(use.outcome, Outcome::kNotOpened);
  EXPECT_EQ(use.code, db::kNotFound);
  EXPECT_FALSE(std::filesystem::exists("1001.kdb"));
  // Missing, with create: made, opened here, current at its first record.
  use = app::useTable("1001", create);
  ASSERT_TRUE(use.ok());
  EXPECT_TRUE(use.openedHere);
  ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{40000}, "a", "b", "c", 1, "d", 1.0f, 1.0f, "e", "f"));
  // Open already: current again by name, not opened a second time (-38 is
  // never a failure), and moved to its first record.
  apptest::makeCurrent(app::kUsersName, app::kUsers);
  use = app::useTable("1001", create);
  ASSERT_TRUE(use.ok());
  EXPECT_FALSE(use.openedHere);
  EXPECT_EQ(cmd::FieldCount(), 10);
  // Another layout: current, but said.
  EXPECT_EQ(app::useTable(app::kUsersName, create).outcome, Outcome::kOtherLayout);
  EXPECT_EQ(app::useTable(app::kUsersName, create).failure(), db::kNotDatabase);
  // A file that is there but cannot be opened is named with the open's own
  // cause and left as it was, create or not.
  db::closeAllDatabases();
  std::filesystem::resize_file("1001.kdb", 40);
  use = app::useTable("1001", create);
  EXPECT_EQ(use.outcome, Outcome::kNotOpened);
  EXPECT_NE(use.code, db::kAlreadyOpen);
  EXPECT_LT(use.code, 0);
  EXPECT_EQ(std::filesystem::file_size("1001.kdb"), 40u);
  // A handle on a file that has gone: dropped and made afresh when asked.
  std::filesystem::remove("1001.kdb");
  ASSERT_TRUE(app::useTable("1002", create).ok());
  std::filesystem::remove("1002.kdb");
  use = app::useTable("1002", {.def = &app::kChargeLines, .createWhenMissing = true, .reopenWhenGone = true});
  ASSERT_TRUE(use.ok());
  EXPECT_TRUE(use.openedHere);
  EXPECT_TRUE(std::filesystem::exists("1002.kdb"));
}

}  // namespace

namespace {

// An inpatient number becomes a file name: only numbers that name a
// patient's own table in the program's folder are usable.
TEST(PatientNumber, NamesThatWouldReachAnotherFileAreRefused) {
  for (const char* ok : {"", "2010001", "ZY-17", "m", "n2010x", "bmx", "user1", "mn2010",
                         "\xD5\x5C",  // a two-byte character whose second byte is 0x5C
                         "zyjbxx2", "1234567890", "a b"})
    EXPECT_TRUE(app::usablePatientNumber(ok)) << ok;
  for (const char* bad : {".", "..", "a/b", "/etc", "a\\b", "a*", "?", "a\tb", "a\x7F", "\x01", "ypjbxx", "YPJBXX",
                          "zyjbxx", "User", "lshk", "ZYLSHK", "kcls", "KCLS", "ypjbxx.kdb", "User.KDB", "m20105",
                          "M201012", "n20111", "bm2010", "BZ2011", "m2010.kdb",
                          // A file of another name than the number plus ".kdb", or a
                          // number the register would cut.
                          "2026.01", "a.b", "2010001.kdb", "1001.", " 1001", "1001 ", "12345678901"})
    EXPECT_FALSE(app::usablePatientNumber(bad)) << bad;
  // A lone lead byte at the end is no character: the byte is judged as is.
  EXPECT_TRUE(app::usablePatientNumber("a\xD5"));
}

}  // namespace
