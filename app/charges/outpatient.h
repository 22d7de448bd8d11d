// The outpatient window "门诊用药模块": every charge of the month into the
// month's table "m" + year + month (created when the month turns), the
// month's total and the prescription's total following the typing, look-up
// by code, charging by double-click and deleting with the stock following,
// and the outpatient bill printed on the pre-printed form and posted into
// the year's table "bm" + year.
#pragma once

#include <string>
#include <vector>

#include "app/charges/charge_values.h"
#include "forms/live_windows.h"

namespace app {

// Puts the window's own handlers (creation, the focus moves, the
// prescription box, "确　定", the charge double-click, both "删　除"
// buttons, "打　印" and the clock) into its handler table; the module menu
// entries already there are left as they are.
void setOutpatientHandlers(std::vector<forms::Handler>& table);

// The posting of an outpatient bill printed now (the clock): the
// prescription's category totals into "bm" + year under its number, dated
// today. The bill window posts through this, and so does anything that
// must leave the same record. False when it was not written (the operator
// is told why).
[[nodiscard]] bool postOutpatientBill(const std::string& prescription, const CategoryTotals& totals);

}  // namespace app
