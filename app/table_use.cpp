#include "app/table_use.h"

#include "db/errors.h"
#include "db/facade.h"

namespace app {

namespace {

// Steps 1 and 2 of useTable. A table open already is made current by its
// name alone: the open would look at the folder only to say so. Otherwise
// the open, then set-current; the cause of a failure is the open's code
// unless the open succeeded, then set-current's own.
TableUse openAndMakeCurrent(const std::string& name, bool readOnly) {
  TableUse use;
  if (cmd::SetCurrentDatabase(name)) {
    use.outcome = TableUse::Outcome::kCurrent;
    return use;
  }
  cmd::OpenDatabase(name, "", readOnly);
  const int opened = db::lastError();
  use.openedHere = opened == db::kOk;
  if (!cmd::SetCurrentDatabase(name)) {
    use.outcome = TableUse::Outcome::kNotOpened;
    use.code = opened != db::kOk && opened != db::kAlreadyOpen ? opened : db::lastErrorOr(db::kNotOpened);
    return use;
  }
  use.outcome = TableUse::Outcome::kCurrent;
  return use;
}

}  // namespace

int TableUse::failure() const {
  switch (outcome) {
    case Outcome::kCurrent:
      return 0;
    case Outcome::kOtherLayout:
      return db::kNotDatabase;
    case Outcome::kNotOpened:
    case Outcome::kNotCreated:
      break;
  }
  return code;
}

// Steps:
//   0. with reopenWhenGone, a handle on a file that has gone is dropped;
//   1, 2. made current, opened first when it is not open;
//   3. when the folder has no such file and createWhenMissing: created,
//      then 1 and 2 again;
//   4. the first record (with moveFirst);
//   5. its layout checked against def.
TableUse useTable(const std::string& name, const UseOptions& options) {
  // 0.
  if (options.reopenWhenGone && !cmd::FileExists(name + ".kdb") && db::lastError() == db::kOk) cmd::CloseDatabase(name);
  // 1, 2.
  TableUse use = openAndMakeCurrent(name, options.readOnly);
  // 3. Only "no such file" makes a table: one that is there but cannot be
  //    opened (damaged, held, unreachable) is never replaced by an empty one.
  if (use.code == db::kNotFound && options.createWhenMissing && options.def) {
    const bool created = createTable(name, *options.def);
    const int notCreated = db::lastError();
    use = openAndMakeCurrent(name, options.readOnly);
    // Not made here but there now (another workstation made it at the same
    // moment): it is used. Otherwise the create's failure is the cause.
    if (!created && !use.ok()) {
      use.outcome = TableUse::Outcome::kNotCreated;
      use.code = notCreated;
      db::setLastError(notCreated);
      return use;
    }
  }
  if (!use.ok()) return use;
  // 4.
  if (options.moveFirst) cmd::MoveFirst();
  // 5.
  if (options.def && options.checkLayout && !currentTableIs(*options.def))
    use.outcome = TableUse::Outcome::kOtherLayout;
  return use;
}

}  // namespace app
