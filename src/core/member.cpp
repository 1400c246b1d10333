// member.cpp -- the member being decoded: its state, defined once for every
// program that links the core, and the copy of a stored member.
#include "member.h"

#include "crc32.h"
#include "decrypt.h"

MEMBER_STATE int64_t CompressedLeft = 0;
MEMBER_STATE uint32_t EntryCrc = 0;
MEMBER_STATE uint32_t CryptKeys[3] = {0, 0, 0};
MEMBER_STATE bool EntryEncrypted = false;
MEMBER_STATE uint64_t OutputLeft = ~(uint64_t)0;
MEMBER_STATE bool OutputOverrun = false;

bool EmitOutput(const uint8_t *data, uint32_t count) {
  if (count > OutputLeft) {
    OutputOverrun = true;
    return false;
  }
  if (!WriteOutput(data, count)) return false;
  OutputLeft -= count;
  UpdateCrcBuffer(data, (int32_t)count, EntryCrc);
  return true;
}

// Whole blocks only reach the output: a block the archive cannot fill is not
// written, since what stands behind a short read is no part of the member.
DecodeResult CopyStored() {
  if (CompressedLeft <= 0) return DecodeResult::Done;  // empty, or encrypted and shorter than its header
  uint32_t size = CompressedLeft < StoredBlockSize ? (uint32_t)CompressedLeft : StoredBlockSize;
  uint8_t *buffer = (uint8_t *)AllocateMemory(size);
  DecodeResult result = DecodeResult::Done;
  while (CompressedLeft > 0 && result == DecodeResult::Done) {
    uint32_t n = CompressedLeft < StoredBlockSize ? (uint32_t)CompressedLeft : StoredBlockSize;
    uint32_t got = 0, step = 1;
    while (got < n && step) got += step = ReadArchive(buffer + got, n - got);
    if (got < n) {
      result = DecodeResult::ArchiveEnded;
      break;
    }
    CompressedLeft -= n;
    DecryptData(buffer, n);
    if (!EmitOutput(buffer, n)) result = DecodeResult::OutputRefused;
  }
  ReleaseMemory(buffer);
  return result;
}
