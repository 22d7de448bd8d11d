// The ".kdb" database file: byte layouts, their encoders and decoders, and
// the checks a file must pass before the engine touches its records. All
// integers are little-endian and are read and written with the helpers
// below, never by copying structs.
//
// Database file:
//
//   offset       size      content
//   0            4         magic "WKDB"; "WCDB" when password-protected
//   4            4         version, int32 0x00010000
//   8            8         creation date-time, double (days)
//   16           4         record count, int32 (deleted records included)
//   20           4         next record serial, int32 (1 in a new file)
//   24           4         record size, int32 (4 + widths of all fields)
//   28           84        zero; a protected file keeps its 32-character
//                          password digest, NUL-terminated, from 28
//   112          4         field count n, int32, >= 1
//   116          72 * n    field descriptors
//   116 + 72n    ...       records, record i at 116 + 72n + i * record size
//
// Field descriptor (72 bytes):
//
//   offset  size  content
//   0       20    name, NUL-terminated (<= 16 bytes of text), zero padded
//   20      4     field kind 1..12, int32
//   24      4     offset of the field in the record, int32 (first field 4)
//   28      4     declared size for kind 10, int32; 0 for other kinds
//   32      40    zero
//
// Record: int32 header (the serial; negated when marked deleted), then the
// fields at their offsets, packed without gaps.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace db {

// --- little-endian helpers ----------------------------------------------

inline int32_t getI32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}
inline void putI32(uint8_t* p, int32_t v) {
  uint32_t u = uint32_t(v);
  p[0] = uint8_t(u);
  p[1] = uint8_t(u >> 8);
  p[2] = uint8_t(u >> 16);
  p[3] = uint8_t(u >> 24);
}
inline uint64_t getU64(const uint8_t* p) {
  return uint64_t(uint32_t(getI32(p))) | uint64_t(uint32_t(getI32(p + 4))) << 32;
}
inline void putU64(uint8_t* p, uint64_t v) {
  putI32(p, int32_t(uint32_t(v)));
  putI32(p + 4, int32_t(uint32_t(v >> 32)));
}
inline int16_t getI16(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }
inline void putI16(uint8_t* p, int16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(uint16_t(v) >> 8);
}
inline double getF64(const uint8_t* p) {
  uint64_t b = getU64(p);
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}
inline void putF64(uint8_t* p, double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  putU64(p, b);
}
inline float getF32(const uint8_t* p) {
  uint32_t b = uint32_t(getI32(p));
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}
inline void putF32(uint8_t* p, float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  putI32(p, int32_t(b));
}

// --- constants ----------------------------------------------------------

constexpr int32_t kVersion = 0x00010000;
constexpr int kHeaderFixed = 112;  // bytes before the field count
constexpr int kDescriptorsAt = 116;
constexpr int kDescriptorSize = 72;
constexpr int kRecordHeader = 4;
constexpr int kOffMagic = 0, kOffVersion = 4, kOffCreated = 8, kOffCount = 16, kOffSerial = 20, kOffRecordSize = 24,
              kOffDigest = 28, kOffFieldCount = 112;
constexpr int kDescName = 0, kDescKind = 20, kDescOffset = 24, kDescSize = 28;
constexpr int kNameBytes = 20;      // name area of a descriptor
constexpr int kMaxNameLength = 16;  // bytes of text in a field name
constexpr int kMaxTextSize = 1024;  // largest kind-10 field
constexpr int kDigestLength = 32;
constexpr int kScanBatchBytes = 163840;

constexpr char kMagicPlain[4] = {'W', 'K', 'D', 'B'};
constexpr char kMagicProtected[4] = {'W', 'C', 'D', 'B'};

enum FieldKind : int32_t {
  kFByte = 1,
  kFShort = 2,
  kFInt = 3,
  kFLong = 4,
  kFFloat = 5,
  kFDouble = 6,
  kFBool = 7,
  kFDateTime = 8,
  kFSubPtr = 9,
  kFText = 10,
  kFBytes = 11,
  kFMemo = 12,
};

// Stored width of a field of `kind` (declared size for kind 10); 0 for an
// invalid kind.
int fieldWidth(int32_t kind, int32_t declaredSize);
// The value kind (rt::Kind) reading a field of `kind` yields.
uint32_t valueKindOf(int32_t kind);
// Memo and byte-set fields keep their data in the auxiliary file.
inline bool isChainKind(int32_t kind) { return kind == kFBytes || kind == kFMemo; }

// --- in-memory forms ----------------------------------------------------

struct Field {
  std::string name;  // GBK, as stored
  int32_t kind = 0;
  int32_t offset = 0;  // inside the record
  int32_t size = 0;    // declared size (kind 10), 0 otherwise
  int32_t width = 0;   // bytes in the record
};

struct Header {
  bool protectedFile = false;
  int32_t version = kVersion;
  double created = 0;
  int32_t count = 0;
  int32_t nextSerial = 1;
  int32_t recordSize = 0;
  std::string digest;  // protected files only (as stored, up to 32 chars)
};

// Encodes the 112 fixed header bytes.
void encodeHeader(const Header& h, uint8_t out[kHeaderFixed]);
// Decodes the fixed bytes; -22 for a wrong magic. Value ranges are checked
// by validateHeader.
[[nodiscard]] int decodeHeader(const uint8_t in[kHeaderFixed], Header* h);
// Record size > 0, count >= 0, next serial >= 1 (else -22); version not
// above kVersion (else -23).
[[nodiscard]] int validateHeader(const Header& h);

void encodeDescriptor(const Field& f, uint8_t out[kDescriptorSize]);
// Decodes and checks one descriptor against the record size: a NUL within
// the first 17 bytes, kind 1..12, size > 0 for kind 10, and the field lying
// wholly inside the record after the record header. -22 otherwise.
[[nodiscard]] int decodeDescriptor(const uint8_t in[kDescriptorSize], int32_t recordSize, Field* f);

// Lays out fields from offset 4 and returns the record size.
int32_t layoutFields(std::vector<Field>* fields);

// --- names --------------------------------------------------------------

// The rule for field names and aliases: the first character a half- or
// full-width letter or a Chinese character, every other one a letter, a
// digit (half or full width) or a Chinese character. `maxBytes` 0 means
// no length limit.
bool isValidName(std::string_view gbk, size_t maxBytes);

// Equality ignoring the case of ASCII letters, walking GBK characters so
// that a trail byte which happens to be a letter is compared exactly.
bool equalsNoCase(std::string_view a, std::string_view b);

// --- password digest ----------------------------------------------------

// MD5 of the bytes as 32 lower-case hex digits, each pair swapped, then
// the whole reversed.
std::string passwordDigest(std::string_view password);
// The stored digest compared with the digest of `password`, ignoring case.
bool digestMatches(std::string_view stored, std::string_view password);

}  // namespace db
