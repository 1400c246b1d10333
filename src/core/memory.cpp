// memory.cpp -- heap blocks for the decoding core, with one policy for failure.
#include <stdlib.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "sfxcore.h"

void *TryAllocateMemory(size_t size) { return malloc(size ? size : 1); }

void *AllocateMemory(size_t size) {
  void *block = TryAllocateMemory(size);
  if (!block) OutOfMemory();
  return block;
}

void *TryAllocateTable(size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Tables read at random miss the TLB on nearly every access with 4 KiB pages;
  // 2 MiB pages (where the system gives them on request) take most of that
  // away and fault in 512 times less often.
  enum : size_t { Huge = 2u << 20 };
  void *block = nullptr;
  if (size >= Huge && posix_memalign(&block, Huge, size) == 0) {
    madvise(block, size, MADV_HUGEPAGE);
    return block;
  }
#endif
  return TryAllocateMemory(size);
}

void ReleaseMemory(void *block) { free(block); }
