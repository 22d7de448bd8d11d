// Opening a table and making it current: the one way module code does it.
// Every window, charging step, journal and report figure that needs a table
// current calls useTable (or useTableOrTell in app/telling.h, which also
// tells the operator why not), so that "open already" is never a failure, a file that is there
// but cannot be opened is never replaced by a new empty table, and the
// cause named is the step that failed.
#pragma once

#include <string>

#include "app/tables.h"

namespace app {

struct UseOptions {
  // The table's layout: the fields it is created with, and (with
  // checkLayout) the fields it must have once current.
  const TableDef* def = nullptr;
  bool checkLayout = true;
  // Created with def's fields when the folder says no file of the name
  // exists (and only then; a table another workstation creates at the same
  // moment is used).
  bool createWhenMissing = false;
  // Opened read only when this call opens it; a table open already is
  // used through its handle as it is.
  bool readOnly = false;
  // A handle this program holds on a file that has since gone (removed by
  // hand, restored from elsewhere) is dropped and the name opened afresh:
  // for tables whose writes must land in the file other workstations see.
  // Costs one look at the folder.
  bool reopenWhenGone = false;
  // Moved to the first record once current; without it the table keeps the
  // position it had (a table this program holds open) or has after opening.
  bool moveFirst = true;
};

// What became of making a table current.
struct [[nodiscard]] TableUse {
  enum class Outcome {
    kCurrent,      // current (moved to its first record unless told not to)
    kNotOpened,    // could not be opened or made current: `code`
    kOtherLayout,  // current, but its fields are not def's
    kNotCreated,   // missing, and could not be created: `code` is the create's
  };
  Outcome outcome = Outcome::kNotOpened;
  int code = 0;             // the engine's code, for kNotOpened and kNotCreated
  bool openedHere = false;  // this call opened it (it was not open before)
  bool ok() const { return outcome == Outcome::kCurrent; }
  // As one engine code: 0 when current, `code` when not opened or not
  // created, -22 (not a table of this program's) for another layout.
  int failure() const;
};

// Opens `name` (a bare name in the centre folder; open already is fine)
// and makes it current, as `options` say.
TableUse useTable(const std::string& name, const UseOptions& options = {});

}  // namespace app
