// Packing a table in place, so that a crash at any moment loses no record
// and doubles none.
//
// Records are moved down over the deleted ones, batch by batch. The table
// file itself is never renamed or replaced (other workstations keep it
// open), so the progress of the moves is kept in a redo record beside the
// table, "<table file>.pack":
//
//   offset  size  content
//   0       64    slot A } the slot with the higher sequence number and a
//   64      64    slot B } good check word is the current one
//   128     ...   the image of one batch: records about to be written
//
//   slot:   0 "WKDP", 4 sequence, 8 record size, 12 count before the pack,
//           16 next serial, 20 read position r, 24 write position w,
//           28 image position, 32 image record count (0 = none),
//           36 check word (FNV-1a of bytes 0..35), 40 zero
//
// A slot says: records [0, w) are final, records [r, count) are still as
// they were before the pack; the ones between are garbage. When an image
// is named, its records belong at the image position and must be written
// there first. Moves only go down, so a batch's kept records are written
// straight into the gap when they fit below the recorded r; otherwise
// (they would overwrite records of their own batch) they go through the
// image.
//
// While a pack runs, the next serial at offset 20 of the table is stored
// negated: a valid table never has one below 1, so every opener and every
// count read (readCountSerial) notices a pack that was cut short and
// finishes it from the redo record before it goes on. A running pack holds
// the whole-file lock, so only an interrupted one is ever seen that way.
// The count and the real serial are written together once every record is
// in place; the tail is cut and the redo record removed after that.
//
// The memo and byte-set chains of dropped records are released only at
// the very end, in one rewrite of the free list: if a crash comes first,
// their blocks are lost (never handed out twice).
#include <algorithm>
#include <cstring>
#include <vector>

#include "db/errors.h"
#include "db/names.h"
#include "db/table.h"

namespace db {

struct PackState {
  int32_t recordSize = 0, count = 0, serial = 0, readPos = 0, writePos = 0, imageAt = 0, imageCount = 0;
};

class PackLog {
 public:
  static constexpr int kSlot = 64, kImageAt = 128;

  // Starts a new redo record at `path` holding `s`, with room for an image
  // of `imageBytes` taken now: a full disk stops the pack here, before
  // anything in the table has moved (-14).
  [[nodiscard]] int create(const std::string& path, const PackState& s, size_t imageBytes) {
    path_ = path;
    seq_ = 0;
    int rc = os::openFile(path, true, true, &f_);
    if (rc != kOk) return rc;
    if ((rc = f_->truncate(0)) != kOk) return writeFailure(rc, kRecordWriteFailed);
    std::vector<uint8_t> room(imageBytes, 0);
    if ((rc = f_->write(kImageAt, room.data(), room.size())) != kOk) return writeFailure(rc, kRecordWriteFailed);
    if ((rc = record(s)) != kOk) return rc;
    // The redo record itself must survive a power cut before the table
    // says a pack is under way.
    return os::syncDirOf(path) == kOk ? kOk : kRecordWriteFailed;
  }

  // Reads the current state of the redo record at `path`; -22 when there
  // is none or it cannot be read.
  [[nodiscard]] int load(const std::string& path, PackState* s) {
    path_ = path;
    if (os::openFile(path, true, false, &f_) != kOk) return kNotDatabase;
    uint8_t b[2 * kSlot];
    size_t got = 0;
    if (f_->read(0, b, sizeof b, &got) != kOk) return kNotDatabase;
    int best = -1;
    for (int i = 0; i < 2; ++i) {
      const uint8_t* p = b + i * kSlot;
      if (got < size_t((i + 1) * kSlot) || std::memcmp(p, "WKDP", 4) != 0 || uint32_t(getI32(p + 36)) != check(p))
        continue;
      if (best < 0 || getI32(p + 4) > seq_) {
        best = i;
        seq_ = getI32(p + 4);
      }
    }
    if (best < 0) return kNotDatabase;
    const uint8_t* p = b + best * kSlot;
    s->recordSize = getI32(p + 8);
    s->count = getI32(p + 12);
    s->serial = getI32(p + 16);
    s->readPos = getI32(p + 20);
    s->writePos = getI32(p + 24);
    s->imageAt = getI32(p + 28);
    s->imageCount = getI32(p + 32);
    return kOk;
  }

  // Writes `s` as the next state (into the older slot).
  [[nodiscard]] int record(const PackState& s) {
    uint8_t p[kSlot] = {};
    std::memcpy(p, "WKDP", 4);
    putI32(p + 4, ++seq_);
    putI32(p + 8, s.recordSize);
    putI32(p + 12, s.count);
    putI32(p + 16, s.serial);
    putI32(p + 20, s.readPos);
    putI32(p + 24, s.writePos);
    putI32(p + 28, s.imageAt);
    putI32(p + 32, s.imageCount);
    putI32(p + 36, int32_t(check(p)));
    // Durable before the table changes it allows (the caller has synced
    // the table changes it records).
    int rc = f_->write(int64_t(seq_ % 2) * kSlot, p, kSlot);
    if (rc == kOk) rc = f_->sync();
    return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
  }

