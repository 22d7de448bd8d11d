// The two prints of the inpatient medication window that settle a stay:
// "明　细", the discharge cost statement "出院病人总费用明细单" with every
// charge line, and "打　印", the inpatient bill on the pre-printed form with
// its postings into the yearly bill table "bz" + year and the monthly
// posting table "n" + year + month that the reports read.
#pragma once

#include <string>
#include <vector>

#include "app/charges/charging.h"
#include "forms/live_windows.h"

namespace app {

// Puts "打　印" and "明　细" into the window's handler table.
void setInpatientBillHandlers(std::vector<forms::Handler>& table);

// The postings of an inpatient bill printed on `today`, into the tables of
// the clock's year and month, both from the one reading `figures` of the
// patient's lines (readPatientLines): the category totals into "bz" + year
// under `number`, the sums per prescription code ("01".."07", "11".."17")
// into "n" + year + month under `zyh`. The bill window posts through this,
// and so does anything that must leave the same records. False when a
// posting was not written (the operator is told which).
[[nodiscard]] bool postInpatientBill(rt::DateTime today, const std::string& number, const ChargeFigures& figures,
                                     const std::string& zyh);

// Days in hospital as the bill prints them: one decimal, half away from
// zero ("8.7", "0.0").
std::string daysText(double days);

}  // namespace app
