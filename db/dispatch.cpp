// The machinery every database command runs through (dispatch.h): the
// open-database list, argument conversion, the engine call each command
// is made as, append-batch leases, change marks for the tables a call
// wrote, and the table that registers each command entry.
#include "db/dispatch.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "db/changes.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/os.h"
#include "db/table.h"
#include "runtime/builtins.h"
#include "runtime/commands.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace db {
namespace calls {

std::vector<OpenDb> g_open;
int g_current = -1;

Table* cur() { return g_current >= 0 ? g_open[size_t(g_current)].table.get() : nullptr; }
std::shared_ptr<Table> curShared() { return g_current >= 0 ? g_open[size_t(g_current)].table : nullptr; }

std::string textArg(int argc, const Arg* argv, int i) {
  const Arg* a = rt::argAt(argc, argv, i);
  return a && a->kind == rt::kText ? std::string(rt::textValue(*a)) : std::string();
}

bool numberArg(int argc, const Arg* argv, int i, double* out) {
  const Arg* a = rt::argAt(argc, argv, i);
  return a && rt::numericValue(*a, out);
}

int32_t toInt32(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return INT32_MAX;
  if (d <= -2147483648.0) return INT32_MIN;
  return int32_t(d);
}

void setBool(Arg* r, int rc) {
  setLastError(rc);
  *r = rt::makeBool(rc == kOk);
}

void freeResult(const Arg& a) {
  if (a.kind == rt::kText || a.kind == rt::kBytes || rt::isArray(a.kind)) rt::free(rt::pointerValue<void>(a));
}

Arg evaluate(const Arg& a, bool* owned) {
  *owned = a.kind == rt::kExpr;
  return a.kind == rt::kExpr ? rt::evalExpression(a) : a;
}

bool condition(const Arg& c) {
  bool owned;
  Arg r = evaluate(c, &owned);
  if (r.kind != rt::kBool) {
    if (owned) freeResult(r);
    rt::fatalError(GBK("用作进行条件判断的子语句参数只能接受逻辑型数据"));
  }
  return r.lo != 0;
}

std::vector<const Arg*> valueArgs(int argc, const Arg* argv) {
  std::vector<const Arg*> v(size_t(std::max(argc, 0)));
  for (int i = 0; i < argc; ++i) v[size_t(i)] = rt::argAt(argc, argv, i);
  return v;
}

}  // namespace calls

using namespace calls;

namespace {

// --- append batches -----------------------------------------------------
//
// While an AppendBatch is open, the table appended to last keeps its
// header lock between appends (the lease) and gathers its records. The
// outermost engine call of anything but another append to that table
// first ends the lease: the records and the count are written, the lock
// released, and the call that ends then gives the table its change mark.
// A lease write that failed is the batch's error: every later write of
// the batch is refused with it, and AppendBatch::finish() returns it.

int g_batchDepth = 0;
int g_batchError = 0;
bool g_appendCall = false;  // the engine call being made is an AppendRecord
std::shared_ptr<Table> g_lease;

[[nodiscard]] int endLease() {
  if (!g_lease) return kOk;
  const int rc = g_lease->endBatch();
  g_lease.reset();
  if (rc != kOk && g_batchError == kOk) g_batchError = rc;
  return rc;
}

void shutdownHook() {
  // The program is ending: a batch's records that cannot be written now
  // are lost either way, and nobody is left to tell.
  static_cast<void>(endLease());
  g_open.clear();
  g_current = -1;
}

std::once_flag g_once;
int g_callDepth = 0;
uint64_t g_outerFaults = 0;        // I/O faults when the outermost call began
std::set<std::string> g_unmarked;  // tables written whose mark is still to write

// Every table written since its last mark gets its new one (db/changes.h);
// one whose mark cannot be written now is marked by the next call that can
// (its name is kept). While the folder is away nothing more is tried (each
// try could wait out the share's time-out).
void markWrittenTables(bool reachable) {
  // The folder's mark file was found deleted or replaced: marks this
  // program wrote into the old one reached nobody, so every open table is
  // marked anew.
  static uint64_t epochSeen = 0;
  if (reachable && changeEpoch() != epochSeen) {
    epochSeen = changeEpoch();
    for (OpenDb& d : g_open)
      if (!d.table->readOnly()) g_unmarked.insert(d.table->path());
  }
  for (OpenDb& d : g_open) {
    // A table in an append batch is marked when the batch lets it go.
    if (!d.table->wroteSinceBump() || d.table == g_lease) continue;
    uint64_t expect = 0, mark = 0;
    const bool awaiting = d.table->copyAwaitsMark(&expect);
    bool unchanged = false;
    const uint64_t faults = os::ioFaults();
    if (reachable && bumpChange(d.table->path(), awaiting ? &expect : nullptr, &unchanged, &mark) != kOk &&
        os::ioFaults() == faults) {
      // The folder answers but its mark file may not be written here (made
      // by another account, read-only): the table's own next serial is
      // moved on instead, which every kept copy of it is checked against.
      if (d.table->advanceSerial() != kOk) g_unmarked.insert(d.table->path());
    } else if (!reachable || os::ioFaults() != faults) {
      g_unmarked.insert(d.table->path());
    }
    d.table->markSettled(unchanged, mark);
    d.table->noteBumped();
  }
  for (auto it = g_unmarked.begin(); reachable && it != g_unmarked.end();)
    it = bumpChange(*it) == kOk ? g_unmarked.erase(it) : std::next(it);
}

}  // namespace

