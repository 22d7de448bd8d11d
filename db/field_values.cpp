#include "db/field_values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "db/aux.h"
#include "db/errors.h"
#include "runtime/blocks.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace db {
namespace {

// Truncation toward zero to 64 bits, defined for every double.
int64_t truncToInt64(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return INT64_MAX;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  return int64_t(d);
}

// A numeric argument as either an integer or a floating value.
void numericOf(const rt::Arg& v, bool* floating, int64_t* i, double* d) {
  *floating = false;
  switch (v.kind) {
    case rt::kByte:
      *i = uint8_t(v.lo);
      break;
    case rt::kShort:
      *i = int16_t(v.lo);
      break;
    case rt::kInt:
      *i = int32_t(v.lo);
      break;
    case rt::kLong:
      *i = rt::longValue(v);
      break;
    case rt::kFloat:
      *floating = true;
      *d = rt::floatValue(v);
      break;
    default:
      *floating = true;
      *d = rt::doubleValue(v);
      break;
  }
}

}  // namespace

int readFieldValue(const Field& f, const uint8_t* rec, AuxFile* aux, rt::Arg* out) {
  const uint8_t* p = rec + f.offset;
  *out = rt::Arg{};
  switch (f.kind) {
    case kFByte:
      *out = rt::makeByte(p[0]);
      break;
    case kFShort:
      *out = rt::makeShort(getI16(p));
      break;
    case kFInt:
      *out = rt::makeInt(getI32(p));
      break;
    case kFLong:
      *out = rt::makeLong(int64_t(getU64(p)));
      break;
    case kFFloat:
      *out = rt::makeFloat(getF32(p));
      break;
    case kFDouble:
      *out = rt::makeDouble(getF64(p));
      break;
    case kFBool:
      *out = rt::makeBool(p[0] != 0);
      break;
    case kFDateTime:
      *out = rt::makeDateTime(getF64(p));
      break;
    case kFSubPtr:
      out->lo = uint32_t(getI32(p));
      out->kind = rt::kSubPtr;
      break;
    case kFText: {
      const void* nul = std::memchr(p, 0, size_t(f.size));
      long len = nul ? long(static_cast<const uint8_t*>(nul) - p) : long(f.size);
      *out = rt::makePointer(rt::textCopy(reinterpret_cast<const char*>(p), len), rt::kText);
      break;
    }
    case kFMemo:
    case kFBytes: {
      out->kind = f.kind == kFMemo ? rt::kText : rt::kBytes;
      std::string data;
      if (!aux) return kAuxAccess;
      int rc = aux->read(getI32(p), &data);
      if (rc != kOk) return rc;
      if (f.kind == kFMemo) {
        size_t len = strnlen(data.data(), data.size());
        *out = rt::makePointer(rt::textCopy(data.data(), long(len)), rt::kText);
      } else {
        *out = rt::makePointer(rt::makeByteSet(data.data(), data.size()), rt::kBytes);
      }
      break;
    }
    default:
      return kFieldReadFailed;
  }
  return kOk;
}

bool fieldHoldsText(const Field& f, const uint8_t* rec, std::string_view gbk) {
  if (f.kind != kFText) return false;
  const char* p = reinterpret_cast<const char*>(rec + f.offset);
  size_t len = strnlen(p, size_t(f.size));
  return len == gbk.size() && std::memcmp(p, gbk.data(), len) == 0;
}

int checkFieldValue(const Field& f, const rt::Arg& v) {
  if (!rt::isBasicKind(v.kind)) return kValueKindMismatch;
  uint32_t want = valueKindOf(f.kind);
  if (v.kind == want || (rt::isNumericKind(v.kind) && rt::isNumericKind(want))) return kOk;
  return kValueKindMismatch;
}

