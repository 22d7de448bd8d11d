#include "db/table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <unistd.h>

#include "db/changes.h"
#include "db/chaincheck.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/field_values.h"
#include "db/names.h"
#include "runtime/clock.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace db {
namespace {

// Opens (making it when missing) a file that create is about to fill, and
// holds its open gate: -12 when another program has it open, -4 for a
// symbolic link at the name.
[[nodiscard]] int claimForCreate(const std::string& path, std::unique_ptr<os::File>* out) {
  int rc = os::openFile(path, true, true, out);
  if (rc != kOk) return rc;
  if (takeGate(**out) != kOk) {
    out->reset();
    return kSharingViolation;
  }
  int probe = kOk;
  bool othersHaveIt = markerHeld(**out, kMarkOpen, &probe);
  if (probe != kOk || othersHaveIt) {
    releaseGate(**out);
    out->reset();
    return kSharingViolation;
  }
  return kOk;
}

// True when a table file other than `path` in the same folder has
// `auxPath` as its auxiliary file.
bool auxBelongsToAnother(const std::string& path, const std::string& auxPath) {
  os::Env& env = os::env();
  if (!env.exists(auxPath)) return false;
  size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<std::string> names;
  if (env.listDir(dir.empty() ? "." : dir, &names) != kOk) return true;  // cannot tell: refused
  for (const std::string& n : names) {
    if (equalsNoCase(n, base) || hasAuxExtension(n) || !equalsNoCase(auxNameFor(dir + n), auxPath)) continue;
    std::unique_ptr<os::File> f;
    if (env.open(dir + n, false, false, &f) != kOk) continue;
    uint8_t magic[4];
    size_t got = 0;
    if (f->read(0, magic, 4, &got) == kOk && got == 4 &&
        (std::memcmp(magic, kMagicPlain, 4) == 0 || std::memcmp(magic, kMagicProtected, 4) == 0))
      return true;
  }
  return false;
}

[[nodiscard]] int askPassword(const std::string& stored) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string prompt;
    if (attempt == 0) {
      prompt = GBK("请输入数据库访问密码：");
    } else {
      char buf[128];
      std::snprintf(buf, sizeof buf, GBK("密码错误，您还有 %d 次重新输入的机会。"), 3 - attempt);
      prompt = buf;
    }
    std::string value;
    if (!rt::dialogs().askText(prompt, GBK("数据库访问密码"), &value, true)) return kBadPassword;
    if (digestMatches(stored, value)) return kOk;
  }
  return kBadPassword;
}

}  // namespace

// --- create -----------------------------------------------------------------

namespace {

// The fields of a new table from their definitions (up to the first
// without a name), checked and laid out: -16..-20 for bad fields, -2 when
// the record or the field list would not fit the file's int32 sizes.
[[nodiscard]] int fieldsForCreate(const std::vector<FieldDef>& defs, std::vector<Field>* fields, int32_t* recordSize,
                                  bool* chains) {
  for (const FieldDef& s : defs) {
    if (s.name.empty()) break;
    Field f;
    f.name = s.name;
    f.kind = s.kind;
    f.size = s.size;
    fields->push_back(f);
  }
  if (fields->empty()) return kNoFields;
  *chains = false;
  for (const Field& f : *fields) {
    if (!isValidName(f.name, kMaxNameLength)) return kBadFieldName;
    if (f.kind < kFByte || f.kind > kFMemo) return kBadFieldKind;
    if (f.kind == kFText && (f.size < 1 || f.size > kMaxTextSize)) return kBadFieldSize;
    *chains = *chains || isChainKind(f.kind);
  }
  for (size_t i = 0; i < fields->size(); ++i)
    for (size_t j = i + 1; j < fields->size(); ++j)
      if (equalsNoCase((*fields)[i].name, (*fields)[j].name)) return kDuplicateField;
  int64_t size = kRecordHeader;
  for (const Field& f : *fields) size += fieldWidth(f.kind, f.size);
  if (size > INT32_MAX || fields->size() > size_t(INT32_MAX / kDescriptorSize)) return kCreateFailed;
  layoutFields(fields);
  *recordSize = int32_t(size);
  return kOk;
}

// The names a create may not write to, refused before the first byte of
// any file changes: a name with the auxiliary extension, a symbolic link
// at either file's name (-4), and another table's auxiliary file (-50).
// *auxPath is the auxiliary file's name (the existing file's, found
// ignoring case) when the table has chain fields.
[[nodiscard]] int refusedNames(const std::string& path, bool chains, std::string* auxPath) {
  if (hasAuxExtension(path)) return kBadPath;
  os::Env& env = os::env();
  if (chains) {
    *auxPath = auxNameFor(path);
    std::string existing;
    if (resolveExisting(*auxPath, &existing)) *auxPath = existing;
  }
  if (env.isLink(path) || (chains && env.isLink(*auxPath))) return kBadPath;
  // Another table's auxiliary file is never taken over, open or not and
  // whatever the new table's extension: "y.abc" would otherwise replace
  // the memo values of table "y".
  if (chains && auxBelongsToAnother(path, *auxPath)) return kAuxCreateFailed;
  return kOk;
}

// The header and field descriptors of a new table, created now.
std::vector<uint8_t> headerImage(const std::vector<Field>& fields, int32_t recordSize, const std::string* digest,
                                 double* created) {
  Header h;
  h.protectedFile = digest != nullptr;
  if (digest) h.digest = *digest;
  h.created = *created = rt::clockNow();
  h.recordSize = recordSize;
  std::vector<uint8_t> bytes(size_t(kDescriptorsAt) + fields.size() * kDescriptorSize);
  encodeHeader(h, bytes.data());
  putI32(bytes.data() + kOffFieldCount, int32_t(fields.size()));
  for (size_t i = 0; i < fields.size(); ++i)
    encodeDescriptor(fields[i], bytes.data() + kDescriptorsAt + i * kDescriptorSize);
  return bytes;
}

}  // namespace

