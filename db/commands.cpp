// The database command entries: each parses its argument records, runs the
// engine operation and stores the engine code in the last-error slot. What
// every command has in common (the open-database list, argument
// conversion, the engine call a command runs as, append batches, the
// registration table) is dispatch.cpp's.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "db/dispatch.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/format.h"
#include "db/names.h"
#include "db/os.h"
#include "db/table.h"
#include "runtime/blocks.h"
#include "runtime/builtins.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace db {
namespace calls {
namespace {

bool sameFullPath(const std::string& a, const std::string& b) { return equalsNoCase(a, b); }

bool isOpenPath(const std::string& full) {
  for (const OpenDb& d : g_open)
    if (sameFullPath(d.fullPath, full)) return true;
  return false;
}

int lookup(const std::string& name) {
  if (name.empty()) return -1;
  for (int i = int(g_open.size()) - 1; i >= 0; --i)
    if (!g_open[size_t(i)].alias.empty() && equalsNoCase(g_open[size_t(i)].alias, name)) return i;
  for (int i = int(g_open.size()) - 1; i >= 0; --i)
    if (equalsNoCase(g_open[size_t(i)].title, name)) return i;
  std::string full;
  bool haveFull = os::env().fullPath(withDefaultExtension(name), &full) == kOk;
  for (int i = int(g_open.size()) - 1; i >= 0; --i)
    if (equalsNoCase(g_open[size_t(i)].fullPath, name) || (haveFull && equalsNoCase(g_open[size_t(i)].fullPath, full)))
      return i;
  return -1;
}

void closeAt(int i) {
  g_open.erase(g_open.begin() + i);
  if (g_current == i)
    g_current = -1;
  else if (g_current > i)
    --g_current;
}

// Path of the database file a name gives: the existing file found ignoring
// case, or the name with its default extension for a new one.
std::string databasePath(const std::string& name) {
  std::string path = withDefaultExtension(name), existing;
  return resolveExisting(path, &existing) ? existing : path;
}

// Zero of the value kind a field yields (the result of a failed read).
Arg zeroOf(const Field& f) {
  Arg a;
  a.kind = valueKindOf(f.kind);
  return a;
}

// The field a ReadField argument names; fatal when there is none.
const Field& fieldArg(Table& t, const Arg* a) {
  int idx = -1;
  double d;
  if (a && a->kind == rt::kText) {
    idx = t.fieldIndex(rt::textValue(*a));
  } else if (a && rt::numericValue(*a, &d)) {
    int32_t n = toInt32(d);
    idx = n >= 1 && size_t(n) <= t.fields().size() ? n - 1 : -1;
  } else {
    rt::raiseRuntimeError(11);
  }
  if (idx < 0) rt::fatalError(GBK("指定字段不存在"));
  return t.fields()[size_t(idx)];
}

}  // namespace

// --- commands ---------------------------------------------------------------

void cmdCreateDatabase(Arg* r, int argc, const Arg* argv) {
  std::string name = textArg(argc, argv, 0);
  if (name.empty()) return setBool(r, kNotFound);
  std::vector<FieldDef> defs;
  const Arg* arr = rt::argAt(argc, argv, 1);
  if (arr && rt::isArray(arr->kind) && rt::elementKind(arr->kind) == rt::kFieldInf) {
    const void* block = rt::pointerValue<void>(*arr);
    int64_t n = block ? rt::arrayCount(block) : 0;
    for (int64_t i = 0; i < n; ++i) {
      const void* e = rt::arrayPointerAt(block, i);
      rt::FieldInf fi{nullptr, 0, 0};
      if (e) std::memcpy(&fi, e, sizeof fi);
      defs.push_back({fi.name ? fi.name : "", fi.kind, fi.size});
    }
  }
  std::string path = databasePath(name), full;
  // Re-creating a table this program has open would pull the file from
  // under it.
  if (os::env().fullPath(path, &full) == kOk && isOpenPath(full)) return setBool(r, kAlreadyOpen);
  setBool(r, createDatabase(path, defs, nullptr));
}

void cmdOpenDatabase(Arg* r, int argc, const Arg* argv) {
  std::string name = textArg(argc, argv, 0);
  if (name.empty()) return setBool(r, kNotFound);
  OpenOptions opt;
  std::string alias = textArg(argc, argv, 1);
  if (const Arg* a = rt::argAt(argc, argv, 2)) {
    double d;
    opt.readOnly = a->kind == rt::kBool ? a->lo != 0 : (rt::numericValue(*a, &d) && d != 0);
  }
  double share;
  if (numberArg(argc, argv, 3, &share)) opt.shareMode = toInt32(share);
  opt.password = textArg(argc, argv, 5);
  std::string path = withDefaultExtension(name), existing;
  if (hasAuxExtension(path)) return setBool(r, kNotDatabase);
  if (const int found = findExisting(path, &existing); found != 1) {
    if (found == kHardware) os::noteIoFault();
    return setBool(r, found < 0 ? found : int(kNotFound));
  }
  std::string full;
  int rc = os::env().fullPath(existing, &full);
  if (rc != kOk) return setBool(r, rc);
  if (isOpenPath(full)) return setBool(r, kAlreadyOpen);
  if (!alias.empty() && !isValidName(alias, 0)) return setBool(r, kBadAlias);
  std::vector<std::string> indexes = rt::textsFrom(argc, argv, 6);
  std::unique_ptr<Table> t;
  rc = Table::open(existing, opt, &t);
  if (rc != kOk) return setBool(r, rc);
  if (indexes.size() > 10) return setBool(r, kTooManyIndexes);
  // No index format exists in this program: a named index cannot be opened.
  if (!indexes.empty()) return setBool(r, kIndexOpenFailed);
  g_open.push_back({std::shared_ptr<Table>(std::move(t)), full, fileTitle(name), alias});
  g_current = int(g_open.size()) - 1;
  setBool(r, kOk);
}

void cmdSetCurrentDatabase(Arg* r, int argc, const Arg* argv) {
  int i = lookup(textArg(argc, argv, 0));
  if (i < 0) return setBool(r, kNotOpened);
  g_current = i;
  setBool(r, kOk);
}

void cmdCloseDatabase(Arg*, int argc, const Arg* argv) {
  setLastError(kOk);
  if (!rt::argAt(argc, argv, 0)) {
    if (g_current < 0) return setLastError(kNoCurrentDatabase);
    return closeAt(g_current);
  }
  int i = lookup(textArg(argc, argv, 0));
  if (i >= 0) closeAt(i);
}

void cmdRecordCount(Arg* r, int, const Arg*) {
  Table* t = cur();
  if (!t) return setLastError(kNoCurrentDatabase), void(*r = rt::makeInt(0));
  int32_t c = 0;
  int rc = t->readCount(&c);
  setLastError(rc);
  *r = rt::makeInt(rc == kOk ? c : 0);
}

void cmdFieldCount(Arg* r, int, const Arg*) {
  Table* t = cur();
  setLastError(t ? kOk : kNoCurrentDatabase);
  *r = rt::makeInt(t ? int32_t(t->fields().size()) : 0);
}

void cmdMoveFirst(Arg*, int, const Arg*) {
  Table* t = cur();
  setLastError(t ? kOk : kNoCurrentDatabase);
  if (t) t->setPosition(0);
}

void cmdMoveTo(Arg* r, int argc, const Arg* argv) {
  Table* t = cur();
  if (!t) return setBool(r, kNoCurrentDatabase);
  double d = 0;
  numberArg(argc, argv, 0, &d);
  int32_t c = 0;
  int rc = t->readCount(&c);
  if (rc != kOk) return setBool(r, rc);
  int64_t p = std::min<int64_t>(int64_t(c) - 1, int64_t(toInt32(d)) - 1);
  t->setPosition(int32_t(p < 0 ? 0 : p));
  setBool(r, kOk);
}

void cmdSkip(Arg* r, int argc, const Arg* argv) {
  Table* t = cur();
  if (!t) return setBool(r, kNoCurrentDatabase);
  double d = 1;
  numberArg(argc, argv, 0, &d);
  int64_t n = toInt32(d);
  if (n == 0) return setBool(r, kOk);
  int32_t c = 0;
  int rc = t->readCount(&c);
  if (rc != kOk) return setBool(r, rc);
  if (n < 0 && (c == 0 || t->position < 0)) return setBool(r, kBeforeFirst);
  if (n > 0 && (c == 0 || t->position >= c)) return setBool(r, kPastLast);
  int64_t p = std::min<int64_t>(c, int64_t(t->position) + n);
  t->setPosition(int32_t(p < -1 ? -1 : p));
  setBool(r, kOk);
}

void cmdReadField(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> keep = curShared();
  Table* t = keep.get();
  if (!t) rt::fatalError(GBK("未指定当前数据库或者指定数据库未打开"));
  const Field& f = fieldArg(*t, rt::argAt(argc, argv, 0));
  if (const uint8_t* rec = t->scanRecord()) {
    setLastError(t->loadValue(f, rec, r));
    return;
  }
  if (t->position < 0) return setLastError(kNoCurrentRecord), void(*r = zeroOf(f));
  std::vector<uint8_t> rec(size_t(t->recordSize()), 0);
  int32_t pos = 0;
  int rc = t->lockCurrent(rec.data(), false, &pos);
  if (rc != kOk) {
    // A position past the last record reads past the end of the file.
    setLastError(rc == kNoCurrentRecord ? kSeekFailed : rc);
    *r = zeroOf(f);
    return;
  }
  rc = t->loadValue(f, rec.data(), r);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(t->unlockRecord(pos));
  setLastError(rc);
}

void cmdAppendRecord(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> t = curShared();
  if (!t) return setBool(r, kNoCurrentDatabase);
  std::vector<const Arg*> v = valueArgs(argc, argv);
  setBool(r, appendRecord(t, v.data(), v.size()));
}

void cmdModifyRecord(Arg* r, int argc, const Arg* argv) {
  Table* t = cur();
  if (!t) return setBool(r, kNoCurrentDatabase);
  std::vector<const Arg*> v = valueArgs(argc, argv);
  setBool(r, t->modify(v.data(), v.size()));
}

namespace {

struct Pair {
  const Field* field;
  const Arg* value;
};

// Evaluates the pairs' values for one record and writes them into `rec`.
[[nodiscard]] int applyPairs(Table& t, const std::vector<Pair>& pairs, uint8_t* rec) {
  std::vector<Arg> vals(pairs.size());
  std::vector<bool> owned(pairs.size());
  int rc = kOk;
  for (size_t i = 0; i < pairs.size(); ++i) {
    bool o;
    vals[i] = evaluate(*pairs[i].value, &o);
    owned[i] = o;
    if (rc == kOk && o && !rt::isBasicKind(vals[i].kind)) rc = kExpressionKind;
    if (rc == kOk && Table::checkValue(*pairs[i].field, vals[i]) != kOk) rc = kValueKindMismatch;
  }
  for (size_t i = 0; i < pairs.size() && rc == kOk; ++i) rc = t.storeValue(*pairs[i].field, vals[i], rec);
  for (size_t i = 0; i < pairs.size(); ++i)
    if (owned[i]) freeResult(vals[i]);
  return rc;
}

// Locks and reads the record the caller holds (followed to where another
// program's pack moved it; -44 when it is gone), lets `change` edit and
// write it, and unlocks: the record-level path of replace and delete. -60
// when the current record is not one inside the file.
template <typename Change>
[[nodiscard]] int changeCurrentRecord(Table& t, Change change) {
  std::vector<uint8_t> rec(size_t(t.recordSize()));
  int32_t pos = 0;
  int rc = t.lockCurrent(rec.data(), true, &pos);
  if (rc != kOk) return rc;
  rc = change(pos, rec.data());
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(t.unlockRecord(pos));
  return rc;
}

}  // namespace

void cmdReplaceFields(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> keep = curShared();
  Table* t = keep.get();
  if (!t) return setBool(r, kNoCurrentDatabase);
  const Arg* cond = rt::argAt(argc, argv, 0);
  std::vector<Pair> pairs;
  static const Arg kOmittedArg{};
  int n = argc > 0 ? (argc - 1) / 2 : 0;
  for (int k = 0; k < n; ++k) {
    const Arg& name = argv[1 + 2 * k];
    if (name.kind != rt::kText) rt::raiseRuntimeError(11);
    int idx = t->fieldIndex(rt::textValue(name));
    if (idx < 0) continue;
    const Arg* v = rt::argAt(argc, argv, 2 + 2 * k);
    pairs.push_back({&t->fields()[size_t(idx)], v ? v : &kOmittedArg});
  }
  if (!cond) {
    return setBool(r, changeCurrentRecord(*t, [&](int32_t pos, uint8_t* rec) {
                     const std::vector<uint8_t> before(rec, rec + t->recordSize());
                     // The values are worked out from the record as read under its lock
                     // (a field read in a value expression reads it there, as in a scan):
                     // no second reading that could fail, or find it changed.
                     const uint8_t* stepped = t->stepOn(before.data());
                     int rc = applyPairs(*t, pairs, rec);
                     t->stepOn(stepped);
                     if (rc == kOk) rc = t->writeRecordBody(pos, rec);
                     t->settleChains(before.data(), rec, rc == kOk);
                     return rc;
                   }));
  }
  std::vector<uint8_t> before(size_t(t->recordSize()));
  int rc = t->scan(0, true, [&](int32_t pos, uint8_t* rec) {
    if (!condition(*cond)) return 0;
    std::memcpy(before.data(), rec, before.size());
    int e = applyPairs(*t, pairs, rec);
    if (e == kOk) e = t->writeRecordBody(pos, rec);
    t->settleChains(before.data(), rec, e == kOk);
    return e;
  });
  setBool(r, rc);
}

void cmdFindRecord(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> keep = curShared();
  Table* t = keep.get();
  if (!t) return setBool(r, kNoCurrentDatabase);
  const Arg* c = rt::argAt(argc, argv, 0);
  static const Arg kOmittedArg{};
  const Arg& cond = c ? *c : kOmittedArg;
  int32_t found = -1;
  int rc = t->scanToRead(t->position, false, [&](int32_t pos, uint8_t*) {
    if (!condition(cond)) return 0;
    found = pos;
    return 1;
  });
  if (rc == 1) {
    t->setPosition(found);
    return setBool(r, kOk);
  }
  setLastError(rc);
  *r = rt::makeBool(false);
}

void cmdSumRecords(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> keep = curShared();
  Table* t = keep.get();
  *r = rt::makeDouble(0);
  if (!t) return setLastError(kNoCurrentDatabase);
  static const Arg kOmittedArg{};
  const Arg* v = rt::argAt(argc, argv, 0);
  const Arg& value = v ? *v : kOmittedArg;
  const Arg* cond = rt::argAt(argc, argv, 1);
  double sum = 0;
  int rc = t->scanToRead(0, true, [&](int32_t, uint8_t*) {
    if (cond && !condition(*cond)) return 0;
    bool owned;
    Arg x = evaluate(value, &owned);
    double d;
    if (!rt::numericValue(x, &d)) {
      if (owned) freeResult(x);
      rt::raiseRuntimeError(11);
    }
    sum += d;
    return 0;
  });
  setLastError(rc);
  *r = rt::makeDouble(rc == kOk ? sum : 0);
}

void cmdDeleteRecords(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> keep = curShared();
  Table* t = keep.get();
  if (!t) return setBool(r, kNoCurrentDatabase);
  const Arg* cond = rt::argAt(argc, argv, 0);
  if (!cond) {
    return setBool(r, changeCurrentRecord(*t, [&](int32_t pos, uint8_t* rec) {
                     int32_t h = getI32(rec);
                     if (h <= 0) return int(kOk);
                     int rc = t->writeRecordHeader(pos, -h);
                     if (rc == kOk) t->heldHeaderChanged(-h);
                     return rc;
                   }));
  }
  int rc = t->scan(0, true, [&](int32_t pos, uint8_t* rec) {
    if (!condition(*cond)) return 0;
    int32_t h = getI32(rec);
    if (h <= 0) return 0;
    putI32(rec, -h);
    return t->writeRecordHeader(pos, -h);
  });
  setBool(r, rc);
}

void cmdPackDatabase(Arg* r, int, const Arg*) {
  Table* t = cur();
  setBool(r, t ? t->pack() : int(kNoCurrentDatabase));
}

void cmdZapDatabase(Arg* r, int, const Arg*) {
  Table* t = cur();
  setBool(r, t ? t->zap() : int(kNoCurrentDatabase));
}

void cmdCopyRecords(Arg* r, int argc, const Arg* argv) {
  std::shared_ptr<Table> keep = curShared();
  Table* src = keep.get();
  if (!src) return setBool(r, kNoCurrentDatabase);
  std::string name = textArg(argc, argv, 0);
  if (name.empty()) return setBool(r, kNotFound);
  // The source's own auxiliary file above all must not be made a table.
  if (hasAuxExtension(withDefaultExtension(name))) return setBool(r, kBadPath);
  const Arg* cond = rt::argAt(argc, argv, 1);
  std::vector<int> chosen;
  for (const std::string& n : rt::textsFrom(argc, argv, 2)) {
    int idx = src->fieldIndex(n);
    if (idx >= 0) chosen.push_back(idx);
  }
  if (chosen.empty())
    for (size_t i = 0; i < src->fields().size(); ++i) chosen.push_back(int(i));
  std::vector<FieldDef> defs;
  for (int i : chosen) {
    const Field& f = src->fields()[size_t(i)];
    defs.push_back({f.name, f.kind, f.size});
  }
  // A damaged source can carry a field without a name; no new table can be
  // made with it (an empty name ends a field list).
  for (const FieldDef& d : defs)
    if (d.name.empty()) return setBool(r, kBadFieldName);
  std::string path = databasePath(name), full;
  // Copying onto an open table (the source itself above all) would
  // destroy it while it is being read.
  if (os::env().fullPath(path, &full) == kOk && isOpenPath(full)) return setBool(r, kAlreadyOpen);
  const Header& sh = src->header();
  int rc = createDatabase(path, defs, sh.protectedFile ? &sh.digest : nullptr);
  if (rc != kOk) return setBool(r, rc);
  OpenOptions opt;
  opt.shareMode = kDenyAll;
  opt.checkPassword = false;
  std::unique_ptr<Table> dst;
  if ((rc = Table::open(path, opt, &dst)) != kOk) return setBool(r, rc);
  // The copy must have exactly the chosen fields, or records would be laid
  // out against the wrong descriptors.
  if (dst->fields().size() != chosen.size()) return setBool(r, kCreateFailed);
  const size_t drs = size_t(dst->recordSize());
  const size_t batch = std::max<size_t>(1, size_t(kScanBatchBytes) / drs);
  std::vector<uint8_t> out;
  out.reserve(batch * drs);
  int32_t written = 0, flushedAt = 0;
  rc = src->scanToRead(0, true, [&](int32_t, uint8_t* rec) {
    if (cond && !condition(*cond)) return 0;
    size_t at = out.size();
    out.resize(at + drs, 0);
    uint8_t* d = out.data() + at;
    putI32(d, getI32(rec) < 0 ? -(written + 1) : written + 1);
    for (size_t k = 0; k < chosen.size(); ++k) {
      const Field& sf = src->fields()[size_t(chosen[k])];
      const Field& df = dst->fields()[k];
      if (isChainKind(sf.kind)) {
        int e = src->copyChain(sf, rec, *dst, df, d);
        if (e != kOk) return e;
      } else {
        std::memcpy(d + df.offset, rec + sf.offset, size_t(sf.width));
      }
    }
    ++written;
    if (out.size() >= batch * drs) {
      int e = dst->writeRecords(flushedAt, out.data(), out.size() / drs);
      if (e != kOk) return e;
      flushedAt = written;
      out.clear();
    }
    return 0;
  });
  if (rc == kOk) rc = dst->writeRecords(flushedAt, out.data(), out.size() / drs);
  if (rc == kOk) {
    int32_t next = written + 1;
    rc = dst->writeCountSerial(written, &next);
  }
  setBool(r, rc);
}

// False with the look's error code as the last error when the folder
// could not be read: callers that act on "not there" must check it.
void cmdFileExists(Arg* r, int argc, const Arg* argv) {
  const int there = fileExistsLike(textArg(argc, argv, 0));
  if (there == kHardware) os::noteIoFault();
  setLastError(there < 0 ? there : int(kOk));
  *r = rt::makeBool(there == 1);
}

}  // namespace calls

