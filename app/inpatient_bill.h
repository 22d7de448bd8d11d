// The two prints of the inpatient medication window that settle a stay:
// "明　细", the discharge cost statement "出院病人总费用明细单" with every
// charge line, and "打　印", the inpatient bill on the pre-printed form with
// its postings into the yearly bill table "bz" + year and the monthly
// posting table "n" + year + month that the reports read.
#pragma once

#include <vector>

#include "forms/windows_rt.h"

namespace app {

// Puts "打　印" and "明　细" into the window's handler table.
void setInpatientBillHandlers(std::vector<forms::Handler>& table);

}  // namespace app
