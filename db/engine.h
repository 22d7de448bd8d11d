// The table engine's public surface for the rest of the program.
//
// registerDatabaseCommands() installs the database commands in the
// runtime's command table (OpenDatabase, SetCurrentDatabase, MoveFirst,
// ReadField, FindRecord, RecordCount, MoveTo, ModifyRecord, AppendRecord,
// FieldCount, Skip, SumRecords, FileExists, DeleteRecords, PackDatabase,
// ReplaceFields, CreateDatabase, ZapDatabase, CloseDatabase, CopyRecords).
// EditRecords belongs to the record-edit dialog and is not installed here.
//
// The commands work on one process-wide list of open databases and its
// current database; they run on the window thread. Each database command
// clears the calling thread's last error on entry and stores its own code
// (db/errors.h); engine errors never end the program. Only a field read
// with no current database or of a field that does not exist, a condition
// that does not yield a bool, a field name in ReplaceFields that is not
// text and a non-numeric value in SumRecords take the fatal path.
//
// Index files: the program opens none and their format is not defined, so
// OpenDatabase accepts up to 10 index names (more: -34) and fails with -30
// for any index named.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/errors.h"
#include "runtime/facade.h"
#include "runtime/value.h"

namespace db {

class Table;

// Idempotent.
void registerDatabaseCommands();

// The current database (null when none): for kdbtool and tests. Owned by
// the open-database list; valid until it is closed.
Table* currentTable();

// Closes every open database (the list is left empty, none current).
void closeAllDatabases();

// One engine call, as every database command runs: the outermost call
// opens again the current table when an I/O error dropped it, and when it
// met an I/O error itself drops the handles (and locks) of every open
// table, to be opened again on next use; a call that failed then reports
// -11. Module code that scans the current table itself (db::forEachRecord)
// runs inside one too. Window thread only.
class EngineCall {
 public:
  EngineCall();
  ~EngineCall();
  EngineCall(const EngineCall&) = delete;
  EngineCall& operator=(const EngineCall&) = delete;

 private:
  bool outermost_;
  uint64_t faultsBefore_;
};

// A run of appends made as one step (the demo year's lines, a tool's
// import, a benchmark's million lines): while one is open, consecutive
// AppendRecord calls to one table keep that table's header lock and, for
// a table without memo or byte-set fields, gather their records, written
// out in one write with the count after them whenever about 1 MB has
// gathered and when the run ends. The first append reads the count and
// checks the file's length as ever; each later one makes no file call
// (with memo fields: the record and the count, two calls).
//
// The run ends (records and count written, lock released, the table's
// change mark given) at the next engine call that is not an append to
// the same table, and at finish(). Meanwhile every other handle of that
// table (this program's other windows, other workstations) waits for the
// header lock: a batch never spans a dialog or anything else waiting on
// the operator, only a loop of appends.
//
// An append inside the batch reports that its record was taken; finish()
// reports whether every record was written: 0, or the first error (the
// gathered records not written are not in the table; their count was not
// raised). After such an error every writing command of the batch is
// refused with it. Batches nest: the outermost reports. Window thread
// only; the destructor finishes a batch not finished (its result lost:
// call finish()).
class AppendBatch {
 public:
  AppendBatch();
  ~AppendBatch();
  AppendBatch(const AppendBatch&) = delete;
  AppendBatch& operator=(const AppendBatch&) = delete;
  [[nodiscard]] int finish();

