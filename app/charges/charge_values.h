// The values the charge windows keep for the whole run and share: the
// current number (an inpatient number in the inpatient medication window, a
// prescription number in the outpatient window), the seventeen category
// totals, the charge being recorded and the charge being deleted, and the
// cashier. The inpatient bill and the outpatient bill print and post from
// them. They hold whatever the last of those windows' handlers left, so a
// bill that must be one patient's checks the number first.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/tables.h"
#include "runtime/facade.h"

namespace app {

// The charge categories by position in the fixed order of kCategories
// (app/tables.h).
enum Category : int {
  kWestern,
  kExamination,
  kSurgery,
  kPatentChinese,
  kOxygen,
  kTreatment,
  kLaboratory,
  kOther,
  kHerbal,
  kRadiology,
  kTransfusion,
  kWard,
  kHeating,
  kDelivery,
  kInfant,
  kMedical,
  kCare,
};
// Per category, an amount in fen (see fenOf in app/figures/stored_amounts.h).
using CategoryTotals = std::array<int64_t, kCategoryCount>;

// The charge being recorded: read from the chosen catalogue entry and the
// quantity box, then appended as one charge line.
struct ChargeBeingRecorded {
  rt::DateTime day{0};        // today at 00:00
  std::string name;           // mch
  std::string category;       // lb
  std::string reimbursement;  // bx
  std::string unit;           // dw
  float price = 0;            // xj as a single float
  int32_t quantity = 0;       // the typed quantity cut toward zero
};

// The charge line being deleted: what its stock give-back needs.
struct ChargeBeingDeleted {
  std::string name;          // mch
  std::string category;      // lb
  float price = 0;           // dj
  int32_t quantity = 0;      // shl
  std::string prescription;  // cf
};

struct ProgramValues {
  std::string currentNumber;  // GBK
  CategoryTotals categoryTotals{};
  ChargeBeingRecorded recorded;
  ChargeBeingDeleted deleted;
};

// The one set of program-wide values, living from start to end.
ProgramValues& programValues();

// The cashier recorded on every charge line: the user of the login.
const std::string& cashier();

// The exit routine's part: empties the values and gives back their texts.
void releaseProgramValues();

}  // namespace app
