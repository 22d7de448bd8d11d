// Every charge lands where the operator meant: a double-click charges the
// row its own window listed whatever another window looked up since, only
// the patient the panel shows is charged, numbers that cannot name exactly
// one table file are refused, a query never replaces a table, a month's
// table that vanished is made again before a line goes into it, and the
// stock step follows its drug through another workstation's pack.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/charges/charging.h"
#include "charge_fixture.h"
#include "../db/forwarding_env.h"
#include "db/os.h"

namespace {

namespace ids = forms::ids;
namespace m = ids::medication;
namespace o = ids::outpatient;
namespace fs = std::filesystem;

using namespace apptest::fields::line;

std::string bytesOf(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The inpatient medication window (kWin) and the outpatient window side by
// side in one program.
class ChargeTargetsTest : public apptest::MedicationWindowTest {
 protected:
  static constexpr uint32_t kOut = ids::kOutpatientWindow;

  void SetUp() override {
    MedicationWindowTest::SetUp();  // A01 阿莫西林, X01 心电监护, Q01 理疗; patient 1001
    addDrugs({{"C01", "板蓝根", "中成", 100, 3.5f}});
  }

  void outType(const char* box, const char* utf8) { forms::setText(kOut, g(box), g(utf8)); }
  void outLookUp(const char* code) {
    outType("编辑框2", code);
    forms::raiseEvent(kOut, o::kButton2, forms::kEvFirst);
  }
  void outDoubleClick(const char* quantity, const char* prescription) {
    outType("编辑框3", quantity);
    outType("编辑框4", prescription);
    forms::setProperty(kOut, o::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
    forms::raiseEvent(kOut, o::kList1, forms::kEvDoubleClick);
  }
  void inDoubleClick(const char* quantity) {
    type("编辑框3", quantity);
    type("编辑框4", "0312");
    select(m::kList1, 0);
    forms::raiseEvent(kWin, m::kList1, forms::kEvDoubleClick);
  }
};

TEST_F(ChargeTargetsTest, EachWindowChargesTheRowItListedWhateverTheOtherLookedUpSince) {
  ASSERT_TRUE(forms::loadWindow(kOut));
  query("1001");
  // The inpatient window lists A01, then the outpatient window C01; the
  // inpatient double-click still charges A01.
  lookUp("A01");
  outLookUp("C01");
  inDoubleClick("4");
  auto lines = stored("1001");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0][mch], "阿莫西林");
  EXPECT_EQ(lines[0][hj], "50");
  EXPECT_EQ(stock(), (std::vector<int>{96, 1000, 1000, 100}));
  // The outpatient window's own row is still there to charge.
  outDoubleClick("2", "0101");
  auto month = stored("m20105");
  ASSERT_EQ(month.size(), 1u);
  EXPECT_EQ(month[0][mch], "板蓝根");
  EXPECT_EQ(stock(), (std::vector<int>{96, 1000, 1000, 98}));

  // The other order: the outpatient window lists first.
  outLookUp("X01");
  lookUp("C01");
  outDoubleClick("1", "0101");
  month = stored("m20105");
  ASSERT_EQ(month.size(), 2u);
  EXPECT_EQ(month[1][mch], "心电监护");
  inDoubleClick("3");
  lines = stored("1001");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1][mch], "板蓝根");
  EXPECT_EQ(stock(), (std::vector<int>{96, 999, 1000, 95}));
  EXPECT_TRUE(messages().empty());
  EXPECT_FALSE(fs::exists("lshk.kdb"));
}

