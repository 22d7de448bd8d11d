// The inpatient registration window "住院信息管理模块": the inpatient
// register "zyjbxx" with its add (refusing a number already admitted or one
// that cannot name a patient's table), find, modify and delete, the list of
// every admission newest first with the two running totals, the clock, and
// the print-range window that prints "住院病人一览表" for an admission
// period.
#pragma once

#include <vector>

#include "forms/live_windows.h"

namespace app {

// Puts the registration window's own handlers (creation, the six buttons,
// the list's double-click, the clock, the two focus moves) into its handler
// table; the module menu entries already there are left as they are.
void setInpatientHandlers(std::vector<forms::Handler>& table);

// The print-range window's "确 定" and "取 消".
void setPrintRangeHandlers(std::vector<forms::Handler>& table);

}  // namespace app
