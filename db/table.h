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
// (all of these before any file changes), -2 for a failed write, -50 for
// the auxiliary file (the half-made database file is then removed).
int createDatabase(const std::string& path, const std::vector<FieldDef>& fields,
                   const std::string* digest);

struct OpenOptions {
  bool readOnly = false;
  int shareMode = kShareAll;
  std::string password;        // GBK; "?" asks through the dialog seam
  bool checkPassword = true;   // false: the engine opens its own copy target
};

class Table {
 public:
  // Opens and validates `path` (an existing file, already resolved). The
  // order of checks and their codes are those of the file format: -22,
  // -78, -23, -48, -35/-36/-37, -12 for a share-mode clash, file errors.
  static int open(const std::string& path, const OpenOptions& opt, std::unique_ptr<Table>* out);
  ~Table();

  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const Header& header() const { return header_; }  // as read when opened
  const std::vector<Field>& fields() const { return fields_; }
  int fieldIndex(std::string_view name) const;      // ignoring case; -1
  int32_t recordSize() const { return header_.recordSize; }
  int64_t headerSize() const { return headerSize_; }
  int64_t recordOffset(int64_t pos) const { return headerSize_ + pos * header_.recordSize; }
  bool readOnly() const { return readOnly_; }
  const std::string& path() const { return path_; }

  // Current record: -1 before the first, count past the last.
  int32_t position = 0;

  // Count (and next serial) from offset 16 under the header lock; -65
  // for a short read, lock errors as in locks.h.
  int readCount(int32_t* count);
  int readCountSerial(int32_t* count, int32_t* serial);
  int writeCountSerial(int32_t count, const int32_t* serial);

  int lockRecord(int32_t pos);
  int unlockRecord(int32_t pos);
  int lockWhole();
  int unlockWhole();
  int lockHeader();
  int unlockHeader();

  // File length; 0 on failure.
  int64_t fileLength();

  // The record at `pos` into buf (recordSize bytes); -62 when short.
  int readRecord(int32_t pos, uint8_t* buf);
  // Writes the record from offset 4 (the header stays) / only the header.
  int writeRecordBody(int32_t pos, const uint8_t* rec);
  int writeRecordHeader(int32_t pos, int32_t value);
  // Writes only field f of the record image (repairs that must leave the
  // rest of a record alone).
  int writeField(int32_t pos, const Field& f, const uint8_t* rec);

  // Value of field f of a record image (heap text / byte-set for the
  // caller). On failure the result is the zero of the field's kind and
  // the code is returned.
  int loadValue(const Field& f, const uint8_t* rec, rt::Arg* out);
  // True when a text field of the record image holds exactly `gbk`.
  bool textEquals(const Field& f, const uint8_t* rec, std::string_view gbk) const;
  // 0 when `v` may be written into f, else -72.
  static int checkValue(const Field& f, const rt::Arg& v);
  // Writes a checked value into the record image (chains into the
  // auxiliary file, reusing the field's old chain). -59 for the chain.
  int storeValue(const Field& f, const rt::Arg& v, uint8_t* rec);
  // Releases every chain of a record image.
  void releaseChains(const uint8_t* rec);
  // Copies chain field `f` of a record image of this table into `dst`'s
  // field `df`, setting the block number in `dstRec`.
  int copyChain(const Field& f, const uint8_t* rec, Table& dst, const Field& df, uint8_t* dstRec);

  // Appends a record from per-field values (null = none); it becomes
  // current.
  int append(const rt::Arg* const* values, size_t n);
  // Rewrites the given fields of the current record (-60 when there is
  // none inside the file).
  int modify(const rt::Arg* const* values, size_t n);

  // Scans the records from `start` to the count in batches of
  // 163840 / record size records. `fn(pos, rec)` runs with each record in
  // the buffer (also reachable as scanRecord() for field reads); it
  // returns 0 to go on, 1 to stop, a negative code to fail. With `whole`
  // the scan runs under the whole-file lock; without, each batch's records
  // are locked while they are examined. Returns 0, 1 when stopped, or the
  // code.
  template <typename F>
  int scan(int32_t start, bool whole, F&& fn) {
    return scanImpl(start, whole, [](void* c, int32_t p, uint8_t* r) { return (*static_cast<F*>(c))(p, r); }, &fn);
  }
  const uint8_t* scanRecord() const { return scanRecord_; }

  // Removes the records marked deleted, in place (pack.cpp): a pack cut
  // short by a crash is finished by the next opener, or by any opener's
  // next count read.
  int pack();
  int zap();

  // Rewrites the whole record area of a freshly made file (CopyRecords):
  // `n` record images at position `pos`.
  int writeRecords(int32_t pos, const uint8_t* recs, size_t n);

  AuxFile* aux() { return aux_.get(); }

 private:
  Table() = default;
  using ScanFn = int (*)(void*, int32_t, uint8_t*);
  int scanImpl(int32_t start, bool whole, ScanFn fn, void* ctx);
  int joinShare(int mode);
  int validate(const OpenOptions& opt);
  // pack.cpp
  int completePack();
  int finishInterruptedPack();
  void discardStalePackLog();
  int32_t getCountAt16();
  int packFrom(PackLog& log, int32_t readPos, int32_t writePos, int32_t count, int32_t serial);

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
};


}  // namespace db
