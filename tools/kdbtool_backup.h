// kdbtool's folder commands: the nightly backup of the centre's table folder
// while the workstations keep working, the check of every table of a
// folder, and the restore of a folder's tables from a backup.
//
//   kdbtool backup [--wait SECONDS] [--keep-days N] [--keep-months M] DIR DEST
//   kdbtool verify [--wait SECONDS] DIR
//   kdbtool restore BACKUP DIR [TABLE...]
//
// Each takes the arguments that follow the command word and returns the
// process exit status: 0 when every table was copied and checked (or is
// sound, or restored), 1 when any table was not, each such table named on
// standard error; verify also fails a shared folder holding a file that
// another account of its group could not write (kdbtool_folder.h); verify
// gives 3 when the only tables not sound are ones whose pack
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
// restore takes DIR alone and refuses while any program holds it or has a
// table to be replaced open; it refuses an unfinished backup and one whose
// tables do not all read through. It copies each table (and its ".kdt")
// under a scratch name into DIR, moves the current files into
// DIR/restore-aside-<date and time>/ (kept), puts the copies in their
// places and reads them through. Named tables only, when tables are named.
// A restore that fails before the files are swapped leaves DIR as it was.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

[[nodiscard]] int backupCommand(const std::vector<std::string>& args);
// What a table refused with -48 is, in the administrator's words (UTF-8).
std::string packUnfinishedText();
std::string countDamagedText();
// The exit status of verify (and of the read-only commands) when tables
// only have a pack stopped half-way and no damage.
constexpr int kPackUnfinishedStatus = 3;
[[nodiscard]] int verifyCommand(const std::vector<std::string>& args);
[[nodiscard]] int restoreCommand(const std::vector<std::string>& args);

}  // namespace kdbtool
