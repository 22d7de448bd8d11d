// One open database file: validation on opening, share modes, locks,
// record and field access, and scans over all records in batches.
//
// A Table is owned by whoever opened it (the open-database list of the
// commands, or kdbtool); destroying it releases every lock and closes the
// files. Nothing here throws; every call returns an engine error code.
//
// The record count and next serial are always read from the file under the
// header lock (the record-lock call on offset 16), never taken from the
// header kept in memory, so several programs can append to one file.
//
// Share modes exist on this platform only as an agreement between openers:
// every opener holds shared locks on marker bytes past the whole-file lock
// range saying "open", "open for writing", "denies reading", "denies
// writing" (locks.h), sets its own and then checks the others' under a
// short gate; a clash fails with -12. An opener that denies reading (modes
// 2 and 4) is alone and takes no record locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/aux.h"
#include "db/format.h"
#include "db/locks.h"
#include "db/os.h"
#include "runtime/value.h"

namespace db {

class PackLog;

enum ShareMode : int { kShareAll = 1, kDenyRead = 2, kDenyWrite = 3, kDenyAll = 4 };

struct FieldDef {
  std::string name;  // GBK
  int32_t kind = 0;
  int32_t size = 0;
};

// Creates the database file `path` (taken as given: no extension added,
// see names.h) and its auxiliary file when a field needs one. `digest`
// non-null makes a protected file holding that digest. Returns 0, -3 for
// an empty name, -16..-20 for bad fields, -4 for a name with the auxiliary
// extension or a symbolic link at either file's name, the file error when
// a file cannot be made, -12 when another program has either file open
// (all of these before any file changes), -50 when the auxiliary file's
// name is that of another table's auxiliary file (whatever the new
// table's extension), -14 when the disk is full, -2 for another failed
// write, -50 for the auxiliary file (the half-made database file is then
// removed).
[[nodiscard]] int createDatabase(const std::string& path, const std::vector<FieldDef>& fields,
                                 const std::string* digest);

struct OpenOptions {
  bool readOnly = false;
  int shareMode = kShareAll;
  std::string password;       // GBK; "?" asks through the dialog seam
  bool checkPassword = true;  // false: the engine opens its own copy target
  // kdbtool repair: a count that leaves whole records behind it is raised
  // to the records the file holds, and an auxiliary file shorter than its
  // header says or whose free list reaches a live block is opened for
  // mending, instead of refusing the table.
  bool repairing = false;
};

// Why a table is refused with -48, told from its header and length alone
// (read-only, no locks), so that tools can say what the administrator
// should do.
enum class SizeFault {
  kNone,
  kPackUnfinished,  // a pack was stopped: the next writer (or repair) completes it, nothing is lost
  kCountDamaged,    // more whole records than the count: repair restores the count
  kShort,           // fewer records than the count: a writer cuts the count
};
[[nodiscard]] SizeFault sizeFaultOf(const std::string& path);

class Table {
 public:
  // Opens and validates `path` (an existing file, already resolved). The
  // order of checks and their codes are those of the file format: -22,
  // -78, -23, -48, -35/-36/-37, -12 for a share-mode clash, file errors.
  [[nodiscard]] static int open(const std::string& path, const OpenOptions& opt, std::unique_ptr<Table>* out);
  ~Table();

  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const Header& header() const { return header_; }  // as read when opened
  const std::vector<Field>& fields() const { return fields_; }
  int fieldIndex(std::string_view name) const;  // ignoring case; -1
  int32_t recordSize() const { return header_.recordSize; }
  int64_t headerSize() const { return headerSize_; }
  int64_t recordOffset(int64_t pos) const { return headerSize_ + pos * header_.recordSize; }
  bool readOnly() const { return readOnly_; }
  const std::string& path() const { return path_; }

  // Current record: -1 before the first, count past the last. Commands
  // that move it call setPosition(), which lets the next positional access
  // take the serial of the record found there as the record the caller
  // holds (see lockCurrent).
  int32_t position = 0;
  void setPosition(int32_t p) {
    position = p;
    held_ = false;
  }

