#include "kdbtool_common.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "db/errors.h"
#include "db/os.h"
#include "runtime/blocks.h"
#include "runtime/builtins.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/money.h"

namespace kdbtool {

int loadField(db::Table& t, const db::Field& f, const uint8_t* rec, rt::Result* value) {
  rt::Arg v;
  const int rc = t.loadValue(f, rec, &v);
  *value = rt::Result(v);
  return rc;
}

namespace {

std::string hexBytes(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

}  // namespace

std::string hexOf(const void* byteSet) {
  size_t n = 0;
  const uint8_t* p = rt::byteSetData(byteSet, &n);
  return hexBytes(p, n);
}

namespace {

template <typename T>
std::string shortest(T v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string shortestText(double v) { return shortest(v); }
std::string shortestText(float v) { return shortest(v); }

std::string shownText(const db::Field& f, const rt::Arg& v, Amounts amounts) {
  if (f.kind == db::kFFloat || f.kind == db::kFDouble) return cellText(exportCell(f, v, amounts));
  return v.kind == rt::kBytes ? hexOf(rt::pointerValue<void>(v)) : rt::gbkToUtf8(rt::valueToText(v));
}

namespace {

std::string isoDate(double days) {
  const rt::DateParts p = rt::splitDateTime(days);
  char buf[32];
  if (p.hour == 0 && p.minute == 0 && p.second == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return buf;
}

}  // namespace

Cell exportCell(const db::Field& f, const rt::Arg& v, Amounts amounts) {
  Cell c;
  switch (f.kind) {
    case db::kFByte:
    case db::kFShort:
    case db::kFInt:
    case db::kFLong:
    case db::kFSubPtr:
      c.kind = Cell::kInteger;
      c.integer = v.kind == rt::kLong ? rt::longValue(v) : int64_t(rt::valueToNumber(v));
      break;
    case db::kFBool:
      c.kind = Cell::kInteger;
      c.integer = v.lo != 0;
      break;
    case db::kFFloat: {
      const float stored = rt::floatValue(v);
      if (amounts == Amounts::kToTheFen && std::isfinite(stored)) {
        c.kind = Cell::kMoney;
        c.integer = rt::fenOf(stored);
        break;
      }
      // As stored: the float's shortest decimal, so 0.1 stays 0.1 rather
      // than 0.100000001490116.
      c.kind = Cell::kReal;
      const std::string s = shortest(stored);
      c.real = std::strtod(s.c_str(), nullptr);
      break;
    }
    case db::kFDouble:
      c.kind = Cell::kReal;
      c.real = rt::doubleValue(v);
      break;
    case db::kFDateTime:
      c.kind = Cell::kDate;
      c.real = rt::doubleValue(v);
      c.text = isoDate(c.real);
      break;
    case db::kFBytes: {
      c.kind = Cell::kBlob;
      size_t n = 0;
      const void* block = rt::pointerValue<void>(v);
      const uint8_t* p = block ? rt::byteSetData(block, &n) : nullptr;
      if (p) c.text.assign(reinterpret_cast<const char*>(p), n);
      break;
    }
    default: {  // fixed-size text and memo
      const char* t = rt::textValue(v);
      c.text = t ? rt::gbkToUtf8(t) : std::string();
      break;
    }
  }
  return c;
}

std::string cellText(const Cell& c) {
  switch (c.kind) {
    case Cell::kInteger:
      return std::to_string(c.integer);
    case Cell::kMoney:
      return rt::fenText(c.integer);
    case Cell::kReal:
      return shortest(c.real);
    case Cell::kBlob:
      return hexBytes(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size());
    case Cell::kDate:
    case Cell::kText:
      break;
  }
  return c.text;
}

std::string csvCell(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string codeText(int code) { return std::to_string(code) + " " + rt::gbkToUtf8(db::errorText(code)); }

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

namespace {

bool isTableName(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext == ".kdb";
}

}  // namespace

int listTables(const std::string& dir, std::vector<std::string>* tables) {
  std::vector<std::string> names;
  int rc = db::os::env().listDir(dir, &names);
  if (rc != db::kOk) return rc;
  tables->clear();
  for (const std::string& n : names)
    if (isTableName(n)) tables->push_back(n);
  std::sort(tables->begin(), tables->end());
  return db::kOk;
}

}  // namespace kdbtool
