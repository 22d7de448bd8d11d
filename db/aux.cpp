#include "db/aux.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "db/errors.h"
#include "db/format.h"
#include "db/locks.h"

namespace db {

// The header and free list as read under the header lock.
struct AuxFile::State {
  int32_t blocks = 1;
  std::vector<int32_t> freeList;  // in list order
  std::unordered_set<int32_t> freeSet;
  uint8_t header[kAuxHeaderBytes] = {};
};

int AuxFile::create(os::File& f, int32_t version, double created) {
  uint8_t block[kBlockSize] = {};
  std::memcpy(block, kAuxMagic, 4);
  putI32(block + 4, version);
  putF64(block + 8, created);
  putI32(block + kAuxOffBlocks, 1);
  int rc = f.truncate(0);
  if (rc == kOk) rc = f.write(0, block, kBlockSize);
  return rc == kOk ? kOk : writeFailure(rc, kAuxCreateFailed);
}

int AuxFile::open(const std::string& path, bool write, int32_t dbVersion, bool lockless, bool repairing,
                  std::unique_ptr<AuxFile>* out) {
  std::unique_ptr<AuxFile> a(new AuxFile);
  a->lockless_ = lockless;
  int rc = os::openFile(path, write, false, &a->file_);
  if (rc != kOk) return rc;
  // Marked open under the gate, so nobody creates a table over this file
  // while it is in use.
  if ((rc = takeGate(*a->file_)) != kOk) return rc;
  rc = a->file_->tryLockShared(kShareMarkers + kMarkOpen, 1) == kOk ? kOk : kSharingViolation;
  releaseGate(*a->file_);
  if (rc != kOk) return rc;
  uint8_t h[kAuxHeaderBytes];
  size_t got = 0;
  rc = a->file_->read(0, h, sizeof h, &got);
  if (rc != kOk) return rc;
  if (got < sizeof h || std::memcmp(h, kAuxMagic, 4) != 0) return kAuxDamaged;
  int32_t blocks = getI32(h + kAuxOffBlocks), freeCount = getI32(h + kAuxOffFreeCount),
          freeHead = getI32(h + kAuxOffFreeHead);
  if (blocks <= 0 || freeCount < 0 || freeCount >= blocks || freeHead < 0 || freeHead >= blocks) return kAuxDamaged;
  if (getI32(h + 4) != dbVersion) return kAuxVersion;
  int64_t len = 0;
  if ((rc = a->file_->size(&len)) != kOk) return rc;
  if (len / kBlockSize < blocks) {
    if (!write || !repairing) return kAuxReadFailed;
    // The count follows the file. A free list reaching past the new end is
    // dropped (its blocks are lost, never handed out twice).
    int32_t real = int32_t(std::max<int64_t>(1, len / kBlockSize));
    putI32(h + kAuxOffBlocks, real);
    if (freeHead >= real || freeCount >= real) {
      putI32(h + kAuxOffFreeCount, 0);
      putI32(h + kAuxOffFreeHead, 0);
    }
    if (len < kBlockSize && a->file_->truncate(kBlockSize) != kOk) return kAuxReadFailed;
    if (a->file_->write(0, h, sizeof h) != kOk) return kAuxReadFailed;
  }
  *out = std::move(a);
  return kOk;
}

int AuxFile::read(int32_t first, std::string* out) {
  out->clear();
  if (first == 0) return kOk;
  int64_t len = 0;
  if (file_->size(&len) != kOk) return kAuxAccess;
  int64_t limit = len / kBlockSize;
  uint8_t block[kBlockSize];
  int32_t b = first;
  for (int64_t steps = 0; b != 0; ++steps) {
    if (b < 1 || b >= limit || steps >= limit) return kAuxAccess;
    size_t got = 0;
    if (file_->read(int64_t(b) * kBlockSize, block, kBlockSize, &got) != kOk || got < kBlockSize) return kAuxAccess;
    int32_t used = getI32(block + 8);
    if (used < 0 || used > kBlockData) return kAuxAccess;
    out->append(reinterpret_cast<const char*>(block + kBlockHeader), size_t(used));
    b = getI32(block + 4);
  }
  return kOk;
}

int AuxFile::lockHeader() {
  if (lockless_) return kOk;
  int rc = lockWithRetry(*file_, 0, 1, headerWaitMs());
  return rc == kOk ? kOk : kAuxAccess;
}

void AuxFile::unlockHeader() {
  // A lock a failed unlock left goes when the handle is closed or dropped.
  if (!lockless_) static_cast<void>(file_->unlock(0, 1));
}

int AuxFile::loadState(State* s) {
  size_t got = 0;
  if (file_->read(0, s->header, kAuxHeaderBytes, &got) != kOk || got < size_t(kAuxHeaderBytes)) return kAuxAccess;
  s->blocks = getI32(s->header + kAuxOffBlocks);
  int64_t len = 0;
  if (file_->size(&len) != kOk) return kAuxAccess;
  if (s->blocks < 1 || s->blocks > len / kBlockSize) return kAuxAccess;
  // A header that counts fewer blocks than the file holds (damaged, or a
  // write stopped between its blocks and the header): new blocks are given
  // out past every whole block of the file, never over one a value may use,
  // and the header counts them all from the next write on.
  s->blocks = int32_t(std::min<int64_t>(len / kBlockSize, INT32_MAX));
  int32_t count = getI32(s->header + kAuxOffFreeCount);
  int32_t b = getI32(s->header + kAuxOffFreeHead);
  // A damaged free list is cut where it goes wrong: the blocks behind the
  // break are lost but never given out twice.
  while (b > 0 && b < s->blocks && int32_t(s->freeList.size()) < count && !s->freeSet.count(b)) {
    uint8_t h[kBlockHeader];
    if (file_->read(int64_t(b) * kBlockSize, h, kBlockHeader, &got) != kOk || got < sizeof h) break;
    s->freeList.push_back(b);
    s->freeSet.insert(b);
    b = getI32(h + 4);
  }
  return kOk;
}

int AuxFile::storeState(State* s) {
  // Free blocks at the end of the file are given back to the file system.
  int32_t oldBlocks = s->blocks;
  while (s->blocks > 1 && s->freeSet.count(s->blocks - 1)) {
    s->freeSet.erase(s->blocks - 1);
    --s->blocks;
  }
  if (s->blocks != oldBlocks) {
    s->freeList.erase(std::remove_if(s->freeList.begin(), s->freeList.end(), [&](int32_t b) { return b >= s->blocks; }),
                      s->freeList.end());
    if (file_->truncate(int64_t(s->blocks) * kBlockSize) != kOk) return kAuxAccess;
  }
  for (size_t i = 0; i < s->freeList.size(); ++i) {
    uint8_t h[kBlockHeader] = {};
    putI32(h + 4, i + 1 < s->freeList.size() ? s->freeList[i + 1] : 0);
    int w = file_->write(int64_t(s->freeList[i]) * kBlockSize, h, kBlockHeader);
    if (w != kOk) return writeFailure(w, kAuxAccess);
  }
  putI32(s->header + kAuxOffBlocks, s->blocks);
  putI32(s->header + kAuxOffFreeCount, int32_t(s->freeList.size()));
  putI32(s->header + kAuxOffFreeHead, s->freeList.empty() ? 0 : s->freeList.front());
  int w = file_->write(0, s->header, kAuxHeaderBytes);
  return w == kOk ? kOk : writeFailure(w, kAuxAccess);
}

namespace {

// The blocks of the chain at `first`, as far as it is sound.
std::vector<int32_t> chainBlocks(os::File& f, int32_t first, int32_t blocks,
                                 const std::unordered_set<int32_t>& exclude) {
  std::vector<int32_t> out;
  std::unordered_set<int32_t> seen;
  int32_t b = first;
  while (b > 0 && b < blocks && !seen.count(b) && !exclude.count(b)) {
    uint8_t h[kBlockHeader];
    size_t got = 0;
    if (f.read(int64_t(b) * kBlockSize, h, kBlockHeader, &got) != 0 || got < sizeof h) break;
    out.push_back(b);
    seen.insert(b);
    b = getI32(h + 4);
  }
  return out;
}

}  // namespace

int AuxFile::write(const void* data, size_t n, int32_t* newFirst) {
  *newFirst = 0;
  if (n == 0) return kOk;
  if (n > size_t(INT32_MAX) / 2) return kAuxAccess;
  int rc = lockHeader();
  if (rc != kOk) return rc;
  State s;
  rc = loadState(&s);
  if (rc == kOk) {
    size_t need = (n + kBlockData - 1) / kBlockData;
    std::vector<int32_t> use;
    while (use.size() < need && !s.freeList.empty()) {
      use.push_back(s.freeList.front());
      s.freeSet.erase(s.freeList.front());
      s.freeList.erase(s.freeList.begin());
    }
    while (use.size() < need && rc == kOk) {
      if (s.blocks == INT32_MAX)
        rc = kAuxAccess;
      else
        use.push_back(s.blocks++);
    }
    // The blocks are written before the header claims them: a write cut
    // short leaves the free list and block count as they were.
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < use.size() && rc == kOk; ++i) {
      uint8_t block[kBlockSize] = {};
      size_t used = std::min(size_t(kBlockData), n - i * kBlockData);
      putI32(block, i ? use[i - 1] : 0);
      putI32(block + 4, i + 1 < use.size() ? use[i + 1] : 0);
      putI32(block + 8, int32_t(used));
      std::memcpy(block + kBlockHeader, p + i * kBlockData, used);
      int w = file_->write(int64_t(use[i]) * kBlockSize, block, kBlockSize);
      if (w != kOk) rc = writeFailure(w, kAuxAccess);
    }
    if (rc == kOk) rc = storeState(&s);
    if (rc == kOk) *newFirst = use.front();
  }
  unlockHeader();
  return rc;
}