  // Locks and reads (into rec, recordSize bytes) the record the caller's
  // position stands for. The first access after a move takes that record's
  // serial; later ones check it: a record another program moved (a pack)
  // is followed to its new place (position follows too), one that is gone
  // gives -44, and with `forWrite` so does one another program has marked
  // deleted since. A pack cut short is completed first (-48 read-only).
  // -60 for a position before the first record or past the last. On
  // success the record stays locked at *at; the caller unlocks it.
  [[nodiscard]] int lockCurrent(uint8_t* rec, bool forWrite, int32_t* at);
  // The record at the position now carries `header` (this program marked
  // or unmarked it).
  void heldHeaderChanged(int32_t header) {
    if (held_ && heldPos_ == position) heldSerial_ = header;
  }
  // The serial of the record the caller holds (negated when this program
  // marked it deleted); 0 when no record has been accessed since the last
  // move.
  int32_t heldSerial() const { return held_ && heldPos_ == position ? heldSerial_ : 0; }
  // Makes the record with `serial` the one the caller holds, looked for
  // first at `pos` (where a list saw it): the next access checks it by its
  // serial as any held record, so it is found where another program's
  // pack moved it, and gives -44 when it is gone.
  void holdSerial(int32_t pos, int32_t serial) {
    position = heldPos_ = pos < 0 ? 0 : pos;
    held_ = true;
    heldSerial_ = serial;
  }

  // After an I/O error (the folder dropped): closes the files, which
  // drops every lock this handle holds, so no lock outlives the failure.
  // Every later access fails with -11 until reopen() succeeds. The fields,
  // the position and the record held stay.
  void drop();
  bool dropped() const { return dropped_; }

  // Whether this handle has written its file since the last noteBumped()
  // (the engine call that ends then advances the table's change counter,
  // db/changes.h).
  // An append on its own needs no mark: it moves the table's count and
  // next serial, which every reader compares before it uses a copy, so the
  // writes of appends (appendWrites_) do not count here.
  bool wroteSinceBump() const { return file_ && file_->writesMade() - bumpedAt_ > appendWrites_; }
  void noteBumped() {
    bumpedAt_ = file_ ? file_->writesMade() : 0;
    appendWrites_ = 0;
  }
  // Whether the kept copy holds records this handle appended and waits
  // for the mark it had (*expect) to be found unchanged when the new mark
  // is written.
  bool copyAwaitsMark(uint64_t* expect) const {
    *expect = copy_.change;
    return copy_.valid && copy_.awaitingMark;
  }
  // The table's new mark was written: `unchanged` when the mark found
  // under the slot's lock was the one the copy had; the copy is then the
  // table as of `mark`, else it is dropped.
  void markSettled(bool unchanged, uint64_t mark) {
    if (!copy_.awaitingMark) return;
    if (unchanged) {
      copy_.change = mark;
      copy_.awaitingMark = false;
    } else {
      copy_ = Copy{};
    }
  }
  // A dropped table opened again as it was first opened. 0 (also when not
  // dropped), the open's code, or -22 when the file now has other fields.
  // The held record is checked by its serial at the next access as ever.
  [[nodiscard]] int reopen();

  // Set by an open with repairing: the count the file had, when it was
  // raised; -1 otherwise.
  int32_t restoredFromCount() const { return restoredFrom_; }

  // Count (and next serial) from offset 16 under the header lock; -65
  // for a short read, lock errors as in locks.h.
  [[nodiscard]] int readCount(int32_t* count);
  // Moves the next serial on by one under the header lock (no record takes
  // the skipped one): a change every kept copy of the table notices, for
  // when its change mark cannot be written.
  [[nodiscard]] int advanceSerial();
  [[nodiscard]] int readCountSerial(int32_t* count, int32_t* serial);
  [[nodiscard]] int writeCountSerial(int32_t count, const int32_t* serial);

  [[nodiscard]] int lockRecord(int32_t pos);
  [[nodiscard]] int unlockRecord(int32_t pos);
  [[nodiscard]] int lockWhole();
  [[nodiscard]] int unlockWhole();
  [[nodiscard]] int lockHeader();
  [[nodiscard]] int unlockHeader();

  // File length; 0 on failure.
  int64_t fileLength();

  // The record at `pos` into buf (recordSize bytes); -62 when short.
  [[nodiscard]] int readRecord(int32_t pos, uint8_t* buf);
  // Writes the record from offset 4 (the header stays) / only the header,
  // the caller holding the record's lock. A write that reports failure but
  // is found in the file as written (its reply lost) is written.
  [[nodiscard]] int writeRecordBody(int32_t pos, const uint8_t* rec);
  [[nodiscard]] int writeRecordHeader(int32_t pos, int32_t value);
  // Writes only field f of the record image (repairs that must leave the
  // rest of a record alone).
  [[nodiscard]] int writeField(int32_t pos, const Field& f, const uint8_t* rec);

