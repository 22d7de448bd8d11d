// Shared pieces of the charge window tests: a catalogue and a register made
// through the application's own table definitions, a login so that the
// cashier is known, the tables read back through a handle of their own, and
// the clock held still.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/charges/pending.h"
#include "app/charges/charge_values.h"
#include "app/shell.h"
#include "app/tables.h"
#include "app_fixture.h"
#include "db/engine.h"
#include "db/facade.h"
#include "db/table.h"
#include "forms/window_ids.h"
#include "runtime/builtins.h"
#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace apptest {

// Field numbers (0-based) of the records of the program's tables.
namespace fields {
namespace line {  // a charge line
enum { shj, mch, lb, bx, shl, dw, dj, hj, cf, shf };
}
namespace drug {  // a catalogue record
enum { dm, mch, bm, lb, bx, ph, gg, shch, yx, chd, dw, shl, jj, jh, xj, xh };
}
namespace journal {  // a stock journal entry
enum { sj, czy, gzz, jdm, jmch, jph, bd, kc, yy, hm, czh, mxb, mxh };
}
namespace admission {  // an admission in the register
enum { xm, xb, nl, zh, sj, bz, zyh, ks, cwh, ys, yfk };
}
}  // namespace fields

// One catalogue entry as the tests need it (UTF-8 texts).
struct Drug {
  const char* dm;
  const char* mch;
  const char* lb;
  int shl;
  float xj;
  const char* bx = "甲类";
  const char* dw = "支";
};

// A stored record: every field as ToText shows it, UTF-8.
using Stored = std::vector<std::string>;

class ChargeTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    app::releaseProgramValues();
    app::pending::setFilePath("");  // in memory, empty
    // 2010-05-03 14:30: charges are dated 2010-05-03 00:00.
    rt::setClock(rt::makeDateTime(2010, 5, 3, 14, 30, 0));
  }
  void TearDown() override {
    rt::clearClock();
    // The login and the program-wide values belong to this test only.
    app::releaseProgramTexts();
    AppTest::TearDown();
  }

  static std::string g(const char* utf8) { return rt::utf8ToGbk(utf8); }
  static std::string u(const std::string& gbk) { return rt::gbkToUtf8(gbk); }

  // Batches that expire in 2099: the other workstations' processes charge
  // them on the real clock, and a drug past its expiry would be asked about.
  void addDrugs(std::initializer_list<Drug> drugs) {
    apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);
    for (const Drug& d : drugs)
      ASSERT_TRUE(cmd::AppendRecord(d.dm, g(d.mch), "", g(d.lb), g(d.bx), "B1", "", rt::DateTime{40000},
                                    rt::DateTime{rt::makeDateTime(2099, 12, 31, 0, 0, 0)}, "", g(d.dw), d.shl, 1.0f,
                                    float(d.shl), d.xj, float(d.shl * double(d.xj))));
    cmd::CloseDatabase(app::kDrugCatalogueName);
  }

  // An admission: name, number, prepayment, admission time.
  void admit(const char* xm, const char* zyh, int yfk, double sj = rt::makeDateTime(2010, 4, 24, 8, 0, 0)) {
    apptest::makeCurrent(app::kInpatientsName, app::kInpatients);
    ASSERT_TRUE(cmd::AppendRecord(g(xm), g("男"), 45, "YB001", rt::DateTime{sj}, g("腰椎间盘突出"), zyh, g("康复科"),
                                  "12", g("李医生"), yfk));
    cmd::CloseDatabase(app::kInpatientsName);
  }

  // Logs in through the login window, so the cashier is that user.
  void logIn(const char* userUtf8) {
    apptest::makeCurrent(app::kUsersName, app::kUsers);
    ASSERT_TRUE(cmd::AppendRecord(g(userUtf8), "pw"));
    cmd::CloseDatabase(app::kUsersName);
    ASSERT_TRUE(forms::loadWindow(forms::ids::kLoginWindow));
    forms::setText(forms::ids::kLoginWindow, g("组合框1"), g(userUtf8));
    forms::setText(forms::ids::kLoginWindow, g("编辑框1"), "pw");
    forms::raiseEvent(forms::ids::kLoginWindow, forms::ids::login::kButton2, forms::kEvFirst);
    ASSERT_EQ(app::loggedInUser(), g(userUtf8));
  }

  // A table as a second opener sees it; the windows' handles and current
  // records are left alone. Empty when the file does not exist.
  std::vector<Stored> stored(const std::string& bareName) {
    std::unique_ptr<db::Table> t;
    db::OpenOptions readOnly;
    readOnly.readOnly = true;
    if (!std::filesystem::exists(dir_ / (bareName + ".kdb"))) return {};
    EXPECT_EQ(db::Table::open((dir_ / (bareName + ".kdb")).string(), readOnly, &t), 0);
    int32_t count = 0;
    if (!t || t->readCount(&count) != 0) return {};
    std::vector<Stored> out(static_cast<size_t>(count));
    std::vector<uint8_t> rec(size_t(t->recordSize()));
    for (int32_t pos = 0; pos < count; ++pos) {
      EXPECT_EQ(t->readRecord(pos, rec.data()), 0);
      for (const db::Field& f : t->fields()) {
        rt::Arg a;
        EXPECT_EQ(t->loadValue(f, rec.data(), &a), 0);
        out[size_t(pos)].push_back(u(rt::valueToText(rt::Result(a).arg())));
      }
    }
    return out;
  }

  // Appends one record through a handle of its own, as another workstation
  // does; the windows' handles and current records are left alone.
  template <typename... Ts>
  void appendElsewhere(const std::string& bareName, const Ts&... values) {
    appendToFile(bareName + ".kdb", values...);
  }
  template <typename... Ts>
  void appendToFile(const std::string& fileName, const Ts&... values) {
    std::unique_ptr<db::Table> t;
    ASSERT_EQ(db::Table::open((dir_ / fileName).string(), db::OpenOptions{}, &t), 0) << fileName;
    const rt::Arg args[] = {rt::val(values)...};
    const rt::Arg* ptrs[sizeof...(Ts)];
    for (size_t i = 0; i < sizeof...(Ts); ++i) ptrs[i] = &args[i];
    ASSERT_EQ(t->append(ptrs, sizeof...(Ts)), 0) << fileName;
  }

  // A charge line as another workstation writes it, dated 2010-05-03.
  void chargeElsewhere(const std::string& table, const char* mch, const char* lb, int shl, float dj, const char* cf) {
    appendElsewhere(table, rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, g(mch), g(lb), g("甲类"), shl, g("支"),
                    dj, float(shl * double(dj)), std::string(cf), g("李四"));
  }

  // The stock (`shl`) of every catalogue record, in stored order.
  std::vector<int> stock() {
    std::vector<int> out;
    for (const Stored& r : stored(app::kDrugCatalogueName)) out.push_back(std::stoi(r[11]));
    return out;
  }
};

