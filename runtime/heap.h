// The runtime heap. Texts and byte-sets that commands return come from here;
// the caller owns them and gives them back with rt::free.
//
// Every block carries a 16-byte prefix in front of the pointer handed out:
//
//   offset  size  field
//   0       4     magic 0x4B48524D ("MRHK"): live block
//   4       4     flags, bit 0 = permanent (free leaves it alone)
//   8       8     payload size in bytes
//
// The prefix lets free() recognise permanent blocks without a lookup table
// and catch a pointer that did not come from this heap.
#pragma once

#include <cstddef>

namespace rt {

// Returns a block of at least `bytes` bytes (zero-filled). Never returns
// null: when the heap is exhausted the program ends through the fatal path
// with "分配 %d 字节内存失败!".
void* alloc(size_t bytes);

// Gives a block back. Null is ignored; a permanent block is left alone.
void free(void* block);

// Marks a block as permanent: free() will ignore it from now on. Used for
// program-wide values that several owners hand around.
void markPermanent(void* block);

// A new block holding `len` bytes of `bytes` and a terminating NUL. A length
// below 1 gives null, which is the empty text.
char* textCopy(const char* bytes, long len);

// textCopy of a NUL-terminated text (null or "" gives null).
char* textCopy(const char* text);

// Payload size of a block from alloc (0 for null).
size_t blockSize(const void* block);

}  // namespace rt
