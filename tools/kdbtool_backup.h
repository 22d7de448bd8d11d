// kdbtool's folder commands: the nightly backup of the centre's table folder
// while the workstations keep working, the check of every table of a
// folder.
//
//   kdbtool backup [--wait SECONDS] [--keep-days N] [--keep-months M] DIR DEST
//   kdbtool verify [--wait SECONDS] DIR
//
// Both take the arguments that follow the command word and return the
// process exit status: 0 when every table was copied and checked (or is
// sound), 1 when any table was not, each such table named on standard
// error; verify gives 3 when the only tables not sound are ones whose pack
// was stopped half-way (no damage: the next writer completes it).
//
// A backup is written into a folder named "unfinished-<date>" and given
// its dated name only when every table was copied and checked: a folder
// with a dated name is always complete. With --keep-days or --keep-months,
// a complete backup is followed by the removal of older backups in DEST
// that neither keeps (backup_keep.h). Today's date is the local one, or
// KDBTOOL_TODAY=YYYY-MM-DD when set (it also dates the new folder).
//
// backup and verify hold DIR shared (db/folder_use.h) while they read it.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

int backupCommand(const std::vector<std::string>& args);
// What a table refused with -48 is, in the administrator's words (UTF-8).
std::string packUnfinishedText();
std::string countDamagedText();
// The exit status of verify (and of the read-only commands) when tables
// only have a pack stopped half-way and no damage.
constexpr int kPackUnfinishedStatus = 3;
int verifyCommand(const std::vector<std::string>& args);

}  // namespace kdbtool