// The inpatient medication window, loaded after a catalogue, the patient
// 1001 (prepayment 1000, admitted 2010-04-24 08:00) and the login of 张三,
// with the steps an operator takes in it.
class MedicationWindowTest : public ChargeTest {
 protected:
  static constexpr uint32_t kWin = forms::ids::kMedicationWindow;

  void SetUp() override {
    ChargeTest::SetUp();
    addDrugs({{"A01", "阿莫西林", "西药", 100, 12.5f},
              {"X01", "心电监护", "监护", 1000, 30.0f},
              {"Q01", "理疗", "康复", 1000, 8.0f}});  // a category the bill does not know
    admit("王五", "1001", 1000);
    logIn("张三");
    ASSERT_TRUE(forms::loadWindow(kWin));
  }

  void type(const char* box, const char* utf8) { forms::setText(kWin, g(box), g(utf8)); }
  std::string text(const char* name) { return u(forms::text(kWin, g(name))); }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }
  void query(const char* zyh) {
    type("编辑框1", zyh);
    press(forms::ids::medication::kButton1);
  }
  void lookUp(const char* code) {
    type("编辑框2", code);
    press(forms::ids::medication::kButton2);
  }
  void select(uint32_t list, int row) {
    forms::setProperty(kWin, list, forms::prop::kListSelected, -1, rt::makeInt(row));
  }
  void charge(const char* code, const char* quantity, const char* prescription = "0312", int row = 0) {
    lookUp(code);
    type("编辑框3", quantity);
    type("编辑框4", prescription);
    select(forms::ids::medication::kList1, row);
    forms::raiseEvent(kWin, forms::ids::medication::kList1, forms::kEvDoubleClick);
  }
};

}  // namespace apptest
