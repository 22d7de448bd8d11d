// Who may do what. The rights live in a table of the program's own,
// "yhqx", beside the user list (which stays the two-field table other
// programs read): one record per user whose rights are limited. A user
// without a record keeps every right, so a centre that never sets rights
// works as it always has.
//
// The rights are read once, at the login, for the user logged in: buttons
// of the rights he lacks are disabled as each window is built, and every
// refused action names the right that is missing and writes nothing.
// Changes the manager makes take effect at the next login.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/facade.h"

namespace app::rights {

enum class Right {
  kDrugWindow,        // yp: the drug catalogue window may be opened
  kInpatientWindow,   // zy: the inpatient registration window
  kMedicationWindow,  // zp: the inpatient medication window
  kOutpatientWindow,  // mz: the outpatient window
  kReportWindow,      // bb: the report window
  kDeleteLine,        // sc: a charge line may be deleted (see Deleting)
  kCorrect,           // gz: posted figures may be corrected (the report window's edit buttons)
  kCatalogue,         // ml: catalogue entries may be added, changed and deleted
  kUsers,             // yh: the user list and the rights may be edited
};

// When a charge line may be deleted (the field `sc`).
enum class Deleting : int32_t { kNever = 0, kBeforeBill = 1, kAlways = 2 };

struct Rights {
  bool limited = false;  // the user has a record in the rights table
  bool drugWindow = true, inpatientWindow = true, medicationWindow = true, outpatientWindow = true, reportWindow = true;
  Deleting deleting = Deleting::kAlways;
  bool correct = true, catalogue = true, users = true;

  // kDeleteLine: true unless deleting is kNever.
  bool has(Right r) const;
};

// The rights of `user` (GBK) as the rights table holds them: every right
// when there is no table or no record of his. 0, or the engine's code when
// the table is there but could not be read (nothing is assumed then).
[[nodiscard]] int read(const std::string& user, Rights* out);

// The rights of the login: taken at each successful login (takeForLogin)
// and kept for the run; every right before any login.
const Rights& ofLogin();
// Reads the rights of `user` for the login now being made. 0, or the
// engine's code (the login is then refused: nothing is assumed about the
// rights of a user whose record could not be read).
[[nodiscard]] int takeForLogin(const std::string& user);
// Back to every right (the program's end, and tests).
void forget();

// What a right is called where the operator reads it (GBK).
std::string rightName(Right r);

// True when the login has the right; otherwise tells
// "用户“X”没有“<right>”的权限，<gbkState>" and returns false.
[[nodiscard]] bool require(Right r, const char* gbkState);

// The right that opens a module window; false for windows no right guards.
bool windowRight(uint32_t windowId, Right* out);

// Whether the login may delete a charge line of `table` (an inpatient's
// charge table, or a month's outpatient table "m" + year + month) dated
// `lineDate` with the prescription number `cf`. With kBeforeBill the line
// may go only while no bill for it has been printed: no record for the
// inpatient number (the outpatient prescription) in the year's inpatient
// (outpatient) bill table, "bz"/"bm" + year, printed on or after the
// line's day, from the line's year to this one. Refused: told, naming the
// right (or the bill tables that could not be read), and false. The table
// `table` is current again afterwards.
[[nodiscard]] bool mayDeleteLine(const std::string& table, rt::DateTime lineDate, const std::string& cf);

// A bill for the line is in the bill tables (see mayDeleteLine): 1 yes,
// 0 no, or the engine's code when a bill table could not be read.
[[nodiscard]] int billPrinted(const std::string& table, rt::DateTime lineDate, const std::string& cf);

// Disables the controls of window `windowId` that the login may not use:
// the charge windows' 删除, the drug window's 添加/修改/删除, the report
// window's edit buttons, the start window's labels of windows he may not
// open. A window-built hook (forms::addWindowBuiltHook).
void disableRefused(uint32_t windowId);

}  // namespace app::rights
