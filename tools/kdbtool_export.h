// kdbtool export: every table of a folder into one SQLite database, or one
// CSV file per table, for the centre's accountant and the health bureau.
//
//   kdbtool export DIR OUT.sqlite
//   kdbtool export DIR --csv OUTDIR
//
// One SQL table per ".kdb", named by the file's name without ".kdb", with
// the columns "_serial" (the record serial) and "_deleted" (1 for a record
// marked deleted, which stays in the file until a pack) and then every
// field in stored order, typed as kdbtool_common.h's Cell says: INTEGER,
// REAL, TEXT (dates as ISO 8601) or BLOB. The CSV files hold the same rows
// as RFC 4180 text in UTF-8 with a byte-order mark (spreadsheet programs
// then read the Chinese), a header line first.
//
// Every table is read whole, read-only, under its whole-file lock; a table
// that cannot be read whole (damaged, held by another workstation past the
// wait, protected by another password) is left out and named on standard
// error, and the exit status is 1. The output is written under a name of
// its own and put in place when complete: an existing OUT.sqlite or CSV
// file is replaced only by a finished export.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

// The arguments after "export"; `passwordGbk` opens protected tables.
int exportCommand(const std::vector<std::string>& args, const std::string& passwordGbk);

}  // namespace kdbtool