// Checks the fields and the names, claims the files, writes the new table
// under a name of its own and puts it in place.
int createDatabase(const std::string& path, const std::vector<FieldDef>& defs, const std::string* digest) {
  if (path.empty()) return kNotFound;
  std::vector<Field> fields;
  int32_t recordSize = 0;
  bool chains = false;
  int rc = fieldsForCreate(defs, &fields, &recordSize, &chains);
  if (rc != kOk) return rc;

  // Every refusal comes before the first byte of any file changes: the
  // names, symbolic links at either name, and the "open" markers of both
  // files (another program's table, or another table whose auxiliary file
  // has this name).
  std::string auxPath;
  if ((rc = refusedNames(path, chains, &auxPath)) != kOk) return rc;
  os::Env& env = os::env();
  const int there = env.stat(path);
  if (there < 0) return there;  // the folder could not be read
  const bool hadFile = there == 1, hadAux = chains && env.exists(auxPath);
  // The table is written whole under a name of its own and then put in
  // place in one step: a create cut short (a full disk, a folder that
  // dropped) leaves the old file or none at the name, never a half-made
  // table that would be refused until someone removed it. A table that is
  // there is claimed first, so one another program has open is not
  // replaced.
  std::unique_ptr<os::File> claimed, file, aux;
  rc = hadFile ? claimForCreate(path, &claimed) : int(kOk);
  // Named for this program, so two workstations making the same table at
  // once (the first charge of a month at two desks) write apart.
  const std::string temp = path + "." + std::to_string(::getpid()) + ".new";
  if (rc == kOk) rc = os::openFile(temp, true, true, &file);
  if (rc == kOk && chains) rc = claimForCreate(auxPath, &aux);
  if (rc != kOk) {
    if (claimed) releaseGate(*claimed);
    file.reset();
    // What could not be removed is a stray file beside the tables; the
    // create's own code says what failed.
    static_cast<void>(env.remove(temp));
    if (chains && !hadAux && env.exists(auxPath)) static_cast<void>(env.remove(auxPath));
    return rc;
  }

  double created = 0;
  const std::vector<uint8_t> bytes = headerImage(fields, recordSize, digest, &created);
  rc = file->truncate(0);
  if (rc == kOk) rc = file->write(0, bytes.data(), bytes.size());
  rc = rc == kOk ? kOk : writeFailure(rc, kCreateFailed);
  if (rc == kOk && aux) rc = AuxFile::create(*aux, kVersion, created);
  if (rc == kOk) rc = file->sync();
  file.reset();
  // Another workstation made the table meanwhile: its table (perhaps with a
  // first line already) is not replaced; the caller opens it.
  if (rc == kOk && !hadFile && env.stat(path) != 0) rc = kSharingViolation;
  if (rc == kOk && (rc = env.rename(temp, path)) != kOk) rc = writeFailure(rc, kCreateFailed);
  if (claimed) releaseGate(*claimed);
  if (aux) releaseGate(*aux);
  claimed.reset();
  aux.reset();
  if (rc != kOk) static_cast<void>(env.remove(temp));  // a stray file at worst, as above
  return rc;
}

// --- open ---------------------------------------------------------------

// Closing the files drops every lock and marker. Records an append batch
// still gathers are written first (the engine ends its batches before it
// closes a table; this is the last resort, with nobody left to tell).
Table::~Table() {
  if (batch_.held && !dropped_) static_cast<void>(endBatch());
}

int Table::joinShare(int mode) {
  os::File& f = *file_;
  int rc = takeGate(f);
  if (rc != kOk) return rc;
  bool denyRead = mode == kDenyRead || mode == kDenyAll;
  bool denyWrite = mode == kDenyWrite || mode == kDenyAll;
  // Markers are set before the others' are looked at: read-only openers
  // share the gate, and of two that race at least one sees the other.
  int marks[4] = {kMarkOpen, f.writable() ? kMarkWriter : -1, denyRead ? kMarkDenyRead : -1,
                  denyWrite ? kMarkDenyWrite : -1};
  for (int m : marks)
    if (m >= 0 && rc == kOk && f.tryLockShared(kShareMarkers + m, 1) != kOk) rc = kSharingViolation;
  int probe = kOk;
  bool clash = rc != kOk || markerHeld(f, kMarkDenyRead, &probe) ||
               (f.writable() && markerHeld(f, kMarkDenyWrite, &probe)) ||
               (denyRead && markerHeld(f, kMarkOpen, &probe)) || (denyWrite && markerHeld(f, kMarkWriter, &probe));
  if (rc == kOk) rc = probe != kOk ? probe : (clash ? kSharingViolation : kOk);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  if (rc != kOk) static_cast<void>(f.unlock(kShareMarkers, 4));
  releaseGate(f);
  return rc;
}

int Table::open(const std::string& path, const OpenOptions& opt, std::unique_ptr<Table>* out) {
  // The auxiliary file is never a table, whatever it holds.
  if (hasAuxExtension(path)) return kNotDatabase;
  std::unique_ptr<Table> t(new Table);
  t->path_ = path;
  t->readOnly_ = opt.readOnly;
  int rc = os::openFile(path, !opt.readOnly, false, &t->file_);
  if (rc != kOk) return rc;
  int mode = opt.shareMode >= kShareAll && opt.shareMode <= kDenyAll ? opt.shareMode : kShareAll;
  rc = t->joinShare(mode);
  if (rc != kOk) return rc;
  t->locks_.attach(t->file_.get(), mode == kDenyRead || mode == kDenyAll);
  // Held while the file is checked and repaired, so no other writer can
  // append in between.
  rc = t->locks_.lockWhole(headerWaitMs());
  if (rc != kOk) return rc;
  rc = t->validate(opt);
  // A free list that reaches a block of a live value would hand that block
  // to the next value written: a writer refuses such a file (repair mends
  // it). Only tables with memo or byte-set fields pay for the walk.
  if (rc == kOk && t->aux_ && !t->readOnly_ && !opt.repairing) {
    ChainReport report;
    rc = checkChains(*t, &report);
    for (const ChainFault& f : report.faults)
      if (rc == kOk && (f.kind == ChainFaultKind::kOnFreeList || f.kind == ChainFaultKind::kCrossLink))
        rc = kAuxDamaged;
  }
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(t->locks_.unlockWhole());
  if (rc != kOk) return rc;
  t->position = 0;
  t->options_ = opt;
  t->options_.repairing = false;
  *out = std::move(t);
  return kOk;
}

