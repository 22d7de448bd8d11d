#include "db/locks.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "db/errors.h"

namespace db {
namespace {
std::atomic<int> g_waitMs{0};
}

int lockWaitMs() { return g_waitMs.load(); }
void setLockWaitMs(int ms) { g_waitMs.store(ms); }

int headerWaitMs() {
  int w = lockWaitMs();
  return w <= 2000 ? 2000 : w;
}

int lockWithRetry(os::File& f, int64_t offset, int64_t length, int waitMs) {
  if (offset < 0) return kLockFailed;
  os::Env& env = os::env();
  uint64_t start = env.tickMs();
  for (;;) {
    int rc = f.tryLock(offset, length);
    if (rc == kOk) return kOk;
    if (rc != os::kBusy) return kLockFailed;
    if (waitMs == 0) return kLockViolation;
    uint64_t now = env.tickMs();
    if (waitMs > 0 && now - start >= uint64_t(waitMs)) return kLockViolation;
    env.sleepMs(20 + int(now % 20));
  }
}

int takeGate(os::File& f) {
  os::Env& env = os::env();
  uint64_t start = env.tickMs();
  for (;;) {
    int rc = f.writable() ? f.tryLock(kOpenGate, 1) : f.tryLockShared(kOpenGate, 1);
    if (rc != os::kBusy) return rc == kOk ? kOk : kSharingViolation;
    uint64_t now = env.tickMs();
    if (now - start >= 2000) return kSharingViolation;
    env.sleepMs(20 + int(now % 20));
  }
}

// A lock a failed unlock left goes when the handle is closed or dropped.
void releaseGate(os::File& f) { static_cast<void>(f.unlock(kOpenGate, 1)); }

bool markerHeld(os::File& f, int marker, int* rc) {
  bool held = false;
  int r = f.probe(kShareMarkers + marker, 1, &held);
  if (r != kOk) *rc = r;
  return held;
}

int LockSet::lockByte(int64_t offset, int waitMs) {
  if (offset < 0) return kLockFailed;
  return lockRange(offset, 1, waitMs);
}

int LockSet::unlockByte(int64_t offset) {
  if (offset < 0) return kUnlockFailed;
  return unlockRange(offset, 1);
}

int LockSet::lockWhole(int waitMs) {
  if (whole_ > 0 || bypass_) {
    ++whole_;
    return kOk;
  }
  int rc = lockWithRetry(*file_, 0, kWholeFileLength, waitMs);
  if (rc != kOk) return rc;
  whole_ = 1;
  return kOk;
}

int LockSet::unlockWhole() {
  if (whole_ == 0) return kUnlockFailed;
  if (--whole_ > 0 || bypass_) return kOk;
  return unlockUncovered(0, kWholeFileLength);
}

int LockSet::lockRange(int64_t offset, int64_t length, int waitMs) {
  if (offset < 0 || length <= 0) return kLockFailed;
  auto key = std::make_pair(offset, offset + length);
  auto it = held_.find(key);
  if (it != held_.end()) {
    ++it->second;
    return kOk;
  }
  if (!bypass_ && whole_ == 0) {
    int rc = lockWithRetry(*file_, offset, length, waitMs);
    if (rc != kOk) return rc;
  }
  held_.emplace(key, 1);
  return kOk;
}

int LockSet::unlockRange(int64_t offset, int64_t length) {
  auto it = held_.find(std::make_pair(offset, offset + length));
  if (offset < 0 || it == held_.end()) return kUnlockFailed;
  if (--it->second > 0) return kOk;
  held_.erase(it);
  if (bypass_ || whole_ > 0) return kOk;
  return unlockUncovered(offset, offset + length);
}

// Unlocks the bytes of [from, to) that no held entry covers.
int LockSet::unlockUncovered(int64_t from, int64_t to) {
  std::vector<std::pair<int64_t, int64_t>> cover;
  for (const auto& [range, n] : held_)
    if (range.first < to && range.second > from) cover.push_back(range);
  std::sort(cover.begin(), cover.end());
  int rc = kOk;
  int64_t at = from;
  for (const auto& [s, e] : cover) {
    if (s > at && file_->unlock(at, s - at) != kOk) rc = kUnlockFailed;
    at = std::max(at, e);
  }
  if (at < to && file_->unlock(at, to - at) != kOk) rc = kUnlockFailed;
  return rc;
}

}  // namespace db
