// The steps the two charge windows (inpatient medication, outpatient) take
// alike: choosing and checking the charge table, the category totals, the
// look-up of a drug code into the scratch table "lshk", taking the chosen
// catalogue entry as the charge being recorded, appending and deleting
// charge lines, and moving the catalogue stock with each of them.
//
// Every step that writes tells the operator, with the engine's text, what
// was written and what was not when a write fails; a charge line is never
// written anywhere but into a table that has the ten charge-line fields.
#pragma once

#include <string>

#include "app/program_values.h"
#include "app/tables.h"
#include "forms/windows_rt.h"

namespace app {

// What the operator is told was left undone when a step is refused before
// anything was written (GBK).
const char* nothingCharged();   // "本次未记帐，库存未变动。"
const char* nothingDeleted();   // "未删除任何记录，库存未变动。"

// Opens the charge table `name` (already open is fine), makes it current,
// moves to its first record and checks that it is a table of charge lines.
// Returns 0, the engine's code when it could not be opened or made current,
// or kNotChargeLines.
constexpr int kNotChargeLines = kWrongLayout;
int openChargeTable(const std::string& name);

// openChargeTable; when the table is refused, tells the operator why and
// what was not done (`gbkNothingDone`), and returns false.
bool useChargeTable(const std::string& name, const char* gbkNothingDone);

// The category totals of the current charge table, each the sum of `hj`
// over the lines whose `lb` is the category word, held as a single float;
// with a prescription number, only over the lines whose `cf` equals it.
CategoryTotals sumCategories();
CategoryTotals sumCategories(const std::string& prescription);

// The figures of a charge table in one pass over it: the sum of `hj` over
// every line, over the lines of one prescription, and over that
// prescription's lines of each category (held as single floats). Each is
// added up in double precision in stored order, as SumRecords adds up the
// same lines, so the results are those of nineteen separate sums.
struct ChargeSums {
  double all = 0;
  double prescription = 0;
  CategoryTotals categories{};
};
ChargeSums sumCharges(const std::string& prescription);

// The table a bill posts into ("bm"/"bz" + year, "n" + year + month),
// created when missing and made current. One that cannot be opened or has
// another layout is reported and false is returned: nothing is posted.
bool usePostingTable(const std::string& name, const TableDef& def);
// Tells the operator a posting into `table` was not written.
void tellPostingFailed(const std::string& table);

// Posts a bill into a yearly bill table ("bm" or "bz" + year): the record
// whose `chf` is `number` is rewritten, or one is appended, with `today`,
// the number, the seventeen category amounts and their sum (added up in
// double, stored as a single float). Refusals and failed writes are
// reported; what was printed stays printed.
bool postBill(const std::string& table, rt::DateTime today, const std::string& number,
              const CategoryTotals& totals);

// "确　定": "lshk" emptied and closed, the catalogue records whose `dm`
// equals `code` copied into it, `matches` filled from it newest first.
// A catalogue or scratch table that cannot be used is reported and leaves
// the list empty.
void lookUpCode(const std::string& code, const forms::Control& matches);

// Steps 1 to 5 of recording a charge: the "lshk" record of the chosen row
// of `matches` read into the charge being recorded (today at 00:00, name,
// category, reimbursement class, unit, sale price as a single float), the
// typed quantity cut toward zero, "lshk" emptied and closed. False, with
// nothing changed, when "lshk" holds no entry (reported when it cannot be
// opened).
bool takeChosenEntry(const forms::Control& matches, const std::string& quantityText);

// Appends the charge being recorded to the current charge table with the
// prescription number and the cashier. On failure tells the operator that
// nothing was charged and returns false.
bool appendCharge(const std::string& prescription);

// Lowers / raises the stock of the first catalogue record with the charge's
// name and category and a sale price within 1e-7 of its price, in one
// read-modify-write under that record's lock. No such record: nothing
// happens. A write that fails is reported (the charge line stays as it is).
void takeStockForCharge();
void giveStockForDeletion();

// Steps 2 to 5 of deleting a charge line from the current charge table: the
// line of the chosen row of `usage` read into the charge being deleted,
// "你确定要删除吗？", marked and packed. kDeleted when the line is gone
// (or marked and left for the next pack, which is reported).
enum class Deletion { kDeleted, kKept, kFailed };
Deletion deleteChosenLine(const forms::Control& usage);

// A quantity as the charge windows take it: cut toward zero to a whole
// number (NaN gives 0, beyond the 32-bit range the nearest end).
int32_t wholeQuantity(double typed);

// The stock step itself, for the windows above and the tests: adds `delta`
// to `shl` of the first catalogue record matching name, category and
// price. Returns 0 when written, kNoCatalogueMatch when no record matches,
// or the engine's code.
constexpr int kNoCatalogueMatch = 1;
int changeStock(const std::string& name, const std::string& category, float price,
                int32_t delta);

}  // namespace app