void Table::drop() {
  if (dropped_) return;
  copy_ = Copy{};
  batch_ = Batch{};  // its lock goes with the file
  headerDepth_ = 0;
  held_count_ = HeldCount{};
  ownEnd_ = HeldCount{};
  heldImage_ = HeldImage{};
  const bool writable = file_ && file_->writable();
  locks_ = LockSet();
  file_ = os::deadFile(writable);
  locks_.attach(file_.get(), false);
  if (aux_) aux_->drop();
  dropped_ = true;
}

int Table::reopen() {
  if (!dropped_) return kOk;
  std::unique_ptr<Table> fresh;
  OpenOptions opt = options_;
  // The password was checked at the first open; the digest is the file's.
  opt.checkPassword = false;
  if (const int rc = open(path_, opt, &fresh); rc != kOk) return rc;
  // Another table under the same name (replaced while the folder was
  // away) is not taken for this one: its fields would be read as ours.
  if (fresh->fields_.size() != fields_.size() || fresh->header_.recordSize != header_.recordSize) return kNotDatabase;
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fresh->fields_[i].kind != fields_[i].kind || fresh->fields_[i].offset != fields_[i].offset ||
        !equalsNoCase(fresh->fields_[i].name, fields_[i].name))
      return kNotDatabase;
  file_ = std::move(fresh->file_);
  bumpedAt_ = file_->writesMade();
  copy_ = Copy{};
  aux_ = std::move(fresh->aux_);
  locks_ = fresh->locks_;
  header_ = fresh->header_;
  dropped_ = false;
  return kOk;
}

int Table::validate(const OpenOptions& opt) {
  os::File& f = *file_;
  uint8_t fixed[kHeaderFixed];
  size_t got = 0;
  int rc = f.read(0, fixed, kHeaderFixed, &got);
  if (rc != kOk) return rc;
  if (got < size_t(kHeaderFixed) || decodeHeader(fixed, &header_) != kOk) return kNotDatabase;
  if (opt.checkPassword) {
    if (header_.protectedFile) {
      if (opt.password == "?") {
        if ((rc = askPassword(header_.digest)) != kOk) return rc;
      } else if (!digestMatches(header_.digest, opt.password)) {
        return kBadPassword;
      }
    } else if (!opt.password.empty()) {
      return kBadPassword;
    }
  }
  // A negated next serial marks a pack that has not finished (pack.cpp).
  const bool packPending = header_.nextSerial < 0 && header_.nextSerial != INT32_MIN;
  Header plain = header_;
  if (packPending) plain.nextSerial = -plain.nextSerial;
  if ((rc = validateHeader(plain)) != kOk) return rc;
  uint8_t nb[4];
  if ((rc = f.read(kOffFieldCount, nb, 4, &got)) != kOk) return rc;
  int32_t n = getI32(nb);
  if (got < 4 || n <= 0) return kNotDatabase;
  int64_t len = 0;
  if ((rc = f.size(&len)) != kOk) return rc;
  headerSize_ = int64_t(kDescriptorsAt) + int64_t(n) * kDescriptorSize;
  if (headerSize_ > len) return kNotDatabase;  // the descriptors cannot all be there
  std::vector<uint8_t> desc(size_t(n) * kDescriptorSize);
  if ((rc = f.read(kDescriptorsAt, desc.data(), desc.size(), &got)) != kOk) return rc;
  if (got < desc.size()) return kNotDatabase;
  fields_.resize(size_t(n));
  int64_t at = kRecordHeader;
  for (int32_t i = 0; i < n; ++i) {
    Field& fd = fields_[size_t(i)];
    if (decodeDescriptor(desc.data() + size_t(i) * kDescriptorSize, header_.recordSize, &fd) != kOk)
      return kNotDatabase;
    // Fields lie end to end from offset 4 and fill the record exactly. A
    // damaged descriptor (or record size, or field count) breaks this; the
    // file is then refused as it is, before the count repair below could
    // cut records off it.
    if (fd.offset != at) return kNotDatabase;
    at += fd.width;
    hasChains_ = hasChains_ || isChainKind(fd.kind);
  }
  if (at != header_.recordSize) return kNotDatabase;
  // The auxiliary file is checked before anything is written, so a refused
  // table is left as it was.
  if (hasChains_) {
    std::string auxPath = auxNameFor(path_), existing;
    if (resolveExisting(auxPath, &existing)) auxPath = existing;
    // The aux file follows the database's share mode: alone means alone.
    bool lockless = opt.shareMode == kDenyRead || opt.shareMode == kDenyAll;
    rc = AuxFile::open(auxPath, !readOnly_, header_.version, lockless, opt.repairing, &aux_);
    if (rc != kOk) return rc;
  }
  if (packPending) {
    // Half packed: a read-only opener cannot finish it and must not read it.
    if (readOnly_) return kFileSizeWrong;
    if ((rc = completePack()) != kOk) return rc;
    header_.count = getCountAt16();
    header_.nextSerial = plain.nextSerial;
    if ((rc = f.size(&len)) != kOk) return rc;
  }
  int64_t whole = (len - headerSize_) / header_.recordSize;
  // An append or append batch cut short leaves records behind the count
  // that were never part of the table (numbered on from the next serial):
  // a writer cuts them off. Other records behind it mean the count itself
  // is damaged: cutting the file to it would throw whole records away, so
  // the table is refused (repair raises the count instead, when the records
  // behind it are whole).
  // A pack that put its count in but was stopped before it cut the file
  // leaves the moved records' old places behind; its redo record says so.
  if (countLeavesRecords(len, header_.count, plain.nextSerial) && !packLeftTail()) {
    if (!opt.repairing || readOnly_) return kFileSizeWrong;
    if ((rc = restoreCount(int32_t(std::min<int64_t>(whole, INT32_MAX - 1)))) != kOk) return rc;
  }
  if (whole < header_.count) {
    if (readOnly_) return kFileSizeWrong;
    header_.count = int32_t(whole);
    uint8_t c[4];
    putI32(c, header_.count);
    if ((rc = f.write(kOffCount, c, 4)) != kOk) return rc;
  }
  int64_t end = recordOffset(header_.count);
  if (!readOnly_ && len > end && (rc = f.truncate(end)) != kOk) return rc;
  if (!readOnly_ && !packPending) discardStalePackLog();
  return kOk;
}

