// The drug catalogue and stock window "药品库存管理": the catalogue
// "ypjbxx" with its add (merging a batch already in stock), find, modify
// and delete, the list of every record newest first, the line totals while
// typing and the summary boxes under the list.
#pragma once

#include <vector>

#include "forms/live_windows.h"

namespace app {

// Puts the window's own handlers (creation, the five buttons, the list's
// double-click, the price and quantity boxes) into its handler table; the
// module menu entries already in the table are left as they are.
void setDrugHandlers(std::vector<forms::Handler>& table);

}  // namespace app
