#include "db/dialog/field_text.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime/builtins.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace db::dialog {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isSpace(s[b])) ++b;
  while (e > b && isSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A plain decimal number and nothing else: sign, digits with an optional
// point, an optional exponent. *integral when it has neither point nor
// exponent.
bool numberSyntax(const std::string& s, bool* integral) {
  size_t i = 0, n = s.size(), digits = 0;
  *integral = true;
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < n && isDigit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    *integral = false;
    ++i;
    while (i < n && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    *integral = false;
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp = 0;
    while (i < n && isDigit(s[i])) ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == n;
}

std::string rangeText(long long lo, long long hi) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%lld - %lld", lo, hi);
  return rt::utf8ToGbk("超出字段的取值范围（") + buf + rt::utf8ToGbk("）");
}

}  // namespace

std::string fieldText(const Field& f, const rt::Arg& v) {
  switch (f.kind) {
    case kFText:
      return rt::textValue(v);
    case kFBool:
      return v.lo != 0 ? rt::utf8ToGbk("真") : rt::utf8ToGbk("假");
    case kFSubPtr:
      return std::to_string(uint32_t(v.lo));
    case kFLong:
      // valueToText would go through a double and lose digits above 2^53.
      return std::to_string(rt::longValue(v));
    default:
      return rt::valueToText(v);
  }
}

std::string parseFieldText(const Field& f, const std::string& gbk, TypedValue* out) {
  *out = TypedValue{};
  switch (f.kind) {
    case kFText: {
      if (gbk.size() > size_t(f.size)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d", f.size);
        return rt::utf8ToGbk("内容超过字段长度 ") + buf + rt::utf8ToGbk(" 字节");
      }
      out->text = gbk;
      out->value = rt::makeTextRef(nullptr);
      return "";
    }
    case kFBool: {
      const std::string t = trimmed(rt::toHalfWidth(gbk));
      if (t.empty() || t == "0" || t == rt::utf8ToGbk("假"))
        out->value = rt::makeBool(false);
      else if (t == "1" || t == rt::utf8ToGbk("真"))
        out->value = rt::makeBool(true);
      else
        return rt::utf8ToGbk("不是有效的逻辑值（真 或 假）");
      return "";
    }
    case kFDateTime: {
      const std::string t = trimmed(gbk);
      double d = t.empty() ? 0.0 : rt::textToDateTime(t);
      if (d == rt::kNoDate) return rt::utf8ToGbk("不是有效的日期时间");
      out->value = rt::makeDateTime(d);
      return "";
    }
    case kFByte:
    case kFShort:
    case kFInt:
    case kFLong:
    case kFFloat:
    case kFDouble:
      break;
    default:
      return rt::utf8ToGbk("此字段不能在这里编辑");
  }

  const std::string t = trimmed(rt::toHalfWidth(gbk));
  bool integral = true;
  if (!t.empty() && !numberSyntax(t, &integral)) return rt::utf8ToGbk("不是有效的数值");
  if (f.kind == kFFloat || f.kind == kFDouble) {
    double d = t.empty() ? 0.0 : rt::textToNumber(t);
    if (!std::isfinite(d) || (f.kind == kFFloat && std::fabs(d) > double(FLT_MAX)))
      return rt::utf8ToGbk("数值超出字段的取值范围");
    out->value = f.kind == kFFloat ? rt::makeFloat(float(d)) : rt::makeDouble(d);
    return "";
  }

  // Integer kinds: a whole number is read exactly; one with a point or an
  // exponent is cut toward zero, as the engine stores it.
  long long lo = 0, hi = 0;
  switch (f.kind) {
    case kFByte:
      lo = 0;
      hi = 255;
      break;
    case kFShort:
      lo = -32768;
      hi = 32767;
      break;
    case kFInt:
      lo = INT32_MIN;
      hi = INT32_MAX;
      break;
    default:
      lo = INT64_MIN;
      hi = INT64_MAX;
      break;
  }
  long long v = 0;
  if (!t.empty()) {
    if (integral) {
      errno = 0;
      v = std::strtoll(t.c_str(), nullptr, 10);
      if (errno == ERANGE) return rangeText(lo, hi);
    } else {
      double d = std::trunc(rt::textToNumber(t));
      if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0) return rangeText(lo, hi);
      v = (long long)d;
    }
  }
  if (v < lo || v > hi) return rangeText(lo, hi);
  switch (f.kind) {
    case kFByte:
      out->value = rt::makeByte(uint8_t(v));
      break;
    case kFShort:
      out->value = rt::makeShort(int16_t(v));
      break;
    case kFInt:
      out->value = rt::makeInt(int32_t(v));
      break;
    default:
      out->value = rt::makeLong(int64_t(v));
      break;
  }
  return "";
}

}  // namespace db::dialog