int Table::restoreCount(int32_t whole) {
  // Only records that carry a serial are taken back; the next serial is
  // raised past every one of them so no serial is given out twice.
  const int32_t from = header_.count;
  int32_t serial = header_.nextSerial < 0 ? -header_.nextSerial : header_.nextSerial;
  std::vector<uint8_t> rec(size_t(header_.recordSize));
  for (int32_t p = from; p < whole; ++p) {
    int rc = readRecord(p, rec.data());
    if (rc != kOk) return rc;
    int32_t h = getI32(rec.data());
    if (h == 0 || h == INT32_MIN) return kFileSizeWrong;
    int32_t s = h < 0 ? -h : h;
    if (s >= serial) serial = s == INT32_MAX ? INT32_MAX : s + 1;
  }
  uint8_t b[8];
  putI32(b, whole);
  putI32(b + 4, serial);
  if (int rc = file_->write(kOffCount, b, 8); rc != kOk) return writeFailure(rc, kRecordWriteFailed);
  header_.count = whole;
  header_.nextSerial = serial;
  restoredFrom_ = from;
  return kOk;
}

namespace {

// Whether the bytes behind the count (`extra`, at `end` of `f`) hold
// records the count has lost, rather than an append cut short. An append
// or an append batch writes its records before the count that makes them
// part of the table, numbered on from the next serial: records it left
// behind carry nextSerial, nextSerial + 1, ... (or nothing, 0, where a
// power cut dropped the write), and a part of a record is never whole.
// Records the count lost carry serials below the next serial. The first and
// the last whole record behind the count tell the two apart.
bool recordsBehindCount(os::File& f, int64_t end, int64_t extra, int32_t recordSize, int32_t nextSerial) {
  const int64_t whole = extra / recordSize;
  if (whole <= 0) return false;
  auto headerAt = [&](int64_t k, int32_t* h) {
    uint8_t b[4] = {};
    size_t got = 0;
    if (f.read(end + k * recordSize, b, 4, &got) != kOk || got < 4) return false;
    *h = getI32(b);
    return true;
  };
  int32_t first = 0, last = 0;
  if (!headerAt(0, &first) || !headerAt(whole - 1, &last)) return true;  // not known: not cut off
  auto leftBehind = [&](int32_t h, int64_t k) { return h == 0 || int64_t(h) == int64_t(nextSerial) + k; };
  return !(leftBehind(first, 0) && leftBehind(last, whole - 1));
}

}  // namespace

bool Table::countLeavesRecords(int64_t len, int32_t count, int32_t nextSerial) {
  return recordsBehindCount(*file_, recordOffset(count), len - recordOffset(count), header_.recordSize, nextSerial);
}

SizeFault sizeFaultOf(const std::string& path) {
  std::unique_ptr<os::File> f;
  if (os::env().open(path, false, false, &f) != kOk) return SizeFault::kNone;
  uint8_t h[kDescriptorsAt];
  size_t got = 0;
  int64_t len = 0;
  if (f->read(0, h, sizeof h, &got) != kOk || got < sizeof h || f->size(&len) != kOk) return SizeFault::kNone;
  const int32_t count = getI32(h + kOffCount), serial = getI32(h + kOffSerial), rs = getI32(h + kOffRecordSize),
                n = getI32(h + kOffFieldCount);
  if (serial < 0 && serial != INT32_MIN) return SizeFault::kPackUnfinished;
  if (rs <= 0 || n <= 0 || count < 0) return SizeFault::kNone;
  const int64_t end = int64_t(kDescriptorsAt) + int64_t(n) * kDescriptorSize + int64_t(count) * rs;
  if (len > end && recordsBehindCount(*f, end, len - end, rs, serial)) return SizeFault::kCountDamaged;
  if (len < end) return SizeFault::kShort;
  return SizeFault::kNone;
}

int Table::fieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (equalsNoCase(fields_[i].name, name)) return int(i);
  return -1;
}

// --- count, locks, raw records -------------------------------------------

int Table::lockHeader() {
  const int rc = locks_.lockByte(kHeaderLockOffset, headerWaitMs());
  if (rc == kOk) ++headerDepth_;
  return rc;
}

int Table::unlockHeader() {
  // A lock a failed unlock left is not counted on: the count is read again.
  if (headerDepth_ > 0 && --headerDepth_ == 0) held_count_.valid = false;
  return locks_.unlockByte(kHeaderLockOffset);
}
int Table::lockRecord(int32_t pos) { return pos < 0 ? kLockFailed : locks_.lockByte(recordOffset(pos), lockWaitMs()); }
int Table::unlockRecord(int32_t pos) {
  if (pos < 0) return kUnlockFailed;
  const int rc = locks_.unlockByte(recordOffset(pos));
  if (heldImage_.valid && !locks_.holdsByte(recordOffset(heldImage_.pos))) heldImage_.valid = false;
  return rc;
}
int Table::lockWhole() { return locks_.lockWhole(lockWaitMs()); }
int Table::unlockWhole() {
  const int rc = locks_.unlockWhole();
  if (heldImage_.valid && !locks_.holdsByte(recordOffset(heldImage_.pos))) heldImage_.valid = false;
  return rc;
}

int Table::readCountSerial(int32_t* count, int32_t* serial) {
  // While this handle holds the header lock nobody else can move the count
  // (an append waits for the lock, a pack for the whole file): it is read
  // once and then known, and follows this handle's own count writes.
  if (headerDepth_ > 0 && held_count_.valid) {
    *count = held_count_.count;
    if (serial) *serial = held_count_.serial;
    return kOk;
  }
  // The count and the next serial are written together, in one 8-byte
  // write under the header lock, so one read without the lock sees them as
  // they were before another program's append or after it, never half of
  // it: one round trip instead of three. A read that fails (a share that
  // enforces another program's header lock refuses it) or finds a pack not
  // finished is made again under the header lock.
  uint8_t b[8];
  size_t got = 0;
  if (file_->read(kOffCount, b, 8, &got) == kOk && got == 8 && getI32(b + 4) >= 0) {
    *count = getI32(b);
    if (serial) *serial = getI32(b + 4);
    if (headerDepth_ > 0) held_count_ = {true, getI32(b), getI32(b + 4)};
    return kOk;
  }
  int rc = lockHeader();
  if (rc != kOk) return rc;
  got = 0;
  rc = file_->read(kOffCount, b, 8, &got);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockHeader());
  if (rc != kOk || got < 8) return kCountReadFailed;
  if (getI32(b + 4) < 0 && !packing_) {
    // Another opener's pack was interrupted (a running one would hold the
    // whole-file lock and keep us from reading): finish it first.
    if ((rc = finishInterruptedPack()) != kOk) return rc;
    return readCountSerial(count, serial);
  }
  *count = getI32(b);
  if (serial) *serial = getI32(b + 4);
  return kOk;
}