using namespace calls;

int32_t scanSerial() {
  const Table* t = cur();
  const uint8_t* rec = t ? t->scanRecord() : nullptr;
  return rec ? getI32(rec) : 0;
}

bool steppingRecord() {
  const Table* t = cur();
  return t && t->scanRecord();
}

int readTableState(TableState* out) {
  *out = TableState{};
  {
    EngineCall call;
    Table* t = cur();
    int rc = t ? t->readCountSerial(&out->count, &out->nextSerial) : int(kNoCurrentDatabase);
    if (rc == kOk) out->path = t->path();
    setLastError(rc);
  }
  if (lastError() != kOk) *out = TableState{};
  return lastError();
}

int movePastLast() {
  {
    EngineCall call;
    Table* t = cur();
    int32_t count = 0;
    const int rc = t ? t->readCount(&count) : int(kNoCurrentDatabase);
    // Without the count no record is current all the same.
    if (t) t->setPosition(rc == kOk ? count : -1);
    setLastError(rc);
  }
  return lastError();
}

int moveToRecord(int32_t serial, int32_t hint) {
  Table* t = cur();
  if (!t) {
    setLastError(kNoCurrentDatabase);
    return kNoCurrentDatabase;
  }
  t->holdSerial(hint, serial);
  setLastError(kOk);
  return kOk;
}