  // Field values of record images of this table (field_values.h holds
  // the encoding of each kind).
  //
  // Value of field f of a record image (heap text / byte-set for the
  // caller). On failure the result is the zero of the field's kind and
  // the code is returned.
  [[nodiscard]] int loadValue(const Field& f, const uint8_t* rec, rt::Arg* out);
  // True when a text field of the record image holds exactly `gbk`.
  bool textEquals(const Field& f, const uint8_t* rec, std::string_view gbk) const;
  // 0 when `v` may be written into f, else -72.
  [[nodiscard]] static int checkValue(const Field& f, const rt::Arg& v);
  // Writes a checked value into the record image; a memo or byte-set
  // value goes into a new chain and the image names it (the old chain is
  // left whole: settleChains decides). -14 disk full, -59 for the chain.
  [[nodiscard]] int storeValue(const Field& f, const rt::Arg& v, uint8_t* rec);
  // After a record image `after` made from `before` by storeValue: when it
  // was `written`, releases the chains `before` named and `after` no
  // longer does; otherwise releases the new ones. A crash in between only
  // loses blocks, never hands a block of a live value out again.
  void settleChains(const uint8_t* before, const uint8_t* after, bool written);
  // Releases every chain of a record image.
  void releaseChains(const uint8_t* rec);
  // Copies chain field `f` of a record image of this table into `dst`'s
  // field `df`, setting the block number in `dstRec`.
  [[nodiscard]] int copyChain(const Field& f, const uint8_t* rec, Table& dst, const Field& df, uint8_t* dstRec);

  // Appends a record from per-field values (null = none); it becomes
  // current. With `batched` (the engine's append batch, engine.h) the
  // handle keeps the header lock after the append, so that the next
  // batched append knows the count and serial without reading them, and
  // a table without memo or byte-set fields gathers the records in memory
  // (written out whenever ~1 MB has gathered, and the count after the last
  // of them at endBatch(): the batch is all or nothing for every opener).
  // The record is then only taken: a batched append reports a failure of
  // the write it made, if any. A table with memo or byte-set fields counts
  // each record as it is written.
  [[nodiscard]] int append(const rt::Arg* const* values, size_t n, bool batched = false);
  // Writes out the gathered records and then the count, and releases the
  // header lock the batch kept. 0 or the write's code; on failure none of
  // the batch's records is in the table (its count is the one before the
  // batch). Without a batch open on this handle: 0, nothing done.
  [[nodiscard]] int endBatch();
  bool inBatch() const { return batch_.held; }
  // Rewrites the given fields of the current record (-60 when there is
  // none inside the file).
  [[nodiscard]] int modify(const rt::Arg* const* values, size_t n);

  // Scans the records from `start` to the count in batches of
  // 163840 / record size records. `fn(pos, rec)` runs with each record in
  // the buffer (also reachable as scanRecord() for field reads); it
  // returns 0 to go on, 1 to stop, a negative code to fail. With `whole`
  // the scan runs under the whole-file lock; without, each batch's records
  // are locked while they are examined. Returns 0, 1 when stopped, or the
  // code.
  template <typename F>
  [[nodiscard]] int scan(int32_t start, bool whole, F&& fn) {
    return scanImpl(
        start, whole, [](void* c, int32_t p, uint8_t* r) { return (*static_cast<F*>(c))(p, r); }, &fn);
  }
  // The same for a step that only reads the records (never writes this
  // table): when the copy kept of the last whole scan is still the table,
  // it is served without taking any lock (copyStillCurrent).
  template <typename F>
  [[nodiscard]] int scanToRead(int32_t start, bool whole, F&& fn) {
    return scanImpl(
        start, whole, [](void* c, int32_t p, uint8_t* r) { return (*static_cast<F*>(c))(p, r); }, &fn, true);
  }
  const uint8_t* scanRecord() const { return scanRecord_; }
  // Field reads see `rec` as the record being stepped (the record a change
  // holds under its lock) until the returned value is put back.
  const uint8_t* stepOn(const uint8_t* rec) { return std::exchange(scanRecord_, rec); }

  // Removes the records marked deleted, in place (pack.cpp): a pack cut
  // short by a crash is finished by the next opener, or by any opener's
  // next count read.
  [[nodiscard]] int pack();
  [[nodiscard]] int zap();

  // Rewrites the whole record area of a freshly made file (CopyRecords):
  // `n` record images at position `pos`.
  [[nodiscard]] int writeRecords(int32_t pos, const uint8_t* recs, size_t n);

  AuxFile* aux() { return aux_.get(); }

 private:
  Table() = default;
  using ScanFn = int (*)(void*, int32_t, uint8_t*);
  [[nodiscard]] int scanImpl(int32_t start, bool whole, ScanFn fn, void* ctx, bool readsOnly = false);
  [[nodiscard]] int serveCopy(int32_t count, bool ownRecords, ScanFn fn, void* ctx);
  bool copyStillCurrent();
  [[nodiscard]] int joinShare(int mode);
  [[nodiscard]] int validate(const OpenOptions& opt);
  // pack.cpp
  [[nodiscard]] int completePack();
  [[nodiscard]] int finishInterruptedPack();
  void discardStalePackLog();
  bool packLeftTail();
  int32_t getCountAt16();
  int32_t getSerialAt20();
  [[nodiscard]] int syncTable();
  [[nodiscard]] int packFrom(PackLog& log, int32_t readPos, int32_t writePos, int32_t count, int32_t serial);
  // After a write that reported failure: whether the file holds `bytes` at
  // `offset` all the same.
  bool landed(int64_t offset, const uint8_t* bytes, size_t n);
  // Writes the gathered records; with `last`, the batch's count after them.
  [[nodiscard]] int flushBatch(bool last);

