// How the record-edit dialog shows a field's value as text and reads a
// typed text back as a value of the field's kind.
//
// Texts are GBK. Reading never guesses: a text that is not a number for a
// number field, a number outside the field's range, a text that is not a
// date for a date-time field, or a text longer than a fixed-size text
// field is refused with a message saying why, so nothing is written as 0
// or cut short behind the user's back.
#pragma once

#include <string>

#include "db/format.h"
#include "runtime/value.h"

namespace db::dialog {

// The editing-box text of a value read from field `f` (not for memo and
// byte-set fields, which have their own window).
std::string fieldText(const Field& f, const rt::Arg& v);

// A value typed for a field, ready for Table::modify. A text value points
// into `text`, so take arg() only while this object is alive and unmoved.
struct TypedValue {
  rt::Arg value;
  std::string text;
  rt::Arg arg() const { return value.kind == rt::kText ? rt::makeTextRef(text.c_str()) : value; }
};

// Reads `gbk` as a value for field `f` (kinds 1..8 and 10). Returns "" and
// fills *out, or returns the GBK reason the text does not fit. An empty
// text reads as the blank value of the kind (0, the zero date, "").
std::string parseFieldText(const Field& f, const std::string& gbk, TypedValue* out);

}  // namespace db::dialog
