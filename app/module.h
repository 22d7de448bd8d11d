// What the module windows do alike, in one place: their boxes by stored
// control name, opening a table and making it current, the newest-first
// list of a table, record numbers of list rows, the clock label,
// messages and confirmations, and how a typed number becomes a float
// field's value. Each window's own file holds only its handlers.
//
// Everything runs on the window thread, inside a handler of the window
// named; controls are looked up per call (the window must be loaded, a
// missing control name is fatal as in forms::control).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/facade.h"
#include "forms/facade.h"
#include "forms/windows_rt.h"
#include "app/figures/stored_amounts.h"
#include "runtime/gbk.h"

namespace app {

// One loaded module window; controls by their stored names, written in
// the source as UTF-8 literals ("编辑框3") and converted once each.
class ModuleWindow {
 public:
  explicit constexpr ModuleWindow(uint32_t windowId) : id_(windowId) {}
  uint32_t id() const { return id_; }
  rt::Arg arg() const { return forms::windowArg(id_); }

  forms::Control control(const char* utf8Name) const;
  std::string text(const char* utf8Name) const { return control(utf8Name).text(); }
  void setText(const char* utf8Name, const std::string& gbk) const { control(utf8Name).setText(gbk); }
  // The box's text converted to a number (a text that is not a number is 0).
  double number(const char* utf8Name) const { return cmd::ToNumber(text(utf8Name)); }
  void focus(const char* utf8Name) const { cmd::FocusControl(control(utf8Name).arg()); }
  void close() const { cmd::CloseWindow(arg()); }

 private:
  uint32_t id_;
};

// Opens a table (an open that fails because it is open already is
// expected), makes it current by name and moves to its first record.
// True when the table is the current database afterwards.
bool selectTable(const std::string& name);
// The same, with the reason: 0, or the engine's code of the open (or of
// making it current) that failed.
int openAndSelect(const std::string& name);

// One reading of the current table for a window's list and totals: every
// record into `list` newest first, and `each` run on every record (the
// window adds up its totals there). A table that could not be read whole
// is named (`gbkTable`, "… 无法读取：<cause>。列表和合计未更新。"), the list
// keeps what it showed, and the engine's code is returned; 0 when shown.
// Returns the number of records listed in *listed.
int refreshList(const forms::Control& list, const char* gbkTable, const std::function<void()>& each, int* listed);

// The rows of a newest-first list gathered during a scan of the current
// table (db::forEachRecord) and put into the list after it, so that a scan
// under the table's lock does not hold it while the list is drawn.
// addCurrent() takes the record being scanned: field 1 as caption, fields
// 2..n as columns, as text; each distinct number or date is converted once.
class ListRows {
 public:
  explicit ListRows(int fields);
  ~ListRows();
  ListRows(const ListRows&) = delete;
  ListRows& operator=(const ListRows&) = delete;

  void addCurrent();
  size_t size() const { return rows_.size(); }
  // Clears `list` and inserts every row taken, the last taken at the top,
  // each keeping the serial of its record (listedRecord reads it back).
  void show(const forms::Control& list) const;

 private:
  class Texts;
  int fields_;
  std::unique_ptr<Texts> texts_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<int32_t> serials_;
};

// A value as a list row shows it: a text as it is, an amount of money
// (every single-precision field of the program's tables) to the fen,
// anything else as ToText shows it.
std::string cellText(const rt::Arg& value);

// The record a row of a list filled by ListRows::show stands for: its
// serial, where it stood in the table when listed, and the texts the row
// shows. A handler acts on this record, never on whatever record number the
// row's place names now.
struct ListedRecord {
  int32_t serial = 0;
  int32_t position = 0;  // 0-based, at the time of listing
  std::vector<std::string> texts;
};
// The chosen row's record; with no row chosen the top row's (the newest
// record, as a newest-first list always offered). False when the list is
// empty.
bool chosenListedRecord(const forms::Control& list, ListedRecord* out);

// A record of the current table read whole, under its lock, in one engine
// call (db::readCurrentRecord), with its fields by name. A field the table
// does not have is the runtime error a ReadField of it is.
class ReadRecord {
 public:
  // Reads the current record: 0 or the engine's code (-44 when it is gone).
  int read();
  int32_t serial() const { return v_.serial; }
  int32_t position() const { return v_.position; }
  const rt::Arg& value(const char* gbkField) const;
  std::string text(const char* gbkField) const;  // a text field
  double number(const char* gbkField) const;     // a numeric field
  // Every field as a list row shows it, in field order.
  std::vector<std::string> cellTexts() const;