int calls::appendRecord(const std::shared_ptr<Table>& t, const Arg* const* values, size_t n) {
  const bool batched = g_batchDepth > 0;
  // One table holds the lease at a time (an append nested in another
  // engine call did not end the lease of another table on entry).
  if (batched && g_lease && g_lease != t && endLease() != kOk) return g_batchError;
  const int rc = t->append(values, n, batched);
  if (batched) {
    if (t->inBatch())
      g_lease = t;
    else if (rc != kOk && g_batchError == kOk)
      g_batchError = rc;
  }
  return rc;
}

// --- folders that drop --------------------------------------------------------
//
// The outermost engine call (a command, or a scan module code runs) first
// opens again the current table when an I/O error dropped it. When the call
// met an I/O error (os::ioFaults() moved), every open table drops its
// handle, so that no lock taken before the folder dropped (or whose release
// failed) is still held when it comes back; a call that failed reports
// -11, so the operator is told the folder could not be reached rather than
// that a record or a lock was at fault. Calls nest (a scan's expression
// reads fields): only the outermost does either.

EngineCall::EngineCall() : outermost_(g_callDepth++ == 0), faultsBefore_(os::ioFaults()) {
  if (!outermost_) return;
  g_outerFaults = faultsBefore_;
  // A lease that fails to end is the batch's error, which finish() reports.
  if (g_lease && !(g_appendCall && g_batchDepth > 0 && cur() == g_lease.get())) static_cast<void>(endLease());
  // A table that does not open again stays dropped: the call's first access
  // to it fails with -11 and says so.
  if (Table* t = cur(); t && t->dropped()) static_cast<void>(t->reopen());
}

EngineCall::~EngineCall() {
  --g_callDepth;
  if (!outermost_) return;
  // Every table this call wrote gets a new change mark before the call
  // returns, so that another workstation's next reading of it does not take
  // a copy kept from before. The last error of the call is kept.
  if (g_lease && g_batchDepth == 0) static_cast<void>(endLease());  // its error is the batch's
  const int callError = lastError();
  markWrittenTables(os::ioFaults() == faultsBefore_);
  setLastError(callError);
  if (os::ioFaults() == faultsBefore_) return;
  for (OpenDb& d : g_open) d.table->drop();
  if (g_lease) {
    g_lease.reset();  // its lock went with the handle; what it gathered is lost
    if (g_batchError == kOk) g_batchError = kHardware;
  }
  dropChangeFiles();
  if (lastError() != kOk) setLastError(kHardware);
}

namespace {

// Each command runs as one engine call.
template <void (*F)(Arg*, int, const Arg*)>
void asOneCall(Arg* r, int argc, const Arg* argv) {
  EngineCall call;
  F(r, argc, argv);
}

// A command that writes: refused inside a batch whose writing failed, so
// that nothing is written on top of records that are not there.
template <void (*F)(Arg*, int, const Arg*)>
void asWritingCall(Arg* r, int argc, const Arg* argv) {
  g_appendCall = F == cmdAppendRecord;
  EngineCall call;
  g_appendCall = false;
  if (g_batchDepth > 0 && g_batchError != kOk) return setBool(r, g_batchError);
  F(r, argc, argv);
}

}  // namespace