int readCurrentRecord(RecordValues* out) {
  out->serial = 0;
  out->values.clear();
  {
    EngineCall call;
    std::shared_ptr<Table> keep = curShared();
    Table* t = keep.get();
    int rc = t ? kOk : int(kNoCurrentDatabase);
    std::vector<uint8_t> rec(t ? size_t(t->recordSize()) : 0);
    int32_t pos = 0;
    if (rc == kOk) rc = t->lockCurrent(rec.data(), false, &pos);
    if (rc == kOk) {
      // Marked deleted by anyone: gone for the operator, whatever its serial.
      if (getI32(rec.data()) < 0) rc = kNoRecord;
      for (const Field& f : t->fields()) {
        if (rc != kOk) break;
        Arg v;
        rc = t->loadValue(f, rec.data(), &v);
        out->values.emplace_back(v);
      }
      // A lock a failed unlock left goes when the handle is closed or dropped.
      static_cast<void>(t->unlockRecord(pos));
      out->serial = getI32(rec.data());
      out->position = pos;
    }
    setLastError(rc);
  }
  // The call's end says -11 when the folder dropped meanwhile.
  if (lastError() != kOk) {
    out->serial = 0;
    out->values.clear();
  }
  return lastError();
}

bool fieldTextEquals(const char* field, const std::string& gbk) {
  std::shared_ptr<Table> keep = curShared();
  Table* t = keep.get();
  if (!t) rt::fatalError(GBK("未指定当前数据库或者指定数据库未打开"));
  Arg name = rt::makeTextRef(field);
  const Field& f = fieldArg(*t, &name);
  if (f.kind != kFText) {
    // Not a fixed text: compare what ReadField would give.
    Arg v;
    Arg argv[1] = {name};
    cmdReadField(&v, 1, argv);
    bool eq = v.kind == rt::kText && gbk == rt::textValue(v);
    freeResult(v);
    return eq;
  }
  if (const uint8_t* rec = t->scanRecord()) return t->textEquals(f, rec, gbk);
  Arg v;
  Arg argv[1] = {name};
  cmdReadField(&v, 1, argv);
  bool eq = gbk == rt::textValue(v);
  freeResult(v);
  return eq;
}

