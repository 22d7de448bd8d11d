// Byte-range locking of one open file, with the engine's retry rule and
// the bookkeeping of the locks an open database holds.
//
// Lock states of one LockSet (an open database file):
//
//   * held_[{from, to}] = n > 0: the bytes [from, to) have been locked n
//     times: a 1-byte record lock (a record's offset, or 16 for the header
//     lock) or the records of a scan batch. Only the last unlock of an
//     entry releases it, and it releases only the bytes that no other
//     entry still covers, so nested scans keep the outer scan's records.
//   * whole_ = d > 0: the whole-file lock (bytes 0 .. 0x7FFFFFFE) has been
//     taken d times (file-wide operations nest). While it is held every
//     byte of that range is locked in the kernel; entries taken meanwhile
//     are only counted. Releasing it unlocks everything but the entries
//     still held, so they stay locked.
//   * bypass_: the database was opened denying others reading; it is alone
//     on the file and no lock is taken at all (counts are still kept so
//     that unlocks pair with locks).
//
// Because locks belong to the open file description, taking the whole
// range over our own locks never conflicts with them, which is what
// "release own record locks, then lock the gaps" amounts to.
//
// Retry: a conflicting lock is tried again after 20 + (tick mod 20) ms
// until the wait time has passed (0 = no retry, -1 = for ever); a conflict
// that outlasts it gives -13; any other failure -28 (locking) or -29
// (unlocking).
//
// Share-mode markers and the open gate live past the whole-file range, so
// no record or scan lock ever touches them:
//
//   kShareMarkers + 0..3   "open", "open for writing", "denies reading",
//                          "denies writing": shared locks held for as long
//                          as the file is open
//   kOpenGate              taken exclusively by a writer (shared by a
//                          read-only handle, which may lock no other way)
//                          while it checks and sets markers
//
// The auxiliary file carries the "open" marker too, so a table whose
// auxiliary file has the same name as another's is not created over it.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "db/os.h"

namespace db {

constexpr int64_t kWholeFileLength = 0x7FFFFFFF;  // bytes 0 .. 0x7FFFFFFE
constexpr int64_t kHeaderLockOffset = 16;
constexpr int64_t kShareMarkers = 0x100000000LL;
constexpr int kMarkOpen = 0, kMarkWriter = 1, kMarkDenyRead = 2, kMarkDenyWrite = 3;
constexpr int64_t kOpenGate = kShareMarkers + 8;

// The process-wide lock wait time in milliseconds (0 unless set; -1 for
// ever).
int lockWaitMs();
void setLockWaitMs(int ms);

// One lock call with the retry rule: 0, -13 after the wait, -28 otherwise.
[[nodiscard]] int lockWithRetry(os::File& f, int64_t offset, int64_t length, int waitMs);

// Takes the open gate of a file, waiting up to 2 s for other openers: 0 or
// -12.
[[nodiscard]] int takeGate(os::File& f);
void releaseGate(os::File& f);
// True when another open file holds `marker` (a probe failure is stored in
// *rc).
bool markerHeld(os::File& f, int marker, int* rc);

class LockSet {
 public:
  LockSet() = default;
  void attach(os::File* f, bool bypass) {
    file_ = f;
    bypass_ = bypass;
  }

  // Locks the byte at `offset` (a negative offset: -28). `waitMs` is the
  // wait to use (callers pass lockWaitMs(), or the raised wait for the
  // header).
  [[nodiscard]] int lockByte(int64_t offset, int waitMs);
  // -29 for a byte not held or a negative offset.
  [[nodiscard]] int unlockByte(int64_t offset);

  // Locks the bytes [offset, offset + length) for a batch of records
  // being examined, and unlocks them again leaving the bytes still held
  // by other entries locked. Under the whole-file lock only counted.
  [[nodiscard]] int lockRange(int64_t offset, int64_t length, int waitMs);
  [[nodiscard]] int unlockRange(int64_t offset, int64_t length);

  [[nodiscard]] int lockWhole(int waitMs);
  [[nodiscard]] int unlockWhole();
  bool wholeHeld() const { return whole_ > 0; }
  // Whether the byte at `offset` is locked by this set now (its own byte
  // lock, or the whole file).
  bool holdsByte(int64_t offset) const { return whole_ > 0 || held_.count({offset, offset + 1}) > 0; }

 private:
  [[nodiscard]] int unlockUncovered(int64_t from, int64_t to);

  os::File* file_ = nullptr;
  bool bypass_ = false;
  int whole_ = 0;
  std::map<std::pair<int64_t, int64_t>, int> held_;
};

// The wait used while the record count is read: at least 2000 ms.
int headerWaitMs();

}  // namespace db