void registerDatabaseCommands() {
  std::call_once(g_once, [] {
    using rt::Cmd;
    rt::registerCommand(Cmd::OpenDatabase, asOneCall<cmdOpenDatabase>);
    rt::registerCommand(Cmd::SetCurrentDatabase, asOneCall<cmdSetCurrentDatabase>);
    rt::registerCommand(Cmd::MoveFirst, asOneCall<cmdMoveFirst>);
    rt::registerCommand(Cmd::ReadField, asOneCall<cmdReadField>);
    rt::registerCommand(Cmd::FindRecord, asOneCall<cmdFindRecord>);
    rt::registerCommand(Cmd::RecordCount, asOneCall<cmdRecordCount>);
    rt::registerCommand(Cmd::MoveTo, asOneCall<cmdMoveTo>);
    rt::registerCommand(Cmd::ModifyRecord, asWritingCall<cmdModifyRecord>);
    rt::registerCommand(Cmd::AppendRecord, asWritingCall<cmdAppendRecord>);
    rt::registerCommand(Cmd::FieldCount, asOneCall<cmdFieldCount>);
    rt::registerCommand(Cmd::Skip, asOneCall<cmdSkip>);
    rt::registerCommand(Cmd::SumRecords, asOneCall<cmdSumRecords>);
    rt::registerCommand(Cmd::FileExists, asOneCall<cmdFileExists>);
    rt::registerCommand(Cmd::DeleteRecords, asWritingCall<cmdDeleteRecords>);
    rt::registerCommand(Cmd::PackDatabase, asWritingCall<cmdPackDatabase>);
    rt::registerCommand(Cmd::ReplaceFields, asWritingCall<cmdReplaceFields>);
    rt::registerCommand(Cmd::CreateDatabase, asWritingCall<cmdCreateDatabase>);
    rt::registerCommand(Cmd::ZapDatabase, asWritingCall<cmdZapDatabase>);
    rt::registerCommand(Cmd::CloseDatabase, asOneCall<cmdCloseDatabase>);
    rt::registerCommand(Cmd::CopyRecords, asWritingCall<cmdCopyRecords>);
    rt::addShutdownHook(shutdownHook);
  });
}

Table* currentTable() { return cur(); }

namespace {

// Runs `body` as one engine call between `lock` and `unlock` of the
// current table (see holdCurrentRecord); the last error `body` left stays.
[[nodiscard]] int holding(const std::function<int(Table&)>& lock, const std::function<void(Table&)>& unlock,
                          const std::function<int()>& body) {
  int rc = kOk;
  {
    EngineCall call;
    std::shared_ptr<Table> keep = curShared();
    if (!keep) {
      setLastError(kNoCurrentDatabase);
      return kNoCurrentDatabase;
    }
    if ((rc = lock(*keep)) != kOk) {
      setLastError(rc);
    } else {
      rc = body();
      const int last = lastError();
      unlock(*keep);
      setLastError(last);
    }
  }
  // A lock or read that failed because the folder dropped is said as such
  // (the call's end turned the last error into -11), not as the lock's own
  // code: the operator is told the folder is away, not that the table is
  // in use.
  if (rc < 0 && lastError() == kHardware) rc = kHardware;
  return rc;
}

}  // namespace

int holdCurrentRecord(const std::function<int()>& body) {
  int32_t pos = 0;
  return holding(
      [&](Table& t) {
        std::vector<uint8_t> rec(size_t(t.recordSize()));
        return t.lockCurrent(rec.data(), true, &pos);
      },
      // A lock a failed unlock left goes when the handle is closed or dropped.
      [&](Table& t) { static_cast<void>(t.unlockRecord(pos)); }, body);
}

int holdHeader(const std::function<int()>& body) {
  return holding([](Table& t) { return t.lockHeader(); }, [](Table& t) { static_cast<void>(t.unlockHeader()); },
                 body);  // an unlock that fails: as in holdCurrentRecord
}

void markWritten() {
  const int last = lastError();
  markWrittenTables(os::ioFaults() == g_outerFaults);
  setLastError(last);
}

void closeAllDatabases() {
  // A lease that fails to end is the batch's error, which finish() reports.
  static_cast<void>(endLease());
  g_open.clear();
  g_current = -1;
  // The counter files are found by the tables' paths, which may be relative
  // to a working directory that changes once no table is open.
  dropChangeFiles();
}

AppendBatch::AppendBatch() { ++g_batchDepth; }

// The result is lost here, as engine.h says: callers that care call finish().
AppendBatch::~AppendBatch() { static_cast<void>(finish()); }

int AppendBatch::finish() {
  if (finished_) return kOk;
  finished_ = true;
  if (--g_batchDepth > 0) return kOk;  // the outermost batch reports
  {
    EngineCall call;  // ends the lease, marks the table, drops on I/O errors
  }
  const int rc = g_batchError;
  g_batchError = kOk;
  return rc;
}

}  // namespace db
