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
[[nodiscard]] int loadField(db::Table& t, const db::Field& f, const uint8_t* rec, rt::Result* value);

// How amounts (the float fields) are written: to the fen, as the program
// counts them ("95.10" for a stored 95.100006), or exactly as stored (the
// shortest decimal that reads back as the stored single-precision value).
enum class Amounts { kToTheFen, kExact };

// A loaded value of field `f` as dump shows it (UTF-8): amounts as
// `amounts` says, doubles in their shortest decimal form, byte-sets in hex,
// everything else as ToText writes it.
std::string shownText(const db::Field& f, const rt::Arg& v, Amounts amounts);
// A byte-set's bytes as lower-case hex digits.
std::string hexOf(const void* byteSet);

// A loaded value as export keeps it, typed: integers and bools as
// integers, amounts as Amounts says (kMoney holds fen, kReal the exact
// value), doubles as they are, date-times as days since 1899-12-30 with
// their ISO 8601 text ("2010-05-03", with "T14:30:00" when there is a time
// of day), texts and memos in UTF-8, byte-sets as bytes.
struct Cell {
  enum Kind { kInteger, kMoney, kReal, kDate, kText, kBlob } kind = kText;
  int64_t integer = 0;  // kInteger; fen for kMoney
  double real = 0;      // kReal; days for kDate
  std::string text;     // UTF-8 text, the ISO text of a date, or the bytes of a blob
};
Cell exportCell(const db::Field& f, const rt::Arg& v, Amounts amounts);
// A cell as CSV text (before quoting): amounts in fen with two decimals,
// other numbers in their shortest decimal form, blobs in hex.
std::string cellText(const Cell& c);
// A double or float as the shortest decimal text that reads back as it
// ("NaN", "Infinity", "-Infinity" for the others).
std::string shortestText(double v);
std::string shortestText(float v);

// RFC 4180: a cell holding a comma, a quote or a line end is quoted, its
// quotes doubled.
std::string csvCell(const std::string& s);

// "-22 指定文件不是数据库文件" (UTF-8).
std::string codeText(int code);
std::string joinPath(const std::string& dir, const std::string& name);
// The table files of a folder (".kdb" in any letter case), sorted by name.
[[nodiscard]] int listTables(const std::string& dir, std::vector<std::string>* tables);

}  // namespace kdbtool
