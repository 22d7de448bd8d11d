#include "app/medication.h"

#include "app/charging.h"
#include "app/module.h"
#include "app/program_values.h"
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

Patient readPatient() {
  Patient p;
  p.xm = cmd::ReadText("xm");
  p.xb = cmd::ReadText("xb");
  p.nl = cmd::ToText(cmd::ReadField("nl").arg());
  p.sj = cmd::ToText(cmd::ReadField("sj").arg());
  p.bz = cmd::ReadText("bz");
  p.zyh = cmd::ReadText("zyh");
  p.ks = cmd::ReadText("ks");
  p.cwh = cmd::ReadText("cwh");
  p.ys = cmd::ReadText("ys");
  p.yfk = cmd::ToText(cmd::ReadField("yfk").arg());
  return p;
}

// The patient panel: each caption label with its value label.
void showPatient(const Patient& p) {
  const struct {
    const char* caption;
    const char* captionText;
    const char* value;
    const std::string& valueText;
  } pairs[] = {
      {"标签3", "姓名：", "标签21", p.xm},       {"标签4", "性别：", "标签22", p.xb},
      {"标签5", "年龄：", "标签23", p.nl},       {"标签6", "住院时间：", "标签24", p.sj},
      {"标签7", "病种：", "标签25", p.bz},       {"标签8", "住院号：", "标签26", p.zyh},
      {"标签9", "治疗科室：", "标签27", p.ks},   {"标签10", "床位号：", "标签28", p.cwh},
      {"标签11", "主治医师：", "标签29", p.ys},  {"标签12", "预付款：", "标签19", p.yfk},
  };
  for (const auto& pair : pairs) {
    kWin.setText(pair.caption, rt::utf8ToGbk(pair.captionText));
    kWin.setText(pair.value, pair.valueText);
  }
  kWin.setText("标签30", GBK("剩余额："));
}

// 编辑框11 the total of all charges, 标签13 what is left of the prepayment.
void showTotals() {
  kWin.setText("编辑框11", cmd::ToText(sumField("hj")));
  kWin.setText("标签13", cmd::ToText(kWin.number("标签19") - kWin.number("编辑框11")));
}

// The table named by 编辑框1, when it may take charge lines; refused with a
// message otherwise.
bool chargeTableOf(const std::string& zyh, const char* gbkNothingDone) {
  return acceptedPatientNumber(zyh, gbkNothingDone) && useChargeTable(zyh, gbkNothingDone);
}

// --- handlers ---------------------------------------------------------------------

void query() {
  const std::string zyh = kWin.text("编辑框1");
  if (!acceptedPatientNumber(zyh, "")) return;
  // 1. The patient in the register.
  cmd::OpenDatabase(kInpatientsName);
  const int opened = db::lastError();
  if (!cmd::SetCurrentDatabase(kInpatientsName)) {
    std::string text = GBK("住院登记表 zyjbxx 无法打开：");
    text += db::errorText(opened != db::kOk ? opened : db::lastError());
    tell(text.c_str());
    return;
  }
  // 2. Not there: nothing else changes.
  if (!findByText("zyh", zyh)) {
    tell(GBK("该记录不存在"));
    return;
  }
  const Patient patient = readPatient();
  // 4, 5. His charge table, made on his first query. One that cannot be
  //    used leaves the panel as it was, so no bill is printed for him.
  if (!cmd::FileExists(patientChargeTable(zyh) + ".kdb")) createTable(patientChargeTable(zyh), kChargeLines);
  if (!useChargeTable(patientChargeTable(zyh), "")) return;
  // 3. The panel.
  showPatient(patient);
  // 6. His charges.
  showChargesOf(zyh);
  // 7. Ready for the first code; Enter now presses "确　定".
  kWin.focus("编辑框2");
  kWin.control("按钮1").setButtonType(0);
  kWin.control("按钮2").setButtonType(1);
}

void lookUp() { lookUpCode(kWin.text("编辑框2"), kWin.control("超级列表框1")); }

void charge() {
  const std::string zyh = kWin.text("编辑框1");
  // Refused before anything moves: the chosen entry stays listed.
  if (!chargeTableOf(zyh, nothingCharged())) return;
  // 1-5. The chosen catalogue entry and the quantity.
  if (!takeChosenEntry(kWin.control("超级列表框1"), kWin.text("编辑框3"))) return;
  // 6, 7. The charge line in the patient's table.
  if (!useChargeTable(patientChargeTable(zyh), nothingCharged())) return;
  const bool charged = appendCharge(kWin.text("编辑框4"));
  // 8. What he has been charged now.
  showChargesOf(zyh);
  // 9. The stock follows the charge, only when the line was written.
  if (charged) takeStockForCharge();
  // 10. Ready for the next code; quantity and prescription stay.
  kWin.setText("编辑框2", "");
  kWin.focus("编辑框2");
  cmd::ListClear(kWin.control("超级列表框1").arg());
}

void deleteCharge() {
  const std::string zyh = kWin.text("编辑框1");
  // 1. The patient's table, or nothing is deleted.
  if (!chargeTableOf(zyh, nothingDeleted())) return;
  // 2-5. The chosen line, confirmed, marked and packed.
  const Deletion deletion = deleteChosenLine(kWin.control("超级列表框2"));
  // 6. In both cases.
  showChargesOf(zyh);
  // 7. The stock back only for a line that is gone.
  if (deletion == Deletion::kDeleted) giveStockForDeletion();
}

void clockTick() { showClock(kWin.control("标签18")); }

}  // namespace

// After a query, a charge or a deletion.
void showChargesOf(const std::string& zyh) {
  cmd::MoveFirst();
  fillListNewestFirst(kWin.control("超级列表框2"));
  showTotals();
  programValues().categoryTotals = sumCategories();
  programValues().currentNumber = zyh;
}

bool acceptedPatientNumber(const std::string& zyh, const char* gbkNothingDone) {
  std::string text;
  if (zyh.empty()) {
    text = GBK("请先输入患者的住院号。");
  } else if (!usablePatientNumber(zyh)) {
    text = GBK("住院号“") + zyh + GBK("”不能用作收费表的名称，请核对住院号。");
  } else {
    return true;
  }
  text += gbkNothingDone;
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
