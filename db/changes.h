// Change counters of the tables of one folder, so that a table read again
// and again (the month's charges at every keystroke, the catalogue, a
// year's bills) can be taken from what this program read before when no
// workstation has changed it since: one small file, "kdbchg.dat", in the
// tables' folder, outside every table (the table files keep their format).
//
// Layout: kSlots marks of 8 bytes (little-endian), a table's mark at slot
// hash(lower-case file name) % kSlots; two tables sharing a slot only make
// each other be read again. Every writer of this program gives each table
// it changed other than by appending (an append moves the table's count
// and next serial, which readers compare too) a new mark when its engine
// call ends (EngineCall), before the action is shown as done: a value of its own that the table has not had
// (an 8-byte write under a lock on the slot: of two writers at once,
// either mark differs from what a reader kept; a writer that reads the
// slot first under that lock knows whether anyone changed the table since
// the mark it kept). A reader takes the mark with the table's count and
// next serial (without a lock, or under the table's whole-file lock with
// its length too); a table changed by anything else is still seen by
// those. 0 means never changed.
//
// Errors: the engine's codes; a folder where the file cannot be made or
// read gives an error, and the caller then reads the table as before.
#pragma once

#include <cstdint>
#include <string>

namespace db {

constexpr const char* kChangeFileName = "kdbchg.dat";
constexpr int kChangeSlots = 4096;

// Gives the table at `tablePath` a new mark (*written), under a lock on
// its slot. With `expect`, *unchanged tells whether the slot still held
// that mark just before (a handle that extended its kept copy with its own
// append keeps it only then). 0 or an error code.
[[nodiscard]] int bumpChange(const std::string& tablePath, const uint64_t* expect = nullptr, bool* unchanged = nullptr,
                             uint64_t* written = nullptr);
// Reads its mark (0 when never changed, also when the folder has no
// change file yet). With `mayMake` (a reader that writes this folder's
// tables too) a missing file is made, so that a folder without one does
// not cost a failed open at every reading; without it (a tool reading a
// backup) the folder is left as it is. 0 or an error code.
[[nodiscard]] int readChange(const std::string& tablePath, uint64_t* out, bool mayMake = false);
// Forgets the open counter files (after the folder dropped).
void dropChangeFiles();
// Moves on each time a folder's counter file was found deleted, emptied or
// replaced while this program had it open (looked at every few seconds):
// marks read before then say nothing, and a copy kept with one is not
// served.
uint64_t changeEpoch();

}  // namespace db
