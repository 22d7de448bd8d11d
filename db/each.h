// Reading every record of the current database once, in stored order,
// for lists that show a whole table.
//
// A loop of ReadField per field and Skip per record locks and reads the
// record again for every field; this reads each batch of records once
// (the batch locked as a search locks it) and runs the caller's step with
// the record in the scan buffer, so ReadField inside the step reads that
// record without further locks or reads.
#pragma once

#include <functional>

namespace db {

// Runs `step` once per record of the current database, first to last,
// records marked deleted included. The current record is left where it
// was. Returns 0, -67 with no current database, or the engine's code of a
// lock or read that failed (the records before it have been stepped).
// The last engine error is set to the result.
// With `wholeLock` the scan holds the table's whole-file lock from the
// count to the last record, so no other writer changes the table in
// between: the records stepped are one consistent reading (as SumRecords
// reads them). Without it each batch is locked on its own.
[[nodiscard]] int forEachRecord(const std::function<void()>& step, bool wholeLock = false);

}  // namespace db
