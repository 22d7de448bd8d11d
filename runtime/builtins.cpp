// The runtime's own command entries: conversions, dates, LeftText, Abs.
#include "runtime/builtins.h"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/blocks.h"
#include "runtime/clock.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace rt {
namespace {

// Element size of an array of a numeric kind, 0 for other arrays.
size_t numericElementSize(uint32_t kind) {
  switch (elementKind(kind)) {
    case kByte:
      return 1;
    case kShort:
      return 2;
    case kInt:
    case kFloat:
      return 4;
    case kLong:
    case kDouble:
      return 8;
    default:
      return 0;
  }
}

// The bytes of a byte-set or numeric array up to the first zero byte.
std::string bytesAsText(const Arg& v) {
  BlockView b = viewBlock(pointerValue<const void>(v));
  if (!b.data) return std::string();
  size_t n;
  if (v.kind == kBytes) {
    n = b.elements < 0 ? 0 : size_t(b.elements);
  } else {
    size_t es = numericElementSize(v.kind);
    n = size_t(b.elements) * es;
  }
  if (n > b.dataBytes) n = b.dataBytes;
  const void* zero = std::memchr(b.data, 0, n);
  if (zero) n = size_t(static_cast<const uint8_t*>(zero) - b.data);
  return std::string(reinterpret_cast<const char*>(b.data), n);
}

// A date-time argument (a double is taken as days too), else false.
bool dateValue(const Arg* a, double* out) {
  if (!a || (a->kind != kDateTime && a->kind != kDouble)) return false;
  *out = doubleValue(*a);
  return true;
}

// An integer argument from any numeric kind, truncated; `fallback` when
// omitted or of another kind.
int64_t intArg(const Arg* a, int64_t fallback) {
  double d;
  if (!a || !numericValue(*a, &d) || d != d) return fallback;
  if (d >= 9.2e18) return INT64_MAX;
  if (d <= -9.2e18) return INT64_MIN;
  return int64_t(d);
}

void setDouble(Arg* r, double v, uint32_t kind = kDouble) {
  *r = makeDouble(v);
  r->kind = kind;
}

// --- the entries -------------------------------------------------------------

void cmdToText(Arg* r, int argc, const Arg* argv) {
  const Arg* v = argAt(argc, argv, 0);
  *r = makeTextResult(v ? valueToText(*v) : std::string());
}

void cmdToNumber(Arg* r, int argc, const Arg* argv) {
  const Arg* v = argAt(argc, argv, 0);
  setDouble(r, v ? valueToNumber(*v) : 0.0);
}

void cmdToDateTime(Arg* r, int argc, const Arg* argv) {
  const Arg* v = argAt(argc, argv, 0);
  double dt = kNoDate;
  if (v && v->kind == kDateTime)
    dt = doubleValue(*v);
  else if (v && v->kind == kText)
    dt = textToDateTime(textValue(*v));
  setDouble(r, dt, kDateTime);
}

void cmdNow(Arg* r, int, const Arg*) { setDouble(r, clockNow(), kDateTime); }

void cmdDateOnly(Arg* r, int argc, const Arg* argv) {
  double dt;
  setDouble(r, dateValue(argAt(argc, argv, 0), &dt) ? dateOnly(dt) : kNoDate, kDateTime);
}

void datePartCommand(Arg* r, int argc, const Arg* argv, int part) {
  double dt;
  *r = makeInt(dateValue(argAt(argc, argv, 0), &dt) ? datePartOf(dt, part) : 0);
}
void cmdYearOf(Arg* r, int argc, const Arg* argv) { datePartCommand(r, argc, argv, 1); }
void cmdMonthOf(Arg* r, int argc, const Arg* argv) { datePartCommand(r, argc, argv, 3); }

void cmdTimeInterval(Arg* r, int argc, const Arg* argv) {
  double a, b;
  if (!dateValue(argAt(argc, argv, 0), &a) || !dateValue(argAt(argc, argv, 1), &b)) {
    setDouble(r, 0.0);
    return;
  }
  int64_t unit = intArg(argAt(argc, argv, 2), 1);
  if (unit > 8) unit = 8;
  if (unit < 1) unit = 1;
  setDouble(r, timeInterval(a, b, int(unit)));
}

void cmdChineseNumerals(Arg* r, int argc, const Arg* argv) {
  double amount;
  const Arg* a = argAt(argc, argv, 0);
  if (!a || !numericValue(*a, &amount)) {
    *r = makeTextResult(std::string());
    return;
  }
  const Arg* plain = argAt(argc, argv, 1);
  bool isPlain = plain && plain->kind == kBool && plain->lo != 0;
  *r = makeTextResult(chineseNumerals(amount, isPlain));
}

void cmdLeftText(Arg* r, int argc, const Arg* argv) {
  const Arg* t = argAt(argc, argv, 0);
  if (!t || t->kind != kText) {
    *r = makeTextResult(std::string());
    return;
  }
  *r = makeTextResult(leftText(textValue(*t), intArg(argAt(argc, argv, 1), 0)));
}

void cmdAbs(Arg* r, int argc, const Arg* argv) {
  double d = 0.0;
  const Arg* a = argAt(argc, argv, 0);
  if (a && numericValue(*a, &d))
    d = std::fabs(d);
  else
    d = 0.0;
  setDouble(r, d);
}

}  // namespace

