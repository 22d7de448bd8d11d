// The inpatient medication window "住院用药管理": the patient found by his
// inpatient number with his own charge table, the look-up of a drug code,
// charging by double-click with the stock following, deleting a charge line
// with the stock given back, and the clock. The bill and the discharge
// statement of the same window are in inpatient_bill.
#pragma once

#include <string>
#include <vector>

#include "app/charges/charging.h"
#include "forms/live_windows.h"

namespace app {

// Puts the window's charge handlers ("查　询", "确　定", the double-click,
// "删　除", the clock) into its handler table; the module menu entries
// already in the table are left as they are.
void setMedicationHandlers(std::vector<forms::Handler>& table);

// With the patient's charge table current: one reading of his lines gives
// the usage list, the total in 编辑框11 and the balance in 标签13, the
// category totals and the current number, as a query leaves them; the
// figures of that reading into `figures` when given. A table that cannot be
// read whole is reported (with `gbkNotDone`, what the handler then does not
// do), the window keeps what it showed, and the engine's code is returned
// (0 when shown).
[[nodiscard]] int showChargesOf(const std::string& zyh, ChargeFigures* figures = nullptr, const char* gbkNotDone = "");

// Refuses an inpatient number that cannot name his charge table (empty, or
// one the registration rule refuses), telling the operator and what was not
// done (`gbkNothingDone`, may be "").
bool acceptedPatientNumber(const std::string& zyh, const char* gbkNothingDone);

// An accepted number that is the patient the panel shows (the last query
// found him). Otherwise tells the operator "请先查询住院号“X”的患者，" (or,
// with no number, "请先输入患者的住院号并查询，") +
// `gbkThen` ("再打印", "再记帐", ...) + "。" + `gbkNothingDone` and returns
// false: nothing is charged, deleted or printed for a patient not shown.
bool patientOnPanel(const std::string& zyh, const char* gbkThen, const char* gbkNothingDone);

}  // namespace app
