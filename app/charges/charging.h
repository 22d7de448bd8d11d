// The steps the two charge windows (inpatient medication, outpatient) take
// alike: choosing and checking the charge table, the category totals, the
// look-up of a drug code into the window's own list of entries, taking the
// chosen entry as the charge being recorded, appending and deleting
// charge lines, and moving the catalogue stock with each of them.
//
// Every step that writes tells the operator, with the engine's text, what
// was written and what was not when a write fails; a charge line is never
// written anywhere but into a table that has the ten charge-line fields.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/listed_records.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/charges/pending.h"
#include "app/charges/charge_values.h"
#include "app/charges/stock_journal.h"
#include "app/tables.h"
#include "forms/live_windows.h"

namespace app {

// What the operator is told was left undone when a step is refused before
// anything was written (GBK).
const char* nothingCharged();  // "本次未记帐，库存未变动。"
const char* nothingDeleted();  // "未删除任何记录，库存未变动。"

// How a charge table is used (app/table_use.h): checked to be a table of
// charge lines, a handle on a file that has since gone dropped first, and
// with `createWhenMissing` created when no file of that name exists at all.
UseOptions chargeTable(bool createWhenMissing = false);
// What the operator is told when a charge table cannot be used, ending
// with what was not done (`gbkNothingDone`).
NotUsedTexts chargeTableTexts(const std::string& name, const char* gbkNothingDone);
// useTableOrTell with the two above; true when the table is current.
[[nodiscard]] bool useChargeTable(const std::string& name, const char* gbkNothingDone, bool createWhenMissing = false);

// The figures of the current charge table from one reading of its lines,
// taken under the table's whole-file lock so that a line another
// workstation writes meanwhile is either in every figure or in none:
// - `all`: the sum of `hj` over every line;
// - `prescription` and `prescriptionLines`: over the lines whose `cf`
//   equals the prescription number read for (0 in a patient's reading);
// - `categories`: per category, the sum of `hj` over the lines whose `lb`
//   is the category word (over the prescription's lines in a prescription's
//   reading, over every line in a patient's);
// - `byCode` (a patient's reading): the monthly inpatient posting's
//   c1..c16 at index 1..16 (0 unused): c1..c7 over the lines whose `cf`
//   begins with "01".."07", c8 their sum, c9..c15 over "11".."17", c16
//   their sum cut toward zero to whole yuan.
// Every amount is in fen: each line's `hj` taken to its nearest fen and
// added exactly, so every total is the sum of what it totals and a
// separate sum of the same lines gives the same figure.
struct ChargeFigures {
  int64_t all = 0;
  int64_t prescription = 0;
  int prescriptionLines = 0;
  CategoryTotals categories{};
  std::array<int64_t, 17> byCode{};
};

// Reads the current charge table once into `out`: a patient's stay, or the
// month's lines with one prescription's sums. `rows`, when given, takes
// every line for the usage list (ListRows::show puts them on screen).
// Returns 0, or the engine's code when the table could not be read whole:
// `out` then holds zeros and `rows` is not to be shown.
[[nodiscard]] int readPatientLines(ListRows* rows, ChargeFigures* out);
[[nodiscard]] int readPrescriptionLines(const std::string& prescription, ListRows* rows, ChargeFigures* out);

// The category totals of the lines of the current charge table whose `cf`
// equals the prescription number. All 0 when the table could not be read
// whole.
CategoryTotals sumCategories(const std::string& prescription);
// readPrescriptionLines without the rows;
// all 0 when the table could not be read whole.
ChargeFigures sumCharges(const std::string& prescription);

// The table a bill posts into ("bm"/"bz" + year, "n" + year + month),
// created when missing and made current. One that cannot be opened or has
// another layout is reported and false is returned: nothing is posted.
[[nodiscard]] bool usePostingTable(const std::string& name, const TableDef& def);
// Tells the operator a posting into `table` was not written.
void tellPostingFailed(const std::string& table);

// Posts a bill into a yearly bill table ("bm" or "bz" + year): the record
// whose `chf` is `number` is rewritten, or one is appended, with `today`,
// the number, the seventeen category amounts and their sum (added in fen;
// each stored as the float nearest to its fen amount). Refusals and failed writes are
// reported; what was printed stays printed.
[[nodiscard]] bool postBill(const std::string& table, rt::DateTime today, const std::string& number,
                            const CategoryTotals& totals);

// What one window's look-up listed: the catalogue entries its list of
// matches shows, in list order (row 0 at the top), each with the values a
// charge of it takes. Every window keeps its own, so no other window or
// workstation can change what a double-click there charges.
struct ListedEntry {
  std::string name;           // mch
  std::string category;       // lb
  std::string reimbursement;  // bx
  std::string unit;           // dw
  float price = 0;            // xj as a single float
};
using Listing = std::vector<ListedEntry>;

// "确　定": the catalogue records whose `dm` equals `code` byte for byte,
// read in one pass, listed in `matches` newest first (the last in stored
// order at the top) and kept in `listing`. A catalogue that cannot be
// opened or read is reported and leaves both empty.
void lookUpCode(const std::string& code, const forms::Control& matches, Listing* listing);

// Steps 1 to 4 of recording a charge: the entry of the chosen row of
// `matches` (no row chosen: the top one) taken from `listing` into the
// charge being recorded (today at 00:00, name, category, reimbursement
// class, unit, sale price), the typed quantity cut toward zero. False, with
// nothing changed, when nothing is listed; a list that no longer shows
// what `listing` holds is reported and charges nothing.
bool takeChosenEntry(const forms::Control& matches, const Listing& listing, const std::string& quantityText);

// Appends the charge being recorded to the current charge table with the
// prescription number and the cashier. On failure tells the operator (when
// `tellFailed`) that nothing was charged and returns false.
[[nodiscard]] bool appendCharge(const std::string& prescription, bool tellFailed = true);

// Before a drug (西药, 中成, 中草; services are not stock-checked) is
// charged: the catalogue record whose stock the charge will lower (the
// first with its name, category and sale price) is read, and the operator
// is asked, 否 being the default answer, when the quantity is above its
// stock ("库存不足：“X”现有 N 单位，仍要记帐吗？", N the stock as the
// catalogue holds it) and when its batch has expired ("“X”（批号 P）已于
// yyyy年m月d日过期，仍要记帐吗？"; a record without an expiry date has
// none). True when the charge may go on; false when he said 否 (nothing is
// to be written). A catalogue that cannot be read, or no such record,
// asks nothing: the stock step says what it finds. The charge table
// `chargeTable` is current again afterwards.
[[nodiscard]] bool confirmStockForCharge(const std::string& chargeTable);

// Steps 6, 7 and 9 of a charge: the charge being recorded appended to the
// charge table `table` (current) with the prescription number and the
// cashier, and the stock of the first catalogue record with its name and
// category and a sale price within 1e-7 of its price lowered with its
// journal entry (`why`), as one action noted on this workstation before
// anything is written (pending::LineAction). kWritten: the line is in the
// table (a stock step that failed waits on this workstation, told);
// kNotWritten: nothing was charged (told); kUnknown: the folder could not
// say whether the line landed, and the action waits to be settled (told:
// not to be charged again).
enum class Charged { kWritten, kNotWritten, kUnknown };
[[nodiscard]] Charged chargeLine(const std::string& table, const std::string& prescription,
                                 const journal::Movement& why);

// How a noted line action settled: its line and stock step made (or found
// made), its line known never to have landed (nothing more to do), the
// line landed but its stock step still waiting (the action now says so),
// or unknown while the folder cannot be read.
enum class Settled { kDone, kNotLanded, kStockWaits, kUnknown };
// Makes the changes parked on this workstation (app/charges/pending.h)
// while the folder was away, in order: actions settled, tables packed,
// journal entries appended. Returns how many of this folder's changes
// still wait. Cheap when there are none: the handlers that write stock
// call it first.
int applyParked();

// Settles `a` (applyParked, and an action whose write failed). With
// `tellFound` the operator is told what was found of an action whose line
// was not known to have landed.
[[nodiscard]] Settled settleLineAction(const pending::LineAction& a, bool tellFound);

// Steps 2 to 5 and 7 of deleting a charge line from the current charge
// table `table`: the line of the chosen row of `usage` read into the charge
// being deleted, "你确定要删除吗？", and, as one action noted on this
// workstation first (pending::LineAction), marked, packed and its stock
// given back with its journal entry (`why`). kDeleted when the line is
// gone, or marked and its pack left pending (told); kKept when the
// operator cancelled or there is no line; kFailed when nothing was deleted
// or that is not known yet (told).
enum class Deletion { kDeleted, kKept, kFailed };
[[nodiscard]] Deletion deleteChosenLine(const forms::Control& usage, const std::string& table,
                                        const journal::Movement& why);

// A quantity as the charge windows take it: cut toward zero to a whole
// number (NaN gives 0, beyond the 32-bit range the nearest end).
int32_t wholeQuantity(double typed);

// The stock step itself, for the drug window, the actions above and the
// tests: under the lock of the first catalogue record matching name,
// category and price, appends its stock journal entry (`why`, made by the
// operation `by`) and then adds `delta` to its `shl`. Made when both are
// written; no match when no record matches; failed with the engine's code
// when nothing changed, or (an entry appended, its stock write failed)
// the step is to be finished by its operation (settleLineAction).
struct [[nodiscard]] StockStep {
  enum class Outcome { kMade, kNoMatch, kFailed };
  Outcome outcome = Outcome::kMade;
  int code = 0;  // the engine's code, for kFailed
  static StockStep made() { return {}; }
  static StockStep noMatch() { return {Outcome::kNoMatch, 0}; }
  static StockStep failed(int code) { return {Outcome::kFailed, code}; }
};
StockStep changeStock(const std::string& name, const std::string& category, float price, int32_t delta,
                      const journal::Movement& why, const journal::Operation& by = {});

}  // namespace app
