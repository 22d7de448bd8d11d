// Byte-range locking of one open file, with the engine's retry rule and
// the bookkeeping of the locks an open database holds.
//
// Lock states of one LockSet (an open database file):
//
//   * held_[off] = n > 0: the 1-byte lock at byte `off` (a record's
//     offset, or 16 for the header lock) has been taken n times; only the
//     last unlock releases it.
//   * whole_ = d > 0: the whole-file lock (bytes 0 .. 0x7FFFFFFE) has been
//     taken d times (file-wide operations nest). While it is held every
//     byte of that range is locked in the kernel; single-record locks taken
//     meanwhile are only counted. Releasing it unlocks the gaps between the
//     records still held, so they stay locked.
//   * bypass_: the database was opened denying others reading; it is alone
//     on the file and no lock is taken at all (counts are still kept so
//     that unlocks pair with locks).
//
// Because locks belong to the open file description, taking the whole
// range over our own single-byte locks never conflicts with them, which is
// what "release own record locks, then lock the gaps" amounts to.
//
// Retry: a conflicting lock is tried again after 20 + (tick mod 20) ms
// until the wait time has passed (0 = no retry, -1 = for ever); a conflict
// that outlasts it gives -13; any other failure -28 (locking) or -29
// (unlocking).
#pragma once

#include <cstdint>
#include <map>

#include "db/os.h"

namespace db {

constexpr int64_t kWholeFileLength = 0x7FFFFFFF;  // bytes 0 .. 0x7FFFFFFE
constexpr int64_t kHeaderLockOffset = 16;

// The process-wide lock wait time in milliseconds (0 unless set; -1 for
// ever).
int lockWaitMs();
void setLockWaitMs(int ms);

// One lock call with the retry rule: 0, -13 after the wait, -28 otherwise.
int lockWithRetry(os::File& f, int64_t offset, int64_t length, int waitMs);

class LockSet {
 public:
  LockSet() = default;
  void attach(os::File* f, bool bypass) { file_ = f; bypass_ = bypass; }

  // Locks the byte at `offset` (a negative offset: -28). `waitMs` is the
  // wait to use (callers pass lockWaitMs(), or the raised wait for the
  // header).
  int lockByte(int64_t offset, int waitMs);
  // -29 for a byte not held or a negative offset.
  int unlockByte(int64_t offset);

  // Locks the bytes [offset, offset + length) for a batch of records
  // being examined, and unlocks them again leaving the bytes of records
  // still held locked. Nothing happens under the whole-file lock.
  int lockRange(int64_t offset, int64_t length, int waitMs);
  int unlockRange(int64_t offset, int64_t length);

  int lockWhole(int waitMs);
  int unlockWhole();
  bool wholeHeld() const { return whole_ > 0; }

 private:
  int unlockGaps(int64_t from, int64_t to);

  os::File* file_ = nullptr;
  bool bypass_ = false;
  int whole_ = 0;
  std::map<int64_t, int> held_;
};

// The wait used while the record count is read: at least 2000 ms.
int headerWaitMs();

}  // namespace db
