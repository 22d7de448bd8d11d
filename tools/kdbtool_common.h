// What kdbtool's commands share: a field of a record image as the
// terminal shows it (dump) and as it is exported (export), CSV cells, and
// the table files of a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/format.h"
#include "db/table.h"
#include "runtime/facade.h"

namespace kdbtool {

// One field of a record image loaded through the engine (memo chains
// followed); the value is owned by *value. The engine's code.
int loadField(db::Table& t, const db::Field& f, const uint8_t* rec, rt::Result* value);

// A loaded value as dump shows it (UTF-8): ToText, byte-sets in hex.
std::string shownText(const rt::Arg& v);
// A byte-set's bytes as lower-case hex digits.
std::string hexOf(const void* byteSet);

// A loaded value as export keeps it, typed: integers and bools as
// integers, floats rounded as stored (the shortest decimal that reads back
// as the stored single-precision value), doubles as they are, date-times as
// ISO 8601 text ("2010-05-03", with "T14:30:00" when there is a time of
// day), texts and memos in UTF-8, byte-sets as bytes.
struct Cell {
  enum Kind { kInteger, kReal, kText, kBlob } kind = kText;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // UTF-8 text, or the bytes of a blob
};
Cell exportCell(const db::Field& f, const rt::Arg& v);
// A cell as CSV text (before quoting): numbers in their shortest decimal
// form, blobs in hex.
std::string cellText(const Cell& c);

// RFC 4180: a cell holding a comma, a quote or a line end is quoted, its
// quotes doubled.
std::string csvCell(const std::string& s);

// "-22 指定文件不是数据库文件" (UTF-8).
std::string codeText(int code);
std::string joinPath(const std::string& dir, const std::string& name);
// The table files of a folder (".kdb" in any letter case), sorted by name.
int listTables(const std::string& dir, std::vector<std::string>* tables);

}  // namespace kdbtool