int Table::readCount(int32_t* count) {
  int32_t serial;
  int rc = readCountSerial(count, &serial);
  if (rc == kOk && *count < 0) *count = 0;
  return rc;
}

int Table::writeCountSerial(int32_t count, const int32_t* serial) {
  uint8_t b[8];
  putI32(b, count);
  if (serial) putI32(b + 4, *serial);
  int rc = lockHeader();
  if (rc != kOk) return rc;
  rc = file_->write(kOffCount, b, serial ? 8 : 4);
  // A write that reports failure may have landed (a reply lost on the way
  // back): what the file says now decides, while the header lock is still
  // held and nobody else can have moved the count.
  if (rc != kOk && landed(kOffCount, b, serial ? 8 : 4)) rc = kOk;
  if (rc == kOk && held_count_.valid) {
    held_count_.count = count;
    if (serial) held_count_.serial = *serial;
  } else {
    held_count_.valid = false;
  }
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockHeader());
  return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
}

int Table::advanceSerial() {
  int rc = lockHeader();
  if (rc != kOk) return rc;
  int32_t count = 0, serial = 0;
  rc = readCountSerial(&count, &serial);
  // Records an append cut short left behind the count are numbered on
  // from the next serial: cut off first, so that moving the serial on
  // does not make them look like records a damaged count lost.
  int64_t length = 0;
  if (rc == kOk) rc = file_->size(&length);
  if (rc == kOk && length > recordOffset(count) && !countLeavesRecords(length, count, serial))
    rc = file_->truncate(recordOffset(count));
  if (rc == kOk && serial >= 1 && serial < INT32_MAX) {
    const int32_t next = serial + 1;
    rc = writeCountSerial(count, &next);
  }
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockHeader());
  return rc;
}

int64_t Table::fileLength() {
  int64_t len = 0;
  return file_->size(&len) == kOk ? len : 0;
}

int Table::readRecord(int32_t pos, uint8_t* buf) {
  size_t got = 0;
  if (pos < 0) return kNoCurrentRecord;
  int rc = file_->read(recordOffset(pos), buf, size_t(header_.recordSize), &got);
  return rc == kOk && got == size_t(header_.recordSize) ? kOk : kRecordReadFailed;
}

namespace {
uint64_t g_uncertainWrites = 0;
}  // namespace

uint64_t uncertainWrites() { return g_uncertainWrites; }

bool Table::landed(int64_t offset, const uint8_t* bytes, size_t n) {
  std::vector<uint8_t> now(n);
  size_t got = 0;
  if (file_->read(offset, now.data(), n, &got) != kOk || got != n) {
    ++g_uncertainWrites;
    return false;
  }
  return std::memcmp(now.data(), bytes, n) == 0;
}

int Table::writeRecordBody(int32_t pos, const uint8_t* rec) {
  const uint64_t writesBefore = file_->writesMade();
  const int64_t at = recordOffset(pos) + kRecordHeader;
  const size_t n = size_t(header_.recordSize - kRecordHeader);
  int rc = file_->write(at, rec + kRecordHeader, n);
  // The record is locked by the caller: a write whose reply was lost is
  // found in the file as written, and is written.
  if (rc != kOk && !landed(at, rec + kRecordHeader, n)) return writeFailure(rc, kRecordWriteFailed);
  patchCopy(pos, writesBefore, rec);
  return kOk;
}

int Table::writeRecordHeader(int32_t pos, int32_t value) {
  uint8_t b[4];
  putI32(b, value);
  int rc = file_->write(recordOffset(pos), b, 4);
  if (rc != kOk && landed(recordOffset(pos), b, 4)) rc = kOk;  // as for the body
  return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
}

int Table::writeField(int32_t pos, const Field& f, const uint8_t* rec) {
  int rc = file_->write(recordOffset(pos) + f.offset, rec + f.offset, size_t(f.width));
  return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
}

int Table::writeRecords(int32_t pos, const uint8_t* recs, size_t n) {
  if (n == 0) return kOk;
  int rc = file_->write(recordOffset(pos), recs, n * size_t(header_.recordSize));
  return rc == kOk ? kOk : writeFailure(rc, kRecordWriteFailed);
}

// --- the record a caller holds ----------------------------------------------

int Table::locate(int32_t serial, int32_t* pos) {
  int rc = scanToRead(0, false, [&](int32_t p, uint8_t* rec) {
    int32_t h = getI32(rec);
    if (h != serial && h != -serial) return 0;
    *pos = p;
    return 1;
  });
  return rc == 1 ? kOk : rc == kOk ? kNoRecord : rc;
}