int scanField(const char* name) {
  const Table* t = cur();
  return t && name ? t->fieldIndex(name) : -1;
}

namespace {

// Field `index` of the record being stepped, or null.
const Field* steppedField(int index, const uint8_t** rec) {
  Table* t = cur();
  if (!t || index < 0 || size_t(index) >= t->fields().size()) return nullptr;
  *rec = t->scanRecord();
  return *rec ? &t->fields()[size_t(index)] : nullptr;
}

}  // namespace

bool scanNumber(int index, double* out) {
  const uint8_t* rec = nullptr;
  const Field* f = steppedField(index, &rec);
  // Texts, memos and byte-sets would need a heap copy and are no numbers.
  if (!f || f->kind == kFText || f->kind == kFMemo || f->kind == kFBytes) return false;
  Arg v;
  if (cur()->loadValue(*f, rec, &v) != kOk) return false;
  return rt::numericValue(v, out);
}

bool scanValue(int index, Arg* out) {
  const uint8_t* rec = nullptr;
  const Field* f = steppedField(index, &rec);
  if (!f || f->kind == kFText || f->kind == kFMemo || f->kind == kFBytes) return false;
  return cur()->loadValue(*f, rec, out) == kOk;
}

bool scanText(int index, std::string_view* out) {
  const uint8_t* rec = nullptr;
  const Field* f = steppedField(index, &rec);
  if (!f || f->kind != kFText) return false;
  const char* p = reinterpret_cast<const char*>(rec + f->offset);
  *out = std::string_view(p, strnlen(p, size_t(f->size)));
  return true;
}

}  // namespace db