bool numericValue(const Arg& v, double* out) {
  switch (v.kind) {
    case kByte:
      *out = double(uint8_t(v.lo));
      return true;
    case kShort:
      *out = double(int16_t(v.lo));
      return true;
    case kInt:
      *out = double(int32_t(v.lo));
      return true;
    case kLong:
      *out = double(longValue(v));
      return true;
    case kFloat:
      *out = double(floatValue(v));
      return true;
    case kDouble:
      *out = doubleValue(v);
      return true;
    default:
      return false;
  }
}

std::string valueToText(const Arg& v) {
  switch (v.kind) {
    case kByte:
      return std::to_string(unsigned(uint8_t(v.lo)));
    case kShort:
      return std::to_string(int(int16_t(v.lo)));
    case kInt:
      return std::to_string(int32_t(v.lo));
    case kLong:
      return std::to_string(longValue(v));
    case kFloat:
      return floatToText(floatValue(v));
    case kDouble:
      return doubleToText(doubleValue(v));
    case kBool:
      return v.lo ? GBK("真") : GBK("假");
    case kDateTime:
      return dateTimeToText(doubleValue(v));
    case kText:
      return textValue(v);
    case kBytes:
      return bytesAsText(v);
    default:
      if (isArray(v.kind) && numericElementSize(v.kind) != 0) return bytesAsText(v);
      return std::string();
  }
}

double valueToNumber(const Arg& v) {
  double d;
  if (numericValue(v, &d)) return d;
  switch (v.kind) {
    case kText:
      return textToNumber(textValue(v));
    case kBool:
      return v.lo ? 1.0 : 0.0;
    case kSubPtr:
      return double(v.lo);
    default:
      return 0.0;
  }
}

std::vector<std::string> textsFrom(int argc, const Arg* argv, int from) {
  std::vector<std::string> out;
  for (int i = from; i < argc; ++i) {
    const Arg* a = argAt(argc, argv, i);
    if (!a) continue;
    if (a->kind == kText) {
      if (*textValue(*a)) out.emplace_back(textValue(*a));
    } else if (isArray(a->kind) && elementKind(a->kind) == kText) {
      const void* block = pointerValue<const void>(*a);
      const int64_t n = arrayCount(block);
      for (int64_t k = 0; k < n; ++k) {
        const char* s = static_cast<const char*>(arrayPointerAt(block, k));
        if (s && *s) out.emplace_back(s);
      }
    }
  }
  return out;
}

Arg makeTextResult(const std::string& gbk) { return makePointer(textCopy(gbk.data(), long(gbk.size())), kText); }

void registerRuntimeCommands() {
  registerCommand(Cmd::ToText, cmdToText);
  registerCommand(Cmd::ToNumber, cmdToNumber);
  registerCommand(Cmd::ToDateTime, cmdToDateTime);
  registerCommand(Cmd::Now, cmdNow);
  registerCommand(Cmd::DateOnly, cmdDateOnly);
  registerCommand(Cmd::YearOf, cmdYearOf);
  registerCommand(Cmd::MonthOf, cmdMonthOf);
  registerCommand(Cmd::TimeInterval, cmdTimeInterval);
  registerCommand(Cmd::ChineseNumerals, cmdChineseNumerals);
  registerCommand(Cmd::LeftText, cmdLeftText);
  registerCommand(Cmd::Abs, cmdAbs);
}

}  // namespace rt