 private:
  db::RecordValues v_;
};

// Makes the record of a list row current in the current table and reads
// it whole (`out`). 0; -44 (kNoRecord) when another workstation removed it
// or changed what the row shows since it was listed; another engine code
// when it could not be read.
int readListedRecord(const ListedRecord& row, ReadRecord* out);

// Leaves the current table with no record current (the position past the
// last record), so that a modify or delete that follows fails instead of
// acting on a record nobody chose.
void moveAfterLast();

// The clock label: the current date-time as text.
void showClock(const forms::Control& label);

// --- failures the operator is told of ---------------------------------------------------

// True for an engine code that says the table's folder could not be
// reached (an I/O error: a network share that dropped or timed out).
bool unreachable(int code);
// The cause of an engine failure as the operator reads it: for a folder
// that cannot be reached, that the shared folder is out of reach for now
// and to check the network and try again; for a table another workstation
// holds, that it is in use; otherwise the engine's own text.
std::string causeText(int code);
// Tells "<what>：<cause>。<state>" (GBK), `state` saying what was and was
// not done.
void tellFailure(const std::string& gbkWhat, int code, const char* gbkState);

// Reads fields of the current record and remembers the first read that
// failed (the engine's code), so that a record that could not be read is
// never shown as a record of empty fields. A field of the wrong kind is
// still the runtime error it always was.
class FieldReader {
 public:
  rt::Result value(const char* gbkField);
  std::string text(const char* gbkField);   // a text field as stored
  std::string shown(const char* gbkField);  // any field as ToText shows it
  double number(const char* gbkField);      // a numeric field
  int failure() const { return failure_; }

 private:
  int failure_ = 0;
};

// The window's status line, shown after the template's title in its title
// bar ("" clears it): what a handler that must not raise a box (a
// keystroke) could not do, with its cause, until it can again.
void showStatus(const ModuleWindow& win, const std::string& gbk);

// Message box with the default caption, OK only.
void tell(const char* gbk);
// OK/Cancel confirmation; true only for OK.
bool confirm(const char* gbk);

// After a modify or delete of the record a window shows has failed: when
// another workstation changed or removed that record meanwhile (-44), tells
// the operator so and returns true; otherwise returns false and says
// nothing.
bool toldChangedElsewhere();

// Finds, from the first record of the current table, the first record
// whose text field equals `value` byte for byte; it becomes current. The
// search with its reason: 1 found (current), 0 no such record,
// or the engine's (negative) code when the table could not be searched to
// the end: "not found" is never said of a table that was not read.
int searchText(const char* gbkField, const std::string& value);

// A date-time on a scale that orders every date-time by time: clamped to
// 100-01-01 .. 9999-12-31 first; before the epoch the whole part counts
// days back but the fraction still counts forward (-1.25 is 1899-12-29
// 06:00), so such a value d with whole part w becomes 2w - d.
double linearDate(rt::DateTime d);

// --- texts in cells ---------------------------------------------------------------------

// The smallest sizes a text is drawn at to fit its cell: below them it is
// cut instead.
constexpr int kPaperFloorPoints = 6;
constexpr int kPanelFloorPoints = 7;

// How a text is drawn into a cell `width` wide from where it starts: at
// `points` when it fits; otherwise at the largest smaller size, down to
// `floorPoints`, at which it fits; otherwise at `floorPoints`, moved left by
// `shift` into the free part of its cell (at most `roomLeft`) so that it
// ends at the cell's end; and when it does not fit even so, at
// `floorPoints` where it starts, cut after the last whole character that
// fits. `widthAt(text, points)` measures a text at a size.
struct FittedText {
  int points = 0;
  std::string text;  // GBK
  double shift = 0;
};
FittedText fitText(const std::string& gbk, double width, int points, int floorPoints,
                   const std::function<double(const std::string&, int)>& widthAt, double roomLeft = 0);

// Prints a text at (x, y) on the open job of `printer` so that it ends
// before `right` (printer units), fitted as fitText does from `points` down
// to kPaperFloorPoints. The printer's font size is `points` afterwards.
// `left` is where its cell begins (x when the text may not move left).
void printFitted(const rt::Arg& printer, int x, int y, int right, const std::string& gbk, int points);
void printFitted(const rt::Arg& printer, int x, int y, int left, int right, const std::string& gbk, int points);

}  // namespace app
