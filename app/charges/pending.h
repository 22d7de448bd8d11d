// Stock changes and compactions that belong to a charge line already
// written, or a line already deleted, but could not be made at the time
// (the shared folder dropped, another workstation held the catalogue).
// They are kept in a file of parked changes on this workstation's own disk, so neither a
// restart nor the shared folder being away loses them, and each is made
// once as soon as the tables can be written again; the operator is told it
// is pending instead of being asked to correct the stock by hand.
//
// A charge or a deletion of a charge line is noted here whole, as an
// action (LineAction below), before anything of it is written to the
// folder, and settled by its operation id: made once whatever failed,
// even a crash between making it and taking it off. A stock change noted
// alone (the drug window's, and lines written by earlier versions)
// carries the entry of the stock journal (app/charges/stock_journal.h) that goes
// with it: both are made together when the change is made. An entry whose
// change was made but which could not be appended itself waits here
// alone, and is appended when the stock journal can be written again.
//
// The parked-changes file is a text file, one change a line, each naming the table
// folder it belongs to by the id kept in that folder ("centre.id") and by
// its path: a change is made only in the folder with that id, wherever it
// is mounted (by path only when the folder could not be read when the
// change was noted). It is read and rewritten whole (to a temporary file
// renamed over it) under a lock on a file beside it, so several programs
// of one account share it without losing or doubling lines. A line that
// cannot be read is moved to a file beside it (".damaged") and the
// operator told. A change is taken off the file right after it was
// made; for a change noted alone a crash between the two would make it
// twice, a window of one rename; a rewrite that fails then is told, and
// the change is not made again in this run. Every rewrite is written
// through to the disk before it counts.
//
// Without a file (setFilePath never called, as in most tests)
// the changes are kept in memory for the run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/charges/stock_journal.h"

namespace app::pending {

// Where the parked-changes file lives ("" keeps it in memory). Reads what is there.
void setFilePath(const std::string& path);

// The stock of the first catalogue record of that name, category and
// price is to change by `delta`. False when not even the parked-changes file could be
// written (the operator must then be asked to check the stock).
[[nodiscard]] bool addStockChange(const std::string& name, const std::string& category, float price, int32_t delta,
                                  const journal::Movement& why);

// A stock journal entry whose stock change is made, to be appended.
[[nodiscard]] bool addJournalEntry(const journal::Entry& e);

// The charge table `table` holds a line marked deleted whose compaction
// failed: it is to be packed.
[[nodiscard]] bool addPack(const std::string& table);

// A charge or a deletion of a charge line, noted here (written through to
// the disk) before its first write to the shared folder and taken off once
// its stock step is made. A process killed, or a reply lost, at any point
// in between leaves it here, and applyParked settles it: the line landed (a
// charge's line is there by its serial with the values charged; a
// deletion's line is gone or marked deleted), so its stock step is made
// once (found, by the operation, in the stock journal and checked against
// the catalogue); or it did not, and nothing more is done.
struct LineAction {
  enum Kind { kCharge, kDeletion } kind = kCharge;
  std::string op;      // journal::newOperationId()
  std::string table;   // the charge table
  int32_t serial = 0;  // the line's; a charge's once its append took one
  // The line's name, category, price and quantity (the stock step's drug
  // and amount), and, for a charge, its prescription number and cashier.
  std::string name, category, prescription, cashier;
  float price = 0;
  int32_t quantity = 0;
  journal::Movement why;
  bool lineKnown = false;  // the line's step is known to have landed
};

// Notes `a`. False when it could not be written through: the action is
// then not to be made (nothing could finish it after a crash).
[[nodiscard]] bool begin(const LineAction& a);
// Notes the serial of a charge's line (as the append takes it, before the
// line is written). False when it could not be written through.
[[nodiscard]] bool noteSerial(const std::string& op, int32_t serial);
// Notes that the line's step of `op` has landed (its stock step failed and
// waits): applyParked makes it without asking again.
void noteLineKnown(const std::string& op);
// Takes `op` off once its action is settled. A removal that cannot be
// written leaves it noted: settling it again finds it made and makes
// nothing twice.
void finish(const std::string& op);

// A change as the step that makes it sees it (stock changes noted alone
// come as actions).
struct Parked {
  enum class Kind { kAction, kPack, kEntry };
  Kind kind = Kind::kAction;
  LineAction action;     // kAction
  std::string name;      // kPack: the charge table
  journal::Entry entry;  // kEntry, with its reason
};
enum class Making { kMade, kWaits };
// Runs `make` on every change of this folder in the order they were made,
// under the lock this account's programs share: a change made is taken off
// (the file rewritten), and the first that waits stops the run, so the
// rest wait too, in order. Returns how many of this folder's changes
// remain. Cheap when there are none. The charging steps say how each kind
// is made (applyParked in app/charges/charging.h).
[[nodiscard]] int makeEach(const std::function<Making(const Parked&)>& make);

// How many changes of this folder wait.
int waiting();

// Forgets every change (tests; the file is rewritten empty).
void clearAll();

}  // namespace app::pending
