// The records a window lists and acts on: one reading of the current
// table into a newest-first list, the record a list row stands for (by
// serial, never by where it stood), reading a record whole or field by
// field without mistaking a failed read for empty fields, and finding a
// record by a text field.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/facade.h"
#include "forms/facade.h"
#include "forms/live_windows.h"
#include "runtime/facade.h"
#include "runtime/gbk.h"

namespace app {

// One reading of the current table for a window's list and totals: every
// record into `list` newest first, and `each` run on every record (the
// window adds up its totals there). A table that could not be read whole
// is named (`gbkTable`, "… 无法读取：<cause>。列表和合计未更新。"), the list
// keeps what it showed, and the engine's code is returned; 0 when shown.
// Returns the number of records listed in *listed.
[[nodiscard]] int refreshList(const forms::Control& list, const char* gbkTable, const std::function<void()>& each,
                              int* listed);

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
  [[nodiscard]] int read();
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
[[nodiscard]] int readListedRecord(const ListedRecord& row, ReadRecord* out);

// Leaves the current table with no record current (the position past the
// last record), so that a modify or delete that follows fails instead of
// acting on a record nobody chose.
void moveAfterLast();

// Reads fields of the current record and remembers the first read that
// failed (the engine's code), so that a record that could not be read is
// never shown as a record of empty fields. A field of the wrong kind is
// still the runtime error it always was. Outside a scan's step the record
// is read whole at the first field and every field taken from that one
// reading (a lock and a read per field cost a round trip each on a shared
// folder); a whole reading that fails falls back to reading field by field.
class FieldReader {
 public:
  rt::Result value(const char* gbkField);
  std::string text(const char* gbkField);   // a text field as stored
  std::string shown(const char* gbkField);  // any field as ToText shows it
  double number(const char* gbkField);      // a numeric field
  int failure() const { return failure_; }

 private:
  int failure_ = 0;
  enum class Whole { kNotRead, kRead, kFailed } whole_ = Whole::kNotRead;
  ReadRecord record_;
};

// Finds, from the first record of the current table, the first record
// whose text field equals `value` byte for byte; it becomes current. The
// search with its reason: 1 found (current), 0 no such record,
// or the engine's (negative) code when the table could not be searched to
// the end: "not found" is never said of a table that was not read.
[[nodiscard]] int searchText(const char* gbkField, const std::string& value);

}  // namespace app
