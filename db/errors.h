// Engine error codes, their fixed texts, and the per-thread last error.
//
// Every engine call returns one of these codes (0 = success). Database
// commands store the code of their run in the calling thread's last-error
// slot; module code sees only the commands' results, tests and kdbtool read
// the slot through lastError().
#pragma once

namespace db {

enum Error : int {
  kOk = 0,
  kUnknown = -1,  // generic failure
  kCreateFailed = -2,
  kNotFound = -3,
  kBadPath = -4,
  kTooManyOpen = -5,
  kAccessDenied = -6,
  kBadHandle = -7,
  kRemoveCurrentDir = -8,
  kDirFull = -9,
  kSeekFailed = -10,
  kHardware = -11,
  kSharingViolation = -12,
  kLockViolation = -13,
  kDiskFull = -14,
  kEndOfFile = -15,
  kNoFields = -16,
  kBadFieldKind = -17,
  kBadFieldName = -18,
  kBadFieldSize = -19,
  kDuplicateField = -20,
  kOpenFailed = -21,
  kNotDatabase = -22,
  kVersionTooHigh = -23,
  kBadAlias = -24,
  kBeforeFirst = -25,
  kPastLast = -26,
  kNoDatabaseOpen = -27,
  kLockFailed = -28,
  kUnlockFailed = -29,
  kIndexOpenFailed = -30,
  kTooManyIndexes = -34,
  kAuxDamaged = -35,
  kAuxVersion = -36,
  kAuxReadFailed = -37,
  kAlreadyOpen = -38,
  kFieldNotFound = -40,
  kNoRecord = -44,
  kFieldReadFailed = -46,
  kFieldWriteFailed = -47,
  kFileSizeWrong = -48,
  kAuxCreateFailed = -50,
  kOutOfMemory = -55,
  kAuxAccess = -59,
  kNoCurrentRecord = -60,
  kNoSuchField = -61,
  kRecordReadFailed = -62,
  kRecordWriteFailed = -63,
  kCountReadFailed = -65,
  kNotOpened = -66,
  kNoCurrentDatabase = -67,
  kFieldKindWrong = -70,
  kValueKindMismatch = -72,
  kExpressionFailed = -75,
  kExpressionKind = -76,
  kBadPassword = -78,
  kBadPasswordText = -80,
};

// A failed write reports a full disk as such (-14, so the operator knows
// what to do); any other failure as the caller's own code.
[[nodiscard]] inline int writeFailure(int rc, int fallback) { return rc == kDiskFull ? kDiskFull : fallback; }

// The fixed GBK text of a code; a code outside the table has the text of
// -1. The pointer stays valid for the whole run.
const char* errorText(int code);

// The calling thread's last engine error (0 after a successful command).
[[nodiscard]] int lastError();
void setLastError(int code);
// The last engine error, or `fallback` when the failed step left none (a
// command that answered false without an engine code): a failure is never
// reported as 0.
[[nodiscard]] int lastErrorOr(int fallback);

}  // namespace db