  std::unique_ptr<os::File> file_;
  std::unique_ptr<AuxFile> aux_;
  LockSet locks_;
  Header header_;
  std::vector<Field> fields_;
  int64_t headerSize_ = 0;
  bool readOnly_ = false;
  bool hasChains_ = false;
  std::string path_;
  const uint8_t* scanRecord_ = nullptr;
  bool packing_ = false;
  // The record the caller holds: its position and its header (serial,
  // negated when marked deleted) when it was first reached there.
  bool held_ = false;
  int32_t heldPos_ = 0, heldSerial_ = 0;
  int32_t restoredFrom_ = -1;
  OpenOptions options_;  // as first opened, for reopen()
  bool dropped_ = false;
  // An append batch on this handle (append(..., true)): while `held`, the
  // header lock is kept and `count`/`serial` are the table's, the records
  // from `from` on waiting in `records` (not in the file yet).
  struct Batch {
    bool held = false;
    int32_t count = 0, serial = 0, from = 0;
    int32_t base = 0;        // the table's count before the batch
    bool uncounted = false;  // records written or gathered whose count is not
    std::vector<uint8_t> records;
  };
  Batch batch_;
  static constexpr size_t kBatchFlushBytes = 1 << 20;
  uint64_t bumpedAt_ = 0;
  // The header lock's depth on this handle, and the count and next serial
  // known while it is held (readCountSerial).
  int headerDepth_ = 0;
  struct HeldCount {
    bool valid = false;
    int32_t count = 0, serial = 0;
  } held_count_;
  // The record read last under a record lock, while that lock (or the
  // whole file) stays held and this handle has not written: nobody else
  // can have changed it, so a nested access takes it without a read.
  struct HeldImage {
    bool valid = false;
    int32_t pos = 0;
    uint64_t writes = 0;
    std::vector<uint8_t> rec;
  } heldImage_;
  // The count and next serial this handle's own last single append left
  // (valid once one has): a table found so again ends at that record.
  HeldCount ownEnd_;
  uint64_t appendWrites_ = 0;  // writes of single appends since bumpedAt_
  // The records of the last whole scan, kept while nothing has changed:
  // the table's count, next serial, length and change counter as they were
  // then, and this handle's writes (a scan that wrote, or any later write
  // of ours, means the copy is not the file any more).
  // A copy this handle extended with a record it appended itself, or
  // patched with one it wrote in place, waits for its mark (`awaitingMark`, not served): it is taken again only if
  // the table's mark was still `change` when this handle gave it its own
  // new one (markSettled), i.e. nobody else changed the table meanwhile.
  struct Copy {
    bool valid = false;
    bool awaitingMark = false;
    int32_t count = 0, serial = 0;
    int64_t length = 0;
    uint64_t change = 0, writes = 0;
    uint64_t epoch = 0;  // changeEpoch() when its mark was read
    // Shared with a scan being served from them: changed only once this
    // copy has them to itself (ownRecords).
    std::shared_ptr<std::vector<uint8_t>> records;
    void ownRecords() {
      if (records.use_count() > 1) records = std::make_shared<std::vector<uint8_t>>(*records);
    }
  } copy_;
  // Adds a record this handle appended at `pos` (under the header lock,
  // the count and serial read then being `count`/`serial`, the file
  // `length` long before, `writes` this handle's writes before) to the
  // kept copy when the copy was exactly the table then.
  void extendCopy(int32_t count, int32_t serial, int64_t length, uint64_t writes, const uint8_t* rec);
  // Puts a record this handle wrote in place at `pos` (its lock held,
  // `writesBefore` this handle's writes before) into the kept copy when
  // the copy was the table as this handle last saw it; like an own append
  // the copy then waits for its mark.
  void patchCopy(int32_t pos, uint64_t writesBefore, const uint8_t* rec);
  // Tables larger than this are read each time (a kept copy would cost
  // more memory than the reads it saves).
  static constexpr int64_t kKeptCopyBytes = 32 << 20;
  [[nodiscard]] int locate(int32_t serial, int32_t* pos);
  [[nodiscard]] int restoreCount(int32_t whole);
  // True when whole records stand behind `count` in a file of `len` bytes
  // (a damaged count: see validate).
  bool countLeavesRecords(int64_t len, int32_t count, int32_t nextSerial);
};

}  // namespace db
