#include "db/format.h"

#include <openssl/evp.h>

#include "db/errors.h"
#include "runtime/value.h"

namespace db {

int fieldWidth(int32_t kind, int32_t declaredSize) {
  switch (kind) {
    case kFByte:
    case kFBool:
      return 1;
    case kFShort:
      return 2;
    case kFInt:
    case kFFloat:
    case kFSubPtr:
    case kFBytes:
    case kFMemo:
      return 4;
    case kFLong:
    case kFDouble:
    case kFDateTime:
      return 8;
    case kFText:
      return declaredSize;
    default:
      return 0;
  }
}

uint32_t valueKindOf(int32_t kind) {
  switch (kind) {
    case kFByte:
      return rt::kByte;
    case kFShort:
      return rt::kShort;
    case kFInt:
      return rt::kInt;
    case kFLong:
      return rt::kLong;
    case kFFloat:
      return rt::kFloat;
    case kFDouble:
      return rt::kDouble;
    case kFBool:
      return rt::kBool;
    case kFDateTime:
      return rt::kDateTime;
    case kFSubPtr:
      return rt::kSubPtr;
    case kFText:
    case kFMemo:
      return rt::kText;
    case kFBytes:
      return rt::kBytes;
    default:
      return rt::kOmitted;
  }
}

void encodeHeader(const Header& h, uint8_t out[kHeaderFixed]) {
  std::memset(out, 0, kHeaderFixed);
  std::memcpy(out + kOffMagic, h.protectedFile ? kMagicProtected : kMagicPlain, 4);
  putI32(out + kOffVersion, h.version);
  putF64(out + kOffCreated, h.created);
  putI32(out + kOffCount, h.count);
  putI32(out + kOffSerial, h.nextSerial);
  putI32(out + kOffRecordSize, h.recordSize);
  if (h.protectedFile) {
    size_t n = h.digest.size() < size_t(kDigestLength) ? h.digest.size() : size_t(kDigestLength);
    std::memcpy(out + kOffDigest, h.digest.data(), n);  // NUL follows: area is zeroed
  }
}

int decodeHeader(const uint8_t in[kHeaderFixed], Header* h) {
  if (std::memcmp(in, kMagicPlain, 4) == 0) {
    h->protectedFile = false;
  } else if (std::memcmp(in, kMagicProtected, 4) == 0) {
    h->protectedFile = true;
  } else {
    return kNotDatabase;
  }
  h->version = getI32(in + kOffVersion);
  h->created = getF64(in + kOffCreated);
  h->count = getI32(in + kOffCount);
  h->nextSerial = getI32(in + kOffSerial);
  h->recordSize = getI32(in + kOffRecordSize);
  h->digest.clear();
  if (h->protectedFile) {
    const char* d = reinterpret_cast<const char*>(in + kOffDigest);
    size_t n = 0;
    while (n < size_t(kDigestLength) && d[n]) ++n;
    h->digest.assign(d, n);
  }
  return kOk;
}

int validateHeader(const Header& h) {
  if (h.recordSize <= 0 || h.count < 0 || h.nextSerial < 1) return kNotDatabase;
  if (h.version > kVersion) return kVersionTooHigh;
  return kOk;
}

void encodeDescriptor(const Field& f, uint8_t out[kDescriptorSize]) {
  std::memset(out, 0, kDescriptorSize);
  size_t n = f.name.size() < size_t(kMaxNameLength) ? f.name.size() : size_t(kMaxNameLength);
  std::memcpy(out + kDescName, f.name.data(), n);
  putI32(out + kDescKind, f.kind);
  putI32(out + kDescOffset, f.offset);
  putI32(out + kDescSize, f.kind == kFText ? f.size : 0);
}

int decodeDescriptor(const uint8_t in[kDescriptorSize], int32_t recordSize, Field* f) {
  size_t n = 0;
  while (n < size_t(kMaxNameLength + 1) && in[n]) ++n;
  if (n > size_t(kMaxNameLength)) return kNotDatabase;  // no NUL in the first 17 bytes
  f->name.assign(reinterpret_cast<const char*>(in), n);
  f->kind = getI32(in + kDescKind);
  f->offset = getI32(in + kDescOffset);
  f->size = getI32(in + kDescSize);
  if (f->kind < kFByte || f->kind > kFMemo || f->offset < 0) return kNotDatabase;
  if (f->kind == kFText && f->size <= 0) return kNotDatabase;
  f->width = fieldWidth(f->kind, f->size);
  if (f->kind != kFText) f->size = 0;
  // A field reaching outside its record (or into the record header) would
  // make every read of it run past the record; such a file is refused.
  if (f->offset < kRecordHeader || int64_t(f->offset) + f->width > recordSize) return kNotDatabase;
  return kOk;
}

int32_t layoutFields(std::vector<Field>* fields) {
  int32_t at = kRecordHeader;
  for (Field& f : *fields) {
    f.width = fieldWidth(f.kind, f.size);
    if (f.kind != kFText) f.size = 0;
    f.offset = at;
    at += f.width;
  }
  return at;
}

namespace {

enum class Ch { kLetter, kDigit, kChinese, kOther };

// Classifies the character at s[i] and sets *len to its byte length.
Ch classify(std::string_view s, size_t i, size_t* len) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  *len = 1;
  if (b < 0x80) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) return Ch::kLetter;
    if (b >= '0' && b <= '9') return Ch::kDigit;
    return Ch::kOther;
  }
  if (b < 0x81 || b == 0xFF || i + 1 >= s.size()) return Ch::kOther;
  unsigned char t = static_cast<unsigned char>(s[i + 1]);
  if (t < 0x40 || t == 0x7F || t == 0xFF) return Ch::kOther;
  *len = 2;
  if (b == 0xA3) {
    if ((t >= 0xC1 && t <= 0xDA) || (t >= 0xE1 && t <= 0xFA)) return Ch::kLetter;  // Ａ-Ｚ ａ-ｚ
    if (t >= 0xB0 && t <= 0xB9) return Ch::kDigit;                                 // ０-９
    return Ch::kOther;
  }
  if (b >= 0xB0 && b <= 0xF7 && t >= 0xA1) return Ch::kChinese;  // GB2312 characters
  if (b <= 0xA0) return Ch::kChinese;                            // GBK extension 1
  if (b >= 0xAA && t <= 0xA0) return Ch::kChinese;               // GBK extension 2
  return Ch::kOther;
}

}  // namespace

bool isValidName(std::string_view s, size_t maxBytes) {
  if (s.empty() || (maxBytes && s.size() > maxBytes)) return false;
  for (size_t i = 0; i < s.size();) {
    size_t len;
    Ch c = classify(s, i, &len);
    if (c == Ch::kOther || (i == 0 && c == Ch::kDigit)) return false;
    i += len;
  }
  return true;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x81 && x <= 0xFE && i + 1 < a.size()) {
      // Two-byte character: both bytes compared exactly.
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
    if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string passwordDigest(std::string_view password) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLen = 0;
  EVP_Digest(password.data(), password.size(), md, &mdLen, EVP_md5(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string h(32, '0');
  for (unsigned i = 0; i < 16 && i < mdLen; ++i) {
    h[2 * i] = hex[md[i] >> 4];
    h[2 * i + 1] = hex[md[i] & 15];
  }
  for (size_t i = 0; i + 1 < h.size(); i += 2) std::swap(h[i], h[i + 1]);
  return std::string(h.rbegin(), h.rend());
}

bool digestMatches(std::string_view stored, std::string_view password) {
  return equalsNoCase(stored, passwordDigest(password));
}

}  // namespace db