int writeFieldValue(const Field& f, const rt::Arg& v, AuxFile* aux, uint8_t* rec) {
  uint8_t* p = rec + f.offset;
  if (rt::isNumericKind(v.kind)) {
    bool floating;
    int64_t i = 0;
    double d = 0;
    numericOf(v, &floating, &i, &d);
    switch (f.kind) {
      case kFFloat:
        putF32(p, floating ? float(d) : float(i));
        return kOk;
      case kFDouble:
        putF64(p, floating ? d : double(i));
        return kOk;
      default:
        break;
    }
    if (floating) i = truncToInt64(d);
    switch (f.kind) {
      case kFByte:
        p[0] = uint8_t(i);
        return kOk;
      case kFShort:
        putI16(p, int16_t(i));
        return kOk;
      case kFInt:
        putI32(p, int32_t(uint32_t(uint64_t(i))));
        return kOk;
      case kFLong:
        putU64(p, uint64_t(i));
        return kOk;
      default:
        return kValueKindMismatch;
    }
  }
  switch (f.kind) {
    case kFBool:
      p[0] = v.lo != 0 ? 1 : 0;
      return kOk;
    case kFDateTime:
      putF64(p, rt::doubleValue(v));
      return kOk;
    case kFSubPtr:
      putI32(p, int32_t(v.lo));
      return kOk;
    case kFText: {
      const char* s = rt::textValue(v);
      size_t len = strnlen(s, size_t(f.size));
      // A text longer than the field is cut to whole characters: the lead
      // byte of a two-byte character whose second byte falls past the
      // field is dropped rather than stored alone (it would show as a
      // broken character everywhere the field is read).
      if (len == size_t(f.size) && s[len] != '\0') {
        size_t whole = 0;
        while (whole < len) {
          size_t step = rt::isGbkLead(static_cast<unsigned char>(s[whole])) ? 2 : 1;
          if (whole + step > len) break;
          whole += step;
        }
        len = whole;
      }
      std::memset(p, 0, size_t(f.size));
      std::memcpy(p, s, len);
      return kOk;
    }
    case kFMemo:
    case kFBytes: {
      if (!aux) return kAuxAccess;
      const void* data = nullptr;
      size_t n = 0;
      if (f.kind == kFMemo) {
        const char* s = rt::textValue(v);
        n = std::strlen(s);
        if (n) ++n;  // stored with its terminating NUL
        data = s;
      } else {
        data = rt::byteSetData(rt::pointerValue<void>(v), &n);
      }
      int32_t first = 0;
      int rc = aux->write(data, n, &first);
      if (rc != kOk) return rc;
      putI32(p, first);
      return kOk;
    }
    default:
      return kValueKindMismatch;
  }
}

void settleChains(const std::vector<Field>& fields, AuxFile* aux, const uint8_t* before, const uint8_t* after,
                  bool written) {
  if (!aux) return;
  std::vector<int32_t> drop;
  for (const Field& f : fields) {
    if (!isChainKind(f.kind)) continue;
    int32_t o = getI32(before + f.offset), n = getI32(after + f.offset);
    if (o != n) drop.push_back(written ? o : n);
  }
  drop.erase(std::remove(drop.begin(), drop.end(), 0), drop.end());
  // A release that fails leaves the blocks off the free list: lost, never
  // given out twice, and found again by kdbtool's repair.
  static_cast<void>(aux->release(drop));
}

void releaseChains(const std::vector<Field>& fields, AuxFile* aux, const uint8_t* rec) {
  if (!aux) return;
  // As in settleChains, a chain whose release fails is only lost space.
  for (const Field& f : fields)
    if (isChainKind(f.kind)) static_cast<void>(aux->release(getI32(rec + f.offset)));
}

int copyChainValue(const Field& f, const uint8_t* rec, AuxFile* src, AuxFile* dst, const Field& df, uint8_t* dstRec) {
  putI32(dstRec + df.offset, 0);
  int32_t first = getI32(rec + f.offset);
  if (first == 0) return kOk;
  if (!src || !dst) return kAuxAccess;
  std::string data;
  int rc = src->read(first, &data);
  if (rc != kOk) return rc;
  int32_t nf = 0;
  rc = dst->write(data.data(), data.size(), &nf);
  if (rc == kOk) putI32(dstRec + df.offset, nf);
  return rc;
}

}  // namespace db
