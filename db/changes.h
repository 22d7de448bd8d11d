// Change counters of the tables of one folder, so that a table read again
// and again (the month's charges at every keystroke, the catalogue, a
// year's bills) can be taken from what this program read before when no
// workstation has changed it since: one small file, "kdbchg.dat", in the
// tables' folder, outside every table (the table files keep their format).
//
// Layout: kSlots counters of 8 bytes (little-endian, unsigned), a table's
// counter at slot hash(lower-case file name) % kSlots; two tables sharing
// a slot only make each other be read again. Every writer of this program
// advances the counter of each table it wrote when its engine call ends
// (EngineCall), under an open-file-description lock on the counter's 8
// bytes, before the action is shown as done; a reader takes the counter
// under the table's whole-file lock, with the table's count, next serial
// and length. A table changed by anything else is still seen by those.
//
// Errors: the engine's codes; a folder where the file cannot be made or
// read gives an error, and the caller then reads the table as before.
#pragma once

#include <cstdint>
#include <string>

namespace db {

constexpr const char* kChangeFileName = "kdbchg.dat";
constexpr int kChangeSlots = 4096;

// Advances the counter of the table at `tablePath`. 0 or an error code.
int bumpChange(const std::string& tablePath);
// Reads it (0 when never advanced, also when the folder has no counter
// file yet; a reader never makes one). 0 or an error code.
int readChange(const std::string& tablePath, uint64_t* out);
// Forgets the open counter files (after the folder dropped).
void dropChangeFiles();

}  // namespace db
