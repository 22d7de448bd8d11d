// A table read again and again (the month's charges at every keystroke) is
// taken from the copy the engine kept when no workstation has changed it:
// the keystroke then reads no record data. Another workstation's line, or
// its change of a line in place at once, is in the very next keystroke's
// totals (two processes: the change counters are what tells).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "charge_fixture.h"
#include "counting_reads.h"
#include "worker_process.h"

namespace {

namespace o = forms::ids::outpatient;
constexpr uint32_t kWin = forms::ids::kOutpatientWindow;

class KeptCopyTest : public apptest::ChargeTest {
 protected:
  void SetUp() override {
    ChargeTest::SetUp();  // 2010-05-03
    apptest::makeCurrent("m20105", app::kChargeLines);
    for (int i = 0; i < 400; ++i)
      ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{40300}, g("药品"), g("西药"), g("甲类"), 1, g("支"), 2.5f, 2.5f,
                                    std::string(i % 2 ? "0101" : "0202"), "cashier"));
    db::closeAllDatabases();
    previous_ = db::os::setEnv(&counting_);
    ASSERT_TRUE(forms::loadWindow(kWin));
  }
  void TearDown() override {
    db::os::setEnv(previous_);
    ChargeTest::TearDown();
  }
  // Types a prescription number anew (a keystroke that changes the text).
  std::string keystroke(const char* cf) {
    forms::setText(kWin, g("编辑框4"), "");
    counting_.zero();
    forms::setText(kWin, g("编辑框4"), cf);
    return u(forms::text(kWin, g("编辑框6")));
  }
  int otherWorkstation(std::vector<std::string> args) {
    const pid_t p = apptest::startWorker(args, dir_ / "other.out");
    return apptest::finishWorker(p);
  }

  apptest::CountingReads counting_;
  db::os::Env* previous_ = nullptr;
};

TEST_F(KeptCopyTest, AKeystrokeOnAnUnchangedMonthReadsNoRecords) {
  const auto size = (long long)std::filesystem::file_size("m20105.kdb");
  EXPECT_EQ(keystroke("0101"), "500");
  EXPECT_EQ(keystroke("0202"), "500");
  EXPECT_LT(counting_.bytes["m20105.kdb"], 64) << "of " << size;
  EXPECT_EQ(u(forms::text(kWin, g("编辑框11"))), "1000");
}

TEST_F(KeptCopyTest, AnotherWorkstationsLineOrChangeInPlaceIsInTheNextKeystroke) {
  EXPECT_EQ(keystroke("0101"), "500");
  // A line appended at another workstation.
  ASSERT_EQ(otherWorkstation({"line", dir_.string(), "m20105", "7.5", "0101"}), 0);
  EXPECT_EQ(keystroke("0101"), "507.5");
  // A total changed in place at once: same count, same serial, same length.
  ASSERT_EQ(otherWorkstation({"modify", dir_.string(), "m20105", "2", "10"}), 0);  // a line of 0101
  EXPECT_EQ(keystroke("0101"), "515");
  EXPECT_EQ(u(forms::text(kWin, g("编辑框11"))), "1015");
  // This window's own charge is in it too.
  addDrugs({{"A01", "阿莫西林", "西药", 100, 12.5f}});
  logIn("张三");
  forms::setText(kWin, g("编辑框2"), "A01");
  forms::raiseEvent(kWin, o::kButton2, forms::kEvFirst);
  forms::setText(kWin, g("编辑框3"), "1");
  forms::setProperty(kWin, o::kList1, forms::prop::kListSelected, -1, rt::makeInt(0));
  forms::raiseEvent(kWin, o::kList1, forms::kEvDoubleClick);
  EXPECT_EQ(keystroke("0101"), "527.5");
  EXPECT_TRUE(messages().empty());
}

}  // namespace
