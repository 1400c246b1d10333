// memory.cpp -- heap blocks for the decoding core, with one policy for failure.
#include <stdlib.h>

#include "sfxcore.h"

void *TryAllocateMemory(size_t size) { return malloc(size ? size : 1); }

void *AllocateMemory(size_t size) {
  void *block = TryAllocateMemory(size);
  if (!block) OutOfMemory();
  return block;
}

void ReleaseMemory(void *block) { free(block); }
