// memory.cpp -- heap blocks for the decoding core, with one policy for failure.
#include <stdlib.h>

#include "sfxcore.h"

void *AllocateMemory(size_t size) {
  void *block = malloc(size ? size : 1);
  if (!block) OutOfMemory();
  return block;
}

void ReleaseMemory(void *block) { free(block); }