 private:
  bool finished_ = false;
};

// Gives every table written since its last change mark its new mark now,
// as the end of the outermost engine call does: for an engine call that
// stays open while the operator works (the record-edit dialog), so that
// each correction saved is seen by other workstations at once. The last
// engine error is kept.
void markWritten();

// Runs `body` as one engine call while the current record of the current
// database stays locked for writing (the record the caller holds, followed
// to where another program's pack moved it; -44 when it is gone): the
// commands `body` runs take that lock again and leave it held, so a change
// of the record and what is written with it elsewhere (an entry appended
// to another table) happen while no other program can change the record.
// Returns the lock's code when it could not be taken (`body` not run),
// otherwise what `body` returns. I/O errors drop the handles only once the
// lock is released, as at the end of any engine call.
[[nodiscard]] int holdCurrentRecord(const std::function<int()>& body);
// The same with the current database's header lock (the lock an append
// takes while it counts the new record in): no other program counts, and
// so reaches, a record appended in `body` before `body` has returned.
[[nodiscard]] int holdHeader(const std::function<int()>& body);

// --- records by serial ---------------------------------------------------------
//
// Every record carries a serial that no other record of its table has ever
// had and that a pack does not change: a list row that remembers the serial
// of the record it shows names that record whatever other workstations
// append, delete or pack after it was listed.

// The serial of the record being stepped by db::forEachRecord (negative
// when it is marked deleted); 0 when no record is being stepped.
int32_t scanSerial();
// Whether a record of the current database is being stepped (field reads
// then read it from the scan, without a call to the file).
bool steppingRecord();

// Makes the record with `serial` the current record of the current
// database, looked for first at record position `hint` (0-based, where the
// list saw it). Nothing is read here: the next access to the record checks
// its serial under the record's lock and follows the record to where a pack
// moved it, or fails with -44 (kNoRecord) when it is gone. -67 with no
// current database (the last engine error is set to the result).
[[nodiscard]] int moveToRecord(int32_t serial, int32_t hint);

// The current database's state in one read: its path, record count and
// next serial. Two states alike name the same records unless one was
// changed in place: an append moves the count and the serial, a pack the
// count, and the serial never goes back. 0, -67 with no current database,
// or the read's code (the last engine error is set to the result).
struct TableState {
  std::string path;
  int32_t count = 0, nextSerial = 0;
  bool operator==(const TableState&) const = default;
};
[[nodiscard]] int readTableState(TableState* out);

// Leaves the current database with no record current: the position past
// its last record, as MoveTo(RecordCount()) and Skip(1) leave it, in one
// engine call and one count read. 0, -67 with no current database, or the
// count read's code (no record is current then either: the position is
// before the first). The last engine error is set to the result.
[[nodiscard]] int movePastLast();

// The current record of the current database read once, as one engine
// call, under its record lock: its serial and every field's value in field
// order (texts and byte-sets owned by the Results). 0, or the engine's code:
// -44 when the record another program removed or marked deleted since the
// caller moved to it (a record marked deleted is no record to show or act
// on), -60/-61 with no record current, lock and read errors. On failure
// `out` is left empty.
struct RecordValues {
  int32_t serial = 0;
  int32_t position = 0;  // 0-based, where it was found
  std::vector<rt::Result> values;
};
[[nodiscard]] int readCurrentRecord(RecordValues* out);

// While one lives, the next single append (not one inside an AppendBatch)
// to any table calls `taken` with the serial its record is to carry, once
// that serial is the table's under its header lock and before anything is
// written: the caller notes it where it survives a crash or a lost reply,
// so that whether the record landed can be asked later by its serial
// (moveToRecord) however the append ends. Called at most once; a `taken`
// that returns false refuses the append (nothing written; -63). Window
// thread only; they do not nest.
class SerialWatch {
 public:
  explicit SerialWatch(std::function<bool(int32_t)> taken);
  ~SerialWatch();
  SerialWatch(const SerialWatch&) = delete;
  SerialWatch& operator=(const SerialWatch&) = delete;
};

// How many writes so far reported a failure and then could not be read
// back: whether they landed is not known (a reply lost while the folder
// went away). A caller whose write failed compares the count from before:
// unchanged, the failure is certain and nothing of the write is in the
// file; moved on, the file must be asked again once it can be read.
uint64_t uncertainWrites();

// Fast route for conditions that compare a text field with a constant:
// reads the record being scanned (or the current record) like ReadField,
// without making a heap copy. Fatal errors as ReadField.
bool fieldTextEquals(const char* field, const std::string& gbk);

// Fast routes for a step of db::forEachRecord that reads the same fields
// of every record: a field of the current table is looked up once
// (scanField: its index, -1 when the table has no such field), then read
// from the record being stepped without a command call or a heap copy.
// Both reads answer false when no record is being stepped or the field is
// not of their kind; the caller then reads it with ReadField, which fails
// as it always does.
int scanField(const char* name);
// A numeric field's value as ReadField gives it.
bool scanNumber(int index, double* out);
// A fixed-text field's text: a view into the scan buffer, valid for the
// step.
bool scanText(int index, std::string_view* out);
// Any other field held in the record itself (numbers, dates, logicals) as
// the value ReadField gives; false for texts, memos and byte-sets.
bool scanValue(int index, rt::Arg* out);

}  // namespace db
