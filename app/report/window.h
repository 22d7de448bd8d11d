// The report window "门诊用药管理" ("报 表 管 理"): the monthly and yearly
// business reports and the internal report per doctor, each previewed on
// the draw panel or printed, and the edit buttons that open the record-edit
// dialog on a period table so that a posted figure can be corrected.
#pragma once

#include <vector>

#include "forms/live_windows.h"

namespace app {

// Puts the window's own handlers (the six preview and print buttons, the
// four edit buttons) into its handler table; the module menu entries
// already in the table are left as they are.
void setReportHandlers(std::vector<forms::Handler>& table);

}  // namespace app
