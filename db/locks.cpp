#include "db/locks.h"

#include <atomic>

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

int LockSet::lockByte(int64_t offset, int waitMs) {
  if (offset < 0) return kLockFailed;
  auto it = held_.find(offset);
  if (it != held_.end()) {
    ++it->second;
    return kOk;
  }
  if (!bypass_ && whole_ == 0) {
    int rc = lockWithRetry(*file_, offset, 1, waitMs);
    if (rc != kOk) return rc;
  }
  held_.emplace(offset, 1);
  return kOk;
}

int LockSet::unlockByte(int64_t offset) {
  auto it = held_.find(offset);
  if (offset < 0 || it == held_.end()) return kUnlockFailed;
  if (--it->second > 0) return kOk;
  held_.erase(it);
  if (bypass_ || whole_ > 0) return kOk;
  return file_->unlock(offset, 1) == kOk ? kOk : kUnlockFailed;
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
  return unlockGaps(0, kWholeFileLength);
}

int LockSet::lockRange(int64_t offset, int64_t length, int waitMs) {
  if (offset < 0) return kLockFailed;
  if (bypass_ || whole_ > 0) return kOk;
  return lockWithRetry(*file_, offset, length, waitMs);
}

int LockSet::unlockRange(int64_t offset, int64_t length) {
  if (offset < 0) return kUnlockFailed;
  if (bypass_ || whole_ > 0) return kOk;
  return unlockGaps(offset, offset + length);
}

// Unlocks [from, to) except the single bytes still held.
int LockSet::unlockGaps(int64_t from, int64_t to) {
  int rc = kOk;
  for (auto it = held_.lower_bound(from); it != held_.end() && it->first < to; ++it) {
    if (it->first > from && file_->unlock(from, it->first - from) != kOk) rc = kUnlockFailed;
    from = it->first + 1;
  }
  if (from < to && file_->unlock(from, to - from) != kOk) rc = kUnlockFailed;
  return rc;
}

}  // namespace db
