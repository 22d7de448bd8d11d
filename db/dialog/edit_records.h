// The record-edit dialog: the runtime command EditRecords and the modal
// window it opens on the current database.
//
//   EditRecords([caption], [mode flags], [field names, each a text or an
//   array of texts])
//
// The dialog shows one line per field of the record at hand, moves from
// record to record (saving a changed record before it leaves it), appends
// blank records, toggles the deleted mark, purges and empties the table.
// Closing saves the record shown. With no current database the command
// sets -67 and opens nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/facade.h"

class QDialog;

namespace db {

class Table;

// Mode flags of EditRecords.
enum EditFlags : int {
  kEditViewOnly = 1,    // nothing may be changed
  kEditNoAdding = 2,    // no new records
  kEditNoDeleting = 4,  // no deleted mark, no purge, no emptying
};

// Installs the EditRecords entry in the runtime's command table.
// Idempotent. Needs a QApplication when the command runs.
void registerEditRecordsCommand();

// Opens the dialog modally on `table` and returns when it is closed; the
// engine code of the last save (0 when it went well).
// `gbkCaption` empty gives the default caption; `gbkFields` empty shows all
// fields.
[[nodiscard]] int runEditRecords(Table& table, const std::string& gbkCaption, int flags,
                                 const std::vector<std::string>& gbkFields);

// What the fields of a table layout mean, shown beside each field's name in
// the dialog ("ps  西药") for a table whose field names are exactly `names`
// (in order; letter case ignored). A program registers its own layouts once;
// another table shows its bare field names. Texts are GBK.
void setFieldMeanings(const std::vector<std::string>& gbkNames, const std::vector<std::string>& gbkMeanings);
// The meaning registered for field `index` of `table`'s layout; "" when none.
std::string fieldMeaning(const Table& table, size_t index);
// Field `gbkField` of the layout `gbkNames` holds a secret (a password): the
// dialog shows it masked, typing into it still works.
void setSecretField(const std::vector<std::string>& gbkNames, const std::string& gbkField);
bool fieldIsSecret(const Table& table, size_t index);

// A change the dialog is about to write, for a program that keeps a trail
// of corrections or limits them.
struct EditChange {
  enum Kind { kModify, kAppend, kMark, kUnmark, kPurge, kEmpty } kind = kModify;
  int32_t position = -1;  // the record's, 0-based (modify, mark, unmark)
  int32_t serial = 0;     // its serial (modify, mark, unmark)
  // Modify, and the first record typed into an empty table: the value to be
  // written into each field, by field index (null: left as it is).
  std::vector<const rt::Arg*> values;
};
// Watches the writes of the dialogs opened while it is set: each is
// announced before it is made (0 lets it go on; an engine code refuses it:
// nothing is written and the code is shown in the title) and reported
// after it, with the write's code (0 done) and the serial of the record
// written (an added record's own).
class EditWatcher {
 public:
  virtual ~EditWatcher() = default;
  virtual int before(Table& table, const EditChange& change) = 0;
  virtual void after(Table& table, const EditChange& change, int rc, int32_t serial) = 0;
};
// Sets the watcher for the dialogs opened while it lives.
class ScopedEditWatcher {
 public:
  explicit ScopedEditWatcher(EditWatcher* watcher);
  ~ScopedEditWatcher();
  ScopedEditWatcher(const ScopedEditWatcher&) = delete;
  ScopedEditWatcher& operator=(const ScopedEditWatcher&) = delete;

 private:
  EditWatcher* previous_;
};
// The watcher set now (null when none).
EditWatcher* editWatcher();

// Called with each window of the dialog (the dialog itself, objectName
// "EditRecords", and its memo/byte-set window, "ChainWindow") once it is
// up and its event loop runs, so a test can type into it, press its
// buttons and close it. An empty function removes the hook.
void setEditDialogHook(std::function<void(QDialog&)> hook);

// Runs the hook (if any) on `dialog` from its event loop: call just before
// exec().
void armEditDialogHook(QDialog& dialog);

}  // namespace db

namespace cmd {

// The record-edit dialog on the current database, for module code: the
// optional caption, mode flags (db::EditFlags) and field names, each passed
// or rt::omitted. With none, the default caption, every field and no
// restrictions. Returns when the dialog is closed.
template <typename... Ts>
void EditRecords(const Ts&... options) {
  rt::invoke(rt::Cmd::EditRecords, options...);
}

}  // namespace cmd
