// The inpatient medication window "住院用药管理": the patient found by his
// inpatient number with his own charge table, the look-up of a drug code,
// charging by double-click with the stock following, deleting a charge line
// with the stock given back, and the clock. The bill and the discharge
// statement of the same window are in inpatient_bill.
#pragma once

#include <string>
#include <vector>

#include "forms/windows_rt.h"

namespace app {

// Puts the window's charge handlers ("查　询", "确　定", the double-click,
// "删　除", the clock) into its handler table; the module menu entries
// already in the table are left as they are.
void setMedicationHandlers(std::vector<forms::Handler>& table);

// With the patient's charge table current: the usage list, the total in
// 编辑框11 and the balance in 标签13, the category totals and the current
// number, as a query leaves them. The bill print recomputes them this way.
void showChargesOf(const std::string& zyh);

// Refuses an inpatient number that cannot name his charge table (empty, or
// one the registration rule refuses), telling the operator and what was not
// done (`gbkNothingDone`, may be ""). The bill print uses it too.
bool acceptedPatientNumber(const std::string& zyh, const char* gbkNothingDone);

}  // namespace app
