// The record a form-style window (the drug window, the registration
// window) shows in its boxes, remembered as the operator saw it: which
// record (by serial) and the text each box was given. 修改 and 删除 act on
// that record and nothing else, and 修改 writes only the fields whose box
// the operator changed, each checked under the record's lock against the
// value it was shown with, so a change another workstation made meanwhile
// (a charge lowering the stock, another operator's edit) is never written
// over.
//
// After any read that failed the window forgets the record: the boxes are
// cleared and 修改/删除 refuse until a record is shown again from a whole
// reading. Window thread only; the table the record belongs to must be the
// current database when show, act and the checks run.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/listed_records.h"
#include "app/module_window.h"

namespace app {

// How a box shows its field and how its text is written back.
// kMoney: an amount of money, shown to the fen; kNumber any other number.
enum class Shown { kText, kDate, kNumber, kMoney };

struct BoxField {
  const char* field;  // field name (ASCII pinyin, the same in GBK)
  const char* box;    // stored control name, UTF-8
  Shown how;
  const char* label;  // what the operator calls it, UTF-8 ("售价")
};

// The text a box shows for a stored value.
std::string shownText(const rt::Arg& value, Shown how);

class ShownRecord {
 public:
  ShownRecord(const ModuleWindow& win, std::vector<BoxField> boxes) : win_(win), boxes_(std::move(boxes)) {}

  // Shows `r` (read whole) in the boxes, in their order, and remembers it.
  void show(const ReadRecord& r);
  // Reads the current record of the current table whole and shows it. On
  // failure nothing is shown, the boxes are cleared and the record
  // forgotten; the engine's code is returned for the caller to tell.
  [[nodiscard]] int showCurrent();
  // 查找: searches the current table from its first record for the first
  // record whose text field `field` is `value` byte for byte, reads it
  // whole and shows it. When another workstation's pack put another record
  // at the place found before it was read, the search is made again. 1
  // shown; 0 no such record; otherwise the engine's code, of the search
  // (*searchFailed set: the table was not read to its end) or of the
  // reading. On failure the record shown is forgotten, the boxes kept.
  [[nodiscard]] int findAndShow(const char* field, const std::string& value, bool* searchFailed);
  // Empties the boxes; no record is shown.
  void clear();
  // No record is shown any more (the boxes keep what they hold).
  void forget() { shown_ = false; }
  bool shown() const { return shown_; }
  int32_t serial() const { return serial_; }

  // Makes the shown record current in the current table (by its serial).
  // Fails only without a current table; the lock or read that follows
  // then fails with that cause.
  void moveTo() const { static_cast<void>(db::moveToRecord(serial_, position_)); }

  const std::vector<BoxField>& boxes() const { return boxes_; }
  size_t find(const char* field) const;  // index of a field's box; fatal when none
  // Whether the box of boxes()[i] holds other text than it was shown with.
  bool changed(size_t i) const;
  bool anyChanged() const;
  const std::string& shownAs(size_t i) const { return texts_[i]; }
  // "“售价”、“药品数量”" (GBK): the labels of the boxes `which`.
  std::string labels(const std::vector<size_t>& which) const;
  // Whether the stored value `now` (of boxes()[i]'s field) is still the one
  // shown.
  bool unchangedSince(size_t i, const ReadRecord& now) const;
  // The value boxes()[i]'s text is written as: texts as typed, dates
  // through ToDateTime, numbers through ToNumber (as doubles: the engine
  // stores them into integer and float fields). A text is kept in `keep`,
  // which must outlive the value's use.
  rt::Arg typed(size_t i, std::deque<std::string>* keep) const;

 private:
  ModuleWindow win_;
  std::vector<BoxField> boxes_;
  bool shown_ = false;
  int32_t serial_ = 0;  // 0 for a record without one (a hand-made file): taken where it is
  int32_t position_ = 0;
  std::vector<std::string> texts_;
};

// ReplaceFields on the current record with pairs built at run time (one
// read and one write under the record's lock). Texts of the values must
// live through the call. True when written.
[[nodiscard]] bool replaceCurrentFields(const std::vector<std::pair<std::string, rt::Arg>>& pairs);

}  // namespace app
