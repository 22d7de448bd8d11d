// Value kinds and the 12-byte argument/result record through which every
// runtime command is called.
//
// Record layout (little-endian, 12 bytes, no padding):
//
//   offset  size  field
//   0       4     value, low 32 bits
//   4       4     value, high 32 bits
//   8       4     value kind (Kind below; 0 = omitted)
//
// The two value words together form one 8-byte slot. What the slot holds
// depends on the kind:
//
//   byte, short, integer   the value in the low word (sign-extended)
//   long                   all 64 bits
//   float                  IEEE single in the low word
//   double, date-time      IEEE double in all 64 bits
//   bool                   int32 in the low word, 0 = false
//   text                   pointer to NUL-terminated GBK bytes, null = ""
//   byte-set, arrays       pointer to a block (see blocks.h), null = empty
//   subroutine pointer     code address in the low word
//   expression             pointer to an Expression (see below)
//   window                 window ID low, the window's element ID high
//   control objects        window ID low, control ID high
//
// On this 64-bit platform a pointer takes the whole slot, so an expression,
// which needs an entry and a frame, is passed as a pointer to an Expression
// pair that lives in the caller's frame.
//
// Values are read and written through the helpers below, never by copying
// whole structs, so the record stays exactly 12 bytes whatever the compiler
// does with alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace rt {

enum Kind : uint32_t {
  kOmitted = 0,
  kByte = 0x80000101,
  kShort = 0x80000201,
  kInt = 0x80000301,
  kLong = 0x80000401,
  kFloat = 0x80000501,
  kDouble = 0x80000601,
  kBool = 0x80000002,
  kDateTime = 0x80000003,
  kText = 0x80000004,
  kBytes = 0x80000005,
  kSubPtr = 0x80000006,
  kExpr = 0x80000008,

  // Objects of a library: high 16 bits the library, low 16 the object.
  kWindow = 0x00010001,
  kEditBox = 0x00010005,
  kDrawPanel = 0x00010008,
  kComboBox = 0x0001000E,
  kPrinter = 0x00010021,
  kFieldInf = 0x00010022,
  kListView = 0x00020004,
};

// Set in a kind to mark an array of that kind.
constexpr uint32_t kArrayFlag = 0x20000000;

inline bool isArray(uint32_t kind) { return (kind & kArrayFlag) != 0; }
inline uint32_t elementKind(uint32_t kind) { return kind & ~kArrayFlag; }
inline bool isSystemKind(uint32_t kind) { return (kind & 0x80000000u) != 0; }

// Byte, short, integer, long, float, double.
inline bool isNumericKind(uint32_t kind) {
  switch (kind) {
    case kByte:
    case kShort:
    case kInt:
    case kLong:
    case kFloat:
    case kDouble:
      return true;
    default:
      return false;
  }
}

// A system kind that is not an array (what a field can hold or an
// expression may return).
inline bool isBasicKind(uint32_t kind) { return isSystemKind(kind) && !isArray(kind); }

struct Arg {
  uint32_t lo = 0;
  uint32_t hi = 0;
  uint32_t kind = kOmitted;
};
static_assert(sizeof(Arg) == 12, "argument record must be 12 bytes");

// An expression: code of the caller that the engine runs once per record.
// `fn` fills `result` (already zero-filled by evalExpression) and may use
// `frame` for whatever state the caller bound. It must not throw.
struct Expression {
  void (*fn)(Arg* result, void* frame);
  void* frame;
};

// --- slot access --------------------------------------------------------

inline uint64_t slot(const Arg& a) { return uint64_t(a.lo) | (uint64_t(a.hi) << 32); }
inline void setSlot(Arg& a, uint64_t v) {
  a.lo = uint32_t(v);
  a.hi = uint32_t(v >> 32);
}

inline int32_t lowInt(const Arg& a) { return int32_t(a.lo); }
inline int64_t longValue(const Arg& a) { return int64_t(slot(a)); }
inline double doubleValue(const Arg& a) {
  uint64_t bits = slot(a);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline float floatValue(const Arg& a) {
  float f;
  std::memcpy(&f, &a.lo, sizeof f);
  return f;
}
template <typename T = void>
inline T* pointerValue(const Arg& a) {
  return reinterpret_cast<T*>(uintptr_t(slot(a)));
}
// The text of a text argument; "" for null.
inline const char* textValue(const Arg& a) {
  const char* p = pointerValue<const char>(a);
  return p ? p : "";
}

// --- record builders ----------------------------------------------------

inline Arg makeInt(int32_t v) {
  Arg a;
  a.lo = uint32_t(v);
  a.hi = v < 0 ? 0xFFFFFFFFu : 0;
  a.kind = kInt;
  return a;
}
inline Arg makeShort(int16_t v) {
  Arg a = makeInt(v);
  a.kind = kShort;
  return a;
}
inline Arg makeByte(uint8_t v) {
  Arg a;
  a.lo = v;
  a.kind = kByte;
  return a;
}
inline Arg makeLong(int64_t v) {
  Arg a;
  setSlot(a, uint64_t(v));
  a.kind = kLong;
  return a;
}
inline Arg makeBool(bool v) {
  Arg a;
  a.lo = v ? 1 : 0;
  a.kind = kBool;
  return a;
}
inline Arg makeDouble(double v) {
  Arg a;
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  setSlot(a, bits);
  a.kind = kDouble;
  return a;
}
inline Arg makeFloat(float v) {
  Arg a;
  std::memcpy(&a.lo, &v, sizeof v);
  a.kind = kFloat;
  return a;
}
inline Arg makeDateTime(double v) {
  Arg a = makeDouble(v);
  a.kind = kDateTime;
  return a;
}
inline Arg makePointer(const void* p, uint32_t kind) {
  Arg a;
  setSlot(a, uint64_t(uintptr_t(p)));
  a.kind = kind;
  return a;
}
// A text argument borrowing the caller's bytes (no copy).
inline Arg makeTextRef(const char* gbk) { return makePointer(gbk, kText); }
inline Arg makeExpr(const Expression* e) { return makePointer(e, kExpr); }
// A window or control argument.
inline Arg makeObject(uint32_t kind, uint32_t windowId, uint32_t elementId) {
  Arg a;
  a.lo = windowId;
  a.hi = elementId;
  a.kind = kind;
  return a;
}

// --- argument lists -----------------------------------------------------

// Argument i, or null when it was not passed or was passed as omitted
// (kind 0): commands must not tell the two apart.
inline const Arg* argAt(int argc, const Arg* argv, int i) {
  if (i < 0 || i >= argc || argv[i].kind == kOmitted) return nullptr;
  return &argv[i];
}

// Runs an expression argument and returns its result record. The result is
// zero-filled before the call, as for a command.
inline Arg evalExpression(const Arg& e) {
  Arg result;
  const Expression* x = pointerValue<const Expression>(e);
  if (x && x->fn) x->fn(&result, x->frame);
  return result;
}

}  // namespace rt