int Table::lockCurrent(uint8_t* rec, bool forWrite, int32_t* at) {
  // A record moves only down (packs) and only a few times while a caller
  // holds it; the bound keeps a table rewritten over and over from holding
  // the caller for ever.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int32_t pos = position;
    if (pos < 0) return kNoCurrentRecord;
    // Already locked here since the record was last read, and not written
    // by this handle since: nobody else can have changed it.
    const bool known = heldImage_.valid && heldImage_.pos == pos && heldImage_.writes == file_->writesMade() &&
                       locks_.holdsByte(recordOffset(pos));
    int rc = lockRecord(pos);
    if (rc != kOk) return rc;
    // A pack that is running holds the whole file, so the record lock
    // keeps it out; one another program left unfinished shows in the
    // negated serial and is completed (or refused, read-only) before any
    // record of it is touched. The count and serial are read without the
    // header lock: the lock held here already orders this read after any
    // pack, and an append only ever raises the count.
    int32_t count = 0, nextSerial = 0;
    if (known) {
      std::memcpy(rec, heldImage_.rec.data(), heldImage_.rec.size());
      count = pos + 1;
    } else {
      rc = readCountSerial(&count, &nextSerial);
      count = std::max(0, count);
    }
    const bool mine = held_ && heldPos_ == pos;
    if (rc == kOk && pos >= count && !mine) rc = kNoCurrentRecord;
    if (rc == kOk && pos < count && !known) {
      rc = readRecord(pos, rec);
      if (rc == kOk) heldImage_ = {true, pos, file_->writesMade(), std::vector<uint8_t>(rec, rec + header_.recordSize)};
    }
    if (rc != kOk) {
      // A lock a failed unlock left goes when the handle is closed or dropped.
      static_cast<void>(unlockRecord(pos));
      return rc;
    }
    if (!mine) {
      held_ = true;
      heldPos_ = pos;
      heldSerial_ = getI32(rec);
      *at = pos;
      return kOk;
    }
    const int32_t h = pos < count ? getI32(rec) : 0;
    // A record without a serial (a damaged or hand-made file) cannot be
    // told from another: it is taken as it is.
    if (pos < count && (heldSerial_ == 0 || h == heldSerial_ || h == -heldSerial_)) {
      if (forWrite && heldSerial_ > 0 && h < 0) {
        // A lock a failed unlock left goes when the handle is closed or dropped.
        static_cast<void>(unlockRecord(pos));
        return kNoRecord;  // deleted by another program since it was shown
      }
      *at = pos;
      return kOk;
    }
    // A lock a failed unlock left goes when the handle is closed or dropped.
    static_cast<void>(unlockRecord(pos));
    int32_t moved = -1;
    const int32_t serial = heldSerial_ < 0 ? -heldSerial_ : heldSerial_;
    if ((rc = locate(serial, &moved)) != kOk) return rc;
    position = heldPos_ = moved;
  }
  return kNoRecord;
}

// --- values ---------------------------------------------------------------
//
// The encoding of each field kind is field_values.cpp's; the table adds its
// own fields and auxiliary file.

int Table::loadValue(const Field& f, const uint8_t* rec, rt::Arg* out) {
  return readFieldValue(f, rec, aux_.get(), out);
}

bool Table::textEquals(const Field& f, const uint8_t* rec, std::string_view gbk) const {
  return fieldHoldsText(f, rec, gbk);
}

int Table::checkValue(const Field& f, const rt::Arg& v) { return checkFieldValue(f, v); }

int Table::storeValue(const Field& f, const rt::Arg& v, uint8_t* rec) { return writeFieldValue(f, v, aux_.get(), rec); }

void Table::settleChains(const uint8_t* before, const uint8_t* after, bool written) {
  db::settleChains(fields_, aux_.get(), before, after, written);
}

void Table::releaseChains(const uint8_t* rec) { db::releaseChains(fields_, aux_.get(), rec); }

int Table::copyChain(const Field& f, const uint8_t* rec, Table& dst, const Field& df, uint8_t* dstRec) {
  return copyChainValue(f, rec, aux_.get(), dst.aux_.get(), df, dstRec);
}

// --- append and modify ----------------------------------------------------

namespace {
std::function<bool(int32_t)>* g_serialWatch = nullptr;
}  // namespace

SerialWatch::SerialWatch(std::function<bool(int32_t)> taken) {
  g_serialWatch = new std::function<bool(int32_t)>(std::move(taken));
}

SerialWatch::~SerialWatch() {
  delete g_serialWatch;
  g_serialWatch = nullptr;
}

namespace {
// The serial an append takes, told to whoever watches for it (once).
bool serialTaken(int32_t serial) {
  if (!g_serialWatch) return true;
  std::function<bool(int32_t)> taken = std::move(*g_serialWatch);
  delete g_serialWatch;
  g_serialWatch = nullptr;
  return taken(serial);
}
}  // namespace

int Table::append(const rt::Arg* const* values, size_t n, bool batched) {
  n = std::min(n, fields_.size());
  for (size_t i = 0; i < n; ++i)
    if (values[i] && checkValue(fields_[i], *values[i]) != kOk) return kValueKindMismatch;
  int rc = kOk;
  int32_t count = 0, serial = 1;
  int64_t length = -1;
  const uint64_t writesBefore = file_->writesMade();
  if (batch_.held) {
    // The header lock has been ours since the batch's first append: no
    // writer of this program has moved the count or the serial since.
    count = batch_.count;
    serial = batch_.serial;
  } else {
    if ((rc = lockHeader()) != kOk) return rc;
    rc = readCountSerial(&count, &serial);
    if (rc == kOk) {
      if (count < 0) count = 0;
      if (serial < 1) serial = 1;
    }
    // The table still as this handle's own last append left it (count and
    // next serial, which every append and pack moves): the count is the one
    // this handle wrote, so it is not damaged, and the file ended at its
    // record. Its length is not looked at again (a round trip on a share).
    // Anything another program's append cut short left behind the count
    // since carries serials from the next serial on: the record written
    // here takes the first place, and the rest is cut off as ever by the
    // next opening or the next append that looks.
    const bool asLeft = rc == kOk && ownEnd_.valid && ownEnd_.count == count && ownEnd_.serial == serial;
    if (asLeft) length = recordOffset(count);
    // A count damaged behind this program's back would make the new
    // record overwrite one that is there: refused, as on opening.
    // The file's length, failing as its look failed (a length not known is
    // not an empty file).
    if (rc == kOk && !asLeft) rc = file_->size(&length);
    if (rc == kOk && countLeavesRecords(length, count, serial)) rc = kFileSizeWrong;
    // What an append cut short left behind the count goes first, so that
    // the table ends where its records end.
    if (rc == kOk && length > recordOffset(count)) {
      if (const int cut = file_->truncate(recordOffset(count)); cut != kOk) rc = writeFailure(cut, kRecordWriteFailed);
      length = recordOffset(count);
    }
  }
  if (rc == kOk && (count == INT32_MAX || serial == INT32_MAX)) rc = kRecordWriteFailed;
  if (rc == kOk && !batched && !serialTaken(serial)) rc = kRecordWriteFailed;
  std::vector<uint8_t> rec(size_t(header_.recordSize), 0);
  if (rc == kOk) {
    putI32(rec.data(), serial);
    for (size_t i = 0; i < n && rc == kOk; ++i)
      if (values[i]) rc = storeValue(fields_[i], *values[i], rec.data());
  }
  const bool gather = batched && !hasChains_;
  if (rc == kOk && gather) {
    if (!batch_.held) batch_.from = batch_.base = count;
    batch_.uncounted = true;
    batch_.records.insert(batch_.records.end(), rec.begin(), rec.end());
  } else if (rc == kOk) {
    // The record goes in before the count that makes it part of the file:
    // a crash in between leaves bytes that the next opening cuts off.
    int w = file_->write(recordOffset(count), rec.data(), rec.size());
    if (w != kOk) rc = writeFailure(w, kRecordWriteFailed);
    if (rc == kOk) {
      int32_t next = serial + 1;
      rc = writeCountSerial(count + 1, &next);
    }
    if (rc != kOk) releaseChains(rec.data());
    if (rc == kOk && !batched) {
      appendWrites_ += file_->writesMade() - writesBefore;
      extendCopy(count, serial, length, writesBefore, rec.data());
    }
    // Only a count and serial this handle wrote (and knows landed) tell
    // where the file ends.
    ownEnd_ = rc == kOk && !batched ? HeldCount{true, count + 1, serial + 1} : HeldCount{};
  }
  if (rc == kOk && batched) {
    batch_.held = true;
    batch_.count = count + 1;
    batch_.serial = serial + 1;
    if (batch_.records.size() >= kBatchFlushBytes) rc = flushBatch(false);
  }
  // A failed append ends the batch, all of it: records it wrote but did
  // not count are cut off (or left for the next writer to cut), and the
  // next append reads the count again.
  if (rc != kOk && batch_.uncounted) {
    if (batch_.from > batch_.base) static_cast<void>(file_->truncate(recordOffset(batch_.base)));
    batch_.uncounted = false;
  }
  if (rc != kOk || !batched) {
    batch_.records.clear();
    batch_.held = false;
    // A lock a failed unlock left goes when the handle is closed or dropped.
    static_cast<void>(unlockHeader());
  }
  if (rc == kOk) {
    position = count;
    held_ = true;
    heldPos_ = count;
    heldSerial_ = serial;
  }
  return rc;
}

