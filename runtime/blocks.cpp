#include "runtime/blocks.h"

#include <cstring>

#include "runtime/fatal.h"
#include "runtime/heap.h"

namespace rt {
namespace {

int32_t readI32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void writeI32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

BlockView viewBlock(const void* block) {
  BlockView v;
  if (!block) return v;
  size_t total = blockSize(block);
  const uint8_t* b = static_cast<const uint8_t*>(block);
  if (total < 4) return v;
  int32_t dims = readI32(b);
  if (dims < 1 || size_t(dims) > (total - 4) / 4) return BlockView{};
  int64_t elements = 1;
  for (int32_t i = 0; i < dims; ++i) {
    int32_t n = readI32(b + 4 + 4 * i);
    if (n < 0) return BlockView{};
    elements *= n;
    if (elements > int64_t(total)) elements = int64_t(total);  // capped below
  }
  v.dims = dims;
  v.elements = elements;
  v.data = b + 4 + 4 * size_t(dims);
  v.dataBytes = total - 4 - 4 * size_t(dims);
  return v;
}

void* makeByteSet(const void* bytes, size_t n) {
  if (n == 0) return nullptr;
  uint8_t* b = static_cast<uint8_t*>(alloc(8 + n));
  writeI32(b, 1);
  writeI32(b + 4, int32_t(n));
  if (bytes) std::memcpy(b + 8, bytes, n);
  return b;
}

const uint8_t* byteSetData(const void* block, size_t* n) {
  BlockView v = viewBlock(block);
  size_t len = v.elements < 0 ? 0 : size_t(v.elements);
  if (len > v.dataBytes) len = v.dataBytes;
  *n = len;
  return len ? v.data : nullptr;
}

void* makeArray(int32_t count, size_t elemSize) {
  if (count < 0) count = 0;
  uint8_t* b = static_cast<uint8_t*>(alloc(8 + size_t(count) * elemSize));
  writeI32(b, 1);
  writeI32(b + 4, count);
  return b;
}

int64_t arrayCount(const void* block) { return viewBlock(block).elements; }

void* arrayPointerAt(const void* block, int64_t index) {
  BlockView v = viewBlock(block);
  if (index < 0 || index >= v.elements || size_t(index + 1) * sizeof(void*) > v.dataBytes) return nullptr;
  void* p;
  std::memcpy(&p, v.data + size_t(index) * sizeof(void*), sizeof p);
  return p;
}

void setArrayPointer(void* block, int64_t index, const void* p) {
  BlockView v = viewBlock(block);
  if (index < 0 || index >= v.elements || size_t(index + 1) * sizeof(void*) > v.dataBytes) return;
  std::memcpy(const_cast<uint8_t*>(v.data) + size_t(index) * sizeof(void*), &p, sizeof p);
}

void* arrayElement(const void* block, int64_t index1) {
  if (index1 < 1) raiseRuntimeError(4);
  BlockView v = viewBlock(block);
  if (index1 > v.elements || size_t(index1) * sizeof(void*) > v.dataBytes) raiseRuntimeError(1);
  return arrayPointerAt(block, index1 - 1);
}

}  // namespace rt