int AuxFile::release(int32_t first) {
  if (first == 0) return kOk;
  return release(std::vector<int32_t>{first});
}

int AuxFile::release(const std::vector<int32_t>& firsts) {
  if (firsts.empty()) return kOk;
  int rc = lockHeader();
  if (rc != kOk) return rc;
  State s;
  rc = loadState(&s);
  if (rc == kOk) {
    std::vector<int32_t> freed;
    for (int32_t first : firsts)
      for (int32_t b : chainBlocks(*file_, first, s.blocks, s.freeSet)) {
        freed.push_back(b);
        s.freeSet.insert(b);
      }
    // Newest first, as single releases would have put them.
    s.freeList.insert(s.freeList.begin(), freed.rbegin(), freed.rend());
    rc = storeState(&s);
  }
  unlockHeader();
  return rc;
}

int AuxFile::rebuildFreeList(const std::vector<bool>& inUse) {
  int rc = lockHeader();
  if (rc != kOk) return rc;
  State s;
  size_t got = 0;
  int64_t len = 0;
  if (file_->read(0, s.header, kAuxHeaderBytes, &got) != kOk || got < size_t(kAuxHeaderBytes) ||
      file_->size(&len) != kOk) {
    unlockHeader();
    return kAuxAccess;
  }
  s.blocks = int32_t(std::clamp<int64_t>(len / kBlockSize, 1, INT32_MAX));
  for (int32_t b = 1; b < s.blocks; ++b) {
    if (size_t(b) < inUse.size() && inUse[size_t(b)]) continue;
    s.freeList.push_back(b);
    s.freeSet.insert(b);
  }
  rc = storeState(&s);
  unlockHeader();
  return rc;
}

int AuxFile::reset() {
  int rc = lockHeader();
  if (rc != kOk) return rc;
  uint8_t h[kAuxHeaderBytes];
  size_t got = 0;
  rc = file_->read(0, h, sizeof h, &got);
  if (rc == kOk && got == sizeof h) {
    putI32(h + kAuxOffBlocks, 1);
    putI32(h + kAuxOffFreeCount, 0);
    putI32(h + kAuxOffFreeHead, 0);
    rc = file_->write(0, h, sizeof h) == kOk && file_->truncate(kBlockSize) == kOk ? kOk : kAuxAccess;
  } else {
    rc = kAuxAccess;
  }
  unlockHeader();
  return rc;
}

}  // namespace db