void Table::extendCopy(int32_t count, int32_t serial, int64_t length, uint64_t writes, const uint8_t* rec) {
  const int64_t rs = header_.recordSize;
  if (copy_.valid && copy_.count == count && copy_.serial == serial && copy_.length == length &&
      copy_.writes == writes && int64_t(copy_.records->size()) == int64_t(count) * rs &&
      int64_t(copy_.records->size()) + rs <= kKeptCopyBytes) {
    copy_.ownRecords();
    copy_.records->insert(copy_.records->end(), rec, rec + rs);
    copy_.count = count + 1;
    copy_.serial = serial + 1;
    copy_.length = length + rs;
    copy_.writes = file_->writesMade();
    // The copy keeps the mark it had: an append leaves the table's mark as
    // it was, so a change anyone made in place since the copy was read
    // (a mark it does not have) still shows, and nothing is awaited. A
    // copy already patched in place by this handle still waits for its mark.
  } else if (copy_.awaitingMark) {
    copy_ = Copy{};
  }
}

void Table::patchCopy(int32_t pos, uint64_t writesBefore, const uint8_t* rec) {
  const int64_t rs = header_.recordSize;
  // The copy was the file as this handle last saw it, and this handle has
  // written nothing since: the record written in place goes into it too.
  // A table with memo or byte-set fields writes chains beside the record:
  // its copy is dropped as ever.
  if (copy_.valid && !hasChains_ && copy_.writes == writesBefore && pos >= 0 && pos < copy_.count &&
      int64_t(copy_.records->size()) == int64_t(copy_.count) * rs) {
    copy_.ownRecords();
    std::memcpy(copy_.records->data() + pos * rs + kRecordHeader, rec + kRecordHeader, size_t(rs - kRecordHeader));
    copy_.writes = file_->writesMade();
    copy_.awaitingMark = true;
  } else if (copy_.awaitingMark) {
    copy_ = Copy{};
  }
}

int Table::flushBatch(bool last) {
  int rc = kOk;
  if (!batch_.records.empty()) {
    rc = file_->write(recordOffset(batch_.from), batch_.records.data(), batch_.records.size());
    if (rc != kOk) {
      rc = writeFailure(rc, kRecordWriteFailed);
      // Not counted: nobody reads them; cut off now where the folder
      // allows, else by the next writer or opener.
      static_cast<void>(file_->truncate(recordOffset(batch_.base)));
    }
    batch_.records.clear();
    batch_.from = batch_.count;
  }
  // The count once, after the batch's last record: until then the records
  // behind it are no part of the table for anyone, so a batch cut short
  // (a full disk, a kill, a power cut) leaves the table as it was before
  // the batch.
  if (rc == kOk && last && batch_.uncounted) rc = writeCountSerial(batch_.count, &batch_.serial);
  if (last || rc != kOk) batch_.uncounted = false;
  return rc;
}

int Table::endBatch() {
  if (!batch_.held) return kOk;
  const int rc = flushBatch(true);
  batch_.held = false;
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockHeader());
  return rc;
}

int Table::modify(const rt::Arg* const* values, size_t n) {
  n = std::min(n, fields_.size());
  for (size_t i = 0; i < n; ++i)
    if (values[i] && checkValue(fields_[i], *values[i]) != kOk) return kValueKindMismatch;
  std::vector<uint8_t> rec(size_t(header_.recordSize));
  int32_t pos = 0;
  int rc = lockCurrent(rec.data(), true, &pos);
  if (rc != kOk) return rc;
  const std::vector<uint8_t> before = rec;
  for (size_t i = 0; i < n && rc == kOk; ++i)
    if (values[i]) rc = storeValue(fields_[i], *values[i], rec.data());
  if (rc == kOk) rc = writeRecordBody(pos, rec.data());
  // The record now names either its old chains or its new ones, never a
  // mix: the ones it does not name are released.
  settleChains(before.data(), rec.data(), rc == kOk);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockRecord(pos));
  return rc;
}

// --- scans ----------------------------------------------------------------

