// Every table of the application, defined once: file names, how period and
// per-patient names are formed, and the fields in stored order. Windows
// create a table the first time they need it and leave it open for the
// rest of the run.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "runtime/facade.h"

namespace app {

// Field kinds the tables use.
enum FieldKind : int32_t { kInteger = 3, kFloat = 5, kDateTime = 8, kText = 10 };

struct FieldDef {
  const char* name;
  int32_t kind;
  int32_t size;  // bytes for text fields; 20 (ignored) for the others
};

struct TableDef {
  const char* what;  // for messages and tests
  std::span<const FieldDef> fields;
};

// Fixed tables, one file each.
extern const TableDef kDrugCatalogue;  // "ypjbxx", 16 fields
extern const TableDef kInpatients;     // "zyjbxx", 11 fields
extern const TableDef kUsers;          // "user", 2 fields
// Generated tables, one file per inpatient, month or year.
extern const TableDef kChargeLines;  // per-patient and monthly outpatient, 10 fields
extern const TableDef kBills;        // "bm"/"bz" + year, 20 fields
extern const TableDef kPostings;     // "n" + year + month, 17 fields
// The stock journal, one file: one record per change of a catalogue
// record's stock, appended with the change and never changed afterwards.
extern const TableDef kStockJournal;  // "kcls", 13 fields
// A journal made before entries carried their operation and line: the
// first 10 fields, still written to (without those three).
extern const TableDef kStockJournalWithoutOperations;
// Users' rights, one file beside the user list (which other programs read
// and which keeps its two fields): one record per restricted user.
extern const TableDef kRights;  // "yhqx", 10 fields
// The trail of deletions, corrections, catalogue changes and logins: one
// numbered record per action, appended with it and never changed.
extern const TableDef kTrail;  // "czjl", 10 fields

// The seventeen charge categories in the system's fixed order (UTF-8
// here; stored and compared as GBK). A charge line's `lb` holds one of them;
// the bill tables keep one amount field per category in this order,
// fields 3 to 19 of kBills, followed by the total `phj`.
constexpr int kCategoryCount = 17;
extern const char* const kCategories[kCategoryCount];
// The category word of position i as a charge line's `lb` holds it (GBK),
// matched byte for byte.
const std::string& categoryName(int category);
// The bill amount field of category i (0-based, in the order above), and
// the bill total.
const char* billAmountField(int category);
constexpr const char* kBillTotalField = "phj";

constexpr const char* kDrugCatalogueName = "ypjbxx";
constexpr const char* kInpatientsName = "zyjbxx";
constexpr const char* kUsersName = "user";
constexpr const char* kDrugScratchName = "lshk";
constexpr const char* kInpatientScratchName = "zylshk";
constexpr const char* kStockJournalName = "kcls";
constexpr const char* kRightsName = "yhqx";
constexpr const char* kTrailName = "czjl";

// Period names: the year and month as ToText of YearOf and MonthOf (four
// digits, then one or two with no leading zero): m20105, m201012.
// Tells the record-edit dialog what each field of these tables means, so
// that it shows the meaning beside the field's name. Once, at start
// (field_meanings.cpp).
void registerFieldMeanings();
// Each table with what its fields mean (UTF-8, in field order).
void forEachFieldMeanings(const std::function<void(const TableDef&, std::span<const char* const>)>& each);

std::string monthlyOutpatientTable(rt::DateTime when);  // "m" + year + month
std::string monthlyPostingTable(rt::DateTime when);     // "n" + year + month
std::string yearlyOutpatientBills(rt::DateTime when);   // "bm" + year
std::string yearlyInpatientBills(rt::DateTime when);    // "bz" + year
// A patient's charge table is named by the inpatient number as typed.
inline std::string patientChargeTable(const std::string& zyh) { return zyh; }

// An inpatient number names a table file: his charge table is exactly the
// number plus ".kdb". So a number is usable only when it fits the
// register's `zyh` field whole (10 bytes), has no space at either end, holds
// no ".", "/", "\\" (outside a two-byte character), "*", "?" or control
// character, and does not name a table of the system's own, compared
// ignoring case as the engine finds files: the fixed tables, the two
// scratch names, the stock journal, the rights, the trail and every period table ("m"/"n" + digits, "bm"/"bz" +
// digits). The empty number is accepted: the windows that use it decide.
bool usablePatientNumber(const std::string& zyh);
// What every window says when it refuses such a number (GBK), naming it.
std::string unusablePatientNumberText(const std::string& zyh);

// True when the current database has exactly the table's fields, in its
// order, with their names (ignoring case, as the engine finds fields) and
// kinds; text sizes may differ. False when there is no current database.
// Guards the writes that take their values in field order.
bool currentTableIs(const TableDef& def);

// CreateDatabase with the table's fields, through the command table.
[[nodiscard]] bool createTable(const std::string& bareName, const TableDef& def);

}  // namespace app
