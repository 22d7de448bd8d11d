#include "db/chaincheck.h"

#include <algorithm>
#include <map>

#include "db/aux.h"
#include "db/errors.h"
#include "db/format.h"
#include "db/table.h"

namespace db {
namespace {

struct BlockHead {
  int32_t prev = 0, next = 0, used = 0;
};

// One record's chain as walked.
struct Chain {
  int32_t pos;  // 0-based record
  int field;
  std::vector<int32_t> blocks;
  bool faulty = false;  // a fault of its own: the value cannot be kept
};

[[nodiscard]] int readHeads(AuxFile& aux, int32_t* blocks, int32_t* headerBlocks, int32_t* freeCount, int32_t* freeHead,
                            std::vector<BlockHead>* heads) {
  os::File& f = aux.file();
  uint8_t h[kAuxHeaderBytes];
  size_t got = 0;
  int64_t len = 0;
  if (f.read(0, h, sizeof h, &got) != kOk || got < sizeof h || f.size(&len) != kOk) return kAuxAccess;
  // Every whole block the file holds is walked, whatever the header counts.
  *headerBlocks = getI32(h + kAuxOffBlocks);
  *blocks = int32_t(std::clamp<int64_t>(len / kBlockSize, 1, INT32_MAX));
  *freeCount = getI32(h + kAuxOffFreeCount);
  *freeHead = getI32(h + kAuxOffFreeHead);
  heads->assign(size_t(*blocks), BlockHead{});
  constexpr int32_t kPerRead = 64;
  std::vector<uint8_t> buf(size_t(kPerRead) * kBlockSize);
  for (int32_t b = 1; b < *blocks; b += kPerRead) {
    int32_t n = std::min(kPerRead, *blocks - b);
    if (f.read(int64_t(b) * kBlockSize, buf.data(), size_t(n) * kBlockSize, &got) != kOk ||
        got < size_t(n) * kBlockSize)
      return kAuxAccess;
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* p = buf.data() + size_t(i) * kBlockSize;
      (*heads)[size_t(b + i)] = {getI32(p), getI32(p + 4), getI32(p + 8)};
    }
  }
  return kOk;
}

bool inFile(const std::vector<BlockHead>& heads, int32_t b) { return b >= 1 && b < int32_t(heads.size()); }

// Walks the free list from `head`, marking its blocks in *free; a link past
// the end or back to a block already on the list ends it with a fault.
// Returns the blocks on the list.
int32_t walkFreeList(const std::vector<BlockHead>& heads, int32_t head, std::vector<bool>* free,
                     std::vector<ChainFault>* faults) {
  free->assign(heads.size(), false);
  int32_t onList = 0;
  for (int32_t b = head; b != 0; b = heads[size_t(b)].next) {
    ChainFault f{};
    f.block = b;
    if (!inFile(heads, b)) {
      f.kind = ChainFaultKind::kPastEnd;
      faults->push_back(f);
      break;
    }
    if ((*free)[size_t(b)]) {
      f.kind = ChainFaultKind::kLoop;
      faults->push_back(f);
      break;
    }
    (*free)[size_t(b)] = true;
    ++onList;
  }
  return onList;
}

// Every chain of every record, each followed until it ends or meets a
// fault of its own (past the end, a loop, a bad used count).
[[nodiscard]] int collectChains(Table& t, const std::vector<BlockHead>& heads, std::vector<Chain>* chains,
                                std::vector<ChainFault>* faults) {
  const auto& fields = t.fields();
  return t.scan(0, true, [&](int32_t pos, uint8_t* rec) {
    for (size_t fi = 0; fi < fields.size(); ++fi) {
      if (!isChainKind(fields[fi].kind)) continue;
      int32_t first = getI32(rec + fields[fi].offset);
      if (first == 0) continue;
      Chain c{pos, int(fi), {}, false};
      for (int32_t b = first; b != 0; b = heads[size_t(b)].next) {
        ChainFault f{};
        f.record = pos + 1;
        f.field = int(fi);
        f.block = b;
        if (!inFile(heads, b))
          f.kind = ChainFaultKind::kPastEnd;
        else if (std::find(c.blocks.begin(), c.blocks.end(), b) != c.blocks.end())
          f.kind = ChainFaultKind::kLoop;
        else if (heads[size_t(b)].used < 0 || heads[size_t(b)].used > kBlockData)
          f.kind = ChainFaultKind::kBadUsed;
        else {
          c.blocks.push_back(b);
          continue;
        }
        faults->push_back(f);
        c.faulty = true;
        break;
      }
      chains->push_back(std::move(c));
    }
    return 0;
  });
}

// The block before position `at` of a chain (0 for its first block).
int32_t predOf(const Chain& c, size_t at) { return at == 0 ? 0 : c.blocks[at - 1]; }

// Chains that reach the same block share everything after it, so a
// cross-link is decided where the chains meet: the chain whose link into
// that block matches the block's "previous" field keeps the shared tail
// (the first chain when that does not decide); the others lose it from
// there on. Decided one meeting point at a time, earliest first.
void settleCrossLinks(const std::vector<BlockHead>& heads, std::vector<Chain>* chains,
                      std::vector<ChainFault>* faults) {
  for (;;) {
    std::map<int32_t, std::vector<size_t>> claims;
    for (size_t ci = 0; ci < chains->size(); ++ci)
      for (int32_t b : (*chains)[ci].blocks) claims[b].push_back(ci);
    auto firstShared = [&](size_t ci) -> int32_t {
      for (int32_t b : (*chains)[ci].blocks)
        if (claims[b].size() > 1) return b;
      return 0;
    };
    int32_t meet = 0;
    for (size_t ci = 0; ci < chains->size() && meet == 0; ++ci) {
      int32_t b = firstShared(ci);
      if (b == 0) continue;
      bool entry = true;
      for (size_t cj : claims[b]) entry = entry && firstShared(cj) == b;
      if (entry) meet = b;
    }
    if (meet == 0) {
      for (size_t ci = 0; ci < chains->size() && meet == 0; ++ci) meet = firstShared(ci);
      if (meet == 0) break;
    }
    const std::vector<size_t>& cs = claims[meet];
    size_t keep = cs.front();
    int rightful = 0;
    for (size_t ci : cs) {
      const Chain& c = (*chains)[ci];
      size_t at = size_t(std::find(c.blocks.begin(), c.blocks.end(), meet) - c.blocks.begin());
      if (heads[size_t(meet)].prev == predOf(c, at) && rightful++ == 0) keep = ci;
    }
    if (rightful != 1) keep = cs.front();
    for (size_t ci : cs) {
      if (ci == keep) continue;
      Chain& c = (*chains)[ci];
      const Chain& o = (*chains)[keep];
      ChainFault f{};
      f.kind = ChainFaultKind::kCrossLink;
      f.record = c.pos + 1;
      f.field = c.field;
      f.block = meet;
      f.otherRecord = o.pos + 1;
      f.otherField = o.field;
      faults->push_back(f);
      c.faulty = true;
      c.blocks.erase(std::find(c.blocks.begin(), c.blocks.end(), meet), c.blocks.end());
    }
  }
}

// Chains left whole so far must also read as one value written in one go:
// each block names the one before it, every block but the last is full
// and the last holds something. A value overwritten in place and cut
// short breaks this.
void findTornChains(const std::vector<BlockHead>& heads, std::vector<Chain>* chains, std::vector<ChainFault>* faults) {
  for (Chain& c : *chains) {
    if (c.faulty) continue;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
      const BlockHead& h = heads[size_t(c.blocks[i])];
      const bool last = i + 1 == c.blocks.size();
      if (h.prev == predOf(c, i) && (last ? h.used > 0 : h.used == kBlockData)) continue;
      ChainFault f{};
      f.kind = ChainFaultKind::kTorn;
      f.record = c.pos + 1;
      f.field = c.field;
      f.block = c.blocks[i];
      faults->push_back(f);
      c.faulty = true;
      break;
    }
  }
}

