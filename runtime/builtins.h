// Value-level conversions shared by every command that shows a value as
// text or reads one as a number (ToText, ShowMessage, PanelTextAt, the
// printer's text output, the engine's field writes).
#pragma once

#include <string>
#include <vector>

#include "runtime/value.h"

namespace rt {

// The text ToText gives for a value (GBK; "" for kinds with no text).
std::string valueToText(const Arg& v);

// The number ToNumber gives for a value.
double valueToNumber(const Arg& v);

// A numeric value (byte, short, integer, long, float, double) as a double;
// false for any other kind.
bool numericValue(const Arg& v, double* out);

// The texts of the arguments from `from` on, each given as a text or an
// array of texts (field names, index names); omitted and empty texts are
// skipped.
std::vector<std::string> textsFrom(int argc, const Arg* argv, int from);

// A result record holding a new heap copy of `gbk` (null for "").
Arg makeTextResult(const std::string& gbk);

}  // namespace rt