TEST_F(ChargeTargetsTest, OnlyThePatientOnThePanelIsChargedOrHasLinesDeleted) {
  admit("赵六", "1002", 500);
  query("1001");
  charge("A01", "2");
  ASSERT_EQ(stored("1001").size(), 1u);
  // 1002 typed over 1001 without a query: refused, nothing anywhere.
  type("编辑框1", "1002");
  lookUp("X01");
  dialogs.answers = {rt::kOk, rt::kOk};
  inDoubleClick("1");
  select(m::kList2, 0);
  press(m::kButton3);
  EXPECT_EQ(messages(), (std::vector<std::string>{"请先查询住院号“1002”的患者，再记帐。本次未记帐，库存未变动。",
                                                  "请先查询住院号“1002”的患者，再删除。未删除任何记录，库存未变动。"}));
  EXPECT_FALSE(fs::exists("1002.kdb"));
  EXPECT_EQ(stored("1001").size(), 1u);
  EXPECT_EQ(stock(), (std::vector<int>{98, 1000, 1000, 100}));
  EXPECT_EQ(forms::listRowCount(kWin, m::kList1), 1) << "the entry stays listed";
  // Queried, the same double-click charges him.
  query("1002");
  lookUp("X01");
  inDoubleClick("1");
  EXPECT_EQ(stored("1002").size(), 1u);
  EXPECT_EQ(stock(), (std::vector<int>{98, 999, 1000, 100}));
}

TEST_F(ChargeTargetsTest, ANumberThatIsNotExactlyAFileNameIsRefusedAndNothingIsCreatedOrEmptied) {
  // Registered before the rule, charged by the program of that time into a
  // file without ".kdb".
  admit("钱七", "2026.01", 500);
  ASSERT_TRUE(app::createTable("2026.01", app::kChargeLines));
  ASSERT_TRUE(fs::exists("2026.01"));
  appendToFile("2026.01", rt::DateTime{40000}, g("阿莫西林"), g("西药"), g("甲类"), 2, g("支"), 12.5f, 25.0f,
               std::string("0312"), g("张三"));
  db::closeAllDatabases();
  const std::string before = bytesOf("2026.01");
  dialogs.answers = {rt::kOk};
  query("2026.01");
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].rfind("住院号“2026.01”不能使用：", 0), 0u) << messages()[0];
  EXPECT_EQ(bytesOf("2026.01"), before);
  EXPECT_FALSE(fs::exists("2026.01.kdb"));
  EXPECT_EQ(text("标签21"), "");
}

TEST_F(ChargeTargetsTest, AQueryNamesATableItCannotOpenAndNeverReplacesIt) {
  { std::ofstream("1001.kdb", std::ios::binary) << "charge lines of a damaged table"; }
  const std::string before = bytesOf("1001.kdb");
  dialogs.answers = {rt::kOk};
  query("1001");
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].rfind("收费表“1001”无法打开：", 0), 0u) << messages()[0];
  EXPECT_EQ(bytesOf("1001.kdb"), before);
  EXPECT_EQ(text("标签21"), "") << "no patient is shown, so nothing is charged to him";
}

// The outpatient window open while its month's table is removed (by hand,
// or a restore): the next charge makes the table again and the line goes
// into it before the stock moves.
TEST_F(ChargeTargetsTest, AMonthTableThatVanishedIsMadeAgainBeforeTheLine) {
  ASSERT_TRUE(forms::loadWindow(kOut));
  outLookUp("A01");
  outDoubleClick("2", "0101");
  ASSERT_EQ(stored("m20105").size(), 1u);
  ASSERT_TRUE(fs::remove("m20105.kdb"));
  outLookUp("A01");
  outDoubleClick("3", "0101");
  const auto month = stored("m20105");
  ASSERT_EQ(month.size(), 1u);
  EXPECT_EQ(month[0][shl], "3");
  EXPECT_EQ(stock()[0], 95);
  EXPECT_EQ(u(forms::text(kOut, g("编辑框11"))), "37.5");
  EXPECT_TRUE(messages().empty());
}

