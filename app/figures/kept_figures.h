// Figures of the period tables kept on this workstation's own disk, so
// that a report preview or the chart window over a shared folder reads
// only the tables some workstation changed since their figures were
// computed: a past month's figures are summed once, not at every opening.
//
// Each reading of a period table (the sums a report names, Sums in
// period_reading.h) is kept with the table's state when it was read: its
// creation stamp, record count and next serial (from its header), its
// length, and its mark in the folder's change file (db/changes.h). Every
// writer of this program gives a table a new mark for each change it makes,
// before the action is shown as done, so a table whose state is still the
// one kept holds what it held then: its figures are taken as kept. Looking
// at a table's state costs a few file calls and no record data; anything
// that cannot be looked at, or differs, reads the table as ever.
//
// One file a table, under the folder's id (app/folder_id.h):
// <dir>/<folder id>/<table>.fig, written whole to a file of its own and
// renamed into place, so that programs writing it at once never leave a
// torn file; a file that is damaged or belongs to another folder or table
// is not used, and is written anew with the next reading of its table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app::report {

// Keeps the figures under `dir` from now on (made when needed); "" keeps
// none, every reading reads its table: the default (clinic-report, tests
// that do not ask for it).
void keepFiguresIn(const std::string& dir);
// $XDG_CACHE_HOME/clinic/figures, or ~/.cache/clinic/figures.
std::string workstationFiguresDir();

// While one lives (the chart window reading two years of reports), each
// period table's state is looked at once, and the last few tables the
// readings opened stay open until it ends, so that the engine's copy of
// their records serves the next reading of the same table (the year's bill
// table, read for every month) without reading it again. They do not nest
// (an inner one does nothing).
class ReadingRound {
 public:
  ReadingRound();
  ~ReadingRound();
  ReadingRound(const ReadingRound&) = delete;
  ReadingRound& operator=(const ReadingRound&) = delete;

 private:
  bool outer_;
};

namespace kept {

// A period table's state, as kept with its figures.
struct TableState {
  int64_t created = 0;
  int32_t count = 0, serial = 0;
  int64_t length = 0;
  uint64_t mark = 0;
  bool operator==(const TableState&) const = default;
};

// What one look at a period table found.
struct Look {
  enum Outcome {
    kUnknown,  // could not be looked at: the table is read as ever
    kMissing,  // no file of that name (whatever its case)
    kThere,    // `state` is its state now
  };
  Outcome outcome = kUnknown;
  TableState state;
};

// Looks at the table `name` (a bare name in the working directory), once a
// round. With no place to keep figures nothing is looked at: kUnknown.
[[nodiscard]] Look look(const std::string& name);

// The figures kept for the reading `signature` of `name` in the state
// `state`; false when there are none.
[[nodiscard]] bool find(const std::string& name, const TableState& state, const std::string& signature,
                        std::vector<int64_t>* fens);
// Keeps the figures of a reading made of the table in `state` (looked at
// before it was read): added to those kept of that state, in place of
// those kept of any other.
void keep(const std::string& name, const TableState& state, const std::string& signature,
          const std::vector<int64_t>& fens);

// After a reading of `name` (`openedHere`: the reading opened it): true
// when the round keeps it open, the caller leaving it so. Of the tables a
// round opened, the ones read last stay open; the one read longest ago is
// closed when there are more.
bool keptOpenInRound(const std::string& name, bool openedHere);

}  // namespace kept
}  // namespace app::report