// Blocks of a chain that are also on the free list.
void findFreedBlocks(const std::vector<Chain>& chains, const std::vector<bool>& free, std::vector<ChainFault>* faults) {
  for (const Chain& c : chains)
    for (int32_t b : c.blocks)
      if (free[size_t(b)]) {
        ChainFault f{};
        f.kind = ChainFaultKind::kOnFreeList;
        f.record = c.pos + 1;
        f.field = c.field;
        f.block = b;
        faults->push_back(f);
      }
}

// Walks the free list and every record's chains (chaincheck.h): the free
// list's faults come first in the report, then the records' in record
// order.
[[nodiscard]] int walk(Table& t, ChainReport* out, std::vector<Chain>* chains) {
  *out = ChainReport{};
  chains->clear();
  AuxFile* aux = t.aux();
  if (!aux) return kOk;
  int32_t blocks = 1, headerBlocks = 1, freeCount = 0, freeHead = 0;
  std::vector<BlockHead> heads;
  int rc = readHeads(*aux, &blocks, &headerBlocks, &freeCount, &freeHead, &heads);
  if (rc != kOk) return rc;
  out->blocks = blocks;
  out->headerBlocks = headerBlocks;
  out->headerFree = freeCount;

  std::vector<bool> free;
  out->freeBlocks = walkFreeList(heads, freeHead, &free, &out->faults);

  std::vector<ChainFault> recordFaults;
  rc = collectChains(t, heads, chains, &recordFaults);
  if (rc != kOk) return rc;
  settleCrossLinks(heads, chains, &recordFaults);
  findTornChains(heads, chains, &recordFaults);
  findFreedBlocks(*chains, free, &recordFaults);
  std::stable_sort(recordFaults.begin(), recordFaults.end(),
                   [](const ChainFault& a, const ChainFault& b) { return a.record < b.record; });
  out->faults.insert(out->faults.end(), recordFaults.begin(), recordFaults.end());

  std::vector<bool> used(size_t(blocks), false);
  for (const Chain& c : *chains)
    for (int32_t b : c.blocks) used[size_t(b)] = true;
  for (int32_t b = 1; b < blocks; ++b)
    if (!used[size_t(b)] && !free[size_t(b)]) ++out->unused;
  return kOk;
}

}  // namespace

