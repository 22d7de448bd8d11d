// kdbtool export: every table of a folder into one SQLite database, one
// XLSX workbook, or one CSV file per table, for the centre's accountant and
// the health bureau.
//
//   kdbtool export [--exact] DIR OUT.sqlite
//   kdbtool export [--exact] DIR OUT.xlsx
//   kdbtool export [--exact] DIR --csv OUTDIR
//
// One SQL table (one worksheet) per ".kdb", named by the file's name
// without ".kdb", with the columns "_serial" (the record serial) and
// "_deleted" (1 for a record marked deleted, which stays in the file until
// a pack) and then every field in stored order, typed as kdbtool_common.h's
// Cell says. Amounts (float fields) are written to the fen: SQLite REAL
// holding the two-decimal value, XLSX numbers shown with two decimals, CSV
// text "95.10"; with --exact, the stored value. In SQLite dates are ISO 8601
// text; in XLSX they are dates (a date before March 1900, which spreadsheets
// cannot show, stays ISO text), and texts stay texts, so a prescription
// number keeps its leading zeros. The CSV files hold the same rows as RFC
// 4180 text in UTF-8 with a byte-order mark (spreadsheet programs then read
// the Chinese), a header line first.
//
// Every table is read whole, read-only, under its whole-file lock; a table
// that cannot be read whole (damaged, held by another workstation past the
// wait, protected by another password), or one with more rows than a
// worksheet holds, is left out and named on standard error, and the exit
// status is 1. The output is written under a name of its own and put in
// place when complete: an existing OUT.sqlite, OUT.xlsx or CSV file is
// replaced only by a finished export.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

// The arguments after "export"; `passwordGbk` opens protected tables.
[[nodiscard]] int exportCommand(const std::vector<std::string>& args, const std::string& passwordGbk);

}  // namespace kdbtool
