// How a database command runs, shared by the command entries
// (commands.cpp) and the machinery around them (dispatch.cpp). Internal
// to db/: module code reaches the commands through the command table
// (db/facade.h) and the engine's own calls (db/engine.h).
//
// dispatch.cpp holds what every command has in common: the open-database
// list, the conversion of argument records, the last-error setting of a
// command's result, the engine call each command runs as (reopening a
// dropped table, marks for the tables written, dropping every handle after
// an I/O error), the append batch's header-lock lease, and the table that
// registers each entry with the runtime.
//
// The list owns its tables through shared pointers, so a scan keeps its
// table alive even when the expression it runs closes the database. All
// of it is window-thread state; nothing here throws except the runtime's
// fatal path named below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/value.h"

namespace db {

class Table;

namespace calls {

using rt::Arg;

// --- the open-database list --------------------------------------------------

struct OpenDb {
  std::shared_ptr<Table> table;
  std::string fullPath;
  std::string title;
  std::string alias;
};

// Oldest first; g_current is the index of the current database, -1 = none.
extern std::vector<OpenDb> g_open;
extern int g_current;

Table* cur();
std::shared_ptr<Table> curShared();

// --- arguments and results ---------------------------------------------------

// The text of argument i, "" when it is missing or not a text.
std::string textArg(int argc, const Arg* argv, int i);
// Argument i as a number; false when it is missing or not numeric.
bool numberArg(int argc, const Arg* argv, int i, double* out);
// Truncation toward zero, saturating at the int32 range; NaN gives 0.
int32_t toInt32(double d);
// Values for fields 1, 2, ... from the argument list (null where omitted).
std::vector<const Arg*> valueArgs(int argc, const Arg* argv);

// Stores `rc` as the last error and the command's result as rc == 0.
void setBool(Arg* r, int rc);
// Frees the heap block a result record may carry.
void freeResult(const Arg& a);
// An expression argument is run; a plain value stands for itself. The
// result of a run belongs to the caller (*owned = true).
Arg evaluate(const Arg& a, bool* owned);
// A condition argument's value; a result that is not a bool takes the
// fatal path.
bool condition(const Arg& c);

// --- append batches -------------------------------------------------------------

// Appends a record to `t` (the current table) from per-field values,
// inside the open AppendBatch if there is one: the table then takes the
// batch's header-lock lease from any other table (whose gathered records
// are written first; a failure there is returned and is the batch's
// error), and a failed append becomes the batch's error. The append's
// code otherwise.
[[nodiscard]] int appendRecord(const std::shared_ptr<Table>& t, const Arg* const* values, size_t n);

// --- the command entries (commands.cpp) -----------------------------------------

void cmdCreateDatabase(Arg* r, int argc, const Arg* argv);
void cmdOpenDatabase(Arg* r, int argc, const Arg* argv);
void cmdSetCurrentDatabase(Arg* r, int argc, const Arg* argv);
void cmdCloseDatabase(Arg* r, int argc, const Arg* argv);
void cmdRecordCount(Arg* r, int argc, const Arg* argv);
void cmdFieldCount(Arg* r, int argc, const Arg* argv);
void cmdMoveFirst(Arg* r, int argc, const Arg* argv);
void cmdMoveTo(Arg* r, int argc, const Arg* argv);
void cmdSkip(Arg* r, int argc, const Arg* argv);
void cmdReadField(Arg* r, int argc, const Arg* argv);
void cmdAppendRecord(Arg* r, int argc, const Arg* argv);
void cmdModifyRecord(Arg* r, int argc, const Arg* argv);
void cmdReplaceFields(Arg* r, int argc, const Arg* argv);
void cmdFindRecord(Arg* r, int argc, const Arg* argv);
void cmdSumRecords(Arg* r, int argc, const Arg* argv);
void cmdDeleteRecords(Arg* r, int argc, const Arg* argv);
void cmdPackDatabase(Arg* r, int argc, const Arg* argv);
void cmdZapDatabase(Arg* r, int argc, const Arg* argv);
void cmdCopyRecords(Arg* r, int argc, const Arg* argv);
void cmdFileExists(Arg* r, int argc, const Arg* argv);

}  // namespace calls
}  // namespace db
