// The drug window's 修改 and 删除 when another workstation (a real process
// with its own open file) has deleted a drug and packed the catalogue
// since the operator chose the drug: the drug shown is the one changed,
// or the operator is told it is gone and nothing is written.
#include <gtest/gtest.h>

#include "app_fixture.h"
#include "db/engine.h"
#include "db/facade.h"
#include "db/table.h"
#include "forms/window_ids.h"
#include "worker_process.h"

namespace {

namespace d = forms::ids::drug;
constexpr uint32_t kWin = forms::ids::kDrugWindow;

class DrugHeldTest : public apptest::AppTest {
 protected:
  void type(const char* box, const std::string& utf8) { forms::setText(kWin, rt::utf8ToGbk(box), rt::utf8ToGbk(utf8)); }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }
  void doubleClick(int row) {
    forms::setProperty(kWin, d::kList1, forms::prop::kListSelected, -1, rt::makeInt(row));
    forms::raiseEvent(kWin, d::kList1, forms::kEvDoubleClick);
  }
  void addDrug(const std::string& code) {
    type("编辑框1", code);
    type("编辑框2", "药" + code);
    type("编辑框9", "10");
    type("编辑框12", "2.5");
    press(d::kButton1);
  }
  // Another workstation deletes drug `code` and packs, as its window does.
  static void otherDeletes(const std::string& code) {
    ASSERT_TRUE(apptest::inOtherProcess([code] {
      auto same = [code] { return rt::makeBool(db::fieldTextEquals("dm", code)); };
      rt::Expr cond(same);
      return cmd::OpenDatabase("ypjbxx") && cmd::FindRecord(cond.arg()) && cmd::DeleteRecords() && cmd::PackDatabase();
    }));
  }
  // Code and name of every drug, as another opener reads the file.
  std::vector<std::string> stored() {
    std::unique_ptr<db::Table> t;
    db::OpenOptions ro;
    ro.readOnly = true;
    EXPECT_EQ(db::Table::open((dir_ / "ypjbxx.kdb").string(), ro, &t), 0);
    int32_t n = 0;
    if (!t || t->readCount(&n) != 0) return {};
    std::vector<std::string> out;
    std::vector<uint8_t> rec(size_t(t->recordSize()));
    for (int32_t pos = 0; pos < n; ++pos) {
      EXPECT_EQ(t->readRecord(pos, rec.data()), 0);
      std::string row;
      for (int f : {0, 1}) {
        rt::Arg a;
        EXPECT_EQ(t->loadValue(t->fields()[size_t(f)], rec.data(), &a), 0);
        row += (f ? "/" : "") + rt::gbkToUtf8(rt::valueToText(rt::Result(a).arg()));
      }
      out.push_back(row);
    }
    return out;
  }
};

TEST_F(DrugHeldTest, ModifyAndDeleteAfterAnotherWorkstationPacked) {
  ASSERT_TRUE(forms::loadWindow(kWin));
  for (const char* c : {"X1", "X2", "X3", "X4", "X5"}) addDrug(c);
  // Newest first: row 1 shows X4, the fourth record.
  doubleClick(1);
  ASSERT_EQ(rt::gbkToUtf8(forms::text(kWin, rt::utf8ToGbk("编辑框1"))), "X4");
  otherDeletes("X2");
  type("编辑框2", "changed");
  press(d::kButton4);
  EXPECT_EQ(stored(), (std::vector<std::string>{"X1/药X1", "X3/药X3", "X4/changed", "X5/药X5"}));
  EXPECT_TRUE(dialogs.asked.empty());

  // The drug shown is deleted and packed away elsewhere: 修改 writes
  // nothing and says why, the list is shown afresh.
  doubleClick(0);
  ASSERT_EQ(rt::gbkToUtf8(forms::text(kWin, rt::utf8ToGbk("编辑框1"))), "X5");
  otherDeletes("X5");
  type("编辑框2", "lost");
  dialogs.answers = {rt::kOk};
  press(d::kButton4);
  EXPECT_EQ(stored(), (std::vector<std::string>{"X1/药X1", "X3/药X3", "X4/changed"}));
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(rt::gbkToUtf8(dialogs.asked[0].text), "该记录已被其他工作站改动或删除，请重新选择后再操作。");
  EXPECT_EQ(forms::listRowCount(kWin, d::kList1), 3);

  // 删除 of a drug that moved removes that drug, not its new neighbour.
  doubleClick(0);  // X4, the third record
  otherDeletes("X1");
  dialogs.answers = {rt::kOk};
  press(d::kButton3);
  EXPECT_EQ(stored(), (std::vector<std::string>{"X3/药X3"}));
}

}  // namespace