// A file layer that, just before the stock step locks the catalogue record
// it found, lets another workstation change the catalogue: `meanwhile` runs
// once, on a handle of its own. Record locks are one byte at a record's
// offset; the header lock lies before the records and the share markers
// and open gate past the whole-file range, so neither fires it.
class CatalogueChangesBeforeTheWrite : public dbtest::ForwardingEnv {
 public:
  std::function<void()> meanwhile;
  int32_t firstRecord = 0;  // offset of record 0 in the catalogue file
  int32_t recordSize = 0;
  int64_t firedAt = -1;  // the lock offset `meanwhile` ran at

  struct F : dbtest::ForwardingFile {
    CatalogueChangesBeforeTheWrite* env;
    bool catalogue = false;
    int tryLock(int64_t o, int64_t l) override {
      if (catalogue && l == 1 && o >= env->firstRecord && o < db::kWholeFileLength && env->meanwhile) {
        auto run = std::move(env->meanwhile);
        env->meanwhile = nullptr;
        env->firedAt = o;
        run();
      }
      return in->tryLock(o, l);
    }
  };
  std::unique_ptr<dbtest::ForwardingFile> wrap(const std::string& p, bool) override {
    auto f = std::make_unique<F>();
    f->env = this;
    f->catalogue = fs::path(p).filename() == "ypjbxx.kdb";
    return f;
  }
};

class StockStepTest : public apptest::ChargeTest {
 protected:
  void SetUp() override {
    ChargeTest::SetUp();
    addDrugs({{"B02", "葡萄糖", "输氧", 7, 1.5f},
              {"A01", "阿莫西林", "西药", 100, 12.5f},
              {"D01", "地塞米松", "西药", 50, 2.0f}});
    env_.firstRecord = 116 + 72 * 16;
    {
      std::unique_ptr<db::Table> t;
      ASSERT_EQ(db::Table::open((dir_ / "ypjbxx.kdb").string(), db::OpenOptions{}, &t), 0);
      env_.recordSize = t->header().recordSize;
    }
    db::os::setEnv(&env_);
  }
  void TearDown() override {
    db::os::setEnv(nullptr);
    ChargeTest::TearDown();
  }
  // Another workstation deletes the catalogue record at `pos` (0-based)
  // and packs.
  std::function<void()> deleteAndPack(int32_t pos) {
    return [this, pos] {
      std::unique_ptr<db::Table> other;
      ASSERT_EQ(db::Table::open((dir_ / "ypjbxx.kdb").string(), db::OpenOptions{}, &other), 0);
      ASSERT_EQ(other->writeRecordHeader(pos, -(pos + 1)), 0);  // its serial negated: deleted
      ASSERT_EQ(other->pack(), 0);
    };
  }
  CatalogueChangesBeforeTheWrite env_;
};

TEST_F(StockStepTest, TheChargedDrugFallsNotItsNeighbourWhenAnEarlierDrugIsPackedAway) {
  env_.meanwhile = deleteAndPack(0);  // 葡萄糖, before the drug found
  EXPECT_EQ(app::changeStock(g("阿莫西林"), g("西药"), 12.5f, -4, {}).outcome, app::StockStep::Outcome::kMade);
  EXPECT_EQ(stock(), (std::vector<int>{96, 50}));
  EXPECT_FALSE(env_.meanwhile) << "the other workstation did pack in between";
  EXPECT_EQ(env_.firedAt, env_.firstRecord + 1 * env_.recordSize) << "not at the found drug's record lock";
}

TEST_F(StockStepTest, ADrugPackedAwayMeanwhileIsReportedAndNothingElseMoves) {
  env_.meanwhile = deleteAndPack(1);  // 阿莫西林 itself
  EXPECT_EQ(app::changeStock(g("阿莫西林"), g("西药"), 12.5f, -4, {}).outcome, app::StockStep::Outcome::kNoMatch);
  EXPECT_EQ(stock(), (std::vector<int>{7, 50}));
  EXPECT_EQ(env_.firedAt, env_.firstRecord + 1 * env_.recordSize) << "not at the found drug's record lock";
}

}  // namespace
