#include "runtime/heap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace rt {
namespace {

constexpr uint32_t kMagic = 0x4B48524D;
constexpr uint32_t kPermanent = 1;
constexpr size_t kPrefix = 16;

struct Prefix {
  uint32_t magic;
  uint32_t flags;
  uint64_t size;
};
static_assert(sizeof(Prefix) == kPrefix);

Prefix* prefixOf(const void* block) {
  return reinterpret_cast<Prefix*>(static_cast<char*>(const_cast<void*>(block)) - kPrefix);
}

[[noreturn]] void allocationFailed(size_t bytes) {
  // The message is built on the stack: the heap just failed. The count is
  // written in full, not squeezed into an int.
  char msg[96];
  std::snprintf(msg, sizeof msg, "%s%llu%s", GBK("分配 "), (unsigned long long)bytes, GBK(" 字节内存失败!"));
  fatalError(msg);
}

}  // namespace

void* alloc(size_t bytes) {
  if (bytes > SIZE_MAX - kPrefix) allocationFailed(bytes);
  void* raw = std::calloc(1, bytes + kPrefix);
  if (!raw) allocationFailed(bytes);
  Prefix* p = static_cast<Prefix*>(raw);
  p->magic = kMagic;
  p->flags = 0;
  p->size = bytes;
  return static_cast<char*>(raw) + kPrefix;
}

void free(void* block) {
  if (!block) return;
  Prefix* p = prefixOf(block);
  if (p->magic != kMagic) {
    // Not a block of this heap, or freed twice: a fault in the caller that
    // would otherwise corrupt memory silently.
    fatalError(GBK("释放了不属于运行时堆的内存块"));
  }
  if (p->flags & kPermanent) return;
  p->magic = 0;
  std::free(p);
}

void markPermanent(void* block) {
  if (!block) return;
  prefixOf(block)->flags |= kPermanent;
  // Held here for the program's life, so that a permanent block is one the
  // program still holds at its end, never a leak.
  static std::vector<void*>& kept = *new std::vector<void*>;
  kept.push_back(block);
}

size_t blockSize(const void* block) { return block ? size_t(prefixOf(block)->size) : 0; }

char* textCopy(const char* bytes, long len) {
  if (len < 1 || !bytes) return nullptr;
  char* t = static_cast<char*>(alloc(size_t(len) + 1));
  std::memcpy(t, bytes, size_t(len));
  t[len] = 0;
  return t;
}

char* textCopy(const char* text) { return text ? textCopy(text, long(std::strlen(text))) : nullptr; }

}  // namespace rt