// Runs `fn` over the kept copy's records. A whole scan's step may change a
// record before writing it (the write then makes the copy stale): it is
// given records of its own. A search or a reading only reads them; the
// records stay alive for it even when its step makes the table keep
// another copy (a nested reading of the same table).
int Table::serveCopy(int32_t count, bool ownRecords, ScanFn fn, void* ctx) {
  const int64_t rs = header_.recordSize;
  const uint8_t* saved = scanRecord_;
  const std::shared_ptr<std::vector<uint8_t>> kept = copy_.records;
  std::vector<uint8_t> own;
  if (ownRecords) own = *kept;
  uint8_t* records = ownRecords ? own.data() : kept->data();
  int rc = kOk;
  for (int32_t pos = 0; pos < count && rc == kOk; ++pos) {
    uint8_t* rec = records + size_t(pos) * size_t(rs);
    scanRecord_ = rec;
    rc = fn(ctx, pos, rec);
  }
  scanRecord_ = saved;
  return rc;
}

// Whether the kept copy is the table now, looked at without a lock: the
// count and next serial (one read) and the change mark (one read) those of
// the copy. Two round trips and no record data. Everything that changes a
// table moves one of them before it is shown as done: an append the count
// and serial, a change in place or a pack the mark (a pack the count too).
// A reader that looks meanwhile sees the table as a moment before, as it
// would have had it read then. Any doubt (a read that failed, a pack not
// finished) says no, and the scan takes the locked path, as does a table
// with memo or byte-set fields (its step reads chains that a writer may be
// changing).
bool Table::copyStillCurrent() {
  if (hasChains_ || !copy_.valid || copy_.awaitingMark || copy_.writes != file_->writesMade() ||
      copy_.epoch != changeEpoch())
    return false;
  int32_t count = 0, serial = 0;
  if (readCountSerial(&count, &serial) != kOk || count != copy_.count || serial != copy_.serial) return false;
  uint64_t change = 0;
  // The mark file looked at again (every few seconds) may move the epoch.
  return readChange(path_, &change, !readOnly()) == kOk && change == copy_.change && copy_.epoch == changeEpoch();
}

int Table::scanImpl(int32_t start, bool whole, ScanFn fn, void* ctx, bool readsOnly) {
  if (start < 0) start = 0;
  if (readsOnly && start == 0 && copyStillCurrent()) return serveCopy(copy_.count, false, fn, ctx);
  int rc = kOk;
  if (whole && (rc = lockWhole()) != kOk) return rc;
  int32_t count = 0, serial = 0;
  rc = readCountSerial(&count, &serial);
  const uint8_t* saved = scanRecord_;
  const int64_t rs = header_.recordSize;
  // A whole scan from the first record under the whole-file lock may be
  // served from the copy kept of the last one, when the table's count,
  // next serial, length and change counter are those of then and this
  // handle has not written since: a few calls and no record data. Any
  // doubt (a look that failed) reads the file.
  Copy stamp;
  // A scan in batches from the first record (a search) is served from the
  // copy the same way, but never fills it: its batches are not one
  // reading of the table.
  const bool servable = start == 0 && rc == kOk && (whole || copy_.valid);
  const bool keepable = whole && start == 0 && rc == kOk && int64_t(count) * rs <= kKeptCopyBytes;
  if (servable) {
    stamp.count = count;
    stamp.serial = serial;
    stamp.writes = file_->writesMade();
    stamp.valid = file_->size(&stamp.length) == kOk && readChange(path_, &stamp.change, !readOnly()) == kOk;
    stamp.epoch = changeEpoch();
  }
  if (servable && stamp.valid && copy_.valid && !copy_.awaitingMark && copy_.count == stamp.count &&
      copy_.serial == stamp.serial && copy_.length == stamp.length && copy_.change == stamp.change &&
      copy_.writes == stamp.writes && copy_.epoch == stamp.epoch) {
    rc = serveCopy(count, whole && !readsOnly, fn, ctx);
    // A lock a failed unlock left goes when the handle is closed or dropped.
    if (whole) static_cast<void>(unlockWhole());
    return rc;
  }
  bool whole_read = rc == kOk;
  std::vector<uint8_t> all;
  if (keepable && stamp.valid) all.reserve(size_t(int64_t(count) * rs));
  if (rc == kOk && start < count) {
    int64_t perBatch = std::max<int64_t>(1, kScanBatchBytes / rs);
    int64_t first = std::min<int64_t>(perBatch, count - start);
    std::vector<uint8_t> buf(size_t(first * rs));
    for (int64_t pos = start; pos < count && rc == kOk;) {
      int64_t n = std::min<int64_t>(perBatch, count - pos);
      int64_t off = recordOffset(pos);
      if (!whole && (rc = locks_.lockRange(off, n * rs, lockWaitMs())) != kOk) break;
      size_t got = 0;
      int r = file_->read(off, buf.data(), size_t(n * rs), &got);
      if (r != kOk || got < size_t(n * rs)) rc = kRecordReadFailed;
      // Kept as read, before the callback may change a record.
      if (rc == kOk && keepable && stamp.valid) all.insert(all.end(), buf.begin(), buf.begin() + n * rs);
      int64_t i = 0;
      for (; i < n && rc == kOk; ++i) {
        uint8_t* rec = buf.data() + i * rs;
        scanRecord_ = rec;
        rc = fn(ctx, int32_t(pos + i), rec);
      }
      if (i < n || rc != kOk) whole_read = false;
      scanRecord_ = saved;
      // A lock a failed unlock left goes when the handle is closed or dropped.
      if (!whole) static_cast<void>(locks_.unlockRange(off, n * rs));
      pos += n;
    }
  }
  scanRecord_ = saved;
  if (keepable && stamp.valid && whole_read && rc == kOk && all.size() == size_t(int64_t(count) * rs)) {
    stamp.records = std::make_shared<std::vector<uint8_t>>(std::move(all));
    copy_ = std::move(stamp);
  } else if (keepable) {
    copy_ = Copy{};
  }
  // A lock a failed unlock left goes when the handle is closed or dropped.
  if (whole) static_cast<void>(unlockWhole());
  return rc;
}

int Table::zap() {
  int rc = lockWhole();
  if (rc != kOk) return rc;
  int32_t count = 0;
  rc = readCount(&count);  // finishes an interrupted pack first
  if (rc == kOk) rc = writeCountSerial(0, nullptr);
  if (rc == kOk && file_->truncate(headerSize_) != kOk) rc = kRecordWriteFailed;
  if (rc == kOk && aux_) rc = aux_->reset();
  if (rc == kOk) setPosition(0);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(unlockWhole());
  return rc;
}

}  // namespace db
