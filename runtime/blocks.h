// Byte-set and array blocks. Both live on the runtime heap:
//
//   offset       size     field
//   0            4        number of dimensions d (1 for byte-sets)
//   4            4 * d    element count of each dimension
//   4 + 4 * d    ...      the elements, packed
//
// An array of texts or of structures holds element pointers (8 bytes each
// on this platform). A FieldInf element, the field descriptor passed to
// CreateDatabase, is
//
//   offset  size  field
//   0       8     name (text pointer)
//   8       4     field kind (int32)
//   12      4     size (int32; 20 when not set)
//
// Elements are read with memcpy because the element area of a block with an
// even number of dimensions starts on a 4-byte boundary only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/value.h"

namespace rt {

struct FieldInf {
  const char* name;
  int32_t kind;
  int32_t size;
};
constexpr int32_t kDefaultFieldSize = 20;

// Header view of a block; all counts are checked against what the block's
// heap size can hold, so a damaged header reads as an empty block.
struct BlockView {
  int32_t dims = 0;
  int64_t elements = 0;           // product of the dimension counts
  const uint8_t* data = nullptr;  // first element
  size_t dataBytes = 0;           // bytes from data to the end of the block
};
BlockView viewBlock(const void* block);

// A new byte-set holding `n` bytes (null when n is 0: the empty byte-set).
void* makeByteSet(const void* bytes, size_t n);
// Bytes and length of a byte-set (null block: 0 bytes).
const uint8_t* byteSetData(const void* block, size_t* n);

// A new one-dimensional array block of `count` elements of `elemSize`
// bytes, zero-filled.
void* makeArray(int32_t count, size_t elemSize);
// Pointer to element `index` (0-based) of a one-dimensional array of
// pointers; the caller has checked the bounds.
void* arrayPointerAt(const void* block, int64_t index);
void setArrayPointer(void* block, int64_t index, const void* p);

// Element `index` of an array of pointers for application code, with the
// runtime's checks: index is 1-based; below 1 raises runtime error 4,
// beyond the element count runtime error 1.
void* arrayElement(const void* block, int64_t index1);

// Number of elements of an array block (product of its dimensions).
int64_t arrayCount(const void* block);

}  // namespace rt
