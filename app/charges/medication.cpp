#include "app/charges/medication.h"

#include "app/charges/charging.h"
#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/telling.h"
#include "app/charges/pending.h"
#include "app/charges/charge_values.h"
#include "app/figures/stored_amounts.h"
#include "app/tables.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "forms/window_ids.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr ModuleWindow kWin{ids::kMedicationWindow};

// The patient as the register holds him, read before his charge table is
// made current.
struct Patient {
  std::string xm, xb, nl, sj, bz, zyh, ks, cwh, ys, yfk;
};

// 0, or the engine's code of a field that could not be read.
int readPatient(Patient* p) {
  FieldReader r;
  p->xm = r.text("xm");
  p->xb = r.text("xb");
  p->nl = r.shown("nl");
  p->sj = r.shown("sj");
  p->bz = r.text("bz");
  p->zyh = r.text("zyh");
  p->ks = r.text("ks");
  p->cwh = r.text("cwh");
  p->ys = r.text("ys");
  p->yfk = r.shown("yfk");
  return r.failure();
}

// The patient panel: each caption label with its value label.
void showPatient(const Patient& p) {
  const struct {
    const char* caption;
    const char* captionText;
    const char* value;
    const std::string& valueText;
  } pairs[] = {
      {"标签3", "姓名：", "标签21", p.xm},      {"标签4", "性别：", "标签22", p.xb},
      {"标签5", "年龄：", "标签23", p.nl},      {"标签6", "住院时间：", "标签24", p.sj},
      {"标签7", "病种：", "标签25", p.bz},      {"标签8", "住院号：", "标签26", p.zyh},
      {"标签9", "治疗科室：", "标签27", p.ks},  {"标签10", "床位号：", "标签28", p.cwh},
      {"标签11", "主治医师：", "标签29", p.ys}, {"标签12", "预付款：", "标签19", p.yfk},
  };
  for (const auto& pair : pairs) {
    kWin.setText(pair.caption, rt::utf8ToGbk(pair.captionText));
    kWin.setText(pair.value, pair.valueText);
  }
  kWin.setText("标签30", GBK("剩余额："));
}

// What this window's last look-up listed: its own, so that a double-click
// here charges the row it shows whatever another window looked up since.
Listing& listing() {
  static Listing entries;
  return entries;
}

// The table named by 编辑框1, when it may take charge lines and is the
// patient the panel shows; refused with a message otherwise.
bool chargeTableOf(const std::string& zyh, const char* gbkThen, const char* gbkNothingDone) {
  return patientOnPanel(zyh, gbkThen, gbkNothingDone) && useChargeTable(patientChargeTable(zyh), gbkNothingDone);
}

// --- handlers ---------------------------------------------------------------------

void query() {
  applyParked();
  const std::string zyh = kWin.text("编辑框1");
  if (!acceptedPatientNumber(zyh, "")) return;
  // The patient in the register.
  if (const TableUse use = useTable(kInpatientsName); !use.ok()) {
    tellFailure(GBK("住院登记表 zyjbxx 无法打开"), use.code, "");
    return;
  }
  // Not there: nothing else changes. A register that could not be
  // searched to the end is not a patient who is not there.
  const int found = searchText("zyh", zyh);
  if (found < 0) {
    tellFailure(GBK("住院登记表 zyjbxx 无法读取"), found, GBK("未能查询，请稍后再试。"));
    return;
  }
  if (found == 0) {
    tell(GBK("该记录不存在"));
    return;
  }
  Patient patient;
  if (const int failed = readPatient(&patient); failed != 0) {
    tellFailure(GBK("住院登记表 zyjbxx 无法读取"), failed, GBK("未能查询，请稍后再试。"));
    return;
  }
  // His charge table, made on his first query (only when no file of
  // that name exists). One that cannot be used leaves the panel as it
  // was, so no bill is printed for him.
  if (!useChargeTable(patientChargeTable(zyh), "", true)) return;
  // The panel.
  showPatient(patient);
  // His charges (a table that cannot be read is told there, the list and
  // totals left empty).
  static_cast<void>(showChargesOf(zyh));
  // Ready for the first code; Enter now presses "确　定".
  kWin.focus("编辑框2");
  kWin.control("按钮1").setButtonType(0);
  kWin.control("按钮2").setButtonType(1);
}

void lookUp() {
  applyParked();
  lookUpCode(kWin.text("编辑框2"), kWin.control("超级列表框1"), &listing());
}

