// kdbtool trail: the program's trail of deletions, corrections, catalogue
// changes and logins ("czjl" in the centre folder), to read from a
// terminal, and the check of its numbering that stock-audit makes.
//
//   kdbtool trail DIR [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--user NAME]
//                     [--kind KIND] [--csv]
//
// prints the entries that pass the filters, oldest first: number, time,
// user, workstation, kind, table, record serial, values before and after
// (UTF-8; with --csv as CSV with a header line and a byte-order mark). A
// folder without a trail prints nothing. Entries are numbered 1, 2, 3, ...
// as they were appended; every number missing between the first entry and
// the last is named on standard error and the exit status is then 1.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

[[nodiscard]] int trailCommand(const std::vector<std::string>& args);

// The numbers missing from the trail of `dir` (none when it has no
// trail), each run of them said as a line in *said (UTF-8). 0, or the
// engine's code when the trail could not be read.
[[nodiscard]] int trailGaps(const std::string& dir, std::vector<int>* missing, std::string* said);

}  // namespace kdbtool