bool valuesAtRisk(const ChainReport& r) {
  for (const ChainFault& f : r.faults)
    if (f.record != 0) return true;
  return false;
}

int checkChains(Table& t, ChainReport* out) {
  std::vector<Chain> chains;
  return walk(t, out, &chains);
}

int repairChains(Table& t, ChainReport* out) {
  int rc = t.lockWhole();
  if (rc != kOk) return rc;
  std::vector<Chain> chains;
  rc = walk(t, out, &chains);
  const bool headerOff = out->headerFree != out->freeBlocks || out->headerBlocks != out->blocks;
  if (rc == kOk && (!out->faults.empty() || out->unused > 0 || headerOff)) {
    std::vector<uint8_t> rec(size_t(t.recordSize()), 0);
    std::vector<bool> inUse(size_t(out->blocks), false);
    for (const Chain& c : chains) {
      if (!c.faulty) {
        for (int32_t b : c.blocks) inUse[size_t(b)] = true;
        continue;
      }
      const Field& f = t.fields()[size_t(c.field)];
      putI32(rec.data() + f.offset, 0);
      if ((rc = t.writeField(c.pos, f, rec.data())) != kOk) break;
      out->dropped.emplace_back(c.pos + 1, c.field);
    }
    if (rc == kOk) rc = t.aux()->rebuildFreeList(inUse);
    if (rc == kOk) out->freeListRebuilt = true;
  }
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(t.unlockWhole());
  return rc;
}

}  // namespace db