void charge() {
  applyParked();  // stock changes left from a time the folder was away
  const std::string zyh = kWin.text("编辑框1");
  // Refused before anything moves: the chosen entry stays listed.
  if (!chargeTableOf(zyh, GBK("再记帐"), nothingCharged())) return;
  // The chosen entry as this window listed it, and the quantity.
  if (!takeChosenEntry(kWin.control("超级列表框1"), listing(), kWin.text("编辑框3"))) return;
  // A drug beyond its stock or past its expiry is charged only when the
  // operator says so; 否 leaves everything as it was.
  if (!confirmStockForCharge(patientChargeTable(zyh))) return;
  // The charge line in the patient's table, and the stock
  // following it. Not written: the entry stays listed for another try.
  const Charged charged =
      chargeLine(patientChargeTable(zyh), kWin.text("编辑框4"), {journal::inpatientCharge(), zyh, ""});
  if (charged == Charged::kNotWritten) return;
  // What he has been charged now (a reading that fails is told there).
  static_cast<void>(showChargesOf(zyh));
  // Ready for the next code; quantity and prescription stay.
  kWin.setText("编辑框2", "");
  kWin.focus("编辑框2");
  cmd::ListClear(kWin.control("超级列表框1").arg());
  listing().clear();
}

void deleteCharge() {
  applyParked();
  const std::string zyh = kWin.text("编辑框1");
  // The patient's table, or nothing is deleted.
  if (!chargeTableOf(zyh, GBK("再删除"), nothingDeleted())) return;
  // The chosen line, confirmed, marked and packed, and its stock back.
  // Whatever came of it was told; the list is shown afresh in every case.
  static_cast<void>(
      deleteChosenLine(kWin.control("超级列表框2"), patientChargeTable(zyh), {journal::deletionReturn(), zyh, ""}));
  static_cast<void>(showChargesOf(zyh));
}

void clockTick() { showClock(kWin.control("标签18")); }

}  // namespace

// After a query, a charge or a deletion, and in the bill print: one
// reading of the patient's lines gives the list, both totals and the
// category totals alike. A table that cannot be read whole is named and
// what was shown stays.
int showChargesOf(const std::string& zyh, ChargeFigures* figures, const char* gbkNotDone) {
  cmd::MoveFirst();
  ListRows rows(cmd::FieldCount());
  ChargeFigures f;
  if (const int rc = readPatientLines(&rows, &f); rc != 0) {
    const std::string text = GBK("收费表“") + patientChargeTable(zyh) + GBK("”无法读取：") + causeText(rc) + GBK("。") +
                             gbkNotDone + GBK("显示的明细和合计未更新，请稍后再查询。");
    tell(text.c_str());
    return rc;
  }
  rows.show(kWin.control("超级列表框2"));
  moveAfterLast();
  // 编辑框11 the total of all charges, 标签13 what is left of the
  // prepayment.
  kWin.setText("编辑框11", cmd::MoneyText(yuanOf(f.all)));
  kWin.setText("标签13", cmd::MoneyText(kWin.number("标签19") - kWin.number("编辑框11")));
  programValues().categoryTotals = f.categories;
  programValues().currentNumber = zyh;
  if (figures) *figures = f;
  return 0;
}

bool acceptedPatientNumber(const std::string& zyh, const char* gbkNothingDone) {
  std::string text;
  if (zyh.empty()) {
    text = GBK("请先输入患者的住院号。");
  } else if (!usablePatientNumber(zyh)) {
    text = unusablePatientNumberText(zyh);
  } else {
    return true;
  }
  text += gbkNothingDone;
  tell(text.c_str());
  return false;
}

bool patientOnPanel(const std::string& zyh, const char* gbkThen, const char* gbkNothingDone) {
  if (zyh.empty()) {
    const std::string text = GBK("请先输入患者的住院号并查询，") + std::string(gbkThen) + GBK("。") + gbkNothingDone;
    tell(text.c_str());
    return false;
  }
  if (!acceptedPatientNumber(zyh, gbkNothingDone)) return false;
  // The panel shows the patient the last query found; a number typed over
  // it since is not that patient until it is queried.
  if (kWin.text("标签26") == zyh) return true;
  const std::string text = GBK("请先查询住院号“") + zyh + GBK("”的患者，") + gbkThen + GBK("。") + gbkNothingDone;
  tell(text.c_str());
  return false;
}

void setMedicationHandlers(std::vector<forms::Handler>& table) {
  namespace m = ids::medication;
  if (table.size() < size_t(m::kHandlerCount)) table.resize(size_t(m::kHandlerCount), nullptr);
  table[m::kQuery] = query;
  table[m::kLookUp] = lookUp;
  table[m::kCharge] = charge;
  table[m::kDeleteCharge] = deleteCharge;
  table[m::kClockTick] = clockTick;
}

}  // namespace app
