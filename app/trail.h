// The trail "czjl": one numbered entry for every deletion of a charge
// line, every correction saved in the record-edit dialog (posting tables,
// the user list, the rights), every add, change and delete of a catalogue
// entry, and every login and failed login. Each entry says when, who (the
// login), where (the workstation), what kind of action, which table and
// record (by its serial), and the values before and after
// ("field=value; ..."). The program only ever appends to it.
//
// Entries are numbered 1, 2, 3, ... in the order they are appended: the
// next number is taken from the last entry while the trail's header lock
// is held, so two workstations appending at once never take the same
// number, and a gap says an entry was removed (kdbtool stock-audit names
// it).
//
// An action and its entry end together, as a charge and its stock change
// do: the entry is noted on this workstation's own disk (with an
// operation id) before the action writes anything to the shared folder;
// once the action has landed the entry is appended and the note taken
// off. When the folder drops in between, or the program is killed, the
// note stays and settle() finishes it once the folder is back: the entry
// is appended when its action landed (found by the record's serial) and
// not already in the trail (found by its operation id), and dropped when
// the action did not land.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <memory>

#include "db/dialog/edit_records.h"
#include "runtime/facade.h"

namespace db {
class SerialWatch;
}  // namespace db

namespace app {
class ReadRecord;
}

namespace app::trail {

// The kinds of action (GBK, as the field `lx` holds them).
const std::string& lineDeleted();       // "删除明细": a charge line deleted
const std::string& recordChanged();     // "更正记录": a record changed in the record-edit dialog
const std::string& recordAdded();       // "新增记录": a record added there
const std::string& recordMarked();      // "标记删除": a record marked deleted there
const std::string& recordUnmarked();    // "恢复记录": its mark taken off
const std::string& tablePurged();       // "清除删除": the marked records purged
const std::string& tableEmptied();      // "清空数据": every record removed
const std::string& catalogueAdded();    // "目录新增"
const std::string& catalogueChanged();  // "目录修改"
const std::string& catalogueDeleted();  // "目录删除"
const std::string& loggedIn();          // "登录"
const std::string& loginFailed();       // "登录失败"

struct Entry {
  std::string kind;
  std::string table;  // bare name
  int32_t serial = 0;
  std::string before, after;  // "field=value; ..." (GBK)
  std::string user;           // "" = the login
};

// A field's value as the trail writes it: a text as it is, whole numbers
// in decimal, amounts as the shortest decimal that reads back as the float
// the field holds, dates as ToText writes them. `fieldKind` is the kind of
// the field the value is (or is to be) stored in.
std::string valueText(int32_t fieldKind, const rt::Arg& v);

// One field and its value's text.
struct FieldValue {
  std::string field;
  std::string text;
};
// "field=value; field=value".
std::string joined(const std::vector<FieldValue>& values);
// Every field of a record read whole, in field order.
std::vector<FieldValue> recordValues(const ReadRecord& r);
// Every field of the record at `pos` of `t`, read under its lock (a
// record marked deleted too). 0 or the engine's code.
[[nodiscard]] int recordValuesAt(db::Table& t, int32_t pos, std::vector<FieldValue>* out);

// How a noted entry whose action was not seen to end is settled.
enum class Landing {
  kNone,   // no table write of its own (a login): always appended
  kGone,   // landed when the record (by serial) is gone or marked deleted
  kThere,  // landed when the record (by serial) is there
  kHolds,  // landed when the record (by serial) holds the `holds` values
};

// One trailed action, noted before its first write. Exactly one of
// landed() and dropped() is called when the action's end is known; a
// Noted that ends without either settles itself (its action is looked
// at, and when that cannot be told it stays noted for settle()).
class Noted {
 public:
  Noted() = default;
  ~Noted();
  Noted(const Noted&) = delete;
  Noted& operator=(const Noted&) = delete;

  // Notes `e` (dated now, the login and this workstation taken now).
  // False when it could not be written through to this workstation's disk:
  // the action is then not to be made.
  [[nodiscard]] bool begin(const Entry& e, Landing how, std::vector<FieldValue> holds = {});
  // The serial an append takes, noted as it is taken (db::SerialWatch).
  [[nodiscard]] bool setSerial(int32_t serial);
  // The action landed: the entry appended now. One that cannot be is kept
  // noted (to be appended by settle()) and, with `tellWhenKept`, the
  // operator told. 0, or the engine's code of the append that failed.
  [[nodiscard]] int landed(bool tellWhenKept = true);
  // The action certainly did not land: the note is taken off.
  void dropped();
  bool active() const { return !op_.empty(); }

 private:
  std::string op_;
};

// While it lives, every change saved in a record-edit dialog on the table
// `table` (bare name, the current database) is trailed as made by `user`
// (GBK; "" = the login): a field changed (its before and after values),
// a record added, marked deleted or its mark taken off (the record's
// values), the marked records purged, the table emptied. A change whose
// entry cannot be noted on this workstation is refused (nothing written).
class DialogTrail : public db::EditWatcher {
 public:
  explicit DialogTrail(std::string table, std::string user = "");
  ~DialogTrail() override;
  int before(db::Table& t, const db::EditChange& change) override;
  void after(db::Table& t, const db::EditChange& change, int rc, int32_t serial) override;

 private:
  std::string table_, user_;
  std::unique_ptr<Noted> noted_;
  std::unique_ptr<db::SerialWatch> watch_;
  uint64_t uncertainBefore_ = 0;
  db::ScopedEditWatcher scope_;
};

// An entry that goes with no table action of its own (a login): noted,
// appended, and kept noted when it cannot be appended now.
void record(const Entry& e);

// Settles every noted entry of this folder, in the order noted: appended
// (once) when its action landed, dropped when it did not; one whose action
// or the trail cannot be read now stays, and so do those after it.
// Returns how many remain. Cheap when none are noted.
int settle();
// How many entries of this folder are noted.
int waiting();

// Where the notes live on this workstation ("" keeps them in memory, as
// in most tests). Reads what is there.
void setNotesPath(const std::string& path);
// Forgets every note (tests).
void clearNotes();

// --- reading -----------------------------------------------------------------------

struct Row {
  int32_t number = 0;
  double when = 0;
  std::string user, workstation, kind, table;
  int32_t serial = 0;
  std::string before, after;
};
// Which entries: from and to (days, inclusive; the day of `to` whole),
// and a user and a kind when not empty.
struct Filter {
  double from = -1e9, to = 1e9;
  std::string user, kind;
};
// The entries that pass `filter`, in trail order; `gaps` (when given)
// takes the numbers missing between the first and the last entry. 0 (no
// trail yet: no rows), or the engine's code when it could not be read.
[[nodiscard]] int entries(const Filter& filter, std::vector<Row>* rows, std::vector<int32_t>* gaps = nullptr);

// The view in the report window: the filters asked for (dates, user,
// kind), then the entries newest first in a read-only list.
void showTrail();
// The report window's "操作记录" button, right of the monthly postings'
// edit button (按钮10): a window-built hook.
void addTrailButton(uint32_t windowId);

}  // namespace app::trail