  int writeImage(const uint8_t* recs, size_t bytes) {
    int rc = f_->write(kImageAt, recs, bytes);
    return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
  }
  int readImage(uint8_t* recs, size_t bytes) {
    size_t got = 0;
    return f_->read(kImageAt, recs, bytes, &got) == kOk && got == bytes ? kOk : kNotDatabase;
  }

  void remove() {
    f_.reset();
    // A redo record left behind is found stale and removed by the next
    // opener (discardStalePackLog).
    static_cast<void>(os::env().remove(path_));
  }

 private:
  static uint32_t check(const uint8_t* p) {
    uint32_t h = 2166136261u;
    for (int i = 0; i < 36; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
  }

  std::unique_ptr<os::File> f_;
  std::string path_;
  int32_t seq_ = 0;
};

int32_t Table::getSerialAt20() {
  uint8_t b[4];
  size_t got = 0;
  return file_->read(kOffSerial, b, 4, &got) == kOk && got == 4 ? getI32(b) : 0;
}

int Table::syncTable() {
  int rc = file_->sync();
  return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
}

int32_t Table::getCountAt16() {
  uint8_t b[4];
  size_t got = 0;
  return file_->read(kOffCount, b, 4, &got) == kOk && got == 4 ? getI32(b) : 0;
}

int Table::pack() {
  int rc = lockWhole();
  if (rc != kOk) return rc;
  int32_t count = 0, serial = 1;
  rc = readCountSerial(&count, &serial);
  if (count < 0) count = 0;
  if (serial < 1) serial = 1;
  const int64_t rs = header_.recordSize;
  const int64_t perBatch = std::max<int64_t>(1, kScanBatchBytes / rs);
  // The first record marked deleted; nothing before it moves.
  int64_t first = -1;
  if (rc == kOk && count > 0) {
    std::vector<uint8_t> buf(size_t(std::min<int64_t>(perBatch, count) * rs));
    for (int64_t pos = 0; pos < count && first < 0;) {
      int64_t n = std::min<int64_t>(perBatch, count - pos);
      size_t got = 0;
      if (file_->read(recordOffset(pos), buf.data(), size_t(n * rs), &got) != kOk || got < size_t(n * rs)) {
        rc = kRecordReadFailed;
        break;
      }
      for (int64_t i = 0; i < n; ++i)
        if (getI32(buf.data() + i * rs) < 0) {
          first = pos + i;
          break;
        }
      pos += n;
    }
  }
  if (rc == kOk && first >= 0) {
    PackLog log;
    PackState s;
    s.recordSize = header_.recordSize;
    s.count = count;
    s.serial = serial;
    s.readPos = s.writePos = int32_t(first);
    rc = log.create(packLogNameFor(path_), s, size_t(std::min<int64_t>(perBatch, count) * rs));
    // From here on every opener knows a pack is under way.
    int32_t flagged = -serial;
    if (rc == kOk) rc = writeCountSerial(count, &flagged);
    if (rc == kOk) rc = syncTable();
    if (rc != kOk && getSerialAt20() == serial) log.remove();  // nothing moved: no pack at all
    if (rc == kOk) rc = packFrom(log, s.readPos, s.writePos, count, serial);
  }
  if (rc == kOk) setPosition(0);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockWhole());
  return rc;
}

int Table::packFrom(PackLog& log, int32_t readPos, int32_t writePos, int32_t count, int32_t serial) {
  packing_ = true;
  const int64_t rs = header_.recordSize;
  const int64_t perBatch = std::max<int64_t>(1, kScanBatchBytes / rs);
  PackState s;
  s.recordSize = header_.recordSize;
  s.count = count;
  s.serial = serial;
  std::vector<uint8_t> buf(size_t(std::min<int64_t>(perBatch, std::max<int64_t>(1, count - readPos)) * rs));
  std::vector<int32_t> droppedChains;
  int rc = kOk;
  int64_t recorded = readPos, w = writePos;
  for (int64_t pos = readPos; pos < count && rc == kOk;) {
    int64_t n = std::min<int64_t>(perBatch, count - pos);
    size_t got = 0;
    if (file_->read(recordOffset(pos), buf.data(), size_t(n * rs), &got) != kOk || got < size_t(n * rs)) {
      rc = kRecordReadFailed;
      break;
    }
    int64_t out = 0;
    for (int64_t i = 0; i < n; ++i) {
      uint8_t* rec = buf.data() + i * rs;
      if (getI32(rec) < 0) {
        for (const Field& f : fields_)
          if (isChainKind(f.kind) && getI32(rec + f.offset) != 0) droppedChains.push_back(getI32(rec + f.offset));
        continue;
      }
      if (out != i) std::memmove(buf.data() + out * rs, rec, size_t(rs));
      ++out;
    }
    if (out > 0 && w + out > recorded) {
      s.writePos = int32_t(w);
      s.imageCount = 0;
      if (w + out <= pos) {
        // They fit into the gap: the redo record only has to say that
        // everything from this batch on is still untouched.
        s.readPos = int32_t(pos);
        rc = syncTable();
        if (rc == kOk) rc = log.record(s);
        recorded = pos;
      } else {
        // They would overwrite records of this very batch: through the
        // image, so that a crash halfway through the write can be redone.
        s.readPos = int32_t(pos + n);
        s.writePos = int32_t(w + out);
        s.imageAt = int32_t(w);
        s.imageCount = int32_t(out);
        rc = syncTable();
        if (rc == kOk) rc = log.writeImage(buf.data(), size_t(out * rs));
        if (rc == kOk) rc = log.record(s);
        if (rc == kOk) rc = writeRecords(int32_t(w), buf.data(), size_t(out));
        s.imageAt = s.imageCount = 0;
        if (rc == kOk) rc = syncTable();
        if (rc == kOk) rc = log.record(s);
        recorded = pos + n;
        w += out;
        pos += n;
        continue;
      }
    }
    if (rc == kOk && out > 0) rc = writeRecords(int32_t(w), buf.data(), size_t(out));
    w += out;
    pos += n;
  }
  if (rc == kOk) {
    // Every record is in place: the count and the real serial go in with
    // one write, which ends the pack for every opener. The redo record
    // says so first, so that a write of the count cut short is finished
    // too.
    s.readPos = count;
    s.writePos = int32_t(w);
    s.imageAt = s.imageCount = 0;
    rc = syncTable();
    if (rc == kOk) rc = log.record(s);
    if (rc == kOk) rc = writeCountSerial(int32_t(w), &serial);
    if (rc == kOk) rc = syncTable();
    if (rc == kOk && file_->truncate(recordOffset(w)) != kOk) rc = kRecordWriteFailed;
    // The cut is on the disk before the redo record that explains it goes.
    if (rc == kOk) rc = syncTable();
    if (rc == kOk) {
      log.remove();
      // Chains whose release fails are lost blocks only, found again by kdbtool repair.
      if (aux_ && !droppedChains.empty()) static_cast<void>(aux_->release(droppedChains));
    }
  }
  packing_ = false;
  return rc;
}

int Table::completePack() {
  // Under the whole-file lock, with the serial at offset 20 negated.
  uint8_t b[8];
  size_t got = 0;
  if (file_->read(kOffCount, b, 8, &got) != kOk || got < 8) return kCountReadFailed;
  const int32_t count = getI32(b), flagged = getI32(b + 4);
  PackLog log;
  PackState s;
  if (log.load(packLogNameFor(path_), &s) != kOk) return kNotDatabase;
  // The redo record must be this table's, of this very pack (whose final
  // count may already be in).
  const bool countIn = s.readPos == s.count && count == s.writePos;
  if (s.recordSize != header_.recordSize || (s.count != count && !countIn) || s.serial < 1 || -s.serial != flagged ||
      s.writePos < 0 || s.writePos > s.readPos || s.readPos > s.count || s.imageCount < 0 || s.imageAt < 0 ||
      int64_t(s.imageAt) + s.imageCount > s.readPos)
    return kNotDatabase;
  if (s.imageCount > 0) {
    std::vector<uint8_t> image(size_t(s.imageCount) * size_t(s.recordSize));
    if (log.readImage(image.data(), image.size()) != kOk) return kNotDatabase;
    int rc = writeRecords(s.imageAt, image.data(), size_t(s.imageCount));
    if (rc == kOk) rc = syncTable();
    if (rc != kOk) return rc;
    s.imageCount = s.imageAt = 0;
    if ((rc = log.record(s)) != kOk) return rc;
  }
  return packFrom(log, s.readPos, s.writePos, s.count, s.serial);
}

int Table::finishInterruptedPack() {
  if (readOnly_) return kFileSizeWrong;
  int rc = locks_.lockWhole(headerWaitMs());
  if (rc != kOk) return rc;
  uint8_t b[8];
  size_t got = 0;
  rc = file_->read(kOffCount, b, 8, &got) == kOk && got == 8 ? kOk : kCountReadFailed;
  // Someone else may have finished it while we waited for the lock.
  if (rc == kOk && getI32(b + 4) < 0) rc = completePack();
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(locks_.unlockWhole());
  return rc;
}

bool Table::packLeftTail() {
  PackLog log;
  PackState s;
  if (!os::env().exists(packLogNameFor(path_)) || log.load(packLogNameFor(path_), &s) != kOk) return false;
  return s.recordSize == header_.recordSize && s.readPos == s.count && s.writePos == header_.count &&
         s.serial == header_.nextSerial;
}

void Table::discardStalePackLog() {
  // Left by a crash after the pack had finished, or before it began.
  std::string log = packLogNameFor(path_);
  if (os::env().exists(log)) static_cast<void>(os::env().remove(log));  // else the next opener tries again
}

}  // namespace db
